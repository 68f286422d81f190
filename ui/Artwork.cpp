#include "ui/Artwork.h"

#include <QImage>

namespace cw {

QPixmap LoadPicture(const std::string& path) {
    QImage image(QString::fromStdString(path));
    if (image.isNull())
        return QPixmap();
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".bmp") == 0) {
        image = image.convertToFormat(QImage::Format_ARGB32);
        const QRgb key = qRgb((TransparentColor >> 16) & 0xFF, (TransparentColor >> 8) & 0xFF,
                              TransparentColor & 0xFF);
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                if ((line[x] & 0xFFFFFF) == (key & 0xFFFFFF))
                    line[x] = 0;
        }
    }
    return QPixmap::fromImage(image);
}

TArtwork LoadArtwork(const std::string& resFolder) {
    TArtwork art;
    auto load = [&](QPixmap& target, const std::string& name) {
        target = LoadPicture(resFolder + name);
        if (target.isNull())
            art.Missing.push_back(resFolder + name);
    };
    load(art.TopLogo, "toplogo.png");
    load(art.LeftLogo, "leftlogo.png");
    load(art.DownloadVideo, "downloadyoutube.png");
    load(art.ConvertVideo, "youtubeconvert.png");
    load(art.Frame, "main.bmp");
    for (int i = 0; i < 3; ++i) {
        load(art.Min[i], "min_" + std::to_string(i + 1) + ".bmp");
        load(art.Close[i], "close_" + std::to_string(i + 1) + ".bmp");
    }
    for (int i = 0; i < 4; ++i)
        load(art.Bottom[i], "bottom_" + std::to_string(i + 1) + ".bmp");
    load(art.AudioIcon, "audio.png");
    return art;
}

} // namespace cw
