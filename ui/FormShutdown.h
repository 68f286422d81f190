// The countdown shown before the computer is shut down after a conversion run: OK when the
// time has run out, Cancel when the user stopped it.
#pragma once

#include <QDialog>

#include <string>

class QLabel;
class QPushButton;
class QTimer;

namespace cw {

class TFormShutdown : public QDialog {
    Q_OBJECT
public:
    explicit TFormShutdown(const std::string& title, QWidget* parent = nullptr);

    void FormCreate();
    void FormShow();
    void TimerShutdownTimer();
    int Counter() const { return CounterValue; }

    QLabel* LabelWarning = nullptr;
    QLabel* LabelShutdownDescription = nullptr;
    QLabel* LabelTimeOut = nullptr;
    QPushButton* ButtonCancel = nullptr;
    QTimer* TimerShutdown = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::string Title;
    int CounterValue = 30;
    bool Shown = false;
};

} // namespace cw
