#include "ui/FormShutdown.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace cw {

namespace {
QString TimeLeftText(int seconds) {
    return QString("Time left: %1").arg(seconds);
}
} // namespace

TFormShutdown::TFormShutdown(const std::string& title, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), Title(title) {
    setObjectName("FormShutdown");
    setWindowTitle("Shutdown");
    setModal(true);

    LabelWarning = new QLabel("Warning!", this);
    LabelWarning->setObjectName("LabelWarning");
    QFont bold = LabelWarning->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    LabelWarning->setFont(bold);
    LabelShutdownDescription =
        new QLabel("If you don't press cancel now, \n%s\nwill shutdown Windows.", this);
    LabelShutdownDescription->setObjectName("LabelShutdownDescription");
    LabelShutdownDescription->setTextFormat(Qt::PlainText);
    LabelTimeOut = new QLabel(this);
    LabelTimeOut->setObjectName("LabelTimeOut");
    ButtonCancel = new QPushButton("&Cancel", this);
    ButtonCancel->setObjectName("ButtonCancel");
    ButtonCancel->setDefault(true);
    ButtonCancel->setAutoDefault(true);
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 18, 24, 16);
    layout->setSpacing(10);
    layout->addWidget(LabelWarning);
    layout->addWidget(LabelShutdownDescription);
    layout->addWidget(LabelTimeOut);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ButtonCancel);
    buttons->addStretch();
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumWidth(320);
    LabelShutdownDescription->setMinimumWidth(270);

    TimerShutdown = new QTimer(this);
    TimerShutdown->setObjectName("TimerShutdown");
    TimerShutdown->setInterval(1000);
    connect(TimerShutdown, &QTimer::timeout, this, &TFormShutdown::TimerShutdownTimer);
    FormCreate();
}

void TFormShutdown::FormCreate() {
    CounterValue = 30;
    LabelTimeOut->setText(TimeLeftText(CounterValue));
    TimerShutdown->start();
}

void TFormShutdown::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!Shown) {
        Shown = true;
        FormShow();
    }
}

void TFormShutdown::FormShow() {
    LabelShutdownDescription->setText(
        LabelShutdownDescription->text().replace("%s", QString::fromStdString(Title)));
}

void TFormShutdown::TimerShutdownTimer() {
    --CounterValue;
    if (CounterValue < 0) {
        TimerShutdown->stop();
        accept();
        return;
    }
    LabelTimeOut->setText(TimeLeftText(CounterValue));
}

} // namespace cw
