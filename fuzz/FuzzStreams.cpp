// The stream list the stream-link script echoes, and the script itself run over a random
// video-info answer. Whatever the answer holds, it reaches the script as the contents of one
// string literal, so the script must neither fail to parse nor raise: it echoes at least one
// line, and each line either fills the slots or is refused with the documented exception.
#include "FuzzSupport.h"

#include "download/StreamLinks.h"
#include "script/Script.h"

#include <QCoreApplication>

#include <cstdlib>
#include <stdexcept>

namespace {

using namespace cw;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
    std::abort();
}

void ParseList(const std::string& text) {
    TStreamURLs urls;
    try {
        ParseStreamList(text, urls);
    } catch (const std::invalid_argument&) {
    }
}

void RunScript(const std::string& answer) {
    TJavaScript script;
    auto host = std::make_shared<THostScriptlet>();
    std::vector<std::string> echoes;
    std::vector<TScriptError> errors;
    host->OnEcho = [&](THostScriptlet&, const std::string& text) { echoes.push_back(text); };
    script.AddItem(host);
    script.OnError = [&](TCustomScript&, const TScriptError& error) { errors.push_back(error); };
    script.Lines = StreamScriptLines(answer);
    script.Run();
    if (!errors.empty())
        Fail("the stream-link script failed on line " + std::to_string(errors[0].Line + 1) + ": " +
             errors[0].Description);
    if (echoes.empty())
        Fail("the stream-link script echoed nothing");
    for (const std::string& echo : echoes)
        ParseList(echo);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const std::string text = fuzz::Text(data + 1, size - 1);
    if (data[0] & 1)
        RunScript(text);
    else
        ParseList(text);
    return 0;
}
