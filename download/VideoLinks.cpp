#include "download/VideoLinks.h"

#include "app/Utils.h"
#include "download/Utf8.h"

#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <cctype>

namespace cw {

namespace {

bool IsVideoId(const std::string& id) {
    return !id.empty() && std::all_of(id.begin(), id.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '_' || c == '-';
    });
}

// The service's host as links write it: with or without "www.", or its "m." form; a port
// that is the scheme's default may be written out.
bool IsSiteHost(std::string host, const std::string& domain, bool secure) {
    const std::string d = LowerCase(domain);
    const std::string port = secure ? ":443" : ":80";
    if (d.find(':') == std::string::npos && host.size() > port.size() &&
        host.compare(host.size() - port.size(), port.size(), port) == 0)
        host.resize(host.size() - port.size());
    const std::string bare = d.rfind("www.", 0) == 0 ? d.substr(4) : d;
    return host == bare || host == "www." + bare || host == "m." + bare || host == "music." + bare;
}

// The service's short-link host, for the service's own domain only.
bool IsShortLinkHost(std::string host, const std::string& domain, bool secure) {
    const std::string d = LowerCase(domain);
    const std::string port = secure ? ":443" : ":80";
    if (host.size() > port.size() &&
        host.compare(host.size() - port.size(), port.size(), port) == 0)
        host.resize(host.size() - port.size());
    return (d == "www.youtube.com" || d == "youtube.com") && host == "youtu.be";
}

} // namespace

bool IsVideoLink(const std::string& text, const std::string& domain) {
    const std::string link = Trim(text);
    const std::string lower = LowerCase(link);
    size_t at;
    if (lower.rfind("http://", 0) == 0)
        at = 7;
    else if (lower.rfind("https://", 0) == 0)
        at = 8;
    else
        return false;
    const size_t hostEnd = std::min(lower.find_first_of("/?#", at), lower.size());
    const std::string host = lower.substr(at, hostEnd - at);
    const size_t pathEnd = std::min(link.find_first_of("?#", hostEnd), link.size());
    if (IsShortLinkHost(host, domain, at == 8)) {
        // youtu.be/ID, with whatever parameters follow.
        std::string id =
            link.substr(std::min(hostEnd + 1, pathEnd), pathEnd - std::min(hostEnd + 1, pathEnd));
        if (!id.empty() && id.back() == '/')
            id.pop_back();
        return IsVideoId(id);
    }
    if (!IsSiteHost(host, domain, at == 8))
        return false;
    const std::string path = lower.substr(hostEnd, pathEnd - hostEnd);
    if (path == "/watch" || path == "/watch/") {
        if (pathEnd >= link.size() || link[pathEnd] != '?')
            return false;
        const std::string query = link.substr(pathEnd + 1, link.find('#', pathEnd) - pathEnd - 1);
        for (const std::string& pair : SplitText(query, "&"))
            if ((pair.rfind("v=", 0) == 0 || pair.rfind("V=", 0) == 0) && IsVideoId(pair.substr(2)))
                return true;
        return false;
    }
    for (const char* prefix : {"/embed/", "/v/", "/shorts/", "/live/"}) {
        const std::string p = prefix;
        if (path.rfind(p, 0) == 0) {
            std::string id = link.substr(hostEnd + p.size(), pathEnd - hostEnd - p.size());
            if (!id.empty() && id.back() == '/')
                id.pop_back();
            return IsVideoId(id);
        }
    }
    return false;
}

std::vector<std::string> SplitPastedText(const std::string& text) {
    // A NUL ends the text, as it ends a clipboard text.
    const std::string content = text.substr(0, text.find('\0'));
    std::vector<std::string> lines;
    const size_t n = content.size();
    auto isBreak = [](char c) { return c == '\r' || c == '\n'; };
    size_t tail = 0;
    char quote = 0; // the open quote character, 0 outside quotes
    while (true) {
        while (tail < n && isBreak(content[tail]))
            ++tail;
        const size_t head = tail;
        while (true) {
            while (tail < n && (quote ? content[tail] != quote
                                      : !isBreak(content[tail]) && content[tail] != '\'' &&
                                            content[tail] != '"'))
                ++tail;
            if (tail < n && (content[tail] == '\'' || content[tail] == '"')) {
                if (quote == content[tail])
                    quote = 0;
                else if (!quote)
                    quote = content[tail];
                ++tail;
            } else {
                break;
            }
        }
        if (tail > head)
            lines.push_back(content.substr(head, tail - head));
        if (tail >= n)
            break;
        ++tail;
    }
    return lines;
}

bool IsAnyWebLink(const std::string& text) {
    const std::string link = LowerCase(Trim(text));
    size_t at;
    if (link.rfind("http://", 0) == 0)
        at = 7;
    else if (link.rfind("https://", 0) == 0)
        at = 8;
    else
        return false;
    const size_t hostEnd = std::min(link.find_first_of("/?#", at), link.size());
    // A host, and no blanks or control characters anywhere.
    return hostEnd > at && std::none_of(link.begin(), link.end(),
                                        [](unsigned char c) { return c <= 0x20 || c == 0x7F; });
}

TLinkVerdict CheckNewLink(const std::vector<std::string>& listed, const std::string& text,
                          const std::string& domain, bool anySite) {
    if (!IsVideoLink(text, domain) && !(anySite && IsAnyWebLink(text)))
        return TLinkVerdict::lvNotALink;
    // Items that differ in letter case only are passed over; an exact one refuses the link.
    for (const std::string& item : listed)
        if (item == text)
            return TLinkVerdict::lvDuplicate;
    return TLinkVerdict::lvAdd;
}

std::string RefusedLinkMessage(TLinkVerdict verdict, const std::string& text) {
    switch (verdict) {
    case TLinkVerdict::lvNotALink:
        return text + "\n\r\n\r" + "This is not a YouTube video link.";
    case TLinkVerdict::lvDuplicate:
        return text + "\n\r\n\r" + "This video is already in the download list.";
    case TLinkVerdict::lvAdd:
        break;
    }
    return {};
}

namespace {

// One character per byte, and back.
QString ByteText(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}
std::string TextBytes(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

void RemoveFirst(std::string& text, const std::string& what) {
    const size_t at = text.find(what);
    if (at != std::string::npos)
        text.erase(at, what.size());
}

void RemoveAll(std::string& text, const std::string& what) {
    if (what.empty())
        return;
    for (size_t at; (at = text.find(what)) != std::string::npos;)
        text.erase(at, what.size());
}

} // namespace

std::string ExtractVideoTitle(const std::string& page) {
    static const QRegularExpression pattern(
        QStringLiteral("<meta name=\"title\" content=\"([^<]+)\">"),
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = pattern.match(ByteText(page));
    if (!match.hasMatch())
        return {};
    std::string title = TextBytes(match.captured(0));
    RemoveFirst(title, "<meta name=\"title\" content=\"");
    RemoveFirst(title, "\">");
    return title;
}

std::string MakeVideoInfoURL(const std::string& page, const std::string& domain) {
    const QRegularExpression pattern(ByteText(domain) + QStringLiteral("/watch\\?v=.+?\""),
                                     QRegularExpression::DotMatchesEverythingOption);
    std::string id;
    if (pattern.isValid()) {
        const QRegularExpressionMatch match = pattern.match(ByteText(page));
        if (match.hasMatch()) {
            id = TextBytes(match.captured(0));
            RemoveAll(id, domain + "/watch?v=");
            RemoveAll(id, "\"");
        }
    }
    return "http://" + domain + "/get_video_info?video_id=" + id;
}

std::string TitleAsUtf8(const std::string& title) {
    std::string out;
    out.reserve(title.size());
    const size_t n = title.size();
    for (size_t i = 0; i < n;) {
        const auto c = static_cast<unsigned char>(title[i]);
        const size_t len = Utf8SequenceLength(title, i);
        const bool valid = len > 0;
        if (valid) {
            out.append(title, i, len);
            i += len;
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
            ++i;
        }
    }
    return out;
}

} // namespace cw
