#pragma once

#include <QCheckBox>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <array>

#include "capture/Intake.h"
#include "views/DrawingThread.h"
#include "views/parallel/ParallelWindows.h"
#include "views/scrolling/ScrollingWindows.h"
#include "views/text/TextWindows.h"

namespace lumeno {

// The switch of each view on the main window, by index.
enum ViewSwitch {
    kSwitchParallelPort = 0,
    kSwitchHeaders = 1,
    kSwitchTimeSequence = 2,
    kSwitchBody = 3,
    kSwitchParallelIP = 4,
    kSwitchWaterfall = 5,
    kSwitchParallelDual = 6,
    kSwitchParallelDualIPPI = 7,
    kSwitchParallelIPPort = 8,
    kSwitchRunningPort = 9,
    kSwitchParallelIPcustom = 10,
    kSwitchBitData = 11,
    kSwitchCount = 12,
};

// The captions of the twelve switches, by index.
extern const std::array<const char*, kSwitchCount> kSwitchCaptions;

struct SnapshotResult {
    QString timestamp;
    QStringList written;   // paths that were saved
    QStringList failures;  // "path: reason" for each one that was not
};

// What the views' pictures hold: the packets drawn since the last Clear and the time
// from the first capture that drew into them to the end of the last one.
struct PictureSpan {
    std::uint64_t packets = 0;
    QDateTime from, to;  // invalid from: nothing captured since the last Clear
    bool capturing = false;
};

// The twelve views: shows and hides them by the main window's switches, hands every
// accepted packet to all of them (shown or hidden), clears and saves them. Each window is
// made on first use and made again after the user has closed it.
class ViewManager : public QObject, public RecordSink {
    Q_OBJECT

  public:
    explicit ViewManager(std::array<QCheckBox*, kSwitchCount> chkVis, QObject* parent = nullptr);
    ~ViewManager() override;

    void ShowVisualizations();
    void SetDefaultVisualizations();
    void PlotPacket(const PacketRecord& record) override;
    // Lets the six parallel views draw on a second core. Whatever looks at the views through
    // this class waits for their drawing first; the capture calls Sync at the end of every
    // batch, before the event loop lets anything else at the windows. Adaptive, the work
    // comes back to the capture thread while the second core does not gain.
    void SetDrawingThread(bool on, bool adaptive = true) {
        fan_.SetThreaded(on);
        fan_.SetAdaptive(adaptive);
    }
    bool DrawingThread() const { return fan_.Threaded(); }
    void Sync() {
        fan_.Sync();
        if (visTxt_) visTxt_->TakeLines();
    }
    // Whether the body view only notes where the last packet's bytes are (a capture whose
    // frames stay readable), and copies them when told they go.
    void SetBodyLending(bool lending) { TxtBody().SetLending(lending); }
    void KeepBody() {
        if (visTxtBody_) visTxtBody_->Keep();
    }
    void ClearVisualizations();
    // Writes the ten graphical views' images into dir, all named with one timestamp, as
    // BMP files or, with format "png", as PNG files of the same pixels.
    SnapshotResult SaveSnapshots(const QString& dir, const QString& format = QStringLiteral("bmp"));
    // Writes each graphical view's annotated image (the window with its labels, and notes
    // on what it shows) as a PNG file named like its snapshot with "_annotated.png"; only
    // the shown views unless all is set. An empty timestamp takes the present time.
    SnapshotResult SaveAnnotated(const QString& dir, const ImageNotes& notes, bool all,
                                 const QString& timestamp = {});
    // Tiles the main window and the shown views over the main window's screen without
    // overlap, each at least its minimum size. False (nothing moved) when they cannot all
    // fit there.
    bool ArrangeWindows(QWidget& mainWindow);
    // The capture starts or ends: the pictures' time span follows it.
    void CaptureRunning(bool running);
    PictureSpan Span() const;

    // The window behind a switch, made when it does not exist yet.
    ViewWindow& View(int switchIndex);
    // The graphical view saved with the given snapshot suffix.
    GraphWindow* GraphBySuffix(const QString& suffix);

    visParallel& Parallel() { return Synced(visParallel_); }
    visParallelIP& ParallelIP() { return Synced(visParallelIP_); }
    visParallelIPPort& ParallelIPPort() { return Synced(visParallelIPPort_); }
    visParallelIPcustom& ParallelIPcustom() { return Synced(visParallelIPcustom_); }
    visParallelDual& ParallelDual() { return Synced(visParallelDual_); }
    visParallelDual_IPPI& ParallelDualIPPI() { return Synced(visParallelDual_IPPI_); }
    visTimeSequence& TimeSequence() { return Synced(visTimeSequence_); }
    visRunningPort& RunningPort() { return Synced(visRunningPort_); }
    visBitData& BitData() { return Synced(visBitData_); }
    visWaterfallData& WaterfallData() { return Synced(visWaterfallData_); }
    visTxt& Txt() { return Use(visTxt_); }
    visTxtBody& TxtBody() { return Use(visTxtBody_); }

    // Lets the shown windows paint what was drawn since the last refresh.
    void RefreshShown();

    static constexpr int kRefreshMillis = 16;

  private:
    template <class Window>
    Window& Synced(QPointer<Window>& slot) {
        fan_.Sync();
        return Use(slot);
    }
    template <class Window>
    Window& Use(QPointer<Window>& slot) {
        if (!slot || slot->ClosedByUser()) slot = new Window();
        return *slot;
    }
    std::array<ViewWindow*, kSwitchCount> ExistingViews() const;

    std::array<QCheckBox*, kSwitchCount> chkVis_;
    QPointer<visParallel> visParallel_;
    QPointer<visParallelIP> visParallelIP_;
    QPointer<visParallelIPPort> visParallelIPPort_;
    QPointer<visParallelIPcustom> visParallelIPcustom_;
    QPointer<visParallelDual> visParallelDual_;
    QPointer<visParallelDual_IPPI> visParallelDual_IPPI_;
    QPointer<visTimeSequence> visTimeSequence_;
    QPointer<visRunningPort> visRunningPort_;
    QPointer<visBitData> visBitData_;
    QPointer<visWaterfallData> visWaterfallData_;
    QPointer<visTxt> visTxt_;
    QPointer<visTxtBody> visTxtBody_;
    QTimer refresh_;
    lumeno::DrawingThread fan_;
    PictureSpan span_;
};

}  // namespace lumeno
