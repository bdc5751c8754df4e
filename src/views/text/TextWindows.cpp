#include "views/text/TextWindows.h"

#include <QFontMetricsF>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
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
    const frmVisTxtSettings& settings = Settings();
    bool chosen[frmVisTxtSettings::kFields];
    for (int i = 0; i < frmVisTxtSettings::kFields; ++i) chosen[i] = settings.Shows(i);
    const HeaderFields fields{sourceMAC, sourceIP, sourcePort,   dstMAC,
                              dstIP,     dstPort,  transportType};
    std::size_t lengths[frmVisTxtSettings::kFields];
    FormatHeaderLine(fields, chosen, waiting_, lengths);
    waitingEnds_.push_back(static_cast<std::uint32_t>(waiting_.size()));
    NoteColumns(lengths, chosen);
    // A bound on what waits, for a caller that never ends a batch.
    if (waitingEnds_.size() >= kMostWaitingLines) TakeLines();
    Changed();
}

void visTxt::TakeLines() {
    if (waitingEnds_.empty()) return;
    // Text typed into the box since it last showed the log came before these lines.
    TakeUserEdits();
    log_.AddLines(waiting_, waitingEnds_);
    waiting_.clear();
    waitingEnds_.clear();
}

void visTxt::NoteColumns(const std::size_t (&lengths)[7], const bool (&chosen)[7]) {
    std::size_t column = 0;
    for (int i = 0; i < frmVisTxtSettings::kFields; ++i) {
        if (!chosen[i]) continue;
        const auto chars = static_cast<std::uint16_t>(std::min<std::size_t>(lengths[i], 1000) + 1);
        if (chars > columns_[column]) columns_[column] = chars;
        ++column;
    }
}

void visTxt::SetTabStops() {
    if (columns_ == tabsFor_) return;
    tabsFor_ = columns_;
    // Addresses, ports and MACs are digits, hex letters, dots and colons: a column as wide as
    // its longest value in the widest of those never lets a shorter one slip to the next stop.
    const QFontMetricsF metrics(txtPacket_->font());
    qreal glyph = 0;
    for (const QChar c : QStringLiteral("0123456789abcdefABCDEF:.")) {
        glyph = std::max(glyph, metrics.horizontalAdvance(c));
    }
    const qreal gap = 2 * metrics.horizontalAdvance(QLatin1Char(' '));
    QList<QTextOption::Tab> tabs;
    qreal x = 0;
    for (const std::uint16_t chars : columns_) {
        if (chars == 0) break;
        x += (chars - 1) * glyph + gap;
        tabs.append(QTextOption::Tab(x, QTextOption::LeftTab));
    }
    QTextOption option = txtPacket_->document()->defaultTextOption();
    option.setTabs(tabs);
    txtPacket_->document()->setDefaultTextOption(option);
}

void visTxt::TakeUserEdits() {
    if (!txtPacket_->document()->isModified()) return;
    std::string text = FromBoxText(txtPacket_->toPlainText());
    // The box lacks the lines added since it last showed the log: they follow the user's text.
    const std::string_view log = log_.Text();
    const std::size_t pending = static_cast<std::size_t>(
        std::min<std::uint64_t>(log_.Appended() - appendedAtPush_, log.size()));
    std::string_view added = log.substr(log.size() - pending);
    if (!added.empty()) {
        const bool broken = added.starts_with("\r\n");
        if (text.empty() && broken) added.remove_prefix(2);
        if (!text.empty() && !broken) text += "\r\n";
        text += added;
    }
    log_.Assign(text);
    // The box's lines are the log's first lines again.
    droppedAtPush_ = log_.DroppedLines();
    txtPacket_->document()->setModified(false);
}

void visTxt::Clear() {
    waiting_.clear();
    waitingEnds_.clear();
    log_.Clear();
    txtPacket_->clear();
    txtPacket_->document()->setModified(false);
    appendedAtPush_ = 0;
    droppedAtPush_ = 0;
    columns_ = {};
    Pushed();
}

namespace {

struct LinePosition {
    int line, column;
};

LinePosition LinePositionOf(const QTextDocument& doc, int position) {
    const QTextBlock block = doc.findBlock(position);
    return {block.blockNumber(), position - block.position()};
}

int PositionOf(const QTextDocument& doc, LinePosition at) {
    if (at.line < 0) return 0;
    const QTextBlock block = doc.findBlockByNumber(std::min(at.line, doc.blockCount() - 1));
    return block.position() + std::min(at.column, block.length() - 1);
}

}  // namespace

void visTxt::Push() {
    TakeLines();
    TakeUserEdits();
    QScrollBar* down = txtPacket_->verticalScrollBar();
    QScrollBar* across = txtPacket_->horizontalScrollBar();
    // Lines trimmed at the top move everything up: the user's place moves with its text.
    const int dropped =
        static_cast<int>(std::min<std::uint64_t>(log_.DroppedLines() - droppedAtPush_, 1 << 30));
    // Scrolled to the bottom the box follows the newest line; scrolled up to read it stays.
    const bool follow = down->value() >= down->maximum();
    const int firstLine = down->value() - dropped;
    const int left = across->value();
    const QTextDocument& doc = *txtPacket_->document();
    const QTextCursor caret = txtPacket_->textCursor();
    const bool caretAtEnd = caret.atEnd() && !caret.hasSelection();
    LinePosition anchor = LinePositionOf(doc, caret.anchor());
    LinePosition position = LinePositionOf(doc, caret.position());
    anchor.line -= dropped;
    position.line -= dropped;

    SetTabStops();
    ToBoxText(log_.Text(), shown_);
    SetBoxText(txtPacket_, shown_);

    QTextCursor after(txtPacket_->document());
    if (caretAtEnd) {
        after.movePosition(QTextCursor::End);
    } else {
        after.setPosition(PositionOf(doc, anchor));
        after.setPosition(PositionOf(doc, position), QTextCursor::KeepAnchor);
    }
    txtPacket_->setTextCursor(after);
    down->setValue(follow ? down->maximum() : std::max(0, firstLine));
    across->setValue(left);
    appendedAtPush_ = log_.Appended();
    droppedAtPush_ = log_.DroppedLines();
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
    btnVisTxtSettings_ = new QPushButton(QStringLiteral("Settings"), this);
    btnVisTxtSettings_->setObjectName(QStringLiteral("btnVisTxtSettings"));
    btnVisTxtSettings_->setGeometry(TwipsRect(240, 3840, 1215, 495));
    setTabOrder(txtPacketASCII_, btnVisTxtSettings_);
    setTabOrder(btnVisTxtSettings_, txtPacketHex_);
    connect(btnVisTxtSettings_, &QPushButton::clicked, this, [this] {
        frmVisTxtBodySettings& settings = Settings();
        settings.show();
        settings.raise();
    });
    // With aligned rows a line of one box is the same bytes as that line of the other.
    QScrollBar* hexDown = txtPacketHex_->verticalScrollBar();
    QScrollBar* asciiDown = txtPacketASCII_->verticalScrollBar();
    connect(hexDown, &QScrollBar::valueChanged, this, [this, asciiDown](int value) {
        if (alignRows_) asciiDown->setValue(value);
    });
    connect(asciiDown, &QScrollBar::valueChanged, this, [this, hexDown](int value) {
        if (alignRows_) hexDown->setValue(value);
    });
    bytes_.reserve(65536);
}

visTxtBody::~visTxtBody() {
    delete settings_.data();
}

frmVisTxtBodySettings& visTxtBody::Settings() {
    if (!settings_ || settings_->ClosedByUser()) {
        settings_ = new frmVisTxtBodySettings();
        // The choice belongs to the view: a settings window made anew shows it.
        settings_->chkAlignRows()->setChecked(alignRows_);
        connect(settings_->chkAlignRows(), &QCheckBox::toggled, this, &visTxtBody::SetAlignRows);
    }
    return *settings_;
}

void visTxtBody::SetAlignRows(bool on) {
    if (on == alignRows_) return;
    alignRows_ = on;
    for (QPlainTextEdit* box : {txtPacketASCII_, txtPacketHex_}) {
        box->setLineWrapMode(on ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
        box->setHorizontalScrollBarPolicy(on ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    }
    perRow_ = FittingBytesPerRow();
    formatted_ = false;
    Push();
}

int visTxtBody::FittingBytesPerRow() const {
    const qreal glyph = QFontMetricsF(txtPacketHex_->font()).horizontalAdvance(QLatin1Char('0'));
    auto room = [](const QPlainTextEdit* box) {
        return box->width() - 2 * box->frameWidth() - box->verticalScrollBar()->sizeHint().width() -
               2 * box->document()->documentMargin();
    };
    // An offset, two spaces and 16 units of three; 16 units of two.
    const bool wide =
        room(txtPacketHex_) >= (4 + 2 + 16 * 3) * glyph && room(txtPacketASCII_) >= 16 * 2 * glyph;
    return wide ? 16 : 8;
}

void visTxtBody::PrintBody(std::span<const std::uint8_t> packetTxt, std::int16_t packetLen) {
    // Only the bytes that are there are shown, however many the length claims.
    const std::size_t n = packetLen > 0 ? std::min<std::size_t>(packetLen, packetTxt.size()) : 0;
    if (lending_) {
        lent_ = packetTxt.first(n);
        lentNow_ = true;
    } else {
        bytes_.assign(packetTxt.begin(), packetTxt.begin() + static_cast<std::ptrdiff_t>(n));
        lentNow_ = false;
    }
    formatted_ = false;
    Changed();
}

void visTxtBody::Format() {
    if (formatted_) return;
    if (alignRows_) {
        FormatBodyRows(Bytes(), perRow_, hex_, ascii_);
    } else {
        FormatBody(Bytes(), hex_, ascii_);
    }
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

void visTxtBody::SetLending(bool lending) {
    if (!lending) Keep();
    lending_ = lending;
}

void visTxtBody::Keep() {
    if (!lentNow_) return;
    bytes_.assign(lent_.begin(), lent_.end());
    lentNow_ = false;
}

void visTxtBody::Clear() {
    lentNow_ = false;
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
    if (alignRows_ && FittingBytesPerRow() != perRow_) {
        perRow_ = FittingBytesPerRow();
        formatted_ = false;
        Push();
    }
}

}  // namespace lumeno
