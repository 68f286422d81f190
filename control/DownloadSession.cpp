#include "control/DownloadSession.h"

namespace cw {

TDownloadSession::TDownloadSession(TGlobalVars& vars, TCustomScript& scriptHost,
                                   std::shared_ptr<THostScriptlet> hostItem, TQueueModel& rows,
                                   IDownloadView& view)
    : View(view), Rows(rows), DownloadQueue(std::make_unique<TDownloadQueue>(
                                  vars, scriptHost, std::move(hostItem), *this)) {
    Rows.Clear();
}

TDownloadSession::~TDownloadSession() {
    DownloadQueue.reset();
}

void TDownloadSession::PostStep(TDownloadStep step) {
    View.PostStep(step);
}

void TDownloadSession::QueueChanged() {
    Rows.SetItems(DownloadQueue->Items());
}

void TDownloadSession::ItemChanged(int index) {
    const std::vector<TDownloadItem>& items = DownloadQueue->Items();
    if (index < 0 || index >= int(items.size()))
        return;
    Rows.SetItem(index, items[size_t(index)]);
}

void TDownloadSession::LabelsChanged() {
    View.LabelsChanged(DownloadQueue->Labels());
}

void TDownloadSession::RunEnded() {
    View.RunEnded();
}

void TDownloadSession::ScriptError(const std::string& message) {
    View.ScriptError(message);
}

void TDownloadSession::Log(const std::string& line) {
    View.Log(line);
}

} // namespace cw
