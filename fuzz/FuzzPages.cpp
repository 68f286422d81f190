// Watch pages: the title and the info address read from a random page, the entity decoding
// of the title, and the name a download is saved under. The first byte picks the service's
// domain (the branding file's, not the page's); the rest is the page.
#include "FuzzSupport.h"

#include "app/Utils.h"
#include "download/DownloadQueue.h"
#include "download/Utf8.h"
#include "download/VideoLinks.h"

#include <QCoreApplication>

#include <cstdlib>

namespace {

using namespace cw;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

bool ValidUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const size_t len = Utf8SequenceLength(text, i);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    static const char* const Domains[] = {DefaultVideoSiteDomain, "127.0.0.1:8080",
                                          "video.example.test"};
    const std::string domain = Domains[data[0] % 3];
    const std::string page = fuzz::Text(data + 1, size - 1);

    const std::string title = ExtractVideoTitle(page);
    if (title.find('<') != std::string::npos || title.size() > page.size())
        Fail("the title reaches beyond its tag");
    const std::string decoded = DecodeHtmlEntities(page);
    if (decoded.size() > page.size())
        Fail("decoding entities made the text longer");
    const std::string caption = TitleAsUtf8(DecodeHtmlEntities(title));
    if (!ValidUtf8(caption))
        Fail("the caption is not valid UTF-8");
    const std::string name = TDownloadQueue::DownloadFileName(caption, ".mp4");
    for (char c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20)
            Fail("the file name of a download holds a separator or a control character");
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".mp4") != 0)
        Fail("the file name of a download lost its extension");

    const std::string url = MakeVideoInfoURL(page, domain);
    const std::string prefix = "http://" + domain + "/get_video_info?video_id=";
    if (url.compare(0, prefix.size(), prefix) != 0)
        Fail("the info address does not start with the service's request");
    if (url.find('"', prefix.size()) != std::string::npos)
        Fail("the video id holds a quote");
    return 0;
}
