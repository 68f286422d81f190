// Stream mapping as a plan: for every output stream of a run, the input stream that feeds it,
// the one it keeps in step with, whether it is copied or encoded, and when joining the stream
// of each further input that takes over. The plan is made from what probing the inputs found
// and from the option values alone, so it needs no open file; the output side applies it to
// the run's stream tables.
#pragma once

#include "engine/OptionParsers.h"

extern "C" {
#include <libavutil/avutil.h>
}

#include <cstdint>
#include <string>
#include <vector>

namespace cw {

// What the plan knows of one input stream.
struct TPlanInputStream {
    int FileIndex = 0;
    int StreamIndex = 0;
    AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
    bool Cover = false;     // a cover picture: it feeds a cover stream only
    bool Discarded = false; // left out by the options ("vn", "an", "sn", a program)
    bool InProgram = true;  // in the program the options chose; true without one
    bool Best = false;      // the demuxer's best stream of its kind in its file
    int64_t Frames = 0;     // frames the container announces, 0 unknown
};

// One input: its name (for worded errors) and where its streams are in the stream list.
struct TPlanInputFile {
    std::string FileName;
    int FirstStream = 0;
    int StreamCount = 0;
};

// What the plan knows of one output stream, in the order of the run's output stream table.
struct TPlanOutputStream {
    int FileIndex = 0;
    int Index = 0;
    AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
    bool Cover = false;      // a copied cover picture
    bool Filler = false;     // no input has its kind: made of silence or black pictures
    bool StreamCopy = false; // copied as it is
    int CopyOf = -1;         // a whole-file copy: fed by this stream of the only input
};

struct TPlanRequest {
    std::vector<TPlanInputFile> Files;
    std::vector<TPlanInputStream> Inputs; // file by file, stream by stream
    std::vector<TPlanOutputStream> Outputs;
    std::vector<TStreamMap> StreamMaps; // "map": one per output stream, or none
    bool ProgramChosen = false;         // "programid" was given
    bool Join = false;
};

// The plan of one output stream; input streams by their index in TPlanRequest::Inputs, -1
// for none.
struct TPlannedStream {
    int Source = -1;
    int Sync = -1;
    // Joining: the stream of every input that feeds it in turn, by input (Source first).
    std::vector<int> JoinSources;
    // The stream whose facts set the output stream up: its source, or the first input of a
    // join that has its kind.
    int Reference = -1;
    bool Copy = false; // copied, else encoded
    // The output stream cannot be set up; the error is raised when its turn comes, after the
    // streams before it were set up, and DumpOutput asks for its output to be described first.
    std::string Error;
    bool DumpOutput = false;
};

struct TStreamPlan {
    std::vector<TPlannedStream> Streams; // by output stream
    bool HasFillers = false;             // some output stream has no source for a stretch
    // The mapping as a whole failed: nothing is set up. DumpOutput is the output file to
    // describe before the error is raised (-1 none).
    std::string Error;
    int DumpOutput = -1;
};

TStreamPlan PlanStreams(const TPlanRequest& request);

} // namespace cw
