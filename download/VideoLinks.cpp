#include "download/VideoLinks.h"

#include "app/Utils.h"
#include "download/Utf8.h"

#include <QRegularExpression>
#include <QString>

namespace cw {

bool IsVideoLink(const std::string& text, const std::string& domain) {
    const std::string lower = LowerCase(text);
    return lower.find("http") != std::string::npos &&
           lower.find(LowerCase(domain)) != std::string::npos;
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

TLinkVerdict CheckNewLink(const std::vector<std::string>& listed, const std::string& text,
                          const std::string& domain) {
    if (!IsVideoLink(text, domain))
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
