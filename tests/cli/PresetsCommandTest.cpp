// Runs the real clipwright-cli and checks the listing it prints against the lines a user
// must see, written out here: class, format, index and text, tab-separated.
#include "tests/support/CommandRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

using TRun = cw::test::TCommandRun;

TRun RunCli(const std::string& args) {
    return cw::test::RunCommand(std::string(CW_CLI) + " " + args + " 2>/dev/null");
}

// Every line of the listing, in order. The texts stand as they are: odd spellings, the double
// blanks of RM 3 and 4 and the trailing blank of iPod 1 and 3 included. New presets are new
// lines after the last one of their format.
// clang-format off
const char* const ExpectedListing[] = {
    "Video\tAVI\t0\tHD Video 720p: MPEG4 (DivX, XviD), 4500 kbps; Audio: MP3, 192 kbps",
    "Video\tAVI\t1\tHD Video 1080p: H.264/AVC, 4200 kbps; Audio: MP3, 256 kbps",
    "Video\tAVI\t2\tVideo: MPEG4 (DivX, XviD), 2500 kbps, Original; Audio: MP3, 256 kbps",
    "Video\tAVI\t3\tVideo: MPEG4 (DivX, XviD), 1500 kbps, Original; Audio: MP3, 192 kbps",
    "Video\tAVI\t4\tVideo: MPEG4 (DivX, XviD), 768 kbps, Original; Audio: MP3, 96 kbps",
    "Video\tAVI\t5\tVideo: MPEG4 (DivX, XviD), 2500 kbps, 720x540; Audio: MP3, 256 kbps",
    "Video\tAVI\t6\tVideo: MPEG4 (DivX, XviD), 1500 kbps, 512x384; Audio: MP3, 192 kbps",
    "Video\tAVI\t7\tVideo: MPEG4 (DivX, XviD), 768 kbps, 320x240; Audio: MP3, 96 kbps",
    "Video\tAVI\t8\tVideo: H.264/AVC, 1200 kbps; Audio: MP3, 192 kbps",
    "Video\tAVI\t9\tVideo: H.264/AVC, 768 kbps; Audio: MP3, 96 kbps",
    "Video\tAVI\t10\tBlackBerry 81xx - (MPEG4, 560 kbps, 320x240)",
    "Video\tAVI\t11\tBlackBerry 8xxx - (MPEG4, 420 kbps, 240x180)",
    "Video\tAVI\t12\tArchos AV500/700; 4-series (704,604,504,404) - (MPEG4, 1800 kbps, Original)",
    "Video\tAVI\t13\tArchos AV500/700; 4-series (704,604,504,404) - (MPEG4, 900 kbps, 480x272)",
    "Video\tAVI\t14\tCreative Zen Vision W - (MPEG4, 1800 kbps, 720x480)",
    "Video\tAVI\t15\tCreative Zen Vision - (MPEG4, 1200 kbps, 640x480)",
    "Video\tAVI\t16\tCreative Zen Vision M - (MPEG4, 720 kbps, 320x240)",
    "Video\tAVI\t17\tEpson P3000/P4500/P5000 - (MPEG4, 2 mbps, 720x480, 30 fps)",
    "Video\tAVI\t18\tiRiver U20(Clix) - (MPEG4, 320 kbps, 320x240, 15 fps)",
    "Video\tAVI\t19\tiRiver U10 Clix - (MPEG4, 560 kbps, 320x240, 15 fps)",
    "Video\tAVI\t20\tiAudio X5 - Optimized for hardware - (MPEG4, 600 kbps, 160x120, 15 fps)",
    "Video\tAVI\t21\tNindendo Wii Clip",
    "Video\tAVI\t22\tSanDisk Sansa View - Hight Quality - (MPEG4, 640x480; MP3, 128kbps)",
    "Video\tAVI\t23\tSanDisk Sansa View - Normal Quality - (MPEG4, 320x240; MP3, 96kbps)",
    "Video\tAVI\t24\tVideo for Google Video",
    "Video\tAVI\t25\tVideo for YouTube",
    "Video\tAVI\t26\tVideo for Myspace",
    "Video\tAVI\t27\tVideo: DivX; Audio: MP3, 192 kbps",
    "Video\tAVI\t28\tVideo: Uncompressed, Original; Audio: PCM",
    "Video\tMP4\t0\tApple iPod - (H.264, 320x240)",
    "Video\tMP4\t1\tApple iPod - (H.264, 640x480)",
    "Video\tMP4\t2\tApple iPod - (MPEG4, 320x240)",
    "Video\tMP4\t3\tApple iPhone/iTouch - (H.264,640x420)",
    "Video\tMP4\t4\tMicrosoft XBox360 - Normal HD Quality 480p - (H.264, 29.97 fps, 848x480)",
    "Video\tMP4\t5\tSony PS3 - Normal HD Quality 480p - (H.264, 29.97 fps, 848x480)",
    "Video\tMP4\t6\tSony PS3 - Normal HD Quality 480p, Surround - (H.264, 29.97 fps, 848x480)",
    "Video\tMP4\t7\tSony PSP - Normal - (H.264, 29.97 fps, 368x208)",
    "Video\tMP4\t8\tSony PSP - High Resolution - (H264, 29.97 fps, 480x272)",
    "Video\tMP4\t9\tEpson P2000/P4000 - High Quality - (MPEG4, 640x480)",
    "Video\tMP4\t10\tEpson P2000/P4000 - Economy Quality - (MPEG4, 320x240)",
    "Video\tMP4\t11\tEpson P3000/P4500/P5000 - Best Quality - (MPEG4, 720x480)",
    "Video\tMP4\t12\tMobile - Standard Quality - (MPEG4, 176x144, 15 fps)",
    "Video\tMP4\t13\tMobile - Economy Quality - (MPEG4, 128x96, 12 fps)",
    "Video\tMP4\t14\tPC - High Quality - (MPEG4, 2500 kbps, Original Size, 25 fps)",
    "Video\tMP4\t15\tPC - Standard Quality - (MPEG4, 1200 kbps, Original Size, 25 fps)",
    "Video\tMP4\t16\tPC - Economy Quality - (MPEG4, 700 kbps, Original Size, 25 fps)",
    "Video\tMP4\t17\tSanDisk Sansa View - Hight Quality - (MPEG4, 640x480; MPEG2/4 Audio, 128kbps)",
    "Video\tMP4\t18\tSanDisk Sansa View - Normal Quality - (MPEG4, 320x240; MPEG2/4 Audio, 96kbps)",
    "Video\tMP4\t19\tMP4 - Copy Streams - (no re-encoding)",
    "Video\tMP4\t20\tMP4 - HEVC - (H.265, CRF 24, Original; AAC, 160 kbps)",
    "Video\tMP4\t21\tMP4 - AV1 - (AV1, CRF 32, Original; AAC, 160 kbps)",
    "Video\tFLV\t0\tFLV - Best Quality - (H.264, 1200 kbps, Original; MP3, 160 kbps)",
    "Video\tFLV\t1\tFLV - Normal Quality - (H.264, 920 kbps, Original size, 20 fps; MP3, 112 kbps)",
    "Video\tFLV\t2\tFLV - Optimal Quality - (H.263, 780 kbps, 352x288, 15 fps; MP3, 64 kbps)",
    "Video\tFLV\t3\tFLV - Low Quality - (H.263, 640 kbps, 320x240, 15 fps; MP3, 48 kbps)",
    "Video\tFLV\t4\tFLV - Least Quality - (H.263, 480 kbps, 176x144, 15 fps; MP3, 24 kbps)",
    "Video\tSWF\t0\tSWF - Best Quality - (H.263, Original; MP3, 160 kbps)",
    "Video\tSWF\t1\tSWF - Normal Quality - (H.263, 920 kbps, Original size, 20 fps; MP3, 112 kbps)",
    "Video\tSWF\t2\tSWF - Optimal Quality - (H.263, 780 kbps, 352x288, 15 fps; MP3, 64 kbps)",
    "Video\tSWF\t3\tSWF - Low Quality - (H.263, 640 kbps, 320x240, 15 fps; MP3, 48 kbps)",
    "Video\tSWF\t4\tSWF - Least Quality - (H.263, 480 kbps, 176x144, 15 fps; MP3, 24 kbps)",
    "Video\tMPEG\t0\tHD Video 1080p - (MPEG2, 15000 kbps, 1920x1080, 29.97 fps)",
    "Video\tMPEG\t1\tHD Video 720p - (MPEG2, 9000 kbps, 1280x720, 29.97 fps)",
    "Video\tMPEG\t2\tDVD NTSC compatible - (MPEG2, 4000 kbps, 720x480, 29.97 fps)",
    "Video\tMPEG\t3\tDVD PAL compatible - (MPEG2, 4000 kbps, 720x576, 25 fps)",
    "Video\tMPEG\t4\tVideo: MPEG1, 4000 kbps, Original size, 29.97 fps; Audio: 224 kbps",
    "Video\tMPEG\t5\tVideo: MPEG2, 4000 kbps, Original size, 29.97 fps; Audio: 224 kbps",
    "Video\tMPEG\t6\tCreative ZEN Vision W - Best Quality - (MPEG1, 1150 kbps, 720x480, 29.97 fps)",
    "Video\tMPEG\t7\tCreative ZEN Vision - Standard Quality - (MPEG1, 860 kbps, 480x360, 29.97 fps)",
    "Video\tMPEG\t8\tCreative ZEN Vision M - Normal Quality - (MPEG1, 780 kbps, 320x240, 29.97 fps)",
    "Video\tMPEG\t9\tEpson P3000/P4500/P5000 - (MPEG2, 2000 kbps, 720x480, 30 fps)",
    "Video\tMPEG\t10\tSVCD NTSC compatible - (MPEG2, 2376 kbps, 480x480, 29.97 fps)",
    "Video\tMPEG\t11\tSVCD PAL compatible - (MPEG2, 2376 kbps, 480x576, 25 fps)",
    "Video\tMPEG\t12\tVCD NTSC compatible - (MPEG1, 1150 kbps, 352x240, 29.97 fps)",
    "Video\tMPEG\t13\tVCD PAL compatible - (MPEG1, 1150 kbps, 352x288, 25 fps)",
    "Video\tRM\t0\tRM - Best Quality - (1024 kbps, Original)",
    "Video\tRM\t1\tRM - Normal Quality - (750 kbps, Original)",
    "Video\tRM\t2\tRM - Optimal Quality - (512 kbps, Original)",
    "Video\tRM\t3\tRM - Low Quality  - (256 kbps, Original)",
    "Video\tRM\t4\tRM - Least Quality  - (128 kbps, Original)",
    "Video\tWMV\t0\tHD Video 1080p: WMV 9, 9000 kbps; Audio: WMA Pro, 384kbps",
    "Video\tWMV\t1\tHD Video 720p: WMV 9, 7000 kbps; Audio: WMA Pro, 384kbps",
    "Video\tWMV\t2\tMicrosoft Zune - Best Quality - (1112 kbps, 320x240, 25 fps)",
    "Video\tWMV\t3\tMicrosoft Zune - Normal Quality - (568 kbps, 320x240, 25 fps)",
    "Video\tWMV\t4\tVideo for Pocket PCs/PDAs",
    "Video\tWMV\t5\tArchos AV500/700; 4-series (704,604,504,404) - Highest Available Quality",
    "Video\tWMV\t6\tArchos AV500/700; 4-series (704,604,504,404) - Good Quality",
    "Video\tWMV\t7\tArchos AV500/700; 4-series (704,604,504,404) - Low Quality",
    "Video\tWMV\t8\tCreative ZEN Vision W - Highest Available Quality",
    "Video\tWMV\t9\tCreative ZEN Vision - Good Quality",
    "Video\tWMV\t10\tCreative ZEN Vision M - Normal Quality",
    "Video\tWMV\t11\tEpson Multimedia Storage Viewer P3000/P5000",
    "Video\tWMV\t12\tSanDisk Sansa View",
    "Video\tWMV\t13\tPalm Treo series",
    "Video\tWMV\t14\tHP iPaq series",
    "Video\tWMV\t15\tWindows Media Video 9 High Quality",
    "Video\tWMV\t16\tWindows Media Video 9 Standard Quality",
    "Video\tWMV\t17\tWindows Media Video 9 Low Quality",
    "Video\tMOV\t0\tApple TV - Best Quality - (H.264, Original; MP2/4 (AAC), 320 kbps)",
    "Video\tMOV\t1\tQuick Time - HD Quality 480p - (H.264, 848x480; MP2/4 (AAC), 320 kbps)",
    "Video\tMOV\t2\tQuick Time - DVD Quality - (H.264, 720x576; MP2/4 (AAC), 320 kbps)",
    "Video\tMOV\t3\tQuick Time - Photo Quality - (Photo Jpeg, Original; MP3, 256 kbps)",
    "Video\tMOV\t4\tQuick Time - Optimal Quality - (H.263, 352x288; MP3, 128 kbps)",
    "Video\tMOV\t5\tQuick Time - Highest Available Quality - (MPEG4, Original; MP3, 192 kbps)",
    "Video\tMOV\t6\tQuick Time - Standard Quality - (H.263, 176x144; MP3, 128 kbps)",
    "Video\tMOV\t7\tQuick Time - Balanced Quality - (MPEG4, Original; MP3, 96 kbps)",
    "Video\tMOV\t8\tQuick Time - Economy Quality - (Sorenson Video; MP3, 96 kbps)",
    "Video\tMOV\t9\tQuick Time - Economy Quality - (Sorenson Video; IMA ADPCM)",
    "Video\t3GP\t0\t3GPP - Extended Mobile Support - (H.263, 240 kbps, 176x144, 12 fps; AMR)",
    "Video\t3GP\t1\t3GPP - Mobile Highest Available Quality - (MPEG4, 104 kbps, 176x144, 15 fps; AAC)",
    "Video\t3GP\t2\t3GPP - Mobile Standard Quality - (MPEG4, 64 kbps, 176x144, 12 fps; AMR)",
    "Video\t3GP\t3\t3GPP - Mobile Balanced Quality - (H.263, 140 kbps, 128x96, 10 fps; AMR)",
    "Video\t3GP\t4\t3GPP - Mobile Smallest Size with Audio - (MPEG4, 44 kbps, 128x96, 10 fps; AMR)",
    "Video\tMKV\t0\tMKV - Copy Streams - (no re-encoding; every stream, chapters and tags kept)",
    "Video\tMKV\t1\tMKV - High Quality - (H.264, CRF 20, Original; AAC, 192 kbps)",
    "Video\tMKV\t2\tMKV - HEVC High Quality - (H.265, CRF 24, Original; Opus, 160 kbps)",
    "Video\tMKV\t3\tMKV - HEVC 10-bit HDR - (H.265 Main 10, CRF 24, Original, HDR kept; Opus, 192 kbps)",
    "Video\tMKV\t4\tMKV - AV1 - (AV1, CRF 32, Original; Opus, 128 kbps)",
    "Video\tWebM\t0\tWebM - VP9 High Quality - (VP9, CRF 31, Original; Opus, 160 kbps)",
    "Video\tWebM\t1\tWebM - VP9 720p - (VP9, CRF 33, 1280x720; Opus, 128 kbps)",
    "Video\tWebM\t2\tWebM - AV1 High Quality - (AV1, CRF 30, Original; Opus, 160 kbps)",
    "Video\tWebM\t3\tWebM - AV1 Small - (AV1, CRF 38, 854x480; Opus, 96 kbps)",
    "Device\tiPod\t0\tiPod Highest Quality (H264, 30 fps, 640x480, 2500 kbps; AAC - 160 kbps)",
    "Device\tiPod\t1\tiPod Touch High Quality (H264, 30 fps, 480x320, 2500 kbps; AAC - 160 kbps) ",
    "Device\tiPod\t2\tiPod Touch Standard Quality (H264, 24 fps, 480x320, 1300 kbps; AAC - 128 kbps)",
    "Device\tiPod\t3\tiPod Touch Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps) ",
    "Device\tiPod\t4\tiPod Classic High Quality (H264, 30 fps, 320x240, 2500 kbps; AAC - 160 kbps)",
    "Device\tiPod\t5\tiPod Classic Standard Quality (H264, 24 fps, 320x240, 1000 kbps; AAC - 128 kbps)",
    "Device\tiPod\t6\tiPod Classic Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps)",
    "Device\tiPod\t7\tiPod Nano High Quality (H264, 30 fps, 320x240, 2500 kbps; AAC - 160 kbps)",
    "Device\tiPod\t8\tiPod Nano Standard Quality (H264, 24 fps, 320x240, 1000 kbps; AAC - 128 kbps)",
    "Device\tiPod\t9\tiPod Nano Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps)",
    "Device\tiPhone\t0\tiPhone High Quality (H264, 30 fps, 640x480, 2500 kbps; AAC - 160 kbps)",
    "Device\tiPhone\t1\tiPhone Standard Quality (H264, 24 fps, 480x320, 1300 kbps; AAC - 128 kbps)",
    "Device\tiPhone\t2\tiPhone Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps)",
    "Device\tAppleTV\t0\tAppleTV High Quality (H264, 24 fps, 1280x720, 5000 kbps; AAC - 160 kbps)",
    "Device\tAppleTV\t1\tAppleTV Standard Quality (H264, 24 fps, 720x540, 2000 kbps; AAC - 128 kbps)",
    "Device\tAppleTV\t2\tAppleTV Economy Quality (H264, 24 fps, 480x360, 1000 kbps; AAC - 128 kbps)",
    "Device\tPSP\t0\tPSP Highest Quality (H264, 30 fps, 480x272, 1500 kbps; AAC - 160 kbps)",
    "Device\tPSP\t1\tPSP Optimal Quality (H264, 24 fps, 368x208, 1000 kbps; AAC - 128 kbps)",
    "Device\tPSP\t2\tPSP Economy Quality (H264, 15 fps, 368x208, 500 kbps; AAC - 128 kbps)",
    "Device\tBlackBerry\t0\tBlackBerry High Quality (H264, 30 fps, 640x480, 2500 kbps; AAC - 160 kbps)",
    "Device\tBlackBerry\t1\tBlackBerry Standard Quality (H264, 24 fps, 480x320, 1300 kbps; AAC - 128 kbps)",
    "Device\tBlackBerry\t2\tBlackBerry Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps)",
    "Device\tMobilePhone\t0\tMobile MP4 High Quality (MPEG4, 15 fps, 320x240, 600 kbps; AAC - 192 kbps)",
    "Device\tMobilePhone\t1\tMobile MP4 Standard Quality (MPEG4, 15 fps, 176x144, 256 kbps; AAC - 128 kbps)",
    "Device\tMobilePhone\t2\tMobile MP4 Balanced Quality (MPEG4, 12 fps, 176x144, 146 kbps; AAC - 96 kbps)",
    "Device\tMobilePhone\t3\tMobile MP4 Economy Quality (MPEG4, 10 fps, 128x96, 119 kbps; AAC - 64 kbps)",
    "Device\tiPad\t0\tiPad High Quality (H264, 30 fps, 640x480, 2500 kbps; AAC - 160 kbps)",
    "Device\tiPad\t1\tiPad Standard Quality (H264, 24 fps, 480x320, 1300 kbps; AAC - 128 kbps)",
    "Device\tiPad\t2\tiPad Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps)",
    "Device\tAndroid\t0\tAndroid High Quality (H264, 30 fps, 640x480, 2500 kbps; AAC - 160 kbps)",
    "Device\tAndroid\t1\tAndroid Standard Quality (H264, 24 fps, 480x320, 1300 kbps; AAC - 128 kbps)",
    "Device\tAndroid\t2\tAndroid Economy Quality (H264, 15 fps, 320x240, 500 kbps; AAC - 128 kbps)",
    "Audio\tWAV\t0\tFor Mobiles - PCM: 11025 Hz, Mono, 16 bits",
    "Audio\tWAV\t1\tAM Radio Quality - PCM: 22050 Hz, Mono, 16 bits",
    "Audio\tWAV\t2\tFM Radio Quality - PCM: 22050 Hz, Sterro, 24 bits",
    "Audio\tWAV\t3\tHiFi Quality - PCM: 48000Hz, Stereo, 32 bits",
    "Audio\tWAV\t4\tUncompressed (CD Audio Quality)",
    "Audio\tMP3\t0\tFor Mobile - MP3: 44100 Hz, Stereo, 112 kbps",
    "Audio\tMP3\t1\tFor Media Player - MP3: 48000 Hz, Stereo, 128 kbps",
    "Audio\tMP3\t2\tNormal Quality - MP3: 48000 Hz, Stereo, 256 kbps",
    "Audio\tMP3\t3\tBest Quality - MP3: 48000 Hz, Stereo, 320 kbps",
    "Audio\tWMA\t0\tFor Media Player Best Quality",
    "Audio\tWMA\t1\tFor Media Player Economy Quality",
    "Audio\tWMA\t2\tFor Pocket PCs/PDAs Normal Quality",
    "Audio\tWMA\t3\tFor PC Normal Quality",
    "Audio\tWMA\t4\tWMA Losslesss Audio",
    "Audio\tOGG\t0\tTelephone Quality - Ogg Vorbis: Quality - 4.97; 11025 Hz, Mono",
    "Audio\tOGG\t1\tAM Radio Quality - Ogg Vorbis: Quality - 4.97; 22050 Hz, Mono",
    "Audio\tOGG\t2\tFM Radio Quality - Ogg Vorbis: Quality - 4.97; 22050 Hz, Stereo",
    "Audio\tOGG\t3\tCD Quality - Ogg Vorbis: Quality - 4.97; 44100 Hz, Stereo",
    "Audio\tOGG\t4\tHiFi Quality - Ogg Vorbis: Quality - 8.05; 48000 Hz, Stereo",
    "Audio\tAAC\t0\tFor Mobiles - MPEG2/4 LC: 16000 Hz, Mono, 96 kbps",
    "Audio\tAAC\t1\tAM Quality - MPEG2/4 LC: 22500 Hz, Mono, 112 kbps",
    "Audio\tAAC\t2\tFM Quality - MPEG2/4 LC: 22500 Hz, Stereo, 224 kbps",
    "Audio\tAAC\t3\tCD Quality - MPEG2/4 LC: 44100 Hz, Stereo, 256 kbps",
    "Audio\tAAC\t4\tHiFi Quality - MPEG2/4 LC: 48000 Hz, Stereo, 256 kbps",
    "Audio\tM4A\t0\tNormal Quality - MPEG2/4 LC: 44100 Hz, Stereo, 96 kbps",
    "Audio\tM4A\t1\tBest Quality - MPEG2/4 LC: 48000 Hz, Stereo, 256 kbps",
    "Audio\tFLAC\t0\tCompression Level 0",
    "Audio\tFLAC\t1\tCompression Level 1",
    "Audio\tFLAC\t2\tCompression Level 2",
    "Audio\tFLAC\t3\tCompression Level 3",
    "Audio\tFLAC\t4\tCompression Level 4",
    "Audio\tFLAC\t5\tCompression Level 5 (Default)",
    "Audio\tFLAC\t6\tCompression Level 6",
    "Audio\tFLAC\t7\tCompression Level 7",
    "Audio\tFLAC\t8\tCompression Level 8",
    "Audio\tMP2\t0\tFor Mobiles - MPEG layer-2: 22050 Hz, Mono, 96 kbps",
    "Audio\tMP2\t1\tAM Quality - MPEG layer-2: 22050 Hz, Mono, 112 kbps",
    "Audio\tMP2\t2\tFM Quality - MPEG layer-2: 22050 Hz, Stereo, 128 kbps",
    "Audio\tOpus\t0\tOpus - Best Quality - (192 kbps, 48000 Hz, Stereo)",
    "Audio\tOpus\t1\tOpus - High Quality - (160 kbps, 48000 Hz, Stereo)",
    "Audio\tOpus\t2\tOpus - Normal Quality - (128 kbps, 48000 Hz, Stereo)",
    "Audio\tOpus\t3\tOpus - Low Quality - (96 kbps, 48000 Hz, Stereo)",
    "Audio\tOpus\t4\tOpus - Speech - (48 kbps, 48000 Hz, Mono)",
};
// clang-format on

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start) + " <- no line break at the end");
    return lines;
}

} // namespace

TEST(PresetsCommand, ListsEveryPresetTabSeparated) {
    const TRun run = RunCli("presets");
    ASSERT_EQ(run.ExitCode, 0);
    const std::vector<std::string> lines = Lines(run.Out);
    const size_t expected = std::size(ExpectedListing);
    EXPECT_EQ(lines.size(), expected);
    for (size_t i = 0; i < std::max(lines.size(), expected); ++i)
        EXPECT_EQ(i < lines.size() ? lines[i] : "(missing)",
                  i < expected ? ExpectedListing[i] : "(not expected)")
            << "line " << i + 1;
}

TEST(PresetsCommand, HelpAndBadArguments) {
    const TRun help = RunCli("presets --help");
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_NE(help.Out.find("usage: clipwright-cli presets"), std::string::npos);
    const TRun bad = RunCli("presets AVI");
    EXPECT_EQ(bad.ExitCode, 2);
    EXPECT_EQ(bad.Out, "");
}
