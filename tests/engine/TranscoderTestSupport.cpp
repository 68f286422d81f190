#include "TranscoderTestSupport.h"

#include "engine/FFLoader.h"
#include "engine/Owners.h"
#include "engine/UnicodeIO.h"

#include <algorithm>
#include <cstring>
#include <tuple>

namespace cw::test {

TFixtureParams Clip(double seconds) {
    TFixtureParams p;
    p.Seconds = seconds;
    p.Width = 160;
    p.Height = 120;
    p.FrameRateNum = 25;
    p.FrameRateDen = 1;
    p.GopSize = 10;
    return p;
}

double TScannedStream::SoundSeconds() const {
    const int16_t loud = 3277;
    auto isLoud = [&](int16_t v) { return v > loud || v < -loud; };
    auto first = std::find_if(FirstChannel.begin(), FirstChannel.end(), isLoud);
    auto last = std::find_if(FirstChannel.rbegin(), FirstChannel.rend(), isLoud);
    if (first == FirstChannel.end() || !SampleRate)
        return 0;
    return double((FirstChannel.rend() - last) - (first - FirstChannel.begin())) / SampleRate;
}

TScan ScanMedia(const std::string& path, bool keepSamples) {
    TScan scan;
    AVFormatContext* context = nullptr;
    int result = ff::avformat_open_input(&context, path.c_str(), nullptr, nullptr);
    if (result < 0) {
        scan.Error = "open failed";
        return scan;
    }
    TInputContextPtr contextOwner(context);
    if (ff::avformat_find_stream_info(context, nullptr) < 0) {
        scan.Error = "no stream info";
        return scan;
    }
    scan.Format = context->iformat->name;
    std::vector<TCodecContextPtr> decoders(context->nb_streams);
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVCodecParameters* par = context->streams[i]->codecpar;
        TScannedStream s;
        s.Type = par->codec_type;
        s.Codec = ff::avcodec_get_name(par->codec_id);
        s.Width = par->width;
        s.Height = par->height;
        s.SampleRate = par->sample_rate;
        s.Channels = par->ch_layout.nb_channels;
        s.TimeBase = context->streams[i]->time_base;
        scan.Streams.push_back(s);
        if (s.Type != AVMEDIA_TYPE_AUDIO && s.Type != AVMEDIA_TYPE_VIDEO)
            continue;
        const AVCodec* codec = ff::avcodec_find_decoder(par->codec_id);
        if (!codec)
            continue;
        TCodecContextPtr dec(ff::avcodec_alloc_context3(codec));
        ff::avcodec_parameters_to_context(dec.get(), par);
        dec->pkt_timebase = context->streams[i]->time_base;
        if (ff::avcodec_open2(dec.get(), codec, nullptr) >= 0)
            decoders[i] = std::move(dec);
    }
    const TScannedStream* firstAudio = scan.First(AVMEDIA_TYPE_AUDIO);
    TPacketPtr packetOwner(ff::av_packet_alloc());
    TFramePtr frameOwner(ff::av_frame_alloc());
    AVPacket* packet = packetOwner.get();
    AVFrame* frame = frameOwner.get();
    auto drain = [&](unsigned index) {
        TScannedStream& s = scan.Streams[index];
        while (ff::avcodec_receive_frame(decoders[index].get(), frame) >= 0) {
            if (s.Type == AVMEDIA_TYPE_VIDEO) {
                ++s.Frames;
            } else {
                s.Samples += frame->nb_samples;
                if (keepSamples && &s == firstAudio) {
                    const auto format = static_cast<AVSampleFormat>(frame->format);
                    const bool planar = ff::av_sample_fmt_is_planar(format);
                    const int step = planar ? 1 : frame->ch_layout.nb_channels;
                    for (int k = 0; k < frame->nb_samples; ++k) {
                        const uint8_t* base = frame->extended_data[0];
                        double v = 0;
                        switch (format) {
                        case AV_SAMPLE_FMT_S16:
                        case AV_SAMPLE_FMT_S16P:
                            v = reinterpret_cast<const int16_t*>(base)[k * step] / 32768.0;
                            break;
                        case AV_SAMPLE_FMT_S32:
                        case AV_SAMPLE_FMT_S32P:
                            v = reinterpret_cast<const int32_t*>(base)[k * step] / 2147483648.0;
                            break;
                        case AV_SAMPLE_FMT_FLT:
                        case AV_SAMPLE_FMT_FLTP:
                            v = reinterpret_cast<const float*>(base)[k * step];
                            break;
                        default:
                            break;
                        }
                        s.FirstChannel.push_back(static_cast<int16_t>(
                            std::max(-32768.0, std::min(32767.0, v * 32768.0))));
                    }
                }
            }
            ff::av_frame_unref(frame);
        }
    };
    while (ff::av_read_frame(context, packet) >= 0) {
        const unsigned index = static_cast<unsigned>(packet->stream_index);
        TScannedStream& s = scan.Streams[index];
        ++s.Packets;
        s.PacketDurations.push_back(packet->duration);
        const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (ts != AV_NOPTS_VALUE) {
            s.Start = std::min(s.Start, ts * av_q2d(s.TimeBase));
            s.End = std::max(s.End, (ts + packet->duration) * av_q2d(s.TimeBase));
        }
        if (decoders[index] && ff::avcodec_send_packet(decoders[index].get(), packet) >= 0)
            drain(index);
        ff::av_packet_unref(packet);
    }
    for (unsigned i = 0; i < decoders.size(); ++i)
        if (decoders[i]) {
            ff::avcodec_send_packet(decoders[i].get(), nullptr);
            drain(i);
            decoders[i].reset();
        }
    return scan;
}

TRecordedJob::TRecordedJob() : Job(std::make_unique<TCustomFFmpeg>(20)) {
    Job->OnTerminate = [this](TCustomFFmpeg*) { ++Terminations; };
    Job->OnProgress = [this](TCustomFFmpeg*, const TJobProgress& progress) {
        std::lock_guard<std::mutex> guard(Lock);
        Reports.push_back(progress);
    };
}

std::unique_ptr<TFFLogger> TranscoderTest::Logger;
std::mutex TranscoderTest::LogLock;
std::vector<std::pair<TLogLevel, std::string>> TranscoderTest::Lines;

void TranscoderTest::SetUpTestSuite() {
    std::string error;
    ASSERT_TRUE(BindFixtureLibraries(&error)) << error;
    Logger = std::make_unique<TFFLogger>();
    Logger->TriggerEventInMainThread = false;
    Logger->SetLogLevel(llInfo);
    Logger->OnLog = [](TFFLogger*, uint32_t, TLogLevel level, const std::string& line) {
        std::lock_guard<std::mutex> guard(LogLock);
        Lines.emplace_back(level, line);
    };
}

void TranscoderTest::TearDownTestSuite() {
    Logger.reset();
}

void TranscoderTest::SetUp() {
    std::lock_guard<std::mutex> guard(LogLock);
    Lines.clear();
}

void TranscoderTest::TearDown() {}

const TFixture& TranscoderTest::Source(TFixtureKind kind, const TFixtureParams& params) {
    static TTempDir folder;
    static std::map<std::string, TFixture> written;
    const std::string key =
        std::string(FixtureName(kind)) + "-" + std::to_string(params.Seconds) + "-" +
        std::to_string(params.Width) + "x" + std::to_string(params.Height) + "-" +
        std::to_string(params.FrameRateNum) + "-" + std::to_string(params.SampleRate) + "-" +
        std::to_string(params.Channels);
    auto it = written.find(key);
    if (it == written.end()) {
        const std::string path =
            folder.Folder() + std::to_string(written.size()) + FixtureExtension(kind);
        it = written.emplace(key, WriteFixture(kind, path, params)).first;
    }
    return it->second;
}

std::vector<std::string> TranscoderTest::LogLines(TLogLevel maxLevel) {
    std::lock_guard<std::mutex> guard(LogLock);
    std::vector<std::string> result;
    for (const auto& [level, line] : Lines)
        if (level <= maxLevel)
            result.push_back(line);
    return result;
}

bool TranscoderTest::Logged(const std::string& text) {
    for (const std::string& line : LogLines())
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

} // namespace cw::test
