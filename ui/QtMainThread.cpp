#include "ui/QtMainThread.h"

#include <QMetaObject>
#include <QThread>

namespace cw {

TQtMainThreadDispatcher::TQtMainThreadDispatcher() = default;

TQtMainThreadDispatcher::~TQtMainThreadDispatcher() {
    // Calls still queued run now, so that no worker stays blocked on a call that never runs.
    if (IsMainThread())
        ServePendingCalls();
}

bool TQtMainThreadDispatcher::IsMainThread() const {
    return QThread::currentThread() == thread();
}

void TQtMainThreadDispatcher::CallQueued() {
    // One queued drain at a time is enough: it serves everything queued before it runs.
    if (!DrainScheduled.exchange(true))
        QMetaObject::invokeMethod(
            this,
            [this] {
                DrainScheduled = false;
                ServePendingCalls();
            },
            Qt::QueuedConnection);
}

} // namespace cw
