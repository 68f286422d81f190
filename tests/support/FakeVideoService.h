// A stand-in for the video service on 127.0.0.1 (port chosen at run time), built on the test
// HTTP server. It answers the three requests the downloader makes:
//   /watch?v=ID                       an HTML watch page with the title tag and a watch link
//   /get_video_info?video_id=ID       the form-encoded info answer with the stream map
//   /videoplayback?id=ID&itag=N&signature=S
//                                     the stream's bytes (403 without the right signature)
// and can misbehave per video or per stream: no title tag, no watch link, no stream map, an
// answer of the test's own making, a stream cut off mid-body, a 404 stream, a slow stream, a
// stream that stalls, one without a length, a stream address of another scheme, a watch page
// without end.
// The service's domain is "127.0.0.1:PORT"; the downloader is pointed at it as its
// VideoSiteDomain.
#pragma once

#include "tests/support/TestHttpServer.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace cw::test {

enum TStreamFault {
    sfNone,
    sfCut,      // announces the whole length, sends half of it, then drops the connection
    sfNotFound, // 404
    sfSlow,     // SlowChunk bytes every SlowDelay until done or the server stops
    sfStall,    // announces the whole length, sends StallAfter bytes, then nothing until the
                // server stops
    sfNoLength, // the whole body, chunked, without Content-Length
};

struct TFakeStream {
    int Itag = 18;
    // The bytes served; when empty, GeneratedSize pattern bytes made while they are sent.
    std::string Body;
    uint64_t GeneratedSize = 4096;
    TStreamFault Fault = sfNone;
    std::string Sig = "S1G";
    // When not empty, the address the info answer names instead of the service's own.
    std::string Address;
    uint64_t Size() const { return Body.empty() ? GeneratedSize : Body.size(); }
};

struct TFakeVideo {
    std::string Id;
    std::string Title; // as the page writes it: HTML entities and any bytes allowed
    bool TitleTag = true;
    bool WatchLink = true;
    bool StreamMap = true;
    std::vector<TFakeStream> Streams;
    std::string Answer; // when not empty, the info answer exactly as given
    bool EndlessPage = false; // the watch page never ends (chunked, no length)
};

class TFakeVideoService {
public:
    static constexpr uint64_t SlowChunk = 4096;
    static constexpr int SlowDelayMs = 25;
    static constexpr uint64_t StallAfter = 10 * 1024;

    TFakeVideoService();
    TFakeVideoService(const TFakeVideoService&) = delete;
    TFakeVideoService& operator=(const TFakeVideoService&) = delete;

    // Adds or replaces a video.
    void AddVideo(const TFakeVideo& video);

    std::string Domain() const; // 127.0.0.1:PORT
    std::string WatchUrl(const std::string& id) const;
    // The address the info answer names for a stream (without its signature).
    std::string StreamUrl(const std::string& id, int itag) const;

    // The info answer of a video as the service sends it.
    std::string InfoAnswer(const std::string& id) const;
    // How often a stream was asked for.
    int StreamRequests(const std::string& id, int itag) const;
    // Itags asked for, in order, for one video.
    std::vector<int> StreamRequestOrder(const std::string& id) const;

    TTestHttpServer& Server() { return Http; }

    // Percent-encodes everything but letters, digits and "-_.~".
    static std::string Escape(const std::string& text);
    // Content type of an itag's container.
    static std::string StreamType(int itag);

private:
    void AddRoutes(httplib::Server& server);
    bool FindVideo(const std::string& id, TFakeVideo& video) const;

    mutable std::mutex Lock;
    std::map<std::string, TFakeVideo> Videos;
    std::vector<std::pair<std::string, int>> StreamLog;
    TTestHttpServer Http; // last: it stops before the catalogue goes
};

} // namespace cw::test
