#include "download/SaveFiles.h"

#include "app/Utils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace cw {

namespace {

// Another file system: the data is copied into a new file of the name (never over a file
// already there), with the permissions of the finished file, and the finished file goes only
// once the copy is whole on the disk. On failure the copy goes and the finished file stays.
int CopyNoReplace(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno;
    struct stat st {};
    if (::fstat(in, &st) != 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    int error = 0;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            break;
        }
        for (ssize_t done = 0; done < got && error == 0;) {
            const ssize_t put = ::write(out, buffer.data() + done, size_t(got - done));
            if (put > 0)
                done += put;
            else if (put == 0 || errno != EINTR)
                error = put == 0 ? EIO : errno;
        }
        if (error != 0)
            break;
    }
    if (error == 0 && ::fchmod(out, st.st_mode & 07777) != 0)
        error = errno;
    if (error == 0 && ::fsync(out) != 0)
        error = errno;
    if (::close(out) != 0 && error == 0)
        error = errno;
    ::close(in);
    if (error != 0) {
        ::unlink(to.c_str());
        return error;
    }
    ::unlink(from.c_str());
    return 0;
}

} // namespace

std::string CreateTempFile(const std::string& folder) {
    std::string path = AddTrailingBackslash(folder) + ".clipwright-XXXXXX.part";
    const int fd = ::mkstemps(path.data(), 5);
    if (fd < 0)
        return {};
    // The finished file keeps these permissions; make them those of any new file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    return path;
}

int MoveNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    int error = errno;
    if (error == EXDEV)
        return CopyNoReplace(from, to);
    if (error != EINVAL && error != ENOSYS && error != ENOTSUP)
        return error;
    // A file system without that kind of rename: a hard link never replaces anything.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    error = errno;
    if (error == EEXIST || (error != EPERM && error != ENOTSUP && error != ENOSYS))
        return error;
    if (FileExists(to))
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

} // namespace cw
