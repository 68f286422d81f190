// The subtitle path of a transcoding job: the subtitle output streams' encoder settings, and,
// during a run, the decoding of subtitle packets and their re-timing and encoding (through the
// one subtitle buffer of the process, one job at a time).
#pragma once

#include "engine/FFApi.h"

namespace cw {

class TOutputFiles;
class TStreamCopy;
class TTranscoderOptions;
struct TInputStream;
struct TOutputStream;
struct TRunTables;

// What the subtitle path reads and shares: the option record, the outputs (for their encoder
// choice and new streams), the run tables (the packet it encodes into) and the stream copy
// (whose filters and muxer every packet goes through).
struct TSubtitlePathContext {
    const TTranscoderOptions& Options;
    TOutputFiles& OutputFiles;
    TRunTables& Tables;
    TStreamCopy& Copy;
};

class TSubtitlePath {
public:
    explicit TSubtitlePath(const TSubtitlePathContext& context) : Ctx(context) {}

    // Adds a subtitle stream to an opened output from the options, which the stream consumes
    // (raises FFmpegException on failure).
    void NewSubtitleStream(AVFormatContext* context, int outputIndex, TTranscoderOptions& options);

    // -- a run ------------------------------------------------------------------------
    // Decodes a subtitle packet (null: what the decoder still holds) and encodes what comes
    // out into the output streams; -1 on a decoding error.
    int DecodeSubtitles(TInputStream& ist, const AVPacket* packet);
    void DoSubtitleOut(TOutputStream& ost, TInputStream& ist, AVSubtitle& subtitle);

private:
    const TSubtitlePathContext Ctx;
};

} // namespace cw
