// The input list without widgets: the seventeen cells of a listed file, the texts the list
// shows of a probed file, probing a file with the decoder (with its middle picture as the
// thumbnail), and the list commands' rules (which are enabled, where the selection goes).
// The window's grid shows these rows; the command line's probe prints the same texts.
#pragma once

#include "engine/Bitmap.h"

#include <array>
#include <cstdint>
#include <string>

namespace cw {

class TFFDecoder;
struct TFileStreamInfo;
struct TAudioStreamInfo;
struct TVideoStreamInfo;

// Cell numbers of a row.
enum TInputCell {
    icMainImage = 0,   // thumbnail (a picture; its text is empty)
    icFileMinName,     // the path shortened to fit the card (the window shortens it)
    icDuration,        // "Duration: ..."
    icBitrate,         // "Bit rate: ..." or "Audio Bit rate: ..."
    icDimension,       // "Dimension: W x H" or "Audio Encoder: ..."
    icFileFullName,    // the path as given
    icFileSize,        // "File size: N M"
    icVideoEncoder,    // "Video encoder: ..."
    icAudioChannels,   // "Channels: N"
    icAudioSampleRate, // "Sample rate: N Hz"
    icAudioBitrate,    // "Bit rate: ..." of the audio stream
    icAudioEncoder,    // "Audio encoder: ..."
    icFrameRate,       // "Frame rate: %f"
    icRealDuration,    // duration in microseconds as digits; "0" without a duration
    icWidth,           // video width
    icHeight,          // video height
    icAspectRatio,     // video display aspect ratio
    InputCellCount
};

// "Duration is not preseted" for a file without duration (-1), else h:mm:ss.zzz.
std::string InputDurationText(int64_t microseconds);
// "Bit rate is not preseted" below 1 bit/s, else "%d Kbps" of the whole kilobits.
std::string InputBitRateText(int32_t bitsPerSecond);

// One row: every cell as text (cells 14 to 16 also as numbers, which the join run reads).
struct TInputRow {
    std::array<std::string, InputCellCount> Cells;
    bool AudioOnly = false;
    int64_t Duration = -1; // microseconds; -1 unknown
    int Width = -1;
    int Height = -1;
    double AspectRatio = -1;

    const std::string& Path() const { return Cells[icFileFullName]; }
};

// The row of an opened file from its facts. The file is audio-only when it has no video
// stream; its video facts are then the decoder's values for a missing stream.
TInputRow MakeInputRow(const std::string& path, int64_t fileSize, bool audioOnly,
                       const TFileStreamInfo& file, const TVideoStreamInfo& video,
                       const TAudioStreamInfo& audio);

// What probing one file gives.
struct TProbeResult {
    bool Opened = false;
    std::string Error; // the decoder's text (it begins with the file name) when not opened
    TInputRow Row;
    // The middle picture of a video file; HasThumbnail false for audio-only files and for
    // pictures that could not be decoded (the card's picture then stays empty).
    bool HasThumbnail = false;
    TBitmap Thumbnail; // 24 bits per pixel (B, G, R)
};

// Opens the file with the decoder, reads its facts, takes the thumbnail (seek to half the
// duration, decode one picture of the first video stream) and closes the file again. The
// decoder may belong to any thread; one file at a time.
TProbeResult ProbeInputFile(TFFDecoder& decoder, const std::string& path);

// The list commands' rules. selected is the selected row, -1 for none.
struct TInputListCommands {
    bool Delete = false;
    bool Clear = false;
    bool MoveUp = false;
    bool MoveDown = false;
    bool Play = false;
};
TInputListCommands InputListCommands(int rowCount, int selected);
// The row selected after deleting row `deleted` from a list that now has rowCount rows: the
// row now at the same index, or the last row; -1 when the list is empty.
int SelectionAfterDelete(int deleted, int rowCount);
// The target of Move Up or Move Down of the selected row; -1 when the move does nothing.
int MoveUpTarget(int selected);
int MoveDownTarget(int selected, int rowCount);

// The path shortened for the card: leading folders replaced by "..." until textWidth says it
// fits in maxWidth; the file name alone is kept even when it does not fit.
template <class TWidth>
std::string ShortenPath(const std::string& path, int maxWidth, TWidth textWidth);

// --- template ------------------------------------------------------------------------------

template <class TWidth>
std::string ShortenPath(const std::string& path, int maxWidth, TWidth textWidth) {
    if (textWidth(path) <= maxWidth)
        return path;
    // Cut whole leading folders: ".../rest/of/path/name", down to ".../name".
    for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
        std::string candidate = "..." + path.substr(at);
        if (textWidth(candidate) <= maxWidth || at == path.rfind('/'))
            return candidate;
    }
    return path;
}

} // namespace cw
