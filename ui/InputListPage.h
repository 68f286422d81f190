// Page Step1: the list of files to convert (NextGrid) shown as cards, with the list commands,
// the add-files dialog, dropped files and the failed-files dialog. Files are probed on a
// worker thread, one after another; their rows appear in the given order while the window
// stays responsive, and the files that could not be opened are listed once, after the batch.
#pragma once

#include <QObject>
#include <QPoint>

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class QAction;
class QEventLoop;
class QFileDialog;
class QPixmap;
class QTableView;

namespace cw {

class IPageHost;
class TAppController;
class TImage;
class TInputListModel;
struct TGlobalVars;
struct TProbeResult;

// The page's own controls and commands.
struct TInputListControls {
    QTableView* NextGrid = nullptr;
    QFileDialog* OpenDialog = nullptr;
    TImage* ImageAudioIcon = nullptr; // the picture of a file without video
    QAction* ActionAdd = nullptr;
    QAction* ActionDelete = nullptr;
    QAction* ActionClear = nullptr;
    QAction* ActionMoveUp = nullptr;
    QAction* ActionMoveDown = nullptr;
    QAction* ActionPlay = nullptr;
    std::vector<QPixmap>* Thumbnails = nullptr; // one per added file, kept by the window
};

class TInputListPage : public QObject {
    Q_OBJECT
public:
    // The rows are the controller's input list.
    TInputListPage(const TInputListControls& controls, TAppController& controller,
                   IPageHost& window, QObject* parent);
    ~TInputListPage() override;

    // Probes every file and adds a row for each one that opens; returns when the batch is
    // done. Called again while a batch runs (a drop during the batch), the files join it.
    void AddFiles(const std::vector<std::string>& paths);
    bool Adding() const { return BatchRunning; }
    // The close sequence: the batch ends after the file being probed.
    void StopAdding();

    void ActionAddExecute();
    void ActionDeleteExecute();
    void ActionClearExecute();
    void ActionMoveUpExecute();
    void ActionMoveDownExecute();
    void ActionPlayExecute();
    void NextGridDblClick();
    void NextGridAfterRowMove(int fromPos, int toPos);

    // Moves a row with all its cells; false when an index is outside the list.
    bool MoveRow(int from, int to);
    // The selected row, -1 for none.
    int SelectedRow() const;
    void SelectRow(int row);
    // A cell's text (cells 14 to 16 as numbers in text).
    std::string CellText(int row, int cell) const;
    int RowCount() const;
    // The list commands as the rows and the selection allow.
    void UpdateCommands();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void AddRow(const TProbeResult& result);
    void WorkerLoop();
    void JoinWorker();

    TInputListControls Controls;
    TInputListModel& Rows;
    IPageHost& Window;
    TGlobalVars& Vars;

    // The batch shared with the worker thread.
    std::mutex Lock;
    std::deque<std::string> Pending;
    bool Stopping = false;
    bool WorkerDone = false;
    std::thread Worker;
    bool BatchRunning = false;
    QEventLoop* BatchLoop = nullptr;

    // Row dragging inside the grid.
    int DragFrom = -1;
    QPoint DragStart;
    bool Dragging = false;
};

} // namespace cw
