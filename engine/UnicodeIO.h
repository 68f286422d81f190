// The engine's own file access for library names that start with "unicode:utf8:" (see
// ToLibraryFileName): a custom AVIOContext over a file descriptor with reading, writing,
// seeking and the size query. OpenInputFile / OpenOutputFile choose it or the libraries' own
// file access by the name, and give every container the engine's interrupt callback.
#pragma once

#include <string>

struct AVDictionary;
struct AVFormatContext;
struct AVInputFormat;
struct AVIOContext;
struct AVIOInterruptCB;

namespace cw {

bool IsUnicodeLibraryName(const std::string& libraryName);

// flags: AVIO_FLAG_READ (the file must exist), AVIO_FLAG_WRITE or AVIO_FLAG_READ_WRITE (both
// create or truncate the file). interrupt may be null; when it asks to stop, reads and writes
// answer AVERROR_EXIT. Returns 0 or a negative library error code (the system's error number).
int OpenUnicodeIO(AVIOContext** io, const std::string& libraryName, int flags,
                  const AVIOInterruptCB* interrupt);
// Flushes what was written, closes the file and frees the context; sets *io to null.
// (The closing functions are defined with the owners, in Owners.cpp.)
void CloseUnicodeIO(AVIOContext** io);
// Closes the file of a file access's record and frees the record (no library call).
void ReleaseUnicodeFile(void* opaque);
bool IsUnicodeIO(const AVIOContext* io);

// Opens an input container. *context may be a context prepared by the caller (its flags are
// kept) or null. On failure *context is null and everything is freed.
int OpenInputFile(AVFormatContext** context, const std::string& libraryName,
                  const AVInputFormat* format, AVDictionary** options);
// Closes the container and its file access; sets *context to null.
void CloseInputFile(AVFormatContext** context);

// Opens the file access of an output container whose format writes a file.
int OpenOutputFile(AVFormatContext* context, const std::string& libraryName,
                   AVDictionary** options);
// Closes the output's file access (after the trailer has been written).
void CloseOutputFile(AVFormatContext* context);

} // namespace cw
