// Owners of the library objects the engine holds: one deleter per kind of object and the
// unique_ptr type that uses it. Every object the engine allocates from the libraries goes into
// one of these as soon as it exists, so every path out of a function (errors included) frees
// what it made, and nothing else in the engine calls the libraries' free functions.
//
// The deleters do nothing when the library that frees the object is no longer bound (a job
// or a decoder destroyed at process end): what the library allocated goes with it then.
#pragma once

#include "engine/FFApi.h"

#include <cstdint>
#include <cstdio>
#include <memory>

namespace cw {

// An opened input container and its file access (CloseInputFile).
struct TFreeInputContext {
    void operator()(AVFormatContext* context) const;
};
// An output container: its file access when one was opened (CloseOutputFile), then the
// context. Also right for a context made by avformat_alloc_context that never had a file.
struct TFreeOutputContext {
    void operator()(AVFormatContext* context) const;
};
// A file access made by OpenUnicodeIO or avio_open2.
struct TFreeIOContext {
    void operator()(AVIOContext* io) const;
};
// A codec context, under the codec lock; the two-pass statistics text given to an encoder
// (stats_in) is ours and freed with it.
struct TFreeCodecContext {
    void operator()(AVCodecContext* context) const;
};
struct TFreeFrame {
    void operator()(AVFrame* frame) const;
};
struct TFreePacket {
    void operator()(AVPacket* packet) const;
};
struct TFreeScaler {
    void operator()(SwsContext* context) const;
};
struct TFreeResampler {
    void operator()(SwrContext* context) const;
};
struct TFreeAudioFifo {
    void operator()(AVAudioFifo* fifo) const;
};
struct TFreeBitstreamFilter {
    void operator()(AVBSFContext* context) const;
};
struct TFreeFilterGraph {
    void operator()(AVFilterGraph* graph) const;
};
// The open ends of a filter description being parsed (avfilter_inout_alloc).
struct TFreeFilterInOut {
    void operator()(AVFilterInOut* inOut) const;
};
// Memory from av_malloc and its kin.
struct TFreeMemory {
    void operator()(void* memory) const;
};
// Sample planes made by av_samples_alloc: the first plane pointer owns the block.
struct TFreeSamples {
    void operator()(uint8_t** planes) const;
};
// A dictionary of tags (av_dict_set); a call that may replace it gets it released and gives
// back what it returns.
struct TFreeDictionary {
    void operator()(AVDictionary* dictionary) const;
};
// A file of the C library (two-pass logs, video statistics).
struct TCloseFile {
    void operator()(std::FILE* file) const;
};

// A decoded subtitle: its rectangles and texts are freed with it.
class TSubtitle {
public:
    TSubtitle() = default;
    ~TSubtitle();
    TSubtitle(const TSubtitle&) = delete;
    TSubtitle& operator=(const TSubtitle&) = delete;
    AVSubtitle Value{};
};

using TInputContextPtr = std::unique_ptr<AVFormatContext, TFreeInputContext>;
using TOutputContextPtr = std::unique_ptr<AVFormatContext, TFreeOutputContext>;
using TIOContextPtr = std::unique_ptr<AVIOContext, TFreeIOContext>;
using TCodecContextPtr = std::unique_ptr<AVCodecContext, TFreeCodecContext>;
using TFramePtr = std::unique_ptr<AVFrame, TFreeFrame>;
using TPacketPtr = std::unique_ptr<AVPacket, TFreePacket>;
using TScalerPtr = std::unique_ptr<SwsContext, TFreeScaler>;
using TResamplerPtr = std::unique_ptr<SwrContext, TFreeResampler>;
using TAudioFifoPtr = std::unique_ptr<AVAudioFifo, TFreeAudioFifo>;
using TBitstreamFilterPtr = std::unique_ptr<AVBSFContext, TFreeBitstreamFilter>;
using TFilterGraphPtr = std::unique_ptr<AVFilterGraph, TFreeFilterGraph>;
using TFilterInOutPtr = std::unique_ptr<AVFilterInOut, TFreeFilterInOut>;
using TMemoryPtr = std::unique_ptr<uint8_t, TFreeMemory>;
using TSamplesPtr = std::unique_ptr<uint8_t*, TFreeSamples>;
using TFilePtr = std::unique_ptr<std::FILE, TCloseFile>;
using TDictionaryPtr = std::unique_ptr<AVDictionary, TFreeDictionary>;

// Sets one entry of an owned dictionary. The library call may move the dictionary elsewhere,
// or free it when it fails, so the owner gives it up for the call and takes back what is left.
void SetDictionaryEntry(TDictionaryPtr& dictionary, const char* key, const char* value);

} // namespace cw
