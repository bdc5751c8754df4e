#include "views/text/TextWindows.h"

namespace lumeno {

visTxt::visTxt() : ViewWindow("Lumeno Packet Headers", {6990, 3180}, QPoint(6945, 12615)) {
    txtPacket_ = new QPlainTextEdit(this);
    txtPacket_->setObjectName(QStringLiteral("txtPacket"));
    txtPacket_->setGeometry(TwipsRect(120, 120, 6735, 2175));
    txtPacket_->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtPacket_->setFont(UiFont(FontRole::Dialog, 8.25));
    btnVisTxtSettings_ = new QPushButton(QStringLiteral("Settings"), this);
    btnVisTxtSettings_->setObjectName(QStringLiteral("btnVisTxtSettings"));
    btnVisTxtSettings_->setGeometry(TwipsRect(120, 2400, 1215, 495));
}

void visTxt::PrintHeader(std::string_view, std::string_view, std::int32_t, std::string_view,
                         std::string_view, std::int32_t, std::string_view) {}

visTxtBody::visTxtBody() : ViewWindow("Lumeno Packet Body", {5715, 4485}, QPoint(6945, 8415)) {
    txtPacketASCII_ = new QPlainTextEdit(this);
    txtPacketASCII_->setObjectName(QStringLiteral("txtPacketASCII"));
    txtPacketASCII_->setGeometry(TwipsRect(0, 0, 2415, 3615));
    txtPacketASCII_->setFont(UiFont(FontRole::CourierNew, 9.75));
    txtPacketHex_ = new QPlainTextEdit(this);
    txtPacketHex_->setObjectName(QStringLiteral("txtPacketHex"));
    txtPacketHex_->setGeometry(TwipsRect(2640, 0, 2415, 3615));
    txtPacketHex_->setFont(UiFont(FontRole::CourierNew, 9.75));
}

void visTxtBody::PrintBody(std::span<const std::uint8_t>, std::int16_t) {}

}  // namespace lumeno
