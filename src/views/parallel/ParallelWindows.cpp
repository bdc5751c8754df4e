#include "views/parallel/ParallelWindows.h"

#include <algorithm>

#include "packet/Colors.h"

namespace lumeno {

namespace {

using A = LabelBox::Align;
constexpr LabelBox kExternal{"External", 855, A::kLeft};
constexpr LabelBox kInternal{"Internal", 855, A::kRight};
constexpr const char* kTopIP = "255.255.255.255";
constexpr const char* kTopPort = "65535";

// Where the fixed custom window keeps its elements (twips).
constexpr QPoint kCustomLabelPlaces[6] = {{0, 120},     {0, 6120}, {1680, 120},
                                          {3240, 3840}, {0, 6360}, {2280, 6360}};
constexpr int kCustomBoxTops[5] = {480, 1800, 3120, 4560, 5760};

}  // namespace

ParallelWindow::ParallelWindow(const Design& design)
    : GraphWindow(design.caption, design.clientTwips, design.positionTwips,
                  design.axes != Axes::kFixed),
      design_(design),
      plot_(Surface()) {
    Surface().SetLayout(PlotSurface::Layout::kTiles);  // every record draws long lines across it
    const QFont value = UiFont(FontRole::Verdana, 8.25);
    const QFont end = UiFont(FontRole::Verdana, 9, true);
    for (int n = 0; n < 10; ++n) {
        const LabelBox& box = design.labels[n];
        if (!box.text) continue;
        auto* label = new QLabel(QString::fromLatin1(box.text), this);
        label->setObjectName(QStringLiteral("Label1_%1").arg(n));
        label->setFont(n == 4 || n == 5 ? end : value);
        const Qt::Alignment h = box.align == A::kRight    ? Qt::AlignRight
                                : box.align == A::kCentre ? Qt::AlignHCenter
                                                          : Qt::AlignLeft;
        label->setAlignment(h | Qt::AlignTop);
        label->resize(Twips(box.widthTwips), Twips(kLabelHeightTwips));
        label1_[n] = label;
    }
    if (design.axes == Axes::kFour) {
        for (int i = 0; i < 2; ++i) {
            auto* marker = new QWidget(picGraph());
            marker->setObjectName(QStringLiteral("Line1_%1").arg(i));
            marker->setAutoFillBackground(true);
            QPalette palette = marker->palette();
            palette.setColor(QPalette::Window, QColor(64, 64, 64));
            marker->setPalette(palette);
            line1_[i] = marker;
        }
    }
    if (design.axes == Axes::kFixed) {
        for (int n = 0; n < 6; ++n) {
            const QPoint at = kCustomLabelPlaces[n];
            label1_[n]->move(Twips(at.x()), Twips(at.y()));
        }
    }
}

QSize ParallelWindow::MinimumOuterTwips() const {
    switch (design_.axes) {
        case Axes::kTwo:
            return {3250, 2500};
        case Axes::kFour:
            return {5500, 2500};
        case Axes::kFixed:
            break;
    }
    return {};
}

void ParallelWindow::LayOut(QSize client) {
    Surface().Erase();  // every change of size empties the picture
    if (design_.axes == Axes::kFixed) {
        PlaceSurface(0, 32, 208, 376);
        return;
    }
    if (KeepMinimumOuter(client, MinimumOuterTwips()) != client) {
        // A shown window has been laid out at the new size by now; a hidden one only gets
        // its resize event when shown, so lay it out here (and not again then).
        if (LaidOutSize() != size()) LayOutNow();
        return;
    }
    const ParallelPlaces places = design_.axes == Axes::kTwo
                                      ? PlaceTwoAxes(client, design_.labels, design_.d2, design_.d3)
                                      : PlaceFourAxes(client, design_.labels);
    PlaceSurface(places.surface.left(), places.surface.top(), places.surface.width(),
                 places.surface.height());
    for (int n = 0; n < 10; ++n) {
        if (label1_[n]) label1_[n]->setGeometry(places.labels[n]);
    }
    if (design_.axes == Axes::kFour) {
        line1_[0]->setGeometry(places.markerA, 0, 1, places.markerHeight);
        line1_[1]->setGeometry(places.markerB, 0, 1, places.markerHeight);
    }
}

visParallel::visParallel()
    : ParallelWindow(
          {"Port to Port",
           {3150, 6600},
           QPoint(615, 675),
           Axes::kTwo,
           {{{kTopPort, 615}, {"0", 615}, {kTopPort, 615}, {"0", 615}, kExternal, kInternal}},
           37,
           10}) {
    LayOutNow();
}

void visParallel::parallelPort2Port(std::int32_t sourcePort, std::int32_t destPort) {
    const std::int32_t a = Plot().ConvertPort(sourcePort);
    const std::int32_t b = Plot().ConvertPort(destPort);
    Plot().TwoAxes(a, b, currentColor);
}

visParallelIP::visParallelIP()
    : ParallelWindow({"IP to IP",
                      {3150, 6600},
                      QPoint(510, 900),
                      Axes::kTwo,
                      {{{kTopIP, 1695},
                        {"0.0.0.0", 855},
                        {kTopIP, 1575, A::kRight},
                        {"0.0.0.0", 855, A::kRight},
                        kExternal,
                        kInternal}},
                      108,
                      60}) {
    LayOutNow();
}

void visParallelIP::parallelIP2IP(std::string_view sourceIPString, std::string_view destIPString) {
    std::int32_t a, b;
    if (!Plot().ConvertIP(sourceIPString, a) || !Plot().ConvertIP(destIPString, b)) return;
    Plot().TwoAxes(a, b, currentColor);
}

visParallelIPPort::visParallelIPPort()
    : ParallelWindow(
          {"External IP to Internal Port",
           {3150, 6600},
           QPoint(4170, 675),
           Axes::kTwo,
           {{{kTopIP, 1575}, {"0", 615}, {kTopPort, 615}, {"0", 615}, kExternal, kInternal}},
           37,
           10}) {
    LayOutNow();
}

void visParallelIPPort::Graph(std::string_view sourceIPString, std::int32_t destPort) {
    std::int32_t a;
    if (!Plot().ConvertIP(sourceIPString, a)) return;
    Plot().TwoAxes(a, Plot().ConvertPort(destPort), currentColor);
}

visParallelIPcustom::visParallelIPcustom()
    : ParallelWindow({"IP to IP Custom",
                      {5085, 6600},
                      std::nullopt,
                      Axes::kFixed,
                      {{{kTopIP, 1695},
                        {"0.0.0.0", 855},
                        {"Categorical IP", 1575, A::kRight},
                        {"Categorical IP", 1455, A::kRight},
                        kExternal,
                        kInternal}}}) {
    for (int k = 0; k < 5; ++k) {
        text1_[k] = new QLineEdit(this);
        text1_[k]->setObjectName(QStringLiteral("Text1_%1").arg(k));
        text1_[k]->setGeometry(TwipsRect(3240, kCustomBoxTops[k], 1695, 315));
        connect(text1_[k], &QLineEdit::textChanged, this,
                [this, k](const QString& text) { boxText_[k] = text.toStdString(); });
    }
    LayOutNow();
}

void visParallelIPcustom::parallelIP2IPcustom(std::string_view sourceIPString,
                                              std::string_view destIPString) {
    std::int32_t a;
    if (!Plot().ConvertIP(sourceIPString, a)) return;
    const std::array<std::string_view, 5> boxes = {boxText_[0], boxText_[1], boxText_[2],
                                                   boxText_[3], boxText_[4]};
    Plot().Categories(a, boxes, destIPString, currentColor);
}

visParallelDual::visParallelDual()
    : ParallelWindow({"Port to IP to IP to Port",
                      {5370, 4110},
                      QPoint(7380, 5535),
                      Axes::kFour,
                      {{{kTopPort, 1695},
                        {"0", 855},
                        {kTopPort, 1575, A::kRight},
                        {"0", 615, A::kRight},
                        kExternal,
                        kInternal,
                        {kTopIP, 1455, A::kCentre},
                        {"0", 375, A::kCentre},
                        {kTopIP, 1575, A::kCentre},
                        {"0", 615, A::kCentre}}}}) {
    LayOutNow();
}

void visParallelDual::parallelDual(std::string_view sourceIPString, std::int32_t sourcePortIn,
                                   std::string_view destIPString, std::int32_t destPortIn) {
    Plot().Dual(sourceIPString, sourcePortIn, destIPString, destPortIn, false, currentColor);
}

visParallelDual_IPPI::visParallelDual_IPPI()
    : ParallelWindow({"IP to Port to Port to IP",
                      {5370, 4110},
                      QPoint(9720, 900),
                      Axes::kFour,
                      {{{kTopIP, 1575},
                        {"0.0.0.0", 1455},
                        {kTopIP, 1575, A::kRight},
                        {"0.0.0.0", 615, A::kRight},
                        kExternal,
                        kInternal,
                        {kTopPort, 615, A::kCentre},
                        {"0", 615, A::kCentre},
                        {kTopPort, 615, A::kCentre},
                        {"0", 615, A::kCentre}}}}) {
    LayOutNow();
}

void visParallelDual_IPPI::parallelDual(std::string_view sourceIPString, std::int32_t sourcePortIn,
                                        std::string_view destIPString, std::int32_t destPortIn) {
    Plot().Dual(sourceIPString, sourcePortIn, destIPString, destPortIn, true, currentColor);
}

}  // namespace lumeno
