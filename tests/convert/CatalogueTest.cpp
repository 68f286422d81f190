#include "convert/Catalogue.h"
#include "app/Branding.h"
#include "app/GlobalVars.h"
#include "app/Settings.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

using namespace cw;

namespace {

struct TExpectedFormat {
    const char* Name;
    int Class;
    int Index;
    const char* Extension;
    int Count;
    int Default;
    const char* Key;
    const char* BrandingKey;
};

const TExpectedFormat Expected[] = {
    {"AVI", 0, 0, ".avi", 29, 3, "OutputAVIPreset", "AVI"},
    {"MP4", 0, 1, ".mp4", 22, 3, "OutputMP4Preset", "MP4"},
    {"FLV", 0, 2, ".flv", 5, 1, "OutputFLVPreset", "FLV"},
    {"SWF", 0, 3, ".swf", 5, 1, "OutputSWFPreset", "SWF"},
    {"MPEG", 0, 4, ".mpg", 14, 5, "OutputMPEGPreset", "MPEG"},
    {"RM", 0, 5, ".rm", 5, 1, "OutputRMPreset", "RM"},
    {"WMV", 0, 6, ".wmv", 18, 16, "OutputWMVPreset", "WMV"},
    {"MOV", 0, 7, ".mov", 10, 7, "OutputMOVPreset", "MOV"},
    {"3GP", 0, 8, ".3gp", 5, 2, "Output3GPPreset", "3GP"},
    {"MKV", 0, 9, ".mkv", 5, 1, "OutputMKVPreset", "MKV"},
    {"WebM", 0, 10, ".webm", 4, 0, "OutputWebMPreset", "WEBM"},
    {"iPod", 1, 0, ".mp4", 10, 5, "OutputiPodPreset", "IPOD"},
    {"iPhone", 1, 1, ".mp4", 3, 1, "OutputiPhonePreset", "IPHONE"},
    {"AppleTV", 1, 2, ".mp4", 3, 1, "OutputAppleTVPreset", "APPLETV"},
    {"PSP", 1, 3, ".mp4", 3, 1, "OutputPSPPreset", "PSP"},
    {"BlackBerry", 1, 4, ".mp4", 3, 1, "OutputBlackBerryPreset", "BLACKBERRY"},
    {"MobilePhone", 1, 5, ".mp4", 4, 1, "OutputMobilePhonePreset", "MOBILEPHONE"},
    {"iPad", 1, 6, ".mp4", 3, 0, "OutputiPadPreset", "IPAD"},
    {"Android", 1, 7, ".mp4", 3, 0, "OutputAndroidPreset", "ANDROID"},
    {"WAV", 2, 0, ".wav", 5, 3, "OutputWAVPreset", "WAV"},
    {"MP3", 2, 1, ".mp3", 4, 2, "OutputMP3Preset", "MP3"},
    {"WMA", 2, 2, ".wma", 5, 1, "OutputWMAPreset", "WMA"},
    {"OGG", 2, 3, ".ogg", 5, 3, "OutputOGGPreset", "OGG"},
    {"AAC", 2, 4, ".aac", 5, 3, "OutputAACPreset", "AAC"},
    {"M4A", 2, 5, ".m4a", 2, 0, "OutputM4APreset", "M4A"},
    {"FLAC", 2, 6, ".flac", 9, 5, "OutputFLACPreset", "FLAC"},
    {"MP2", 2, 7, ".mp2", 3, 0, "OutputMP2Preset", "MP2"},
    {"Opus", 2, 8, ".opus", 5, 2, "OutputOpusPreset", "OPUS"},
};

std::string Text(const char* format, int preset) {
    const TOutputFormat* f = FindFormatByName(format);
    return f ? std::string(f->PresetText(preset)) : "<no format>";
}

} // namespace

TEST(Catalogue, FormatsCountsDefaultsAndExtensions) {
    int total = 0;
    for (const auto& e : Expected) {
        SCOPED_TRACE(e.Name);
        const TOutputFormat* f = FindFormat(e.Class, e.Index);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->Name, e.Name);
        EXPECT_EQ(f->Extension, e.Extension);
        EXPECT_EQ(f->PresetCount(), e.Count);
        EXPECT_EQ(f->DefaultPreset, e.Default);
        EXPECT_EQ(f->PresetKeyName(), e.Key);
        EXPECT_EQ(f->BrandingKey(), e.BrandingKey);
        total += f->PresetCount();
    }
    EXPECT_EQ(total, 197);
    EXPECT_EQ(OutputClasses().size(), 3u);
    EXPECT_EQ(OutputClasses()[0].Formats.size() + OutputClasses()[1].Formats.size() +
                  OutputClasses()[2].Formats.size(),
              std::size(Expected));
    EXPECT_EQ(FindFormat(0, 11), nullptr);
    EXPECT_EQ(FindFormat(2, 9), nullptr);
    EXPECT_EQ(FindFormat(1, 8), nullptr);
    EXPECT_EQ(FindFormat(3, 0), nullptr);
    EXPECT_EQ(FindFormat(-1, 0), nullptr);
}

TEST(Catalogue, PresetKeysAreDistinctFields) {
    // Each format writes its own state field.
    TGlobalVars vars;
    int n = 100;
    for (const auto& c : OutputClasses())
        for (const auto& f : c.Formats)
            vars.*f.PresetKey = n++;
    std::set<int> seen;
    for (const auto& c : OutputClasses())
        for (const auto& f : c.Formats)
            seen.insert(StoredPreset(vars, f));
    EXPECT_EQ(seen.size(), 28u);
}

TEST(Catalogue, PresetTextsAsPrinted) {
    EXPECT_EQ(Text("AVI", 3),
              "Video: MPEG4 (DivX, XviD), 1500 kbps, Original; Audio: MP3, 192 kbps");
    EXPECT_EQ(Text("AVI", 21), "Nindendo Wii Clip");
    EXPECT_EQ(Text("AVI", 22),
              "SanDisk Sansa View - Hight Quality - (MPEG4, 640x480; MP3, 128kbps)");
    EXPECT_EQ(Text("AVI", 28), "Video: Uncompressed, Original; Audio: PCM");
    EXPECT_EQ(Text("MP4", 3), "Apple iPhone/iTouch - (H.264,640x420)");
    EXPECT_EQ(Text("RM", 3), "RM - Low Quality  - (256 kbps, Original)");
    EXPECT_EQ(Text("RM", 4), "RM - Least Quality  - (128 kbps, Original)");
    EXPECT_EQ(Text("WMV", 16), "Windows Media Video 9 Standard Quality");
    EXPECT_EQ(Text("iPod", 1),
              "iPod Touch High Quality (H264, 30 fps, 480x320, 2500 kbps; AAC - 160 kbps) ");
    EXPECT_EQ(Text("iPod", 3),
              "iPod Touch Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps) ");
    EXPECT_EQ(Text("iPod", 5),
              "iPod Classic Standard Quality (H264, 24 fps, 320x240, 1000 kbps; AAC - 128 kbps)");
    EXPECT_EQ(Text("WAV", 2), "FM Radio Quality - PCM: 22050 Hz, Sterro, 24 bits");
    EXPECT_EQ(Text("WAV", 3), "HiFi Quality - PCM: 48000Hz, Stereo, 32 bits");
    EXPECT_EQ(Text("WMA", 4), "WMA Losslesss Audio");
    EXPECT_EQ(Text("FLAC", 5), "Compression Level 5 (Default)");
    EXPECT_EQ(Text("MP2", 2), "FM Quality - MPEG layer-2: 22050 Hz, Stereo, 128 kbps");
    // Only iPod 1 and 3 end in a blank; no text starts with one.
    int trailing = 0;
    for (const auto& e : AllPresets()) {
        trailing += e.Text.back() == ' ';
        EXPECT_NE(e.Text.front(), ' ');
    }
    EXPECT_EQ(trailing, 2);
    EXPECT_EQ(Text("AVI", 29), "");
    EXPECT_EQ(Text("MP4", 22), "");
    EXPECT_EQ(Text("AVI", -1), "");
}

TEST(Catalogue, TodaysPresetsAreAppendedWithTheirTexts) {
    const std::pair<const char*, std::vector<const char*>> lists[] = {
        {"MKV",
         {"MKV - Copy Streams - (no re-encoding; every stream, chapters and tags kept)",
          "MKV - High Quality - (H.264, CRF 20, Original; AAC, 192 kbps)",
          "MKV - HEVC High Quality - (H.265, CRF 24, Original; Opus, 160 kbps)",
          "MKV - HEVC 10-bit HDR - (H.265 Main 10, CRF 24, Original, HDR kept; Opus, 192 kbps)",
          "MKV - AV1 - (AV1, CRF 32, Original; Opus, 128 kbps)"}},
        {"WebM",
         {"WebM - VP9 High Quality - (VP9, CRF 31, Original; Opus, 160 kbps)",
          "WebM - VP9 720p - (VP9, CRF 33, 1280x720; Opus, 128 kbps)",
          "WebM - AV1 High Quality - (AV1, CRF 30, Original; Opus, 160 kbps)",
          "WebM - AV1 Small - (AV1, CRF 38, 854x480; Opus, 96 kbps)"}},
        {"Opus",
         {"Opus - Best Quality - (192 kbps, 48000 Hz, Stereo)",
          "Opus - High Quality - (160 kbps, 48000 Hz, Stereo)",
          "Opus - Normal Quality - (128 kbps, 48000 Hz, Stereo)",
          "Opus - Low Quality - (96 kbps, 48000 Hz, Stereo)",
          "Opus - Speech - (48 kbps, 48000 Hz, Mono)"}},
    };
    for (const auto& [format, texts] : lists) {
        SCOPED_TRACE(format);
        ASSERT_EQ(FindFormatByName(format)->PresetCount(), int(texts.size()));
        for (size_t i = 0; i < texts.size(); ++i)
            EXPECT_EQ(Text(format, int(i)), texts[i]);
    }
    // MP4 keeps its 19 presets in their places and gains three after them.
    EXPECT_EQ(Text("MP4", 18),
              "SanDisk Sansa View - Normal Quality - (MPEG4, 320x240; MPEG2/4 Audio, 96kbps)");
    EXPECT_EQ(Text("MP4", 19), "MP4 - Copy Streams - (no re-encoding)");
    EXPECT_EQ(Text("MP4", 20), "MP4 - HEVC - (H.265, CRF 24, Original; AAC, 160 kbps)");
    EXPECT_EQ(Text("MP4", 21), "MP4 - AV1 - (AV1, CRF 32, Original; AAC, 160 kbps)");
}

TEST(Catalogue, NameLookupIgnoresCase) {
    EXPECT_EQ(FindFormatByName("AVI"), FindFormat(ocVideo, 0));
    EXPECT_EQ(FindFormatByName("mp4"), FindFormat(ocVideo, 1));
    EXPECT_EQ(FindFormatByName("mpeg"), FindFormat(ocVideo, 4));
    EXPECT_EQ(FindFormatByName("3gp"), FindFormat(ocVideo, 8));
    EXPECT_EQ(FindFormatByName("iPod"), FindFormat(ocDevice, 0));
    EXPECT_EQ(FindFormatByName("IPOD"), FindFormat(ocDevice, 0));
    EXPECT_EQ(FindFormatByName("mobilephone"), FindFormat(ocDevice, 5));
    EXPECT_EQ(FindFormatByName("wav"), FindFormat(ocAudio, 0));
    EXPECT_EQ(FindFormatByName("Flac"), FindFormat(ocAudio, 6));
    EXPECT_EQ(FindFormatByName("mkv"), FindFormat(ocVideo, 9));
    EXPECT_EQ(FindFormatByName("WEBM"), FindFormat(ocVideo, 10));
    EXPECT_EQ(FindFormatByName("opus"), FindFormat(ocAudio, 8));
    EXPECT_EQ(FindFormatByName("webm2"), nullptr);
    EXPECT_EQ(FindFormatByName(""), nullptr);
    EXPECT_EQ(FindFormatByName("AVI "), nullptr);
    EXPECT_EQ(FindFormatByName(ocAudio, "avi"), nullptr);
    EXPECT_EQ(FindFormatByName(ocAudio, "mp3"), FindFormat(ocAudio, 1));
    EXPECT_EQ(FindFormatByName(7, "mp3"), nullptr);

    EXPECT_EQ(FindClassByName("video"), FindClass(ocVideo));
    EXPECT_EQ(FindClassByName("DEVICE"), FindClass(ocDevice));
    EXPECT_EQ(FindClassByName("Audio"), FindClass(ocAudio));
    EXPECT_EQ(FindClassByName("film"), nullptr);

    // The branding file's format keys name the same formats in the same places.
    for (const auto& c : OutputClasses()) {
        ASSERT_EQ(FormatKeys(c.Index).size(), c.Formats.size());
        for (const auto& f : c.Formats)
            EXPECT_EQ(FindFormatByName(FormatKeys(c.Index)[size_t(f.Index)]), &f);
    }
}

TEST(CatalogueSelection, FirstEntryShowsBrandingAndPresetDefaults) {
    TGlobalVars vars;
    TBrandingConfig brand; // every default 0
    ApplyBrandingToGlobals(brand, vars);
    ApplyDefaultPresets(vars);
    vars.OutputFileDir = "/out/";

    const TOutputPageState page = ShowOutputSelection(vars);
    EXPECT_EQ(page.FolderText, "/out/");
    EXPECT_EQ(page.ShownClass, ocVideo);
    EXPECT_EQ(page.ShownFormat[ocVideo], 0);
    EXPECT_EQ(page.ShownFormat[ocDevice], 0);
    EXPECT_EQ(page.ShownFormat[ocAudio], 0);
    EXPECT_EQ(page.Preset(*FindFormatByName("AVI")), 3);
    EXPECT_EQ(page.Preset(*FindFormatByName("iPod")), 5);
    EXPECT_EQ(page.Preset(*FindFormatByName("WAV")), 3);
    EXPECT_EQ(page.Preset(*FindFormatByName("WMV")), 16);
    EXPECT_EQ(OutputExtension(vars), ".avi");
}

TEST(CatalogueSelection, FormatOfAnotherClassDoesNotChangeTheExtension) {
    TGlobalVars vars;
    SelectClass(vars, ocVideo);
    SelectFormat(vars, *FindFormatByName("MPEG"));
    SelectFormat(vars, *FindFormatByName("MP3"));
    EXPECT_EQ(vars.OutputFormatClass, ocVideo);
    EXPECT_EQ(OutputExtension(vars), ".mpg");
    SelectClass(vars, ocAudio);
    EXPECT_EQ(OutputExtension(vars), ".mp3");
    SelectClass(vars, ocDevice);
    for (const auto& f : OutputClasses()[ocDevice].Formats) {
        SelectFormat(vars, f);
        EXPECT_EQ(OutputExtension(vars), ".mp4") << f.Name;
    }
    // Each class kept its own format.
    EXPECT_EQ(SelectedFormat(vars, ocVideo)->Name, "MPEG");
    EXPECT_EQ(SelectedFormat(vars, ocAudio)->Name, "MP3");
    SelectClass(vars, 5); // no such button: nothing changes
    EXPECT_EQ(vars.OutputFormatClass, ocDevice);
}

TEST(CatalogueSelection, NumbersOutsideTheCatalogueSelectNothing) {
    TGlobalVars vars;
    ApplyDefaultPresets(vars);
    vars.OutputFormatClass = 7; // from an edited settings file
    vars.OutputAudioFormat = 9;
    vars.OutputVideoFormat = 200;
    vars.OutputAVIPreset = 29;
    vars.OutputMP3Preset = -5;
    EXPECT_EQ(ActiveFormat(vars), nullptr);
    EXPECT_EQ(OutputExtension(vars), "");
    EXPECT_EQ(SelectedFormatIndex(vars, 7), -1);

    TOutputPageState page = ShowOutputSelection(vars);
    EXPECT_EQ(page.ShownClass, -1);
    EXPECT_EQ(page.ShownFormat[ocVideo], -1);
    EXPECT_EQ(page.ShownFormat[ocAudio], -1);
    EXPECT_EQ(page.ShownFormat[ocDevice], 0);
    EXPECT_EQ(page.Preset(*FindFormatByName("AVI")), -1);
    EXPECT_EQ(page.Preset(*FindFormatByName("MP3")), -1);

    vars.OutputFormatClass = ocVideo;
    EXPECT_EQ(OutputExtension(vars), ""); // stored video format 200 is unknown

    // Leaving forward stores -1 for lists without a current entry and the page's choices
    // for the others; the folder gets its separator.
    page.FolderText = "/videos";
    page.Preset(*FindFormatByName("FLAC")) = 8;
    TakeOutputSelection(page, vars);
    EXPECT_EQ(vars.OutputFileDir, "/videos/");
    EXPECT_EQ(vars.OutputAVIPreset, -1);
    EXPECT_EQ(vars.OutputMP3Preset, -1);
    EXPECT_EQ(vars.OutputFLACPreset, 8);
    EXPECT_EQ(vars.OutputWMVPreset, 16);
}

TEST(CatalogueSelection, PageEditsCountOnlyWhenTaken) {
    TGlobalVars vars;
    ApplyDefaultPresets(vars);
    TOutputPageState page = ShowOutputSelection(vars);
    page.Preset(*FindFormatByName("AVI")) = 10;
    // Going back drops the page; entering again shows the stored value.
    EXPECT_EQ(ShowOutputSelection(vars).Preset(*FindFormatByName("AVI")), 3);
    TakeOutputSelection(page, vars);
    EXPECT_EQ(ShowOutputSelection(vars).Preset(*FindFormatByName("AVI")), 10);
}

TEST(CatalogueAvailability, BrandingFlagsHideFormatsAndClasses) {
    TBrandingConfig brand;
    for (int c = 0; c < OutputClassCount; ++c)
        brand.Formats[size_t(c)].assign(OutputClasses()[size_t(c)].Formats.size(), true);
    EXPECT_TRUE(ClassButtonsShown(brand));

    brand.Formats[ocVideo][1] = false; // no MP4 button
    EXPECT_FALSE(FormatOffered(brand, *FindFormatByName("MP4")));
    EXPECT_TRUE(FormatOffered(brand, *FindFormatByName("FLV")));
    EXPECT_EQ(FindFormatByName("FLV")->Index, 2); // indices stay

    brand.Formats[ocDevice].assign(8, false);
    EXPECT_FALSE(ClassOffered(brand, ocDevice));
    EXPECT_TRUE(ClassButtonsShown(brand)); // video and audio are left

    brand.Formats[ocVideo].assign(11, false);
    EXPECT_TRUE(ClassOffered(brand, ocAudio));
    EXPECT_FALSE(ClassButtonsShown(brand)); // one class left: no class buttons
    EXPECT_FALSE(ClassOffered(brand, 3));

    TBrandingConfig empty; // no flags read at all
    EXPECT_FALSE(FormatOffered(empty, *FindFormatByName("AVI")));
    EXPECT_FALSE(ClassButtonsShown(empty));
}

TEST(CatalogueAvailability, StoredChoicesTheEditionDoesNotOfferGiveWay) {
    // Edition: which formats are offered, per class; "" offers none of the class.
    struct TCase {
        const char* Name;
        std::array<const char*, OutputClassCount> Offered; // '1' per offered format
        std::array<int, 4> Stored;                         // class, video, device, audio
        std::array<int, 4> Shown;
    };
    const TCase cases[] = {
        {"offered choices stay",
         {"11111111111", "11111111", "111111111"},
         {0, 4, 2, 1},
         {0, 4, 2, 1}},
        {"hidden format gives way to the first offered",
         {"00111111111", "00011111", "111111111"},
         {1, 0, 1, 5},
         {1, 2, 3, 5}},
        {"class without formats gives way to the first class that has some",
         {"", "", "00001"},
         {0, 3, 3, 0},
         {2, 3, 3, 4}},
        {"class without formats keeps its stored format",
         {"", "1", ""},
         {2, 7, 0, 6},
         {1, 7, 0, 6}},
        {"numbers outside the catalogue stay", {"1", "1", "1"}, {9, 200, 0, 77}, {9, 200, 0, 77}},
    };
    for (const TCase& tc : cases) {
        SCOPED_TRACE(tc.Name);
        TBrandingConfig brand;
        for (int c = 0; c < OutputClassCount; ++c) {
            brand.Formats[size_t(c)].assign(OutputClasses()[size_t(c)].Formats.size(), false);
            for (size_t f = 0; tc.Offered[size_t(c)][f]; ++f)
                brand.Formats[size_t(c)][f] = tc.Offered[size_t(c)][f] == '1';
        }
        TGlobalVars vars;
        vars.OutputFormatClass = uint8_t(tc.Stored[0]);
        vars.OutputVideoFormat = uint8_t(tc.Stored[1]);
        vars.OutputDeviceFormat = uint8_t(tc.Stored[2]);
        vars.OutputAudioFormat = uint8_t(tc.Stored[3]);
        FitSelectionToEdition(brand, vars);
        EXPECT_EQ(vars.OutputFormatClass, tc.Shown[0]);
        EXPECT_EQ(vars.OutputVideoFormat, tc.Shown[1]);
        EXPECT_EQ(vars.OutputDeviceFormat, tc.Shown[2]);
        EXPECT_EQ(vars.OutputAudioFormat, tc.Shown[3]);
    }
}

TEST(Catalogue, ListingCoversEveryPresetInOrder) {
    const auto all = AllPresets();
    ASSERT_EQ(all.size(), 197u);
    EXPECT_EQ(all.front().ClassName, "Video");
    EXPECT_EQ(all.front().FormatName, "AVI");
    EXPECT_EQ(all.front().Index, 0);
    EXPECT_EQ(all.back().ClassName, "Audio");
    EXPECT_EQ(all.back().FormatName, "Opus");
    EXPECT_EQ(all.back().Index, 4);
    for (size_t i = 1; i < all.size(); ++i) {
        const bool sameFormat = all[i].FormatName == all[i - 1].FormatName;
        EXPECT_EQ(all[i].Index, sameFormat ? all[i - 1].Index + 1 : 0);
    }
}
