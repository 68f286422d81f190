// The subtitle path of a transcoding job: the subtitle output streams' encoder settings, and,
// during a run, the decoding of subtitle packets and their re-timing and encoding (through the
// one subtitle buffer of the process, one job at a time).
#pragma once

#include "engine/FFApi.h"

namespace cw {

class TCustomFFmpeg;
struct TInputStream;
struct TOutputStream;

class TSubtitlePath {
public:
    explicit TSubtitlePath(TCustomFFmpeg& job) : Job(job) {}

    // Adds a subtitle stream to an opened output (raises FFmpegException on failure).
    void NewSubtitleStream(AVFormatContext* context, int outputIndex);

    // -- a run ------------------------------------------------------------------------
    // Decodes a subtitle packet (null: what the decoder still holds) and encodes what comes
    // out into the output streams; -1 on a decoding error.
    int DecodeSubtitles(TInputStream& ist, const AVPacket* packet);
    void DoSubtitleOut(TOutputStream& ost, TInputStream& ist, AVSubtitle& subtitle);

private:
    TCustomFFmpeg& Job;
};

} // namespace cw
