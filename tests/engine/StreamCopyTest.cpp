// The copy of a whole file: every picture, sound and subtitle stream copied packet for packet
// with chapters, tags and the display matrix, what the container cannot carry refused in
// words before anything is written, and subtitles it cannot carry left out.
#include "TranscoderTestSupport.h"

#include "engine/FFUtils.h"
#include "engine/Owners.h"
#include "engine/StreamFacts.h"

#include <filesystem>

using namespace cw;
using namespace cw::test;

namespace {

// One stream of a file as its packets say: kind, codec, and a digest of every packet's bytes
// in order.
struct TPacketDigest {
    AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
    std::string Codec;
    int64_t Packets = 0;
    uint64_t Digest = 1469598103934665603ull;
    bool Cover = false;
    TPictureTurn Turn = ptNone;
    bool operator==(const TPacketDigest& o) const {
        return Type == o.Type && Codec == o.Codec && Packets == o.Packets && Digest == o.Digest;
    }
};

struct TFileDigest {
    std::vector<TPacketDigest> Streams;
    std::vector<std::string> Chapters; // titles
    std::string Title;                 // the "title" tag
};

TFileDigest DigestFile(const std::string& path) {
    TFileDigest file;
    AVFormatContext* context = nullptr;
    if (ff::avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0)
        return file;
    TInputContextPtr owner(context);
    ff::avformat_find_stream_info(context, nullptr);
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        TPacketDigest s;
        s.Type = context->streams[i]->codecpar->codec_type;
        s.Codec = ff::avcodec_get_name(context->streams[i]->codecpar->codec_id);
        s.Cover = IsCoverPicture(context->streams[i]);
        s.Turn = DisplayTurn(context->streams[i]);
        file.Streams.push_back(s);
    }
    for (unsigned i = 0; i < context->nb_chapters; ++i)
        file.Chapters.push_back(MetadataValue(context->chapters[i]->metadata, "title", ""));
    file.Title = MetadataValue(context->metadata, "title", "");
    TPacketPtr packet(ff::av_packet_alloc());
    while (ff::av_read_frame(context, packet.get()) >= 0) {
        TPacketDigest& s = file.Streams[size_t(packet->stream_index)];
        for (int k = 0; k < packet->size; ++k)
            s.Digest = (s.Digest ^ packet->data[k]) * 1099511628211ull;
        ++s.Packets;
        ff::av_packet_unref(packet.get());
    }
    return file;
}

// The streams of a file that hold media, in order: a container's own chapter track is not one.
std::vector<TPacketDigest> MediaStreams(const TFileDigest& file) {
    std::vector<TPacketDigest> streams;
    for (const TPacketDigest& s : file.Streams)
        if (s.Type != AVMEDIA_TYPE_DATA)
            streams.push_back(s);
    return streams;
}

class StreamCopyTest : public TranscoderTest {
protected:
    // Opens the output with every kind set to copy; the result of OpenOutput.
    int OpenCopy(TRecordedJob& run, const std::string& source, const std::string& out) {
        EXPECT_TRUE(run.Job->OpenInput(source)) << run.Job->OpenError;
        for (const char* kind : {"vcodec", "acodec", "scodec"})
            run.Job->Options.SetOption(kind, "copy");
        return run.Job->OpenOutput(out, false);
    }
    void Copy(const std::string& source, const std::string& out) {
        TRecordedJob run;
        ASSERT_EQ(OpenCopy(run, source, out), 1) << run.Job->OpenError;
        run.Run();
        ASSERT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;
        ASSERT_TRUE(run.Job->Finished);
    }
};

TEST_F(StreamCopyTest, EveryStreamKeepsItsPacketsWithChaptersAndTags) {
    TFixtureParams params = Clip(3);
    params.Tags = {{"title", "Holiday"}};
    params.Chapters = {{0, "Arrival"}, {1.5, "Beach"}};
    const TFixture source = WriteSubtitledMkv(Out("source.mkv"), params);
    const TFileDigest in = DigestFile(source.Path);
    ASSERT_EQ(in.Streams.size(), 3u);
    ASSERT_EQ(in.Streams[2].Type, AVMEDIA_TYPE_SUBTITLE);
    ASSERT_EQ(in.Streams[2].Packets, 2);

    struct TCase {
        const char* Name;
        bool KeepsSubtitles;
    };
    for (const TCase& c :
         {TCase{"copy.mkv", true}, TCase{"copy.mp4", false}, TCase{"copy.mov", false}}) {
        SCOPED_TRACE(c.Name);
        Copy(source.Path, Out(c.Name));
        const TFileDigest out = DigestFile(Out(c.Name));
        std::vector<TPacketDigest> expected = in.Streams;
        if (!c.KeepsSubtitles)
            expected.pop_back();
        EXPECT_EQ(MediaStreams(out), expected);
        EXPECT_EQ(out.Chapters, (std::vector<std::string>{"Arrival", "Beach"}));
        EXPECT_EQ(out.Title, "Holiday");
    }
    // The subtitles MP4 cannot carry were left out in words.
    EXPECT_TRUE(Logged("MP4 cannot carry this file's SUBRIP subtitles: stream #0.2 left out"));
}

TEST_F(StreamCopyTest, TheTurnOfAPhoneClipTravelsWithItsPictures) {
    const TFixture source = WriteTurnedClip(Out("phone.mp4"), 90, false, Clip(2));
    const TFileDigest in = DigestFile(source.Path);
    ASSERT_EQ(in.Streams[0].Turn, ptClockwise);
    for (const char* name : {"turned.mp4", "turned.mov", "turned.mkv"}) {
        SCOPED_TRACE(name);
        Copy(source.Path, Out(name));
        const TFileDigest out = DigestFile(Out(name));
        EXPECT_EQ(MediaStreams(out), in.Streams);
        // Matroska has no place for the display matrix: the copy says so.
        const bool matroska = std::string(name).ends_with(".mkv");
        EXPECT_EQ(out.Streams[0].Turn, matroska ? ptNone : ptClockwise);
    }
    EXPECT_TRUE(Logged("MKV cannot store the turn of stream #0.0"));
}

TEST_F(StreamCopyTest, CoverArtIsCopiedBesideTheSound) {
    const TFixture source = WriteCoverArtAudio(ccMp3, Out("song.mp3"), Clip(2));
    // The sound and the cover of a file, in whatever order its container lists them.
    auto parts = [](const TFileDigest& file) {
        std::pair<TPacketDigest, TPacketDigest> found; // sound, cover
        for (const TPacketDigest& s : file.Streams)
            (s.Type == AVMEDIA_TYPE_VIDEO ? found.second : found.first) = s;
        return found;
    };
    const TFileDigest in = DigestFile(source.Path);
    ASSERT_EQ(in.Streams.size(), 2u);
    const auto [sound, cover] = parts(in);
    ASSERT_TRUE(cover.Cover);
    for (const char* name : {"song.mkv", "song.mp4"}) {
        SCOPED_TRACE(name);
        Copy(source.Path, Out(name));
        const TFileDigest out = DigestFile(Out(name));
        ASSERT_EQ(out.Streams.size(), 2u);
        // The sound packet for packet, the picture byte for byte and still a cover.
        const auto [outSound, outCover] = parts(out);
        EXPECT_EQ(outSound, sound);
        EXPECT_EQ(outCover.Codec, "png");
        EXPECT_TRUE(outCover.Cover);
        EXPECT_EQ(outCover.Digest, cover.Digest);
    }
}

TEST_F(StreamCopyTest, WhatTheContainerCannotCarryIsRefusedInWordsAndNothingIsWritten) {
    const TFixture& wav = Source(fkWavPcm, Clip(1));
    struct TCase {
        const char* Name;
        const char* Text;
    } cases[] = {
        {"sound.mp4", "MP4 cannot carry this file's PCM sound: choose MKV - Copy Streams"},
        {"sound.webm", "WebM cannot carry this file's PCM sound: choose MKV - Copy Streams"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TRecordedJob run;
        EXPECT_EQ(OpenCopy(run, wav.Path, Out(c.Name)), -1);
        EXPECT_EQ(run.Job->OpenError, c.Text);
        EXPECT_FALSE(std::filesystem::exists(Out(c.Name)));
    }
}

} // namespace
