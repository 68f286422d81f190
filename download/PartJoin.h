// Joining the parts of a download with the media engine: a picture-only and a sound-only
// input (downloaded files, or HLS and DASH manifests the engine's demuxer reads) are written
// into one file by stream copy, without decoding or encoding anything. Also tells what a
// fetched file holds, for the facts an answer did not give.
#pragma once

#include "engine/FFEncoder.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cw {

// What a media file holds: codec families as the format choice names them ("h264", "aac",
// ...), the picture height and the length.
struct TMediaFacts {
    bool Opened = false;
    std::string Error;
    std::string Picture; // empty: no picture
    std::string Sound;   // empty: no sound
    int Height = 0;
    int64_t DurationUs = -1;
};

class TPartJoiner {
public:
    // fraction 0..1 of the inputs' length written so far.
    using TProgress = std::function<void(double fraction)>;
    // ok, or the engine's reason; aborted when Cancel came first.
    using TDone = std::function<void(bool ok, bool aborted, const std::string& reason)>;

    TPartJoiner();
    ~TPartJoiner();
    TPartJoiner(const TPartJoiner&) = delete;
    TPartJoiner& operator=(const TPartJoiner&) = delete;

    // Binds the media libraries ("lib" beside the program, else "../lib", else the
    // system's); false with the reason.
    bool Bind(std::string& reason);
    // Opens the inputs and starts writing the output with the muxer ("mp4", "webm",
    // "matroska"). False with the reason when an input or the output cannot be opened
    // (nothing is left behind then); otherwise done follows on the main thread.
    bool Join(const std::vector<std::string>& inputs, const std::string& output,
              const std::string& muxer, TProgress progress, TDone done, std::string& reason);
    void Cancel();
    // Stops a join and waits for its end; no handler runs afterwards.
    void Shutdown();
    bool Active() const { return Running; }

    // The facts of a file or manifest address (the libraries bound first).
    TMediaFacts Probe(const std::string& fileName);

private:
    TFFEncoder Encoder;
    bool Running = false;
    bool Cancelled = false;
    TDone OnDone;
    std::shared_ptr<bool> Alive = std::make_shared<bool>(true);
};

} // namespace cw
