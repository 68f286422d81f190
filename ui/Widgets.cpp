#include "ui/Widgets.h"

#include <QAction>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace cw {

TImageButton::TImageButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
}

void TImageButton::SetPictures(const QPixmap& normal, const QPixmap& hover, const QPixmap& pressed,
                               const QPixmap& disabled) {
    Pictures[bsNormal] = normal;
    Pictures[bsHover] = hover.isNull() ? normal : hover;
    Pictures[bsPressed] = pressed.isNull() ? Pictures[bsHover] : pressed;
    if (!disabled.isNull() || normal.isNull()) {
        Pictures[bsDisabled] = disabled;
    } else {
        QPixmap faded(normal.size());
        faded.fill(Qt::transparent);
        QPainter p(&faded);
        p.setOpacity(0.45);
        p.drawPixmap(0, 0, normal);
        Pictures[bsDisabled] = faded;
    }
    if (!normal.isNull())
        resize(normal.size());
    updateGeometry();
    update();
}

void TImageButton::SetTransparent(bool transparent, const QColor& textColor) {
    Transparent = transparent;
    TextColor = textColor;
    update();
}

void TImageButton::SetAction(QAction* action) {
    if (BoundAction) {
        disconnect(BoundAction, nullptr, this, nullptr);
        disconnect(this, &QAbstractButton::clicked, BoundAction, nullptr);
    }
    BoundAction = action;
    if (!action)
        return;
    connect(action, &QAction::changed, this, &TImageButton::SyncFromAction);
    connect(this, &QAbstractButton::clicked, action, [action] { action->trigger(); });
    SyncFromAction();
}

void TImageButton::SyncFromAction() {
    if (!BoundAction)
        return;
    setText(BoundAction->text());
    setEnabled(BoundAction->isEnabled());
}

TImageButton::TState TImageButton::State() const {
    if (!isEnabled())
        return bsDisabled;
    if (isDown())
        return bsPressed;
    if (Hovered || underMouse())
        return bsHover;
    return bsNormal;
}

QSize TImageButton::sizeHint() const {
    if (!Pictures[bsNormal].isNull())
        return Pictures[bsNormal].size();
    return QSize(88, 28);
}

void TImageButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const TState state = State();
    const QPixmap& picture = Pictures[state].isNull() ? Pictures[bsNormal] : Pictures[state];
    QColor textColor = palette().color(QPalette::ButtonText);
    if (Transparent) {
        textColor = TextColor;
        if (state == bsHover || state == bsPressed) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(255, 255, 255, state == bsPressed ? 70 : 40));
            p.drawRoundedRect(rect().adjusted(1, 1, -1, -1), 4, 4);
        }
    } else if (!picture.isNull()) {
        p.drawPixmap(0, 0, picture);
        textColor = QColor(0x1d, 0x2b, 0x3a);
    } else {
        // No artwork: a plain rounded button in the palette's colours.
        p.setPen(palette().color(QPalette::Mid));
        p.setBrush(palette().color(state == bsPressed ? QPalette::Mid : QPalette::Button));
        p.drawRoundedRect(rect().adjusted(0, 0, -1, -1), 4, 4);
    }
    if (state == bsDisabled)
        textColor.setAlpha(110);
    if (!text().isEmpty()) {
        p.setPen(textColor);
        QRect r = rect();
        if (state == bsPressed)
            r.translate(0, 1);
        p.drawText(r, Qt::AlignCenter | Qt::TextShowMnemonic, text());
    }
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &p, this);
    }
}

void TImageButton::enterEvent(QEnterEvent* event) {
    Hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void TImageButton::leaveEvent(QEvent* event) {
    Hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

TImage::TImage(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignCenter);
}

void TImage::SetPicture(const QPixmap& picture) {
    setPixmap(picture);
    if (!picture.isNull())
        resize(picture.size());
}

void TImage::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        emit MousePressed(event->globalPosition().toPoint());
    QLabel::mousePressEvent(event);
}

void TImage::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton)
        emit MouseMoved(event->globalPosition().toPoint());
    QLabel::mouseMoveEvent(event);
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit MouseReleased();
        if (rect().contains(event->position().toPoint()))
            emit Clicked();
    }
    QLabel::mouseReleaseEvent(event);
}

TLinkLabel::TLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    SetLinkColor(QColor(0x1a, 0x5f, 0xb4));
}

void TLinkLabel::SetLinkColor(const QColor& color) {
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, color);
    setPalette(pal);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit Clicked();
    QLabel::mouseReleaseEvent(event);
}

void TLinkLabel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        event->key() == Qt::Key_Space) {
        emit Clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

} // namespace cw
