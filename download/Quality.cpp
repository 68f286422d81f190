#include "download/Quality.h"

#include "app/GlobalVars.h"

namespace cw {

namespace {

// clang-format off
const std::array<TQualityInfo, QualityCodeCount> QualityTable = {{
    {"[HQ6]",  6,  ".flv", "[HQ6] - (FLV, 480 x 360, Mono 44KHz MP3)",
     "FLV", "480 x 36", "Mono 44KHz MP3"},
    {"[HQ18]", 18, ".mp4", "[HQ18] - (MP4(H.264), 640 x 360, Stereo 44KHz AAC)",
     "MP4(H.264)", "640 x 360", "Stereo 44KHz AAC"},
    {"[HQ35]", 35, ".flv", "[HQ35] - (FLV, 854 x 480, Stereo 44KHz AAC)",
     "FLV", "854 x 480", "Stereo 44KHz AAC"},
    {"[HQ22]", 22, ".mp4", "[HQ22] - (MP4(H.264), 1280 x 720, Stereo 44KHz AAC)",
     "MP4(H.264)", "1280x720", "Stereo 44KHz AAC"},
    {"[HQ13]", 13, ".3gp", "[HQ13] - (3GP, 176 x 144, Stereo 8KHz)",
     "3GP", "176x144", "Stereo 8KHz"},
    {"[HQ17]", 17, ".3gp", "[HQ17] - (3GP, 176 x 144, Stereo 44KHz AAC)",
     "3GP", "176x144", "Stereo 44KHz AAC"},
    {"[HQ34]", 34, ".flv", "[HQ34] - (FLV, 640 x 360, Stereo 44KHz AAC)",
     "FLV", "640 x 360", "Stereo 44KHz AAC)"},
    {"[HQ37]", 37, ".mp4", "[HQ37] - (MP4(H.264), 1920 x 1080, Stereo 44KHz AAC)",
     "MP4(H.264)", "1920x1080", "Stereo 44KHz AAC)"},
}};
// clang-format on

} // namespace

const char* const DefaultQualityDescription =
    "[Default Quality - HQ5 - (FLV, 400 x 240, Mono 44KHz MP3)]";

int StreamSlotOfItag(int itag) {
    for (size_t i = 0; i < StreamSlotItags.size(); ++i)
        if (StreamSlotItags[i] == itag)
            return int(i);
    return -1;
}

const TQualityInfo* QualityInfo(int code) {
    return code >= 0 && code < QualityCodeCount ? &QualityTable[size_t(code)] : nullptr;
}

std::string QualityShortName(int code) {
    const TQualityInfo* info = QualityInfo(code);
    return info ? info->ShortName : DefaultQualityDescription;
}

std::string QualityDescription(const std::string& shortName) {
    for (const TQualityInfo& info : QualityTable)
        if (shortName == info.ShortName)
            return info.Description;
    return DefaultQualityDescription;
}

std::string QualityExtension(int code) {
    const TQualityInfo* info = QualityInfo(code);
    return info ? info->Extension : DefaultQualityExtension;
}

uint8_t QualityCodeOfName(const std::string& shortName) {
    for (size_t i = 0; i < QualityTable.size(); ++i)
        if (shortName == QualityTable[i].ShortName)
            return uint8_t(i);
    return 0;
}

TPreferenceOrder PreferenceOrder(const TGlobalVars& v) {
    return {v.PreferYouTube1, v.PreferYouTube2, v.PreferYouTube3, v.PreferYouTube4,
            v.PreferYouTube5, v.PreferYouTube6, v.PreferYouTube7, v.PreferYouTube18};
}

void SetPreferenceOrder(TGlobalVars& v, const TPreferenceOrder& o) {
    v.PreferYouTube1 = o[0];
    v.PreferYouTube2 = o[1];
    v.PreferYouTube3 = o[2];
    v.PreferYouTube4 = o[3];
    v.PreferYouTube5 = o[4];
    v.PreferYouTube6 = o[5];
    v.PreferYouTube7 = o[6];
    v.PreferYouTube18 = o[7];
}

TPreferenceOrder RepairedPreferenceOrder(const TPreferenceOrder& order) {
    TPreferenceOrder result{};
    std::array<bool, QualityCodeCount> used{};
    size_t count = 0;
    for (uint8_t code : order)
        if (code < QualityCodeCount && !used[code]) {
            used[code] = true;
            result[count++] = code;
        }
    for (uint8_t code : DefaultPreferenceOrder)
        if (!used[code]) {
            used[code] = true;
            result[count++] = code;
        }
    return result;
}

std::string AttemptName(int attempt, const TPreferenceOrder& order) {
    if (attempt >= 1 && attempt <= LastQualityAttempt)
        return QualityShortName(order[size_t(attempt - 1)]);
    return DefaultQualityDescription;
}

int AttemptSlot(int attempt, const TPreferenceOrder& order) {
    if (attempt == 0)
        return StreamSlotOfItag(DefaultQualityItag);
    if (attempt < 1 || attempt > LastQualityAttempt)
        return -1;
    const TQualityInfo* info = QualityInfo(order[size_t(attempt - 1)]);
    return info ? StreamSlotOfItag(info->Itag) : -1;
}

std::string AttemptExtension(int attempt, const TPreferenceOrder& order) {
    if (attempt >= 1 && attempt <= LastQualityAttempt)
        return QualityExtension(order[size_t(attempt - 1)]);
    return DefaultQualityExtension;
}

std::string PreferenceSummary(bool prefer, const TPreferenceOrder& order) {
    if (!prefer)
        return DefaultQualityDescription;
    std::string text = "Prefer: ";
    for (size_t i = 0; i < order.size(); ++i)
        text += (i ? " > " : "") + QualityShortName(order[i]);
    return text;
}

} // namespace cw
