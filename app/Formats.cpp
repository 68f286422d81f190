#include "app/Formats.h"

#include "app/GlobalVars.h"

#include <algorithm>
#include <cctype>

namespace cw {
namespace {

using G = TGlobalVars;

// clang-format off
// Class, index, name, button caption, extension, default preset, preset field.
constexpr TFormatInfo VideoFormats[] = {
    {ocVideo, 0, "AVI",  "AVI",  ".avi", 3,  &G::OutputAVIPreset},
    {ocVideo, 1, "MP4",  "MP4",  ".mp4", 3,  &G::OutputMP4Preset},
    {ocVideo, 2, "FLV",  "FLV",  ".flv", 1,  &G::OutputFLVPreset},
    {ocVideo, 3, "SWF",  "SWF",  ".swf", 1,  &G::OutputSWFPreset},
    {ocVideo, 4, "MPEG", "MPEG", ".mpg", 5,  &G::OutputMPEGPreset},
    {ocVideo, 5, "RM",   "RM",   ".rm",  1,  &G::OutputRMPreset},
    {ocVideo, 6, "WMV",  "WMV",  ".wmv", 16, &G::OutputWMVPreset},
    {ocVideo, 7, "MOV",  "MOV",  ".mov", 7,  &G::OutputMOVPreset},
    {ocVideo, 8, "3GP",  "3GP",  ".3gp", 2,  &G::Output3GPPreset},
    {ocVideo, 9,  "MKV",  "MKV",  ".mkv",  1,  &G::OutputMKVPreset},
    {ocVideo, 10, "WebM", "WebM", ".webm", 0,  &G::OutputWebMPreset},
};

constexpr TFormatInfo DeviceFormats[] = {
    {ocDevice, 0, "iPod",        "iPod",          ".mp4", 5, &G::OutputiPodPreset},
    {ocDevice, 1, "iPhone",      "iPhone",        ".mp4", 1, &G::OutputiPhonePreset},
    {ocDevice, 2, "AppleTV",     "Apple\nTV",     ".mp4", 1, &G::OutputAppleTVPreset},
    {ocDevice, 3, "PSP",         "PSP",           ".mp4", 1, &G::OutputPSPPreset},
    {ocDevice, 4, "BlackBerry",  "Black\nBerry",  ".mp4", 1, &G::OutputBlackBerryPreset},
    {ocDevice, 5, "MobilePhone", "Mobile\nPhone", ".mp4", 1, &G::OutputMobilePhonePreset},
    {ocDevice, 6, "iPad",        "iPad",          ".mp4", 0, &G::OutputiPadPreset},
    {ocDevice, 7, "Android",     "Android",       ".mp4", 0, &G::OutputAndroidPreset},
};

constexpr TFormatInfo AudioFormats[] = {
    {ocAudio, 0, "WAV",  "WAV",  ".wav",  3, &G::OutputWAVPreset},
    {ocAudio, 1, "MP3",  "MP3",  ".mp3",  2, &G::OutputMP3Preset},
    {ocAudio, 2, "WMA",  "WMA",  ".wma",  1, &G::OutputWMAPreset},
    {ocAudio, 3, "OGG",  "OGG",  ".ogg",  3, &G::OutputOGGPreset},
    {ocAudio, 4, "AAC",  "AAC",  ".aac",  3, &G::OutputAACPreset},
    {ocAudio, 5, "M4A",  "M4A",  ".m4a",  0, &G::OutputM4APreset},
    {ocAudio, 6, "FLAC", "FLAC", ".flac", 5, &G::OutputFLACPreset},
    {ocAudio, 7, "MP2",  "MP2",  ".mp2",  0, &G::OutputMP2Preset},
    {ocAudio, 8, "Opus", "Opus", ".opus", 2, &G::OutputOpusPreset},
};

constexpr TFormatClass Classes[] = {
    {ocVideo,  "Video",  VideoFormats,  &G::OutputVideoFormat},
    {ocDevice, "Device", DeviceFormats, &G::OutputDeviceFormat},
    {ocAudio,  "Audio",  AudioFormats,  &G::OutputAudioFormat},
};
// clang-format on

static_assert(std::size(Classes) == OutputClassCount);

} // namespace

std::string TFormatInfo::BrandingKey() const {
    std::string key(Name);
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return key;
}

std::string TFormatInfo::PresetKeyName() const {
    return "Output" + std::string(Name) + "Preset";
}

std::string TFormatClass::FormatKeyName() const {
    return "Output" + std::string(Name) + "Format";
}

std::span<const TFormatClass> FormatClasses() {
    return Classes;
}

} // namespace cw
