#include "views/scrolling/ScrollingWindows.h"

#include <algorithm>

#include "packet/Library.h"

namespace lumeno {

namespace {

constexpr Rgb kBlack = MakeRgb(0, 0, 0);

QLabel* MakeLabel(QWidget* parent, const QString& text, const QFont& font,
                  Qt::Alignment align = Qt::AlignLeft) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setAlignment(align | Qt::AlignVCenter);
    label->adjustSize();
    return label;
}

}  // namespace

void ScrollingWindow::reset() {
    Surface().Erase();
}

// --- protocols over time ---------------------------------------------------------------

visTimeSequence::visTimeSequence()
    : ScrollingWindow("Lumeno  Protocols over Time", {7485, 2250}, QPoint(5610, 2340)) {
    Surface().SetLayout(PlotSurface::Layout::kColumns);  // every packet rewrites a whole column
    Surface().SetBackground(kBlack);
    static const char* const kLegend[] = {"TCP in", "TCP out", "UDP in", "UDP out"};
    const QFont font = UiFont(FontRole::Verdana, 9);
    for (int k = 0; k < 4; ++k) label1_[k] = MakeLabel(this, kLegend[k], font);
    LayOutNow();
}

void visTimeSequence::LayOut(QSize client) {
    reset();
    PlaceSurface(0, 0, client.width() - 80, client.height());
    const QRect plot = picGraph()->geometry();
    for (int k = 0; k < 4; ++k) {
        // The band tops are fractional: to the nearest pixel, halves to even, like the bands.
        const double top = plot.top() + k * plot.height() / 4.0;
        label1_[k]->move(plot.left() + plot.width() + 10, static_cast<int>(RoundHalfEven(top)));
    }
}

// --- running port ------------------------------------------------------------------------

visRunningPort::visRunningPort()
    : ScrollingWindow("Time Sequence Plot", {7965, 2775}, QPoint(6945, 9300)) {
    Surface().SetLayout(PlotSurface::Layout::kColumns);  // every packet rewrites a whole column
    Surface().SetBackground(kBlack);
    const QFont font = UiFont(FontRole::Verdana, 9);
    cmbVerticalType_ = new QComboBox(this);
    cmbVerticalType_->setObjectName(QStringLiteral("cmbVerticalType"));
    cmbVerticalType_->setFont(font);
    cmbVerticalType_->addItems({QStringLiteral("Internal Port"), QStringLiteral("External Port"),
                                QStringLiteral("Internal IP"), QStringLiteral("External IP")});
    cmbVerticalType_->setFixedWidth(120);
    cmbVerticalType_->adjustSize();
    lblVerticalMax_ = MakeLabel(this, QStringLiteral("65535"), font);
    lblVerticalMin_ = MakeLabel(this, QStringLiteral("0"), font);
    cmbVerticalType_->setCurrentIndex(RunningPortPlot::ExternalPort);
    connect(cmbVerticalType_, &QComboBox::currentIndexChanged, this,
            &visRunningPort::SelectionChanged);
    LayOutNow();
}

void visRunningPort::SelectionChanged(int index) {
    if (index < 0 || index > 3) return;
    plot_.Select(static_cast<RunningPortPlot::Quantity>(index));
    const bool port = index <= 1;
    lblVerticalMax_->setText(port ? QStringLiteral("65535") : QStringLiteral("255.255.255.255"));
    lblVerticalMin_->setText(port ? QStringLiteral("0") : QStringLiteral("0.0.0.0"));
    lblVerticalMax_->adjustSize();
    lblVerticalMin_->adjustSize();
}

void visRunningPort::LayOut(QSize client) {
    reset();
    PlaceSurface(0, 0, client.width() - cmbVerticalType_->width() - 10, client.height());
    const QRect plot = picGraph()->geometry();
    const int x0 = plot.left() + plot.width() + 5;
    lblVerticalMax_->move(x0, plot.top());
    const double centred = plot.height() / 2.0 - cmbVerticalType_->height() / 2.0;
    cmbVerticalType_->move(x0, static_cast<int>(RoundHalfEven(centred)));
    lblVerticalMin_->move(x0, plot.height() - 15);
}

// --- the two row views -------------------------------------------------------------------

RowScrollingWindow::RowScrollingWindow(const QString& caption, QSize clientTwips,
                                       QPoint positionTwips, const QString& runningSuffix)
    : ScrollingWindow(caption, clientTwips, positionTwips), images_(runningSuffix) {
    Surface().SetBackground(kBlack);
    const QFont font = UiFont(FontRole::Verdana, 8.25);
    chkSnapshots_ = new QCheckBox(QStringLiteral("Capture Running Snapshots"), this);
    chkSnapshots_->setObjectName(QStringLiteral("chkSnapshots"));
    chkSnapshots_->setFont(font);
    chkSnapshots_->adjustSize();
    connect(chkSnapshots_, &QCheckBox::toggled, this, [this](bool on) {
        images_.enabled = on;
        ++switchChanges_;
    });
    // This platform may give windows no frame; a built size below the minimum is raised
    // before the first layout so that a window built hidden is usable at once.
    resize(std::max(width(), Twips(kMinOuterWidthTwips)),
           std::max(height(), Twips(kMinOuterHeightTwips)));
}

void RowScrollingWindow::LayOut(QSize client) {
    reset();
    // The new size raises another layout; the one below keeps a hidden window usable until
    // then.
    client = KeepMinimumOuter(client, {kMinOuterWidthTwips, kMinOuterHeightTwips});
    PlaceSurface(0, 20, client.width(), client.height() - 60);
    const QRect plot = picGraph()->geometry();
    label1_[0]->move(0, 5);
    label1_[1]->move(0, plot.height() + 20);
    // Below the corner labels rather than between them, where the right-hand ones would
    // run into its caption; inside the window however narrow.
    chkSnapshots_->move(
        std::max(0, std::min(plot.left() + 25, client.width() - chkSnapshots_->width())),
        std::max(plot.height() + 20 + label1_[1]->height() + 2,
                 client.height() - chkSnapshots_->height() - 1));
    PlaceRightLabels(plot.width(), plot.height());
}

// --- bit rainfall ------------------------------------------------------------------------

visBitData::visBitData()
    : RowScrollingWindow("bit Rainfall", {2700, 8160}, QPoint(7605, 570),
                         QStringLiteral("_runningbits")) {
    const QFont font = UiFont(FontRole::Verdana, 8.25);
    label1_[0] = MakeLabel(this, QStringLiteral("0"), font);
    label1_[1] = MakeLabel(this, QStringLiteral("0"), font);
    label1_[2] = MakeLabel(this, QString(), font, Qt::AlignRight);
    label1_[3] = MakeLabel(this, QString(), font, Qt::AlignRight);
    LayOutNow();
}

void visBitData::PlaceRightLabels(int surfaceWidth, int surfaceHeight) {
    plot_.maxBits = static_cast<std::int16_t>(std::min(surfaceWidth, 32767));
    const QString text = QString::number(plot_.maxBits) + QStringLiteral(" bits");
    for (int k : {2, 3}) {
        label1_[k]->setText(text);
        label1_[k]->resize(80, label1_[k]->sizeHint().height());
    }
    // Right-aligned in an 80-pixel box that ends at the surface's right edge.
    label1_[2]->move(surfaceWidth - 80, 5);
    label1_[3]->move(surfaceWidth - 80, surfaceHeight + 20);
}

// --- length waterfall --------------------------------------------------------------------

visWaterfallData::visWaterfallData()
    : RowScrollingWindow("Lumeno Packet Length", {2670, 8160}, QPoint(11040, 345),
                         QStringLiteral("_runningwater")) {
    const QFont font = UiFont(FontRole::Verdana, 8.25);
    label1_[0] = MakeLabel(this, QStringLiteral("0"), font);
    label1_[1] = MakeLabel(this, QStringLiteral("0"), font);
    label1_[2] = MakeLabel(this, QStringLiteral("1518"), font, Qt::AlignRight);
    label1_[3] = MakeLabel(this, QStringLiteral("1518 "), font, Qt::AlignRight);
    label1_[2]->resize(36, label1_[2]->sizeHint().height());
    label1_[3]->resize(40, label1_[3]->sizeHint().height());
    LayOutNow();
}

void visWaterfallData::PlaceRightLabels(int surfaceWidth, int surfaceHeight) {
    label1_[2]->move(surfaceWidth - 36, 5);
    label1_[3]->move(surfaceWidth - 40, surfaceHeight + 20);
}

}  // namespace lumeno
