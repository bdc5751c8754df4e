#include "settings/frmVisTxtSettings.h"

#include <QCloseEvent>

#include "views/WindowKit.h"
#include "views/WindowPlacement.h"

namespace lumeno {

namespace {

struct FieldBox {
    const char* caption;
    int top;
    bool initially;
};
constexpr FieldBox kBoxes[frmVisTxtSettings::kFields] = {
    {"Source MAC", 480, false},     {"Source IP", 840, true},
    {"Source Port", 1200, true},    {"Destination MAC", 1800, false},
    {"Destination IP", 2160, true}, {"Destination Port", 2520, true},
    {"Transport Type", 3120, true},
};

}  // namespace

frmVisTxtSettings::frmVisTxtSettings()
    : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint) {
    setWindowTitle(QStringLiteral("Text Window Settings"));
    setAttribute(Qt::WA_DeleteOnClose);
    SetFormBackground(*this);
    setFixedSize(Twips(2130), Twips(4590));
    move(Twips(11580), Twips(5085));
    FitOnScreen(*this);
    const QFont verdana = UiFont(FontRole::Verdana, 8.25);
    label1_ = new QLabel(QStringLiteral("Display"), this);
    label1_->setObjectName(QStringLiteral("Label1"));
    label1_->setGeometry(TwipsRect(120, 120, 615, 255));
    label1_->setFont(verdana);
    for (int i = 0; i < kFields; ++i) {
        check1_[i] = new QCheckBox(QString::fromLatin1(kBoxes[i].caption), this);
        check1_[i]->setObjectName(QStringLiteral("Check1_%1").arg(i));
        check1_[i]->setGeometry(TwipsRect(120, kBoxes[i].top, 1815, 255));
        check1_[i]->setFont(verdana);
        check1_[i]->setChecked(kBoxes[i].initially);
        shows_[i] = kBoxes[i].initially;
        connect(check1_[i], &QCheckBox::toggled, this, [this, i](bool on) { shows_[i] = on; });
    }
    command1_ = new QPushButton(QStringLiteral("Done"), this);
    command1_->setObjectName(QStringLiteral("Command1"));
    command1_->setGeometry(TwipsRect(840, 3960, 1215, 495));
    connect(command1_, &QPushButton::clicked, this, &QWidget::hide);
    QWidget* previous = check1_[0];
    for (int i = 1; i < kFields; ++i) {
        setTabOrder(previous, check1_[i]);
        previous = check1_[i];
    }
    setTabOrder(previous, command1_);
}

void frmVisTxtSettings::closeEvent(QCloseEvent* event) {
    closedByUser_ = true;
    event->accept();
}

frmVisTxtBodySettings::frmVisTxtBodySettings()
    : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint) {
    setWindowTitle(QStringLiteral("Packet Body Settings"));
    setAttribute(Qt::WA_DeleteOnClose);
    SetFormBackground(*this);
    setFixedSize(Twips(2130), Twips(1560));
    const QFont verdana = UiFont(FontRole::Verdana, 8.25);
    chkAlignRows_ = new QCheckBox(QStringLiteral("Align rows"), this);
    chkAlignRows_->setObjectName(QStringLiteral("chkAlignRows"));
    chkAlignRows_->setGeometry(TwipsRect(120, 240, 1815, 255));
    chkAlignRows_->setFont(verdana);
    chkAlignRows_->setToolTip(
        QStringLiteral("Show the same bytes on each line of both boxes, with their offset"));
    btnDone_ = new QPushButton(QStringLiteral("Done"), this);
    btnDone_->setObjectName(QStringLiteral("btnDone"));
    btnDone_->setGeometry(TwipsRect(840, 840, 1215, 495));
    connect(btnDone_, &QPushButton::clicked, this, &QWidget::hide);
    setTabOrder(chkAlignRows_, btnDone_);
}

void frmVisTxtBodySettings::closeEvent(QCloseEvent* event) {
    closedByUser_ = true;
    event->accept();
}

}  // namespace lumeno
