#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <random>
#include <string>
#include <vector>

#include "views/text/TextLogic.h"
#include "views/text/TextWindows.h"

namespace lumeno {
namespace {

void Print(visTxt& v, std::int32_t sourcePort = 80) {
    v.PrintHeader("00:1a:2b:3c:4d:5e", "10.0.0.1", sourcePort, "aa:bb:cc:dd:ee:ff", "192.168.1.101",
                  1025, "incomingTCP");
}

// Guards the log line format: each chosen field then a TAB, in a fixed order whatever the
// order of choosing, CR LF between lines but none before the first; a changed choice
// shapes only later lines; an empty line leaves an empty log empty.
TEST(HeaderLog, LinesCarryTheChosenFieldsEachFollowedByATab) {
    visTxt v;
    Print(v);
    Print(v, 65535);
    EXPECT_EQ(v.LogText(),
              "10.0.0.1\t80\t192.168.1.101\t1025\tincomingTCP\t\r\n"
              "10.0.0.1\t65535\t192.168.1.101\t1025\tincomingTCP\t");
    v.Settings().Check1(6)->setChecked(false);
    v.Settings().Check1(3)->setChecked(true);
    v.Settings().Check1(0)->setChecked(true);
    v.Clear();
    Print(v, -1);
    EXPECT_EQ(v.LogText(),
              "00:1a:2b:3c:4d:5e\t10.0.0.1\t-1\taa:bb:cc:dd:ee:ff\t192.168.1.101\t1025\t");
    HeaderLog log;  // the empty line of a log with every field off
    log.Add("");
    EXPECT_EQ(log.Text(), "");
    log.Add("x\t");
    log.Add("");
    EXPECT_EQ(log.Text(), "x\t\r\n");
}

// Guards the trim bound, counted in characters rather than bytes: exactly 3000 characters
// are kept whole, above that one oldest line goes with its CR LF; a single long line without
// a break loses one whole character. The word-at-a-time count at every alignment with two-,
// three- and four-byte characters.
TEST(HeaderLog, TrimsOneOldestLineOnlyAbove3000Characters) {
    std::string typed;  // 1500 characters in 3000 bytes
    for (int i = 0; i < 1500; ++i) typed += "\xc3\xa9";
    HeaderLog log;
    log.Assign(typed + "\r\n" + std::string(1498, 'x'));
    ASSERT_EQ(log.Length(), 3000u);
    log.Add("new");
    EXPECT_EQ(log.Length(), 3005u);
    EXPECT_EQ(log.Text().substr(0, 3000), typed);
    log.Add("next");
    EXPECT_EQ(log.Text(), std::string(1498, 'x') + "\r\nnew\r\nnext");
    EXPECT_EQ(log.Length(), 3005u - 1502 + 6);

    HeaderLog single;
    single.Assign(typed + std::string(1501, 'x'));
    single.Add("L");
    EXPECT_EQ(single.Text(), typed.substr(2) + std::string(1501, 'x') + "\r\nL");
    single.Add("M");
    EXPECT_EQ(single.Text(), "L\r\nM");
    const std::string text =
        "a\xe2\x82\xac"
        "b\xf0\x9f\x98\x80\xc3\xa9"
        "cdefghij";
    for (std::size_t from = 0; from < 8; ++from) {
        EXPECT_EQ(HeaderLog::CharacterCount(std::string(from, 'z') + text + text), from + 2 * 13);
    }
}

// Guards adding many lines at once: the text, its length in characters, the bytes appended
// and the lines dropped are those of adding the same lines one by one, whatever the log held
// (typed text with and without breaks, multi-byte characters, far over the bound, nothing)
// and whatever the lines are (empty, long, multi-byte, with breaks or a lone CR of their own).
TEST(HeaderLog, LinesAddedTogetherLeaveWhatAddingThemOneByOneLeaves) {
    std::mt19937 rng(11);
    auto line = [&]() -> std::string {
        switch (rng() % 8) {
            case 0:
                return "";
            case 1:
                return std::string(rng() % 40, 'x') + "\xc3\xa9\xe2\x82\xac";
            case 2:
                return "a\r\nb";
            case 3:
                return std::string(300 + rng() % 3000, 'L');
            case 4:
                return "cr\r";
            default:
                return std::string(10 + rng() % 90, static_cast<char>('a' + rng() % 26));
        }
    };
    const std::string typed[] = {"",
                                 "typed",
                                 std::string(5000, 'x'),
                                 "\r\n",
                                 "a\r\n",
                                 "\xc3\xa9\r\n" + std::string(2999, 'y'),
                                 std::string(4000, 'z') + "\r\nq\r\n"};
    for (const std::string& start : typed) {
        HeaderLog one, many;
        one.Assign(start);
        many.Assign(start);
        for (int round = 0; round < 40; ++round) {
            const std::size_t n = std::size_t{1} << (rng() % 12);
            const bool plain = rng() % 3 != 0;
            std::string joined;
            std::vector<std::uint32_t> ends;
            for (std::size_t i = 0; i < n; ++i) {
                const std::string l =
                    plain ? std::string(rng() % 60, static_cast<char>('a' + rng() % 26)) : line();
                one.Add(l);
                joined += l;
                ends.push_back(static_cast<std::uint32_t>(joined.size()));
            }
            many.AddLines(joined, ends);
            ASSERT_EQ(many.Text(), one.Text()) << "start " << start.size() << ", round " << round;
            ASSERT_EQ(many.Length(), one.Length());
            ASSERT_EQ(many.Appended(), one.Appended());
            ASSERT_EQ(many.DroppedLines(), one.DroppedLines());
        }
    }
}

std::string Line(std::int32_t sourcePort) {
    return "10.0.0.1\t" + std::to_string(sourcePort) + "\t192.168.1.101\t1025\tincomingTCP\t";
}

void Push(BufferedTextWindow& v) {
    QTest::qWait(kTextPushMillis + 5);
    v.Refresh();
}

// Guards the box and the log staying one while packets arrive between two refreshes of the
// box: whatever the user typed is kept, every line added meanwhile follows it, and the box
// then shows exactly the log.
TEST(HeaderView, WhatTheUserTypesIsKeptWithEveryLineAddedMeanwhile) {
    enum Edit { kReplaceAll, kDeleteAll, kTwoEdits };
    const std::pair<Edit, std::vector<std::string>> cases[] = {
        {kReplaceAll, {"mine", Line(2), Line(3), Line(4)}},
        {kDeleteAll, {Line(2), Line(3), Line(4)}},
        {kTwoEdits, {Line(1), "XY", Line(2), Line(3), Line(4), Line(5)}},
    };
    for (const auto& [edit, lines] : cases) {
        visTxt v;
        v.show();
        QPlainTextEdit* box = v.txtPacket();
        Print(v, 1);
        Push(v);
        Print(v, 2);
        Print(v, 3);
        box->moveCursor(QTextCursor::End);
        if (edit == kTwoEdits) {
            QTest::keyClick(box, Qt::Key_Return);
            QTest::keyClicks(box, "X");
        } else {
            box->selectAll();
            if (edit == kReplaceAll) QTest::keyClicks(box, "mine");
            if (edit == kDeleteAll) QTest::keyClick(box, Qt::Key_Backspace);
        }
        Print(v, 4);
        if (edit == kTwoEdits) {
            QTest::keyClicks(box, "Y");
            Print(v, 5);
        }
        std::string expected;
        for (const std::string& line : lines) expected += (expected.empty() ? "" : "\r\n") + line;
        EXPECT_EQ(v.LogText(), expected) << "edit " << edit;
        Push(v);
        EXPECT_EQ(box->toPlainText().replace('\n', "\r\n").toStdString(), expected);
    }
}

// Guards the place the user reads at: the box opens at the left edge, keeps the lines the
// user scrolled up to while new ones are added and old ones trimmed, and follows the newest
// line again once the user is back at the bottom.
TEST(HeaderView, StaysWhereTheUserScrolledAndFollowsOnlyAtTheBottom) {
    visTxt v;
    v.show();
    v.Settings().Check1(0)->setChecked(true);  // lines wider than the box
    v.Settings().Check1(3)->setChecked(true);
    QPlainTextEdit* box = v.txtPacket();
    QScrollBar* down = box->verticalScrollBar();
    QScrollBar* across = box->horizontalScrollBar();
    auto lineAt = [&](int line) { return box->document()->findBlockByNumber(line).text(); };
    int port = 1000;
    for (; port < 1060; ++port) Print(v, port);  // well over the trim bound
    Push(v);
    ASSERT_GT(across->maximum(), 0);
    EXPECT_EQ(across->value(), 0);
    ASSERT_GT(down->maximum(), 10);
    EXPECT_EQ(down->value(), down->maximum());

    struct Step {
        int scrollTo;  // -1: the bottom
        int packets;
        bool follows;
    };
    const Step steps[] = {
        {5, 10, false}, {5, 1, false}, {20, 10, false}, {-1, 3, true}, {0, 30, false}};
    for (const Step& step : steps) {
        down->setValue(step.scrollTo < 0 ? down->maximum() : step.scrollTo);
        across->setValue(7);
        const QString top = lineAt(down->value());
        for (int i = 0; i < step.packets; ++i) Print(v, port++);
        Push(v);
        EXPECT_EQ(across->value(), 7);
        if (step.follows) {
            EXPECT_EQ(down->value(), down->maximum());
            EXPECT_TRUE(
                lineAt(box->document()->blockCount() - 1).contains(QString::number(port - 1)));
        } else {
            EXPECT_LT(down->value(), down->maximum());
            // A line trimmed away leaves the user at the top.
            if (box->document()->find(top).isNull()) {
                EXPECT_EQ(down->value(), 0);
            } else {
                EXPECT_EQ(lineAt(down->value()), top) << "scrolled to " << step.scrollTo;
            }
        }
    }
}

// Guards the columns: whatever the length of each value (short and long IPv4 addresses,
// IPv6, one- to five-digit ports), every field of every line starts at the same place as
// the same field of the other lines.
TEST(HeaderView, EveryColumnStartsAtOnePlaceWhateverItsValuesLength) {
    visTxt v;
    v.show();
    v.PrintHeader("", "192.168.1.50", 40055, "", "8.8.8.8", 53, "outgoingUDP");
    v.PrintHeader("", "2001:db8:85a3:0:0:8a2e:370:7334", 5, "", "::1", 65535, "outgoingUDP");
    v.PrintHeader("", "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255", 1, "", "fe80::1", 8,
                  "outgoingUDP");
    Push(v);
    QTextDocument* doc = v.txtPacket()->document();
    std::vector<std::vector<qreal>> starts;  // of each line's columns after the first
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        doc->documentLayout()->blockBoundingRect(block);  // lays the line out
        std::vector<qreal>& x = starts.emplace_back();
        for (int i = 0; i + 2 < block.length(); ++i)  // not the tab that ends the line
            if (block.text()[i] == '\t') x.push_back(block.layout()->lineAt(0).cursorToX(i + 1));
    }
    ASSERT_EQ(starts.size(), 3u);
    EXPECT_EQ(starts[0].size(), 4u);
    EXPECT_EQ(starts, std::vector(3, starts[0]));
}

// Guards aligned rows: on, both boxes hold the same bytes on each line, 16 to a row where
// both fit and 8 where not, each hexadecimal row led by its offset, and scrolling either box
// scrolls the other to the same line; off, the wrapping texts again: hex and printable
// characters at the edges of the printable range, a shorter packet replacing a longer one
// completely, a length beyond the bytes given showing those present, a length of 0 or less
// showing nothing, and boxes that shrink to no size rather than a negative one.
TEST(BodyView, AlignedRowsPutEachByteOnTheLineOfItsCharacter) {
    visTxtBody v;
    v.show();
    std::vector<std::uint8_t> bytes(40);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
    v.PrintBody(bytes, 40);
    QTest::mouseClick(v.btnVisTxtSettings(), Qt::LeftButton);
    frmVisTxtBodySettings& settings = v.Settings();
    ASSERT_TRUE(settings.isVisible());

    const qreal glyph = QFontMetricsF(v.txtPacketHex()->font()).horizontalAdvance(QLatin1Char('0'));
    const std::pair<int, const char*> cases[] = {
        {900, "0010  10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F "},
        {static_cast<int>(40 * glyph) + 40, "0008  08 09 0A 0B 0C 0D 0E 0F "},
    };
    settings.chkAlignRows()->setChecked(true);
    for (const auto& [boxWidth, secondHex] : cases) {
        v.resize(2 * (boxWidth + 8), Twips(1500) + 50);
        Push(v);
        const int perRow = boxWidth == 900 ? 16 : 8;
        EXPECT_EQ(v.BytesPerRow(), perRow);
        QTextDocument* hex = v.txtPacketHex()->document();
        QTextDocument* ascii = v.txtPacketASCII()->document();
        EXPECT_EQ(hex->blockCount(), (40 + perRow - 1) / perRow);
        EXPECT_EQ(ascii->blockCount(), hex->blockCount());
        EXPECT_EQ(hex->findBlockByNumber(1).text().toStdString(), secondHex);
        EXPECT_EQ(hex->lastBlock().text().toStdString(), "0020  20 21 22 23 24 25 26 27 ");
        EXPECT_EQ(ascii->firstBlock().text(), QString(". ").repeated(perRow));
        EXPECT_EQ(ascii->lastBlock().text().toStdString(), "  ! \" # $ % & ' ");
        QScrollBar* hexDown = v.txtPacketHex()->verticalScrollBar();
        QScrollBar* asciiDown = v.txtPacketASCII()->verticalScrollBar();
        const int last = std::min(hexDown->maximum(), asciiDown->maximum());
        ASSERT_TRUE(perRow != 8 || last > 0);
        hexDown->setValue(last);
        EXPECT_EQ(asciiDown->value(), last);
        asciiDown->setValue(0);
        EXPECT_EQ(hexDown->value(), 0);
    }
    settings.chkAlignRows()->setChecked(false);
    EXPECT_EQ(v.txtPacketHex()->toPlainText().toStdString(), v.HexText());
    EXPECT_EQ(v.HexText().substr(0, 9), "00 01 02 ");
    const std::uint8_t edges[] = {65, 0, 127, 32, 126, 31, 10, 255};
    v.PrintBody(std::vector<std::uint8_t>(100, 'x'), 100);
    v.PrintBody(edges, 9000);
    Push(v);
    EXPECT_EQ(v.txtPacketHex()->toPlainText(), "41 00 7F 20 7E 1F 0A FF ");
    EXPECT_EQ(v.txtPacketASCII()->toPlainText(), "A . .   ~ . . . ");
    v.PrintBody(edges, 0);
    EXPECT_EQ(v.HexText(), "");
    v.PrintBody(edges, -3);
    EXPECT_EQ(v.AsciiText(), "");
    v.resize(Twips(6000), Twips(900));
    QTest::qWait(10);
    EXPECT_EQ(v.txtPacketHex()->height(), 0);
}

}  // namespace
}  // namespace lumeno
