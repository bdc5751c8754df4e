#include "app/frmMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QKeySequence>
#include <QLocale>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <thread>

#include "app/SourcePath.h"
#include "packet/Colors.h"
#include "views/ImageFiles.h"
#include "views/WindowKit.h"
#include "views/WrappingButton.h"

namespace lumeno {

namespace {

struct SwitchPlace {
    int left, top, width;
};
// Three columns of switches, by switch index.
constexpr SwitchPlace kSwitchPlaces[kSwitchCount] = {
    {120, 2880, 2895}, {6240, 2520, 1575}, {3120, 2880, 2535}, {6240, 2880, 1935},
    {120, 2520, 2775}, {3120, 2520, 3015}, {120, 3960, 3015},  {120, 3600, 3015},
    {120, 3240, 3015}, {3120, 3240, 3015}, {120, 4320, 1935},  {6240, 3240, 1935},
};

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    return button;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry,
                  const QFont& font) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setFont(font);
    return label;
}

// Where the adapter list keeps an adapter's addresses, for its drop-down rows.
constexpr int kAddressesRole = Qt::UserRole + 1;
// Rows of the address list that put an address into Monitor carry it here.
constexpr int kPickRole = Qt::UserRole;
// How many of the busiest addresses are offered.
constexpr std::size_t kBusiestShown = 5;
// While capturing, the hint waits for this many TCP and UDP packets: a quiet start of the
// monitored host is not a wrong monitor text.
constexpr std::uint64_t kHintLeast = 20;

// The replay strip lies under the switches and figures, above the image strips.
constexpr int kReplayTop = 4755;
constexpr int kReplayStrip = 780;

// The paces offered; another one asked for becomes an entry of its own, in order.
struct SpeedChoice {
    const char* text;
    double factor;  // 0: as fast as possible
};
constexpr SpeedChoice kSpeeds[] = {
    {"Recorded pace", 1}, {"\u00d710", 10}, {"\u00d7100", 100}, {"As fast as possible", 0}};

bool SameSpeed(double a, double b) {
    return std::abs(a - b) <= 1e-9 * std::max(1.0, std::abs(b));
}

// A count as the user reads it: 4,325.
QString Figure(std::uint64_t n) {
    return QLocale(QLocale::English).toString(static_cast<qulonglong>(n));
}

// Draws an adapter's addresses after its name in the drop-down list; the box itself keeps
// showing the name alone.
class AdapterItemDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString addresses = index.data(kAddressesRole).toString();
        if (!addresses.isEmpty()) option->text += QStringLiteral("   (%1)").arg(addresses);
    }
};

// The switch of a view window, or -1 for any other object.
int SwitchOfWindow(const QObject* o) {
    if (dynamic_cast<const visParallel*>(o)) return kSwitchParallelPort;
    if (dynamic_cast<const visTxt*>(o)) return kSwitchHeaders;
    if (dynamic_cast<const visTimeSequence*>(o)) return kSwitchTimeSequence;
    if (dynamic_cast<const visTxtBody*>(o)) return kSwitchBody;
    if (dynamic_cast<const visParallelIP*>(o)) return kSwitchParallelIP;
    if (dynamic_cast<const visWaterfallData*>(o)) return kSwitchWaterfall;
    if (dynamic_cast<const visParallelDual*>(o)) return kSwitchParallelDual;
    if (dynamic_cast<const visParallelDual_IPPI*>(o)) return kSwitchParallelDualIPPI;
    if (dynamic_cast<const visParallelIPPort*>(o)) return kSwitchParallelIPPort;
    if (dynamic_cast<const visRunningPort*>(o)) return kSwitchRunningPort;
    if (dynamic_cast<const visParallelIPcustom*>(o)) return kSwitchParallelIPcustom;
    if (dynamic_cast<const visBitData*>(o)) return kSwitchBitData;
    return -1;
}

}  // namespace

QString DurationText(double seconds) {
    if (!(seconds > 0)) return QStringLiteral("0 s");
    if (seconds < 9.95) return QStringLiteral("%1 s").arg(seconds, 0, 'f', 1);
    // Each range is decided on the value rounded to its own unit: 3599.6 s is "1 h".
    const double secs = std::round(seconds);
    if (secs < 60) return QStringLiteral("%1 s").arg(secs, 0, 'f', 0);
    if (secs < 3600) {
        const auto s = static_cast<long long>(secs);
        return s % 60 ? QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60)
                      : QStringLiteral("%1 min").arg(s / 60);
    }
    const double mins = std::round(seconds / 60);
    if (mins < 24 * 60) {
        const auto m = static_cast<long long>(mins);
        return m % 60 ? QStringLiteral("%1 h %2 min").arg(m / 60).arg(m % 60)
                      : QStringLiteral("%1 h").arg(m / 60);
    }
    // Beyond any recording's reach the figure would not fit the integer.
    const double hours = std::round(std::min(seconds, 1e15) / 3600);
    const auto h = static_cast<long long>(hours);
    return h % 24 ? QStringLiteral("%1 d %2 h").arg(h / 24).arg(h % 24)
                  : QStringLiteral("%1 d").arg(h / 24);
}

QString CaptureClockText(double stamp) {
    // A damaged file's stamp may be anything; what no calendar can show is said as such.
    constexpr double kLastSecond = 253402300799;  // 9999-12-31 23:59:59 UTC
    if (!(stamp >= 0) || stamp > kLastSecond) return QStringLiteral("(time stamp out of range)");
    const auto millis = static_cast<qint64>(std::floor(stamp * 1000));
    return QDateTime::fromMSecsSinceEpoch(millis).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

frmMain::frmMain()
    : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::CustomizeWindowHint),
      snapshotDir_(DefaultImageFolder()) {
    setWindowTitle(QStringLiteral("Lumeno %1").arg(QStringLiteral(LUMENO_VERSION)));
    SetFormBackground(*this);
    setFixedSize(Twips(9705), Twips(4755));

    const QFont verdana9 = UiFont(FontRole::Verdana, 9);
    const QFont verdana8 = UiFont(FontRole::Verdana, 8.25);

    lblTxtIP_ = MakeLabel(this, "lblTxtIP", "Monitor", TwipsRect(120, 120, 1455, 375), verdana9);
    txtIP_ = new QLineEdit(QStringLiteral("192.168.1.101"), this);
    txtIP_->setObjectName(QStringLiteral("txtIP"));
    txtIP_->setGeometry(TwipsRect(960, 120, 2055, 285));
    txtIP_->setFont(verdana9);
    label2_ = MakeLabel(this, "Label2", "Adapter", TwipsRect(3480, 120, 1455, 375), verdana9);
    cmbInterface_ = new QComboBox(this);
    cmbInterface_->setObjectName(QStringLiteral("cmbInterface"));
    cmbInterface_->setEditable(true);
    cmbInterface_->setInsertPolicy(QComboBox::NoInsert);
    cmbInterface_->setGeometry(TwipsRect(4320, 120, 4455, 315));
    cmbInterface_->setEditText(QStringLiteral("Select Interface"));
    btnBrowse_ = MakeButton(this, "btnBrowse", QStringLiteral("…"), TwipsRect(8835, 120, 375, 315));
    btnBrowse_->setToolTip(QStringLiteral("Choose a capture file (pcap, pcapng) to replay"));

    start_ = MakeButton(this, "Start", "Start", TwipsRect(120, 600, 975, 1095));
    stop_ = MakeButton(this, "Stop", "Stop", TwipsRect(1200, 600, 975, 1095));
    btnClear_ = MakeButton(this, "btnClear", "Clear", TwipsRect(2280, 600, 975, 1095));
    for (QPushButton* b : {start_, stop_, btnClear_}) b->setFont(verdana9);
    stop_->setEnabled(false);
    btnColor_ = MakeButton(this, "btnColor", "Color Settings", TwipsRect(3960, 600, 2055, 495));
    // The caption is wider than the button: it wraps onto two lines.
    btnSnapShot_ = new WrappingButton(
        QStringLiteral("Save Visualization Images to Application Directory"), this);
    btnSnapShot_->setObjectName(QStringLiteral("btnSnapShot"));
    btnSnapShot_->setGeometry(TwipsRect(3960, 1200, 2055, 495));
    btnSnapShot_->setFont(UiFont(FontRole::Dialog, 7));

    // A BPF capture filter, applied to adapters and capture files alike.
    lblFilter_ = MakeLabel(this, "lblFilter", "Filter", TwipsRect(6120, 630, 600, 255), verdana8);
    txtFilter_ = new QLineEdit(this);
    txtFilter_->setObjectName(QStringLiteral("txtFilter"));
    txtFilter_->setGeometry(TwipsRect(6720, 600, 2865, 285));
    txtFilter_->setFont(verdana8);
    txtFilter_->setPlaceholderText(QStringLiteral("everything (e.g. tcp port 80)"));
    txtFilter_->setToolTip(QStringLiteral("A capture filter in tcpdump's syntax"));

    // Every frame read also goes to a capture file, from the next Start on.
    chkSaveCapture_ = new QCheckBox(QStringLiteral("Save capture to fi&le…"), this);
    chkSaveCapture_->setObjectName(QStringLiteral("chkSaveCapture"));
    chkSaveCapture_->setGeometry(TwipsRect(120, 1710, 3135, 210));
    chkSaveCapture_->setFont(verdana8);

    // Messages for the user: failures, the end of a capture file, what was saved.
    txtMessage_ = new QPlainTextEdit(this);
    txtMessage_->setObjectName(QStringLiteral("txtMessage"));
    txtMessage_->setReadOnly(true);
    txtMessage_->setGeometry(TwipsRect(6120, 960, 3465, 735));
    txtMessage_->setFont(UiFont(FontRole::Verdana, 7.5));
    txtMessage_->setFrameShape(QFrame::NoFrame);
    txtMessage_->setBackgroundVisible(false);
    {
        QPalette palette = txtMessage_->palette();
        palette.setColor(QPalette::Base, QColor(224, 224, 224));
        txtMessage_->setPalette(palette);
    }

    auto* line1 = new QFrame(this);
    line1->setObjectName(QStringLiteral("Line1"));
    line1->setGeometry(Twips(120), Twips(1920), Twips(8880) - Twips(120), 1);
    line1->setAutoFillBackground(true);
    {
        QPalette palette = line1->palette();
        palette.setColor(QPalette::Window, QColor(192, 192, 192));
        line1->setPalette(palette);
    }
    lblVisualization_ = MakeLabel(this, "lblVisualization", "Visualization",
                                  TwipsRect(120, 2160, 1455, 255), verdana9);
    for (int i = 0; i < kSwitchCount; ++i) {
        chkVis_[i] = new QCheckBox(QString::fromLatin1(kSwitchCaptions[i]), this);
        chkVis_[i]->setObjectName(QStringLiteral("chkVis_%1").arg(i));
        chkVis_[i]->setFont(verdana8);
        const SwitchPlace& p = kSwitchPlaces[i];
        chkVis_[i]->setGeometry(TwipsRect(p.left, p.top, p.width, 375));
    }

    // Capture figures, in the free area below the third column of switches.
    lblSeen_ = MakeLabel(this, "lblSeen", "", TwipsRect(6240, 3660, 3345, 255), verdana8);
    lblAccepted_ = MakeLabel(this, "lblAccepted", "", TwipsRect(6240, 3915, 3345, 255), verdana8);
    lblDropped_ = MakeLabel(this, "lblDropped", "", TwipsRect(6240, 4170, 3345, 255), verdana8);

    // Below the visible area, reached only with the keyboard focus.
    command1_ = MakeButton(this, "Command1", "Command1", TwipsRect(4200, 7920, 1095, 495));
    command2_ = MakeButton(this, "Command2", "Command2", TwipsRect(4200, 8640, 1095, 495));
    label1_ = MakeLabel(this, "Label1", "Label1", TwipsRect(120, 7080, 6855, 735), font());

    // Hosts to monitor, under the second column of switches; shown when there are some.
    lstHosts_ = new QListWidget(this);
    lstHosts_->setObjectName(QStringLiteral("lstHosts"));
    lstHosts_->setGeometry(TwipsRect(3120, 3630, 3015, 1110));
    lstHosts_->setFont(UiFont(FontRole::Verdana, 7));
    lstHosts_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lstHosts_->setToolTip(
        QStringLiteral("Click an address (or choose it and press Enter) to "
                       "put it into Monitor"));
    lstHosts_->hide();
    connect(lstHosts_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { PickMonitor(item->data(kPickRole).toString()); });
    connect(lstHosts_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { PickMonitor(item->data(kPickRole).toString()); });

    connect(start_, &QPushButton::clicked, this, &frmMain::StartCapture);
    connect(stop_, &QPushButton::clicked, this, &frmMain::StopCapture);
    connect(btnClear_, &QPushButton::clicked, this, [this] { views_->ClearVisualizations(); });
    connect(btnColor_, &QPushButton::clicked, this, [this] {
        frmSettings& settings = Settings();
        settings.show();
        settings.raise();
    });
    connect(btnSnapShot_, &QPushButton::clicked, this, [this] { SaveSnapshots(); });
    connect(btnBrowse_, &QPushButton::clicked, this, &frmMain::BrowseForFile);
    connect(chkSaveCapture_, &QCheckBox::clicked, this, [this](bool on) {
        SetCaptureFile(on ? QFileDialog::getSaveFileName(
                                this, QStringLiteral("Save capture to file"), QString(),
                                QStringLiteral("pcapng files (*.pcapng);;All files (*)"))
                          : QString());
    });
    connect(&capture_, &CaptureCtrl::writeFailed, this, &frmMain::ShowMessage);
    connect(command1_, &QPushButton::clicked, this, [this] { AdapterShortcut(1); });
    connect(command2_, &QPushButton::clicked, this, [this] { AdapterShortcut(2); });
    // Enter in Monitor or Filter starts capture, as a dialog's default button would; both
    // fields are locked while capturing.
    for (QLineEdit* field : {txtIP_, txtFilter_}) {
        connect(field, &QLineEdit::returnPressed, this, [this] {
            if (start_->isEnabled()) StartCapture();
        });
    }
    connect(cmbInterface_, &QComboBox::currentIndexChanged, this, &frmMain::UpdateHostHints);
    connect(cmbInterface_, &QComboBox::editTextChanged, this, &frmMain::UpdateHostHints);

    capture_.SetPacketHandler([this](const DecodedPacket& packet) { OnPacket(packet); });
    connect(&capture_, &CaptureCtrl::finished, this,
            [this](const QString& m) { OnCaptureEnded(false, m); });
    connect(&capture_, &CaptureCtrl::failed, this,
            [this](const QString& m) { OnCaptureEnded(true, m); });
    // Gaps are told in the message with the figures, not once per gap.
    connect(&capture_, &CaptureCtrl::gapSkipped, this, [this](double seconds) {
        gapsUntold_ += seconds;
        ++gapsUntoldCount_;
    });
    connect(&figures_, &QTimer::timeout, this, &frmMain::RefreshFigures);
    figures_.start(250);

    BuildReplayControls();
    BuildImageControls();
    SetSnapshotDir(snapshotDir_);
    RunningImageContext().showStatus = [this](const QString& text) {
        label1_->setText(text);
        ShowMessage(text);
    };

    // Start-up: the preparatory call, the adapter list, the colours, the views.
    capture_.Prepare();
    ListAdapters();
    MarkAdapterAddresses();
    LoadColors(Settings());
    views_ = new ViewManager(chkVis_, this);
    // Every packet of a batch is drawn by all views before the event loop goes on.
    capture_.SetBatchEndHandler([this] { views_->Sync(); });
    capture_.SetFramesExpireHandler([this] { views_->KeepBody(); });
    views_->SetDrawingThread(std::thread::hardware_concurrency() > 1);
    views_->SetDefaultVisualizations();
    qApp->installEventFilter(this);
    SetUpKeyboard();
    RefreshFigures();
}

frmMain::~frmMain() {
    // Closing the window moves the focus, and the adapter box then reports a change to a
    // window that is half gone.
    cmbInterface_->disconnect(this);
    qApp->removeEventFilter(this);
    capture_.Stop();
    RunningImageContext().showStatus = nullptr;
    delete settings_.data();
}

void frmMain::SetSnapshotDir(const QString& dir) {
    snapshotDir_ = dir;
    RunningImageContext().directory = dir;
    if (txtSnapshotDir_) {
        txtSnapshotDir_->setText(dir);
        txtSnapshotDir_->setCursorPosition(0);
        txtSnapshotDir_->setToolTip(dir);
    }
}

frmSettings& frmMain::Settings() {
    if (!settings_ || settings_->ClosedByUser()) {
        settings_ = new frmSettings();
        settings_->SetBackgroundApplier(
            [this] { views_->Parallel().Surface().SetBackground(colorBackground); });
    }
    return *settings_;
}

void frmMain::ListAdapters() {
    capture_.Prepare();
    cmbInterface_->clear();
    if (capture_.Adapters().empty()) {
        cmbInterface_->setEditText(QStringLiteral("No adapters found"));
        cmbInterface_->setEnabled(false);
        if (!capture_.ListError().isEmpty()) {
            ShowMessage(QStringLiteral("Cannot list adapters: %1").arg(capture_.ListError()));
        }
    } else {
        for (const Adapter& adapter : capture_.Adapters()) {
            cmbInterface_->addItem(adapter.displayName());
        }
        // The other sources' forms, to be edited in place.
        for (const QString& hint : CaptureCtrl::StreamHints()) {
            cmbInterface_->addItem(hint);
            cmbInterface_->setItemData(cmbInterface_->count() - 1,
                                       hint == QStringLiteral("-")
                                           ? QStringLiteral("A pcap stream on standard input")
                                           : QStringLiteral("Edit the host (and adapter or port)"),
                                       Qt::ToolTipRole);
        }
        cmbInterface_->setCurrentIndex(0);
        cmbInterface_->setEditText(cmbInterface_->itemText(0));
    }
    stop_->setEnabled(false);
}

std::optional<Adapter> frmMain::ChosenAdapter(QString& why, QString& note) const {
    const QString text = cmbInterface_->currentText();
    int index = cmbInterface_->currentIndex();
    if (index < 0 || cmbInterface_->itemText(index) != text) {
        index = cmbInterface_->findText(text, Qt::MatchExactly);
    }
    const Adapter* adapter = index >= 0 ? capture_.AdapterAt(index + 1) : nullptr;
    const QString path = text.trimmed();
    if (IsStreamName(path)) {
        if (std::optional<Adapter> stream = CaptureCtrl::StreamAdapter(path)) return stream;
    }
    const PathCheck check = CheckPath(path);
    const bool readable = check.kind == PathKind::kRegular || check.kind == PathKind::kStream;
    // A bare name like "lo" is the adapter even when the current folder holds a file of that
    // name: the file wins only when written as a path or chosen with "…".
    const bool meantAsFile = path.contains(QLatin1Char('/')) || path == chosenFile_;
    if (readable && (meantAsFile || !adapter)) {
        if (adapter) {
            note = QStringLiteral("(the file, not the adapter %1)").arg(adapter->displayName());
        }
        // A named pipe or a device is read as it comes, never waiting for an end.
        if (check.kind == PathKind::kStream) {
            if (std::optional<Adapter> stream = CaptureCtrl::StreamAdapter(path)) return stream;
        }
        return CaptureCtrl::FileAdapter(path.toStdString());
    }
    if (adapter) {
        if (readable) {
            note = QStringLiteral(
                       "(the adapter, not the file of that name: for the file write "
                       "./%1 or choose it with the … button)")
                       .arg(path);
        }
        return *adapter;
    }
    if (capture_.Adapters().empty() && path == QStringLiteral("No adapters found")) {
        why = QStringLiteral(
            "No adapters found. Capturing may need more rights (see the README), or choose a "
            "capture file with the … button.");
    } else if (check.kind == PathKind::kMissing && !path.contains(QLatin1Char('/'))) {
        why = QStringLiteral(
                  "\"%1\" is neither an adapter in the list nor a file (%2). Choose an "
                  "adapter from the list, or a capture file with the … button.")
                  .arg(text, QString::fromLocal8Bit(std::strerror(check.error)));
    } else {
        why = PathProblem(path) + QStringLiteral(". Choose a capture file with the … button.");
    }
    return std::nullopt;
}

void frmMain::StartCapture() {
    QString why, note;
    const std::optional<Adapter> adapter = ChosenAdapter(why, note);
    if (!adapter) {
        ShowMessage(why);
        return;
    }
    if (QString filterError; !capture_.SetFilter(txtFilter_->text(), &filterError)) {
        ShowMessage(filterError);
        return;
    }
    capture_.SetCurrentAdapter(*adapter);
    // The monitor box is locked while capturing, so its text is read once here.
    monitor_ = txtIP_->text().toStdString();
    counts_ = {};
    hosts_.Clear();
    hintShown_ = false;
    gapsUntold_ = 0;
    gapsUntoldCount_ = 0;
    jumpLine_.clear();
    QString error;
    if (!capture_.Start(&error)) {
        ShowMessage(error);
        SetIdle(true);
        return;
    }
    views_->SetBodyLending(capture_.FramesStay());
    QString started = adapter->isFile
                          ? QStringLiteral("Replaying %1").arg(adapter->displayName())
                          : QStringLiteral("Capturing on %1").arg(adapter->displayName());
    if (!note.isEmpty()) started += QLatin1Char(' ') + note;
    linkNote_ = UndecodableLinkTypeText(capture_.LinkType());
    if (!linkNote_.isEmpty()) started += QLatin1Char('\n') + linkNote_;
    ShowMessage(started);
    SetIdle(false);
    RefreshFigures();
}

void frmMain::StopCapture() {
    const bool wasCapturing = capture_.IsCapturing();
    capture_.Stop();
    SetIdle(true);
    RefreshFigures();
    if (wasCapturing) {
        ShowMessage(QStringLiteral("Stopped: %1 packets read. %2")
                        .arg(Figure(capture_.Statistics().seen), WhatWasDrawn()) +
                    SkippedText());
    }
}

QString frmMain::SkippedText() const {
    const double skipped = capture_.Position().skippedSeconds;
    if (!(skipped > 0)) return QString();
    return QStringLiteral("\nTime jumped: %1 of silence skipped in all (gaps cut to %2 s).")
        .arg(DurationText(skipped))
        .arg(capture_.MaxGap());
}

void frmMain::SetIdle(bool idle) {
    views_->CaptureRunning(!idle);
    stop_->setEnabled(!idle);
    start_->setEnabled(idle);
    txtIP_->setEnabled(idle);
    txtFilter_->setEnabled(idle);
    // Only a replay has a pace and a pause; a live capture draws every packet as it comes.
    const bool replaying = !idle && capture_.CanPause();
    btnPause_->setEnabled(replaying);
    btnPause_->setText(QStringLiteral("Pa&use"));
    cmbSpeed_->setEnabled(idle || replaying);
}

void frmMain::SetReplaySpeed(double factor) {
    if (!(factor > 0) || !std::isfinite(factor)) factor = 0;
    int index = -1;
    for (int i = 0; i < cmbSpeed_->count(); ++i) {
        if (SameSpeed(cmbSpeed_->itemData(i).toDouble(), factor)) index = i;
    }
    if (index < 0) {
        // In order of pace, as fast as possible last.
        index = 0;
        while (index < cmbSpeed_->count() && cmbSpeed_->itemData(index).toDouble() > 0 &&
               cmbSpeed_->itemData(index).toDouble() < factor) {
            ++index;
        }
        cmbSpeed_->insertItem(index, QStringLiteral("\u00d7%1").arg(factor, 0, 'g', 6), factor);
    }
    const QSignalBlocker quiet(cmbSpeed_);
    cmbSpeed_->setCurrentIndex(index);
    capture_.SetReplaySpeed(factor);
}

void frmMain::SetPaused(bool paused) {
    if (!capture_.IsCapturing() || !capture_.CanPause()) return;
    capture_.SetPaused(paused);
    // One button, one letter: Alt+U pauses and resumes.
    btnPause_->setText(paused ? QStringLiteral("Res&ume") : QStringLiteral("Pa&use"));
    RefreshFigures();
}

void frmMain::OnCaptureEnded(bool failed, const QString& message) {
    SetIdle(true);
    RefreshFigures();
    if (linkNote_.isEmpty()) linkNote_ = UndecodableLinkTypeText(capture_.LinkType());
    // The end of a file would hide why nothing was drawn.
    const QString told = message + QLatin1Char(' ') + WhatWasDrawn() + SkippedText();
    ShowMessage(linkNote_.isEmpty() ? told : told + QLatin1Char('\n') + linkNote_);
    emit captureEnded(failed, message);
}

void frmMain::AdapterShortcut(int position) {
    capture_.Prepare();
    const Adapter* adapter = capture_.AdapterAt(position);
    if (!adapter) {
        ShowMessage(QStringLiteral("There is no adapter %1: the list has %2.")
                        .arg(position)
                        .arg(capture_.Adapters().size()));
        return;
    }
    capture_.SetCurrentAdapter(*adapter);
    label1_->setText(adapter->displayName());
    ShowMessage(QStringLiteral("Adapter %1: %2").arg(position).arg(adapter->displayName()));
}

SnapshotResult frmMain::SaveSnapshots() {
    SnapshotResult result = views_->SaveSnapshots(snapshotDir_, ImageFormat());
    if (annotatedWithSnapshots_) {
        const SnapshotResult annotated =
            views_->SaveAnnotated(snapshotDir_, Notes(), true, result.timestamp);
        result.written += annotated.written;
        result.failures += annotated.failures;
    }
    ReportImages(result, QStringLiteral("images"));
    return result;
}

void frmMain::ShowMessage(const QString& text) {
    txtMessage_->setPlainText(text);
}

QString frmMain::MessageText() const {
    return txtMessage_->toPlainText();
}

void frmMain::BrowseForFile() {
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Replay a capture file"), QString(),
        QStringLiteral("Capture files (*.pcap *.pcapng *.cap *.pcap.gz);;All files (*)"));
    if (!path.isEmpty()) ChooseFile(path);
}

void frmMain::ChooseFile(const QString& path) {
    chosenFile_ = path;
    cmbInterface_->setEnabled(true);
    cmbInterface_->setEditText(path);
}

void frmMain::RecordsFailed(int error) {
    // Nothing more is read: a partial table must not look like a whole one.
    records_ = nullptr;
    capture_.Stop();
    const QString message =
        QStringLiteral("records not written: %1").arg(QString::fromLocal8Bit(std::strerror(error)));
    // Out of the packet event: the window and whoever waits learn it from the event loop.
    QMetaObject::invokeMethod(
        this, [this, message] { OnCaptureEnded(true, message); }, Qt::QueuedConnection);
}

void frmMain::SetCaptureFile(const QString& path) {
    capture_.SetWriteFile(path);
    chkSaveCapture_->setChecked(!path.isEmpty());
    chkSaveCapture_->setToolTip(path);
    if (!path.isEmpty()) {
        ShowMessage(
            QStringLiteral("From the next Start on, every frame read is saved to %1").arg(path));
    }
}

void frmMain::RefreshFigures() {
    const CaptureStats stats = capture_.Statistics();
    lblSeen_->setText(QStringLiteral("Packets seen: %1").arg(stats.seen));
    lblAccepted_->setText(QStringLiteral("Packets accepted: %1").arg(counts_.accepted));
    lblDropped_->setText(stats.dropsKnown ? QStringLiteral("Dropped: %1 by kernel, %2 by adapter")
                                                .arg(stats.dropped)
                                                .arg(stats.ifDropped)
                                          : QStringLiteral("Dropped: not known"));
    // Said once per capture, so that the user's own reading of the message is not upset.
    if (capture_.IsCapturing() && !hintShown_ && NothingDrawn()) {
        hintShown_ = true;
        ShowMessage(MessageText() + QLatin1Char('\n') + WhatWasDrawn());
    }
    if (capture_.IsCapturing()) TellSkippedGaps();
    UpdateHostHints();
    RefreshPosition();
}

void frmMain::TellSkippedGaps() {
    if (gapsUntoldCount_ == 0) return;
    const QString line =
        gapsUntoldCount_ == 1
            ? QStringLiteral("Time jumped: skipped %1 of silence.").arg(DurationText(gapsUntold_))
            : QStringLiteral("Time jumped: skipped %1 of silence in %2 gaps.")
                  .arg(DurationText(gapsUntold_))
                  .arg(gapsUntoldCount_);
    gapsUntold_ = 0;
    gapsUntoldCount_ = 0;
    // The line about the previous jump gives way to this one: many short gaps must not push
    // the rest of the message out of sight.
    QString text = MessageText();
    if (!jumpLine_.isEmpty() && text.endsWith(jumpLine_)) {
        text.chop(jumpLine_.size());
        if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
    }
    jumpLine_ = line;
    ShowMessage(text.isEmpty() ? line : text + QLatin1Char('\n') + line);
}

void frmMain::RefreshPosition() {
    const Adapter& adapter = capture_.CurrentAdapter();
    if (adapter.name.empty()) return;  // nothing started yet
    const bool capturing = capture_.IsCapturing();
    const bool live = !adapter.isFile &&
                      (adapter.kind == SourceKind::kAdapter || adapter.kind == SourceKind::kSsh);
    const ReplayPosition at = capture_.Position();
    const QLocale english(QLocale::English);
    if (live) {
        prgPosition_->hide();
    } else if (at.totalBytes > 0) {
        prgPosition_->setRange(0, 1000);
        prgPosition_->setValue(
            static_cast<int>(std::min<std::uint64_t>(1000, at.bytesRead * 1000 / at.totalBytes)));
        prgPosition_->setToolTip(
            QStringLiteral("%1 of %2 read")
                .arg(english.formattedDataSize(static_cast<qint64>(at.bytesRead), 1,
                                               QLocale::DataSizeSIFormat),
                     english.formattedDataSize(static_cast<qint64>(at.totalBytes), 1,
                                               QLocale::DataSizeSIFormat)));
        prgPosition_->show();
    } else {
        // A stream's end is not known: busy while it runs.
        prgPosition_->setRange(0, 0);
        prgPosition_->setToolTip(QString());
        prgPosition_->setVisible(capturing);
    }
    QStringList parts;
    if (capturing && capture_.IsPaused()) parts << QStringLiteral("Paused");
    if (at.lastStamp > 0) {
        parts << QStringLiteral("Last packet %1").arg(CaptureClockText(at.lastStamp));
    }
    if (!live && at.totalBytes == 0 && at.bytesRead > 0) {
        parts << QStringLiteral("%1 read").arg(english.formattedDataSize(
            static_cast<qint64>(at.bytesRead), 1, QLocale::DataSizeSIFormat));
    }
    if (at.skippedSeconds > 0) {
        parts << QStringLiteral("%1 of silence skipped").arg(DurationText(at.skippedSeconds));
    }
    lblPosition_->setText(parts.join(QStringLiteral(" \u00b7 ")));
}

void frmMain::OnPacket(const DecodedPacket& packet) {
    if (packet.protocolKind == kProtocolOther) {
        ++counts_.other;
        return;
    }
    if (!IntakePacket(packet, monitor_, *this)) {
        ++counts_.notMonitored;
        // Only the packets not drawn: they name the hosts to monitor instead, and the path
        // of the drawn ones stays as fast as it was.
        hosts_.Count(packet.sourceIP);
        hosts_.Count(packet.destinationIP);
    }
}

void frmMain::PlotPacket(const PacketRecord& r) {
    ++counts_.accepted;
    if (r.transportType == kIncomingTCP) {
        ++counts_.incomingTCP;
    } else if (r.transportType == kOutgoingTCP) {
        ++counts_.outgoingTCP;
    } else if (r.transportType == kIncomingUDP) {
        ++counts_.incomingUDP;
    } else {
        ++counts_.outgoingUDP;
    }
    // A record that does not fit the stream's buffer is written out here: a failing write
    // shows in the result, at no extra cost per record.
    if (records_ &&
        std::fprintf(records_, "%.*s\t%.*s\t%.*s\t%d\t%.*s\t%.*s\t%d\t%d\n",
                     int(r.transportType.size()), r.transportType.data(), int(r.sourceMAC.size()),
                     r.sourceMAC.data(), int(r.sourceIP.size()), r.sourceIP.data(), r.sourcePort,
                     int(r.dstMAC.size()), r.dstMAC.data(), int(r.dstIP.size()), r.dstIP.data(),
                     r.dstPort, r.packetLen) < 0) {
        RecordsFailed(errno);
        return;
    }
    views_->PlotPacket(r);
}

// --- images and windows ------------------------------------------------------------------

void frmMain::BuildReplayControls() {
    const QFont verdana8 = UiFont(FontRole::Verdana, 8.25);
    // A strip of its own under the switches: the pace, Pause/Resume, and where the replay
    // stands, by bytes of the file and by the capture's own clock.
    const int top = kReplayTop;
    setFixedSize(width(), height() + Twips(kReplayStrip));
    lblSpeed_ = MakeLabel(this, "lblSpeed", QStringLiteral("Speed"),
                          TwipsRect(120, top + 120, 780, 255), verdana8);
    cmbSpeed_ = new QComboBox(this);
    cmbSpeed_->setObjectName(QStringLiteral("cmbSpeed"));
    cmbSpeed_->setGeometry(TwipsRect(900, top + 90, 2400, 315));
    cmbSpeed_->setFont(verdana8);
    for (const SpeedChoice& choice : kSpeeds) {
        cmbSpeed_->addItem(QString::fromUtf8(choice.text), choice.factor);
    }
    cmbSpeed_->setToolTip(
        QStringLiteral("How fast capture files and streams are replayed, also while they are. "
                       "At a pace, a silence longer than the longest wait (1 s, or "
                       "--max-gap) is cut to it."));
    btnPause_ = MakeButton(this, "btnPause", QStringLiteral("Pa&use"),
                           TwipsRect(3420, top + 60, 1095, 375));
    btnPause_->setFont(verdana8);
    btnPause_->setEnabled(false);
    btnPause_->setToolTip(
        QStringLiteral("Pause or resume the replay (Alt+U); a live capture has no pause"));
    prgPosition_ = new QProgressBar(this);
    prgPosition_->setObjectName(QStringLiteral("prgPosition"));
    prgPosition_->setGeometry(TwipsRect(4620, top + 120, 4965, 255));
    prgPosition_->setRange(0, 1000);
    prgPosition_->setValue(0);
    prgPosition_->setTextVisible(false);
    lblPosition_ =
        MakeLabel(this, "lblPosition", QString(), TwipsRect(120, top + 480, 9465, 255), verdana8);

    SetReplaySpeed(capture_.ReplaySpeed());
    connect(cmbSpeed_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0) return;
        capture_.SetReplaySpeed(cmbSpeed_->itemData(index).toDouble());
        RefreshPosition();
    });
    connect(btnPause_, &QPushButton::clicked, this, [this] { SetPaused(!capture_.IsPaused()); });
}

void frmMain::BuildImageControls() {
    const QFont verdana8 = UiFont(FontRole::Verdana, 8.25);
    // Two strips below everything else: where images go and in which format; then the
    // annotated images and the tiling of the windows.
    const int strip = kReplayTop + kReplayStrip;
    setFixedSize(width(), height() + Twips(960));
    btnArrange_ = MakeButton(this, "btnArrange", QStringLiteral("A&rrange Windows"),
                             TwipsRect(120, strip + 510, 2535, 375));
    btnArrange_->setToolTip(QStringLiteral("Tile this window and the shown views over the screen"));
    btnAnnotated_ = MakeButton(this, "btnAnnotated", QStringLiteral("Save a&nnotated images"),
                               TwipsRect(2760, strip + 510, 2535, 375));
    btnAnnotated_->setToolTip(
        QStringLiteral("One PNG per shown view: the window with its labels, the source, the "
                       "monitored address, the time, the packets and a colour key"));
    for (QPushButton* b : {btnArrange_, btnAnnotated_}) b->setFont(verdana8);

    auto* caption = MakeLabel(this, "lblSnapshotDir", QStringLiteral("Images go to"),
                              TwipsRect(120, strip + 60, 1260, 255), verdana8);
    caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    txtSnapshotDir_ = new QLineEdit(this);
    txtSnapshotDir_->setObjectName(QStringLiteral("txtSnapshotDir"));
    txtSnapshotDir_->setReadOnly(true);
    txtSnapshotDir_->setGeometry(TwipsRect(1380, strip + 30, 6120, 315));
    txtSnapshotDir_->setFont(verdana8);
    btnSnapshotDir_ = MakeButton(this, "btnSnapshotDir", QStringLiteral("…"),
                                 TwipsRect(7560, strip + 30, 375, 315));
    btnSnapshotDir_->setToolTip(QStringLiteral("Choose the folder for images (Alt+G)"));
    btnSnapshotDir_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_G));
    cmbImageFormat_ = new QComboBox(this);
    cmbImageFormat_->setObjectName(QStringLiteral("cmbImageFormat"));
    cmbImageFormat_->addItems({QStringLiteral("BMP"), QStringLiteral("PNG")});
    cmbImageFormat_->setGeometry(TwipsRect(8040, strip + 30, 1545, 315));
    cmbImageFormat_->setFont(verdana8);
    cmbImageFormat_->setToolTip(QStringLiteral("The format of the plain snapshots"));

    connect(btnArrange_, &QPushButton::clicked, this, [this] { ArrangeWindows(); });
    connect(btnAnnotated_, &QPushButton::clicked, this, [this] { SaveAnnotatedImages(); });
    connect(btnSnapshotDir_, &QPushButton::clicked, this, &frmMain::ChooseSnapshotDir);
    folderChooser_ = [](const QString& current, QWidget* parent) {
        return QFileDialog::getExistingDirectory(parent, QStringLiteral("Folder for images"),
                                                 current);
    };
}

void frmMain::SetImageFormat(const QString& format) {
    cmbImageFormat_->setCurrentIndex(
        format.compare(QLatin1String("png"), Qt::CaseInsensitive) == 0 ? 1 : 0);
}

QString frmMain::ImageFormat() const {
    return cmbImageFormat_->currentIndex() == 1 ? QStringLiteral("png") : QStringLiteral("bmp");
}

ImageNotes frmMain::Notes() const {
    const PictureSpan span = views_->Span();
    ImageNotes notes;
    notes.source = capture_.CurrentAdapter().name.empty() ? QString()
                                                          : capture_.CurrentAdapter().displayName();
    notes.monitor = txtIP_->text();
    notes.from = span.from;
    notes.to = span.to;
    notes.capturing = span.capturing;
    notes.packets = span.packets;
    return notes;
}

SnapshotResult frmMain::SaveAnnotatedImages() {
    const SnapshotResult result = views_->SaveAnnotated(snapshotDir_, Notes(), false);
    if (result.written.isEmpty() && result.failures.isEmpty()) {
        ShowMessage(
            QStringLiteral("No graphical view is shown: switch one on to save its "
                           "annotated image."));
        return result;
    }
    ReportImages(result, QStringLiteral("annotated images"));
    return result;
}

void frmMain::ReportImages(const SnapshotResult& result, const QString& what) {
    const int total = static_cast<int>(result.written.size() + result.failures.size());
    if (result.failures.isEmpty()) {
        ShowMessage(QStringLiteral("Saved %1 %2:\n%3")
                        .arg(total)
                        .arg(what, result.written.join(QLatin1Char('\n'))));
    } else {
        ShowMessage(QStringLiteral("Saved %1 of %2 %3. Not saved:\n%4")
                        .arg(result.written.size())
                        .arg(total)
                        .arg(what, result.failures.join(QLatin1Char('\n'))));
    }
}

void frmMain::ChooseSnapshotDir() {
    const QString dir = folderChooser_ ? folderChooser_(snapshotDir_, this) : QString();
    if (dir.isEmpty()) return;  // cancelled
    const QString absolute = QDir(dir).absolutePath();
    SetSnapshotDir(absolute);
    ShowMessage(CanCreateFilesIn(absolute)
                    ? QStringLiteral("Images go to %1").arg(absolute)
                    : QStringLiteral("Images go to %1, but files cannot be created there: "
                                     "choose another folder.")
                          .arg(absolute));
}

bool frmMain::ArrangeWindows() {
    if (views_->ArrangeWindows(*this)) return true;
    ShowMessage(
        QStringLiteral("The shown windows do not fit on the screen side by side at "
                       "their smallest: switch some views off and arrange again."));
    return false;
}

bool frmMain::NothingDrawn() const {
    const std::uint64_t tcpUdp = counts_.accepted + counts_.notMonitored;
    if (tcpUdp == 0 || counts_.accepted * 100 >= tcpUdp) return false;
    return !capture_.IsCapturing() || tcpUdp >= kHintLeast;
}

QString frmMain::WhatWasDrawn() const {
    const std::uint64_t tcpUdp = counts_.accepted + counts_.notMonitored;
    const bool capturing = capture_.IsCapturing();
    if (capture_.Statistics().seen == 0) {
        return capturing ? QString() : QStringLiteral("Nothing drawn.");
    }
    if (tcpUdp == 0) {
        return QStringLiteral("Nothing drawn: no TCP or UDP packet over IP %1.")
            .arg(capturing ? QStringLiteral("so far") : QStringLiteral("among them"));
    }
    if (!NothingDrawn()) return QStringLiteral("%1 drawn.").arg(Figure(counts_.accepted));
    const QString monitor = QString::fromStdString(monitor_);
    const QString pick = QStringLiteral("Pick a busy address from the list to monitor it.");
    if (counts_.accepted > 0) {
        return QStringLiteral("Only %1 of %2 TCP/UDP packets %3 to or from \"%4\". %5")
            .arg(Figure(counts_.accepted), Figure(tcpUdp),
                 capturing ? QStringLiteral("so far are") : QStringLiteral("are"), monitor, pick);
    }
    if (capturing) {
        return QStringLiteral("Nothing drawn: no TCP/UDP packet so far is to or from \"%1\". %2")
            .arg(monitor, pick);
    }
    return QStringLiteral("Nothing drawn: none of the %1 TCP/UDP packets is to or from \"%2\". %3")
        .arg(Figure(tcpUdp), monitor, pick);
}

void frmMain::UpdateHostHints() {
    QStringList rows;   // what each row shows
    QStringList picks;  // what each row puts into Monitor; empty for a heading
    if (NothingDrawn()) {
        rows << QStringLiteral("Busiest addresses not drawn:");
        picks << QString();
        for (const HostTally::Host& host : hosts_.Busiest(kBusiestShown)) {
            const QString address = QString::fromStdString(host.address);
            rows << QStringLiteral("%1   %2%3 packets")
                        .arg(address, host.exact ? QString() : QStringLiteral("over "),
                             Figure(host.packets));
            picks << address;
        }
    } else {
        // The adapter the box names, when it is a device with addresses.
        const int index = cmbInterface_->currentIndex();
        const Adapter* adapter =
            index >= 0 && cmbInterface_->itemText(index) == cmbInterface_->currentText()
                ? capture_.AdapterAt(index + 1)
                : nullptr;
        if (adapter && !adapter->isFile && !adapter->addresses.empty()) {
            rows << QStringLiteral("Addresses of %1:").arg(QString::fromStdString(adapter->name));
            picks << QString();
            for (const std::string& a : adapter->addresses) {
                rows << QString::fromStdString(a);
                picks << QString::fromStdString(a);
            }
        }
    }
    // Rows that keep their address only change their text, so that a row the user is
    // about to pick stays where it is; otherwise the list is laid anew and the chosen
    // address stays chosen.
    bool samePicks = rows.size() == lstHosts_->count();
    for (int i = 0; samePicks && i < rows.size(); ++i) {
        samePicks = lstHosts_->item(i)->data(kPickRole).toString() == picks[i];
    }
    if (samePicks) {
        for (int i = 0; i < rows.size(); ++i) {
            if (lstHosts_->item(i)->text() != rows[i]) lstHosts_->item(i)->setText(rows[i]);
        }
    } else {
        const QListWidgetItem* current = lstHosts_->currentItem();
        const QString chosen = current ? current->data(kPickRole).toString() : QString();
        lstHosts_->clear();
        for (int i = 0; i < rows.size(); ++i) {
            auto* item = new QListWidgetItem(rows[i], lstHosts_);
            item->setData(kPickRole, picks[i]);
            if (picks[i].isEmpty()) {
                item->setFlags(Qt::ItemIsEnabled);
                QFont bold = lstHosts_->font();
                bold.setBold(true);
                item->setFont(bold);
            }
        }
        if (const int row = picks.indexOf(chosen); !chosen.isEmpty() && row > 0) {
            lstHosts_->setCurrentRow(row);
        }
    }
    lstHosts_->setVisible(!rows.isEmpty());
}

void frmMain::PickMonitor(const QString& address) {
    if (address.isEmpty()) return;
    if (!capture_.IsCapturing()) {
        txtIP_->setText(address);
        ShowMessage(
            QStringLiteral("Monitor is now %1: press Start (or Enter in Monitor).").arg(address));
        start_->setFocus();
        return;
    }
    if (QString::fromStdString(monitor_) == address) return;
    // The monitor text is fixed for a capture: start again with the new one.
    capture_.Stop();
    SetIdle(true);
    txtIP_->setText(address);
    StartCapture();
    if (capture_.IsCapturing()) {
        ShowMessage(
            QStringLiteral("Monitor is now %1, started again. %2").arg(address, MessageText()));
    }
}

void frmMain::MarkAdapterAddresses() {
    for (int i = 0; i < cmbInterface_->count(); ++i) {
        for (const Adapter& adapter : capture_.Adapters()) {
            if (adapter.displayName() != cmbInterface_->itemText(i)) continue;
            QStringList addresses;
            for (const std::string& a : adapter.addresses) addresses << QString::fromStdString(a);
            const QString text = addresses.join(QStringLiteral(", "));
            cmbInterface_->setItemData(i, text, kAddressesRole);
            cmbInterface_->setItemData(i, text.isEmpty() ? QStringLiteral("No address") : text,
                                       Qt::ToolTipRole);
        }
    }
    cmbInterface_->setItemDelegate(new AdapterItemDelegate(cmbInterface_));
    // The drop-down is as wide as its longest row, addresses included.
    cmbInterface_->view()->setMinimumWidth(cmbInterface_->view()->sizeHintForColumn(0) + 8);
}

void frmMain::SetUpKeyboard() {
    // Alt and the underlined letter presses a button or goes to a field.
    start_->setText(QStringLiteral("&Start"));
    stop_->setText(QStringLiteral("S&top"));
    btnClear_->setText(QStringLiteral("&Clear"));
    btnColor_->setText(QStringLiteral("C&olor Settings"));
    btnSnapShot_->setText(QStringLiteral("Save Visualization &Images to Application Directory"));
    btnBrowse_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_B));
    btnBrowse_->setToolTip(btnBrowse_->toolTip() + QStringLiteral(" (Alt+B)"));
    const std::pair<QLabel*, QWidget*> buddies[] = {
        {lblTxtIP_, txtIP_},
        {label2_, cmbInterface_},
        {lblFilter_, txtFilter_},
    };
    for (const auto& [label, field] : buddies) {
        label->setText(QLatin1Char('&') + label->text());
        label->setBuddy(field);
    }
    // S is Start's.
    lblSpeed_->setText(QStringLiteral("Sp&eed"));
    lblSpeed_->setBuddy(cmbSpeed_);

    // Out of sight, so out of the tab order: the adapter shortcuts serve code, not users.
    command1_->setFocusPolicy(Qt::NoFocus);
    command2_->setFocusPolicy(Qt::NoFocus);
    // The message can be selected with the mouse and copied; Tab passes it by.
    txtMessage_->setFocusPolicy(Qt::ClickFocus);

    // The fields, the buttons, then the switches column by column, top to bottom.
    std::vector<QWidget*> order = {txtIP_,    cmbInterface_, btnBrowse_, txtFilter_,
                                   start_,    stop_,         btnClear_,  chkSaveCapture_,
                                   btnColor_, btnSnapShot_};
    std::array<int, kSwitchCount> switches{};
    for (int i = 0; i < kSwitchCount; ++i) switches[i] = i;
    std::sort(switches.begin(), switches.end(), [](int a, int b) {
        return std::pair(kSwitchPlaces[a].left, kSwitchPlaces[a].top) <
               std::pair(kSwitchPlaces[b].left, kSwitchPlaces[b].top);
    });
    for (int i : switches) order.push_back(chkVis_[i]);
    order.push_back(lstHosts_);
    order.push_back(cmbSpeed_);
    order.push_back(btnPause_);
    for (QWidget* w : std::initializer_list<QWidget*>{btnArrange_, btnAnnotated_, txtSnapshotDir_,
                                                      btnSnapshotDir_, cmbImageFormat_}) {
        order.push_back(w);
    }
    for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
    lblVisualization_->setText(QStringLiteral("&Visualization"));
    lblVisualization_->setBuddy(chkVis_[switches[0]]);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    // The switches show what is on the screen: a view the user closed is off.
    if (event->type() == QEvent::Close && views_) {
        if (const int index = SwitchOfWindow(watched); index >= 0) {
            if (chkVis_[index]->checkState() == Qt::Checked) {
                chkVis_[index]->setCheckState(Qt::Unchecked);
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::closeEvent(QCloseEvent* event) {
    // Closing the control panel ends the program at once, with every other window.
    capture_.Stop();
    event->accept();
    QApplication::quit();
}

}  // namespace lumeno
