// The controller's download session on a real queue: the model of the rows follows what the
// queue reports, and what only a window or a command line can do reaches the view.
#include "control/DownloadSession.h"
#include "app/GlobalVars.h"
#include "control/AppController.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace cw;

namespace {

class TRecordingView : public IDownloadView {
public:
    void PostStep(TDownloadStep step) override { Steps.push_back(step); }
    void LabelsChanged(const TDownloadLabels& labels) override { Labels.push_back(labels); }
    void RunEnded() override { ++Ends; }
    void ScriptError(const std::string&) override {}

    std::vector<TDownloadStep> Steps;
    std::vector<TDownloadLabels> Labels;
    int Ends = 0;
};

// A controller with its script host and a session reporting to a recording view; the rows
// the model announces as changed are noted.
struct TSession {
    TSession() {
        Controller.CreateScriptHost(0);
        Controller.AddHostItem();
        Controller.CreateQueue(View);
        QObject::connect(&Model(), &QAbstractItemModel::dataChanged,
                         [this](const QModelIndex& first, const QModelIndex& last) {
                             for (int row = first.row(); row <= last.row(); ++row)
                                 ChangedRows.push_back(row);
                         });
    }
    TDownloadQueue& Queue() { return Controller.Downloads()->Queue(); }
    TQueueModel& Model() { return Controller.Downloads()->Model(); }
    // Name, status and size of every row: "name status size|...".
    std::string Rows() {
        std::string text;
        for (int row = 0; row < Model().rowCount(); ++row) {
            text += row ? "|" : "";
            for (int column : {TQueueModel::qcName, TQueueModel::qcStatus, TQueueModel::qcSize})
                text += (column ? " " : "") +
                        Model().index(row, column).data().toString().toStdString();
        }
        return text;
    }

    TGlobalVars Vars;
    TRecordingView View;
    // After the view: the session goes before what it reports to.
    TAppController Controller{"", Vars};
    std::vector<int> ChangedRows;
};

} // namespace

TEST(DownloadSession, TheModelFollowsTheQueue) {
    struct TCase {
        const char* Name;
        std::function<void(TSession&)> Act; // after a queue of a, b and c
        const char* Rows;
        std::vector<int> Changed;
    };
    const TCase cases[] = {
        {"rebuilt",
         [](TSession& s) {
             s.Queue().BuildQueue({"d", "e"});
         },
         "d Waiting... 0 KB|e Waiting... 0 KB",
         {}},
        {"emptied", [](TSession& s) { s.Queue().BuildQueue({}); }, "", {}},
        {"one item changed",
         [](TSession& s) {
             s.Vars.URLIndex = 1;
             s.Queue().ShowDownloadStatus("Loading", 2 << 20, 0, 0, "", 40, "5 KB/s");
         },
         "a Waiting... 0 KB|b Loading 2.00MB|c Waiting... 0 KB",
         {1}},
        {"a report for no item",
         [](TSession& s) {
             s.Controller.Downloads()->ItemChanged(3, TDownloadItem{});
             s.Controller.Downloads()->ItemChanged(-1, TDownloadItem{});
         },
         "a Waiting... 0 KB|b Waiting... 0 KB|c Waiting... 0 KB",
         {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TSession s;
        s.Queue().BuildQueue({"a", "b", "c"});
        c.Act(s);
        EXPECT_EQ(s.Rows(), c.Rows);
        EXPECT_EQ(s.ChangedRows, c.Changed);
    }
}

TEST(DownloadSession, ARunReachesTheViewAndItsEndEmptiesTheTable) {
    TSession s;
    s.Queue().BuildQueue({"a", "b"});
    s.Queue().StartRun();
    // The first step waits for the view to hand it back.
    EXPECT_EQ(s.View.Steps, std::vector<TDownloadStep>{dsFetchVideoInfo});
    s.Queue().ShowDownloadStatus("Downloading...", 0, 0, 0, "", 10, "");
    ASSERT_FALSE(s.View.Labels.empty());
    EXPECT_EQ(s.View.Labels.back().Status, "Downloading...");
    EXPECT_EQ(s.View.Labels.back().Progress, 10);

    // Cancelled between two steps: the run ends at once.
    s.Queue().Cancel();
    EXPECT_EQ(s.View.Ends, 1);
    EXPECT_EQ(s.Model().rowCount(), 0);
    EXPECT_EQ(s.View.Labels.back().Status, "...");
    EXPECT_EQ(s.Vars.URLTotal, 2);

    // A new script host leaves no queue behind that still uses the former one.
    s.Controller.CreateScriptHost(0);
    EXPECT_EQ(s.Controller.Downloads(), nullptr);
    EXPECT_EQ(s.Controller.Queue(), nullptr);
}
