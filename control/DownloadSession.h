// The download queue with its table: the session runs the queue for a window or a command
// line. The queue reports to the session, which keeps the queue's rows in an item model and
// passes every report on to its view (the window's pages or the command line); the view runs
// the posted steps and shows the status texts, the end of the run, a script error and a log
// line.
#pragma once

#include "download/DownloadQueue.h"
#include "download/QueueModel.h"

#include <memory>
#include <string>
#include <vector>

namespace cw {

class TCustomScript;
class THostScriptlet;
struct TGlobalVars;

class TDownloadSession : public IDownloadView {
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

    // What the queue reports.
    void PostStep(TDownloadStep step) override;
    void QueueChanged(const std::vector<TDownloadItem>& items) override;
    void ItemChanged(int index, const TDownloadItem& item) override;
    void LabelsChanged(const TDownloadLabels& labels) override;
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
