// The record of one HTTP transfer, shared by the worker that runs it and the component that
// delivers its events (internal to the transfer component).
#pragma once

#include "net/TransferOutput.h"
#include "net/TransferSteps.h"
#include "net/WinHTTP.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cw {

using TClock = std::chrono::steady_clock;

// Everything one transfer needs. The worker works on this record only; the component copies
// what the main thread shows from it at each delivery, while the worker waits. A hard stop
// leaves the record to the stopped worker, which never touches the component again.
struct TTransferRun {
    TTransferRun(std::string outputFileName, int64_t memoryLimit)
        : Output(std::move(outputFileName), memoryLimit) {}

    // Settings, copied from the component when the transfer starts.
    std::string Url, AcceptTypes, Agent, Referer, POSTData, Username, Password;
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
    bool LocalFiles = true;
    uintptr_t StatusSinkId = 0;
    std::shared_ptr<TConnectionPool> Pool;
    std::unique_ptr<TCurlHandles> Handles; // taken from the component, given back at the end

    // Transfer state. Steps is the worker's until the run ends; the finish delivery reads it
    // after that.
    TTransferSteps Steps;
    uint64_t ResumeOffset = 0;
    uint64_t EndOffset = 0;
    int StatusCode = -1;
    int64_t ContentLength = 0;
    bool HasContentLength = false;
    int64_t BytesRead = 0;
    TClock::time_point StartTick = TClock::now();
    std::string ContentType;
    bool ContinueDownload = true;
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

    // The answer, in a file or in memory.
    TTransferOutput Output;
};

} // namespace cw
