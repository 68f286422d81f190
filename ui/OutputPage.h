// Page Step2's preset lists: one drop-down list per format, stacked on its class's panel so
// that only the selected format's list shows, filled from the catalogue; the page shows the
// stored preset of every format when it is entered and takes them back when it is left
// forward.
#pragma once

#include <QObject>

#include <array>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QStackedWidget;
class QToolButton;
class QWidget;

namespace cw {

class TAppController;

// The page's own controls, built with the window.
struct TOutputControls {
    QLineEdit* EditOutputDir = nullptr;
    std::array<QToolButton*, 3> ButtonToFormat{}; // Video, Device, Audio
    QStackedWidget* RzPageControlToFormat = nullptr;
    std::array<QWidget*, 3> TabSheetToFormat{};
    std::array<std::vector<QToolButton*>, 3> ButtonFormat; // per class, in the fixed order
};

class TOutputPage : public QObject {
    Q_OBJECT
public:
    TOutputPage(const TOutputControls& controls, TAppController& controller, QObject* parent);

    // Class and format choice (0 video, 1 device, 2 audio): the state record takes it, the
    // buttons and the lists show it.
    void SelectOutputClass(int outputClass);
    void SelectOutputFormat(int outputClass, int format);
    // The page shows the stored choices (fitted to what the edition offers) and the folder.
    void Prepare();
    // The folder box and the presets go back into the state record.
    void Read();
    // The folder picker.
    void ButtonSelectDirClick();

    // The format's list comes to the front of its class's panel.
    void ShowPresetList(int outputClass, int format);
    // Every list takes its stored preset (none when the stored number is outside the list).
    void ShowPresets();
    // Every list's current entry (-1 for none) goes back into the state record, with the
    // folder box.
    void ReadPresets();

    // Per class: the "Presets:" label, the stack of lists and the lists in format order.
    std::array<QLabel*, 3> LabelPresets{};
    std::array<QStackedWidget*, 3> PresetLists{};
    std::array<std::vector<QComboBox*>, 3> ComboBoxPreset;

private:
    TOutputControls Controls;
    TAppController& Controller;
};

} // namespace cw
