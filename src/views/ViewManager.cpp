#include "views/ViewManager.h"

#include <QDir>

#include "packet/Library.h"
#include "views/ImageFiles.h"
#include "views/WindowPlacement.h"

namespace lumeno {

const std::array<const char*, kSwitchCount> kSwitchCaptions = {
    "External Port to Internal Port",
    "Headers",
    "Protocol over Time",
    "Raw Packet Data",
    "External IP to Internal IP",
    "Packet Length over Time",
    "Port to IP to IP to Port",
    "IP to Port to Port to IP",
    "External IP to Internal Port",
    "Time Sequence Plot",
    "Custom IP to IP",
    "Bit Rainfall",
};

namespace {

// The ten graphical views' snapshot suffixes, in the order they are saved.
constexpr const char* kSnapshotSuffixes[] = {
    "_parallel_port.bmp",    "_parallel_PIIP.bmp",     "_parallel_IPPI.bmp",    "_parallel_IP.bmp",
    "_time_sequence.bmp",    "_running_port.bmp",      "_waterfall_length.bmp", "_bitdata.bmp",
    "_parallel_IP_port.bmp", "_parallel_IPcustom.bmp",
};

// The file name of a view's image: its snapshot suffix with ".bmp" replaced by ending.
QString ImageName(const QString& timestamp, const char* suffix, const QString& ending) {
    QString name = timestamp + QLatin1String(suffix);
    name.chop(4);
    return name + ending;
}

constexpr bool kDefaultSwitches[kSwitchCount] = {true,  true,  false, false, false, true,
                                                 false, false, true,  true,  false, true};

}  // namespace

ViewManager::ViewManager(std::array<QCheckBox*, kSwitchCount> chkVis, QObject* parent)
    : QObject(parent), chkVis_(chkVis) {
    for (QCheckBox* box : chkVis_) {
        connect(box, &QCheckBox::clicked, this, &ViewManager::ShowVisualizations);
    }
    // Drawing goes into the images at once; the screen catches up at most ~60 times a second.
    connect(&refresh_, &QTimer::timeout, this, &ViewManager::RefreshShown);
    refresh_.start(kRefreshMillis);
}

ViewManager::~ViewManager() {
    fan_.SetThreaded(false);
    for (ViewWindow* window : ExistingViews()) delete window;
}

std::array<ViewWindow*, kSwitchCount> ViewManager::ExistingViews() const {
    return {visParallel_,       visTxt_,           visTimeSequence_,     visTxtBody_,
            visParallelIP_,     visWaterfallData_, visParallelDual_,     visParallelDual_IPPI_,
            visParallelIPPort_, visRunningPort_,   visParallelIPcustom_, visBitData_};
}

ViewWindow& ViewManager::View(int index) {
    fan_.Sync();
    switch (index) {
        case kSwitchParallelPort:
            return Parallel();
        case kSwitchHeaders:
            return Txt();
        case kSwitchTimeSequence:
            return TimeSequence();
        case kSwitchBody:
            return TxtBody();
        case kSwitchParallelIP:
            return ParallelIP();
        case kSwitchWaterfall:
            return WaterfallData();
        case kSwitchParallelDual:
            return ParallelDual();
        case kSwitchParallelDualIPPI:
            return ParallelDualIPPI();
        case kSwitchParallelIPPort:
            return ParallelIPPort();
        case kSwitchRunningPort:
            return RunningPort();
        case kSwitchParallelIPcustom:
            return ParallelIPcustom();
        default:
            return BitData();
    }
}

void ViewManager::ShowVisualizations() {
    fan_.Sync();
    for (int i = 0; i < kSwitchCount; ++i) {
        const Qt::CheckState state = chkVis_[i]->checkState();
        if (state == Qt::PartiallyChecked) continue;  // the grey state changes nothing
        ViewWindow& window = View(i);
        if (state == Qt::Checked) {
            window.show();
            window.Refresh();
        } else {
            window.hide();
        }
    }
}

void ViewManager::SetDefaultVisualizations() {
    for (int i = 0; i < kSwitchCount; ++i) {
        chkVis_[i]->setCheckState(kDefaultSwitches[i] ? Qt::Checked : Qt::Unchecked);
    }
    ShowVisualizations();
}

void ViewManager::PlotPacket(const PacketRecord& r) {
    // Every view sees the record in this fixed order: the six parallel views, the time
    // sequence, the running port plot, the waterfall, the body view, the rainfall, and the
    // header log last. Views the drawing thread takes keep that order among themselves; it
    // takes none that shows a message or writes a file.
    const lumeno::DrawingThread::Views views = {
        &Use(visParallelDual_),   &Use(visParallelDual_IPPI_),
        &Use(visParallel_),       &Use(visParallelIP_),
        &Use(visParallelIPPort_), &Use(visParallelIPcustom_),
        &Use(visTimeSequence_),   &Use(visRunningPort_),
        &Use(visWaterfallData_),  &Use(visBitData_),
        &Use(visTxtBody_)};
    fan_.Plot(views, {r.sourceIP, r.sourcePort, r.dstIP, r.dstPort, r.transportType, currentColor,
                      r.packetTxt, r.packetLen});
    ++span_.packets;
    Txt().PrintHeader(r.sourceMAC, r.sourceIP, r.sourcePort, r.dstMAC, r.dstIP, r.dstPort,
                      r.transportType);
}

void ViewManager::ClearVisualizations() {
    fan_.Sync();
    span_ = {0, span_.capturing ? QDateTime::currentDateTime() : QDateTime(), {}, span_.capturing};
    Txt().Clear();
    TxtBody().Clear();
    TimeSequence().reset();
    RunningPort().reset();
    ParallelIP().Surface().Erase();
    ParallelDualIPPI().Surface().Erase();
    ParallelDual().Surface().Erase();
    Parallel().Surface().Erase();
    ParallelIPPort().Surface().Erase();
    ParallelIPcustom().Surface().Erase();
    WaterfallData().reset();
    BitData().reset();
}

GraphWindow* ViewManager::GraphBySuffix(const QString& suffix) {
    fan_.Sync();
    if (suffix == "_parallel_port.bmp") return &Parallel();
    if (suffix == "_parallel_PIIP.bmp") return &ParallelDual();
    if (suffix == "_parallel_IPPI.bmp") return &ParallelDualIPPI();
    if (suffix == "_parallel_IP.bmp") return &ParallelIP();
    if (suffix == "_time_sequence.bmp") return &TimeSequence();
    if (suffix == "_running_port.bmp") return &RunningPort();
    if (suffix == "_waterfall_length.bmp") return &WaterfallData();
    if (suffix == "_bitdata.bmp") return &BitData();
    if (suffix == "_parallel_IP_port.bmp") return &ParallelIPPort();
    if (suffix == "_parallel_IPcustom.bmp") return &ParallelIPcustom();
    return nullptr;
}

SnapshotResult ViewManager::SaveSnapshots(const QString& dir, const QString& format) {
    fan_.Sync();
    const bool png = format.compare(QLatin1String("png"), Qt::CaseInsensitive) == 0;
    SnapshotResult result;
    result.timestamp = QString::fromStdString(GetTimeStamp());
    const QString folderError = MakeImageFolder(dir);
    for (const char* suffix : kSnapshotSuffixes) {
        const QString path = QDir(dir).filePath(ImageName(
            result.timestamp, suffix, png ? QStringLiteral(".png") : QStringLiteral(".bmp")));
        // A file that cannot be written is reported; the others are still written.
        const QString error = !folderError.isEmpty() ? folderError
                                                     : GraphBySuffix(QLatin1String(suffix))
                                                           ->Surface()
                                                           .SaveImage(path, png ? "png" : "bmp");
        if (error.isEmpty()) {
            result.written << path;
        } else {
            result.failures << QStringLiteral("%1: %2").arg(path, error);
        }
    }
    return result;
}

SnapshotResult ViewManager::SaveAnnotated(const QString& dir, const ImageNotes& notes, bool all,
                                          const QString& timestamp) {
    fan_.Sync();
    SnapshotResult result;
    result.timestamp = timestamp.isEmpty() ? QString::fromStdString(GetTimeStamp()) : timestamp;
    const QString folderError = MakeImageFolder(dir);
    for (const char* suffix : kSnapshotSuffixes) {
        GraphWindow* view = GraphBySuffix(QLatin1String(suffix));
        if (!all && !view->isVisible()) continue;
        const QString path = QDir(dir).filePath(
            ImageName(result.timestamp, suffix, QStringLiteral("_annotated.png")));
        const QString error = !folderError.isEmpty()
                                  ? folderError
                                  : WriteImageFile(view->AnnotatedImage(notes), path, "png");
        if (error.isEmpty()) {
            result.written << path;
        } else {
            result.failures << QStringLiteral("%1: %2").arg(path, error);
        }
    }
    return result;
}

bool ViewManager::ArrangeWindows(QWidget& mainWindow) {
    fan_.Sync();
    // Tall views first, then the wide ones, so that rows hold windows of like shapes. The
    // least outer size (twips) of each: the size it keeps by itself, or for the views
    // that keep none, what leaves their plot and controls usable.
    struct Entry {
        int index;
        QSize minTwips;
    };
    static const Entry kOrder[] = {
        {kSwitchParallelPort, {3250, 2500}},   {kSwitchParallelIP, {3250, 2500}},
        {kSwitchParallelIPPort, {3250, 2500}}, {kSwitchParallelIPcustom, {}},
        {kSwitchBitData, {3250, 2500}},        {kSwitchWaterfall, {3250, 2500}},
        {kSwitchParallelDual, {5500, 2500}},   {kSwitchParallelDualIPPI, {5500, 2500}},
        {kSwitchTimeSequence, {4500, 1500}},   {kSwitchRunningPort, {5250, 1500}},
        {kSwitchHeaders, {5500, 2500}},        {kSwitchBody, {5500, 2500}},
    };
    std::vector<QWidget*> windows{&mainWindow};
    std::vector<TileItem> items{TileOf(mainWindow, {})};
    const std::array<ViewWindow*, kSwitchCount> views = ExistingViews();
    for (const Entry& entry : kOrder) {
        ViewWindow* view = views[entry.index];
        if (!view || !view->isVisible()) continue;
        windows.push_back(view);
        items.push_back(TileOf(*view, entry.minTwips));
    }
    return lumeno::ArrangeWindows(windows, items, AvailableArea(mainWindow));
}

void ViewManager::CaptureRunning(bool running) {
    if (running && !span_.from.isValid()) span_.from = QDateTime::currentDateTime();
    if (!running && span_.capturing) span_.to = QDateTime::currentDateTime();
    span_.capturing = running;
}

PictureSpan ViewManager::Span() const {
    PictureSpan span = span_;
    if (span.capturing) span.to = QDateTime::currentDateTime();
    return span;
}

void ViewManager::RefreshShown() {
    fan_.Sync();
    for (ViewWindow* window : ExistingViews()) {
        if (window && window->isVisible()) window->Refresh();
    }
}

}  // namespace lumeno
