// Writes the starting corpus of every fuzz target into the folder given as the argument:
// <folder>/<target>/<name>. Media seeds are the test fixtures, written small; the option
// seeds are the option strings of every catalogue preset; the others are a few texts of the
// forms the service and the files use. Each seed starts with the byte that picks its road.
#include "FuzzSupport.h"

#include "app/Branding.h"
#include "app/GlobalVars.h"
#include "app/Settings.h"
#include "convert/Catalogue.h"
#include "convert/PresetMapping.h"
#include "tests/fixtures/MediaFixtures.h"

#include <cstdio>
#include <fstream>

namespace fs = std::filesystem;
using namespace cw;

namespace {

fs::path Root;

void Seed(const std::string& target, const std::string& name, uint8_t road,
          const std::string& body) {
    fs::create_directories(Root / target);
    std::ofstream out(Root / target / name, std::ios::binary | std::ios::trunc);
    out.put(char(road));
    out << body;
}

std::string FileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void OptionSeeds() {
    int n = 0;
    for (const TPresetEntry& entry : AllPresets()) {
        const TOutputFormat* format = FindFormatByName(entry.FormatName);
        if (!format)
            continue;
        TOutputOptions options;
        ApplyPresetOptions(options, {format->Class, format->Index, entry.Index}, mmPerFile);
        if (options.ExtOptions.empty())
            continue;
        Seed("options", "preset-" + std::to_string(n), uint8_t(n % 4), options.ExtOptions);
        ++n;
    }
    const char* const lines[] = {
        "map=0.1:0.0\nmap_meta_data=0,s0:0,s1\nmap_chapters=0:0",
        "itsscale=0:1.5\nstreamid=0:33\nss=00:00:01.5\nt=10\ntimestamp=now",
        "intra_matrix=8,16,19,22,26,27,29,34,16,16,22,24,27,29,34,37,19,22,26,27,29,34,34,38,"
        "22,22,26,27,29,34,37,40,22,26,27,29,32,35,40,48,26,27,29,32,35,40,48,58,26,27,29,34,"
        "38,46,56,69,27,29,35,38,46,56,69,83",
        "target=pal-dvd<CRLF>aspect=16:9<CRLF>vtag=XVID<CRLF>atag=0x55",
        "metadata=title=Clip\nforce_key_frames=0,1.5,3\npix_fmt=yuv420p\nsample_fmt=s16",
        "vcodec=libx264\nvpre=medium\ncoder=1\nflags=+loop\ncmp=+chroma\nme_range=16",
        "newvideo\nnewaudio\nnewsubtitle\ns=320x240\nr=30000/1001\nvbsf=h264_mp4toannexb",
    };
    for (const char* line : lines) {
        Seed("options", "lines-" + std::to_string(n), uint8_t(n % 4), line);
        ++n;
    }
}

void IniSeeds(const fs::path& branding) {
    // The settings file a first start writes.
    const fs::path dir = fuzz::ScratchDir();
    TGlobalVars vars;
    vars.DataDir = dir.string() + "/";
    SetDefaultUserSettings(vars, vars.DataDir);
    SaveSettings(vars);
    SavePlacement("Form", {10, 20, 640, 480, false}, vars);
    SavePlacement("FormLog", {-5, 900, 300, 200, true}, vars);
    const std::string settings = FileText(SettingsFilePath(vars));
    Seed("ini", "settings", 1, settings);
    Seed("ini", "document", 0, settings);
    Seed("ini", "branding", 2, FileText(branding));
    // Numbers at the ends of their ranges where the program indexes or adds with them.
    Seed("ini", "extremes", 1,
         "[System]\r\nOutputFormatClass=255\r\nOutputVideoFormat=-1\r\nOutputAVIPreset="
         "2147483647\r\nPreferYouTube1=200\r\nPreferYouTubeQuality=0x80000000\r\n[Form]\r\n"
         "x=2147483647\r\ny=-2147483648\r\nwidth=-2147483648\r\nheight=$7FFFFFFF\r\n");
}

void DownloadSeeds() {
    Seed("streams", "list", 0,
         "<22>[http://r1.example.test/videoplayback?id=1&signature=x]<br>"
         "<18>[http://r3.example.test/videoplayback?id=1&signature=z]<br><5>[]");
    Seed("streams", "answer", 1,
         "status=ok&url_encoded_fmt_stream_map=itag%3D22%26url%3Dhttp%253A%252F%252Fr1.example"
         ".test%252Fvideoplayback%253Fid%253D1%26sig%3Dx%26type%3Dvideo%252Fmp4%2Citag%3D43%26"
         "url%3Dhttp%253A%252F%252Fr2.example.test%26sig%3Dy&title=Clip&length_seconds=12");
    Seed("streams", "failed", 1, "status=fail&errorcode=150&reason=Not+available");
    const std::string page =
        "<html><head><meta name=\"title\" content=\"Caf&eacute; &amp; Cr&#232;me &#10;\">"
        "<link rel=\"canonical\" href=\"http://www.youtube.com/watch?v=abc123XYZ_-\">"
        "</head><body>&lt;b&gt;&#0;&#x41;&nbsp;&quot;</body></html>";
    Seed("pages", "page", 0, page);
    Seed("pages", "local", 1,
         "<meta name=\"title\" content=\"Local\"> 127.0.0.1:8080/watch?v=id1\"");
}

void HttpSeeds() {
    Seed("http", "rfc1123", 0, "Sun, 06 Nov 1994 08:49:37 GMT");
    Seed("http", "rfc850", 0, "Sunday, 06-Nov-94 08:49:37 GMT");
    Seed("http", "asctime", 0, "Sun Nov  6 08:49:37 1994 +0130");
    Seed("http", "url", 1, "https://user:p%40ss@[::1]:8443/a%20b/c?x=1&y=%zz#frag");
    Seed("http", "progress", 2, std::string("\x10\x00\x00\x00\x00\x00\x00\x00\x08", 9));
}

void MediaSeeds() {
    std::string error;
    if (!test::BindFixtureLibraries(&error)) {
        std::fprintf(stderr, "cannot bind the media libraries: %s\n", error.c_str());
        std::exit(1);
    }
    test::TFixtureParams params;
    params.Seconds = 1;
    params.Width = 64;
    params.Height = 48;
    params.FrameRateNum = 5;
    params.GopSize = 2;
    for (test::TFixtureKind kind : test::AllFixtureKinds()) {
        const std::string extension = test::FixtureExtension(kind);
        uint8_t road = uint8_t(fuzz::ProbeExtensionCount - 1);
        for (size_t i = 0; i < fuzz::ProbeExtensionCount; ++i)
            if (extension == fuzz::ProbeExtensions[i])
                road = uint8_t(i);
        const fs::path file = fuzz::ScratchDir() / (std::string("seed") + extension);
        test::WriteFixture(kind, file.string(), params);
        Seed("probe", test::FixtureName(kind), road, FileText(file));
        fs::remove(file);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s CORPUS-FOLDER BRANDING-INI\n", argv[0]);
        return 2;
    }
    Root = argv[1];
    OptionSeeds();
    IniSeeds(argv[2]);
    DownloadSeeds();
    HttpSeeds();
    MediaSeeds();
    return 0;
}
