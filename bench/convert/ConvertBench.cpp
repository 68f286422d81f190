// Conversion speed of the program as people use it: `clipwright-cli convert` (the window's
// conversion run, with the codecs threaded as they like, CodecThreads 0), beside the ffmpeg
// tool doing the same conversion with its default threading, in the same run.
//
//   bench_convert [--runs N] [--seconds S] [--batch-seconds S] [--keep]
// (other arguments are ignored; --keep leaves the clips and the outputs in the temporary
// folder it names)
//
// Cases:
//   one file     a 60 s 640x480 25 fps clip with stereo 44.1 kHz audio to AVI preset 3
//                (MPEG-4 + MP3) and to MP4 preset 3 (H.264 + AAC), the job as it runs (reading
//                and decoding on a thread of their own) and with --serial beside it; aims: the
//                job at most 0.75 times the tool's wall time for AVI, 0.9 times for MP4 (the
//                H.264 encoder threads already), and a peak memory at most the tool's + 30 MB
//   today's      the same clip to MKV 0 (copy: at most 0.2 s for the 60 s clip), MKV 2 (H.265 +
//                Opus), WebM 0 (VP9 + Opus) and WebM 2 (AV1 + Opus), each at most 1.0 times
//                the tool's time with the same encoder settings
//   ten files    ten 20 s clips of the same kind to AVI preset 3 with --jobs 2, against ten
//                runs of the tool one after the other; aim: at least 1.7 times faster
// The figures are medians over the runs (the aims are judged on them; the ratio of the best
// runs is printed beside them, as a hint when the machine is busy); the program and the tool
// take turns at going first.
// Exit code 1 only when something fails to run; a missed aim is printed as MISSED.
#include "bench/BenchSupport.h"
#include "engine/FFDecoder.h"
#include "tests/fixtures/MediaFixtures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace cw;
using namespace cw::bench;
namespace fs = std::filesystem;

namespace {

// Program time / tool time for one file, at most: AVI 3 and MP4 3.
double SingleFileAim(const TPresetCase& c) {
    return std::string(c.Format) == "MP4" ? 0.9 : 0.75;
}
constexpr double PeakAimMiB = 30e6 / (1024.0 * 1024.0); // over the tool's peak, at most

// Today's outputs beside the tool with the same encoder settings: an aim as a ratio of the
// tool's time, or (a copy) as seconds for the 60 s clip.
struct TTodayCase {
    TPresetCase Case;
    double MaxRatio = 0;
    double MaxSeconds = 0;
};

const std::vector<TTodayCase>& TodaysPresets() {
    // The clip is 640 pixels wide: VP9 codes two tile columns (log2 1).
    static const std::vector<TTodayCase> cases = {
        {{"copy every stream, MKV", "video", "MKV", "0", ".mkv", {"-map", "0", "-c", "copy"}},
         0,
         0.2},
        {{"H.265 CRF 24 + Opus 160k, MKV",
          "video",
          "MKV",
          "2",
          ".mkv",
          {"-c:v", "libx265", "-crf", "24", "-preset", "medium", "-c:a", "libopus", "-b:a", "160k",
           "-ar", "48000"}},
         1.0,
         0},
        {{"VP9 CRF 31 + Opus 160k, WebM",
          "video",
          "WebM",
          "0",
          ".webm",
          {"-c:v", "libvpx-vp9", "-crf", "31", "-b:v", "0", "-row-mt", "1", "-tile-columns", "1",
           "-c:a", "libopus", "-b:a", "160k", "-ar", "48000"}},
         1.0,
         0},
        {{"AV1 CRF 30 + Opus 160k, WebM",
          "video",
          "WebM",
          "2",
          ".webm",
          {"-c:v", "libsvtav1", "-crf", "30", "-preset", "8", "-c:a", "libopus", "-b:a", "160k",
           "-ar", "48000"}},
         1.0,
         0},
    };
    return cases;
}
constexpr double BatchAim = 1.7;                        // tool time / program time, at least

std::vector<std::string> ConvertArguments(const TPresetCase& c, const fs::path& out, int jobs) {
    return {CW_CLI,     "convert", "--class", c.Class,      "--format", c.Format,
            "--preset", c.Preset,  "--out",   out.string(), "--jobs",   std::to_string(jobs)};
}

std::vector<std::string> ToolArguments(const TPresetCase& c, const std::string& input,
                                       const std::string& output) {
    std::vector<std::string> args = {"ffmpeg", "-nostdin", "-y", "-i", input};
    args.insert(args.end(), c.ToolArguments.begin(), c.ToolArguments.end());
    args.push_back(output);
    return args;
}

// A fresh, empty output folder, so that the program never has to pick "(1)" names.
void Recreate(const fs::path& folder) {
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);
}

double KiB(const fs::path& file) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    return ec ? 0 : double(size) / 1024;
}

// Empty when the file opens with the decoder component with a video and an audio stream and
// the expected length (within 10 %, at least 0.15 s), else what is wrong: a fast but broken output
// must not pass for a result.
std::string CheckOutput(const fs::path& file, double seconds) {
    TFFDecoder decoder;
    if (!decoder.LoadFile(file.string()))
        return decoder.LastErrMsg();
    const double length = double(decoder.GetFileStreamInfo().Duration) / 1e6;
    if (decoder.VideoStreamCount() < 1 || decoder.AudioStreamCount() < 1)
        return "a video or an audio stream is missing";
    // An audio stream ends on a whole packet with the encoder's delay: short clips get room.
    if (std::fabs(length - seconds) > std::max(seconds * 0.1, 0.15))
        return "length " + std::to_string(length) + " s instead of " + std::to_string(seconds);
    return {};
}

void PrintRow(const char* name, const char* who, const TSide& side, double outKiB) {
    std::printf("%-40s %-14s %9.2f %9.2f %10.1f %10.0f\n", name, who, Median(side.Times),
                Median(side.Cpu), side.PeakMiB, outKiB);
}

// The quickest run: the one least disturbed by other work on the machine.
double Best(const std::vector<double>& times) {
    return times.empty() ? 0 : *std::min_element(times.begin(), times.end());
}

// The H.264 and H.265 encoders write their settings into the stream: where the program's
// output and the tool's differ, the line says in what (program / tool).
void PrintSettingDifferences(const std::string& appOut, const std::string& toolOut) {
    const std::string appSettings = EncoderSettingsOf(appOut);
    if (appSettings.empty())
        return;
    const std::string differences = SettingDifferences(appSettings, EncoderSettingsOf(toolOut));
    std::printf("     encoder settings of the two outputs (program / tool): %s\n",
                differences.empty() ? "the same" : ("differ: " + differences).c_str());
}

const char* Verdict(bool met) {
    return met ? "met" : "MISSED";
}

// The program and the tool take turns at going first, so that neither always meets a cold
// or a warm cache; a failed run ends the case.
template <typename TApp, typename TTool>
void TakeTurns(int runs, const bool& failed, TApp& runApp, TTool& runTool) {
    for (int r = 0; r < runs && !failed; ++r) {
        if (r % 2 == 0) {
            runApp();
            runTool();
        } else {
            runTool();
            runApp();
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const int runs = std::max(1, int(NumberArgument(argc, argv, "--runs", 3)));
    const double seconds = std::max(1.0, NumberArgument(argc, argv, "--seconds", 60));
    const double batchSeconds = std::max(1.0, NumberArgument(argc, argv, "--batch-seconds", 20));
    const bool keep = FlagArgument(argc, argv, "--keep");
    constexpr int BatchFiles = 10;

    std::string error;
    if (!test::BindFixtureLibraries(&error)) {
        std::fprintf(stderr, "bench_convert: %s\n", error.c_str());
        return 1;
    }
    if (!HaveProgram("ffmpeg")) {
        std::fprintf(stderr, "bench_convert: the ffmpeg tool is missing (Debian package ffmpeg): "
                             "nothing to compare with\n");
        return 1;
    }
    char pattern[] = "/tmp/cw-bench-convert-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("bench_convert: mkdtemp");
        return 1;
    }
    const fs::path folder = pattern;

    test::TFixtureParams params = BenchClipParams(seconds);
    const std::string clip = (folder / "clip.avi").string();
    std::vector<std::string> batch;
    try {
        test::WriteFixture(test::fkAviMpeg4Mp3, clip, params);
        // Ten files of the same content under their own names.
        params.Seconds = batchSeconds;
        const fs::path first = folder / "batch" / "clip01.avi";
        fs::create_directories(first.parent_path());
        test::WriteFixture(test::fkAviMpeg4Mp3, first.string(), params);
        batch.push_back(first.string());
        for (int i = 2; i <= BatchFiles; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "clip%02d.avi", i);
            const fs::path copy = first.parent_path() / name;
            fs::copy_file(first, copy, fs::copy_options::overwrite_existing);
            batch.push_back(copy.string());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_convert: cannot write the clips: %s\n", e.what());
        return 1;
    }

    const unsigned cores = std::thread::hardware_concurrency();
    std::printf("clip %.0f s 640x480 25 fps, MPEG-4 + MP3 stereo 44.1 kHz; %u core(s); %d run(s), "
                "median time, largest peak resident memory\n",
                seconds, cores, runs);
    std::printf("program: clipwright-cli convert (codec threads 0); tool: ffmpeg, default "
                "threading\n");
    std::printf("%-40s %-14s %9s %9s %10s %10s\n", "case", "who", "seconds", "cpu s", "peak MiB",
                "out KiB");
    bool failed = false;
    std::vector<std::string> missed;
    // The program's log lines, kept for a run that fails.
    TRunOptions logOptions;
    logOptions.StderrPath = (folder / "clipwright-cli.log").string();

    // -- one file ------------------------------------------------------------------------------
    for (const TPresetCase& c : MatchedPresets()) {
        const fs::path appFolder = folder / (std::string("app-") + c.Format);
        const fs::path appOut = appFolder / (std::string("clip") + c.Extension);
        const std::string toolOut = (folder / (std::string("tool") + c.Extension)).string();
        TSide app, serial, tool;
        bool caseFailed = false;
        auto runApp = [&] {
            for (bool serialLoop : {false, true}) {
                Recreate(appFolder);
                std::vector<std::string> args = ConvertArguments(c, appFolder, 1);
                if (serialLoop)
                    args.push_back("--serial");
                args.push_back(clip);
                const TMeasure m = RunMeasured(args, logOptions);
                if (!m.Ok || !fs::exists(appOut)) {
                    std::fprintf(stderr,
                                 "bench_convert: clipwright-cli failed for %s (exit %d), see %s\n",
                                 c.Name, m.ExitCode, logOptions.StderrPath.c_str());
                    caseFailed = true;
                    return;
                }
                (serialLoop ? serial : app).Add(m);
            }
        };
        auto runTool = [&] {
            const TMeasure m = RunMeasured(ToolArguments(c, clip, toolOut));
            if (!m.Ok) {
                std::fprintf(stderr, "bench_convert: ffmpeg failed for %s (exit %d)\n", c.Name,
                             m.ExitCode);
                caseFailed = true;
                return;
            }
            tool.Add(m);
        };
        TakeTurns(runs, caseFailed, runApp, runTool);
        if (!caseFailed) {
            const std::string problem = CheckOutput(appOut, seconds);
            if (!problem.empty()) {
                std::fprintf(stderr, "bench_convert: the output of %s is not valid: %s\n", c.Name,
                             problem.c_str());
                caseFailed = true;
            }
        }
        if (caseFailed) {
            failed = true;
            continue;
        }
        PrintRow(c.Name, "clipwright-cli", app, KiB(appOut));
        PrintRow("", "... --serial", serial, KiB(appOut));
        PrintRow("", "ffmpeg", tool, KiB(toolOut));
        const double aim = SingleFileAim(c);
        const double ratio = Median(app.Times) / Median(tool.Times);
        std::printf("aim: one file %s %s, time <= %.2f x ffmpeg: %.2f %s (best runs %.2f x, "
                    "processor time %.2f x; serial %.2f x)\n",
                    c.Format, c.Preset, aim, ratio, Verdict(ratio <= aim),
                    Best(app.Times) / Best(tool.Times), Median(app.Cpu) / Median(tool.Cpu),
                    Median(serial.Times) / Median(tool.Times));
        if (ratio > aim)
            missed.push_back(std::string("one file ") + c.Format + " " + c.Preset);
        const bool peakMet = app.PeakMiB <= tool.PeakMiB + PeakAimMiB;
        std::printf("aim: one file %s %s, peak memory <= ffmpeg's + 30 MB: %.1f MiB against "
                    "%.1f MiB %s\n",
                    c.Format, c.Preset, app.PeakMiB, tool.PeakMiB, Verdict(peakMet));
        if (!peakMet)
            missed.push_back(std::string("one file peak ") + c.Format + " " + c.Preset);
        PrintSettingDifferences(appOut.string(), toolOut);
    }

    // -- today's outputs: the same file to MKV and WebM -----------------------------------------
    for (const TTodayCase& t : TodaysPresets()) {
        const TPresetCase& c = t.Case;
        const fs::path appFolder = folder / (std::string("app-") + c.Format + "-" + c.Preset);
        const fs::path appOut = appFolder / (std::string("clip") + c.Extension);
        const std::string toolOut =
            (folder / (std::string("tool-") + c.Preset + c.Extension)).string();
        TSide app, tool;
        bool caseFailed = false;
        auto runApp = [&] {
            Recreate(appFolder);
            std::vector<std::string> args = ConvertArguments(c, appFolder, 1);
            args.push_back(clip);
            const TMeasure m = RunMeasured(args, logOptions);
            if (!m.Ok || !fs::exists(appOut)) {
                std::fprintf(stderr,
                             "bench_convert: clipwright-cli failed for %s (exit %d), see %s\n",
                             c.Name, m.ExitCode, logOptions.StderrPath.c_str());
                caseFailed = true;
                return;
            }
            app.Add(m);
        };
        auto runTool = [&] {
            const TMeasure m = RunMeasured(ToolArguments(c, clip, toolOut));
            if (!m.Ok) {
                std::fprintf(stderr, "bench_convert: ffmpeg failed for %s (exit %d)\n", c.Name,
                             m.ExitCode);
                caseFailed = true;
                return;
            }
            tool.Add(m);
        };
        TakeTurns(runs, caseFailed, runApp, runTool);
        if (!caseFailed) {
            const std::string problem = CheckOutput(appOut, seconds);
            if (!problem.empty()) {
                std::fprintf(stderr, "bench_convert: the output of %s is not valid: %s\n", c.Name,
                             problem.c_str());
                caseFailed = true;
            }
        }
        if (caseFailed) {
            failed = true;
            continue;
        }
        PrintRow(c.Name, "clipwright-cli", app, KiB(appOut));
        PrintRow("", "ffmpeg", tool, KiB(toolOut));
        const double ratio = Median(app.Times) / Median(tool.Times);
        bool met;
        if (t.MaxSeconds > 0) {
            // A copy: an absolute aim for the whole 60 s clip (judged on the run's own length).
            const double limit = t.MaxSeconds * seconds / 60;
            met = Median(app.Times) <= limit;
            std::printf(
                "aim: %s %s, at most %.2f s for the %.0f s clip: %.3f s %s (ffmpeg %.3f s)\n",
                c.Format, c.Preset, limit, seconds, Median(app.Times), Verdict(met),
                Median(tool.Times));
        } else {
            met = ratio <= t.MaxRatio;
            std::printf("aim: %s %s, time <= %.2f x ffmpeg: %.2f %s (best runs %.2f x, processor "
                        "time %.2f x)\n",
                        c.Format, c.Preset, t.MaxRatio, ratio, Verdict(met),
                        Best(app.Times) / Best(tool.Times), Median(app.Cpu) / Median(tool.Cpu));
        }
        PrintSettingDifferences(appOut.string(), toolOut);
        if (!met)
            missed.push_back(std::string(c.Format) + " " + c.Preset);
    }

    // -- ten files, two at a time ----------------------------------------------------------------
    {
        const TPresetCase& c = MatchedPresets().front(); // AVI 3
        const fs::path appFolder = folder / "batch-app";
        const fs::path toolFolder = folder / "batch-tool";
        TSide app, tool;
        bool caseFailed = false;
        auto runApp = [&] {
            Recreate(appFolder);
            std::vector<std::string> args = ConvertArguments(c, appFolder, 2);
            args.insert(args.end(), batch.begin(), batch.end());
            const TMeasure m = RunMeasured(args, logOptions);
            if (!m.Ok) {
                std::fprintf(stderr,
                             "bench_convert: clipwright-cli --jobs 2 failed (exit %d), see %s\n",
                             m.ExitCode, logOptions.StderrPath.c_str());
                caseFailed = true;
                return;
            }
            app.Add(m);
        };
        auto runTool = [&] {
            Recreate(toolFolder);
            TMeasure sum;
            sum.Ok = true;
            const auto start = TClock::now();
            for (const std::string& input : batch) {
                const TMeasure m = RunMeasured(
                    ToolArguments(c, input, (toolFolder / fs::path(input).filename()).string()));
                if (!m.Ok) {
                    std::fprintf(stderr, "bench_convert: ffmpeg failed for %s (exit %d)\n",
                                 input.c_str(), m.ExitCode);
                    caseFailed = true;
                    return;
                }
                sum.CpuSeconds += m.CpuSeconds;
                sum.PeakMiB = std::max(sum.PeakMiB, m.PeakMiB);
            }
            sum.Seconds = SecondsSince(start);
            tool.Add(sum);
        };
        TakeTurns(runs, caseFailed, runApp, runTool);
        for (size_t i = 0; i < batch.size() && !caseFailed; ++i) {
            const fs::path output = appFolder / fs::path(batch[i]).filename();
            const std::string problem = CheckOutput(output, batchSeconds);
            if (!problem.empty()) {
                std::fprintf(stderr, "bench_convert: %s is not valid: %s\n", output.c_str(),
                             problem.c_str());
                caseFailed = true;
            }
        }
        if (caseFailed) {
            failed = true;
        } else {
            double appKiB = 0, toolKiB = 0;
            for (const std::string& input : batch) {
                appKiB += KiB(appFolder / fs::path(input).filename());
                toolKiB += KiB(toolFolder / fs::path(input).filename());
            }
            char name[64];
            std::snprintf(name, sizeof name, "%d x %.0f s to AVI 3", BatchFiles, batchSeconds);
            PrintRow(name, "cli --jobs 2", app, appKiB);
            PrintRow("", "ffmpeg x10", tool, toolKiB);
            const double speedup = Median(tool.Times) / Median(app.Times);
            std::printf("aim: ten files with --jobs 2 >= %.1f x faster than ten ffmpeg runs: "
                        "%.2f %s (best runs %.2f x)\n",
                        BatchAim, speedup, Verdict(speedup >= BatchAim),
                        Best(tool.Times) / Best(app.Times));
            if (speedup < BatchAim)
                missed.push_back("ten files --jobs 2");
        }
    }

    if (missed.empty() && !failed) {
        std::printf("every aim met\n");
    } else if (!missed.empty()) {
        std::printf("aims missed:");
        for (const std::string& name : missed)
            std::printf(" [%s]", name.c_str());
        std::printf("\n");
    }
    std::error_code ec;
    if (keep || failed)
        std::printf("files kept in %s\n", folder.c_str());
    else
        fs::remove_all(folder, ec);
    return failed ? 1 : 0;
}
