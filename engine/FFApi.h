// The FFmpeg API as the engine calls it: cw::ff::<name>(...) for every entry point of
// FFEntryPoints.inc. Each is a process-wide function pointer, empty until the loader
// (FFLoader.h) binds its library. The library headers are included for their types and
// declarations only; nothing links the libraries.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace cw::ff {

#define CW_FF_FUNCTION(library, name) inline decltype(&::name) name = nullptr;
#include "engine/FFEntryPoints.inc"

} // namespace cw::ff
