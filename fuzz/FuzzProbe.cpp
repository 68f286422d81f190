// Probing mutated media files as the input list does: open, read the facts, seek to the
// middle, decode one picture, convert it to a bitmap, close. The first byte picks the file
// name extension (the libraries take it as a hint); the rest is the file. The seeds are the
// generated fixtures (scripts/fuzz.sh writes them).
#include "FuzzSupport.h"

#include "convert/InputList.h"
#include "engine/FFDecoder.h"

#include <cstdlib>
#include <fstream>

namespace {

using namespace cw;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    fuzz::BindLibrariesOnce();
    const std::string path = fuzz::ScratchDir().string() + "/input" +
                             fuzz::ProbeExtensions[data[0] % fuzz::ProbeExtensionCount];
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + 1), std::streamsize(size - 1));

    static TFFDecoder decoder;
    const TProbeResult result = ProbeInputFile(decoder, path);
    if (!result.Opened) {
        if (result.Error.empty())
            Fail("a file that cannot be opened without a reason");
    } else if (result.HasThumbnail) {
        const TBitmap& b = result.Thumbnail;
        if (b.Width() <= 0 || b.Height() <= 0)
            Fail("a thumbnail without pixels");
    }
    if (decoder.Context())
        Fail("probing left the file open");
    std::remove(path.c_str());
    return 0;
}
