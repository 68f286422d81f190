// HTTP transfer component: fetches one URL at a time (HTTP, HTTPS or a "file" URL) on its own
// worker thread with a libcurl easy handle, keeps the answer in a file or in memory, and
// reports progress and the outcome through events that run on the main thread.
//
// Outcomes, each followed by nothing else:
//   success                         OnDone
//   status other than 200/206       OnHTTPError(status, body), OnAnyError
//   200/206 but the data ended early, or reading failed
//                                   OnConnLost, OnAnyError
//   no answer at all                OnHostUnreachable, OnAnyError
//   output file cannot be created   OnAnyError, OnOutputFileError
//   OnHeaderInfo cleared ContinueDownload
//                                   OnDoneInterrupted
//   soft abort                      OnAborted
//
// Progress events are handed over without holding the worker up: the main thread gets the
// latest figures at most every ProgressIntervalMs, and always the last ones before the outcome.
#pragma once

#include "net/CurlSession.h"
#include "net/HttpUtils.h"
#include "net/Streams.h"
#include "net/WinLogin.h"
#include "net/WinThread.h"

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace cw {

enum TWinHTTPAccessType { atPreconfig, atDirect, atUseProxy };
enum TWinHTTPFileAttribute {
    atrArchive,
    atrHidden,
    atrReadOnly,
    atrSystem,
    atrTemporary,
    atrOffline
};
enum TCacheOption {
    coAlwaysReload,
    coReloadIfNoExpireInformation,
    coReloadUpdatedObjects,
    coPragmaNoCache,
    coNoCacheWrite,
    coCreateTempFilesIfCantCache,
    coUseCacheIfNetFail
};
enum TInternetOption {
    ioIgnoreCertificateInvalid,
    ioIgnoreCertificateDateInvalid,
    ioIgnoreUnknownCertificateAuthority,
    ioIgnoreRedirectToHTTP,
    ioIgnoreRedirectToHTTPS,
    ioKeepConnection,
    ioNoAuthentication,
    ioNoAutoRedirect,
    ioNoCookies
};
enum TWinHTTPRequestMethod { rmAutoDetect, rmGET, rmPOST };

using TWinHTTPFileAttributes = std::set<TWinHTTPFileAttribute>;
using TCacheOptions = std::set<TCacheOption>;
using TInternetOptions = std::set<TInternetOption>;

// Sub-objects copy themselves from another instance; copying from nothing restores defaults.
struct TWinHTTPProxy {
    TWinHTTPAccessType AccessType = atPreconfig;
    int ProxyPort = 8080;
    std::string ProxyServer;
    std::string ProxyBypass = "127.0.0.1;";
    std::string ProxyUsername;
    std::string ProxyPassword;
    void Assign(const TWinHTTPProxy* source) { *this = source ? *source : TWinHTTPProxy(); }
};

struct TWinHTTPRange {
    uint64_t StartRange = 0;
    uint64_t EndRange = 0;
    void Assign(const TWinHTTPRange* source) { *this = source ? *source : TWinHTTPRange(); }
};

// Milliseconds; 0 means the component's default (TCustomWinHTTP::DefaultConnectTimeout for
// connecting, DefaultIdleTimeout for receiving and sending).
struct TWinHTTPTimeouts {
    uint32_t ConnectTimeout = 0;
    uint32_t ReceiveTimeout = 0;
    uint32_t SendTimeout = 0;
    void Assign(const TWinHTTPTimeouts* source) { *this = source ? *source : TWinHTTPTimeouts(); }
};

// File attributes have no counterpart on Linux: the values are kept, not applied.
struct TWinHTTPOutputFileAttributes {
    TWinHTTPFileAttributes Complete{atrArchive};
    TWinHTTPFileAttributes Incomplete{atrArchive, atrTemporary};
    void Assign(const TWinHTTPOutputFileAttributes* source) {
        *this = source ? *source : TWinHTTPOutputFileAttributes();
    }
};

struct TTransferRun;

// The status texts of a transfer's steps, by their numbers; "Unknown status" for others.
const char* InternetStatusText(int status);

class TCustomWinHTTP : public TWinLoginComponent {
public:
    using TNotifyEvent = std::function<void(TCustomWinHTTP* sender)>;
    using TBeforeSendRequestEvent = std::function<void(TCustomWinHTTP* sender, CURL* request)>;
    using THeaderInfoEvent =
        std::function<void(TCustomWinHTTP* sender, int errorCode, const std::string& rawHeadersCRLF,
                           const std::string& contentType, const std::string& contentLanguage,
                           const std::string& contentEncoding, int64_t contentLength,
                           const std::string& location, TDateTime date, TDateTime lastModified,
                           TDateTime expires, const std::string& eTag, bool& continueDownload)>;
    using TProgressEvent =
        std::function<void(TCustomWinHTTP* sender, const std::string& contentType, int64_t dataSize,
                           int64_t bytesRead, int64_t elapsedTime, int64_t estimatedTimeLeft,
                           uint8_t percentsDone, float transferRate, TStream* stream)>;
    using TDoneEvent = std::function<void(TCustomWinHTTP* sender, const std::string& contentType,
                                          int64_t fileSize, TStream* stream)>;
    using TConnLostEvent =
        std::function<void(TCustomWinHTTP* sender, const std::string& contentType, int64_t fileSize,
                           int64_t bytesRead, TStream* stream)>;
    using THTTPErrorEvent =
        std::function<void(TCustomWinHTTP* sender, int errorCode, TStream* stream)>;
    using TRedirectedEvent = std::function<void(TCustomWinHTTP* sender, const std::string& newURL)>;
    using TPasswordRequestEvent =
        std::function<void(TCustomWinHTTP* sender, const std::string& realm, bool& tryAgain)>;
    using TProxyAuthenticationRequestEvent =
        std::function<void(TCustomWinHTTP* sender, std::string& proxyUsername,
                           std::string& proxyPassword, bool& tryAgain)>;
    using TWaitTimeoutExpiredEvent =
        std::function<void(TCustomWinHTTP* sender, bool& terminateThread)>;
    using TStatusEvent =
        std::function<void(TCustomWinHTTP* sender, int status, const std::string& text)>;

    static constexpr const char* DefaultAgent = "Clipwright/0.1 (libcurl)";
    static constexpr uint32_t MinBufferSize = 255;
    static constexpr uint32_t MaxBufferSize = 2147483647;
    // Limits used where Timeouts holds 0, in milliseconds: connecting, and the longest time
    // without one byte received (or sent) before the connection counts as lost.
    static constexpr uint32_t DefaultConnectTimeout = 60000;
    static constexpr uint32_t DefaultIdleTimeout = 30000;
    static constexpr long MaxRedirects = 10;
    static constexpr int ProgressIntervalMs = 50;

    TCustomWinHTTP();
    virtual ~TCustomWinHTTP();
    TCustomWinHTTP(const TCustomWinHTTP&) = delete;
    TCustomWinHTTP& operator=(const TCustomWinHTTP&) = delete;

    // ---- properties ----
    std::string AcceptTypes = "text/html, */*";
    std::vector<std::string> AddHeaders;
    std::string Agent = DefaultAgent;
    TWinHTTPProxy Proxy;
    std::string URL;
    TCacheOptions CacheOptions{coReloadIfNoExpireInformation, coReloadUpdatedObjects,
                               coCreateTempFilesIfCantCache};
    TInternetOptions InternetOptions{ioKeepConnection};
    std::string OutputFileName;
    TWinHTTPOutputFileAttributes OutputFileAttributes;
    std::string POSTData;
    TWinHTTPRange Range;
    std::string Referer;
    bool ShowGoOnlineMessage = false;
    TWinHTTPRequestMethod RequestMethod = rmAutoDetect;
    TWinHTTPTimeouts Timeouts;
    TThreadPriority ThreadPriority = tpNormal;
    bool WaitThread = false;
    uint32_t WaitTimeout = 0;
    bool WorkOffline = false;
    // Largest answer kept in a memory output, in bytes (0: no limit). A longer one, or one
    // announcing more, stops there and fails (OnConnLost for 200/206, else OnHTTPError with
    // the body cut at the limit) with ErrorText saying so.
    int64_t MemoryLimit = 0;
    // Whether "file" URLs are read from the local disk. Without it only http and https
    // addresses are fetched; any other is refused without reading anything (OnHostUnreachable).
    bool LocalFiles = true;
    // With ioKeepConnection, connections are kept in this pool when set (shared with the other
    // components of the pool), else by this component alone.
    std::shared_ptr<TConnectionPool> Connections;

    uint32_t TransferBufferSize() const { return BufferSize; }
    // Throws std::out_of_range outside 255..2147483647.
    void SetTransferBufferSize(uint32_t size);

    // ---- events ----
    TBeforeSendRequestEvent OnBeforeSendRequest; // worker thread
    THeaderInfoEvent OnHeaderInfo;
    // Stream is the output stream only in an event sent by the finish delivery (the last
    // figures, when no earlier event showed them); none in the others, while the worker may
    // still be writing to it.
    TProgressEvent OnProgress;
    TDoneEvent OnDone;
    TNotifyEvent OnDoneInterrupted;
    TConnLostEvent OnConnLost;
    THTTPErrorEvent OnHTTPError;
    TNotifyEvent OnHostUnreachable;
    TNotifyEvent OnOutputFileError;
    TNotifyEvent OnAnyError;
    TNotifyEvent OnAborted;
    TRedirectedEvent OnRedirected; // worker thread
    TPasswordRequestEvent OnPasswordRequest;
    TProxyAuthenticationRequestEvent OnProxyAuthenticationRequest;
    TWaitTimeoutExpiredEvent OnWaitTimeoutExpired;
    // The steps of a transfer ("Resolving name", "Connecting to server", ...), on the thread
    // that takes them: the worker, or whichever thread closes a kept connection.
    TStatusEvent OnStatus;

    // ---- operations ----
    bool Read(bool wait = false) { return ReadRange(0, 0, wait); }
    // False, doing nothing, while a transfer is going. Otherwise starts one asking for bytes
    // start..end (end 0 = to the end; both 0 = Range, or everything).
    bool ReadRange(uint64_t start, uint64_t end, bool wait = false);
    // While the worker runs: soft asks it to stop at its next check (it then raises
    // OnAborted); hard stops it at once and raises OnAborted here. deleteFile removes an
    // output file.
    void Abort(bool deleteFile = false, bool hard = false);
    bool IsRunning() const { return Thread.Running(); }
    bool Busy() const { return BusyFlag.load(); }

    // ---- transfer state, as the last delivery on the main thread left it ----
    int StatusCode() const { return Shown.StatusCode; }
    int64_t ContentLength() const { return Shown.ContentLength; }
    int64_t BytesRead() const { return Shown.BytesRead; }
    uint64_t ResumeOffset() const { return Shown.ResumeOffset; }
    const std::string& ContentType() const { return Shown.ContentType; }
    uint8_t PercentsDone() const { return Shown.Figures.PercentsDone; }
    int64_t ElapsedTime() const { return Shown.Figures.ElapsedTime; }
    int64_t EstimatedTimeLeft() const { return Shown.Figures.EstimatedTimeLeft; }
    float TransferRate() const { return Shown.Figures.TransferRate; }
    // Why the last transfer failed, in words; empty after a success.
    const std::string& ErrorText() const { return Shown.ErrorText; }

    TCustomWinThread& WorkerThread() { return Thread; }

private:
    friend class TTransferWorker;
    struct TShownState {
        int StatusCode = -1;
        int64_t ContentLength = 0;
        int64_t BytesRead = 0;
        uint64_t ResumeOffset = 0;
        std::string ContentType;
        std::string ErrorText;
        TProgressFigures Figures;
    };
    struct TStatusSink;

    // Runs fn on the main thread with the run's state published to Shown first.
    void Deliver(TTransferRun& run, const std::function<void()>& fn);
    void Publish(const TTransferRun& run);
    void TransferRoutine(const std::shared_ptr<TTransferRun>& run);
    void FinishDelivery(TTransferRun& run);
    // Frees the output stream; a file is closed.
    void ReleaseStream(TTransferRun& run);
    // Clean-up after a stop: stream released, the file deleted when asked.
    void AbortCleanup(TTransferRun& run);
    void RaiseAnyError();
    // Progress hand-over: the worker notes the latest figures and posts at most one delivery
    // at a time; the main thread shows the latest figures when it gets to it.
    void NoteProgress(const std::shared_ptr<TTransferRun>& run);
    void DeliverProgress(const std::shared_ptr<TTransferRun>& run);
    void ShowProgress(TTransferRun& run, TStream* stream);
    // The run is over for the main thread: its handles come back to be kept.
    void EndRun(TTransferRun& run);

    TCustomWinThread Thread;
    std::shared_ptr<TTransferRun> CurrentRun;
    std::atomic<bool> BusyFlag{false};
    uint32_t BufferSize = 4096;
    TShownState Shown;
    std::unique_ptr<TCurlHandles> Kept;      // the handles kept between transfers
    std::shared_ptr<TStatusSink> StatusSink; // reaches OnStatus from kept connections
    std::shared_ptr<bool> Alive = std::make_shared<bool>(true);
};

class TWinHTTP final : public TCustomWinHTTP {};

} // namespace cw
