// The output side of a job: opening outputs and their streams, the stream mapping and codec
// set-up of a run, the encoders, metadata and chapters, headers, and the muxer.
#include "engine/OutputFiles.h"

#include "engine/AudioPath.h"
#include "engine/CodecLock.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"
#include "engine/InputFiles.h"
#include "engine/Interrupt.h"
#include "engine/JobPipeline.h"
#include "engine/LegacyOptions.h"
#include "engine/OptionParsers.h"
#include "engine/StreamCopy.h"
#include "engine/StreamFacts.h"
#include "engine/StreamPlan.h"
#include "engine/SubtitlePath.h"
#include "engine/Text.h"
#include "engine/ThreadId.h"
#include "engine/TranscoderOptions.h"
#include "engine/UnicodeIO.h"
#include "engine/VideoPath.h"

#include <algorithm>
#include <climits>
#include <ctime>
#include <filesystem>
#include <mutex>

namespace cw {

namespace {

// Audio containers that store a cover picture beside the sound.
constexpr const char* CoverArtMuxers[] = {"mp3", "flac", "ipod"};

// Muxers whose default video codec only carries a cover picture: a stream of pictures cannot
// be written into them, so they count as formats without a video codec.
constexpr const char* CoverPictureMuxers[] = {"mp3", "flac"};

// Muxers that refuse a file without one video and one audio stream: when no input has sound,
// such an output gets a silent track.
constexpr const char* BothKindsMuxers[] = {"psp"};

bool NeedsBothKinds(const AVOutputFormat* format) {
    for (const char* name : BothKindsMuxers)
        if (std::string_view(format->name) == name)
            return true;
    return false;
}

bool IsCoverPictureMuxer(const AVOutputFormat* format) {
    for (const char* name : CoverPictureMuxers)
        if (std::string_view(format->name) == name)
            return true;
    return false;
}

bool CarriesCoverArt(const AVOutputFormat* format) {
    for (const char* name : CoverArtMuxers)
        if (std::string_view(format->name) == name)
            return true;
    return false;
}

// "creation_time" text of seconds since 1970 (UTC).
std::string CreationTimeText(int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    ::gmtime_r(&t, &utc);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
    return text;
}

} // namespace

int TOutputFiles::OpenOutput(const std::string& fileName, bool join, TTranscoderOptions& options) {
    if (Ctx.JoinMode) {
        Ctx.OpenError = "Cannot join more than one output file.";
        return -1;
    }
    if (static_cast<int>(Outputs.size()) >= Ctx.MaxFiles) {
        Ctx.OpenError = FormatText("max output files %d reached", Ctx.MaxFiles);
        return -1;
    }
    const std::string libraryName = ToLibraryFileName(fileName);
    const AVOutputFormat* format = nullptr;
    if (!options.FileFormat.empty()) {
        format = ff::av_guess_format(options.FileFormat.c_str(), nullptr, nullptr);
        if (!format) {
            Ctx.OpenError =
                FormatText("Requested output format '%s' is not a suitable output format",
                           options.FileFormat.c_str());
            return -1;
        }
        options.FileFormat.clear();
    } else {
        format = ff::av_guess_format(nullptr, FromLibraryFileName(libraryName).c_str(), nullptr);
        if (!format) {
            Ctx.OpenError =
                FormatText("Unable to find a suitable output format for '%s'", fileName.c_str());
            return -1;
        }
    }
    AVFormatContext* context = nullptr;
    if (ff::avformat_alloc_output_context2(&context, format, nullptr, libraryName.c_str()) < 0 ||
        !context)
        throw FFmpegException("avformat_alloc_context failed");
    // Owned here until the output entry takes it; the entry frees it when it is dropped.
    TOutputContextPtr owned(context);

    // Which kinds of stream: those the format or the options ask for, and that some input has.
    bool useVideo = (format->video_codec != AV_CODEC_ID_NONE && !IsCoverPictureMuxer(format)) ||
                    !options.VideoCodecName.empty() || options.VideoStreamCopy;
    bool useAudio = format->audio_codec != AV_CODEC_ID_NONE || !options.AudioCodecName.empty() ||
                    options.AudioStreamCopy;
    bool useSubtitle = format->subtitle_codec != AV_CODEC_ID_NONE ||
                       !options.SubtitleCodecName.empty() || options.SubtitleStreamCopy;
    const bool wantsAudio = useAudio && !options.AudioStreamCopy;
    const bool wantsVideo = useVideo && !options.VideoStreamCopy;
    if (!Ctx.InputFiles.Inputs.empty()) {
        bool hasVideo = false, hasAudio = false, hasSubtitle = false;
        for (const auto& input : Ctx.InputFiles.Inputs) {
            for (unsigned i = 0; i < input->Context->nb_streams; ++i) {
                switch (input->Context->streams[i]->codecpar->codec_type) {
                case AVMEDIA_TYPE_VIDEO:
                    if (!IsCoverPicture(input->Context->streams[i]))
                        hasVideo = true;
                    break;
                case AVMEDIA_TYPE_AUDIO:
                    hasAudio = true;
                    break;
                case AVMEDIA_TYPE_SUBTITLE:
                    hasSubtitle = true;
                    break;
                case AVMEDIA_TYPE_UNKNOWN:
                case AVMEDIA_TYPE_DATA:
                case AVMEDIA_TYPE_ATTACHMENT:
                    break;
                default:
                    Ctx.OpenError =
                        "check_audio_video_sub_inputs fail: invalid codec_type of input file";
                    return -1;
                }
            }
            // A join takes every kind some input has: the inputs without it get black
            // pictures or silence for their stretch.
        }
        useVideo = useVideo && hasVideo;
        useAudio = useAudio && hasAudio;
        useSubtitle = useSubtitle && hasSubtitle;
    }
    useVideo = useVideo && !options.VideoDisable;
    useAudio = useAudio && !options.AudioDisable;
    useSubtitle = useSubtitle && !options.SubtitleDisable;
    // A muxer that demands both kinds gets the one no input has made of silence or of black
    // pictures.
    const bool fillVideo =
        !useVideo && wantsVideo && !options.VideoDisable && useAudio && NeedsBothKinds(format);
    const bool fillAudio =
        !useAudio && wantsAudio && !options.AudioDisable && useVideo && NeedsBothKinds(format);
    useVideo = useVideo || fillVideo;
    useAudio = useAudio || fillAudio;

    auto output = std::make_unique<TOutputFile>();
    output->Context = std::move(owned);
    output->FileName = fileName;
    const int outputIndex = static_cast<int>(Outputs.size());
    Outputs.push_back(std::move(output));
    auto unregister = [&]() {
        Outputs.pop_back();
        return -1;
    };

    // Each kind of stream is made by its path.
    const struct {
        bool Use;
        AVMediaType Type;
        const char* Text;
    } kinds[] = {
        {useVideo, AVMEDIA_TYPE_VIDEO, "new_video_stream fail: %s"},
        {useAudio, AVMEDIA_TYPE_AUDIO, "new_audio_stream fail: %s"},
        {useSubtitle, AVMEDIA_TYPE_SUBTITLE, "new_subtitle_stream fail: %s"},
    };
    // Every stream copied: the copy of the whole file, stream by stream in the input's order
    // (one input, no maps, nothing joined).
    const bool copyAll = options.VideoStreamCopy && options.AudioStreamCopy &&
                         options.SubtitleStreamCopy && options.StreamMaps.empty() &&
                         Ctx.InputFiles.Inputs.size() == 1 && !join && !options.VideoDisable &&
                         !options.AudioDisable && !options.SubtitleDisable;
    if (copyAll && !Ctx.Copy.NewCopiedStreams(context, outputIndex))
        return unregister();
    for (const auto& kind : kinds) {
        if (!kind.Use || copyAll)
            continue;
        try {
            NewStream(kind.Type, context, outputIndex, options);
        } catch (const std::exception& e) {
            Ctx.OpenError = FormatText(kind.Text, e.what());
            return unregister();
        }
    }
    if (fillAudio) {
        for (auto& ost : Outputs[outputIndex]->Streams)
            if (ost->Type() == AVMEDIA_TYPE_AUDIO)
                ost->Filler = true;
        LogV(llInfo, FormatText("No input has sound: %s gets a silent audio track (its format "
                                "needs one)",
                                fileName.c_str()));
    }
    if (fillVideo) {
        for (auto& ost : Outputs[outputIndex]->Streams)
            if (ost->Type() == AVMEDIA_TYPE_VIDEO)
                ost->Filler = true;
        LogV(llInfo, FormatText("No input has pictures: %s gets a black video track (its "
                                "format needs one)",
                                fileName.c_str()));
    }

    // An audio file keeps the cover of its (first) input where its container stores one, as
    // it keeps its tags. Joined outputs take none: the cover would belong to one input only.
    if (!copyAll && !useVideo && !options.VideoStreamCopy &&
        !(join && Ctx.InputFiles.Inputs.size() > 1) && CarriesCoverArt(format) &&
        !Ctx.InputFiles.Inputs.empty()) {
        const int cover = FirstCoverPicture(Ctx.InputFiles.Inputs[0]->Context.get());
        if (cover >= 0 &&
            Ctx.InputFiles.Inputs[0]->Context->streams[cover]->discard != AVDISCARD_ALL) {
            try {
                Ctx.Copy.NewCoverStream(context, outputIndex);
            } catch (const std::exception& e) {
                Ctx.OpenError = FormatText("new_video_stream fail: %s", e.what());
                return unregister();
            }
        }
    }

    if (options.RecordingTimestamp)
        ff::av_dict_set(&context->metadata, "creation_time",
                        CreationTimeText(options.RecordingTimestamp).c_str(), 0);
    if (options.MetadataTags)
        ff::av_dict_copy(&context->metadata, options.MetadataTags.get(), 0);

    if ((format->flags & AVFMT_NEEDNUMBER) &&
        !ff::av_filename_number_test(FromLibraryFileName(libraryName).c_str())) {
        Ctx.OpenError = ErrorText(fileName, AVERROR(EDOM));
        return unregister();
    }

    if (!(format->flags & AVFMT_NOFILE)) {
        const TInterruptCallback timeoutCheck = Ctx.Timeout.Check;
        const uint32_t thread = CurrentThreadId();
        if (InterruptRegistry())
            InterruptRegistry()->AddCallback(thread, timeoutCheck, Ctx.Timeout.Opaque);
        Ctx.Timeout.Start = ff::av_gettime();
        int result = OpenOutputFile(context, libraryName, nullptr);
        Ctx.Timeout.Start = TOpenTimeout::Idle;
        if (InterruptRegistry())
            InterruptRegistry()->RemoveCallback(thread, timeoutCheck, Ctx.Timeout.Opaque);
        if (result < 0) {
            Ctx.OpenError = ErrorText(fileName, result);
            return unregister();
        }
    }

    context->max_delay = static_cast<int>(options.MuxMaxDelay * 1000000);
    // Only a muxer with an option class has options in its private data (the SubRip one has
    // private data without).
    if (context->priv_data && context->oformat->priv_class) {
        if (ff::av_opt_find(context->priv_data, "preload", nullptr, 0, 0))
            ff::av_opt_set_int(context->priv_data, "preload",
                               static_cast<int64_t>(options.MuxPreload * 1000000), 0);
        if (ff::av_opt_find(context->priv_data, "loop", nullptr, 0, 0))
            ff::av_opt_set_int(context->priv_data, "loop", options.LoopOutput, 0);
    }
    context->flags |= AVFMT_FLAG_NONBLOCK;
    options.ApplyGenericOptions(context, options.FormatTemplate(), nullptr,
                                OptionMaskOutputContainer);
    // The stream options given for this output are used up, also those of a kind it did not
    // get.
    options.ConsumeVideoStreamOptions();
    options.ConsumeAudioStreamOptions();
    options.ConsumeSubtitleStreamOptions();
    options.ConsumeOutputOptions();

    if (join && Ctx.InputFiles.Inputs.size() > 1)
        Ctx.JoinMode = true;
    return static_cast<int>(Outputs.size());
}

void TOutputFiles::NewOutputStream(AVMediaType type, TTranscoderOptions& options) {
    if (Outputs.empty())
        throw FFmpegException("At least one output file must be specified");
    AVFormatContext* context = Outputs.back()->Context.get();
    const int index = static_cast<int>(Outputs.size()) - 1;
    NewStream(type, context, index, options);
}

void TOutputFiles::NewStream(AVMediaType type, AVFormatContext* context, int outputIndex,
                             TTranscoderOptions& options) {
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        Ctx.VideoPath.NewVideoStream(context, outputIndex, options);
        break;
    case AVMEDIA_TYPE_AUDIO:
        Ctx.AudioPath.NewAudioStream(context, outputIndex, options);
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        Ctx.SubtitlePath.NewSubtitleStream(context, outputIndex, options);
        break;
    default:
        throw FFmpegException("invalid codec_type");
    }
}

void TOutputFiles::SetupJoin(TTranscoderOptions& options) {
    // The output runs as long as all inputs together. The output streams keep one set of
    // encoders for the whole run; at the start of the run every output stream is paired with
    // one stream of each input (MapStreams), and the read loop moves from one input to the
    // next, shifting the timestamps of each by the end reached before it.
    int64_t sum = 0;
    for (const auto& input : Ctx.InputFiles.Inputs)
        if (input->Context->duration != AV_NOPTS_VALUE && input->Context->duration > 0)
            sum += input->Context->duration;
    options.TotalDuration = sum > 0 ? sum : -1;
}

AVFormatContext* TOutputFiles::OutputContext(int index) const {
    return index >= 0 && index < Count() ? Outputs[index]->Context.get() : nullptr;
}

const AVCodec* TOutputFiles::ChooseEncoder(AVFormatContext* context, AVMediaType type,
                                           const std::string& codecName) {
    if (!codecName.empty())
        return FindCodecByName(Ctx.Options, InstalledEncoderName(codecName), type, true,
                               Ctx.OpenError);
    AVCodecID id = ff::av_guess_codec(context->oformat, nullptr, context->url, nullptr, type);
    id = InstalledDefaultCodec(context->oformat, type, id);
    return id == AV_CODEC_ID_NONE ? nullptr : ff::avcodec_find_encoder(id);
}

TOutputStream& TOutputFiles::AddOutputStream(AVFormatContext* context, int outputIndex,
                                             AVMediaType type, const AVCodec* codec) {
    const int index = static_cast<int>(context->nb_streams);
    AVStream* stream = ff::avformat_new_stream(context, nullptr);
    if (!stream)
        throw FFmpegException("Could not alloc stream");
    if (index < static_cast<int>(Ctx.Options.StreamIdMap.size()) && Ctx.Options.StreamIdMap[index])
        stream->id = Ctx.Options.StreamIdMap[index];
    auto ost = std::make_unique<TOutputStream>();
    ost->FileIndex = outputIndex;
    ost->Index = index;
    ost->Stream = stream;
    ost->EncoderChoice = codec;
    ost->Encoder.reset(ff::avcodec_alloc_context3(codec));
    if (!ost->Encoder)
        throw FFmpegException("Could not alloc output stream");
    ost->Encoder->codec_type = type;
    ost->Encoder->thread_count = Ctx.Options.ThreadCount;
    TOutputStream& result = *ost;
    Outputs[outputIndex]->Streams.push_back(std::move(ost));
    return result;
}

void TOutputFiles::SetGlobalHeader(AVCodecContext* encoder, AVFormatContext* context, bool video) {
    AVCodecContext* videoTemplate = Ctx.Options.CodecTemplate(AVMEDIA_TYPE_VIDEO);
    bool global = context->oformat->flags & AVFMT_GLOBALHEADER;
    if (video) {
        if ((Ctx.Options.VideoGlobalHeader & 1) || (Ctx.Options.VideoGlobalHeader == 0 && global)) {
            encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            if (videoTemplate)
                videoTemplate->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        if (Ctx.Options.VideoGlobalHeader & 2) {
            encoder->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
            if (videoTemplate)
                videoTemplate->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        }
    } else if (global) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
}

void TOutputFiles::MapStreams() {
    for (size_t f = 0; f < Outputs.size(); ++f) {
        const TOutputFile& output = *Outputs[f];
        if (output.Streams.empty() && !(output.Context->oformat->flags & AVFMT_NOSTREAMS)) {
            ff::av_dump_format(output.Context.get(), static_cast<int>(f), output.FileName.c_str(),
                               1);
            throw FFmpegException(
                FormatText("Output file #%d does not contain any stream", static_cast<int>(f)));
        }
        for (const auto& ost : output.Streams)
            Ctx.Tables.OutputStreams.push_back(ost.get());
    }

    const TStreamPlan plan = PlanStreams(PlanRequest());
    auto describe = [&](int file) {
        const TOutputFile& output = *Outputs[file];
        ff::av_dump_format(output.Context.get(), file, output.FileName.c_str(), 1);
    };
    if (!plan.Error.empty()) {
        if (plan.DumpOutput >= 0)
            describe(plan.DumpOutput);
        throw FFmpegException(plan.Error);
    }
    auto stream = [&](int index) {
        return index < 0 ? nullptr : Ctx.Tables.InputStreams[index].get();
    };
    std::vector<TOutputStream*>& streams = Ctx.Tables.OutputStreams;
    for (size_t i = 0; i < streams.size(); ++i) {
        TOutputStream& ost = *streams[i];
        ost.Source = stream(plan.Streams[i].Source);
        ost.SyncSource = stream(plan.Streams[i].Sync);
        ost.Report = !ost.Cover; // one picture says nothing of the progress
        if (ost.Source) {
            ost.Source->Unused = false;
            ost.Source->Outputs.push_back(&ost);
        }
    }
    if (Ctx.JoinMode)
        for (size_t i = 0; i < streams.size(); ++i) {
            const std::vector<int>& joined = plan.Streams[i].JoinSources;
            streams[i]->JoinSources.clear();
            for (size_t k = 0; k < joined.size(); ++k) {
                TInputStream* source = stream(joined[k]);
                streams[i]->JoinSources.push_back(source);
                if (k > 0 && source) {
                    source->Unused = false;
                    source->Outputs.push_back(streams[i]);
                }
            }
        }
    Ctx.Tables.HasFillers = plan.HasFillers;
    for (size_t i = 0; i < streams.size(); ++i) {
        TOutputStream* ost = streams[i];
        const TPlannedStream& planned = plan.Streams[i];
        if (!planned.Error.empty()) {
            if (planned.DumpOutput)
                describe(ost->FileIndex);
            throw FFmpegException(planned.Error);
        }
        const TInputStream* reference = stream(planned.Reference);
        if (reference) {
            AVStream* out = ost->Stream;
            const AVStream* in = reference->Stream;
            if (Ctx.Options.MetadataStreamsAutoCopy)
                ff::av_dict_copy(&out->metadata, in->metadata, AV_DICT_DONT_OVERWRITE);
            out->disposition = in->disposition;
            if (ost->Cover)
                out->disposition |= AV_DISPOSITION_ATTACHED_PIC;
            // Pictures turned upright carry no turn of their own.
            if (!ost->StreamCopy && DisplayTurn(in) != ptNone)
                ff::av_dict_set(&out->metadata, "rotate", nullptr, 0);
            ost->Encoder->bits_per_raw_sample = in->codecpar->bits_per_raw_sample;
            ost->Encoder->chroma_sample_location = in->codecpar->chroma_location;
        }
        SetUpOutputStream(*ost);
    }
}

TPlanRequest TOutputFiles::PlanRequest() const {
    TPlanRequest request;
    const auto& inputs = Ctx.InputFiles.Inputs;
    for (const auto& input : inputs)
        request.Files.push_back({input->FileName, input->FirstStream, input->StreamCount});
    const int program = Ctx.Options.ProgramID;
    for (const auto& ist : Ctx.Tables.InputStreams) {
        AVFormatContext* ic = inputs[ist->FileIndex]->Context.get();
        const AVStream* in = ist->Stream;
        TPlanInputStream facts;
        facts.FileIndex = ist->FileIndex;
        facts.StreamIndex = ist->StreamIndex;
        facts.Type = in->codecpar->codec_type;
        facts.Cover = IsCoverPicture(in);
        facts.Discarded = in->discard == AVDISCARD_ALL;
        facts.InProgram = !program;
        for (unsigned p = 0; p < ic->nb_programs && !facts.InProgram; ++p) {
            const AVProgram* chosen = ic->programs[p];
            if (chosen->id == program)
                for (unsigned k = 0; k < chosen->nb_stream_indexes; ++k)
                    facts.InProgram = facts.InProgram ||
                                      static_cast<int>(chosen->stream_index[k]) == ist->StreamIndex;
        }
        // The demuxer's choice counts among sounds and subtitles; a picture stream is the
        // first one anyway.
        facts.Best =
            (facts.Type == AVMEDIA_TYPE_AUDIO || facts.Type == AVMEDIA_TYPE_SUBTITLE) &&
            ff::av_find_best_stream(ic, facts.Type, -1, -1, nullptr, 0) == ist->StreamIndex;
        facts.Frames = in->nb_frames;
        request.Inputs.push_back(facts);
    }
    for (const TOutputStream* ost : Ctx.Tables.OutputStreams)
        request.Outputs.push_back({ost->FileIndex, ost->Index, ost->Type(), ost->Cover, ost->Filler,
                                   ost->StreamCopy, ost->CopyOf});
    request.StreamMaps = Ctx.Options.StreamMaps;
    request.ProgramChosen = program != 0;
    request.Join = Ctx.JoinMode;
    return request;
}

void TOutputFiles::SetUpOutputStream(TOutputStream& ost) {
    if (ost.StreamCopy)
        Ctx.Copy.SetUpStreamCopy(ost);
    else
        SetUpEncoding(ost);
}

void TOutputFiles::SetUpEncoding(TOutputStream& ost) {
    // The stream that sets the stream up: its source, or (a join whose first input lacks this
    // kind) the first input that has one; none for a stream made of silence only.
    TInputStream* source = ost.Source;
    for (TInputStream* joined : ost.JoinSources)
        if (!source)
            source = joined;
    AVCodecContext* enc = ost.Encoder.get();
    const AVCodecContext* dec = source ? source->Decoder : nullptr;
    if (source && !dec)
        Fail(FormatText("Decoder (codec id %d) not found for input stream #%d.%d (%s)",
                        static_cast<int>(source->Stream->codecpar->codec_id), source->FileIndex,
                        source->StreamIndex,
                        MediaTypeName(source->Stream->codecpar->codec_type).c_str()));
    switch (enc->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        Ctx.AudioPath.SetUpAudio(ost, dec);
        break;
    case AVMEDIA_TYPE_VIDEO:
        Ctx.VideoPath.SetUpVideo(ost, source, dec);
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        break;
    default:
        Fail("invalid codec_type of output stream");
    }
    if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
        const auto at =
            std::find(Ctx.Tables.OutputStreams.begin(), Ctx.Tables.OutputStreams.end(), &ost);
        Ctx.VideoPath.OpenPassLog(ost, static_cast<int>(at - Ctx.Tables.OutputStreams.begin()));
    }
    if (source)
        source->NeedsDecoding = true;
    for (TInputStream* joined : ost.JoinSources)
        if (joined)
            joined->NeedsDecoding = true;
    ost.NeedsEncoding = true;
}

void TOutputFiles::OpenEncoders() {
    for (TOutputStream* ost : Ctx.Tables.OutputStreams) {
        if (!ost->NeedsEncoding)
            continue;
        AVCodecContext* enc = ost->Encoder.get();
        const AVCodec* codec =
            ost->EncoderChoice ? ost->EncoderChoice : ff::avcodec_find_encoder(enc->codec_id);
        const std::string typeName = MediaTypeName(enc->codec_type);
        if (!codec) {
            DumpStreamMapping();
            std::string text = FormatText(
                "Encoder (codec id %d) not found for output stream #%d.%d (%s)",
                static_cast<int>(enc->codec_id), ost->FileIndex, ost->Index, typeName.c_str());
            LogV(llError, text);
            Fail(text);
        }
        const AVCodecContext* dec = ost->Source ? ost->Source->Decoder : nullptr;
        if (dec && dec->subtitle_header && dec->subtitle_header_size > 0) {
            enc->subtitle_header =
                static_cast<uint8_t*>(ff::av_mallocz(dec->subtitle_header_size + 1));
            if (!enc->subtitle_header)
                Fail("av_malloc failed");
            std::copy_n(dec->subtitle_header, dec->subtitle_header_size, enc->subtitle_header);
            enc->subtitle_header_size = dec->subtitle_header_size;
        }
        int result;
        {
            TCodecLock lock;
            result = ff::avcodec_open2(enc, codec, nullptr);
        }
        // A private option value the encoder refused names itself rather than the generic
        // text: one that could not be set is an error even when the encoder opened without it.
        std::string optionError = Ctx.Options.GenericOptions().EncoderOptionError(
            result < 0 ? enc : nullptr, codec);
        if (!optionError.empty()) {
            LogV(llError, optionError);
            Fail(optionError);
        }
        if (result < 0) {
            DumpStreamMapping();
            std::string text = FormatText(
                "Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect "
                "parameters such as bit_rate, rate, width or height. Please check error log "
                "message to find out more detail information.",
                ost->FileIndex, ost->Index, typeName.c_str());
            LogV(llError, text);
            Fail(text);
        }
        ost->EncoderOpen = true;
        {
            std::lock_guard<std::mutex> guard(CodecListLock());
            Ctx.Tables.OpenedEncoders.push_back(ost);
        }
        Ctx.Counters.ExtraBytes += enc->extradata_size;
        if (ff::avcodec_parameters_from_context(ost->Stream->codecpar, enc) < 0)
            Fail("avcodec_parameters_from_context failed");
        ost->Stream->time_base = enc->time_base;
        ost->Stream->avg_frame_rate = enc->framerate;
        if (enc->codec_type == AVMEDIA_TYPE_AUDIO) {
            TAudioOutState& audio = ost->Audio;
            audio.Frame.reset(ff::av_frame_alloc());
            if (!audio.Frame)
                Fail("av_mallocz fail");
        }
    }
    for (TOutputStream* ost : Ctx.Tables.OutputStreams)
        Ctx.Copy.InitBitstreamFilters(*ost);
}

void TOutputFiles::ApplyMetadataMaps() {
    // The tag set one side of a map names; raises for an index outside its file.
    auto slot = [this](AVFormatContext* context, const TMetadataMapSide& side) -> AVDictionary** {
        auto invalid = [this](const char* kind, int index) {
            const std::string text =
                FormatText("Invalid %s index %d while processing metadata maps", kind, index);
            LogV(llError, text);
            Fail(text);
        };
        const int index = side.Index;
        switch (side.Type) {
        case 's':
            if (index < 0 || index >= static_cast<int>(context->nb_streams))
                invalid("stream", index);
            return &context->streams[index]->metadata;
        case 'c':
            if (index < 0 || index >= static_cast<int>(context->nb_chapters))
                invalid("chapter", index);
            return &context->chapters[index]->metadata;
        case 'p':
            if (index < 0 || index >= static_cast<int>(context->nb_programs))
                invalid("program", index);
            return &context->programs[index]->metadata;
        default:
            return &context->metadata;
        }
    };
    for (const TMetadataMap& map : Ctx.Options.MetadataMaps) {
        if (map.Output.FileIndex < 0 || map.Output.FileIndex >= Count()) {
            const std::string text =
                FormatText("Invalid %s index %d while processing metadata maps", "output file",
                           map.Output.FileIndex);
            LogV(llError, text);
            Fail(text);
        }
        // A negative input only keeps the automatic copying away from the output.
        if (map.Input.FileIndex < 0)
            continue;
        if (map.Input.FileIndex >= Ctx.InputFiles.Count()) {
            const std::string text =
                FormatText("Invalid %s index %d while processing metadata maps", "input file",
                           map.Input.FileIndex);
            LogV(llError, text);
            Fail(text);
        }
        AVDictionary** target = slot(Outputs[map.Output.FileIndex]->Context.get(), map.Output);
        AVDictionary** source =
            slot(Ctx.InputFiles.Inputs[map.Input.FileIndex]->Context.get(), map.Input);
        ff::av_dict_copy(target, *source, AV_DICT_DONT_OVERWRITE);
    }
    if (Ctx.Options.MetadataGlobalAutoCopy && !Ctx.InputFiles.Inputs.empty())
        for (auto& output : Outputs)
            ff::av_dict_copy(&output->Context->metadata,
                             Ctx.InputFiles.Inputs[0]->Context->metadata, AV_DICT_DONT_OVERWRITE);

    for (const TChapterMap& map : Ctx.Options.ChapterMaps) {
        if (map.InputFile < 0 || map.InputFile >= Ctx.InputFiles.Count()) {
            const std::string text =
                FormatText("Invalid input file index %d in chapter mapping.", map.InputFile);
            LogV(llError, text);
            Fail(text);
        }
        if (map.OutputFile < 0 || map.OutputFile >= Count()) {
            const std::string text =
                FormatText("Invalid output file index %d in chapter mapping.", map.OutputFile);
            LogV(llError, text);
            Fail(text);
        }
        CopyChapters(map.InputFile, map.OutputFile);
    }
    if (Ctx.Options.ChapterMaps.empty())
        for (int i = 0; i < Ctx.InputFiles.Count(); ++i) {
            if (!Ctx.InputFiles.Inputs[i]->Context->nb_chapters)
                continue;
            for (int o = 0; o < Count(); ++o)
                CopyChapters(i, o);
            break;
        }
}

void TOutputFiles::CopyChapters(int inputIndex, int outputIndex) {
    const TInputFile& input = *Ctx.InputFiles.Inputs[inputIndex];
    AVFormatContext* is = input.Context.get();
    AVFormatContext* os = Outputs[outputIndex]->Context.get();
    for (unsigned i = 0; i < is->nb_chapters; ++i) {
        const AVChapter* in = is->chapters[i];
        // The output starts at the start position of the input's own time line and lasts the
        // recording time.
        const int64_t offset =
            ff::av_rescale_q(Ctx.Options.StartTime - input.TsOffset, AV_TIME_BASE_Q, in->time_base);
        const int64_t limit =
            Ctx.Options.RecordingTime == INT64_MAX
                ? INT64_MAX
                : ff::av_rescale_q(Ctx.Options.RecordingTime, AV_TIME_BASE_Q, in->time_base);
        if (in->end < offset)
            continue;
        if (limit != INT64_MAX && in->start > offset + limit)
            break;
        auto* out = static_cast<AVChapter*>(ff::av_mallocz(sizeof(AVChapter)));
        if (!out)
            Fail("av_mallocz fail");
        out->id = in->id;
        out->time_base = in->time_base;
        out->start = std::max<int64_t>(0, in->start - offset);
        out->end = std::min(limit, in->end - offset);
        if (Ctx.Options.MetadataChaptersAutoCopy)
            ff::av_dict_copy(&out->metadata, in->metadata, 0);
        auto** chapters = static_cast<AVChapter**>(
            ff::av_realloc_array(os->chapters, os->nb_chapters + 1, sizeof(AVChapter*)));
        if (!chapters) {
            ff::av_dict_free(&out->metadata);
            ff::av_free(out);
            Fail("av_realloc fail");
        }
        os->chapters = chapters;
        os->chapters[os->nb_chapters++] = out;
    }
}

void TOutputFiles::WriteHeaders() {
    for (size_t f = 0; f < Outputs.size(); ++f) {
        TOutputFile& output = *Outputs[f];
        if (ff::avformat_write_header(output.Context.get(), nullptr) < 0) {
            std::string text = FormatText(
                "Could not write header for output file #%d (incorrect codec parameters ?)",
                static_cast<int>(f));
            LogV(llError, text);
            Fail(text);
        }
        output.HeaderWritten = true;
    }
}

void TOutputFiles::DumpStreamMapping() {
    for (size_t f = 0; f < Outputs.size(); ++f)
        ff::av_dump_format(Outputs[f]->Context.get(), static_cast<int>(f),
                           Outputs[f]->FileName.c_str(), 1);
    if (Ctx.Options.Verbose < 0)
        return;
    LogV(llVerbose, "Stream mapping:");
    for (const TOutputStream* ost : Ctx.Tables.OutputStreams) {
        if (!ost->Source)
            continue;
        std::string line = FormatText("  Stream #%d.%d -> #%d.%d (%s)", ost->Source->FileIndex,
                                      ost->Source->StreamIndex, Ctx.JoinMode ? 0 : ost->FileIndex,
                                      ost->Index, MediaTypeName(ost->Type()).c_str());
        if (ost->SyncSource != ost->Source)
            line += FormatText(
                " [sync #%d.%d (%s)]", ost->SyncSource->FileIndex, ost->SyncSource->StreamIndex,
                MediaTypeName(ost->SyncSource->Stream->codecpar->codec_type).c_str());
        LogV(llVerbose, line);
    }
}

void TOutputFiles::EncodeFrame(TOutputStream& ost, AVFrame* frame) {
    AVCodecContext* enc = ost.Encoder.get();
    const bool video = enc->codec_type == AVMEDIA_TYPE_VIDEO;
    const char* failure = video ? "Video encoding failed" : "Audio encoding failed";
    int result = ff::avcodec_send_frame(enc, frame);
    if (result < 0 && result != AVERROR_EOF)
        Fail(failure);
    AVPacket* packet = Ctx.Pipe.ScratchPacket();
    for (;;) {
        result = ff::avcodec_receive_packet(enc, packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            break;
        if (result < 0)
            Fail(failure);
        if (video) {
            Ctx.VideoPath.TakeEncodedPicture(ost, packet);
        } else {
            Ctx.Counters.AudioBytes += packet->size;
        }
        ff::av_packet_rescale_ts(packet, enc->time_base, ost.Stream->time_base);
        Ctx.Copy.WritePacket(ost, packet);
    }
}

void TOutputFiles::FlushEncoder(TOutputStream& ost) {
    if (!ost.NeedsEncoding || !ost.EncoderOpen || ost.EncoderFlushed)
        return;
    ost.EncoderFlushed = true;
    AVCodecContext* enc = ost.Encoder.get();
    if (enc->codec_type == AVMEDIA_TYPE_AUDIO) {
        Ctx.AudioPath.FlushAudio(ost);
        EncodeFrame(ost, nullptr);
    } else if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
        EncodeFrame(ost, nullptr);
    }
    if (!ost.Filters.empty())
        Ctx.Copy.FilterAndWrite(ost, 0, nullptr);
}

void TOutputFiles::MuxPacket(TOutputStream& ost, AVPacket* packet) {
    // The sound's lane holds its packets; the job's thread writes them in their turn.
    if (Ctx.Pipe.Capture(ost, packet))
        return;
    packet->stream_index = ost.Stream->index;
    const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (ts != AV_NOPTS_VALUE) {
        const int64_t end = ff::av_rescale_q(ts + std::max<int64_t>(packet->duration, 0),
                                             ost.Stream->time_base, AV_TIME_BASE_Q);
        ost.EndTime = std::max(ost.EndTime, end);
    }
    const int result =
        ff::av_interleaved_write_frame(Outputs[ost.FileIndex]->Context.get(), packet);
    if (result < 0)
        Fail(ErrorText("av_interleaved_write_frame()", result));
}

void TOutputFiles::WriteTrailers() {
    for (auto& output : Outputs)
        if (output->HeaderWritten)
            if (int result = ff::av_write_trailer(output->Context.get()); result < 0)
                Fail(ErrorText("av_write_trailer()", result));
}

void TOutputFiles::CloseOutputs(bool removeEmptyOutputs) {
    for (auto& output : Outputs) {
        AVFormatContext* context = output->Context.get();
        if (!context)
            continue;
        const bool writesFile = output->WritesFile();
        std::string path = FromLibraryFileName(context->url ? context->url : "");
        output->Streams.clear();
        output->Context.reset(); // closes the file access too

        std::error_code error;
        if (removeEmptyOutputs && writesFile && !path.empty() &&
            std::filesystem::is_regular_file(path, error) &&
            std::filesystem::file_size(path, error) == 0)
            std::filesystem::remove(path, error);
    }
    Outputs.clear();
}

bool TOutputFile::WritesFile() const {
    return Context && Context->oformat && !(Context->oformat->flags & AVFMT_NOFILE);
}

} // namespace cw
