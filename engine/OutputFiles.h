// The output side of a transcoding job: the opened outputs (muxers) and their streams as the
// option state asks for them, the pairing of output streams with input streams at the start
// of a run and the codec set-up of each, the encoders (opening, encoding, flushing), metadata
// and chapter maps, headers and trailers, the stream mapping dump, the writing of packets, and
// the closing of the outputs.
#pragma once

#include "engine/JobContext.h"
#include "engine/Owners.h"
#include "engine/StreamPlan.h"
#include "engine/TranscoderStreams.h"

#include <memory>
#include <string>
#include <vector>

namespace cw {

class TAudioPath;
class TInputFiles;
class TJobPipeline;
class TStreamCopy;
class TSubtitlePath;
class TTranscoderOptions;
class TVideoPath;

// One opened output.
struct TOutputFile {
    TOutputContextPtr Context;
    std::string FileName;
    std::vector<std::unique_ptr<TOutputStream>> Streams;
    bool HeaderWritten = false;
    bool WritesFile() const;
};

// What the output side reads and shares: the option record, the inputs (what they hold, their
// streams and times), the paths that make and set up each kind of stream, stream copy, the
// pipeline (which holds the audio lane's packets), the run tables and counters, the time
// limit of blocking opens, the job's opening error, its join switch and the capacity.
struct TOutputFilesContext {
    const TTranscoderOptions& Options;
    const TInputFiles& InputFiles;
    TVideoPath& VideoPath;
    TAudioPath& AudioPath;
    TSubtitlePath& SubtitlePath;
    TStreamCopy& Copy;
    TJobPipeline& Pipe;
    TRunTables& Tables;
    TRunCounters& Counters;
    TOpenTimeout Timeout;
    std::string& OpenError;
    bool& JoinMode;
    int MaxFiles;
};

class TOutputFiles {
public:
    explicit TOutputFiles(const TOutputFilesContext& context) : Ctx(context) {}

    // -- files (see TCustomFFmpeg) ----------------------------------------------------
    // Opening an output and its streams consumes the options.
    int OpenOutput(const std::string& fileName, bool join, TTranscoderOptions& options);
    void NewOutputStream(AVMediaType type, TTranscoderOptions& options);
    // The expected length of a join (the options' TotalDuration).
    void SetupJoin(TTranscoderOptions& options);
    int Count() const { return static_cast<int>(Outputs.size()); }
    AVFormatContext* OutputContext(int index) const;
    // An output stream of that kind with its encoder context, from the option state.
    TOutputStream& AddOutputStream(AVFormatContext* context, int outputIndex, AVMediaType type,
                                   const AVCodec* codec);
    const AVCodec* ChooseEncoder(AVFormatContext* context, AVMediaType type,
                                 const std::string& codecName);
    void SetGlobalHeader(AVCodecContext* encoder, AVFormatContext* context, bool video);

    // -- a run ------------------------------------------------------------------------
    // Pairs every output stream with its input streams (StreamPlan.h) and sets each up.
    void MapStreams();
    void SetUpOutputStream(TOutputStream& ost);
    void SetUpEncoding(TOutputStream& ost);
    void OpenEncoders();
    // Metadata and chapter maps at the start of a run.
    void ApplyMetadataMaps();
    void CopyChapters(int inputIndex, int outputIndex);
    void WriteHeaders();
    void DumpStreamMapping();
    void EncodeFrame(TOutputStream& ost, AVFrame* frame);
    void FlushEncoder(TOutputStream& ost);
    // Hands a packet to the muxer of the stream's output.
    void MuxPacket(TOutputStream& ost, AVPacket* packet);
    // The trailer of every output whose header was written.
    void WriteTrailers();
    // Closes every output and empties the table; a file left empty is removed when asked.
    void CloseOutputs(bool removeEmptyOutputs);

    std::vector<std::unique_ptr<TOutputFile>> Outputs;

private:
    // What stream mapping is planned from: the probe's facts of the run's input streams,
    // the output streams and the options.
    TPlanRequest PlanRequest() const;
    // A stream of that kind for the output, made by its path.
    void NewStream(AVMediaType type, AVFormatContext* context, int outputIndex,
                   TTranscoderOptions& options);

    const TOutputFilesContext Ctx;
};

} // namespace cw
