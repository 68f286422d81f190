#include "tests/support/FakeVideoService.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace cw::test {

TFakeVideoService::TFakeVideoService()
    : Http([this](httplib::Server& server, TTestHttpServer&) { AddRoutes(server); }) {}

void TFakeVideoService::AddVideo(const TFakeVideo& video) {
    std::lock_guard<std::mutex> guard(Lock);
    Videos[video.Id] = video;
}

std::string TFakeVideoService::Domain() const {
    return "127.0.0.1:" + std::to_string(Http.Port());
}

std::string TFakeVideoService::WatchUrl(const std::string& id) const {
    return "http://" + Domain() + "/watch?v=" + id;
}

std::string TFakeVideoService::StreamUrl(const std::string& id, int itag) const {
    return "http://" + Domain() + "/videoplayback?id=" + id + "&itag=" + std::to_string(itag) +
           "&sparams=id%2Citag&expire=1700000000";
}

std::string TFakeVideoService::Escape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += char(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string TFakeVideoService::StreamType(int itag) {
    switch (itag) {
    case 18:
    case 22:
    case 37:
        return "video/mp4";
    case 13:
    case 17:
        return "video/3gpp";
    case 43:
    case 44:
    case 45:
    case 46:
        return "video/webm";
    default:
        return "video/x-flv";
    }
}

bool TFakeVideoService::FindVideo(const std::string& id, TFakeVideo& video) const {
    std::lock_guard<std::mutex> guard(Lock);
    auto it = Videos.find(id);
    if (it == Videos.end())
        return false;
    video = it->second;
    return true;
}

std::string TFakeVideoService::InfoAnswer(const std::string& id) const {
    TFakeVideo video;
    if (!FindVideo(id, video))
        return "status=fail&errorcode=150&reason=This+video+does+not+exist.";
    if (!video.Answer.empty())
        return video.Answer;
    std::string answer = "status=ok&author=Fake+Service&video_id=" + id +
                         "&title=" + Escape(video.Title) + "&length_seconds=3";
    if (video.StreamMap) {
        // Each description is form-encoded with its address encoded once; the whole map is
        // encoded once more as the value of its key.
        std::string map;
        for (const TFakeStream& s : video.Streams) {
            const std::string type =
                StreamType(s.Itag) + "; codecs=\"" + (s.Itag == 18 ? "avc1, mp4a" : "flv") + "\"";
            map += (map.empty() ? "" : ",") + std::string("itag=") + std::to_string(s.Itag) +
                   "&url=" + Escape(s.Address.empty() ? StreamUrl(id, s.Itag) : s.Address) +
                   "&sig=" + s.Sig + "&type=" + Escape(type) +
                   "&quality=medium&fallback_host=tc.v1.cache1.example";
        }
        answer += "&url_encoded_fmt_stream_map=" + Escape(map);
    }
    return answer + "&token=vjVQa1PpcFM&thumbnail_url=http%3A%2F%2Fi.example%2Fvi%2F" + id;
}

int TFakeVideoService::StreamRequests(const std::string& id, int itag) const {
    std::lock_guard<std::mutex> guard(Lock);
    return int(std::count(StreamLog.begin(), StreamLog.end(), std::make_pair(id, itag)));
}

std::vector<int> TFakeVideoService::StreamRequestOrder(const std::string& id) const {
    std::lock_guard<std::mutex> guard(Lock);
    std::vector<int> order;
    for (const auto& [video, itag] : StreamLog)
        if (video == id)
            order.push_back(itag);
    return order;
}

void TFakeVideoService::AddRoutes(httplib::Server& server) {
    server.Get("/watch", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string id = req.get_param_value("v");
        TFakeVideo video;
        if (!FindVideo(id, video)) {
            res.status = 404;
            res.set_content("<html><body>This video is unavailable.</body></html>", "text/html");
            return;
        }
        if (video.EndlessPage) {
            res.set_chunked_content_provider("text/html", [this](size_t, httplib::DataSink& sink) {
                static const std::string filler(64 * 1024, ' ');
                return !Http.Stopping() && sink.write(filler.data(), filler.size());
            });
            return;
        }
        std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head>\n"
                           "<meta http-equiv=\"content-type\" content=\"text/html; "
                           "charset=utf-8\">\n<title>" +
                           video.Title + " - Fake Service</title>\n";
        if (video.TitleTag)
            page += "<meta name=\"title\" content=\"" + video.Title + "\">\n";
        page += "<meta name=\"description\" content=\"A video of the fake service.\">\n";
        if (video.WatchLink)
            page += "<link rel=\"canonical\" href=\"http://" + Domain() + "/watch?v=" + id +
                    "\">\n<meta property=\"og:url\" content=\"http://" + Domain() +
                    "/watch?v=" + id + "&amp;feature=share\">\n";
        page += "</head>\n<body>\n<div id=\"player\">The player goes here.</div>\n"
                "</body></html>\n";
        res.set_content(page, "text/html; charset=utf-8");
    });

    server.Get("/get_video_info", [this](const httplib::Request& req, httplib::Response& res) {
        res.set_content(InfoAnswer(req.get_param_value("video_id")),
                        "application/x-www-form-urlencoded");
    });

    server.Get("/videoplayback", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string id = req.get_param_value("id");
        const int itag = std::atoi(req.get_param_value("itag").c_str());
        {
            std::lock_guard<std::mutex> guard(Lock);
            StreamLog.emplace_back(id, itag);
        }
        TFakeVideo video;
        const TFakeStream* stream = nullptr;
        if (FindVideo(id, video))
            for (const TFakeStream& s : video.Streams)
                if (s.Itag == itag)
                    stream = &s;
        if (!stream || stream->Fault == sfNotFound) {
            res.status = 404;
            res.set_content("Not Found", "text/plain");
            return;
        }
        if (req.get_param_value("signature") != stream->Sig) {
            res.status = 403;
            res.set_content("Forbidden", "text/plain");
            return;
        }
        const TFakeStream s = *stream;
        const uint64_t size = s.Size();
        const uint64_t send = s.Fault == sfCut ? size / 2 : size;
        auto write = [s](httplib::DataSink& sink, uint64_t offset, uint64_t length) {
            if (s.Body.empty())
                return TTestHttpServer::WritePattern(sink, offset, length);
            return sink.write(s.Body.data() + offset, size_t(length));
        };
        if (s.Fault == sfNoLength) {
            res.set_chunked_content_provider(
                StreamType(itag), [s, size, write](size_t offset, httplib::DataSink& sink) {
                    if (offset >= size) {
                        sink.done();
                        return true;
                    }
                    return write(sink, offset, std::min<uint64_t>(size - offset, 64 * 1024));
                });
            return;
        }
        res.set_content_provider(
            size_t(size), StreamType(itag),
            [this, s, send, write](size_t offset, size_t length, httplib::DataSink& sink) {
                if (offset >= send)
                    return false; // a cut-off stream: the connection drops here
                uint64_t chunk = std::min<uint64_t>(length, send - offset);
                chunk = std::min<uint64_t>(chunk, 256 * 1024);
                if (s.Fault == sfStall && offset >= StallAfter) {
                    // Nothing more until the server stops.
                    Http.PauseUnlessStopping(std::chrono::hours(1));
                    return false;
                }
                if (s.Fault == sfStall)
                    chunk = std::min<uint64_t>(chunk, StallAfter - offset);
                if (s.Fault == sfSlow) {
                    if (offset > 0 &&
                        !Http.PauseUnlessStopping(std::chrono::milliseconds(SlowDelayMs)))
                        return false;
                    chunk = std::min<uint64_t>(chunk, SlowChunk);
                }
                return write(sink, offset, chunk);
            });
    });
}

} // namespace cw::test
