#include "app/Utils.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace cw {

std::string AddTrailingBackslash(std::string path) {
    // An empty path stays empty: appending a separator would turn "no folder" into the root.
    if (!path.empty() && path.back() != PathDelim)
        path.push_back(PathDelim);
    return path;
}

namespace {
// Index of the first character of the file-name part.
size_t NameStart(const std::string& path) {
    auto slash = path.rfind(PathDelim);
    return slash == std::string::npos ? 0 : slash + 1;
}
size_t ExtStart(const std::string& path) {
    auto dot = path.rfind('.');
    if (dot == std::string::npos || dot < NameStart(path))
        return std::string::npos;
    return dot;
}
} // namespace

std::string StripExtension(const std::string& path) {
    auto dot = ExtStart(path);
    return dot == std::string::npos ? path : path.substr(0, dot);
}

std::string ExtractFileExt(const std::string& path) {
    auto dot = ExtStart(path);
    return dot == std::string::npos ? std::string() : path.substr(dot);
}

std::string ExtractFileName(const std::string& path) { return path.substr(NameStart(path)); }

std::string ExtractFilePath(const std::string& path) { return path.substr(0, NameStart(path)); }

bool FileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {
// Any entry under the name counts as taken, a folder too: it cannot become an output file.
bool NameTaken(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}
} // namespace

std::string UniqueFileName(const std::string& name, const std::string& folder) {
    if (!NameTaken(folder + name))
        return name;
    const std::string base = StripExtension(name);
    const std::string ext = ExtractFileExt(name);
    std::string candidate;
    for (int i = 1; i <= UniqueFileCap; ++i) {
        candidate = base + "(" + std::to_string(i) + ")" + ext;
        if (!NameTaken(folder + candidate))
            break;
    }
    return candidate;
}

const char* const InvalidFileNameChars = "\\/:*?\"<>|";

bool ContainsAnyChar(const std::string& text, const std::string& chars) {
    return text.find_first_of(chars) != std::string::npos;
}

bool IsValidFileName(const std::string& name) {
    return !name.empty() && !ContainsAnyChar(name, InvalidFileNameChars);
}

std::string SanitizeFileName(const std::string& name) {
    if (IsValidFileName(name))
        return name;
    std::string out = name;
    for (char& c : out)
        if (std::string_view(InvalidFileNameChars).find(c) != std::string_view::npos)
            c = '_';
    return out;
}

const std::vector<std::string>& MediaExtensions() {
    static const std::vector<std::string> table = {
        // audio
        ".mp3", ".aac", ".wav", ".wma", ".cda", ".flac", ".m4a", ".mid", ".mka", ".mp2", ".mpa",
        ".mpc", ".ape", ".ofr", ".ogg", ".ra", ".wv", ".tta", ".ac3", ".dts",
        // video
        ".avi", ".avm", ".asf", ".wmv", ".avs", ".flv", ".mkv", ".mov", ".3gp", ".mp4", ".mpg",
        ".dat", ".ogm", ".vob", ".rm", ".rmvb", ".ts", ".tp", ".ifo", ".nsv", ".swf"};
    return table;
}

std::string LowerCase(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n'))
        --e;
    return s.substr(b, e - b);
}

bool IsMediaExtension(const std::string& ext) {
    const auto& t = MediaExtensions();
    return std::find(t.begin(), t.end(), LowerCase(ext)) != t.end();
}

bool IsTrueValue(const std::string& text) { return text == "True" || text == "Yes"; }

std::string FormatMicroseconds(int64_t us) {
    const int64_t secs = us / 1000000;
    const int64_t hours = secs / 60 / 60;
    const int64_t minutes = secs / 60 % 60;
    const int64_t seconds = secs % 60;
    const int64_t millis = (us % 1000000) * 1000 / 1000000;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2lld:%.2lld:%.2lld.%.3lld", (long long)hours,
                  (long long)minutes, (long long)seconds, (long long)millis);
    return buf;
}

std::string FormatSeconds(int s) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.2d:%.2d:%.2d", s / 3600, s % 3600 / 60, s % 60);
    return buf;
}

std::string TextBetween(const std::string& text, const std::string& startMarker,
                        const std::string& endMarker) {
    // 1-based positions as in the rule: with the start marker absent (p = 0) the remainder
    // begins at position length(start marker), i.e. index length - 1.
    auto found = text.find(startMarker);
    size_t from;
    if (found == std::string::npos)
        from = startMarker.empty() ? 0 : startMarker.size() - 1;
    else
        from = found + startMarker.size();
    if (from > text.size())
        return {};
    const std::string rest = text.substr(from);
    auto q = rest.find(endMarker);
    if (q == std::string::npos)
        return {};
    return rest.substr(0, q);
}

std::vector<std::string> SplitText(const std::string& text, const std::string& separator) {
    std::vector<std::string> out;
    if (separator.empty()) {
        if (!text.empty())
            out.push_back(text);
        return out;
    }
    std::string piece;
    size_t i = 0;
    while (i < text.size()) {
        if (text.compare(i, separator.size(), separator) == 0) {
            out.push_back(piece);
            piece.clear();
            i += separator.size();
        } else {
            piece.push_back(text[i++]);
        }
    }
    if (!piece.empty())
        out.push_back(piece);
    return out;
}

namespace {
// One character as UTF-8. Control characters never get into a title: line breaks and tabs
// become a space, other controls, surrogates and values past U+10FFFF the replacement sign.
void AppendCodePoint(std::string& out, uint32_t cp) {
    if (cp == '\t' || cp == '\n' || cp == '\r')
        cp = ' ';
    else if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || (cp >= 0xD800 && cp <= 0xDFFF) ||
             cp > 0x10FFFF)
        cp = 0xFFFD;
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}
} // namespace

std::string DecodeHtmlEntities(const std::string& text) {
    static const struct {
        const char* Name;
        char Value;
    } named[] = {{"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}, {"nbsp;", ' '}, {"quot;", '"'}};
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '&') {
            out.push_back(text[i++]);
            continue;
        }
        bool done = false;
        for (const auto& n : named) {
            size_t len = std::char_traits<char>::length(n.Name);
            if (text.compare(i + 1, len, n.Name) == 0) {
                out.push_back(n.Value);
                i += 1 + len;
                done = true;
                break;
            }
        }
        if (done)
            continue;
        if (i + 1 < text.size() && text[i + 1] == '#') {
            // "&#NNN;" and "&#xHHH;" (the ";" may be missing at the end of the text), as UTF-8.
            const bool hex = i + 2 < text.size() && (text[i + 2] == 'x' || text[i + 2] == 'X');
            size_t j = i + (hex ? 3 : 2);
            const size_t first = j;
            uint32_t value = 0;
            for (; j < text.size(); ++j) {
                const char c = text[j];
                int digit = c >= '0' && c <= '9' ? c - '0' : -1;
                if (hex && digit < 0 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
                    digit = (c | 0x20) - 'a' + 10;
                if (digit < 0)
                    break;
                value = std::min<uint32_t>(value * (hex ? 16 : 10) + uint32_t(digit), 0x110000);
            }
            if (j > first && (j == text.size() || text[j] == ';')) {
                AppendCodePoint(out, value);
                i = j < text.size() ? j + 1 : j;
                continue;
            }
        }
        // Not an entity we know: the ampersand stays as it is.
        out.push_back(text[i++]);
    }
    return out;
}

namespace {
std::string EnvOr(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}
std::string HomeFolder() {
    std::string home = EnvOr("HOME");
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    return home.empty() ? std::string("/") : home;
}
// Reads XDG_DOCUMENTS_DIR from the user-dirs file, as the desktop writes it.
std::string XdgDocumentsFolder() {
    std::string config = EnvOr("XDG_CONFIG_HOME");
    if (config.empty())
        config = HomeFolder() + "/.config";
    std::FILE* f = std::fopen((config + "/user-dirs.dirs").c_str(), "r");
    if (!f)
        return {};
    std::string result;
    char line[4096];
    while (std::fgets(line, sizeof line, f)) {
        std::string s = Trim(line);
        const std::string key = "XDG_DOCUMENTS_DIR=";
        if (s.rfind(key, 0) != 0)
            continue;
        s = s.substr(key.size());
        if (s.size() >= 2 && s.front() == '"' && s.back() == '"')
            s = s.substr(1, s.size() - 2);
        if (s.rfind("$HOME", 0) == 0)
            s = HomeFolder() + s.substr(5);
        result = s;
    }
    std::fclose(f);
    return result;
}
} // namespace

std::string ShellFolder(const std::string& valueName) {
    std::string path;
    if (valueName == "AppData") {
        path = EnvOr("XDG_CONFIG_HOME");
        if (path.empty())
            path = HomeFolder() + "/.config";
    } else if (valueName == "Personal") {
        path = XdgDocumentsFolder();
        if (path.empty() || !DirectoryExists(path)) {
            std::string docs = HomeFolder() + "/Documents";
            path = DirectoryExists(docs) ? docs : std::string();
        }
    }
    if (path.empty())
        path = HomeFolder();
    return path;
}

std::string ExpandUserFolder(const std::string& text) {
    if (text.empty() || text[0] == '/')
        return text;
    const std::string home = AddTrailingBackslash(HomeFolder());
    if (text == "~")
        return HomeFolder();
    if (text.compare(0, 2, "~/") == 0)
        return home + text.substr(2);
    return home + text;
}

std::string ExecutableFolder() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return AddTrailingBackslash(std::filesystem::current_path().string());
    return AddTrailingBackslash(exe.parent_path().string());
}

bool BindFromLibraryFolders(const std::string& programFolder,
                            const std::function<bool(const std::string& folder)>& bind) {
    return bind(programFolder + "lib") || bind(programFolder + "../lib");
}

} // namespace cw
