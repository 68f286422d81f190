#include "net/WinHTTP.h"

#include "net/TransferRun.h"
#include "net/TransferWorker.h"

#include <mutex>
#include <stdexcept>

namespace cw {

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

    auto run = std::make_shared<TTransferRun>(OutputFileName, MemoryLimit);
    run->Url = URL;
    run->AcceptTypes = AcceptTypes;
    run->Agent = Agent;
    run->Referer = Referer;
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

} // namespace cw
