#include "views/text/TextWindows.h"

#include <QScrollBar>
#include <algorithm>

namespace lumeno {

namespace {

// A box shows lines split by "\n"; the log splits them by CR LF.
void ToBoxText(std::string_view log, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log[i] == '\r' && i + 1 < log.size() && log[i + 1] == '\n') continue;
        out += log[i];
    }
}

std::string FromBoxText(const QString& text) {
    std::string out;
    for (char c : text.toStdString()) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

void SetBoxText(QPlainTextEdit* box, const std::string& text) {
    box->setPlainText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    box->document()->setModified(false);
}

// Twips of an outer size, as the layout rules measure windows.
QSize OuterTwips(const QWidget& w) {
    const QSize outer = w.frameGeometry().size();
    return {outer.width() * 15, outer.height() * 15};
}

}  // namespace

void BufferedTextWindow::Refresh() {
    if (dirty_ && (!sincePush_.isValid() || sincePush_.elapsed() >= kTextPushMillis)) Push();
}

void BufferedTextWindow::showEvent(QShowEvent* event) {
    ViewWindow::showEvent(event);
    if (dirty_) Push();
}

void BufferedTextWindow::Pushed() {
    dirty_ = false;
    sincePush_.restart();
}

visTxt::visTxt() : BufferedTextWindow("Lumeno Packet Headers", {6990, 3180}, QPoint(6945, 12615)) {
    txtPacket_ = new QPlainTextEdit(this);
    txtPacket_->setObjectName(QStringLiteral("txtPacket"));
    txtPacket_->setGeometry(TwipsRect(120, 120, 6735, 2175));
    txtPacket_->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtPacket_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtPacket_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtPacket_->setFont(UiFont(FontRole::Dialog, 8.25));
    btnVisTxtSettings_ = new QPushButton(QStringLiteral("Settings"), this);
    btnVisTxtSettings_->setObjectName(QStringLiteral("btnVisTxtSettings"));
    btnVisTxtSettings_->setGeometry(TwipsRect(120, 2400, 1215, 495));
    setTabOrder(txtPacket_, btnVisTxtSettings_);
    connect(btnVisTxtSettings_, &QPushButton::clicked, this, [this] {
        frmVisTxtSettings& settings = Settings();
        settings.show();
        settings.raise();
    });
}

visTxt::~visTxt() {
    delete settings_.data();
}

frmVisTxtSettings& visTxt::Settings() {
    if (!settings_ || settings_->ClosedByUser()) settings_ = new frmVisTxtSettings();
    return *settings_;
}

void visTxt::PrintHeader(std::string_view sourceMAC, std::string_view sourceIP,
                         std::int32_t sourcePort, std::string_view dstMAC, std::string_view dstIP,
                         std::int32_t dstPort, std::string_view transportType) {
    TakeUserEdits();
    const frmVisTxtSettings& settings = Settings();
    bool chosen[frmVisTxtSettings::kFields];
    for (int i = 0; i < frmVisTxtSettings::kFields; ++i) chosen[i] = settings.Shows(i);
    FormatHeaderLine({sourceMAC, sourceIP, sourcePort, dstMAC, dstIP, dstPort, transportType},
                     chosen, line_);
    log_.Add(line_);
    Changed();
}

void visTxt::TakeUserEdits() {
    if (!txtPacket_->document()->isModified()) return;
    log_.Assign(FromBoxText(txtPacket_->toPlainText()));
    txtPacket_->document()->setModified(false);
}

void visTxt::Clear() {
    log_.Clear();
    txtPacket_->clear();
    txtPacket_->document()->setModified(false);
    Pushed();
}

void visTxt::Push() {
    TakeUserEdits();
    ToBoxText(log_.Text(), shown_);
    SetBoxText(txtPacket_, shown_);
    // The caret at the end: the box scrolls to the newest line.
    txtPacket_->moveCursor(QTextCursor::End);
    Pushed();
}

void visTxt::resizeEvent(QResizeEvent* event) {
    ViewWindow::resizeEvent(event);
    if (KeepMinimumOuter(size(), {5500, 2500}) != size()) return;  // laid out at the new size
    const QSize outer = OuterTwips(*this);
    const int boxHeight = std::max(0, Twips(outer.height() - 1250));
    txtPacket_->setGeometry(Twips(120), Twips(120), std::max(0, Twips(outer.width() - 240)),
                            boxHeight);
    btnVisTxtSettings_->move(Twips(120), boxHeight + Twips(200));
}

visTxtBody::visTxtBody()
    : BufferedTextWindow("Lumeno Packet Body", {5715, 4485}, QPoint(6945, 8415)) {
    // The system's window face, not the light grey of the other windows.
    setAutoFillBackground(false);
    setPalette(QPalette());
    txtPacketASCII_ = new QPlainTextEdit(this);
    txtPacketASCII_->setObjectName(QStringLiteral("txtPacketASCII"));
    txtPacketASCII_->setGeometry(TwipsRect(0, 0, 2415, 3615));
    txtPacketHex_ = new QPlainTextEdit(this);
    txtPacketHex_->setObjectName(QStringLiteral("txtPacketHex"));
    txtPacketHex_->setGeometry(TwipsRect(2640, 0, 2415, 3615));
    for (QPlainTextEdit* box : {txtPacketASCII_, txtPacketHex_}) {
        box->setFont(UiFont(FontRole::CourierNew, 9.75));
        box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        box->setReadOnly(true);
    }
    // This view has no settings: the button is there, but does nothing and says so.
    btnVisTxtSettings_ = new QPushButton(QStringLiteral("Settings"), this);
    btnVisTxtSettings_->setObjectName(QStringLiteral("btnVisTxtSettings"));
    btnVisTxtSettings_->setGeometry(TwipsRect(240, 3840, 1215, 495));
    btnVisTxtSettings_->setEnabled(false);
    btnVisTxtSettings_->setToolTip(QStringLiteral("This view has no settings"));
    setTabOrder(txtPacketASCII_, btnVisTxtSettings_);
    setTabOrder(btnVisTxtSettings_, txtPacketHex_);
    bytes_.reserve(65536);
}

void visTxtBody::PrintBody(std::span<const std::uint8_t> packetTxt, std::int16_t packetLen) {
    // Only the bytes that are there are shown, however many the length claims.
    const std::size_t n = packetLen > 0 ? std::min<std::size_t>(packetLen, packetTxt.size()) : 0;
    bytes_.assign(packetTxt.begin(), packetTxt.begin() + static_cast<std::ptrdiff_t>(n));
    formatted_ = false;
    Changed();
}

void visTxtBody::Format() {
    if (formatted_) return;
    FormatBody(bytes_, hex_, ascii_);
    formatted_ = true;
}

const std::string& visTxtBody::HexText() {
    Format();
    return hex_;
}

const std::string& visTxtBody::AsciiText() {
    Format();
    return ascii_;
}

void visTxtBody::Clear() {
    bytes_.clear();
    formatted_ = false;
    txtPacketASCII_->clear();
    txtPacketHex_->clear();
    Pushed();
}

void visTxtBody::Push() {
    SetBoxText(txtPacketHex_, HexText());
    SetBoxText(txtPacketASCII_, AsciiText());
    Pushed();
}

void visTxtBody::resizeEvent(QResizeEvent* event) {
    ViewWindow::resizeEvent(event);
    const QSize outer = OuterTwips(*this);
    // Below 1500 twips of height the boxes have none left: they shrink to nothing.
    const int boxHeight = std::max(0, Twips(outer.height() - 1500));
    const int boxWidth = std::max(0, Twips(outer.width() / 2 - 120));
    txtPacketHex_->setGeometry(Twips(2640), 0, boxWidth, boxHeight);
    txtPacketASCII_->setGeometry(0, 0, boxWidth, boxHeight);
    btnVisTxtSettings_->move(Twips(240), boxHeight + Twips(300));
}

}  // namespace lumeno
