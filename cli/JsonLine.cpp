#include "cli/JsonLine.h"

#include "engine/Text.h"

#include <QJsonDocument>

#include <cstdio>
#include <cstdlib>

namespace cw::cli {
namespace {

// Length of the valid UTF-8 sequence at text[at], or 0.
size_t Utf8Length(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = lead < 0x80           ? 1
                    : (lead >> 5) == 0x6  ? 2
                    : (lead >> 4) == 0xe  ? 3
                    : (lead >> 3) == 0x1e ? 4
                                          : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i)
        if ((byte(at + i) & 0xc0) != 0x80)
            return 0;
    if (length == 2 && lead < 0xc2)
        return 0; // overlong
    if (length == 3) {
        const unsigned code = ((lead & 0x0fu) << 12) | ((byte(at + 1) & 0x3fu) << 6);
        if (code < 0x800 || (code >= 0xd800 && code <= 0xdfff))
            return 0;
    }
    if (length == 4) {
        const unsigned code = ((lead & 0x07u) << 18) | ((byte(at + 1) & 0x3fu) << 12);
        if (code < 0x10000 || code > 0x10ffff)
            return 0;
    }
    return length;
}

} // namespace

QJsonValue JsonValue(const std::string& text) {
    // Qt's own decoder would also replace bad bytes, but not always one for one; the rule
    // here keeps the names scripts have seen so far.
    std::string valid;
    valid.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (const size_t length = Utf8Length(text, i)) {
            valid.append(text, i, length);
            i += length;
        } else {
            valid += "\xef\xbf\xbd";
            ++i;
        }
    }
    return QString::fromStdString(valid);
}

QJsonValue JsonValue(const char* text) {
    return JsonValue(std::string(text ? text : ""));
}

QJsonValue JsonValue(int64_t value) {
    return QJsonValue(qint64(value));
}

QJsonValue JsonValue(int value) {
    return QJsonValue(value);
}

QJsonValue JsonValue(double value) {
    return QJsonValue(value);
}

QJsonValue JsonValue(float value) {
    return QJsonValue(std::strtod(FormatText("%.6g", double(value)).c_str(), nullptr));
}

void PrintJsonLine(const QJsonObject& object) {
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace cw::cli
