// The deleters of Owners.h.
#include "engine/Owners.h"

#include "engine/CodecLock.h"
#include "engine/UnicodeIO.h"

namespace cw {

void TFreeInputContext::operator()(AVFormatContext* context) const {
    if (context && ff::avformat_close_input)
        CloseInputFile(&context);
}

void TFreeOutputContext::operator()(AVFormatContext* context) const {
    if (!context || !ff::avformat_free_context)
        return;
    CloseOutputFile(context);
    ff::avformat_free_context(context);
}

void TFreeIOContext::operator()(AVIOContext* io) const {
    if (!io || !ff::avio_closep)
        return;
    if (IsUnicodeIO(io))
        CloseUnicodeIO(&io);
    else
        ff::avio_closep(&io);
}

void TFreeCodecContext::operator()(AVCodecContext* context) const {
    if (context && ff::avcodec_free_context) {
        ff::av_freep(&context->stats_in);
        TCodecLock lock;
        ff::avcodec_free_context(&context);
    }
}

void TFreeFrame::operator()(AVFrame* frame) const {
    if (frame && ff::av_frame_free)
        ff::av_frame_free(&frame);
}

void TFreePacket::operator()(AVPacket* packet) const {
    if (packet && ff::av_packet_free)
        ff::av_packet_free(&packet);
}

void TFreeScaler::operator()(SwsContext* context) const {
    if (context && ff::sws_freeContext)
        ff::sws_freeContext(context);
}

void TFreeResampler::operator()(SwrContext* context) const {
    if (context && ff::swr_free)
        ff::swr_free(&context);
}

void TFreeAudioFifo::operator()(AVAudioFifo* fifo) const {
    if (fifo && ff::av_audio_fifo_free)
        ff::av_audio_fifo_free(fifo);
}

void TFreeBitstreamFilter::operator()(AVBSFContext* context) const {
    if (context && ff::av_bsf_free)
        ff::av_bsf_free(&context);
}

void TFreeFilterGraph::operator()(AVFilterGraph* graph) const {
    if (graph && ff::avfilter_graph_free)
        ff::avfilter_graph_free(&graph);
}

void TFreeFilterInOut::operator()(AVFilterInOut* inOut) const {
    if (inOut && ff::avfilter_inout_free)
        ff::avfilter_inout_free(&inOut);
}

void TFreeDictionary::operator()(AVDictionary* dictionary) const {
    if (dictionary && ff::av_dict_free)
        ff::av_dict_free(&dictionary);
}

void SetDictionaryEntry(TDictionaryPtr& dictionary, const char* key, const char* value) {
    AVDictionary* raw = dictionary.release();
    ff::av_dict_set(&raw, key, value, 0);
    dictionary.reset(raw);
}

void TFreeMemory::operator()(void* memory) const {
    if (memory && ff::av_free)
        ff::av_free(memory);
}

void TFreeSamples::operator()(uint8_t** planes) const {
    if (planes && ff::av_freep) {
        ff::av_freep(&planes[0]);
        ff::av_freep(&planes);
    }
}

TSubtitle::~TSubtitle() {
    if (ff::avsubtitle_free)
        ff::avsubtitle_free(&Value);
}

void TCloseFile::operator()(std::FILE* file) const {
    if (file)
        std::fclose(file);
}

// -- closing containers and their file access --------------------------------------------

void CloseUnicodeIO(AVIOContext** io) {
    if (!io || !*io)
        return;
    AVIOContext* context = *io;
    void* file = context->opaque;
    if (context->write_flag)
        ff::avio_flush(context);
    ff::av_freep(&context->buffer);
    ff::avio_context_free(io);
    ReleaseUnicodeFile(file);
}

void CloseInputFile(AVFormatContext** context) {
    if (!context || !*context)
        return;
    AVIOContext* io = (*context)->pb;
    bool ours = ((*context)->flags & AVFMT_FLAG_CUSTOM_IO) && IsUnicodeIO(io);
    ff::avformat_close_input(context);
    if (ours)
        CloseUnicodeIO(&io);
}

void CloseOutputFile(AVFormatContext* context) {
    if (!context || !context->pb)
        return;
    if (IsUnicodeIO(context->pb)) {
        CloseUnicodeIO(&context->pb);
        context->flags &= ~AVFMT_FLAG_CUSTOM_IO;
    } else if (!(context->oformat && (context->oformat->flags & AVFMT_NOFILE))) {
        ff::avio_closep(&context->pb);
    }
}

} // namespace cw
