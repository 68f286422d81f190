// Quality preference: the nine stream formats the downloader knows (the default one and
// eight "HQ" qualities told apart by quality codes 0..7), their texts and file extensions,
// the user's order of preference, and the attempt rule the download queue follows.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace cw {

struct TGlobalVars;

// Slots of the stream addresses, one per known itag, in this order.
inline constexpr std::array<int, 9> StreamSlotItags = {5, 6, 18, 35, 22, 13, 17, 34, 37};
// The slot of an itag, or -1 for an itag the downloader does not know.
int StreamSlotOfItag(int itag);

inline constexpr int QualityCodeCount = 8;
using TPreferenceOrder = std::array<uint8_t, QualityCodeCount>;

// One row of the quality table; the dialog shows Format, Video and Audio.
struct TQualityInfo {
    const char* ShortName;
    int Itag;
    const char* Extension;
    const char* Description;
    const char* Format;
    const char* Video;
    const char* Audio;
};
// Code 0..7, or null.
const TQualityInfo* QualityInfo(int code);

extern const char* const DefaultQualityDescription;
inline constexpr const char* DefaultQualityExtension = ".flv";
inline constexpr int DefaultQualityItag = 5;

// The short name of the code; the default description for any other value.
std::string QualityShortName(int code);
// The description whose short name equals the text exactly; the default description else.
std::string QualityDescription(const std::string& shortName);
// The extension of the code; ".flv" for any other value.
std::string QualityExtension(int code);
// The code whose short name equals the text; 0 for "[HQ6]" and any unknown text.
uint8_t QualityCodeOfName(const std::string& shortName);

inline constexpr TPreferenceOrder DefaultPreferenceOrder = {1, 2, 3, 0, 4, 5, 6, 7};
inline constexpr TPreferenceOrder BestAvailablePreferenceOrder = {7, 3, 2, 1, 0, 6, 4, 5};

// The order kept in the settings keys PreferYouTube1..7 and PreferYouTube18.
TPreferenceOrder PreferenceOrder(const TGlobalVars& vars);
void SetPreferenceOrder(TGlobalVars& vars, const TPreferenceOrder& order);
// The order with every code once: valid codes keep their places, repeats and values outside
// 0..7 are dropped, and the missing codes follow in the default order.
TPreferenceOrder RepairedPreferenceOrder(const TPreferenceOrder& order);

// Attempt 0 is the default stream; attempts 1..8 are the positions of the order.
inline constexpr int LastQualityAttempt = 8;
std::string AttemptName(int attempt, const TPreferenceOrder& order);
// The slot of StreamURLs the attempt downloads; -1 when the order holds no valid code there.
int AttemptSlot(int attempt, const TPreferenceOrder& order);
std::string AttemptExtension(int attempt, const TPreferenceOrder& order);

// The default description when the preference is off; otherwise
// "Prefer: [HQ18] > [HQ35] > ..." with the eight short names in order.
std::string PreferenceSummary(bool prefer, const TPreferenceOrder& order);

} // namespace cw
