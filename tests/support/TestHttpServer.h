// A small HTTP server on 127.0.0.1 for tests and benchmarks, on a port chosen at run time.
//
// Built-in routes (sizes in bytes, times in milliseconds; bodies are PatternBody(0, size)
// unless said otherwise, generated while they are sent):
//   /body?size=N[&type=T]           N bytes with Content-Length (any size, also very large)
//   /nolength?size=N[&mode=close]   N bytes without Content-Length: chunked, or ended by
//                                   closing the connection with mode=close
//   /status/CODE[?body=TEXT]        that status with TEXT as the body
//   /cut?size=N&send=M              announces N bytes, sends M, then drops the connection
//   /trickle?size=N&chunk=C&delay=D N bytes, C at a time, D ms apart
//   /stall?send=M[&size=N]          announces N (default 1 MiB), sends M, then nothing until
//                                   the server stops
//   /range?size=N                   one "bytes=A-B" range: 206 with Content-Range, 416 when A
//                                   is past the end, 200 for the whole body without Range
//   /norange?size=N                 ignores Range: always 200 with the whole body
//   /auth[?user=U&pass=P]           Basic authentication (default AuthUser/AuthPassword):
//                                   200 "welcome", else 401 with realm AuthRealm
//   /redirect?to=PATH[&code=C][&K=V...]
//                                   redirect (302 by default) to PATH?K=V... (PATH may be
//                                   any address, file:///etc/hostname say)
//   /loop?n=N                       302 to /loop?n=N+1, for ever
//   /endless[?type=T]               200 without a length, chunked, never ending (until the
//                                   client goes or the server stops); text/html by default
//   /echo                           200 text: the request target as received, then one
//                                   "Name: value" line per request header, then the body
//   /headers?NAME=VALUE&...         200 "ok" with each parameter as a response header
//
// More routes: pass a setup function to the constructor; it registers handlers on the
// httplib::Server before the server starts (the server object is also handed over, for
// URLs and the stop flag).
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace cw::test {

struct TRecordedRequest {
    std::string Method;
    std::string Target; // as received, escapes included
    std::string Path;   // decoded, without the query
    httplib::Headers Headers;
    std::string Body;
    int RemotePort = 0; // the client's port: the same one for requests on one connection
    std::string Header(const std::string& name) const;
};

class TTestHttpServer {
public:
    using TRouteSetup = std::function<void(httplib::Server& server, TTestHttpServer& self)>;

    static constexpr const char* AuthUser = "clip";
    static constexpr const char* AuthPassword = "wright";
    static constexpr const char* AuthRealm = "Clipwright test";
    // How long an idle connection stays open: longer than any test.
    static constexpr time_t IdleConnectionSeconds = 600;

    explicit TTestHttpServer(const TRouteSetup& extraRoutes = {});
    ~TTestHttpServer();
    TTestHttpServer(const TTestHttpServer&) = delete;
    TTestHttpServer& operator=(const TTestHttpServer&) = delete;

    int Port() const { return PortNumber; }
    std::string BaseUrl() const; // http://127.0.0.1:PORT
    std::string Url(const std::string& pathAndQuery) const;

    // Every request seen, in arrival order (recorded before it is answered).
    std::vector<TRecordedRequest> Requests() const;
    std::optional<TRecordedRequest> LastRequest(const std::string& path) const;
    int RequestCount(const std::string& path) const;
    void ClearRequests();

    // Stops listening and ends stalled and slow answers. The destructor calls it.
    void Stop();
    bool Stopping() const { return StopFlag.load(); }
    // Sleeps for the given time unless the server stops first; false when it stopped.
    bool PauseUnlessStopping(std::chrono::milliseconds time) const;

    // The deterministic body bytes: byte number index of every generated body.
    static char PatternByte(uint64_t index);
    static std::string PatternBody(uint64_t offset, uint64_t size);
    // Writes size pattern bytes starting at offset into the sink; false when it failed.
    static bool WritePattern(httplib::DataSink& sink, uint64_t offset, uint64_t size);
    // A URL on 127.0.0.1 where nothing listens.
    static std::string ClosedPortUrl(const std::string& pathAndQuery = "/");

private:
    void AddBuiltInRoutes();

    httplib::Server Server;
    std::thread Listener;
    int PortNumber = 0;
    std::atomic<bool> StopFlag{false};
    mutable std::mutex Lock;
    mutable std::condition_variable StopSignal;
    std::vector<TRecordedRequest> Recorded;
    std::map<const httplib::Request*, size_t> InFlight; // index in Recorded
};

} // namespace cw::test
