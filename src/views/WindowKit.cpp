#include "views/WindowKit.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QPainter>
#include <QPalette>
#include <algorithm>

namespace lumeno {

ImageContext& RunningImageContext() {
    static ImageContext context;
    return context;
}

QRect TwipsRect(int left, int top, int width, int height) {
    return QRect(Twips(left), Twips(top), Twips(width), Twips(height));
}

QFont UiFont(FontRole role, double points, bool bold) {
    static const QStringList families = QFontDatabase::families();
    auto pick = [&](const QString& wanted, const QString& fallback) {
        return families.contains(wanted, Qt::CaseInsensitive) ? wanted : fallback;
    };
    QFont font;
    switch (role) {
        case FontRole::Verdana:
            font.setFamily(pick(QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")));
            break;
        case FontRole::CourierNew:
            font.setFamily(pick(QStringLiteral("Courier New"), QStringLiteral("DejaVu Sans Mono")));
            font.setStyleHint(QFont::Monospace);
            break;
        case FontRole::Dialog:
            font.setFamily(pick(QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans")));
            break;
    }
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

void SetFormBackground(QWidget& window, Rgb color) {
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(RedOf(color), GreenOf(color), BlueOf(color)));
    window.setPalette(palette);
    window.setAutoFillBackground(true);
}

SurfaceWidget::SurfaceWidget(PlotSurface& surface, QWidget* parent)
    : QWidget(parent), surface_(surface) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SurfaceWidget::RefreshIfChanged() {
    if (surface_.TakeChanged()) update();
}

void SurfaceWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QImage& image = surface_.Image();
    if (image.isNull()) {
        painter.fillRect(rect(), QColor::fromRgb(ToQRgb(surface_.Background())));
        return;
    }
    // One image pixel per logical pixel; on scaled screens it is enlarged unsmoothed.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QRect(QPoint(0, 0), image.size()), image);
    if (width() > image.width() || height() > image.height()) {
        painter.fillRect(QRect(image.width(), 0, width() - image.width(), height()),
                         QColor::fromRgb(ToQRgb(surface_.Background())));
        painter.fillRect(QRect(0, image.height(), image.width(), height() - image.height()),
                         QColor::fromRgb(ToQRgb(surface_.Background())));
    }
}

ViewWindow::ViewWindow(const QString& caption, QSize clientTwips,
                       std::optional<QPoint> positionTwips, bool resizable)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint) {
    setWindowTitle(caption);
    setAttribute(Qt::WA_DeleteOnClose);
    SetFormBackground(*this);
    const QSize client(Twips(clientTwips.width()), Twips(clientTwips.height()));
    resize(client);
    if (!resizable) setFixedSize(client);
    if (positionTwips) move(Twips(positionTwips->x()), Twips(positionTwips->y()));
}

QSize ViewWindow::KeepMinimumOuter(QSize client, QSize minTwips) {
    const QSize frame = frameGeometry().size() - geometry().size();
    const QSize least(std::max(0, Twips(minTwips.width()) - frame.width()),
                      std::max(0, Twips(minTwips.height()) - frame.height()));
    if (client.width() >= least.width() && client.height() >= least.height()) return client;
    const QSize fitted = client.expandedTo(least);
    resize(fitted);
    return fitted;
}

void ViewWindow::closeEvent(QCloseEvent* event) {
    closedByUser_ = true;
    event->accept();
}

GraphWindow::GraphWindow(const QString& caption, QSize clientTwips,
                         std::optional<QPoint> positionTwips, bool resizable)
    : ViewWindow(caption, clientTwips, positionTwips, resizable),
      surface_(0, 0, colorBackground),
      picGraph_(new SurfaceWidget(surface_, this)) {
    picGraph_->setObjectName(QStringLiteral("picGraph"));
}

void GraphWindow::Refresh() {
    picGraph_->RefreshIfChanged();
}

void GraphWindow::PlaceSurface(int left, int top, int width, int height) {
    width = std::max(0, width);
    height = std::max(0, height);
    picGraph_->setGeometry(left, top, width, height);
    if (width != surface_.Width() || height != surface_.Height()) surface_.Resize(width, height);
}

void GraphWindow::LayOutNow() {
    laidOut_ = size();
    LayOut(size());
}

void GraphWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The first showing of a window that was built hidden is no change of size: keep
    // everything it drew while hidden.
    if (size() == laidOut_) return;
    laidOut_ = size();
    LayOut(size());
}

}  // namespace lumeno
