// Stream copy in a transcoding job: output streams that take their source's packets as they
// are (a copied cover picture among them), with their parameters and time base set up from the
// source, and the bitstream filters every packet written goes through ("vbsf", "absf", "sbsf").
#pragma once

#include "engine/FFApi.h"

#include <cstddef>

namespace cw {

class TCustomFFmpeg;
struct TInputStream;
struct TOutputStream;

class TStreamCopy {
public:
    explicit TStreamCopy(TCustomFFmpeg& job) : Job(job) {}

    // A copied cover picture for an audio output (see OpenOutput).
    void NewCoverStream(AVFormatContext* context, int outputIndex);
    // The copy of a whole file: one copied stream for every picture, sound and subtitle
    // stream of the only input, in its order. False with OpenError worded when the muxer
    // cannot carry one of its pictures or sounds; subtitles and covers it cannot carry are
    // left out.
    bool NewCopiedStreams(AVFormatContext* context, int outputIndex);

    // -- a run ------------------------------------------------------------------------
    void SetUpStreamCopy(TOutputStream& ost);
    void InitBitstreamFilters(TOutputStream& ost);
    void CopyPacket(TOutputStream& ost, TInputStream& ist, const AVPacket* packet);
    // Writes a packet through the stream's bitstream filters to the muxer.
    void WritePacket(TOutputStream& ost, AVPacket* packet);
    // Filters from filterIndex on; a null packet drains the filters.
    void FilterAndWrite(TOutputStream& ost, size_t filterIndex, AVPacket* packet);

private:
    TCustomFFmpeg& Job;
};

} // namespace cw
