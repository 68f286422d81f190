// The preview window of a transcoding job: a small tool window that stays on top, centred on
// the screen at the size of the first frame, captioned with the frame's time. A press inside
// it moves the window; closing it ends the preview for that job (ShowFrame answers false from
// then on). Frames may come from any thread; the window lives on the main thread.
#pragma once

#include "engine/Previewer.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <atomic>

namespace cw {

class TPreviewWindow : public QWidget {
    Q_OBJECT
public:
    TPreviewWindow();
    void SetFrame(const QImage& frame, const QString& caption);
    const QImage& Frame() const { return Shown; }

signals:
    void ClosedByUser();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QImage Shown;
    QPoint DragOffset;
};

class TQtPreviewer : public TPreviewer {
public:
    TQtPreviewer() = default;
    ~TQtPreviewer() override;
    bool ShowFrame(const TBitmap& bitmap, int64_t frameNumber, int64_t timeUs) override;

    // The window (null until the first frame and after it was destroyed); main thread only.
    TPreviewWindow* Window() const { return PreviewWindow; }
    bool Closed() const { return ClosedFlag; }

private:
    QPointer<TPreviewWindow> PreviewWindow;
    std::atomic<bool> ClosedFlag{false};
    int64_t FrameNumber = 0;
    int64_t FrameTime = 0;
};

// Installs the factory of Qt previewers for every transcoding job of the process.
void InstallQtPreviewer();

} // namespace cw
