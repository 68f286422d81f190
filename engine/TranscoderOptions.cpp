#include "engine/TranscoderOptions.h"

#include "engine/FFApi.h"
#include "engine/FFLoader.h"
#include "engine/FFmpegException.h"
#include "engine/Text.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <map>

extern "C" {
#include <libavutil/parseutils.h>
}

namespace cw {

namespace {

// One option of the dispatcher: its name and what setting it does.
struct TOptionRow {
    const char* Name;
    void (*Set)(TTranscoderOptions& job, const std::string& name, const std::string& value);
};

// Option-string keys the record application handles itself.
bool IsRecordKey(const std::string& key) {
    static const char* const Keys[] = {"newvideo", "newaudio", "newsubtitle", "apre",
                                       "vpre",     "spre",     "vfilters",    "vf"};
    for (const char* k : Keys)
        if (key == k)
            return true;
    return false;
}

bool IsCodecKey(const std::string& key) {
    return key == "acodec" || key == "vcodec" || key == "scodec" || key == "s";
}

// The folder of the running program, with a trailing separator.
std::string ExecutableFolder() {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return "./";
    std::string folder = exe.parent_path().string();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// Seconds since 1970 of a local date-time in days since 30 December 1899, with the system's
// current offset from UTC.
int64_t LocalDaysToUnixSeconds(double days) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    double zone = static_cast<double>(local.tm_gmtoff) / 86400.0;
    return std::llround((days - 25569.0 - zone) * 86400.0);
}

std::string IntText(int64_t value) {
    return std::to_string(value);
}

} // namespace

// -- life cycle --------------------------------------------------------------------------

TTranscoderOptions::TTranscoderOptions() {
    ResetOptions();
}

TTranscoderOptions::~TTranscoderOptions() = default;

void TTranscoderOptions::ResetOptions() {
    if (!FFLoader().LibsLoaded(EncoderLibraries))
        throw FFmpegException("The media libraries are not loaded");
    static_cast<TTranscoderOptionValues&>(*this) = TTranscoderOptionValues{};
    MetadataTags.reset();
    FreeFrameHooks(FrameHooks);
    Generic.Reset();
}

void TTranscoderOptions::ReleaseOptions() {
    static_cast<TTranscoderOptionValues&>(*this) = TTranscoderOptionValues{};
    MetadataTags.reset();
    FreeFrameHooks(FrameHooks);
    Generic.Clear();
}


void TTranscoderOptions::Log(TLogLevel level, const std::string& text) const {
    TFFLogger::Instance().Log(level, text);
}

// -- the dispatcher ----------------------------------------------------------------------

// Row makers of the table below: each pairs an option name with what setting it does.

#define CW_IGNORED(option)                                                                         \
    {                                                                                              \
        option, [](TTranscoderOptions& job, const std::string& name, const std::string&) {         \
            job.Log(llInfo, "Do nothing: option - " + name);                                       \
        }                                                                                          \
    }
#define CW_BOOL(option, field)                                                                     \
    {                                                                                              \
        option, [](TTranscoderOptions& job, const std::string&, const std::string& value) {        \
            job.field = OptionBool(value);                                                         \
        }                                                                                          \
    }
#define CW_INT(option, field)                                                                      \
    {                                                                                              \
        option, [](TTranscoderOptions& job, const std::string&, const std::string& value) {        \
            job.field = OptionInt(value);                                                          \
        }                                                                                          \
    }
#define CW_FLOAT(option, field)                                                                    \
    {                                                                                              \
        option, [](TTranscoderOptions& job, const std::string&, const std::string& value) {        \
            job.field = static_cast<decltype(job.field)>(OptionFloat(value));                      \
        }                                                                                          \
    }
// An integer option that ignores values of 0 and below.
#define CW_POSITIVE(option, field)                                                                 \
    {                                                                                              \
        option, [](TTranscoderOptions& job, const std::string&, const std::string& value) {        \
            if (int number = OptionInt(value); number > 0)                                         \
                job.field = number;                                                                \
        }                                                                                          \
    }
// An option that is no more: setting it always fails, whatever StrictOptions says.
#define CW_FAIL(option, text)                                                                      \
    {                                                                                              \
        option, [](TTranscoderOptions&, const std::string&, const std::string&) {                  \
            throw FFmpegException(text);                                                           \
        }                                                                                          \
    }
#define CW_TEXT(option, field)                                                                     \
    {                                                                                              \
        option, [](TTranscoderOptions& job, const std::string&, const std::string& value) {        \
            job.field = value;                                                                     \
        }                                                                                          \
    }
#define CW_DO(option, ...)                                                                         \
    {                                                                                              \
        option, [](TTranscoderOptions& job, const std::string& name, const std::string& value) {   \
            (void)job;                                                                             \
            (void)name;                                                                            \
            (void)value;                                                                           \
            __VA_ARGS__;                                                                           \
        }                                                                                          \
    }

void TTranscoderOptions::SetOption(const std::string& name, const std::string& value) {
    // The names in the order they are compared; the first match applies.
    // clang-format off
    static const TOptionRow Options[] = {
        CW_IGNORED("L"),
        CW_IGNORED("h"),
        CW_IGNORED("version"),
        CW_IGNORED("formats"),
        CW_IGNORED("codecs"),
        CW_IGNORED("bsfs"),
        CW_IGNORED("protocols"),
        CW_IGNORED("filters"),
        CW_DO("loglevel", TFFLogger::Instance().SetLogLevelByName(value)),
        CW_DO("f", if (!value.empty()) job.FileFormat = value),
        CW_IGNORED("i"),
        CW_IGNORED("y"),
        CW_DO("map", job.StreamMaps.push_back(ParseStreamMap(value))),
        CW_DO("map_meta_data", job.SetMetadataMap(value)),
        CW_DO("map_chapters", job.ChapterMaps.push_back(ParseChapterMap(value))),
        CW_DO("t", job.SetRecordingTime(ParseDuration(name, value))),
        CW_DO("fs", job.LimitFileSize = OptionInt64(value)),
        CW_DO("ss", job.StartTime = ParseDuration(name, value)),
        CW_DO("itsoffset", job.InputTsOffset = ParseDuration(name, value)),
        CW_DO("itsscale", job.SetTimestampScale(value)),
        CW_DO("timestamp", job.RecordingTimestamp = std::llround(ParseDate(name, value) / 1e6)),
        CW_DO("metadata", job.SetMetadataOption(value)),
        CW_INT("dframes", MaxDataFrames),
        CW_IGNORED("benchmark"),
        CW_DO("timelimit", job.Log(llWarning, "Warning: -timelimit not implemented on Windows")),
        CW_BOOL("dump", DoPacketDump),
        CW_BOOL("hex", DoHexDump),
        CW_BOOL("re", RateEmulation),
        CW_BOOL("loop_input", LoopInput),
        CW_INT("loop_output", LoopOutput),
        CW_INT("v", Verbose),
        CW_DO("target", job.SetTargetOption(value)),
        CW_DO("threads", job.SetThreads(value)),
        CW_INT("vsync", VideoSyncMethod),
        CW_INT("async", AudioSyncMethod),
        CW_FLOAT("adrift_threshold", AudioDriftThreshold),
        CW_INT("vglobal", VideoGlobalHeader),
        CW_BOOL("copyts", CopyTimestamps),
        CW_BOOL("copytb", CopyTimeBase),
        CW_BOOL("shortest", Shortest),
        CW_FLOAT("dts_delta_threshold", DtsDeltaThreshold),
        CW_INT("programid", ProgramID),
        CW_BOOL("xerror", ExitOnError),
        CW_INT("copyinkf", CopyInitialNonKeyframes),
        CW_DO("b", job.SetBitrate(name, value)),
        CW_DO("vb", job.SetBitrate(name, value)),
        CW_INT("vframes", MaxVideoFrames),
        CW_DO("r", job.SetFrameRate(value)),
        CW_DO("s", job.SetFrameSize(value)),
        CW_DO("aspect", if (!value.empty()) job.FrameAspectRatio = ParseAspectRatio(value)),
        CW_DO("pix_fmt", job.SetPixelFormat(value)),
        CW_FAIL("croptop", "Removed, use the crop filter instead"),
        CW_FAIL("cropbottom", "Removed, use the crop filter instead"),
        CW_FAIL("cropleft", "Removed, use the crop filter instead"),
        CW_FAIL("cropright", "Removed, use the crop filter instead"),
        CW_FAIL("padtop", "Removed, use the pad filter instead"),
        CW_FAIL("padbottom", "Removed, use the pad filter instead"),
        CW_FAIL("padleft", "Removed, use the pad filter instead"),
        CW_FAIL("padright", "Removed, use the pad filter instead"),
        CW_FAIL("padcolor", "Removed, use the pad filter instead"),
        CW_BOOL("intra", IntraOnly),
        CW_BOOL("vn", VideoDisable),
        CW_INT("vdt", VideoDiscard),
        CW_DO("qscale", job.SetQScale(value)),
        CW_TEXT("rc_override", VideoRcOverride),
        CW_DO("vcodec", job.SetCodec(AVMEDIA_TYPE_VIDEO, value)),
        CW_INT("me_threshold", MeThreshold),
        CW_BOOL("sameq", SameQuality),
        CW_DO("pass", job.SetPass(value)),
        CW_TEXT("passlogfile", PassLogFileName),
        CW_BOOL("deinterlace", DoDeinterlace),
        CW_BOOL("psnr", DoPsnr),
        CW_DO("vstats", job.SetVStats(value)),
        CW_TEXT("vstats_file", VStatsFileName),
        CW_DO("vhook", job.AddFrameHookOption(value)),
        CW_DO("vfilters", if (!value.empty()) job.VideoFilters = value),
        CW_DO("vf", if (!value.empty()) job.VideoFilters = value),
        CW_DO("intra_matrix", job.IntraMatrix = ParseQuantMatrix(value)),
        CW_DO("inter_matrix", job.InterMatrix = ParseQuantMatrix(value)),
        CW_INT("top", TopFieldFirst),
        CW_INT("dc", IntraDcPrecision),
        CW_DO("vtag", job.SetTag(job.VideoCodecTag, value)),
        CW_DO("newvideo", job.NewStreamOption(AVMEDIA_TYPE_VIDEO)),
        CW_TEXT("vlang", VideoLanguage),
        CW_BOOL("qphist", QpHistogram),
        CW_BOOL("force_fps", ForceFps),
        CW_DO("streamid", job.SetStreamId(name, value)),
        CW_TEXT("force_key_frames", ForcedKeyFrames),
        CW_DO("ab", job.SetBitrate(name, value)),
        CW_INT("aframes", MaxAudioFrames),
        CW_FLOAT("aq", AudioQScale),
        CW_POSITIVE("ar", AudioSampleRate),
        CW_POSITIVE("ac", AudioChannels),
        CW_BOOL("an", AudioDisable),
        CW_DO("acodec", job.SetCodec(AVMEDIA_TYPE_AUDIO, value)),
        CW_DO("atag", job.SetTag(job.AudioCodecTag, value)),
        CW_DO("vol", if (int volume = OptionInt(value); volume >= 0) job.AudioVolume = volume),
        CW_DO("newaudio", job.NewStreamOption(AVMEDIA_TYPE_AUDIO)),
        CW_TEXT("alang", AudioLanguage),
        CW_DO("sample_fmt", job.SetSampleFormat(value)),
        CW_BOOL("sn", SubtitleDisable),
        CW_DO("scodec", job.SetCodec(AVMEDIA_TYPE_SUBTITLE, value)),
        CW_DO("newsubtitle", job.NewStreamOption(AVMEDIA_TYPE_SUBTITLE)),
        CW_TEXT("slang", SubtitleLanguage),
        CW_DO("stag", job.SetTag(job.SubtitleCodecTag, value)),
        CW_INT("vc", VideoChannel),
        CW_TEXT("tvstd", VideoStandard),
        CW_BOOL("isync", InputSync),
        CW_FLOAT("muxdelay", MuxMaxDelay),
        CW_FLOAT("muxpreload", MuxPreload),
        CW_DO("absf", job.AddBitstreamFilter(name, value)),
        CW_DO("vbsf", job.AddBitstreamFilter(name, value)),
        CW_DO("sbsf", job.AddBitstreamFilter(name, value)),
        CW_DO("apre", job.ApplyPreset('a', value)),
        CW_DO("vpre", job.ApplyPreset('v', value)),
        CW_DO("spre", job.ApplyPreset('s', value)),
        CW_DO("fpre", job.ApplyPreset('f', value)),
    };
    // clang-format on
    for (const TOptionRow& row : Options)
        if (name == row.Name) {
            row.Set(*this, name, value);
            return;
        }
    if (!SetGenericOption(name, value) && StrictOptions)
        throw FFmpegException(LastOptionError());
}

#undef CW_IGNORED
#undef CW_BOOL
#undef CW_INT
#undef CW_FLOAT
#undef CW_TEXT
#undef CW_POSITIVE
#undef CW_FAIL
#undef CW_DO

// -- the option handlers -----------------------------------------------------------------

void TTranscoderOptions::SetRecordingTime(int64_t duration) {
    RecordingTime = duration;
    LimitTotalToRecordingTime();
}

void TTranscoderOptions::LimitTotalToRecordingTime() {
    if (RecordingTime == INT64_MAX || RecordingTime <= 0)
        return;
    TotalDuration = TotalDuration > 0 ? std::min(TotalDuration, RecordingTime) : RecordingTime;
}

void TTranscoderOptions::SetThreads(const std::string& value) {
    ThreadCount = OptionInt(value);
    if (Verbose >= 0)
        Log(llVerbose, "Warning: if the ffmpeg libraries were not compiled with thread support, "
                       "it would be using thread emulation.");
}

void TTranscoderOptions::SetFrameRate(const std::string& value) {
    if (value.empty())
        return;
    AVRational rate{0, 0};
    if (ff::av_parse_video_rate(&rate, value.c_str()) < 0)
        throw FFmpegException("Incorrect frame rate");
    FrameRate = rate;
}

void TTranscoderOptions::SetFrameSize(const std::string& value) {
    if (value.empty())
        return;
    int width = 0;
    int height = 0;
    if (ff::av_parse_video_size(&width, &height, value.c_str()) < 0)
        throw FFmpegException("Incorrect frame size");
    FrameWidth = width;
    FrameHeight = height;
}

void TTranscoderOptions::SetQScale(const std::string& value) {
    double q = OptionFloat(value);
    if (!(q > 0.0 && q <= 255.0))
        throw FFmpegException("qscale must be > 0.0 and <= 255");
    VideoQScale = static_cast<float>(q);
}

void TTranscoderOptions::SetPass(const std::string& value) {
    int pass = OptionInt(value);
    if (pass != 1 && pass != 2)
        throw FFmpegException("pass number can be only 1 or 2");
    DoPass = pass;
}

void TTranscoderOptions::SetBitrate(const std::string& name, const std::string& value) {
    if (!SetGenericOption(name, value)) {
        if (StrictOptions)
            throw FFmpegException(LastOptionError());
        return;
    }
    int64_t rate = 0;
    AVCodecContext* holder =
        CodecTemplate(name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO);
    ff::av_opt_get_int(holder, "b", 0, &rate);
    if (rate < 1000)
        Log(llWarning, "WARNING: The bitrate parameter is set too low. It takes bits/s as "
                       "argument, not kbits/s");
}

void TTranscoderOptions::SetCodec(AVMediaType type, const std::string& value) {
    if (value.empty())
        return;
    std::string& codec = type == AVMEDIA_TYPE_VIDEO   ? VideoCodecName
                         : type == AVMEDIA_TYPE_AUDIO ? AudioCodecName
                                                      : SubtitleCodecName;
    codec.clear();
    // The last name given for the kind holds: a codec after "copy" undoes the copy.
    (type == AVMEDIA_TYPE_VIDEO   ? VideoStreamCopy
     : type == AVMEDIA_TYPE_AUDIO ? AudioStreamCopy
                                  : SubtitleStreamCopy) = value == "copy";
    if (value != "copy")
        codec = value;
}

void TTranscoderOptions::SetTag(uint32_t& tag, const std::string& value) {
    if (!value.empty())
        tag = ParseCodecTag(value);
}

void TTranscoderOptions::AddBitstreamFilter(const std::string& name, const std::string& value) {
    if (value.empty() || value[0] == '=')
        return;
    size_t eq = value.find('=');
    TBitstreamFilterEntry entry;
    entry.Name = value.substr(0, eq);
    if (eq != std::string::npos)
        entry.Arguments = value.substr(eq + 1);
    entry.Filter = ff::av_bsf_get_by_name(entry.Name.c_str());
    if (!entry.Filter)
        throw FFmpegException(FormatText("Unknown bitstream filter %s", TrimText(value).c_str()));
    auto& chain = name[0] == 'v'   ? VideoBitstreamFilters
                  : name[0] == 'a' ? AudioBitstreamFilters
                                   : SubtitleBitstreamFilters;
    chain.push_back(std::move(entry));
}

void TTranscoderOptions::AddFrameHookOption(const std::string& value) {
    constexpr size_t MaxWords = 254;
    char separator = value.find('|') != std::string::npos ? '|' : ' ';
    std::vector<std::string> words;
    size_t start = 0;
    while (start <= value.size() && words.size() < MaxWords) {
        size_t end = value.find(separator, start);
        if (end == std::string::npos)
            end = value.size();
        if (end > start)
            words.push_back(value.substr(start, end - start));
        start = end + 1;
    }
    if (AddFrameHook(FrameHooks, words) != 0)
        throw FFmpegException("Failed to add video hook function: " + value);
    UsingVhook = true;
}

void TTranscoderOptions::AddMetadataTag(const std::string& key, const std::string& value) {
    SetDictionaryEntry(MetadataTags, key.c_str(), value.c_str());
}

void TTranscoderOptions::SetMetadataOption(const std::string& value) {
    size_t eq = value.find('=');
    if (eq == std::string::npos)
        throw FFmpegException("Missing =");
    if (eq == 0)
        throw FFmpegException("wrong parameter of metadata");
    AddMetadataTag(value.substr(0, eq), value.substr(eq + 1));
}

void TTranscoderOptions::SetTimestampScale(const std::string& value) {
    int index = 0;
    double scale = 0;
    ParseTimestampScale(value, index, scale);
    auto next = static_cast<size_t>(InputCount());
    if (InputTsScales.size() <= next)
        InputTsScales.resize(next + 1);
    std::vector<double>& scales = InputTsScales[next];
    if (scales.size() < static_cast<size_t>(index) + 1)
        scales.resize(static_cast<size_t>(index) + 1, 0.0);
    scales[static_cast<size_t>(index)] = scale;
}

void TTranscoderOptions::SetStreamId(const std::string& name, const std::string& value) {
    int index = 0;
    int id = 0;
    ParseStreamId(name, value, index, id);
    if (StreamIdMap.size() < static_cast<size_t>(index) + 1)
        StreamIdMap.resize(static_cast<size_t>(index) + 1, 0);
    StreamIdMap[static_cast<size_t>(index)] = id;
}

void TTranscoderOptions::SetVStats(const std::string& value) {
    if (!OptionBool(value)) {
        VStatsFileName.clear();
        return;
    }
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char clock[16];
    std::strftime(clock, sizeof clock, "%H%M%S", &local);
    VStatsFileName = FormatText("%svstats_%s.log", ExecutableFolder().c_str(), clock);
}

void TTranscoderOptions::SetMetadataMap(const std::string& value) {
    TMetadataMap map = ParseMetadataMap(value);
    for (char type : {map.Output.Type, map.Input.Type}) {
        if (type == 'g')
            MetadataGlobalAutoCopy = false;
        else if (type == 's')
            MetadataStreamsAutoCopy = false;
        else if (type == 'c')
            MetadataChaptersAutoCopy = false;
    }
    MetadataMaps.push_back(map);
}

void TTranscoderOptions::SetPixelFormat(const std::string& value) {
    if (value == "list") {
        char line[128];
        for (int i = -1; i < AV_PIX_FMT_NB; ++i) {
            if (i >= 0 && !ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(i)))
                continue;
            ff::av_get_pix_fmt_string(line, sizeof line, static_cast<AVPixelFormat>(i));
            Log(llInfo, TrimText(line));
        }
        return;
    }
    AVPixelFormat format = ff::av_get_pix_fmt(value.c_str());
    if (format == AV_PIX_FMT_NONE)
        throw FFmpegException(FormatText("Unknown pixel format requested: %s", value.c_str()));
    FramePixFmt = format;
    FramePixFmtAsked = true;
}

void TTranscoderOptions::SetSampleFormat(const std::string& value) {
    if (value == "list") {
        char line[128];
        for (int i = -1; i < AV_SAMPLE_FMT_NB; ++i) {
            ff::av_get_sample_fmt_string(line, sizeof line, static_cast<AVSampleFormat>(i));
            Log(llInfo, TrimText(line));
        }
        return;
    }
    AVSampleFormat format = ff::av_get_sample_fmt(value.c_str());
    if (format == AV_SAMPLE_FMT_NONE)
        throw FFmpegException(FormatText("Invalid sample format \"%s\"", value.c_str()));
    AudioSampleFmt = format;
}

void TTranscoderOptions::SetTargetOption(const std::string& value) {
    std::string type = TrimText(value);
    std::string norm = "auto";
    for (const char* prefix : {"pal-", "ntsc-", "film-"}) {
        std::string p(prefix);
        if (type.compare(0, p.size(), p) == 0) {
            norm = p.substr(0, p.size() - 1);
            type.erase(0, p.size());
            break;
        }
    }
    SetTarget(type, norm, "ntsc");
}

void TTranscoderOptions::NewStreamOption(AVMediaType type) {
    if (OutputCount() <= 0)
        throw FFmpegException("At least one output file must be specified");
    NewOutputStream(type);
}

// -- generic options ---------------------------------------------------------------------

bool TTranscoderOptions::SetGenericOption(const std::string& name, const std::string& value) {
    return Generic.Set(name, value);
}

void TTranscoderOptions::SetGenericQuietly(const std::string& name, const std::string& value) {
    SetGenericOption(name, value);
}

void TTranscoderOptions::ApplyGenericOptions(void* target, void* optionTemplate,
                                             const AVCodec* codec, int mask) const {
    Generic.Apply(target, optionTemplate, codec, mask);
}

int TTranscoderOptions::SwsFlags() const {
    int64_t flags = DefaultSwsFlags;
    if (ScalerTemplate())
        ff::av_opt_get_int(ScalerTemplate(), "sws_flags", 0, &flags);
    return static_cast<int>(flags);
}

// -- option strings ----------------------------------------------------------------------

void TTranscoderOptions::ApplyOptionString(const std::string& text, bool withCodecKeys) {
    std::string key;
    std::string value;
    for (const std::string& line : SplitOptionLines(text)) {
        if (line.empty())
            continue;
        SplitOptionLine(line, key, value);
        if (IsRecordKey(key) || (IsCodecKey(key) && !withCodecKeys))
            continue;
        SetOption(key, value);
    }
}

// -- what opening consumes ---------------------------------------------------------------

void TTranscoderOptions::ConsumeInputOptions() {
    ProgramID = 0;
    StartTime = 0;
    VideoChannel = 0;
    VideoCodecName.clear();
    AudioCodecName.clear();
    SubtitleCodecName.clear();
}

void TTranscoderOptions::ConsumeVideoStreamOptions() {
    VideoLanguage.clear();
    VideoDisable = false;
    VideoCodecName.clear();
    ForcedKeyFrames.clear();
    VideoStreamCopy = false;
    FramePixFmt = AV_PIX_FMT_NONE;
    FramePixFmtAsked = false;
}

void TTranscoderOptions::ConsumeAudioStreamOptions() {
    AudioLanguage.clear();
    AudioDisable = false;
    AudioCodecName.clear();
    AudioStreamCopy = false;
}

void TTranscoderOptions::ConsumeSubtitleStreamOptions() {
    SubtitleLanguage.clear();
    SubtitleDisable = false;
    SubtitleCodecName.clear();
    SubtitleStreamCopy = false;
}

void TTranscoderOptions::ConsumeOutputOptions() {
    MetadataTags.reset();
    StreamIdMap.clear();
    ForcedKeyFrames.clear();
}

// -- record application ------------------------------------------------------------------

bool TTranscoderOptions::OpenInputWithOptions(const std::string& fileName,
                                              const TInputOptions* options) {
    if (options) {
        ApplyOptionString(options->ExtOptions, true);
        if (!options->FileFormat.empty())
            SetOption("f", options->FileFormat);
        if (options->StartTime != NoPtsValue)
            StartTime = options->StartTime;
        if (options->ProgramID >= 0)
            SetOption("programid", IntText(options->ProgramID));
    }
    return OpenInput(fileName);
}

int TTranscoderOptions::OpenOutputWithOptions(const std::string& fileName,
                                              const TOutputOptions* options) {
    if (!options)
        return OpenOutput(fileName, false);
    const TOutputOptions& record = *options;

    // D: the value each stream kind starts with; Q: the option-string lines that name codecs,
    // presets, sizes and filters, in order, for the further streams.
    std::map<std::string, std::string> defaults = {
        {"def_acodec", record.AudioCodec},    {"def_vcodec", record.VideoCodec},
        {"def_scodec", record.SubtitleCodec}, {"def_apre", record.AudioPreset},
        {"def_vpre", record.VideoPreset},     {"def_spre", record.SubtitlePreset},
        {"def_s", record.FrameSize},          {"def_vf", record.VideoFilters},
    };
    std::vector<std::pair<std::string, std::string>> queue;
    const std::vector<std::string> lines = SplitOptionLines(record.ExtOptions);
    std::string key;
    std::string value;
    for (const std::string& line : lines) {
        SplitOptionLine(line, key, value);
        static const char* const Queued[] = {"acodec", "vcodec", "scodec",   "apre", "vpre",
                                             "spre",   "s",      "vfilters", "vf"};
        bool queued = false;
        for (const char* k : Queued)
            queued = queued || key == k;
        if (!queued || value.empty())
            continue;
        if (key == "vfilters")
            key = "vf";
        std::string& slot = defaults["def_" + key];
        if (slot.empty())
            slot = value;
        queue.emplace_back(key, value);
    }

    std::string targetType;
    if (record.TargetType >= ttVCD && record.TargetType <= ttDVD) {
        static const char* const Types[] = {"vcd", "svcd", "dvd"};
        targetType = Types[record.TargetType - 1];
        std::string norm = record.TargetNorm == tnPAL    ? "pal"
                           : record.TargetNorm == tnNTSC ? "ntsc"
                                                         : "auto";
        SetTarget(targetType, norm, record.TargetDefaultNorm == tnPAL ? "pal" : "ntsc");
    }

    for (const char* kind : {"acodec", "vcodec", "scodec"}) {
        const std::string& codec = defaults[std::string("def_") + kind];
        if (!codec.empty())
            SetOption(kind, codec);
    }
    for (char kind : {'a', 'v', 's'}) {
        const std::string& preset = defaults[std::string("def_") + kind + "pre"];
        if (!preset.empty())
            ApplyPreset(kind, preset);
    }
    ApplyOptionString(record.ExtOptions, false);

    // A target profile brings its own audio bit rate, which the record's gives way to, unless
    // the record also names an audio codec other than the profile's: the profile's rate may
    // not suit that codec at all (448000 bit/s is no rate of mp2), so the record's applies.
    const std::string& audioCodec = defaults["def_acodec"];
    bool recordAudioBitrate =
        record.TargetType == ttNone || (!targetType.empty() && !audioCodec.empty() &&
                                        audioCodec != TargetAudioCodecName(targetType));
    ApplyOutputRecordFields(record, recordAudioBitrate);

    if (!defaults["def_s"].empty())
        SetOption("s", defaults["def_s"]);
    if (!defaults["def_vf"].empty())
        SetOption("vf", defaults["def_vf"]);

    AudioHook = record.AudioHook;
    VideoInputHook = record.VideoInputHook;
    VideoOutputHook = record.VideoOutputHook;
    HookBitsPixel = record.HookBitsPixel;
    int result = OpenOutput(fileName, record.Join);
    if (result < 0)
        return result;

    // Further streams: each takes its codec, preset, size and filters from the queue.
    auto applyQueued = [&](const std::string& queuedKey) {
        for (auto it = queue.begin(); it != queue.end(); ++it)
            if (it->first == queuedKey) {
                std::string queuedValue = it->second;
                queue.erase(it);
                SetOption(queuedKey, queuedValue);
                return;
            }
        const std::string& fallback = defaults["def_" + queuedKey];
        if (!fallback.empty())
            SetOption(queuedKey, fallback);
    };
    for (const std::string& line : lines) {
        SplitOptionLine(line, key, value);
        if (key == "newaudio") {
            applyQueued("acodec");
            applyQueued("apre");
        } else if (key == "newvideo") {
            applyQueued("vcodec");
            applyQueued("vpre");
            applyQueued("s");
            applyQueued("vf");
        } else if (key == "newsubtitle") {
            applyQueued("scodec");
            applyQueued("spre");
        } else {
            continue;
        }
        SetOption(key, value);
    }

    if (record.Join && InputCount() > 1)
        SetupJoin();
    return result;
}

void TTranscoderOptions::ApplyOutputRecordFields(const TOutputOptions& record,
                                                 bool recordAudioBitrate) {
    if (!record.FileFormat.empty())
        SetOption("f", record.FileFormat);
    if (record.PacketSize > 0)
        SetGenericQuietly("packetsize", IntText(record.PacketSize));
    if (record.MuxRate > 0)
        SetGenericQuietly("muxrate", IntText(record.MuxRate));
    if (record.MuxDelay > 0)
        MuxMaxDelay = record.MuxDelay;
    if (record.MuxPreload > 0)
        MuxPreload = record.MuxPreload;
    if (record.DisableAudio)
        SetOption("an", "1");
    if (record.AudioVolume >= 0)
        SetOption("vol", IntText(record.AudioVolume));
    if (record.AudioChannels > 0)
        SetOption("ac", IntText(record.AudioChannels));
    if (record.AudioSampleRate > 0)
        SetOption("ar", IntText(record.AudioSampleRate));
    if (record.AudioBitrate > 0 && recordAudioBitrate)
        SetGenericQuietly("ab", IntText(record.AudioBitrate));
    if (record.AudioBitrateTolerance > 0)
        SetGenericQuietly("abt", IntText(record.AudioBitrateTolerance));
    SetOption("alang", record.AudioLanguage);
    SetOption("async", IntText(record.AudioSync));
    if (!record.AudioTag.empty())
        SetOption("atag", record.AudioTag);
    if (record.DisableVideo)
        SetOption("vn", "1");
    if (!record.FrameRate.empty())
        SetOption("r", record.FrameRate);
    if (!record.FrameAspectRatio.empty())
        SetOption("aspect", record.FrameAspectRatio);
    if (record.GOPSize > 0)
        SetGenericQuietly("g", IntText(record.GOPSize));
    // The record's own video rate holds over a disc profile's: a preset named for its rate
    // encodes at that rate. The profile's limits make room for it where they would refuse it.
    if (record.VideoBitrate > 0) {
        SetGenericQuietly("vb", IntText(record.VideoBitrate));
        const AVCodecContext* video = CodecTemplate(AVMEDIA_TYPE_VIDEO);
        if (record.TargetType != ttNone && video) {
            if (video->rc_max_rate > 0 && video->rc_max_rate < record.VideoBitrate)
                SetGenericQuietly("maxrate", IntText(record.VideoBitrate));
            if (video->rc_min_rate > record.VideoBitrate)
                SetGenericQuietly("minrate", IntText(record.VideoBitrate));
        }
    }
    if (record.VideoMaxRate > 0)
        SetGenericQuietly("maxrate", IntText(record.VideoMaxRate));
    if (record.VideoMinRate > 0)
        SetGenericQuietly("minrate", IntText(record.VideoMinRate));
    if (record.VideoBitrateTolerance > 0)
        SetGenericQuietly("bt", IntText(record.VideoBitrateTolerance));
    if (record.VideoBufSize > 0)
        SetGenericQuietly("bufsize", IntText(record.VideoBufSize));
    SetOption("vsync", IntText(record.VideoSync));
    if (!record.VideoTag.empty())
        SetOption("vtag", record.VideoTag);
    SetOption("vlang", record.VideoLanguage);
    if (record.DisableSubtitle)
        SetOption("sn", "1");
    SetOption("slang", record.SubtitleLanguage);
    SetOption("isync", record.InputSync ? "1" : "0");
    if (record.CopyTimestamps)
        SetOption("copyts", "1");
    if (record.StartTime != NoPtsValue)
        StartTime = record.StartTime;
    if (record.RecordingTime != NoPtsValue) {
        RecordingTime = record.RecordingTime;
        LimitTotalToRecordingTime();
    }

    const TStreamInfo& info = record.Metadata;
    if (info.Timestamp == 0)
        RecordingTimestamp = static_cast<int64_t>(std::time(nullptr));
    else if (info.Timestamp > 0)
        RecordingTimestamp = LocalDaysToUnixSeconds(info.Timestamp);
    if (info.Year > 0)
        AddMetadataTag("year", IntText(info.Year));
    if (info.Track > 0)
        AddMetadataTag("track", IntText(info.Track));
    const std::pair<const char*, const std::string*> texts[] = {
        {"title", &info.Title},     {"author", &info.Author}, {"copyright", &info.Copyright},
        {"comment", &info.Comment}, {"album", &info.Album},   {"genre", &info.Genre},
    };
    for (const auto& [tag, text] : texts)
        if (!text->empty())
            AddMetadataTag(tag, *text);
}

} // namespace cw
