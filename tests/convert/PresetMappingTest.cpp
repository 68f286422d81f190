#include "convert/PresetMapping.h"
#include "convert/Catalogue.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <ostream>
#include <regex>

using namespace cw;
using cw::test::TTempDir;

namespace cw {
// Readable failure messages for whole-record comparisons: the fields the mapping sets.
void PrintTo(const TOutputOptions& o, std::ostream* os) {
    *os << "{file=" << o.FileName << " f=" << o.FileFormat << " vn=" << o.DisableVideo
        << " vcodec=" << o.VideoCodec << " vtag=" << o.VideoTag << " vpre=" << o.VideoPreset
        << " s=" << o.FrameSize << " r=" << o.FrameRate << " aspect=" << o.FrameAspectRatio
        << " vb=" << o.VideoBitrate << " min=" << o.VideoMinRate << " max=" << o.VideoMaxRate
        << " buf=" << o.VideoBufSize << " acodec=" << o.AudioCodec << " ac=" << o.AudioChannels
        << " ar=" << o.AudioSampleRate << " ab=" << o.AudioBitrate << " target=" << o.TargetType
        << "/" << o.TargetNorm << " join=" << o.Join << " ext=" << o.ExtOptions.size() << " bytes}";
}
} // namespace cw

namespace {

TOutputSelection Sel(const char* format, int preset) {
    const TOutputFormat* f = FindFormatByName(format);
    return f ? TOutputSelection{f->Class, f->Index, preset} : TOutputSelection{};
}

TOutputOptions Map(const char* format, int preset, TMappingMode mode = mmPerFile,
                   int32_t sourceAudioBitrate = 0) {
    TOutputOptions o;
    ApplyPresetOptions(o, Sel(format, preset), mode, sourceAudioBitrate);
    return o;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t p; (p = text.find("\r\n", start)) != std::string::npos; start = p + 2)
        lines.push_back(text.substr(start, p - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

} // namespace

TEST(EncoderOptions, InitialisingRestoresTheDefaults) {
    TOutputOptions o;
    o.AudioBitrate = 5;
    o.Metadata.Title = "x";
    o.Join = true;
    InitOutputOptions(o);
    EXPECT_EQ(o, TOutputOptions{});
    EXPECT_EQ(o.StartTime, INT64_MIN);
    EXPECT_EQ(o.RecordingTime, INT64_MIN);
    EXPECT_EQ(o.MuxDelay, -1.0f);
    EXPECT_EQ(o.AudioSync, 0);
    EXPECT_EQ(o.VideoSync, -1);
    EXPECT_EQ(o.TargetDefaultNorm, 1);
    EXPECT_EQ(o.HookBitsPixel, 24);
    EXPECT_EQ(o.Metadata.Timestamp, -1.0);
    EXPECT_EQ(o.Metadata.Year, -1);

    TInputOptions i;
    i.ProgramID = 3;
    InitInputOptions(i);
    EXPECT_EQ(i.ProgramID, -1);
    EXPECT_EQ(i.StartTime, INT64_MIN);
}

TEST(PresetMapping, EveryPresetHasARowWithValidValues) {
    const std::regex size("[1-9][0-9]*x[1-9][0-9]*");
    const std::regex rate("[1-9][0-9]*(/[1-9][0-9]*)?");
    const std::regex codec("[a-z0-9_]+(-[a-z0-9]+)?");
    const std::regex option("[a-z_0-9-]+=[^\r\n=]+");
    auto positiveOrUnset = [](int32_t v) { return v == -1 || v > 0; };
    int rows = 0;
    for (const auto& c : OutputClasses())
        for (const auto& f : c.Formats)
            for (int p = 0; p < f.PresetCount(); ++p) {
                SCOPED_TRACE(std::string(f.Name) + " " + std::to_string(p));
                TOutputOptions o;
                ApplyPresetOptions(o, {c.Index, f.Index, p}, mmPerFile, 128000);
                TOutputOptions formatOnly;
                ApplyPresetOptions(formatOnly, {c.Index, f.Index, -1}, mmPerFile, 128000);
                rows += !(o == formatOnly); // the row added something

                EXPECT_EQ(o.DisableVideo, c.Index == ocAudio);
                EXPECT_TRUE(o.VideoCodec.empty() || std::regex_match(o.VideoCodec, codec))
                    << o.VideoCodec;
                EXPECT_TRUE(o.AudioCodec.empty() || std::regex_match(o.AudioCodec, codec))
                    << o.AudioCodec;
                EXPECT_TRUE(o.FrameSize.empty() || std::regex_match(o.FrameSize, size))
                    << o.FrameSize;
                EXPECT_TRUE(o.FrameRate.empty() || std::regex_match(o.FrameRate, rate))
                    << o.FrameRate;
                EXPECT_TRUE(o.FrameAspectRatio.empty() || o.FrameAspectRatio == "16:9" ||
                            o.FrameAspectRatio == "4:3");
                EXPECT_TRUE(o.FileFormat.empty() || o.FileFormat == "psp");
                EXPECT_TRUE(o.VideoTag.empty() || o.VideoTag.size() == 4);
                EXPECT_TRUE(o.VideoPreset.empty() || o.VideoPreset == "libx264-default");
                for (int32_t v : {o.VideoBitrate, o.VideoMinRate, o.VideoMaxRate, o.VideoBufSize,
                                  o.AudioBitrate, o.AudioSampleRate})
                    EXPECT_TRUE(positiveOrUnset(v)) << v;
                EXPECT_EQ(o.VideoMinRate, o.VideoMaxRate);
                EXPECT_TRUE(o.AudioChannels == -1 || o.AudioChannels == 1 || o.AudioChannels == 2);
                EXPECT_TRUE(o.AudioSampleRate == -1 ||
                            (o.AudioSampleRate >= 8000 && o.AudioSampleRate <= 48000));
                EXPECT_TRUE(o.TargetType >= 0 && o.TargetType <= 3);
                EXPECT_EQ(o.TargetType == 0, o.TargetNorm == 0);
                for (const auto& line : Lines(o.ExtOptions))
                    EXPECT_TRUE(std::regex_match(line, option)) << line;
                EXPECT_FALSE(o.Join);
                EXPECT_TRUE(o.FileName.empty());
            }
    EXPECT_EQ(rows, 197);
}

TEST(PresetMapping, TodaysPresetsCodecsQualityAndCopy) {
    // Format, preset, video codec, tag, size, audio codec, channels, rate, bit rate, lines.
    struct TRow {
        const char* Format;
        int Preset;
        const char* VideoCodec;
        const char* Tag;
        const char* Size;
        const char* AudioCodec;
        int32_t Channels, SampleRate, AudioBitrate;
        const char* Lines;
    };
    const TRow rows[] = {
        {"MKV", 0, "copy", "", "", "copy", -1, -1, -1, "scodec=copy"},
        {"MKV", 1, "libx264", "", "", "aac", -1, -1, 192000, "crf=20|preset=medium"},
        {"MKV", 2, "libx265", "", "", "libopus", -1, 48000, 160000, "crf=24|preset=medium"},
        {"MKV", 3, "libx265", "", "", "libopus", -1, 48000, 192000,
         "crf=24|preset=medium|pix_fmt=yuv420p10le"},
        {"MKV", 4, "libsvtav1", "", "", "libopus", -1, 48000, 128000, "crf=32|preset=8"},
        {"WebM", 0, "libvpx-vp9", "", "", "libopus", -1, 48000, 160000, "crf=31|row-mt=1"},
        {"WebM", 1, "libvpx-vp9", "", "1280x720", "libopus", -1, 48000, 128000, "crf=33|row-mt=1"},
        {"WebM", 2, "libsvtav1", "", "", "libopus", -1, 48000, 160000, "crf=30|preset=8"},
        {"WebM", 3, "libsvtav1", "", "854x480", "libopus", -1, 48000, 96000, "crf=38|preset=8"},
        {"MP4", 19, "copy", "", "", "copy", -1, -1, -1, "scodec=copy"},
        {"MP4", 20, "libx265", "hvc1", "", "aac", -1, -1, 160000, "crf=24|preset=medium"},
        {"MP4", 21, "libsvtav1", "", "", "aac", -1, -1, 160000, "crf=32|preset=8"},
        {"Opus", 0, "", "", "", "libopus", 2, 48000, 192000, ""},
        {"Opus", 3, "", "", "", "libopus", 2, 48000, 96000, ""},
        {"Opus", 4, "", "", "", "libopus", 1, 48000, 48000, ""},
    };
    for (const TRow& r : rows) {
        SCOPED_TRACE(std::string(r.Format) + " " + std::to_string(r.Preset));
        const TOutputOptions o = Map(r.Format, r.Preset);
        EXPECT_EQ(o.VideoCodec, r.VideoCodec);
        EXPECT_EQ(o.VideoTag, r.Tag);
        EXPECT_EQ(o.FrameSize, r.Size);
        EXPECT_EQ(o.AudioCodec, r.AudioCodec);
        EXPECT_EQ(o.AudioChannels, r.Channels);
        EXPECT_EQ(o.AudioSampleRate, r.SampleRate);
        EXPECT_EQ(o.AudioBitrate, r.AudioBitrate);
        // Quality by rate factor: no bit rate, no frame rate, the source's size unless given.
        EXPECT_EQ(o.VideoBitrate, -1);
        EXPECT_EQ(o.FrameRate, "");
        std::string lines;
        for (const auto& line : Lines(o.ExtOptions))
            lines += (lines.empty() ? "" : "|") + line;
        EXPECT_EQ(lines, r.Lines);
    }
}

TEST(PresetMapping, VideoRowsSizeKeepingAndFixedSize) {
    TOutputOptions expected;
    expected.VideoCodec = "mpeg4";
    expected.VideoTag = "XVID";
    expected.VideoBitrate = 1500000;
    expected.AudioCodec = "libmp3lame";
    expected.AudioChannels = 2;
    expected.AudioSampleRate = 44100;
    expected.AudioBitrate = 192000;
    EXPECT_EQ(Map("AVI", 3), expected); // keeps the source's size and rate

    TOutputOptions wmv = Map("WMV", 2);
    EXPECT_EQ(wmv.VideoCodec, "wmv2");
    EXPECT_EQ(wmv.FrameSize, "320x240");
    EXPECT_EQ(wmv.FrameRate, "25");
    EXPECT_EQ(wmv.VideoBitrate, 1112000);
    EXPECT_EQ(wmv.AudioCodec, "wmav2");
    EXPECT_EQ(wmv.AudioBitrate, 192000);
    EXPECT_TRUE(wmv.ExtOptions.empty());

    TOutputOptions avi0 = Map("AVI", 0);
    EXPECT_EQ(avi0.FrameSize, "1280x720");
    EXPECT_EQ(avi0.FrameAspectRatio, "16:9");
    EXPECT_EQ(avi0.FrameRate, "");
    EXPECT_EQ(Map("AVI", 1).VideoPreset, "libx264-default");
    EXPECT_EQ(Map("AVI", 11).VideoTag, "FMP4");
    EXPECT_EQ(Map("AVI", 27).VideoTag, "DIVX");
    EXPECT_EQ(Map("AVI", 28).VideoBitrate, -1);
    EXPECT_EQ(Map("FLV", 4).FrameSize, "276x144"); // stands as it is
    EXPECT_EQ(Map("FLV", 4).VideoCodec, "");       // container default
    EXPECT_EQ(Map("3GP", 0).AudioCodec, "");

    TOutputOptions mpeg0 = Map("MPEG", 0);
    EXPECT_EQ(mpeg0.VideoCodec, "mpeg2video");
    EXPECT_EQ(mpeg0.FrameSize, "1920x1080");
    EXPECT_EQ(mpeg0.FrameRate, "30000/1001");
    EXPECT_EQ(mpeg0.VideoBitrate, 15000000);
    EXPECT_EQ(mpeg0.VideoMinRate, 15000000);
    EXPECT_EQ(mpeg0.VideoMaxRate, 15000000);
    EXPECT_EQ(mpeg0.VideoBufSize, 6881000);
    EXPECT_EQ(mpeg0.FrameAspectRatio, "4:3");
}

TEST(PresetMapping, TargetRowsLeaveCodecAndSizeToTheProfile) {
    TOutputOptions o = Map("MPEG", 3);
    EXPECT_EQ(o.TargetType, ttDVD);
    EXPECT_EQ(o.TargetNorm, tnPAL);
    EXPECT_EQ(o.VideoBitrate, 4000000);
    EXPECT_EQ(o.FrameAspectRatio, "4:3");
    EXPECT_EQ(o.FrameRate, "25");
    EXPECT_EQ(o.AudioCodec, "mp2");
    EXPECT_EQ(o.AudioSampleRate, 48000);
    EXPECT_EQ(o.AudioBitrate, 224000);
    EXPECT_EQ(o.VideoCodec, "");
    EXPECT_EQ(o.FrameSize, "");
    EXPECT_EQ(o.VideoMinRate, -1);

    EXPECT_EQ(Map("MPEG", 10).TargetType, ttSVCD);
    EXPECT_EQ(Map("MPEG", 10).TargetNorm, tnNTSC);
    EXPECT_EQ(Map("MPEG", 13).TargetType, ttVCD);
    EXPECT_EQ(Map("MPEG", 13).TargetNorm, tnPAL);
}

TEST(PresetMapping, X264BlocksAndThePspMuxer) {
    // The two blocks line for line as the mapping table writes them: block A with a line
    // break after each of its 18 lines, block B's 23 lines without one after the last.
    EXPECT_STREQ(X264DeviceOptions,
                 "flags=+loop\r\ncmp=+chroma\r\ndeblockalpha=0\r\ndeblockbeta=0\r\ncrf=24\r\n"
                 "refs=1\r\ncoder=0\r\nme_range=16\r\nsubq=5\r\n"
                 "partitions=+parti4x4+parti8x8+partp8x8\r\ng=250\r\nkeyint_min=25\r\n"
                 "level=30\r\nqmin=10\r\nqmax=51\r\ntrellis=2\r\nsc_threshold=40\r\n"
                 "i_qfactor=0.71\r\n");
    EXPECT_EQ(Lines(X264DeviceOptions).size(), 18u);
    EXPECT_STREQ(X264PspOptions,
                 "flags=+loop\r\ncmp=+chroma\r\npartitions=+parti4x4+partp8x8+partb8x8\r\n"
                 "me_method=umh\r\nsubq=5\r\ntrellis=1\r\nrefs=2\r\nbf=1\r\ncoder=1\r\n"
                 "me_range=16\r\ng=300\r\nkeyint_min=25\r\nsc_threshold=40\r\n"
                 "i_qfactor=0.71\r\nbt=64k\r\nmaxrate=4M\r\nbufsize=4M\r\n"
                 "rc_eq='blurCplx^(1-qComp)'\r\nqcomp=0.6\r\nqmin=10\r\nqmax=51\r\nqdiff=4\r\n"
                 "level=21");
    EXPECT_EQ(Lines(X264PspOptions).size(), 23u);

    TOutputOptions ipod = Map("iPod", 8);
    EXPECT_EQ(ipod.VideoCodec, "libx264");
    EXPECT_EQ(ipod.AudioCodec, "libfaac");
    EXPECT_EQ(ipod.ExtOptions, X264DeviceOptions);
    EXPECT_EQ(ipod.FrameSize, "320x240");
    EXPECT_EQ(ipod.FrameRate, "24");
    EXPECT_EQ(ipod.VideoBitrate, 1000000);
    EXPECT_FALSE(ipod.DisableVideo);
    TOutputOptions ipod9 = Map("iPod", 9);
    EXPECT_EQ(ipod9.FrameSize, "320x240");
    EXPECT_EQ(ipod9.FrameRate, "15");
    EXPECT_EQ(ipod9.VideoBitrate, 500000);
    EXPECT_EQ(Map("MP4", 0).ExtOptions, X264DeviceOptions); // a Video-class row with block A
    EXPECT_EQ(Map("MP4", 3).FrameSize, "640x420");

    TOutputOptions psp;
    psp.FileFormat = "psp";
    psp.VideoCodec = "libx264";
    psp.AudioCodec = "libfaac";
    psp.ExtOptions = X264PspOptions;
    psp.FrameSize = "368x208";
    psp.FrameRate = "24";
    psp.VideoBitrate = 1000000;
    psp.AudioChannels = 2;
    psp.AudioSampleRate = 44100;
    psp.AudioBitrate = 128000;
    EXPECT_EQ(Map("PSP", 1), psp);

    TOutputOptions mp4psp = Map("MP4", 6); // psp muxer from a Video-class row
    EXPECT_EQ(mp4psp.FileFormat, "psp");
    EXPECT_EQ(mp4psp.ExtOptions, X264PspOptions);
    EXPECT_EQ(mp4psp.FrameAspectRatio, "16:9");
    EXPECT_EQ(mp4psp.AudioBitrate, 768000);
    EXPECT_FALSE(mp4psp.DisableVideo);
    EXPECT_EQ(Map("MP4", 4).FileFormat, "");

    TOutputOptions ipadNone; // no row: only the format-level values
    ipadNone.VideoCodec = "libx264";
    ipadNone.AudioCodec = "libfaac";
    ipadNone.ExtOptions = X264DeviceOptions;
    EXPECT_EQ(Map("iPad", -1), ipadNone);
    EXPECT_EQ(Map("iPad", 3), ipadNone);
}

TEST(PresetMapping, AudioClassDisablesVideo) {
    TOutputOptions wav;
    wav.DisableVideo = true;
    wav.AudioCodec = "pcm_s16le";
    wav.AudioChannels = 1;
    wav.AudioSampleRate = 11025;
    EXPECT_EQ(Map("WAV", 0), wav);
    EXPECT_EQ(Map("WAV", 4).AudioSampleRate, 44000);

    TOutputOptions flac;
    flac.DisableVideo = true;
    flac.AudioCodec = "flac";
    flac.ExtOptions = "compression_level=5";
    EXPECT_EQ(Map("FLAC", 5), flac);

    TOutputOptions ogg = Map("OGG", 4);
    EXPECT_EQ(ogg.AudioCodec, "libvorbis");
    EXPECT_EQ(ogg.VideoCodec, "libtheora");
    EXPECT_EQ(ogg.ExtOptions, "aq=8.05");
    EXPECT_EQ(ogg.AudioChannels, -1);
    EXPECT_EQ(Map("M4A", 1).AudioCodec, "");
    EXPECT_EQ(Map("M4A", 1).AudioSampleRate, 44800);
    EXPECT_EQ(Map("AAC", 1).AudioSampleRate, 22500);
    EXPECT_EQ(Map("MP3", -1).AudioCodec, "libmp3lame");
}

TEST(PresetMapping, LosslessWmaTakesTheSourceBitRateOnlyPerFile) {
    EXPECT_EQ(Map("WMA", 4, mmPerFile, 320000).AudioBitrate, 320000);
    EXPECT_EQ(Map("WMA", 4, mmPerFile, 0).AudioBitrate, 0);  // no audio: engine default
    EXPECT_EQ(Map("WMA", 4, mmPerFile, -1).AudioBitrate, 0); // unknown rate: the same
    EXPECT_EQ(Map("WMA", 4, mmMerge, 320000).AudioBitrate, -1);
    EXPECT_EQ(Map("WMA", 4, mmMerge).AudioSampleRate, 48000);
    EXPECT_EQ(Map("WMA", 3, mmPerFile, 320000).AudioBitrate, 128000);
}

TEST(PresetMapping, UnknownClassOrFormatSetsLess) {
    TOutputOptions o;
    ApplyPresetOptions(o, {7, 0, 0}, mmPerFile);
    EXPECT_EQ(o, TOutputOptions{});

    ApplyPresetOptions(o, {ocAudio, 12, 0}, mmPerFile);
    TOutputOptions audioOnly;
    audioOnly.DisableVideo = true;
    EXPECT_EQ(o, audioOnly);
}

TEST(PresetMapping, FileAndMergeRecords) {
    TTempDir dir;
    TProbedInput input{"/media/in/holiday.clip.avi", "", 320000};
    TOutputOptions out = FileOutputOptions(Sel("WMA", 4), dir.Path, input);
    EXPECT_EQ(out.FileName, dir.Path + "holiday.clip.wma");
    EXPECT_EQ(out.AudioBitrate, 320000);
    EXPECT_FALSE(out.Join);

    TInputOptions in = FileInputOptions({"/media/in/clip.avi", "avi", 0});
    TInputOptions expectedIn;
    expectedIn.FileName = "/media/in/clip.avi";
    expectedIn.FileFormat = "avi";
    EXPECT_EQ(in, expectedIn);

    TOutputOptions merge = MergeOutputOptions(Sel("WMA", 4), dir.Path);
    EXPECT_TRUE(merge.Join);
    EXPECT_EQ(merge.FileName, dir.Path + "Output_Merge.wma");
    EXPECT_EQ(merge.AudioBitrate, -1);
    EXPECT_EQ(merge.AudioCodec, "wmav2");

    dir.Write("Output_Merge.wma", "x");
    EXPECT_EQ(MergeOutputOptions(Sel("WMA", 4), dir.Path).FileName,
              dir.Path + "Output_Merge(1).wma");

    // From the state record: its selection and output folder (without separator).
    TGlobalVars vars;
    ApplyDefaultPresets(vars);
    vars.OutputFileDir = dir.Path.substr(0, dir.Path.size() - 1);
    SelectClass(vars, ocDevice);
    SelectFormat(vars, *FindFormatByName("PSP"));
    TOutputOptions fromVars = FileOutputOptions(vars, {"/x/a.mov", "", 0});
    EXPECT_EQ(fromVars.FileName, dir.Path + "a.mp4");
    EXPECT_EQ(fromVars.FrameSize, "368x208"); // PSP default preset 1
    EXPECT_EQ(MergeOutputOptions(vars).FileName, dir.Path + "Output_Merge.mp4");
}

TEST(OutputNames, TakenNamesAreNumbered) {
    TTempDir dir;
    EXPECT_EQ(FileOutputPath(dir.Path, "/in/clip.avi", ".mp3"), dir.Path + "clip.mp3");
    dir.Write("clip.mp3", "x");
    EXPECT_EQ(FileOutputPath(dir.Path, "/in/clip.avi", ".mp3"), dir.Path + "clip(1).mp3");
    dir.Write("clip(1).mp3", "x");
    EXPECT_EQ(FileOutputPath(dir.Path, "/in/clip.avi", ".mp3"), dir.Path + "clip(2).mp3");
    // No extension for an unknown format: the input's is removed.
    EXPECT_EQ(FileOutputPath(dir.Path, "/in/clip.avi", ""), dir.Path + "clip");
    EXPECT_EQ(FileOutputPath(dir.Path, "/in/noext", ".mp4"), dir.Path + "noext.mp4");
    dir.Write("Output_Merge", "x");
    EXPECT_EQ(MergeOutputPath(dir.Path, ""), dir.Path + "Output_Merge(1)");

    // An output never replaces its own input, even in the input's folder.
    dir.Write("movie.mp4", "x");
    EXPECT_EQ(FileOutputPath(dir.Path, dir.Path + "movie.mp4", ".mp4"), dir.Path + "movie(1).mp4");
}

TEST(OutputNames, NamesPlannedInTheRunAreAvoided) {
    TTempDir dir;
    dir.Write("clip(1).mp4", "x");
    TPlannedNames planned;
    EXPECT_EQ(FileOutputPath(dir.Path, "/a/clip.avi", ".mp4", &planned), dir.Path + "clip.mp4");
    EXPECT_EQ(FileOutputPath(dir.Path, "/b/clip.mkv", ".mp4", &planned), dir.Path + "clip(2).mp4");
    EXPECT_EQ(FileOutputPath(dir.Path, "/c/clip.mov", ".mp4", &planned), dir.Path + "clip(3).mp4");
    EXPECT_EQ(planned.size(), 3u);
    // Without the plan, only existing files count.
    EXPECT_EQ(FileOutputPath(dir.Path, "/c/clip.mov", ".mp4"), dir.Path + "clip.mp4");

    TPlannedNames plannedB;
    TOutputOptions o1 = FileOutputOptions(Sel("AVI", 3), dir.Path, {"/a/x.mp4", "", 0}, &plannedB);
    TOutputOptions o2 = FileOutputOptions(Sel("AVI", 3), dir.Path, {"/b/x.mov", "", 0}, &plannedB);
    EXPECT_EQ(o1.FileName, dir.Path + "x.avi");
    EXPECT_EQ(o2.FileName, dir.Path + "x(1).avi");
}
