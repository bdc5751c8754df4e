#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <cstdio>

#include "capture/CaptureCtrl.h"
#include "settings/frmSettings.h"
#include "views/ViewManager.h"

namespace lumeno {

// Packets counted since the last start.
struct CaptureCounts {
    std::uint64_t accepted = 0;
    std::uint64_t incomingTCP = 0, outgoingTCP = 0, incomingUDP = 0, outgoingUDP = 0;
    std::uint64_t other = 0;         // neither TCP nor UDP over IPv4
    std::uint64_t notMonitored = 0;  // TCP or UDP, but not to or from the monitored host

    CaptureCounts& operator+=(const CaptureCounts& o) {
        accepted += o.accepted;
        incomingTCP += o.incomingTCP;
        outgoingTCP += o.outgoingTCP;
        incomingUDP += o.incomingUDP;
        outgoingUDP += o.outgoingUDP;
        other += o.other;
        notMonitored += o.notMonitored;
        return *this;
    }
};

// The control panel: monitor text, adapter, start and stop, the twelve view switches,
// Clear, snapshots and the colour settings. Its packet handler is the intake.
class frmMain : public QWidget, private RecordSink {
    Q_OBJECT

  public:
    frmMain();
    ~frmMain() override;

    // Where snapshots and running images go; by default the program's directory.
    void SetSnapshotDir(const QString& dir);
    const QString& SnapshotDir() const { return snapshotDir_; }
    void SetReplaySpeed(double factor) { capture_.SetReplaySpeed(factor); }
    // Writes one tab-separated line per accepted packet to out (nullptr: none).
    void SetRecordsOutput(std::FILE* out) { records_ = out; }

    void StartCapture();
    void StopCapture();
    // Every frame read from the next Start on also goes to this pcapng file (empty: none).
    void SetCaptureFile(const QString& path);
    void AdapterShortcut(int position);
    SnapshotResult SaveSnapshots();
    // Shows a message in the window (copyable); the last one wins.
    void ShowMessage(const QString& text);
    QString MessageText() const;

    bool IsCapturing() const { return capture_.IsCapturing(); }
    const CaptureCounts& Counts() const { return counts_; }
    CaptureCtrl& Capture() { return capture_; }
    ViewManager& Views() { return *views_; }
    frmSettings& Settings();

    QLineEdit* txtIP() const { return txtIP_; }
    QLineEdit* txtFilter() const { return txtFilter_; }
    QComboBox* cmbInterface() const { return cmbInterface_; }
    QPushButton* Start() const { return start_; }
    QPushButton* Stop() const { return stop_; }
    QPushButton* btnClear() const { return btnClear_; }
    QPushButton* btnColor() const { return btnColor_; }
    QPushButton* btnSnapShot() const { return btnSnapShot_; }
    QPushButton* btnBrowse() const { return btnBrowse_; }
    QCheckBox* chkVis(int index) const { return chkVis_.at(index); }
    QLabel* Label1() const { return label1_; }
    QCheckBox* chkSaveCapture() const { return chkSaveCapture_; }

  signals:
    // A capture ended by itself: a file came to its end, or capture failed.
    void captureEnded(bool failed, const QString& message);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void ListAdapters();
    void PlotPacket(const PacketRecord& record) override;
    void OnPacket(const DecodedPacket& packet);
    void OnCaptureEnded(bool failed, const QString& message);
    void BrowseForFile();
    void RefreshFigures();
    void SetIdle(bool idle);
    // The adapter that Start should take, or none (with the reason in why).
    std::optional<Adapter> ChosenAdapter(QString& why) const;

    CaptureCtrl capture_;
    QPointer<frmSettings> settings_;
    ViewManager* views_ = nullptr;

    QLabel* lblTxtIP_;
    QLineEdit* txtIP_;
    QLabel* label2_;
    QComboBox* cmbInterface_;
    QPushButton* btnBrowse_;
    QPushButton* start_;
    QPushButton* stop_;
    QPushButton* btnClear_;
    QPushButton* btnColor_;
    QPushButton* btnSnapShot_;
    QLabel* lblFilter_;
    QLineEdit* txtFilter_;
    QPlainTextEdit* txtMessage_;
    QCheckBox* chkSaveCapture_;
    QLabel* lblVisualization_;
    std::array<QCheckBox*, kSwitchCount> chkVis_{};
    QLabel* lblSeen_;
    QLabel* lblAccepted_;
    QLabel* lblDropped_;
    QPushButton* command1_;
    QPushButton* command2_;
    QLabel* label1_;
    QTimer figures_;

    std::string monitor_;  // the monitor text, fixed while capturing
    CaptureCounts counts_;
    QString snapshotDir_;
    std::FILE* records_ = nullptr;
};

}  // namespace lumeno
