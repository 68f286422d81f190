// Stream mapping from probe facts and option values, without media files: which input stream
// feeds each output stream, copied or encoded, for covers, several sound streams, subtitles,
// maps, programs and joins, and the errors of the mappings that cannot be made.
#include "engine/StreamPlan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cw::test {
namespace {

const TPlanInputStream V{.Type = AVMEDIA_TYPE_VIDEO};
const TPlanInputStream A{.Type = AVMEDIA_TYPE_AUDIO};
const TPlanInputStream S{.Type = AVMEDIA_TYPE_SUBTITLE};
const TPlanInputStream CoverIn{.Type = AVMEDIA_TYPE_VIDEO, .Cover = true};
TPlanInputStream Sound(int64_t frames, bool best = false) {
    return {.Type = AVMEDIA_TYPE_AUDIO, .Best = best, .Frames = frames};
}

const TPlanOutputStream OV{.Type = AVMEDIA_TYPE_VIDEO};
const TPlanOutputStream OA{.Type = AVMEDIA_TYPE_AUDIO};
const TPlanOutputStream OS{.Type = AVMEDIA_TYPE_SUBTITLE};
const TPlanOutputStream CV{.Type = AVMEDIA_TYPE_VIDEO, .StreamCopy = true};
const TPlanOutputStream CA{.Type = AVMEDIA_TYPE_AUDIO, .StreamCopy = true};
const TPlanOutputStream CS{.Type = AVMEDIA_TYPE_SUBTITLE, .StreamCopy = true};
const TPlanOutputStream CoverOut{.Type = AVMEDIA_TYPE_VIDEO, .Cover = true, .StreamCopy = true};

struct TPlanCase {
    const char* Name = "";
    std::vector<std::vector<TPlanInputStream>> Files{}; // named a.avi, b.avi, ...
    std::vector<TPlanOutputStream> Outputs{};           // of output #0
    std::vector<TStreamMap> Maps{};
    bool Program = false;
    bool Join = false;
    // Expected: sources by output stream; syncs (empty: the sources); join sources by output
    // stream (empty: not joined); a whole-plan error, or the error of one output stream.
    std::vector<int> Sources{};
    std::vector<int> Syncs{};
    std::vector<std::vector<int>> Joins{};
    bool HasFillers = false;
    std::string Error{};
    int StreamErrorAt = -1;
    std::string StreamError{};
};

TPlanRequest RequestOf(const TPlanCase& c) {
    TPlanRequest request;
    for (size_t f = 0; f < c.Files.size(); ++f) {
        request.Files.push_back({std::string(1, static_cast<char>('a' + f)) + ".avi",
                                 static_cast<int>(request.Inputs.size()),
                                 static_cast<int>(c.Files[f].size())});
        for (size_t s = 0; s < c.Files[f].size(); ++s) {
            TPlanInputStream stream = c.Files[f][s];
            stream.FileIndex = static_cast<int>(f);
            stream.StreamIndex = static_cast<int>(s);
            request.Inputs.push_back(stream);
        }
    }
    for (size_t i = 0; i < c.Outputs.size(); ++i) {
        TPlanOutputStream ost = c.Outputs[i];
        ost.Index = static_cast<int>(i);
        request.Outputs.push_back(ost);
    }
    request.StreamMaps = c.Maps;
    request.ProgramChosen = c.Program;
    request.Join = c.Join;
    return request;
}

TEST(StreamPlanTest, PairsOutputStreamsWithInputStreams) {
    const TPlanCase cases[] = {
        {.Name = "picture and sound encoded",
         .Files = {{V, A}},
         .Outputs = {OV, OA},
         .Sources = {0, 1}},
        {.Name = "copied and encoded side by side",
         .Files = {{A, V, S}},
         .Outputs = {CV, OA, CS},
         .Sources = {1, 0, 2}},
        {.Name = "a whole-file copy follows the input's order",
         .Files = {{A, V}},
         .Outputs = {{.Type = AVMEDIA_TYPE_AUDIO, .StreamCopy = true, .CopyOf = 0},
                     {.Type = AVMEDIA_TYPE_VIDEO, .StreamCopy = true, .CopyOf = 1}},
         .Sources = {0, 1}},
        {.Name = "the cover feeds the cover stream, the sound the sound",
         .Files = {{CoverIn, A}},
         .Outputs = {OA, CoverOut},
         .Sources = {1, 0}},
        {.Name = "the first real picture, not the cover",
         .Files = {{CoverIn, V, A}},
         .Outputs = {OV},
         .Sources = {1}},
        {.Name = "the demuxer's best sound first, then the next one",
         .Files = {{V, Sound(100), Sound(10, true)}},
         .Outputs = {OA, OA},
         .Sources = {2, 1}},
        {.Name = "without a best sound, the one with the most frames",
         .Files = {{Sound(10), Sound(30)}},
         .Outputs = {OA},
         .Sources = {1}},
        {.Name = "one sound feeds two outputs",
         .Files = {{V, A}},
         .Outputs = {OA, OA},
         .Sources = {1, 1}},
        {.Name = "a left-out stream feeds nothing",
         .Files = {{{.Type = AVMEDIA_TYPE_AUDIO, .Discarded = true}, A}},
         .Outputs = {OA},
         .Sources = {1}},
        {.Name = "only the program's streams",
         .Files = {{{.Type = AVMEDIA_TYPE_AUDIO, .InProgram = false, .Frames = 90}, Sound(5)}},
         .Outputs = {OA},
         .Program = true,
         .Sources = {1}},
        {.Name = "a stream the muxer demands is made of silence",
         .Files = {{V}},
         .Outputs = {OV, {.Type = AVMEDIA_TYPE_AUDIO, .Filler = true}},
         .Sources = {0, -1},
         .HasFillers = true},
        {.Name = "maps choose the source and the sync stream",
         .Files = {{A, V}},
         .Outputs = {OV, OA},
         .Maps = {{0, 1, 0, 1}, {0, 0, 0, 1}},
         .Sources = {1, 0},
         .Syncs = {1, 1}},
        {.Name = "joined: each input takes over, an input without sound gets silence",
         .Files = {{V, A}, {V}, {A, V}},
         .Outputs = {OV, OA},
         .Join = true,
         .Sources = {0, 1},
         .Joins = {{0, 2, 4}, {1, -1, 3}},
         .HasFillers = true},
        {.Name = "joined: the first input has no sound",
         .Files = {{V}, {V, A}},
         .Outputs = {OV, OA},
         .Join = true,
         .Sources = {0, -1},
         .Joins = {{0, 1}, {-1, 2}},
         .HasFillers = true},
        {.Name = "joined copies of inputs that have every kind",
         .Files = {{V, A}, {V, A}},
         .Outputs = {CV, CA},
         .Join = true,
         .Sources = {0, 1},
         .Joins = {{0, 2}, {1, 3}}},
    };
    for (const TPlanCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TStreamPlan plan = PlanStreams(RequestOf(c));
        ASSERT_EQ(plan.Error, "");
        ASSERT_EQ(plan.Streams.size(), c.Outputs.size());
        for (size_t i = 0; i < c.Outputs.size(); ++i) {
            const TPlannedStream& planned = plan.Streams[i];
            EXPECT_EQ(planned.Source, c.Sources[i]) << "output stream " << i;
            EXPECT_EQ(planned.Sync, c.Syncs.empty() ? c.Sources[i] : c.Syncs[i]) << i;
            EXPECT_EQ(planned.JoinSources, c.Joins.empty() ? std::vector<int>{} : c.Joins[i]) << i;
            EXPECT_EQ(planned.Copy, c.Outputs[i].StreamCopy) << i;
            EXPECT_EQ(planned.Error, "") << i;
        }
        EXPECT_EQ(plan.HasFillers, c.HasFillers);
    }
}

TEST(StreamPlanTest, WordsTheMappingsThatCannotBeMade) {
    const TPlanCase cases[] = {
        {.Name = "a map for each output stream",
         .Files = {{V, A}},
         .Outputs = {OV, OA},
         .Maps = {{0, 0, 0, 0}},
         .Error = "Number of stream maps must match number of output streams"},
        {.Name = "a map to a stream the input lacks",
         .Files = {{V}},
         .Outputs = {OV},
         .Maps = {{0, 5, 0, 0}},
         .Error = "Could not find input stream #0.5"},
        {.Name = "a map to a sync stream the inputs lack",
         .Files = {{V}},
         .Outputs = {OV},
         .Maps = {{0, 0, 2, 0}},
         .Error = "Could not find sync stream #2.0"},
        {.Name = "a map of another kind",
         .Files = {{A, V}},
         .Outputs = {OV},
         .Maps = {{0, 0, 0, 0}},
         .Error = "Codec type mismatch for mapping #0.0 (Audio) -> #0.0 (Video)"},
        {.Name = "no picture but a cover",
         .Files = {{CoverIn, A}},
         .Outputs = {OV, OA},
         .Error = "No input has a video stream for output stream #0.0"},
        {.Name = "a program's streams are not used twice",
         .Files = {{A}},
         .Outputs = {OA, OA},
         .Program = true,
         .Error = "No input has a audio stream for output stream #0.1"},
        // Errors of one stream come at its turn, after the streams before it were set up.
        {.Name = "joined: no input has subtitles",
         .Files = {{V}, {V}},
         .Outputs = {OV, OS},
         .Join = true,
         .StreamErrorAt = 1,
         .StreamError = "None of the joined files has a subtitle stream for output stream #0.1"},
        {.Name = "joined: a copied sound the second input lacks",
         .Files = {{V, A}, {V}},
         .Outputs = {CV, CA},
         .Join = true,
         .StreamErrorAt = 1,
         .StreamError =
             "b.avi has no audio stream: a stream copied from the others cannot be filled"},
        {.Name = "joined: a copied sound the first input lacks",
         .Files = {{V}, {V, A}},
         .Outputs = {CV, CA},
         .Join = true,
         .StreamErrorAt = 1,
         .StreamError =
             "a.avi has no audio stream: a stream copied from the others cannot be filled"},
    };
    for (const TPlanCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TStreamPlan plan = PlanStreams(RequestOf(c));
        EXPECT_EQ(plan.Error, c.Error);
        // The errors found while pairing describe the output first.
        const bool pairing = c.Error.rfind("Codec", 0) == 0 || c.Error.rfind("No input", 0) == 0;
        EXPECT_EQ(plan.DumpOutput, pairing ? 0 : -1);
        if (c.StreamErrorAt < 0)
            continue;
        ASSERT_EQ(plan.Streams.size(), c.Outputs.size());
        for (size_t i = 0; i < plan.Streams.size(); ++i)
            EXPECT_EQ(plan.Streams[i].Error,
                      static_cast<int>(i) == c.StreamErrorAt ? c.StreamError : "")
                << i;
        EXPECT_EQ(plan.Streams[c.StreamErrorAt].DumpOutput, c.StreamError.rfind("None", 0) == 0);
    }
}

} // namespace
} // namespace cw::test
