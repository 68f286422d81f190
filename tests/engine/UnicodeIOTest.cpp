// The "unicode:utf8:" file access: a file written and read back by the libraries' muxer and
// demuxer under a name with non-ASCII characters, the plain reads, writes, seeks and size
// query, and interruption of blocking opens through the per-thread registry.
#include "EngineTestSupport.h"

#include "engine/FFUtils.h"
#include "engine/Interrupt.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace cw;

namespace {

class UnicodeIOTest : public ::testing::Test {
protected:
    void SetUp() override { test::BindEncoderLibraries(); }
    test::TTempDir Dir;
};

TEST_F(UnicodeIOTest, MediaFileWrittenAndReadBackUnderANonAsciiName) {
    const std::string path = Dir.Folder() + "Grüße – 映像.wav";
    const std::string libraryName = ToLibraryFileName(path);
    ASSERT_EQ(libraryName, "unicode:utf8:" + path);
    std::vector<int16_t> samples(1000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(i * 37 - 9000);
    ASSERT_EQ(test::WriteWav(libraryName, samples, 8000), 0);
    ASSERT_TRUE(std::filesystem::is_regular_file(std::filesystem::u8path(path)));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(libraryName)));

    AVFormatContext* input = nullptr;
    ASSERT_EQ(OpenInputFile(&input, libraryName, nullptr, nullptr), 0);
    EXPECT_TRUE(IsUnicodeIO(input->pb));
    EXPECT_EQ(FromLibraryFileName(input->url), path);
    ASSERT_GE(ff::avformat_find_stream_info(input, nullptr), 0);
    ASSERT_EQ(input->nb_streams, 1u);
    EXPECT_EQ(input->streams[0]->codecpar->codec_id, AV_CODEC_ID_PCM_S16LE);
    EXPECT_EQ(input->streams[0]->codecpar->sample_rate, 8000);

    std::vector<int16_t> read;
    AVPacket* packet = ff::av_packet_alloc();
    while (ff::av_read_frame(input, packet) >= 0) {
        auto* data = reinterpret_cast<const int16_t*>(packet->data);
        read.insert(read.end(), data, data + packet->size / 2);
        ff::av_packet_unref(packet);
    }
    ff::av_packet_free(&packet);
    CloseInputFile(&input);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(read, samples);
}

TEST_F(UnicodeIOTest, ReadWriteSeekAndSizeOnTheFile) {
    const std::string libraryName = "unicode:utf8:" + Dir.Folder() + "données.bin";
    AVIOContext* io = nullptr;
    ASSERT_EQ(OpenUnicodeIO(&io, libraryName, AVIO_FLAG_READ_WRITE, nullptr), 0);
    const std::string text = "0123456789abcdefghij";
    ff::avio_write(io, reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
    ff::avio_flush(io);
    EXPECT_EQ(ff::avio_size(io), int64_t(text.size()));
    EXPECT_EQ(ff::avio_seek(io, 5, SEEK_SET), 5);
    ff::avio_write(io, reinterpret_cast<const unsigned char*>("XY"), 2);
    CloseUnicodeIO(&io);
    EXPECT_EQ(io, nullptr);

    ASSERT_EQ(OpenUnicodeIO(&io, libraryName, AVIO_FLAG_READ, nullptr), 0);
    EXPECT_EQ(ff::avio_size(io), 20);
    EXPECT_EQ(ff::avio_seek(io, 14, SEEK_SET), 14);
    char tail[7] = {};
    EXPECT_EQ(ff::avio_read(io, reinterpret_cast<unsigned char*>(tail), 6), 6);
    EXPECT_STREQ(tail, "efghij");
    EXPECT_EQ(ff::avio_seek(io, 3, SEEK_SET), 3);
    char middle[5] = {};
    EXPECT_EQ(ff::avio_read(io, reinterpret_cast<unsigned char*>(middle), 4), 4);
    EXPECT_STREQ(middle, "34XY");
    CloseUnicodeIO(&io);

    // Writing again truncates.
    ASSERT_EQ(OpenUnicodeIO(&io, libraryName, AVIO_FLAG_WRITE, nullptr), 0);
    ff::avio_write(io, reinterpret_cast<const unsigned char*>("new"), 3);
    CloseUnicodeIO(&io);
    std::ifstream file(std::filesystem::u8path(FromLibraryFileName(libraryName)));
    std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "new");
}

TEST_F(UnicodeIOTest, MissingOrUnwritableFilesAreReportedWithTheirReason) {
    AVIOContext* io = nullptr;
    EXPECT_EQ(OpenUnicodeIO(&io, "unicode:utf8:" + Dir.Folder() + "absent-é.wav", AVIO_FLAG_READ,
                            nullptr),
              AVERROR(ENOENT));
    EXPECT_EQ(io, nullptr);
    AVFormatContext* input = nullptr;
    EXPECT_EQ(
        OpenInputFile(&input, "unicode:utf8:" + Dir.Folder() + "absent-é.wav", nullptr, nullptr),
        AVERROR(ENOENT));
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(OpenUnicodeIO(&io, "unicode:utf8:" + Dir.Folder() + "no-folder/é.wav",
                            AVIO_FLAG_WRITE, nullptr),
              AVERROR(ENOENT));
}

struct TStopper {
    bool Stop = false;
    bool Stopping(void*) { return Stop; }
};

TEST_F(UnicodeIOTest, BlockingOpensStopWhenTheThreadsCallbackSaysSo) {
    const std::string plain = Dir.Folder() + "tone.wav";
    const std::string wide = Dir.Folder() + "tonalité.wav";
    ASSERT_EQ(test::WriteWav(plain, std::vector<int16_t>(400, 5), 8000), 0);
    ASSERT_EQ(test::WriteWav(ToLibraryFileName(wide), std::vector<int16_t>(400, 5), 8000), 0);

    TStopper stopper;
    TInterruptScope scope(MakeInterruptCallback<&TStopper::Stopping>(&stopper), nullptr);
    for (const auto& name : {plain, ToLibraryFileName(wide)}) {
        stopper.Stop = true;
        AVFormatContext* input = nullptr;
        EXPECT_EQ(OpenInputFile(&input, name, nullptr, nullptr), AVERROR_EXIT) << name;
        EXPECT_EQ(input, nullptr);
        stopper.Stop = false;
        ASSERT_EQ(OpenInputFile(&input, name, nullptr, nullptr), 0) << name;
        CloseInputFile(&input);
    }
}

} // namespace
