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

void TDownloadSession::QueueChanged(const std::vector<TDownloadItem>& items) {
    Rows.SetItems(items);
    View.QueueChanged(items);
}

void TDownloadSession::ItemChanged(int index, const TDownloadItem& item) {
    if (!Rows.Item(index))
        return;
    Rows.SetItem(index, item);
    View.ItemChanged(index, item);
}

void TDownloadSession::LabelsChanged(const TDownloadLabels& labels) {
    View.LabelsChanged(labels);
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
