#include "views/WindowKit.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QPainter>
#include <QPalette>
#include <algorithm>

#include "packet/Colors.h"
#include "views/WindowPlacement.h"

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

void ViewWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        FitOnScreen(*this);
    }
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

namespace {

constexpr int kNotesMargin = 4;

struct NotesText {
    QString title;
    QStringList lines;
};

NotesText MakeNotesText(const QString& title, const ImageNotes& notes) {
    const QString day = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    QString time;
    if (!notes.from.isValid()) {
        time = QStringLiteral("Time: no capture since the last Clear");
    } else {
        const QString to = notes.to.date() == notes.from.date()
                               ? notes.to.toString(QStringLiteral("HH:mm:ss"))
                               : notes.to.toString(day);
        time = QStringLiteral("Time: %1 to %2 (%3 s%4)")
                   .arg(notes.from.toString(day), to)
                   .arg(std::max<qint64>(0, notes.from.secsTo(notes.to)))
                   .arg(notes.capturing ? QStringLiteral(", capturing") : QString());
    }
    return {title,
            {QStringLiteral("Source: %1")
                 .arg(notes.source.isEmpty() ? QStringLiteral("none") : notes.source),
             QStringLiteral("Monitor: %1").arg(notes.monitor), time,
             QStringLiteral("Packets: %1").arg(notes.packets)}};
}

struct KeyEntry {
    const char* text;
    Rgb color;
};

std::array<KeyEntry, 4> ColourKey() {
    return {{{"incoming TCP", colorIncomingTCP},
             {"outgoing TCP", colorOutgoingTCP},
             {"incoming UDP", colorIncomingUDP},
             {"outgoing UDP", colorOutgoingUDP}}};
}

// Lays the notes out in a band of the given width; draws them when painter is given.
// Returns the band's height.
int LayOutNotes(const NotesText& text, int width, QPainter* painter) {
    const QFont body = UiFont(FontRole::Verdana, 8.25);
    QFont bold = body;
    bold.setBold(true);
    const int inner = std::max(1, width - 2 * kNotesMargin);
    int y = kNotesMargin;
    // Paths break anywhere, everything else between words.
    auto block = [&](const QString& line, const QFont& font, bool path = false) {
        const QFontMetrics metrics(font);
        const int flags =
            Qt::AlignLeft | Qt::AlignTop | (path ? Qt::TextWrapAnywhere : Qt::TextWordWrap);
        const QRect box = metrics.boundingRect(QRect(0, 0, inner, 100000), flags, line);
        if (painter) {
            painter->setFont(font);
            painter->drawText(QRect(kNotesMargin, y, inner, box.height()), flags, line);
        }
        y += box.height();
    };
    block(text.title, bold);
    for (const QString& line : text.lines) block(line, body, &line == &text.lines.front());
    // The colour key: a swatch and its class, as many to a row as fit.
    const QFontMetrics metrics(body);
    const int swatch = metrics.height() - 4;
    int x = kNotesMargin;
    y += 2;
    for (const KeyEntry& entry : ColourKey()) {
        const QString label = QLatin1String(entry.text);
        const int w = swatch + 4 + metrics.horizontalAdvance(label) + 10;
        if (x > kNotesMargin && x + w > width - kNotesMargin) {
            x = kNotesMargin;
            y += metrics.height();
        }
        if (painter) {
            painter->fillRect(QRect(x, y + 2, swatch, swatch),
                              QColor::fromRgb(ToQRgb(entry.color)));
            painter->setPen(Qt::black);
            painter->drawRect(QRect(x, y + 2, swatch - 1, swatch - 1));
            painter->setFont(body);
            painter->drawText(QPoint(x + swatch + 4, y + metrics.ascent()), label);
        }
        x += w;
    }
    y += metrics.height();
    return y + kNotesMargin;
}

}  // namespace

int GraphWindow::NotesHeight(const ImageNotes& notes) const {
    return LayOutNotes(MakeNotesText(windowTitle(), notes), width(), nullptr);
}

QImage GraphWindow::AnnotatedImage(const ImageNotes& notes) {
    const NotesText text = MakeNotesText(windowTitle(), notes);
    const int band = LayOutNotes(text, width(), nullptr);
    // One image pixel per logical pixel, whatever the screen's scale.
    QImage image(width(), band + height(), QImage::Format_RGB32);
    image.setDevicePixelRatio(1);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setPen(Qt::black);
        LayOutNotes(text, width(), &painter);
        painter.end();
    }
    // The window as laid out, hidden or not, with its labels.
    render(&image, QPoint(0, band), QRegion(),
           QWidget::DrawWindowBackground | QWidget::DrawChildren);
    // The plot itself exactly as the snapshot holds it.
    surface_.Flush();
    const QImage& plot = surface_.Image();
    if (!plot.isNull()) {
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(picGraph_->geometry().topLeft() + QPoint(0, band), plot);
    }
    return image;
}

}  // namespace lumeno
