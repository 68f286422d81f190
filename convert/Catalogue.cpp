#include "convert/Catalogue.h"

#include "app/Utils.h"

#include <algorithm>
#include <cctype>

namespace cw {
namespace {

// Preset texts, shown exactly as they stand (odd spellings, double blanks and the trailing
// blank of two iPod texts included): users and saved settings know them by position and text.
// clang-format off
const char* const AVIPresets[] = {
    "HD Video 720p: MPEG4 (DivX, XviD), 4500 kbps; Audio: MP3, 192 kbps",
    "HD Video 1080p: H.264/AVC, 4200 kbps; Audio: MP3, 256 kbps",
    "Video: MPEG4 (DivX, XviD), 2500 kbps, Original; Audio: MP3, 256 kbps",
    "Video: MPEG4 (DivX, XviD), 1500 kbps, Original; Audio: MP3, 192 kbps",
    "Video: MPEG4 (DivX, XviD), 768 kbps, Original; Audio: MP3, 96 kbps",
    "Video: MPEG4 (DivX, XviD), 2500 kbps, 720x540; Audio: MP3, 256 kbps",
    "Video: MPEG4 (DivX, XviD), 1500 kbps, 512x384; Audio: MP3, 192 kbps",
    "Video: MPEG4 (DivX, XviD), 768 kbps, 320x240; Audio: MP3, 96 kbps",
    "Video: H.264/AVC, 1200 kbps; Audio: MP3, 192 kbps",
    "Video: H.264/AVC, 768 kbps; Audio: MP3, 96 kbps",
    "BlackBerry 81xx - (MPEG4, 560 kbps, 320x240)",
    "BlackBerry 8xxx - (MPEG4, 420 kbps, 240x180)",
    "Archos AV500/700; 4-series (704,604,504,404) - (MPEG4, 1800 kbps, Original)",
    "Archos AV500/700; 4-series (704,604,504,404) - (MPEG4, 900 kbps, 480x272)",
    "Creative Zen Vision W - (MPEG4, 1800 kbps, 720x480)",
    "Creative Zen Vision - (MPEG4, 1200 kbps, 640x480)",
    "Creative Zen Vision M - (MPEG4, 720 kbps, 320x240)",
    "Epson P3000/P4500/P5000 - (MPEG4, 2 mbps, 720x480, 30 fps)",
    "iRiver U20(Clix) - (MPEG4, 320 kbps, 320x240, 15 fps)",
    "iRiver U10 Clix - (MPEG4, 560 kbps, 320x240, 15 fps)",
    "iAudio X5 - Optimized for hardware - (MPEG4, 600 kbps, 160x120, 15 fps)",
    "Nindendo Wii Clip",
    "SanDisk Sansa View - Hight Quality - (MPEG4, 640x480; MP3, 128kbps)",
    "SanDisk Sansa View - Normal Quality - (MPEG4, 320x240; MP3, 96kbps)",
    "Video for Google Video",
    "Video for YouTube",
    "Video for Myspace",
    "Video: DivX; Audio: MP3, 192 kbps",
    "Video: Uncompressed, Original; Audio: PCM",
};

const char* const MP4Presets[] = {
    "Apple iPod - (H.264, 320x240)",
    "Apple iPod - (H.264, 640x480)",
    "Apple iPod - (MPEG4, 320x240)",
    "Apple iPhone/iTouch - (H.264,640x420)",
    "Microsoft XBox360 - Normal HD Quality 480p - (H.264, 29.97 fps, 848x480)",
    "Sony PS3 - Normal HD Quality 480p - (H.264, 29.97 fps, 848x480)",
    "Sony PS3 - Normal HD Quality 480p, Surround - (H.264, 29.97 fps, 848x480)",
    "Sony PSP - Normal - (H.264, 29.97 fps, 368x208)",
    "Sony PSP - High Resolution - (H264, 29.97 fps, 480x272)",
    "Epson P2000/P4000 - High Quality - (MPEG4, 640x480)",
    "Epson P2000/P4000 - Economy Quality - (MPEG4, 320x240)",
    "Epson P3000/P4500/P5000 - Best Quality - (MPEG4, 720x480)",
    "Mobile - Standard Quality - (MPEG4, 176x144, 15 fps)",
    "Mobile - Economy Quality - (MPEG4, 128x96, 12 fps)",
    "PC - High Quality - (MPEG4, 2500 kbps, Original Size, 25 fps)",
    "PC - Standard Quality - (MPEG4, 1200 kbps, Original Size, 25 fps)",
    "PC - Economy Quality - (MPEG4, 700 kbps, Original Size, 25 fps)",
    "SanDisk Sansa View - Hight Quality - (MPEG4, 640x480; MPEG2/4 Audio, 128kbps)",
    "SanDisk Sansa View - Normal Quality - (MPEG4, 320x240; MPEG2/4 Audio, 96kbps)",
};

const char* const FLVPresets[] = {
    "FLV - Best Quality - (H.264, 1200 kbps, Original; MP3, 160 kbps)",
    "FLV - Normal Quality - (H.264, 920 kbps, Original size, 20 fps; MP3, 112 kbps)",
    "FLV - Optimal Quality - (H.263, 780 kbps, 352x288, 15 fps; MP3, 64 kbps)",
    "FLV - Low Quality - (H.263, 640 kbps, 320x240, 15 fps; MP3, 48 kbps)",
    "FLV - Least Quality - (H.263, 480 kbps, 176x144, 15 fps; MP3, 24 kbps)",
};

const char* const SWFPresets[] = {
    "SWF - Best Quality - (H.263, Original; MP3, 160 kbps)",
    "SWF - Normal Quality - (H.263, 920 kbps, Original size, 20 fps; MP3, 112 kbps)",
    "SWF - Optimal Quality - (H.263, 780 kbps, 352x288, 15 fps; MP3, 64 kbps)",
    "SWF - Low Quality - (H.263, 640 kbps, 320x240, 15 fps; MP3, 48 kbps)",
    "SWF - Least Quality - (H.263, 480 kbps, 176x144, 15 fps; MP3, 24 kbps)",
};

const char* const MPEGPresets[] = {
    "HD Video 1080p - (MPEG2, 15000 kbps, 1920x1080, 29.97 fps)",
    "HD Video 720p - (MPEG2, 9000 kbps, 1280x720, 29.97 fps)",
    "DVD NTSC compatible - (MPEG2, 4000 kbps, 720x480, 29.97 fps)",
    "DVD PAL compatible - (MPEG2, 4000 kbps, 720x576, 25 fps)",
    "Video: MPEG1, 4000 kbps, Original size, 29.97 fps; Audio: 224 kbps",
    "Video: MPEG2, 4000 kbps, Original size, 29.97 fps; Audio: 224 kbps",
    "Creative ZEN Vision W - Best Quality - (MPEG1, 1150 kbps, 720x480, 29.97 fps)",
    "Creative ZEN Vision - Standard Quality - (MPEG1, 860 kbps, 480x360, 29.97 fps)",
    "Creative ZEN Vision M - Normal Quality - (MPEG1, 780 kbps, 320x240, 29.97 fps)",
    "Epson P3000/P4500/P5000 - (MPEG2, 2000 kbps, 720x480, 30 fps)",
    "SVCD NTSC compatible - (MPEG2, 2376 kbps, 480x480, 29.97 fps)",
    "SVCD PAL compatible - (MPEG2, 2376 kbps, 480x576, 25 fps)",
    "VCD NTSC compatible - (MPEG1, 1150 kbps, 352x240, 29.97 fps)",
    "VCD PAL compatible - (MPEG1, 1150 kbps, 352x288, 25 fps)",
};

const char* const RMPresets[] = {
    "RM - Best Quality - (1024 kbps, Original)",
    "RM - Normal Quality - (750 kbps, Original)",
    "RM - Optimal Quality - (512 kbps, Original)",
    "RM - Low Quality  - (256 kbps, Original)",
    "RM - Least Quality  - (128 kbps, Original)",
};

const char* const WMVPresets[] = {
    "HD Video 1080p: WMV 9, 9000 kbps; Audio: WMA Pro, 384kbps",
    "HD Video 720p: WMV 9, 7000 kbps; Audio: WMA Pro, 384kbps",
    "Microsoft Zune - Best Quality - (1112 kbps, 320x240, 25 fps)",
    "Microsoft Zune - Normal Quality - (568 kbps, 320x240, 25 fps)",
    "Video for Pocket PCs/PDAs",
    "Archos AV500/700; 4-series (704,604,504,404) - Highest Available Quality",
    "Archos AV500/700; 4-series (704,604,504,404) - Good Quality",
    "Archos AV500/700; 4-series (704,604,504,404) - Low Quality",
    "Creative ZEN Vision W - Highest Available Quality",
    "Creative ZEN Vision - Good Quality",
    "Creative ZEN Vision M - Normal Quality",
    "Epson Multimedia Storage Viewer P3000/P5000",
    "SanDisk Sansa View",
    "Palm Treo series",
    "HP iPaq series",
    "Windows Media Video 9 High Quality",
    "Windows Media Video 9 Standard Quality",
    "Windows Media Video 9 Low Quality",
};

const char* const MOVPresets[] = {
    "Apple TV - Best Quality - (H.264, Original; MP2/4 (AAC), 320 kbps)",
    "Quick Time - HD Quality 480p - (H.264, 848x480; MP2/4 (AAC), 320 kbps)",
    "Quick Time - DVD Quality - (H.264, 720x576; MP2/4 (AAC), 320 kbps)",
    "Quick Time - Photo Quality - (Photo Jpeg, Original; MP3, 256 kbps)",
    "Quick Time - Optimal Quality - (H.263, 352x288; MP3, 128 kbps)",
    "Quick Time - Highest Available Quality - (MPEG4, Original; MP3, 192 kbps)",
    "Quick Time - Standard Quality - (H.263, 176x144; MP3, 128 kbps)",
    "Quick Time - Balanced Quality - (MPEG4, Original; MP3, 96 kbps)",
    "Quick Time - Economy Quality - (Sorenson Video; MP3, 96 kbps)",
    "Quick Time - Economy Quality - (Sorenson Video; IMA ADPCM)",
};

const char* const F3GPPresets[] = {
    "3GPP - Extended Mobile Support - (H.263, 240 kbps, 176x144, 12 fps; AMR)",
    "3GPP - Mobile Highest Available Quality - (MPEG4, 104 kbps, 176x144, 15 fps; AAC)",
    "3GPP - Mobile Standard Quality - (MPEG4, 64 kbps, 176x144, 12 fps; AMR)",
    "3GPP - Mobile Balanced Quality - (H.263, 140 kbps, 128x96, 10 fps; AMR)",
    "3GPP - Mobile Smallest Size with Audio - (MPEG4, 44 kbps, 128x96, 10 fps; AMR)",
};

const char* const iPodPresets[] = {
    "iPod Highest Quality (H264, 30 fps, 640x480, 2500 kbps; AAC - 160 kbps)",
    "iPod Touch High Quality (H264, 30 fps, 480x320, 2500 kbps; AAC - 160 kbps) ",
    "iPod Touch Standard Quality (H264, 24 fps, 480x320, 1300 kbps; AAC - 128 kbps)",
    "iPod Touch Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps) ",
    "iPod Classic High Quality (H264, 30 fps, 320x240, 2500 kbps; AAC - 160 kbps)",
    "iPod Classic Standard Quality (H264, 24 fps, 320x240, 1000 kbps; AAC - 128 kbps)",
    "iPod Classic Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps)",
    "iPod Nano High Quality (H264, 30 fps, 320x240, 2500 kbps; AAC - 160 kbps)",
    "iPod Nano Standard Quality (H264, 24 fps, 320x240, 1000 kbps; AAC - 128 kbps)",
    "iPod Nano Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps)",
};

const char* const iPhonePresets[] = {
    "iPhone High Quality (H264, 30 fps, 640x480, 2500 kbps; AAC - 160 kbps)",
    "iPhone Standard Quality (H264, 24 fps, 480x320, 1300 kbps; AAC - 128 kbps)",
    "iPhone Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps)",
};

const char* const AppleTVPresets[] = {
    "AppleTV High Quality (H264, 24 fps, 1280x720, 5000 kbps; AAC - 160 kbps)",
    "AppleTV Standard Quality (H264, 24 fps, 720x540, 2000 kbps; AAC - 128 kbps)",
    "AppleTV Economy Quality (H264, 24 fps, 480x360, 1000 kbps; AAC - 128 kbps)",
};

const char* const PSPPresets[] = {
    "PSP Highest Quality (H264, 30 fps, 480x272, 1500 kbps; AAC - 160 kbps)",
    "PSP Optimal Quality (H264, 24 fps, 368x208, 1000 kbps; AAC - 128 kbps)",
    "PSP Economy Quality (H264, 15 fps, 368x208, 500 kbps; AAC - 128 kbps)",
};

const char* const BlackBerryPresets[] = {
    "BlackBerry High Quality (H264, 30 fps, 640x480, 2500 kbps; AAC - 160 kbps)",
    "BlackBerry Standard Quality (H264, 24 fps, 480x320, 1300 kbps; AAC - 128 kbps)",
    "BlackBerry Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps)",
};

const char* const MobilePhonePresets[] = {
    "Mobile MP4 High Quality (MPEG4, 15 fps, 320x240, 600 kbps; AAC - 192 kbps)",
    "Mobile MP4 Standard Quality (MPEG4, 15 fps, 176x144, 256 kbps; AAC - 128 kbps)",
    "Mobile MP4 Balanced Quality (MPEG4, 12 fps, 176x144, 146 kbps; AAC - 96 kbps)",
    "Mobile MP4 Economy Quality (MPEG4, 10 fps, 128x96, 119 kbps; AAC - 64 kbps)",
};

const char* const iPadPresets[] = {
    "iPad High Quality (H264, 30 fps, 640x480, 2500 kbps; AAC - 160 kbps)",
    "iPad Standard Quality (H264, 24 fps, 480x320, 1300 kbps; AAC - 128 kbps)",
    "iPad Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps)",
};

const char* const AndroidPresets[] = {
    "Android High Quality (H264, 30 fps, 640x480, 2500 kbps; AAC - 160 kbps)",
    "Android Standard Quality (H264, 24 fps, 480x320, 1300 kbps; AAC - 128 kbps)",
    "Android Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps)",
};

const char* const WAVPresets[] = {
    "For Mobiles - PCM: 11025 Hz, Mono, 16 bits",
    "AM Radio Quality - PCM: 22050 Hz, Mono, 16 bits",
    "FM Radio Quality - PCM: 22050 Hz, Sterro, 24 bits",
    "HiFi Quality - PCM: 48000Hz, Stereo, 32 bits",
    "Uncompressed (CD Audio Quality)",
};

const char* const MP3Presets[] = {
    "For Mobile - MP3: 44100 Hz, Stereo, 112 kbps",
    "For Media Player - MP3: 48000 Hz, Stereo, 128 kbps",
    "Normal Quality - MP3: 48000 Hz, Stereo, 256 kbps",
    "Best Quality - MP3: 48000 Hz, Stereo, 320 kbps",
};

const char* const WMAPresets[] = {
    "For Media Player Best Quality",
    "For Media Player Economy Quality",
    "For Pocket PCs/PDAs Normal Quality",
    "For PC Normal Quality",
    "WMA Losslesss Audio",
};

const char* const OGGPresets[] = {
    "Telephone Quality - Ogg Vorbis: Quality - 4.97; 11025 Hz, Mono",
    "AM Radio Quality - Ogg Vorbis: Quality - 4.97; 22050 Hz, Mono",
    "FM Radio Quality - Ogg Vorbis: Quality - 4.97; 22050 Hz, Stereo",
    "CD Quality - Ogg Vorbis: Quality - 4.97; 44100 Hz, Stereo",
    "HiFi Quality - Ogg Vorbis: Quality - 8.05; 48000 Hz, Stereo",
};

const char* const AACPresets[] = {
    "For Mobiles - MPEG2/4 LC: 16000 Hz, Mono, 96 kbps",
    "AM Quality - MPEG2/4 LC: 22500 Hz, Mono, 112 kbps",
    "FM Quality - MPEG2/4 LC: 22500 Hz, Stereo, 224 kbps",
    "CD Quality - MPEG2/4 LC: 44100 Hz, Stereo, 256 kbps",
    "HiFi Quality - MPEG2/4 LC: 48000 Hz, Stereo, 256 kbps",
};

const char* const M4APresets[] = {
    "Normal Quality - MPEG2/4 LC: 44100 Hz, Stereo, 96 kbps",
    "Best Quality - MPEG2/4 LC: 48000 Hz, Stereo, 256 kbps",
};

const char* const FLACPresets[] = {
    "Compression Level 0",
    "Compression Level 1",
    "Compression Level 2",
    "Compression Level 3",
    "Compression Level 4",
    "Compression Level 5 (Default)",
    "Compression Level 6",
    "Compression Level 7",
    "Compression Level 8",
};

const char* const MP2Presets[] = {
    "For Mobiles - MPEG layer-2: 22050 Hz, Mono, 96 kbps",
    "AM Quality - MPEG layer-2: 22050 Hz, Mono, 112 kbps",
    "FM Quality - MPEG layer-2: 22050 Hz, Stereo, 128 kbps",
};

using G = TGlobalVars;

// Class, index, name, extension, default preset, preset field, settings key, texts.
constexpr TOutputFormat VideoFormats[] = {
    {ocVideo, 0, "AVI",  ".avi", 3,  &G::OutputAVIPreset,  "OutputAVIPreset",  AVIPresets},
    {ocVideo, 1, "MP4",  ".mp4", 3,  &G::OutputMP4Preset,  "OutputMP4Preset",  MP4Presets},
    {ocVideo, 2, "FLV",  ".flv", 1,  &G::OutputFLVPreset,  "OutputFLVPreset",  FLVPresets},
    {ocVideo, 3, "SWF",  ".swf", 1,  &G::OutputSWFPreset,  "OutputSWFPreset",  SWFPresets},
    {ocVideo, 4, "MPEG", ".mpg", 5,  &G::OutputMPEGPreset, "OutputMPEGPreset", MPEGPresets},
    {ocVideo, 5, "RM",   ".rm",  1,  &G::OutputRMPreset,   "OutputRMPreset",   RMPresets},
    {ocVideo, 6, "WMV",  ".wmv", 16, &G::OutputWMVPreset,  "OutputWMVPreset",  WMVPresets},
    {ocVideo, 7, "MOV",  ".mov", 7,  &G::OutputMOVPreset,  "OutputMOVPreset",  MOVPresets},
    {ocVideo, 8, "3GP",  ".3gp", 2,  &G::Output3GPPreset,  "Output3GPPreset",  F3GPPresets},
};

constexpr TOutputFormat DeviceFormats[] = {
    {ocDevice, 0, "iPod",        ".mp4", 5, &G::OutputiPodPreset,        "OutputiPodPreset",        iPodPresets},
    {ocDevice, 1, "iPhone",      ".mp4", 1, &G::OutputiPhonePreset,      "OutputiPhonePreset",      iPhonePresets},
    {ocDevice, 2, "AppleTV",     ".mp4", 1, &G::OutputAppleTVPreset,     "OutputAppleTVPreset",     AppleTVPresets},
    {ocDevice, 3, "PSP",         ".mp4", 1, &G::OutputPSPPreset,         "OutputPSPPreset",         PSPPresets},
    {ocDevice, 4, "BlackBerry",  ".mp4", 1, &G::OutputBlackBerryPreset,  "OutputBlackBerryPreset",  BlackBerryPresets},
    {ocDevice, 5, "MobilePhone", ".mp4", 1, &G::OutputMobilePhonePreset, "OutputMobilePhonePreset", MobilePhonePresets},
    {ocDevice, 6, "iPad",        ".mp4", 0, &G::OutputiPadPreset,        "OutputiPadPreset",        iPadPresets},
    {ocDevice, 7, "Android",     ".mp4", 0, &G::OutputAndroidPreset,     "OutputAndroidPreset",     AndroidPresets},
};

constexpr TOutputFormat AudioFormats[] = {
    {ocAudio, 0, "WAV",  ".wav",  3, &G::OutputWAVPreset,  "OutputWAVPreset",  WAVPresets},
    {ocAudio, 1, "MP3",  ".mp3",  2, &G::OutputMP3Preset,  "OutputMP3Preset",  MP3Presets},
    {ocAudio, 2, "WMA",  ".wma",  1, &G::OutputWMAPreset,  "OutputWMAPreset",  WMAPresets},
    {ocAudio, 3, "OGG",  ".ogg",  3, &G::OutputOGGPreset,  "OutputOGGPreset",  OGGPresets},
    {ocAudio, 4, "AAC",  ".aac",  3, &G::OutputAACPreset,  "OutputAACPreset",  AACPresets},
    {ocAudio, 5, "M4A",  ".m4a",  0, &G::OutputM4APreset,  "OutputM4APreset",  M4APresets},
    {ocAudio, 6, "FLAC", ".flac", 5, &G::OutputFLACPreset, "OutputFLACPreset", FLACPresets},
    {ocAudio, 7, "MP2",  ".mp2",  0, &G::OutputMP2Preset,  "OutputMP2Preset",  MP2Presets},
};

constexpr TOutputClassInfo Classes[] = {
    {ocVideo,  "Video",  VideoFormats,  &G::OutputVideoFormat},
    {ocDevice, "Device", DeviceFormats, &G::OutputDeviceFormat},
    {ocAudio,  "Audio",  AudioFormats,  &G::OutputAudioFormat},
};
// clang-format on

static_assert(std::size(Classes) == OutputClassCount);

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::string_view TOutputFormat::PresetText(int preset) const {
    return HasPreset(preset) ? std::string_view(Presets[size_t(preset)]) : std::string_view();
}

std::span<const TOutputClassInfo> OutputClasses() {
    return Classes;
}

const TOutputClassInfo* FindClass(int outputClass) {
    return outputClass >= 0 && outputClass < OutputClassCount ? &Classes[outputClass] : nullptr;
}

const TOutputClassInfo* FindClassByName(std::string_view name) {
    for (const auto& c : Classes)
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
    for (const auto& c : Classes)
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
    for (const auto& c : Classes)
        for (const auto& f : c.Formats)
            vars.*f.PresetKey = f.DefaultPreset;
}

void SelectClass(TGlobalVars& vars, int outputClass) {
    if (FindClass(outputClass))
        vars.OutputFormatClass = uint8_t(outputClass);
}

void SelectFormat(TGlobalVars& vars, const TOutputFormat& format) {
    vars.*Classes[format.Class].FormatKey = uint8_t(format.Index);
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
    for (const auto& c : Classes) {
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
    for (const auto& c : Classes)
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
    for (const auto& c : Classes)
        offered += ClassOffered(config, c.Index) ? 1 : 0;
    return offered > 1;
}

std::vector<TPresetEntry> AllPresets() {
    std::vector<TPresetEntry> entries;
    for (const auto& c : Classes)
        for (const auto& f : c.Formats)
            for (int i = 0; i < f.PresetCount(); ++i)
                entries.push_back({c.Name, f.Name, i, f.PresetText(i)});
    return entries;
}

} // namespace cw
