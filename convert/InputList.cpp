#include "convert/InputList.h"

#include "app/Utils.h"
#include "engine/FFDecoder.h"
#include "engine/Text.h"

namespace cw {

std::string InputDurationText(int64_t microseconds) {
    return microseconds == -1 ? "Duration is not preseted" : FormatMicroseconds(microseconds);
}

std::string InputBitRateText(int32_t bitsPerSecond) {
    return bitsPerSecond < 1 ? "Bit rate is not preseted"
                             : FormatText("%d Kbps", bitsPerSecond / 1000);
}

TInputRow MakeInputRow(const std::string& path, int64_t fileSize, bool audioOnly,
                       const TFileStreamInfo& file, const TVideoStreamInfo& video,
                       const TAudioStreamInfo& audio) {
    TInputRow row;
    row.AudioOnly = audioOnly;
    row.Duration = file.Duration;
    row.Width = video.Width;
    row.Height = video.Height;
    row.AspectRatio = video.AspectRatio;
    auto& c = row.Cells;
    c[icFileMinName] = path;
    c[icDuration] = "Duration: " + InputDurationText(file.Duration);
    c[icBitrate] = audioOnly ? "Audio Bit rate: " + InputBitRateText(audio.BitRate)
                             : "Bit rate: " + InputBitRateText(video.BitRate);
    c[icDimension] = audioOnly ? "Audio Encoder: " + audio.CodecName
                               : "Dimension: " + FormatText("%d x %d", video.Width, video.Height);
    c[icFileFullName] = path;
    // Whole megabytes: the byte count followed by "M" would misstate the size.
    c[icFileSize] = FormatText("File size: %lld M", static_cast<long long>(fileSize / 1048576));
    c[icVideoEncoder] = "Video encoder: " + video.CodecName;
    c[icAudioChannels] = FormatText("Channels: %d", audio.Channels);
    c[icAudioSampleRate] = FormatText("Sample rate: %d Hz", audio.SampleRate);
    c[icAudioBitrate] = "Bit rate: " + InputBitRateText(audio.BitRate);
    c[icAudioEncoder] = "Audio encoder: " + audio.CodecName;
    // A missing stream reports -1/-1; a zero denominator would divide by zero.
    c[icFrameRate] =
        FormatText("Frame rate: %f",
                   video.FrameRateDen != 0 ? double(video.FrameRateNum) / video.FrameRateDen : 0.0);
    c[icRealDuration] = std::to_string(file.Duration < 0 ? 0 : file.Duration);
    c[icWidth] = std::to_string(video.Width);
    c[icHeight] = std::to_string(video.Height);
    c[icAspectRatio] = FormatText("%g", double(video.AspectRatio));
    return row;
}

TProbeResult ProbeInputFile(TFFDecoder& decoder, const std::string& path) {
    TProbeResult result;
    if (!decoder.LoadFile(path)) {
        result.Error = decoder.LastErrMsg();
        return result;
    }
    result.Opened = true;
    const bool audioOnly = decoder.FirstVideoStream() < 0;
    const TFileStreamInfo file = decoder.GetFileStreamInfo();
    if (!audioOnly) {
        // The middle picture; a file without duration shows its first picture.
        if (file.Duration > 0)
            decoder.Seek(0, file.Duration / 2);
        result.Thumbnail.SetBitsPixel(24);
        result.HasThumbnail = decoder.Decode(decoder.FirstVideoStream()) &&
                              decoder.CopyToBitmap(result.Thumbnail) &&
                              result.Thumbnail.Width() > 0 && result.Thumbnail.Height() > 0;
    }
    result.Row = MakeInputRow(path, decoder.FileSize(), audioOnly, file,
                              decoder.GetVideoStreamInfo(decoder.FirstVideoStream()),
                              decoder.GetAudioStreamInfo(decoder.FirstAudioStream()));
    decoder.CloseFile();
    return result;
}

TInputListCommands InputListCommands(int rowCount, int selected) {
    const bool hasSelection = selected >= 0 && selected < rowCount;
    TInputListCommands commands;
    commands.Delete = hasSelection;
    commands.Clear = rowCount > 0;
    commands.MoveUp = hasSelection && selected > 0;
    commands.MoveDown = hasSelection && selected + 1 < rowCount;
    commands.Play = hasSelection;
    return commands;
}

int SelectionAfterDelete(int deleted, int rowCount) {
    if (rowCount <= 0)
        return -1;
    return deleted < rowCount ? deleted : rowCount - 1;
}

int MoveUpTarget(int selected) {
    return selected > 0 ? selected - 1 : -1;
}

int MoveDownTarget(int selected, int rowCount) {
    return selected >= 0 && selected + 1 < rowCount ? selected + 1 : -1;
}

} // namespace cw
