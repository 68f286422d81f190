#include "engine/Module.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <set>

namespace cw {

namespace {

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A read-only mapping of a whole file.
class TMappedFile {
public:
    explicit TMappedFile(const std::string& path) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_size > 0) {
            void* p =
                ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            if (p != MAP_FAILED) {
                Data = static_cast<const uint8_t*>(p);
                Size = static_cast<size_t>(st.st_size);
            }
        }
        ::close(fd);
    }
    ~TMappedFile() {
        if (Data)
            ::munmap(const_cast<uint8_t*>(Data), Size);
    }
    TMappedFile(const TMappedFile&) = delete;
    TMappedFile& operator=(const TMappedFile&) = delete;

    template <class T> const T* At(uint64_t offset, uint64_t count = 1) const {
        if (!Data || offset > Size || count > (Size - offset) / sizeof(T))
            return nullptr;
        return reinterpret_cast<const T*>(Data + offset);
    }

private:
    const uint8_t* Data = nullptr;
    size_t Size = 0;
};

// Opens the folder's copies of what path needs (depth first), then path itself.
bool OpenWithDependencies(const std::string& folder, const std::string& name, TModule& module,
                          std::set<std::string>& visiting, std::string& error) {
    visiting.insert(name);
    for (const auto& needed : NeededLibraries(folder + name)) {
        if (visiting.count(needed) || !IsRegularFile(folder + needed))
            continue;
        if (!OpenWithDependencies(folder, needed, module, visiting, error))
            return false;
    }
    std::string path = folder + name;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* text = ::dlerror();
        error = text ? text : "unknown error";
        return false;
    }
    module.Dependencies.push_back(handle);
    return true;
}

} // namespace

std::string WithTrailingSlash(const std::string& folder) {
    if (folder.empty() || folder.back() == '/')
        return folder;
    return folder + '/';
}

bool OpenModule(const std::string& folder, const std::string& name, TModule& module,
                std::string& error, bool systemSearch) {
    CloseModule(module);
    std::string dir = WithTrailingSlash(folder);
    if (!dir.empty() && (IsRegularFile(dir + name) || !systemSearch)) {
        std::set<std::string> visiting;
        if (!OpenWithDependencies(dir, name, module, visiting, error)) {
            CloseModule(module);
            return false;
        }
        // The last handle opened is the library itself; the others are its dependencies.
        module.Handle = module.Dependencies.back();
        module.Dependencies.pop_back();
        module.Path = dir + name;
        return true;
    }
    module.Path = name;
    module.Handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module.Handle) {
        const char* text = ::dlerror();
        error = text ? text : "unknown error";
        module.Path.clear();
        return false;
    }
    return true;
}

void CloseModule(TModule& module) {
    if (module.Handle)
        ::dlclose(module.Handle);
    // Dependencies were opened first; let them go after the library that needs them.
    for (auto it = module.Dependencies.rbegin(); it != module.Dependencies.rend(); ++it)
        ::dlclose(*it);
    module.Handle = nullptr;
    module.Dependencies.clear();
    module.Path.clear();
}

std::vector<std::string> NeededLibraries(const std::string& path) {
    std::vector<std::string> names;
    TMappedFile file(path);
    const auto* header = file.At<ElfW(Ehdr)>(0);
    if (!header || std::memcmp(header->e_ident, ELFMAG, SELFMAG) != 0)
        return names;
#if __SIZEOF_POINTER__ == 8
    if (header->e_ident[EI_CLASS] != ELFCLASS64)
        return names;
#else
    if (header->e_ident[EI_CLASS] != ELFCLASS32)
        return names;
#endif
    if (header->e_phentsize != sizeof(ElfW(Phdr)))
        return names;
    const auto* programs = file.At<ElfW(Phdr)>(header->e_phoff, header->e_phnum);
    if (!programs)
        return names;

    const ElfW(Phdr)* dynamic = nullptr;
    for (int i = 0; i < header->e_phnum; ++i)
        if (programs[i].p_type == PT_DYNAMIC)
            dynamic = &programs[i];
    if (!dynamic)
        return names;
    size_t count = dynamic->p_filesz / sizeof(ElfW(Dyn));
    const auto* entries = file.At<ElfW(Dyn)>(dynamic->p_offset, count);
    if (!entries)
        return names;

    // The string table is given as an address; find it in the file through the load segments.
    uint64_t stringAddress = 0;
    bool haveStrings = false;
    for (size_t i = 0; i < count && entries[i].d_tag != DT_NULL; ++i)
        if (entries[i].d_tag == DT_STRTAB) {
            stringAddress = entries[i].d_un.d_ptr;
            haveStrings = true;
        }
    if (!haveStrings)
        return names;
    uint64_t stringOffset = 0;
    bool mapped = false;
    for (int i = 0; i < header->e_phnum; ++i) {
        const auto& p = programs[i];
        if (p.p_type == PT_LOAD && stringAddress >= p.p_vaddr &&
            stringAddress < p.p_vaddr + p.p_filesz) {
            stringOffset = stringAddress - p.p_vaddr + p.p_offset;
            mapped = true;
        }
    }
    if (!mapped)
        return names;

    for (size_t i = 0; i < count && entries[i].d_tag != DT_NULL; ++i) {
        if (entries[i].d_tag != DT_NEEDED)
            continue;
        uint64_t at = stringOffset + entries[i].d_un.d_val;
        const char* first = file.At<char>(at);
        if (!first)
            continue;
        std::string name;
        for (uint64_t k = at; const char* c = file.At<char>(k); ++k) {
            if (*c == '\0')
                break;
            name += *c;
        }
        if (!name.empty())
            names.push_back(name);
    }
    return names;
}

} // namespace cw
