// Shared pieces of the transcoder tests: generated source files, a job with recorded
// callbacks, and a scan of a written file that decodes every stream and measures what it
// holds (codecs, sizes, rates, frames, samples, the time span of its packets).
#pragma once

#include "EngineTestSupport.h"

#include "engine/FFApi.h"
#include "engine/FFDecoder.h"
#include "engine/FFLogger.h"
#include "engine/Transcoder.h"
#include "tests/fixtures/MediaFixtures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cw::test {

// What one stream of a written file holds.
struct TScannedStream {
    AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
    std::string Codec;
    int Width = 0, Height = 0;
    int SampleRate = 0, Channels = 0;
    int64_t Packets = 0;
    std::vector<int64_t> PacketDurations; // in the stream's time base
    AVRational TimeBase{0, 1};
    double Start = 1e100;              // seconds: earliest packet time
    double End = -1e100;               // seconds: latest packet end
    int64_t Frames = 0;                // decoded pictures
    int64_t Samples = 0;               // decoded samples per channel
    std::vector<int16_t> FirstChannel; // decoded samples of channel 0, as 16-bit values
    double Span() const { return End - Start; }
    // Decoded length: samples over rate for audio.
    double AudioSeconds() const { return SampleRate ? double(Samples) / SampleRate : 0; }
    // Length of the kept samples between the first and the last one louder than a tenth of
    // full scale: the sound itself, without an encoder's priming or padding silence.
    double SoundSeconds() const;
    // One audio packet, in seconds (0 when unknown).
    double PacketSeconds() const {
        return PacketDurations.empty() ? 0 : double(PacketDurations[0]) * av_q2d(TimeBase);
    }
};

struct TScan {
    std::string Format;
    std::vector<TScannedStream> Streams;
    std::string Error;
    const TScannedStream* First(AVMediaType type) const {
        for (const auto& s : Streams)
            if (s.Type == type)
                return &s;
        return nullptr;
    }
};

// A small clip of the given length: 160x120 at 25 fps, a key picture every 10.
TFixtureParams Clip(double seconds);

// Opens the file with the libraries, reads every packet and decodes every audio and video
// stream. keepSamples keeps channel 0 of the first audio stream.
TScan ScanMedia(const std::string& path, bool keepSamples = false);

// A job with its termination notices and progress reports recorded.
struct TRecordedJob {
    std::unique_ptr<TCustomFFmpeg> Job;
    std::atomic<int> Terminations{0};
    std::mutex Lock;
    std::vector<TJobProgress> Reports;
    TRecordedJob();
    // Runs the job on the calling thread.
    void Run() { Job->Start(false); }
};

// Binds the libraries, keeps a logger and a temporary folder, and writes sources on demand.
class TranscoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // A generated source, written once per test suite for each distinct request.
    static const TFixture& Source(TFixtureKind kind, const TFixtureParams& params = {});
    std::string Out(const std::string& name) const { return Temp.Folder() + name; }
    std::vector<std::string> LogLines(TLogLevel maxLevel = llDebug);
    bool Logged(const std::string& text);

    TTempDir Temp;

private:
    static std::unique_ptr<TFFLogger> Logger;
    static std::mutex LogLock;
    static std::vector<std::pair<TLogLevel, std::string>> Lines;
};

} // namespace cw::test
