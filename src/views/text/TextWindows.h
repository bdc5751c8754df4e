#pragma once

#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdint>
#include <span>
#include <string_view>

#include "views/WindowKit.h"

namespace lumeno {

// The running log of header fields.
class visTxt : public ViewWindow {
    Q_OBJECT

  public:
    visTxt();
    void PrintHeader(std::string_view sourceMAC, std::string_view sourceIP, std::int32_t sourcePort,
                     std::string_view dstMAC, std::string_view dstIP, std::int32_t dstPort,
                     std::string_view transportType);
    QPlainTextEdit* txtPacket() const { return txtPacket_; }

  private:
    QPlainTextEdit* txtPacket_;
    QPushButton* btnVisTxtSettings_;
};

// The last packet's bytes as characters and in hexadecimal.
class visTxtBody : public ViewWindow {
    Q_OBJECT

  public:
    visTxtBody();
    void PrintBody(std::span<const std::uint8_t> packetTxt, std::int16_t packetLen);
    QPlainTextEdit* txtPacketASCII() const { return txtPacketASCII_; }
    QPlainTextEdit* txtPacketHex() const { return txtPacketHex_; }

  private:
    QPlainTextEdit* txtPacketASCII_;
    QPlainTextEdit* txtPacketHex_;
};

}  // namespace lumeno
