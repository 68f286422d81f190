// Draws the window artwork of an edition from code: logos, mode-page pictures, the window
// frame, the button states, the audio thumbnail and the desktop icon. Every picture is made
// here with QPainter, so changing a colour or a shape means changing this file.
//
//   clipwright-artwork OUTPUT_FOLDER
//
// Writes toplogo.png, leftlogo.png, downloadyoutube.png, youtubeconvert.png, main.bmp,
// min_1..3.bmp, close_1..3.bmp, bottom_1..4.bmp, audio.png and clipwright.png.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

// Window geometry the frame is drawn for (the main window's designed layout).
constexpr int FrameW = 772, FrameH = 547;
constexpr int HeaderH = 34;     // dark band with the top logo and the window buttons
constexpr int TitleBottom = 70; // light strip with the page title
constexpr int BottomTop = 502;  // bar with the command buttons
const QRect PagePanel(201, 72, 557, 430);
constexpr int Corner = 10;

// Palette.
const QColor HeaderTop(0x1f, 0x2b, 0x47);
const QColor HeaderBottom(0x2c, 0x3e, 0x66);
const QColor Accent(0xf2, 0x8c, 0x28);
const QColor Accent2(0xe0, 0x4f, 0x5f);
const QColor Teal(0x1b, 0x8e, 0x9f);
const QColor Body(0xe5, 0xea, 0xf1);
const QColor Strip(0xf4, 0xf6, 0xfa);
const QColor Line(0xc4, 0xce, 0xdb);
const QColor Magenta(0xff, 0x00, 0xff);

QString OutDir;
int Failures = 0;

void Save(const QImage& image, const QString& name) {
    const QString path = OutDir + "/" + name;
    QImage out = image;
    if (name.endsWith(".bmp"))
        out = image.convertToFormat(QImage::Format_RGB888);
    if (!out.save(path)) {
        std::fprintf(stderr, "clipwright-artwork: cannot write %s\n", qPrintable(path));
        ++Failures;
    }
}

QImage Canvas(int w, int h, const QColor& fill = Qt::transparent) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

QFont Font(int pixelSize, bool bold) {
    QFont f("DejaVu Sans");
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

QLinearGradient HeaderGradient(qreal offsetY) {
    QLinearGradient g(0, -offsetY, 0, HeaderH - offsetY);
    g.setColorAt(0, HeaderTop);
    g.setColorAt(1, HeaderBottom);
    return g;
}

// The brand mark: a rounded square with a play triangle cut by a diagonal "clip" line.
void DrawMark(QPainter& p, const QRectF& r) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, Accent);
    g.setColorAt(1, Accent2);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(r, r.width() * 0.24, r.width() * 0.24);
    QPainterPath play;
    const qreal s = r.width();
    play.moveTo(r.left() + s * 0.36, r.top() + s * 0.26);
    play.lineTo(r.left() + s * 0.78, r.top() + s * 0.50);
    play.lineTo(r.left() + s * 0.36, r.top() + s * 0.74);
    play.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(play);
    QPen cut(g, s * 0.07);
    cut.setCapStyle(Qt::RoundCap);
    p.setPen(cut);
    p.drawLine(QPointF(r.left() + s * 0.30, r.top() + s * 0.64),
               QPointF(r.left() + s * 0.70, r.top() + s * 0.40));
    p.restore();
}

void Waveform(QPainter& p, const QRectF& area, int bars, const QColor& color) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    const qreal step = area.width() / bars;
    for (int i = 0; i < bars; ++i) {
        // A fixed, pleasant envelope: louder in the middle, with a little rhythm.
        const qreal t = (i + 0.5) / bars;
        const qreal env = 0.25 + 0.75 * std::sin(t * 3.14159);
        const qreal rhythm = 0.55 + 0.45 * std::abs(std::sin(i * 1.7 + 0.4));
        const qreal h = area.height() * env * rhythm;
        p.drawRoundedRect(
            QRectF(area.left() + i * step + step * 0.2, area.center().y() - h / 2, step * 0.6, h),
            step * 0.3, step * 0.3);
    }
    p.restore();
}

void DrawTopLogo() {
    QImage image = Canvas(320, HeaderH);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    DrawMark(p, QRectF(12, 5, 24, 24));
    p.setPen(Qt::white);
    p.setFont(Font(17, true));
    p.drawText(QRectF(44, 0, 200, HeaderH), Qt::AlignVCenter | Qt::AlignLeft, "Clipwright");
    p.setPen(QColor(255, 255, 255, 150));
    p.setFont(Font(11, false));
    p.drawText(QRectF(150, 1, 170, HeaderH), Qt::AlignVCenter | Qt::AlignLeft,
               "audio \u00b7 video");
    p.end();
    Save(image, "toplogo.png");
}

void DrawLeftLogo() {
    const int w = 187, h = 426;
    QImage image = Canvas(w, h);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, w * 0.4, h);
    g.setColorAt(0, Teal);
    g.setColorAt(1, HeaderBottom);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0, 0, w, h), 8, 8);

    // Soft light in the upper half.
    QRadialGradient glow(QPointF(w * 0.5, h * 0.28), w * 0.8);
    glow.setColorAt(0, QColor(255, 255, 255, 60));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(glow);
    p.drawRoundedRect(QRectF(0, 0, w, h), 8, 8);

    // A film strip running down the left edge.
    p.setBrush(QColor(0, 0, 0, 55));
    p.drawRect(QRectF(10, 0, 22, h));
    p.setBrush(QColor(255, 255, 255, 70));
    for (int y = 8; y < h - 8; y += 18)
        p.drawRoundedRect(QRectF(15, y, 12, 9), 2, 2);

    DrawMark(p, QRectF(w / 2 - 34 + 10, 64, 68, 68));

    p.setPen(Qt::white);
    p.setFont(Font(20, true));
    p.drawText(QRectF(32, 150, w - 32, 30), Qt::AlignCenter, "Clipwright");
    p.setPen(QColor(255, 255, 255, 190));
    p.setFont(Font(11, false));
    p.drawText(QRectF(32, 180, w - 32, 20), Qt::AlignCenter, "media converter");

    Waveform(p, QRectF(46, 236, w - 66, 70), 16, QColor(255, 255, 255, 150));

    // Three small format chips.
    p.setFont(Font(10, true));
    const char* chips[] = {"MP4", "MP3", "AVI"};
    for (int i = 0; i < 3; ++i) {
        const QRectF chip(48 + i * 42, 336, 36, 18);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, i == 0 ? 230 : 120));
        p.drawRoundedRect(chip, 9, 9);
        p.setPen(i == 0 ? HeaderBottom : QColor(255, 255, 255));
        p.drawText(chip, Qt::AlignCenter, chips[i]);
    }
    p.end();
    Save(image, "leftlogo.png");
}

QImage CardBase(int w, int h, const QColor& top, const QColor& bottom) {
    QImage image = Canvas(w, h);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setPen(QPen(QColor(0, 0, 0, 40), 1));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(3.5, 3.5, w - 7, h - 7), 8, 8);
    return image;
}

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& color, qreal width) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, width);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    p.drawLine(from, to);
    const QLineF line(to, from);
    const qreal head = width * 2.6;
    QLineF a = line;
    a.setLength(head);
    a.setAngle(line.angle() + 35);
    QLineF b = line;
    b.setLength(head);
    b.setAngle(line.angle() - 35);
    p.drawLine(a);
    p.drawLine(b);
    p.restore();
}

void Player(QPainter& p, const QRectF& r) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x23, 0x2d, 0x3f));
    p.drawRoundedRect(r, 8, 8);
    // A round play button in the brand colours.
    const QRectF button(r.center().x() - 16, r.center().y() - 20, 32, 32);
    QLinearGradient brand(button.topLeft(), button.bottomRight());
    brand.setColorAt(0, Accent);
    brand.setColorAt(1, Accent2);
    p.setBrush(brand);
    p.drawEllipse(button);
    QPainterPath tri;
    tri.moveTo(button.center() + QPointF(-5, -8));
    tri.lineTo(button.center() + QPointF(9, 0));
    tri.lineTo(button.center() + QPointF(-5, 8));
    tri.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(tri);
    p.setBrush(QColor(255, 255, 255, 60));
    p.drawRoundedRect(QRectF(r.left() + 10, r.bottom() - 12, r.width() - 20, 4), 2, 2);
    p.setBrush(Accent);
    p.drawRoundedRect(QRectF(r.left() + 10, r.bottom() - 12, (r.width() - 20) * 0.4, 4), 2, 2);
    p.restore();
}

void DrawDownloadPicture() {
    const int w = 240, h = 150;
    QImage image = CardBase(w, h, QColor(0xfd, 0xf1, 0xe7), QColor(0xf7, 0xd9, 0xc4));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    Player(p, QRectF(22, 26, 112, 80));
    // Down arrow into a tray.
    Arrow(p, QPointF(180, 32), QPointF(180, 92), Accent, 7);
    QPen tray(QColor(0x23, 0x2d, 0x3f), 6);
    tray.setCapStyle(Qt::RoundCap);
    tray.setJoinStyle(Qt::RoundJoin);
    p.setPen(tray);
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(152, 96);
    path.lineTo(152, 112);
    path.lineTo(208, 112);
    path.lineTo(208, 96);
    p.drawPath(path);
    p.setPen(QColor(0x5a, 0x3a, 0x2a));
    p.setFont(Font(12, true));
    p.drawText(QRectF(0, 118, w, 24), Qt::AlignCenter, "Download");
    p.end();
    Save(image, "downloadyoutube.png");
}

void DrawConvertPicture() {
    const int w = 240, h = 150;
    QImage image = CardBase(w, h, QColor(0xe8, 0xf3, 0xf8), QColor(0xcd, 0xe4, 0xef));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // A film frame.
    const QRectF film(22, 32, 78, 66);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x23, 0x2d, 0x3f));
    p.drawRoundedRect(film, 6, 6);
    p.setBrush(QColor(255, 255, 255, 200));
    for (int i = 0; i < 5; ++i) {
        p.drawRoundedRect(QRectF(film.left() + 6 + i * 14.5, film.top() + 5, 8, 6), 1.5, 1.5);
        p.drawRoundedRect(QRectF(film.left() + 6 + i * 14.5, film.bottom() - 11, 8, 6), 1.5, 1.5);
    }
    QLinearGradient scene(film.topLeft(), film.bottomRight());
    scene.setColorAt(0, Teal);
    scene.setColorAt(1, QColor(0x6c, 0xc4, 0xd1));
    p.setBrush(scene);
    p.drawRect(QRectF(film.left() + 6, film.top() + 15, film.width() - 12, film.height() - 30));

    Arrow(p, QPointF(110, 65), QPointF(146, 65), Accent, 6);

    // A music note over a waveform.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x23, 0x2d, 0x3f));
    p.drawEllipse(QRectF(162, 74, 22, 17));
    p.drawEllipse(QRectF(194, 66, 22, 17));
    p.drawRect(QRectF(179, 30, 5, 52));
    p.drawRect(QRectF(211, 22, 5, 52));
    QPainterPath beam;
    beam.moveTo(179, 30);
    beam.lineTo(216, 22);
    beam.lineTo(216, 32);
    beam.lineTo(179, 40);
    beam.closeSubpath();
    p.drawPath(beam);
    p.setPen(QColor(0x22, 0x4a, 0x5e));
    p.setFont(Font(12, true));
    p.drawText(QRectF(0, 118, w, 24), Qt::AlignCenter, "Convert");
    p.end();
    Save(image, "youtubeconvert.png");
}

void DrawFrame() {
    QImage image = Canvas(FrameW, FrameH, Magenta);
    QPainter p(&image);
    // The window's shape; outside it stays magenta, which the window leaves out.
    QPainterPath shape;
    shape.addRoundedRect(QRectF(0, 0, FrameW, FrameH), Corner, Corner);
    p.setClipPath(shape);
    p.fillRect(image.rect(), Body);
    p.fillRect(QRect(0, 0, FrameW, HeaderH), HeaderGradient(0));
    p.fillRect(QRect(0, HeaderH, FrameW, TitleBottom - HeaderH), Strip);
    p.fillRect(QRect(0, TitleBottom, FrameW, 1), Line);
    // A thin accent under the header.
    QLinearGradient accent(0, 0, FrameW, 0);
    accent.setColorAt(0, Accent);
    accent.setColorAt(1, Accent2);
    p.fillRect(QRect(0, HeaderH, FrameW, 2), accent);

    p.setRenderHint(QPainter::Antialiasing);
    // The page panel.
    p.setPen(QPen(Line, 1));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(PagePanel).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    p.setRenderHint(QPainter::Antialiasing, false);

    // The bottom bar.
    QLinearGradient bar(0, BottomTop, 0, FrameH);
    bar.setColorAt(0, QColor(0xdb, 0xe1, 0xea));
    bar.setColorAt(1, QColor(0xcf, 0xd7, 0xe2));
    p.fillRect(QRect(0, BottomTop + 2, FrameW, FrameH - BottomTop - 2), bar);
    p.fillRect(QRect(0, BottomTop + 2, FrameW, 1), Line);

    // Outline of the window.
    p.setClipping(false);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x1a, 0x24, 0x3a), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(0.5, 0.5, FrameW - 1, FrameH - 1), Corner, Corner);
    p.end();

    // Antialiased edges blend with magenta; make every pixel outside the shape exactly
    // magenta and every pixel inside free of it.
    QImage mask = Canvas(FrameW, FrameH);
    QPainter m(&mask);
    m.setRenderHint(QPainter::Antialiasing, false);
    m.fillPath(shape, Qt::black);
    m.end();
    for (int y = 0; y < FrameH; ++y)
        for (int x = 0; x < FrameW; ++x) {
            if (qAlpha(mask.pixel(x, y)) == 0)
                image.setPixel(x, y, Magenta.rgb());
            else if ((image.pixel(x, y) & 0xFFFFFF) == 0xFF00FF)
                image.setPixel(x, y, qRgb(0x1a, 0x24, 0x3a));
        }
    Save(image, "main.bmp");
}

// Minimise and close: a glyph on the header band, with a lighter or red plate on hover.
void DrawChromeButton(const QString& base, bool close) {
    constexpr int w = 28, h = 24, top = 4;
    for (int state = 0; state < 3; ++state) {
        QImage image = Canvas(w, h);
        QPainter p(&image);
        p.fillRect(image.rect(), HeaderGradient(top));
        p.setRenderHint(QPainter::Antialiasing);
        if (state > 0) {
            QColor plate = close ? QColor(0xd9, 0x3f, 0x3f) : QColor(255, 255, 255, 40);
            if (state == 2)
                plate = close ? QColor(0xb3, 0x2d, 0x2d) : QColor(255, 255, 255, 75);
            p.setPen(Qt::NoPen);
            p.setBrush(plate);
            p.drawRoundedRect(QRectF(1, 1, w - 2, h - 2), 4, 4);
        }
        QPen pen(QColor(255, 255, 255, state == 0 ? 210 : 255), 2);
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        if (close) {
            p.drawLine(QPointF(9.5, 7.5), QPointF(18.5, 16.5));
            p.drawLine(QPointF(18.5, 7.5), QPointF(9.5, 16.5));
        } else {
            p.drawLine(QPointF(9, 15.5), QPointF(19, 15.5));
        }
        p.end();
        Save(image, QString("%1_%2.bmp").arg(base).arg(state + 1));
    }
}

// The command buttons: normal, mouse over, pressed, disabled. The caption is drawn by the
// window over the picture.
void DrawBottomButtons() {
    constexpr int w = 88, h = 28;
    struct TLook {
        QColor Top, Bottom, Border;
    };
    const TLook looks[] = {
        {QColor(0xff, 0xff, 0xff), QColor(0xe4, 0xe9, 0xf0), QColor(0x9d, 0xab, 0xbd)},
        {QColor(0xf3, 0xf8, 0xff), QColor(0xd6, 0xe6, 0xfa), QColor(0x4f, 0x8a, 0xd0)},
        {QColor(0xc9, 0xd8, 0xeb), QColor(0xe2, 0xea, 0xf4), QColor(0x3f, 0x72, 0xb0)},
        {QColor(0xec, 0xef, 0xf3), QColor(0xe6, 0xea, 0xef), QColor(0xc3, 0xcb, 0xd5)},
    };
    for (int state = 0; state < 4; ++state) {
        QImage image = Canvas(w, h, Magenta);
        QPainter p(&image);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(0, 0, w, h), 5, 5);
        p.setClipPath(shape);
        // Fill the corners with the bar's colour first so the antialiased edge blends into it.
        p.fillRect(image.rect(), QColor(0xd6, 0xdd, 0xe7));
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient g(0, 0, 0, h);
        g.setColorAt(0, looks[state].Top);
        g.setColorAt(1, looks[state].Bottom);
        p.setPen(QPen(looks[state].Border, 1));
        p.setBrush(g);
        p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 5, 5);
        p.end();
        QImage mask = Canvas(w, h);
        QPainter m(&mask);
        m.fillPath(shape, Qt::black);
        m.end();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (qAlpha(mask.pixel(x, y)) < 128)
                    image.setPixel(x, y, Magenta.rgb());
        Save(image, QString("bottom_%1.bmp").arg(state + 1));
    }
}

void DrawAudioIcon() {
    const int w = 128, h = 88;
    QImage image = Canvas(w, h);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, w, h);
    g.setColorAt(0, QColor(0x3a, 0x4f, 0x7a));
    g.setColorAt(1, Teal);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0, 0, w, h), 8, 8);
    Waveform(p, QRectF(12, 20, w - 24, 48), 14, QColor(255, 255, 255, 110));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(44, 52, 18, 14));
    p.drawRect(QRectF(58, 20, 4, 40));
    QPainterPath flag;
    flag.moveTo(62, 20);
    flag.cubicTo(70, 24, 80, 28, 76, 42);
    flag.cubicTo(74, 34, 68, 32, 62, 32);
    flag.closeSubpath();
    p.drawPath(flag);
    p.end();
    Save(image, "audio.png");
}

void DrawDesktopIcon() {
    QImage image = Canvas(256, 256);
    QPainter p(&image);
    DrawMark(p, QRectF(16, 16, 224, 224));
    p.end();
    Save(image, "clipwright.png");
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: clipwright-artwork OUTPUT_FOLDER\n");
        return 2;
    }
    OutDir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(OutDir)) {
        std::fprintf(stderr, "clipwright-artwork: cannot create %s\n", argv[1]);
        return 1;
    }
    DrawTopLogo();
    DrawLeftLogo();
    DrawDownloadPicture();
    DrawConvertPicture();
    DrawFrame();
    DrawChromeButton("min", false);
    DrawChromeButton("close", true);
    DrawBottomButtons();
    DrawAudioIcon();
    DrawDesktopIcon();
    return Failures == 0 ? 0 : 1;
}
