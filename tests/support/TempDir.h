// The temporary folders of every test suite: each object makes a fresh folder of its own
// (mkdtemp, so two processes or two tests never share one) and removes it with everything in
// it, also when a test left parts of it read-only.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace cw::test {

// The whole content of a file, empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class TTempDir {
public:
    // A folder named PREFIX-XXXXXX in `parent`, or in the system's temporary folder.
    explicit TTempDir(const std::string& prefix = "cwtest", const std::string& parent = {}) {
        const std::filesystem::path base =
            parent.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(parent);
        std::string pattern = (base / (prefix + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("no temporary folder can be made in " + base.string());
        Path = pattern + "/";
    }
    ~TTempDir() {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(Path, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            if (it->is_directory(ec))
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ec);
        std::filesystem::permissions(Path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(Path, ec);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    std::string Path; // ends in '/'
    // The same path, for the suites that name it so.
    const std::string& Folder() const { return Path; }

    void Write(const std::string& name, const std::string& content) const {
        std::ofstream(Path + name, std::ios::binary) << content;
    }
    std::string Read(const std::string& name) const { return ReadFile(Path + name); }
    // The names of the entries in the folder, sorted.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(Path, ec))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

} // namespace cw::test
