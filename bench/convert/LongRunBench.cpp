// A long run: many small files converted in one `clipwright-cli convert --jobs 2` run, with the
// resident memory of the process read every second from /proc/<pid>/status. Memory must not
// grow with the number of files (nothing kept behind by a finished task), and every output must
// be a valid file.
//
//   bench_longrun [--files N] [--jobs N] [--clip-seconds S] [--sample S] [--keep]
// (other arguments are ignored; N files, 200 by default, of S seconds, 3 by default, 160x120
// 25 fps MPEG-4 + MP3 stereo 44.1 kHz, converted to AVI preset 3; memory read every S
// seconds, 1 by default. The clips are long enough for a few samples per quarter of the run
// on a quick machine.)
//
// Rule: the same conversion runs twice, with the first quarter of the files and with all of
// them. The peak resident memory of the whole run (the kernel's high-water mark, which no
// sample can miss) may exceed the quarter run's by at most 10 % + 4 MiB. A leak of 100 KiB per
// task shows as 15 MiB over 150 more files. Beside it, for the long run, the largest sample of
// the first and of the last quarter of its converting time (from the moment every task has
// been queued to the summary) are printed; those quarters hold about the first and the last
// N/4 files, the files being alike. The run builds every task before the first one starts, so
// what a queued task holds shows in the rule but not in the quarters.
//
// Every output of both runs is opened again with the decoder component: one video and one
// audio stream, 160x120, a length within 10 % of the input's (0.15 s for short clips), and
// every picture decoded.
// Exit code 1 when a run fails or an output is not valid; the memory rule is printed as met or
// MISSED.
#include "bench/BenchSupport.h"
#include "engine/FFDecoder.h"
#include "tests/fixtures/MediaFixtures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace cw;
using namespace cw::bench;
namespace fs = std::filesystem;

namespace {

constexpr int ClipFrameRate = 25;
constexpr int ClipWidth = 160;
constexpr int ClipHeight = 120;
// An audio stream ends on a whole packet with the encoder's delay added: a short clip gains a
// larger share of its length than a long one.
constexpr double MinLengthTolerance = 0.15; // seconds
constexpr double AllowedGrowth = 0.10;      // of the quarter run's peak
constexpr double AllowedGrowthMiB = 4;
// The log line of every queued task (stderr) and the first line of the summary (stdout).
const char* const QueuedLine = "File has been added to convert list.";
const char* const SummaryLine = "Total files: ";

int CountLines(const fs::path& file, const std::string& text) {
    std::ifstream in(file);
    int count = 0;
    std::string line;
    while (std::getline(in, line))
        count += line.rfind(text, 0) == 0 ? 1 : 0;
    return count;
}

struct TRunResult {
    bool Ok = false;
    int Files = 0;
    TMeasure Measure;
    std::vector<int> QueuedAt;    // per sample: tasks queued by then
    std::vector<bool> FinishedAt; // per sample: the summary was out (the run is tearing down)
    std::vector<fs::path> Outputs;
};

// One run of the command line over the first `files` inputs, sampled.
TRunResult RunConvert(const std::vector<std::string>& inputs, int files, int jobs,
                      double sampleSeconds, const fs::path& outFolder, const fs::path& logFile,
                      const fs::path& summaryFile) {
    TRunResult result;
    result.Files = files;
    std::error_code ec;
    fs::remove_all(outFolder, ec);
    fs::create_directories(outFolder, ec);
    std::vector<std::string> args = {
        CW_CLI, "convert", "--class",          "video",  "--format",          "AVI", "--preset",
        "3",    "--out",   outFolder.string(), "--jobs", std::to_string(jobs)};
    args.insert(args.end(), inputs.begin(), inputs.begin() + files);
    TRunOptions options;
    options.StderrPath = logFile.string();
    options.StdoutPath = summaryFile.string();
    options.SampleSeconds = sampleSeconds;
    options.OnSample = [&](const TMemorySample&) {
        result.QueuedAt.push_back(CountLines(logFile, QueuedLine));
        result.FinishedAt.push_back(CountLines(summaryFile, SummaryLine) > 0);
    };
    result.Measure = RunMeasured(args, options);
    for (int i = 0; i < files; ++i)
        result.Outputs.push_back(outFolder / fs::path(inputs[i]).filename());
    result.Ok = result.Measure.Ok;
    if (!result.Ok)
        std::fprintf(stderr, "bench_longrun: clipwright-cli convert failed (exit %d), see %s\n",
                     result.Measure.ExitCode, logFile.c_str());
    return result;
}

// Empty when the output is a valid copy of the clip, else what is wrong with it.
std::string CheckOutput(TFFDecoder& decoder, const fs::path& file, double clipSeconds) {
    if (!decoder.LoadFile(file.string()))
        return decoder.LastErrMsg();
    std::string problem;
    const int64_t duration = decoder.GetFileStreamInfo().Duration;
    if (decoder.VideoStreamCount() != 1 || decoder.AudioStreamCount() != 1) {
        problem = std::to_string(decoder.VideoStreamCount()) + " video and " +
                  std::to_string(decoder.AudioStreamCount()) + " audio streams";
    } else if (std::fabs(double(duration) / 1e6 - clipSeconds) >
               std::max(clipSeconds * 0.1, MinLengthTolerance)) {
        problem = "length " + std::to_string(double(duration) / 1e6) + " s";
    } else {
        const TVideoStreamInfo video = decoder.GetVideoStreamInfo(-1);
        if (video.Width != ClipWidth || video.Height != ClipHeight) {
            problem = "picture " + std::to_string(video.Width) + "x" + std::to_string(video.Height);
        } else {
            const int expected = int(clipSeconds * ClipFrameRate);
            int pictures = 0;
            while (pictures < expected * 4 && decoder.Decode(-1))
                ++pictures;
            if (pictures < expected * 9 / 10)
                problem =
                    std::to_string(pictures) + " pictures decoded of " + std::to_string(expected);
        }
    }
    decoder.CloseFile();
    return problem;
}

int CheckOutputs(const TRunResult& run, double clipSeconds) {
    TFFDecoder decoder;
    int bad = 0;
    for (const fs::path& output : run.Outputs) {
        const std::string problem = CheckOutput(decoder, output, clipSeconds);
        if (!problem.empty()) {
            if (++bad <= 5)
                std::fprintf(stderr, "bench_longrun: %s: %s\n", output.c_str(), problem.c_str());
        }
    }
    return bad;
}

double MaxRss(const std::vector<TMemorySample>& samples, size_t from, size_t to) {
    double peak = 0;
    for (size_t i = from; i < to && i < samples.size(); ++i)
        peak = std::max(peak, samples[i].RssMiB);
    return peak;
}

void PrintRun(const TRunResult& run, int bad) {
    const auto& samples = run.Measure.Samples;
    std::printf("%5d files  %7.2f s  %6.1f cpu s  peak %6.1f MiB  largest sample %6.1f MiB  "
                "%3zu samples  outputs valid %d/%d\n",
                run.Files, run.Measure.Seconds, run.Measure.CpuSeconds, run.Measure.PeakMiB,
                MaxRss(samples, 0, samples.size()), samples.size(), run.Files - bad, run.Files);
}

} // namespace

int main(int argc, char** argv) {
    const int files = std::max(4, int(NumberArgument(argc, argv, "--files", 200)));
    const int jobs = std::max(1, int(NumberArgument(argc, argv, "--jobs", 2)));
    const double clipSeconds = std::max(0.5, NumberArgument(argc, argv, "--clip-seconds", 3));
    const double sampleSeconds = std::max(0.05, NumberArgument(argc, argv, "--sample", 1));
    const bool keep = FlagArgument(argc, argv, "--keep");
    const int quarter = files / 4;

    std::string error;
    if (!test::BindFixtureLibraries(&error)) {
        std::fprintf(stderr, "bench_longrun: %s\n", error.c_str());
        return 1;
    }
    char pattern[] = "/tmp/cw-bench-longrun-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("bench_longrun: mkdtemp");
        return 1;
    }
    const fs::path folder = pattern;
    std::vector<std::string> inputs;
    try {
        test::TFixtureParams params;
        params.Seconds = clipSeconds;
        params.Width = ClipWidth;
        params.Height = ClipHeight;
        params.FrameRateNum = ClipFrameRate;
        params.FrameRateDen = 1;
        params.GopSize = 12;
        params.SampleRate = 44100;
        params.Channels = 2;
        const fs::path inFolder = folder / "in";
        fs::create_directories(inFolder);
        const fs::path first = inFolder / "clip0001.avi";
        test::WriteFixture(test::fkAviMpeg4Mp3, first.string(), params);
        inputs.push_back(first.string());
        for (int i = 2; i <= files; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "clip%04d.avi", i);
            fs::copy_file(first, inFolder / name, fs::copy_options::overwrite_existing);
            inputs.push_back((inFolder / name).string());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_longrun: cannot write the clips: %s\n", e.what());
        return 1;
    }

    std::printf("%d files of %g s %dx%d %d fps MPEG-4 + MP3 to AVI 3, clipwright-cli convert "
                "--jobs %d, memory sampled every %.2g s\n",
                files, clipSeconds, ClipWidth, ClipHeight, ClipFrameRate, jobs, sampleSeconds);
    const TRunResult small =
        RunConvert(inputs, quarter, jobs, sampleSeconds, folder / "out-quarter",
                   folder / "quarter.log", folder / "quarter.out");
    const TRunResult full = RunConvert(inputs, files, jobs, sampleSeconds, folder / "out-all",
                                       folder / "all.log", folder / "all.out");
    if (!small.Ok || !full.Ok) {
        std::printf("files kept in %s\n", folder.c_str());
        return 1;
    }
    const int smallBad = CheckOutputs(small, clipSeconds);
    const int fullBad = CheckOutputs(full, clipSeconds);
    PrintRun(small, smallBad);
    PrintRun(full, fullBad);

    // The long run sample by sample, once all of its tasks were queued.
    const auto& samples = full.Measure.Samples;
    size_t converting = 0, finished = 0;
    while (converting < full.QueuedAt.size() && full.QueuedAt[converting] < files)
        ++converting;
    while (finished < full.FinishedAt.size() && !full.FinishedAt[finished])
        ++finished;
    if (converting < samples.size()) {
        std::printf("memory of the %d-file run (MiB at each sample; | once every task was "
                    "queued, ] once the summary was out):\n ",
                    files);
        for (size_t i = 0; i < samples.size(); ++i)
            std::printf("%s%.0f",
                        i == converting ? " | "
                        : i == finished ? " ] "
                                        : " ",
                        samples[i].RssMiB);
        std::printf("\n");
        const size_t span = std::max(finished, converting) - converting;
        if (span >= 4) {
            const double firstQuarter = MaxRss(samples, converting, converting + span / 4);
            const double lastQuarter = MaxRss(samples, finished - span / 4, finished);
            std::printf("largest sample, first quarter of the converting time %.1f MiB, last "
                        "quarter %.1f MiB (%+.1f MiB)\n",
                        firstQuarter, lastQuarter, lastQuarter - firstQuarter);
        } else {
            std::printf("too few samples while converting to compare its quarters\n");
        }
    }

    const double limit = small.Measure.PeakMiB * (1 + AllowedGrowth) + AllowedGrowthMiB;
    const double growth = full.Measure.PeakMiB - small.Measure.PeakMiB;
    std::printf("rule: peak of %d files <= peak of %d files + 10 %% + %.0f MiB (%.1f MiB): "
                "%+.1f MiB %s\n",
                files, quarter, AllowedGrowthMiB, limit, growth,
                full.Measure.PeakMiB <= limit ? "met" : "MISSED");
    if (growth > 0 && files > quarter)
        std::printf("      %.1f KiB more per added file\n", growth * 1024 / (files - quarter));
    std::printf("outputs: %s\n", smallBad + fullBad == 0 ? "all valid" : "SOME NOT VALID");

    std::error_code ec;
    if (keep || smallBad + fullBad > 0)
        std::printf("files kept in %s\n", folder.c_str());
    else
        fs::remove_all(folder, ec);
    return smallBad + fullBad == 0 ? 0 : 1;
}
