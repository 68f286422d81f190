// Helpers shared by the engine tests: the shared temporary folder, binding the real libraries,
// and a small WAV writer that goes through the engine's output path.
#pragma once

#include "engine/FFApi.h"
#include "engine/FFLoader.h"
#include "engine/Owners.h"
#include "engine/UnicodeIO.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace cw::test {

// Binds the libraries the engine's encoder side needs from the system (once per process).
inline void BindEncoderLibraries() {
    if (!FFLoader().LibsLoaded(EncoderLibraries)) {
        FFLoader().SetLibraryPath("");
        ASSERT_TRUE(FFLoader().LoadLibs(EncoderLibraries)) << FFLoader().LastErrorMessage();
    }
}

// The file the system search finds for a soname, or empty.
inline std::string SystemLibraryPath(const std::string& soname) {
    void* handle = ::dlopen(soname.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!handle)
        return {};
    struct link_map* map = nullptr;
    std::string path;
    if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name)
        path = map->l_name;
    ::dlclose(handle);
    return path;
}

// The names of every loaded object whose file name is soname.
inline std::vector<std::string> LoadedObjectsNamed(const std::string& soname) {
    struct TSearch {
        std::string Name;
        std::vector<std::string> Found;
    } search{soname, {}};
    ::dl_iterate_phdr(
        [](struct dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<TSearch*>(data);
            std::string name = info->dlpi_name ? info->dlpi_name : "";
            if (std::filesystem::path(name).filename() == s->Name)
                s->Found.push_back(name);
            return 0;
        },
        &search);
    return search.Found;
}

// Writes a mono 16-bit PCM WAV file through OpenOutputFile, in packets of packetSamples.
// Returns 0 or the first failing library code.
inline int WriteWav(const std::string& libraryName, const std::vector<int16_t>& samples,
                    int sampleRate, size_t packetSamples = 250) {
    AVFormatContext* output = nullptr;
    int result = ff::avformat_alloc_output_context2(&output, nullptr, "wav", libraryName.c_str());
    if (result < 0)
        return result;
    TOutputContextPtr outputOwner(output);
    AVStream* stream = ff::avformat_new_stream(output, nullptr);
    AVCodecParameters* par = stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = AV_CODEC_ID_PCM_S16LE;
    par->sample_rate = sampleRate;
    par->ch_layout = AVChannelLayout{};
    par->ch_layout.order = AV_CHANNEL_ORDER_NATIVE;
    par->ch_layout.nb_channels = 1;
    par->ch_layout.u.mask = AV_CH_LAYOUT_MONO;
    par->bits_per_coded_sample = 16;
    par->block_align = 2;
    par->bit_rate = int64_t(sampleRate) * 16;
    stream->time_base = AVRational{1, sampleRate};

    result = OpenOutputFile(output, libraryName, nullptr);
    if (result >= 0)
        result = ff::avformat_write_header(output, nullptr);
    TPacketPtr packetOwner(ff::av_packet_alloc());
    AVPacket* packet = packetOwner.get();
    for (size_t at = 0; result >= 0 && at < samples.size(); at += packetSamples) {
        size_t count = std::min(packetSamples, samples.size() - at);
        result = ff::av_new_packet(packet, static_cast<int>(count * 2));
        if (result < 0)
            break;
        std::memcpy(packet->data, samples.data() + at, count * 2);
        packet->stream_index = 0;
        packet->pts = packet->dts = static_cast<int64_t>(at);
        packet->duration = static_cast<int64_t>(count);
        result = ff::av_interleaved_write_frame(output, packet);
    }
    if (result >= 0)
        result = ff::av_write_trailer(output);
    return result;
}

} // namespace cw::test
