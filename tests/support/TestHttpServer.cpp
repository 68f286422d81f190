#include "tests/support/TestHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace cw::test {

namespace {

// Bodies repeat with a prime period, so that an offset error shows in the data.
constexpr uint64_t Period = 65521;
constexpr uint64_t ChunkSize = 128 * 1024;

const std::vector<char>& PatternTable() {
    static const std::vector<char> table = [] {
        std::vector<char> t(Period + ChunkSize);
        for (uint64_t i = 0; i < t.size(); ++i) {
            const uint64_t j = i % Period;
            t[i] = char(((j * 2654435761u) >> 13) ^ (j >> 5));
        }
        return t;
    }();
    return table;
}

uint64_t ParamNumber(const httplib::Request& req, const std::string& name, uint64_t fallback) {
    if (!req.has_param(name))
        return fallback;
    try {
        return std::stoull(req.get_param_value(name));
    } catch (...) {
        return fallback;
    }
}

// This server answers ranges itself, route by route; the library must not apply them again.
void TakeOverRanges(const httplib::Request& req) {
    const_cast<httplib::Request&>(req).ranges.clear();
}

// "bytes=A-B" or "bytes=A-": false when absent or in another form.
bool ParseRange(const std::string& header, uint64_t& start, std::optional<uint64_t>& end) {
    const std::string prefix = "bytes=";
    if (header.compare(0, prefix.size(), prefix) != 0)
        return false;
    const std::string ranges = header.substr(prefix.size());
    const size_t dash = ranges.find('-');
    if (dash == std::string::npos || dash == 0 || ranges.find(',') != std::string::npos)
        return false;
    try {
        start = std::stoull(ranges.substr(0, dash));
        end.reset();
        if (dash + 1 < ranges.size())
            end = std::stoull(ranges.substr(dash + 1));
    } catch (...) {
        return false;
    }
    return true;
}

std::string Base64(const std::string& in) {
    static const char* const Digits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < in.size(); i += 3) {
        uint32_t n = uint32_t(static_cast<unsigned char>(in[i])) << 16;
        if (i + 1 < in.size())
            n |= uint32_t(static_cast<unsigned char>(in[i + 1])) << 8;
        if (i + 2 < in.size())
            n |= uint32_t(static_cast<unsigned char>(in[i + 2]));
        out += Digits[(n >> 18) & 63];
        out += Digits[(n >> 12) & 63];
        out += i + 1 < in.size() ? Digits[(n >> 6) & 63] : '=';
        out += i + 2 < in.size() ? Digits[n & 63] : '=';
    }
    return out;
}

} // namespace

std::string TRecordedRequest::Header(const std::string& name) const {
    for (const auto& [key, value] : Headers)
        if (std::equal(key.begin(), key.end(), name.begin(), name.end(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            }))
            return value;
    return {};
}

char TTestHttpServer::PatternByte(uint64_t index) {
    return PatternTable()[index % Period];
}

std::string TTestHttpServer::PatternBody(uint64_t offset, uint64_t size) {
    std::string out;
    out.reserve(size);
    while (out.size() < size) {
        const uint64_t at = (offset + out.size()) % Period;
        const uint64_t n = std::min<uint64_t>(size - out.size(), ChunkSize);
        out.append(PatternTable().data() + at, n);
    }
    return out;
}

bool TTestHttpServer::WritePattern(httplib::DataSink& sink, uint64_t offset, uint64_t size) {
    while (size > 0) {
        const uint64_t n = std::min(size, ChunkSize);
        if (!sink.write(PatternTable().data() + offset % Period, n))
            return false;
        offset += n;
        size -= n;
    }
    return true;
}

std::string TTestHttpServer::ClosedPortUrl(const std::string& pathAndQuery) {
    // A port bound to a socket that never listens: a connection there is refused, and no
    // other server of this process or another can take the port while the socket is held.
    // The sockets stay open until the process ends.
    static std::mutex lock;
    static std::vector<int> held;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof(addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("cannot find a free port");
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        held.push_back(fd);
    }
    return "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + pathAndQuery;
}

TTestHttpServer::TTestHttpServer(const TRouteSetup& extraRoutes) {
    // Idle connections are kept for the whole test (a test that counts connections must not
    // see one dropped because the machine was slow between two requests).
    Server.set_keep_alive_timeout(IdleConnectionSeconds);
    // Requests are recorded when they arrive (a stalled answer never finishes); the body,
    // read later, is added once the request has been answered.
    Server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        TRecordedRequest r{req.method,  req.target, req.path,
                           req.headers, req.body,   req.remote_port};
        std::lock_guard<std::mutex> guard(Lock);
        InFlight[&req] = Recorded.size();
        Recorded.push_back(std::move(r));
        return httplib::Server::HandlerResponse::Unhandled;
    });
    Server.set_post_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        std::lock_guard<std::mutex> guard(Lock);
        auto it = InFlight.find(&req);
        if (it == InFlight.end())
            return;
        if (it->second < Recorded.size())
            Recorded[it->second].Body = req.body;
        InFlight.erase(it);
    });
    AddBuiltInRoutes();
    if (extraRoutes)
        extraRoutes(Server, *this);
    PortNumber = Server.bind_to_any_port("127.0.0.1");
    if (PortNumber <= 0)
        throw std::runtime_error("test server cannot bind to 127.0.0.1");
    Listener = std::thread([this] { Server.listen_after_bind(); });
    while (!Server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TTestHttpServer::~TTestHttpServer() {
    Stop();
}

void TTestHttpServer::Stop() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        StopFlag = true;
    }
    StopSignal.notify_all();
    Server.stop();
    if (Listener.joinable())
        Listener.join();
}

bool TTestHttpServer::PauseUnlessStopping(std::chrono::milliseconds time) const {
    std::unique_lock<std::mutex> lock(Lock);
    return !StopSignal.wait_for(lock, time, [&] { return StopFlag.load(); });
}

std::string TTestHttpServer::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(PortNumber);
}

std::string TTestHttpServer::Url(const std::string& pathAndQuery) const {
    return BaseUrl() + pathAndQuery;
}

std::vector<TRecordedRequest> TTestHttpServer::Requests() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Recorded;
}

std::optional<TRecordedRequest> TTestHttpServer::LastRequest(const std::string& path) const {
    std::lock_guard<std::mutex> guard(Lock);
    for (auto it = Recorded.rbegin(); it != Recorded.rend(); ++it)
        if (it->Path == path)
            return *it;
    return std::nullopt;
}

int TTestHttpServer::RequestCount(const std::string& path) const {
    std::lock_guard<std::mutex> guard(Lock);
    return int(std::count_if(Recorded.begin(), Recorded.end(),
                             [&](const TRecordedRequest& r) { return r.Path == path; }));
}

void TTestHttpServer::ClearRequests() {
    std::lock_guard<std::mutex> guard(Lock);
    Recorded.clear();
    InFlight.clear();
}

void TTestHttpServer::AddBuiltInRoutes() {
    Server.Get("/body", [](const httplib::Request& req, httplib::Response& res) {
        const uint64_t size = ParamNumber(req, "size", 0);
        const std::string type =
            req.has_param("type") ? req.get_param_value("type") : "application/octet-stream";
        TakeOverRanges(req);
        res.set_content_provider(
            size, type, [](size_t offset, size_t length, httplib::DataSink& sink) {
                return WritePattern(sink, offset, std::min<uint64_t>(length, ChunkSize));
            });
    });

    Server.Get("/nolength", [](const httplib::Request& req, httplib::Response& res) {
        const uint64_t size = ParamNumber(req, "size", 0);
        auto provider = [size](size_t offset, httplib::DataSink& sink) {
            if (offset >= size) {
                sink.done();
                return true;
            }
            return WritePattern(sink, offset, std::min<uint64_t>(size - offset, ChunkSize));
        };
        TakeOverRanges(req);
        if (req.get_param_value("mode") == "close") {
            // The end of the body is the end of the connection.
            res.set_content_provider(
                "application/octet-stream", [size](size_t offset, httplib::DataSink& sink) {
                    if (offset >= size)
                        return false;
                    return WritePattern(sink, offset, std::min<uint64_t>(size - offset, ChunkSize));
                });
        } else
            res.set_chunked_content_provider("application/octet-stream", provider);
    });

    Server.Get(R"(/status/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        res.status = std::stoi(req.matches[1]);
        res.set_content(req.get_param_value("body"), "text/plain");
    });

    Server.Get("/cut", [](const httplib::Request& req, httplib::Response& res) {
        const uint64_t size = ParamNumber(req, "size", 1000);
        const uint64_t send = std::min(ParamNumber(req, "send", 0), size);
        TakeOverRanges(req);
        res.set_content_provider(
            size, "application/octet-stream",
            [send](size_t offset, size_t, httplib::DataSink& sink) {
                if (offset >= send)
                    return false; // drops the connection
                return WritePattern(sink, offset, std::min<uint64_t>(send - offset, ChunkSize));
            });
    });

    Server.Get("/trickle", [this](const httplib::Request& req, httplib::Response& res) {
        const uint64_t size = ParamNumber(req, "size", 1000);
        const uint64_t chunk = std::max<uint64_t>(ParamNumber(req, "chunk", 100), 1);
        const auto delay = std::chrono::milliseconds(ParamNumber(req, "delay", 100));
        TakeOverRanges(req);
        res.set_content_provider(
            size, "application/octet-stream",
            [this, chunk, delay](size_t offset, size_t length, httplib::DataSink& sink) {
                if (offset > 0 && !PauseUnlessStopping(delay))
                    return false;
                return WritePattern(sink, offset, std::min<uint64_t>(length, chunk));
            });
    });

    Server.Get("/stall", [this](const httplib::Request& req, httplib::Response& res) {
        const uint64_t size = ParamNumber(req, "size", 1 << 20);
        const uint64_t send = std::min(ParamNumber(req, "send", 0), size);
        TakeOverRanges(req);
        res.set_content_provider(size, "application/octet-stream",
                                 [this, send](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset < send)
                                         return WritePattern(sink, offset, send - offset);
                                     PauseUnlessStopping(std::chrono::seconds(60));
                                     return false;
                                 });
    });

    auto rangeRoute = [](bool honour) {
        return [honour](const httplib::Request& req, httplib::Response& res) {
            const uint64_t size = ParamNumber(req, "size", 1000);
            TakeOverRanges(req);
            uint64_t start = 0;
            std::optional<uint64_t> end;
            uint64_t first = 0, length = size;
            if (honour && ParseRange(req.get_header_value("Range"), start, end)) {
                if (start >= size) {
                    res.status = 416;
                    res.set_header("Content-Range", "bytes */" + std::to_string(size));
                    return;
                }
                const uint64_t last = std::min(end.value_or(size - 1), size - 1);
                first = start;
                length = last - start + 1;
                res.status = 206;
                res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                    std::to_string(last) + "/" +
                                                    std::to_string(size));
            } else {
                res.status = 200;
            }
            res.set_content_provider(
                length, "application/octet-stream",
                [first](size_t offset, size_t remaining, httplib::DataSink& sink) {
                    return WritePattern(sink, first + offset,
                                        std::min<uint64_t>(remaining, ChunkSize));
                });
        };
    };
    Server.Get("/range", rangeRoute(true));
    Server.Get("/norange", rangeRoute(false));

    Server.Get("/auth", [](const httplib::Request& req, httplib::Response& res) {
        const std::string user = req.has_param("user") ? req.get_param_value("user") : AuthUser;
        const std::string pass = req.has_param("pass") ? req.get_param_value("pass") : AuthPassword;
        const std::string expected = "Basic " + Base64(user + ":" + pass);
        if (req.get_header_value("Authorization") == expected) {
            res.set_content("welcome", "text/plain");
            return;
        }
        res.status = 401;
        res.set_header("WWW-Authenticate", std::string("Basic realm=\"") + AuthRealm + "\"");
        res.set_content("who are you?", "text/plain");
    });

    Server.Get("/endless", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string type = req.has_param("type") ? req.get_param_value("type") : "text/html";
        res.set_chunked_content_provider(type, [this](size_t offset, httplib::DataSink& sink) {
            return !Stopping() && WritePattern(sink, offset, ChunkSize);
        });
    });

    Server.Get("/loop", [](const httplib::Request& req, httplib::Response& res) {
        res.set_redirect("/loop?n=" + std::to_string(ParamNumber(req, "n", 0) + 1));
    });

    Server.Get("/redirect", [](const httplib::Request& req, httplib::Response& res) {
        const int code = int(ParamNumber(req, "code", 302));
        // The other parameters become the target's query.
        std::string target = req.get_param_value("to");
        char separator = '?';
        for (const auto& [key, value] : req.params) {
            if (key == "to" || key == "code")
                continue;
            target += separator + key + "=" + value;
            separator = '&';
        }
        res.set_redirect(target, code);
    });

    auto echo = [](const httplib::Request& req, httplib::Response& res) {
        std::string text = req.target + "\n";
        for (const auto& [key, value] : req.headers)
            text += key + ": " + value + "\n";
        text += req.body;
        res.set_content(text, "text/plain");
    };
    Server.Get("/echo", echo);
    Server.Post("/echo", echo);

    Server.Get("/headers", [](const httplib::Request& req, httplib::Response& res) {
        for (const auto& [key, value] : req.params)
            res.set_header(key, value);
        res.set_content("ok", "text/plain");
    });
}

} // namespace cw::test
