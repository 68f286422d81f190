#include "ui/FormLog.h"

#include "app/GlobalVars.h"
#include "app/Platform.h"
#include "ui/Placement.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextStream>
#include <QVBoxLayout>

namespace cw {

TFormLog::TFormLog(const TGlobalVars& vars, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), Vars(vars) {
    setObjectName("FormLog");
    setWindowTitle("Log");
    setMinimumSize(265, 125);
    resize(560, 340);

    MemoLog = new QPlainTextEdit(this);
    MemoLog->setObjectName("MemoLog");
    MemoLog->setReadOnly(true);
    MemoLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoLog->setAccessibleName("Log");

    PanelBottom = new QWidget(this);
    PanelBottom->setObjectName("PanelBottom");
    PanelBottom->setFixedHeight(44);
    ButtonOK = new QPushButton("&OK", PanelBottom);
    ButtonOK->setObjectName("ButtonOK");
    ButtonDelete = new QPushButton("&Delete Log", PanelBottom);
    ButtonDelete->setObjectName("ButtonDelete");
    ButtonSave = new QPushButton("&Save Log...", PanelBottom);
    ButtonSave->setObjectName("ButtonSave");
    // The designed row: OK, Delete and Save side by side, 8 pixels apart.
    int left = 0;
    for (QPushButton* b : {ButtonOK, ButtonDelete, ButtonSave}) {
        b->resize(std::max(b->sizeHint().width(), 96), 28);
        b->move(left, 8);
        left += b->width() + 8;
    }
    ButtonOK->setDefault(true);
    PanelBottom->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(MemoLog);
    layout->addWidget(PanelBottom);

    SaveDialog = new QFileDialog(this);
    SaveDialog->setObjectName("SaveDialog");
    SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog->setFileMode(QFileDialog::AnyFile);
    SaveDialog->setDefaultSuffix("log");
    SaveDialog->setNameFilters({"Log-Files (*.log)", "Text-Files (*.txt)", "All Files (*.*)"});
    SaveDialog->setOption(QFileDialog::DontConfirmOverwrite, false);

    connect(ButtonOK, &QPushButton::clicked, this, &TFormLog::ButtonOKClick);
    connect(ButtonDelete, &QPushButton::clicked, this, &TFormLog::ButtonDeleteClick);
    connect(ButtonSave, &QPushButton::clicked, this, &TFormLog::ButtonSaveClick);

    // The designed position: a little right of the screen's centre.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center().x() - width() / 2 + 60, area.center().y() - height() / 2 + 60);
    }
}

void TFormLog::AppendLine(const std::string& line) {
    MemoLog->appendPlainText(QString::fromStdString(line));
}

QStringList TFormLog::Lines() const {
    const QString text = MemoLog->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

void TFormLog::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFormLog::closeEvent(QCloseEvent* event) {
    FormClose();
    QWidget::closeEvent(event);
}

bool TFormLog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == PanelBottom && event->type() == QEvent::Resize)
        PanelBottomResize();
    return QWidget::eventFilter(watched, event);
}

void TFormLog::FormShow() {
    Shown = true;
    RestoreWindowPlacement(*this, "FormLog", Vars);
    PanelBottomResize();
}

void TFormLog::FormClose() {
    try {
        SaveWindowPlacement(*this, "FormLog", Vars);
    } catch (const std::exception&) {
        // The main window saves this placement again when it closes and reports failures.
    }
}

void TFormLog::PanelBottomResize() {
    const int groupWidth = ButtonSave->x() + ButtonSave->width() - ButtonOK->x();
    ButtonOK->move(PanelBottom->width() / 2 - groupWidth / 2, ButtonOK->y());
    ButtonDelete->move(ButtonOK->x() + ButtonOK->width() + 8, ButtonDelete->y());
    ButtonSave->move(ButtonDelete->x() + ButtonDelete->width() + 8, ButtonSave->y());
}

void TFormLog::ButtonOKClick() {
    close();
}

void TFormLog::ButtonDeleteClick() {
    const int answer = ShowCustomMessage("Really delete log file?", "Delete log?", mtConfirmation,
                                         {mbYes, mbNo, mbCancel});
    if (answer != mrYes)
        return;
    MemoLog->clear();
    ButtonSave->setEnabled(false);
}

void TFormLog::ButtonSaveClick() {
    if (SaveDialog->exec() != QDialog::Accepted || SaveDialog->selectedFiles().isEmpty())
        return;
    if (!SaveLogTo(SaveDialog->selectedFiles().first()))
        ShowCustomMessage("Cannot write the file " +
                              SaveDialog->selectedFiles().first().toStdString(),
                          QCoreApplication::applicationName().toStdString(), mtError, {mbOK});
}

bool TFormLog::SaveLogTo(const QString& path) const {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream out(&file);
    for (const QString& line : Lines())
        out << line << '\n';
    out.flush();
    return file.error() == QFileDevice::NoError;
}

} // namespace cw
