// The download queue with its table: the session runs the queue for a window or a command
// line, keeps the queue's rows in an item model as the queue reports them, and hands on to
// its view what the view alone can do: run a posted step later, show the status texts, the
// end of the run, a script error and a log line.
#pragma once

#include "download/DownloadQueue.h"
#include "download/QueueModel.h"

#include <memory>
#include <string>

namespace cw {

class TCustomScript;
class THostScriptlet;
struct TGlobalVars;

// What shows a download run: the window's pages or the command line. The rows are in the
// session's model; everything else the run reports comes here.
class IDownloadView {
public:
    virtual ~IDownloadView() = default;
    // Queues the step; the view hands it to the queue's HandleStep later on the main thread,
    // after the current handler has returned, in posting order.
    virtual void PostStep(TDownloadStep step) = 0;
    // The status texts beside the table changed.
    virtual void LabelsChanged(const TDownloadLabels& labels) = 0;
    // The run is over; the counts are in the state record (URLTotal, URLSucceeded,
    // DownloadedFiles).
    virtual void RunEnded() = 0;
    // A script error, worded "Error: Line number %d, %s".
    virtual void ScriptError(const std::string& message) = 0;
    // A line for the log.
    virtual void Log(const std::string& line) { (void)line; }
};

class TDownloadSession : public IDownloadHost {
public:
    // The script host must hold the host item; see TDownloadQueue. rows: the table the
    // session fills; it is emptied first.
    TDownloadSession(TGlobalVars& vars, TCustomScript& scriptHost,
                     std::shared_ptr<THostScriptlet> hostItem, TQueueModel& rows,
                     IDownloadView& view);
    ~TDownloadSession() override;
    TDownloadSession(const TDownloadSession&) = delete;
    TDownloadSession& operator=(const TDownloadSession&) = delete;

    TDownloadQueue& Queue() { return *DownloadQueue; }
    // The queue's rows, as the queue last reported them.
    TQueueModel& Model() { return Rows; }

    // IDownloadHost
    void PostStep(TDownloadStep step) override;
    void QueueChanged() override;
    void ItemChanged(int index) override;
    void LabelsChanged() override;
    void RunEnded() override;
    void ScriptError(const std::string& message) override;
    void Log(const std::string& line) override;

private:
    IDownloadView& View;
    // Outlives the queue, which reports to nothing once it is gone.
    TQueueModel& Rows;
    std::unique_ptr<TDownloadQueue> DownloadQueue;
};

} // namespace cw
