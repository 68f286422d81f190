// A stand-in libavcodec for the binding tests. It exports every libavcodec entry point of the
// engine's list as an empty function, except the one the build renames away (see
// CMakeLists.txt), so binding it must fail on exactly that entry point.
#define CW_FAKE_libAVCodec(name)                                                                   \
    extern "C" void name() {}
#define CW_FAKE_libSwResample(name)
#define CW_FAKE_libAVDevice(name)
#define CW_FAKE_libAVFilter(name)
#define CW_FAKE_libAVFormat(name)
#define CW_FAKE_libAVUtil(name)
#define CW_FAKE_libSwScale(name)
#define CW_FF_FUNCTION(library, name) CW_FAKE_##library(name)
#include "engine/FFEntryPoints.inc"
