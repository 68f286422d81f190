#include "download/SaveFiles.h"

#include "app/Utils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace cw {

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
