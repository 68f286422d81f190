// One conversion as the application makes it, in a process of its own so that its time and
// peak memory can be measured from outside: a transcoding job with the output record of a
// catalogue preset, run on the calling thread.
//
//   transcode_runner FORMAT PRESET INPUT OUTPUT [serial]   (exit code 0 when the job finished)
//   transcode_runner --join FORMAT PRESET OUTPUT INPUT...  (the inputs joined into one output)
// serial: the read loop on the job's one thread (SerialLoop).
#include "convert/Catalogue.h"
#include "convert/PresetMapping.h"
#include "engine/FFLoader.h"
#include "engine/Transcoder.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

using namespace cw;

int main(int argc, char** argv) {
    const bool join = argc >= 6 && std::string(argv[1]) == "--join";
    if (join) {
        ++argv;
        --argc;
    } else if (argc != 5 && !(argc == 6 && std::string(argv[5]) == "serial")) {
        std::fprintf(stderr, "usage: transcode_runner FORMAT PRESET INPUT OUTPUT [serial]\n"
                             "       transcode_runner --join FORMAT PRESET OUTPUT INPUT...\n");
        return 2;
    }
    const int inputs = join ? argc - 4 : 1;
    const char* const* inputNames = join ? argv + 4 : argv + 3;
    const char* outputName = join ? argv[3] : argv[4];
    const TOutputFormat* format = FindFormatByName(argv[1]);
    if (!format) {
        std::fprintf(stderr, "transcode_runner: unknown format %s\n", argv[1]);
        return 2;
    }
    FFLoader().SetLibraryPath("");
    if (!FFLoader().LoadLibs(EncoderLibraries)) {
        std::fprintf(stderr, "transcode_runner: %s\n", FFLoader().LastErrorMessage().c_str());
        return 1;
    }
    try {
        TCustomFFmpeg job(20);
        job.Options.SetOption("threads", "1");
        job.SerialLoop = !join && argc == 6;
        for (int i = 0; i < inputs; ++i) {
            TInputOptions input;
            if (!job.Options.OpenInputWithOptions(inputNames[i], &input)) {
                std::fprintf(stderr, "transcode_runner: %s\n", job.OpenError.c_str());
                return 1;
            }
        }
        TOutputOptions output;
        output.FileName = outputName;
        output.Join = join;
        ApplyPresetOptions(output,
                           TOutputSelection{format->Class, format->Index, std::atoi(argv[2])},
                           join ? mmMerge : mmPerFile);
        if (job.Options.OpenOutputWithOptions(outputName, &output) < 0) {
            std::fprintf(stderr, "transcode_runner: %s\n", job.OpenError.c_str());
            return 1;
        }
        job.Start(false);
        if (job.Failed || !job.Finished) {
            std::fprintf(stderr, "transcode_runner: %s\n", job.ErrorMessage.c_str());
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "transcode_runner: %s\n", e.what());
        return 1;
    }
    return 0;
}
