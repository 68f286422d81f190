// Shared pieces of the engine: the picture <-> bitmap converter and the text functions for
// time stamps, library error codes, codecs, media kinds, metadata and file names.
#pragma once

#include "engine/Bitmap.h"
#include "engine/Owners.h"
#include "engine/Picture.h"

#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavutil/pixfmt.h>
}

struct AVCodecContext;
struct AVDictionary;
struct SwsContext;

namespace cw {

// What a converted picture looks like, in the layout of a bitmap header: handed to the
// transcoder's hook events.
struct TPictureDescription {
    int Width = 0;
    int Height = 0;
    int RowSize = 0; // bytes of the first row
    int Planes = 1;
    int BitsPixel = 0;
    uint8_t* Bits = nullptr; // the first row
};

// The library pixel format of each bitmap layout; AV_PIX_FMT_NONE for an unsupported one.
AVPixelFormat BitmapPixelFormat(int bitsPixel);

// Turns library pictures into TBitmap rows and back. Scaler contexts and the conversion
// buffer are kept between calls.
class TFormatConverter {
public:
    TFormatConverter();
    ~TFormatConverter();
    TFormatConverter(const TFormatConverter&) = delete;
    TFormatConverter& operator=(const TFormatConverter&) = delete;

    int BitsPixel() const { return Bits; }
    // 8, 15, 16, 24 or 32; anything else throws FFmpegException "Invalid BitsPixel %d".
    void SetBitsPixel(int bitsPixel);
    AVPixelFormat PixelFormat() const { return Format; }

    TBitmap& Bitmap() { return Image; }
    const TPictureDescription& Description() const { return Info; }
    // The picture the bitmap side was last made from (the caller's own picture when it needed
    // no conversion); null before the first ToRGB or after a failed one.
    const TPicture* CurrentPicture() const { return HasCurrent ? &Current : nullptr; }
    // True when the current picture is the converter's own copy rather than the caller's.
    bool WorkedOnCopy() const { return HasCurrent && Current.Data[0] == Converted.Data[0]; }
    const std::string& LastError() const { return Error; }

    // Makes the picture available in the bitmap's layout; with copy, also copies its rows
    // into Bitmap(). A picture already in that layout, of even size and with the bitmap's
    // row size, is used as it is.
    bool ToRGB(const TPicture& picture, AVPixelFormat format, bool copy, int height, int width);
    // Copies the bitmap's rows back into the current picture.
    void BitmapToPicture();
    // Converts the current picture into destination (format, same size).
    bool FromRGB(const TPicture& destination, AVPixelFormat format, int height, int width);

private:
    void Reset();
    bool GrowBuffer(size_t size);

    int Bits = 24;
    AVPixelFormat Format = AV_PIX_FMT_BGR24;
    TBitmap Image;
    TPictureDescription Info;
    struct TFree {
        void operator()(uint8_t* p) const;
    };
    std::unique_ptr<uint8_t, TFree> Buffer;
    size_t BufferSize = 0;
    TPicture Converted;
    TPicture Current;
    bool HasCurrent = false;
    TScalerPtr ToContext;
    TScalerPtr FromContext;
    std::string Error;
};

// "N/A" for AV_NOPTS_VALUE, else hh:mm:ss.mmm, with a leading "-" for negative times.
std::string TimeText(int64_t microseconds);
// name + ": " + the text of a library error code.
std::string ErrorText(const std::string& name, int code);
// The codec of a context, as "name(long name)" or from its id or tag.
std::string CodecText(const AVCodecContext* context, bool encoder);
// "Video", "Audio", "Data", "Subtitle", "Attachment" or "Unknown".
std::string MediaTypeName(int mediaType);
// The value of the first entry with the key, else the default.
std::string MetadataValue(const AVDictionary* metadata, const std::string& key,
                          const std::string& defaultValue);

// The name handed to the libraries for a file name. Names are UTF-8; a name of plain 7-bit
// characters, or one naming a protocol (the engine's own list and every protocol the bound
// libraries list, such as https or rtmp), is handed over as it is, any other
// becomes "unicode:utf8:" + the name and is opened through the engine's own file access
// (UnicodeIO.h).
std::string ToLibraryFileName(const std::string& fileName);
// The file name behind a library name (drops the "unicode:utf8:" prefix).
std::string FromLibraryFileName(const std::string& libraryName);

} // namespace cw
