// The built-in encoder presets, preset files, and the target profiles of the disc and
// camcorder standards.
#include "engine/TranscoderOptions.h"

#include "engine/FFmpegException.h"
#include "engine/Text.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace cw {

namespace {

// The built-in presets (TranscoderPresets.inc).
const TOptionsPreset Presets[] = {
#include "engine/TranscoderPresets.inc"
};

// A disc or camcorder profile. Null texts and zero numbers leave the option unchanged; sizes,
// key-frame intervals and pixel formats are given for PAL and for the other norms.
struct TTargetProfile {
    const char* Type;
    const char* VideoCodec;
    const char* AudioCodec;
    const char* Format;
    const char* SizePal;
    const char* SizeOther;
    const char* PixFmtPal;
    const char* PixFmtOther;
    const char* GopPal;
    const char* GopOther;
    const char* Bitrate;
    const char* MaxRate;
    const char* MinRate;
    const char* BufSize;
    const char* Flags;
    const char* AudioBitrate;
    const char* SampleRate;
    bool StereoOnlyFromMono; // "ac" 2 only when it was 1, otherwise always 2
    const char* PacketSize;
    const char* MuxRate;
    const char* MuxPreload;
    const char* Aspect; // when none is set
};

const TTargetProfile Targets[] = {
    {"vcd",   "mpeg1video", "mp2",     "vcd",     "352x288", "352x240", nullptr, nullptr,
     "15",    "18",         "1150000", "1150000", "1150000", "327680",  nullptr, "224000",
     "44100", false,        "2324",    "1411200", "0.44",    "4:3"},
    {"svcd",  "mpeg2video", "mp2",     "svcd",    "480x576", "480x480", nullptr,        nullptr,
     "15",    "18",         "2040000", "2516000", "0",       "1835008", "+scan_offset", "224000",
     "44100", true,         "2324",    nullptr,   nullptr,   "4:3"},
    {"dvd",   "mpeg2video", "ac3",     "dvd",      "720x576", "720x480", nullptr, nullptr,
     "15",    "18",         "6000000", "9000000",  "0",       "1835008", nullptr, "448000",
     "48000", true,         "2048",    "10080000", nullptr,   "16:9"},
    {"dv",    nullptr, nullptr, "dv",    "720x576", "720x480", "yuv420p", "yuv411p",
     nullptr, nullptr, nullptr, nullptr, nullptr,   nullptr,   nullptr,   nullptr,
     "48000", false,   nullptr, nullptr, nullptr,   nullptr},
    {"dv50",  nullptr, nullptr, "dv",    "720x576", "720x480", "yuv422p", "yuv422p",
     nullptr, nullptr, nullptr, nullptr, nullptr,   nullptr,   nullptr,   nullptr,
     "48000", false,   nullptr, nullptr, nullptr,   nullptr},
};

enum TNorm { nmPAL, nmNTSC, nmFILM };
const char* const NormFrameRates[] = {"25", "30000/1001", "24000/1001"};

// 25000 for PAL, 29970 or 23976 for NTSC: the norm a frame rate belongs to, or -1.
int NormOfRate(AVRational rate) {
    if (rate.num <= 0 || rate.den <= 0)
        return -1;
    int64_t r = std::llround(static_cast<double>(rate.num) * 1000.0 / rate.den);
    if (r == 25000)
        return nmPAL;
    if (r == 29970 || r == 23976)
        return nmNTSC;
    return -1;
}

// A preset text as lines: trimmed, line breaks made LF.
std::vector<std::string> PresetLines(const std::string& text) {
    std::string trimmed = TrimText(text);
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < trimmed.size(); ++i) {
        char c = trimmed[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < trimmed.size() && trimmed[i + 1] == '\n')
                ++i;
        } else {
            line += c;
        }
    }
    lines.push_back(line);
    return lines;
}

} // namespace

std::span<const TOptionsPreset> BuiltinPresets() {
    return Presets;
}

const TOptionsPreset* FindBuiltinPreset(const std::string& name) {
    std::string wanted = LowerText(name);
    for (const TOptionsPreset& preset : Presets)
        if (wanted == preset.Name)
            return &preset;
    return nullptr;
}

std::string TargetAudioCodecName(const std::string& targetType) {
    for (const TTargetProfile& target : Targets)
        if (targetType == target.Type)
            return target.AudioCodec ? target.AudioCodec : "";
    return {};
}

void TTranscoderOptions::ApplyPreset(char kind, const std::string& value) {
    if (value.empty())
        return;
    std::string displayName = value;
    const TOptionsPreset* preset = nullptr;
    if (kind == 'a' || kind == 'v' || kind == 's') {
        preset = FindBuiltinPreset(value);
        const std::string& codec = kind == 'a'   ? AudioCodecName
                                   : kind == 'v' ? VideoCodecName
                                                 : SubtitleCodecName;
        if (!preset && !codec.empty()) {
            preset = FindBuiltinPreset(codec + "-" + value);
            if (preset)
                displayName = codec + "-" + value;
        }
    }
    std::string text;
    if (preset) {
        text = preset->Text;
    } else {
        std::error_code error;
        if (!std::filesystem::is_regular_file(value, error))
            throw FFmpegException(FormatText("Preset \"%s\" not found", value.c_str()));
        std::ifstream file(value, std::ios::binary);
        if (!file)
            throw FFmpegException(FormatText("Preset \"%s\" not found", value.c_str()));
        std::ostringstream content;
        content << file.rdbuf();
        text = content.str();
    }

    for (const std::string& rawLine : PresetLines(text)) {
        std::string line = TrimText(rawLine);
        if (line.empty() || line[0] == '#')
            continue;
        size_t eq = line.find('=');
        std::string key = line.substr(0, eq);
        std::string argument = eq == std::string::npos ? std::string() : line.substr(eq + 1);
        if (key.empty() || argument.empty())
            throw FFmpegException(
                FormatText("%s: Invalid syntax: \"%s\"", displayName.c_str(), line.c_str()));
        std::string lowerKey = LowerText(key);
        if (lowerKey == "acodec")
            SetCodec(AVMEDIA_TYPE_AUDIO, argument);
        else if (lowerKey == "vcodec")
            SetCodec(AVMEDIA_TYPE_VIDEO, argument);
        else if (lowerKey == "scodec")
            SetCodec(AVMEDIA_TYPE_SUBTITLE, argument);
        else if (!SetGenericOption(key, argument) && StrictOptions)
            throw FFmpegException(FormatText(
                "%s\r\n%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"",
                LastOptionError().c_str(), displayName.c_str(), line.c_str(), key.c_str(),
                argument.c_str()));
    }
}

void TTranscoderOptions::SetTarget(const std::string& type, const std::string& norm,
                                   const std::string& defaultNorm) {
    int chosen = -1;
    if (norm == "pal") {
        chosen = nmPAL;
    } else if (norm == "ntsc") {
        chosen = nmNTSC;
    } else if (norm == "film") {
        chosen = nmFILM;
    } else {
        if (FrameRate.den == 0)
            throw FFmpegException("frame_rate is invalid.");
        chosen = NormOfRate(FrameRate);
        if (chosen < 0)
            for (AVRational rate : InputVideoFrameRates())
                if ((chosen = NormOfRate(rate)) >= 0)
                    break;
        if (chosen < 0)
            chosen = defaultNorm == "film" ? nmFILM : defaultNorm == "ntsc" ? nmNTSC : nmPAL;
        if (Verbose > 0)
            Log(llVerbose, FormatText("Assuming %s for target.", chosen == nmPAL ? "PAL" : "NTSC"));
    }

    const TTargetProfile* target = nullptr;
    for (const TTargetProfile& row : Targets)
        if (type == row.Type)
            target = &row;
    if (!target)
        throw FFmpegException("Unknown target type");

    bool pal = chosen == nmPAL;
    auto option = [&](const char* name, const char* value) {
        if (value)
            SetOption(name, value);
    };
    auto generic = [&](const char* name, const char* value) {
        if (value)
            SetGenericQuietly(name, value);
    };
    option("r", NormFrameRates[chosen]);
    option("vcodec", target->VideoCodec);
    option("acodec", target->AudioCodec);
    option("f", target->Format);
    option("s", pal ? target->SizePal : target->SizeOther);
    option("pix_fmt", pal ? target->PixFmtPal : target->PixFmtOther);
    generic("g", pal ? target->GopPal : target->GopOther);
    generic("b", target->Bitrate);
    generic("maxrate", target->MaxRate);
    generic("minrate", target->MinRate);
    generic("bufsize", target->BufSize);
    generic("flags", target->Flags);
    generic("ab", target->AudioBitrate);
    option("ar", target->SampleRate);
    if (!target->StereoOnlyFromMono || AudioChannels == 1)
        AudioChannels = 2;
    generic("packetsize", target->PacketSize);
    generic("muxrate", target->MuxRate);
    option("muxpreload", target->MuxPreload);
    if (target->Aspect && FrameAspectRatio == 0) {
        SetOption("aspect", target->Aspect);
        Log(llInfo, FormatText("Assuming %s for aspect ratio", target->Aspect));
    }
}

} // namespace cw
