// The job's option state: defaults, the dispatcher with its parsers and texts, the generic
// library options with the compatibility table, option strings, and the application of the
// encoder's input and output records, checked against the real libraries.
#include "OptionsTestSupport.h"

#include "engine/FFmpegException.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <stdexcept>

using namespace cw;
using cw::test::EncoderWithOptions;
using cw::test::OptionsTest;
using cw::test::PrivateOption;

namespace {

TEST_F(OptionsTest, DefaultsAndIgnoredValues) {
    EXPECT_EQ(Job->AudioSampleRate, 44100);
    EXPECT_EQ(Job->AudioChannels, 2);
    EXPECT_EQ(Job->AudioVolume, 256);
    EXPECT_EQ(Job->FrameRate.num, 25);
    EXPECT_EQ(Job->FrameRate.den, 0);
    EXPECT_EQ(Job->RecordingTime, INT64_MAX);
    EXPECT_EQ(Job->MaxVideoFrames, INT_MAX);
    EXPECT_FLOAT_EQ(Job->AudioQScale, -99999.0f);
    EXPECT_EQ(Job->Verbose, 1);
    EXPECT_EQ(Job->TopFieldFirst, -1);
    EXPECT_EQ(Job->IntraDcPrecision, 8);
    EXPECT_DOUBLE_EQ(Job->MuxPreload, 0.5);
    EXPECT_EQ(Job->SwsFlags(), 4);

    Job->SetOption("ar", "0");
    Job->SetOption("ac", "-1");
    Job->SetOption("vol", "-5");
    EXPECT_EQ(Job->AudioSampleRate, 44100);
    EXPECT_EQ(Job->AudioChannels, 2);
    EXPECT_EQ(Job->AudioVolume, 256);
    Job->SetOption("an", "");
    EXPECT_TRUE(Job->AudioDisable);
    Job->SetOption("an", "0");
    EXPECT_FALSE(Job->AudioDisable);
    EXPECT_THROW(Job->SetOption("ar", "fast"), std::invalid_argument);

    Job->SetOption("h", "x");
    EXPECT_TRUE(Logged(llInfo, "Do nothing: option - h"));
    Job->SetOption("timelimit", "10");
    EXPECT_TRUE(Logged(llWarning, "Warning: -timelimit not implemented on Windows"));

    // Everything set comes back to its default.
    Job->SetOption("vcodec", "copy");
    Job->SetOption("metadata", "title=x");
    Job->SetOption("map", "0.1");
    Job->SetGenericOption("g", "7");
    Job->ResetOptions();
    EXPECT_FALSE(Job->VideoStreamCopy);
    EXPECT_EQ(Job->MetadataTags, nullptr);
    EXPECT_TRUE(Job->StreamMaps.empty());
    EXPECT_TRUE(Job->GenericOptions().Recorded().empty());
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_VIDEO, "g"), 12);
}

TEST_F(OptionsTest, BitRates) {
    Job->SetOption("b", "64");
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_VIDEO, "b"), 64);
    const std::string warning =
        "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
    EXPECT_TRUE(Logged(llWarning, warning));
    Lines.clear();
    Job->SetOption("vb", "1500000");
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_VIDEO, "b"), 1500000);
    Job->SetOption("ab", "128000");
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_AUDIO, "b"), 128000);
    EXPECT_FALSE(Logged(llWarning, warning));
    // "vb" reaches "b" of the video template, and is recorded under that name.
    EXPECT_TRUE(Job->GenericOptions().IsRecorded("b"));
    EXPECT_FALSE(Job->GenericOptions().IsRecorded("vb"));
    EXPECT_EQ(OptionError("ab", "lots"), "Invalid value \"lots\" for option \"ab\"");
}

TEST_F(OptionsTest, PicturesAndFormats) {
    Job->SetOption("r", "30000/1001");
    EXPECT_EQ(Job->FrameRate.num, 30000);
    EXPECT_EQ(Job->FrameRate.den, 1001);
    Job->SetOption("r", "pal");
    EXPECT_EQ(Job->FrameRate.num, 25);
    EXPECT_EQ(Job->FrameRate.den, 1);
    Job->SetOption("r", "");
    EXPECT_EQ(OptionError("r", "fast"), "Incorrect frame rate");
    Job->SetOption("s", "vga");
    EXPECT_EQ(Job->FrameWidth, 640);
    EXPECT_EQ(Job->FrameHeight, 480);
    EXPECT_EQ(OptionError("s", "10x"), "Incorrect frame size");
    Job->SetOption("aspect", "4:3");
    EXPECT_FLOAT_EQ(Job->FrameAspectRatio, 4.0f / 3.0f);
    EXPECT_EQ(OptionError("aspect", "4:0"), "Incorrect aspect ratio specification.");

    Job->SetOption("pix_fmt", "yuv422p");
    EXPECT_EQ(Job->FramePixFmt, AV_PIX_FMT_YUV422P);
    EXPECT_EQ(OptionError("pix_fmt", "yuv999"), "Unknown pixel format requested: yuv999");
    Job->SetOption("pix_fmt", "list");
    EXPECT_TRUE(LoggedContaining("yuv420p"));
    Job->SetOption("sample_fmt", "s16");
    EXPECT_EQ(Job->AudioSampleFmt, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(OptionError("sample_fmt", "s17"), "Invalid sample format \"s17\"");
    Lines.clear();
    Job->SetOption("sample_fmt", "list");
    EXPECT_TRUE(LoggedContaining("fltp"));

    EXPECT_EQ(OptionError("qscale", "0"), "qscale must be > 0.0 and <= 255");
    EXPECT_EQ(OptionError("qscale", "255.5"), "qscale must be > 0.0 and <= 255");
    Job->SetOption("qscale", "2.5");
    EXPECT_FLOAT_EQ(Job->VideoQScale, 2.5f);
    EXPECT_EQ(OptionError("pass", "3"), "pass number can be only 1 or 2");
    Job->SetOption("pass", "2");
    EXPECT_EQ(Job->DoPass, 2);

    Job->SetOption("vtag", "XVID");
    EXPECT_EQ(Job->VideoCodecTag, 0x44495658u);
    Job->SetOption("vtag", "123");
    EXPECT_EQ(Job->VideoCodecTag, 123u);
    Job->SetOption("vtag", "");
    EXPECT_EQ(Job->VideoCodecTag, 123u);
    EXPECT_EQ(OptionError("atag", "MP3"), "tag parameter must be 4 chars or int value");

    std::string matrix;
    for (int i = 0; i < 63; ++i)
        matrix += "16,";
    EXPECT_NE(OptionError("intra_matrix", matrix.substr(0, matrix.size() - 1)).find("at coeff 62"),
              std::string::npos);
    EXPECT_FALSE(Job->IntraMatrix.has_value());
    Job->SetOption("inter_matrix", matrix + "17");
    ASSERT_TRUE(Job->InterMatrix.has_value());
    EXPECT_EQ((*Job->InterMatrix)[63], 17);
}

TEST_F(OptionsTest, RemovedAndUnknownOptions) {
    Job->StrictOptions = false;
    for (const char* crop : {"croptop", "cropbottom", "cropleft", "cropright"})
        EXPECT_EQ(OptionError(crop, "8"), "Removed, use the crop filter instead");
    EXPECT_EQ(OptionError("padcolor", "000000"), "Removed, use the pad filter instead");

    // Not strict: ignored, with the text and the library line left behind.
    EXPECT_EQ(OptionError("frobnicate", "1"), "");
    EXPECT_EQ(Job->LastOptionError(), "Unrecognized option \"frobnicate\"");
    EXPECT_TRUE(LoggedContaining("Unrecognized option \"frobnicate\""));
    // Each job keeps its own text (jobs set their options on their own threads at once).
    test::TRecordingJob other;
    EXPECT_FALSE(other.SetGenericOption("unheard_of", "1"));
    EXPECT_EQ(other.LastOptionError(), "Unrecognized option \"unheard_of\"");
    EXPECT_EQ(Job->LastOptionError(), "Unrecognized option \"frobnicate\"");
    EXPECT_FALSE(Job->GenericOptions().IsRecorded("frobnicate"));
    Job->StrictOptions = true;
    EXPECT_EQ(OptionError("frobnicate", "1"), "Unrecognized option \"frobnicate\"");
    EXPECT_EQ(OptionError("g", "many"), "Invalid value \"many\" for option \"g\"");
    // The option names are compared exactly.
    EXPECT_EQ(OptionError("AR", "8000"), "Unrecognized option \"AR\"");
    EXPECT_FALSE(Job->SetGenericOption(" ", "1"));
}

TEST_F(OptionsTest, TimesTagsAndMaps) {
    Job->SetOption("ss", "1:02.5");
    EXPECT_EQ(Job->StartTime, 62500000);
    Job->SetOption("t", "10");
    EXPECT_EQ(Job->RecordingTime, 10000000);
    EXPECT_EQ(Job->TotalDuration, 10000000);
    Job->SetOption("itsoffset", "-2");
    EXPECT_EQ(Job->InputTsOffset, -2000000);
    EXPECT_EQ(OptionError("ss", "soon"), "Invalid duration specification for ss: soon");
    Job->SetOption("timestamp", "2000-01-01T00:00:01Z");
    EXPECT_EQ(Job->RecordingTimestamp, 946684801);
    EXPECT_EQ(OptionError("timestamp", "yesterday"),
              "Invalid date specification for timestamp: yesterday");
    Job->SetOption("fs", "5000000000");
    EXPECT_EQ(Job->LimitFileSize, 5000000000LL);

    Job->SetOption("metadata", "title=A=B");
    ASSERT_NE(Job->MetadataTags, nullptr);
    EXPECT_STREQ(ff::av_dict_get(Job->MetadataTags.get(), "title", nullptr, 0)->value, "A=B");
    EXPECT_EQ(OptionError("metadata", "title"), "Missing =");
    EXPECT_EQ(OptionError("metadata", "=x"), "wrong parameter of metadata");

    Job->SetOption("streamid", "2:256");
    EXPECT_EQ(Job->StreamIdMap, (std::vector<int>{0, 0, 256}));
    EXPECT_EQ(OptionError("streamid", "256"),
              "Invalid value \"256\" for option \"streamid\", required syntax is "
              "\"index:value\"");

    // The scales belong to the input that is opened next.
    Job->SetOption("itsscale", "1:0.5");
    ASSERT_EQ(Job->InputTsScales.size(), 1u);
    EXPECT_EQ(Job->InputTsScales[0], (std::vector<double>{0.0, 0.5}));
    EXPECT_EQ(OptionError("itsscale", "20:0.5"), "stream index over MAX_STREAMS(20)");
    Job->OpenInputWithOptions("first.wav", nullptr);
    Job->SetOption("itsscale", "0:2");
    ASSERT_EQ(Job->InputTsScales.size(), 2u);
    EXPECT_EQ(Job->InputTsScales[1], (std::vector<double>{2.0}));

    Job->SetOption("map", "0.1:0.0");
    Job->SetOption("map_chapters", "0:1");
    EXPECT_EQ(Job->StreamMaps.size(), 1u);
    EXPECT_EQ(Job->ChapterMaps.size(), 1u);
    Job->SetOption("map_meta_data", "0,s0:0,p1");
    EXPECT_TRUE(Job->MetadataGlobalAutoCopy);
    EXPECT_FALSE(Job->MetadataStreamsAutoCopy);
    Job->SetOption("map_meta_data", "0:0");
    EXPECT_FALSE(Job->MetadataGlobalAutoCopy);
    EXPECT_TRUE(Job->MetadataChaptersAutoCopy);
    EXPECT_EQ(OptionError("map_meta_data", "0,q:0"), "Invalid metadata type q.");
}

TEST_F(OptionsTest, CodecsFiltersHooksAndStreams) {
    Job->SetOption("vcodec", "libx264");
    Job->SetOption("vcodec", "");
    EXPECT_EQ(Job->VideoCodecName, "libx264");
    Job->SetOption("acodec", "copy");
    EXPECT_TRUE(Job->AudioStreamCopy);
    EXPECT_EQ(Job->AudioCodecName, "");

    Job->SetOption("vbsf", "h264_mp4toannexb");
    Job->SetOption("absf", "=ignored");
    Job->SetOption("sbsf", "");
    Job->SetOption("absf", "noise=amount=2");
    ASSERT_EQ(Job->VideoBitstreamFilters.size(), 1u);
    EXPECT_EQ(Job->VideoBitstreamFilters[0].Name, "h264_mp4toannexb");
    ASSERT_EQ(Job->AudioBitstreamFilters.size(), 1u);
    EXPECT_EQ(Job->AudioBitstreamFilters[0].Name, "noise");
    EXPECT_EQ(Job->AudioBitstreamFilters[0].Arguments, "amount=2");
    EXPECT_NE(Job->AudioBitstreamFilters[0].Filter, nullptr);
    EXPECT_TRUE(Job->SubtitleBitstreamFilters.empty());
    EXPECT_EQ(OptionError("sbsf", " nosuchfilter "), "Unknown bitstream filter nosuchfilter");

    EXPECT_EQ(OptionError("vhook", "/nonexistent/hook.so|-x"),
              "Failed to add video hook function: /nonexistent/hook.so|-x");
    EXPECT_FALSE(Job->UsingVhook);
    const std::string hook = CW_HOOK_FULL;
    EXPECT_EQ(OptionError("vhook", hook + " refuse"),
              "Failed to add video hook function: " + hook + " refuse");
    Job->SetOption("vhook", hook + "|5");
    EXPECT_TRUE(Job->UsingVhook);
    EXPECT_EQ(Job->FrameHooks.Count(), 1u);

    EXPECT_EQ(OptionError("newaudio", ""), "At least one output file must be specified");
    ASSERT_EQ(Job->OpenOutputWithOptions("out.mkv", nullptr), 1);
    Job->SetOption("acodec", "mp2");
    Job->SetOption("newaudio", "");
    ASSERT_EQ(Job->Streams.size(), 1u);
    EXPECT_EQ(Job->Streams[0].StreamType, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(Job->Streams[0].State.AudioCodecName, "mp2");

    Job->SetOption("vstats", "1");
    std::string folder =
        std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/vstats_";
    ASSERT_EQ(Job->VStatsFileName.size(), folder.size() + 10);
    EXPECT_EQ(Job->VStatsFileName.substr(0, folder.size()), folder);
    EXPECT_EQ(Job->VStatsFileName.substr(folder.size() + 6), ".log");
    Job->SetOption("vstats", "0");
    EXPECT_EQ(Job->VStatsFileName, "");

    Job->SetOption("loglevel", "error");
    EXPECT_EQ(Logger->LogLevel(), llError);
    // Asking the libraries for debug output makes the logger pass it on.
    Job->SetOption("fdebug", "ts");
    EXPECT_EQ(Logger->LogLevel(), llDebug);
}

TEST_F(OptionsTest, GenericOptionsReachTheirContexts) {
    Job->SetOption("g", "77");
    Job->SetOption("crf", "21.5");
    Job->SetOption("abt", "3000");
    Job->SetOption("muxrate", "10080000");
    Job->SetOption("packetsize", "2048");
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_AUDIO, "bt"), 3000);

    const auto& recorded = Job->GenericOptions().Recorded();
    ASSERT_EQ(recorded.size(), 5u);
    EXPECT_EQ(recorded[1], (TOptionPair{"crf", "21.5"})); // private option of some codec
    EXPECT_EQ(recorded[2], (TOptionPair{"bt", ""}));      // held by the audio template

    auto video = EncoderWithOptions(*Job, "libx264");
    EXPECT_EQ(video->gop_size, 77);
    EXPECT_EQ(PrivateOption(video.get(), "crf"), "21.500000");
    auto audio = EncoderWithOptions(*Job, "mp2");
    EXPECT_NE(audio->gop_size, 77); // "g" is a video option

    // A container gets the container options and its muxer's private ones.
    AVFormatContext* dvd = nullptr;
    ASSERT_GE(ff::avformat_alloc_output_context2(&dvd, nullptr, "dvd", "x.vob"), 0);
    TOutputContextPtr dvdOwner(dvd);
    Job->ApplyGenericOptions(dvd, Job->FormatTemplate(), nullptr, OptionMaskOutputContainer);
    EXPECT_EQ(dvd->packet_size, 2048u);
    int64_t muxrate = 0;
    ff::av_opt_get_int(dvd, "muxrate", AV_OPT_SEARCH_CHILDREN, &muxrate);
    EXPECT_EQ(muxrate, 10080000);
}

TEST_F(OptionsTest, LegacyOptionNamesAreTranslated) {
    Job->SetOption("deblockalpha", "1");
    Job->SetOption("deblockbeta", "-2");
    Job->SetOption("directpred", "3");
    Job->SetOption("flags2", "+dct8x8-wpred+mixed_refs+bpyramid+fast");
    Job->SetOption("partitions", "+parti4x4-parti8x8+partp8x8");
    Job->SetOption("cqp", "5");
    Job->SetOption("flags", "+loop+scan_offset");

    auto x264 = EncoderWithOptions(*Job, "libx264");
    EXPECT_EQ(PrivateOption(x264.get(), "deblock"), "1:-2");
    EXPECT_EQ(PrivateOption(x264.get(), "direct-pred"), "3");
    EXPECT_EQ(PrivateOption(x264.get(), "8x8dct"), "true");
    EXPECT_EQ(PrivateOption(x264.get(), "weightb"), "false");
    EXPECT_EQ(PrivateOption(x264.get(), "mixed-refs"), "true");
    EXPECT_EQ(PrivateOption(x264.get(), "b-pyramid"), "2");
    EXPECT_EQ(PrivateOption(x264.get(), "partitions"), "i4x4,p8x8");
    EXPECT_EQ(PrivateOption(x264.get(), "qp"), "5");
    EXPECT_TRUE(x264->flags2 & AV_CODEC_FLAG2_FAST);
    EXPECT_TRUE(x264->flags & AV_CODEC_FLAG_LOOP_FILTER);
    auto mpeg2 = EncoderWithOptions(*Job, "mpeg2video");
    EXPECT_EQ(PrivateOption(mpeg2.get(), "scan_offset"), "true");

    // A word unknown in every form is still refused, with the text of today's option.
    EXPECT_EQ(OptionError("flags2", "+dct8x8+nonsense"),
              "Invalid value \"+nonsense\" for option \"flags2\"");
    EXPECT_EQ(OptionError("deblockgamma", "1"), "Unrecognized option \"deblockgamma\"");
}

TEST_F(OptionsTest, CompatibilityTableNamesInstalledOptions) {
    // Every current form the table produces is known to the installed libraries, and every
    // old flag word is really gone from today's flag constants.
    auto known = [&](const std::string& name, const std::string& value) {
        return Job->SetGenericOption(name, value);
    };
    for (const TRenamedOption& row : RenamedOptions())
        EXPECT_TRUE(known(row.NewName, "1")) << row.NewName;
    for (const TFlagWord& row : LegacyFlagWords()) {
        EXPECT_TRUE(known(row.NewName, row.SetValue)) << row.NewName;
        EXPECT_TRUE(known(row.NewName, row.ClearValue)) << row.NewName;
        EXPECT_EQ(
            ff::av_opt_find(Job->CodecTemplate(AVMEDIA_TYPE_VIDEO), row.Word, row.Option, 0, 0),
            nullptr)
            << row.Word;
    }
    for (const TLegacyEncoderDefault& row : LegacyEncoderDefaults()) {
        auto context = EncoderWithOptions(*Job, row.Encoder);
        ASSERT_NE(context, nullptr);
        EXPECT_NE(PrivateOption(context.get(), row.Option), "<none>") << row.Option;
    }
    for (const TEncoderStandIn& row : EncoderStandIns())
        EXPECT_NE(ff::avcodec_find_encoder_by_name(row.StandIn), nullptr) << row.StandIn;
    EXPECT_EQ(InstalledEncoderName("libfaac"), "aac");
    EXPECT_EQ(InstalledEncoderName("libmp3lame"), "libmp3lame");
    EXPECT_EQ(InstalledEncoderName("nosuchcodec"), "nosuchcodec");
    EXPECT_TRUE(Logged(llInfo, "Encoder \"libfaac\" is not installed, using \"aac\" instead"));

    const AVOutputFormat* threeGp = ff::av_guess_format("3gp", nullptr, nullptr);
    ASSERT_NE(threeGp, nullptr);
    EXPECT_EQ(InstalledDefaultCodec(threeGp, AVMEDIA_TYPE_AUDIO, threeGp->audio_codec),
              AV_CODEC_ID_AAC);
    EXPECT_EQ(InstalledDefaultCodec(threeGp, AVMEDIA_TYPE_VIDEO, threeGp->video_codec),
              threeGp->video_codec);
}

TEST_F(OptionsTest, OptionStrings) {
    Job->ApplyOptionString("flags=+loop<CRLF>CRF=24<CRLF><CRLF>Rc_Override=A/B", false);
    EXPECT_TRUE(Job->GenericOptions().IsRecorded("flags"));
    EXPECT_EQ(Job->GenericOptions().Recorded().back(), (TOptionPair{"crf", "24"}));
    EXPECT_EQ(Job->VideoRcOverride, "A/B");

    const std::string codecs = "vcodec=mpeg4\r\ns=vga\r\nvpre=nosuchpreset\r\nnewvideo=1\r\nvf=x";
    Job->ApplyOptionString(codecs, false);
    EXPECT_EQ(Job->VideoCodecName, "");
    EXPECT_EQ(Job->FrameWidth, 0);
    Job->ApplyOptionString(codecs, true);
    EXPECT_EQ(Job->VideoCodecName, "mpeg4");
    EXPECT_EQ(Job->FrameWidth, 640);
    EXPECT_EQ(Job->VideoFilters, "");

    // An error stops the string; what came before it stays set.
    EXPECT_THROW(Job->ApplyOptionString("ar=22050\nbogus=1\nac=1", false), FFmpegException);
    EXPECT_EQ(Job->AudioSampleRate, 22050);
    EXPECT_EQ(Job->AudioChannels, 2);
}

TEST_F(OptionsTest, InputRecord) {
    TInputOptions input;
    input.ExtOptions = "acodec=mp3<CRLF>itsoffset=1";
    input.FileFormat = "wav";
    input.StartTime = 3000000;
    input.ProgramID = 2;
    ASSERT_TRUE(Job->OpenInputWithOptions("in.wav", &input));
    ASSERT_EQ(Job->Inputs.size(), 1u);
    const TTranscoderOptionValues& seen = Job->Inputs[0].State;
    EXPECT_EQ(Job->Inputs[0].FileName, "in.wav");
    EXPECT_EQ(seen.AudioCodecName, "mp3");
    EXPECT_EQ(seen.InputTsOffset, 1000000);
    EXPECT_EQ(seen.FileFormat, "wav");
    EXPECT_EQ(seen.StartTime, 3000000);
    EXPECT_EQ(seen.ProgramID, 2);
    // Opening consumed them.
    EXPECT_EQ(Job->ProgramID, 0);
    EXPECT_EQ(Job->StartTime, 0);

    TInputOptions plain;
    ASSERT_TRUE(Job->OpenInputWithOptions("second.wav", &plain));
    EXPECT_EQ(Job->Inputs[1].State.ProgramID, 0);
    EXPECT_EQ(Job->Inputs[1].State.FileFormat, "");
}

TEST_F(OptionsTest, OutputRecordFieldsInTheirOrder) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    TOutputOptions output;
    output.VideoCodec = "libx264";
    output.AudioCodec = "libmp3lame";
    output.VideoPreset = "libx264-main";
    output.FrameSize = "320x240";
    output.FrameRate = "30000/1001";
    output.FrameAspectRatio = "16:9";
    output.VideoTag = "XVID";
    output.VideoBitrate = 900000;
    output.AudioBitrate = 128000;
    output.AudioSampleRate = 44100;
    output.AudioChannels = 1;
    output.GOPSize = 48;
    output.AudioLanguage = "eng";
    output.MuxPreload = 0.25f;
    output.RecordingTime = 5000000;
    output.Metadata.Timestamp = 36526.5; // 1 January 2000, noon
    output.Metadata.Year = 2001;
    output.Metadata.Title = "Clip";
    // The record's fields win over the option string; the string's codec lines wait for the
    // further streams.
    output.ExtOptions = "vcodec=mpeg4<CRLF>ar=22050<CRLF>s=vga<CRLF>acodec=mp2<CRLF>"
                        "newaudio=1<CRLF>ac=2";
    ASSERT_EQ(Job->OpenOutputWithOptions("out.mp4", &output), 1);
    ::unsetenv("TZ");
    ::tzset();

    ASSERT_EQ(Job->Outputs.size(), 1u);
    const TTranscoderOptionValues& seen = Job->Outputs[0].State;
    EXPECT_EQ(seen.VideoCodecName, "libx264");
    EXPECT_EQ(seen.AudioCodecName, "libmp3lame");
    EXPECT_EQ(seen.FrameWidth, 320);
    EXPECT_EQ(seen.FrameHeight, 240);
    EXPECT_EQ(seen.FrameRate.num, 30000);
    EXPECT_FLOAT_EQ(seen.FrameAspectRatio, 16.0f / 9.0f);
    EXPECT_EQ(seen.VideoCodecTag, 0x44495658u);
    EXPECT_EQ(seen.AudioSampleRate, 44100);
    EXPECT_EQ(seen.AudioChannels, 1);
    EXPECT_EQ(seen.AudioLanguage, "eng");
    EXPECT_DOUBLE_EQ(seen.MuxPreload, 0.25);
    EXPECT_EQ(seen.RecordingTime, 5000000);
    EXPECT_EQ(Job->TotalDuration, 5000000);
    EXPECT_EQ(seen.RecordingTimestamp, 946728000);
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_VIDEO, "b"), 900000);
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_AUDIO, "b"), 128000);
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_VIDEO, "g"), 48);
    EXPECT_TRUE(Job->GenericOptions().IsRecorded("8x8dct")); // from libx264-main
    EXPECT_EQ(Job->Outputs[0].Join, false);

    // The tags went to this output (and were consumed by it).
    EXPECT_EQ(Job->MetadataTags, nullptr);

    // The further audio stream takes the string's audio codec.
    ASSERT_EQ(Job->Streams.size(), 1u);
    EXPECT_EQ(Job->Streams[0].StreamType, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(Job->Streams[0].State.AudioCodecName, "mp2");
    EXPECT_EQ(Job->JoinSetups, 0);
}

TEST_F(OptionsTest, OutputRecordTagsAndJoin) {
    TOutputOptions output;
    output.Join = true;
    output.Metadata.Title = "T";
    output.Metadata.Track = 3;
    output.Metadata.Genre = "G";
    // Tags the output would carry: catch them before OpenOutput consumes them.
    struct TTagJob : test::TRecordingJob {
        std::vector<std::string> Tags;
        int OpenOutput(const std::string& name, bool join) override {
            const AVDictionaryEntry* tag = nullptr;
            while ((tag = ff::av_dict_get(MetadataTags.get(), "", tag, AV_DICT_IGNORE_SUFFIX)))
                Tags.push_back(std::string(tag->key) + "=" + tag->value);
            return TRecordingJob::OpenOutput(name, join);
        }
    } job;
    job.OpenInputWithOptions("a.wav", nullptr);
    job.OpenInputWithOptions("b.wav", nullptr);
    ASSERT_EQ(job.OpenOutputWithOptions("joined.mp4", &output), 1);
    EXPECT_EQ(job.Tags, (std::vector<std::string>{"track=3", "title=T", "genre=G"}));
    EXPECT_TRUE(job.Outputs[0].Join);
    EXPECT_EQ(job.JoinSetups, 1);

    // A failed open stops the record there.
    TOutputOptions more;
    more.ExtOptions = "newvideo=1";
    job.FailOutput = true;
    EXPECT_EQ(job.OpenOutputWithOptions("second.mp4", &more), -1);
    EXPECT_TRUE(job.Streams.empty());
}

TEST_F(OptionsTest, DvdRecordKeepsItsOwnAudioCodecRate) {
    // MPEG presets 2 and 3: a DVD profile with mp2 audio at 224000 bit/s. The profile's
    // 448000 bit/s is meant for its own ac3 and is no rate of mp2.
    TOutputOptions output;
    output.TargetType = ttDVD;
    output.TargetNorm = tnNTSC;
    output.AudioCodec = "mp2";
    output.AudioBitrate = 224000;
    output.AudioSampleRate = 48000;
    output.VideoBitrate = 4000000;
    output.FrameRate = "30000/1001";
    ASSERT_EQ(Job->OpenOutputWithOptions("disc.mpg", &output), 1);
    const TTranscoderOptionValues& seen = Job->Outputs[0].State;
    EXPECT_EQ(seen.AudioCodecName, "mp2");
    EXPECT_EQ(seen.VideoCodecName, "mpeg2video");
    EXPECT_EQ(seen.FrameWidth, 720);
    EXPECT_EQ(seen.FrameHeight, 480);
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_AUDIO, "b"), 224000);
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_VIDEO, "g"), 18);

    auto mp2 = EncoderWithOptions(*Job, "mp2");
    mp2->sample_rate = 48000;
    EXPECT_EQ(mp2->bit_rate, 224000);
    EXPECT_GE(ff::avcodec_open2(mp2.get(), mp2->codec, nullptr), 0);

    // With the profile's own codec the profile's rate stays.
    auto ac3Job = std::make_unique<test::TRecordingJob>();
    output.AudioCodec = "ac3";
    ASSERT_EQ(ac3Job->OpenOutputWithOptions("disc.mpg", &output), 1);
    int64_t rate = 0;
    ff::av_opt_get_int(ac3Job->CodecTemplate(AVMEDIA_TYPE_AUDIO), "b", 0, &rate);
    EXPECT_EQ(rate, 448000);
}

TEST_F(OptionsTest, DiscPresetsEncodeAtTheirOwnVideoRate) {
    // The MPEG presets with a disc profile: the rate a preset is named for holds over the
    // profile's default, and the encoder opens with the profile's limits around it. The last
    // row asks more than the DVD profile's maximum, which then makes room.
    const struct {
        int32_t Type, Norm, Rate;
        const char* FrameRate;
        const char* Codec;
        int64_t MaxRate;
    } rows[] = {
        {ttDVD, tnNTSC, 4000000, "30000/1001", "mpeg2video", 9000000},
        {ttDVD, tnPAL, 4000000, "25", "mpeg2video", 9000000},
        {ttSVCD, tnNTSC, 2376000, "30000/1001", "mpeg2video", 2516000},
        {ttSVCD, tnPAL, 2376000, "25", "mpeg2video", 2516000},
        {ttVCD, tnNTSC, 1150000, "30000/1001", "mpeg1video", 1150000},
        {ttVCD, tnPAL, 1150000, "25", "mpeg1video", 1150000},
        {ttDVD, tnPAL, 12000000, "25", "mpeg2video", 12000000},
    };
    for (const auto& row : rows) {
        auto job = std::make_unique<test::TRecordingJob>();
        TOutputOptions output;
        output.TargetType = row.Type;
        output.TargetNorm = row.Norm;
        output.VideoBitrate = row.Rate;
        output.FrameRate = row.FrameRate;
        output.AudioCodec = "mp2";
        output.FrameAspectRatio = "4:3";
        ASSERT_EQ(job->OpenOutputWithOptions("disc.mpg", &output), 1);
        const std::string name = std::string(row.Codec) + " " + std::to_string(row.Rate);
        EXPECT_EQ(job->Outputs[0].State.VideoCodecName, row.Codec) << name;
        auto encoder = EncoderWithOptions(*job, row.Codec);
        ASSERT_NE(encoder, nullptr);
        EXPECT_EQ(encoder->bit_rate, row.Rate) << name;
        EXPECT_EQ(encoder->rc_max_rate, row.MaxRate) << name;
        encoder->width = job->Outputs[0].State.FrameWidth;
        encoder->height = job->Outputs[0].State.FrameHeight;
        encoder->time_base = row.Norm == tnPAL ? AVRational{1, 25} : AVRational{1001, 30000};
        EXPECT_GE(ff::avcodec_open2(encoder.get(), encoder->codec, nullptr), 0) << name;
    }
}

} // namespace
