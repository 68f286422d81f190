// Engine utilities: the picture <-> bitmap converter for every bitmap layout, time and error
// texts, codec descriptions and library file names.
#include "EngineTestSupport.h"

#include "engine/FFDecoder.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"
#include "engine/Owners.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

using namespace cw;

namespace {

// A picture with memory of its own: one plane, rows of rowSize bytes, with the padding after
// the last row that the scaler's vector code may read.
struct TOwnedPicture {
    TOwnedPicture(int rowSize, int height) : Memory(size_t(rowSize) * height + 64) {
        Picture.Data[0] = Memory.data();
        Picture.Linesize[0] = rowSize;
    }
    uint8_t* Row(int y) { return Memory.data() + size_t(y) * Picture.Linesize[0]; }
    std::vector<uint8_t> Memory;
    TPicture Picture;
};

// One pure colour (each channel 0 or 255) packed in a bitmap layout, written independently
// of the converter.
std::vector<uint8_t> Pack(int bitsPixel, int r, int g, int b) {
    switch (bitsPixel) {
    case 8:
        return {uint8_t((b >> 6) << 6 | (g >> 5) << 3 | (r >> 5))};
    case 15: {
        unsigned v = (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
        return {uint8_t(v & 0xff), uint8_t(v >> 8)};
    }
    case 16: {
        unsigned v = (r >> 3) << 11 | (g >> 2) << 5 | (b >> 3);
        return {uint8_t(v & 0xff), uint8_t(v >> 8)};
    }
    case 24:
        return {uint8_t(b), uint8_t(g), uint8_t(r)};
    default:
        return {uint8_t(b), uint8_t(g), uint8_t(r), 255};
    }
}

// Colour number 0..7 of pixel (x, y); bit 0 red, bit 1 green, bit 2 blue. Colours come in
// pairs of columns: the scaler shares colour information between neighbouring pixels for the
// 15- and 16-bit layouts.
int ColourAt(int x, int y) {
    return (x / 2 + 3 * y) % 8;
}

class ConverterTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        test::BindEncoderLibraries();
        Converter.SetBitsPixel(GetParam());
    }
    int Bytes() const { return TBitmap::BytesPerPixel(GetParam()); }
    TFormatConverter Converter;
};

TEST_P(ConverterTest, PictureToBitmapAndBackThroughTheScaler) {
    const int width = 8, height = 5; // another format: always converted
    TOwnedPicture source(width * 3, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                source.Row(y)[x * 3 + c] = (ColourAt(x, y) >> c & 1) ? 255 : 0;

    ASSERT_TRUE(Converter.ToRGB(source.Picture, AV_PIX_FMT_RGB24, true, height, width))
        << Converter.LastError();
    EXPECT_TRUE(Converter.WorkedOnCopy());
    const TBitmap& bitmap = Converter.Bitmap();
    ASSERT_EQ(bitmap.Width(), width);
    ASSERT_EQ(bitmap.Height(), height);
    EXPECT_EQ(bitmap.Stride() % 4, 0);
    const auto& info = Converter.Description();
    EXPECT_EQ(info.Width, width);
    EXPECT_EQ(info.BitsPixel, GetParam());
    EXPECT_EQ(info.Planes, 1);
    EXPECT_EQ(info.Bits, Converter.CurrentPicture()->Data[0]);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int colour = ColourAt(x, y);
            auto expected =
                Pack(GetParam(), colour & 1 ? 255 : 0, colour & 2 ? 255 : 0, colour & 4 ? 255 : 0);
            std::vector<uint8_t> actual(bitmap.ScanLine(y) + x * Bytes(),
                                        bitmap.ScanLine(y) + (x + 1) * Bytes());
            EXPECT_EQ(actual, expected) << "pixel " << x << "," << y;
        }

    // The user paints pixels (0, 0) and (1, 0) white; the change goes back into the picture.
    auto white = Pack(GetParam(), 255, 255, 255);
    for (int x = 0; x < 2; ++x)
        std::copy(white.begin(), white.end(), Converter.Bitmap().ScanLine(0) + x * Bytes());
    Converter.BitmapToPicture();
    TOwnedPicture back(width * 3, height);
    ASSERT_TRUE(Converter.FromRGB(back.Picture, AV_PIX_FMT_RGB24, height, width))
        << Converter.LastError();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                int want = (x < 2 && y == 0) ? 255 : source.Row(y)[x * 3 + c];
                // The 3:3:2 layout keeps 2 or 3 bits, which come back as 252 rather than 255.
                EXPECT_NEAR(back.Row(y)[x * 3 + c], want, 4) << x << "," << y << " channel " << c;
            }
}

TEST_P(ConverterTest, PictureInTheBitmapLayoutIsUsedAsItIs) {
    const int width = 6, height = 4;
    const int rowSize = TBitmap::RowSize(width, GetParam());
    TOwnedPicture source(rowSize, height);
    for (size_t i = 0; i < source.Memory.size(); ++i)
        source.Memory[i] = uint8_t(i * 7 + 3);
    const std::vector<uint8_t> original = source.Memory;

    ASSERT_TRUE(Converter.ToRGB(source.Picture, Converter.PixelFormat(), true, height, width));
    EXPECT_FALSE(Converter.WorkedOnCopy());
    EXPECT_EQ(Converter.Description().Bits, source.Memory.data());
    EXPECT_EQ(Converter.Description().RowSize, rowSize);
    TBitmap& bitmap = Converter.Bitmap();
    for (int y = 0; y < height; ++y)
        EXPECT_EQ(0, std::memcmp(bitmap.ScanLine(y), source.Row(y), size_t(width * Bytes())));

    bitmap.ScanLine(3)[0] ^= 0xff;
    Converter.BitmapToPicture();
    EXPECT_EQ(source.Row(3)[0], uint8_t(original[size_t(3 * rowSize)] ^ 0xff));
}

TEST_P(ConverterTest, OddPictureInTheBitmapLayoutRoundTripsExactly) {
    const int width = 5, height = 3;
    const int rowSize = width * Bytes() + 8; // wider rows than the bitmap's
    TOwnedPicture source(rowSize, height);
    for (size_t i = 0; i < source.Memory.size(); ++i)
        source.Memory[i] = uint8_t(i * 13 + 1);

    ASSERT_TRUE(Converter.ToRGB(source.Picture, Converter.PixelFormat(), true, height, width));
    EXPECT_TRUE(Converter.WorkedOnCopy());
    TBitmap& bitmap = Converter.Bitmap();
    for (int y = 0; y < height; ++y)
        EXPECT_EQ(0, std::memcmp(bitmap.ScanLine(y), source.Row(y), size_t(width * Bytes())))
            << "row " << y;

    for (int y = 0; y < height; ++y)
        bitmap.ScanLine(y)[y] ^= 0x5a;
    Converter.BitmapToPicture();
    TOwnedPicture back(rowSize, height);
    ASSERT_TRUE(Converter.FromRGB(back.Picture, Converter.PixelFormat(), height, width));
    for (int y = 0; y < height; ++y)
        EXPECT_EQ(0, std::memcmp(back.Row(y), bitmap.ScanLine(y), size_t(width * Bytes())))
            << "row " << y;
}

INSTANTIATE_TEST_SUITE_P(BitsPixel, ConverterTest, ::testing::Values(8, 15, 16, 24, 32));

TEST(ConverterSetupTest, UnsupportedBitsPixelIsRefused) {
    TFormatConverter converter;
    EXPECT_EQ(converter.BitsPixel(), 24);
    try {
        converter.SetBitsPixel(12);
        ADD_FAILURE() << "12 accepted";
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "Invalid BitsPixel 12");
    }
    EXPECT_EQ(converter.BitsPixel(), 24);
    EXPECT_THROW(converter.BitmapToPicture(), std::logic_error);
}

TEST(TextTest, TimeTexts) {
    EXPECT_EQ(TimeText(AV_NOPTS_VALUE), "N/A");
    EXPECT_EQ(TimeText(0), "00:00:00.000");
    EXPECT_EQ(TimeText(3723004567), "01:02:03.004");
    // Times before the start: the same figures behind a minus sign.
    EXPECT_EQ(TimeText(-1500000), "-00:00:01.500");
    EXPECT_EQ(TimeText(-3723004567), "-01:02:03.004");
    EXPECT_EQ(TimeText(-1), "-00:00:00.000");
}

TEST(TextTest, ErrorTextsFromTheTableAndFromTheLibrary) {
    test::BindEncoderLibraries();
    EXPECT_EQ(ErrorText("clip.avi", -2), "clip.avi: No such file or directory");
    EXPECT_EQ(ErrorText("clip.avi", -9999), "clip.avi: Error number -9999 occurred");
    EXPECT_EQ(ErrorText("x", AVERROR_DECODER_NOT_FOUND), "x: Decoder not found");
    EXPECT_EQ(ErrorText("x", AVERROR(EINVAL)),
              "x: Invalid argument / Invalid data found when processing input");
    EXPECT_EQ(ErrorText("x", -10035), "x: WSAEWOULDBLOCK");
    // Not in the table: the library's own text.
    EXPECT_EQ(ErrorText("x", AVERROR_EOF), "x: End of file");
}

TEST(TextTest, CodecTexts) {
    test::BindEncoderLibraries();
    TCodecContextPtr context(ff::avcodec_alloc_context3(nullptr));
    context->codec_id = AV_CODEC_ID_MPEG4;
    EXPECT_EQ(CodecText(context.get(), false), "mpeg4(MPEG-4 part 2)");
    context->codec_id = AV_CODEC_ID_PCM_S16LE;
    EXPECT_EQ(CodecText(context.get(), true), "pcm_s16le(PCM signed 16-bit little-endian)");
    context->codec_id = AV_CODEC_ID_MPEG2TS;
    EXPECT_EQ(CodecText(context.get(), false), "mpeg2ts");
    context->codec_id = AV_CODEC_ID_NONE;
    context->codec_tag = 'D' | 'X' << 8 | '5' << 16 | '0' << 24;
    EXPECT_EQ(CodecText(context.get(), false), "DX50 / 0x30355844");
    context->codec_tag = 0x31000a41;
    EXPECT_EQ(CodecText(context.get(), false), "0x31000a41");
}

TEST(TextTest, MediaTypesAndMetadata) {
    test::BindEncoderLibraries();
    EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_VIDEO), "Video");
    EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_ATTACHMENT), "Attachment");
    EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_UNKNOWN), "Unknown");
    EXPECT_EQ(MediaTypeName(9), "Unknown");
    AVDictionary* metadata = nullptr;
    ff::av_dict_set(&metadata, "title", "Morning", 0);
    ff::av_dict_set(&metadata, "titles", "other", 0);
    EXPECT_EQ(MetadataValue(metadata, "title", "none"), "Morning");
    EXPECT_EQ(MetadataValue(metadata, "tit", "none"), "none");
    EXPECT_EQ(MetadataValue(nullptr, "title", "none"), "none");
    ff::av_dict_free(&metadata);
}

TEST(TextTest, LibraryFileNames) {
    EXPECT_EQ(ToLibraryFileName("/videos/clip 1.mp4"), "/videos/clip 1.mp4");
    const std::string wide = "/videos/Grüße – 映像.mp4";
    EXPECT_EQ(ToLibraryFileName(wide), "unicode:utf8:" + wide);
    EXPECT_EQ(FromLibraryFileName(ToLibraryFileName(wide)), wide);
    EXPECT_EQ(FromLibraryFileName("/videos/clip 1.mp4"), "/videos/clip 1.mp4");
    EXPECT_EQ(ToLibraryFileName("http://host/Grüße.flv"), "http://host/Grüße.flv");
    EXPECT_EQ(ToLibraryFileName("udp://host:1234/é"), "udp://host:1234/é");
    EXPECT_EQ(ToLibraryFileName("unicode:utf8:/a/é"), "unicode:utf8:/a/é");
    EXPECT_EQ(FromLibraryFileName("unicode:utf8:"), "unicode:utf8:");
    // Every protocol the libraries know is an address, never a local name.
    test::BindEncoderLibraries();
    EXPECT_EQ(ToLibraryFileName("https://host/Grüße.mp4"), "https://host/Grüße.mp4");
    int listed = 0;
    for (int output = 0; output < 2; ++output) {
        void* cursor = nullptr;
        while (const char* name = ff::avio_enum_protocols(&cursor, output)) {
            const std::string url = std::string(name) + "://host/é";
            EXPECT_EQ(ToLibraryFileName(url), url);
            ++listed;
        }
    }
    EXPECT_GT(listed, 5);
    EXPECT_EQ(ToLibraryFileName(":/é"), "unicode:utf8::/é");
}

// An input that cannot seek has no size: 0, not the library's error code.
TEST(TextTest, PipeInputHasSizeZero) {
    test::BindEncoderLibraries();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread writer([fd = fds[1]] {
        // A WAV header for 8000 Hz 16-bit mono PCM and a tenth of a second of silence.
        const uint32_t dataBytes = 1600;
        std::vector<uint8_t> wav(44 + dataBytes, 0);
        auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&wav[at], &v, 4); };
        auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&wav[at], &v, 2); };
        std::memcpy(&wav[0], "RIFF", 4);
        put32(4, 36 + dataBytes);
        std::memcpy(&wav[8], "WAVEfmt ", 8);
        put32(16, 16);
        put16(20, 1);
        put16(22, 1);
        put32(24, 8000);
        put32(28, 16000);
        put16(32, 2);
        put16(34, 16);
        std::memcpy(&wav[36], "data", 4);
        put32(40, dataBytes);
        size_t done = 0;
        while (done < wav.size()) {
            ssize_t n = ::write(fd, wav.data() + done, wav.size() - done);
            if (n <= 0)
                break;
            done += size_t(n);
        }
        ::close(fd);
    });
    TFFDecoder decoder;
    const bool loaded = decoder.LoadFile("pipe:" + std::to_string(fds[0]));
    writer.join();
    ASSERT_TRUE(loaded) << decoder.LastErrMsg();
    EXPECT_EQ(decoder.FileSize(), 0);
    decoder.CloseFile();
    ::close(fds[0]);
}

} // namespace

// Decoded pictures arrive as planar YUV of any width. The scaler's vector code writes whole
// blocks, so the conversion buffer needs room past the last row; widths that are not a
// multiple of the block size showed it (valgrind or the sanitizer build see the overrun), and
// odd widths lost their last column on the scaler's fast path.
TEST(ConverterPaddingTest, PlanarPicturesOfAwkwardWidthsConvertCompletely) {
    test::BindEncoderLibraries();
    for (int width : {200, 202, 198, 130, 17}) {
        for (int height : {9, 160, 121}) {
        const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
        // Rows padded the way decoders pad them.
        const int lumaStride = (width + 63) / 64 * 64, chromaStride = (chromaWidth + 63) / 64 * 64;
        // Decoders also leave padding after the planes; the scaler's vector code reads into it.
        const size_t pad = 64;
        std::vector<uint8_t> y(size_t(lumaStride) * height + pad, 235),
            u(size_t(chromaStride) * chromaHeight + pad, 128),
            v(size_t(chromaStride) * chromaHeight + pad, 128);
        TPicture picture;
        picture.Data[0] = y.data();
        picture.Data[1] = u.data();
        picture.Data[2] = v.data();
        picture.Linesize[0] = lumaStride;
        picture.Linesize[1] = picture.Linesize[2] = chromaStride;
        for (int round = 0; round < 3; ++round) {
            TFormatConverter converter;
            converter.SetBitsPixel(24);
            ASSERT_TRUE(converter.ToRGB(picture, AV_PIX_FMT_YUV420P, true, height, width))
                << converter.LastError();
            const TBitmap& bitmap = converter.Bitmap();
            // Studio white comes out as full white across the whole last row.
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c)
                    EXPECT_GE(bitmap.ScanLine(height - 1)[x * 3 + c], 250) << width << " px " << x;
        }
        }
    }
}
