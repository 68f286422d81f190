#include "engine/FFDecoder.h"

#include "engine/CodecLock.h"
#include "engine/FFApi.h"
#include "engine/FFLoader.h"
#include "engine/FFLogger.h"
#include "engine/FFmpegException.h"
#include "engine/StreamFacts.h"
#include "engine/Text.h"
#include "engine/UnicodeIO.h"

#include <strings.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

namespace cw {

namespace {

// Message levels as the libraries number them.
constexpr int LevelError = 16;
constexpr int LevelWarning = 24;
constexpr int LevelInfo = 32;
constexpr int LevelDebug = 48;

constexpr const char* NotLoadedText = "file not loaded.";
constexpr const char* EofText = "stream eof reached.";
constexpr const char* ReadOnlyText = "file cannot be seeked, handle is readonly.";

int32_t ToInt32(int64_t value) {
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

// The leading decimal number of a tag value ("2009-05-01" -> 2009, "3/12" -> 3); 0 when the
// value does not start with one.
int32_t LeadingNumber(const std::string& text) {
    return ToInt32(std::strtoll(text.c_str(), nullptr, 10));
}

// "YYYY-MM-DD[T ]hh:mm:ss[.ffffff][Z]" (UTC) as microseconds since 1970; 0 when the text is
// not such a time.
int64_t ParseCreationTime(const std::string& text) {
    std::tm tm{};
    int fractionStart = 0;
    char separator = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &tm.tm_year, &tm.tm_mon,
                    &tm.tm_mday, &separator, &tm.tm_hour, &tm.tm_min, &tm.tm_sec,
                    &fractionStart) != 7 ||
        (separator != 'T' && separator != ' '))
        return 0;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    int64_t micro = 0;
    if (text[static_cast<size_t>(fractionStart)] == '.') {
        int64_t scale = 100000;
        for (size_t i = static_cast<size_t>(fractionStart) + 1;
             i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, scale /= 10)
            micro += (text[i] - '0') * scale;
    }
    return static_cast<int64_t>(::timegm(&tm)) * 1000000 + micro;
}

int64_t BytePosition(AVIOContext* io) {
    return io ? ff::avio_seek(io, 0, SEEK_CUR) : -1;
}

// A codec context holding only what CodecText reads of a stream's parameters.
std::string StreamCodecText(const AVCodecParameters* parameters) {
    AVCodecContext context{};
    context.codec_type = parameters->codec_type;
    context.codec_id = parameters->codec_id;
    context.codec_tag = parameters->codec_tag;
    return CodecText(&context, false);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TCustomDecoder

TCustomDecoder::TCustomDecoder() = default;

// Descendants close in their own destructor; the owner of an opened input covers a plain
// TCustomDecoder.
TCustomDecoder::~TCustomDecoder() = default;

void TCustomDecoder::Message(int libraryLevel, const std::string& text) {
    LastError = text;
    LogOnly(libraryLevel, text);
}

void TCustomDecoder::LogOnly(int libraryLevel, const std::string& text) {
    TFFLogger::Instance().Log(LogLevelFromLibrary(libraryLevel), text);
}

void TCustomDecoder::CheckLibraries() {
    struct TRow {
        TLibraryId Id;
        const char* Text;
    };
    static constexpr TRow Rows[] = {
        {libAVCodec, "LibAVCodec not loaded."},
        {libAVFormat, "LibAVFormat not loaded."},
        {libAVUtil, "LibAVUtil not loaded."},
        {libSwScale, "LibSwScale not loaded."},
    };
    for (const auto& row : Rows)
        if (!FFLoader().LibLoaded(row.Id))
            throw FFmpegException(row.Text);
}

AVStream* TCustomDecoder::StreamAt(int index) const {
    return Input->streams[index];
}

void TCustomDecoder::RepairTimeBase(AVStream* stream) {
    if (stream->time_base.den == 0)
        stream->time_base.den = stream->time_base.num;
    if (stream->time_base.den == 0)
        stream->time_base.den = 1;
}

bool TCustomDecoder::IsImage2() const {
    return Input && Input->iformat && Input->iformat->name &&
           ::strcasecmp(Input->iformat->name, "image2") == 0;
}

bool TCustomDecoder::LoadFile(const std::string& fileName, const std::string& formatName) {
    CheckLibraries();
    CloseFile();

    const AVInputFormat* format = nullptr;
    if (!formatName.empty()) {
        format = ff::av_find_input_format(formatName.c_str());
        if (!format) {
            LastError = FormatText("Unknown input format: %s", formatName.c_str());
            return false;
        }
    }

    AVFormatContext* context = ff::avformat_alloc_context();
    if (!context) {
        Message(LevelError, ErrorText(fileName, AVERROR(ENOMEM)));
        return false;
    }
    Owner = true;
    context->flags |= AVFMT_FLAG_NONBLOCK;
    // On failure the context is freed and set to null.
    int result = OpenInputFile(&context, ToLibraryFileName(fileName), format, nullptr);
    if (result < 0) {
        Message(LevelError, ErrorText(fileName, result));
        CloseFile();
        return false;
    }
    OwnedInput.reset(context);
    Input = context;

    if (ff::avformat_find_stream_info(Input, nullptr) < 0) {
        LastError = FormatText("%s: could not find codec parameters", fileName.c_str());
        CloseFile();
        return false;
    }
    RefreshInfo();
    Forced = formatName;
    return true;
}

void TCustomDecoder::CloseFile() {
    Forced.clear();
    OwnedInput.reset();
    Input = nullptr;
    RefreshInfo();
}

void TCustomDecoder::AttachContext(AVFormatContext* context) {
    if (context == Input)
        return;
    CheckLibraries();
    CloseFile();
    Owner = false;
    Input = context;
    RefreshInfo();
}

void TCustomDecoder::RefreshInfo() {
    Size = -1;
    Streams = Programs = -1;
    AudioCount = VideoCount = SubtitleCount = -1;
    FirstAudio = FirstVideo = FirstSubtitle = -1;
    if (!Input)
        return;

    // The container's own idea of the size first; a local file's size on disk when it has
    // none (containers without file access, such as image sequences, report nothing).
    // Pipes and other unseekable inputs have no size: 0, never the library's error code.
    int64_t containerSize = Input->pb ? ff::avio_size(Input->pb) : 0;
    if (containerSize > 0) {
        Size = containerSize;
    } else {
        struct stat st {};
        std::string name = FromLibraryFileName(Input->url ? Input->url : "");
        if (!name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            Size = static_cast<int64_t>(st.st_size);
        else
            Size = 0;
    }

    Streams = static_cast<int>(Input->nb_streams);
    Programs = static_cast<int>(Input->nb_programs);
    AudioCount = VideoCount = SubtitleCount = 0;
    for (int i = 0; i < Streams; ++i) {
        switch (StreamAt(i)->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            // Cover art is a picture of the file, not its video.
            if (IsCoverPicture(StreamAt(i)))
                break;
            if (VideoCount++ == 0)
                FirstVideo = i;
            break;
        case AVMEDIA_TYPE_AUDIO:
            if (AudioCount++ == 0)
                FirstAudio = i;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            if (SubtitleCount++ == 0)
                FirstSubtitle = i;
            break;
        default:
            break;
        }
    }
}

TFileStreamInfo TCustomDecoder::GetFileStreamInfo() {
    TFileStreamInfo info;
    if (!Input) {
        Message(LevelWarning, NotLoadedText);
        return info;
    }
    info.StartTime = Input->start_time == AV_NOPTS_VALUE ? -1 : Input->start_time;
    info.Duration = Input->duration == AV_NOPTS_VALUE ? -1 : Input->duration;
    info.BitRate = ToInt32(Input->bit_rate);
    const AVDictionary* tags = Input->metadata;
    info.Timestamp = ParseCreationTime(MetadataValue(tags, "creation_time", ""));
    std::string year = MetadataValue(tags, "year", "");
    info.Year = LeadingNumber(year.empty() ? MetadataValue(tags, "date", "") : year);
    info.Track = LeadingNumber(MetadataValue(tags, "track", ""));
    info.Title = MetadataValue(tags, "title", "");
    // Current containers name the author "artist".
    info.Author = MetadataValue(tags, "author", MetadataValue(tags, "artist", ""));
    info.Copyright = MetadataValue(tags, "copyright", "");
    info.Comment = MetadataValue(tags, "comment", "");
    info.Album = MetadataValue(tags, "album", "");
    info.Genre = MetadataValue(tags, "genre", "");
    return info;
}

bool TCustomDecoder::CheckStream(int& index, int mediaType, const char* kindName) {
    if (!Input) {
        Message(LevelWarning, NotLoadedText);
        return false;
    }
    if (index < 0) {
        index = mediaType == AVMEDIA_TYPE_AUDIO ? FirstAudio : FirstVideo;
        if (index < 0) {
            Message(LevelError, FormatText("no %s stream.", kindName));
            return false;
        }
    }
    if (index >= Streams) {
        Message(LevelError, FormatText("stream index #%d is invalid.", index));
        return false;
    }
    if (StreamAt(index)->codecpar->codec_type != mediaType) {
        Message(LevelError, FormatText("stream #%d is not %s stream.", index, kindName));
        return false;
    }
    return true;
}

template <class TInfo> void TCustomDecoder::FillCommon(AVStream* stream, TInfo& info) {
    info.Language = MetadataValue(stream->metadata, "language", "");
    info.CodecName = StreamCodecText(stream->codecpar);
    info.StartTime = stream->start_time;
    info.Duration = stream->duration;
    RepairTimeBase(stream);
    const AVRational microseconds{1, 1000000};
    if (stream->start_time != AV_NOPTS_VALUE)
        info.StartTimeUS = ff::av_rescale_q(stream->start_time, stream->time_base, microseconds);
    if (stream->duration != AV_NOPTS_VALUE)
        info.DurationUS = ff::av_rescale_q(stream->duration, stream->time_base, microseconds);
    info.BitRate = ToInt32(stream->codecpar->bit_rate);
}

TAudioStreamInfo TCustomDecoder::GetAudioStreamInfo(int streamIndex) {
    TAudioStreamInfo info;
    if (!CheckStream(streamIndex, AVMEDIA_TYPE_AUDIO, "audio"))
        return info;
    AVStream* stream = StreamAt(streamIndex);
    FillCommon(stream, info);
    const AVCodecParameters* p = stream->codecpar;
    info.Channels = p->ch_layout.nb_channels;
    info.SampleRate = p->sample_rate;
    info.SampleFormat = p->format;
    return info;
}

TVideoStreamInfo TCustomDecoder::GetVideoStreamInfo(int streamIndex) {
    TVideoStreamInfo info;
    if (!CheckStream(streamIndex, AVMEDIA_TYPE_VIDEO, "video"))
        return info;
    AVStream* stream = StreamAt(streamIndex);
    FillCommon(stream, info);
    const AVCodecParameters* p = stream->codecpar;
    info.Height = p->height;
    info.Width = p->width;
    info.PixelFormat = p->format;
    // The codec's pixel shape, else the container's; square pixels when neither says.
    AVRational sar = p->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0)
        sar = stream->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0)
        sar = AVRational{1, 1};
    if (p->height > 0)
        info.AspectRatio = static_cast<float>(av_q2d(sar) * p->width / p->height);
    // The picture as it is shown: one stored on its side is taller than wide.
    if (TurnSwapsSides(DisplayTurn(stream))) {
        std::swap(info.Width, info.Height);
        if (info.AspectRatio > 0)
            info.AspectRatio = 1.0f / info.AspectRatio;
    }
    AVRational rate = stream->avg_frame_rate;
    if (rate.num == 0 || rate.den == 0)
        rate = stream->r_frame_rate;
    info.FrameRateNum = rate.num;
    info.FrameRateDen = rate.den;
    return info;
}

std::string TCustomDecoder::FileName() {
    if (!Input) {
        Message(LevelWarning, NotLoadedText);
        return {};
    }
    return FromLibraryFileName(Input->url ? Input->url : "");
}

// ---------------------------------------------------------------------------------------------
// TFFDecoder

TFFDecoder::TFFDecoder() = default;

TFFDecoder::~TFFDecoder() {
    // Without the libraries nothing of theirs can be freed any more (process end).
    if (ff::avformat_close_input && ff::avcodec_free_context)
        CloseFile();
}

void TFFDecoder::RefreshInfo() {
    TCustomDecoder::RefreshInfo();
    DefaultStreamIndex = FirstVideoStream() >= 0 ? FirstVideoStream() : FirstAudioStream();
    Start = -1;
    if (!Context())
        return;
    int64_t start =
        DefaultStreamIndex >= 0 ? StreamAt(DefaultStreamIndex)->start_time : Context()->start_time;
    Start = start == AV_NOPTS_VALUE ? 0 : start;
}

void TFFDecoder::CloseFile() {
    CloseVideoDecoder();
    DefaultStreamIndex = -1;
    Start = -1;
    CurrentVideo = -1;
    AtEnd = false;
    ResetPicture();
    TCustomDecoder::CloseFile();
}

void TFFDecoder::ResetPicture() {
    Ready = false;
}

void TFFDecoder::CloseVideoDecoder() {
    VideoCodec.reset();
    VideoCodecStream = -1;
    Draining = false;
}

void TFFDecoder::FlushDecoders() {
    if (VideoCodec)
        ff::avcodec_flush_buffers(VideoCodec.get());
    Draining = false;
}

bool TFFDecoder::Seek(uint8_t flags, int64_t position) {
    AVFormatContext* context = Context();
    if (!context) {
        Message(LevelWarning, NotLoadedText);
        return false;
    }
    if (!OwnsContext()) {
        Message(LevelWarning, ReadOnlyText);
        throw FFmpegException(ReadOnlyText);
    }
    if (IsImage2()) {
        Message(LevelInfo, "\"image2\" format cannot to be seeked.");
        return false;
    }
    AVIOContext* io = context->pb;
    if (io)
        Message(LevelDebug, FormatText("current position %lld bytes",
                                       static_cast<long long>(BytePosition(io))));

    const bool byBytes = flags & AVSEEK_FLAG_BYTE;
    const int seekFlags = flags & 0x0f;
    const int64_t given = position < 0 ? 0 : position;
    int64_t target = given;
    if (!byBytes) {
        if (DefaultStreamIndex >= 0) {
            AVStream* stream = StreamAt(DefaultStreamIndex);
            RepairTimeBase(stream);
            target = ff::av_rescale_q(given, AVRational{1, 1000000}, stream->time_base);
        }
        if (Start > 0)
            target += Start;
    }

    FlushDecoders();
    AtEnd = false;
    ResetPicture();

    int result;
    if (given > 0) {
        result = ff::av_seek_frame(context, DefaultStreamIndex, target, seekFlags);
    } else {
        result =
            ff::av_seek_frame(context, DefaultStreamIndex, 0, seekFlags | AVSEEK_FLAG_BACKWARD);
        if (result < 0)
            result = ff::av_seek_frame(context, DefaultStreamIndex, target,
                                       seekFlags & ~AVSEEK_FLAG_BACKWARD);
    }
    const bool done = result >= 0;
    // A time past the end of the file: the answer is the end of the stream, whatever the
    // container's seek made of it.
    if (!done && !byBytes && context->duration != AV_NOPTS_VALUE && context->duration > 0 &&
        given >= context->duration) {
        Message(LevelInfo, EofText);
        AtEnd = true;
        return false;
    }
    if (!done)
        Message(LevelError,
                byBytes ? FormatText("could not seek to position %lld bytes",
                                     static_cast<long long>(given))
                        : FormatText("could not seek to position %0.3f seconds", given / 1e6));
    if (io) {
        std::string text =
            FormatText("seek to position %lld bytes", static_cast<long long>(BytePosition(io)));
        // After a failure the failure stays the reason.
        if (done)
            Message(LevelDebug, text);
        else
            LogOnly(LevelDebug, text);
    }
    if (io && io->eof_reached) {
        if (done)
            Message(LevelInfo, EofText);
        AtEnd = true;
        return false;
    }
    return done;
}

int TFFDecoder::SelectVideoStream(int streamIndex) {
    int index = streamIndex;
    if (index < 0)
        index = CurrentVideo >= 0 ? CurrentVideo : FirstVideoStream();
    if (index < 0) {
        Message(LevelError, "no video stream.");
        return -1;
    }
    if (index >= StreamCount()) {
        Message(LevelError, FormatText("stream index #%d is invalid.", index));
        return -1;
    }
    if (StreamAt(index)->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
        Message(LevelError, FormatText("stream #%d is not video stream.", index));
        return -1;
    }
    if (index != CurrentVideo) {
        CurrentVideo = index;
        ResetPicture();
    }
    return index;
}

bool TFFDecoder::OpenVideoDecoder(int index) {
    AVStream* stream = StreamAt(index);
    const AVCodecParameters* parameters = stream->codecpar;
    if (parameters->width <= 0 || parameters->height <= 0) {
        Message(LevelError, "frame size of codec is invalid.");
        return false;
    }
    if (VideoCodec && VideoCodecStream == index)
        return true;
    CloseVideoDecoder();
    const AVCodec* codec = ff::avcodec_find_decoder(parameters->codec_id);
    if (!codec) {
        Message(LevelError, FormatText("Unsupported codec (id=%d) for input file stream #%d",
                                       static_cast<int>(parameters->codec_id), index));
        return false;
    }
    TCodecContextPtr context(ff::avcodec_alloc_context3(codec));
    int result = context ? ff::avcodec_parameters_to_context(context.get(), parameters) : -1;
    if (result >= 0) {
        RepairTimeBase(stream);
        context->pkt_timebase = stream->time_base;
        TCodecLock lock;
        result = ff::avcodec_open2(context.get(), codec, nullptr);
    }
    if (result < 0) {
        context.reset();
        Message(LevelError,
                FormatText("Error while opening codec for input file stream #%d", index));
        return false;
    }
    VideoCodec = std::move(context);
    VideoCodecStream = index;
    Draining = false;
    return true;
}

bool TFFDecoder::Decode(int streamIndex) {
    const int index = SelectVideoStream(streamIndex);
    if (index < 0)
        return false;
    if (Ready && IsImage2())
        return true; // a still image keeps its one picture
    if (AtEnd) {
        Message(LevelInfo, EofText);
        return false;
    }
    if (!OpenVideoDecoder(index))
        return false;
    if (!Frame)
        Frame.reset(ff::av_frame_alloc());
    if (!Packet)
        Packet.reset(ff::av_packet_alloc());
    if (!Frame || !Packet) {
        Message(LevelError, ErrorText(FileName(), AVERROR(ENOMEM)));
        return false;
    }

    AVFormatContext* context = Context();
    const int64_t position = BytePosition(context->pb);
    for (;;) {
        // A picture the decoder already holds comes before the next packet.
        int result = ff::avcodec_receive_frame(VideoCodec.get(), Frame.get());
        if (result >= 0) {
            AVFrame* frame = Frame.get();
            Message(LevelDebug,
                    FormatText("pkt.st_idx=%d, dts=%lld, pts=%lld, flags=%d, pict_type=%d", index,
                               static_cast<long long>(frame->pkt_dts),
                               static_cast<long long>(frame->pts), frame->key_frame ? 1 : 0,
                               static_cast<int>(frame->pict_type)));
            TPicture picture = PictureOf(frame);
            if (DeinterlaceOn) {
                TPicture deinterlaced;
                if (DeinterlacePicture(frame, frame->pts, deinterlaced))
                    picture = deinterlaced;
                else
                    DeinterlaceOn = false;
            }
            const bool stored = StorePicture(frame, picture, position);
            ff::av_frame_unref(frame);
            if (!stored)
                Message(LevelError, ErrorText(FileName(), AVERROR(ENOMEM)));
            return stored;
        }
        if (result == AVERROR_EOF || (Draining && result == AVERROR(EAGAIN))) {
            Message(LevelInfo, EofText);
            AtEnd = true;
            return false;
        }
        // Otherwise the decoder wants input (a picture it could not decode is skipped).

        result = ff::av_read_frame(context, Packet.get());
        if (result == AVERROR(EAGAIN)) {
            Message(LevelInfo, "no data, please try again.");
            return false;
        }
        if (result < 0) {
            const bool atEnd = result == AVERROR(EPIPE) || result == AVERROR_EOF ||
                               (context->pb && context->pb->eof_reached);
            if (!atEnd) {
                Message(LevelInfo, FormatText("unknown error #%d.", result));
                return false;
            }
            // The end of the file: the decoder gives out the pictures it still holds.
            ff::avcodec_send_packet(VideoCodec.get(), nullptr);
            Draining = true;
            continue;
        }
        if (Packet->stream_index != index) {
            ff::av_packet_unref(Packet.get());
            continue;
        }
        ResetPicture();
        LastPacketPts = Packet->pts;
        // The packet's stamps travel with it through the decoder's reordering.
        ff::avcodec_send_packet(VideoCodec.get(), Packet.get());
        ff::av_packet_unref(Packet.get());
    }
}

bool TFFDecoder::GrowBuffer(TBuffer& buffer, size_t& capacity, size_t size) {
    if (size <= capacity && buffer)
        return true;
    auto* memory = static_cast<uint8_t*>(ff::av_malloc(size));
    if (!memory)
        return false;
    buffer.reset(memory);
    capacity = size;
    return true;
}

bool TFFDecoder::DeinterlacePicture(const AVFrame* frame, int64_t pts, TPicture& result) {
    TFilterGraphPtr graph(ff::avfilter_graph_alloc());
    TFramePtr input(ff::av_frame_alloc());
    TFramePtr output(ff::av_frame_alloc());
    bool ok = graph && input && output;
    AVFilterContext* source = nullptr;
    AVFilterContext* filter = nullptr;
    AVFilterContext* sink = nullptr;
    if (ok) {
        AVStream* stream = StreamAt(CurrentVideo);
        AVRational sar = frame->sample_aspect_ratio;
        if (sar.num <= 0 || sar.den <= 0)
            sar = AVRational{1, 1};
        std::string args =
            FormatText("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d",
                       frame->width, frame->height, frame->format, stream->time_base.num,
                       stream->time_base.den, sar.num, sar.den);
        ok = ff::avfilter_graph_create_filter(&source, ff::avfilter_get_by_name("buffer"), "in",
                                              args.c_str(), nullptr, graph.get()) >= 0 &&
             ff::avfilter_graph_create_filter(&filter, ff::avfilter_get_by_name("yadif"),
                                              "deinterlace", "mode=send_frame:deint=all", nullptr,
                                              graph.get()) >= 0 &&
             ff::avfilter_graph_create_filter(&sink, ff::avfilter_get_by_name("buffersink"), "out",
                                              nullptr, nullptr, graph.get()) >= 0 &&
             ff::avfilter_link(source, 0, filter, 0) >= 0 &&
             ff::avfilter_link(filter, 0, sink, 0) >= 0 &&
             ff::avfilter_graph_config(graph.get(), nullptr) >= 0;
    }
    if (ok) {
        // One picture and then the end: the filter works from that picture alone.
        AVFrame* in = input.get();
        in->format = frame->format;
        in->width = frame->width;
        in->height = frame->height;
        for (int i = 0; i < 4; ++i) {
            in->data[i] = frame->data[i];
            in->linesize[i] = frame->linesize[i];
        }
        in->pts = pts == AV_NOPTS_VALUE ? 0 : pts;
        in->sample_aspect_ratio = frame->sample_aspect_ratio;
        ok = ff::av_buffersrc_add_frame_flags(source, in, AV_BUFFERSRC_FLAG_KEEP_REF) >= 0 &&
             ff::av_buffersrc_add_frame_flags(source, nullptr, 0) >= 0 &&
             ff::av_buffersink_get_frame(sink, output.get()) >= 0;
    }
    if (!ok) {
        Message(LevelError, "deinterlacing failed.");
        return false;
    }
    const AVFrame* out = output.get();
    const auto format = static_cast<AVPixelFormat>(out->format);
    int size = ff::av_image_get_buffer_size(format, out->width, out->height, 32);
    if (size < 0 ||
        !GrowBuffer(DeinterlaceBuffer, DeinterlaceCapacity, static_cast<size_t>(size))) {
        Message(LevelError, "deinterlace buffer malloc error.");
        return false;
    }
    ff::av_image_fill_arrays(result.Data, result.Linesize, DeinterlaceBuffer.get(), format,
                             out->width, out->height, 32);
    ff::av_image_copy(result.Data, result.Linesize, const_cast<const uint8_t**>(out->data),
                      out->linesize, format, out->width, out->height);
    return true;
}

bool TFFDecoder::StorePicture(const AVFrame* frame, const TPicture& picture, int64_t position) {
    const auto format = static_cast<AVPixelFormat>(frame->format);
    int size = ff::av_image_get_buffer_size(format, frame->width, frame->height, 32);
    if (size < 0 || !GrowBuffer(PictureBuffer, PictureCapacity, static_cast<size_t>(size)))
        return false;
    StoredFormat = format;
    StoredWidth = frame->width;
    StoredHeight = frame->height;
    Key = frame->key_frame != 0;
    PictType = frame->pict_type >= 0 && frame->pict_type <= 7 ? frame->pict_type : 0;

    // The stamp of the packet that completed the picture, else the one carried through the
    // decoder's reordering, else that of the last packet handed over.
    int64_t stamp = frame->pkt_dts;
    if (stamp == AV_NOPTS_VALUE)
        stamp = frame->pts;
    if (stamp == AV_NOPTS_VALUE)
        stamp = LastPacketPts;
    PreviousTime = Time;
    Time = -1;
    if (stamp != AV_NOPTS_VALUE) {
        AVStream* stream = StreamAt(CurrentVideo);
        if (stream->start_time != AV_NOPTS_VALUE)
            stamp -= stream->start_time;
        Time = ff::av_rescale_q(stamp, stream->time_base, AVRational{1, 1000000});
        Message(LevelDebug, FormatText("decode PTS: %0.3f", Time / 1e6));
    }
    PreviousPosition = Position;
    Dts = frame->pkt_dts;
    Pts = frame->pts;
    PacketStream = CurrentVideo;
    Position = position;

    ff::av_image_fill_arrays(Stored.Data, Stored.Linesize, PictureBuffer.get(), format,
                             frame->width, frame->height, 32);
    ff::av_image_copy(Stored.Data, Stored.Linesize, const_cast<const uint8_t**>(picture.Data),
                      picture.Linesize, format, frame->width, frame->height);
    Ready = true;
    return true;
}

bool TFFDecoder::CopyToBitmap(TBitmap& bitmap) {
    if (!Ready) {
        Message(LevelError, "picture not ready, please decode first");
        return false;
    }
    int bits = BitmapPixelFormat(bitmap.BitsPixel()) == AV_PIX_FMT_NONE ? 24 : bitmap.BitsPixel();
    FormatConverter.SetBitsPixel(bits);
    if (!FormatConverter.ToRGB(Stored, static_cast<AVPixelFormat>(StoredFormat), true, StoredHeight,
                               StoredWidth)) {
        bitmap.SetBitsPixel(bits);
        bitmap.SetSize(StoredWidth, StoredHeight);
        std::memset(bitmap.Data(), 0, static_cast<size_t>(bitmap.Stride()) * bitmap.Height());
        Message(LevelError, FormatConverter.LastError());
        return false;
    }
    // The picture as it is shown: a display matrix turns it upright.
    const TPictureTurn turn = CurrentVideo >= 0 ? DisplayTurn(StreamAt(CurrentVideo)) : ptNone;
    if (turn == ptNone)
        bitmap = FormatConverter.Bitmap();
    else
        bitmap = TurnBitmap(FormatConverter.Bitmap(), turn);
    return true;
}

} // namespace cw
