#include "engine/StreamFacts.h"

#include "engine/FFApi.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/pixdesc.h>
}

namespace cw {

namespace {

// Codecs of single pictures: a stream of them at the demuxers' 90 kHz placeholder rate is a
// picture stored with the file, not a video.
constexpr AVCodecID StillImageCodecs[] = {
    AV_CODEC_ID_MJPEG, AV_CODEC_ID_PNG,  AV_CODEC_ID_BMP,      AV_CODEC_ID_GIF,
    AV_CODEC_ID_TIFF,  AV_CODEC_ID_WEBP, AV_CODEC_ID_JPEG2000, AV_CODEC_ID_JPEGLS,
};

bool IsStillImageCodec(AVCodecID id) {
    return std::find(std::begin(StillImageCodecs), std::end(StillImageCodecs), id) !=
           std::end(StillImageCodecs);
}

// Sizes an encoder refuses, found by opening each encoder the presets and the containers'
// defaults name at odd and uneven sizes and decoding what it wrote: the multiples it insists
// on, and whether the chroma subsampling of its pixel format must divide the size too. Every
// encoder not listed takes any size (mpeg4, mpeg1video, mpeg2video, mjpeg, svq1, flv1,
// msmpeg4, rawvideo, libtheora, libvpx), so the input's size stays as it is.
struct TEncoderAlignment {
    AVCodecID Codec;
    int Width;
    int Height;
    bool Chroma;
};
constexpr TEncoderAlignment EncoderAlignments[] = {
    {AV_CODEC_ID_H264, 1, 1, true}, // libx264: "width not divisible by 2" for 4:2:0
    {AV_CODEC_ID_HEVC, 1, 1, true}, // libx265 likewise
    {AV_CODEC_ID_AV1, 1, 1, true},  // libsvtav1: "Source Width must be even for YUV_420"
    {AV_CODEC_ID_RV10, 16, 16, false},
    {AV_CODEC_ID_RV20, 4, 4, false},
    {AV_CODEC_ID_H263, 4, 4, false}, // before its list of sizes is even looked at
    {AV_CODEC_ID_H263P, 4, 4, false},
    {AV_CODEC_ID_WMV1, 2, 1, false}, // "width must be multiple of 2"; any height
    {AV_CODEC_ID_WMV2, 2, 1, false},
    {AV_CODEC_ID_HUFFYUV, 2, 1, false},
};

// The nearest multiple of step, at least one step.
int RoundTo(int value, int step) {
    if (step <= 1)
        return value;
    const int rounded = (value + step / 2) / step * step;
    return std::max(rounded, step);
}

// A picture turn by the signs of the matrix's 2x2 part (a b / c d: x' = a x + c y, y' = b x +
// d y in picture co-ordinates, y downwards).
struct TTurnRow {
    int A, B, C, D;
    TPictureTurn Turn;
    const char* Filters;
};
constexpr TTurnRow TurnRows[] = {
    {1, 0, 0, 1, ptNone, ""},
    {0, 1, -1, 0, ptClockwise, "transpose=clock"},
    {-1, 0, 0, -1, ptHalf, "hflip,vflip"},
    {0, -1, 1, 0, ptCounterClockwise, "transpose=cclock"},
    {-1, 0, 0, 1, ptMirror, "hflip"},
    {1, 0, 0, -1, ptFlip, "vflip"},
    {0, 1, 1, 0, ptTranspose, "transpose=cclock_flip"},
    {0, -1, -1, 0, ptAntiTranspose, "transpose=clock_flip"},
};

const TTurnRow& RowOf(TPictureTurn turn) {
    for (const TTurnRow& row : TurnRows)
        if (row.Turn == turn)
            return row;
    return TurnRows[0];
}

int Sign(int32_t v) {
    return v > 0 ? 1 : v < 0 ? -1 : 0;
}

} // namespace

bool IsCoverPicture(const AVStream* stream) {
    if (!stream || stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
        return false;
    if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
        return true;
    const AVRational rate = stream->r_frame_rate;
    return rate.num == 90000 && rate.den == 1 &&
           (IsStillImageCodec(stream->codecpar->codec_id) ||
            (stream->nb_frames > 0 && stream->nb_frames <= 1));
}

int FirstRealVideoStream(const AVFormatContext* context) {
    if (!context)
        return -1;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !IsCoverPicture(stream))
            return static_cast<int>(i);
    }
    return -1;
}

int FirstCoverPicture(const AVFormatContext* context) {
    if (!context)
        return -1;
    for (unsigned i = 0; i < context->nb_streams; ++i)
        if (IsCoverPicture(context->streams[i]))
            return static_cast<int>(i);
    return -1;
}

TPictureTurn TurnOfMatrix(const int32_t matrix[9]) {
    const int32_t a = matrix[0], b = matrix[1], c = matrix[3], d = matrix[4];
    // The larger pair decides whether the axes stay or swap; the smaller pair is rounding.
    const bool straight = std::llabs(a) + std::llabs(d) >= std::llabs(b) + std::llabs(c);
    const int sa = straight ? Sign(a) : 0, sd = straight ? Sign(d) : 0;
    const int sb = straight ? 0 : Sign(b), sc = straight ? 0 : Sign(c);
    for (const TTurnRow& row : TurnRows)
        if (row.A == sa && row.B == sb && row.C == sc && row.D == sd)
            return row.Turn;
    return ptNone; // a singular matrix: shown as stored
}

TPictureTurn DisplayTurn(const AVStream* stream) {
    if (!stream)
        return ptNone;
    for (int i = 0; i < stream->nb_side_data; ++i) {
        const AVPacketSideData& side = stream->side_data[i];
        if (side.type == AV_PKT_DATA_DISPLAYMATRIX && side.data && side.size >= 9 * 4) {
            int32_t matrix[9];
            std::memcpy(matrix, side.data, sizeof matrix);
            return TurnOfMatrix(matrix);
        }
    }
    return ptNone;
}

double SignalPeak(const AVStream* stream) {
    double mastering = 0;
    for (int i = 0; stream && i < stream->nb_side_data; ++i) {
        const AVPacketSideData& side = stream->side_data[i];
        if (side.type == AV_PKT_DATA_CONTENT_LIGHT_LEVEL &&
            side.size >= sizeof(AVContentLightMetadata)) {
            AVContentLightMetadata light;
            std::memcpy(&light, side.data, sizeof light);
            if (light.MaxCLL > 0)
                return light.MaxCLL / 100.0;
        } else if (side.type == AV_PKT_DATA_MASTERING_DISPLAY_METADATA &&
                   side.size >= sizeof(AVMasteringDisplayMetadata)) {
            AVMasteringDisplayMetadata display;
            std::memcpy(&display, side.data, sizeof display);
            if (display.has_luminance && display.max_luminance.den > 0)
                mastering = av_q2d(display.max_luminance) / 100.0;
        }
    }
    return mastering;
}

bool TurnSwapsSides(TPictureTurn turn) {
    return RowOf(turn).A == 0;
}

const char* TurnFilters(TPictureTurn turn) {
    return RowOf(turn).Filters;
}

TBitmap TurnBitmap(const TBitmap& bitmap, TPictureTurn turn) {
    if (turn == ptNone)
        return bitmap;
    const TTurnRow& row = RowOf(turn);
    const int w = bitmap.Width(), h = bitmap.Height();
    const bool swap = row.A == 0;
    TBitmap result;
    result.SetBitsPixel(bitmap.BitsPixel());
    result.SetSize(swap ? h : w, swap ? w : h);
    const int bytes = TBitmap::BytesPerPixel(bitmap.BitsPixel());
    // Every stored pixel goes where the matrix sends it; a negative factor counts from the
    // far edge.
    const int offsetX = row.A < 0 || row.C < 0 ? result.Width() - 1 : 0;
    const int offsetY = row.B < 0 || row.D < 0 ? result.Height() - 1 : 0;
    for (int y = 0; y < h; ++y) {
        const uint8_t* source = bitmap.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            const int tx = row.A * x + row.C * y + offsetX;
            const int ty = row.B * x + row.D * y + offsetY;
            std::memcpy(result.ScanLine(ty) + static_cast<size_t>(tx) * bytes,
                        source + static_cast<size_t>(x) * bytes, static_cast<size_t>(bytes));
        }
    }
    return result;
}

bool AlignPictureSize(AVCodecID codec, AVPixelFormat format, int& width, int& height) {
    int stepW = 1, stepH = 1;
    for (const TEncoderAlignment& row : EncoderAlignments) {
        if (row.Codec != codec)
            continue;
        stepW = std::max(stepW, row.Width);
        stepH = std::max(stepH, row.Height);
        if (const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(format); desc && row.Chroma) {
            stepW = std::max(stepW, 1 << desc->log2_chroma_w);
            stepH = std::max(stepH, 1 << desc->log2_chroma_h);
        }
    }
    const int w = RoundTo(width, stepW), h = RoundTo(height, stepH);
    const bool changed = w != width || h != height;
    width = w;
    height = h;
    return changed;
}

} // namespace cw
