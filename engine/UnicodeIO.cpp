#include "engine/UnicodeIO.h"

#include "engine/Owners.h"

#include "engine/FFApi.h"
#include "engine/FFUtils.h"
#include "engine/Interrupt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace cw {

namespace {

constexpr int IOBufferSize = 32768;

struct TUnicodeFile {
    int Fd = -1;
    AVIOInterruptCB Interrupt{nullptr, nullptr};

    bool Interrupted() const { return Interrupt.callback && Interrupt.callback(Interrupt.opaque); }
};

int ReadPacket(void* opaque, uint8_t* buffer, int size) {
    auto* file = static_cast<TUnicodeFile*>(opaque);
    if (file->Interrupted())
        return AVERROR_EXIT;
    ssize_t n;
    do
        n = ::read(file->Fd, buffer, static_cast<size_t>(size));
    while (n < 0 && errno == EINTR);
    if (n < 0)
        return AVERROR(errno);
    if (n == 0)
        return AVERROR_EOF;
    return static_cast<int>(n);
}

int WritePacket(void* opaque, uint8_t* buffer, int size) {
    auto* file = static_cast<TUnicodeFile*>(opaque);
    if (file->Interrupted())
        return AVERROR_EXIT;
    int done = 0;
    while (done < size) {
        ssize_t n = ::write(file->Fd, buffer + done, static_cast<size_t>(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return AVERROR(errno);
        }
        done += static_cast<int>(n);
    }
    return done;
}

int64_t Seek(void* opaque, int64_t offset, int whence) {
    auto* file = static_cast<TUnicodeFile*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        if (::fstat(file->Fd, &st) != 0)
            return AVERROR(errno);
        return st.st_size;
    }
    off_t position = ::lseek(file->Fd, offset, whence & ~AVSEEK_FORCE);
    if (position < 0)
        return AVERROR(errno);
    return position;
}

} // namespace

bool IsUnicodeLibraryName(const std::string& libraryName) {
    return FromLibraryFileName(libraryName) != libraryName;
}

bool IsUnicodeIO(const AVIOContext* io) {
    return io && io->read_packet == &ReadPacket;
}

int OpenUnicodeIO(AVIOContext** io, const std::string& libraryName, int flags,
                  const AVIOInterruptCB* interrupt) {
    *io = nullptr;
    std::string path = FromLibraryFileName(libraryName);
    bool writing = (flags & AVIO_FLAG_WRITE) != 0;
    int mode = O_RDONLY;
    if (writing)
        mode = ((flags & AVIO_FLAG_READ) ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
    int fd = ::open(path.c_str(), mode | O_CLOEXEC, 0666);
    if (fd < 0)
        return AVERROR(errno);

    auto* file = new (std::nothrow) TUnicodeFile;
    auto* buffer = static_cast<unsigned char*>(ff::av_malloc(IOBufferSize));
    AVIOContext* context = nullptr;
    if (file && buffer)
        context = ff::avio_alloc_context(buffer, IOBufferSize, writing ? 1 : 0, file, &ReadPacket,
                                         &WritePacket, &Seek);
    if (!context) {
        ff::av_free(buffer);
        delete file;
        ::close(fd);
        return AVERROR(ENOMEM);
    }
    file->Fd = fd;
    if (interrupt)
        file->Interrupt = *interrupt;
    *io = context;
    return 0;
}

void ReleaseUnicodeFile(void* opaque) {
    if (auto* file = static_cast<TUnicodeFile*>(opaque)) {
        ::close(file->Fd);
        delete file;
    }
}

int OpenInputFile(AVFormatContext** context, const std::string& libraryName,
                  const AVInputFormat* format, AVDictionary** options) {
    if (!*context)
        *context = ff::avformat_alloc_context();
    if (!*context)
        return AVERROR(ENOMEM);
    (*context)->interrupt_callback = EngineInterruptCB();
    AVIOContext* io = nullptr;
    if (IsUnicodeLibraryName(libraryName)) {
        int result =
            OpenUnicodeIO(&io, libraryName, AVIO_FLAG_READ, &(*context)->interrupt_callback);
        if (result < 0) {
            TOutputContextPtr bare(*context); // never opened: freed as a bare context
            *context = nullptr;
            return result;
        }
        (*context)->pb = io;
        (*context)->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    // On failure the library frees the context but not a file access of ours.
    int result = ff::avformat_open_input(context, libraryName.c_str(), format, options);
    if (result < 0)
        CloseUnicodeIO(&io);
    return result;
}

int OpenOutputFile(AVFormatContext* context, const std::string& libraryName,
                   AVDictionary** options) {
    context->interrupt_callback = EngineInterruptCB();
    if (context->oformat && (context->oformat->flags & AVFMT_NOFILE))
        return 0;
    if (IsUnicodeLibraryName(libraryName)) {
        int result =
            OpenUnicodeIO(&context->pb, libraryName, AVIO_FLAG_WRITE, &context->interrupt_callback);
        if (result >= 0)
            context->flags |= AVFMT_FLAG_CUSTOM_IO;
        return result;
    }
    return ff::avio_open2(&context->pb, libraryName.c_str(), AVIO_FLAG_WRITE,
                          &context->interrupt_callback, options);
}

} // namespace cw
