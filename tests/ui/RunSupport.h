// What the whole-run window tests share: a window of a test edition on generated media, the
// steps from the input list to the progress page, and recording sound and power services.
#pragma once

#include "convert/Catalogue.h"
#include "engine/FFDecoder.h"
#include "engine/FFEncoder.h"
#include "tests/fixtures/MediaFixtures.h"
#include "ui/FormShutdown.h"
#include "convert/ProgressListModel.h"
#include "ui/InputListPage.h"
#include "ui/OutputPage.h"
#include "ui/SoundPlayer.h"

#include "FormSupport.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>

namespace cw::test {

namespace fs = std::filesystem;

class TRecordingSoundPlayer : public ISoundPlayer {
public:
    TRecordingSoundPlayer() { Previous = SetSoundPlayer(this); }
    ~TRecordingSoundPlayer() override { SetSoundPlayer(Previous); }
    void Play(const std::string& path) override { Played.push_back(path); }
    std::vector<std::string> Played;

private:
    ISoundPlayer* Previous = nullptr;
};

class TRunFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(BindFixtureLibraries(&error)) << error;
    }
    void Make(bool merge) {
        F = std::make_unique<TFormFixture>(BrandingText("Clipwright", false, merge));
        ASSERT_TRUE(Main().LibrariesLoaded());
        Out = Media.Path + "out/";
    }
    TFormMain& Main() { return *F->Form; }
    std::string Write(TFixtureKind kind, const std::string& name, TFixtureParams params = {}) {
        const std::string path = Media.Path + name;
        WriteFixture(kind, path, params);
        return path;
    }
    // Step1 with the files, Step2 with the format and preset, then Next into Step3.
    void StartRun(const std::vector<std::string>& files, int outputClass, const char* format,
                  int preset) {
        Main().ActivatePage(wpStep1);
        Main().AddFiles(files);
        ASSERT_EQ(Main().InputList->RowCount(), int(files.size()));
        Main().ActionNext->trigger();
        ASSERT_EQ(Main().ActivePage(), wpStep2);
        const int f = FindFormatByName(outputClass, format)->Index;
        Main().SelectOutputClass(outputClass);
        Main().SelectOutputFormat(outputClass, f);
        Main().OutputPage->ComboBoxPreset[outputClass][f]->setCurrentIndex(preset);
        Main().EditOutputDir->setText(QString::fromStdString(Out));
        Main().ActionNext->trigger();
        ASSERT_EQ(Main().ActivePage(), wpStep3);
    }
    bool WaitForSummary(int timeoutMs = 120000) {
        return ProcessUntil([&] { return Main().ActivePage() == wpStep4; }, timeoutMs);
    }
    QString Cell(int row, int column) {
        const TProgressListModel& list = *Main().ProgressList;
        return row < list.rowCount() ? list.Cell(row, TProgressListModel::TColumn(column))
                                     : QString("<no row>");
    }
    QString Header(int column) {
        return Main().ProgressList->headerData(column, Qt::Horizontal).toString();
    }
    int LogLines(const QString& prefix) {
        int n = 0;
        for (const QString& line : F->Log->Lines())
            n += line.startsWith(prefix) ? 1 : 0;
        return n;
    }
    std::string Summary() {
        return Main().LabelFinishTotalFiles->text().toStdString() + "/" +
               Main().LabelFinishSuccessed->text().toStdString() + "/" +
               Main().LabelFinishFailed->text().toStdString();
    }
    int64_t OutputDuration(const std::string& path) {
        TFFDecoder decoder;
        if (!decoder.LoadFile(path))
            return -1;
        return decoder.GetFileStreamInfo().Duration;
    }

    TTempDir Media;
    std::string Out;
    std::unique_ptr<TFormFixture> F;
    TRecordingSoundPlayer Sound;
};

} // namespace cw::test
