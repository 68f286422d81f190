#include "net/TransferOutput.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace cw {

bool TTransferOutput::Create(bool statusOk, uint64_t resumeOffset, bool hasLength, int64_t length,
                             const TCustomWinThread& thread) {
    std::unique_ptr<TStream> stream;
    bool isFile = false;
    if (statusOk && !Name.empty()) {
        std::string error;
        auto file = TFileStream::Open(Name, resumeOffset == 0, error);
        if (file) {
            file->Seek(int64_t(resumeOffset));
            stream = std::move(file);
            isFile = true;
        } else if (hasLength) {
            return false;
        }
    }
    if (!stream) {
        auto memory = std::make_unique<TMemoryStream>();
        // Room for the announced length at once. A length that cannot be had (a server may
        // announce anything) leaves the stream to grow with the data instead.
        if (hasLength && length > 0) {
            try {
                memory->Reserve(Limit > 0 ? std::min(length, Limit) : length);
            } catch (const std::bad_alloc&) {
            }
        }
        stream = std::move(memory);
    }
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (!thread.CutOff()) {
            Stream = std::move(stream);
            FileOutput = isFile;
        }
    }
    VerifyPending = resumeOffset != 0 && isFile;
    return true;
}

TTransferOutput::TTake TTransferOutput::Take(const char* data, size_t size,
                                             const TCustomWinThread& thread) {
    if (VerifyPending) {
        VerifyPending = false;
        std::vector<char> existing(size);
        int64_t got;
        {
            std::lock_guard<std::mutex> guard(Lock);
            if (thread.CutOff() || !Stream)
                return TTake::CutOff;
            got = Stream->Read(existing.data(), int64_t(size));
        }
        if (got != int64_t(size) || std::memcmp(existing.data(), data, size) != 0)
            return TTake::Mismatch;
        return TTake::Verified;
    }
    std::lock_guard<std::mutex> guard(Lock);
    if (thread.CutOff() || !Stream)
        return TTake::CutOff;
    if (!FileOutput && Limit > 0 && Stream->Size() + int64_t(size) > Limit)
        return TTake::Full;
    Stream->Write(data, int64_t(size));
    return TTake::Written;
}

bool TTransferOutput::Refuses(bool hasLength, int64_t length) {
    std::lock_guard<std::mutex> guard(Lock);
    return !FileOutput && Limit > 0 && hasLength && length > Limit;
}

bool TTransferOutput::Has() {
    std::lock_guard<std::mutex> guard(Lock);
    return Stream != nullptr;
}

TStream* TTransferOutput::Peek() {
    std::lock_guard<std::mutex> guard(Lock);
    return Stream.get();
}

bool TTransferOutput::IsFile() {
    std::lock_guard<std::mutex> guard(Lock);
    return FileOutput;
}

bool TTransferOutput::Release() {
    std::lock_guard<std::mutex> guard(Lock);
    const bool wasFile = FileOutput;
    Stream.reset();
    FileOutput = false;
    return wasFile;
}

} // namespace cw
