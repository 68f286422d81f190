// The engine's RGB picture: rows of pixels top row first, each row padded to a multiple of
// four bytes. BitsPixel is one of 8 (BGR 3:3:2), 15 (x1r5g5b5), 16 (r5g6b5), 24 (B, G, R
// bytes) or 32 (B, G, R, A bytes); 15- and 16-bit pixels are little-endian words. The user
// interface shows it without copying (a QImage over Pixels with Stride).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cw {

class TBitmap {
public:
    int Width() const { return W; }
    int Height() const { return H; }
    int BitsPixel() const { return Bits; }
    int Stride() const { return RowBytes; }

    // Bytes a pixel takes in memory (15-bit pixels take two).
    static int BytesPerPixel(int bitsPixel) { return (bitsPixel + 7) / 8; }
    // Bytes of one row: the pixels' bytes rounded up to a multiple of four.
    static int RowSize(int width, int bitsPixel) {
        return (width * BytesPerPixel(bitsPixel) + 3) / 4 * 4;
    }

    // Changing the layout or the size keeps no pixels; the new rows are zero.
    void SetBitsPixel(int bitsPixel) { Reshape(W, H, bitsPixel); }
    void SetSize(int width, int height) { Reshape(width, height, Bits); }

    uint8_t* ScanLine(int row) { return Pixels.data() + static_cast<size_t>(row) * RowBytes; }
    const uint8_t* ScanLine(int row) const {
        return Pixels.data() + static_cast<size_t>(row) * RowBytes;
    }
    uint8_t* Data() { return Pixels.data(); }
    const uint8_t* Data() const { return Pixels.data(); }

private:
    void Reshape(int width, int height, int bitsPixel) {
        if (width == W && height == H && bitsPixel == Bits)
            return;
        W = width < 0 ? 0 : width;
        H = height < 0 ? 0 : height;
        Bits = bitsPixel;
        RowBytes = RowSize(W, Bits);
        Pixels.assign(static_cast<size_t>(RowBytes) * H, 0);
    }

    int W = 0, H = 0, Bits = 24, RowBytes = 0;
    std::vector<uint8_t> Pixels;
};

} // namespace cw
