// Shared free functions of the shell, the conversion workflow and the downloader: paths and
// file names, the unique output name rule, time formatting, small text routines, shell
// folders and the power request.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cw {

// The folder separator. Paths that are about to receive a file name end in it.
constexpr char PathDelim = '/';

std::string AddTrailingBackslash(std::string path);
std::string StripExtension(const std::string& path);
// The extension of the file-name part, with its dot; empty when there is none.
std::string ExtractFileExt(const std::string& path);
// The file-name part and the folder part (with trailing separator) of a path.
std::string ExtractFileName(const std::string& path);
std::string ExtractFilePath(const std::string& path);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// UniqueFileCap: the last number tried; it is returned even when taken.
constexpr int UniqueFileCap = 32768;
std::string UniqueFileName(const std::string& name, const std::string& folder);

extern const char* const InvalidFileNameChars; // the set \/:*?"<>|
bool ContainsAnyChar(const std::string& text, const std::string& chars);
bool IsValidFileName(const std::string& name);
std::string SanitizeFileName(const std::string& name);

bool IsMediaExtension(const std::string& ext);
const std::vector<std::string>& MediaExtensions();

bool IsTrueValue(const std::string& text);

std::string FormatMicroseconds(int64_t us);
std::string FormatSeconds(int seconds);

std::string TextBetween(const std::string& text, const std::string& startMarker,
                        const std::string& endMarker);
std::vector<std::string> SplitText(const std::string& text, const std::string& separator);
// &amp; &lt; &gt; &nbsp; &quot; and the numeric forms &#NNN; and &#xHHH; (as UTF-8; line
// breaks and tabs become spaces, other control characters and invalid values U+FFFD).
std::string DecodeHtmlEntities(const std::string& text);

// Per-user folders by their shell value name: "AppData" is the XDG config home,
// "Personal" the documents folder. The home folder when the value cannot be found.
std::string ShellFolder(const std::string& valueName);

// A folder as the user typed or stored it: "~" is the home folder, "~/..." lies below it,
// and a relative folder is taken below the home folder. Absolute and empty texts stay.
std::string ExpandUserFolder(const std::string& text);

// The folder of the running executable, with trailing separator.
std::string ExecutableFolder();
// Binds the media libraries from "lib" in the program's folder (given with a trailing
// separator) and, when that fails, from "../lib" beside it; bind(folder) binds from one
// folder (a name missing there is searched for by the system). True when one of them bound.
bool BindFromLibraryFolders(const std::string& programFolder,
                            const std::function<bool(const std::string& folder)>& bind);

std::string LowerCase(std::string s);
std::string Trim(const std::string& s);

} // namespace cw
