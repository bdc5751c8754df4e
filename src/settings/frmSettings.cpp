#include "settings/frmSettings.h"

#include <QCloseEvent>
#include <QColorDialog>
#include <QLabel>

#include "views/WindowKit.h"
#include "views/WindowPlacement.h"
#include "views/WrappingButton.h"

namespace lumeno {

namespace {

struct ColorSlot {
    const char* caption;
    int top;
    Rgb initial;
    Rgb* variable;
};

const ColorSlot kSlots[5] = {
    {"UDP in Color", 720, kDefaultIncomingUDP, &colorIncomingUDP},
    {"UDP out Color", 1320, kDefaultOutgoingUDP, &colorOutgoingUDP},
    {"TCP in Color", 2160, kDefaultIncomingTCP, &colorIncomingTCP},
    {"TCP out Color", 2760, kDefaultOutgoingTCP, &colorOutgoingTCP},
    {"Background Color", 3600, kDefaultBackground, &colorBackground},
};
constexpr int kBackground = 4;

QColor ToQColor(Rgb c) {
    return QColor(RedOf(c), GreenOf(c), BlueOf(c));
}

}  // namespace

frmSettings::frmSettings()
    : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint) {
    setWindowTitle(QStringLiteral("Settings"));
    setAttribute(Qt::WA_DeleteOnClose);
    SetFormBackground(*this);
    setFixedSize(Twips(2370), Twips(5280));
    move(Twips(5955), Twips(9285));

    auto* lblSettings = new QLabel(QStringLiteral("Global Settings"), this);
    lblSettings->setObjectName(QStringLiteral("lblSettings"));
    lblSettings->setGeometry(TwipsRect(120, 240, 3135, 375));
    lblSettings->setFont(UiFont(FontRole::Verdana, 9));

    for (int k = 0; k < 5; ++k) {
        // Captions wider than these narrow buttons ("Background Color") wrap, not clip.
        buttons_[k] = new WrappingButton(QString::fromLatin1(kSlots[k].caption), this);
        buttons_[k]->setObjectName(QStringLiteral("Command%1").arg(k + 1));
        buttons_[k]->setGeometry(TwipsRect(120, kSlots[k].top, 1215, 495));
        // The dialog font of these narrow buttons; the fallback family runs wider.
        buttons_[k]->setFont(UiFont(FontRole::Dialog, 7));
        shape1_[k] = new QFrame(this);
        shape1_[k]->setObjectName(QStringLiteral("Shape1_%1").arg(k));
        shape1_[k]->setGeometry(TwipsRect(1560, kSlots[k].top, 495, 495));
        shape1_[k]->setAutoFillBackground(true);
        SetFill(k, kSlots[k].initial);
        connect(buttons_[k], &QPushButton::clicked, this, [this, k] { PickColor(k); });
    }
    btnDone_ = new QPushButton(QStringLiteral("Done"), this);
    btnDone_->setObjectName(QStringLiteral("btnDone"));
    btnDone_->setGeometry(TwipsRect(1080, 4680, 1215, 495));
    connect(btnDone_, &QPushButton::clicked, this, &QWidget::hide);

    setTabOrder(buttons_[0], buttons_[1]);
    setTabOrder(buttons_[1], buttons_[2]);
    setTabOrder(buttons_[2], buttons_[3]);
    setTabOrder(buttons_[3], buttons_[4]);
    setTabOrder(buttons_[4], btnDone_);
}

void frmSettings::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        FitOnScreen(*this);
    }
}

void frmSettings::SetFill(int index, Rgb color) {
    fills_[index] = color;
    QPalette palette = shape1_[index]->palette();
    palette.setColor(QPalette::Window, ToQColor(color));
    shape1_[index]->setPalette(palette);
}

void frmSettings::PickColor(int index) {
    Rgb& variable = *kSlots[index].variable;
    // A cancelled chooser still holds the colour it was opened on.
    const std::optional<Rgb> chosen = chooser_ ? chooser_(variable, this) : std::nullopt;
    variable = chosen.value_or(variable);
    SetFill(index, variable);
    if (index == kBackground && applyBackground_) applyBackground_();
}

std::optional<Rgb> frmSettings::PlatformChooser(Rgb current, QWidget* parent) {
    const QColor color = QColorDialog::getColor(ToQColor(current), parent);
    if (!color.isValid()) return std::nullopt;
    return MakeRgb(color.red(), color.green(), color.blue());
}

void frmSettings::closeEvent(QCloseEvent* event) {
    closedByUser_ = true;
    event->accept();
}

void LoadColors(const frmSettings& settings) {
    colorIncomingUDP = settings.FillColor(0);
    colorOutgoingUDP = settings.FillColor(1);
    colorIncomingTCP = settings.FillColor(2);
    colorOutgoingTCP = settings.FillColor(3);
    colorBackground = settings.FillColor(4);
}

}  // namespace lumeno
