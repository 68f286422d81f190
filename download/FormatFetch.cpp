#include "download/FormatFetch.h"

#include "app/Utils.h"
#include "base/MainThread.h"

#include <algorithm>
#include <cctype>

namespace cw {

namespace {

// The whole length from "Content-Range: bytes A-B/TOTAL" among the raw header lines; -1 when
// the answer names none.
int64_t RangeTotal(const std::string& headers) {
    size_t at = 0;
    while (at < headers.size()) {
        size_t end = headers.find("\r\n", at);
        if (end == std::string::npos)
            end = headers.size();
        const std::string line = LowerCase(headers.substr(at, end - at));
        at = end + 2;
        if (line.rfind("content-range:", 0) != 0)
            continue;
        const size_t slash = line.rfind('/');
        if (slash == std::string::npos)
            return -1;
        const std::string total = Trim(line.substr(slash + 1));
        if (total.empty() || total.size() > 18 ||
            !std::all_of(total.begin(), total.end(),
                         [](unsigned char c) { return std::isdigit(c); }))
            return -1;
        return std::stoll(total);
    }
    return -1;
}

} // namespace

TFormatFetcher::TFormatFetcher(std::shared_ptr<TConnectionPool> connections) {
    Http.Agent = "[Halvex]";
    Http.AcceptTypes = "*/*";
    Http.InternetOptions = {ioIgnoreCertificateInvalid, ioKeepConnection};
    Http.LocalFiles = false;
    Http.Connections = std::move(connections);

    Http.OnHeaderInfo = [this](TCustomWinHTTP*, int status, const std::string& headers,
                               const std::string&, const std::string&, const std::string&,
                               int64_t length, const std::string&, TDateTime, TDateTime, TDateTime,
                               const std::string&, bool&) {
        if (!Running)
            return;
        if (status == 206) {
            const int64_t total = RangeTotal(headers);
            if (total >= 0)
                Total = total;
        } else if (status == 200 && length >= 0) {
            // The whole file in one answer (the server ignored the range).
            Total = length;
        }
    };
    Http.OnProgress = [this](TCustomWinHTTP*, const std::string&, int64_t, int64_t bytesRead,
                             int64_t, int64_t, uint8_t, float, TStream*) {
        if (!Running || !OnProgress)
            return;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - Started).count();
        OnProgress(bytesRead, Total, seconds, seconds > 0 ? double(bytesRead) / seconds : 0.0);
    };
    Http.OnDone = [this](TCustomWinHTTP*, const std::string&, int64_t fileSize, TStream* stream) {
        if (!Running)
            return;
        if (stream) {
            // The answer went to memory: the file could not be written.
            Finish(TResult::frFailed, "The part file cannot be written.");
            return;
        }
        const int64_t end = fileSize;
        WhenIdle([this, end] { PieceDone(end); });
    };
    Http.OnConnLost = [this](TCustomWinHTTP* sender, const std::string&, int64_t, int64_t bytesRead,
                             TStream*) {
        if (Running)
            LostAt = int64_t(sender->ResumeOffset()) + bytesRead;
    };
    Http.OnAnyError = [this](TCustomWinHTTP* sender) {
        if (!Running)
            return;
        const std::string reason = sender->ErrorText();
        if (LostAt >= 0 && ResumeCount < MaxResumes) {
            ++ResumeCount;
            Offset = LostAt;
            LostAt = -1;
            WhenIdle([this] { StartPiece(); });
            return;
        }
        Finish(TResult::frFailed, reason);
    };
    Http.OnAborted = [this](TCustomWinHTTP*) {
        if (Running)
            Finish(TResult::frAborted, "Stopped.");
    };
}

TFormatFetcher::~TFormatFetcher() {
    *Alive = false;
    Running = false;
    Http.WorkerThread().Shutdown();
}

bool TFormatFetcher::Fetch(const TResolvedFormat& format, const std::string& fileName,
                           TProgress progress, TDone done) {
    if (Running || Http.Busy())
        return false;
    Running = true;
    OnDone = std::move(done);
    OnProgress = std::move(progress);
    Url = format.Url;
    ChunkSize = format.ChunkSize > 0 ? std::max(format.ChunkSize, MinChunkSize) : 0;
    // The block of the check above is a small part of a piece.
    Http.SetTransferBufferSize(
        uint32_t(ChunkSize > 0 ? std::clamp<int64_t>(ChunkSize / 4, 256, 4096) : 4096));
    Offset = 0;
    Total = format.FileSize;
    LostAt = -1;
    ResumeCount = 0;
    Started = std::chrono::steady_clock::now();
    Http.OutputFileName = fileName;
    Http.AddHeaders.clear();
    Http.AcceptTypes = "*/*";
    for (const auto& [name, value] : format.Headers) {
        if (LowerCase(name) == "accept")
            Http.AcceptTypes.clear();
        Http.AddHeaders.push_back(name + ": " + value);
    }
    StartPiece();
    return true;
}

void TFormatFetcher::StartPiece() {
    if (!Running)
        return;
    // A request from inside the file starts one block early: the component checks that
    // block against what the file holds before it writes on, so that a file that changed
    // on the server is not patched together from two versions.
    const int64_t block = int64_t(Http.TransferBufferSize());
    const int64_t start = Offset > block ? Offset - block : 0;
    if (start == 0)
        Offset = 0;
    PieceEnd = 0;
    if (ChunkSize > 0) {
        PieceEnd = start + ChunkSize - 1;
        if (Total > 0)
            PieceEnd = std::min(PieceEnd, Total - 1);
    }
    Http.URL = Url;
    if (!Http.ReadRange(uint64_t(start), uint64_t(PieceEnd)))
        Finish(TResult::frFailed, "The transfer could not be started.");
}

void TFormatFetcher::PieceDone(int64_t endOffset) {
    if (!Running)
        return;
    const int64_t asked = PieceEnd > 0 ? PieceEnd - Offset + 1 : 0;
    const int64_t got = endOffset - Offset;
    Offset = endOffset;
    // Done when the whole length has arrived, when the answer was the rest of the file, or
    // when a piece came shorter than asked (the file ended there).
    if ((Total >= 0 && Offset >= Total) || PieceEnd == 0 || got < asked || got <= 0) {
        if (Total >= 0 && Offset < Total) {
            Finish(TResult::frFailed, "The server sent less than the file's length.");
            return;
        }
        Finish(TResult::frDone, "");
        return;
    }
    StartPiece();
}

void TFormatFetcher::Cancel() {
    if (!Running)
        return;
    if (Http.Busy())
        Http.Abort(false, false);
    else
        Finish(TResult::frAborted, "Stopped.");
}

void TFormatFetcher::Finish(TResult result, const std::string& reason) {
    if (!Running)
        return;
    Running = false;
    TDone done = std::move(OnDone);
    OnDone = nullptr;
    OnProgress = nullptr;
    if (done)
        done(result, reason);
}

void TFormatFetcher::WhenIdle(std::function<void()> fn) {
    if (!Running)
        return;
    if (!Http.Busy()) {
        fn();
        return;
    }
    PostToMainThread([this, alive = Alive, fn = std::move(fn)]() mutable {
        if (*alive)
            WhenIdle(std::move(fn));
    });
}

} // namespace cw
