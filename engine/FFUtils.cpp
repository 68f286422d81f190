#include "engine/FFUtils.h"

#include "engine/FFApi.h"
#include "engine/FFmpegException.h"
#include "engine/Text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

namespace cw {

namespace {

struct TBitsPixelRow {
    int BitsPixel;
    AVPixelFormat Format;
};
// Bitmap layouts and the library formats that match them byte for byte.
constexpr TBitsPixelRow BitsPixelTable[] = {
    {8, AV_PIX_FMT_BGR8},   {15, AV_PIX_FMT_RGB555LE}, {16, AV_PIX_FMT_RGB565LE},
    {24, AV_PIX_FMT_BGR24}, {32, AV_PIX_FMT_BGRA},
};

const std::unordered_map<int, const char*>& ErrorTable() {
    static const std::unordered_map<int, const char*> table = {
#define CW_ERROR_TEXT(code, text) {code, text},
#include "engine/ErrorTexts.inc"
#undef CW_ERROR_TEXT
    };
    return table;
}

std::string TrimBlanks(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Names whose part before the first colon is one of these, or one of the protocols the bound
// libraries list, are protocol addresses, not files.
constexpr const char* ProtocolNames = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";

// ":name:" for every protocol the libraries can read or write, asked once they are bound.
std::string LibraryProtocolNames() {
    static std::mutex lock;
    static std::string names;
    std::lock_guard<std::mutex> guard(lock);
    if (names.empty() && ff::avio_enum_protocols) {
        for (int output = 0; output < 2; ++output) {
            void* cursor = nullptr;
            while (const char* name = ff::avio_enum_protocols(&cursor, output))
                if (names.find(":" + std::string(name) + ":") == std::string::npos)
                    names += ":" + std::string(name) + ":";
        }
    }
    return names;
}
constexpr const char* UnicodePrefix = "unicode:utf8:";

} // namespace

TPicture PictureOf(const AVFrame* frame) {
    TPicture picture;
    for (int i = 0; i < 4; ++i) {
        picture.Data[i] = frame->data[i];
        picture.Linesize[i] = frame->linesize[i];
    }
    return picture;
}

AVPixelFormat BitmapPixelFormat(int bitsPixel) {
    for (const auto& row : BitsPixelTable)
        if (row.BitsPixel == bitsPixel)
            return row.Format;
    return AV_PIX_FMT_NONE;
}

void TFormatConverter::TFree::operator()(uint8_t* p) const {
    std::free(p);
}

TFormatConverter::TFormatConverter() {
    Image.SetBitsPixel(Bits);
}

// Without libswscale bound any more the contexts cannot be freed; their owners leave them.
TFormatConverter::~TFormatConverter() = default;

void TFormatConverter::SetBitsPixel(int bitsPixel) {
    if (bitsPixel == Bits)
        return;
    AVPixelFormat format = BitmapPixelFormat(bitsPixel);
    if (format == AV_PIX_FMT_NONE)
        throw FFmpegException(FormatText("Invalid BitsPixel %d", bitsPixel));
    Bits = bitsPixel;
    Format = format;
    Image.SetBitsPixel(Bits);
    Reset();
}

void TFormatConverter::Reset() {
    Info = {};
    Converted = {};
    Current = {};
    HasCurrent = false;
}

namespace {
constexpr size_t ScalerOutputPadding = 256;
// Full chroma interpolation with accurate rounding keeps the scaler off its fast pair-wise
// path, which leaves the last column of an odd-width picture unwritten.
constexpr int ToRGBFlags = SWS_BICUBIC | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND;
} // namespace

bool TFormatConverter::GrowBuffer(size_t size) {
    if (size <= BufferSize)
        return true;
    // Aligned for the scaler's vector code; grown, never shrunk.
    size_t rounded = (size + 63) / 64 * 64;
    auto* memory = static_cast<uint8_t*>(std::aligned_alloc(64, rounded));
    if (!memory)
        return false;
    Buffer.reset(memory);
    BufferSize = rounded;
    return true;
}

bool TFormatConverter::ToRGB(const TPicture& picture, AVPixelFormat format, bool copy, int height,
                             int width) {
    Image.SetSize(width, height);
    HasCurrent = false;
    const TPicture* used = &picture;
    bool asItIs = format == Format && width % 2 == 0 && height % 2 == 0 &&
                  picture.Linesize[0] == Image.Stride();
    if (!asItIs) {
        int size = ff::av_image_get_buffer_size(Format, width, height, 1);
        // The scaler's vector code writes whole blocks and may run past the last row's end:
        // leave it room.
        if (size < 0 || !GrowBuffer(static_cast<size_t>(size) + ScalerOutputPadding)) {
            Error = "Cannot allocate the conversion buffer";
            return false;
        }
        ff::av_image_fill_arrays(Converted.Data, Converted.Linesize, Buffer.get(), Format, width,
                                 height, 1);
        // The cached context is freed by the library when it cannot be reused.
        ToContext.reset(ff::sws_getCachedContext(ToContext.release(), width, height, format, width,
                                                 height, Format, ToRGBFlags, nullptr, nullptr,
                                                 nullptr));
        if (!ToContext) {
            Error = "Cannot initialize the toRGB conversion context";
            return false;
        }
        ff::sws_scale(ToContext.get(), picture.Data, picture.Linesize, 0, height, Converted.Data,
                      Converted.Linesize);
        used = &Converted;
    }
    Current = *used;
    HasCurrent = true;
    Info = {width, height, Current.Linesize[0], 1, Bits, Current.Data[0]};
    if (copy) {
        size_t bytes = static_cast<size_t>(std::min(Current.Linesize[0], Image.Stride()));
        for (int y = 0; y < height; ++y)
            std::memcpy(Image.ScanLine(y),
                        Current.Data[0] + static_cast<ptrdiff_t>(y) * Current.Linesize[0], bytes);
    }
    return true;
}

void TFormatConverter::BitmapToPicture() {
    if (!HasCurrent)
        throw std::logic_error("BitmapToPicture needs a picture from ToRGB");
    size_t bytes = static_cast<size_t>(std::min(Current.Linesize[0], Image.Stride()));
    for (int y = 0; y < Image.Height(); ++y)
        std::memcpy(Current.Data[0] + static_cast<ptrdiff_t>(y) * Current.Linesize[0],
                    Image.ScanLine(y), bytes);
}

bool TFormatConverter::FromRGB(const TPicture& destination, AVPixelFormat format, int height,
                               int width) {
    if (!HasCurrent)
        throw std::logic_error("FromRGB needs a picture from ToRGB");
    FromContext.reset(ff::sws_getCachedContext(FromContext.release(), width, height, Format, width,
                                               height, format, SWS_BICUBIC, nullptr, nullptr,
                                               nullptr));
    if (!FromContext) {
        Error = "Cannot initialize the fromRGB conversion context";
        return false;
    }
    ff::sws_scale(FromContext.get(), Current.Data, Current.Linesize, 0, height, destination.Data,
                  destination.Linesize);
    return true;
}

std::string TimeText(int64_t microseconds) {
    if (microseconds == AV_NOPTS_VALUE)
        return "N/A";
    // A time before the start reads as the same text with a minus sign in front.
    const char* sign = microseconds < 0 ? "-" : "";
    int64_t t = microseconds < 0 ? -microseconds : microseconds;
    long long hours = t / 1000000 / 60 / 60;
    long long minutes = (t / 1000000 / 60) % 60;
    long long seconds = (t / 1000000) % 60;
    long long milliseconds = (t % 1000000) * 1000 / 1000000;
    return FormatText("%s%.2lld:%.2lld:%.2lld.%.3lld", sign, hours, minutes, seconds, milliseconds);
}

std::string ErrorText(const std::string& name, int code) {
    const auto& table = ErrorTable();
    auto it = table.find(code);
    if (it != table.end())
        return name + ": " + it->second;
    if (ff::av_strerror) {
        char text[AV_ERROR_MAX_STRING_SIZE * 4] = {};
        ff::av_strerror(code, text, sizeof text);
        return name + ": " + text;
    }
    return name + ": " + FormatText("Error number %d occurred", code);
}

std::string CodecText(const AVCodecContext* context, bool encoder) {
    const AVCodec* codec = encoder ? ff::avcodec_find_encoder(context->codec_id)
                                   : ff::avcodec_find_decoder(context->codec_id);
    if (codec) {
        std::string longName = TrimBlanks(codec->long_name ? codec->long_name : "");
        if (longName.empty())
            return codec->name;
        return FormatText("%s(%s)", codec->name, longName.c_str());
    }
    if (context->codec_id == AV_CODEC_ID_MPEG2TS)
        return "mpeg2ts";
    // A codec the libraries describe but cannot decode or encode still has a name.
    if (const AVCodecDescriptor* descriptor = ff::avcodec_descriptor_get(context->codec_id)) {
        std::string name =
            TrimBlanks(std::string(descriptor->name ? descriptor->name : "").substr(0, 32));
        if (!name.empty())
            return name;
    }
    unsigned tag = context->codec_tag;
    unsigned char bytes[4] = {static_cast<unsigned char>(tag & 0xff),
                              static_cast<unsigned char>((tag >> 8) & 0xff),
                              static_cast<unsigned char>((tag >> 16) & 0xff),
                              static_cast<unsigned char>((tag >> 24) & 0xff)};
    bool printable = std::all_of(std::begin(bytes), std::end(bytes),
                                 [](unsigned char c) { return c >= 32 && c <= 126; });
    if (printable)
        return FormatText("%c%c%c%c / 0x%04X", bytes[0], bytes[1], bytes[2], bytes[3], tag);
    return FormatText("0x%04x", tag);
}

std::string MediaTypeName(int mediaType) {
    switch (mediaType) {
    case AVMEDIA_TYPE_VIDEO:
        return "Video";
    case AVMEDIA_TYPE_AUDIO:
        return "Audio";
    case AVMEDIA_TYPE_DATA:
        return "Data";
    case AVMEDIA_TYPE_SUBTITLE:
        return "Subtitle";
    case AVMEDIA_TYPE_ATTACHMENT:
        return "Attachment";
    default:
        return "Unknown";
    }
}

std::string MetadataValue(const AVDictionary* metadata, const std::string& key,
                          const std::string& defaultValue) {
    const AVDictionaryEntry* entry = ff::av_dict_get(metadata, key.c_str(), nullptr, 0);
    return entry && entry->value ? entry->value : defaultValue;
}

std::string ToLibraryFileName(const std::string& fileName) {
    size_t colon = fileName.find(':');
    if (colon != std::string::npos) {
        std::string protocol = ":" + fileName.substr(0, colon) + ":";
        if (colon > 0 && (std::strstr(ProtocolNames, protocol.c_str()) ||
                          LibraryProtocolNames().find(protocol) != std::string::npos))
            return fileName;
    }
    bool plain = std::all_of(fileName.begin(), fileName.end(),
                             [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (plain)
        return fileName;
    return UnicodePrefix + fileName;
}

std::string FromLibraryFileName(const std::string& libraryName) {
    size_t prefixLength = std::strlen(UnicodePrefix);
    if (libraryName.size() > prefixLength &&
        libraryName.compare(0, prefixLength, UnicodePrefix) == 0)
        return libraryName.substr(prefixLength);
    return libraryName;
}

} // namespace cw
