#include "views/parallel/ParallelWindows.h"

namespace lumeno {

ParallelWindow::ParallelWindow(const QString& caption, QSize clientTwips,
                               std::optional<QPoint> position, bool resizable)
    : GraphWindow(caption, clientTwips, position, resizable) {}

void ParallelWindow::LayOut(QSize client) {
    PlaceSurface(0, 20, client.width(), client.height() - 60);
    Surface().Erase();  // every change of size empties the picture
}

visParallel::visParallel() : ParallelWindow("Port to Port", {3150, 6600}, QPoint(615, 675)) {
    LayOutNow();
}
void visParallel::parallelPort2Port(std::int32_t, std::int32_t) {}

visParallelIP::visParallelIP() : ParallelWindow("IP to IP", {3150, 6600}, QPoint(510, 900)) {
    LayOutNow();
}
void visParallelIP::parallelIP2IP(std::string_view, std::string_view) {}

visParallelIPPort::visParallelIPPort()
    : ParallelWindow("External IP to Internal Port", {3150, 6600}, QPoint(4170, 675)) {
    LayOutNow();
}
void visParallelIPPort::Graph(std::string_view, std::int32_t) {}

visParallelIPcustom::visParallelIPcustom()
    : ParallelWindow("IP to IP Custom", {5085, 6600}, std::nullopt, false) {
    static constexpr int kTops[5] = {480, 1800, 3120, 4560, 5760};
    for (int k = 0; k < 5; ++k) {
        text1_[k] = new QLineEdit(this);
        text1_[k]->setObjectName(QStringLiteral("Text1_%1").arg(k));
        text1_[k]->setGeometry(TwipsRect(3240, kTops[k], 1695, 315));
    }
    LayOutNow();
}
void visParallelIPcustom::LayOut(QSize) {
    PlaceSurface(0, 32, 208, 376);
    Surface().Erase();
}
void visParallelIPcustom::parallelIP2IPcustom(std::string_view, std::string_view) {}

visParallelDual::visParallelDual()
    : ParallelWindow("Port to IP to IP to Port", {5370, 4110}, QPoint(7380, 5535)) {
    LayOutNow();
}
void visParallelDual::parallelDual(std::string_view, std::int32_t, std::string_view, std::int32_t) {
}

visParallelDual_IPPI::visParallelDual_IPPI()
    : ParallelWindow("IP to Port to Port to IP", {5370, 4110}, QPoint(9720, 900)) {
    LayOutNow();
}
void visParallelDual_IPPI::parallelDual(std::string_view, std::int32_t, std::string_view,
                                        std::int32_t) {}

}  // namespace lumeno
