#include "engine/LegacyOptions.h"

#include "engine/FFApi.h"
#include "engine/FFLogger.h"
#include "engine/Text.h"

#include <cstring>
#include <mutex>
#include <set>

namespace cw {

namespace {

const TRenamedOption RenamedTable[] = {
    {"directpred", "direct-pred"},    {"cqp", "qp"},
    {"aq_mode", "aq-mode"},           {"aq_strength", "aq-strength"},
    {"rc_lookahead", "rc-lookahead"}, {"bframebias", "b-bias"},
    {"nr", "noise_reduction"},
};

const TFlagWord FlagWordTable[] = {
    {"flags2", "bpyramid", "b-pyramid", "normal", "none"},
    {"flags2", "wpred", "weightb", "1", "0"},
    {"flags2", "mixed_refs", "mixed-refs", "1", "0"},
    {"flags2", "dct8x8", "8x8dct", "1", "0"},
    {"flags2", "fastpskip", "fast-pskip", "1", "0"},
    {"flags2", "aud", "aud", "1", "0"},
    {"flags2", "mbtree", "mbtree", "1", "0"},
    {"flags2", "psy", "psy", "1", "0"},
    {"flags2", "ssim", "ssim", "1", "0"},
    {"flags2", "intra_refresh", "intra-refresh", "1", "0"},
    {"flags2", "drop_frame_timecode", "drop_frame_timecode", "1", "0"},
    {"flags2", "non_linear_q", "non_linear_quant", "1", "0"},
    {"flags2", "skiprd", "mpv_flags", "+skip_rd", "-skip_rd"},
    {"flags", "scan_offset", "scan_offset", "1", "0"},
    {"flags", "naq", "mpv_flags", "+naq", "-naq"},
    {"flags", "mv0", "mpv_flags", "+mv0", "-mv0"},
    {"flags", "qp_rd", "mpv_flags", "+qp_rd", "-qp_rd"},
    {"flags", "cbp", "mpv_flags", "+cbp_rd", "-cbp_rd"},
    {"flags", "alt", "alternate_scan", "1", "0"},
    {"flags", "part", "data_partitioning", "1", "0"},
    {"flags", "umv", "umv", "1", "0"},
    {"flags", "aiv", "aiv", "1", "0"},
    {"flags", "obmc", "obmc", "1", "0"},
};

const TPartitionWord PartitionTable[] = {
    {"parti4x4", "i4x4"}, {"parti8x8", "i8x8"}, {"partp4x4", "p4x4"},
    {"partp8x8", "p8x8"}, {"partb8x8", "b8x8"},
};

const TEncoderStandIn StandInTable[] = {
    {"libfaac", "aac"},
    {"libvo_aacenc", "aac"},
    {"libaacplus", "aac"},
    {"libxvid", "mpeg4"},
};

const TDefaultCodecPreference PreferenceTable[] = {
    {AVMEDIA_TYPE_AUDIO, {"aac", "mp2", "ac3", "pcm_s16le"}},
    {AVMEDIA_TYPE_VIDEO, {"mpeg4", "h263", "libx264", "mjpeg"}},
};

// The older generation's x264 wrapper left these at "off" unless asked; today's fills them
// from x264's own defaults, which turns the device block's streams into High profile.
const TLegacyEncoderDefault EncoderDefaultTable[] = {
    {"libx264", "bf", "0", nullptr},         {"libx264", "8x8dct", "0", nullptr},
    {"libx264", "weightp", "0", "wpredp"},   {"libx264", "weightb", "0", nullptr},
    {"libx264", "mixed-refs", "0", nullptr},
};

struct TFlagToken {
    char Sign; // '+', '-' or 0
    std::string Word;
};

std::vector<TFlagToken> SplitFlagWords(const std::string& value) {
    std::vector<TFlagToken> tokens;
    size_t i = 0;
    while (i < value.size()) {
        TFlagToken token{0, {}};
        if (value[i] == '+' || value[i] == '-')
            token.Sign = value[i++];
        while (i < value.size() && value[i] != '+' && value[i] != '-')
            token.Word += value[i++];
        tokens.push_back(std::move(token));
    }
    return tokens;
}

const TFlagWord* FindFlagWord(const std::string& option, const std::string& word) {
    for (const TFlagWord& row : FlagWordTable)
        if (option == row.Option && word == row.Word)
            return &row;
    return nullptr;
}

bool TranslateFlags(const std::string& name, const std::string& value,
                    std::vector<TOptionPair>& replacement) {
    std::vector<TFlagToken> tokens = SplitFlagWords(value);
    std::string rest;
    std::vector<TOptionPair> words;
    for (const TFlagToken& token : tokens) {
        if (const TFlagWord* row = FindFlagWord(name, token.Word)) {
            words.push_back({row->NewName, token.Sign == '-' ? row->ClearValue : row->SetValue});
        } else {
            if (token.Sign)
                rest += token.Sign;
            rest += token.Word;
        }
    }
    if (words.empty())
        return false;
    replacement.clear();
    if (!rest.empty())
        replacement.push_back({name, rest});
    replacement.insert(replacement.end(), words.begin(), words.end());
    return true;
}

// The old partition flags built the set from nothing: "+word" adds, "-word" removes.
bool TranslatePartitions(const std::string& value, std::vector<TOptionPair>& replacement) {
    std::vector<TFlagToken> tokens = SplitFlagWords(value);
    if (tokens.empty())
        return false;
    bool chosen[std::size(PartitionTable)] = {};
    for (const TFlagToken& token : tokens) {
        size_t row = 0;
        while (row < std::size(PartitionTable) && token.Word != PartitionTable[row].Word)
            ++row;
        if (row == std::size(PartitionTable))
            return false; // not the old form: today's encoder reads it as it is
        chosen[row] = token.Sign != '-';
    }
    std::string list;
    for (size_t row = 0; row < std::size(PartitionTable); ++row)
        if (chosen[row]) {
            if (!list.empty())
                list += ',';
            list += PartitionTable[row].Name;
        }
    replacement = {{"partitions", list.empty() ? "none" : list}};
    return true;
}

std::mutex LogOnceLock;
std::set<std::string> LoggedOnce;

// True the first time a key is seen in this process.
bool FirstTime(const std::string& key) {
    std::lock_guard lock(LogOnceLock);
    return LoggedOnce.insert(key).second;
}

} // namespace

std::span<const TRenamedOption> RenamedOptions() {
    return RenamedTable;
}
std::span<const TFlagWord> LegacyFlagWords() {
    return FlagWordTable;
}
std::span<const TPartitionWord> LegacyPartitionWords() {
    return PartitionTable;
}
std::span<const TEncoderStandIn> EncoderStandIns() {
    return StandInTable;
}
std::span<const TDefaultCodecPreference> DefaultCodecPreferences() {
    return PreferenceTable;
}
std::span<const TLegacyEncoderDefault> LegacyEncoderDefaults() {
    return EncoderDefaultTable;
}

bool TranslateLegacyOption(const std::string& name, const std::string& value,
                           TLegacyOptionState& state, std::vector<TOptionPair>& replacement) {
    if (name == "deblockalpha" || name == "deblockbeta") {
        (name == "deblockalpha" ? state.DeblockAlpha : state.DeblockBeta) = value;
        replacement = {{"deblock", state.DeblockAlpha + ":" + state.DeblockBeta}};
        return true;
    }
    for (const TRenamedOption& row : RenamedTable)
        if (name == row.OldName) {
            replacement = {{row.NewName, value}};
            return true;
        }
    if (name == "partitions")
        return TranslatePartitions(value, replacement);
    if (name == "flags" || name == "flags2")
        return TranslateFlags(name, value, replacement);
    return false;
}

std::string InstalledEncoderName(const std::string& name) {
    if (name.empty() || ff::avcodec_find_encoder_by_name(name.c_str()))
        return name;
    for (const TEncoderStandIn& row : StandInTable)
        if (name == row.Name && ff::avcodec_find_encoder_by_name(row.StandIn)) {
            if (FirstTime("encoder:" + name))
                TFFLogger::Instance().Log(
                    llInfo, FormatText("Encoder \"%s\" is not installed, using \"%s\" instead",
                                       row.Name, row.StandIn));
            return row.StandIn;
        }
    return name;
}

AVCodecID InstalledDefaultCodec(const AVOutputFormat* format, AVMediaType type,
                                AVCodecID defaultId) {
    if (!format || defaultId == AV_CODEC_ID_NONE || ff::avcodec_find_encoder(defaultId))
        return defaultId;
    for (const TDefaultCodecPreference& row : PreferenceTable) {
        if (row.Type != type)
            continue;
        for (const char* name : row.Codecs) {
            if (!name)
                break;
            const AVCodec* encoder = ff::avcodec_find_encoder_by_name(name);
            if (!encoder || encoder->type != type ||
                ff::avformat_query_codec(format, encoder->id, FF_COMPLIANCE_NORMAL) != 1)
                continue;
            if (FirstTime(FormatText("default:%s:%d", format->name, static_cast<int>(type))))
                TFFLogger::Instance().Log(
                    llInfo,
                    FormatText("No encoder for the default codec \"%s\" of \"%s\", using \"%s\"",
                               ff::avcodec_get_name(defaultId), format->name, name));
            return encoder->id;
        }
    }
    return defaultId;
}

} // namespace cw
