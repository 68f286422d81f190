#include "net/CurlSession.h"

namespace cw {

namespace {

// libcurl's global set-up, made before the first share and undone after the last static one.
void InitCurlOnce() {
    struct TGlobalInit {
        TGlobalInit() { curl_global_init(CURL_GLOBAL_DEFAULT); }
        ~TGlobalInit() { curl_global_cleanup(); }
    };
    static TGlobalInit init;
}

} // namespace

// ---- TCurlShare ----

TCurlShare::TCurlShare(std::initializer_list<curl_lock_data> shared) {
    InitCurlOnce();
    ShareHandle = curl_share_init();
    curl_share_setopt(ShareHandle, CURLSHOPT_LOCKFUNC, &TCurlShare::LockData);
    curl_share_setopt(ShareHandle, CURLSHOPT_UNLOCKFUNC, &TCurlShare::UnlockData);
    curl_share_setopt(ShareHandle, CURLSHOPT_USERDATA, this);
    for (curl_lock_data data : shared)
        curl_share_setopt(ShareHandle, CURLSHOPT_SHARE, data);
}

TCurlShare::~TCurlShare() {
    curl_share_cleanup(ShareHandle);
}

void TCurlShare::LockData(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<TCurlShare*>(user)->Locks[size_t(data) % CURL_LOCK_DATA_LAST].lock();
}

void TCurlShare::UnlockData(CURL*, curl_lock_data data, void* user) {
    static_cast<TCurlShare*>(user)->Locks[size_t(data) % CURL_LOCK_DATA_LAST].unlock();
}

// ---- TConnectionPool ----

TConnectionPool::TConnectionPool()
    : Shared{CURL_LOCK_DATA_COOKIE, CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_CONNECT} {
    TCurlSession::Get();
}

TConnectionPool::~TConnectionPool() = default;

// ---- TCurlSession ----

TCurlSession& TCurlSession::Get() {
    static TCurlSession session;
    return session;
}

TCurlSession::TCurlSession() : Cookies{CURL_LOCK_DATA_COOKIE, CURL_LOCK_DATA_DNS} {}

uintptr_t TCurlSession::AddSink(std::weak_ptr<void> sink, TReport report) {
    std::lock_guard<std::mutex> guard(SinkLock);
    const uintptr_t id = ++LastSink;
    Sinks[id] = {std::move(sink), std::move(report)};
    return id;
}

void TCurlSession::RemoveSink(uintptr_t id) {
    std::lock_guard<std::mutex> guard(SinkLock);
    Sinks.erase(id);
}

void TCurlSession::Report(uintptr_t id, int status) {
    std::shared_ptr<void> sink;
    TReport report;
    {
        std::lock_guard<std::mutex> guard(SinkLock);
        auto it = Sinks.find(id);
        if (it == Sinks.end())
            return;
        sink = it->second.first.lock();
        report = it->second.second;
    }
    if (sink && report)
        report(sink, status);
}

} // namespace cw
