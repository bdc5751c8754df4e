#pragma once

#include <QDateTime>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>

#include "views/PlotSurface.h"

namespace lumeno {

// Window layouts are given in twips; 15 twips are one pixel at 96 dots per inch.
constexpr int Twips(int twips) {
    return (twips * 2 + 15) / 30;
}
QRect TwipsRect(int left, int top, int width, int height);

// The named family where installed, otherwise the nearest installed one, so that layouts
// never depend on which fonts the machine has.
enum class FontRole { Verdana, CourierNew, Dialog };
QFont UiFont(FontRole role, double points, bool bold = false);

// Where views save the images they write by themselves (running images), and how they tell
// the user about them: set by the main window.
struct ImageContext {
    QString directory;                               // the program's or --snapshot-dir
    std::function<void(const QString&)> showStatus;  // the main window's status label
};
ImageContext& RunningImageContext();

// What an annotated image says about its picture besides the window's own labels.
struct ImageNotes {
    QString source;   // the adapter or capture file
    QString monitor;  // the monitor text
    QDateTime from, to;
    bool capturing = false;  // still capturing at `to`
    std::uint64_t packets = 0;
};

// The light grey of every control window.
inline constexpr Rgb kFormGrey = MakeRgb(224, 224, 224);
void SetFormBackground(QWidget& window, Rgb color = kFormGrey);

// Shows a surface's persistent image 1:1 in logical pixels, unsmoothed.
class SurfaceWidget : public QWidget {
  public:
    SurfaceWidget(PlotSurface& surface, QWidget* parent);
    // Repaints when the surface changed since the last call.
    void RefreshIfChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    PlotSurface& surface_;
};

// A view window: a single instance that the view manager creates on first use. Closing it
// with the title-bar button destroys it; the manager then builds a new one on next use.
class ViewWindow : public QWidget {
    Q_OBJECT

  public:
    // clientTwips is the built client area; position (twips) where the window first opens,
    // or none to let the system choose.
    ViewWindow(const QString& caption, QSize clientTwips, std::optional<QPoint> positionTwips,
               bool resizable = true);

    bool ClosedByUser() const { return closedByUser_; }
    // Pushes what changed into the widgets; called by the manager's repaint timer.
    virtual void Refresh() {}

  protected:
    // Keeps the outer size (the client plus whatever frame the system adds, none where it
    // adds none) at least minTwips: a window dragged smaller snaps back. Returns the client
    // size the window has to be laid out for.
    QSize KeepMinimumOuter(QSize client, QSize minTwips);

  protected:
    void closeEvent(QCloseEvent* event) override;
    // The first showing keeps the window on the screen.
    void showEvent(QShowEvent* event) override;

  private:
    bool closedByUser_ = false;
    bool shownOnce_ = false;
};

// A view that draws into a plot surface, `picGraph`.
class GraphWindow : public ViewWindow {
    Q_OBJECT

  public:
    GraphWindow(const QString& caption, QSize clientTwips, std::optional<QPoint> positionTwips,
                bool resizable = true);

    PlotSurface& Surface() { return surface_; }
    SurfaceWidget* picGraph() const { return picGraph_; }
    void Refresh() override;
    // An image that explains itself: a band with the window's title, the notes and a key
    // of the four classes' colours, above the window as laid out (its size, its labels, one
    // image pixel per pixel whatever the screen's scale) with the plot exactly as saved.
    QImage AnnotatedImage(const ImageNotes& notes);
    // The height of the notes band of AnnotatedImage for this window's width.
    int NotesHeight(const ImageNotes& notes) const;

  protected:
    // Places picGraph (and the view's other elements) for a client area. Called once when
    // built and again whenever the client size changes; a new surface size erases it.
    virtual void LayOut(QSize client) = 0;
    // Moves and sizes the surface; the picture is erased when its size changes.
    void PlaceSurface(int left, int top, int width, int height);
    // Lays the window out for its present size; derived constructors call it when ready.
    void LayOutNow();
    // The client size the window was last laid out for.
    QSize LaidOutSize() const { return laidOut_; }
    void resizeEvent(QResizeEvent* event) override;

  private:
    PlotSurface surface_;
    SurfaceWidget* picGraph_;
    QSize laidOut_;
};

}  // namespace lumeno
