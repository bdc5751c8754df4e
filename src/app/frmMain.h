#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>

#include "capture/CaptureCtrl.h"
#include "capture/HostTally.h"
#include "settings/frmSettings.h"
#include "views/ViewManager.h"

namespace lumeno {

// Packets counted since the last start.
struct CaptureCounts {
    std::uint64_t accepted = 0;
    std::uint64_t incomingTCP = 0, outgoingTCP = 0, incomingUDP = 0, outgoingUDP = 0;
    std::uint64_t other = 0;         // neither TCP nor UDP over IPv4 or IPv6
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
    // Puts a capture file into the adapter box as the "…" button does: Start replays it
    // even where an adapter has the same name.
    void ChooseFile(const QString& path);
    // Why the capture's frames cannot be decoded, or empty; set by Start.
    const QString& LinkTypeNote() const { return linkNote_; }

    void StartCapture();
    void StopCapture();
    // Every frame read from the next Start on also goes to this pcapng file (empty: none).
    void SetCaptureFile(const QString& path);
    void AdapterShortcut(int position);
    SnapshotResult SaveSnapshots();

    // Images: the format of the plain snapshots ("bmp" or "png"), the annotated images
    // (with all set, of all ten views; the snapshots then write them too, with their
    // timestamp), the folder chooser, and the tiling of the windows.
    void SetImageFormat(const QString& format);
    QString ImageFormat() const;
    void SetAnnotatedWithSnapshots(bool on) { annotatedWithSnapshots_ = on; }
    SnapshotResult SaveAnnotatedImages();
    ImageNotes Notes() const;
    using FolderChooser = std::function<QString(const QString& current, QWidget* parent)>;
    void SetFolderChooser(FolderChooser chooser) { folderChooser_ = std::move(chooser); }
    void ChooseSnapshotDir();
    bool ArrangeWindows();
    QLineEdit* txtSnapshotDir() const { return txtSnapshotDir_; }
    QPushButton* btnSnapshotDir() const { return btnSnapshotDir_; }
    QComboBox* cmbImageFormat() const { return cmbImageFormat_; }
    QPushButton* btnAnnotated() const { return btnAnnotated_; }
    QPushButton* btnArrange() const { return btnArrange_; }
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

    // The addresses of the TCP and UDP packets not drawn since the last start.
    const HostTally& Hosts() const { return hosts_; }
    // Addresses offered as the host to monitor: the busiest ones of the packets not drawn
    // while (almost) nothing is drawn, else the chosen adapter's own. Hidden when none.
    QListWidget* lstHosts() const { return lstHosts_; }
    // Puts an address into Monitor; while capturing, starts again with it.
    void PickMonitor(const QString& address);
    // Whether packets are seen but (almost) none of them is to or from the monitored host.
    bool NothingDrawn() const;

  signals:
    // A capture ended by itself: a file came to its end, or capture failed.
    void captureEnded(bool failed, const QString& message);

  protected:
    void closeEvent(QCloseEvent* event) override;
    // Notices a view window closed by the user, to clear its switch.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ListAdapters();
    void PlotPacket(const PacketRecord& record) override;
    void OnPacket(const DecodedPacket& packet);
    void OnCaptureEnded(bool failed, const QString& message);
    void BrowseForFile();
    void RefreshFigures();
    void SetIdle(bool idle);
    void BuildImageControls();
    // Tells the user about images written or not, with their whole paths.
    void ReportImages(const SnapshotResult& result, const QString& what);
    // The adapter that Start should take, or none (with the reason in why).
    // An adapter and a file of the same name: note says which was taken.
    std::optional<Adapter> ChosenAdapter(QString& why, QString& note) const;
    void RecordsFailed(int error);
    // Keyboard use: letters for the buttons, the tab order, controls that take no focus.
    void SetUpKeyboard();
    // Shows each adapter's addresses beside its name in the adapter list.
    void MarkAdapterAddresses();
    // Fills lstHosts for the present state, or hides it.
    void UpdateHostHints();
    // How many packets were drawn, or why (almost) none was and what to do about it.
    QString WhatWasDrawn() const;

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
    QListWidget* lstHosts_;
    QTimer figures_;

    std::string monitor_;  // the monitor text, fixed while capturing
    CaptureCounts counts_;
    HostTally hosts_;
    bool hintShown_ = false;  // the message said why nothing is drawn
    QString snapshotDir_;
    std::FILE* records_ = nullptr;

    // The images' folder, format, annotated images and the tiling of the windows.
    QLineEdit* txtSnapshotDir_ = nullptr;
    QPushButton* btnSnapshotDir_ = nullptr;
    QComboBox* cmbImageFormat_ = nullptr;
    QPushButton* btnAnnotated_ = nullptr;
    QPushButton* btnArrange_ = nullptr;
    FolderChooser folderChooser_;
    bool annotatedWithSnapshots_ = false;
    QString chosenFile_;  // the path last chosen with "…" (or given on the command line)
    QString linkNote_;
};

}  // namespace lumeno
