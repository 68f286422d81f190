// The transfer of one resolved http or https format into a file, with the transfer component:
// the answer's request headers sent, the file asked for in Range pieces of the format's chunk
// size when it gives one (whole reads are slowed down by the service), and a connection that
// drops resumed from what has arrived, a few times, before the transfer counts as failed.
#pragma once

#include "download/Resolver.h"
#include "net/WinHTTP.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace cw {

class TFormatFetcher {
public:
    // Received bytes (from the start of the file), the whole length (-1 unknown), seconds
    // since the start and bytes per second.
    using TProgress =
        std::function<void(int64_t received, int64_t total, double seconds, double bytesPerSecond)>;
    enum class TResult { frDone, frFailed, frAborted };
    using TDone = std::function<void(TResult result, const std::string& reason)>;

    static constexpr int MaxResumes = 3;
    // Pieces smaller than this are not asked for, whatever the answer says.
    static constexpr int64_t MinChunkSize = 1024;

    explicit TFormatFetcher(std::shared_ptr<TConnectionPool> connections = nullptr);
    ~TFormatFetcher();
    TFormatFetcher(const TFormatFetcher&) = delete;
    TFormatFetcher& operator=(const TFormatFetcher&) = delete;

    // The component; its agent, time-outs and the like can be set before a fetch.
    TWinHTTP Http;

    // Starts writing the format into the file (which is created or emptied). False when a
    // transfer is going already. done comes once, on the main thread.
    bool Fetch(const TResolvedFormat& format, const std::string& fileName, TProgress progress,
               TDone done);
    // Stops a fetch; done follows with frAborted.
    void Cancel();
    bool Active() const { return Running; }

private:
    void StartPiece();
    void PieceDone(int64_t endOffset);
    void Finish(TResult result, const std::string& reason);
    // Runs fn once the component has finished its last delivery.
    void WhenIdle(std::function<void()> fn);

    bool Running = false;
    TDone OnDone;
    TProgress OnProgress;
    std::string Url;
    int64_t ChunkSize = 0;
    int64_t Offset = 0;   // bytes in the file so far
    int64_t Total = -1;   // the whole length, when known
    int64_t PieceEnd = 0; // last byte asked for in this piece (0 for "to the end")
    int64_t LostAt = -1;  // where the connection dropped, -1 when it did not
    int ResumeCount = 0;
    std::chrono::steady_clock::time_point Started;
    std::shared_ptr<bool> Alive = std::make_shared<bool>(true);
};

} // namespace cw
