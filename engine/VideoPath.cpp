// The video path of a job: video stream settings, filter graph or scaler, drop/dup
// synchronisation, black fill pictures, two-pass logs and video statistics.
#include "engine/VideoPath.h"

#include "engine/FFmpegException.h"
#include "engine/JobContext.h"
#include "engine/JobHooks.h"
#include "engine/JobPipeline.h"
#include "engine/OutputFiles.h"
#include "engine/StreamFacts.h"
#include "engine/Text.h"
#include "engine/TranscoderOptions.h"
#include "engine/TranscoderStreams.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

extern "C" {
#include <libavutil/mastering_display_metadata.h>
}

namespace cw {

namespace {

// The RM muxer writes packets of at most 64 KB; pictures are kept below that with room for
// the packet's own header, and pictures larger than this area are made smaller first.
constexpr int RmMaxPacketBytes = 60000;
constexpr int64_t RmMaxPictureArea = 1280 * 720;

// x265's HDR10 settings from a stream's mastering display and light levels: primaries and
// white point in 1/50000, luminance in 1/10000 cd/m2; empty when the stream has neither.
std::string X265HdrParams(const AVStream* stream) {
    std::string params;
    for (int i = 0; i < stream->nb_side_data; ++i) {
        const AVPacketSideData& side = stream->side_data[i];
        if (side.type == AV_PKT_DATA_MASTERING_DISPLAY_METADATA &&
            side.size >= sizeof(AVMasteringDisplayMetadata)) {
            AVMasteringDisplayMetadata m;
            std::memcpy(&m, side.data, sizeof m);
            if (!m.has_primaries || !m.has_luminance)
                continue;
            auto at = [](AVRational q, double scale) {
                return static_cast<int>(std::lround(av_q2d(q) * scale));
            };
            params += FormatText(
                "%smaster-display=G(%d,%d)B(%d,%d)R(%d,%d)WP(%d,%d)L(%d,%d)",
                params.empty() ? "" : ":", at(m.display_primaries[1][0], 50000),
                at(m.display_primaries[1][1], 50000), at(m.display_primaries[2][0], 50000),
                at(m.display_primaries[2][1], 50000), at(m.display_primaries[0][0], 50000),
                at(m.display_primaries[0][1], 50000), at(m.white_point[0], 50000),
                at(m.white_point[1], 50000), at(m.max_luminance, 10000),
                at(m.min_luminance, 10000));
        } else if (side.type == AV_PKT_DATA_CONTENT_LIGHT_LEVEL &&
                   side.size >= sizeof(AVContentLightMetadata)) {
            AVContentLightMetadata light;
            std::memcpy(&light, side.data, sizeof light);
            params += FormatText("%smax-cll=%u,%u", params.empty() ? "" : ":", light.MaxCLL,
                                 light.MaxFALL);
        }
    }
    return params.empty() ? params : "hdr10=1:" + params;
}

// Pixel formats an MJPEG or lossless-JPEG encoder is offered instead of its own list: the
// full-range formats, plus the limited-range ones when the job allows unofficial streams.
struct TJpegPixelFormats {
    AVCodecID Codec;
    bool Unofficial; // the list applies when the strictness is -1 or lower
    AVPixelFormat Formats[8];
};

constexpr TJpegPixelFormats JpegPixelFormats[] = {
    {AV_CODEC_ID_MJPEG,
     true,
     {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P,
      AV_PIX_FMT_NONE}},
    {AV_CODEC_ID_MJPEG, false, {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_NONE}},
    {AV_CODEC_ID_LJPEG,
     true,
     {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUV420P,
      AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV444P, AV_PIX_FMT_BGRA, AV_PIX_FMT_NONE}},
};

AVPixelFormat CheckPixelFormat(const AVCodec* codec, const AVCodecContext* context,
                               AVPixelFormat format) {
    if (!codec)
        return format;
    const AVPixelFormat* list = codec->pix_fmts;
    for (const TJpegPixelFormats& row : JpegPixelFormats)
        if (row.Codec == codec->id &&
            row.Unofficial == (context->strict_std_compliance <= FF_COMPLIANCE_UNOFFICIAL)) {
            list = row.Formats;
            break;
        }
    if (!list || list[0] == AV_PIX_FMT_NONE)
        return format;
    for (const AVPixelFormat* p = list; *p != AV_PIX_FMT_NONE; ++p)
        if (*p == format)
            return format;
    return list[0];
}

// "rc_override": entries "start,end,q" separated by "/", the numbers separated by any
// single character. A positive q fixes the quantiser of those frames; zero or less scales
// their quality by -q / 100.
void SetRcOverride(AVCodecContext* enc, const std::string& text) {
    if (text.empty())
        return;
    std::vector<RcOverride> entries;
    const char* p = text.c_str();
    auto readInt = [&](int& value) {
        char* end = nullptr;
        const long number = std::strtol(p, &end, 10);
        if (end == p || number < INT_MIN || number > INT_MAX)
            throw FFmpegException("error parsing rc_override");
        value = static_cast<int>(number);
        p = end;
    };
    auto skipOne = [&] {
        if (!*p)
            throw FFmpegException("error parsing rc_override");
        ++p;
    };
    for (;;) {
        int start = 0, end = 0, q = 0;
        readInt(start);
        skipOne();
        readInt(end);
        skipOne();
        readInt(q);
        RcOverride entry{};
        entry.start_frame = start;
        entry.end_frame = end;
        if (q > 0) {
            // The rate control of this library generation reads the override in lambda units.
            entry.qscale = q > INT_MAX / FF_QP2LAMBDA ? INT_MAX : q * FF_QP2LAMBDA;
            entry.quality_factor = 1.0f;
        } else {
            entry.qscale = 0;
            entry.quality_factor = static_cast<float>(-q) / 100.0f;
        }
        entries.push_back(entry);
        p = std::strchr(p, '/');
        if (!p)
            break;
        ++p;
    }
    auto* table = static_cast<RcOverride*>(ff::av_mallocz(sizeof(RcOverride) * entries.size()));
    if (!table)
        throw FFmpegException("error parsing rc_override");
    std::copy(entries.begin(), entries.end(), table);
    ff::av_freep(&enc->rc_override);
    enc->rc_override = table;
    enc->rc_override_count = static_cast<int>(entries.size());
}

// The x265 parameters the options gave an output stream (false when its encoder is not x265).
bool X265Params(const TOutputStream& ost, std::string& params) {
    const AVCodecContext* enc = ost.Encoder.get();
    const AVCodec* codec = ost.EncoderChoice;
    uint8_t* given = nullptr;
    if (!codec || std::string_view(codec->name) != "libx265" || !enc->priv_data ||
        ff::av_opt_get(enc->priv_data, "x265-params", 0, &given) < 0)
        return false;
    params = given ? reinterpret_cast<const char*>(given) : "";
    ff::av_free(given);
    return true;
}

} // namespace

void TVideoPath::NewVideoStream(AVFormatContext* context, int outputIndex,
                                TTranscoderOptions& options) {
    const AVCodec* codec = nullptr;
    AVCodecID id = AV_CODEC_ID_NONE;
    if (!options.VideoStreamCopy) {
        codec = Ctx.OutputFiles.ChooseEncoder(context, AVMEDIA_TYPE_VIDEO, options.VideoCodecName);
        id = codec ? codec->id
                   : ff::av_guess_codec(context->oformat, nullptr, context->url, nullptr,
                                        AVMEDIA_TYPE_VIDEO);
    }
    TOutputStream& ost =
        Ctx.OutputFiles.AddOutputStream(context, outputIndex, AVMEDIA_TYPE_VIDEO, codec);
    AVCodecContext* enc = ost.Encoder.get();
    AVStream* stream = ost.Stream;
    ost.FilterEntries = std::move(options.VideoBitstreamFilters);
    options.VideoBitstreamFilters.clear();
    if (options.VideoCodecTag)
        enc->codec_tag = options.VideoCodecTag;
    Ctx.OutputFiles.SetGlobalHeader(enc, context, true);

    // The pixel shape that shows a picture of that size at the option state's aspect ratio.
    auto aspectRatio = [&](const AVCodecContext* size) {
        const int width = size ? size->width : options.FrameWidth;
        const int height = size ? size->height : options.FrameHeight;
        double aspect = options.FrameAspectRatio;
        double value =
            width * height == 0 ? aspect * 3.0 / 4.0 : aspect * height / static_cast<double>(width);
        return ff::av_d2q(value, 255);
    };

    if (options.VideoStreamCopy) {
        ost.StreamCopy = true;
        enc->sample_aspect_ratio = stream->sample_aspect_ratio = aspectRatio(nullptr);
    } else {
        AVRational rate = (options.FrameRate.num > 0 && options.FrameRate.den > 0)
                              ? options.FrameRate
                              : AVRational{25, 1};
        enc->codec_id = id;
        options.ApplyGenericOptions(enc, options.CodecTemplate(AVMEDIA_TYPE_VIDEO), codec,
                                    OptionMaskOutputVideo);
        if (codec && codec->supported_framerates && !options.ForceFps)
            rate = codec->supported_framerates[ff::av_find_nearest_q_idx(
                rate, codec->supported_framerates)];
        enc->time_base = AVRational{rate.den, rate.num};
        enc->framerate = rate;
        enc->pix_fmt = CheckPixelFormat(codec, enc, options.FramePixFmt);
        ost.Video.PixelFormatAsked = options.FramePixFmtAsked;
        enc->width = options.FrameWidth;
        enc->height = options.FrameHeight;
        FitPictureSize(context, codec, enc);
        enc->sample_aspect_ratio = stream->sample_aspect_ratio = aspectRatio(enc);
        if (options.IntraOnly)
            enc->gop_size = 0;
        if (options.VideoQScale != 0 || options.SameQuality) {
            enc->flags |= AV_CODEC_FLAG_QSCALE;
            enc->global_quality = static_cast<int>(FF_QP2LAMBDA * options.VideoQScale);
        }
        auto copyMatrix = [](const std::optional<TQuantMatrix>& matrix) -> uint16_t* {
            if (!matrix)
                return nullptr;
            auto* copy = static_cast<uint16_t*>(ff::av_malloc(sizeof(uint16_t) * 64));
            if (copy)
                std::copy(matrix->begin(), matrix->end(), copy);
            return copy;
        };
        enc->intra_matrix = copyMatrix(options.IntraMatrix);
        enc->inter_matrix = copyMatrix(options.InterMatrix);
        SetRcOverride(enc, options.VideoRcOverride);
        if (enc->rc_initial_buffer_occupancy == 0)
            enc->rc_initial_buffer_occupancy = enc->rc_buffer_size * 3 / 4;
        enc->intra_dc_precision = options.IntraDcPrecision - 8;
        if (options.DoPsnr)
            enc->flags |= AV_CODEC_FLAG_PSNR;
        if (options.DoPass == 1)
            enc->flags |= AV_CODEC_FLAG_PASS1;
        else if (options.DoPass == 2)
            enc->flags |= AV_CODEC_FLAG_PASS2;
        if (!options.ForcedKeyFrames.empty()) {
            for (int64_t time : ParseForcedKeyFrames(options.ForcedKeyFrames))
                ost.ForcedKeyFrames.push_back(
                    ff::av_rescale_q(time, AV_TIME_BASE_Q, enc->time_base));
            std::sort(ost.ForcedKeyFrames.begin(), ost.ForcedKeyFrames.end());
        }
    }
    if (!options.VideoLanguage.empty())
        ff::av_dict_set(&stream->metadata, "language", options.VideoLanguage.c_str(), 0);
    options.ConsumeVideoStreamOptions();
}

void TVideoPath::FitPictureSize(AVFormatContext* context, const AVCodec* codec,
                                AVCodecContext* enc) {
    if (enc->width <= 0 || enc->height <= 0)
        return;
    const int askedWidth = enc->width, askedHeight = enc->height;
    int width = askedWidth, height = askedHeight;
    const bool rm = std::string_view(context->oformat->name) == "rm";
    // The RM muxer refuses packets over 64 KB. A big picture is made smaller (its key
    // pictures would not fit even at the coarsest quantiser), and the encoder's buffer keeps
    // every encoded picture below the limit.
    if (rm && static_cast<int64_t>(width) * height > RmMaxPictureArea) {
        const double scale = std::sqrt(static_cast<double>(RmMaxPictureArea) /
                                       (static_cast<double>(width) * height));
        width = std::max(1, static_cast<int>(width * scale));
        height = std::max(1, static_cast<int>(height * scale));
        LogV(llInfo, FormatText("The RM container holds pictures of at most 64 KB: picture size "
                                "%dx%d reduced to %dx%d",
                                askedWidth, askedHeight, width, height));
    }
    if (codec) {
        const int alignedFromWidth = width, alignedFromHeight = height;
        if (AlignPictureSize(codec->id, enc->pix_fmt, width, height))
            LogV(llInfo,
                 FormatText("Picture size %dx%d brought to %dx%d for the %s encoder",
                            alignedFromWidth, alignedFromHeight, width, height, codec->name));
    }
    if (rm) {
        const int limit = RmMaxPacketBytes * 8;
        if (enc->rc_buffer_size <= 0 || enc->rc_buffer_size > limit) {
            // The buffer may fill again within one picture's time: it bounds each picture,
            // not the rate.
            const double fps = enc->time_base.num > 0 ? 1.0 / av_q2d(enc->time_base) : 25.0;
            enc->rc_buffer_size = limit;
            enc->rc_max_rate =
                std::max<int64_t>(enc->rc_max_rate, static_cast<int64_t>(limit * fps));
            LogV(llInfo, FormatText("The RM container holds pictures of at most 64 KB: encoded "
                                    "pictures bounded to %d bytes",
                                    RmMaxPacketBytes));
        }
    }
    enc->width = width;
    enc->height = height;
}

void TVideoPath::SetUpVideo(TOutputStream& ost, TInputStream* source, const AVCodecContext* dec) {
    AVCodecContext* enc = ost.Encoder.get();
    // A track of black pictures the muxer demands has no source: the encoder's own size
    // and format are all it needs.
    if (!dec && ost.Filler) {
        if (enc->width <= 0 || enc->height <= 0)
            Fail("No input has pictures, and the preset gives no picture size for the "
                 "black pictures its format needs");
        return;
    }
    if (!dec)
        Fail("No input stream gives pictures for the video output stream");
    if (dec->pix_fmt == AV_PIX_FMT_NONE)
        Fail("Video pixel format is unknown, stream cannot be encoded");
    TVideoOutState& video = ost.Video;
    // With a filter graph the graph converts the pictures to the encoder's size and
    // format; without one the scaler does.
    // Pictures stored on their side are turned upright in the graph.
    bool turned = DisplayTurn(source->Stream) != ptNone;
    for (const TInputStream* joined : ost.JoinSources)
        turned = turned || (joined && DisplayTurn(joined->Stream) != ptNone);
    SetUpDynamicRange(ost, *source, dec);
    const bool filtered = !Ctx.Options.VideoFilters.empty() || Ctx.Options.DoDeinterlace ||
                          turned || video.ToneMapped;
    if (filtered) {
        BuildVideoFilters(*source, ost);
        for (TInputStream* joined : ost.JoinSources)
            if (joined && joined != source && joined->Decoder)
                BuildVideoFilters(*joined, ost);
    }
    SetTileColumns(ost);
    SetFrameThreads(ost);
    video.Resample = !filtered && (dec->width != enc->width || dec->height != enc->height ||
                                   dec->pix_fmt != enc->pix_fmt);
    if (video.Resample) {
        AllocatePicture(video, enc);
        video.Scaler.reset(ff::sws_getContext(dec->width, dec->height, dec->pix_fmt, enc->width,
                                              enc->height, enc->pix_fmt, Ctx.Options.SwsFlags(),
                                              nullptr, nullptr, nullptr));
        if (!video.Scaler)
            Fail("Cannot get resampling context");
        video.SourceWidth = dec->width;
        video.SourceHeight = dec->height;
        video.SourceFormat = dec->pix_fmt;
        enc->bits_per_raw_sample = 0;
    }
}

void TVideoPath::SetTileColumns(TOutputStream& ost) {
    // VP9 codes tile columns of at least 256 pixels side by side on separate threads: as many
    // as the picture's width holds (the log2 of their count, at most 6), unless the options
    // gave a number.
    AVCodecContext* enc = ost.Encoder.get();
    const AVCodec* codec = ost.EncoderChoice;
    if (!codec || std::string_view(codec->name) != "libvpx-vp9" || !enc->priv_data)
        return;
    int64_t columns = 0;
    if (ff::av_opt_get_int(enc->priv_data, "tile-columns", 0, &columns) < 0 || columns >= 0)
        return;
    int log2 = 0;
    while (log2 < 6 && (256 << (log2 + 1)) <= enc->width)
        ++log2;
    ff::av_opt_set_int(enc->priv_data, "tile-columns", log2, 0);
}

int X265FrameThreads(unsigned cores, int height) {
    constexpr int MaxRowsForTwo = 10;
    if (cores < 2 || cores >= 4 || height <= 0)
        return 0;
    return (height + 63) / 64 <= MaxRowsForTwo ? 2 : 0;
}

void TVideoPath::SetFrameThreads(TOutputStream& ost) {
    AVCodecContext* enc = ost.Encoder.get();
    std::string params;
    if (Ctx.Options.ThreadCount != 0 || !X265Params(ost, params))
        return;
    const int threads = X265FrameThreads(std::thread::hardware_concurrency(), enc->height);
    if (threads == 0)
        return;
    // The parameters are key=value pairs joined by ':'; "F" is the short name.
    const std::string joined = ":" + params;
    if (joined.find(":frame-threads=") != std::string::npos ||
        joined.find(":F=") != std::string::npos)
        return;
    params += FormatText("%sframe-threads=%d", params.empty() ? "" : ":", threads);
    ff::av_opt_set(enc->priv_data, "x265-params", params.c_str(), 0);
}

void TVideoPath::SetUpDynamicRange(TOutputStream& ost, const TInputStream& source,
                                   const AVCodecContext* dec) {
    AVCodecContext* enc = ost.Encoder.get();
    const bool hdr =
        dec->color_trc == AVCOL_TRC_SMPTE2084 || dec->color_trc == AVCOL_TRC_ARIB_STD_B67;
    if (!hdr)
        return;
    const AVPixFmtDescriptor* format = ff::av_pix_fmt_desc_get(enc->pix_fmt);
    const bool deep = format && format->comp[0].depth > 8;
    if (deep && ost.Video.PixelFormatAsked) {
        // HDR kept: the source's description and its mastering and light metadata.
        enc->color_primaries = dec->color_primaries;
        enc->color_trc = dec->color_trc;
        enc->colorspace = dec->colorspace;
        enc->color_range = dec->color_range;
        for (int i = 0; i < source.Stream->nb_side_data; ++i) {
            const AVPacketSideData& side = source.Stream->side_data[i];
            if (side.type != AV_PKT_DATA_MASTERING_DISPLAY_METADATA &&
                side.type != AV_PKT_DATA_CONTENT_LIGHT_LEVEL)
                continue;
            if (uint8_t* data = ff::av_stream_new_side_data(ost.Stream, side.type, side.size))
                std::copy_n(side.data, side.size, data);
        }
        // x265 writes the metadata into the pictures' own headers too, for players that read
        // no container.
        std::string given;
        if (X265Params(ost, given) && given.empty()) {
            const std::string params = X265HdrParams(source.Stream);
            if (!params.empty())
                ff::av_opt_set(enc->priv_data, "x265-params", params.c_str(), 0);
        }
        return;
    }
    // An 8-bit output: a deep format taken over from the source gives way to 8 bits.
    if (deep) {
        const AVCodec* codec =
            ost.EncoderChoice ? ost.EncoderChoice : ff::avcodec_find_encoder(enc->codec_id);
        enc->pix_fmt = CheckPixelFormat(codec, enc, AV_PIX_FMT_YUV420P);
    }
    ost.Video.ToneMapped = true;
    enc->color_primaries = AVCOL_PRI_BT709;
    enc->color_trc = AVCOL_TRC_BT709;
    enc->colorspace = AVCOL_SPC_BT709;
    enc->color_range = AVCOL_RANGE_MPEG;
    LogV(llInfo, FormatText("HDR pictures of stream #%d.%d tone-mapped to BT.709", source.FileIndex,
                            source.StreamIndex));
}

void TVideoPath::AllocatePicture(TVideoOutState& video, const AVCodecContext* enc) {
    video.Picture.reset(ff::av_frame_alloc());
    if (!video.Picture)
        Fail("Cannot allocate temp picture, check pix fmt");
    video.Picture->format = enc->pix_fmt;
    video.Picture->width = enc->width;
    video.Picture->height = enc->height;
    if (ff::av_frame_get_buffer(video.Picture.get(), 0) < 0)
        Fail("Cannot allocate temp picture, check pix fmt");
}

void TVideoPath::BuildVideoFilters(TInputStream& ist, TOutputStream& ost) {
    if (ist.Video.FilterGraph)
        return;
    const AVCodecContext* dec = ist.Decoder;
    AVCodecContext* enc = ost.Encoder.get();
    auto failed = [&](int code) {
        ist.Video.FilterGraph.reset();
        ist.Video.FilterSource = ist.Video.FilterSink = nullptr;
        if (code < 0) {
            char text[AV_ERROR_MAX_STRING_SIZE] = {};
            ff::av_strerror(code, text, sizeof text);
            Fail(std::string("Error opening filters: ") + text);
        }
        Fail("Error opening filters!");
    };
    ist.Video.FilterGraph.reset(ff::avfilter_graph_alloc());
    AVFilterGraph* graph = ist.Video.FilterGraph.get();
    if (!graph)
        failed(0);
    AVRational sar = dec->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0)
        sar = AVRational{1, 1};
    const AVRational tb = ist.Stream->time_base;
    AVFilterContext* last = nullptr;
    int result = ff::avfilter_graph_create_filter(
        &last, ff::avfilter_get_by_name("buffer"), "src",
        FormatText("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", dec->width,
                   dec->height, static_cast<int>(dec->pix_fmt), tb.num, tb.den, sar.num, sar.den)
            .c_str(),
        nullptr, graph);
    if (result < 0)
        failed(result);
    ist.Video.FilterSource = last;
    auto append = [&](const char* filterName, const char* name, const std::string& args) {
        AVFilterContext* filter = nullptr;
        int code = ff::avfilter_graph_create_filter(&filter, ff::avfilter_get_by_name(filterName),
                                                    name, args.c_str(), nullptr, graph);
        if (code >= 0)
            code = ff::avfilter_link(last, 0, filter, 0);
        if (code < 0)
            failed(code);
        last = filter;
    };
    if (Ctx.Options.DoDeinterlace)
        append("yadif", "deinterlace", "mode=send_frame:deint=all");
    // The picture as it is shown: the display matrix's turn ("transpose=clock", "hflip,vflip").
    const TPictureTurn turn = DisplayTurn(ist.Stream);
    int shownWidth = dec->width, shownHeight = dec->height;
    if (turn != ptNone) {
        std::string chain = TurnFilters(turn);
        int step = 0;
        for (size_t at = 0; at <= chain.size();) {
            size_t end = chain.find(',', at);
            if (end == std::string::npos)
                end = chain.size();
            const std::string item = chain.substr(at, end - at);
            const size_t eq = item.find('=');
            const std::string filterName = item.substr(0, eq);
            const std::string args = eq == std::string::npos ? "" : item.substr(eq + 1);
            append(filterName.c_str(), ("turn" + std::to_string(step++)).c_str(), args);
            at = end + 1;
        }
        if (TurnSwapsSides(turn))
            std::swap(shownWidth, shownHeight);
    }
    // HDR to the standard range: linear light, the tone curve in the source's primaries,
    // then BT.709 primaries, transfer and matrix.
    if (ost.Video.ToneMapped) {
        const AVColorTransferCharacteristic trc = dec->color_trc;
        const char* primaries = dec->color_primaries == AVCOL_PRI_BT709 ? "709" : "2020";
        const char* matrix = dec->colorspace == AVCOL_SPC_BT709 ? "709" : "2020_ncl";
        const char* range = dec->color_range == AVCOL_RANGE_JPEG ? "full" : "limited";
        append("zscale", "linear",
               FormatText("tin=%s:pin=%s:min=%s:rin=%s:t=linear:npl=100",
                          trc == AVCOL_TRC_ARIB_STD_B67 ? "arib-std-b67" : "smpte2084", primaries,
                          matrix, range));
        append("format", "float", "pix_fmts=gbrpf32le");
        append("zscale", "primaries", "p=709");
        const double peak = SignalPeak(ist.Stream);
        append("tonemap", "tonemap",
               peak > 0 ? FormatText("tonemap=hable:desat=0:peak=%g", peak)
                        : std::string("tonemap=hable:desat=0"));
        append("zscale", "standard", "t=709:m=709:r=limited");
    }
    if (enc->width > 0 && enc->height > 0 &&
        (shownWidth != enc->width || shownHeight != enc->height))
        append("scale", "scale",
               FormatText("%d:%d:flags=0x%X", enc->width, enc->height,
                          static_cast<unsigned>(Ctx.Options.SwsFlags())));
    AVFilterContext* format = nullptr;
    const char* pixelFormat = ff::av_get_pix_fmt_name(enc->pix_fmt);
    result = ff::avfilter_graph_create_filter(
        &format, ff::avfilter_get_by_name("format"), "format",
        (std::string("pix_fmts=") + (pixelFormat ? pixelFormat : "yuv420p")).c_str(), nullptr,
        graph);
    if (result < 0)
        failed(result);
    if (!Ctx.Options.VideoFilters.empty()) {
        TFilterInOutPtr outputs(ff::avfilter_inout_alloc());
        TFilterInOutPtr inputs(ff::avfilter_inout_alloc());
        if (!outputs || !inputs)
            failed(AVERROR(ENOMEM));
        outputs->name = ff::av_strdup("in");
        outputs->filter_ctx = last;
        outputs->pad_idx = 0;
        inputs->name = ff::av_strdup("out");
        inputs->filter_ctx = format;
        inputs->pad_idx = 0;
        // The parser takes the ends and hands back those it did not link.
        AVFilterInOut* openInputs = inputs.release();
        AVFilterInOut* openOutputs = outputs.release();
        result = ff::avfilter_graph_parse_ptr(graph, Ctx.Options.VideoFilters.c_str(), &openInputs,
                                              &openOutputs, nullptr);
        inputs.reset(openInputs);
        outputs.reset(openOutputs);
        if (result < 0)
            failed(result);
    } else if ((result = ff::avfilter_link(last, 0, format, 0)) < 0) {
        failed(result);
    }
    AVFilterContext* sink = nullptr;
    result = ff::avfilter_graph_create_filter(&sink, ff::avfilter_get_by_name("buffersink"), "out",
                                              nullptr, nullptr, graph);
    if (result >= 0)
        result = ff::avfilter_link(format, 0, sink, 0);
    if (result >= 0)
        result = ff::avfilter_graph_config(graph, nullptr);
    if (result < 0)
        failed(result);
    ist.Video.FilterSink = sink;
    // The encoder takes the size the graph of its first source gives (a crop or a pad
    // changes it): in a join whose first input has no pictures, that is the first input
    // that has.
    const TInputStream* first = ost.Source;
    for (const TInputStream* joined : ost.JoinSources)
        first = first ? first : joined;
    if (&ist == first) {
        enc->width = sink->inputs[0]->w;
        enc->height = sink->inputs[0]->h;
    }
}

void TVideoPath::FilterVideo(TInputStream& ist, AVFrame* frame) {
    if (frame && !frame->sample_aspect_ratio.num)
        frame->sample_aspect_ratio = ist.Decoder->sample_aspect_ratio;
    if (frame)
        frame->pts = frame->best_effort_timestamp;
    if (ff::av_buffersrc_add_frame_flags(ist.Video.FilterSource, frame,
                                         AV_BUFFERSRC_FLAG_KEEP_REF) < 0) {
        LogV(llError, "Error feeding the video filters");
        return;
    }
    if (!ist.Video.Filtered) {
        ist.Video.Filtered.reset(ff::av_frame_alloc());
        if (!ist.Video.Filtered)
            Fail("av_mallocz fail");
    }
    AVFrame* out = ist.Video.Filtered.get();
    // Filters may change the time base (a deinterlacer halves it).
    const AVRational tb = ist.Video.FilterSink->inputs[0]->time_base;
    while (ff::av_buffersink_get_frame(ist.Video.FilterSink, out) >= 0) {
        // The picture's time comes from the graph.
        if (out->pts != AV_NOPTS_VALUE)
            Ctx.Pipe.SetOutPts(ist, ff::av_rescale_q(out->pts, tb, AV_TIME_BASE_Q));
        if (Ctx.Options.StartTime == 0 || Ctx.Pipe.OutPts(ist) >= Ctx.Options.StartTime)
            OutputVideo(ist, out);
        ff::av_frame_unref(out);
    }
}

void TVideoPath::OutputVideo(TInputStream& ist, AVFrame* frame) {
    for (TOutputStream* ost : ist.Outputs)
        if (ost->NeedsEncoding)
            DoVideoOut(*ost, ist, frame);
}

void TVideoPath::DoVideoOut(TOutputStream& ost, TInputStream& ist, AVFrame* decoded) {
    AVCodecContext* enc = ost.Encoder.get();
    int64_t copies = 1;
    // The picture's place in frames, less the timestamp jumps taken out before.
    const double syncIpts =
        static_cast<double>(Ctx.Pipe.OutPts(*ost.SyncSource) - Ctx.Options.StartTime) / 1e6 /
            av_q2d(enc->time_base) -
        static_cast<double>(ost.SyncShift);
    if (Ctx.Options.VideoSyncMethod != 0) {
        double vdelta = syncIpts - static_cast<double>(ost.SyncOpts);
        const double jumpFrames = Ctx.Options.DtsDeltaThreshold / av_q2d(enc->time_base);
        if (std::fabs(vdelta) > jumpFrames) {
            if (!Ctx.Pipe.ClockAgrees(*ost.SyncSource, AVMEDIA_TYPE_AUDIO,
                                      Ctx.Pipe.OutPts(*ost.SyncSource) -
                                          Ctx.Pipe.ShiftMicroseconds(ost))) {
                // A gap (or a step back) beyond the discontinuity threshold that the sound of
                // the same file does not share is a broken timestamp, not pictures that went
                // missing: filling it would turn a damaged second into hours of copies. It is
                // taken out of the timeline, so that the pictures after it are synchronised
                // as before; the sound does the same with its own jump.
                const int64_t jump = std::llround(vdelta);
                LogV(llWarning, FormatText("timestamp jump of %.1f s in the pictures taken out",
                                           static_cast<double>(jump) * av_q2d(enc->time_base)));
                ost.SyncShift += jump;
                vdelta -= static_cast<double>(jump);
            } else if (ost.FrameNumber == 0 && vdelta > 0) {
                // Pictures that start late beside the sound keep their place.
                ost.SyncOpts = std::llround(syncIpts);
                vdelta = 0;
            }
            // Otherwise a still picture was held while the sound went on: a real gap.
        }
        const bool variable = Ctx.Options.VideoSyncMethod == 2 ||
                              (Ctx.Options.VideoSyncMethod == -1 &&
                               (Ctx.OutputFiles.Outputs[ost.FileIndex]->Context->oformat->flags &
                                AVFMT_VARIABLE_FPS));
        if (vdelta < -1.1) {
            copies = 0;
        } else if (variable) {
            if (vdelta <= -0.6)
                copies = 0;
            else if (vdelta > 0.6)
                ost.SyncOpts += std::llround(vdelta);
        } else if (vdelta > 1.1) {
            copies = std::llround(vdelta);
        }
        if (copies == 0) {
            ++Ctx.Counters.DropFrames;
            Ctx.Counters.ReportDupDrop = true;
            if (Ctx.Options.Verbose > 2)
                LogV(llVerbose, "*** drop!");
        } else if (copies > 1) {
            Ctx.Counters.DupFrames += copies - 1;
            Ctx.Counters.ReportDupDrop = true;
            if (Ctx.Options.Verbose > 2)
                LogV(llVerbose, FormatText("*** %d dup!", static_cast<int>(copies - 1)));
        }
    } else {
        ost.SyncOpts = std::llround(syncIpts);
    }
    copies = std::min<int64_t>(copies, Ctx.Options.MaxVideoFrames - ost.FrameNumber);
    if (copies <= 0)
        return;

    AVFrame* picture = decoded;
    TVideoOutState& video = ost.Video;
    if (decoded->width != enc->width || decoded->height != enc->height ||
        decoded->format != enc->pix_fmt) {
        if (!video.Scaler || decoded->width != video.SourceWidth ||
            decoded->height != video.SourceHeight || decoded->format != video.SourceFormat) {
            if (video.Scaler) {
                const char* name =
                    ff::av_get_pix_fmt_name(static_cast<AVPixelFormat>(decoded->format));
                LogV(llQuiet, FormatText("Input Stream #%d.%d frame size changed to %dx%d, %s",
                                         ist.FileIndex, ist.StreamIndex, decoded->width,
                                         decoded->height, name ? name : "none"));
            }
            video.Scaler.reset(ff::sws_getCachedContext(
                video.Scaler.release(), decoded->width, decoded->height,
                static_cast<AVPixelFormat>(decoded->format), enc->width, enc->height, enc->pix_fmt,
                Ctx.Options.SwsFlags(), nullptr, nullptr, nullptr));
            if (!video.Scaler)
                Fail("Cannot get resampling context");
            video.SourceWidth = decoded->width;
            video.SourceHeight = decoded->height;
            video.SourceFormat = static_cast<AVPixelFormat>(decoded->format);
            video.Resample = true;
        }
        if (!video.Picture)
            AllocatePicture(video, enc);
        // The encoder may still hold the previous picture.
        if (ff::av_frame_make_writable(video.Picture.get()) < 0)
            Fail("Cannot allocate temp picture, check pix fmt");
        ff::sws_scale(video.Scaler.get(), decoded->data, decoded->linesize, 0, decoded->height,
                      video.Picture->data, video.Picture->linesize);
        video.Picture->interlaced_frame = decoded->interlaced_frame;
        video.Picture->top_field_first = decoded->top_field_first;
        picture = video.Picture.get();
    }

    for (int64_t i = 0; i < copies; ++i) {
        if (Ctx.StopRequested)
            break; // a stop is not kept waiting by a long run of repeated pictures
        const int64_t frameNumber = ost.FrameNumber + 1;
        const int64_t pts = ff::av_rescale_q(ost.SyncOpts, enc->time_base, AV_TIME_BASE_Q);
        Ctx.Hooks.PrepareVideoOutput(picture, frameNumber, pts);
        picture->pts = ost.SyncOpts;
        picture->pict_type = AV_PICTURE_TYPE_NONE;
        if (ost.NextForcedKeyFrame < ost.ForcedKeyFrames.size() &&
            ost.SyncOpts >= ost.ForcedKeyFrames[ost.NextForcedKeyFrame]) {
            picture->pict_type = AV_PICTURE_TYPE_I;
            // Times already passed (several within one picture) are used up together.
            while (ost.NextForcedKeyFrame < ost.ForcedKeyFrames.size() &&
                   ost.SyncOpts >= ost.ForcedKeyFrames[ost.NextForcedKeyFrame])
                ++ost.NextForcedKeyFrame;
        }
        picture->quality = Ctx.Options.SameQuality ? Ctx.Pipe.OutQuality(ist) : enc->global_quality;
        if (enc->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME))
            picture->top_field_first = Ctx.Options.TopFieldFirst == -1 ? decoded->top_field_first
                                                                       : Ctx.Options.TopFieldFirst;
        Ctx.OutputFiles.EncodeFrame(ost, picture);
        ++ost.SyncOpts;
        ++ost.FrameNumber;
    }
}

void TVideoPath::FillBlack(TOutputStream& ost, int64_t until) {
    AVCodecContext* enc = ost.Encoder.get();
    if (enc->width <= 0 || enc->height <= 0 || !enc->time_base.num)
        return;
    const int64_t target = std::llround(static_cast<double>(until - Ctx.Options.StartTime) / 1e6 /
                                        av_q2d(enc->time_base));
    TFramePtr& black = ost.Video.Black;
    while (ost.SyncOpts < target && ost.FrameNumber < Ctx.Options.MaxVideoFrames &&
           !Ctx.StopRequested) {
        if (!black) {
            black.reset(ff::av_frame_alloc());
            if (!black)
                Fail("av_mallocz fail");
            black->format = enc->pix_fmt;
            black->width = enc->width;
            black->height = enc->height;
            if (ff::av_frame_get_buffer(black.get(), 0) < 0)
                Fail("Cannot allocate temp picture, check pix fmt");
            ptrdiff_t linesizes[4] = {};
            for (int p = 0; p < 4; ++p)
                linesizes[p] = black->linesize[p];
            if (ff::av_image_fill_black(black->data, linesizes, enc->pix_fmt, enc->color_range,
                                        enc->width, enc->height) < 0)
                Fail("Cannot allocate temp picture, check pix fmt");
        }
        // The encoder may still hold the previous copy; a writable one keeps the black.
        if (ff::av_frame_make_writable(black.get()) < 0)
            Fail("Cannot allocate temp picture, check pix fmt");
        black->pts = ost.SyncOpts;
        black->pict_type = AV_PICTURE_TYPE_NONE;
        black->quality = enc->global_quality;
        Ctx.OutputFiles.EncodeFrame(ost, black.get());
        ++ost.SyncOpts;
        ++ost.FrameNumber;
    }
}

void TVideoPath::TakeEncodedPicture(TOutputStream& ost, AVPacket* packet) {
    Ctx.Counters.VideoBytes += packet->size;
    ++ost.EncodedFrames;
    size_t size = 0;
    // Quality, picture type and the squared error of each plane, as the encoder
    // reports them.
    if (const uint8_t* stats =
            ff::av_packet_get_side_data(packet, AV_PKT_DATA_QUALITY_STATS, &size);
        stats && size >= 4) {
        int32_t quality = 0;
        std::memcpy(&quality, stats, sizeof quality);
        ost.Quality = static_cast<double>(quality) / FF_QP2LAMBDA;
        if (size >= 5)
            ost.PictureType = stats[4];
        const int planes = size >= 6 ? std::min<int>(stats[5], 3) : 0;
        for (int j = 0; j < planes && 8 + 8 * (j + 1) <= static_cast<int>(size); ++j) {
            uint64_t error = 0;
            std::memcpy(&error, stats + 8 + 8 * j, sizeof error);
            ost.LastError[j] = error;
            ost.TotalError[j] += error;
            ost.ErrorPlanes = std::max(ost.ErrorPlanes, j + 1);
        }
    }
    if (packet->duration <= 0)
        packet->duration = 1;
    WritePassLog(ost);
    WriteVideoStats(ost, packet);
}

void TVideoPath::OpenPassLog(TOutputStream& ost, int index) {
    AVCodecContext* enc = ost.Encoder.get();
    const bool pass1 = enc->flags & AV_CODEC_FLAG_PASS1;
    const bool pass2 = enc->flags & AV_CODEC_FLAG_PASS2;
    if (!pass1 && !pass2)
        return;
    std::string name = (Ctx.Options.PassLogFileName.empty() ? std::string("ffmpeg2pass")
                                                            : Ctx.Options.PassLogFileName) +
                       "-" + std::to_string(index) + ".log";
    if (name.size() > 1023)
        name.resize(1023);
    // Encoders that keep their statistics in a file of their own are pointed at the same one.
    if (enc->priv_data && ff::av_opt_find(enc->priv_data, "stats", nullptr, 0, 0))
        ff::av_opt_set(enc->priv_data, "stats", name.c_str(), 0);
    if (pass1) {
        ost.Video.PassLog.reset(std::fopen(name.c_str(), "wb"));
        if (!ost.Video.PassLog)
            Fail(FormatText("Cannot write log file %s for pass-1 encoding", name.c_str()));
        return;
    }
    TFilePtr file(std::fopen(name.c_str(), "rb"));
    std::string text;
    if (file) {
        char chunk[65536];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
            text.append(chunk, got);
        if (std::ferror(file.get()))
            file.reset();
    }
    // A log without statistics counts as unreadable: the encoder's rate control would fail on
    // it while opening.
    if (!file || text.find_first_not_of(" \t\r\n") == std::string::npos)
        Fail(FormatText("Cannot read file: Error reading log file \"%s\" for pass-2 encoding",
                        name.c_str()));
    auto* stats = static_cast<char*>(ff::av_malloc(text.size() + 1));
    if (!stats)
        Fail(FormatText(
            "Could not allocate file buffer: Error reading log file \"%s\" for pass-2 encoding",
            name.c_str()));
    std::memcpy(stats, text.c_str(), text.size() + 1);
    ff::av_freep(&enc->stats_in);
    enc->stats_in = stats;
}

void TVideoPath::WritePassLog(TOutputStream& ost) {
    const AVCodecContext* enc = ost.Encoder.get();
    if (ost.Video.PassLog && enc->stats_out)
        std::fputs(enc->stats_out, ost.Video.PassLog.get());
}

void TVideoPath::WriteVideoStats(TOutputStream& ost, const AVPacket* packet) {
    if (Ctx.Options.VStatsFileName.empty())
        return;
    if (!VStatsFile) {
        VStatsFile.reset(std::fopen(Ctx.Options.VStatsFileName.c_str(), "w"));
        if (!VStatsFile)
            Fail("fopen fail: " + Ctx.Options.VStatsFileName);
    }
    const AVCodecContext* enc = ost.Encoder.get();
    std::string line =
        FormatText("frame= %5d q= %2.1f ", static_cast<int>(ost.EncodedFrames), ost.Quality);
    if ((enc->flags & AV_CODEC_FLAG_PSNR) && ost.ErrorPlanes > 0) {
        const double scale = static_cast<double>(enc->width) * enc->height * 255.0 * 255.0;
        line += FormatText("PSNR= %6.2f ",
                           -10.0 * std::log10(static_cast<double>(ost.LastError[0]) / scale));
    }
    line += FormatText("f_size= %6d ", packet->size);
    // The packet still counts in the encoder's time base here.
    double time = packet->pts != AV_NOPTS_VALUE
                      ? static_cast<double>(packet->pts) * av_q2d(enc->time_base)
                      : 0.0;
    if (time < 0.01)
        time = 0.01;
    const double frameRate = 1.0 / av_q2d(enc->time_base);
    const double bitrate = packet->size * 8.0 * frameRate / 1000.0;
    const double average = static_cast<double>(Ctx.Counters.VideoBytes) * 8.0 / time / 1000.0;
    line += FormatText("s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                       static_cast<double>(Ctx.Counters.VideoBytes) / 1024, time, bitrate, average);
    const char type =
        ost.PictureType ? ff::av_get_picture_type_char(static_cast<AVPictureType>(ost.PictureType))
                        : '?';
    line += FormatText("type= %c\n", type);
    std::fputs(line.c_str(), VStatsFile.get());
}

} // namespace cw
