#include "views/parallel/ParallelLayout.h"

#include "packet/Library.h"
#include "views/WindowKit.h"

namespace lumeno {

namespace {

int Whole(double v) {
    return static_cast<int>(RoundHalfEven(v));
}

QRect Box(const LabelBoxes& labels, int n, double top, double left) {
    return QRect(Whole(left), Whole(top), Twips(labels[n].widthTwips), Twips(kLabelHeightTwips));
}

QRect SurfaceFor(QSize client) {
    return QRect(0, 20, client.width(), std::max(0, client.height() - 60));
}

}  // namespace

ParallelPlaces PlaceTwoAxes(QSize client, const LabelBoxes& labels, int d2, int d3) {
    ParallelPlaces p;
    p.surface = SurfaceFor(client);
    const int w = p.surface.width(), h = p.surface.height();
    p.labels[0] = Box(labels, 0, 5, 0);
    p.labels[1] = Box(labels, 1, h + 20, 0);
    p.labels[2] = Box(labels, 2, 5, w - d2);
    p.labels[3] = Box(labels, 3, h + 20, w - d3);
    p.labels[4] = Box(labels, 4, h + 40, 0);
    p.labels[5] = Box(labels, 5, h + 40, w - 60);
    return p;
}

ParallelPlaces PlaceFourAxes(QSize client, const LabelBoxes& labels) {
    ParallelPlaces p;
    p.surface = SurfaceFor(client);
    const double x0 = p.surface.left();
    const double w = p.surface.width(), h = p.surface.height();
    // The second marker is twice the first, whole: at W = 301 the markers stand at 100 and
    // 200 while the plotted segments meet at 100.33 and 200.67.
    p.markerA = Whole(w / 3);
    p.markerB = p.markerA * 2;
    p.markerHeight = Whole(h);
    auto width = [&](int n) { return static_cast<double>(Twips(labels[n].widthTwips)); };
    p.labels[0] = Box(labels, 0, 5, x0);
    p.labels[1] = Box(labels, 1, h + 20, x0);
    p.labels[2] = Box(labels, 2, 5, x0 + w - width(2));
    p.labels[3] = Box(labels, 3, h + 20, x0 + w - width(3));
    p.labels[6] = Box(labels, 6, 5, x0 + w / 3 - width(6) / 2);
    p.labels[7] = Box(labels, 7, h + 20, x0 + w / 3 - width(7) / 2);
    p.labels[8] = Box(labels, 8, 5, x0 + (w / 3) * 2 - width(8) / 2);
    p.labels[9] = Box(labels, 9, h + 20, x0 + (w / 3) * 2 - width(9) / 2);
    p.labels[4] = Box(labels, 4, h + 40, x0);
    p.labels[5] = Box(labels, 5, h + 40, x0 + w - width(5));
    return p;
}

}  // namespace lumeno
