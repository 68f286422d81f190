#include "download/Resolver.h"

#include "base/MainThread.h"
#include "net/HttpUtils.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

extern char** environ;

namespace cw {

// ---- running a program -----------------------------------------------------------------------

namespace {

struct TPipe {
    int Fd[2] = {-1, -1};
    bool Open() { return ::pipe2(Fd, O_CLOEXEC) == 0; }
    void Close(int end) {
        if (Fd[end] >= 0)
            ::close(Fd[end]);
        Fd[end] = -1;
    }
    ~TPipe() {
        Close(0);
        Close(1);
    }
};

} // namespace

TProcessResult RunProgram(const std::vector<std::string>& args, std::chrono::milliseconds limit,
                          size_t outputCap, const std::function<bool()>& cancelled) {
    TProcessResult result;
    if (args.empty() || args[0].empty()) {
        result.StartError = ENOENT;
        return result;
    }
    TPipe out, err;
    if (!out.Open() || !err.Open()) {
        result.StartError = errno;
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.Fd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err.Fd[1], 2);
    // Its own process group, so that ending it ends what it started too; signals the
    // program's own process ignores or blocks are back to normal in the child.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        result.StartError = spawned;
        return result;
    }
    result.Started = true;
    out.Close(1);
    err.Close(1);
    ::fcntl(out.Fd[0], F_SETFL, O_NONBLOCK);
    ::fcntl(err.Fd[0], F_SETFL, O_NONBLOCK);

    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool killed = false;
    auto killGroup = [&] {
        if (!killed)
            ::kill(-pid, SIGKILL);
        killed = true;
    };
    char buffer[65536];
    while (out.Fd[0] >= 0 || err.Fd[0] >= 0) {
        if (cancelled && cancelled()) {
            result.Cancelled = true;
            killGroup();
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.TimedOut = true;
            killGroup();
            break;
        }
        pollfd fds[2] = {{out.Fd[0], POLLIN, 0}, {err.Fd[0], POLLIN, 0}};
        // Short waits, so that a cancel is seen soon.
        const int r = ::poll(fds, 2, int(std::min<int64_t>(left.count(), 50)));
        if (r < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                std::string& into = i == 0 ? result.Output : result.Errors;
                into.append(buffer, size_t(n));
                if (i == 1 && into.size() > 2 * ResolverErrorsCap)
                    into.erase(0, into.size() - ResolverErrorsCap);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                (i == 0 ? out : err).Close(0);
            }
        }
        if (result.Output.size() > outputCap) {
            result.OverCap = true;
            result.Output.resize(outputCap);
            killGroup();
            break;
        }
    }
    if (result.Errors.size() > ResolverErrorsCap)
        result.Errors.erase(0, result.Errors.size() - ResolverErrorsCap);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // What it left running in its group goes with it.
    if (!killed)
        ::kill(-pid, SIGKILL);
    if (!killed && WIFEXITED(status))
        result.ExitCode = WEXITSTATUS(status);
    return result;
}

// ---- the answer ------------------------------------------------------------------------------

bool TResolvedFormat::IsManifest() const {
    return Protocol == "m3u8" || Protocol == "m3u8_native" || Protocol == "http_dash_segments";
}

bool TResolvedFormat::IsHttp() const {
    return Protocol == "http" || Protocol == "https";
}

namespace {

// Reads the answer's fields by their JSON types: a field may be missing or null (not said),
// any other type than the expected one makes the answer unusable.
class TFieldReader {
public:
    TFieldReader(const QJsonObject& object, std::string where, std::string& reason)
        : Object(object), Where(std::move(where)), Reason(reason) {}

    bool Text(const char* key, std::string& into) {
        const QJsonValue v = Object.value(key);
        if (v.isUndefined() || v.isNull())
            return true;
        if (!v.isString())
            return Wrong(key, "text");
        into = v.toString().toStdString();
        return true;
    }
    bool Number(const char* key, double& into) {
        const QJsonValue v = Object.value(key);
        if (v.isUndefined() || v.isNull())
            return true;
        if (!v.isDouble() || !std::isfinite(v.toDouble()) || v.toDouble() < 0)
            return Wrong(key, "a number of zero or more");
        into = v.toDouble();
        return true;
    }
    bool Whole(const char* key, int64_t& into) {
        double d = double(into);
        if (!Number(key, d))
            return false;
        if (d > 9.0e15)
            return Wrong(key, "a number of a sensible size");
        into = int64_t(d);
        return true;
    }
    bool Wrong(const char* key, const char* what) {
        Reason = Where + "'s " + key + " is not " + what + ".";
        return false;
    }

private:
    const QJsonObject& Object;
    std::string Where;
    std::string& Reason;
};

bool ReadFormat(const QJsonObject& object, const std::string& where, TResolvedFormat& f,
                std::string& reason) {
    TFieldReader r(object, where, reason);
    double width = 0, height = 0;
    int64_t size = -1, approx = -1;
    if (!r.Text("format_id", f.FormatId) || !r.Text("url", f.Url) ||
        !r.Text("protocol", f.Protocol) || !r.Text("ext", f.Ext) || !r.Text("vcodec", f.VCodec) ||
        !r.Text("acodec", f.ACodec) || !r.Number("width", width) || !r.Number("height", height) ||
        !r.Number("fps", f.Fps) || !r.Number("tbr", f.Tbr) || !r.Whole("filesize", size) ||
        !r.Whole("filesize_approx", approx) || !r.Text("manifest_url", f.ManifestUrl))
        return false;
    if (width > 100000 || height > 100000)
        return r.Wrong(width > 100000 ? "width" : "height", "a picture size");
    f.Width = int(width);
    f.Height = int(height);
    f.FileSize = size >= 0 ? size : approx;
    const QJsonValue headers = object.value("http_headers");
    if (!headers.isUndefined() && !headers.isNull()) {
        if (!headers.isObject())
            return r.Wrong("http_headers", "an object");
        const QJsonObject h = headers.toObject();
        for (auto it = h.begin(); it != h.end(); ++it) {
            const std::string name = it.key().toStdString();
            if (!it.value().isString())
                return r.Wrong("http_headers", "an object of texts");
            const std::string value = it.value().toString().toStdString();
            // A header line cannot hold a line break, and its name no separator.
            if (name.empty() || name.find_first_of(":\r\n \t") != std::string::npos ||
                value.find_first_of("\r\n") != std::string::npos)
                return r.Wrong("http_headers", "an object of header lines");
            f.Headers.emplace_back(name, value);
        }
    }
    const QJsonValue options = object.value("downloader_options");
    if (!options.isUndefined() && !options.isNull()) {
        if (!options.isObject())
            return r.Wrong("downloader_options", "an object");
        TFieldReader o(options.toObject(), where + "'s downloader_options", reason);
        if (!o.Whole("http_chunk_size", f.ChunkSize))
            return false;
    }
    if (f.Protocol.empty()) {
        // Older answers leave it out for plain files: the scheme of the address says it.
        const std::string scheme = f.Url.substr(0, f.Url.find(':'));
        if (scheme == "http" || scheme == "https")
            f.Protocol = scheme;
    }
    return true;
}

} // namespace

bool ParseResolverAnswer(const std::string& json, TResolvedVideo& video, std::string& reason) {
    video = {};
    QJsonParseError error{};
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(json.data(), qsizetype(json.size())), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        reason = "the answer is not a JSON object.";
        return false;
    }
    const QJsonObject root = doc.object();
    TFieldReader r(root, "the answer", reason);
    if (!r.Text("id", video.Id) || !r.Text("title", video.Title) ||
        !r.Number("duration", video.Duration))
        return false;
    if (video.Id.empty()) {
        reason = "the answer names no video id.";
        return false;
    }
    const QJsonValue formats = root.value("formats");
    if (formats.isArray()) {
        const QJsonArray list = formats.toArray();
        for (qsizetype i = 0; i < list.size(); ++i) {
            const std::string where = "format " + std::to_string(i + 1);
            if (!list[i].isObject()) {
                reason = "the answer's " + where + " is not an object.";
                return false;
            }
            TResolvedFormat f;
            if (!ReadFormat(list[i].toObject(), "the answer's " + where, f, reason))
                return false;
            // An address of another scheme for a format we would fetch is refused outright:
            // nothing is read from a local file or anything else an answer points to.
            if ((f.IsHttp() || f.IsManifest()) && !f.Url.empty() && !IsWebAddress(f.Url)) {
                reason =
                    "the answer's " + where + " has an address that is not http or https: " + f.Url;
                return false;
            }
            video.Formats.push_back(std::move(f));
        }
    } else if (!formats.isUndefined() && !formats.isNull()) {
        reason = "the answer's formats are not a list.";
        return false;
    } else if (root.contains("url")) {
        // An answer of one format gives its fields at the top.
        TResolvedFormat f;
        if (!ReadFormat(root, "the answer", f, reason))
            return false;
        video.Formats.push_back(std::move(f));
    }
    if (video.Formats.empty()) {
        reason = "the answer names no format.";
        return false;
    }
    if (video.Title.empty())
        video.Title = video.Id;
    return true;
}

// ---- texts -----------------------------------------------------------------------------------

const char* const ResolverMissingText =
    "Links of this service need yt-dlp: install the yt-dlp package, or a newer yt-dlp.";

std::string ResolverFailureText(const std::string& version, const TProcessResult& result,
                                std::chrono::milliseconds limit, size_t cap) {
    const std::string who = "yt-dlp" + (version.empty() ? std::string() : " " + version) + ": ";
    if (!result.Started)
        return ResolverMissingText;
    if (result.TimedOut) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", double(limit.count()) / 1000.0);
        return who + "no answer within " + seconds + " s; it was stopped.";
    }
    if (result.OverCap) {
        char size[48];
        if (cap >= 1024 * 1024)
            std::snprintf(size, sizeof size, "%g MiB", double(cap) / (1024.0 * 1024.0));
        else
            std::snprintf(size, sizeof size, "%zu bytes", cap);
        return who + "the answer is larger than " + size + "; it was stopped.";
    }
    // The last line that says "ERROR:", else the last line it wrote.
    std::string last, lastError;
    size_t start = 0;
    const std::string& text = result.Errors;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (!line.empty()) {
            last = line;
            if (line.find("ERROR:") != std::string::npos)
                lastError = line.substr(line.find("ERROR:"));
        }
        start = end + 1;
    }
    if (!lastError.empty())
        return who + lastError;
    if (!last.empty())
        return who + last;
    return who + "it ended with exit code " + std::to_string(result.ExitCode) + ".";
}

TResolverMode ResolverModeOf(const std::string& setting) {
    std::string s;
    for (char c : setting)
        if (c != ' ' && c != '\t')
            s += char(std::tolower(static_cast<unsigned char>(c)));
    if (s == "builtin")
        return TResolverMode::rmBuiltin;
    if (s == "external")
        return TResolverMode::rmExternal;
    return TResolverMode::rmAuto;
}

// ---- TExternalResolver -----------------------------------------------------------------------

TExternalResolver::~TExternalResolver() {
    Cancel();
}

void TExternalResolver::Cancel() {
    if (Token)
        *Token = false;
    Token.reset();
    Stop->store(true);
    if (Worker.joinable())
        Worker.join();
}

void TExternalResolver::Start(const std::string& link, TDoneHandler done) {
    Cancel();
    Stop = std::make_shared<std::atomic<bool>>(false);
    Finished = std::make_shared<std::atomic<bool>>(false);
    Token = std::make_shared<bool>(true);
    const std::string program = Program.empty() ? std::string("yt-dlp") : Program;
    Worker = std::thread([program, link, known = Version, limit = TimeLimit, cap = OutputCap,
                          stop = Stop, finished = Finished, starts = StartCount, token = Token,
                          done = std::move(done), this] {
        auto cancelled = [stop] { return stop->load(); };
        TOutcome outcome;
        outcome.Version = known;
        if (known.empty()) {
            ++*starts;
            const TProcessResult v =
                RunProgram({program, "--version"},
                           std::min(limit, std::chrono::milliseconds(20000)), 4096, cancelled);
            std::string version = v.Output.substr(0, v.Output.find_first_of("\r\n"));
            if (v.Started && v.ExitCode == 0 && !version.empty()) {
                outcome.Version = version;
                outcome.VersionNew = true;
            } else if (!v.Started) {
                outcome.Reason = ResolverMissingText;
            }
        }
        if (outcome.Reason.empty() && !cancelled()) {
            ++*starts;
            const TProcessResult r = RunProgram(
                {program, "--dump-single-json", "--no-playlist", "--no-warnings", "--", link},
                limit, cap, cancelled);
            outcome.Cancelled = r.Cancelled;
            if (r.Started && r.ExitCode == 0 && !r.TimedOut && !r.OverCap && !r.Cancelled) {
                std::string why;
                outcome.Ok = ParseResolverAnswer(r.Output, outcome.Video, why);
                if (!outcome.Ok)
                    outcome.Reason = "yt-dlp " + outcome.Version + ": " + why;
            } else {
                outcome.Reason = ResolverFailureText(outcome.Version, r, limit, cap);
            }
        }
        outcome.Cancelled = outcome.Cancelled || cancelled();
        PostToMainThread([token, outcome = std::move(outcome), done, this] {
            if (!*token)
                return;
            *token = false;
            if (!outcome.Version.empty())
                Version = outcome.Version;
            done(outcome);
        });
        finished->store(true);
    });
}

} // namespace cw
