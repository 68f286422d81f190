// Opening shared libraries by folder and file name. A library taken from a folder brings its
// own dependencies from the same folder: every library it needs that lies in that folder is
// opened from there first, so the dynamic linker reuses those instead of searching the system.
// A name that is not a file in the folder is opened through the system search (by soname).
#pragma once

#include <string>
#include <vector>

namespace cw {

struct TModule {
    void* Handle = nullptr;
    std::vector<void*> Dependencies; // handles of the folder's libraries opened first
    std::string Path;                // what was handed to dlopen
};

// folder is empty or ends in '/'. When the folder does not hold the file, the name goes
// through the system search, unless systemSearch is false. On failure returns false with the
// dynamic linker's text.
bool OpenModule(const std::string& folder, const std::string& name, TModule& module,
                std::string& error, bool systemSearch = true);
void CloseModule(TModule& module);

// The DT_NEEDED names of an ELF shared library of this machine's class; empty when the file
// cannot be read or is not one.
std::vector<std::string> NeededLibraries(const std::string& path);

std::string WithTrailingSlash(const std::string& folder);

} // namespace cw
