// The output of one HTTP transfer: the answer goes to a file, or into memory, where it is held
// up to a limit. The worker touches the stream only under the output's lock, after checking
// that its run was not cut off by a hard stop; the main thread takes the same lock to free it.
#pragma once

#include "net/Streams.h"
#include "net/WinThread.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace cw {

class TTransferOutput {
public:
    // What became of a block handed to Take.
    enum class TTake {
        Written,  // added to the output
        Verified, // the first block of a resumed file matched what the file holds there
        Mismatch, // it did not: the file does not continue with this answer
        CutOff,   // the run was stopped hard, or there is no output
        Full,     // a memory output would grow past its limit: nothing was added
    };

    // fileName empty: the answer is kept in memory. memoryLimit 0: no limit.
    TTransferOutput(std::string fileName, int64_t memoryLimit)
        : Name(std::move(fileName)), Limit(memoryLimit) {}

    const std::string& FileName() const { return Name; }
    int64_t MemoryLimit() const { return Limit; }

    // ---- worker ----
    // The stream for an answer (statusOk: status 200 or 206), continuing at resumeOffset. An
    // answer of another status, or one whose file cannot be opened while it announced no
    // length, is kept in memory, room made for the announced length at once. False, with no
    // output, when the file cannot be created although the answer announced its length.
    bool Create(bool statusOk, uint64_t resumeOffset, bool hasLength, int64_t length,
                const TCustomWinThread& thread);
    // A memory output is announced more than it may hold.
    bool Refuses(bool hasLength, int64_t length);
    // The first block of a resumed file is compared with what the file holds there, not
    // written again; every other block is written.
    TTake Take(const char* data, size_t size, const TCustomWinThread& thread);
    // The next block is the first one of a resumed file.
    bool Verifying() const { return VerifyPending; }
    bool Has();

    // ---- either thread ----
    TStream* Peek();
    bool IsFile();
    // Frees the stream (a file is closed). True when it was the output file.
    bool Release();

private:
    const std::string Name;
    const int64_t Limit;
    std::mutex Lock;
    std::unique_ptr<TStream> Stream;
    bool FileOutput = false;
    bool VerifyPending = false;
};

} // namespace cw
