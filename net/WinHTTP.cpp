#include "net/WinHTTP.h"

#include "base/MainThread.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>

namespace cw {

namespace {

using TClock = std::chrono::steady_clock;

class TFd {
public:
    explicit TFd(int fd = -1) : Fd(fd) {}
    ~TFd() { Reset(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    void Reset(int fd = -1) {
        if (Fd >= 0)
            ::close(Fd);
        Fd = fd;
    }
    int Get() const { return Fd; }

private:
    int Fd;
};

std::string LowerText(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string TrimText(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool ParseLength(const std::string& text, int64_t& value) {
    const std::string t = TrimText(text);
    if (t.empty() ||
        !std::all_of(t.begin(), t.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    try {
        value = std::stoll(t);
    } catch (...) {
        return false;
    }
    return true;
}

// Thrown at a check that finds the terminate request set.
struct TRunAborted {};

std::string Seconds(uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, ms % 1000 ? "%.1f s" : "%.0f s", double(ms) / 1000.0);
    return text;
}

std::string MiB(int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f MiB", double(bytes) / 1048576.0);
    return text;
}

} // namespace

const char* InternetStatusText(int status) {
    static const std::pair<int, const char*> names[] = {
        {10, "Resolving name"},     {11, "Name resolved"},          {20, "Connecting to server"},
        {21, "Connected"},          {30, "Sending Request"},        {31, "Request sent"},
        {40, "Receiving response"}, {41, "Response received"},      {42, "CTL Response received"},
        {43, "Prefetch"},           {50, "Closing connection"},     {51, "Connection closed"},
        {60, "Handle created"},     {70, "Handle closing"},         {100, "Request complete"},
        {110, "Redirect"},          {120, "Intermediate response"}, {200, "State change"}};
    for (const auto& [number, name] : names)
        if (number == status)
            return name;
    return "Unknown status";
}

// Where OnStatus is reached from, also by a connection that outlives its transfer.
struct TCustomWinHTTP::TStatusSink {
    std::mutex Lock;
    TCustomWinHTTP* Owner = nullptr;
    TStatusEvent Handler;
    uintptr_t Id = 0;
    void Report(int status) {
        std::lock_guard<std::mutex> guard(Lock);
        if (Owner && Handler)
            Handler(Owner, status, InternetStatusText(status));
    }
};

// Everything one transfer needs. The worker works on this record only; the component copies
// what the main thread shows from it at each delivery, while the worker waits. A hard stop
// leaves the record to the stopped worker, which never touches the component again.
struct TTransferRun {
    // Settings, copied from the component when the transfer starts.
    std::string Url, AcceptTypes, Agent, Referer, OutputFileName, POSTData, Username, Password;
    std::vector<std::string> AddHeaders;
    TWinHTTPProxy Proxy;
    TCacheOptions CacheOptions;
    TInternetOptions InternetOptions;
    TWinHTTPRange Range;
    TWinHTTPTimeouts Timeouts;
    TWinHTTPRequestMethod Method = rmAutoDetect;
    bool WorkOffline = false;
    uint32_t BlockSize = 4096;
    bool HasOnProgress = false, HasOnHeaderInfo = false, HasOnPasswordRequest = false,
         HasOnProxyAuthenticationRequest = false;
    TCustomWinHTTP::TBeforeSendRequestEvent OnBeforeSendRequest;
    TCustomWinHTTP::TRedirectedEvent OnRedirected;
    TCustomWinHTTP::TStatusEvent OnStatus;
    int64_t MemoryLimit = 0;
    bool LocalFiles = true;
    uintptr_t StatusSinkId = 0;
    std::shared_ptr<TConnectionPool> Pool;
    std::unique_ptr<TCurlHandles> Handles; // taken from the component, given back at the end

    // Transfer state.
    uint64_t ResumeOffset = 0;
    uint64_t EndOffset = 0;
    int StatusCode = -1;
    int64_t ContentLength = 0;
    bool HasContentLength = false;
    int64_t BytesRead = 0;
    TClock::time_point StartTick = TClock::now();
    std::string ContentType;
    bool ContinueDownload = true;
    bool Succeeded = false;
    bool ReadFailed = false;
    std::string ErrorText; // why it failed, when the routine knows better than the outcome
    std::atomic<bool> DeleteFileOnAbort{false};

    // Progress hand-over. The worker writes the figures of its latest block under
    // ProgressLock; the main thread reads them from there.
    struct TProgressNote {
        uint64_t Block = 0; // blocks written so far; 0 before the first
        int64_t BytesRead = 0;
        int64_t ContentLength = 0;
        uint64_t ResumeOffset = 0;
        int StatusCode = -1;
        std::string ContentType;
    };
    std::mutex ProgressLock;
    TProgressNote Progress;
    bool ProgressPosted = false;
    TClock::time_point LastProgressPost{};
    // Main thread only: the block last shown, and whether the run's end was delivered.
    uint64_t ShownBlock = 0;
    bool Ended = false;

    // The output. The worker touches it only under StreamLock after checking that it was not
    // cut off; a hard stop on the main thread takes the same lock to free it.
    std::mutex StreamLock;
    std::unique_ptr<TStream> Stream;
    bool FileOutput = false;
};

// ---- the transfer routine (worker thread) ----

class TTransferWorker {
public:
    TTransferWorker(TCustomWinHTTP& owner, const std::shared_ptr<TTransferRun>& run)
        : Owner(owner), RunRef(run), Run(*run) {}

    void Execute();

private:
    // How a perform or a step ended.
    enum class EStop { None, Resend, Restart, Aborted, Finished, Error };
    enum class EBlock { Ok, Restart, Aborted, Limit };

    void Check() {
        if (Owner.Thread.Terminated())
            throw TRunAborted();
    }
    bool Stopping() { return Owner.Thread.Terminated(); }
    uint32_t ConnectLimit() const {
        return Run.Timeouts.ConnectTimeout ? Run.Timeouts.ConnectTimeout
                                           : TCustomWinHTTP::DefaultConnectTimeout;
    }
    uint32_t ReceiveLimit() const {
        return Run.Timeouts.ReceiveTimeout ? Run.Timeouts.ReceiveTimeout
                                           : TCustomWinHTTP::DefaultIdleTimeout;
    }
    uint32_t SendLimit() const {
        return Run.Timeouts.SendTimeout ? Run.Timeouts.SendTimeout
                                        : TCustomWinHTTP::DefaultIdleTimeout;
    }
    bool IsPost() const {
        return Run.Method == rmPOST || (Run.Method == rmAutoDetect && !Run.POSTData.empty());
    }

    void ReadLocalFile(const std::string& path);
    void FetchHttp(const TUrlParts& parts);
    void SetupRequest(CURL* easy, const TUrlParts& parts);
    void ApplyCredentials(CURL* easy);
    void SetHeaders(CURL* easy);
    EStop Perform(CURL* easy, CURLM* multi);
    bool TimedOut(CURL* easy);
    void Status(int status) {
        if (Run.OnStatus && !Stopping())
            Run.OnStatus(&Owner, status, InternetStatusText(status));
    }
    // The text for a transfer that libcurl ended with result.
    std::string ResultText(CURLcode result) const;

    static int ResolverStart(void*, void*, void* user);
    static curl_socket_t OpenSocket(void* user, curlsocktype purpose, curl_sockaddr* address);
    static int CloseSocket(void* user, curl_socket_t socket);
    static int Prerequest(void* user, char*, char*, int, int);

    bool OnHeaderLine(CURL* easy, const char* data, size_t size);
    bool OnHeadersComplete(CURL* easy);
    bool OnFinalHeaders(CURL* easy, int status);
    bool OnBody(const char* data, size_t size);
    static size_t HeaderCallback(char* data, size_t size, size_t count, void* user);
    static size_t WriteCallback(char* data, size_t size, size_t count, void* user);

    // Creates the output stream for the answer. False when the file could not be created
    // although the answer announced its length: the transfer then ends without output.
    bool CreateOutput();
    void SetStream(std::unique_ptr<TStream> stream, bool isFile);
    bool HasStream();
    // One or more whole blocks (or the last, shorter one) received: verified or written.
    EBlock ProcessBlock(const char* data, size_t size);
    void MemoryLimitReached();
    EBlock FlushBlock();
    // Back to the start for a fresh copy from byte 0: the output begins anew.
    void PrepareRestart();

    std::string Field(const std::string& name) const;
    bool HasField(const std::string& name) const;

    TCustomWinHTTP& Owner;
    std::shared_ptr<TTransferRun> RunRef;
    TTransferRun& Run;

    // Request in progress.
    CURL* Easy = nullptr;
    TCurlList Headers;
    bool Recheck = false; // asking again from byte 0 after a 416
    std::string RequestUser, RequestPassword;
    EStop Stop = EStop::None;
    std::exception_ptr Pending;
    TClock::time_point LastActivity;
    bool RequestSent = false;
    bool RequestPrepared = false; // the connection is set up and the request goes out
    bool TimedOutHere = false;
    bool TimedOutSending = false; // the body of a POST stood still, not the answer
    int Redirects = 0;
    curl_off_t LastUploaded = 0;

    // Response being read.
    int ResponseStatus = 0;
    bool InHeaders = false;
    bool HeadersDone = false;
    std::string RawHeaders;
    std::vector<std::pair<std::string, std::string>> Fields; // lower-case names

    // Read loop.
    std::vector<char> Buffer;
    size_t Filled = 0;
    bool VerifyPending = false;
};

void TTransferWorker::Execute() {
    // Reset.
    Run.StatusCode = -1;
    Run.ContentType.clear();
    Run.StartTick = TClock::now();
    Run.ContinueDownload = true;

    TUrlParts parts;
    SplitUrl(CompleteUrl(Run.Url), parts); // a URL that cannot be split leaves parts empty
    RequestUser = parts.UserName.empty() ? Run.Username : parts.UserName;
    RequestPassword = parts.Password.empty() ? Run.Password : parts.Password;
    Check();

    const std::string scheme = LowerText(parts.Scheme);
    if (parts.Scheme == "file" && Run.LocalFiles)
        ReadLocalFile(parts.Path);
    else if (scheme == "http" || scheme == "https")
        FetchHttp(parts);
    else if (scheme.empty())
        Run.ErrorText = "The address cannot be read: \"" + Run.Url + "\".";
    else
        Run.ErrorText = "Only http and https addresses are fetched, not \"" + scheme + "\".";

    // End.
    Buffer = {};
    Run.Succeeded = (Run.StatusCode == 200 || Run.StatusCode == 206) && !Run.ReadFailed;
    if (Run.Succeeded && Run.ContentLength != 0 && HasStream())
        Run.Succeeded = Run.ContentLength == Run.BytesRead;
}

void TTransferWorker::ReadLocalFile(const std::string& path) {
    for (;;) {
        TFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        Run.ContentLength = 0;
        Run.HasContentLength = false;
        struct stat st {};
        // Only a regular file is read: a device or a pipe could block or never end.
        if (file.Get() >= 0 && (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)))
            file.Reset();
        if (file.Get() < 0) {
            Run.StatusCode = 404;
        } else {
            const uint64_t offset = Run.ResumeOffset ? Run.ResumeOffset : Run.Range.StartRange;
            // The length still to come, as a server states it for a range, so that a
            // complete read from an offset counts as complete.
            Run.StatusCode = 200;
            Run.ContentLength = std::max<int64_t>(int64_t(st.st_size) - int64_t(offset), 0);
            Run.HasContentLength = true;
            ::lseek(file.Get(), off_t(offset), SEEK_SET);
        }
        Check();
        if (!CreateOutput())
            return;
        bool restart = false;
        for (;;) {
            Check();
            // Read a whole block unless the file ends first.
            size_t got = 0;
            bool failed = false;
            while (got < Buffer.size()) {
                ssize_t n = file.Get() >= 0
                                ? ::read(file.Get(), Buffer.data() + got, Buffer.size() - got)
                                : 0;
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    failed = true;
                if (n <= 0)
                    break;
                got += size_t(n);
            }
            if (got > 0) {
                EBlock r = ProcessBlock(Buffer.data(), got);
                if (r == EBlock::Aborted)
                    throw TRunAborted();
                if (r == EBlock::Limit)
                    return;
                if (r == EBlock::Restart) {
                    restart = true;
                    break;
                }
            }
            if (failed) {
                Run.ReadFailed = true;
                break;
            }
            if (got < Buffer.size())
                break;
        }
        if (!restart)
            return;
        PrepareRestart();
    }
}

void TTransferWorker::FetchHttp(const TUrlParts& parts) {
    // Offline work has no network and, here, no cache to answer from: no session.
    if (Run.WorkOffline)
        return;
    const bool keep = Run.InternetOptions.count(ioKeepConnection) != 0;
    // The multi handle holds the connections: kept, the next request to the same host
    // reuses one (with a pool, the pool holds them for all its components).
    struct TDropHandles {
        TTransferWorker& Self;
        bool Keep;
        ~TDropHandles() {
            if (!Keep)
                Self.Run.Handles.reset();
        }
    } drop{*this, keep};
    for (;;) {
        // Connect; repeated from here after a restart.
        Check();
        auto& handles = Run.Handles;
        // The pool holds cookies too: a transfer without cookies keeps its own connections.
        const auto pool = Run.InternetOptions.count(ioNoCookies) ? nullptr : Run.Pool;
        if (!handles || !keep || handles->Pool != pool) {
            handles = std::make_unique<TCurlHandles>();
            handles->Pool = keep ? pool : nullptr;
            handles->Multi.reset(curl_multi_init());
        }
        // A fresh request handle each time, so that nothing of the last request's settings
        // is left over; it closes before the multi handle can.
        struct TRequestHandle {
            TTransferWorker& Self;
            TCurlEasy Handle;
            ~TRequestHandle() {
                if (Handle)
                    Self.Status(70);
            }
        } request{*this, TCurlEasy(curl_easy_init())};
        if (request.Handle)
            Status(60);
        if (!request.Handle || !handles->Multi)
            return;
        CURL* easy = request.Handle.get();
        Easy = easy;
        Check();
        SetupRequest(easy, parts);
        if (Run.OnBeforeSendRequest && !Stopping())
            Run.OnBeforeSendRequest(&Owner, easy);

        Recheck = false;
        EStop stop;
        for (;;) {
            Check();
            SetHeaders(easy);
            stop = Perform(easy, handles->Multi.get());
            if (stop != EStop::Resend)
                break;
        }
        Easy = nullptr;
        if (stop == EStop::Aborted)
            throw TRunAborted();
        if (stop == EStop::Error)
            std::rethrow_exception(Pending);
        if (stop != EStop::Restart)
            return;
        PrepareRestart();
    }
}

void TTransferWorker::SetupRequest(CURL* easy, const TUrlParts& parts) {
    const auto& io = Run.InternetOptions;
    auto has = [&](TInternetOption o) { return io.count(o) != 0; };

    // The request line carries the path and the extra information as the split decoded them,
    // encoded again by one rule: "%2C" goes out as ",", a space as "%20", "+" as "%2B".
    std::string host =
        parts.Host.find(':') != std::string::npos ? "[" + parts.Host + "]" : parts.Host;
    std::string path = parts.Path;
    if (path.empty() || path[0] != '/')
        path.insert(path.begin(), '/');
    const std::string scheme = LowerText(parts.Scheme);
    const bool defaultPort =
        (scheme == "http" && parts.Port == 80) || (scheme == "https" && parts.Port == 443);
    const std::string url = scheme + "://" + host +
                            (defaultPort ? "" : ":" + std::to_string(parts.Port)) +
                            EncodeUrlExtra(path) + EncodeUrlExtra(parts.ExtraInfo);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    if (!Run.Agent.empty())
        curl_easy_setopt(easy, CURLOPT_USERAGENT, Run.Agent.c_str());
    // A proxy tunnel's own answer reaches the header callback before the request is
    // prepared; it is reported as such and is not the answer to the request.
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 0L);
    if (!Run.Referer.empty())
        curl_easy_setopt(easy, CURLOPT_REFERER, Run.Referer.c_str());

    if (IsPost()) {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, Run.POSTData.data());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(Run.POSTData.size()));
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    }

    // Proxy: the preconfigured one is the environment's (http_proxy and the like).
    const auto& proxy = Run.Proxy;
    if (proxy.AccessType == atDirect) {
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    } else if (proxy.AccessType == atUseProxy) {
        const std::string server = proxy.ProxyServer + ":" + std::to_string(proxy.ProxyPort);
        curl_easy_setopt(easy, CURLOPT_PROXY, server.c_str());
        std::string bypass;
        for (char c : proxy.ProxyBypass)
            bypass += (c == ';' || c == ' ') ? ',' : c;
        while (!bypass.empty() && bypass.back() == ',')
            bypass.pop_back();
        curl_easy_setopt(easy, CURLOPT_NOPROXY, bypass.c_str());
    }
    if (proxy.AccessType != atDirect && !proxy.ProxyUsername.empty() &&
        !proxy.ProxyPassword.empty()) {
        curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxy.ProxyUsername.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxy.ProxyPassword.c_str());
    }
    ApplyCredentials(easy);

    // Request flags.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, has(ioNoAutoRedirect) ? 0L : 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, TCustomWinHTTP::MaxRedirects);
    if (Run.Handles && Run.Handles->Pool) {
        // The pool's connections, cookies and names.
        curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
        curl_easy_setopt(easy, CURLOPT_SHARE, Run.Handles->Pool->Share());
    } else if (!has(ioNoCookies)) {
        curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
        curl_easy_setopt(easy, CURLOPT_SHARE, TCurlSession::Get().Share());
    }
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, has(ioIgnoreCertificateInvalid) ? 0L : 2L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER,
                     has(ioIgnoreUnknownCertificateAuthority) ? 0L : 1L);
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, has(ioKeepConnection) ? 0L : 1L);

    // Time-outs: the connect limit is libcurl's; receive and send limits are watched by
    // Perform, as the longest pause between data. 0 means the component's default.
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(ConnectLimit()));

    // The steps, for the status texts.
    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_FUNCTION, &TTransferWorker::ResolverStart);
    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_DATA, this);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &TTransferWorker::OpenSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &TTransferWorker::Prerequest);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    // A kept connection is closed later, perhaps by another transfer or none: it reports to
    // the component that opened it by number, if that one is still there.
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &TTransferWorker::CloseSocket);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, reinterpret_cast<void*>(Run.StatusSinkId));

    // Fewer, larger reads from libcurl; blocks are cut to the block size here.
    const long bufferSize = long(std::clamp<uint32_t>(Run.BlockSize, 256 * 1024, 1024 * 1024));
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, bufferSize);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &TTransferWorker::HeaderCallback);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &TTransferWorker::WriteCallback);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
}

void TTransferWorker::ApplyCredentials(CURL* easy) {
    if (Run.InternetOptions.count(ioNoAuthentication))
        return;
    if (RequestUser.empty() && RequestPassword.empty())
        return;
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
    curl_easy_setopt(easy, CURLOPT_USERNAME, RequestUser.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, RequestPassword.c_str());
}

void TTransferWorker::SetHeaders(CURL* easy) {
    curl_slist* list = nullptr;
    auto add = [&](const std::string& line) {
        if (curl_slist* grown = curl_slist_append(list, line.c_str()))
            list = grown;
    };
    for (const auto& line : Run.AddHeaders)
        if (!TrimText(line).empty())
            add(line);
    if (!Run.AcceptTypes.empty())
        add("Accept: " + Run.AcceptTypes);
    if (Run.CacheOptions.count(coPragmaNoCache))
        add("Pragma: no-cache");

    std::string range;
    if (Recheck)
        range = "RANGE: bytes=0-";
    else if (Run.ResumeOffset != 0 || Run.EndOffset != 0)
        range = "RANGE: bytes=" + std::to_string(Run.ResumeOffset) + "-" +
                (Run.EndOffset ? std::to_string(Run.EndOffset) : "");
    else if (Run.Range.StartRange != 0 || Run.Range.EndRange != 0)
        range = "RANGE: bytes=" + std::to_string(Run.Range.StartRange) + "-" +
                (Run.Range.EndRange ? std::to_string(Run.Range.EndRange) : "");
    if (!range.empty())
        add(range);

    if (IsPost())
        add("Content-Type: application/x-www-form-urlencoded");
    add("Expect:"); // no 100-continue round trip before a form body
    Headers.reset(list);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
}

TTransferWorker::EStop TTransferWorker::Perform(CURL* easy, CURLM* multi) {
    Stop = EStop::None;
    Pending = nullptr;
    ResponseStatus = 0;
    InHeaders = false;
    HeadersDone = false;
    RawHeaders.clear();
    Fields.clear();
    RequestSent = false;
    RequestPrepared = false;
    TimedOutHere = false;
    TimedOutSending = false;
    LastUploaded = 0;
    LastActivity = TClock::now();

    curl_multi_add_handle(multi, easy);
    CURLcode result = CURLE_OK;
    bool ended = false;
    int running = 1;
    while (running) {
        if (curl_multi_perform(multi, &running) != CURLM_OK)
            break;
        if (!running)
            break;
        if (Stop != EStop::None)
            break;
        if (Stopping()) {
            Stop = EStop::Aborted;
            break;
        }
        if (TimedOut(easy)) {
            result = CURLE_OPERATION_TIMEDOUT;
            TimedOutHere = true;
            ended = true;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, 50, nullptr);
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left))
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy && !ended) {
            result = msg->data.result;
            ended = true;
        }
    curl_multi_remove_handle(multi, easy);
    if (!ended && result == CURLE_OK)
        result = CURLE_ABORTED_BY_CALLBACK;
    if (result == CURLE_OK)
        Status(100);
    else if (Run.ErrorText.empty() && Stop == EStop::None)
        Run.ErrorText = ResultText(result);

    if (Stop != EStop::None)
        return Stop;
    if (!HeadersDone)
        return EStop::None; // no answer: the status stays -1
    if (result != CURLE_OK) {
        // What arrived is kept, except a first block that was still to be verified.
        Run.ReadFailed = true;
        if (VerifyPending)
            Filled = 0;
    }
    switch (FlushBlock()) {
    case EBlock::Aborted:
        return EStop::Aborted;
    case EBlock::Restart:
        return EStop::Restart;
    case EBlock::Ok:
    case EBlock::Limit:
        break;
    }
    return EStop::Finished;
}

bool TTransferWorker::TimedOut(CURL* easy) {
    const auto now = TClock::now();
    if (!RequestSent) {
        curl_off_t pretransfer = 0;
        curl_easy_getinfo(easy, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
        if (pretransfer == 0)
            return false; // still connecting: the connect limit applies
        RequestSent = true;
        LastActivity = now;
    }
    curl_off_t uploaded = 0;
    curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    if (uploaded != LastUploaded) {
        LastUploaded = uploaded;
        LastActivity = now;
    }
    const bool sending = IsPost() && uploaded < curl_off_t(Run.POSTData.size());
    const uint32_t limit = sending ? SendLimit() : ReceiveLimit();
    TimedOutSending = sending;
    return now - LastActivity > std::chrono::milliseconds(limit);
}

std::string TTransferWorker::ResultText(CURLcode result) const {
    switch (result) {
    case CURLE_OPERATION_TIMEDOUT:
        if (TimedOutHere && TimedOutSending)
            return "No data could be sent for " + Seconds(SendLimit()) +
                   ": the connection is lost.";
        if (TimedOutHere)
            return "No data arrived for " + Seconds(ReceiveLimit()) + ": the connection is lost.";
        return "No connection to the server within " + Seconds(ConnectLimit()) + ".";
    case CURLE_TOO_MANY_REDIRECTS:
        return "More than " + std::to_string(TCustomWinHTTP::MaxRedirects) + " redirects.";
    case CURLE_UNSUPPORTED_PROTOCOL:
        return "Only http and https addresses are fetched.";
    default:
        return curl_easy_strerror(result);
    }
}

int TTransferWorker::ResolverStart(void*, void*, void* user) {
    static_cast<TTransferWorker*>(user)->Status(10);
    return 0;
}

curl_socket_t TTransferWorker::OpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
    static_cast<TTransferWorker*>(user)->Status(20);
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

int TTransferWorker::CloseSocket(void* user, curl_socket_t socket) {
    const auto id = reinterpret_cast<uintptr_t>(user);
    TCurlSession::Get().Report(id, 50);
    const int result = ::close(socket);
    TCurlSession::Get().Report(id, 51);
    return result;
}

int TTransferWorker::Prerequest(void* user, char*, char*, int, int) {
    auto* self = static_cast<TTransferWorker*>(user);
    self->RequestPrepared = true;
    self->Status(30);
    return CURL_PREREQFUNC_OK;
}

size_t TTransferWorker::HeaderCallback(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<TTransferWorker*>(user);
    return self->OnHeaderLine(self->Easy, data, size * count) ? size * count : 0;
}

size_t TTransferWorker::WriteCallback(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<TTransferWorker*>(user);
    return self->OnBody(data, size * count) ? size * count : CURL_WRITEFUNC_ERROR;
}

bool TTransferWorker::OnHeaderLine(CURL* easy, const char* data, size_t size) {
    try {
        LastActivity = TClock::now();
        if (Stop != EStop::None)
            return false;
        if (Stopping()) {
            Stop = EStop::Aborted;
            return false;
        }
        const std::string line(data, size);
        if (!RequestPrepared) {
            // Before the request goes out only a proxy answers, to the tunnel request.
            if (line == "\r\n" || line == "\n")
                Status(42);
            return true;
        }
        if (line.rfind("HTTP/", 0) == 0) {
            // A new response (an interim one, a redirect or the final one) starts.
            Status(40);
            const size_t space = line.find(' ');
            ResponseStatus = space == std::string::npos ? 0 : std::atoi(line.c_str() + space + 1);
            RawHeaders = line;
            Fields.clear();
            InHeaders = true;
            return true;
        }
        if (!InHeaders)
            return true; // trailers after a chunked body
        RawHeaders += line;
        if (line == "\r\n" || line == "\n") {
            InHeaders = false;
            return OnHeadersComplete(easy);
        }
        const size_t colon = line.find(':');
        if (colon != std::string::npos)
            Fields.emplace_back(LowerText(TrimText(line.substr(0, colon))),
                                TrimText(line.substr(colon + 1)));
        return true;
    } catch (...) {
        Pending = std::current_exception();
        Stop = EStop::Error;
        return false;
    }
}

bool TTransferWorker::OnHeadersComplete(CURL* easy) {
    const int status = ResponseStatus;
    if (status >= 100 && status < 200) {
        Status(120);
        return true;
    }
    Status(41);
    // libcurl follows every 3xx answer that names a Location when redirects are on.
    const bool follows = !Run.InternetOptions.count(ioNoAutoRedirect);
    if (follows && status >= 300 && status < 400 && !Field("location").empty()) {
        if (++Redirects > TCustomWinHTTP::MaxRedirects) {
            Run.ErrorText =
                "More than " + std::to_string(TCustomWinHTTP::MaxRedirects) + " redirects.";
            Stop = EStop::Finished;
            return false;
        }
        {
            char* current = nullptr;
            curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &current);
            std::string target = Field("location");
            TCurlUrl u(curl_url());
            if (u && current && curl_url_set(u.get(), CURLUPART_URL, current, 0) == CURLUE_OK &&
                curl_url_set(u.get(), CURLUPART_URL, target.c_str(), 0) == CURLUE_OK) {
                char* resolved = nullptr;
                if (curl_url_get(u.get(), CURLUPART_URL, &resolved, 0) == CURLUE_OK) {
                    target = resolved;
                    curl_free(resolved);
                }
            }
            // Only http and https are followed: anything else ends the transfer here, before
            // libcurl is asked.
            const size_t colon = target.find(':');
            const bool named =
                colon != std::string::npos && colon > 0 &&
                std::isalpha(static_cast<unsigned char>(target[0])) &&
                std::all_of(target.begin(), target.begin() + long(colon), [](unsigned char c) {
                    return std::isalnum(c) || c == '+' || c == '-' || c == '.';
                });
            const std::string scheme = named ? LowerText(target.substr(0, colon)) : "http";
            if (scheme != "http" && scheme != "https") {
                Run.ErrorText = "A redirect to \"" + target +
                                "\" was refused: only http and "
                                "https addresses are fetched.";
                Stop = EStop::Finished;
                return false;
            }
            if (Run.OnRedirected && !Stopping())
                Run.OnRedirected(&Owner, target);
        }
        return true;
    }
    HeadersDone = true;
    return OnFinalHeaders(easy, status);
}

bool TTransferWorker::OnFinalHeaders(CURL* easy, int status) {
    if (Stopping()) {
        Stop = EStop::Aborted;
        return false;
    }
    Run.StatusCode = status;

    if (Recheck) {
        // The answer to "bytes=0-" after a 416: is the resource exactly as long as what we
        // have already?
        int64_t length = 0;
        if (status == 200 || status == 206)
            ParseLength(Field("content-length"), length);
        if (length == int64_t(Run.ResumeOffset)) {
            // Nothing is left to fetch: the transfer succeeds with what is there.
            Run.ContentLength = 0;
            Run.HasContentLength = false;
            Run.StatusCode = 200;
            CreateOutput();
            Stop = EStop::Finished;
            return false;
        }
        Run.StatusCode = -1;
        Run.ResumeOffset = 0;
        Stop = EStop::Restart;
        return false;
    }
    if (status == 416 && Run.ResumeOffset != 0) {
        Recheck = true;
        Stop = EStop::Resend;
        return false;
    }
    if (status == 401 && Run.HasOnPasswordRequest) {
        const std::string realm = RealmFromChallenge(Field("www-authenticate"));
        bool tryAgain = false;
        Owner.Deliver(Run, [&] {
            if (Owner.OnPasswordRequest)
                Owner.OnPasswordRequest(&Owner, realm, tryAgain);
            Run.Username = Owner.Username;
            Run.Password = Owner.Password;
        });
        RequestUser = Run.Username;
        RequestPassword = Run.Password;
        ApplyCredentials(easy);
        if (tryAgain) {
            Stop = EStop::Resend;
            return false;
        }
    }
    if (status == 407 && Run.HasOnProxyAuthenticationRequest) {
        bool tryAgain = false;
        Owner.Deliver(Run, [&] {
            std::string user = Owner.Proxy.ProxyUsername, password = Owner.Proxy.ProxyPassword;
            if (Owner.OnProxyAuthenticationRequest)
                Owner.OnProxyAuthenticationRequest(&Owner, user, password, tryAgain);
            Owner.Proxy.ProxyUsername = user;
            Owner.Proxy.ProxyPassword = password;
            Run.Proxy.ProxyUsername = user;
            Run.Proxy.ProxyPassword = password;
        });
        curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, Run.Proxy.ProxyUsername.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, Run.Proxy.ProxyPassword.c_str());
        if (tryAgain) {
            Stop = EStop::Resend;
            return false;
        }
    }

    // The answer's headers.
    if (Stopping()) {
        Stop = EStop::Aborted;
        return false;
    }
    Run.ContentType = Field("content-type");
    Run.ContentLength = 0;
    Run.HasContentLength =
        HasField("content-length") && ParseLength(Field("content-length"), Run.ContentLength);
    if (!HasField("content-range"))
        Run.ResumeOffset = 0;
    if (Run.HasOnHeaderInfo) {
        const std::string language = Field("content-language");
        const std::string encoding = Field("content-encoding");
        const std::string location = Field("location");
        const std::string eTag = Field("etag");
        const TDateTime date = ParseHttpDate(Field("date"));
        const TDateTime lastModified = ParseHttpDate(Field("last-modified"));
        const TDateTime expires = ParseHttpDate(Field("expires"));
        bool continueDownload = true;
        Owner.Deliver(Run, [&] {
            if (Owner.OnHeaderInfo)
                Owner.OnHeaderInfo(&Owner, status, RawHeaders, Run.ContentType, language, encoding,
                                   Run.ContentLength + int64_t(Run.ResumeOffset), location, date,
                                   lastModified, expires, eTag, continueDownload);
        });
        Run.ContinueDownload = continueDownload;
        if (!continueDownload) {
            Stop = EStop::Finished;
            return false;
        }
    }
    if (Stopping()) {
        Stop = EStop::Aborted;
        return false;
    }
    if (!CreateOutput()) {
        Stop = EStop::Finished;
        return false;
    }
    if (!Run.FileOutput && Run.MemoryLimit > 0 && Run.HasContentLength &&
        Run.ContentLength > Run.MemoryLimit) {
        // More than may be held: nothing of it is read.
        MemoryLimitReached();
        Stop = EStop::Finished;
        return false;
    }
    return true;
}

void TTransferWorker::MemoryLimitReached() {
    Run.ReadFailed = true;
    Run.ErrorText =
        "The answer is larger than " + MiB(Run.MemoryLimit) + ", more than is held in memory.";
}

bool TTransferWorker::CreateOutput() {
    const bool ok = Run.StatusCode == 200 || Run.StatusCode == 206;
    std::unique_ptr<TStream> stream;
    bool isFile = false;
    if (ok && !Run.OutputFileName.empty()) {
        std::string error;
        auto file = TFileStream::Open(Run.OutputFileName, Run.ResumeOffset == 0, error);
        if (file) {
            file->Seek(int64_t(Run.ResumeOffset));
            stream = std::move(file);
            isFile = true;
        } else if (Run.HasContentLength) {
            return false;
        }
    }
    if (!stream) {
        auto memory = std::make_unique<TMemoryStream>();
        // Room for the announced length at once. A length that cannot be had (a server may
        // announce anything) leaves the stream to grow with the data instead.
        if (Run.HasContentLength && Run.ContentLength > 0) {
            try {
                memory->Reserve(Run.MemoryLimit > 0 ? std::min(Run.ContentLength, Run.MemoryLimit)
                                                    : Run.ContentLength);
            } catch (const std::bad_alloc&) {
            }
        }
        stream = std::move(memory);
    }
    SetStream(std::move(stream), isFile);
    Buffer.assign(Run.BlockSize, 0);
    Filled = 0;
    VerifyPending = Run.ResumeOffset != 0 && isFile;
    return true;
}

void TTransferWorker::SetStream(std::unique_ptr<TStream> stream, bool isFile) {
    std::lock_guard<std::mutex> guard(Run.StreamLock);
    if (Owner.Thread.CutOff())
        return;
    Run.Stream = std::move(stream);
    Run.FileOutput = isFile;
}

bool TTransferWorker::HasStream() {
    std::lock_guard<std::mutex> guard(Run.StreamLock);
    return Run.Stream != nullptr;
}

bool TTransferWorker::OnBody(const char* data, size_t size) {
    try {
        if (Stop != EStop::None)
            return false;
        if (!HeadersDone)
            return true;
        if (Stopping()) {
            Stop = EStop::Aborted;
            return false;
        }
        LastActivity = TClock::now();
        const size_t block = Buffer.size();
        while (size > 0) {
            EBlock r = EBlock::Ok;
            if (Filled == 0 && size >= block) {
                // Whole blocks straight from libcurl's buffer, written at once: one write
                // and one progress note for all of them (a block to verify goes alone).
                const size_t take = VerifyPending ? block : size - size % block;
                r = ProcessBlock(data, take);
                data += take;
                size -= take;
            } else {
                const size_t take = std::min(block - Filled, size);
                std::memcpy(Buffer.data() + Filled, data, take);
                Filled += take;
                data += take;
                size -= take;
                if (Filled == block) {
                    Filled = 0;
                    r = ProcessBlock(Buffer.data(), block);
                }
            }
            if (r == EBlock::Aborted) {
                Stop = EStop::Aborted;
                return false;
            }
            if (r == EBlock::Restart) {
                Stop = EStop::Restart;
                return false;
            }
            if (r == EBlock::Limit) {
                Stop = EStop::Finished;
                return false;
            }
        }
        return true;
    } catch (...) {
        Pending = std::current_exception();
        Stop = EStop::Error;
        return false;
    }
}

TTransferWorker::EBlock TTransferWorker::FlushBlock() {
    if (Filled == 0)
        return EBlock::Ok;
    const size_t n = Filled;
    Filled = 0;
    return ProcessBlock(Buffer.data(), n);
}

TTransferWorker::EBlock TTransferWorker::ProcessBlock(const char* data, size_t size) {
    Run.BytesRead += int64_t(size);
    if (VerifyPending) {
        // Resuming into an existing file: the first block must match what the file holds
        // at that place. It is not written again.
        VerifyPending = false;
        std::vector<char> existing(size);
        int64_t got;
        {
            std::lock_guard<std::mutex> guard(Run.StreamLock);
            if (Owner.Thread.CutOff() || !Run.Stream)
                return EBlock::Aborted;
            got = Run.Stream->Read(existing.data(), int64_t(size));
        }
        if (got != int64_t(size) || std::memcmp(existing.data(), data, size) != 0)
            return EBlock::Restart;
        return EBlock::Ok;
    }
    {
        std::lock_guard<std::mutex> guard(Run.StreamLock);
        if (Owner.Thread.CutOff() || !Run.Stream)
            return EBlock::Aborted;
        if (!Run.FileOutput && Run.MemoryLimit > 0 &&
            Run.Stream->Size() + int64_t(size) > Run.MemoryLimit) {
            Run.BytesRead -= int64_t(size);
            MemoryLimitReached();
            return EBlock::Limit;
        }
        Run.Stream->Write(data, int64_t(size));
    }
    if (Run.HasOnProgress)
        Owner.NoteProgress(RunRef);
    return EBlock::Ok;
}

void TTransferWorker::PrepareRestart() {
    // The data did not fit what we had: fetch everything again into a new output. Going
    // back with the same offset would only meet the same mismatch again.
    Run.StatusCode = -1;
    Run.ResumeOffset = 0;
    Run.BytesRead = 0;
    Run.ReadFailed = false;
    std::lock_guard<std::mutex> guard(Run.StreamLock);
    Run.Stream.reset();
    Run.FileOutput = false;
}

std::string TTransferWorker::Field(const std::string& name) const {
    for (const auto& f : Fields)
        if (f.first == name)
            return f.second;
    return {};
}

bool TTransferWorker::HasField(const std::string& name) const {
    return std::any_of(Fields.begin(), Fields.end(),
                       [&](const auto& f) { return f.first == name; });
}

// ---- TCustomWinHTTP ----

TCustomWinHTTP::TCustomWinHTTP() {
    Thread.SetOnException([this](TCustomWinThread*, std::exception_ptr) { RaiseAnyError(); });
    Thread.OnWaitTimeoutExpired = [this](TCustomWinThread*, bool& terminateThread) {
        if (OnWaitTimeoutExpired)
            OnWaitTimeoutExpired(this, terminateThread);
        if (!terminateThread)
            return;
        // The run is stopped here; its output is released without any event.
        auto run = CurrentRun;
        Thread.Recreate();
        if (run) {
            run->Ended = true;
            ReleaseStream(*run);
            if (CurrentRun == run)
                BusyFlag = false;
        }
    };
}

TCustomWinHTTP::~TCustomWinHTTP() {
    // No event from here on; a running transfer is stopped and its thread waited for.
    if (StatusSink) {
        std::lock_guard<std::mutex> guard(StatusSink->Lock);
        StatusSink->Owner = nullptr;
        StatusSink->Handler = nullptr;
    }
    Thread.Shutdown();
    Kept.reset();
    if (StatusSink)
        TCurlSession::Get().RemoveSink(StatusSink->Id);
}

void TCustomWinHTTP::SetTransferBufferSize(uint32_t size) {
    if (size < MinBufferSize || size > MaxBufferSize)
        throw std::out_of_range("TransferBufferSize must be between 255 and 2147483647, not " +
                                std::to_string(size));
    BufferSize = size;
}

bool TCustomWinHTTP::ReadRange(uint64_t start, uint64_t end, bool wait) {
    if (BusyFlag)
        return false;
    auto& global = TCurlSession::Get();
    BusyFlag = true;
    Shown = {};
    Shown.ResumeOffset = start;
    if (!StatusSink) {
        StatusSink = std::make_shared<TStatusSink>();
        StatusSink->Owner = this;
        StatusSink->Id =
            global.AddSink(StatusSink, [](const std::shared_ptr<void>& sink, int status) {
                static_cast<TStatusSink*>(sink.get())->Report(status);
            });
    }
    {
        std::lock_guard<std::mutex> guard(StatusSink->Lock);
        StatusSink->Handler = OnStatus;
    }

    auto run = std::make_shared<TTransferRun>();
    run->Url = URL;
    run->AcceptTypes = AcceptTypes;
    run->Agent = Agent;
    run->Referer = Referer;
    run->OutputFileName = OutputFileName;
    run->POSTData = POSTData;
    run->Username = Username;
    run->Password = Password;
    run->AddHeaders = AddHeaders;
    run->Proxy = Proxy;
    run->CacheOptions = CacheOptions;
    run->InternetOptions = InternetOptions;
    run->Range = Range;
    run->Timeouts = Timeouts;
    run->Method = RequestMethod;
    run->WorkOffline = WorkOffline;
    run->BlockSize = BufferSize;
    run->HasOnProgress = static_cast<bool>(OnProgress);
    run->HasOnHeaderInfo = static_cast<bool>(OnHeaderInfo);
    run->HasOnPasswordRequest = static_cast<bool>(OnPasswordRequest);
    run->HasOnProxyAuthenticationRequest = static_cast<bool>(OnProxyAuthenticationRequest);
    run->OnBeforeSendRequest = OnBeforeSendRequest;
    run->OnRedirected = OnRedirected;
    run->OnStatus = OnStatus;
    run->MemoryLimit = MemoryLimit;
    run->LocalFiles = LocalFiles;
    run->StatusSinkId = StatusSink->Id;
    run->Pool = Connections;
    run->Handles = std::move(Kept);
    run->ResumeOffset = start;
    run->EndOffset = end;
    CurrentRun = run;

    Thread.SetOnExecute([this, run](TCustomWinThread*) { TransferRoutine(run); });
    Thread.SetOnTerminate([this, run](TCustomWinThread*) { FinishDelivery(*run); });
    Thread.SetPriority(ThreadPriority);
    Thread.WaitThread = wait || WaitThread;
    Thread.WaitTimeout = WaitTimeout;
    return Thread.Execute();
}

void TCustomWinHTTP::Abort(bool deleteFile, bool hard) {
    auto run = CurrentRun;
    if (!run || !BusyFlag)
        return;
    run->DeleteFileOnAbort = deleteFile;
    if (!hard) {
        Thread.Terminate(false);
        return;
    }
    // Cut the run off first, so that none of its events follows; then clean up here. The
    // stopped worker keeps its handles and frees them when it ends.
    Thread.Recreate();
    run->Ended = true;
    AbortCleanup(*run);
    if (CurrentRun == run)
        BusyFlag = false;
    if (!Thread.Destroying() && OnAborted)
        OnAborted(this);
}

void TCustomWinHTTP::TransferRoutine(const std::shared_ptr<TTransferRun>& run) {
    TTransferWorker worker(*this, run);
    try {
        worker.Execute();
    } catch (const TRunAborted&) {
        // A hard stop was cleaned up by whoever stopped the run.
        if (!Thread.CutOff()) {
            AbortCleanup(*run);
            Deliver(*run, [&] {
                EndRun(*run);
                if (CurrentRun == run)
                    BusyFlag = false;
                if (OnAborted)
                    OnAborted(this);
            });
        }
        // The run ends here: no finish delivery follows.
        Thread.Recreate();
    }
}

void TCustomWinHTTP::Deliver(TTransferRun& run, const std::function<void()>& fn) {
    Thread.Synchronize([&] {
        Publish(run);
        fn();
    });
}

void TCustomWinHTTP::Publish(const TTransferRun& run) {
    Shown.StatusCode = run.StatusCode;
    Shown.ContentLength = run.ContentLength;
    Shown.BytesRead = run.BytesRead;
    Shown.ResumeOffset = run.ResumeOffset;
    Shown.ContentType = run.ContentType;
    Shown.ErrorText = run.ErrorText;
}

void TCustomWinHTTP::NoteProgress(const std::shared_ptr<TTransferRun>& run) {
    const auto now = TClock::now();
    {
        std::lock_guard<std::mutex> guard(run->ProgressLock);
        auto& note = run->Progress;
        ++note.Block;
        note.BytesRead = run->BytesRead;
        note.ContentLength = run->ContentLength;
        note.ResumeOffset = run->ResumeOffset;
        note.StatusCode = run->StatusCode;
        if (note.ContentType != run->ContentType)
            note.ContentType = run->ContentType;
        if (run->ProgressPosted ||
            now - run->LastProgressPost < std::chrono::milliseconds(ProgressIntervalMs))
            return;
        run->ProgressPosted = true;
        run->LastProgressPost = now;
    }
    PostToMainThread([this, alive = std::weak_ptr<bool>(Alive), run] {
        if (!alive.expired())
            DeliverProgress(run);
    });
}

void TCustomWinHTTP::DeliverProgress(const std::shared_ptr<TTransferRun>& run) {
    {
        std::lock_guard<std::mutex> guard(run->ProgressLock);
        run->ProgressPosted = false;
    }
    if (run->Ended || CurrentRun != run || Thread.Destroying())
        return;
    ShowProgress(*run, nullptr);
}

void TCustomWinHTTP::ShowProgress(TTransferRun& run, TStream* stream) {
    TTransferRun::TProgressNote note;
    {
        std::lock_guard<std::mutex> guard(run.ProgressLock);
        if (run.Progress.Block == 0 || run.Progress.Block == run.ShownBlock)
            return;
        note = run.Progress;
    }
    run.ShownBlock = note.Block;
    Shown.StatusCode = note.StatusCode;
    Shown.ContentLength = note.ContentLength;
    Shown.BytesRead = note.BytesRead;
    Shown.ResumeOffset = note.ResumeOffset;
    Shown.ContentType = note.ContentType;
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - run.StartTick)
            .count();
    const auto f =
        ComputeProgress(note.BytesRead, note.ContentLength, int64_t(note.ResumeOffset), elapsed);
    Shown.Figures = f;
    if (OnProgress)
        OnProgress(this, note.ContentType, note.ContentLength + int64_t(note.ResumeOffset),
                   note.BytesRead + int64_t(note.ResumeOffset), f.ElapsedTime, f.EstimatedTimeLeft,
                   f.PercentsDone, f.TransferRate, stream);
}

void TCustomWinHTTP::EndRun(TTransferRun& run) {
    run.Ended = true;
    if (CurrentRun.get() == &run && !Thread.Destroying() &&
        run.InternetOptions.count(ioKeepConnection) && run.Handles)
        Kept = std::move(run.Handles);
}

void TCustomWinHTTP::ReleaseStream(TTransferRun& run) {
    std::lock_guard<std::mutex> guard(run.StreamLock);
    run.Stream.reset();
    run.FileOutput = false;
}

void TCustomWinHTTP::AbortCleanup(TTransferRun& run) {
    bool wasFile;
    {
        std::lock_guard<std::mutex> guard(run.StreamLock);
        wasFile = run.FileOutput;
        run.Stream.reset();
        run.FileOutput = false;
    }
    if (wasFile && run.DeleteFileOnAbort)
        std::remove(run.OutputFileName.c_str());
}

void TCustomWinHTTP::RaiseAnyError() {
    if (OnAnyError)
        OnAnyError(this);
}

void TCustomWinHTTP::FinishDelivery(TTransferRun& run) {
    TStream* stream;
    {
        std::lock_guard<std::mutex> guard(run.StreamLock);
        stream = run.Stream.get();
    }
    EndRun(run);
    std::string errorText = run.ErrorText;
    if (!run.ContinueDownload)
        errorText.clear();
    else if (run.Succeeded)
        errorText = stream ? "" : "The output file cannot be created.";
    else if (errorText.empty() && (run.StatusCode == 200 || run.StatusCode == 206))
        errorText = "The connection ended before the whole answer arrived.";
    else if (errorText.empty() && run.StatusCode != -1)
        errorText = "The server answered with status " + std::to_string(run.StatusCode) + ".";
    else if (errorText.empty())
        errorText = "No answer from the server.";
    Publish(run);
    Shown.ErrorText = errorText;
    if (stream)
        stream->Seek(0);
    bool deleteFile = false;
    bool released = false;
    // The stream is released and Busy cleared whatever the handlers do, so that an event
    // handler that throws does not leave the component refusing every later Read.
    auto release = [&] {
        if (released)
            return;
        released = true;
        ReleaseStream(run);
        if (CurrentRun.get() == &run)
            BusyFlag = false;
        if (deleteFile)
            std::remove(run.OutputFileName.c_str());
    };
    try {
        // The last figures before the outcome, unless they were shown already.
        if (run.HasOnProgress && run.ContinueDownload && stream) {
            ShowProgress(run, stream);
            Publish(run);
            Shown.ErrorText = errorText;
            stream->Seek(0);
        }
        if (run.ContinueDownload) {
            if (run.Succeeded) {
                if (!stream) {
                    RaiseAnyError();
                    if (OnOutputFileError)
                        OnOutputFileError(this);
                    release();
                    return;
                }
                if (run.FileOutput) {
                    // The file is complete and closed before it is announced.
                    ReleaseStream(run);
                    if (CurrentRun.get() == &run)
                        BusyFlag = false;
                    stream = nullptr;
                }
                if (OnDone)
                    OnDone(this, run.ContentType, run.BytesRead + int64_t(run.ResumeOffset),
                           stream);
            } else {
                if (run.StatusCode == 200 || run.StatusCode == 206) {
                    if (OnConnLost)
                        OnConnLost(this, run.ContentType, run.ContentLength, run.BytesRead, stream);
                } else if (run.StatusCode == -1) {
                    if (OnHostUnreachable)
                        OnHostUnreachable(this);
                } else {
                    deleteFile = run.FileOutput;
                    if (OnHTTPError)
                        OnHTTPError(this, run.StatusCode, stream);
                }
                RaiseAnyError();
            }
        }
    } catch (...) {
        release();
        throw;
    }
    release();
    if (!run.ContinueDownload && OnDoneInterrupted)
        OnDoneInterrupted(this);
}

} // namespace cw
