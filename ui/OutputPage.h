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
class QStackedWidget;

namespace cw {

class TFormMain;

class TOutputPage : public QObject {
    Q_OBJECT
public:
    explicit TOutputPage(TFormMain& form);

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
    TFormMain& Form;
};

} // namespace cw
