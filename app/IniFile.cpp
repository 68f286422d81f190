#include "app/IniFile.h"

#include "app/Utils.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cw {

namespace {
bool IsSectionLine(const std::string& line, std::string* name = nullptr) {
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[')
        return false;
    auto close = t.find(']');
    if (close == std::string::npos)
        return false;
    if (name)
        *name = Trim(t.substr(1, close - 1));
    return true;
}
bool KeyOf(const std::string& line, std::string& key, std::string& value) {
    auto eq = line.find('=');
    if (eq == std::string::npos)
        return false;
    key = Trim(line.substr(0, eq));
    if (key.empty() || key[0] == ';' || key[0] == '#')
        return false;
    value = line.substr(eq + 1);
    // A trailing CR of a CR LF file never belongs to the value.
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n'))
        value.pop_back();
    return true;
}
bool SameName(const std::string& a, const std::string& b) { return LowerCase(a) == LowerCase(b); }
} // namespace

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        start = 3;
    while (start < text.size()) {
        auto nl = text.find('\n', start);
        std::string line = text.substr(start, nl == std::string::npos ? std::string::npos
                                                                       : nl - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        if (nl == std::string::npos)
            break;
        start = nl + 1;
    }
    return lines;
}

std::string ReadFileText(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        throw std::runtime_error("Cannot open file \"" + path + "\". " + std::strerror(errno));
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    const bool failed = std::ferror(f);
    std::fclose(f);
    if (failed)
        throw std::runtime_error("Cannot read file \"" + path + "\".");
    return text;
}

std::string ResolveSymlinks(const std::string& path) {
    // Followed by hand, so that a link whose target does not exist yet still names it.
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        std::vector<char> target(size_t(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size() - 1);
        if (n < 0)
            return current;
        std::string next(target.data(), size_t(n));
        if (next.empty())
            return current;
        if (next[0] != '/') {
            const auto slash = current.rfind('/');
            next =
                (slash == std::string::npos ? std::string() : current.substr(0, slash + 1)) + next;
        }
        current = next;
    }
    return current;
}

void WriteFileAtomically(const std::string& path, const std::string& content,
                         unsigned newFileMode) {
    // A link is written through: the file it names is replaced, the link stays.
    const std::string target = ResolveSymlinks(path);
    const std::string temp = target + ".tmp" + std::to_string(::getpid());
    auto fail = [&](int err) {
        ::unlink(temp.c_str());
        throw std::runtime_error("Cannot write file \"" + path + "\". " + std::strerror(err));
    };
    // An existing file keeps its permission bits (and, where we may, its owner); a new one
    // gets newFileMode whatever the umask.
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    const mode_t mode = existed ? (old.st_mode & 07777) : mode_t(newFileMode);
    ::unlink(temp.c_str());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("Cannot write file \"" + path + "\". " + std::strerror(errno));
    if (existed && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()))
        (void)!::fchown(fd, old.st_uid, old.st_gid);
    if (::fchmod(fd, mode) != 0) {
        int err = errno;
        ::close(fd);
        fail(err);
    }
    size_t done = 0;
    while (done < content.size()) {
        ssize_t w = ::write(fd, content.data() + done, content.size() - done);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            int err = errno;
            ::close(fd);
            fail(err);
        }
        done += size_t(w);
    }
    if (::fsync(fd) != 0 && errno != EINVAL) {
        int err = errno;
        ::close(fd);
        fail(err);
    }
    if (::close(fd) != 0)
        fail(errno);
    if (::rename(temp.c_str(), target.c_str()) != 0)
        fail(errno);
}

bool ParseIniInteger(const std::string& raw, int& value) {
    std::string t = Trim(raw);
    if (t.empty())
        return false;
    bool negative = false;
    size_t i = 0;
    if (t[0] == '-' || t[0] == '+') {
        negative = t[0] == '-';
        i = 1;
    }
    int base = 10;
    if (t.compare(i, 2, "0x") == 0 || t.compare(i, 2, "0X") == 0) {
        base = 16;
        i += 2;
    } else if (t.compare(i, 1, "$") == 0) {
        base = 16;
        i += 1;
    }
    if (i >= t.size())
        return false;
    long long v = 0;
    for (; i < t.size(); ++i) {
        int d;
        char c = t[i];
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * base + d;
        // Hexadecimal values may use all 32 bits (0xFFFFFFFF is -1); decimals must fit.
        if (v > (base == 16 ? 0xFFFFFFFFLL : (long long)INT_MAX + 1))
            return false;
    }
    if (base == 16)
        v = (long long)(int32_t)(uint32_t)v;
    if (negative)
        v = -v;
    if (v < INT_MIN || v > INT_MAX)
        return false;
    value = int(v);
    return true;
}

bool TIniFile::Load(const std::string& path) {
    Lines.clear();
    if (!FileExists(path))
        return false;
    LoadFromText(ReadFileText(path));
    return true;
}

void TIniFile::LoadFromLines(const std::vector<std::string>& lines) {
    Lines.clear();
    for (auto line : lines) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        Lines.push_back(std::move(line));
    }
}

void TIniFile::LoadFromText(const std::string& text) { Lines = SplitLines(text); }

std::string TIniFile::Text() const {
    std::string out;
    for (const auto& l : Lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

void TIniFile::Save(const std::string& path, unsigned newFileMode) const {
    WriteFileAtomically(path, Text(), newFileMode);
}

int TIniFile::FindSection(const std::string& section) const {
    std::string name;
    for (size_t i = 0; i < Lines.size(); ++i)
        if (IsSectionLine(Lines[i], &name) && SameName(name, section))
            return int(i);
    return -1;
}

int TIniFile::SectionEnd(int header) const {
    size_t i = size_t(header) + 1;
    while (i < Lines.size() && !IsSectionLine(Lines[i]))
        ++i;
    return int(i);
}

int TIniFile::FindKey(int header, const std::string& key) const {
    std::string k, v;
    int end = SectionEnd(header);
    for (int i = header + 1; i < end; ++i)
        if (KeyOf(Lines[size_t(i)], k, v) && SameName(k, key))
            return i;
    return -1;
}

bool TIniFile::SectionExists(const std::string& section) const { return FindSection(section) >= 0; }

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
    int h = FindSection(section);
    return h >= 0 && FindKey(h, key) >= 0;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
    int h = FindSection(section);
    if (h < 0)
        return def;
    int i = FindKey(h, key);
    if (i < 0)
        return def;
    std::string k, v;
    KeyOf(Lines[size_t(i)], k, v);
    return v;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
    int value;
    if (!ValueExists(section, key) || !ParseIniInteger(ReadString(section, key, ""), value))
        return def;
    return value;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    const std::string line = key + "=" + value;
    int h = FindSection(section);
    if (h < 0) {
        if (!Lines.empty() && !Trim(Lines.back()).empty())
            Lines.push_back("");
        Lines.push_back("[" + section + "]");
        Lines.push_back(line);
        return;
    }
    int i = FindKey(h, key);
    if (i >= 0) {
        Lines[size_t(i)] = line;
        return;
    }
    // Append after the section's last non-blank line.
    int end = SectionEnd(h);
    while (end - 1 > h && Trim(Lines[size_t(end - 1)]).empty())
        --end;
    Lines.insert(Lines.begin() + end, line);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

} // namespace cw
