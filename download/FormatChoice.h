// The quality preference over resolved formats: each quality code stands for a picture height
// and a container, and the choice for a code is a format with picture and sound of that
// height, else the best picture-only format at or below it with the best sound-only format
// that fits the container. Joined parts go into MP4 (H.264 + AAC), WebM (VP9/AV1 + Opus or
// Vorbis) or Matroska (anything else).
#pragma once

#include "download/Resolver.h"

#include <string>

namespace cw {

enum class TTargetContainer { tcAny, tcMp4, tc3gp };

struct TQualityTarget {
    int Height = 240;
    TTargetContainer Container = TTargetContainer::tcAny;
};
// The target of a quality code 0..7; any other value (the default quality) is 240p, any
// container.
TQualityTarget QualityTarget(int code);

// The codec family a format's codec text names, learnt from its extension when the codec is
// not said: "h264", "vp9", "av1", "aac", "opus", "vorbis", another codec's own text, or "".
std::string PictureCodecFamily(const TResolvedFormat& format);
std::string SoundCodecFamily(const TResolvedFormat& format);

struct TFormatChoice {
    int Picture = -1; // the format with the picture (and the sound when Sound is -1)
    int Sound = -1;   // the separate sound-only format, -1 when none
    bool Joined() const { return Sound >= 0; }
};

// Whether a format can be fetched at all: it has an address and an http, https, HLS or DASH
// protocol.
bool IsUsableFormat(const TResolvedFormat& format);

// The choice for the code; false when the video offers nothing at or below its height. A
// format whose height is not said is taken only with allowUnknownHeight, and only when no
// format of known height serves.
bool ChooseFormats(const TResolvedVideo& video, int code, bool allowUnknownHeight,
                   TFormatChoice& choice);

// The container that holds the two codec families by stream copy: "mp4", "webm" or
// "matroska", with the file extension (".mp4", ".webm", ".mkv").
struct TJoinContainer {
    const char* Muxer;
    const char* Extension;
};
TJoinContainer JoinContainerFor(const std::string& picture, const std::string& sound);

// What was saved, in words: "1080p MP4 (H.264 + AAC)"; the height is left out when unknown,
// and so are codecs not known.
std::string SavedDescription(int height, const std::string& extension, const std::string& picture,
                             const std::string& sound);

} // namespace cw
