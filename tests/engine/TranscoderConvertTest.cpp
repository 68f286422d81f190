// Conversions end to end: a generated clip into every container the catalogue writes, stream
// copy in both directions, audio re-framing, frame-rate synchronisation, volume, recording
// time and the progress reports. Every output is re-opened and decoded.
#include "TranscoderTestSupport.h"

#include "engine/EncoderOptions.h"
#include "engine/FFmpegException.h"

#include <cmath>
#include <filesystem>

using namespace cw;
using namespace cw::test;

namespace {

TFixtureParams ClipParams() {
    TFixtureParams p;
    p.Seconds = 2.0;
    p.Width = 160;
    p.Height = 120;
    p.FrameRateNum = 25;
    p.FrameRateDen = 1;
    p.GopSize = 12;
    return p;
}

// Options lines of the H.264 blocks the device presets use, in the old vocabulary.
constexpr char X264Device[] = "flags=+loop\r\ncmp=+chroma\r\ndeblockalpha=0\r\ndeblockbeta=0\r\n"
                              "crf=24\r\nrefs=1\r\ncoder=0\r\nme_range=16\r\nsubq=5\r\n"
                              "partitions=+parti4x4+parti8x8+partp8x8\r\ng=250\r\n"
                              "keyint_min=25\r\nlevel=30\r\nqmin=10\r\nqmax=51\r\n";
constexpr char X264Psp[] = "flags=+loop\r\ncmp=+chroma\r\npartitions=+parti4x4+partp8x8+partb8x8"
                           "\r\nme_method=umh\r\nsubq=5\r\ntrellis=1\r\nrefs=2\r\nbf=1\r\n"
                           "coder=1\r\nme_range=16\r\ng=300\r\nkeyint_min=25\r\nbt=64k\r\n"
                           "maxrate=4M\r\nbufsize=4M\r\nlevel=21";

// One catalogue preset per container, as the preset mapping fills the output record.
struct TContainerCase {
    const char* Name;
    const char* Extension;
    // record fields
    const char* VideoCodec;
    const char* AudioCodec;
    const char* FrameSize;
    const char* FrameRate;
    int VideoBitrate;
    int Channels;
    int SampleRate;
    int AudioBitrate;
    const char* FileFormat;
    const char* ExtOptions;
    const char* VideoTag;
    bool AudioOnly;
    // what the output must hold
    const char* ExpectVideo; // null: no video stream
    const char* ExpectAudio;
    int Width, Height;
    double Fps;
    int ExpectRate, ExpectChannels;
};

// clang-format off
const TContainerCase Containers[] = {
    {"Avi",  ".avi", "mpeg4",      "libmp3lame", "320x240", nullptr,      768000, 2, 44100, 96000,  nullptr, nullptr, "XVID", false, "mpeg4",      "mp3",       320, 240, 25,     44100, 2},
    {"Mp4",  ".mp4", "libx264",    "libfaac",    "320x240", "30",         640000, 2, 44100, 128000, nullptr, X264Device, nullptr, false, "h264",   "aac",       320, 240, 30,     44100, 2},
    {"Flv",  ".flv", nullptr,      nullptr,      "320x240", "15",         640000, 2, 11025, 48000,  nullptr, nullptr, nullptr, false, "flv1",       "mp3",       320, 240, 15,     11025, 2},
    {"Swf",  ".swf", nullptr,      nullptr,      "176x144", "15",         480000, 1, 11025, 24000,  nullptr, nullptr, nullptr, false, "flv1",       "mp3",       176, 144, 15,     11025, 1},
    {"Mpg",  ".mpg", "mpeg1video", "mp2",        "320x240", "30000/1001", 780000, 2, 44100, 112000, nullptr, nullptr, nullptr, false, "mpeg1video", "mp2",       320, 240, 29.97,  44100, 2},
    {"Rm",   ".rm",  "rv20",       nullptr,      nullptr,   nullptr,      128000, 0, 0,     0,      nullptr, nullptr, nullptr, false, "rv20",       "ac3",       160, 120, 25,     44100, 2},
    {"Wmv",  ".wmv", "wmv2",       "wmav2",      "192x144", "20",         176000, 2, 32000, 48000,  nullptr, nullptr, nullptr, false, "wmv2",       "wmav2",     192, 144, 20,     32000, 2},
    {"Mov",  ".mov", "h263",       "libmp3lame", "176x144", nullptr,      400000, 2, 44100, 128000, nullptr, nullptr, nullptr, false, "h263",       "mp3",       176, 144, 25,     44100, 2},
    {"3gp",  ".3gp", "h263",       nullptr,      "176x144", "12",         240000, 1, 8000,  12200,  nullptr, nullptr, nullptr, false, "h263",       "aac",       176, 144, 12,     8000,  1},
    {"Psp",  ".mp4", "libx264",    "libfaac",    "368x208", "15",         500000, 2, 44100, 128000, "psp",   X264Psp, nullptr, false, "h264",       "aac",       368, 208, 15,     44100, 2},
    {"Wav",  ".wav", nullptr,      "pcm_s16le",  nullptr,   nullptr,      0,      1, 22050, 0,      nullptr, nullptr, nullptr, true,  nullptr,      "pcm_s16le", 0,   0,   0,      22050, 1},
    {"Mp3",  ".mp3", nullptr,      "libmp3lame", nullptr,   nullptr,      0,      2, 44100, 112000, nullptr, nullptr, nullptr, true,  nullptr,      "mp3",       0,   0,   0,      44100, 2},
    {"Wma",  ".wma", nullptr,      "wmav2",      nullptr,   nullptr,      0,      2, 44100, 96000,  nullptr, nullptr, nullptr, true,  nullptr,      "wmav2",     0,   0,   0,      44100, 2},
    {"Ogg",  ".ogg", "libtheora",  "libvorbis",  nullptr,   nullptr,      0,      0, 22050, 0,      nullptr, "aq=4.97", nullptr, true, nullptr,     "vorbis",    0,   0,   0,      22050, 2},
    {"Aac",  ".aac", nullptr,      "libfaac",    nullptr,   nullptr,      0,      1, 16000, 96000,  nullptr, nullptr, nullptr, true,  nullptr,      "aac",       0,   0,   0,      16000, 1},
    {"M4a",  ".m4a", nullptr,      nullptr,      nullptr,   nullptr,      0,      2, 44100, 96000,  nullptr, nullptr, nullptr, true,  nullptr,      "aac",       0,   0,   0,      44100, 2},
    {"Flac", ".flac", nullptr,     "flac",       nullptr,   nullptr,      0,      0, 0,     0,      nullptr, "compression_level=0", nullptr, true, nullptr, "flac", 0,   0,   0,      44100, 2},
    {"Mp2",  ".mp2", nullptr,      nullptr,      nullptr,   nullptr,      0,      1, 22050, 96000,  nullptr, nullptr, nullptr, true,  nullptr,      "mp2",       0,   0,   0,      22050, 1},
};
// clang-format on

TOutputOptions RecordFor(const TContainerCase& c, const std::string& fileName) {
    TOutputOptions o;
    o.FileName = fileName;
    o.DisableVideo = c.AudioOnly;
    if (c.VideoCodec)
        o.VideoCodec = c.VideoCodec;
    if (c.AudioCodec)
        o.AudioCodec = c.AudioCodec;
    if (c.FrameSize)
        o.FrameSize = c.FrameSize;
    if (c.FrameRate)
        o.FrameRate = c.FrameRate;
    if (c.VideoBitrate)
        o.VideoBitrate = c.VideoBitrate;
    if (c.Channels)
        o.AudioChannels = c.Channels;
    if (c.SampleRate)
        o.AudioSampleRate = c.SampleRate;
    if (c.AudioBitrate)
        o.AudioBitrate = c.AudioBitrate;
    if (c.FileFormat)
        o.FileFormat = c.FileFormat;
    if (c.ExtOptions)
        o.ExtOptions = c.ExtOptions;
    if (c.VideoTag)
        o.VideoTag = c.VideoTag;
    return o;
}

void PrintTo(const TContainerCase& c, std::ostream* os) {
    *os << c.Name;
}

class ContainerTest : public TranscoderTest,
                      public ::testing::WithParamInterface<TContainerCase> {};

TEST_P(ContainerTest, ConvertsTheClipAndTheOutputHoldsWhatWasAskedFor) {
    const TContainerCase& c = GetParam();
    const TFixture& source = Source(fkAviMpeg4Mp3, ClipParams());
    const std::string out = Out(std::string("clip") + c.Extension);

    TRecordedJob run;
    TInputOptions input;
    ASSERT_TRUE(run.Job->Options.OpenInputWithOptions(source.Path, &input)) << run.Job->OpenError;
    const TOutputOptions record = RecordFor(c, out);
    ASSERT_EQ(run.Job->Options.OpenOutputWithOptions(out, &record), 1) << run.Job->OpenError;
    run.Run();
    EXPECT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;
    EXPECT_TRUE(run.Job->Finished);
    EXPECT_EQ(run.Terminations, 1);

    // Re-opened with the decoder component: size, rate and channels.
    TFFDecoder decoder;
    ASSERT_TRUE(decoder.LoadFile(out)) << decoder.LastErrMsg();
    if (c.ExpectVideo) {
        ASSERT_EQ(decoder.VideoStreamCount(), 1);
        TVideoStreamInfo video = decoder.GetVideoStreamInfo(decoder.FirstVideoStream());
        EXPECT_EQ(video.Width, c.Width);
        EXPECT_EQ(video.Height, c.Height);
    } else {
        EXPECT_EQ(decoder.VideoStreamCount(), 0);
    }
    ASSERT_EQ(decoder.AudioStreamCount(), 1);
    TAudioStreamInfo audio = decoder.GetAudioStreamInfo(decoder.FirstAudioStream());
    EXPECT_EQ(audio.SampleRate, c.ExpectRate);
    EXPECT_EQ(audio.Channels, c.ExpectChannels);

    // Decoded in full: the codecs asked for, as long as the source within one frame or one
    // audio frame.
    TScan scan = ScanMedia(out, true);
    ASSERT_TRUE(scan.Error.empty()) << scan.Error;
    if (c.ExpectVideo) {
        const TScannedStream* v = scan.First(AVMEDIA_TYPE_VIDEO);
        ASSERT_TRUE(v);
        EXPECT_EQ(v->Codec, c.ExpectVideo);
        EXPECT_NEAR(double(v->Frames), source.Seconds * c.Fps, 1.5) << c.Name;
    }
    const TScannedStream* a = scan.First(AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Codec, c.ExpectAudio);
    EXPECT_NEAR(a->SoundSeconds(), source.Seconds, a->PacketSeconds() + 0.005) << c.Name;
    // Priming and padding add at most a few frames of silence, never a repeat of the sound.
    EXPECT_LT(a->AudioSeconds(), source.Seconds + 4 * a->PacketSeconds() + 0.01) << c.Name;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, ContainerTest, ::testing::ValuesIn(Containers),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
