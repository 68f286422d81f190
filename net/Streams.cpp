#include "net/Streams.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace cw {

// ---- TMemoryStream ----

TMemoryStream::~TMemoryStream() {
    std::free(Data);
}

void TMemoryStream::Reserve(int64_t capacity) {
    if (capacity <= Allocated)
        return;
    // realloc keeps large blocks in place or remaps them, so growing does not need a second
    // copy of the data in memory.
    void* grown = std::realloc(Data, size_t(capacity));
    if (!grown)
        throw std::bad_alloc();
    Data = static_cast<char*>(grown);
    Allocated = capacity;
}

void TMemoryStream::PrepareUpTo(int64_t end) {
    // Filling a large block page by page costs one page fault per page. The pages just ahead
    // of the data are mapped in one call instead, a few megabytes at a time, so that no more
    // memory is taken than the data is about to fill.
    constexpr int64_t Step = 8 * 1024 * 1024;
    if (end <= Prepared || Allocated < Step)
        return;
    const auto page = int64_t(::sysconf(_SC_PAGESIZE));
    const auto base = reinterpret_cast<uintptr_t>(Data);
    const int64_t from = std::max(Prepared, int64_t(0));
    const int64_t to = std::min(Allocated, std::max(end, from + Step));
    const uintptr_t first = (base + uintptr_t(from) + uintptr_t(page) - 1) & ~uintptr_t(page - 1);
    const uintptr_t last = (base + uintptr_t(to)) & ~uintptr_t(page - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
    Prepared = to;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t n = std::clamp<int64_t>(Length - Pos, 0, std::max<int64_t>(count, 0));
    if (n > 0)
        std::memcpy(buffer, Data + Pos, size_t(n));
    Pos += n;
    return n;
}

void TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0)
        return;
    const int64_t end = Pos + count;
    if (end > Allocated)
        Reserve(std::max(end, Allocated + Allocated / 2 + 4096));
    PrepareUpTo(end);
    std::memcpy(Data + Pos, buffer, size_t(count));
    Pos = end;
    Length = std::max(Length, end);
}

int64_t TMemoryStream::Seek(int64_t position) {
    Pos = std::max<int64_t>(position, 0);
    return Pos;
}

// ---- TFileStream ----

std::unique_ptr<TFileStream> TFileStream::Open(const std::string& path, bool truncate,
                                               std::string& error) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0644);
    if (fd < 0) {
        error = "Cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<TFileStream>(new TFileStream(fd, path));
}

TFileStream::~TFileStream() {
    ::close(Fd);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        ssize_t n =
            ::pread(Fd, static_cast<char*>(buffer) + done, size_t(count - done), off_t(Pos + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    Pos += done;
    return done;
}

void TFileStream::Write(const void* buffer, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        ssize_t n = ::pwrite(Fd, static_cast<const char*>(buffer) + done, size_t(count - done),
                             off_t(Pos + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error("Cannot write " + Path + ": " +
                                     std::strerror(n < 0 ? errno : ENOSPC));
        done += n;
    }
    Pos += done;
}

int64_t TFileStream::Seek(int64_t position) {
    Pos = std::max<int64_t>(position, 0);
    return Pos;
}

int64_t TFileStream::Size() const {
    struct stat st {};
    return ::fstat(Fd, &st) == 0 ? int64_t(st.st_size) : 0;
}

} // namespace cw
