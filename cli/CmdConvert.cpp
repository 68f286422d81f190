// clipwright-cli convert: the wizard's conversion run without a window. Same output naming,
// option records and log lines; a progress line on a terminal, the log lines on stderr, the
// summary at the end. Ctrl+C stops the run the way the wizard's cancel does.
#include "app/GlobalVars.h"
#include "app/Utils.h"
#include "base/MainThread.h"
#include "cli/Commands.h"
#include "cli/JsonLine.h"
#include "control/AppController.h"
#include "control/ConversionSession.h"
#include "convert/Catalogue.h"
#include "convert/ProgressListModel.h"
#include "engine/FFEncoder.h"
#include "engine/FFLogger.h"

#include <QJsonArray>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace cw::cli {
namespace {

void PrintHelp() {
    std::printf(
        "usage: clipwright-cli convert --class video|device|audio --format NAME --preset N\n"
        "                              --out DIR [--merge] [--jobs N] [--threads N] [--serial]\n"
        "                              [--json]\n"
        "                              FILE...\n\n"
        "Converts every FILE into one output file in DIR with the preset N of the format\n"
        "(see `clipwright-cli presets`), named after the input with the format's extension;\n"
        "a name that is taken gets (1), (2), ... before the extension. With --merge all files\n"
        "are joined, in order, into one file Output_Merge with the format's extension.\n\n"
        "  --class     output class: video, device or audio\n"
        "  --format    format of that class (AVI, MP4, iPod, MP3, ...), any letter case\n"
        "  --preset    preset index within the format, from 0\n"
        "  --out       output folder, created when missing\n"
        "  --merge     join all files into one output\n"
        "  --jobs N    tasks that run at once (default 1)\n"
        "  --threads N codec threads per task (default 0: as many as the codec likes)\n"
        "  --serial    read and decode on the thread that encodes, one step after the\n"
        "              other (default: a task reads and decodes on a thread of its own)\n"
        "  --json      print one JSON object per line on stdout instead of the texts:\n"
        "              {\"Event\": \"progress\", \"Index\": task from 0, \"File\": path,\n"
        "               \"Percent\": 0..100, \"ElapsedSeconds\": s, \"RemainingSeconds\": s,\n"
        "               \"EstimatedSeconds\": s} when the run's figures change;\n"
        "              {\"Event\": \"file\", \"Index\", \"Input\", \"Output\", \"Status\":\n"
        "               \"Finish.\" or \"Failed.\", \"Error\": the error line or \"\"} when a\n"
        "               task ends;\n"
        "              {\"Event\": \"summary\", \"Total\", \"Succeeded\", \"Failed\",\n"
        "               \"Errors\": [lines]} at the end\n\n"
        "Log lines go to stderr, the progress line to a terminal on stdout, then the summary.\n"
        "Ctrl+C stops the run: the running outputs are finished and count as failed.\n"
        "Exit code: 0 when every file succeeded, 1 when some failed, 2 for bad arguments.\n");
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "convert: %s\nTry 'clipwright-cli convert --help'.\n", message.c_str());
    return 2;
}

bool ParseCount(const std::string& text, int minimum, int& value) {
    try {
        size_t used = 0;
        const int parsed = std::stoi(text, &used);
        if (used != text.size() || parsed < minimum)
            return false;
        value = parsed;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// The library folder "lib" beside the program, else "../lib", else the system's libraries.
bool BindLibraries(TFFEncoder& encoder) {
    if (encoder.LibrariesLoaded())
        return true;
    return BindFromLibraryFolders(ExecutableFolder(), [&](const std::string& folder) {
        return encoder.LoadLibraries(folder);
    });
}

// The run's reports on a terminal: the session keeps the rows of the progress list, this
// view prints them.
class TCliView : public IConversionView {
public:
    TCliView(const TConversionSession& session, bool terminal, bool json)
        : Session(session), Terminal(terminal), Json(json) {}

    void Log(const std::string& line) override {
        ClearLine();
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    void ItemChanged(int index, const TProgressItem& before, const TProgressItem& after) override {
        const bool ended = after.Status == "Finish." || after.Status == "Failed.";
        if (Json && ended && before.Status != after.Status) {
            // The figures of the same end come just after this call: the line follows them,
            // once the current handler has returned.
            Ended.push_back(index);
            PostToMainThread([this] { PrintEnded(); });
        }
    }
    void ProgressChanged(const TRunProgress& progress) override {
        if (Done)
            return;
        if (Json) {
            // The figures are reset to "..." once the last task is over: nothing to report.
            if (progress.CurrentFile == "..." || progress.TaskIndex < 0 ||
                (progress.Percent == LastPercent && progress.TaskIndex == LastIndex))
                return;
            LastPercent = progress.Percent;
            LastIndex = progress.TaskIndex;
            PrintJsonLine(QJsonObject{{"Event", "progress"},
                                      {"Index", progress.TaskIndex},
                                      {"File", JsonValue(progress.CurrentFile)},
                                      {"Percent", progress.Percent},
                                      {"ElapsedSeconds", progress.ElapsedSeconds},
                                      {"RemainingSeconds", progress.TimeLeftSeconds},
                                      {"EstimatedSeconds", progress.EstimatedSeconds}});
            return;
        }
        if (!Terminal)
            return;
        std::printf("\r%3d%%  elapsed %s  estimated %s  left %s  %s\033[K", progress.Percent,
                    FormatClock(progress.ElapsedSeconds).c_str(),
                    FormatClock(progress.EstimatedSeconds).c_str(),
                    FormatClock(progress.TimeLeftSeconds).c_str(), progress.CurrentFile.c_str());
        std::fflush(stdout);
        LineShown = true;
    }
    void RunFinished(const TRunSummary& summary) override {
        Summary = summary;
        Done = true;
        if (Json) {
            PrintEnded();
            QJsonArray errors;
            for (const std::string& line : summary.ErrorList)
                errors.append(JsonValue(line));
            PrintJsonLine(QJsonObject{{"Event", "summary"},
                                      {"Total", summary.TotalFiles},
                                      {"Succeeded", summary.SucceededFiles},
                                      {"Failed", summary.FailedFiles()},
                                      {"Errors", errors}});
            return;
        }
        ClearLine();
        const TProgressListModel& rows = Rows();
        for (int row = 0; row < rows.rowCount(); ++row) {
            const TProgressItem& item = *rows.Item(row);
            std::printf("%s\t%s\t%s\n", item.Status.c_str(), item.InputPath.c_str(),
                        item.OutputPath.c_str());
        }
        std::printf("Total files: %d\nSucceeded: %d\nFailed: %d\n", summary.TotalFiles,
                    summary.SucceededFiles, summary.FailedFiles());
        for (const std::string& line : summary.ErrorList)
            std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

    bool Done = false;
    TRunSummary Summary;

private:
    const TProgressListModel& Rows() const { return Session.Rows(); }
    // The ends not printed yet, each with its task's error.
    void PrintEnded() {
        for (int index : Ended) {
            const TProgressItem* row = Rows().Item(index);
            if (!row)
                continue;
            const TProgressItem& item = *row;
            PrintJsonLine(QJsonObject{{"Event", "file"},
                                      {"Index", index},
                                      {"Input", JsonValue(item.InputPath)},
                                      {"Output", JsonValue(item.OutputPath)},
                                      {"Status", JsonValue(item.Status)},
                                      {"Error", JsonValue(item.Error)}});
        }
        Ended.clear();
    }
    void ClearLine() {
        if (LineShown) {
            std::printf("\r\033[K");
            std::fflush(stdout);
            LineShown = false;
        }
    }
    const TConversionSession& Session;
    bool Terminal;
    bool Json;
    bool LineShown = false;
    int LastIndex = -2, LastPercent = -1;
    std::vector<int> Ended;
};

int RunConvert(const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        PrintHelp();
        return 0;
    }
    std::string className, formatName, presetText, outDir;
    bool merge = false, json = false, serial = false;
    int jobs = 1, threads = 0;
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size())
                return false;
            into = args[++i];
            return true;
        };
        std::string text;
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            files.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--class") {
            if (!value(className))
                return Usage("--class needs a value");
        } else if (arg == "--format") {
            if (!value(formatName))
                return Usage("--format needs a value");
        } else if (arg == "--preset") {
            if (!value(presetText))
                return Usage("--preset needs a value");
        } else if (arg == "--out") {
            if (!value(outDir))
                return Usage("--out needs a value");
        } else if (arg == "--merge") {
            merge = true;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--serial") {
            serial = true;
        } else if (arg == "--jobs") {
            if (!value(text) || !ParseCount(text, 1, jobs))
                return Usage("--jobs needs a number of 1 or more");
        } else if (arg == "--threads") {
            if (!value(text) || !ParseCount(text, 0, threads))
                return Usage("--threads needs a number of 0 or more");
        } else {
            return Usage("unknown option " + arg);
        }
    }
    if (className.empty() || formatName.empty() || presetText.empty() || outDir.empty())
        return Usage("--class, --format, --preset and --out are required");
    if (files.empty())
        return Usage("no input file given");
    const TOutputClassInfo* outputClass = FindClassByName(className);
    if (!outputClass)
        return Usage("unknown class \"" + className + "\" (video, device or audio)");
    const TOutputFormat* format = FindFormatByName(outputClass->Index, formatName);
    if (!format)
        return Usage("unknown format \"" + formatName + "\" in class " +
                     std::string(outputClass->Name));
    int preset = -1;
    if (!ParseCount(presetText, 0, preset) || !format->HasPreset(preset))
        return Usage("preset " + presetText + " is not a preset of " + std::string(format->Name) +
                     " (0 to " + std::to_string(format->PresetCount() - 1) + ")");
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (!std::filesystem::is_directory(outDir, ec))
        return Usage("cannot create the output folder " + outDir +
                     (ec ? ": " + ec.message() : std::string()));

    TQueueDispatcher dispatcher;
    IMainThreadDispatcher* previous = SetMainThreadDispatcher(&dispatcher);
    int result = 1;
    {
        TGlobalVars vars;
        TRunSleepLock awake;
        TAppController controller(ExecutableFolder(), vars);
        TFFLogger& logger = controller.Logger();
        TFFEncoder& encoder = controller.CreateEncoder();
        if (!BindLibraries(encoder)) {
            std::fprintf(stderr, "convert: %s\n", encoder.LastErrMsg().c_str());
            SetMainThreadDispatcher(previous);
            return 1;
        }
        logger.InstallLibraryHook();
        logger.OnLog = [](TFFLogger*, uint32_t, TLogLevel, const std::string& line) {
            std::fprintf(stderr, "%s\n", line.c_str());
        };
        TConversionSession& session = controller.Conversion();
        TCliView view(session, ::isatty(STDOUT_FILENO) != 0, json);
        TConversionSettings settings;
        settings.Merge = merge;
        settings.Selection = {outputClass->Index, format->Index, preset};
        settings.OutputFolder = outDir;
        settings.Jobs = jobs;
        settings.CodecThreads = threads;
        settings.SerialLoop = serial;
        std::vector<TRunInput> inputs;
        for (const std::string& file : files) {
            TRunInput input;
            input.Path = file;
            if (merge) {
                // What the input list would show for the file.
                TFFDecoder& probe = encoder.Decoder();
                if (probe.LoadFile(file)) {
                    input.Duration = std::max<int64_t>(probe.GetFileStreamInfo().Duration, 0);
                    if (probe.FirstVideoStream() >= 0) {
                        const TVideoStreamInfo video = probe.GetVideoStreamInfo(-1);
                        input.Width = video.Width;
                        input.Height = video.Height;
                        input.AspectRatio = video.AspectRatio;
                    }
                }
                probe.CloseFile();
            }
            inputs.push_back(input);
        }
        session.Start(&encoder, settings, inputs, view);
        bool cancelled = false;
        while (!view.Done) {
            dispatcher.WaitAndServe(std::chrono::milliseconds(50));
            if (!cancelled && StopRequested()) {
                cancelled = true;
                session.Cancel();
            }
        }
        // Every named file must have become a successful output; a refused file counts as
        // a failed one.
        result = view.Summary.TotalFiles > 0 && view.Summary.FailedFiles() == 0 ? 0 : 1;
        session.Release();
        logger.OnLog = nullptr;
    }
    SetMainThreadDispatcher(previous);
    return result;
}

TCliRegistrar Registrar({"convert", "convert media files with a preset of the catalogue",
                         &RunConvert});

} // namespace
} // namespace cw::cli
