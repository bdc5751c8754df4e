#pragma once

#include <QRect>
#include <QSize>
#include <array>

namespace lumeno {

// Where a parallel-coordinate window puts its plot surface, axis labels and inner axis
// markers for a client area. Pure geometry, so that it can be checked without a window.
struct LabelBox {
    const char* text = nullptr;  // nullptr: the view has no such label
    int widthTwips = 0;
    enum Align { kLeft, kRight, kCentre } align = kLeft;
};
using LabelBoxes = std::array<LabelBox, 10>;

struct ParallelPlaces {
    QRect surface;
    std::array<QRect, 10> labels;
    int markerA = 0, markerB = 0, markerHeight = 0;  // four-axis views only
};

// Labels keep their built height.
inline constexpr int kLabelHeightTwips = 255;

// The two-axis views: d2 and d3 fit the right-hand value texts.
ParallelPlaces PlaceTwoAxes(QSize client, const LabelBoxes& labels, int d2, int d3);
// The four-axis views: labels flush with the surface's right edge or centred on the inner
// axes, markers at W/3 rounded and twice that.
ParallelPlaces PlaceFourAxes(QSize client, const LabelBoxes& labels);

}  // namespace lumeno
