// One conversion as the application makes it, in a process of its own so that its time and
// peak memory can be measured from outside: a transcoding job with the output record of a
// catalogue preset, run on the calling thread.
//
//   transcode_runner FORMAT PRESET INPUT OUTPUT [serial]   (exit code 0 when the job finished)
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
    if (argc != 5 && !(argc == 6 && std::string(argv[5]) == "serial")) {
        std::fprintf(stderr, "usage: transcode_runner FORMAT PRESET INPUT OUTPUT [serial]\n");
        return 2;
    }
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
        job.SerialLoop = argc == 6;
        TInputOptions input;
        if (!job.Options.OpenInputWithOptions(argv[3], &input)) {
            std::fprintf(stderr, "transcode_runner: %s\n", job.OpenError.c_str());
            return 1;
        }
        TOutputOptions output;
        output.FileName = argv[4];
        ApplyPresetOptions(
            output, TOutputSelection{format->Class, format->Index, std::atoi(argv[2])}, mmPerFile);
        if (job.Options.OpenOutputWithOptions(argv[4], &output) < 0) {
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
