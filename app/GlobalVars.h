// The one process-wide state record of the application: branding values, folders, output
// selection and presets, post-run options, run counters, download queue state, quality
// preference, stream addresses and downloaded files. Owned by the main thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace cw {

struct TGlobalVars {
    std::string Version;
    std::string Copyright;
    bool Download = false;
    bool Merge = false;
    int Skin = 0;
    std::string ResFolder;
    std::string HelpContectLink;
    std::string HelpHowTosTutorialVideosLink;
    std::string HelpHomePageLink;
    std::string HelpMoreFreeToolsLink;
    std::string HelpCheckForUpdatesLink;
    std::string HelpSupportLink;
    std::string DataDir;
    std::string LastOpenDir;
    std::vector<std::string> ErrorList;
    std::vector<std::string> FailedList;
    int TotalFiles = 0;
    int SucceededFiles = 0;
    std::string OutputFileDir;
    std::string OutputURLDir;
    uint8_t OutputFormatClass = 0;
    uint8_t OutputAudioFormat = 0;
    uint8_t OutputVideoFormat = 0;
    uint8_t OutputDeviceFormat = 0;
    int OutputWAVPreset = 0;
    int OutputMP3Preset = 0;
    int OutputWMAPreset = 0;
    int OutputOGGPreset = 0;
    int OutputM4APreset = 0;
    int OutputAACPreset = 0;
    int OutputFLACPreset = 0;
    int OutputMP2Preset = 0;
    int OutputOpusPreset = 0;
    int OutputAVIPreset = 0;
    int OutputMP4Preset = 0;
    int OutputFLVPreset = 0;
    int OutputSWFPreset = 0;
    int OutputMPEGPreset = 0;
    int OutputRMPreset = 0;
    int OutputWMVPreset = 0;
    int OutputMOVPreset = 0;
    int Output3GPPreset = 0;
    int OutputMKVPreset = 0;
    int OutputWebMPreset = 0;
    int OutputiPodPreset = 0;
    int OutputiPhonePreset = 0;
    int OutputAppleTVPreset = 0;
    int OutputPSPPreset = 0;
    int OutputBlackBerryPreset = 0;
    int OutputMobilePhonePreset = 0;
    int OutputiPadPreset = 0;
    int OutputAndroidPreset = 0;
    double ConvertStartTime = 0; // local time in days
    int64_t DoneDuration = 0;    // microseconds
    int64_t AllFilesDuration = 0;
    bool PlayASoundWhenFinished = false;
    bool ShutDownWhenFinished = false;
    int URLIndex = 0;
    int URLTotal = 0;
    int URLSucceeded = 0;
    std::vector<std::string> DownloadedFiles;
    int QualityAttempt = 0;
    bool PreferYouTubeQuality = false;
    uint8_t PreferYouTube1 = 0;
    uint8_t PreferYouTube2 = 0;
    uint8_t PreferYouTube3 = 0;
    uint8_t PreferYouTube4 = 0;
    uint8_t PreferYouTube5 = 0;
    uint8_t PreferYouTube6 = 0;
    uint8_t PreferYouTube7 = 0;
    uint8_t PreferYouTube18 = 0;
    // The stream resolver: "auto" (empty), "builtin" or "external", and the external
    // resolver's program (empty: yt-dlp looked up on PATH).
    std::string Resolver;
    std::string ResolverProgram;
    std::array<std::string, 9> StreamURLs;
};

// The application's instance.
TGlobalVars& GlobalVars();

} // namespace cw
