#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

// A fresh folder under the system temp folder, removed with everything in it.
class TTempDir {
public:
    TTempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "cwtest-XXXXXX").string();
        Path = mkdtemp(tmpl.data());
        Path += "/";
    }
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::permissions(Path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(Path, ec);
    }
    std::string Path; // ends in '/'

    void Write(const std::string& name, const std::string& content) const {
        std::ofstream(Path + name, std::ios::binary) << content;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(Path + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};
