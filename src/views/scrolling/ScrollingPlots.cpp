#include "views/scrolling/ScrollingPlots.h"

#include <QCoreApplication>
#include <QDir>
#include <algorithm>

#include "packet/Colors.h"
#include "packet/Library.h"
#include "views/ImageFiles.h"

namespace lumeno {

void TimeSequencePlot::Plot(std::string_view packetType) {
    // Borders stay fractional; the surface rounds both ends of each band the same way and
    // leaves out the end pixel, so neighbouring bands share no row and leave none.
    const float h = static_cast<float>(surface_.Height());
    const float quarter = h / 4;
    float from = 0, to = 0;
    Rgb color = kScrollErase;
    if (packetType == "incomingTCP") {
        from = 0, to = quarter, color = colorIncomingTCP;
    } else if (packetType == "outgoingTCP") {
        from = quarter, to = h / 2, color = colorOutgoingTCP;
    } else if (packetType == "incomingUDP") {
        from = h / 2, to = quarter * 3, color = colorIncomingUDP;
    } else if (packetType == "outgoingUDP") {
        from = quarter * 3, to = h, color = colorOutgoingUDP;
    }
    rule_.StepSpan(surface_, from, to, color);
}

void RunningPortPlot::Select(Quantity quantity) {
    quantity_ = quantity;
    surface_.Erase();
}

void RunningPortPlot::Plot(std::string_view sourceIPString, std::int32_t srcPort,
                           std::string_view destIPString, std::int32_t destPort) {
    const auto h = static_cast<std::int16_t>(surface_.Height());
    // An address without a number has no row: the column is still erased and advanced.
    std::optional<std::int16_t> row;
    if (h > 0) {
        switch (quantity_) {
            case InternalPort:
                row = ScalePort(destPort, h);
                break;
            case ExternalPort:
                row = ScalePort(srcPort, h);
                break;
            case InternalIP:
                row = ScaleIP(destIPString, h);
                break;
            case ExternalIP:
                row = ScaleIP(sourceIPString, h);
                break;
        }
    }
    rule_.Step(surface_, [&](PlotSurface& s, int x) {
        if (row) s.Point(x, *row - 1, currentColor);
    });
}

void RunningImages::OnWrap(const PlotSurface& surface, const ImageContext& context) {
    if (!enabled) return;
    const QString name = QString::fromStdString(GetTimeStamp()) + suffix_ +
                         QString::number(snapshotCount_) + QStringLiteral(".bmp");
    const QString directory =
        context.directory.isEmpty() ? QCoreApplication::applicationDirPath() : context.directory;
    const QString path = QDir(directory).filePath(name);
    QString error = MakeImageFolder(directory);
    if (error.isEmpty()) error = surface.SaveBmp(path);
    if (context.showStatus) {
        context.showStatus(error.isEmpty()
                               ? QStringLiteral("Running image saved: %1").arg(path)
                               : QStringLiteral("Running image %1 not saved: %2").arg(path, error));
    }
    snapshotCount_ = static_cast<std::int16_t>(snapshotCount_ + 1);
}

bool BitRainPlot::Graph(std::span<const std::uint8_t> packetTxt, std::int16_t packetLen) {
    // Never read past the bytes actually given, and stop at the last byte that can reach
    // column maxBits; later bytes would only be cut.
    std::size_t count = std::min<std::size_t>(std::max<int>(packetLen, 0), packetTxt.size());
    count = maxBits < 0 ? 0 : std::min<std::size_t>(count, std::size_t(maxBits) / 8 + 1);
    const int last = maxBits;
    // The bits paint their columns, the clear ones in the erase colour: one pass.
    return rule_.StepCovering(surface_, [&](PlotSurface& s, int y) {
        return s.RowBits(y, packetTxt.first(count), last, currentColor, kScrollErase);
    });
}

std::int16_t WaterfallPlot::ScaleLength(std::int16_t packetLen) const {
    const double len = RoundHalfEven(surface_.Width() * (static_cast<double>(packetLen) / 1518.0));
    // Long packets on wide surfaces run past the edge anyway; keep the value representable.
    return static_cast<std::int16_t>(std::clamp(len, -32768.0, 32767.0));
}

bool WaterfallPlot::PlotData(std::int16_t packetLen) {
    const std::int16_t len = ScaleLength(packetLen);
    // A bar from the left edge is one solid span: painted once, only the rest erased.
    if (len >= 0) return rule_.StepSpan(surface_, 0, len, currentColor);
    return rule_.Step(surface_, [&](PlotSurface& s, int y) { s.RowSpan(y, 0, len, currentColor); });
}

}  // namespace lumeno
