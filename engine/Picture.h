// A picture as the libraries lay it out: up to four planes, each a pointer and a row size in
// bytes. It does not own its memory. Frame hooks receive it too, so it stays a plain C layout.
#pragma once

#include <cstdint>

struct AVFrame;

namespace cw {

struct TPicture {
    uint8_t* Data[4] = {nullptr, nullptr, nullptr, nullptr};
    int Linesize[4] = {0, 0, 0, 0};
};

// The first four planes of a decoded or allocated frame.
TPicture PictureOf(const AVFrame* frame);

} // namespace cw
