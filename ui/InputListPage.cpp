#include "ui/InputListPage.h"

#include "app/GlobalVars.h"
#include "app/Platform.h"
#include "app/Utils.h"
#include "base/MainThread.h"
#include "control/AppController.h"
#include "convert/InputList.h"
#include "convert/InputListModel.h"
#include "engine/FFDecoder.h"
#include "ui/FormFailedAddFile.h"
#include "ui/PageHost.h"
#include "ui/Widgets.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTableView>

namespace cw {

namespace {

constexpr int ThumbWidth = 128;
constexpr int ThumbHeight = 88;
constexpr int PathWidth = 255;

// The card of a row: the picture in cell 0 at the left, the four text lines of cells 1 to 4
// at 136 pixels (line tops 0, 33, 49, 65 below a small margin).
class TCardDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem panel = option;
        initStyleOption(&panel, index);
        panel.text.clear();
        panel.icon = QIcon();
        panel.features &= ~QStyleOptionViewItem::HasDecoration;
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, p, widget);

        const bool selected = option.state & QStyle::State_Selected;
        p->save();
        if (index.column() == icMainImage) {
            const QPixmap picture = index.data(Qt::DecorationRole).value<QPixmap>();
            const QRect cell(option.rect.x() + 4, option.rect.y() + 1, ThumbWidth, ThumbHeight);
            if (!picture.isNull()) {
                const QSize size = picture.size().scaled(cell.size(), Qt::KeepAspectRatio);
                const QRect target(cell.x() + (cell.width() - size.width()) / 2,
                                   cell.y() + (cell.height() - size.height()) / 2, size.width(),
                                   size.height());
                p->drawPixmap(target, picture);
            } else {
                p->setPen(option.palette.color(QPalette::Mid));
                p->drawRect(cell.adjusted(0, 0, -1, -1));
            }
        } else if (index.column() == icFileMinName) {
            static const int tops[] = {0, 33, 49, 65};
            p->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
            for (int line = 0; line < 4; ++line) {
                const QString text = index.siblingAtColumn(icFileMinName + line).data().toString();
                QFont font = option.font;
                font.setBold(line == 0);
                p->setFont(font);
                const QRect r(option.rect.x() + 2, option.rect.y() + 6 + tops[line],
                              option.rect.width() - 4, QFontMetrics(font).height());
                p->drawText(r, Qt::AlignLeft | Qt::AlignVCenter,
                            QFontMetrics(font).elidedText(text, Qt::ElideRight, r.width()));
            }
        }
        p->restore();
    }
};

QPixmap ThumbnailPixmap(const TBitmap& bitmap) {
    const QImage image(bitmap.Data(), bitmap.Width(), bitmap.Height(), bitmap.Stride(),
                       QImage::Format_BGR888);
    return QPixmap::fromImage(
        image.scaled(ThumbWidth, ThumbHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

} // namespace

TInputListPage::TInputListPage(const TInputListControls& controls, TAppController& controller,
                               IPageHost& window, QObject* parent)
    : QObject(parent), Controls(controls), Rows(controller.Inputs()), Window(window),
      Vars(controller.Vars()) {
    QTableView* grid = Controls.NextGrid;
    auto* delegate = new TCardDelegate(grid);
    grid->setItemDelegate(delegate);
    grid->setColumnWidth(icMainImage, 136);
    grid->setColumnWidth(icFileMinName, grid->width() - 136 - 22);
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    grid->viewport()->installEventFilter(this);
    grid->setMouseTracking(false);

    connect(Controls.ActionAdd, &QAction::triggered, this, &TInputListPage::ActionAddExecute);
    connect(Controls.ActionDelete, &QAction::triggered, this, &TInputListPage::ActionDeleteExecute);
    connect(Controls.ActionClear, &QAction::triggered, this, &TInputListPage::ActionClearExecute);
    connect(Controls.ActionMoveUp, &QAction::triggered, this, &TInputListPage::ActionMoveUpExecute);
    connect(Controls.ActionMoveDown, &QAction::triggered, this,
            &TInputListPage::ActionMoveDownExecute);
    connect(Controls.ActionPlay, &QAction::triggered, this, &TInputListPage::ActionPlayExecute);
    connect(grid, &QAbstractItemView::doubleClicked, this, &TInputListPage::NextGridDblClick);
}

TInputListPage::~TInputListPage() {
    StopAdding();
    JoinWorker();
}

// --- adding ---------------------------------------------------------------------------------

void TInputListPage::AddFiles(const std::vector<std::string>& paths) {
    if (paths.empty())
        return;
    if (BatchRunning) {
        // A drop while a batch runs: its files follow the batch's own.
        std::lock_guard lock(Lock);
        Pending.insert(Pending.end(), paths.begin(), paths.end());
        return;
    }
    Vars.FailedList.clear();
    QApplication::processEvents();
    {
        std::lock_guard lock(Lock);
        Pending.assign(paths.begin(), paths.end());
        Stopping = false;
        WorkerDone = false;
    }
    BatchRunning = true;
    // Next waits for the batch: the list is converted as a whole or not at all.
    Window.UpdatePageTexts();
    QEventLoop loop;
    BatchLoop = &loop;
    Worker = std::thread([this] { WorkerLoop(); });
    loop.exec();
    BatchLoop = nullptr;
    JoinWorker();
    BatchRunning = false;
    Window.UpdatePageTexts();

    // The failed files are told where they were added; a batch that was stopped, or a user
    // who has left the page, is not interrupted by the list.
    if (!Vars.FailedList.empty() && !Stopping && Window.ActivePage() == wpStep1) {
        TFormFailedAddFile dialog(Vars.FailedList, Vars.HelpSupportLink, Window.Window());
        dialog.adjustSize();
        dialog.move(Window.Window()->geometry().center() -
                    QPoint(dialog.width() / 2, dialog.height() / 2));
        dialog.exec();
    }
}

void TInputListPage::WorkerLoop() {
    TFFDecoder decoder;
    for (;;) {
        std::string path;
        {
            std::lock_guard lock(Lock);
            if (Stopping || Pending.empty()) {
                WorkerDone = true;
                break;
            }
            path = std::move(Pending.front());
            Pending.pop_front();
        }
        auto result = std::make_shared<TProbeResult>(ProbeInputFile(decoder, path));
        QMetaObject::invokeMethod(
            this, [this, result] { AddRow(*result); }, Qt::QueuedConnection);
    }
    // After every row of the batch: files dropped meanwhile start a new worker, else the
    // batch is over.
    QMetaObject::invokeMethod(
        this,
        [this] {
            JoinWorker();
            bool more = false;
            {
                std::lock_guard lock(Lock);
                more = !Stopping && !Pending.empty();
                WorkerDone = false;
            }
            if (more)
                Worker = std::thread([this] { WorkerLoop(); });
            else if (BatchLoop)
                BatchLoop->quit();
        },
        Qt::QueuedConnection);
}

void TInputListPage::JoinWorker() {
    if (!Worker.joinable())
        return;
    // The worker may wait for the main thread (the engine's log lines): serve it meanwhile.
    WaitServing([this] {
        std::lock_guard lock(Lock);
        return WorkerDone;
    });
    Worker.join();
}

void TInputListPage::StopAdding() {
    std::lock_guard lock(Lock);
    Stopping = true;
    Pending.clear();
}

void TInputListPage::AddRow(const TProbeResult& result) {
    {
        // Probed before the batch was stopped, delivered after: the list has moved on.
        std::lock_guard lock(Lock);
        if (Stopping)
            return;
    }
    if (!result.Opened) {
        const std::string line = "File load error: " + result.Error;
        Window.Log(line);
        Vars.FailedList.push_back(result.Error);
        return;
    }
    QTableView* grid = Controls.NextGrid;
    QPixmap picture;
    if (result.Row.AudioOnly) {
        const QPixmap icon = Controls.ImageAudioIcon->pixmap();
        picture = icon.isNull() ? icon
                                : icon.scaled(ThumbWidth, ThumbHeight, Qt::KeepAspectRatio,
                                              Qt::SmoothTransformation);
    } else if (result.HasThumbnail) {
        picture = ThumbnailPixmap(result.Thumbnail);
    }
    Controls.Thumbnails->push_back(picture);

    TInputRow cells = result.Row;
    const QFontMetrics metrics(grid->font());
    cells.Cells[icFileMinName] = ShortenPath(cells.Path(), PathWidth, [&](const std::string& text) {
        return metrics.horizontalAdvance(QString::fromStdString(text));
    });
    Rows.AppendRow(cells, QVariant::fromValue(picture));
}

// --- commands -------------------------------------------------------------------------------

void TInputListPage::ActionAddExecute() {
    QFileDialog* dialog = Controls.OpenDialog;
    dialog->setDirectory(QString::fromStdString(Vars.LastOpenDir));
    if (dialog->exec() != QDialog::Accepted)
        return;
    const QStringList selected = dialog->selectedFiles();
    if (selected.isEmpty())
        return;
    std::vector<std::string> files;
    for (const QString& file : selected)
        files.push_back(file.toStdString());
    BeginBusy();
    try {
        AddFiles(files);
    } catch (...) {
        EndBusy();
        throw;
    }
    if (files.size() > 1)
        dialog->selectFile(QString());
    Vars.LastOpenDir = AddTrailingBackslash(ExtractFilePath(files.front()));
    EndBusy();
}

void TInputListPage::ActionDeleteExecute() {
    const int row = SelectedRow();
    if (row < 0)
        return;
    Rows.RemoveRow(row);
    SelectRow(SelectionAfterDelete(row, RowCount()));
}

void TInputListPage::ActionClearExecute() {
    Rows.Clear();
}

void TInputListPage::ActionMoveUpExecute() {
    const int from = SelectedRow();
    const int to = MoveUpTarget(from);
    if (to >= 0 && MoveRow(from, to))
        SelectRow(to);
}

void TInputListPage::ActionMoveDownExecute() {
    const int from = SelectedRow();
    const int to = MoveDownTarget(from, RowCount());
    if (to >= 0 && MoveRow(from, to))
        SelectRow(to);
}

void TInputListPage::ActionPlayExecute() {
    const int row = SelectedRow();
    if (row >= 0)
        OpenWithShell(CellText(row, icFileFullName));
}

void TInputListPage::NextGridDblClick() {
    ActionPlayExecute();
}

void TInputListPage::NextGridAfterRowMove(int fromPos, int toPos) {
    (void)fromPos;
    SelectRow(toPos);
    Controls.NextGrid->viewport()->update();
}

bool TInputListPage::MoveRow(int from, int to) {
    return Rows.MoveRow(from, to);
}

int TInputListPage::SelectedRow() const {
    QTableView* grid = Controls.NextGrid;
    return grid->selectionModel()->hasSelection() ? grid->currentIndex().row() : -1;
}

void TInputListPage::SelectRow(int row) {
    QTableView* grid = Controls.NextGrid;
    if (row < 0 || row >= RowCount()) {
        grid->clearSelection();
        return;
    }
    grid->setCurrentIndex(Rows.index(row, icFileMinName));
    grid->selectRow(row);
}

std::string TInputListPage::CellText(int row, int cell) const {
    return Rows.CellText(row, TInputCell(cell));
}

void TInputListPage::UpdateCommands() {
    QTableView* grid = Controls.NextGrid;
    const int selected = grid->selectionModel()->hasSelection() ? grid->currentIndex().row() : -1;
    const TInputListCommands commands = InputListCommands(Rows.rowCount(), selected);
    Controls.ActionAdd->setEnabled(true);
    Controls.ActionDelete->setEnabled(commands.Delete);
    Controls.ActionClear->setEnabled(commands.Clear);
    Controls.ActionMoveUp->setEnabled(commands.MoveUp);
    Controls.ActionMoveDown->setEnabled(commands.MoveDown);
    Controls.ActionPlay->setEnabled(commands.Play);
}

int TInputListPage::RowCount() const {
    return Rows.rowCount();
}

// --- dragging rows --------------------------------------------------------------------------

bool TInputListPage::eventFilter(QObject* watched, QEvent* event) {
    QTableView* grid = Controls.NextGrid;
    if (watched != grid->viewport())
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            DragFrom = grid->rowAt(mouse->position().toPoint().y());
            DragStart = mouse->position().toPoint();
            Dragging = false;
        }
        break;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (DragFrom >= 0 && (mouse->buttons() & Qt::LeftButton)) {
            if (!Dragging && (mouse->position().toPoint() - DragStart).manhattanLength() >=
                                 QApplication::startDragDistance()) {
                Dragging = true;
                grid->viewport()->setCursor(Qt::DragMoveCursor);
            }
            if (Dragging)
                return true; // the selection stays on the dragged row
        }
        break;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (Dragging && mouse->button() == Qt::LeftButton) {
            int to = grid->rowAt(mouse->position().toPoint().y());
            if (to < 0)
                to = RowCount() - 1;
            const int from = DragFrom;
            Dragging = false;
            DragFrom = -1;
            grid->viewport()->unsetCursor();
            if (to != from && MoveRow(from, to))
                NextGridAfterRowMove(from, to);
            return true;
        }
        DragFrom = -1;
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace cw
