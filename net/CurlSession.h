// The libcurl session of the HTTP transfer component: the process's one libcurl set-up, the
// share of cookies, names and connections (one kind of share, used by the session and by each
// connection pool), the handles a component keeps between transfers, and the registry through
// which a connection that outlives its transfer still reaches its component's status handler.
#pragma once

#include <curl/curl.h>

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace cw {

// A libcurl share: the kinds of data named at construction are shared by every request
// handle that uses it, each kind under its own lock.
class TCurlShare {
public:
    explicit TCurlShare(std::initializer_list<curl_lock_data> shared);
    ~TCurlShare();
    TCurlShare(const TCurlShare&) = delete;
    TCurlShare& operator=(const TCurlShare&) = delete;
    CURLSH* Handle() const { return ShareHandle; }

private:
    static void LockData(CURL*, curl_lock_data data, curl_lock_access, void* user);
    static void UnlockData(CURL*, curl_lock_data data, void* user);
    std::array<std::mutex, CURL_LOCK_DATA_LAST> Locks;
    CURLSH* ShareHandle = nullptr;
};

// Connections kept open for several components that never work at the same time (the three
// of the download queue): a request of one reuses a connection another one left open to the
// same host. The pool also holds their cookies and name cache.
class TConnectionPool {
public:
    TConnectionPool();
    ~TConnectionPool();
    TConnectionPool(const TConnectionPool&) = delete;
    TConnectionPool& operator=(const TConnectionPool&) = delete;
    CURLSH* Share() const { return Shared.Handle(); }

private:
    TCurlShare Shared;
};

// One libcurl set-up for the process, with a cookie store (and name cache) shared by every
// transfer outside a pool, the way the system's internet layer keeps one store per process.
// It also knows the status receivers of the components by number: a kept connection may be
// closed long after the component that opened it is gone, and then nobody hears of it.
class TCurlSession {
public:
    using TReport = std::function<void(const std::shared_ptr<void>&, int)>;

    static TCurlSession& Get();
    CURLSH* Share() const { return Cookies.Handle(); }

    uintptr_t AddSink(std::weak_ptr<void> sink, TReport report);
    void RemoveSink(uintptr_t id);
    // Hands status to the receiver with number id, when it is still there.
    void Report(uintptr_t id, int status);

private:
    TCurlSession();
    TCurlShare Cookies;
    std::mutex SinkLock;
    uintptr_t LastSink = 0;
    std::map<uintptr_t, std::pair<std::weak_ptr<void>, TReport>> Sinks;
};

struct TCurlEasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct TCurlMultiDeleter {
    void operator()(CURLM* h) const { curl_multi_cleanup(h); }
};
struct TCurlListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct TCurlUrlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
using TCurlEasy = std::unique_ptr<CURL, TCurlEasyDeleter>;
using TCurlMulti = std::unique_ptr<CURLM, TCurlMultiDeleter>;
using TCurlList = std::unique_ptr<curl_slist, TCurlListDeleter>;
using TCurlUrl = std::unique_ptr<CURLU, TCurlUrlDeleter>;

// The libcurl multi handle a component keeps between transfers, with the connections it left
// open, so that the next request goes out on one of them. The pool, when there is one,
// outlives the handles that use it.
struct TCurlHandles {
    std::shared_ptr<TConnectionPool> Pool;
    TCurlMulti Multi;
    ~TCurlHandles() { Multi.reset(); }
};

} // namespace cw
