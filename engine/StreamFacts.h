// What a stream is, beyond its media type: whether a video stream is only a cover picture,
// how its pictures must be turned to stand upright, and what sizes an encoder takes. Used by
// the decoder component (probing, thumbnails) and by the transcoder (streams, filter graph).
#pragma once

#include "engine/Bitmap.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace cw {

// A picture attached to the file (cover art, a thumbnail) rather than moving pictures: the
// attached-picture disposition, or a still image reported at 90000 pictures a second.
bool IsCoverPicture(const AVStream* stream);
// The first video stream of the container that is not a cover picture; -1 when none.
int FirstRealVideoStream(const AVFormatContext* context);
// The first cover picture of the container; -1 when none.
int FirstCoverPicture(const AVFormatContext* context);

// How the stored picture is turned for display, from the stream's display matrix: one of the
// four rotations, each with or without a mirror image.
enum TPictureTurn {
    ptNone,
    ptClockwise,        // 90 degrees clockwise
    ptHalf,             // 180 degrees
    ptCounterClockwise, // 90 degrees counterclockwise
    ptMirror,           // left and right swapped
    ptFlip,             // top and bottom swapped
    ptTranspose,        // rows become columns (mirror along the main diagonal)
    ptAntiTranspose,    // mirror along the other diagonal
};
TPictureTurn DisplayTurn(const AVStream* stream);
// The turn a display matrix (nine values, 16.16 fixed point for the 2x2 part) describes.
TPictureTurn TurnOfMatrix(const int32_t matrix[9]);
// True when the turn swaps width and height.
bool TurnSwapsSides(TPictureTurn turn);
// The filters that turn the stored picture upright ("transpose=clock", "hflip,vflip", ...);
// empty for ptNone.
const char* TurnFilters(TPictureTurn turn);
// The bitmap turned upright.
TBitmap TurnBitmap(const TBitmap& bitmap, TPictureTurn turn);

// The brightest light of an HDR stream as a multiple of 100 cd/m2 (the standard range's
// white), from its content light level or else its mastering display; 0 when it says neither.
double SignalPeak(const AVStream* stream);

// Width and height brought to what the encoder accepts for the pixel format, and only where
// its encoder refuses the size: multiples of its own block size, and of the chroma
// subsampling (even sizes for 4:2:0) for the encoders that need that. Sizes are rounded to
// the nearest accepted value, never below one block. Returns true when a size changed.
bool AlignPictureSize(AVCodecID codec, AVPixelFormat format, int& width, int& height);

} // namespace cw
