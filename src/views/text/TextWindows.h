#pragma once

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "settings/frmVisTxtSettings.h"
#include "views/WindowKit.h"
#include "views/text/TextLogic.h"

namespace lumeno {

// The text views keep their texts in plain buffers, exact after every packet, and push
// them into the boxes when shown and at most about 30 times a second while shown.
inline constexpr int kTextPushMillis = 33;

// A text view whose texts change in buffers and reach its boxes by Push: when the window
// is shown, and from the repaint timer at most every kTextPushMillis.
class BufferedTextWindow : public ViewWindow {
    Q_OBJECT

  public:
    using ViewWindow::ViewWindow;
    void Refresh() override;

  protected:
    void showEvent(QShowEvent* event) override;
    // Puts the buffered texts into the boxes.
    virtual void Push() = 0;
    void Changed() { dirty_ = true; }
    void Pushed();

  private:
    bool dirty_ = false;
    QElapsedTimer sincePush_;
};

// The running log of header fields.
class visTxt : public BufferedTextWindow {
    Q_OBJECT

  public:
    visTxt();
    ~visTxt() override;
    void PrintHeader(std::string_view sourceMAC, std::string_view sourceIP, std::int32_t sourcePort,
                     std::string_view dstMAC, std::string_view dstIP, std::int32_t dstPort,
                     std::string_view transportType);
    // Empties the log and its box.
    void Clear();
    // The log as it stands, lines separated by CR LF.
    std::string_view LogText() {
        TakeLines();
        return log_.Text();
    }
    // Puts the lines printed since the last call into the log. Lines wait until then, so
    // that those trimmed again before anyone looks are never copied; the capture calls this
    // at the end of every batch, before the user can type into the box.
    void TakeLines();

    QPlainTextEdit* txtPacket() const { return txtPacket_; }
    QPushButton* btnVisTxtSettings() const { return btnVisTxtSettings_; }
    // The header-field choices; made (hidden, with the defaults) on first use and again
    // after the user closed it.
    frmVisTxtSettings& Settings();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void Push() override;

  private:
    // Text the user typed into the box is the log from then on, followed by the lines added
    // since the box last showed the log.
    void TakeUserEdits();
    static constexpr std::size_t kMostWaitingLines = 8192;
    // Widens the tab stops to the longest value seen in each column since the log was cleared.
    void NoteColumns(const std::size_t (&lengths)[7], const bool (&chosen)[7]);
    void SetTabStops();

    QPlainTextEdit* txtPacket_;
    QPushButton* btnVisTxtSettings_;
    QPointer<frmVisTxtSettings> settings_;
    HeaderLog log_;
    // Lines printed but not yet in the log, joined, and where each ends.
    std::string waiting_;
    std::vector<std::uint32_t> waitingEnds_;
    std::string shown_;
    // Where the log stood when the box last showed it.
    std::uint64_t appendedAtPush_ = 0;
    std::uint64_t droppedAtPush_ = 0;
    // The longest value of each column in characters, plus one (0: no such column yet); and
    // what the box's tab stops were last set for.
    std::array<std::uint16_t, frmVisTxtSettings::kFields> columns_{}, tabsFor_{};
};

// The last packet's bytes as characters and in hexadecimal.
class visTxtBody : public BufferedTextWindow {
    Q_OBJECT

  public:
    visTxtBody();
    ~visTxtBody() override;
    void PrintBody(std::span<const std::uint8_t> packetTxt, std::int16_t packetLen);
    // Lending, PrintBody keeps only where the bytes are, for a capture whose frames stay
    // readable until it calls Keep: a busy link's packets are then not all copied, only the
    // one shown when their bytes go.
    void SetLending(bool lending);
    void Keep();
    // Empties both columns.
    void Clear();
    // The two texts for the last packet, as the boxes show them.
    const std::string& HexText();
    const std::string& AsciiText();

    QPlainTextEdit* txtPacketASCII() const { return txtPacketASCII_; }
    QPlainTextEdit* txtPacketHex() const { return txtPacketHex_; }
    QPushButton* btnVisTxtSettings() const { return btnVisTxtSettings_; }
    // "Align rows"; made hidden on first use, and again after the user closed it.
    frmVisTxtBodySettings& Settings();
    // With aligned rows: how many bytes each row of both boxes holds, 16 when they fit.
    int BytesPerRow() const { return perRow_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void Push() override;

  private:
    void Format();
    void SetAlignRows(bool on);
    int FittingBytesPerRow() const;

    QPlainTextEdit* txtPacketASCII_;
    QPlainTextEdit* txtPacketHex_;
    QPushButton* btnVisTxtSettings_;
    // The bytes are kept and formatted only when someone looks: a packet costs one copy,
    // or none while lent.
    std::span<const std::uint8_t> Bytes() const { return lentNow_ ? lent_ : bytes_; }
    std::vector<std::uint8_t> bytes_;
    std::span<const std::uint8_t> lent_;
    bool lending_ = false, lentNow_ = false;
    std::string hex_, ascii_;
    bool formatted_ = true;
    QPointer<frmVisTxtBodySettings> settings_;
    bool alignRows_ = false;
    int perRow_ = 8;
};

}  // namespace lumeno
