// The window program's application object: an exception that escapes an event handler is
// caught where Qt delivers the event and becomes a log line, instead of ending the program.
#pragma once

#include <QApplication>

#include <functional>
#include <string>

namespace cw {

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

    bool notify(QObject* receiver, QEvent* event) override;

    // Receives the worded failure; without one it goes to stderr only.
    std::function<void(const std::string&)> OnError;
};

} // namespace cw
