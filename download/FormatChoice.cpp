#include "download/FormatChoice.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <tuple>

namespace cw {

namespace {

using C = TTargetContainer;

// Quality codes 0..7 ([HQ6], [HQ18], [HQ35], [HQ22], [HQ13], [HQ17], [HQ34], [HQ37]).
constexpr std::array<TQualityTarget, 8> Targets = {{
    {240, C::tcAny},
    {360, C::tcMp4},
    {480, C::tcAny},
    {720, C::tcMp4},
    {144, C::tc3gp},
    {144, C::tc3gp},
    {360, C::tcAny},
    {1080, C::tcMp4},
}};

std::string Lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// The codec texts of answers: "avc1.64001F", "vp09.00.10.08", "av01.0.05M.08", "mp4a.40.2",
// "opus", "h264", ...
std::string Family(const std::string& codec) {
    const std::string c = Lower(codec);
    if (StartsWith(c, "avc") || c == "h264")
        return "h264";
    if (StartsWith(c, "vp09") || StartsWith(c, "vp9"))
        return "vp9";
    if (StartsWith(c, "av01") || c == "av1")
        return "av1";
    if (StartsWith(c, "mp4a") || c == "aac")
        return "aac";
    if (c == "opus")
        return "opus";
    if (c == "vorbis")
        return "vorbis";
    return c;
}

// The container a target's parts must fit: H.264 and AAC for MP4 and 3GP.
bool WantsMp4(const TQualityTarget& target) {
    return target.Container != C::tcAny;
}

bool ProgressiveFits(const TResolvedFormat& f, const TQualityTarget& target) {
    const std::string ext = Lower(f.Ext);
    switch (target.Container) {
    case C::tcMp4:
        return ext == "mp4";
    case C::tc3gp:
        return ext == "3gp" || ext == "mp4";
    default:
        return true;
    }
}

// Better formats compare greater: taller, smoother, richer, larger.
auto Rank(const TResolvedFormat& f) {
    return std::make_tuple(f.Height, f.Fps, f.Tbr, f.FileSize);
}

} // namespace

TQualityTarget QualityTarget(int code) {
    if (code < 0 || code >= int(Targets.size()))
        return {240, C::tcAny};
    return Targets[size_t(code)];
}

std::string PictureCodecFamily(const TResolvedFormat& f) {
    if (!f.VCodec.empty() && f.VCodec != "none")
        return Family(f.VCodec);
    const std::string ext = Lower(f.Ext);
    if (ext == "mp4" || ext == "3gp")
        return "h264";
    if (ext == "webm")
        return "vp9";
    return {};
}

std::string SoundCodecFamily(const TResolvedFormat& f) {
    if (!f.ACodec.empty() && f.ACodec != "none")
        return Family(f.ACodec);
    const std::string ext = Lower(f.Ext);
    if (ext == "m4a" || ext == "mp4" || ext == "3gp")
        return "aac";
    if (ext == "webm" || ext == "opus")
        return "opus";
    if (ext == "ogg")
        return "vorbis";
    return {};
}

bool IsUsableFormat(const TResolvedFormat& f) {
    return !f.Url.empty() && (f.IsHttp() || f.IsManifest());
}

bool ChooseFormats(const TResolvedVideo& video, int code, bool allowUnknownHeight,
                   TFormatChoice& choice) {
    choice = {};
    const TQualityTarget target = QualityTarget(code);
    const auto& formats = video.Formats;

    // The best index among the formats that pass the test, -1 when none does.
    auto best = [&](auto&& test, auto&& rank) {
        int found = -1;
        for (size_t i = 0; i < formats.size(); ++i) {
            if (!IsUsableFormat(formats[i]) || !test(formats[i]))
                continue;
            if (found < 0 || rank(formats[i]) > rank(formats[size_t(found)]))
                found = int(i);
        }
        return found;
    };
    auto byRank = [](const TResolvedFormat& f) { return Rank(f); };

    auto progressive = [](const TResolvedFormat& f) { return f.HasPicture() && f.HasSound(); };
    auto pictureOnly = [](const TResolvedFormat& f) { return f.HasPicture() && !f.HasSound(); };
    auto soundOnly = [](const TResolvedFormat& f) { return !f.HasPicture() && f.HasSound(); };

    // Picture codecs the target takes: H.264 for MP4 and 3GP; VP9 or AV1 first otherwise,
    // then anything.
    auto pictureFits = [&](const TResolvedFormat& f, bool strict) {
        const std::string family = PictureCodecFamily(f);
        if (WantsMp4(target))
            return family == "h264";
        return !strict || family == "vp9" || family == "av1";
    };
    // The best sound for the picture: AAC for MP4 targets; else Opus, Vorbis, AAC and the
    // rest in that order, each ranked by its bit rate.
    auto soundFor = [&]() {
        if (WantsMp4(target))
            return best(
                [&](const TResolvedFormat& f) {
                    return soundOnly(f) && SoundCodecFamily(f) == "aac";
                },
                byRank);
        for (const char* family : {"opus", "vorbis", "aac"}) {
            const int found = best(
                [&](const TResolvedFormat& f) {
                    return soundOnly(f) && SoundCodecFamily(f) == family;
                },
                byRank);
            if (found >= 0)
                return found;
        }
        return best(soundOnly, byRank);
    };
    // Picture at or below the height: picture-only formats, and formats that do not say
    // whether they carry sound (an HLS variant whose sound is a rendition of its own).
    auto pictureAtOrBelow = [&](bool known) {
        for (const bool strict : {true, false}) {
            const int found = best(
                [&](const TResolvedFormat& f) {
                    const bool heightFits =
                        known ? f.Height > 0 && f.Height <= target.Height : f.Height == 0;
                    const bool picture = pictureOnly(f) || (f.HasPicture() && f.ACodec.empty());
                    return picture && heightFits && pictureFits(f, strict);
                },
                byRank);
            if (found >= 0)
                return found;
        }
        return -1;
    };
    // The picture with its sound; a picture that may carry sound goes alone when no
    // sound-only format fits.
    auto withSound = [&](int picture, int sound) {
        if (picture < 0 || (sound < 0 && pictureOnly(formats[size_t(picture)])))
            return false;
        choice.Picture = picture;
        choice.Sound = sound;
        return true;
    };

    // 1. A format with picture and sound of the target's height.
    choice.Picture = best(
        [&](const TResolvedFormat& f) {
            return progressive(f) && f.Height == target.Height && ProgressiveFits(f, target);
        },
        byRank);
    if (choice.Picture >= 0)
        return true;
    // 2. Picture only at or below the height, with the fitting sound.
    const int sound = soundFor();
    if (withSound(pictureAtOrBelow(true), sound))
        return true;
    if (!allowUnknownHeight)
        return false;
    // 3. Formats that do not say their height: whole ones first, then picture with sound.
    choice.Picture = best(
        [&](const TResolvedFormat& f) {
            return progressive(f) && f.Height == 0 && ProgressiveFits(f, target);
        },
        byRank);
    if (choice.Picture < 0)
        choice.Picture =
            best([&](const TResolvedFormat& f) { return progressive(f) && f.Height == 0; }, byRank);
    if (choice.Picture >= 0)
        return true;
    if (withSound(pictureAtOrBelow(false), sound))
        return true;
    choice = {};
    return false;
}

TJoinContainer JoinContainerFor(const std::string& picture, const std::string& sound) {
    if (picture == "h264" && sound == "aac")
        return {"mp4", ".mp4"};
    if ((picture == "vp9" || picture == "av1") && (sound == "opus" || sound == "vorbis"))
        return {"webm", ".webm"};
    return {"matroska", ".mkv"};
}

std::string SavedDescription(int height, const std::string& extension, const std::string& picture,
                             const std::string& sound) {
    auto name = [](const std::string& family) -> std::string {
        if (family == "h264")
            return "H.264";
        if (family == "vp9")
            return "VP9";
        if (family == "av1")
            return "AV1";
        if (family == "aac")
            return "AAC";
        if (family == "opus")
            return "Opus";
        if (family == "vorbis")
            return "Vorbis";
        std::string upper = family;
        for (char& c : upper)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        return upper;
    };
    std::string container = extension.empty() ? std::string() : extension.substr(1);
    for (char& c : container)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    std::string text = height > 0 ? std::to_string(height) + "p " + container : container;
    std::string codecs;
    if (!picture.empty())
        codecs = name(picture);
    if (!sound.empty())
        codecs += (codecs.empty() ? "" : " + ") + name(sound);
    if (!codecs.empty())
        text += " (" + codecs + ")";
    return text;
}

} // namespace cw
