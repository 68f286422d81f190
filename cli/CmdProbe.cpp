// clipwright-cli probe [--json] FILE...: opens every file with the decoder component, as the
// input list does when files are added, and prints what the list shows of it; with --json the
// raw file and stream records, one JSON object per line.
#include "app/Utils.h"
#include "cli/Commands.h"
#include "convert/InputList.h"
#include "engine/FFDecoder.h"
#include "engine/FFLoader.h"
#include "engine/Text.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace cw::cli {
namespace {

const char* const Usage = "usage: clipwright-cli probe [--json] FILE...\n";

void PrintHelp() {
    std::printf(
        "%s\n"
        "Opens each FILE with the media engine's decoder and prints what the input list of\n"
        "the window shows for it: duration, bit rates, picture size, codecs, channels,\n"
        "sample rate, frame rate and file size. A file that cannot be opened is reported\n"
        "as \"File load error: \" and the decoder's text, on stderr.\n\n"
        "  --json  one JSON object per file and line instead:\n"
        "          {\"FileName\": ..., \"FileSize\": ..., \"File\": {...},\n"
        "           \"Video\": {...} or null, \"Audio\": {...} or null}\n"
        "          with every field of the file record and of the first video and first\n"
        "          audio stream records; a file that cannot be opened gives\n"
        "          {\"FileName\": ..., \"Error\": ...}.\n\n"
        "The media libraries are taken from \"lib\" or \"../lib\" beside the program, else\n"
        "from the system. Exit code 0 when every file was opened, 1 when some failed, 2 for\n"
        "bad arguments.\n",
        Usage);
}

// --- the input list's texts ------------------------------------------------------------------

void PrintListTexts(const std::string& fileName, TFFDecoder& decoder) {
    const TInputRow row = MakeInputRow(fileName, decoder.FileSize(), decoder.FirstVideoStream() < 0,
                                       decoder.GetFileStreamInfo(),
                                       decoder.GetVideoStreamInfo(decoder.FirstVideoStream()),
                                       decoder.GetAudioStreamInfo(decoder.FirstAudioStream()));
    std::printf("%s\n", fileName.c_str());
    for (int cell :
         {icDuration, icBitrate, icDimension, icFileSize, icVideoEncoder, icAudioChannels,
          icAudioSampleRate, icAudioBitrate, icAudioEncoder, icFrameRate})
        std::printf("  %s\n", row.Cells[size_t(cell)].c_str());
}

// --- JSON ------------------------------------------------------------------------------------

// Length of the valid UTF-8 sequence at text[at], or 0.
size_t Utf8Length(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = lead < 0x80           ? 1
                    : (lead >> 5) == 0x6  ? 2
                    : (lead >> 4) == 0xe  ? 3
                    : (lead >> 3) == 0x1e ? 4
                                          : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i)
        if ((byte(at + i) & 0xc0) != 0x80)
            return 0;
    if (length == 2 && lead < 0xc2)
        return 0; // overlong
    if (length == 3) {
        const unsigned code = ((lead & 0x0fu) << 12) | ((byte(at + 1) & 0x3fu) << 6);
        if (code < 0x800 || (code >= 0xd800 && code <= 0xdfff))
            return 0;
    }
    if (length == 4) {
        const unsigned code = ((lead & 0x07u) << 18) | ((byte(at + 1) & 0x3fu) << 12);
        if (code < 0x10000 || code > 0x10ffff)
            return 0;
    }
    return length;
}

// A JSON string; bytes that are not UTF-8 (file names may hold any) become U+FFFD.
std::string Json(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            out += FormatText("\\u%04x", c);
            ++i;
        } else if (size_t length = Utf8Length(text, i)) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\\ufffd";
            ++i;
        }
    }
    return out + "\"";
}

std::string Json(int64_t value) {
    return std::to_string(value);
}

std::string Json(float value) {
    return FormatText("%.6g", static_cast<double>(value));
}

class TJsonObject {
public:
    template <class T> TJsonObject& Add(const char* name, const T& value) {
        return AddRaw(name, Json(value));
    }
    TJsonObject& AddRaw(const char* name, const std::string& json) {
        Text += (Text.empty() ? "{" : ", ") + Json(std::string(name)) + ": " + json;
        return *this;
    }
    std::string Str() const { return Text.empty() ? "{}" : Text + "}"; }

private:
    std::string Text;
};

std::string FileJson(const TFileStreamInfo& f) {
    return TJsonObject()
        .Add("StartTime", f.StartTime)
        .Add("Duration", f.Duration)
        .Add("BitRate", int64_t(f.BitRate))
        .Add("Timestamp", f.Timestamp)
        .Add("Year", int64_t(f.Year))
        .Add("Track", int64_t(f.Track))
        .Add("Title", f.Title)
        .Add("Author", f.Author)
        .Add("Copyright", f.Copyright)
        .Add("Comment", f.Comment)
        .Add("Album", f.Album)
        .Add("Genre", f.Genre)
        .Str();
}

template <class TInfo> TJsonObject StreamJson(const TInfo& s) {
    TJsonObject object;
    object.Add("Language", s.Language)
        .Add("CodecName", s.CodecName)
        .Add("StartTime", s.StartTime)
        .Add("StartTimeUS", s.StartTimeUS)
        .Add("Duration", s.Duration)
        .Add("DurationUS", s.DurationUS)
        .Add("BitRate", int64_t(s.BitRate));
    return object;
}

std::string VideoJson(const TVideoStreamInfo& v) {
    return StreamJson(v)
        .Add("Height", int64_t(v.Height))
        .Add("Width", int64_t(v.Width))
        .Add("AspectRatio", v.AspectRatio)
        .Add("PixelFormat", int64_t(v.PixelFormat))
        .Add("FrameRateNum", int64_t(v.FrameRateNum))
        .Add("FrameRateDen", int64_t(v.FrameRateDen))
        .Str();
}

std::string AudioJson(const TAudioStreamInfo& a) {
    return StreamJson(a)
        .Add("Channels", int64_t(a.Channels))
        .Add("SampleRate", int64_t(a.SampleRate))
        .Add("SampleFormat", int64_t(a.SampleFormat))
        .Str();
}

void PrintJson(const std::string& fileName, TFFDecoder& decoder) {
    TJsonObject object;
    object.Add("FileName", fileName)
        .Add("FileSize", decoder.FileSize())
        .AddRaw("File", FileJson(decoder.GetFileStreamInfo()))
        .AddRaw("Video", decoder.FirstVideoStream() < 0
                             ? "null"
                             : VideoJson(decoder.GetVideoStreamInfo(decoder.FirstVideoStream())))
        .AddRaw("Audio", decoder.FirstAudioStream() < 0
                             ? "null"
                             : AudioJson(decoder.GetAudioStreamInfo(decoder.FirstAudioStream())));
    std::printf("%s\n", object.Str().c_str());
}

// --- the command ------------------------------------------------------------------------------

// "lib" beside the program, else "../lib", else the system's libraries.
bool BindLibraries(std::string& error) {
    TFFLoader& loader = FFLoader();
    if (loader.LibsLoaded(EncoderLibraries))
        return true;
    std::string folder;
    for (const char* candidate : {"lib", "../lib"}) {
        std::error_code ec;
        const std::string path = ExecutableFolder() + candidate;
        if (std::filesystem::is_directory(path, ec)) {
            folder = path;
            break;
        }
    }
    loader.SetLibraryPath(folder);
    if (loader.LoadLibs(EncoderLibraries))
        return true;
    error = loader.LastErrorMessage();
    return false;
}

int RunProbe(const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        PrintHelp();
        return 0;
    }
    bool json = false;
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (const auto& arg : args) {
        if (!optionsEnded && arg == "--")
            optionsEnded = true;
        else if (!optionsEnded && arg == "--json")
            json = true;
        else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "unknown option: %s\n%s", arg.c_str(), Usage);
            return 2;
        } else
            files.push_back(arg);
    }
    if (files.empty()) {
        std::fprintf(stderr, "%s", Usage);
        return 2;
    }
    std::string error;
    if (!BindLibraries(error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return 1;
    }

    TFFDecoder decoder;
    bool allOpened = true;
    for (const auto& file : files) {
        if (!decoder.LoadFile(file)) {
            allOpened = false;
            if (json)
                std::printf("%s\n", TJsonObject()
                                        .Add("FileName", file)
                                        .Add("Error", decoder.LastErrMsg())
                                        .Str()
                                        .c_str());
            else
                std::fprintf(stderr, "File load error: %s\n", decoder.LastErrMsg().c_str());
            continue;
        }
        if (json)
            PrintJson(file, decoder);
        else
            PrintListTexts(file, decoder);
        decoder.CloseFile();
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return 1;
    return allOpened ? 0 : 1;
}

TCliRegistrar Registrar({"probe", "print the duration, bit rates, size and codecs of media files",
                         &RunProbe});

} // namespace
} // namespace cw::cli
