// Stream mapping: which input stream feeds which output stream, from the probe's facts and the
// option values.
#include "engine/StreamPlan.h"

#include "engine/FFUtils.h"
#include "engine/Text.h"

#include <algorithm>

namespace cw {

namespace {

class TPlanner {
public:
    explicit TPlanner(const TPlanRequest& request)
        : Request(request), Used(request.Inputs.size(), false) {}

    TStreamPlan Make();

private:
    // The stream of an input by file and stream index; -1 outside the inputs.
    int Find(int file, int stream) const;
    // A cover picture only feeds a cover stream, and a cover stream only a cover picture.
    bool SameKind(const TPlanOutputStream& ost, const TPlanInputStream& ist) const;
    // Among the unused streams of the same kind (of input `group` when joining): for video
    // the first one, the stream whose picture facts the option state took; otherwise the one
    // the probe liked best: the demuxer's best stream of that kind when it is a candidate,
    // else the candidate with the most frames known.
    int Pick(const TPlanOutputStream& ost, int group) const;
    void Use(int stream) {
        if (stream >= 0)
            Used[stream] = true;
    }
    bool CheckMaps(TStreamPlan& plan) const;
    // The errors that only come up when the stream's turn comes.
    void CheckStream(const TPlanOutputStream& ost, TPlannedStream& planned) const;

    const TPlanRequest& Request;
    std::vector<bool> Used;
};

int TPlanner::Find(int file, int stream) const {
    if (file < 0 || file >= static_cast<int>(Request.Files.size()) || stream < 0 ||
        stream >= Request.Files[file].StreamCount)
        return -1;
    return Request.Files[file].FirstStream + stream;
}

bool TPlanner::SameKind(const TPlanOutputStream& ost, const TPlanInputStream& ist) const {
    return ist.Type == ost.Type && (ost.Type != AVMEDIA_TYPE_VIDEO || ist.Cover == ost.Cover);
}

int TPlanner::Pick(const TPlanOutputStream& ost, int group) const {
    std::vector<int> candidates;
    for (size_t i = 0; i < Request.Inputs.size(); ++i) {
        const TPlanInputStream& ist = Request.Inputs[i];
        if (!Used[i] && !ist.Discarded && SameKind(ost, ist) && ist.InProgram &&
            (group < 0 || ist.FileIndex == group))
            candidates.push_back(static_cast<int>(i));
    }
    if (ost.Type == AVMEDIA_TYPE_VIDEO && !candidates.empty())
        return candidates.front();
    int source = -1;
    for (int candidate : candidates)
        if (Request.Inputs[candidate].Best) {
            source = candidate;
            break;
        }
    if (source < 0)
        for (int candidate : candidates)
            if (source < 0 || Request.Inputs[candidate].Frames > Request.Inputs[source].Frames)
                source = candidate;
    // Without a program or a join, a stream already taken (the last of the kind) feeds a
    // further output stream too.
    if (source < 0 && !Request.ProgramChosen && !Request.Join)
        for (size_t i = 0; i < Request.Inputs.size(); ++i)
            if (!Request.Inputs[i].Discarded && SameKind(ost, Request.Inputs[i]))
                source = static_cast<int>(i);
    return source;
}

bool TPlanner::CheckMaps(TStreamPlan& plan) const {
    if (Request.StreamMaps.empty())
        return true;
    if (Request.StreamMaps.size() != Request.Outputs.size()) {
        plan.Error = "Number of stream maps must match number of output streams";
        return false;
    }
    for (const TStreamMap& map : Request.StreamMaps) {
        if (Find(map.FileIndex, map.StreamIndex) < 0) {
            plan.Error =
                FormatText("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex);
            return false;
        }
        if (Find(map.SyncFileIndex, map.SyncStreamIndex) < 0) {
            plan.Error = FormatText("Could not find sync stream #%d.%d", map.SyncFileIndex,
                                    map.SyncStreamIndex);
            return false;
        }
    }
    return true;
}

void TPlanner::CheckStream(const TPlanOutputStream& ost, TPlannedStream& planned) const {
    const std::string kind = LowerText(MediaTypeName(ost.Type));
    if (planned.Reference < 0 && !ost.Filler) {
        planned.Error = FormatText("None of the joined files has a %s stream for output stream "
                                   "#%d.%d",
                                   kind.c_str(), ost.FileIndex, ost.Index);
        planned.DumpOutput = true;
        return;
    }
    if (!ost.StreamCopy)
        return;
    // A copied stream takes packets only: it cannot be filled where an input lacks its kind.
    auto noStream = [&](size_t file) {
        planned.Error =
            FormatText("%s has no %s stream: a stream copied from the others cannot be filled",
                       Request.Files[file].FileName.c_str(), kind.c_str());
    };
    if (planned.Reference != planned.Source) {
        noStream(0);
        return;
    }
    for (size_t k = 0; k < planned.JoinSources.size(); ++k)
        if (planned.JoinSources[k] < 0) {
            noStream(k);
            return;
        }
}

TStreamPlan TPlanner::Make() {
    TStreamPlan plan;
    if (!CheckMaps(plan))
        return plan;
    plan.Streams.resize(Request.Outputs.size());
    for (size_t i = 0; i < Request.Outputs.size(); ++i) {
        const TPlanOutputStream& ost = Request.Outputs[i];
        TPlannedStream& planned = plan.Streams[i];
        planned.Copy = ost.StreamCopy;
        if (!Request.StreamMaps.empty()) {
            const TStreamMap& map = Request.StreamMaps[i];
            planned.Source = Find(map.FileIndex, map.StreamIndex);
            planned.Sync = Find(map.SyncFileIndex, map.SyncStreamIndex);
            const AVMediaType type = Request.Inputs[planned.Source].Type;
            if (type != ost.Type) {
                plan.Error =
                    FormatText("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)",
                               map.FileIndex, map.StreamIndex, MediaTypeName(type).c_str(),
                               ost.FileIndex, ost.Index, MediaTypeName(ost.Type).c_str());
                plan.DumpOutput = ost.FileIndex;
                return plan;
            }
        } else {
            planned.Source =
                ost.CopyOf >= 0 ? Find(0, ost.CopyOf) : Pick(ost, Request.Join ? 0 : -1);
            // A join's first input may lack the kind (later ones have it), and a stream the
            // muxer demands is made of silence: neither has a source here.
            if (planned.Source < 0 && !Request.Join && !ost.Filler) {
                plan.Error = FormatText("No input has a %s stream for output stream #%d.%d",
                                        LowerText(MediaTypeName(ost.Type)).c_str(), ost.FileIndex,
                                        ost.Index);
                plan.DumpOutput = ost.FileIndex;
                return plan;
            }
            planned.Sync = planned.Source;
        }
        Use(planned.Source);
    }
    // Joining: every further input feeds each output stream with its own stream of the same
    // kind, taken as for the first input; for an input without one the stream gets black
    // pictures or silence for that input's length.
    if (Request.Join)
        for (size_t i = 0; i < Request.Outputs.size(); ++i) {
            TPlannedStream& planned = plan.Streams[i];
            planned.JoinSources.assign(1, planned.Source);
            for (int k = 1; k < static_cast<int>(Request.Files.size()); ++k) {
                const int source = Pick(Request.Outputs[i], k);
                Use(source);
                planned.JoinSources.push_back(source);
            }
        }
    for (size_t i = 0; i < Request.Outputs.size(); ++i) {
        TPlannedStream& planned = plan.Streams[i];
        planned.Reference = planned.Source;
        for (int joined : planned.JoinSources)
            if (planned.Reference < 0)
                planned.Reference = joined;
        CheckStream(Request.Outputs[i], planned);
        plan.HasFillers = plan.HasFillers || planned.Source < 0 ||
                          std::find(planned.JoinSources.begin(), planned.JoinSources.end(), -1) !=
                              planned.JoinSources.end();
    }
    return plan;
}

} // namespace

TStreamPlan PlanStreams(const TPlanRequest& request) {
    return TPlanner(request).Make();
}

} // namespace cw
