#include "cli/Commands.h"

#include "app/Platform.h"
#include "control/LogindPower.h"

#include <QCoreApplication>

#include <clocale>

namespace cw::cli {

struct TRunSleepLock::TParts {
    // The message bus wants an application object; a command that has none gets one here.
    int Argc = 1;
    char Name[16] = "clipwright-cli";
    char* Argv[2] = {Name, nullptr};
    std::unique_ptr<QCoreApplication> App;
    std::unique_ptr<TLogindPowerService> Power;
    IPowerService* Previous = nullptr;
};

TRunSleepLock::TRunSleepLock() : Parts(std::make_unique<TParts>()) {
    if (!QCoreApplication::instance()) {
        Parts->App = std::make_unique<QCoreApplication>(Parts->Argc, Parts->Argv);
        // The application object takes the user's locale; the engine's option texts and
        // numbers are read and written with a decimal point whatever it is.
        std::setlocale(LC_NUMERIC, "C");
    }
    Parts->Power = std::make_unique<TLogindPowerService>();
    Parts->Previous = SetPowerService(Parts->Power.get());
}

TRunSleepLock::~TRunSleepLock() {
    SetPowerService(Parts->Previous);
}

} // namespace cw::cli
