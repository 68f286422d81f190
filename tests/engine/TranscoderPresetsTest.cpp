// Built-in presets, preset files, target profiles, and the option lines of the application's
// preset table, each taken by the real encoder it is meant for.
#include "OptionsTestSupport.h"

#include "convert/PresetMapping.h"
#include "engine/FFmpegException.h"

#include <fstream>
#include <set>
#include <unistd.h>

using namespace cw;
using cw::test::EncodeAndReadProfile;
using cw::test::EncoderWithOptions;
using cw::test::PrivateOption;
using cw::test::TTempDir;

namespace {

// The device block and the PSP block as the application's preset table hands them over.
const char* const BlockA = X264DeviceOptions;
const char* const BlockB = X264PspOptions;

class PresetsTest : public test::OptionsTest {
protected:
    // The message of the FFmpegException that applying the preset throws; empty when none.
    std::string PresetError(char kind, const std::string& value) {
        try {
            Job->ApplyPreset(kind, value);
        } catch (const FFmpegException& error) {
            return error.what();
        }
        return {};
    }
    std::string WriteFile(const TTempDir& dir, const std::string& name, const std::string& text) {
        std::string path = dir.Folder() + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
};

TEST_F(PresetsTest, EveryBuiltinPresetOpensLibx264) {
    ASSERT_EQ(BuiltinPresets().size(), 36u);
    std::set<std::string> names;
    for (const TOptionsPreset& preset : BuiltinPresets()) {
        SCOPED_TRACE(preset.Name);
        names.insert(preset.Name);
        auto job = std::make_unique<test::TRecordingJob>();
        job->SetOption("vcodec", "libx264");
        job->SetOption("vpre", preset.Name);
        auto encoder = EncoderWithOptions(*job, "libx264");
        ASSERT_NE(encoder, nullptr);
        EXPECT_GE(ff::avcodec_open2(encoder.get(), encoder->codec, nullptr), 0);
    }
    EXPECT_EQ(names.size(), 36u);
}

TEST_F(PresetsTest, DeviceBlockGivesConstrainedBaselineLevel30) {
    Job->ApplyOptionString(BlockA, false);
    auto encoder = EncoderWithOptions(*Job, "libx264");
    ASSERT_GE(ff::avcodec_open2(encoder.get(), encoder->codec, nullptr), 0);
    test::TH264Profile profile = EncodeAndReadProfile(encoder.get());
    EXPECT_TRUE(profile.ConstrainedBaseline()) << profile.ProfileIdc << " " << profile.Constraints;
    EXPECT_EQ(profile.LevelIdc, 30);
    EXPECT_EQ(encoder->max_b_frames, 0);
}

TEST_F(PresetsTest, PspBlockGivesMainLevel21) {
    Job->ApplyOptionString(BlockB, false);
    auto encoder = EncoderWithOptions(*Job, "libx264");
    ASSERT_GE(ff::avcodec_open2(encoder.get(), encoder->codec, nullptr), 0);
    test::TH264Profile profile = EncodeAndReadProfile(encoder.get());
    EXPECT_EQ(profile.ProfileIdc, 77);
    EXPECT_EQ(profile.LevelIdc, 21);
    EXPECT_EQ(encoder->max_b_frames, 1); // the block's own value wins over the old default
}

TEST_F(PresetsTest, ValuesThePresetSetsWinOverTheOldDefaults) {
    Job->ApplyOptionString(BlockA, false);
    Job->SetOption("flags2", "+dct8x8");
    auto encoder = EncoderWithOptions(*Job, "libx264");
    ASSERT_GE(ff::avcodec_open2(encoder.get(), encoder->codec, nullptr), 0);
    EXPECT_EQ(EncodeAndReadProfile(encoder.get()).ProfileIdc, 100); // 8x8 transform: High

    auto medium = std::make_unique<test::TRecordingJob>();
    medium->SetOption("vpre", "libx264-medium");
    auto x264 = EncoderWithOptions(*medium, "libx264");
    EXPECT_EQ(x264->max_b_frames, 3);
    EXPECT_EQ(PrivateOption(x264.get(), "weightp"), "-1"); // wpredp sets it instead
    EXPECT_EQ(PrivateOption(x264.get(), "wpredp"), "2");
    EXPECT_EQ(PrivateOption(x264.get(), "8x8dct"), "true");
    EXPECT_EQ(PrivateOption(x264.get(), "weightb"), "true");
}

TEST_F(PresetsTest, PresetLookup) {
    TTempDir dir;
    std::string cwd = std::filesystem::current_path().string();
    ASSERT_EQ(::chdir(dir.Path.c_str()), 0);
    // No codec yet: "default" is a file name, and there is no such file.
    EXPECT_EQ(PresetError('v', "default"), "Preset \"default\" not found");
    Job->SetOption("vcodec", "libx264");
    EXPECT_EQ(PresetError('v', "default"), "");
    EXPECT_TRUE(Job->GenericOptions().IsRecorded("direct-pred"));
    EXPECT_EQ(PresetError('v', "LIBX264-MAIN"), "");
    EXPECT_EQ(Job->GenericOptions().Recorded().back(), (TOptionPair{"8x8dct", "0"}));
    // "fpre" always names a file, even when a built-in preset has that name.
    EXPECT_EQ(PresetError('f', "libx264-main"), "Preset \"libx264-main\" not found");
    // Neither "nosuch" nor "libx264-nosuch" is built in, and there is no such file.
    EXPECT_EQ(PresetError('v', "nosuch"), "Preset \"nosuch\" not found");
    EXPECT_EQ(PresetError('v', ""), "");
    ASSERT_EQ(::chdir(cwd.c_str()), 0);
}

TEST_F(PresetsTest, PresetFiles) {
    TTempDir dir;
    std::string good = WriteFile(dir, "good.ffpreset",
                                 "# comment line\r\n\r\n  crf=20  \r\nVCODEC=mpeg4\r\n#g=5\r\n");
    Job->SetOption("fpre", good);
    EXPECT_EQ(Job->GenericOptions().Recorded().back(), (TOptionPair{"crf", "20"}));
    EXPECT_EQ(Job->VideoCodecName, "mpeg4");
    EXPECT_FALSE(Job->GenericOptions().IsRecorded("g"));

    std::string blank = WriteFile(dir, "blank.ffpreset", "refs=2\ncrf =20\n");
    EXPECT_EQ(PresetError('f', blank),
              "Unrecognized option \"crf \"\r\n" + blank +
                  ": Invalid option or argument: \"crf =20\", parsed as \"crf \" = \"20\"");
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_VIDEO, "refs"), 2); // set before the bad line
    Job->StrictOptions = false;
    EXPECT_EQ(PresetError('f', blank), "");

    std::string noValue = WriteFile(dir, "novalue.ffpreset", "crf=\n");
    EXPECT_EQ(PresetError('v', noValue), noValue + ": Invalid syntax: \"crf=\"");
    std::string noKey = WriteFile(dir, "nokey.ffpreset", "=5\n");
    EXPECT_EQ(PresetError('s', noKey), noKey + ": Invalid syntax: \"=5\"");
    std::string empty = WriteFile(dir, "empty.ffpreset", "");
    EXPECT_EQ(PresetError('f', empty), "");
    EXPECT_EQ(PresetError('f', dir.Folder()), "Preset \"" + dir.Folder() + "\" not found");
}

TEST_F(PresetsTest, PalDvdTarget) {
    Job->SetOption("target", " pal-dvd ");
    EXPECT_EQ(Job->FrameWidth, 720);
    EXPECT_EQ(Job->FrameHeight, 576);
    EXPECT_EQ(Job->FrameRate.num, 25);
    EXPECT_EQ(Job->FrameRate.den, 1);
    EXPECT_EQ(Job->VideoCodecName, "mpeg2video");
    EXPECT_EQ(Job->AudioCodecName, "ac3");
    EXPECT_EQ(Job->AudioSampleRate, 48000);
    EXPECT_EQ(Job->AudioChannels, 2);
    EXPECT_EQ(Job->FileFormat, "dvd");
    EXPECT_FLOAT_EQ(Job->FrameAspectRatio, 16.0f / 9.0f);
    EXPECT_TRUE(Logged(llInfo, "Assuming 16:9 for aspect ratio"));
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_VIDEO, "g"), 15);
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_VIDEO, "b"), 6000000);
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_VIDEO, "maxrate"), 9000000);
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_VIDEO, "bufsize"), 1835008);
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_AUDIO, "b"), 448000);
    EXPECT_EQ(Job->GenericOptions().Recorded().back(), (TOptionPair{"muxrate", "10080000"}));
    EXPECT_FALSE(LoggedContaining("for target."));

    // An aspect ratio already set stays.
    auto job = std::make_unique<test::TRecordingJob>();
    job->SetOption("aspect", "4:3");
    job->SetOption("target", "ntsc-svcd");
    EXPECT_FLOAT_EQ(job->FrameAspectRatio, 4.0f / 3.0f);
    EXPECT_EQ(job->FrameWidth, 480);
    EXPECT_EQ(job->FrameHeight, 480);
    EXPECT_TRUE(job->GenericOptions().IsRecorded("scan_offset")); // "flags" +scan_offset
}

TEST_F(PresetsTest, AutomaticNorm) {
    EXPECT_EQ(OptionError("target", "dvd"), "frame_rate is invalid.");

    // What opening a 29.97 frames/s input leaves behind.
    Job->SetOption("r", "30000/1001");
    Job->SetOption("target", "dvd");
    EXPECT_EQ(Job->FrameWidth, 720);
    EXPECT_EQ(Job->FrameHeight, 480);
    EXPECT_TRUE(Logged(llVerbose, "Assuming NTSC for target."));

    // A rate of no norm: the inputs' video streams decide, then the default norm.
    auto fromInputs = std::make_unique<test::TRecordingJob>();
    fromInputs->VideoRates = {AVRational{15, 1}, AVRational{25, 1}};
    fromInputs->SetOption("r", "24");
    fromInputs->SetTarget("vcd", "auto", "ntsc");
    EXPECT_EQ(fromInputs->FrameHeight, 288);
    EXPECT_EQ(fromInputs->FrameRate.num, 25);

    auto byDefault = std::make_unique<test::TRecordingJob>();
    byDefault->Verbose = 0;
    byDefault->SetOption("r", "10");
    byDefault->SetTarget("vcd", "auto", "film");
    EXPECT_EQ(byDefault->FrameRate.num, 24000);
    EXPECT_EQ(byDefault->FrameRate.den, 1001);
    EXPECT_EQ(byDefault->FrameHeight, 240);

    EXPECT_EQ(OptionError("target", "pal-cd"), "Unknown target type");
}

TEST_F(PresetsTest, OtherTargets) {
    Job->SetOption("ac", "6");
    Job->SetOption("target", "film-svcd");
    EXPECT_EQ(Job->AudioChannels, 6); // svcd and dvd only make mono stereo
    EXPECT_EQ(Job->FrameRate.num, 24000);
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_VIDEO, "g"), 18);
    Job->SetOption("target", "pal-vcd");
    EXPECT_EQ(Job->AudioChannels, 2);
    EXPECT_EQ(Job->AudioSampleRate, 44100);
    EXPECT_DOUBLE_EQ(Job->MuxPreload, 0.44);
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_VIDEO, "minrate"), 1150000);
    Job->SetOption("target", "pal-dv");
    EXPECT_EQ(Job->FramePixFmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(Job->FileFormat, "dv");
    Job->SetOption("target", "ntsc-dv");
    EXPECT_EQ(Job->FramePixFmt, AV_PIX_FMT_YUV411P);
    Job->SetOption("target", "ntsc-dv50");
    EXPECT_EQ(Job->FramePixFmt, AV_PIX_FMT_YUV422P);
    EXPECT_EQ(Job->FrameWidth, 720);
    EXPECT_EQ(Job->FrameHeight, 480);
}

TEST_F(PresetsTest, NtscDvdFromTheRecord) {
    TOutputOptions output;
    output.TargetType = ttDVD;
    output.TargetNorm = tnNTSC;
    ASSERT_EQ(Job->OpenOutputWithOptions("disc.mpg", &output), 1);
    const TTranscoderOptionValues& seen = Job->Outputs[0].State;
    EXPECT_EQ(seen.FrameWidth, 720);
    EXPECT_EQ(seen.FrameHeight, 480);
    EXPECT_EQ(seen.FrameRate.num, 30000);
    EXPECT_EQ(seen.FrameRate.den, 1001);
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_VIDEO, "g"), 18);
}

TEST_F(PresetsTest, PresetTableLinesReachTheirEncoders) {
    // Vorbis quality lines.
    for (const char* line : {"aq=4.97", "aq=8.05"}) {
        auto job = std::make_unique<test::TRecordingJob>();
        job->ApplyOptionString(line, false);
        auto vorbis = EncoderWithOptions(*job, "libvorbis");
        vorbis->flags |= AV_CODEC_FLAG_QSCALE;
        vorbis->global_quality = static_cast<int>(FF_QP2LAMBDA * job->AudioQScale);
        EXPECT_GE(ff::avcodec_open2(vorbis.get(), vorbis->codec, nullptr), 0) << line;
    }
    // FLAC compression levels.
    for (int level = 0; level <= 8; ++level) {
        auto job = std::make_unique<test::TRecordingJob>();
        job->ApplyOptionString("compression_level=" + std::to_string(level), false);
        auto flac = EncoderWithOptions(*job, "flac");
        EXPECT_EQ(flac->compression_level, level);
        EXPECT_GE(ff::avcodec_open2(flac.get(), flac->codec, nullptr), 0) << level;
    }
    // Rate limits of the MPEG rows.
    TOutputOptions mpeg;
    mpeg.VideoCodec = "mpeg2video";
    mpeg.VideoBitrate = 4000000;
    mpeg.VideoMinRate = 4000000;
    mpeg.VideoMaxRate = 4000000;
    mpeg.VideoBufSize = 1835000;
    ASSERT_EQ(Job->OpenOutputWithOptions("x.mpg", &mpeg), 1);
    auto mpeg2 = EncoderWithOptions(*Job, "mpeg2video");
    EXPECT_EQ(mpeg2->rc_max_rate, 4000000);
    EXPECT_EQ(mpeg2->rc_buffer_size, 1835000);
    EXPECT_GE(ff::avcodec_open2(mpeg2.get(), mpeg2->codec, nullptr), 0);
}

} // namespace
