// Binding the media libraries: from the system, from a folder of links, from a folder whose
// libavcodec lacks an entry point, from an empty folder. Every test starts and ends with
// nothing loaded, so each sees the dynamic linker's real choice.
#include "EngineTestSupport.h"

#include "engine/CodecLock.h"
#include "engine/FFLogger.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>

using namespace cw;
using cw::test::LoadedObjectsNamed;
using cw::test::TTempDir;

namespace {

const TLibraryId AllIds[] = {libAVCodec,  libSwResample, libAVDevice, libAVFilter,
                             libAVFormat, libAVUtil,     libSwScale};

// The version function of each library, as bound, and the major version it must report.
struct TVersionCheck {
    TLibraryId Id;
    unsigned (*Version)();
    int Major;
};
std::vector<TVersionCheck> VersionChecks() {
    return {{libAVCodec, ff::avcodec_version, 59},   {libSwResample, ff::swresample_version, 4},
            {libAVDevice, ff::avdevice_version, 59}, {libAVFilter, ff::avfilter_version, 8},
            {libAVFormat, ff::avformat_version, 59}, {libAVUtil, ff::avutil_version, 57},
            {libSwScale, ff::swscale_version, 6}};
}

std::string ObjectOf(const void* address) {
    Dl_info info{};
    return ::dladdr(address, &info) && info.dli_fname ? info.dli_fname : "";
}

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        FFLoader().UnloadLibs(AllLibraries);
        for (TLibraryId id : AllIds)
            ASSERT_TRUE(LoadedObjectsNamed(FFLoader().LibFileName(id)).empty())
                << FFLoader().LibFileName(id) << " is still loaded before the test";
    }
    void TearDown() override {
        FFLoader().UnloadLibs(AllLibraries);
        FFLoader().SetLibraryPath("");
    }

    // A folder holding links to the system's copies of the libraries.
    void LinkSystemLibraries(const TTempDir& dir, bool withAVCodec = true) {
        for (TLibraryId id : AllIds) {
            std::string name = FFLoader().LibFileName(id);
            if (id == libAVCodec && !withAVCodec)
                continue;
            std::string target = test::SystemLibraryPath(name);
            ASSERT_FALSE(target.empty()) << name;
            std::filesystem::create_symlink(target, dir.Path + name);
        }
    }
};

TEST_F(LoaderTest, BindsEveryLibraryFromTheSystemAndUnbindsIt) {
    ASSERT_TRUE(FFLoader().LoadLibs(AllLibraries)) << FFLoader().LastErrorMessage();
    EXPECT_TRUE(FFLoader().LibsLoaded(AllLibraries));
    for (const auto& check : VersionChecks()) {
        ASSERT_NE(check.Version, nullptr) << FFLoader().LibFileName(check.Id);
        EXPECT_EQ(int(check.Version() >> 16), check.Major) << FFLoader().LibFileName(check.Id);
        EXPECT_EQ(FFLoader().LoadedFrom(check.Id), FFLoader().LibFileName(check.Id));
    }

    FFLoader().UnloadLib(libAVFormat);
    EXPECT_FALSE(FFLoader().LibLoaded(libAVFormat));
    EXPECT_FALSE(FFLoader().LibsLoaded(EncoderLibraries));
    EXPECT_EQ(ff::avformat_open_input, nullptr);
    EXPECT_NE(ff::avcodec_open2, nullptr);

    FFLoader().UnloadLibs(AllLibraries);
    for (const auto& check : VersionChecks())
        EXPECT_EQ(check.Version, nullptr);
    for (TLibraryId id : AllIds)
        EXPECT_TRUE(LoadedObjectsNamed(FFLoader().LibFileName(id)).empty())
            << FFLoader().LibFileName(id) << " stayed in memory";
    EXPECT_THROW(FFLoader().LoadLibs(TLibraryIds{}), std::logic_error);
}

TEST_F(LoaderTest, BindsFromAFolderOfLinksAndTakesDependenciesFromIt) {
    TTempDir dir;
    LinkSystemLibraries(dir);
    FFLoader().SetLibraryPath(dir.Path.substr(0, dir.Path.size() - 1)); // without the trailing '/'
    ASSERT_TRUE(FFLoader().LoadLibs(AllLibraries)) << FFLoader().LastErrorMessage();

    for (const auto& check : VersionChecks()) {
        std::string file = dir.Folder() + FFLoader().LibFileName(check.Id);
        EXPECT_EQ(FFLoader().LoadedFrom(check.Id), file);
        EXPECT_EQ(ObjectOf(reinterpret_cast<const void*>(check.Version)), file);
        // One copy only: the libraries that need it (libavcodec needs libavutil, ...) use the
        // folder's copy rather than the system's.
        EXPECT_EQ(LoadedObjectsNamed(FFLoader().LibFileName(check.Id)),
                  std::vector<std::string>{file});
    }
}

TEST_F(LoaderTest, MissingEntryPointFailsNamingItAndLeavesTheSetUnloaded) {
    TTempDir bad;
    LinkSystemLibraries(bad, false);
    std::string fake = bad.Folder() + "libavcodec.so.59";
    std::filesystem::copy_file(CW_FAKE_AVCODEC, fake);
    FFLoader().SetLibraryPath(bad.Folder());

    EXPECT_FALSE(FFLoader().LoadLibs(EncoderLibraries));
    const std::string prefix =
        std::string("Load function ") + CW_FAKE_MISSING_ENTRY + "@libavcodec.so.59 error: ";
    const std::string& message = FFLoader().LastErrorMessage();
    EXPECT_EQ(message.substr(0, prefix.size()), prefix) << message;
    EXPECT_NE(message.find(std::string("undefined symbol: ") + CW_FAKE_MISSING_ENTRY),
              std::string::npos)
        << message;
    for (TLibraryId id : AllIds)
        EXPECT_FALSE(FFLoader().LibLoaded(id));
    // Entry points resolved before the missing one were emptied again with the module gone.
    EXPECT_EQ(ff::avcodec_version, nullptr);
    EXPECT_TRUE(LoadedObjectsNamed("libavcodec.so.59").empty());

    TTempDir good;
    LinkSystemLibraries(good);
    FFLoader().SetLibraryPath(good.Folder());
    ASSERT_TRUE(FFLoader().LoadLibs(EncoderLibraries)) << FFLoader().LastErrorMessage();
    EXPECT_EQ(ObjectOf(reinterpret_cast<const void*>(ff::avcodec_version)),
              good.Folder() + "libavcodec.so.59");
    EXPECT_EQ(message.substr(0, prefix.size()), prefix) << "success changed the last error";
}

TEST_F(LoaderTest, UnreadableLibraryFileIsReportedWithFolderAndName) {
    TTempDir dir;
    { std::ofstream(dir.Path + "libavcodec.so.59") << "not a library"; }
    FFLoader().SetLibraryPath(dir.Folder());
    EXPECT_FALSE(FFLoader().LoadLibs(EncoderLibraries));
    const std::string prefix = "Load library " + dir.Folder() + "libavcodec.so.59 error: ";
    EXPECT_EQ(FFLoader().LastErrorMessage().substr(0, prefix.size()), prefix)
        << FFLoader().LastErrorMessage();
    EXPECT_GT(FFLoader().LastErrorMessage().size(), prefix.size());
}

TEST_F(LoaderTest, FolderWithoutLibrariesFallsBackToTheSystemSearch) {
    TTempDir empty;
    FFLoader().SetLibraryPath(empty.Folder());
    ASSERT_TRUE(FFLoader().LoadLibs(EncoderLibraries)) << FFLoader().LastErrorMessage();
    EXPECT_FALSE(FFLoader().LibLoaded(libAVDevice));
    EXPECT_EQ(FFLoader().LoadedFrom(libAVFormat), "libavformat.so.59");
    std::string holder = ObjectOf(reinterpret_cast<const void*>(ff::avformat_version));
    EXPECT_FALSE(holder.empty());
    EXPECT_EQ(holder.find(empty.Folder()), std::string::npos) << holder;
}

TEST_F(LoaderTest, LogLevelReachesTheLibrariesOnlyOnceBound) {
    TFFLogger logger;
    int before = TFFLogger::LibraryLevel();
    TLogLevel wanted = LogLevelFromLibrary(before) == llError ? llWarning : llError;
    logger.SetLogLevel(wanted);
    EXPECT_EQ(TFFLogger::LibraryLevel(), before) << "changed with nothing bound";

    ASSERT_TRUE(FFLoader().LoadLibs(EncoderLibraries)) << FFLoader().LastErrorMessage();
    EXPECT_EQ(ff::av_log_get_level(), LogLevelToLibrary(wanted));
    logger.SetLogLevel(llError);
    EXPECT_EQ(ff::av_log_get_level(), 16);
    EXPECT_EQ(TFFLogger::LibraryLevel(), 16);
}

TEST_F(LoaderTest, BindingMakesTheCodecLockOnceAndUnbindingRemovesIt) {
    TFFLogger logger;
    logger.TriggerEventInMainThread = false;
    logger.SetLogLevel(llDebug);
    std::mutex lock;
    std::vector<std::string> lines;
    logger.OnLog = [&](TFFLogger*, uint32_t, TLogLevel, const std::string& text) {
        std::lock_guard guard(lock);
        if (text.find("codec mutex") != std::string::npos)
            lines.push_back(text);
    };

    ASSERT_TRUE(FFLoader().LoadLib(libAVCodec)) << FFLoader().LastErrorMessage();
    ASSERT_EQ(lines.size(), 1u);
    int first = 0;
    ASSERT_EQ(std::sscanf(lines[0].c_str(), "create codec mutex [%d].", &first), 1) << lines[0];
    {
        TCodecLock codecLock;
        EXPECT_TRUE(codecLock.Locked());
    }

    // Already bound: nothing is bound or registered again, so a thread holding the codec
    // lock keeps every other thread out.
    lines.clear();
    ASSERT_TRUE(FFLoader().LoadLib(libAVCodec));
    ASSERT_TRUE(FFLoader().LoadLibs(EncoderLibraries));
    EXPECT_EQ(lines, std::vector<std::string>{});

    lines.clear();
    FFLoader().UnloadLib(libAVCodec);
    EXPECT_EQ(lines,
              std::vector<std::string>{"destory codec mutex [" + std::to_string(first) + "]."});
    lines.clear();
    {
        TCodecLock codecLock;
        EXPECT_FALSE(codecLock.Locked());
    }
    EXPECT_EQ(lines, std::vector<std::string>{"error, codec mutex not available."});
}

} // namespace
