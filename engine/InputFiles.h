// The input side of a transcoding job: the opened inputs (demuxers) with their timestamp
// offsets and scales, the initial seek, the decoders chosen for their streams, and, during a
// run, the input stream table, the opening of the decoders, the timestamp handling of every
// packet read and the decoding that hands frames on to the output paths.
#pragma once

#include "engine/JobContext.h"
#include "engine/Owners.h"
#include "engine/TranscoderStreams.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cw {

class TCustomFFmpeg;
class TJobPipeline;
class TOutputFiles;
class TStreamCopy;
class TSubtitlePath;
class TTranscoderOptions;
class TVideoPath;

using TBeforeFindStreamInfoCallback = std::function<void(TCustomFFmpeg* job, AVFormatContext*)>;

// One opened input.
struct TInputFile {
    TInputContextPtr Context;
    std::string FileName;        // as the job was given it
    int64_t TsOffset = 0;        // µs, added to every timestamp read
    std::vector<double> TsScale; // per stream; 0 = not scaled
    // Per stream: the decoder chosen by name (null: the registered one for the codec id) and
    // the decoder context made when the input was opened (null for data and attachments);
    // a run opens the contexts it needs and frees them at its end.
    std::vector<const AVCodec*> DecoderChoice;
    std::vector<TCodecContextPtr> Decoders;

    // Run state.
    int FirstStream = 0; // index of its first stream in the input stream table
    int StreamCount = 0;
    bool Eof = false;
    bool NoPacket = false; // the demuxer answered "try again"
};

// What the input side reads and shares: the option record, the pipeline (which queues what
// the input thread decodes, and the clocks), the parts a packet or a frame goes on to (the
// outputs' encoders, the video filters, the subtitle path, stream copy, the job's steps), the
// run tables, the time limit of blocking opens, the job's opening error, the owner's handler
// called before the streams are probed (with the job it is called for), and the capacity.
struct TInputFilesContext {
    const TTranscoderOptions& Options;
    TJobPipeline& Pipe;
    TOutputFiles& OutputFiles;
    TVideoPath& VideoPath;
    TSubtitlePath& SubtitlePath;
    TStreamCopy& Copy;
    TRunSteps& Steps;
    TRunTables& Tables;
    TOpenTimeout Timeout;
    std::string& OpenError;
    const TBeforeFindStreamInfoCallback& OnBeforeFindStreamInfo;
    TCustomFFmpeg* Sender; // handed to the handler as its first argument, nothing more
    int MaxFiles;
};

class TInputFiles {
public:
    explicit TInputFiles(const TInputFilesContext& context) : Ctx(context) {}

    // Opens an input from the options, which opening consumes; the input's picture and sound
    // facts are written back into them (see TCustomFFmpeg::OpenInput).
    bool OpenInput(const std::string& fileName, TTranscoderOptions& options);
    int Count() const { return static_cast<int>(Inputs.size()); }
    std::vector<AVRational> InputVideoFrameRates() const;
    AVFormatContext* InputContext(int index) const;
    // Closes every input (its decoders first) and empties the table.
    void CloseInputs();

    // -- a run ------------------------------------------------------------------------
    void BuildInputTables();
    void OpenDecoders();
    // One packet read from input fileIndex: timestamp offset, scale and discontinuities, the
    // recording time, then decoding and output.
    void ProcessPacket(TInputFile& input, int fileIndex, AVPacket* packet);
    // Decodes a packet (null: flushes the decoder) and hands what comes out to the output
    // streams the input stream feeds; -1 on a decoding error.
    int DecodeAndOutput(TInputStream& ist, const AVPacket* packet);
    void OutputFrame(TInputStream& ist, AVFrame* frame);

    std::vector<std::unique_ptr<TInputFile>> Inputs;

private:
    void OpenInputStreams(TInputFile& input, TTranscoderOptions& options);

    const TInputFilesContext Ctx;
};

} // namespace cw
