#include "app/frmMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <thread>

#include "packet/Colors.h"
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

}  // namespace

frmMain::frmMain()
    : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::CustomizeWindowHint),
      snapshotDir_(QCoreApplication::applicationDirPath()) {
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
    chkSaveCapture_ = new QCheckBox(QStringLiteral("Save capture to file…"), this);
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

    capture_.SetPacketHandler([this](const DecodedPacket& packet) { OnPacket(packet); });
    connect(&capture_, &CaptureCtrl::finished, this,
            [this](const QString& m) { OnCaptureEnded(false, m); });
    connect(&capture_, &CaptureCtrl::failed, this,
            [this](const QString& m) { OnCaptureEnded(true, m); });
    connect(&figures_, &QTimer::timeout, this, &frmMain::RefreshFigures);
    figures_.start(250);

    SetSnapshotDir(snapshotDir_);
    RunningImageContext().showStatus = [this](const QString& text) {
        label1_->setText(text);
        ShowMessage(text);
    };

    // Start-up: the preparatory call, the adapter list, the colours, the views.
    capture_.Prepare();
    ListAdapters();
    LoadColors(Settings());
    views_ = new ViewManager(chkVis_, this);
    // Every packet of a batch is drawn by all views before the event loop goes on.
    capture_.SetBatchEndHandler([this] { views_->Sync(); });
    views_->SetDrawingThread(std::thread::hardware_concurrency() > 1);
    views_->SetDefaultVisualizations();
    RefreshFigures();
}

frmMain::~frmMain() {
    capture_.Stop();
    RunningImageContext().showStatus = nullptr;
    delete settings_.data();
}

void frmMain::SetSnapshotDir(const QString& dir) {
    snapshotDir_ = dir;
    RunningImageContext().directory = dir;
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

std::optional<Adapter> frmMain::ChosenAdapter(QString& why) const {
    const QString text = cmbInterface_->currentText();
    int index = cmbInterface_->currentIndex();
    if (index < 0 || cmbInterface_->itemText(index) != text) {
        index = cmbInterface_->findText(text, Qt::MatchExactly);
    }
    if (const Adapter* adapter = capture_.AdapterAt(index + 1); adapter && index >= 0) {
        return *adapter;
    }
    const QString path = text.trimmed();
    if (std::optional<Adapter> stream = CaptureCtrl::StreamAdapter(path)) return stream;
    if (!path.isEmpty() && QFileInfo(path).isFile()) {
        return CaptureCtrl::FileAdapter(path.toStdString());
    }
    if (capture_.Adapters().empty() && path == QStringLiteral("No adapters found")) {
        why = QStringLiteral(
            "No adapters found. Capturing may need more rights (see the README), or choose a "
            "capture file with the … button.");
    } else {
        why = QStringLiteral(
                  "\"%1\" is neither an adapter in the list nor a capture file. Choose an "
                  "adapter from the list, or a capture file with the … button.")
                  .arg(text);
    }
    return std::nullopt;
}

void frmMain::StartCapture() {
    QString why;
    const std::optional<Adapter> adapter = ChosenAdapter(why);
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
    QString error;
    if (!capture_.Start(&error)) {
        ShowMessage(error);
        SetIdle(true);
        return;
    }
    ShowMessage(adapter->isFile ? QStringLiteral("Replaying %1").arg(adapter->displayName())
                                : QStringLiteral("Capturing on %1").arg(adapter->displayName()));
    SetIdle(false);
    RefreshFigures();
}

void frmMain::StopCapture() {
    capture_.Stop();
    SetIdle(true);
    RefreshFigures();
}

void frmMain::SetIdle(bool idle) {
    stop_->setEnabled(!idle);
    start_->setEnabled(idle);
    txtIP_->setEnabled(idle);
    txtFilter_->setEnabled(idle);
}

void frmMain::OnCaptureEnded(bool failed, const QString& message) {
    SetIdle(true);
    RefreshFigures();
    ShowMessage(message);
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
    SnapshotResult result = views_->SaveSnapshots(snapshotDir_);
    if (result.failures.isEmpty()) {
        ShowMessage(QStringLiteral("Saved %1 images %2_*.bmp in %3")
                        .arg(result.written.size())
                        .arg(result.timestamp, snapshotDir_));
    } else {
        ShowMessage(QStringLiteral("Saved %1 of 10 images. Not saved:\n%2")
                        .arg(result.written.size())
                        .arg(result.failures.join(QLatin1Char('\n'))));
    }
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
    if (!path.isEmpty()) cmbInterface_->setEditText(path);
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
}

void frmMain::OnPacket(const DecodedPacket& packet) {
    if (packet.protocolKind == kProtocolOther) {
        ++counts_.other;
        return;
    }
    if (!IntakePacket(packet, monitor_, *this)) ++counts_.notMonitored;
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
    if (records_) {
        std::fprintf(records_, "%.*s\t%.*s\t%.*s\t%d\t%.*s\t%.*s\t%d\t%d\n",
                     int(r.transportType.size()), r.transportType.data(), int(r.sourceMAC.size()),
                     r.sourceMAC.data(), int(r.sourceIP.size()), r.sourceIP.data(), r.sourcePort,
                     int(r.dstMAC.size()), r.dstMAC.data(), int(r.dstIP.size()), r.dstIP.data(),
                     r.dstPort, r.packetLen);
    }
    views_->PlotPacket(r);
}

void frmMain::closeEvent(QCloseEvent* event) {
    // Closing the control panel ends the program at once, with every other window.
    capture_.Stop();
    event->accept();
    QApplication::quit();
}

}  // namespace lumeno
