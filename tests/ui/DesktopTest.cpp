#include "ui/QtDesktop.h"

#include "UiTestSupport.h"

#include <QAbstractButton>
#include <QFile>
#include <QMessageBox>

#include <algorithm>

using namespace cw;

namespace {

QStringList ButtonTexts(const QMessageBox& box) {
    QStringList texts;
    for (QAbstractButton* b : box.buttons())
        texts << b->text();
    return texts;
}

TEST(QtDesktop, MessageBoxCarriesCaptionTextIconAndTheButtonsWithTheirOwnCaptions) {
    auto box = BuildMessageBox(nullptr, "Really delete log file?", "Delete log?", mtConfirmation,
                               {mbYes, mbNo, mbCancel}, {"", "Keep it"});
    EXPECT_EQ(box->windowTitle(), "Delete log?");
    EXPECT_EQ(box->text(), "Really delete log file?");
    EXPECT_EQ(box->icon(), QMessageBox::Question);
    ASSERT_EQ(box->buttons().size(), 3);
    // The empty first caption leaves Yes alone, the second renames No, Cancel keeps its text.
    EXPECT_EQ(box->button(QMessageBox::No)->text(), "Keep it");
    EXPECT_NE(box->button(QMessageBox::Yes)->text(), "");
    EXPECT_TRUE(box->button(QMessageBox::Cancel));
    EXPECT_FALSE(ButtonTexts(*box).contains(""));

    // The captions follow the buttons as they stand on screen, left to right, whatever
    // order the set names them in.
    auto reversed = BuildMessageBox(nullptr, "x", "t", mtConfirmation, {mbCancel, mbNo, mbYes},
                                    {"First", "Second", "Third"});
    reversed->show();
    QApplication::processEvents();
    std::vector<QAbstractButton*> row;
    for (QAbstractButton* b : reversed->buttons())
        row.push_back(b);
    std::sort(row.begin(), row.end(), [&](QAbstractButton* a, QAbstractButton* b) {
        return a->mapTo(reversed.get(), QPoint()).x() < b->mapTo(reversed.get(), QPoint()).x();
    });
    ASSERT_EQ(row.size(), 3u);
    EXPECT_EQ(row[0]->text(), "First");
    EXPECT_EQ(row[1]->text(), "Second");
    EXPECT_EQ(row[2]->text(), "Third");
    reversed->hide();

    EXPECT_EQ(BuildMessageBox(nullptr, "x", "t", mtError, {mbOK}, {})->icon(),
              QMessageBox::Critical);
    EXPECT_EQ(BuildMessageBox(nullptr, "x", "t", mtWarning, {mbOK}, {})->icon(),
              QMessageBox::Warning);
    EXPECT_EQ(BuildMessageBox(nullptr, "x", "t", mtInformation, {mbOK}, {})->icon(),
              QMessageBox::Information);
}

TEST(QtDesktop, ThePressedButtonGivesItsResultCode) {
    for (auto [button, standard, expected] :
         {std::tuple{mbYes, QMessageBox::Yes, int(mrYes)},
          std::tuple{mbNo, QMessageBox::No, int(mrNo)},
          std::tuple{mbCancel, QMessageBox::Cancel, int(mrCancel)}}) {
        auto box = BuildMessageBox(nullptr, "q", "t", mtConfirmation, {mbYes, mbNo, mbCancel}, {});
        EXPECT_EQ(MessageBoxResult(*box), int(mrNone));
        box->button(standard)->click();
        EXPECT_EQ(MessageBoxResult(*box), expected) << int(button);
    }
}

TEST(QtDesktop, TargetsBecomeWebAddressesOrLocalFilesWithTheirFragment) {
    EXPECT_EQ(UrlForTarget("https://example.org/a?b=c#d").toString(),
              "https://example.org/a?b=c#d");
    EXPECT_EQ(UrlForTarget("mailto:help@example.org").scheme(), "mailto");
    EXPECT_TRUE(UrlForTarget("").isEmpty());

    test::TTempDir folder;
    const std::string page = folder.Path + "help.html";
    QFile file(QString::fromStdString(page));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const QUrl withFragment = UrlForTarget(page + "#support");
    EXPECT_TRUE(withFragment.isLocalFile());
    EXPECT_EQ(withFragment.toLocalFile().toStdString(), page);
    EXPECT_EQ(withFragment.fragment(), "support");
    // A name that merely contains "#" and exists whole stays one file name.
    const std::string odd = folder.Path + "a#b.mp4";
    QFile oddFile(QString::fromStdString(odd));
    ASSERT_TRUE(oddFile.open(QIODevice::WriteOnly));
    oddFile.close();
    EXPECT_EQ(UrlForTarget(odd).toLocalFile().toStdString(), odd);
}

TEST(QtDesktop, NestedBusyCursorShowsOnceAndIsRestoredByTheLastEnd) {
    TQtDesktop desktop;
    IDesktop* previous = SetDesktop(&desktop);
    ASSERT_EQ(QApplication::overrideCursor(), nullptr);
    BeginBusy();
    BeginBusy();
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EndBusy();
    EXPECT_NE(QApplication::overrideCursor(), nullptr) << "still inside the outer pair";
    EndBusy();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EndBusy(); // an unmatched end changes nothing
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(BusyCount(), 0);
    SetDesktop(previous);
}

} // namespace
