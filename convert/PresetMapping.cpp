#include "convert/PresetMapping.h"

#include "app/Utils.h"
#include "convert/Catalogue.h"

#include <string_view>

namespace cw {

// Device block: tuning of the H.264 encoder for players with little decoding power.
extern constexpr char X264DeviceOptions[] = "flags=+loop\r\n"
                                            "cmp=+chroma\r\n"
                                            "deblockalpha=0\r\n"
                                            "deblockbeta=0\r\n"
                                            "crf=24\r\n"
                                            "refs=1\r\n"
                                            "coder=0\r\n"
                                            "me_range=16\r\n"
                                            "subq=5\r\n"
                                            "partitions=+parti4x4+parti8x8+partp8x8\r\n"
                                            "g=250\r\n"
                                            "keyint_min=25\r\n"
                                            "level=30\r\n"
                                            "qmin=10\r\n"
                                            "qmax=51\r\n"
                                            "trellis=2\r\n"
                                            "sc_threshold=40\r\n"
                                            "i_qfactor=0.71\r\n";

// PSP block: the handheld's profile (level 2.1, two reference frames, rate ceiling 4 Mbit/s).
extern constexpr char X264PspOptions[] = "flags=+loop\r\n"
                                         "cmp=+chroma\r\n"
                                         "partitions=+parti4x4+partp8x8+partb8x8\r\n"
                                         "me_method=umh\r\n"
                                         "subq=5\r\n"
                                         "trellis=1\r\n"
                                         "refs=2\r\n"
                                         "bf=1\r\n"
                                         "coder=1\r\n"
                                         "me_range=16\r\n"
                                         "g=300\r\n"
                                         "keyint_min=25\r\n"
                                         "sc_threshold=40\r\n"
                                         "i_qfactor=0.71\r\n"
                                         "bt=64k\r\n"
                                         "maxrate=4M\r\n"
                                         "bufsize=4M\r\n"
                                         "rc_eq='blurCplx^(1-qComp)'\r\n"
                                         "qcomp=0.6\r\n"
                                         "qmin=10\r\n"
                                         "qmax=51\r\n"
                                         "qdiff=4\r\n"
                                         "level=21";

namespace {

// An empty cell of the tables below: the row leaves that field at its initial value, so the
// engine's default applies. No row sets a real value of 0.
struct TNil {
    constexpr operator const char*() const { return nullptr; }
    constexpr operator int32_t() const { return 0; }
};
constexpr TNil Nil{};

// The column "video extras": fourcc tag, engine preset name or option lines.
struct TVideoExtras {
    const char* Tag = nullptr;
    const char* Preset = nullptr;
    const char* Options = nullptr;
};
constexpr TVideoExtras NoExtras{};
constexpr TVideoExtras Tag(const char* fourcc) {
    return {fourcc, nullptr, nullptr};
}
constexpr TVideoExtras X264Default{nullptr, "libx264-default", nullptr};
constexpr TVideoExtras BlockA{nullptr, nullptr, X264DeviceOptions};
constexpr TVideoExtras BlockB{nullptr, nullptr, X264PspOptions};

// The column "other": forced muxer, display aspect, rate limits and target profile,
// combined with |.
struct TOther {
    const char* FileFormat = nullptr;
    const char* Aspect = nullptr;
    int32_t RateLimit = 0; // minimum and maximum video rate, equal where set
    int32_t BufSize = 0;
    int32_t TargetType = ttNone;
    int32_t TargetNorm = tnAuto;
};
constexpr TOther operator|(TOther a, const TOther& b) {
    if (b.FileFormat)
        a.FileFormat = b.FileFormat;
    if (b.Aspect)
        a.Aspect = b.Aspect;
    if (b.RateLimit)
        a.RateLimit = b.RateLimit;
    if (b.BufSize)
        a.BufSize = b.BufSize;
    if (b.TargetType)
        a.TargetType = b.TargetType;
    if (b.TargetNorm)
        a.TargetNorm = b.TargetNorm;
    return a;
}
constexpr TOther PspFile{"psp"};
constexpr TOther Aspect(const char* ratio) {
    return {nullptr, ratio};
}
constexpr TOther Limits(int32_t rate, int32_t buffer) {
    return {nullptr, nullptr, rate, buffer};
}
constexpr TOther Target(int32_t type, int32_t norm) {
    return {nullptr, nullptr, 0, 0, type, norm};
}

// One preset of the Video or Device class. Bit rates in bits per second, rates in Hz.
struct TPictureRow {
    const char* Format;
    int Preset;
    const char* VideoCodec;
    TVideoExtras Extras;
    const char* FrameSize;
    const char* FrameRate;
    int32_t VideoBitrate;
    const char* AudioCodec;
    int32_t AudioChannels;
    int32_t AudioSampleRate;
    int32_t AudioBitrate;
    TOther Other;
};

// The lossless WMA preset keeps the source's audio bit rate.
constexpr int32_t SourceBitrate = -2;

// One preset of the Audio class.
struct TAudioRow {
    const char* Format;
    int Preset;
    const char* AudioCodec;
    int32_t AudioChannels;
    int32_t AudioSampleRate;
    int32_t AudioBitrate;
    const char* ExtOptions;
    const char* VideoCodec;
};

// Values of a whole format, applied before its preset row.
struct TFormatValues {
    const char* Format;
    const char* VideoCodec;
    const char* AudioCodec;
    const char* FileFormat;
    const char* ExtOptions;
};

// The values below stand as they are although some look like slips (WAV 4 at 44000 Hz, M4A 1
// at 44800 Hz, AAC 1 and 2 at 22500 Hz, FLV 4 at 276x144, AVI 17 with a 705 kbit/s MP3, MP4 3
// at 640x420): saved presets must keep producing the same files. Empty codec cells leave the
// container's default codec.

// clang-format off
constexpr TFormatValues FormatValues[] = {
    // format       video codec   audio codec   muxer  option lines
    {"iPod",        "libx264",    "libfaac",    Nil,   X264DeviceOptions},
    {"iPhone",      "libx264",    "libfaac",    Nil,   X264DeviceOptions},
    {"AppleTV",     "libx264",    "libfaac",    Nil,   X264DeviceOptions},
    {"iPad",        "libx264",    "libfaac",    Nil,   X264DeviceOptions},
    {"Android",     "libx264",    "libfaac",    Nil,   X264DeviceOptions},
    {"PSP",         "libx264",    "libfaac",    "psp", X264PspOptions},
    {"MP3",         Nil,          "libmp3lame", Nil,   Nil},
    {"WMA",         Nil,          "wmav2",      Nil,   Nil},
    {"OGG",         "libtheora",  "libvorbis",  Nil,   Nil},
    {"AAC",         Nil,          "libfaac",    Nil,   Nil},
    {"FLAC",        Nil,          "flac",       Nil,   Nil},
};

// format, #, video codec, extras, frame size, frame rate, video bit rate,
// audio codec, channels, sample rate, audio bit rate, other
constexpr TPictureRow VideoRows[] = {
    {"AVI",  0,  "mpeg4",      Tag("XVID"), "1280x720",  Nil,          4500000,  "libmp3lame",   2,   44100, 192000,  Aspect("16:9")},
    {"AVI",  1,  "libx264",    X264Default, "1920x1080", Nil,          4200000,  "libmp3lame",   2,   44100, 256000,  Aspect("16:9")},
    {"AVI",  2,  "mpeg4",      Tag("XVID"), Nil,         Nil,          2500000,  "libmp3lame",   2,   44100, 256000,  {}},
    {"AVI",  3,  "mpeg4",      Tag("XVID"), Nil,         Nil,          1500000,  "libmp3lame",   2,   44100, 192000,  {}},
    {"AVI",  4,  "mpeg4",      Tag("XVID"), Nil,         Nil,          768000,   "libmp3lame",   2,   44100, 96000,   {}},
    {"AVI",  5,  "mpeg4",      Tag("XVID"), "720x540",   Nil,          2500000,  "libmp3lame",   2,   44100, 256000,  {}},
    {"AVI",  6,  "mpeg4",      Tag("XVID"), "512x384",   Nil,          1500000,  "libmp3lame",   2,   44100, 192000,  {}},
    {"AVI",  7,  "mpeg4",      Tag("XVID"), "320x240",   Nil,          768000,   "libmp3lame",   2,   44100, 96000,   {}},
    {"AVI",  8,  "libx264",    X264Default, Nil,         Nil,          1200000,  "libmp3lame",   2,   44100, 192000,  {}},
    {"AVI",  9,  "libx264",    X264Default, Nil,         Nil,          768000,   "libmp3lame",   2,   44100, 96000,   {}},
    {"AVI",  10, "mpeg4",      Tag("FMP4"), "320x240",   Nil,          460000,   "libmp3lame",   2,   44100, 96000,   {}},
    {"AVI",  11, "mpeg4",      Tag("FMP4"), "240x180",   Nil,          324000,   "libmp3lame",   2,   44100, 96000,   {}},
    {"AVI",  12, "mpeg4",      Tag("XVID"), Nil,         Nil,          1600000,  "libmp3lame",   2,   44100, 192000,  {}},
    {"AVI",  13, "mpeg4",      Tag("XVID"), "480x272",   Nil,          760000,   "libmp3lame",   2,   44100, 128000,  {}},
    {"AVI",  14, "mpeg4",      Tag("XVID"), "720x480",   Nil,          1400000,  "libmp3lame",   2,   44100, 192000,  {}},
    {"AVI",  15, "mpeg4",      Tag("XVID"), "640x480",   Nil,          1000000,  "libmp3lame",   2,   44100, 192000,  {}},
    {"AVI",  16, "mpeg4",      Tag("XVID"), "320x240",   Nil,          600000,   "libmp3lame",   2,   44100, 128000,  {}},
    {"AVI",  17, "mpeg4",      Tag("XVID"), "720x480",   "30",         1200000,  "libmp3lame",   2,   44100, 705000,  {}},
    {"AVI",  18, "mpeg4",      Tag("XVID"), "320x240",   "15",         224000,   "libmp3lame",   2,   44100, 96000,   {}},
    {"AVI",  19, "mpeg4",      Tag("XVID"), "320x240",   "15",         460000,   "libmp3lame",   2,   44100, 96000,   {}},
    {"AVI",  20, "mpeg4",      Tag("XVID"), "160x120",   "15",         480000,   "libmp3lame",   2,   44100, 128000,  {}},
    {"AVI",  21, "mjpeg",      NoExtras,    "640x480",   Nil,          4096000,  "pcm_s16le",    2,   44100, 1411000, {}},
    {"AVI",  22, "mpeg4",      Tag("XVID"), "640x480",   "25",         1500000,  "libmp3lame",   2,   44100, 128000,  {}},
    {"AVI",  23, "mpeg4",      Tag("XVID"), "320x240",   "30",         768000,   "libmp3lame",   2,   44100, 96000,   {}},
    {"AVI",  24, "mpeg4",      Tag("XVID"), "640x480",   "30",         2000000,  "libmp3lame",   2,   44100, 128000,  {}},
    {"AVI",  25, "mpeg4",      Tag("XVID"), "320x240",   Nil,          2700000,  "libmp3lame",   2,   44100, 128000,  {}},
    {"AVI",  26, "mpeg4",      Tag("XVID"), "320x240",   "25",         1000000,  "libmp3lame",   2,   44100, 128000,  {}},
    {"AVI",  27, "mpeg4",      Tag("DIVX"), Nil,         Nil,          1200000,  "libmp3lame",   2,   44100, 192000,  {}},
    {"AVI",  28, "rawvideo",   NoExtras,    Nil,         Nil,          Nil,      "pcm_s16le",    2,   44100, 1411000, {}},
    {"MP4",  0,  "libx264",    BlockA,      "320x240",   "30",         640000,   "libfaac",      2,   44100, 128000,  {}},
    {"MP4",  1,  "libx264",    BlockA,      "640x480",   "30",         640000,   "libfaac",      2,   44100, 128000,  {}},
    {"MP4",  2,  "mpeg4",      NoExtras,    "320x240",   "30",         600000,   "libfaac",      2,   44100, 128000,  {}},
    {"MP4",  3,  "libx264",    BlockA,      "640x420",   "30",         640000,   "libfaac",      2,   44100, 128000,  {}},
    {"MP4",  4,  "libx264",    X264Default, "848x480",   "30000/1001", 2600000,  "libfaac",      2,   48000, 256000,  Aspect("16:9")},
    {"MP4",  5,  "libx264",    BlockB,      "848x480",   "30000/1001", 2600000,  "libfaac",      2,   48000, 256000,  PspFile | Aspect("16:9")},
    {"MP4",  6,  "libx264",    BlockB,      "848x480",   "30000/1001", 2600000,  "libfaac",      2,   48000, 768000,  PspFile | Aspect("16:9")},
    {"MP4",  7,  "libx264",    BlockB,      "368x208",   "30000/1001", 520000,   "libfaac",      2,   48000, 128000,  PspFile | Aspect("16:9")},
    {"MP4",  8,  "libx264",    BlockB,      "480x272",   "30000/1001", 720000,   "libfaac",      2,   48000, 128000,  PspFile | Aspect("16:9")},
    {"MP4",  9,  "mpeg4",      NoExtras,    "640x480",   Nil,          1200000,  "libfaac",      2,   24000, 96000,   {}},
    {"MP4",  10, "mpeg4",      NoExtras,    "320x240",   Nil,          640000,   "libfaac",      2,   22050, 64000,   {}},
    {"MP4",  11, "mpeg4",      NoExtras,    "720x480",   Nil,          1200000,  "libfaac",      2,   48000, 96000,   {}},
    {"MP4",  12, "mpeg4",      NoExtras,    "176x144",   "15",         120000,   "libfaac",      2,   44100, 96000,   {}},
    {"MP4",  13, "mpeg4",      NoExtras,    "128x96",    "12",         56000,    "libfaac",      2,   22050, 56000,   {}},
    {"MP4",  14, "mpeg4",      NoExtras,    Nil,         "25",         2500000,  "libfaac",      2,   48000, 256000,  {}},
    {"MP4",  15, "mpeg4",      NoExtras,    Nil,         "25",         1200000,  "libfaac",      2,   48000, 192000,  {}},
    {"MP4",  16, "mpeg4",      NoExtras,    Nil,         "25",         700000,   "libfaac",      2,   48000, 128000,  {}},
    {"MP4",  17, "mpeg4",      NoExtras,    "640x480",   "24",         1500000,  "libfaac",      2,   48000, 128000,  {}},
    {"MP4",  18, "mpeg4",      NoExtras,    "320x240",   "30",         768000,   "libfaac",      2,   48000, 96000,   {}},
    {"FLV",  0,  "libx264",    X264Default, Nil,         Nil,          1200000,  Nil,            2,   44100, 160000,  {}},
    {"FLV",  1,  "libx264",    X264Default, Nil,         "20",         930000,   Nil,            2,   44100, 160000,  {}},
    {"FLV",  2,  Nil,          NoExtras,    "352x288",   "15",         780000,   Nil,            2,   22050, 64000,   {}},
    {"FLV",  3,  Nil,          NoExtras,    "320x240",   "15",         640000,   Nil,            2,   11025, 48000,   {}},
    {"FLV",  4,  Nil,          NoExtras,    "276x144",   "15",         480000,   Nil,            1,   11025, 24000,   {}},
    {"SWF",  0,  Nil,          NoExtras,    Nil,         "25",         1200000,  Nil,            2,   44100, 160000,  {}},
    {"SWF",  1,  Nil,          NoExtras,    Nil,         "25",         920000,   Nil,            2,   44100, 112000,  {}},
    {"SWF",  2,  Nil,          NoExtras,    "352x288",   "15",         780000,   Nil,            2,   22050, 64000,   {}},
    {"SWF",  3,  Nil,          NoExtras,    "320x240",   "25",         640000,   Nil,            2,   11025, 48000,   {}},
    {"SWF",  4,  Nil,          NoExtras,    "176x144",   "15",         480000,   Nil,            1,   11025, 24000,   {}},
    {"MPEG", 0,  "mpeg2video", NoExtras,    "1920x1080", "30000/1001", 15000000, "mp2",          2,   48000, 224000,  Aspect("4:3") | Limits(15000000, 6881000)},
    {"MPEG", 1,  "mpeg2video", NoExtras,    "1280x720",  "30000/1001", 9000000,  "mp2",          2,   48000, 224000,  Aspect("4:3")},
    {"MPEG", 2,  Nil,          NoExtras,    Nil,         "30000/1001", 4000000,  "mp2",          2,   48000, 224000,  Aspect("4:3") | Target(ttDVD, tnNTSC)},
    {"MPEG", 3,  Nil,          NoExtras,    Nil,         "25",         4000000,  "mp2",          2,   48000, 224000,  Aspect("4:3") | Target(ttDVD, tnPAL)},
    {"MPEG", 4,  "mpeg1video", NoExtras,    Nil,         "30000/1001", 4000000,  "mp2",          2,   44100, 224000,  Limits(4000000, 1835000)},
    {"MPEG", 5,  "mpeg2video", NoExtras,    Nil,         "30000/1001", 4000000,  "mp2",          2,   44100, 224000,  Limits(4000000, 1835000)},
    {"MPEG", 6,  "mpeg1video", NoExtras,    "720x480",   "30000/1001", 1150000,  "mp2",          2,   44100, 128000,  Limits(1150000, 527000)},
    {"MPEG", 7,  "mpeg1video", NoExtras,    "720x480",   "30000/1001", 860000,   "mp2",          2,   44100, 128000,  Limits(860000, 394000)},
    {"MPEG", 8,  "mpeg1video", NoExtras,    "320x240",   "30000/1001", 780000,   "mp2",          2,   44100, 112000,  Limits(780000, 357000)},
    {"MPEG", 9,  "mpeg1video", NoExtras,    "720x480",   "30",         2000000,  "mp2",          2,   44100, 192000,  Limits(2000000, 917000)},
    {"MPEG", 10, Nil,          NoExtras,    Nil,         "30000/1001", 2376000,  "mp2",          2,   44100, 224000,  Aspect("4:3") | Target(ttSVCD, tnNTSC)},
    {"MPEG", 11, Nil,          NoExtras,    Nil,         "25",         2376000,  "mp2",          2,   44100, 224000,  Aspect("4:3") | Target(ttSVCD, tnPAL)},
    {"MPEG", 12, Nil,          NoExtras,    Nil,         "30000/1001", 1150000,  "mp2",          2,   44100, 224000,  Aspect("4:3") | Target(ttVCD, tnNTSC)},
    {"MPEG", 13, Nil,          NoExtras,    Nil,         "25",         1150000,  "mp2",          2,   44100, 224000,  Aspect("4:3") | Target(ttVCD, tnPAL)},
    {"RM",   0,  "rv20",       NoExtras,    Nil,         Nil,          1024000,  Nil,            Nil, Nil,   Nil,     {}},
    {"RM",   1,  "rv20",       NoExtras,    Nil,         Nil,          750000,   Nil,            Nil, Nil,   Nil,     {}},
    {"RM",   2,  "rv20",       NoExtras,    Nil,         Nil,          512000,   Nil,            Nil, Nil,   Nil,     {}},
    {"RM",   3,  "rv20",       NoExtras,    Nil,         Nil,          256000,   Nil,            Nil, Nil,   Nil,     {}},
    {"RM",   4,  "rv20",       NoExtras,    Nil,         Nil,          128000,   Nil,            Nil, Nil,   Nil,     {}},
    {"WMV",  0,  "wmv2",       NoExtras,    "1920x1080", "30000/1001", 9000000,  "wmav2",        2,   48000, 384000,  {}},
    {"WMV",  1,  "wmv2",       NoExtras,    "1280x720",  "30000/1001", 7000000,  "wmav2",        2,   48000, 384000,  {}},
    {"WMV",  2,  "wmv2",       NoExtras,    "320x240",   "25",         1112000,  "wmav2",        2,   44100, 192000,  {}},
    {"WMV",  3,  "wmv2",       NoExtras,    "320x240",   "25",         568000,   "wmav2",        2,   44100, 128000,  {}},
    {"WMV",  4,  "wmv2",       NoExtras,    "192x144",   "20",         176000,   "wmav2",        2,   32000, 48000,   {}},
    {"WMV",  5,  "wmv2",       NoExtras,    "352x288",   "25",         920000,   "wmav2",        2,   44100, 128000,  {}},
    {"WMV",  6,  "wmv2",       NoExtras,    "320x240",   "25",         600000,   "wmav2",        2,   44100, 128000,  {}},
    {"WMV",  7,  "wmv2",       NoExtras,    "352x288",   "25",         400000,   "wmav2",        2,   44100, 96000,   {}},
    {"WMV",  8,  "wmv2",       NoExtras,    "480x272",   "25",         700000,   "wmav2",        2,   44100, 192000,  {}},
    {"WMV",  9,  "wmv2",       NoExtras,    "320x240",   "25",         720000,   "wmav2",        2,   44100, 128000,  {}},
    {"WMV",  10, "wmv2",       NoExtras,    "320x240",   "25",         480000,   "wmav2",        2,   44100, 128000,  {}},
    {"WMV",  11, "wmv2",       NoExtras,    "352x288",   "24",         768000,   "wmav2",        2,   44100, 128000,  {}},
    {"WMV",  12, "wmv2",       NoExtras,    "320x240",   "30",         768000,   "wmav2",        2,   48000, 128000,  {}},
    {"WMV",  13, "wmv2",       NoExtras,    "320x240",   "25",         380000,   "wmav2",        2,   44100, 128000,  {}},
    {"WMV",  14, "wmv2",       NoExtras,    "320x240",   "25",         220000,   "wmav2",        2,   44100, 96000,   {}},
    {"WMV",  15, "wmv2",       NoExtras,    "320x240",   "25",         2500000,  "wmav2",        2,   48000, 196000,  {}},
    {"WMV",  16, "wmv2",       NoExtras,    "320x240",   "25",         720000,   "wmav2",        2,   44100, 128000,  {}},
    {"WMV",  17, "wmv2",       NoExtras,    "320x240",   "25",         480000,   "wmav2",        2,   44100, 96000,   {}},
    {"MOV",  0,  "libx264",    X264Default, Nil,         Nil,          1200000,  "libfaac",      2,   48000, 320000,  {}},
    {"MOV",  1,  "libx264",    X264Default, "848x480",   Nil,          1200000,  "libfaac",      2,   48000, 320000,  {}},
    {"MOV",  2,  "libx264",    X264Default, "720x576",   Nil,          1200000,  "libfaac",      2,   48000, 320000,  {}},
    {"MOV",  3,  "mjpeg",      NoExtras,    Nil,         Nil,          16384000, "libmp3lame",   2,   44100, 256000,  {}},
    {"MOV",  4,  "h263",       NoExtras,    "352x288",   Nil,          6144000,  "libmp3lame",   2,   44100, 128000,  {}},
    {"MOV",  5,  "mpeg4",      NoExtras,    Nil,         Nil,          921600,   "libmp3lame",   2,   44100, 192000,  {}},
    {"MOV",  6,  "h263",       NoExtras,    "176x144",   Nil,          4014080,  "libmp3lame",   2,   44100, 128000,  {}},
    {"MOV",  7,  "mpeg4",      NoExtras,    Nil,         Nil,          614400,   "libmp3lame",   2,   44100, 96000,   {}},
    {"MOV",  8,  "svq1",       NoExtras,    Nil,         Nil,          921600,   "libmp3lame",   2,   44100, 96000,   {}},
    {"MOV",  9,  "svq1",       NoExtras,    Nil,         Nil,          921600,   "adpcm_ima_qt", 2,   44100, 352000,  {}},
    {"3GP",  0,  "h263",       NoExtras,    "176x144",   "12",         240000,   Nil,            1,   8000,  12200,   {}},
    {"3GP",  1,  "mpeg4",      NoExtras,    "176x144",   "15",         104000,   "libfaac",      1,   32000, 64000,   {}},
    {"3GP",  2,  "mpeg4",      NoExtras,    "176x144",   "12",         64000,    Nil,            1,   8000,  12200,   {}},
    {"3GP",  3,  "h263",       NoExtras,    "128x96",    "10",         140000,   Nil,            1,   8000,  10200,   {}},
    {"3GP",  4,  "mpeg4",      NoExtras,    "128x96",    "10",         44000,    Nil,            1,   8000,  6700,    {}},
};

constexpr TPictureRow DeviceRows[] = {
    {"iPod",        0, "libx264", BlockA,      "640x480", "30", 2500000, "libfaac", 2, 48000, 160000, {}},
    {"iPod",        1, "libx264", BlockA,      "480x320", "30", 2500000, "libfaac", 2, 48000, 160000, {}},
    {"iPod",        2, "libx264", BlockA,      "480x320", "24", 1300000, "libfaac", 2, 44100, 128000, {}},
    {"iPod",        3, "libx264", BlockA,      "320x240", "15", 500000,  "libfaac", 2, 44100, 128000, {}},
    {"iPod",        4, "libx264", BlockA,      "320x240", "30", 2500000, "libfaac", 2, 48000, 160000, {}},
    {"iPod",        5, "libx264", BlockA,      "320x240", "24", 1000000, "libfaac", 2, 44100, 128000, {}},
    {"iPod",        6, "libx264", BlockA,      "320x240", "15", 500000,  "libfaac", 2, 44100, 128000, {}},
    {"iPod",        7, "libx264", BlockA,      "320x240", "30", 2500000, "libfaac", 2, 48000, 160000, {}},
    {"iPod",        8, "libx264", BlockA,      "320x240", "24", 1000000, "libfaac", 2, 44100, 128000, {}},
    {"iPod",        9, "libx264", BlockA,      "320x240", "15", 500000,  "libfaac", 2, 44100, 128000, {}},
    {"iPhone",      0, "libx264", BlockA,      "640x480", "30", 2500000, "libfaac", 2, 48000, 160000, {}},
    {"iPhone",      1, "libx264", BlockA,      "480x320", "30", 1300000, "libfaac", 2, 44100, 128000, {}},
    {"iPhone",      2, "libx264", BlockA,      "320x240", "15", 500000,  "libfaac", 2, 44100, 128000, {}},
    {"AppleTV",     0, "libx264", BlockA,      "640x480", "24", 5000000, "libfaac", 2, 48000, 160000, {}},
    {"AppleTV",     1, "libx264", BlockA,      "720x540", "24", 2000000, "libfaac", 2, 44100, 128000, {}},
    {"AppleTV",     2, "libx264", BlockA,      "480x360", "24", 1000000, "libfaac", 2, 44100, 128000, {}},
    {"PSP",         0, "libx264", BlockB,      "480x272", "30", 1500000, "libfaac", 2, 48000, 160000, PspFile},
    {"PSP",         1, "libx264", BlockB,      "368x208", "24", 1000000, "libfaac", 2, 44100, 128000, PspFile},
    {"PSP",         2, "libx264", BlockB,      "368x208", "15", 500000,  "libfaac", 2, 44100, 128000, PspFile},
    {"BlackBerry",  0, "libx264", X264Default, "640x480", "30", 2500000, "libfaac", 2, 48000, 160000, {}},
    {"BlackBerry",  1, "libx264", X264Default, "480x320", "30", 1300000, "libfaac", 2, 44100, 128000, {}},
    {"BlackBerry",  2, "libx264", X264Default, "320x240", "15", 500000,  "libfaac", 2, 44100, 128000, {}},
    {"MobilePhone", 0, "mpeg4",   NoExtras,    "320x240", "15", 600000,  "libfaac", 2, 48000, 192000, {}},
    {"MobilePhone", 1, "mpeg4",   NoExtras,    "176x144", "15", 256000,  "libfaac", 2, 44100, 128000, {}},
    {"MobilePhone", 2, "mpeg4",   NoExtras,    "176x144", "12", 146000,  "libfaac", 2, 32000, 96000,  {}},
    {"MobilePhone", 3, "mpeg4",   NoExtras,    "128x96",  "10", 119000,  "libfaac", 2, 22050, 64000,  {}},
    {"iPad",        0, "libx264", BlockA,      "640x480", "30", 2500000, "libfaac", 2, 48000, 160000, {}},
    {"iPad",        1, "libx264", BlockA,      "480x320", "30", 1300000, "libfaac", 2, 44100, 128000, {}},
    {"iPad",        2, "libx264", BlockA,      "320x240", "15", 500000,  "libfaac", 2, 44100, 128000, {}},
    {"Android",     0, "libx264", BlockA,      "640x480", "30", 2500000, "libfaac", 2, 48000, 160000, {}},
    {"Android",     1, "libx264", BlockA,      "480x320", "30", 1300000, "libfaac", 2, 44100, 128000, {}},
    {"Android",     2, "libx264", BlockA,      "320x240", "15", 500000,  "libfaac", 2, 44100, 128000, {}},
};

// format, #, audio codec, channels, sample rate, audio bit rate, option lines, video codec
constexpr TAudioRow AudioRows[] = {
    {"WAV",  0, "pcm_s16le",  1,   11025, Nil,           Nil,                   Nil},
    {"WAV",  1, "pcm_s16le",  1,   22050, Nil,           Nil,                   Nil},
    {"WAV",  2, "pcm_s24le",  2,   22050, Nil,           Nil,                   Nil},
    {"WAV",  3, "pcm_s32le",  2,   48000, Nil,           Nil,                   Nil},
    {"WAV",  4, "pcm_s16le",  2,   44000, Nil,           Nil,                   Nil},
    {"MP3",  0, "libmp3lame", 2,   44100, 112000,        Nil,                   Nil},
    {"MP3",  1, "libmp3lame", 2,   48000, 128000,        Nil,                   Nil},
    {"MP3",  2, "libmp3lame", 2,   48000, 256000,        Nil,                   Nil},
    {"MP3",  3, "libmp3lame", 2,   48000, 320000,        Nil,                   Nil},
    {"WMA",  0, "wmav2",      2,   48000, 192000,        Nil,                   Nil},
    {"WMA",  1, "wmav2",      2,   44100, 96000,         Nil,                   Nil},
    {"WMA",  2, "wmav2",      2,   44100, 128000,        Nil,                   Nil},
    {"WMA",  3, "wmav2",      2,   44100, 128000,        Nil,                   Nil},
    {"WMA",  4, "wmav2",      2,   48000, SourceBitrate, Nil,                   Nil},
    {"OGG",  0, "libvorbis",  Nil, 11025, Nil,           "aq=4.97",             "libtheora"},
    {"OGG",  1, "libvorbis",  Nil, 22050, Nil,           "aq=4.97",             "libtheora"},
    {"OGG",  2, "libvorbis",  Nil, 22050, Nil,           "aq=4.97",             "libtheora"},
    {"OGG",  3, "libvorbis",  Nil, 44100, Nil,           "aq=4.97",             "libtheora"},
    {"OGG",  4, "libvorbis",  Nil, 48000, Nil,           "aq=8.05",             "libtheora"},
    {"AAC",  0, "libfaac",    1,   16000, 96000,         Nil,                   Nil},
    {"AAC",  1, "libfaac",    1,   22500, 112000,        Nil,                   Nil},
    {"AAC",  2, "libfaac",    2,   22500, 224000,        Nil,                   Nil},
    {"AAC",  3, "libfaac",    2,   44100, 256000,        Nil,                   Nil},
    {"AAC",  4, "libfaac",    2,   48000, 256000,        Nil,                   Nil},
    {"M4A",  0, Nil,          2,   44100, 96000,         Nil,                   Nil},
    {"M4A",  1, Nil,          2,   44800, 256000,        Nil,                   Nil},
    {"FLAC", 0, "flac",       Nil, Nil,   Nil,           "compression_level=0", Nil},
    {"FLAC", 1, "flac",       Nil, Nil,   Nil,           "compression_level=1", Nil},
    {"FLAC", 2, "flac",       Nil, Nil,   Nil,           "compression_level=2", Nil},
    {"FLAC", 3, "flac",       Nil, Nil,   Nil,           "compression_level=3", Nil},
    {"FLAC", 4, "flac",       Nil, Nil,   Nil,           "compression_level=4", Nil},
    {"FLAC", 5, "flac",       Nil, Nil,   Nil,           "compression_level=5", Nil},
    {"FLAC", 6, "flac",       Nil, Nil,   Nil,           "compression_level=6", Nil},
    {"FLAC", 7, "flac",       Nil, Nil,   Nil,           "compression_level=7", Nil},
    {"FLAC", 8, "flac",       Nil, Nil,   Nil,           "compression_level=8", Nil},
    {"MP2",  0, Nil,          1,   22050, 96000,         Nil,                   Nil},
    {"MP2",  1, Nil,          1,   22050, 112000,        Nil,                   Nil},
    {"MP2",  2, Nil,          2,   22050, 128000,        Nil,                   Nil},
};
// clang-format on

template <class TRow, size_t N>
const TRow* FindRow(const TRow (&rows)[N], std::string_view format, int preset) {
    for (const TRow& row : rows)
        if (row.Format == format && row.Preset == preset)
            return &row;
    return nullptr;
}

void SetText(std::string& field, const char* value) {
    if (value)
        field = value;
}

void SetNumber(int32_t& field, int32_t value) {
    if (value > 0)
        field = value;
}

void ApplyFormatValues(TOutputOptions& o, const TOutputFormat& format) {
    for (const TFormatValues& v : FormatValues) {
        if (v.Format != format.Name)
            continue;
        SetText(o.VideoCodec, v.VideoCodec);
        SetText(o.AudioCodec, v.AudioCodec);
        SetText(o.FileFormat, v.FileFormat);
        SetText(o.ExtOptions, v.ExtOptions);
    }
}

void ApplyPictureRow(TOutputOptions& o, const TPictureRow& row) {
    SetText(o.VideoCodec, row.VideoCodec);
    SetText(o.VideoTag, row.Extras.Tag);
    SetText(o.VideoPreset, row.Extras.Preset);
    SetText(o.ExtOptions, row.Extras.Options);
    SetText(o.FrameSize, row.FrameSize);
    SetText(o.FrameRate, row.FrameRate);
    SetNumber(o.VideoBitrate, row.VideoBitrate);
    SetText(o.AudioCodec, row.AudioCodec);
    SetNumber(o.AudioChannels, row.AudioChannels);
    SetNumber(o.AudioSampleRate, row.AudioSampleRate);
    SetNumber(o.AudioBitrate, row.AudioBitrate);
    SetText(o.FileFormat, row.Other.FileFormat);
    SetText(o.FrameAspectRatio, row.Other.Aspect);
    SetNumber(o.VideoMinRate, row.Other.RateLimit);
    SetNumber(o.VideoMaxRate, row.Other.RateLimit);
    SetNumber(o.VideoBufSize, row.Other.BufSize);
    SetNumber(o.TargetType, row.Other.TargetType);
    SetNumber(o.TargetNorm, row.Other.TargetNorm);
}

void ApplyAudioRow(TOutputOptions& o, const TAudioRow& row, TMappingMode mode,
                   int32_t sourceAudioBitrate) {
    SetText(o.AudioCodec, row.AudioCodec);
    SetNumber(o.AudioChannels, row.AudioChannels);
    SetNumber(o.AudioSampleRate, row.AudioSampleRate);
    if (row.AudioBitrate == SourceBitrate) {
        // Per file, the source's rate; 0 when it has none, which leaves the engine default.
        if (mode == mmPerFile)
            o.AudioBitrate = sourceAudioBitrate > 0 ? sourceAudioBitrate : 0;
    } else {
        SetNumber(o.AudioBitrate, row.AudioBitrate);
    }
    SetText(o.ExtOptions, row.ExtOptions);
    SetText(o.VideoCodec, row.VideoCodec);
}

// A free name in the folder that is not in planned either, in the order clip.mp4,
// clip(1).mp4, clip(2).mp4, ...
std::string FreeName(const std::string& name, const std::string& folder,
                     const TPlannedNames* planned) {
    if (!planned || planned->empty())
        return UniqueFileName(name, folder);
    const std::string base = StripExtension(name);
    const std::string ext = ExtractFileExt(name);
    std::string candidate = name;
    for (int i = 1; i <= UniqueFileCap; ++i) {
        // UniqueFileName keeps a name only when nothing exists under it.
        if (!planned->count(folder + candidate) && UniqueFileName(candidate, folder) == candidate)
            return candidate;
        candidate = base + "(" + std::to_string(i) + ")" + ext;
    }
    return candidate;
}

std::string PlanPath(const std::string& outputFolder, const std::string& name,
                     TPlannedNames* planned) {
    const std::string folder = AddTrailingBackslash(outputFolder);
    const std::string path = folder + FreeName(name, folder, planned);
    if (planned)
        planned->insert(path);
    return path;
}

} // namespace

TOutputSelection CurrentSelection(const TGlobalVars& vars) {
    TOutputSelection s;
    s.Class = vars.OutputFormatClass;
    s.Format = SelectedFormatIndex(vars, s.Class);
    const TOutputFormat* format = FindFormat(s.Class, s.Format);
    s.Preset = format ? StoredPreset(vars, *format) : -1;
    return s;
}

std::string SelectionExtension(const TOutputSelection& selection) {
    const TOutputFormat* format = FindFormat(selection.Class, selection.Format);
    return format ? std::string(format->Extension) : std::string();
}

std::string FileOutputPath(const std::string& outputFolder, const std::string& inputFileName,
                           const std::string& ext, TPlannedNames* planned) {
    return PlanPath(outputFolder, StripExtension(ExtractFileName(inputFileName)) + ext, planned);
}

std::string MergeOutputPath(const std::string& outputFolder, const std::string& ext,
                            TPlannedNames* planned) {
    return PlanPath(outputFolder, MergeOutputBaseName + ext, planned);
}

void ApplyPresetOptions(TOutputOptions& o, const TOutputSelection& selection, TMappingMode mode,
                        int32_t sourceAudioBitrate) {
    switch (selection.Class) {
    case ocVideo:
        o.DisableVideo = false;
        break;
    case ocAudio:
        o.DisableVideo = true;
        break;
    case ocDevice:
        break;
    default:
        return;
    }
    const TOutputFormat* format = FindFormat(selection.Class, selection.Format);
    if (!format)
        return;
    ApplyFormatValues(o, *format);
    switch (selection.Class) {
    case ocVideo:
        if (const TPictureRow* row = FindRow(VideoRows, format->Name, selection.Preset))
            ApplyPictureRow(o, *row);
        break;
    case ocDevice:
        if (const TPictureRow* row = FindRow(DeviceRows, format->Name, selection.Preset))
            ApplyPictureRow(o, *row);
        break;
    case ocAudio:
        if (const TAudioRow* row = FindRow(AudioRows, format->Name, selection.Preset))
            ApplyAudioRow(o, *row, mode, sourceAudioBitrate);
        break;
    }
}

TOutputOptions FileOutputOptions(const TOutputSelection& selection, const std::string& outputFolder,
                                 const TProbedInput& input, TPlannedNames* planned) {
    TOutputOptions o;
    InitOutputOptions(o);
    o.FileName =
        FileOutputPath(outputFolder, input.FileName, SelectionExtension(selection), planned);
    ApplyPresetOptions(o, selection, mmPerFile, input.AudioBitRate);
    return o;
}

TInputOptions FileInputOptions(const TProbedInput& input) {
    TInputOptions i;
    InitInputOptions(i);
    i.FileName = input.FileName;
    i.FileFormat = input.ForcedFormat;
    return i;
}

TOutputOptions MergeOutputOptions(const TOutputSelection& selection,
                                  const std::string& outputFolder, TPlannedNames* planned) {
    TOutputOptions o;
    InitOutputOptions(o);
    o.FileName = MergeOutputPath(outputFolder, SelectionExtension(selection), planned);
    ApplyPresetOptions(o, selection, mmMerge);
    o.Join = true;
    return o;
}

TOutputOptions FileOutputOptions(const TGlobalVars& vars, const TProbedInput& input,
                                 TPlannedNames* planned) {
    return FileOutputOptions(CurrentSelection(vars), vars.OutputFileDir, input, planned);
}

TOutputOptions MergeOutputOptions(const TGlobalVars& vars, TPlannedNames* planned) {
    return MergeOutputOptions(CurrentSelection(vars), vars.OutputFileDir, planned);
}

} // namespace cw
