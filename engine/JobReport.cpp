// The progress report of a job: the figures handed to OnProgress and the status line logged
// at each report and at the end of a run.
#include "engine/Transcoder.h"

#include "engine/Text.h"

#include <algorithm>
#include <cmath>

namespace cw {

namespace {

double Psnr(double d) {
    return -10.0 * std::log10(d);
}

// "PSNR=" with the Y, U, V and whole-picture figures: of the last picture, or of all pictures
// for the last report.
std::string PsnrText(const TOutputStream& ost, bool last) {
    const AVCodecContext* enc = ost.Encoder.get();
    const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(enc->pix_fmt);
    const double frames = last ? static_cast<double>(std::max<int64_t>(ost.EncodedFrames, 1)) : 1;
    const uint64_t* error = last ? ost.TotalError : ost.LastError;
    std::string text = "PSNR=";
    double errorSum = 0;
    double scaleSum = 0;
    static const char Planes[] = "YUV";
    for (int j = 0; j < 3 && j < ost.ErrorPlanes; ++j) {
        double scale = static_cast<double>(enc->width) * enc->height * 255.0 * 255.0 * frames;
        if (j && desc)
            scale /= static_cast<double>(1 << (desc->log2_chroma_w + desc->log2_chroma_h));
        errorSum += static_cast<double>(error[j]);
        scaleSum += scale;
        text += FormatText("%c:%2.2f ", Planes[j], Psnr(static_cast<double>(error[j]) / scale));
    }
    text += FormatText("*:%2.2f ", Psnr(errorSum / scaleSum));
    return text;
}

} // namespace

void TCustomFFmpeg::Report(bool last, int fileIndex) {
    if (OutputFiles.Outputs.empty())
        return;
    AVFormatContext* oc = OutputFiles.Outputs[0]->Context.get();
    int64_t totalSize = 0;
    if (oc->pb) {
        totalSize = ff::avio_size(oc->pb);
        if (totalSize < 0)
            totalSize = ff::avio_seek(oc->pb, 0, SEEK_CUR);
        if (totalSize < 0)
            totalSize = 0;
    }
    std::string line;
    const double elapsed = static_cast<double>(ff::av_gettime() - TimerStart) / 1e6;
    double ti1 = 1e10;
    bool videoSeen = false;
    float quality = -1;
    int fps = -1;
    int frameNumber = -1;
    for (const TOutputStream* ost : Tables.OutputStreams) {
        const AVMediaType type = ost->Type();
        const double q = ost->NeedsEncoding ? ost->Quality : -1;
        if (type == AVMEDIA_TYPE_VIDEO && ost->Report) {
            if (!videoSeen) {
                frameNumber = static_cast<int>(ost->FrameNumber);
                fps = elapsed > 1 ? static_cast<int>(frameNumber / elapsed + 0.5) : 0;
                quality = static_cast<float>(q);
                line += FormatText("frame=%5d fps=%3d q=%3.1f ", frameNumber, fps, q);
                if (frameNumber < 1 && !last)
                    return;
                if (last)
                    line += "L";
                if (Options.QpHistogram && q >= 0) {
                    const int qp = static_cast<int>(std::lrint(q));
                    if (qp >= 0 && qp < 52)
                        ++QpHistogram52[qp];
                    for (int j = 0; j < 32; ++j)
                        line += FormatText(
                            "%X", static_cast<int>(std::lrint(std::log2(QpHistogram52[j] + 1))));
                }
                if ((ost->Encoder->flags & AV_CODEC_FLAG_PSNR) && ost->ErrorPlanes > 0)
                    line += PsnrText(*ost, last);
                videoSeen = true;
            } else {
                line += FormatText("q=%2.1f ", q);
            }
        }
        const double t = ost->Seconds();
        if (t > 0 && t < ti1)
            ti1 = t;
    }
    if (ti1 < 0.01)
        ti1 = 0.01;

    if (OnProgress || Options.Verbose > 0 || last) {
        const double bitrate = static_cast<double>(totalSize) * 8 / ti1 / 1000.0;
        line += FormatText("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s",
                           static_cast<double>(totalSize) / 1024, ti1, bitrate);
        if (Counters.DupFrames || Counters.DropFrames)
            line += FormatText(" dup=%lld drop=%lld", static_cast<long long>(Counters.DupFrames),
                               static_cast<long long>(Counters.DropFrames));
        if (Counters.ReportDupDrop && OnProgress && Options.Verbose >= 0) {
            LogV(llVerbose, line);
            Counters.ReportDupDrop = false;
        }
        if (OnProgress) {
            TJobProgress progress;
            progress.FileIndex = last ? -1 : fileIndex;
            progress.TotalDuration = Options.TotalDuration;
            progress.CurrentDuration = static_cast<int64_t>(ti1 * 1e6);
            progress.CurrentSize = totalSize;
            progress.BitRate = static_cast<float>(bitrate);
            progress.Quality = videoSeen ? quality : -1.0f;
            progress.FPS = videoSeen ? fps : -1;
            progress.FrameNumber = videoSeen ? frameNumber : -1;
            OnProgress(this, progress);
        } else if (Options.Verbose >= 0) {
            LogV(llVerbose, line);
        }
    }
    if (last && Options.Verbose >= 0) {
        const double sum =
            static_cast<double>(Counters.VideoBytes + Counters.AudioBytes + Counters.ExtraBytes);
        LogV(llVerbose,
             FormatText("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead "
                        "%f%%\r\n",
                        static_cast<double>(Counters.VideoBytes) / 1024,
                        static_cast<double>(Counters.AudioBytes) / 1024,
                        static_cast<double>(Counters.ExtraBytes) / 1024,
                        sum > 0 ? 100.0 * (static_cast<double>(totalSize) - sum) / sum : 0.0));
    }
}

} // namespace cw
