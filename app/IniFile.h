// In-memory INI document that keeps the text as it is: sections and keys compare without
// regard to letter case, values are taken verbatim (no quoting, no escaping), and writing a
// key changes its line in place or appends it at the end of its section.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cw {

class TIniFile {
public:
    TIniFile() = default;

    // Reads a file. A missing file gives an empty document; Load returns false then.
    bool Load(const std::string& path);
    void LoadFromLines(const std::vector<std::string>& lines);
    void LoadFromText(const std::string& text);

    // Writes the document as WriteFileAtomically does; a new file is private to the user
    // unless newFileMode says otherwise. Throws std::runtime_error naming the file.
    void Save(const std::string& path, unsigned newFileMode = 0600) const;
    std::string Text() const;

    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    // Decimal, or "0x"/"$" followed by hexadecimal digits; anything else gives def.
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    // True for any non-zero integer; a value that is not an integer gives def.
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;

    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    void WriteBool(const std::string& section, const std::string& key, bool value);

private:
    std::vector<std::string> Lines;
    // Index of the section header line, or -1.
    int FindSection(const std::string& section) const;
    // Index of the key's line inside the section starting at header, or -1.
    int FindKey(int header, const std::string& key) const;
    int SectionEnd(int header) const;
};

// Parses a whole integer as the settings file allows; false when the text is not one.
bool ParseIniInteger(const std::string& text, int& value);

// Splits a text file into lines: LF or CR LF line ends, a leading UTF-8 byte-order mark
// dropped, a last line without line end kept.
std::vector<std::string> SplitLines(const std::string& text);

// Reads a whole file; throws std::runtime_error naming the file when it cannot be read.
std::string ReadFileText(const std::string& path);

// The file a path names once every symbolic link on its last part is followed; the path
// itself when it is no link. A dangling link gives the file it would name.
std::string ResolveSymlinks(const std::string& path);

// Writes through a temporary file beside the file and renames it over it, so the old file
// stays whole when writing fails or the program is stopped meanwhile. A symbolic link is
// written through to its target; an existing file keeps its permissions, a new one gets
// newFileMode. Throws std::runtime_error naming the file.
void WriteFileAtomically(const std::string& path, const std::string& content,
                         unsigned newFileMode = 0644);

} // namespace cw
