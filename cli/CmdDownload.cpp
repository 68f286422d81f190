// clipwright-cli download [--out DIR] [--site HOST[:PORT]] [--no-prefer] [--order CODES] URL...
// runs the window's download queue for the given links: watch page, info answer, stream-link
// script (or the external resolver), quality rule, download, saving under the video's title.
// Status lines go to stdout, the summary follows at the end.
#include "app/GlobalVars.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "app/Utils.h"
#include "base/MainThread.h"
#include "cli/Commands.h"
#include "cli/JsonLine.h"
#include "control/AppController.h"
#include "control/DownloadSession.h"
#include "download/Quality.h"
#include "script/Script.h"

#include <QCoreApplication>
#include <QJsonArray>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

namespace cw::cli {
namespace {

const char* const Usage =
    "usage: clipwright-cli download [--out DIR] [--site HOST[:PORT]] [--no-prefer]\n"
    "                               [--order CODES] [--json] [--resolver PATH]\n"
    "                               [--resolver-mode MODE] [--any-site] URL...\n";

void PrintHelp() {
    std::printf(
        "%s\n"
        "Downloads the videos of the given watch links one after another, as the window's\n"
        "downloader does: the watch page gives the title and the video id, the info answer\n"
        "the stream addresses, and a stream is chosen by the quality preference. Each video\n"
        "is saved under its title in the download folder; a name that is taken gets a\n"
        "number, \"title(1).mp4\".\n\n"
        "  --out DIR        the download folder (default: the settings' download folder);\n"
        "                   created when missing\n"
        "  --site HOST      the video service's host name, with :PORT if needed (default:\n"
        "                   the branding file's VideoSiteDomain, else www.youtube.com)\n"
        "  --no-prefer      only the default quality (HQ5, .flv)\n"
        "  --order CODES    prefer the qualities in this order: eight quality codes, each of\n"
        "                   0..7 once, comma-separated, e.g. 1,2,3,0,4,5,6,7\n"
        "                   (0 HQ6, 1 HQ18, 2 HQ35, 3 HQ22, 4 HQ13, 5 HQ17, 6 HQ34, 7 HQ37)\n"
        "  --json           print one JSON object per line on stdout instead of the texts:\n"
        "                   {\"Event\": \"progress\", \"Index\": link from 0, \"File\": title,\n"
        "                    \"Percent\": 0..100, \"Bytes\": received, \"Total\": length or\n"
        "                    null, \"Speed\": bytes per second, \"ElapsedSeconds\": s,\n"
        "                    \"RemainingSeconds\": s or null} while a video downloads (the\n"
        "                   byte counts are those shown, to 0.01 MB);\n"
        "                   {\"Event\": \"file\", \"Index\", \"File\", \"Status\": \"Finish.\",\n"
        "                    \"Failed.\" or the refusal, \"Error\": why, or \"\", \"Saved\":\n"
        "                    path or \"\", \"Quality\": what was saved (\"720p MP4 (H.264 +\n"
        "                    AAC)\") or \"\"} when a link is done;\n"
        "                   {\"Event\": \"summary\", \"Total\", \"Succeeded\", \"Failed\",\n"
        "                    \"Files\": [saved paths]} at the end\n"
        "  --resolver PATH  the external stream resolver's program (default: the settings'\n"
        "                   ResolverProgram, else yt-dlp on PATH)\n"
        "  --resolver-mode MODE\n"
        "                   auto (the built-in route first, the resolver when it finds no\n"
        "                   stream), builtin (never the resolver) or external (the resolver\n"
        "                   alone); default: the settings' Resolver, else auto\n"
        "  --any-site       take links of any site, for the resolver to read\n"
        "Without --no-prefer or --order the settings' preference and order are used.\n"
        "The video service changes often: the resolver, yt-dlp, must be a current one.\n\n"
        "One line is printed each time a video's status changes; then the summary: \"Total\n"
        "files:\", \"Successed:\", \"Failed:\" and the saved files.\n\n"
        "Exit code 0 only when every link was saved, 1 when some failed, 2 for bad\n"
        "arguments. Ctrl+C stops the run; videos not saved by then count as failed.\n",
        Usage);
}

bool ParseOrder(const std::string& text, TPreferenceOrder& order) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : text + ",") {
        if (c == ',') {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (parts.size() != order.size())
        return false;
    std::array<bool, QualityCodeCount> seen{};
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string p = Trim(parts[i]);
        if (p.size() != 1 || p[0] < '0' || p[0] > '7' || seen[size_t(p[0] - '0')])
            return false;
        seen[size_t(p[0] - '0')] = true;
        order[i] = uint8_t(p[0] - '0');
    }
    return true;
}

// Prints what the queue shows: a line per status change of a row of the table, the
// quality fall-backs, and the progress of a download (one updated line on a terminal, else a
// line every few seconds).
class TCliDownloadView : public IDownloadView {
public:
    TDownloadQueue* Queue = nullptr;
    bool Ended = false;
    bool Json = false;

    void PostStep(TDownloadStep step) override {
        PostToMainThread([this, step] {
            if (Queue)
                Queue->HandleStep(step);
        });
    }
    void ItemChanged(int index, const TDownloadItem& item) override {
        if (Json) {
            JsonItemChanged(index, item);
            return;
        }
        const std::string line = Counter(index) + item.Status + " " + item.Caption;
        if (item.Reason != Reasons[index]) {
            // Why a request failed, once per new reason.
            Reasons[index] = item.Reason;
            if (!item.Reason.empty()) {
                EndProgress();
                std::printf("%s%s\n", Counter(index).c_str(), item.Reason.c_str());
            }
        }
        if (item.Status == "Downloading...") {
            ShowProgress(index, item);
            return;
        }
        if (Printed[index] == item.Status + "\n" + item.Caption)
            return;
        Printed[index] = item.Status + "\n" + item.Caption;
        EndProgress();
        std::printf("%s\n", line.c_str());
        if (item.Status == "Finish.")
            std::printf("%ssaved %s%s\n", Counter(index).c_str(),
                        Vars->DownloadedFiles.empty() ? "" : Vars->DownloadedFiles.back().c_str(),
                        item.Quality.empty() ? "" : (" (" + item.Quality + ")").c_str());
        std::fflush(stdout);
    }
    void LabelsChanged(const TDownloadLabels& labels) override {
        if (Json)
            return;
        const std::string& quality = labels.Quality;
        if (quality == LastQuality)
            return;
        LastQuality = quality;
        if (quality.find(" failed, try next: ") != std::string::npos) {
            EndProgress();
            std::printf("%s%s\n", Counter(Vars->URLIndex).c_str(), quality.c_str());
            std::fflush(stdout);
        }
    }
    void RunEnded() override {
        EndProgress();
        Ended = true;
    }
    void ScriptError(const std::string& message) override {
        EndProgress();
        std::fprintf(stderr, "%s\n", message.c_str());
    }
    void Log(const std::string& line) override { std::fprintf(stderr, "%s\n", line.c_str()); }

    const TGlobalVars* Vars = nullptr;

private:
    // The queue's clock figures are display texts ("00:01:05", "..." while unknown).
    static QJsonValue Seconds(const std::string& clock) {
        int h = 0, m = 0, s = 0;
        return std::sscanf(clock.c_str(), "%d:%d:%d", &h, &m, &s) == 3
                   ? QJsonValue(h * 3600 + m * 60 + s)
                   : QJsonValue();
    }

    void JsonItemChanged(int index, const TDownloadItem& item) {
        const auto now = std::chrono::steady_clock::now();
        const bool ended = item.Status == "Finish." || item.Status == "Failed." ||
                           item.Status.rfind("Refused", 0) == 0;
        if (ended) {
            if (Printed[index] == item.Status)
                return;
            Printed[index] = item.Status;
            const std::string saved = item.Status == "Finish." && !Vars->DownloadedFiles.empty()
                                          ? Vars->DownloadedFiles.back()
                                          : std::string();
            PrintJsonLine(QJsonObject{{"Event", "file"},
                                      {"Index", index},
                                      {"File", JsonValue(item.Caption)},
                                      {"Status", JsonValue(item.Status)},
                                      {"Error", JsonValue(item.Reason)},
                                      {"Saved", JsonValue(saved)},
                                      {"Quality", JsonValue(item.Quality)}});
            return;
        }
        if (item.Status != "Downloading...")
            return;
        // At most five lines a second, and every change of the percentage.
        const TDownloadLabels& l = Queue->Labels();
        if (l.Progress == LastPercent && now - LastProgress < std::chrono::milliseconds(200))
            return;
        LastProgress = now;
        LastPercent = l.Progress;
        const bool known = item.Length >= 0;
        const auto seconds = [](const std::string& clock) {
            return clock == "..." ? QJsonValue(0) : Seconds(clock);
        };
        PrintJsonLine(
            QJsonObject{{"Event", "progress"},
                        {"Index", index},
                        {"File", JsonValue(item.Caption)},
                        {"Percent", l.Progress},
                        {"Bytes", qint64(item.Received)},
                        {"Total", known ? QJsonValue(qint64(item.Length)) : QJsonValue()},
                        {"Speed", item.BytesPerSecond},
                        {"ElapsedSeconds", seconds(l.ElapsedTime)},
                        {"RemainingSeconds", known ? seconds(l.TimeLeft) : QJsonValue()}});
    }

    int LastPercent = -1;

    std::string Counter(int index) const {
        return "[" + std::to_string(index + 1) + "/" + std::to_string(Vars->URLTotal) + "] ";
    }
    void ShowProgress(int index, const TDownloadItem& item) {
        const auto now = std::chrono::steady_clock::now();
        const bool first = Printed[index] != item.Status + "\n" + item.Caption;
        if (first) {
            Printed[index] = item.Status + "\n" + item.Caption;
            EndProgress();
            std::printf("%s%s %s (%s)\n", Counter(index).c_str(), item.Status.c_str(),
                        item.Caption.c_str(), Queue->Labels().Quality.c_str());
            std::fflush(stdout);
        }
        const auto gap = Terminal ? std::chrono::milliseconds(200) : std::chrono::seconds(5);
        if (!first && now - LastProgress < gap)
            return;
        LastProgress = now;
        const TDownloadLabels& l = Queue->Labels();
        const std::string text = item.Progress + " of " + item.Size + ", " + item.Speed +
                                 ", elapsed " + l.ElapsedTime + ", left " + l.TimeLeft;
        if (Terminal) {
            std::fprintf(stdout, "\r  %s\033[K", text.c_str());
            Open = true;
        } else if (!first) {
            std::fprintf(stdout, "  %s\n", text.c_str());
        }
        std::fflush(stdout);
    }
    void EndProgress() {
        if (Open)
            std::fprintf(stdout, "\n");
        Open = false;
    }

    bool Terminal = ::isatty(STDOUT_FILENO) != 0;
    bool Open = false;
    std::chrono::steady_clock::time_point LastProgress;
    std::map<int, std::string> Printed;
    std::map<int, std::string> Reasons;
    std::string LastQuality;
};

int RunDownload(const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        PrintHelp();
        return 0;
    }
    std::optional<std::string> out, site, resolver, resolverMode;
    bool anySite = false;
    std::optional<TPreferenceOrder> order;
    bool noPrefer = false, json = false;
    std::vector<std::string> links;
    auto bad = [](const std::string& why) {
        std::fprintf(stderr, "download: %s\n%s", why.c_str(), Usage);
        return 2;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::optional<std::string>& into) {
            std::string v;
            if (a.find('=') != std::string::npos) {
                v = a.substr(a.find('=') + 1);
            } else {
                if (i + 1 >= args.size())
                    return false;
                v = args[++i];
            }
            if (into || v.empty())
                return false;
            into = v;
            return true;
        };
        const std::string name = a.substr(0, a.find('='));
        if (name == "--out") {
            if (!value(out))
                return bad("--out needs one DIR");
        } else if (name == "--site") {
            if (!value(site))
                return bad("--site needs one HOST[:PORT]");
        } else if (name == "--order") {
            std::optional<std::string> text;
            TPreferenceOrder o{};
            if (order || !value(text) || !ParseOrder(*text, o))
                return bad("--order needs eight quality codes 0..7, each once, e.g. "
                           "1,2,3,0,4,5,6,7");
            order = o;
        } else if (name == "--resolver") {
            if (!value(resolver))
                return bad("--resolver needs one PATH");
        } else if (name == "--resolver-mode") {
            if (!value(resolverMode) || (*resolverMode != "auto" && *resolverMode != "builtin" &&
                                         *resolverMode != "external"))
                return bad("--resolver-mode needs auto, builtin or external");
        } else if (a == "--any-site") {
            anySite = true;
        } else if (a == "--no-prefer") {
            noPrefer = true;
        } else if (a == "--json") {
            json = true;
        } else if (a == "--") {
            links.insert(links.end(), args.begin() + long(i) + 1, args.end());
            break;
        } else if (a.rfind("--", 0) == 0) {
            return bad("unknown option " + a);
        } else {
            links.push_back(a);
        }
    }
    if (noPrefer && order)
        return bad("--no-prefer and --order exclude each other");
    if (links.empty())
        return bad("no URL given");

    // The settings and the branding file, as the window starts; without a branding file the
    // default settings serve.
    TGlobalVars vars;
    // The run reports here; the controller's queue goes before it.
    TCliDownloadView view;
    TRunSleepLock awake;
    TAppController controller(ExecutableFolder(), vars);
    std::string domain = "www.youtube.com";
    try {
        controller.Start();
        domain = controller.Startup().Branding.VideoSiteDomain;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "note: %s; the default settings are used\n", e.what());
        vars = TGlobalVars();
        SetDefaultUserSettings(vars, ShellFolder("Personal"));
    }
    if (site)
        domain = *site;
    if (out)
        vars.OutputURLDir = AddTrailingBackslash(*out);
    if (noPrefer)
        vars.PreferYouTubeQuality = false;
    if (order) {
        vars.PreferYouTubeQuality = true;
        SetPreferenceOrder(vars, *order);
    }
    std::error_code ec;
    std::filesystem::create_directories(vars.OutputURLDir, ec);
    if (!DirectoryExists(vars.OutputURLDir)) {
        std::fprintf(stderr, "download: cannot create the folder %s\n", vars.OutputURLDir.c_str());
        return 1;
    }

    // The script engine needs an application object.
    int argc = 1;
    char appName[] = "clipwright-cli";
    char* argv[] = {appName, nullptr};
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance())
        app = std::make_unique<QCoreApplication>(argc, argv);

    controller.CreateScriptHost(0);
    controller.AddHostItem();
    view.Vars = &vars;
    view.Json = json;
    TDownloadQueue& queue = controller.CreateQueue(view);
    view.Queue = &queue;
    queue.VideoSiteDomain = domain;
    if (resolver)
        queue.Resolver.Program = *resolver;
    if (resolverMode)
        queue.ResolverMode = ResolverModeOf(*resolverMode);
    if (anySite)
        queue.AnySite = true;
    // Every echo of the stream-link script has arrived when the script returns; the pause the
    // window makes after it holds nothing up that a batch run would need.
    queue.ScriptPause = std::chrono::milliseconds(0);

    if (!json) {
        std::printf("Downloading %zu video(s) to %s (%s)\n", links.size(),
                    vars.OutputURLDir.c_str(),
                    PreferenceSummary(vars.PreferYouTubeQuality, PreferenceOrder(vars)).c_str());
        std::fflush(stdout);
    }
    queue.BuildQueue(links);
    queue.StartRun();
    WaitServing([&] { return view.Ended || StopRequested(); });
    if (!view.Ended) {
        queue.Cancel();
        if (!WaitServing([&] { return view.Ended; }, std::chrono::seconds(10)))
            std::fprintf(stderr, "download: the run did not stop in time\n");
    }
    view.Queue = nullptr;
    // The queue and the script host go while the application object is still there.
    controller.Release();

    if (json) {
        QJsonArray files;
        for (const std::string& file : vars.DownloadedFiles)
            files.append(JsonValue(file));
        PrintJsonLine(QJsonObject{{"Event", "summary"},
                                  {"Total", vars.URLTotal},
                                  {"Succeeded", vars.URLSucceeded},
                                  {"Failed", vars.URLTotal - vars.URLSucceeded},
                                  {"Files", files}});
    } else {
        std::printf("Total files: %d\nSuccessed: %d\nFailed: %d\n", vars.URLTotal,
                    vars.URLSucceeded, vars.URLTotal - vars.URLSucceeded);
        for (const std::string& file : vars.DownloadedFiles)
            std::printf("%s\n", file.c_str());
        std::fflush(stdout);
    }
    return vars.URLSucceeded == vars.URLTotal && view.Ended ? 0 : 1;
}

TCliRegistrar Registrar({"download", "download videos by their watch links", &RunDownload});

} // namespace
} // namespace cw::cli
