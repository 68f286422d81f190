// The pictures of the skinned window, loaded from the edition's artwork folder.
#pragma once

#include <QPixmap>

#include <array>
#include <string>
#include <vector>

namespace cw {

struct TArtwork {
    QPixmap TopLogo;                  // toplogo.png
    QPixmap LeftLogo;                 // leftlogo.png
    QPixmap DownloadVideo;            // downloadyoutube.png
    QPixmap ConvertVideo;             // youtubeconvert.png
    QPixmap Frame;                    // main.bmp, magenta marks what lies outside the window
    std::array<QPixmap, 3> Min;       // min_1..3.bmp: normal, mouse over, pressed
    std::array<QPixmap, 3> Close;     // close_1..3.bmp
    std::array<QPixmap, 4> Bottom;    // bottom_1..4.bmp: normal, mouse over, pressed, disabled
    QPixmap AudioIcon;                // audio.png: the thumbnail of files without video
    std::vector<std::string> Missing; // paths of pictures that could not be loaded
};

// The colour that stands for "no pixel" in the .bmp pictures.
constexpr unsigned TransparentColor = 0xFF00FF;

// resFolder ends in the separator. Missing pictures stay null and are listed in Missing.
TArtwork LoadArtwork(const std::string& resFolder);

// Loads one picture; in .bmp pictures the transparent colour becomes transparent.
QPixmap LoadPicture(const std::string& path);

} // namespace cw
