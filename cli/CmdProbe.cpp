// clipwright-cli probe [--json] FILE...: opens every file with the decoder component, as the
// input list does when files are added, and prints what the list shows of it; with --json the
// raw file and stream records, one JSON object per line.
#include "app/Utils.h"
#include "cli/Commands.h"
#include "cli/JsonLine.h"
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

QJsonObject FileJson(const TFileStreamInfo& f) {
    return QJsonObject{{"StartTime", JsonValue(f.StartTime)},
                       {"Duration", JsonValue(f.Duration)},
                       {"BitRate", JsonValue(int64_t(f.BitRate))},
                       {"Timestamp", JsonValue(f.Timestamp)},
                       {"Year", JsonValue(int64_t(f.Year))},
                       {"Track", JsonValue(int64_t(f.Track))},
                       {"Title", JsonValue(f.Title)},
                       {"Author", JsonValue(f.Author)},
                       {"Copyright", JsonValue(f.Copyright)},
                       {"Comment", JsonValue(f.Comment)},
                       {"Album", JsonValue(f.Album)},
                       {"Genre", JsonValue(f.Genre)}};
}

template <class TInfo> QJsonObject StreamJson(const TInfo& s) {
    return QJsonObject{
        {"Language", JsonValue(s.Language)},       {"CodecName", JsonValue(s.CodecName)},
        {"StartTime", JsonValue(s.StartTime)},     {"StartTimeUS", JsonValue(s.StartTimeUS)},
        {"Duration", JsonValue(s.Duration)},       {"DurationUS", JsonValue(s.DurationUS)},
        {"BitRate", JsonValue(int64_t(s.BitRate))}};
}

QJsonObject VideoJson(const TVideoStreamInfo& v) {
    QJsonObject object = StreamJson(v);
    object["Height"] = JsonValue(int64_t(v.Height));
    object["Width"] = JsonValue(int64_t(v.Width));
    object["AspectRatio"] = JsonValue(v.AspectRatio);
    object["PixelFormat"] = JsonValue(int64_t(v.PixelFormat));
    object["FrameRateNum"] = JsonValue(int64_t(v.FrameRateNum));
    object["FrameRateDen"] = JsonValue(int64_t(v.FrameRateDen));
    return object;
}

QJsonObject AudioJson(const TAudioStreamInfo& a) {
    QJsonObject object = StreamJson(a);
    object["Channels"] = JsonValue(int64_t(a.Channels));
    object["SampleRate"] = JsonValue(int64_t(a.SampleRate));
    object["SampleFormat"] = JsonValue(int64_t(a.SampleFormat));
    return object;
}

void PrintJson(const std::string& fileName, TFFDecoder& decoder) {
    const int video = decoder.FirstVideoStream(), audio = decoder.FirstAudioStream();
    PrintJsonLine(QJsonObject{
        {"FileName", JsonValue(fileName)},
        {"FileSize", JsonValue(decoder.FileSize())},
        {"File", FileJson(decoder.GetFileStreamInfo())},
        {"Video", video < 0 ? QJsonValue() : VideoJson(decoder.GetVideoStreamInfo(video))},
        {"Audio", audio < 0 ? QJsonValue() : AudioJson(decoder.GetAudioStreamInfo(audio))}});
}

// --- the command ------------------------------------------------------------------------------

// "lib" beside the program, else "../lib", else the system's libraries.
bool BindLibraries(std::string& error) {
    TFFLoader& loader = FFLoader();
    if (loader.LibsLoaded(EncoderLibraries))
        return true;
    if (BindFromLibraryFolders(ExecutableFolder(), [&](const std::string& folder) {
            loader.SetLibraryPath(folder);
            return loader.LoadLibs(EncoderLibraries);
        }))
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
                PrintJsonLine(QJsonObject{{"FileName", JsonValue(file)},
                                          {"Error", JsonValue(decoder.LastErrMsg())}});
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
