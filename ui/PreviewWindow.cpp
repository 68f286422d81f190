#include "ui/PreviewWindow.h"

#include "base/MainThread.h"
#include "engine/FFUtils.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

namespace cw {

namespace {

// A deep copy: the engine reuses its bitmap for the next frame.
QImage ImageOf(const TBitmap& bitmap) {
    QImage::Format format = QImage::Format_Invalid;
    switch (bitmap.BitsPixel()) {
    case 15:
        format = QImage::Format_RGB555;
        break;
    case 16:
        format = QImage::Format_RGB16;
        break;
    case 24:
        format = QImage::Format_BGR888;
        break;
    case 32:
        format = QImage::Format_RGB32;
        break;
    default:
        return QImage();
    }
    return QImage(bitmap.Data(), bitmap.Width(), bitmap.Height(), bitmap.Stride(), format).copy();
}

} // namespace

TPreviewWindow::TPreviewWindow()
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint) {
    setObjectName("FormPreview");
    setAttribute(Qt::WA_DeleteOnClose, false);
}

void TPreviewWindow::SetFrame(const QImage& frame, const QString& caption) {
    Shown = frame;
    setWindowTitle(caption);
    update();
}

void TPreviewWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    p.drawImage(0, 0, Shown);
}

void TPreviewWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    // A press anywhere moves the window as if its caption were dragged.
    if (QWindow* window = windowHandle(); window && window->startSystemMove())
        return;
    DragOffset = event->globalPosition().toPoint() - pos();
}

void TPreviewWindow::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton)
        move(event->globalPosition().toPoint() - DragOffset);
}

void TPreviewWindow::closeEvent(QCloseEvent* event) {
    emit ClosedByUser();
    event->accept();
}

TQtPreviewer::~TQtPreviewer() {
    RunOnMainThread([this] { delete PreviewWindow.data(); });
}

bool TQtPreviewer::ShowFrame(const TBitmap& bitmap, int64_t frameNumber, int64_t timeUs) {
    if (ClosedFlag)
        return false;
    FrameNumber = frameNumber;
    FrameTime = timeUs;
    const QImage image = ImageOf(bitmap);
    RunOnMainThread([this, image, timeUs] {
        if (ClosedFlag)
            return;
        if (!PreviewWindow) {
            PreviewWindow = new TPreviewWindow;
            QObject::connect(PreviewWindow, &TPreviewWindow::ClosedByUser,
                             [this] { ClosedFlag = true; });
            PreviewWindow->resize(image.size());
            if (QScreen* screen = QGuiApplication::primaryScreen())
                PreviewWindow->move(screen->geometry().center() -
                                    QPoint(image.width() / 2, image.height() / 2));
            PreviewWindow->show();
        }
        PreviewWindow->SetFrame(image, QString::fromStdString(TimeText(timeUs)));
    });
    return !ClosedFlag;
}

void InstallQtPreviewer() {
    SetPreviewerFactory([] { return std::make_unique<TQtPreviewer>(); });
}

} // namespace cw
