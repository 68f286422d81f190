// Small custom controls of the skinned window: picture buttons with four state pictures,
// pictures that report mouse presses, and link labels.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QPixmap>
#include <QPointer>

#include <array>

class QAction;

namespace cw {

// A button drawn from pictures: normal, mouse over, pressed and disabled. Its size is the
// size of its pictures; the caption is drawn over the picture and is also the accessible
// name, so keyboard and screen-reader users reach it like any push button.
class TImageButton : public QAbstractButton {
    Q_OBJECT
public:
    enum TState { bsNormal = 0, bsHover = 1, bsPressed = 2, bsDisabled = 3 };

    explicit TImageButton(QWidget* parent = nullptr);

    // Missing pictures fall back: hover and pressed to normal, disabled to a faded normal.
    void SetPictures(const QPixmap& normal, const QPixmap& hover, const QPixmap& pressed,
                     const QPixmap& disabled = QPixmap());
    // Without pictures the button draws only its caption (light text on the frame).
    void SetTransparent(bool transparent, const QColor& textColor = Qt::white);
    // Caption, enabled state and visibility follow the action; a click triggers it.
    void SetAction(QAction* action);
    QAction* Action() const { return BoundAction; }

    TState State() const;
    const QPixmap& Picture(TState state) const { return Pictures[state]; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    void SyncFromAction();
    std::array<QPixmap, 4> Pictures;
    bool Transparent = false;
    QColor TextColor = Qt::white;
    bool Hovered = false;
    QPointer<QAction> BoundAction;
};

// A picture that reports presses (window dragging) and clicks (selecting an option).
class TImage : public QLabel {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr);
    void SetPicture(const QPixmap& picture);

signals:
    void MousePressed(QPoint globalPos);
    void MouseMoved(QPoint globalPos);
    void MouseReleased();
    void Clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// Underlined text that opens something when clicked or activated with Enter or Space.
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(const QString& text = QString(), QWidget* parent = nullptr);
    void SetLinkColor(const QColor& color);

signals:
    void Clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace cw
