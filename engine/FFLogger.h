// The engine's one logger. Two streams feed it: the engine's own messages (Log, LogF) and the
// media libraries' messages, which arrive through the callback that InstallLibraryHook puts
// into libavutil. Library messages come in fragments; they are collected per thread and cut
// into whole lines, runs of the same line are folded into a "repeated" line, and every line
// reaches OnLog, on the main thread unless TriggerEventInMainThread is cleared. Lines for the
// main thread are queued there (base/MainThread.h) without the logging thread waiting, except
// the engine's own lines logged on the main thread, which arrive at once.
#pragma once

#include "engine/FFBaseComponent.h"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <string>

namespace cw {

enum TLogLevel : int {
    llQuiet,   // library level -8
    llPanic,   // 0
    llFatal,   // 8
    llError,   // 16
    llWarning, // 24
    llInfo,    // 32
    llVerbose, // 40
    llDebug    // 48
};

// (ordinal - 1) * 8.
int LogLevelToLibrary(TLogLevel level);
// n / 8 (truncated) + 1, limited to llQuiet .. llDebug.
TLogLevel LogLevelFromLibrary(int libraryLevel);

class TFFLogger;
// Sender, id of the thread that produced the line, level, one line without line break.
using TLogEvent = std::function<void(TFFLogger* sender, uint32_t threadId, TLogLevel level,
                                     const std::string& message)>;

class TFFLogger : public TFFBaseComponent {
public:
    // Creates the process's logger. An instance made on demand by Instance() is freed first;
    // a second explicit instance is a programming error (std::logic_error).
    TFFLogger();
    ~TFFLogger() override;
    TFFLogger(const TFFLogger&) = delete;
    TFFLogger& operator=(const TFFLogger&) = delete;

    // The current instance; creates one on demand (marked auto-created) when there is none.
    static TFFLogger& Instance();
    bool AutoCreated() const { return AutoCreatedFlag; }

    // Deliver OnLog on the main thread (base/MainThread.h), waiting for it there.
    std::atomic<bool> TriggerEventInMainThread{true};
    // The line handler. Without one nothing is formatted or delivered.
    TLogEvent OnLog;

    TLogLevel LogLevel() const { return Level.load(); }
    // Stores the level and, when the libraries are bound, applies it to them.
    void SetLogLevel(TLogLevel level);
    // "quiet" .. "debug" in any letter case, or a decimal library level. Anything else throws
    // std::invalid_argument.
    void SetLogLevelByName(const std::string& name);

    // Engine messages: delivered when OnLog is set and the level is not above LogLevel, and
    // verbose messages whenever the logger is not quiet.
    void Log(TLogLevel level, const std::string& text);
    void LogF(TLogLevel level, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // Puts the logger's callback into libavutil and applies LogLevel. av_log_set_callback and
    // av_log_set_level must be bound (std::logic_error otherwise).
    void InstallLibraryHook();

    // The level last applied to the libraries (32 until a level has been applied).
    static int LibraryLevel();
    // The callback handed to av_log_set_callback.
    static void LibraryCallback(void* context, int level, const char* format, va_list args);
    // Delivers the calling thread's unfinished library line, if any, as a line of its own;
    // called when a task ends on its thread, so the text is neither lost nor glued to a
    // later line.
    static void FlushThread();

private:
    struct TAutoTag {};
    explicit TFFLogger(TAutoTag);
    bool Passes(TLogLevel level) const;
    void Deliver(uint32_t threadId, TLogLevel level, const std::string& text, bool fromLibrary);
    // Calls OnLog; the handler's error goes on to the caller only when passErrors is set.
    void RunHandler(uint32_t threadId, TLogLevel level, const std::string& text, bool passErrors);
    void ApplyLevel();

    bool AutoCreatedFlag = false;
    std::atomic<TLogLevel> Level;
};

} // namespace cw
