// The output side of a transcoding job: the opened outputs (muxers) and their streams as the
// option state asks for them, the pairing of output streams with input streams at the start
// of a run and the codec set-up of each, the encoders (opening, encoding, flushing), metadata
// and chapter maps, headers and trailers, the stream mapping dump, the writing of packets, and
// the closing of the outputs.
#pragma once

#include "engine/Owners.h"
#include "engine/TranscoderStreams.h"

#include <memory>
#include <string>
#include <vector>

namespace cw {

class TCustomFFmpeg;

// One opened output.
struct TOutputFile {
    TOutputContextPtr Context;
    std::string FileName;
    std::vector<std::unique_ptr<TOutputStream>> Streams;
    bool HeaderWritten = false;
    bool WritesFile() const;
};

class TOutputFiles {
public:
    explicit TOutputFiles(TCustomFFmpeg& job) : Job(job) {}

    // -- files (see TCustomFFmpeg) ----------------------------------------------------
    int OpenOutput(const std::string& fileName, bool join);
    void NewOutputStream(AVMediaType type);
    void SetupJoin();
    AVFormatContext* OutputContext(int index) const;
    // An output stream of that kind with its encoder context, from the option state.
    TOutputStream& AddOutputStream(AVFormatContext* context, int outputIndex, AVMediaType type,
                                   const AVCodec* codec);
    const AVCodec* ChooseEncoder(AVFormatContext* context, AVMediaType type,
                                 const std::string& codecName);
    void SetGlobalHeader(AVCodecContext* encoder, AVFormatContext* context, bool video);

    // -- a run ------------------------------------------------------------------------
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
    TCustomFFmpeg& Job;
};

} // namespace cw
