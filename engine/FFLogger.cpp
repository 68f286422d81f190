#include "engine/FFLogger.h"

#include "base/MainThread.h"
#include "engine/FFApi.h"
#include "engine/Text.h"
#include "engine/ThreadId.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cinttypes>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <unordered_map>
#include <vector>

namespace cw {

namespace {

// Process-wide state of the logger. Made on first use; the loader touches it before it makes
// its own state, so it outlives the loader at process end.
struct TLogState {
    std::mutex InstanceLock;
    TFFLogger* Current = nullptr;
    std::unique_ptr<TFFLogger> AutoInstance;

    // Guards the pending texts, the previous piece and the repeat counter.
    std::mutex LogLock;
    // Per thread (by ThreadKey, never reused): text since its last line, and its level.
    std::unordered_map<uint64_t, std::pair<std::string, TLogLevel>> Pending;
    std::string PreviousPiece;
    int RepeatCount = 0;

    std::atomic<int> LibraryLevel{AV_LOG_INFO};

    ~TLogState() {
        std::unique_ptr<TFFLogger> autoInstance;
        {
            std::lock_guard lock(InstanceLock);
            autoInstance = std::move(AutoInstance);
        }
    }
};

TLogState& State() {
    static TLogState state;
    return state;
}

struct TLevelName {
    const char* Name;
    int LibraryLevel;
};
constexpr TLevelName LevelNames[] = {
    {"quiet", AV_LOG_QUIET},     {"panic", AV_LOG_PANIC},     {"fatal", AV_LOG_FATAL},
    {"error", AV_LOG_ERROR},     {"warning", AV_LOG_WARNING}, {"info", AV_LOG_INFO},
    {"verbose", AV_LOG_VERBOSE}, {"debug", AV_LOG_DEBUG},
};

struct TLine {
    uint32_t ThreadId;
    TLogLevel Level;
    std::string Text;
};

// A key for the calling thread that no later thread gets: the system reuses thread ids, and a
// new thread must not inherit the unfinished line of one that has ended.
uint64_t ThreadKey() {
    static std::atomic<uint64_t> last{0};
    thread_local const uint64_t key = ++last;
    return key;
}

const char* ItemName(void* object) {
    const AVClass* cls = *static_cast<const AVClass**>(object);
    if (cls->item_name)
        return cls->item_name(object);
    return cls->class_name ? cls->class_name : "";
}

std::string Address(const void* p) {
    return FormatText("%0*" PRIXPTR, static_cast<int>(sizeof(void*) * 2),
                      reinterpret_cast<uintptr_t>(p));
}

// "[parent @ address] [item @ address]" for a context object; empty without one.
std::string ContextPrefix(void* context) {
    if (!context)
        return {};
    const AVClass* cls = *static_cast<const AVClass**>(context);
    if (!cls)
        return {};
    std::string prefix;
    constexpr int ParentOffsetVersion = (50 << 16) | (15 << 8) | 3;
    if (cls->version >= ParentOffsetVersion && cls->parent_log_context_offset) {
        void* parent = *reinterpret_cast<void**>(static_cast<uint8_t*>(context) +
                                                 cls->parent_log_context_offset);
        if (parent && *static_cast<const AVClass**>(parent))
            prefix = "[" + std::string(ItemName(parent)) + " @ " + Address(parent) + "] ";
    }
    prefix += "[" + std::string(ItemName(context)) + " @ " + Address(context) + "]";
    return prefix;
}

// The whole message, whatever its length: a 2048-byte first attempt, then a buffer that fits.
std::string FormatLibraryMessage(const char* format, va_list args) {
    char first[2048] = {};
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(first, sizeof first, format, copy);
    va_end(copy);
    if (needed < 0)
        return {};
    if (static_cast<size_t>(needed) < sizeof first)
        return std::string(first, static_cast<size_t>(needed));
    std::vector<char> big(std::max<size_t>(4096, static_cast<size_t>(needed) + 1));
    va_copy(copy, args);
    std::vsnprintf(big.data(), big.size(), format, copy);
    va_end(copy);
    return std::string(big.data(), static_cast<size_t>(needed));
}

} // namespace

int LogLevelToLibrary(TLogLevel level) {
    return (static_cast<int>(level) - 1) * 8;
}

TLogLevel LogLevelFromLibrary(int libraryLevel) {
    int t = libraryLevel / 8 + 1;
    if (t < 0)
        return llQuiet;
    if (t >= llDebug)
        return llDebug;
    return static_cast<TLogLevel>(t);
}

TFFLogger::TFFLogger() : Level(LogLevelFromLibrary(State().LibraryLevel.load())) {
    auto& state = State();
    std::unique_ptr<TFFLogger> replaced;
    {
        std::lock_guard lock(state.InstanceLock);
        if (state.Current && !state.Current->AutoCreatedFlag)
            throw std::logic_error("Allow creating only one instance of TFFLogger.");
        replaced = std::move(state.AutoInstance);
        state.Current = this;
    }
    // The auto-created instance goes now; its destructor no longer finds itself current.
}

TFFLogger::TFFLogger(TAutoTag)
    : AutoCreatedFlag(true), Level(LogLevelFromLibrary(State().LibraryLevel.load())) {}

TFFLogger::~TFFLogger() {
    auto& state = State();
    std::lock_guard lock(state.InstanceLock);
    if (state.Current == this)
        state.Current = nullptr;
}

TFFLogger& TFFLogger::Instance() {
    auto& state = State();
    std::lock_guard lock(state.InstanceLock);
    if (!state.Current) {
        state.AutoInstance.reset(new TFFLogger(TAutoTag{}));
        state.Current = state.AutoInstance.get();
    }
    return *state.Current;
}

void TFFLogger::SetLogLevel(TLogLevel level) {
    if (Level.exchange(level) != level)
        ApplyLevel();
}

void TFFLogger::SetLogLevelByName(const std::string& name) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& row : LevelNames) {
        if (lower == row.Name) {
            SetLogLevel(LogLevelFromLibrary(row.LibraryLevel));
            return;
        }
    }
    int value = 0;
    const char* begin = name.data();
    const char* end = name.data() + name.size();
    if (begin != end && *begin == '+')
        ++begin;
    auto [ptr, ec] = std::from_chars(begin, end, value);
    if (name.empty() || ec != std::errc() || ptr != end)
        throw std::invalid_argument("'" + name + "' is not a valid integer value");
    SetLogLevel(LogLevelFromLibrary(value));
}

void TFFLogger::ApplyLevel() {
    if (!ff::av_log_set_level)
        return;
    int libraryLevel = LogLevelToLibrary(Level.load());
    State().LibraryLevel = libraryLevel;
    ff::av_log_set_level(libraryLevel);
}

void TFFLogger::InstallLibraryHook() {
    if (!ff::av_log_set_callback || !ff::av_log_set_level)
        throw std::logic_error("av_log_set_callback and av_log_set_level must be bound");
    ff::av_log_set_callback(&TFFLogger::LibraryCallback);
    ApplyLevel();
}

int TFFLogger::LibraryLevel() {
    return State().LibraryLevel.load();
}

bool TFFLogger::Passes(TLogLevel level) const {
    if (!OnLog)
        return false;
    TLogLevel threshold = Level.load();
    return level <= threshold || (level == llVerbose && threshold != llQuiet);
}

void TFFLogger::Log(TLogLevel level, const std::string& text) {
    if (Passes(level))
        Deliver(CurrentThreadId(), level, text, false);
}

void TFFLogger::LogF(TLogLevel level, const char* format, ...) {
    if (!Passes(level))
        return;
    va_list args;
    va_start(args, format);
    std::string text = FormatTextV(format, args);
    va_end(args);
    Deliver(CurrentThreadId(), level, text, false);
}

void TFFLogger::Deliver(uint32_t threadId, TLogLevel level, const std::string& text,
                        bool fromLibrary) {
    // Library lines, and any line of another thread, are queued for the main thread and the
    // caller goes on: it may hold the codec lock or the interrupt registry's lock, which the
    // main thread may be waiting for. The handler then runs with neither held. Engine lines
    // of the main thread itself are delivered at once.
    if (TriggerEventInMainThread && (fromLibrary || !IsMainThread())) {
        PostToMainThread([this, threadId, level, text] {
            {
                // The logger may have gone while the line waited.
                auto& state = State();
                std::lock_guard lock(state.InstanceLock);
                if (state.Current != this)
                    return;
            }
            // Nobody waits for a queued line: its handler's error goes nowhere.
            RunHandler(threadId, level, text, false);
        });
        return;
    }
    // A handler's error must not unwind through the library's C frames.
    RunHandler(threadId, level, text, !fromLibrary);
}

void TFFLogger::RunHandler(uint32_t threadId, TLogLevel level, const std::string& text,
                           bool passErrors) {
    TLogEvent handler = OnLog;
    if (!handler)
        return;
    try {
        handler(this, threadId, level, text);
    } catch (...) {
        if (passErrors)
            throw;
    }
}

void TFFLogger::FlushThread() {
    auto& state = State();
    std::string text;
    TLogLevel level = llInfo;
    {
        std::lock_guard lock(state.LogLock);
        auto it = state.Pending.find(ThreadKey());
        if (it == state.Pending.end())
            return;
        text = std::move(it->second.first);
        level = it->second.second;
        state.Pending.erase(it);
    }
    if (text.empty())
        return;
    TFFLogger* logger;
    {
        std::lock_guard lock(state.InstanceLock);
        logger = state.Current;
    }
    if (logger)
        logger->Deliver(CurrentThreadId(), level, text, true);
}

void TFFLogger::LibraryCallback(void* context, int level, const char* format, va_list args) {
    int plainLevel = level >= 0 ? (level & 0xff) : level; // strip the colour bits
    auto& state = State();
    if (plainLevel > state.LibraryLevel.load())
        return;

    uint32_t threadId = CurrentThreadId();
    const uint64_t key = ThreadKey();
    TLogLevel lineLevel = LogLevelFromLibrary(plainLevel);
    std::vector<TLine> lines;
    {
        std::lock_guard lock(state.LogLock);
        std::string prefix = ContextPrefix(context);
        std::string message = FormatLibraryMessage(format, args);
        auto& entry = state.Pending[key];
        std::string& pending = entry.first;
        if (pending.empty())
            entry.second = lineLevel;
        std::string piece = pending.empty() ? prefix + message : message;
        if (!piece.empty() && piece.back() == '\n' && piece == state.PreviousPiece) {
            ++state.RepeatCount;
            if (pending.empty())
                state.Pending.erase(key);
            return;
        }
        pending += piece;
        if (state.RepeatCount > 0) {
            lines.push_back({threadId, lineLevel,
                             FormatText("    Last message repeated %d times", state.RepeatCount)});
            state.RepeatCount = 0;
        }
        state.PreviousPiece = piece;
        size_t feed;
        while ((feed = pending.find('\n')) != std::string::npos) {
            lines.push_back({threadId, lineLevel, pending.substr(0, feed)});
            pending.erase(0, feed + 1);
        }
        if (pending.empty())
            state.Pending.erase(key); // same as an item with no text; keeps the map small
    }

    // Handed on after the lock is released.
    if (lines.empty())
        return;
    TFFLogger* logger;
    {
        std::lock_guard lock(state.InstanceLock);
        logger = state.Current;
    }
    if (!logger)
        return;
    for (const auto& line : lines)
        logger->Deliver(line.ThreadId, line.Level, line.Text, true);
}

} // namespace cw
