#include "ui/FormAbout.h"

#include "app/GlobalVars.h"
#include "app/Platform.h"
#include "ui/Widgets.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace cw {

namespace {
// The designed geometry: picture panel at the left, pages to its right, OK below them.
constexpr int Margin = 10;
constexpr int PanelWidth = 160;
constexpr int PagesLeft = Margin + PanelWidth + 10;
constexpr int PagesWidth = 370;
constexpr int PagesHeight = 262;
constexpr int ButtonTop = Margin + PagesHeight + 10;
constexpr int DesignedHeight = ButtonTop + 28 + 12;

QLabel* Caption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}
} // namespace

TFormAbout::TFormAbout(const std::string& title, const TGlobalVars& vars,
                       const std::string& resFolder, int year, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), Vars(vars) {
    setObjectName("FormAbout");
    setWindowTitle("About ");
    setModal(true);

    PanelmageLeft = new QWidget(this);
    PanelmageLeft->setObjectName("PanelmageLeft");
    PanelmageLeft->setGeometry(Margin, Margin, PanelWidth, PagesHeight);
    ImageLeft = new TImage(PanelmageLeft);
    ImageLeft->setObjectName("ImageLeft");
    ImageLeft->setGeometry(0, 0, PanelWidth, PagesHeight);
    ImageLeft->setCursor(Qt::PointingHandCursor);
    ImageLeft->setAccessibleName("Check for Updates...");
    connect(ImageLeft, &TImage::Clicked, this, &TFormAbout::ImageLeftClick);

    PageControl = new QTabWidget(this);
    PageControl->setObjectName("PageControl");
    PageControl->setGeometry(PagesLeft, Margin, PagesWidth, PagesHeight);

    auto* about = new QWidget;
    about->setObjectName("TabSheetAbout");
    LabalTitle = Caption("", about);
    LabalTitle->setObjectName("LabalTitle");
    QFont big = LabalTitle->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.25);
    LabalTitle->setFont(big);
    LabalTitle->setWordWrap(true);
    LabelCopyright = Caption("Copyright \u00a9 %d %s", about);
    LabelCopyright->setObjectName("LabelCopyright");
    LabelCopyright->setWordWrap(true);
    LabelWeb = new TLinkLabel("", about);
    LabelWeb->setObjectName("LabelWeb");
    LabelWeb->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    LabelSupportEmail = new TLinkLabel("", about);
    LabelSupportEmail->setObjectName("LabelSupportEmail");
    LabelSupportEmail->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* aboutLayout = new QGridLayout(about);
    aboutLayout->setContentsMargins(14, 16, 14, 12);
    aboutLayout->setVerticalSpacing(8);
    aboutLayout->addWidget(LabalTitle, 0, 0, 1, 2);
    aboutLayout->addWidget(LabelCopyright, 1, 0, 1, 2);
    aboutLayout->setRowMinimumHeight(2, 14);
    aboutLayout->addWidget(Caption("Web site:", about), 3, 0);
    aboutLayout->addWidget(LabelWeb, 3, 1);
    aboutLayout->addWidget(Caption("Support:", about), 4, 0);
    aboutLayout->addWidget(LabelSupportEmail, 4, 1);
    aboutLayout->setRowStretch(5, 1);
    aboutLayout->setColumnStretch(1, 1);
    PageControl->addTab(about, "About");

    auto* update = new QWidget;
    update->setObjectName("TabSheetUpdate");
    auto* check = Caption("Check for update", update);
    QFont bold = check->font();
    bold.setBold(true);
    check->setFont(bold);
    auto* explain = Caption("To ensure you're using the latest version, click on the \n"
                            "Updates button below.",
                            update);
    explain->setWordWrap(true);
    ButtonUpdates = new QPushButton("&Updates...", update);
    ButtonUpdates->setObjectName("ButtonUpdates");
    ButtonUpdates->setAutoDefault(false);
    connect(ButtonUpdates, &QPushButton::clicked, this, &TFormAbout::ButtonUpdatesClick);
    GroupProductInfo = new QGroupBox("Product information", update);
    GroupProductInfo->setObjectName("GroupProductInfo");
    LabelVersion = Caption("%s", GroupProductInfo);
    LabelVersion->setObjectName("LabelVersion");
    auto* groupLayout = new QVBoxLayout(GroupProductInfo);
    groupLayout->addWidget(LabelVersion);
    auto* updateLayout = new QVBoxLayout(update);
    updateLayout->setContentsMargins(14, 16, 14, 12);
    updateLayout->setSpacing(10);
    updateLayout->addWidget(check);
    updateLayout->addWidget(explain);
    updateLayout->addWidget(ButtonUpdates, 0, Qt::AlignLeft);
    updateLayout->addWidget(GroupProductInfo);
    updateLayout->addStretch();
    PageControl->addTab(update, "Update");

    ButtonOK = new QPushButton("&OK", this);
    ButtonOK->setObjectName("ButtonOK");
    ButtonOK->setDefault(true);
    ButtonOK->resize(90, 28);
    connect(ButtonOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(LabelWeb, &TLinkLabel::Clicked, this, &TFormAbout::LabelWebClick);
    connect(LabelSupportEmail, &TLinkLabel::Clicked, this, &TFormAbout::LabelSupportEmailClick);

    setFixedSize(PagesLeft + PagesWidth + 15, DesignedHeight);
    ButtonOK->move(PagesLeft + PagesWidth - ButtonOK->width(), ButtonTop);
    FormCreate(title, resFolder, year);
}

void TFormAbout::FormCreate(const std::string& title, const std::string& resFolder, int year) {
    LabelVersion->setText(LabelVersion->text().replace("%s", QString::fromStdString(Vars.Version)));
    LabelCopyright->setText(LabelCopyright->text()
                                .replace("%d", QString::number(year))
                                .replace("%s", QString::fromStdString(Vars.Copyright)));
    if (Vars.Skin == 3) {
        PanelmageLeft->hide();
        PageControl->move(Margin, PageControl->y());
        const int right = PageControl->x() + PageControl->width();
        ButtonOK->move(right - ButtonOK->width(), ButtonOK->y());
        setFixedSize(right + 15, height());
    } else {
        QPixmap picture(QString::fromStdString(resFolder + "leftlogo.png"));
        if (!picture.isNull())
            picture =
                picture.scaled(ImageLeft->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
        ImageLeft->setPixmap(picture);
    }
    LabelWeb->setText(QString::fromStdString(Vars.HelpHomePageLink));
    LabelWeb->setToolTip(LabelWeb->text());
    LabelSupportEmail->setText(QString::fromStdString(Vars.HelpSupportLink));
    LabelSupportEmail->setToolTip(LabelSupportEmail->text());
    LabalTitle->setText(QString::fromStdString(title) + " " + LabelVersion->text());
}

void TFormAbout::LabelWebClick() {
    if (auto* label = qobject_cast<QLabel*>(sender()))
        OpenWithShell(label->text().toStdString());
    else
        OpenWithShell(LabelWeb->text().toStdString());
}

void TFormAbout::LabelSupportEmailClick() {
    OpenWithShell(Vars.HelpSupportLink);
}
void TFormAbout::ButtonUpdatesClick() {
    OpenWithShell(Vars.HelpCheckForUpdatesLink);
}
void TFormAbout::ImageLeftClick() {
    OpenWithShell(Vars.HelpCheckForUpdatesLink);
}

} // namespace cw
