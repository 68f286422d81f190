// Output streams of the HTTP transfer component: a growable memory block and a file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace cw {

class TStream {
public:
    virtual ~TStream() = default;
    // Reads up to count bytes at the position; returns how many were read (0 at the end).
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Writes count bytes at the position; throws std::runtime_error when it cannot.
    virtual void Write(const void* buffer, int64_t count) = 0;
    // Moves to position (from the start); returns the position reached.
    virtual int64_t Seek(int64_t position) = 0;
    virtual int64_t Position() const = 0;
    virtual int64_t Size() const = 0;
};

class TMemoryStream final : public TStream {
public:
    TMemoryStream() = default;
    ~TMemoryStream() override;
    TMemoryStream(const TMemoryStream&) = delete;
    TMemoryStream& operator=(const TMemoryStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    void Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t position) override;
    int64_t Position() const override { return Pos; }
    int64_t Size() const override { return Length; }

    // Makes room for capacity bytes at once, so that writes up to it do not reallocate.
    // Throws std::bad_alloc when the memory cannot be had.
    void Reserve(int64_t capacity);
    int64_t Capacity() const { return Allocated; }
    const char* Memory() const { return Data; }
    std::string_view View() const { return {Data ? Data : "", size_t(Length)}; }

private:
    void PrepareUpTo(int64_t end);

    char* Data = nullptr;
    int64_t Allocated = 0;
    int64_t Prepared = 0; // bytes from the start whose pages are mapped
    int64_t Length = 0;
    int64_t Pos = 0;
};

class TFileStream final : public TStream {
public:
    // Opens path for reading and writing; truncate empties an existing file. Returns null
    // and sets error when the file cannot be opened.
    static std::unique_ptr<TFileStream> Open(const std::string& path, bool truncate,
                                             std::string& error);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    void Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t position) override;
    int64_t Position() const override { return Pos; }
    int64_t Size() const override;
    const std::string& FileName() const { return Path; }

private:
    TFileStream(int fd, std::string path) : Fd(fd), Path(std::move(path)) {}
    int Fd;
    std::string Path;
    int64_t Pos = 0;
};

} // namespace cw
