// Option strings and single option values of the transcoder. The first byte picks the road:
// every line set by name, the option string applied with or without the codec keys, or the
// string carried by an output record into the opening of an output. Rejected options must
// end in the worded exception the option model documents; anything else escaping is a fault.
#include "FuzzSupport.h"

#include "engine/FFmpegException.h"
#include "engine/TranscoderOptions.h"

#include <stdexcept>

namespace {

using namespace cw;

// The option model with a file layer that consumes what opening consumes and opens nothing.
class TDryJob : public TTranscoderOptions {
public:
    int Outputs = 0;
    int Inputs = 0;
    bool OpenInput(const std::string&) override {
        FileFormat.clear();
        ConsumeInputOptions();
        ++Inputs;
        return true;
    }
    int OpenOutput(const std::string&, bool) override {
        FileFormat.clear();
        ConsumeVideoStreamOptions();
        ConsumeAudioStreamOptions();
        ConsumeSubtitleStreamOptions();
        ConsumeOutputOptions();
        return ++Outputs;
    }
    void NewOutputStream(AVMediaType type) override {
        if (Outputs == 0)
            throw FFmpegException("no output to add a stream to");
        if (type == AVMEDIA_TYPE_VIDEO)
            ConsumeVideoStreamOptions();
        else if (type == AVMEDIA_TYPE_AUDIO)
            ConsumeAudioStreamOptions();
        else
            ConsumeSubtitleStreamOptions();
    }
    void SetupJoin() override {}
    int InputCount() const override { return Inputs; }
    int OutputCount() const override { return Outputs; }
    std::vector<AVRational> InputVideoFrameRates() const override { return {{25, 1}}; }
};

// "vhook" loads the library a value names; a fuzzer must not load arbitrary files.
bool Harmless(const std::string& text) {
    return text.find("vhook") == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    fuzz::BindLibrariesOnce();
    const uint8_t mode = data[0] % 4;
    const std::string text = fuzz::Text(data + 1, size - 1);
    if (!Harmless(LowerText(text)))
        return 0;
    TDryJob job;
    try {
        switch (mode) {
        case 0:
            for (const std::string& line : SplitOptionLines(text)) {
                std::string key, value;
                SplitOptionLine(line, key, value);
                try {
                    job.SetOption(key, value);
                } catch (const FFmpegException&) {
                } catch (const std::invalid_argument&) {
                }
            }
            break;
        case 1:
        case 2:
            job.ApplyOptionString(text, mode == 2);
            break;
        case 3: {
            TOutputOptions record;
            record.FileName = "out.mp4";
            record.ExtOptions = text;
            TInputOptions input;
            input.ExtOptions = text;
            job.OpenInputWithOptions("in.avi", &input);
            job.OpenOutputWithOptions(record.FileName, &record);
            break;
        }
        }
    } catch (const FFmpegException&) {
    } catch (const std::invalid_argument&) {
    }
    // Whatever was accepted must survive a reset and a second use of the same job.
    job.ResetOptions();
    job.SetOption("ar", "22050");
    return 0;
}
