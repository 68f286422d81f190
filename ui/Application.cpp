#include "ui/Application.h"

#include <cstdio>
#include <exception>

namespace cw {

bool TApplication::notify(QObject* receiver, QEvent* event) {
    std::string error;
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "unknown error";
    }
    const std::string line = "Error while handling an event: " + error;
    std::fprintf(stderr, "clipwright: %s\n", line.c_str());
    if (OnError)
        OnError(line);
    return false;
}

} // namespace cw
