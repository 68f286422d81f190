#include "convert/PresetMapping.h"

#include "app/Utils.h"
#include "convert/Catalogue.h"
#include "convert/PresetRows.h"

#include <string_view>

namespace cw {

// Device block: tuning of the H.264 encoder for players with little decoding power.
extern constexpr char X264DeviceOptions[] = "flags=+loop\r\n"
                                            "cmp=+chroma\r\n"
                                            "deblockalpha=0\r\n"
                                            "deblockbeta=0\r\n"
                                            "crf=24\r\n"
                                            "refs=1\r\n"
                                            "coder=0\r\n"
                                            "me_range=16\r\n"
                                            "subq=5\r\n"
                                            "partitions=+parti4x4+parti8x8+partp8x8\r\n"
                                            "g=250\r\n"
                                            "keyint_min=25\r\n"
                                            "level=30\r\n"
                                            "qmin=10\r\n"
                                            "qmax=51\r\n"
                                            "trellis=2\r\n"
                                            "sc_threshold=40\r\n"
                                            "i_qfactor=0.71\r\n";

// PSP block: the handheld's profile (level 2.1, two reference frames, rate ceiling 4 Mbit/s).
extern constexpr char X264PspOptions[] = "flags=+loop\r\n"
                                         "cmp=+chroma\r\n"
                                         "partitions=+parti4x4+partp8x8+partb8x8\r\n"
                                         "me_method=umh\r\n"
                                         "subq=5\r\n"
                                         "trellis=1\r\n"
                                         "refs=2\r\n"
                                         "bf=1\r\n"
                                         "coder=1\r\n"
                                         "me_range=16\r\n"
                                         "g=300\r\n"
                                         "keyint_min=25\r\n"
                                         "sc_threshold=40\r\n"
                                         "i_qfactor=0.71\r\n"
                                         "bt=64k\r\n"
                                         "maxrate=4M\r\n"
                                         "bufsize=4M\r\n"
                                         "rc_eq='blurCplx^(1-qComp)'\r\n"
                                         "qcomp=0.6\r\n"
                                         "qmin=10\r\n"
                                         "qmax=51\r\n"
                                         "qdiff=4\r\n"
                                         "level=21";

namespace {

void SetText(std::string& field, const char* value) {
    if (value)
        field = value;
}

void SetNumber(int32_t& field, int32_t value) {
    if (value > 0)
        field = value;
}

void ApplyFormatValues(TOutputOptions& o, const TFormatValues& v) {
    SetText(o.VideoCodec, v.VideoCodec);
    SetText(o.AudioCodec, v.AudioCodec);
    SetText(o.FileFormat, v.FileFormat);
    SetText(o.ExtOptions, v.ExtOptions);
}

void ApplyPresetRow(TOutputOptions& o, const TPresetRow& row, TMappingMode mode,
                    int32_t sourceAudioBitrate) {
    SetText(o.VideoCodec, row.VideoCodec);
    SetText(o.VideoTag, row.Extras.Tag);
    SetText(o.VideoPreset, row.Extras.Preset);
    SetText(o.ExtOptions, row.Extras.Options);
    SetText(o.FrameSize, row.FrameSize);
    SetText(o.FrameRate, row.FrameRate);
    SetNumber(o.VideoBitrate, row.VideoBitrate);
    SetText(o.AudioCodec, row.AudioCodec);
    SetNumber(o.AudioChannels, row.AudioChannels);
    SetNumber(o.AudioSampleRate, row.AudioSampleRate);
    if (row.AudioBitrate == SourceBitrate) {
        // Per file, the source's rate; 0 when it has none, which leaves the engine default.
        if (mode == mmPerFile)
            o.AudioBitrate = sourceAudioBitrate > 0 ? sourceAudioBitrate : 0;
    } else {
        SetNumber(o.AudioBitrate, row.AudioBitrate);
    }
    SetText(o.FileFormat, row.Other.FileFormat);
    SetText(o.FrameAspectRatio, row.Other.Aspect);
    SetNumber(o.VideoMinRate, row.Other.RateLimit);
    SetNumber(o.VideoMaxRate, row.Other.RateLimit);
    SetNumber(o.VideoBufSize, row.Other.BufSize);
    SetNumber(o.TargetType, row.Other.TargetType);
    SetNumber(o.TargetNorm, row.Other.TargetNorm);
}

// A free name in the folder that is not in planned either, in the order clip.mp4,
// clip(1).mp4, clip(2).mp4, ...
std::string FreeName(const std::string& name, const std::string& folder,
                     const TPlannedNames* planned) {
    if (!planned || planned->empty())
        return UniqueFileName(name, folder);
    const std::string base = StripExtension(name);
    const std::string ext = ExtractFileExt(name);
    std::string candidate = name;
    for (int i = 1; i <= UniqueFileCap; ++i) {
        // UniqueFileName keeps a name only when nothing exists under it.
        if (!planned->count(folder + candidate) && UniqueFileName(candidate, folder) == candidate)
            return candidate;
        candidate = base + "(" + std::to_string(i) + ")" + ext;
    }
    return candidate;
}

std::string PlanPath(const std::string& outputFolder, const std::string& name,
                     TPlannedNames* planned) {
    const std::string folder = AddTrailingBackslash(outputFolder);
    const std::string path = folder + FreeName(name, folder, planned);
    if (planned)
        planned->insert(path);
    return path;
}

} // namespace

TOutputSelection CurrentSelection(const TGlobalVars& vars) {
    TOutputSelection s;
    s.Class = vars.OutputFormatClass;
    s.Format = SelectedFormatIndex(vars, s.Class);
    const TOutputFormat* format = FindFormat(s.Class, s.Format);
    s.Preset = format ? StoredPreset(vars, *format) : -1;
    return s;
}

std::string SelectionExtension(const TOutputSelection& selection) {
    const TOutputFormat* format = FindFormat(selection.Class, selection.Format);
    return format ? std::string(format->Extension) : std::string();
}

std::string FileOutputPath(const std::string& outputFolder, const std::string& inputFileName,
                           const std::string& ext, TPlannedNames* planned) {
    return PlanPath(outputFolder, StripExtension(ExtractFileName(inputFileName)) + ext, planned);
}

std::string MergeOutputPath(const std::string& outputFolder, const std::string& ext,
                            TPlannedNames* planned) {
    return PlanPath(outputFolder, MergeOutputBaseName + ext, planned);
}

void ApplyPresetOptions(TOutputOptions& o, const TOutputSelection& selection, TMappingMode mode,
                        int32_t sourceAudioBitrate) {
    switch (selection.Class) {
    case ocVideo:
        o.DisableVideo = false;
        break;
    case ocAudio:
        o.DisableVideo = true;
        break;
    case ocDevice:
        break;
    default:
        return;
    }
    const TOutputFormat* format = FindFormat(selection.Class, selection.Format);
    if (!format)
        return;
    ApplyFormatValues(o, *format->Values);
    if (const TPresetRow* row = format->Preset(selection.Preset))
        ApplyPresetRow(o, *row, mode, sourceAudioBitrate);
}

TOutputOptions FileOutputOptions(const TOutputSelection& selection, const std::string& outputFolder,
                                 const TProbedInput& input, TPlannedNames* planned) {
    TOutputOptions o;
    InitOutputOptions(o);
    o.FileName =
        FileOutputPath(outputFolder, input.FileName, SelectionExtension(selection), planned);
    ApplyPresetOptions(o, selection, mmPerFile, input.AudioBitRate);
    return o;
}

TInputOptions FileInputOptions(const TProbedInput& input) {
    TInputOptions i;
    InitInputOptions(i);
    i.FileName = input.FileName;
    i.FileFormat = input.ForcedFormat;
    return i;
}

TOutputOptions MergeOutputOptions(const TOutputSelection& selection,
                                  const std::string& outputFolder, TPlannedNames* planned) {
    TOutputOptions o;
    InitOutputOptions(o);
    o.FileName = MergeOutputPath(outputFolder, SelectionExtension(selection), planned);
    ApplyPresetOptions(o, selection, mmMerge);
    o.Join = true;
    return o;
}

TOutputOptions FileOutputOptions(const TGlobalVars& vars, const TProbedInput& input,
                                 TPlannedNames* planned) {
    return FileOutputOptions(CurrentSelection(vars), vars.OutputFileDir, input, planned);
}

TOutputOptions MergeOutputOptions(const TGlobalVars& vars, TPlannedNames* planned) {
    return MergeOutputOptions(CurrentSelection(vars), vars.OutputFileDir, planned);
}

} // namespace cw
