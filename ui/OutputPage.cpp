#include "ui/OutputPage.h"

#include "app/GlobalVars.h"
#include "app/Platform.h"
#include "app/Utils.h"
#include "control/AppController.h"
#include "convert/Catalogue.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QToolButton>

namespace cw {

TOutputPage::TOutputPage(const TOutputControls& controls, TAppController& controller,
                         QObject* parent)
    : QObject(parent), Controls(controls), Controller(controller) {
    for (const TOutputClassInfo& info : OutputClasses()) {
        const int c = info.Index;
        QWidget* sheet = Controls.TabSheetToFormat[size_t(c)];
        // Below the second row of format buttons (rows of 60 pixels from the top 5).
        constexpr int top = 130;
        auto* label = new QLabel("Presets:", sheet);
        label->setObjectName("LabelPresets" +
                             QString::fromUtf8(info.Name.data(), int(info.Name.size())));
        label->move(10, top);
        label->adjustSize();
        auto* stack = new QStackedWidget(sheet);
        stack->setObjectName("PresetLists" +
                             QString::fromUtf8(info.Name.data(), int(info.Name.size())));
        stack->setGeometry(10, top + 22, sheet->width() - 20, 30);
        for (const TOutputFormat& format : info.Formats) {
            auto* list = new QComboBox;
            const QString name = QString::fromUtf8(format.Name.data(), int(format.Name.size()));
            list->setObjectName("ComboBoxPreset" + name);
            list->setAccessibleName(name + " presets");
            list->setMaxVisibleItems(10);
            for (int preset = 0; preset < format.PresetCount(); ++preset) {
                const std::string_view text = format.PresetText(preset);
                list->addItem(QString::fromUtf8(text.data(), int(text.size())));
            }
            stack->addWidget(list);
            ComboBoxPreset[size_t(c)].push_back(list);
        }
        label->setBuddy(stack);
        LabelPresets[size_t(c)] = label;
        PresetLists[size_t(c)] = stack;
    }
}

void TOutputPage::SelectOutputClass(int outputClass) {
    if (!FindClass(outputClass))
        return;
    SelectClass(Controller.Vars(), outputClass);
    Controls.ButtonToFormat[size_t(outputClass)]->setChecked(true);
    Controls.RzPageControlToFormat->setCurrentIndex(outputClass);
}

void TOutputPage::SelectOutputFormat(int outputClass, int format) {
    const TOutputFormat* chosen = FindFormat(outputClass, format);
    if (!chosen)
        return;
    SelectFormat(Controller.Vars(), *chosen);
    Controls.ButtonFormat[size_t(outputClass)][size_t(format)]->setChecked(true);
    ShowPresetList(outputClass, format);
}

void TOutputPage::Prepare() {
    TGlobalVars& vars = Controller.Vars();
    FitSelectionToEdition(Controller.Startup().Branding, vars);
    Controls.EditOutputDir->setText(QString::fromStdString(vars.OutputFileDir));
    SelectOutputClass(vars.OutputFormatClass);
    for (int c : {ocAudio, ocVideo, ocDevice})
        SelectOutputFormat(c, SelectedFormatIndex(vars, c));
    ShowPresets();
}

void TOutputPage::Read() {
    // "~", "~/..." and relative folders are taken below the home folder; the box then shows
    // the folder that is used.
    const std::string typed = Controls.EditOutputDir->text().toStdString();
    if (!Trim(typed).empty())
        Controls.EditOutputDir->setText(QString::fromStdString(ExpandUserFolder(typed)));
    ReadPresets();
}

void TOutputPage::ButtonSelectDirClick() {
    std::string folder = Controller.Vars().OutputFileDir;
    if (!BrowseForFolder(folder, "Please select a folder"))
        return;
    Controls.EditOutputDir->setText(
        QString::fromStdString(AddTrailingBackslash(ExpandUserFolder(folder))));
    Controller.Vars().OutputFileDir = Controls.EditOutputDir->text().toStdString();
}

void TOutputPage::ShowPresetList(int outputClass, int format) {
    if (outputClass < 0 || outputClass >= 3)
        return;
    auto& lists = ComboBoxPreset[size_t(outputClass)];
    if (format < 0 || format >= int(lists.size()))
        return;
    PresetLists[size_t(outputClass)]->setCurrentWidget(lists[size_t(format)]);
}

void TOutputPage::ShowPresets() {
    const TOutputPageState state = ShowOutputSelection(Controller.Vars());
    for (const TOutputClassInfo& info : OutputClasses())
        for (const TOutputFormat& format : info.Formats)
            ComboBoxPreset[size_t(info.Index)][size_t(format.Index)]->setCurrentIndex(
                state.Preset(format));
}

void TOutputPage::ReadPresets() {
    TOutputPageState state = ShowOutputSelection(Controller.Vars());
    state.FolderText = Controls.EditOutputDir->text().toStdString();
    for (const TOutputClassInfo& info : OutputClasses())
        for (const TOutputFormat& format : info.Formats)
            state.Preset(format) =
                ComboBoxPreset[size_t(info.Index)][size_t(format.Index)]->currentIndex();
    TakeOutputSelection(state, Controller.Vars());
}

} // namespace cw
