#include "convert/Catalogue.h"

#include "app/Utils.h"
#include "convert/PresetMapping.h"
#include "convert/PresetRows.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace cw {
namespace {

constexpr TVideoExtras NoExtras{};
constexpr TVideoExtras Tag(const char* fourcc) {
    return {fourcc, nullptr, nullptr};
}
constexpr TVideoExtras Options(const char* lines) {
    return {nullptr, nullptr, lines};
}
constexpr TVideoExtras X264Default{nullptr, "libx264-default", nullptr};
constexpr TVideoExtras BlockA = Options(X264DeviceOptions);
constexpr TVideoExtras BlockB = Options(X264PspOptions);

// Today's encoders take their quality as a constant rate factor (the rows give no bit rate)
// with the speed settings people expect of them: x265 "medium", SVT-AV1 preset 8. VP9 gets
// row multithreading (its tile columns follow the picture width, set by the engine); without
// both it runs on one core.
constexpr TVideoExtras HevcCrf24 = Options("crf=24\r\npreset=medium");
constexpr TVideoExtras HevcTaggedCrf24{"hvc1", nullptr, "crf=24\r\npreset=medium"};
// Ten bits asked for keep an HDR source's range, primaries and mastering metadata.
constexpr TVideoExtras Hevc10BitCrf24 = Options("crf=24\r\npreset=medium\r\npix_fmt=yuv420p10le");
constexpr TVideoExtras X264Crf20 = Options("crf=20\r\npreset=medium");
// Every stream copied as it is: pictures and sound by the codec columns, subtitles here.
constexpr TVideoExtras CopyAll = Options("scodec=copy");

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

// The presets of every format: the text shown in the list, exactly as it stands (odd
// spellings, double blanks and the trailing blank of two iPod texts included: users and
// saved settings know them by position and text), and beside it what the preset sets.
//
// The values stand as they are although some look like slips (WAV 4 at 44000 Hz, M4A 1 at
// 44800 Hz, AAC 1 and 2 at 22500 Hz, FLV 4 at 276x144, AVI 17 with a 705 kbit/s MP3, MP4 3
// at 640x420): saved presets must keep producing the same files. Empty codec cells leave the
// container's default codec.
//
// Columns: text, video codec, video extras, frame size, frame rate, video bit rate,
// audio codec, channels, sample rate, audio bit rate, other.
// clang-format off
constexpr TPresetRow AVIPresets[] = {
    {"HD Video 720p: MPEG4 (DivX, XviD), 4500 kbps; Audio: MP3, 192 kbps",          "mpeg4",    Tag("XVID"), "1280x720",  Nil,  4500000, "libmp3lame", 2, 44100, 192000,  Aspect("16:9")},
    {"HD Video 1080p: H.264/AVC, 4200 kbps; Audio: MP3, 256 kbps",                  "libx264",  X264Default, "1920x1080", Nil,  4200000, "libmp3lame", 2, 44100, 256000,  Aspect("16:9")},
    {"Video: MPEG4 (DivX, XviD), 2500 kbps, Original; Audio: MP3, 256 kbps",        "mpeg4",    Tag("XVID"), Nil,         Nil,  2500000, "libmp3lame", 2, 44100, 256000,  {}},
    {"Video: MPEG4 (DivX, XviD), 1500 kbps, Original; Audio: MP3, 192 kbps",        "mpeg4",    Tag("XVID"), Nil,         Nil,  1500000, "libmp3lame", 2, 44100, 192000,  {}},
    {"Video: MPEG4 (DivX, XviD), 768 kbps, Original; Audio: MP3, 96 kbps",          "mpeg4",    Tag("XVID"), Nil,         Nil,  768000,  "libmp3lame", 2, 44100, 96000,   {}},
    {"Video: MPEG4 (DivX, XviD), 2500 kbps, 720x540; Audio: MP3, 256 kbps",         "mpeg4",    Tag("XVID"), "720x540",   Nil,  2500000, "libmp3lame", 2, 44100, 256000,  {}},
    {"Video: MPEG4 (DivX, XviD), 1500 kbps, 512x384; Audio: MP3, 192 kbps",         "mpeg4",    Tag("XVID"), "512x384",   Nil,  1500000, "libmp3lame", 2, 44100, 192000,  {}},
    {"Video: MPEG4 (DivX, XviD), 768 kbps, 320x240; Audio: MP3, 96 kbps",           "mpeg4",    Tag("XVID"), "320x240",   Nil,  768000,  "libmp3lame", 2, 44100, 96000,   {}},
    {"Video: H.264/AVC, 1200 kbps; Audio: MP3, 192 kbps",                           "libx264",  X264Default, Nil,         Nil,  1200000, "libmp3lame", 2, 44100, 192000,  {}},
    {"Video: H.264/AVC, 768 kbps; Audio: MP3, 96 kbps",                             "libx264",  X264Default, Nil,         Nil,  768000,  "libmp3lame", 2, 44100, 96000,   {}},
    {"BlackBerry 81xx - (MPEG4, 560 kbps, 320x240)",                                "mpeg4",    Tag("FMP4"), "320x240",   Nil,  460000,  "libmp3lame", 2, 44100, 96000,   {}},
    {"BlackBerry 8xxx - (MPEG4, 420 kbps, 240x180)",                                "mpeg4",    Tag("FMP4"), "240x180",   Nil,  324000,  "libmp3lame", 2, 44100, 96000,   {}},
    {"Archos AV500/700; 4-series (704,604,504,404) - (MPEG4, 1800 kbps, Original)", "mpeg4",    Tag("XVID"), Nil,         Nil,  1600000, "libmp3lame", 2, 44100, 192000,  {}},
    {"Archos AV500/700; 4-series (704,604,504,404) - (MPEG4, 900 kbps, 480x272)",   "mpeg4",    Tag("XVID"), "480x272",   Nil,  760000,  "libmp3lame", 2, 44100, 128000,  {}},
    {"Creative Zen Vision W - (MPEG4, 1800 kbps, 720x480)",                         "mpeg4",    Tag("XVID"), "720x480",   Nil,  1400000, "libmp3lame", 2, 44100, 192000,  {}},
    {"Creative Zen Vision - (MPEG4, 1200 kbps, 640x480)",                           "mpeg4",    Tag("XVID"), "640x480",   Nil,  1000000, "libmp3lame", 2, 44100, 192000,  {}},
    {"Creative Zen Vision M - (MPEG4, 720 kbps, 320x240)",                          "mpeg4",    Tag("XVID"), "320x240",   Nil,  600000,  "libmp3lame", 2, 44100, 128000,  {}},
    {"Epson P3000/P4500/P5000 - (MPEG4, 2 mbps, 720x480, 30 fps)",                  "mpeg4",    Tag("XVID"), "720x480",   "30", 1200000, "libmp3lame", 2, 44100, 705000,  {}},
    {"iRiver U20(Clix) - (MPEG4, 320 kbps, 320x240, 15 fps)",                       "mpeg4",    Tag("XVID"), "320x240",   "15", 224000,  "libmp3lame", 2, 44100, 96000,   {}},
    {"iRiver U10 Clix - (MPEG4, 560 kbps, 320x240, 15 fps)",                        "mpeg4",    Tag("XVID"), "320x240",   "15", 460000,  "libmp3lame", 2, 44100, 96000,   {}},
    {"iAudio X5 - Optimized for hardware - (MPEG4, 600 kbps, 160x120, 15 fps)",     "mpeg4",    Tag("XVID"), "160x120",   "15", 480000,  "libmp3lame", 2, 44100, 128000,  {}},
    {"Nindendo Wii Clip",                                                           "mjpeg",    NoExtras,    "640x480",   Nil,  4096000, "pcm_s16le",  2, 44100, 1411000, {}},
    {"SanDisk Sansa View - Hight Quality - (MPEG4, 640x480; MP3, 128kbps)",         "mpeg4",    Tag("XVID"), "640x480",   "25", 1500000, "libmp3lame", 2, 44100, 128000,  {}},
    {"SanDisk Sansa View - Normal Quality - (MPEG4, 320x240; MP3, 96kbps)",         "mpeg4",    Tag("XVID"), "320x240",   "30", 768000,  "libmp3lame", 2, 44100, 96000,   {}},
    {"Video for Google Video",                                                      "mpeg4",    Tag("XVID"), "640x480",   "30", 2000000, "libmp3lame", 2, 44100, 128000,  {}},
    {"Video for YouTube",                                                           "mpeg4",    Tag("XVID"), "320x240",   Nil,  2700000, "libmp3lame", 2, 44100, 128000,  {}},
    {"Video for Myspace",                                                           "mpeg4",    Tag("XVID"), "320x240",   "25", 1000000, "libmp3lame", 2, 44100, 128000,  {}},
    {"Video: DivX; Audio: MP3, 192 kbps",                                           "mpeg4",    Tag("DIVX"), Nil,         Nil,  1200000, "libmp3lame", 2, 44100, 192000,  {}},
    {"Video: Uncompressed, Original; Audio: PCM",                                   "rawvideo", NoExtras,    Nil,         Nil,  Nil,     "pcm_s16le",  2, 44100, 1411000, {}},
};

constexpr TPresetRow MP4Presets[] = {
    {"Apple iPod - (H.264, 320x240)",                                                 "libx264", BlockA,      "320x240", "30",         640000,  "libfaac", 2, 44100, 128000, {}},
    {"Apple iPod - (H.264, 640x480)",                                                 "libx264", BlockA,      "640x480", "30",         640000,  "libfaac", 2, 44100, 128000, {}},
    {"Apple iPod - (MPEG4, 320x240)",                                                 "mpeg4",   NoExtras,    "320x240", "30",         600000,  "libfaac", 2, 44100, 128000, {}},
    {"Apple iPhone/iTouch - (H.264,640x420)",                                         "libx264", BlockA,      "640x420", "30",         640000,  "libfaac", 2, 44100, 128000, {}},
    {"Microsoft XBox360 - Normal HD Quality 480p - (H.264, 29.97 fps, 848x480)",      "libx264", X264Default, "848x480", "30000/1001", 2600000, "libfaac", 2, 48000, 256000, Aspect("16:9")},
    {"Sony PS3 - Normal HD Quality 480p - (H.264, 29.97 fps, 848x480)",               "libx264", BlockB,      "848x480", "30000/1001", 2600000, "libfaac", 2, 48000, 256000, PspFile | Aspect("16:9")},
    {"Sony PS3 - Normal HD Quality 480p, Surround - (H.264, 29.97 fps, 848x480)",     "libx264", BlockB,      "848x480", "30000/1001", 2600000, "libfaac", 2, 48000, 768000, PspFile | Aspect("16:9")},
    {"Sony PSP - Normal - (H.264, 29.97 fps, 368x208)",                               "libx264", BlockB,      "368x208", "30000/1001", 520000,  "libfaac", 2, 48000, 128000, PspFile | Aspect("16:9")},
    {"Sony PSP - High Resolution - (H264, 29.97 fps, 480x272)",                       "libx264", BlockB,      "480x272", "30000/1001", 720000,  "libfaac", 2, 48000, 128000, PspFile | Aspect("16:9")},
    {"Epson P2000/P4000 - High Quality - (MPEG4, 640x480)",                           "mpeg4",   NoExtras,    "640x480", Nil,          1200000, "libfaac", 2, 24000, 96000,  {}},
    {"Epson P2000/P4000 - Economy Quality - (MPEG4, 320x240)",                        "mpeg4",   NoExtras,    "320x240", Nil,          640000,  "libfaac", 2, 22050, 64000,  {}},
    {"Epson P3000/P4500/P5000 - Best Quality - (MPEG4, 720x480)",                     "mpeg4",   NoExtras,    "720x480", Nil,          1200000, "libfaac", 2, 48000, 96000,  {}},
    {"Mobile - Standard Quality - (MPEG4, 176x144, 15 fps)",                          "mpeg4",   NoExtras,    "176x144", "15",         120000,  "libfaac", 2, 44100, 96000,  {}},
    {"Mobile - Economy Quality - (MPEG4, 128x96, 12 fps)",                            "mpeg4",   NoExtras,    "128x96",  "12",         56000,   "libfaac", 2, 22050, 56000,  {}},
    {"PC - High Quality - (MPEG4, 2500 kbps, Original Size, 25 fps)",                 "mpeg4",   NoExtras,    Nil,       "25",         2500000, "libfaac", 2, 48000, 256000, {}},
    {"PC - Standard Quality - (MPEG4, 1200 kbps, Original Size, 25 fps)",             "mpeg4",   NoExtras,    Nil,       "25",         1200000, "libfaac", 2, 48000, 192000, {}},
    {"PC - Economy Quality - (MPEG4, 700 kbps, Original Size, 25 fps)",               "mpeg4",   NoExtras,    Nil,       "25",         700000,  "libfaac", 2, 48000, 128000, {}},
    {"SanDisk Sansa View - Hight Quality - (MPEG4, 640x480; MPEG2/4 Audio, 128kbps)", "mpeg4",   NoExtras,    "640x480", "24",         1500000, "libfaac", 2, 48000, 128000, {}},
    {"SanDisk Sansa View - Normal Quality - (MPEG4, 320x240; MPEG2/4 Audio, 96kbps)", "mpeg4",   NoExtras,    "320x240", "30",         768000,  "libfaac", 2, 48000, 96000,  {}},
    {"MP4 - Copy Streams - (no re-encoding)",                                         "copy",      CopyAll,        Nil, Nil, Nil, "copy", Nil, Nil,   Nil,    {}},
    {"MP4 - HEVC - (H.265, CRF 24, Original; AAC, 160 kbps)",                         "libx265",   HevcTaggedCrf24, Nil, Nil, Nil, "aac",  Nil, Nil,   160000, {}},
    {"MP4 - AV1 - (AV1, CRF 32, Original; AAC, 160 kbps)",                            "libsvtav1", Options("crf=32\r\npreset=8"), Nil, Nil, Nil, "aac", Nil, Nil, 160000, {}},
};

constexpr TPresetRow FLVPresets[] = {
    {"FLV - Best Quality - (H.264, 1200 kbps, Original; MP3, 160 kbps)",               "libx264", X264Default, Nil,       Nil,  1200000, Nil, 2, 44100, 160000, {}},
    {"FLV - Normal Quality - (H.264, 920 kbps, Original size, 20 fps; MP3, 112 kbps)", "libx264", X264Default, Nil,       "20", 930000,  Nil, 2, 44100, 160000, {}},
    {"FLV - Optimal Quality - (H.263, 780 kbps, 352x288, 15 fps; MP3, 64 kbps)",       Nil,       NoExtras,    "352x288", "15", 780000,  Nil, 2, 22050, 64000,  {}},
    {"FLV - Low Quality - (H.263, 640 kbps, 320x240, 15 fps; MP3, 48 kbps)",           Nil,       NoExtras,    "320x240", "15", 640000,  Nil, 2, 11025, 48000,  {}},
    {"FLV - Least Quality - (H.263, 480 kbps, 176x144, 15 fps; MP3, 24 kbps)",         Nil,       NoExtras,    "276x144", "15", 480000,  Nil, 1, 11025, 24000,  {}},
};

constexpr TPresetRow SWFPresets[] = {
    {"SWF - Best Quality - (H.263, Original; MP3, 160 kbps)",                          Nil, NoExtras, Nil,       "25", 1200000, Nil, 2, 44100, 160000, {}},
    {"SWF - Normal Quality - (H.263, 920 kbps, Original size, 20 fps; MP3, 112 kbps)", Nil, NoExtras, Nil,       "25", 920000,  Nil, 2, 44100, 112000, {}},
    {"SWF - Optimal Quality - (H.263, 780 kbps, 352x288, 15 fps; MP3, 64 kbps)",       Nil, NoExtras, "352x288", "15", 780000,  Nil, 2, 22050, 64000,  {}},
    {"SWF - Low Quality - (H.263, 640 kbps, 320x240, 15 fps; MP3, 48 kbps)",           Nil, NoExtras, "320x240", "25", 640000,  Nil, 2, 11025, 48000,  {}},
    {"SWF - Least Quality - (H.263, 480 kbps, 176x144, 15 fps; MP3, 24 kbps)",         Nil, NoExtras, "176x144", "15", 480000,  Nil, 1, 11025, 24000,  {}},
};

constexpr TPresetRow MPEGPresets[] = {
    {"HD Video 1080p - (MPEG2, 15000 kbps, 1920x1080, 29.97 fps)",                     "mpeg2video", NoExtras, "1920x1080", "30000/1001", 15000000, "mp2", 2, 48000, 224000, Aspect("4:3") | Limits(15000000, 6881000)},
    {"HD Video 720p - (MPEG2, 9000 kbps, 1280x720, 29.97 fps)",                        "mpeg2video", NoExtras, "1280x720",  "30000/1001", 9000000,  "mp2", 2, 48000, 224000, Aspect("4:3")},
    {"DVD NTSC compatible - (MPEG2, 4000 kbps, 720x480, 29.97 fps)",                   Nil,          NoExtras, Nil,         "30000/1001", 4000000,  "mp2", 2, 48000, 224000, Aspect("4:3") | Target(ttDVD, tnNTSC)},
    {"DVD PAL compatible - (MPEG2, 4000 kbps, 720x576, 25 fps)",                       Nil,          NoExtras, Nil,         "25",         4000000,  "mp2", 2, 48000, 224000, Aspect("4:3") | Target(ttDVD, tnPAL)},
    {"Video: MPEG1, 4000 kbps, Original size, 29.97 fps; Audio: 224 kbps",             "mpeg1video", NoExtras, Nil,         "30000/1001", 4000000,  "mp2", 2, 44100, 224000, Limits(4000000, 1835000)},
    {"Video: MPEG2, 4000 kbps, Original size, 29.97 fps; Audio: 224 kbps",             "mpeg2video", NoExtras, Nil,         "30000/1001", 4000000,  "mp2", 2, 44100, 224000, Limits(4000000, 1835000)},
    {"Creative ZEN Vision W - Best Quality - (MPEG1, 1150 kbps, 720x480, 29.97 fps)",  "mpeg1video", NoExtras, "720x480",   "30000/1001", 1150000,  "mp2", 2, 44100, 128000, Limits(1150000, 527000)},
    {"Creative ZEN Vision - Standard Quality - (MPEG1, 860 kbps, 480x360, 29.97 fps)", "mpeg1video", NoExtras, "720x480",   "30000/1001", 860000,   "mp2", 2, 44100, 128000, Limits(860000, 394000)},
    {"Creative ZEN Vision M - Normal Quality - (MPEG1, 780 kbps, 320x240, 29.97 fps)", "mpeg1video", NoExtras, "320x240",   "30000/1001", 780000,   "mp2", 2, 44100, 112000, Limits(780000, 357000)},
    {"Epson P3000/P4500/P5000 - (MPEG2, 2000 kbps, 720x480, 30 fps)",                  "mpeg1video", NoExtras, "720x480",   "30",         2000000,  "mp2", 2, 44100, 192000, Limits(2000000, 917000)},
    {"SVCD NTSC compatible - (MPEG2, 2376 kbps, 480x480, 29.97 fps)",                  Nil,          NoExtras, Nil,         "30000/1001", 2376000,  "mp2", 2, 44100, 224000, Aspect("4:3") | Target(ttSVCD, tnNTSC)},
    {"SVCD PAL compatible - (MPEG2, 2376 kbps, 480x576, 25 fps)",                      Nil,          NoExtras, Nil,         "25",         2376000,  "mp2", 2, 44100, 224000, Aspect("4:3") | Target(ttSVCD, tnPAL)},
    {"VCD NTSC compatible - (MPEG1, 1150 kbps, 352x240, 29.97 fps)",                   Nil,          NoExtras, Nil,         "30000/1001", 1150000,  "mp2", 2, 44100, 224000, Aspect("4:3") | Target(ttVCD, tnNTSC)},
    {"VCD PAL compatible - (MPEG1, 1150 kbps, 352x288, 25 fps)",                       Nil,          NoExtras, Nil,         "25",         1150000,  "mp2", 2, 44100, 224000, Aspect("4:3") | Target(ttVCD, tnPAL)},
};

constexpr TPresetRow RMPresets[] = {
    {"RM - Best Quality - (1024 kbps, Original)",   "rv20", NoExtras, Nil, Nil, 1024000, Nil, Nil, Nil, Nil, {}},
    {"RM - Normal Quality - (750 kbps, Original)",  "rv20", NoExtras, Nil, Nil, 750000,  Nil, Nil, Nil, Nil, {}},
    {"RM - Optimal Quality - (512 kbps, Original)", "rv20", NoExtras, Nil, Nil, 512000,  Nil, Nil, Nil, Nil, {}},
    {"RM - Low Quality  - (256 kbps, Original)",    "rv20", NoExtras, Nil, Nil, 256000,  Nil, Nil, Nil, Nil, {}},
    {"RM - Least Quality  - (128 kbps, Original)",  "rv20", NoExtras, Nil, Nil, 128000,  Nil, Nil, Nil, Nil, {}},
};

constexpr TPresetRow WMVPresets[] = {
    {"HD Video 1080p: WMV 9, 9000 kbps; Audio: WMA Pro, 384kbps",                "wmv2", NoExtras, "1920x1080", "30000/1001", 9000000, "wmav2", 2, 48000, 384000, {}},
    {"HD Video 720p: WMV 9, 7000 kbps; Audio: WMA Pro, 384kbps",                 "wmv2", NoExtras, "1280x720",  "30000/1001", 7000000, "wmav2", 2, 48000, 384000, {}},
    {"Microsoft Zune - Best Quality - (1112 kbps, 320x240, 25 fps)",             "wmv2", NoExtras, "320x240",   "25",         1112000, "wmav2", 2, 44100, 192000, {}},
    {"Microsoft Zune - Normal Quality - (568 kbps, 320x240, 25 fps)",            "wmv2", NoExtras, "320x240",   "25",         568000,  "wmav2", 2, 44100, 128000, {}},
    {"Video for Pocket PCs/PDAs",                                                "wmv2", NoExtras, "192x144",   "20",         176000,  "wmav2", 2, 32000, 48000,  {}},
    {"Archos AV500/700; 4-series (704,604,504,404) - Highest Available Quality", "wmv2", NoExtras, "352x288",   "25",         920000,  "wmav2", 2, 44100, 128000, {}},
    {"Archos AV500/700; 4-series (704,604,504,404) - Good Quality",              "wmv2", NoExtras, "320x240",   "25",         600000,  "wmav2", 2, 44100, 128000, {}},
    {"Archos AV500/700; 4-series (704,604,504,404) - Low Quality",               "wmv2", NoExtras, "352x288",   "25",         400000,  "wmav2", 2, 44100, 96000,  {}},
    {"Creative ZEN Vision W - Highest Available Quality",                        "wmv2", NoExtras, "480x272",   "25",         700000,  "wmav2", 2, 44100, 192000, {}},
    {"Creative ZEN Vision - Good Quality",                                       "wmv2", NoExtras, "320x240",   "25",         720000,  "wmav2", 2, 44100, 128000, {}},
    {"Creative ZEN Vision M - Normal Quality",                                   "wmv2", NoExtras, "320x240",   "25",         480000,  "wmav2", 2, 44100, 128000, {}},
    {"Epson Multimedia Storage Viewer P3000/P5000",                              "wmv2", NoExtras, "352x288",   "24",         768000,  "wmav2", 2, 44100, 128000, {}},
    {"SanDisk Sansa View",                                                       "wmv2", NoExtras, "320x240",   "30",         768000,  "wmav2", 2, 48000, 128000, {}},
    {"Palm Treo series",                                                         "wmv2", NoExtras, "320x240",   "25",         380000,  "wmav2", 2, 44100, 128000, {}},
    {"HP iPaq series",                                                           "wmv2", NoExtras, "320x240",   "25",         220000,  "wmav2", 2, 44100, 96000,  {}},
    {"Windows Media Video 9 High Quality",                                       "wmv2", NoExtras, "320x240",   "25",         2500000, "wmav2", 2, 48000, 196000, {}},
    {"Windows Media Video 9 Standard Quality",                                   "wmv2", NoExtras, "320x240",   "25",         720000,  "wmav2", 2, 44100, 128000, {}},
    {"Windows Media Video 9 Low Quality",                                        "wmv2", NoExtras, "320x240",   "25",         480000,  "wmav2", 2, 44100, 96000,  {}},
};

constexpr TPresetRow MOVPresets[] = {
    {"Apple TV - Best Quality - (H.264, Original; MP2/4 (AAC), 320 kbps)",        "libx264", X264Default, Nil,       Nil, 1200000,  "libfaac",      2, 48000, 320000, {}},
    {"Quick Time - HD Quality 480p - (H.264, 848x480; MP2/4 (AAC), 320 kbps)",    "libx264", X264Default, "848x480", Nil, 1200000,  "libfaac",      2, 48000, 320000, {}},
    {"Quick Time - DVD Quality - (H.264, 720x576; MP2/4 (AAC), 320 kbps)",        "libx264", X264Default, "720x576", Nil, 1200000,  "libfaac",      2, 48000, 320000, {}},
    {"Quick Time - Photo Quality - (Photo Jpeg, Original; MP3, 256 kbps)",        "mjpeg",   NoExtras,    Nil,       Nil, 16384000, "libmp3lame",   2, 44100, 256000, {}},
    {"Quick Time - Optimal Quality - (H.263, 352x288; MP3, 128 kbps)",            "h263",    NoExtras,    "352x288", Nil, 6144000,  "libmp3lame",   2, 44100, 128000, {}},
    {"Quick Time - Highest Available Quality - (MPEG4, Original; MP3, 192 kbps)", "mpeg4",   NoExtras,    Nil,       Nil, 921600,   "libmp3lame",   2, 44100, 192000, {}},
    {"Quick Time - Standard Quality - (H.263, 176x144; MP3, 128 kbps)",           "h263",    NoExtras,    "176x144", Nil, 4014080,  "libmp3lame",   2, 44100, 128000, {}},
    {"Quick Time - Balanced Quality - (MPEG4, Original; MP3, 96 kbps)",           "mpeg4",   NoExtras,    Nil,       Nil, 614400,   "libmp3lame",   2, 44100, 96000,  {}},
    {"Quick Time - Economy Quality - (Sorenson Video; MP3, 96 kbps)",             "svq1",    NoExtras,    Nil,       Nil, 921600,   "libmp3lame",   2, 44100, 96000,  {}},
    {"Quick Time - Economy Quality - (Sorenson Video; IMA ADPCM)",                "svq1",    NoExtras,    Nil,       Nil, 921600,   "adpcm_ima_qt", 2, 44100, 352000, {}},
};

constexpr TPresetRow F3GPPresets[] = {
    {"3GPP - Extended Mobile Support - (H.263, 240 kbps, 176x144, 12 fps; AMR)",          "h263",  NoExtras, "176x144", "12", 240000, Nil,       1, 8000,  12200, {}},
    {"3GPP - Mobile Highest Available Quality - (MPEG4, 104 kbps, 176x144, 15 fps; AAC)", "mpeg4", NoExtras, "176x144", "15", 104000, "libfaac", 1, 32000, 64000, {}},
    {"3GPP - Mobile Standard Quality - (MPEG4, 64 kbps, 176x144, 12 fps; AMR)",           "mpeg4", NoExtras, "176x144", "12", 64000,  Nil,       1, 8000,  12200, {}},
    {"3GPP - Mobile Balanced Quality - (H.263, 140 kbps, 128x96, 10 fps; AMR)",           "h263",  NoExtras, "128x96",  "10", 140000, Nil,       1, 8000,  10200, {}},
    {"3GPP - Mobile Smallest Size with Audio - (MPEG4, 44 kbps, 128x96, 10 fps; AMR)",    "mpeg4", NoExtras, "128x96",  "10", 44000,  Nil,       1, 8000,  6700,  {}},
};

constexpr TPresetRow MKVPresets[] = {
    {"MKV - Copy Streams - (no re-encoding; every stream, chapters and tags kept)",             "copy",      CopyAll,        Nil, Nil, Nil, "copy",    Nil, Nil,   Nil,    {}},
    {"MKV - High Quality - (H.264, CRF 20, Original; AAC, 192 kbps)",                           "libx264",   X264Crf20,      Nil, Nil, Nil, "aac",     Nil, Nil,   192000, {}},
    {"MKV - HEVC High Quality - (H.265, CRF 24, Original; Opus, 160 kbps)",                     "libx265",   HevcCrf24,      Nil, Nil, Nil, "libopus", Nil, 48000, 160000, {}},
    {"MKV - HEVC 10-bit HDR - (H.265 Main 10, CRF 24, Original, HDR kept; Opus, 192 kbps)",     "libx265",   Hevc10BitCrf24, Nil, Nil, Nil, "libopus", Nil, 48000, 192000, {}},
    {"MKV - AV1 - (AV1, CRF 32, Original; Opus, 128 kbps)",                                     "libsvtav1", Options("crf=32\r\npreset=8"), Nil, Nil, Nil, "libopus", Nil, 48000, 128000, {}},
};

constexpr TPresetRow WebMPresets[] = {
    {"WebM - VP9 High Quality - (VP9, CRF 31, Original; Opus, 160 kbps)", "libvpx-vp9", Options("crf=31\r\nrow-mt=1"), Nil,       Nil, Nil, "libopus", Nil, 48000, 160000, {}},
    {"WebM - VP9 720p - (VP9, CRF 33, 1280x720; Opus, 128 kbps)",         "libvpx-vp9", Options("crf=33\r\nrow-mt=1"), "1280x720", Nil, Nil, "libopus", Nil, 48000, 128000, {}},
    {"WebM - AV1 High Quality - (AV1, CRF 30, Original; Opus, 160 kbps)", "libsvtav1",  Options("crf=30\r\npreset=8"), Nil,       Nil, Nil, "libopus", Nil, 48000, 160000, {}},
    {"WebM - AV1 Small - (AV1, CRF 38, 854x480; Opus, 96 kbps)",          "libsvtav1",  Options("crf=38\r\npreset=8"), "854x480",  Nil, Nil, "libopus", Nil, 48000, 96000,  {}},
};

constexpr TPresetRow iPodPresets[] = {
    {"iPod Highest Quality (H264, 30 fps, 640x480, 2500 kbps; AAC - 160 kbps)",          "libx264", BlockA, "640x480", "30", 2500000, "libfaac", 2, 48000, 160000, {}},
    {"iPod Touch High Quality (H264, 30 fps, 480x320, 2500 kbps; AAC - 160 kbps) ",      "libx264", BlockA, "480x320", "30", 2500000, "libfaac", 2, 48000, 160000, {}},
    {"iPod Touch Standard Quality (H264, 24 fps, 480x320, 1300 kbps; AAC - 128 kbps)",   "libx264", BlockA, "480x320", "24", 1300000, "libfaac", 2, 44100, 128000, {}},
    {"iPod Touch Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps) ",    "libx264", BlockA, "320x240", "15", 500000,  "libfaac", 2, 44100, 128000, {}},
    {"iPod Classic High Quality (H264, 30 fps, 320x240, 2500 kbps; AAC - 160 kbps)",     "libx264", BlockA, "320x240", "30", 2500000, "libfaac", 2, 48000, 160000, {}},
    {"iPod Classic Standard Quality (H264, 24 fps, 320x240, 1000 kbps; AAC - 128 kbps)", "libx264", BlockA, "320x240", "24", 1000000, "libfaac", 2, 44100, 128000, {}},
    {"iPod Classic Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps)",   "libx264", BlockA, "320x240", "15", 500000,  "libfaac", 2, 44100, 128000, {}},
    {"iPod Nano High Quality (H264, 30 fps, 320x240, 2500 kbps; AAC - 160 kbps)",        "libx264", BlockA, "320x240", "30", 2500000, "libfaac", 2, 48000, 160000, {}},
    {"iPod Nano Standard Quality (H264, 24 fps, 320x240, 1000 kbps; AAC - 128 kbps)",    "libx264", BlockA, "320x240", "24", 1000000, "libfaac", 2, 44100, 128000, {}},
    {"iPod Nano Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps)",      "libx264", BlockA, "320x240", "15", 500000,  "libfaac", 2, 44100, 128000, {}},
};

constexpr TPresetRow iPhonePresets[] = {
    {"iPhone High Quality (H264, 30 fps, 640x480, 2500 kbps; AAC - 160 kbps)",     "libx264", BlockA, "640x480", "30", 2500000, "libfaac", 2, 48000, 160000, {}},
    {"iPhone Standard Quality (H264, 24 fps, 480x320, 1300 kbps; AAC - 128 kbps)", "libx264", BlockA, "480x320", "30", 1300000, "libfaac", 2, 44100, 128000, {}},
    {"iPhone Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps)",   "libx264", BlockA, "320x240", "15", 500000,  "libfaac", 2, 44100, 128000, {}},
};

constexpr TPresetRow AppleTVPresets[] = {
    {"AppleTV High Quality (H264, 24 fps, 1280x720, 5000 kbps; AAC - 160 kbps)",    "libx264", BlockA, "640x480", "24", 5000000, "libfaac", 2, 48000, 160000, {}},
    {"AppleTV Standard Quality (H264, 24 fps, 720x540, 2000 kbps; AAC - 128 kbps)", "libx264", BlockA, "720x540", "24", 2000000, "libfaac", 2, 44100, 128000, {}},
    {"AppleTV Economy Quality (H264, 24 fps, 480x360, 1000 kbps; AAC - 128 kbps)",  "libx264", BlockA, "480x360", "24", 1000000, "libfaac", 2, 44100, 128000, {}},
};

constexpr TPresetRow PSPPresets[] = {
    {"PSP Highest Quality (H264, 30 fps, 480x272, 1500 kbps; AAC - 160 kbps)", "libx264", BlockB, "480x272", "30", 1500000, "libfaac", 2, 48000, 160000, PspFile},
    {"PSP Optimal Quality (H264, 24 fps, 368x208, 1000 kbps; AAC - 128 kbps)", "libx264", BlockB, "368x208", "24", 1000000, "libfaac", 2, 44100, 128000, PspFile},
    {"PSP Economy Quality (H264, 15 fps, 368x208, 500 kbps; AAC - 128 kbps)",  "libx264", BlockB, "368x208", "15", 500000,  "libfaac", 2, 44100, 128000, PspFile},
};

constexpr TPresetRow BlackBerryPresets[] = {
    {"BlackBerry High Quality (H264, 30 fps, 640x480, 2500 kbps; AAC - 160 kbps)",     "libx264", X264Default, "640x480", "30", 2500000, "libfaac", 2, 48000, 160000, {}},
    {"BlackBerry Standard Quality (H264, 24 fps, 480x320, 1300 kbps; AAC - 128 kbps)", "libx264", X264Default, "480x320", "30", 1300000, "libfaac", 2, 44100, 128000, {}},
    {"BlackBerry Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps)",   "libx264", X264Default, "320x240", "15", 500000,  "libfaac", 2, 44100, 128000, {}},
};

constexpr TPresetRow MobilePhonePresets[] = {
    {"Mobile MP4 High Quality (MPEG4, 15 fps, 320x240, 600 kbps; AAC - 192 kbps)",     "mpeg4", NoExtras, "320x240", "15", 600000, "libfaac", 2, 48000, 192000, {}},
    {"Mobile MP4 Standard Quality (MPEG4, 15 fps, 176x144, 256 kbps; AAC - 128 kbps)", "mpeg4", NoExtras, "176x144", "15", 256000, "libfaac", 2, 44100, 128000, {}},
    {"Mobile MP4 Balanced Quality (MPEG4, 12 fps, 176x144, 146 kbps; AAC - 96 kbps)",  "mpeg4", NoExtras, "176x144", "12", 146000, "libfaac", 2, 32000, 96000,  {}},
    {"Mobile MP4 Economy Quality (MPEG4, 10 fps, 128x96, 119 kbps; AAC - 64 kbps)",    "mpeg4", NoExtras, "128x96",  "10", 119000, "libfaac", 2, 22050, 64000,  {}},
};

constexpr TPresetRow iPadPresets[] = {
    {"iPad High Quality (H264, 30 fps, 640x480, 2500 kbps; AAC - 160 kbps)",     "libx264", BlockA, "640x480", "30", 2500000, "libfaac", 2, 48000, 160000, {}},
    {"iPad Standard Quality (H264, 24 fps, 480x320, 1300 kbps; AAC - 128 kbps)", "libx264", BlockA, "480x320", "30", 1300000, "libfaac", 2, 44100, 128000, {}},
    {"iPad Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps)",   "libx264", BlockA, "320x240", "15", 500000,  "libfaac", 2, 44100, 128000, {}},
};

constexpr TPresetRow AndroidPresets[] = {
    {"Android High Quality (H264, 30 fps, 640x480, 2500 kbps; AAC - 160 kbps)",     "libx264", BlockA, "640x480", "30", 2500000, "libfaac", 2, 48000, 160000, {}},
    {"Android Standard Quality (H264, 24 fps, 480x320, 1300 kbps; AAC - 128 kbps)", "libx264", BlockA, "480x320", "30", 1300000, "libfaac", 2, 44100, 128000, {}},
    {"Android Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps)",   "libx264", BlockA, "320x240", "15", 500000,  "libfaac", 2, 44100, 128000, {}},
};

constexpr TPresetRow WAVPresets[] = {
    {"For Mobiles - PCM: 11025 Hz, Mono, 16 bits",        Nil, NoExtras, Nil, Nil, Nil, "pcm_s16le", 1, 11025, Nil, {}},
    {"AM Radio Quality - PCM: 22050 Hz, Mono, 16 bits",   Nil, NoExtras, Nil, Nil, Nil, "pcm_s16le", 1, 22050, Nil, {}},
    {"FM Radio Quality - PCM: 22050 Hz, Sterro, 24 bits", Nil, NoExtras, Nil, Nil, Nil, "pcm_s24le", 2, 22050, Nil, {}},
    {"HiFi Quality - PCM: 48000Hz, Stereo, 32 bits",      Nil, NoExtras, Nil, Nil, Nil, "pcm_s32le", 2, 48000, Nil, {}},
    {"Uncompressed (CD Audio Quality)",                   Nil, NoExtras, Nil, Nil, Nil, "pcm_s16le", 2, 44000, Nil, {}},
};

constexpr TPresetRow MP3Presets[] = {
    {"For Mobile - MP3: 44100 Hz, Stereo, 112 kbps",       Nil, NoExtras, Nil, Nil, Nil, "libmp3lame", 2, 44100, 112000, {}},
    {"For Media Player - MP3: 48000 Hz, Stereo, 128 kbps", Nil, NoExtras, Nil, Nil, Nil, "libmp3lame", 2, 48000, 128000, {}},
    {"Normal Quality - MP3: 48000 Hz, Stereo, 256 kbps",   Nil, NoExtras, Nil, Nil, Nil, "libmp3lame", 2, 48000, 256000, {}},
    {"Best Quality - MP3: 48000 Hz, Stereo, 320 kbps",     Nil, NoExtras, Nil, Nil, Nil, "libmp3lame", 2, 48000, 320000, {}},
};

constexpr TPresetRow WMAPresets[] = {
    {"For Media Player Best Quality",      Nil, NoExtras, Nil, Nil, Nil, "wmav2", 2, 48000, 192000,        {}},
    {"For Media Player Economy Quality",   Nil, NoExtras, Nil, Nil, Nil, "wmav2", 2, 44100, 96000,         {}},
    {"For Pocket PCs/PDAs Normal Quality", Nil, NoExtras, Nil, Nil, Nil, "wmav2", 2, 44100, 128000,        {}},
    {"For PC Normal Quality",              Nil, NoExtras, Nil, Nil, Nil, "wmav2", 2, 44100, 128000,        {}},
    {"WMA Losslesss Audio",                Nil, NoExtras, Nil, Nil, Nil, "wmav2", 2, 48000, SourceBitrate, {}},
};

constexpr TPresetRow OGGPresets[] = {
    {"Telephone Quality - Ogg Vorbis: Quality - 4.97; 11025 Hz, Mono",  "libtheora", Options("aq=4.97"), Nil, Nil, Nil, "libvorbis", Nil, 11025, Nil, {}},
    {"AM Radio Quality - Ogg Vorbis: Quality - 4.97; 22050 Hz, Mono",   "libtheora", Options("aq=4.97"), Nil, Nil, Nil, "libvorbis", Nil, 22050, Nil, {}},
    {"FM Radio Quality - Ogg Vorbis: Quality - 4.97; 22050 Hz, Stereo", "libtheora", Options("aq=4.97"), Nil, Nil, Nil, "libvorbis", Nil, 22050, Nil, {}},
    {"CD Quality - Ogg Vorbis: Quality - 4.97; 44100 Hz, Stereo",       "libtheora", Options("aq=4.97"), Nil, Nil, Nil, "libvorbis", Nil, 44100, Nil, {}},
    {"HiFi Quality - Ogg Vorbis: Quality - 8.05; 48000 Hz, Stereo",     "libtheora", Options("aq=8.05"), Nil, Nil, Nil, "libvorbis", Nil, 48000, Nil, {}},
};

constexpr TPresetRow AACPresets[] = {
    {"For Mobiles - MPEG2/4 LC: 16000 Hz, Mono, 96 kbps",     Nil, NoExtras, Nil, Nil, Nil, "libfaac", 1, 16000, 96000,  {}},
    {"AM Quality - MPEG2/4 LC: 22500 Hz, Mono, 112 kbps",     Nil, NoExtras, Nil, Nil, Nil, "libfaac", 1, 22500, 112000, {}},
    {"FM Quality - MPEG2/4 LC: 22500 Hz, Stereo, 224 kbps",   Nil, NoExtras, Nil, Nil, Nil, "libfaac", 2, 22500, 224000, {}},
    {"CD Quality - MPEG2/4 LC: 44100 Hz, Stereo, 256 kbps",   Nil, NoExtras, Nil, Nil, Nil, "libfaac", 2, 44100, 256000, {}},
    {"HiFi Quality - MPEG2/4 LC: 48000 Hz, Stereo, 256 kbps", Nil, NoExtras, Nil, Nil, Nil, "libfaac", 2, 48000, 256000, {}},
};

constexpr TPresetRow M4APresets[] = {
    {"Normal Quality - MPEG2/4 LC: 44100 Hz, Stereo, 96 kbps", Nil, NoExtras, Nil, Nil, Nil, Nil, 2, 44100, 96000,  {}},
    {"Best Quality - MPEG2/4 LC: 48000 Hz, Stereo, 256 kbps",  Nil, NoExtras, Nil, Nil, Nil, Nil, 2, 44800, 256000, {}},
};

constexpr TPresetRow FLACPresets[] = {
    {"Compression Level 0",           Nil, Options("compression_level=0"), Nil, Nil, Nil, "flac", Nil, Nil, Nil, {}},
    {"Compression Level 1",           Nil, Options("compression_level=1"), Nil, Nil, Nil, "flac", Nil, Nil, Nil, {}},
    {"Compression Level 2",           Nil, Options("compression_level=2"), Nil, Nil, Nil, "flac", Nil, Nil, Nil, {}},
    {"Compression Level 3",           Nil, Options("compression_level=3"), Nil, Nil, Nil, "flac", Nil, Nil, Nil, {}},
    {"Compression Level 4",           Nil, Options("compression_level=4"), Nil, Nil, Nil, "flac", Nil, Nil, Nil, {}},
    {"Compression Level 5 (Default)", Nil, Options("compression_level=5"), Nil, Nil, Nil, "flac", Nil, Nil, Nil, {}},
    {"Compression Level 6",           Nil, Options("compression_level=6"), Nil, Nil, Nil, "flac", Nil, Nil, Nil, {}},
    {"Compression Level 7",           Nil, Options("compression_level=7"), Nil, Nil, Nil, "flac", Nil, Nil, Nil, {}},
    {"Compression Level 8",           Nil, Options("compression_level=8"), Nil, Nil, Nil, "flac", Nil, Nil, Nil, {}},
};

constexpr TPresetRow MP2Presets[] = {
    {"For Mobiles - MPEG layer-2: 22050 Hz, Mono, 96 kbps",   Nil, NoExtras, Nil, Nil, Nil, Nil, 1, 22050, 96000,  {}},
    {"AM Quality - MPEG layer-2: 22050 Hz, Mono, 112 kbps",   Nil, NoExtras, Nil, Nil, Nil, Nil, 1, 22050, 112000, {}},
    {"FM Quality - MPEG layer-2: 22050 Hz, Stereo, 128 kbps", Nil, NoExtras, Nil, Nil, Nil, Nil, 2, 22050, 128000, {}},
};

constexpr TPresetRow OpusPresets[] = {
    {"Opus - Best Quality - (192 kbps, 48000 Hz, Stereo)",   Nil, NoExtras, Nil, Nil, Nil, "libopus", 2, 48000, 192000, {}},
    {"Opus - High Quality - (160 kbps, 48000 Hz, Stereo)",   Nil, NoExtras, Nil, Nil, Nil, "libopus", 2, 48000, 160000, {}},
    {"Opus - Normal Quality - (128 kbps, 48000 Hz, Stereo)", Nil, NoExtras, Nil, Nil, Nil, "libopus", 2, 48000, 128000, {}},
    {"Opus - Low Quality - (96 kbps, 48000 Hz, Stereo)",     Nil, NoExtras, Nil, Nil, Nil, "libopus", 2, 48000, 96000,  {}},
    {"Opus - Speech - (48 kbps, 48000 Hz, Mono)",            Nil, NoExtras, Nil, Nil, Nil, "libopus", 1, 48000, 48000,  {}},
};

constexpr TFormatValues NoValues{};
constexpr TFormatValues DeviceValues{"libx264", "libfaac", Nil, X264DeviceOptions};

// Per class, in the order of the format table (app/Formats.cpp): the values of the whole
// format (video codec, audio codec, muxer, option lines) and its presets.
struct TFormatPresets {
    TFormatValues Values;
    std::span<const TPresetRow> Presets;
};

constexpr TFormatPresets VideoPresets[] = {
    {NoValues, AVIPresets},  {NoValues, MP4Presets}, {NoValues, FLVPresets},
    {NoValues, SWFPresets},  {NoValues, MPEGPresets}, {NoValues, RMPresets},
    {NoValues, WMVPresets},  {NoValues, MOVPresets}, {NoValues, F3GPPresets},
    {NoValues, MKVPresets},  {NoValues, WebMPresets},
};

constexpr TFormatPresets DevicePresets[] = {
    {DeviceValues,                                          iPodPresets},
    {DeviceValues,                                          iPhonePresets},
    {DeviceValues,                                          AppleTVPresets},
    {{"libx264", "libfaac", "psp", X264PspOptions},         PSPPresets},
    {NoValues,                                              BlackBerryPresets},
    {NoValues,                                              MobilePhonePresets},
    {DeviceValues,                                          iPadPresets},
    {DeviceValues,                                          AndroidPresets},
};

constexpr TFormatPresets AudioPresets[] = {
    {NoValues,                       WAVPresets},
    {{Nil, "libmp3lame", Nil, Nil},  MP3Presets},
    {{Nil, "wmav2", Nil, Nil},       WMAPresets},
    {{"libtheora", "libvorbis", Nil, Nil}, OGGPresets},
    {{Nil, "libfaac", Nil, Nil},     AACPresets},
    {NoValues,                       M4APresets},
    {{Nil, "flac", Nil, Nil},        FLACPresets},
    {NoValues,                       MP2Presets},
    {NoValues,                       OpusPresets},
};
// clang-format on

const std::span<const TFormatPresets> ClassPresets[] = {VideoPresets, DevicePresets,
                                                        AudioPresets};

// The format table joined with the preset table, built once.
struct TCatalogue {
    std::array<std::vector<TOutputFormat>, OutputClassCount> Formats;
    std::vector<TOutputClassInfo> Classes;
};

TCatalogue BuildCatalogue() {
    TCatalogue catalogue;
    for (const TFormatClass& c : FormatClasses()) {
        const auto presets = ClassPresets[size_t(c.Index)];
        if (presets.size() != c.Formats.size())
            throw std::logic_error("the preset table does not match the format table");
        auto& formats = catalogue.Formats[size_t(c.Index)];
        for (size_t i = 0; i < c.Formats.size(); ++i)
            formats.push_back({c.Formats[i], &presets[i].Values, presets[i].Presets});
    }
    for (const TFormatClass& c : FormatClasses())
        catalogue.Classes.push_back(
            {c.Index, c.Name, catalogue.Formats[size_t(c.Index)], c.FormatKey});
    return catalogue;
}

const std::vector<TOutputClassInfo>& Classes() {
    static const TCatalogue catalogue = BuildCatalogue();
    return catalogue.Classes;
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::string_view TOutputFormat::PresetText(int preset) const {
    return HasPreset(preset) ? std::string_view(Presets[size_t(preset)].Text) : std::string_view();
}

const TPresetRow* TOutputFormat::Preset(int preset) const {
    return HasPreset(preset) ? &Presets[size_t(preset)] : nullptr;
}

std::span<const TOutputClassInfo> OutputClasses() {
    return Classes();
}

const TOutputClassInfo* FindClass(int outputClass) {
    return outputClass >= 0 && outputClass < OutputClassCount ? &Classes()[size_t(outputClass)] : nullptr;
}

const TOutputClassInfo* FindClassByName(std::string_view name) {
    for (const auto& c : Classes())
        if (SameText(c.Name, name))
            return &c;
    return nullptr;
}

const TOutputFormat* FindFormat(int outputClass, int format) {
    const TOutputClassInfo* c = FindClass(outputClass);
    if (!c || format < 0 || format >= int(c->Formats.size()))
        return nullptr;
    return &c->Formats[size_t(format)];
}

const TOutputFormat* FindFormatByName(std::string_view name) {
    for (const auto& c : Classes())
        if (const TOutputFormat* f = FindFormatByName(c.Index, name))
            return f;
    return nullptr;
}

const TOutputFormat* FindFormatByName(int outputClass, std::string_view name) {
    const TOutputClassInfo* c = FindClass(outputClass);
    if (!c)
        return nullptr;
    for (const auto& f : c->Formats)
        if (SameText(f.Name, name))
            return &f;
    return nullptr;
}

void ApplyDefaultPresets(TGlobalVars& vars) {
    for (const auto& c : Classes())
        for (const auto& f : c.Formats)
            vars.*f.PresetKey = f.DefaultPreset;
}

void SelectClass(TGlobalVars& vars, int outputClass) {
    if (FindClass(outputClass))
        vars.OutputFormatClass = uint8_t(outputClass);
}

void SelectFormat(TGlobalVars& vars, const TOutputFormat& format) {
    vars.*Classes()[size_t(format.Class)].FormatKey = uint8_t(format.Index);
}

int SelectedFormatIndex(const TGlobalVars& vars, int outputClass) {
    const TOutputClassInfo* c = FindClass(outputClass);
    return c ? int(vars.*c->FormatKey) : -1;
}

const TOutputFormat* SelectedFormat(const TGlobalVars& vars, int outputClass) {
    return FindFormat(outputClass, SelectedFormatIndex(vars, outputClass));
}

const TOutputFormat* ActiveFormat(const TGlobalVars& vars) {
    return SelectedFormat(vars, vars.OutputFormatClass);
}

int StoredPreset(const TGlobalVars& vars, const TOutputFormat& format) {
    return vars.*format.PresetKey;
}

std::string OutputExtension(const TGlobalVars& vars) {
    const TOutputFormat* f = ActiveFormat(vars);
    return f ? std::string(f->Extension) : std::string();
}

int& TOutputPageState::Preset(const TOutputFormat& format) {
    auto& list = PresetIndex[size_t(format.Class)];
    if (list.size() <= size_t(format.Index))
        list.resize(size_t(format.Index) + 1, -1);
    return list[size_t(format.Index)];
}

int TOutputPageState::Preset(const TOutputFormat& format) const {
    const auto& list = PresetIndex[size_t(format.Class)];
    return size_t(format.Index) < list.size() ? list[size_t(format.Index)] : -1;
}

TOutputPageState ShowOutputSelection(const TGlobalVars& vars) {
    TOutputPageState page;
    page.FolderText = vars.OutputFileDir;
    page.ShownClass = FindClass(vars.OutputFormatClass) ? int(vars.OutputFormatClass) : -1;
    for (const auto& c : Classes()) {
        const TOutputFormat* selected = SelectedFormat(vars, c.Index);
        page.ShownFormat[size_t(c.Index)] = selected ? selected->Index : -1;
        for (const auto& f : c.Formats) {
            const int stored = StoredPreset(vars, f);
            page.Preset(f) = f.HasPreset(stored) ? stored : -1;
        }
    }
    return page;
}

void TakeOutputSelection(const TOutputPageState& page, TGlobalVars& vars) {
    vars.OutputFileDir = AddTrailingBackslash(page.FolderText);
    for (const auto& c : Classes())
        for (const auto& f : c.Formats) {
            const int index = page.Preset(f);
            vars.*f.PresetKey = f.HasPreset(index) ? index : -1;
        }
}

bool FormatOffered(const TBrandingConfig& config, const TOutputFormat& format) {
    const auto& flags = config.Formats[size_t(format.Class)];
    return size_t(format.Index) < flags.size() && flags[size_t(format.Index)];
}

bool ClassOffered(const TBrandingConfig& config, int outputClass) {
    const TOutputClassInfo* c = FindClass(outputClass);
    return c && std::any_of(c->Formats.begin(), c->Formats.end(),
                            [&](const TOutputFormat& f) { return FormatOffered(config, f); });
}

bool ClassButtonsShown(const TBrandingConfig& config) {
    int offered = 0;
    for (const auto& c : Classes())
        offered += ClassOffered(config, c.Index) ? 1 : 0;
    return offered > 1;
}

void FitSelectionToEdition(const TBrandingConfig& config, TGlobalVars& vars) {
    int firstClass = -1;
    for (const auto& c : Classes()) {
        const auto& flags = config.Formats[size_t(c.Index)];
        const auto first = std::find(flags.begin(), flags.end(), true);
        if (first == flags.end())
            continue;
        if (firstClass < 0)
            firstClass = c.Index;
        uint8_t& stored = vars.*c.FormatKey;
        if (stored < flags.size() && !flags[stored])
            stored = uint8_t(first - flags.begin());
    }
    const int stored = vars.OutputFormatClass;
    const bool keepClass =
        stored >= OutputClassCount || ClassOffered(config, stored);
    if (!keepClass && firstClass >= 0)
        vars.OutputFormatClass = uint8_t(firstClass);
}

std::vector<TPresetEntry> AllPresets() {
    std::vector<TPresetEntry> entries;
    for (const auto& c : Classes())
        for (const auto& f : c.Formats)
            for (int i = 0; i < f.PresetCount(); ++i)
                entries.push_back({c.Name, f.Name, i, f.PresetText(i)});
    return entries;
}

} // namespace cw
