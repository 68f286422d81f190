// The transfer routine of the HTTP transfer component, on the component's worker thread: it
// reads a local file or runs the request with libcurl, step by step (TTransferSteps), and
// leaves the outcome in the run's record (internal to the transfer component).
#pragma once

#include "net/CurlSession.h"
#include "net/TransferRun.h"

#include <curl/curl.h>

#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace cw {

// Thrown at a check that finds the terminate request set.
struct TRunAborted {};

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
    uint32_t ConnectLimit() const;
    uint32_t ReceiveLimit() const;
    uint32_t SendLimit() const;
    bool IsPost() const {
        return Run.Method == rmPOST || (Run.Method == rmAutoDetect && !Run.POSTData.empty());
    }

    void ReadLocalFile(const std::string& path);
    void FetchHttp(const TUrlParts& parts);
    // The request's settings, its credentials and its header lines (TransferRequest.cpp).
    void SetupRequest(CURL* easy, const TUrlParts& parts);
    void ApplyCredentials(CURL* easy);
    void SetHeaders(CURL* easy);
    EStop Perform(CURL* easy, CURLM* multi);
    bool TimedOut(CURL* easy);
    void Status(int status) {
        if (status && Run.OnStatus && !Stopping())
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
    // A followed redirect: false, with the transfer ended, when it may not be followed.
    bool OnRedirect(CURL* easy);
    bool OnFinalHeaders(CURL* easy, int status);
    bool OnBody(const char* data, size_t size);
    static size_t HeaderCallback(char* data, size_t size, size_t count, void* user);
    static size_t WriteCallback(char* data, size_t size, size_t count, void* user);

    // Creates the output stream for the answer. False when the file could not be created
    // although the answer announced its length: the transfer then ends without output.
    bool CreateOutput();
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
    TTransferSteps& Steps = Run.Steps;

    // Request in progress.
    CURL* Easy = nullptr;
    TCurlList Headers;
    std::string RequestUser, RequestPassword;
    EStop Stop = EStop::None;
    std::exception_ptr Pending;
    int Redirects = 0;

    // The watch for a connection that stands still.
    TClock::time_point LastActivity;
    bool RequestSent = false; // libcurl began the transfer: the connect limit is over
    bool TimedOutHere = false;
    bool TimedOutSending = false; // the body of a POST stood still, not the answer
    curl_off_t LastUploaded = 0;

    // The answer's header lines: all of them as received, and the fields by lower-case name.
    std::string RawHeaders;
    std::vector<std::pair<std::string, std::string>> Fields;

    // Read loop: the block being filled.
    std::vector<char> Buffer;
    size_t Filled = 0;
};

} // namespace cw
