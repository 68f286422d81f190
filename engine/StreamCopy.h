// Stream copy in a transcoding job: output streams that take their source's packets as they
// are (a copied cover picture among them), with their parameters and time base set up from the
// source, and the bitstream filters every packet written goes through ("vbsf", "absf", "sbsf").
#pragma once

#include "engine/FFApi.h"

#include <cstddef>
#include <string>

namespace cw {

class TInputFiles;
class TJobHooks;
class TJobPipeline;
class TOutputFiles;
class TTranscoderOptions;
struct TInputStream;
struct TOutputStream;
struct TRunCounters;
struct TRunTables;

// What stream copy reads and shares: the option record, the inputs (the whole-file copy's
// source), the outputs (new streams, their muxers), the hooks (which need decoded frames), the
// input clocks as the output side sees them, the run tables and counters, and the job's
// opening error, which a whole-file copy words.
struct TStreamCopyContext {
    const TTranscoderOptions& Options;
    const TInputFiles& InputFiles;
    TOutputFiles& OutputFiles;
    const TJobHooks& Hooks;
    const TJobPipeline& Pipe;
    TRunTables& Tables;
    TRunCounters& Counters;
    std::string& OpenError;
};

class TStreamCopy {
public:
    explicit TStreamCopy(const TStreamCopyContext& context) : Ctx(context) {}

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
    const TStreamCopyContext Ctx;
};

} // namespace cw
