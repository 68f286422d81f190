#include "convert/InputListModel.h"
#include "convert/ProgressListModel.h"
#include "download/QueueModel.h"

#include <gtest/gtest.h>

#include <QPersistentModelIndex>

#include <string>
#include <vector>

using namespace cw;

namespace {

TInputRow Row(const std::string& path, const char* microseconds = "0", int width = 0,
              int height = 0, double aspect = 0) {
    TInputRow row;
    row.Cells[icFileFullName] = path;
    row.Cells[icRealDuration] = microseconds;
    row.Width = width;
    row.Height = height;
    row.AspectRatio = aspect;
    return row;
}

std::string Order(const TInputListModel& list) {
    std::string order;
    for (int r = 0; r < list.rowCount(); ++r)
        order += list.CellText(r, icFileFullName);
    return order;
}

} // namespace

TEST(InputListModel, MovesKeepEveryCellAndViewsFollowTheMovedRow) {
    struct TCase {
        int From;
        int To;
        bool Moved;
        const char* Order;
    };
    const TCase cases[] = {
        {0, 2, true, "bcad"}, {3, 0, true, "dabc"}, {1, 2, true, "acbd"},
        {2, 1, true, "acbd"}, {1, 1, true, "abcd"}, {2, 4, false, "abcd"},
        {-1, 0, false, "abcd"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.From) + " to " + std::to_string(c.To));
        TInputListModel list;
        for (const char* path : {"a", "b", "c", "d"})
            list.AppendRow(Row(path, path[0] == 'c' ? "7" : "0"));
        // A view's hold on the moved row (its selection, its current row) follows it.
        const QPersistentModelIndex held(list.index(c.From, icFileMinName));
        EXPECT_EQ(list.MoveRow(c.From, c.To), c.Moved);
        EXPECT_EQ(Order(list), c.Order);
        if (c.Moved) {
            EXPECT_EQ(held.row(), c.To);
        }
        // The row's other cells travel with it.
        for (int r = 0; r < list.rowCount(); ++r)
            EXPECT_EQ(list.CellText(r, icRealDuration),
                      list.CellText(r, icFileFullName) == "c" ? "7" : "0");
    }
}

TEST(InputListModel, TheRunTakesPathsDurationsAndPictureFactsInListOrder) {
    TInputListModel list;
    list.AppendRow(Row("/m/clip.avi", "2000000", 640, 480, 4.0 / 3));
    list.AppendRow(Row("/m/tone.wav")); // audio: no duration cell value, no picture
    list.MoveRow(1, 0);
    const std::vector<TRunInput> inputs = list.RunInputs();
    ASSERT_EQ(inputs.size(), 2u);
    EXPECT_EQ(inputs[0].Path, "/m/tone.wav");
    EXPECT_EQ(inputs[0].Duration, 0);
    EXPECT_EQ(inputs[1].Path, "/m/clip.avi");
    EXPECT_EQ(inputs[1].Duration, 2000000);
    EXPECT_EQ(inputs[1].Width, 640);
    EXPECT_EQ(inputs[1].Height, 480);
    EXPECT_DOUBLE_EQ(inputs[1].AspectRatio, 4.0 / 3);
    // The picture cell carries the path as its tool tip and no text.
    EXPECT_EQ(list.index(1, icMainImage).data(Qt::ToolTipRole).toString(), "/m/clip.avi");
    EXPECT_TRUE(list.CellText(1, icMainImage).empty());
    EXPECT_FALSE(list.RemoveRow(2));
    EXPECT_TRUE(list.RemoveRow(0));
    EXPECT_EQ(Order(list), "/m/clip.avi");
}

TEST(ProgressListModel, CaptionsFollowTheModeAndARunChangesOnlyStatusAndProgress) {
    TProgressListModel list;
    const auto header = [&](int column) {
        return list.headerData(column, Qt::Horizontal).toString().toStdString();
    };
    list.Reset(true);
    EXPECT_EQ(header(TProgressListModel::pcStatus), "Width x Height");
    EXPECT_EQ(header(TProgressListModel::pcProgress), "Aspect Ratio");
    TProgressItem item;
    item.Name = "clip.avi";
    item.Status = "Waiting...";
    item.PathCell = "/m/";
    list.InsertItem(0, item);
    list.Reset(false);
    EXPECT_EQ(list.rowCount(), 0);
    EXPECT_EQ(header(TProgressListModel::pcStatus), "Status");
    EXPECT_EQ(header(TProgressListModel::pcProgress), "Progress");

    list.InsertItem(0, item);
    TProgressItem changed = item;
    changed.Name = "other.avi";
    changed.PathCell = "/elsewhere/";
    changed.Status = "Converting...";
    changed.Progress = "42%";
    list.UpdateItem(0, changed);
    list.UpdateItem(1, changed); // no such row
    ASSERT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.Cell(0, TProgressListModel::pcName), "clip.avi");
    EXPECT_EQ(list.Cell(0, TProgressListModel::pcPath), "/m/");
    EXPECT_EQ(list.Cell(0, TProgressListModel::pcStatus), "Converting...");
    EXPECT_EQ(list.Cell(0, TProgressListModel::pcProgress), "42%");
}

TEST(QueueModel, TheFailureReasonIsTheStatusTipAndRowsChangeOnlyInsideTheQueue) {
    TQueueModel queue;
    TDownloadItem first, second;
    first.Caption = "First";
    second.Caption = "Second";
    second.Status = "Failed.";
    second.Reason = "The server answered 404.";
    queue.SetItems({first, second});
    ASSERT_EQ(queue.rowCount(), 2);
    EXPECT_EQ(queue.columnCount(), 7);
    EXPECT_EQ(queue.headerData(TQueueModel::qcURL, Qt::Horizontal).toString(), "URL");
    EXPECT_FALSE(queue.index(0, TQueueModel::qcStatus).data(Qt::ToolTipRole).isValid());
    EXPECT_EQ(queue.index(1, TQueueModel::qcStatus).data(Qt::ToolTipRole).toString(),
              "The server answered 404.");
    EXPECT_FALSE(queue.index(1, TQueueModel::qcName).data(Qt::ToolTipRole).isValid());

    first.Status = "Finish.";
    queue.SetItem(0, first);
    queue.SetItem(2, first); // no such row
    EXPECT_EQ(queue.index(0, TQueueModel::qcStatus).data().toString(), "Finish.");
    EXPECT_EQ(queue.rowCount(), 2);
    queue.SetItems({});
    EXPECT_EQ(queue.rowCount(), 0);
}
