// The delivery of a transfer's events to the caller, on the main thread: the state shown to
// it, the progress hand-over and the finish delivery with the outcome events.
#include "net/WinHTTP.h"

#include "base/MainThread.h"
#include "net/TransferRun.h"

#include <cstdio>

namespace cw {

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
    run.Output.Release();
}

void TCustomWinHTTP::AbortCleanup(TTransferRun& run) {
    if (run.Output.Release() && run.DeleteFileOnAbort)
        std::remove(run.Output.FileName().c_str());
}

void TCustomWinHTTP::RaiseAnyError() {
    if (OnAnyError)
        OnAnyError(this);
}

void TCustomWinHTTP::FinishDelivery(TTransferRun& run) {
    TStream* stream = run.Output.Peek();
    EndRun(run);
    const bool succeeded = run.Steps.State() == TTransferState::Done;
    std::string errorText = run.ErrorText;
    if (!run.ContinueDownload)
        errorText.clear();
    else if (succeeded)
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
            std::remove(run.Output.FileName().c_str());
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
            if (succeeded) {
                if (!stream) {
                    RaiseAnyError();
                    if (OnOutputFileError)
                        OnOutputFileError(this);
                    release();
                    return;
                }
                if (run.Output.IsFile()) {
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
                    deleteFile = run.Output.IsFile();
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
