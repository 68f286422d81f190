// The form definition of the main window: every control with its name, caption and designed
// place. Positions are those of skin layout 0; ApplyBrandingConfig moves the chrome for the
// other layouts.
#include "app/Branding.h"
#include "control/ConversionSession.h"
#include "convert/Catalogue.h"
#include "convert/InputListModel.h"
#include "convert/ProgressListModel.h"
#include "download/QueueModel.h"
#include "ui/FormMain.h"
#include "ui/SkinLayout.h"
#include "ui/Widgets.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTableView>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

namespace cw {

namespace {

constexpr int PageWidth = 553;
constexpr int PageHeight = 426;
constexpr int Inner = 10;                         // margin inside a page
constexpr int InnerWidth = PageWidth - 2 * Inner; // 533

template <class T> T* Named(T* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

QLabel* StaticLabel(const QString& text, QWidget* parent, int x, int y, int w = -1) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->move(x, y);
    if (w > 0)
        label->resize(w, label->sizeHint().height());
    else
        label->adjustSize();
    return label;
}

QLabel* ValueLabel(const char* name, const QString& text, QWidget* parent) {
    auto* label = Named(new QLabel(text, parent), name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QTreeWidget* ReportView(const char* name, const QStringList& columns, QWidget* parent) {
    auto* view = Named(new QTreeWidget(parent), name);
    view->setColumnCount(columns.size());
    view->setHeaderLabels(columns);
    view->setRootIsDecorated(false);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setUniformRowHeights(true);
    view->setAlternatingRowColors(true);
    return view;
}

// A report view over a model: the columns and their captions are the model's.
QTreeView* ModelView(const char* name, QAbstractItemModel* model, QWidget* parent) {
    auto* view = Named(new QTreeView(parent), name);
    view->setModel(model);
    view->setRootIsDecorated(false);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setUniformRowHeights(true);
    view->setAlternatingRowColors(true);
    return view;
}

QAction* MakeAction(QWidget* owner, const char* name, const QString& caption,
                    const QKeySequence& shortcut = QKeySequence()) {
    auto* action = new QAction(caption, owner);
    action->setObjectName(name);
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        action->setShortcutContext(Qt::WindowShortcut);
    }
    owner->addAction(action);
    return action;
}

QToolButton* ListButton(const char* name, QAction* action, QWidget* parent) {
    auto* button = Named(new QToolButton(parent), name);
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

// A caption and a value label side by side in a status grid.
QLabel* StatusRow(QGridLayout* grid, int row, const QString& caption, const char* name,
                  QWidget* parent, QLabel** captionLabel = nullptr) {
    auto* c = new QLabel(caption, parent);
    c->setTextFormat(Qt::PlainText);
    auto* value = ValueLabel(name, "...", parent);
    value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    c->setBuddy(value);
    grid->addWidget(c, row, 0);
    grid->addWidget(value, row, 1);
    if (captionLabel)
        *captionLabel = c;
    return value;
}

// A control of a summary page: its object name and the window's member that keeps it.
template <class T> struct TNamedControl {
    const char* Name;
    T** Into;
};

struct TSummaryPage {
    TNamedControl<QLabel> Title1;
    const char* Title1Text;
    const char* Group;
    TNamedControl<QLabel> TotalFiles, Succeeded, Failed, Title2;
    TNamedControl<TLinkLabel> OpenFolder;
};

// What the conversion's and the download's summary pages share: the bold title, the group
// with the three counts, the line below it and the folder link, in the same places.
void BuildSummary(QWidget* page, const TSummaryPage& names) {
    QLabel* title = *names.Title1.Into = ValueLabel(names.Title1.Name, names.Title1Text, page);
    title->setGeometry(Inner, 14, InnerWidth, 24);
    QFont big = title->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.15);
    title->setFont(big);

    auto* summary = new QGroupBox("Summary", page);
    summary->setObjectName(names.Group);
    summary->setGeometry(Inner, 50, InnerWidth, 100);
    auto* grid = new QGridLayout(summary);
    grid->setContentsMargins(14, 8, 14, 8);
    grid->setColumnMinimumWidth(0, 110);
    auto row = [&](int r, const QString& caption, const TNamedControl<QLabel>& value) {
        auto* c = new QLabel(caption, summary);
        auto* v = *value.Into = ValueLabel(value.Name, "0", summary);
        c->setBuddy(v);
        grid->addWidget(c, r, 0);
        grid->addWidget(v, r, 1);
    };
    row(0, "Total files:", names.TotalFiles);
    row(1, "Successed:", names.Succeeded);
    row(2, "Failed:", names.Failed);
    grid->setColumnStretch(1, 1);

    QLabel* below = *names.Title2.Into =
        ValueLabel(names.Title2.Name,
                   "To convert other files, click \"Finish\". Click \"Exit\" to quit %s.", page);
    below->setGeometry(Inner, 162, InnerWidth, 22);
    TLinkLabel* link = *names.OpenFolder.Into =
        Named(new TLinkLabel("Open folder", page), names.OpenFolder.Name);
    link->move(Inner, 192);
    link->adjustSize();
}

} // namespace

void TFormMain::BuildForm() {
    setObjectName("FormMain");
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setFixedSize(MainWindowWidth, MainWindowHeight);
    setAttribute(Qt::WA_DeleteOnClose, false);
    BuildActions();
    BuildChrome();

    PageControlMain = Named(new QStackedWidget(this), "PageControlMain");
    PageControlMain->setGeometry(203, 74, PageWidth, PageHeight);
    for (int p = 0; p < WizardPageCount; ++p) {
        auto* page = new QWidget;
        page->setObjectName(WizardPageName(TWizardPage(p)));
        page->resize(PageWidth, PageHeight);
        Pages[p] = page;
        PageControlMain->addWidget(page);
    }
    BuildModePage(Pages[wpMode]);
    BuildStep1(Pages[wpStep1]);
    BindListShortcutsToStep1();
    BuildStep2(Pages[wpStep2]);
    BuildStep3(Pages[wpStep3]);
    BuildStep4(Pages[wpStep4]);
    BuildStep5(Pages[wpStep5]);
    BuildStep6(Pages[wpStep6]);
    BuildStep7(Pages[wpStep7]);
    PageControlMain->setCurrentIndex(wpMode); // the page active in the form definition
    connect(PageControlMain, &QStackedWidget::currentChanged, this, [this] { UpdatePageTexts(); });

    // Keyboard order: the page's controls first, then the command buttons.
    setTabOrder(PageControlMain, ButtonNext);
    setTabOrder(ButtonNext, ButtonBack);
    setTabOrder(ButtonBack, ButtonExit);
    setTabOrder(ButtonExit, ButtonHelp);
    setTabOrder(ButtonHelp, ButtonLog);
    setTabOrder(ButtonLog, ButtonMin);
    setTabOrder(ButtonMin, ButtonClose);
}

void TFormMain::BuildActions() {
    ActionHelp = MakeAction(this, "ActionHelp", "Help");
    ActionHelpContent = MakeAction(this, "ActionHelpContent", "Help Content", Qt::Key_F1);
    ActionHowTosTutorialVideos =
        MakeAction(this, "ActionHowTosTutorialVideos", "How Tos && Tutorial Videos...");
    ActionHomePage = MakeAction(this, "ActionHomePage", "Home Page");
    ActionMoreFreeTools = MakeAction(this, "ActionMoreFreeTools", "More Free Tools...");
    ActionCheckforUpdates = MakeAction(this, "ActionCheckforUpdates", "Check for Updates...");
    ActionContactTechnicalSupport =
        MakeAction(this, "ActionContactTechnicalSupport", "Contact Technical Support...");
    ActionAbout = MakeAction(this, "ActionAbout", "About");
    ActionLog = MakeAction(this, "ActionLog", "Log");
    ActionExit = MakeAction(this, "ActionExit", "Exit", QKeySequence(Qt::ALT | Qt::Key_F4));
    ActionBack = MakeAction(this, "ActionBack", "Back");
    ActionNext = MakeAction(this, "ActionNext", "Next");

    ActionAdd =
        MakeAction(this, "ActionAdd", "&Add File(s)...", QKeySequence(Qt::CTRL | Qt::Key_O));
    ActionDelete = MakeAction(this, "ActionDelete", "&Delete", QKeySequence(Qt::Key_Delete));
    ActionClear =
        MakeAction(this, "ActionClear", "&Clear", QKeySequence(Qt::SHIFT | Qt::Key_Delete));
    ActionMoveUp = MakeAction(this, "ActionMoveUp", "&Move Up");
    ActionMoveDown = MakeAction(this, "ActionMoveDown", "M&ove Down");
    ActionPlay = MakeAction(this, "ActionPlay", "&Play", QKeySequence(Qt::CTRL | Qt::Key_P));

    ActionURLPaste = MakeAction(this, "ActionURLPaste", "&Paste");
    ActionURLRemove = MakeAction(this, "ActionURLRemove", "&Remove");
    ActionURLEmpty = MakeAction(this, "ActionURLEmpty", "&Empty");
    ActionURLSelect = MakeAction(this, "ActionURLSelect", "Select...");

    PopupMenuHelp = Named(new QMenu(this), "PopupMenuHelp");
    PopupMenuHelp->addAction(ActionHelpContent);
    PopupMenuHelp->addAction(ActionHowTosTutorialVideos);
    PopupMenuHelp->addSeparator();
    // The menu entry reads "Home Page..." while the command itself is "Home Page".
    auto* homePageEntry = Named(new QAction("Home Page...", PopupMenuHelp), "MenuHomePage");
    connect(homePageEntry, &QAction::triggered, ActionHomePage, &QAction::trigger);
    PopupMenuHelp->addAction(homePageEntry);
    PopupMenuHelp->addAction(ActionMoreFreeTools);
    PopupMenuHelp->addSeparator();
    PopupMenuHelp->addAction(ActionCheckforUpdates);
    PopupMenuHelp->addAction(ActionContactTechnicalSupport);
    PopupMenuHelp->addSeparator();
    PopupMenuHelp->addAction(ActionAbout);

    connect(ActionHelp, &QAction::triggered, this, &TFormMain::ActionHelpExecute);
    connect(ActionHelpContent, &QAction::triggered, this, &TFormMain::ActionHelpContentExecute);
    connect(ActionHowTosTutorialVideos, &QAction::triggered, this,
            &TFormMain::ActionHowTosTutorialVideosExecute);
    connect(ActionHomePage, &QAction::triggered, this, &TFormMain::ActionHomePageExecute);
    connect(ActionMoreFreeTools, &QAction::triggered, this, &TFormMain::ActionMoreFreeToolsExecute);
    connect(ActionCheckforUpdates, &QAction::triggered, this,
            &TFormMain::ActionCheckforUpdatesExecute);
    connect(ActionContactTechnicalSupport, &QAction::triggered, this,
            &TFormMain::ActionContactTechnicalSupportExecute);
    connect(ActionAbout, &QAction::triggered, this, &TFormMain::ActionAboutExecute);
    connect(ActionLog, &QAction::triggered, this, &TFormMain::ActionLogExecute);
    connect(ActionExit, &QAction::triggered, this, &TFormMain::ActionExitExecute);
    connect(ActionBack, &QAction::triggered, this, &TFormMain::ActionBackExecute);
    connect(ActionNext, &QAction::triggered, this, &TFormMain::ActionNextExecute);
}

void TFormMain::BindListShortcutsToStep1() {
    // Qt offers a shortcut only while a widget that carries its action is visible: on the
    // Step1 page (and its buttons) the list's keys are dead on every other page, so Del in
    // a folder box or Ctrl+O on the downloader's page never reaches the file list. Del and
    // Shift+Del also need the focus inside the page.
    for (QAction* a :
         {ActionAdd, ActionDelete, ActionClear, ActionMoveUp, ActionMoveDown, ActionPlay}) {
        removeAction(a);
        Pages[wpStep1]->addAction(a);
    }
    for (QAction* a : {ActionDelete, ActionClear})
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
}

void TFormMain::BuildChrome() {
    ImageTopLogo = Named(new TImage(this), "ImageTopLogo");
    ImageTopLogo->setGeometry(0, 0, 320, 34);
    ImageTopLogo->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ImageLeftLogo = Named(new TImage(this), "ImageLeftLogo");
    ImageLeftLogo->setGeometry(8, 74, 187, 426);
    for (TImage* logo : {ImageTopLogo, ImageLeftLogo}) {
        connect(logo, &TImage::MousePressed, this, &TFormMain::StartWindowDrag);
        connect(logo, &TImage::MouseMoved, this, &TFormMain::MoveWindowDrag);
        connect(logo, &TImage::MouseReleased, this, [this] { Dragging = false; });
    }

    LabelTitle = Named(new QLabel(this), "LabelTitle");
    LabelTitle->setTextFormat(Qt::PlainText);
    LabelTitle->setGeometry(24, 43, MainWindowWidth - 48, 24);
    QFont titleFont = LabelTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.08);
    LabelTitle->setFont(titleFont);
    LabelTitle->setStyleSheet("color: #1d2b3a;");

    LabelVersion = Named(new QLabel(this), "LabelVersion");
    LabelVersion->setTextFormat(Qt::PlainText);
    LabelVersion->setGeometry(14, 462, 180, 16);
    LabelMoreTools = Named(new TLinkLabel("more free tools...", this), "LabelMoreTools");
    LabelMoreTools->setGeometry(14, 480, 180, 16);
    connect(LabelMoreTools, &TLinkLabel::Clicked, this, &TFormMain::LabelMoreToolsClick);

    ButtonMin = Named(new TImageButton(this), "ButtonMin");
    ButtonMin->setAccessibleName("Minimize");
    ButtonMin->setToolTip("Minimize");
    ButtonMin->setGeometry(696, 4, 28, 24);
    ButtonClose = Named(new TImageButton(this), "ButtonClose");
    ButtonClose->setAccessibleName("Close");
    ButtonClose->setToolTip("Close");
    ButtonClose->setGeometry(728, 4, 28, 24);
    connect(ButtonMin, &QAbstractButton::clicked, this, &TFormMain::ButtonMinClick);
    connect(ButtonClose, &QAbstractButton::clicked, this, &TFormMain::ButtonCloseClick);

    struct TBottom {
        TImageButton** Button;
        const char* Name;
        QAction* Action;
        QPoint At;
    };
    const TBottom bottoms[] = {{&ButtonHelp, "ButtonHelp", ActionHelp, {40, 510}},
                               {&ButtonLog, "ButtonLog", ActionLog, {138, 510}},
                               {&ButtonBack, "ButtonBack", ActionBack, {426, 510}},
                               {&ButtonNext, "ButtonNext", ActionNext, {522, 510}},
                               {&ButtonExit, "ButtonExit", ActionExit, {672, 510}}};
    for (const auto& b : bottoms) {
        *b.Button = Named(new TImageButton(this), b.Name);
        (*b.Button)->SetAction(b.Action);
        (*b.Button)->setGeometry(QRect(b.At, QSize(88, 28)));
    }

    ImageAd = Named(new TImage(this), "ImageAd");
    ImageAd->setGeometry(8, 440, 187, 60);
    ImageAd->hide();
    clProgressBar = Named(new QProgressBar(this), "clProgressBar");
    clProgressBar->setGeometry(236, 516, 170, 16);
    clProgressBar->hide();
}

void TFormMain::BuildModePage(QWidget* page) {
    // Two picture cards side by side; each picture selects its choice.
    constexpr int cardW = 240, cardH = 150, gap = 33;
    const int left = (PageWidth - 2 * cardW - gap) / 2;
    ImageDownloadVideo = Named(new TImage(page), "ImageDownloadVideo");
    ImageDownloadVideo->setGeometry(left, 44, cardW, cardH);
    ImageDownloadVideo->setAccessibleName("Download video from YouTube");
    ImageConvertVideo = Named(new TImage(page), "ImageConvertVideo");
    ImageConvertVideo->setGeometry(left + cardW + gap, 44, cardW, cardH);
    ImageConvertVideo->setAccessibleName("Convert audio/video (previously downloaded) from file");
    for (TImage* image : {ImageDownloadVideo, ImageConvertVideo})
        image->setCursor(Qt::PointingHandCursor);

    RadioButtonDownloadVideo =
        Named(new QRadioButton("Download video from YouTube", page), "RadioButtonDownloadVideo");
    RadioButtonDownloadVideo->setGeometry(left, 226, PageWidth - 2 * left, 24);
    RadioButtonDownloadVideo->setChecked(true);
    RadioButtonConvertVideo =
        Named(new QRadioButton("Convert audio/video (previously downloaded) from file", page),
              "RadioButtonConvertVideo");
    RadioButtonConvertVideo->setGeometry(left, 256, PageWidth - 2 * left, 24);

    connect(ImageDownloadVideo, &TImage::Clicked, this, &TFormMain::ImageDownloadVideoClick);
    connect(ImageConvertVideo, &TImage::Clicked, this, &TFormMain::ImageConvertVideoClick);
    // The card of the chosen workflow is outlined.
    auto outline = [this] {
        const QString on = "border: 3px solid #2f7fd8; border-radius: 8px;";
        const QString off = "border: 3px solid transparent; border-radius: 8px;";
        ImageDownloadVideo->setStyleSheet(RadioButtonDownloadVideo->isChecked() ? on : off);
        ImageConvertVideo->setStyleSheet(RadioButtonConvertVideo->isChecked() ? on : off);
    };
    connect(RadioButtonDownloadVideo, &QRadioButton::toggled, this, outline);
    outline();
}

void TFormMain::BuildStep1(QWidget* page) {
    InputRows = &Controller->Inputs();
    NextGrid = Named(new QTableView(page), "NextGrid");
    NextGrid->setModel(InputRows);
    NextGrid->setGeometry(Inner, Inner, 410, PageHeight - 2 * Inner);
    NextGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    NextGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    NextGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    NextGrid->horizontalHeader()->hide();
    NextGrid->verticalHeader()->hide();
    NextGrid->verticalHeader()->setDefaultSectionSize(90);
    NextGrid->setShowGrid(false);
    NextGrid->setColumnWidth(0, 136);
    NextGrid->horizontalHeader()->setStretchLastSection(false);
    for (int c = icDuration; c < InputCellCount; ++c)
        NextGrid->setColumnHidden(c, true);
    NextGrid->setColumnWidth(1, 255);
    NextGrid->setAccessibleName("Files to convert");
    NextGrid->setContextMenuPolicy(Qt::CustomContextMenu);

    PopupMenuNextGrid = Named(new QMenu(this), "PopupMenuNextGrid");
    PopupMenuNextGrid->addAction(ActionAdd);
    PopupMenuNextGrid->addAction(ActionDelete);
    PopupMenuNextGrid->addAction(ActionClear);
    PopupMenuNextGrid->addSeparator();
    PopupMenuNextGrid->addAction(ActionMoveUp);
    PopupMenuNextGrid->addAction(ActionMoveDown);
    PopupMenuNextGrid->addSeparator();
    PopupMenuNextGrid->addAction(ActionPlay);
    connect(NextGrid, &QWidget::customContextMenuRequested, this,
            [this](QPoint at) { PopupMenuNextGrid->popup(NextGrid->viewport()->mapToGlobal(at)); });

    const int x = Inner + 410 + 10;
    const int w = PageWidth - x - Inner;
    int y = Inner;
    struct TRow {
        QToolButton** Button;
        const char* Name;
        QAction* Action;
        int GapBefore;
    };
    const TRow rows[] = {{&ButtonAdd, "ButtonAdd", ActionAdd, 0},
                         {&ButtonDelete, "ButtonDelete", ActionDelete, 0},
                         {&ButtonClear, "ButtonClear", ActionClear, 0},
                         {&ButtonMoveUp, "ButtonMoveUp", ActionMoveUp, 14},
                         {&ButtonMoveDown, "ButtonMoveDown", ActionMoveDown, 0},
                         {&ButtonPlay, "ButtonPlay", ActionPlay, 14}};
    for (const auto& r : rows) {
        y += r.GapBefore;
        *r.Button = ListButton(r.Name, r.Action, page);
        (*r.Button)->setGeometry(x, y, w, 28);
        y += 34;
    }

    ImageAudioIcon = Named(new TImage(page), "ImageAudioIcon");
    ImageAudioIcon->setGeometry(0, 0, 128, 88);
    ImageAudioIcon->hide();

    OpenDialog = Named(new QFileDialog(this), "OpenDialog");
    OpenDialog->setFileMode(QFileDialog::ExistingFiles);
    OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog->setNameFilters(NameFiltersFromText(OpenDialogFilter));
    OpenDialog->setOption(QFileDialog::ReadOnly, false);
    OpenDialog->setSizeGripEnabled(true);

    connect(NextGrid->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TFormMain::ActionListUpdate);
    connect(InputRows, &QAbstractItemModel::rowsInserted, this, &TFormMain::ActionListUpdate);
    connect(InputRows, &QAbstractItemModel::rowsRemoved, this, &TFormMain::ActionListUpdate);
    connect(InputRows, &QAbstractItemModel::rowsMoved, this, &TFormMain::ActionListUpdate);
    connect(InputRows, &QAbstractItemModel::modelReset, this, &TFormMain::ActionListUpdate);
}

void TFormMain::BuildStep2(QWidget* page) {
    LabelOutputDir = Named(StaticLabel("Output directory:", page, Inner, 22), "LabelOutputDir");
    EditOutputDir = Named(new QLineEdit(page), "EditOutputDir");
    EditOutputDir->setGeometry(Inner, 44, InnerWidth - 110, 28);
    LabelOutputDir->setBuddy(EditOutputDir);
    ButtonSelectDir = Named(new QPushButton("Select...", page), "ButtonSelectDir");
    ButtonSelectDir->setGeometry(Inner + InnerWidth - 100, 44, 100, 28);
    connect(ButtonSelectDir, &QPushButton::clicked, this, &TFormMain::ButtonSelectDirClick);

    LabelConvertTo = Named(StaticLabel("Convert to:", page, Inner, 100), "LabelConvertTo");
    // Class and format choices: the chosen button is filled, the others are outlined.
    page->setStyleSheet(
        "QToolButton { background: #ffffff; border: 1px solid #aab6c5; border-radius: 5px;"
        " color: #1d2b3a; padding: 2px; }"
        "QToolButton:hover { background: #eaf2fd; border-color: #4f8ad0; }"
        "QToolButton:checked { background: #2f7fd8; border: 1px solid #1f5fa8; color: white;"
        " font-weight: bold; }"
        "QToolButton:focus { border: 2px solid #4f8ad0; }"
        "QToolButton:checked:focus { border: 2px solid #173f73; }");

    ClassButtons = new QButtonGroup(this);
    ClassButtons->setExclusive(true);
    for (const TOutputClassInfo& info : OutputClasses()) {
        const int c = info.Index;
        const QString className = QString::fromUtf8(info.Name.data(), int(info.Name.size()));
        auto* b = Named(new QToolButton(page), "ButtonToFormat" + className);
        b->setText(className);
        b->setCheckable(true);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setGeometry(18 + c * 171, 135, 165, 28);
        b->setFocusPolicy(Qt::StrongFocus);
        ClassButtons->addButton(b, c);
        ButtonToFormat[size_t(c)] = b;
        connect(b, &QToolButton::clicked, this, [this, c] { SelectOutputClass(c); });
    }

    RzPageControlToFormat = Named(new QStackedWidget(page), "RzPageControlToFormat");
    RzPageControlToFormat->setGeometry(Inner, 172, InnerWidth, PageHeight - 172 - 4);
    // The caption of each format button; the accessible name keeps the format's own name.
    for (const TOutputClassInfo& info : OutputClasses()) {
        const int c = info.Index;
        const QString className = QString::fromUtf8(info.Name.data(), int(info.Name.size()));
        auto* sheet = new QWidget;
        sheet->setObjectName("TabSheetToFormat" + className);
        sheet->resize(RzPageControlToFormat->size());
        sheet->setAccessibleName(className);
        TabSheetToFormat[size_t(c)] = sheet;
        RzPageControlToFormat->addWidget(sheet);
        FormatButtons[size_t(c)] = new QButtonGroup(this);
        FormatButtons[size_t(c)]->setExclusive(true);
        for (const TOutputFormat& format : info.Formats) {
            const int f = format.Index;
            const QString name = QString::fromUtf8(format.Name.data(), int(format.Name.size()));
            auto* b = new QToolButton(sheet);
            b->setObjectName("ButtonFormat" + name);
            b->setText(QString::fromUtf8(format.Caption.data(), int(format.Caption.size())));
            b->setAccessibleName(name);
            b->setToolTip(name);
            b->setCheckable(true);
            b->setToolButtonStyle(Qt::ToolButtonTextOnly);
            b->setFocusPolicy(Qt::StrongFocus);
            b->setGeometry(10 + f * 64, 5, 62, 57);
            FormatButtons[size_t(c)]->addButton(b, f);
            ButtonFormat[size_t(c)].push_back(b);
            connect(b, &QToolButton::clicked, this, [this, c, f] { SelectOutputFormat(c, f); });
        }
    }
}

void TFormMain::BuildStep3(QWidget* page) {
    ProgressList = &Controller->Conversion().Rows();
    ListViewConverting = ModelView("ListViewConverting", ProgressList, page);
    ListViewConverting->setGeometry(Inner, Inner, InnerWidth, 168);
    ListViewConverting->setColumnWidth(0, 150);
    ListViewConverting->setColumnWidth(1, 100);
    ListViewConverting->setColumnWidth(2, 90);
    ListViewConverting->setColumnWidth(3, 70);

    GroupStatus = Named(new QGroupBox("Status", page), "GroupStatus");
    GroupStatus->setGeometry(Inner, 186, InnerWidth, 148);
    auto* grid = new QGridLayout(GroupStatus);
    grid->setContentsMargins(12, 8, 12, 8);
    grid->setVerticalSpacing(4);
    grid->setColumnMinimumWidth(0, 150);
    LabelCurrentFile = StatusRow(grid, 0, "Current file:", "LabelCurrentFile", GroupStatus,
                                 &LabelCurrentFileTitle);
    LabelCurrentFileTitle->setObjectName("LabelCurrentFileTitle");
    LabelEstimated = StatusRow(grid, 1, "Estimated overall time:", "LabelEstimated", GroupStatus);
    LabelElapsed = StatusRow(grid, 2, "Elapsed time:", "LabelElapsed", GroupStatus);
    LabelTimeLeft = StatusRow(grid, 3, "Time left:", "LabelTimeLeft", GroupStatus);
    for (QLabel* l : {LabelEstimated, LabelElapsed, LabelTimeLeft})
        l->setText("0:00:00");
    auto* overall = new QLabel("Overall Progress:", GroupStatus);
    grid->addWidget(overall, 4, 0);
    auto* bar = new QHBoxLayout;
    ProgressBar = Named(new QProgressBar(GroupStatus), "ProgressBar");
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    ProgressBar->setAccessibleName("Overall Progress:");
    LabelProgress = ValueLabel("LabelProgress", "0%", GroupStatus);
    LabelProgress->setMinimumWidth(40);
    bar->addWidget(ProgressBar, 1);
    bar->addWidget(LabelProgress);
    grid->addLayout(bar, 4, 1);
    grid->setColumnStretch(1, 1);

    auto* options = new QGroupBox("Post-Progress Options", page);
    options->setObjectName("GroupPostProgress");
    options->setGeometry(Inner, 340, InnerWidth, 76);
    auto* column = new QVBoxLayout(options);
    column->setContentsMargins(12, 6, 12, 6);
    column->setSpacing(2);
    CheckBoxPlayASound = Named(new QCheckBox("&Play a sound when conversion is finished", options),
                               "CheckBoxPlayASound");
    CheckBoxShutdown =
        Named(new QCheckBox("&Shut down the computer after all tasks are finished", options),
              "CheckBoxShutdown");
    column->addWidget(CheckBoxPlayASound);
    column->addWidget(CheckBoxShutdown);
    CheckBoxPreview = Named(new QCheckBox("Preview", options), "CheckBoxPreview");
    CheckBoxPreview->adjustSize();
    CheckBoxPreview->move(InnerWidth - CheckBoxPreview->width() - 14, 26);
}

void TFormMain::BuildStep4(QWidget* page) {
    BuildSummary(page, {{"LabelFinishTitle1", &LabelFinishTitle1},
                        "%s has finished the conversion.",
                        "GroupSummary",
                        {"LabelFinishTotalFiles", &LabelFinishTotalFiles},
                        {"LabelFinishSuccessed", &LabelFinishSuccessed},
                        {"LabelFinishFailed", &LabelFinishFailed},
                        {"LabelFinishTitle2", &LabelFinishTitle2},
                        {"LabelOpenFolder", &LabelOpenFolder}});

    MemoErrorLog = Named(new QPlainTextEdit(page), "MemoErrorLog");
    MemoErrorLog->setGeometry(Inner, 222, InnerWidth, PageHeight - 222 - Inner);
    MemoErrorLog->setFrameShape(QFrame::NoFrame);
    MemoErrorLog->setReadOnly(true);
    MemoErrorLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoErrorLog->setAccessibleName("Errors");
    MemoErrorLog->hide();
}

void TFormMain::BuildStep5(QWidget* page) {
    auto* input = new QGroupBox(" Input URLs ", page);
    input->setObjectName("GroupInputURLs");
    input->setGeometry(Inner, 4, InnerWidth, 206);
    ListViewInputURL = ReportView("ListViewInputURL", {"Videos"}, input);
    ListViewInputURL->setHeaderHidden(true);
    ListViewInputURL->setSelectionMode(QAbstractItemView::SingleSelection);
    ListViewInputURL->setGeometry(12, 24, InnerWidth - 24 - 110, 170);
    ListViewInputURL->setAccessibleName("Videos");
    const int bx = InnerWidth - 12 - 100;
    ButtonURLPaste = Named(new QPushButton(input), "ButtonURLPaste");
    ButtonURLRemove = Named(new QPushButton(input), "ButtonURLRemove");
    ButtonURLEmpty = Named(new QPushButton(input), "ButtonURLEmpty");
    int y = 24;
    for (auto [button, action] :
         {std::pair{ButtonURLPaste, ActionURLPaste}, std::pair{ButtonURLRemove, ActionURLRemove},
          std::pair{ButtonURLEmpty, ActionURLEmpty}}) {
        button->setGeometry(bx, y, 100, 28);
        button->setText(action->text());
        button->setEnabled(action->isEnabled());
        connect(action, &QAction::changed, button, [button, action] {
            button->setText(action->text());
            button->setEnabled(action->isEnabled());
        });
        connect(button, &QPushButton::clicked, action, &QAction::trigger);
        y += 34;
    }
    PopupMenuListViewURL = Named(new QMenu(this), "PopupMenuListViewURL");
    auto* menuPaste = Named(new QAction("&Paste", PopupMenuListViewURL), "MenuPaste");
    menuPaste->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
    connect(menuPaste, &QAction::triggered, ActionURLPaste, &QAction::trigger);
    PopupMenuListViewURL->addAction(menuPaste);
    auto* menuDelete =
        Named(new QAction(ActionURLRemove->text(), PopupMenuListViewURL), "MenuDelete");
    connect(menuDelete, &QAction::triggered, ActionURLRemove, &QAction::trigger);
    PopupMenuListViewURL->addAction(menuDelete);
    ListViewInputURL->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListViewInputURL, &QWidget::customContextMenuRequested, this, [this](QPoint at) {
        PopupMenuListViewURL->popup(ListViewInputURL->viewport()->mapToGlobal(at));
    });

    auto* setup = new QGroupBox(" Setup ", page);
    setup->setObjectName("GroupSetup");
    setup->setGeometry(Inner, 216, InnerWidth, 84);
    LabelURLOutputDir = Named(StaticLabel("Output directory:", setup, 12, 24), "LabelURLOutputDir");
    EditURLOutput = Named(new QLineEdit(setup), "EditURLOutput");
    EditURLOutput->setGeometry(12, 44, InnerWidth - 24 - 110, 28);
    LabelURLOutputDir->setBuddy(EditURLOutput);
    ButtonURLSelect = Named(new QPushButton(ActionURLSelect->text(), setup), "ButtonURLSelect");
    ButtonURLSelect->setGeometry(bx, 44, 100, 28);
    connect(ButtonURLSelect, &QPushButton::clicked, ActionURLSelect, &QAction::trigger);

    auto* quality = new QGroupBox(" Quality ", page);
    quality->setObjectName("GroupQuality");
    quality->setGeometry(Inner, 306, InnerWidth, PageHeight - 306 - 6);
    CheckBoxYouTubeQuality =
        Named(new QCheckBox("Prefer YouTube high quality", quality), "CheckBoxYouTubeQuality");
    CheckBoxYouTubeQuality->setGeometry(12, 26, 300, 24);
    ButtonYouTubeQualityConfig =
        Named(new QPushButton("Config...", quality), "ButtonYouTubeQualityConfig");
    ButtonYouTubeQualityConfig->setGeometry(bx, 24, 100, 28);
    LabelYouTubeQuality = ValueLabel("LabelYouTubeQuality", "", quality);
    LabelYouTubeQuality->setGeometry(12, 58, InnerWidth - 24, 40);
    LabelYouTubeQuality->setWordWrap(true);
    LabelYouTubeQuality->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    connect(CheckBoxYouTubeQuality, &QCheckBox::toggled, ButtonYouTubeQualityConfig,
            &QWidget::setEnabled);

    connect(ListViewInputURL, &QTreeWidget::itemSelectionChanged, this,
            &TFormMain::ActionListURLUpdate);
    connect(ListViewInputURL->model(), &QAbstractItemModel::rowsInserted, this,
            &TFormMain::ActionListURLUpdate);
    connect(ListViewInputURL->model(), &QAbstractItemModel::rowsRemoved, this,
            &TFormMain::ActionListURLUpdate);
    connect(ListViewInputURL->model(), &QAbstractItemModel::modelReset, this,
            &TFormMain::ActionListURLUpdate);
}

void TFormMain::BuildStep6(QWidget* page) {
    QueueList = &Controller->QueueRowsModel();
    ListViewURLDownload = ModelView("ListViewURLDownload", QueueList, page);
    ListViewURLDownload->setGeometry(Inner, Inner, InnerWidth, 190);
    ListViewURLDownload->setColumnWidth(0, 160);
    ListViewURLDownload->setColumnWidth(1, 90);
    ListViewURLDownload->setColumnWidth(2, 60);
    ListViewURLDownload->setColumnWidth(3, 70);
    ListViewURLDownload->setColumnWidth(4, 60);

    auto* status = new QGroupBox("Status", page);
    status->setObjectName("GroupURLStatus");
    status->setGeometry(Inner, 208, InnerWidth, PageHeight - 208 - Inner);
    auto* grid = new QGridLayout(status);
    grid->setContentsMargins(12, 8, 12, 10);
    grid->setVerticalSpacing(5);
    grid->setColumnMinimumWidth(0, 110);
    LabelURLCurrentFile = StatusRow(grid, 0, "Current file:", "LabelURLCurrentFile", status);
    LabelURLStatus = StatusRow(grid, 1, "Status:", "LabelURLStatus", status);
    LabelSpeed = StatusRow(grid, 2, "Speed:", "LabelSpeed", status);
    LabelURLElapsedTime = StatusRow(grid, 3, "Elapsed time:", "LabelURLElapsedTime", status);
    LabelURLTimeLeft = StatusRow(grid, 4, "Time left:", "LabelURLTimeLeft", status);
    LabelQuality = StatusRow(grid, 5, "Quality:", "LabelQuality", status);
    grid->addWidget(new QLabel("Progress:", status), 6, 0);
    auto* bar = new QHBoxLayout;
    ProgressBarDownload = Named(new QProgressBar(status), "ProgressBarDownload");
    ProgressBarDownload->setRange(0, 100);
    ProgressBarDownload->setValue(0);
    ProgressBarDownload->setTextVisible(false);
    ProgressBarDownload->setAccessibleName("Progress:");
    LabelProgressBarDownload = ValueLabel("LabelProgressBarDownload", "0%", status);
    LabelProgressBarDownload->setMinimumWidth(40);
    bar->addWidget(ProgressBarDownload, 1);
    bar->addWidget(LabelProgressBarDownload);
    grid->addLayout(bar, 6, 1);
    grid->setColumnStretch(1, 1);
}

void TFormMain::BuildStep7(QWidget* page) {
    BuildSummary(page, {{"LabelFinishedDownloading1", &LabelFinishedDownloading1},
                        "%s has finished the downloading.",
                        "GroupURLSummary",
                        {"LabelURLTotalFiles", &LabelURLTotalFiles},
                        {"LabelURLSucedded", &LabelURLSucedded},
                        {"LabelURLFailed", &LabelURLFailed},
                        {"LabelFinishedDownloading2", &LabelFinishedDownloading2},
                        {"LabelURLOpenFolder", &LabelURLOpenFolder}});
    ButtonConvertDownloaded = Named(new QPushButton("Convert the downloaded file(s) now! ", page),
                                    "ButtonConvertDownloaded");
    ButtonConvertDownloaded->adjustSize();
    ButtonConvertDownloaded->setGeometry(Inner, 226, ButtonConvertDownloaded->width() + 24, 32);
}

} // namespace cw
