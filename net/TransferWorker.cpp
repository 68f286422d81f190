#include "net/TransferWorker.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cw {

namespace {

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

std::string MiB(int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f MiB", double(bytes) / 1048576.0);
    return text;
}

} // namespace

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
    bool succeeded = (Run.StatusCode == 200 || Run.StatusCode == 206) && !Run.ReadFailed;
    if (succeeded && Run.ContentLength != 0 && Run.Output.Has())
        succeeded = Run.ContentLength == Run.BytesRead;
    Steps.End(succeeded);
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

        Steps.BeginConnection();
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

TTransferWorker::EStop TTransferWorker::Perform(CURL* easy, CURLM* multi) {
    Stop = EStop::None;
    Pending = nullptr;
    Steps.BeginRequest();
    RawHeaders.clear();
    Fields.clear();
    RequestSent = false;
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
    if (!Steps.TakesBody())
        return EStop::None; // no answer: the status stays -1
    if (result != CURLE_OK) {
        // What arrived is kept, except a first block that was still to be verified.
        Run.ReadFailed = true;
        if (Run.Output.Verifying())
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

int TTransferWorker::ResolverStart(void*, void*, void* user) {
    auto* self = static_cast<TTransferWorker*>(user);
    self->Status(self->Steps.Resolve());
    return 0;
}

curl_socket_t TTransferWorker::OpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
    auto* self = static_cast<TTransferWorker*>(user);
    self->Status(self->Steps.Connect());
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
    self->Status(self->Steps.Prepare());
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
        const THeaderLine step = Steps.TakeHeaderLine(line);
        Status(step.Status);
        switch (step.Kind) {
        case THeaderLineKind::Ignored:
            return true;
        case THeaderLineKind::StatusLine:
            RawHeaders = line;
            Fields.clear();
            return true;
        case THeaderLineKind::End:
            RawHeaders += line;
            return OnHeadersComplete(easy);
        case THeaderLineKind::Field:
            break;
        }
        RawHeaders += line;
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
    const bool follows = !Run.InternetOptions.count(ioNoAutoRedirect);
    Status(Steps.EndHeaders(follows, !Field("location").empty()));
    switch (Steps.State()) {
    case TTransferState::Redirecting:
        return OnRedirect(easy);
    case TTransferState::ReceivingBody:
        return OnFinalHeaders(easy, Steps.AnswerStatus());
    default:
        return true; // an interim answer: the next one follows
    }
}

bool TTransferWorker::OnFinalHeaders(CURL* easy, int status) {
    if (Stopping()) {
        Stop = EStop::Aborted;
        return false;
    }
    Run.StatusCode = status;

    if (Steps.Rechecking()) {
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
        Steps.Resume();
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
    if (Run.Output.Refuses(Run.HasContentLength, Run.ContentLength)) {
        // More than may be held: nothing of it is read.
        MemoryLimitReached();
        Stop = EStop::Finished;
        return false;
    }
    return true;
}

void TTransferWorker::MemoryLimitReached() {
    Run.ReadFailed = true;
    Run.ErrorText = "The answer is larger than " + MiB(Run.Output.MemoryLimit()) +
                    ", more than is held in memory.";
}

bool TTransferWorker::CreateOutput() {
    if (!Run.Output.Create(Run.StatusCode == 200 || Run.StatusCode == 206, Run.ResumeOffset,
                           Run.HasContentLength, Run.ContentLength, Owner.Thread))
        return false;
    Buffer.assign(Run.BlockSize, 0);
    Filled = 0;
    return true;
}

bool TTransferWorker::OnBody(const char* data, size_t size) {
    try {
        if (Stop != EStop::None)
            return false;
        if (!Steps.TakesBody())
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
                const size_t take = Run.Output.Verifying() ? block : size - size % block;
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
    switch (Run.Output.Take(data, size, Owner.Thread)) {
    case TTransferOutput::TTake::Verified:
        return EBlock::Ok;
    case TTransferOutput::TTake::Mismatch:
        return EBlock::Restart;
    case TTransferOutput::TTake::CutOff:
        return EBlock::Aborted;
    case TTransferOutput::TTake::Full:
        Run.BytesRead -= int64_t(size);
        MemoryLimitReached();
        return EBlock::Limit;
    case TTransferOutput::TTake::Written:
        break;
    }
    if (Run.HasOnProgress)
        Owner.NoteProgress(RunRef);
    return EBlock::Ok;
}

void TTransferWorker::PrepareRestart() {
    // The data did not fit what we had: fetch everything again into a new output. Going
    // back with the same offset would only meet the same mismatch again.
    Steps.Restart();
    Run.StatusCode = -1;
    Run.ResumeOffset = 0;
    Run.BytesRead = 0;
    Run.ReadFailed = false;
    Run.Output.Release();
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

} // namespace cw
