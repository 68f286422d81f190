// The JSON the command line prints: one compact object per line on stdout, written by Qt's
// JSON document so that quoting and escaping are never done by hand.
#pragma once

#include <QJsonObject>
#include <QJsonValue>

#include <cstdint>
#include <string>

namespace cw::cli {

// A string value. File names may hold any bytes: every byte that does not belong to a valid
// UTF-8 sequence becomes one U+FFFD, the rest is kept as it is.
QJsonValue JsonValue(const std::string& text);
QJsonValue JsonValue(const char* text);
QJsonValue JsonValue(int64_t value);
QJsonValue JsonValue(int value);
QJsonValue JsonValue(double value);
// Six significant digits: a float carries no more, and the printed number stays short.
QJsonValue JsonValue(float value);

// Writes the object and a line feed to stdout and flushes, so that a reader sees each line as
// it happens.
void PrintJsonLine(const QJsonObject& object);

} // namespace cw::cli
