// The window program's main-thread dispatcher: calls from worker threads become queued calls
// on the Qt event loop of the thread that created the dispatcher (the GUI thread). The queue
// itself is the plain one of base/; this class only wakes the event loop to serve it.
#pragma once

#include "base/MainThread.h"

#include <QObject>

#include <atomic>

namespace cw {

class TQtMainThreadDispatcher : public QObject, public TQueueDispatcher {
    Q_OBJECT
public:
    // Construct on the GUI thread, after the application object.
    TQtMainThreadDispatcher();
    ~TQtMainThreadDispatcher() override;

    bool IsMainThread() const override;

protected:
    void CallQueued() override;

private:
    std::atomic<bool> DrainScheduled{false};
};

} // namespace cw
