#include "views/scrolling/ScrollingWindows.h"

namespace lumeno {

void ScrollingWindow::reset() {
    Surface().Erase();
}

visTimeSequence::visTimeSequence()
    : ScrollingWindow("Lumeno  Protocols over Time", {7485, 2250}, QPoint(5610, 2340)) {
    Surface().SetBackground(MakeRgb(0, 0, 0));
    LayOutNow();
}
void visTimeSequence::LayOut(QSize client) {
    PlaceSurface(0, 0, client.width() - 80, client.height());
    reset();
}
void visTimeSequence::Plot(std::string_view) {}

visRunningPort::visRunningPort()
    : ScrollingWindow("Time Sequence Plot", {7965, 2775}, QPoint(6945, 9300)) {
    Surface().SetBackground(MakeRgb(0, 0, 0));
    LayOutNow();
}
void visRunningPort::LayOut(QSize client) {
    PlaceSurface(0, 0, client.width() - 130, client.height());
    reset();
}
void visRunningPort::Plot(std::string_view, std::int32_t, std::string_view, std::int32_t) {}

visBitData::visBitData() : ScrollingWindow("bit Rainfall", {2700, 8160}, QPoint(7605, 570)) {
    Surface().SetBackground(MakeRgb(0, 0, 0));
    LayOutNow();
}
void visBitData::LayOut(QSize client) {
    PlaceSurface(0, 20, client.width(), client.height() - 60);
    reset();
}
void visBitData::Graph(std::span<const std::uint8_t>, std::int16_t) {}

visWaterfallData::visWaterfallData()
    : ScrollingWindow("Lumeno Packet Length", {2670, 8160}, QPoint(11040, 345)) {
    Surface().SetBackground(MakeRgb(0, 0, 0));
    LayOutNow();
}
void visWaterfallData::LayOut(QSize client) {
    PlaceSurface(0, 20, client.width(), client.height() - 60);
    reset();
}
void visWaterfallData::PlotData(std::int16_t) {}

}  // namespace lumeno
