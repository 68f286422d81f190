// The transcoder's encoding side roads: two-pass encoding through its log file, forced key
// frames, a frame-hook library changing the pictures, metadata maps, and the statistics that
// go into the report line and the video statistics file.
#include "TranscoderTestSupport.h"

#include <cmath>
#include <fstream>
#include <sstream>

using namespace cw;
using namespace cw::test;

namespace {

// Every packet of the first video stream: its time in seconds, size and key flag.
struct TVideoPacket {
    double Time;
    int Size;
    bool Key;
};

std::vector<TVideoPacket> ReadVideoPackets(const std::string& path) {
    std::vector<TVideoPacket> packets;
    AVFormatContext* context = nullptr;
    if (ff::avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return packets;
    }
    TInputContextPtr contextOwner(context);
    ff::avformat_find_stream_info(context, nullptr);
    const int video = ff::av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    TPacketPtr packetOwner(ff::av_packet_alloc());
    AVPacket* packet = packetOwner.get();
    while (video >= 0 && ff::av_read_frame(context, packet) >= 0) {
        if (packet->stream_index == video) {
            const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            packets.push_back({ts * av_q2d(context->streams[video]->time_base), packet->size,
                               (packet->flags & AV_PKT_FLAG_KEY) != 0});
        }
        ff::av_packet_unref(packet);
    }
    return packets;
}

std::string ReadText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string Title(const std::string& path) {
    AVFormatContext* context = nullptr;
    if (ff::avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0)
        return "(cannot open)";
    TInputContextPtr contextOwner(context);
    const AVDictionaryEntry* entry = ff::av_dict_get(context->metadata, "title", nullptr, 0);
    return entry ? entry->value : "(none)";
}

std::string FormatChapter(double start, double end, const std::string& title) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f-%.1f ", start, end);
    return text + title;
}

class SideRoadsTest : public TranscoderTest {
protected:
    static TFixtureParams Params(double seconds, int rate) {
        TFixtureParams p;
        p.Seconds = seconds;
        p.FrameRateNum = rate;
        return p;
    }

    // A job from one source to one output with the options, set before the output opens.
    void Convert(TRecordedJob& run, const std::string& source, const std::string& out,
                 const std::vector<std::pair<std::string, std::string>>& options) {
        ASSERT_TRUE(run.Job->OpenInput(source)) << run.Job->OpenError;
        for (const auto& [name, value] : options)
            run.Job->Options.SetOption(name, value);
        ASSERT_EQ(run.Job->OpenOutput(out, false), 1) << run.Job->OpenError;
        run.Run();
    }
};

TEST_F(SideRoadsTest, TwoPassReadsTheFirstPassLogAndMeetsTheBitRate) {
    // Noise gives the encoder something to spend its bits on; flat colours would not.
    const std::string source = Source(fkAviMpeg4Mp3, Params(4, 10)).Path;
    const std::string log = Out("passes");
    const std::vector<std::pair<std::string, std::string>> common = {{"an", "1"},
                                                                     {"vcodec", "mpeg4"},
                                                                     {"vf", "noise=alls=40:allf=t"},
                                                                     {"b", "300000"},
                                                                     {"passlogfile", log}};
    for (int pass : {1, 2}) {
        SCOPED_TRACE(pass);
        TRecordedJob run;
        auto options = common;
        options.emplace_back("pass", std::to_string(pass));
        Convert(run, source, Out("pass" + std::to_string(pass) + ".avi"), options);
        ASSERT_TRUE(run.Job->Finished);
        ASSERT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;
        if (pass == 1) {
            // One statistics line per picture.
            const std::string text = ReadText(log + "-0.log");
            EXPECT_GE(std::count(text.begin(), text.end(), '\n'), 40);
        }
    }
    std::vector<TVideoPacket> packets = ReadVideoPackets(Out("pass2.avi"));
    ASSERT_EQ(packets.size(), 40u);
    int64_t bytes = 0;
    for (const TVideoPacket& packet : packets)
        bytes += packet.Size;
    const double bitRate = double(bytes) * 8 / 4.0;
    EXPECT_NEAR(bitRate, 300000, 30000);

    // The second pass needs the first one's log, with something in it.
    std::ofstream(Out("empty-0.log")) << "\n";
    for (const char* name : {"missing", "empty"}) {
        TRecordedJob orphan;
        Convert(orphan, source, Out("orphan.avi"),
                {{"an", "1"}, {"pass", "2"}, {"passlogfile", Out(name)}});
        EXPECT_TRUE(orphan.Job->Failed);
        EXPECT_EQ(orphan.Job->ErrorMessage, "Cannot read file: Error reading log file \"" +
                                                Out(name) + "-0.log\" for pass-2 encoding");
    }
}

TEST_F(SideRoadsTest, ForcedKeyFramesLandAtTheirTimes) {
    // Two small grey pictures a second for 21 s: without forcing, only the first is a key.
    const std::string source = Source(fkAviMpeg4Mp3,
                                      [] {
                                          TFixtureParams p = Params(21, 2);
                                          p.Width = 64;
                                          p.Height = 48;
                                          return p;
                                      }())
                                   .Path;
    for (bool forced : {false, true}) {
        SCOPED_TRACE(forced);
        TRecordedJob run;
        std::vector<std::pair<std::string, std::string>> options = {
            {"an", "1"}, {"vcodec", "mpeg4"}, {"g", "1000"}, {"vf", "lutyuv=y=128:u=128:v=128"}};
        if (forced)
            options.emplace_back("force_key_frames", "0,10,20");
        const std::string out = Out(forced ? "forced.avi" : "plain.avi");
        Convert(run, source, out, options);
        ASSERT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;
        std::vector<double> keys;
        for (const TVideoPacket& packet : ReadVideoPackets(out))
            if (packet.Key)
                keys.push_back(packet.Time);
        const std::vector<double> expected =
            forced ? std::vector<double>{0, 10, 20} : std::vector<double>{0};
        EXPECT_EQ(keys, expected);
    }
}

TEST_F(SideRoadsTest, FrameHookLibraryChangesThePictures) {
    // The test hook adds its argument to every luma byte.
    const std::string source = Source(fkAviMpeg4Mp3, Params(3, 10)).Path;
    TRecordedJob run;
    Convert(run, source, Out("vhook.avi"),
            {{"an", "1"}, {"qscale", "2"}, {"vhook", std::string(CW_HOOK_FULL) + " 30"}});
    ASSERT_TRUE(run.Job->Finished);
    ASSERT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;
    auto luma = [](TRgb c) { return 16 + 0.257 * c.R + 0.504 * c.G + 0.098 * c.B; };
    TFFDecoder decoder;
    ASSERT_TRUE(decoder.LoadFile(Out("vhook.avi")));
    int pictures = 0;
    while (decoder.Decode(-1)) {
        ++pictures;
        TBitmap bitmap;
        ASSERT_TRUE(decoder.CopyToBitmap(bitmap));
        const double t = double(decoder.FrameTime()) / 1e6;
        if (t - std::floor(t) < 0.05 || t - std::floor(t) > 0.95)
            continue;
        const uint8_t* pixel = bitmap.ScanLine(60) + 80 * 3;
        const TRgb seen{pixel[2], pixel[1], pixel[0]};
        EXPECT_NEAR(luma(seen) - luma(FixtureColourAt(t)), 30, 6) << "picture at " << t;
    }
    EXPECT_EQ(pictures, 30);

    // Pictures that are not decoded cannot go through a hook.
    TRecordedJob copy;
    Convert(copy, source, Out("vhookcopy.avi"),
            {{"an", "1"}, {"vcodec", "copy"}, {"vhook", CW_HOOK_FULL}});
    EXPECT_EQ(copy.Job->ErrorMessage,
              "-vcodec copy and -vhook are incompatible (frames are not decoded)");
}

TEST_F(SideRoadsTest, MetadataMapsChooseWhereTheTitleComesFrom) {
    TFixtureParams first = Params(1, 10);
    first.Tags = {{"title", "First title"}};
    TFixtureParams second = Params(1, 10);
    second.Tags = {{"title", "Second title"}};
    second.Width = 176; // another source file
    const std::string a = Source(fkAviMpeg4Mp3, first).Path;
    const std::string b = Source(fkAviMpeg4Mp3, second).Path;
    struct TCase {
        const char* Map; // "" for none
        const char* Title;
        const char* Error;
    };
    const TCase cases[] = {
        {"", "First title", ""}, // the first input's tags by default
        {"0:1", "Second title", ""},
        {"0:5", "", "Invalid input file index 5 while processing metadata maps"},
        {"3:0", "", "Invalid output file index 3 while processing metadata maps"},
        {"0,s0:1,s9", "", "Invalid stream index 9 while processing metadata maps"},
    };
    int n = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Map);
        TRecordedJob run;
        ASSERT_TRUE(run.Job->OpenInput(a)) << run.Job->OpenError;
        ASSERT_TRUE(run.Job->OpenInput(b)) << run.Job->OpenError;
        if (*c.Map)
            run.Job->Options.SetOption("map_meta_data", c.Map);
        run.Job->Options.SetOption("an", "1");
        const std::string out = Out("meta" + std::to_string(n++) + ".mkv");
        ASSERT_EQ(run.Job->OpenOutput(out, false), 1) << run.Job->OpenError;
        run.Run();
        EXPECT_EQ(run.Job->ErrorMessage, c.Error);
        if (*c.Title) {
            EXPECT_EQ(Title(out), c.Title);
        }
    }
}

TEST_F(SideRoadsTest, ChaptersOfTheFirstInputWithChaptersAreCutToTheOutput) {
    const std::string source = Source(fkAviMpeg4Mp3, Params(3, 10)).Path;
    // A second input that only brings chapters: 0-1 s, 1-2 s, 2-3 s.
    std::ofstream(Out("chapters.txt"))
        << ";FFMETADATA1\n"
           "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=One\n"
           "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=Two\n"
           "[CHAPTER]\nTIMEBASE=1/1000\nSTART=2000\nEND=3000\ntitle=Three\n";
    TRecordedJob run;
    ASSERT_TRUE(run.Job->OpenInput(source)) << run.Job->OpenError;
    run.Job->Options.SetOption("f", "ffmetadata");
    ASSERT_TRUE(run.Job->OpenInput(Out("chapters.txt"))) << run.Job->OpenError;
    run.Job->Options.SetOption("an", "1");
    run.Job->Options.SetOption("t", "1.5");
    ASSERT_EQ(run.Job->OpenOutput(Out("chapters.mkv"), false), 1) << run.Job->OpenError;
    run.Run();
    ASSERT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;

    AVFormatContext* context = nullptr;
    ASSERT_GE(ff::avformat_open_input(&context, Out("chapters.mkv").c_str(), nullptr, nullptr), 0);
    TInputContextPtr contextOwner(context);
    std::vector<std::string> chapters;
    for (unsigned i = 0; i < context->nb_chapters; ++i) {
        const AVChapter* chapter = context->chapters[i];
        const AVDictionaryEntry* title = ff::av_dict_get(chapter->metadata, "title", nullptr, 0);
        chapters.push_back(FormatChapter(chapter->start * av_q2d(chapter->time_base),
                                         chapter->end * av_q2d(chapter->time_base),
                                         title ? title->value : ""));
    }
    // The output lasts 1.5 s: the second chapter is cut there, the third is left out.
    EXPECT_EQ(chapters, (std::vector<std::string>{"0.0-1.0 One", "1.0-1.5 Two"}));
}

TEST_F(SideRoadsTest, StatisticsFileAndPsnr) {
    const std::string source = Source(fkAviMpeg4Mp3, Params(3, 10)).Path;
    TRecordedJob run;
    // Without a progress callback the report lines go to the log.
    run.Job->OnProgress = nullptr;
    TFFLogger::Instance().SetLogLevel(llVerbose);
    Convert(run, source, Out("stats.avi"),
            {{"an", "1"},
             {"vcodec", "mpeg4"},
             {"vf", "noise=alls=20:allf=t"},
             {"psnr", "1"},
             {"qphist", "1"},
             {"qscale", "4"},
             {"vstats_file", Out("vstats.log")}});
    TFFLogger::Instance().SetLogLevel(llInfo);
    ASSERT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;

    // The last report: 30 pictures at quantiser 4, the histogram (one hexadecimal digit per
    // quantiser, log2 of its count + 1: quantiser 4 counted once per report), PSNR per plane.
    std::string report;
    for (const std::string& line : LogLines(llVerbose))
        if (line.rfind("frame=", 0) == 0 && line.find(" L") != std::string::npos)
            report = line;
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(report.find("frame=   30 "), 0u) << report;
    const size_t histogram = report.find("L") + 1;
    ASSERT_LE(histogram + 32, report.size()) << report;
    EXPECT_EQ(report.substr(histogram, 4), "0000") << report;
    EXPECT_NE(report[histogram + 4], '0') << report;
    EXPECT_EQ(report.substr(histogram + 5, 27), std::string(27, '0')) << report;
    double y = 0, u = 0, v = 0, all = 0;
    const size_t psnr = report.find("PSNR=");
    ASSERT_NE(psnr, std::string::npos) << report;
    ASSERT_EQ(std::sscanf(report.c_str() + psnr, "PSNR=Y:%lf U:%lf V:%lf *:%lf", &y, &u, &v, &all),
              4)
        << report;
    // Noise makes the pictures lossy at quantiser 4, but not much.
    for (double figure : {y, u, v, all}) {
        EXPECT_TRUE(std::isfinite(figure)) << report;
        EXPECT_GT(figure, 25) << report;
    }
    EXPECT_LT(y, 45) << report;
    std::istringstream lines(ReadText(Out("vstats.log")));
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        int frame = 0;
        double q = 0, psnr = 0;
        int size = 0;
        char type = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "frame= %d q= %lf PSNR= %lf f_size= %d", &frame, &q,
                              &psnr, &size),
                  4)
            << line;
        EXPECT_EQ(frame, count);
        EXPECT_NEAR(q, 4, 0.5);
        EXPECT_TRUE(std::isfinite(psnr) && psnr > 25) << line;
        EXPECT_GT(size, 0);
        const size_t at = line.find("type= ");
        ASSERT_NE(at, std::string::npos);
        type = line[at + 6];
        EXPECT_TRUE(type == 'I' || type == 'P') << line;
    }
    EXPECT_EQ(count, 30);
}

TEST_F(SideRoadsTest, RateControlOverrideCoarsensItsFrames) {
    const std::string source = Source(fkAviMpeg4Mp3, Params(3, 10)).Path;
    TRecordedJob run;
    Convert(run, source, Out("override.avi"),
            {{"an", "1"},
             {"vcodec", "mpeg4"},
             {"vf", "noise=alls=40:allf=t"},
             {"b", "400000"},
             {"rc_override", "0,9,31"},
             {"vstats_file", Out("override.log")}});
    ASSERT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;
    std::istringstream lines(ReadText(Out("override.log")));
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        int frame = 0;
        double q = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "frame= %d q= %lf", &frame, &q), 2) << line;
        ++count;
        // The override is a strong hint to the rate control, which still smooths the change.
        if (frame <= 10) {
            EXPECT_GE(q, 20) << line;
        } else if (frame >= 16) {
            EXPECT_LT(q, 15) << line;
        }
    }
    EXPECT_EQ(count, 30);

    TRecordedJob bad;
    ASSERT_TRUE(bad.Job->OpenInput(source)) << bad.Job->OpenError;
    bad.Job->Options.SetOption("rc_override", "0,9");
    EXPECT_EQ(bad.Job->OpenOutput(Out("bad.avi"), false), -1);
    EXPECT_EQ(bad.Job->OpenError, "new_video_stream fail: error parsing rc_override");
}

} // namespace
