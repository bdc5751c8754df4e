#include <gtest/gtest.h>

#include <QTest>
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

TEST(HeaderLog, LinesCarryTheChosenFieldsEachFollowedByATabOrNothing) {
    visTxt v;
    Print(v);
    EXPECT_EQ(v.LogText(), "10.0.0.1\t80\t192.168.1.101\t1025\tincomingTCP\t");  // no CR LF before
    Print(v, 65535);
    EXPECT_EQ(v.LogText(),
              "10.0.0.1\t80\t192.168.1.101\t1025\tincomingTCP\t\r\n"
              "10.0.0.1\t65535\t192.168.1.101\t1025\tincomingTCP\t");
    // A changed choice shapes only the lines that follow; the order of fields stays fixed.
    v.Settings().Check1(6)->setChecked(false);
    v.Settings().Check1(3)->setChecked(true);
    v.Settings().Check1(0)->setChecked(true);
    v.Clear();
    Print(v, -1);
    EXPECT_EQ(v.LogText(),
              "00:1a:2b:3c:4d:5e\t10.0.0.1\t-1\taa:bb:cc:dd:ee:ff\t192.168.1.101\t1025\t");
    // With every choice off lines are empty: an empty log stays empty, a bare CR LF is added
    // after a line.
    for (int i = 0; i < 7; ++i) v.Settings().Check1(i)->setChecked(false);
    v.Clear();
    Print(v);
    EXPECT_EQ(v.LogText(), "");
    HeaderLog log;
    log.Add("x\t");
    log.Add("");
    EXPECT_EQ(log.Text(), "x\t\r\n");
}

TEST(HeaderLog, TrimsOneOldestLineOnlyAbove3000Characters) {
    HeaderLog log;
    const std::string first(98, 'a');  // 98 + CR LF = 100 per line
    log.Assign(first + "\r\n" + std::string(2900, 'b'));
    ASSERT_EQ(log.Length(), 3000u);
    log.Add("new");
    EXPECT_EQ(log.Length(), 3005u);  // exactly 3000: kept whole
    EXPECT_EQ(log.Text().substr(0, 98), first);
    log.Add("next");  // 3005 > 3000: the first line and its CR LF go, then the line is added
    EXPECT_EQ(log.Text().substr(0, 3), "bbb");
    EXPECT_EQ(log.Length(), 3005u - 100 + 6);

    // One long line without a break loses just its first character, then gets a CR LF.
    HeaderLog single;
    single.Assign(std::string(3001, 'z') + "");
    single.Add("L");
    EXPECT_EQ(single.Text(), std::string(3000, 'z') + "\r\nL");
    single.Add("M");  // 3003 characters: the whole long line goes now
    EXPECT_EQ(single.Text(), "L\r\nM");
}

TEST(HeaderLog, CountsCharactersNotBytes) {
    HeaderLog log;
    std::string typed;
    for (int i = 0; i < 1500; ++i) typed += "\xc3\xa9";  // é: two bytes, one character
    log.Assign(typed + "\r\n" + std::string(1498, 'x'));
    EXPECT_EQ(log.Length(), 3000u);
    log.Add("y");
    EXPECT_EQ(log.Text().substr(0, 2), "\xc3\xa9");  // not trimmed: 3000 characters
    HeaderLog noBreak;
    noBreak.Assign(typed + std::string(1501, 'x'));
    noBreak.Add("y");
    EXPECT_EQ(noBreak.Text().substr(0, 2), "\xc3\xa9");  // a whole character went, not a byte
    EXPECT_EQ(HeaderLog::CharacterCount(noBreak.Text()), 3001u - 1 + 3);
    // Counted a word at a time: at every alignment, with three- and four-byte characters.
    const std::string text =
        "a\xe2\x82\xac"
        "b\xf0\x9f\x98\x80\xc3\xa9"
        "cdefghij";
    for (std::size_t from = 0; from < 8; ++from) {
        EXPECT_EQ(HeaderLog::CharacterCount(std::string(from, 'z') + text + text), from + 2 * 13);
    }
}

TEST(HeaderView, TheBoxShowsTheLogAndWhatTheUserTypesBecomesTheLog) {
    visTxt v;
    v.show();
    Print(v);
    Print(v, 443);
    v.Refresh();  // within the push interval: maybe not yet
    QTest::qWait(kTextPushMillis + 5);
    v.Refresh();
    EXPECT_EQ(v.txtPacket()->toPlainText().toStdString(),
              "10.0.0.1\t80\t192.168.1.101\t1025\tincomingTCP\t\n"
              "10.0.0.1\t443\t192.168.1.101\t1025\tincomingTCP\t");
    EXPECT_EQ(v.txtPacket()->textCursor().position(), v.txtPacket()->toPlainText().size());
    // The user replaces the text; the next packet trims and appends to what is left.
    v.txtPacket()->selectAll();
    QTest::keyClicks(v.txtPacket(), "mine");
    Print(v);
    EXPECT_EQ(v.LogText(), "mine\r\n10.0.0.1\t80\t192.168.1.101\t1025\tincomingTCP\t");
    v.Clear();
    EXPECT_EQ(v.LogText(), "");
    EXPECT_TRUE(v.txtPacket()->toPlainText().isEmpty());
}

TEST(HeaderView, SettingsComeBackWithTheDefaultsAfterTheUserClosedThem) {
    visTxt v;
    QTest::mouseClick(v.btnVisTxtSettings(), Qt::LeftButton);
    frmVisTxtSettings* first = &v.Settings();
    EXPECT_TRUE(first->isVisible());
    first->Check1(0)->setChecked(true);
    QTest::mouseClick(first->Command1(), Qt::LeftButton);  // "Done" only hides
    EXPECT_FALSE(first->isVisible());
    EXPECT_EQ(&v.Settings(), first);
    EXPECT_TRUE(v.Settings().Check1(0)->isChecked());
    first->close();  // the title-bar control
    QTest::qWait(1);
    Print(v);
    EXPECT_EQ(v.LogText(), "10.0.0.1\t80\t192.168.1.101\t1025\tincomingTCP\t");
    EXPECT_FALSE(v.Settings().Check1(0)->isChecked());
}

TEST(HeaderView, ADraggedWindowSnapsBackToItsMinimum) {
    visTxt v;
    v.show();
    v.resize(50, 50);
    QTest::qWait(10);
    EXPECT_EQ(v.frameGeometry().size(), QSize(Twips(5500), Twips(2500)));
    // At that size the box is the outer size less 240 x 1250 twips.
    const QSize outer = v.frameGeometry().size() * 15;
    EXPECT_EQ(v.txtPacket()->size(),
              QSize(Twips(outer.width() - 240), Twips(outer.height() - 1250)));
}

TEST(BodyView, TwoColumnsOfTheLastPacket) {
    std::string hex, ascii;
    const std::uint8_t bytes[] = {65, 0, 127, 32};
    const std::uint8_t edges[] = {126, 127, 31, 10, 255};  // the ends of what is printable
    FormatBody(edges, hex, ascii);
    EXPECT_EQ(hex, "7E 7F 1F 0A FF ");
    EXPECT_EQ(ascii, "~ . . . . ");

    visTxtBody v;
    v.show();
    const std::vector<std::uint8_t> long_(100, 'x');
    v.PrintBody(long_, 100);
    v.PrintBody(bytes, 4);  // a shorter packet replaces the first completely
    EXPECT_EQ(v.HexText(), "41 00 7F 20 ");
    QTest::qWait(kTextPushMillis + 5);
    v.Refresh();
    EXPECT_EQ(v.txtPacketHex()->toPlainText(), "41 00 7F 20 ");
    EXPECT_EQ(v.txtPacketASCII()->toPlainText(), "A . .   ");
    // A length beyond the bytes there shows those present; 0 or less shows nothing.
    v.PrintBody(bytes, 9000);
    EXPECT_EQ(v.AsciiText(), "A . .   ");
    v.PrintBody(bytes, 0);
    EXPECT_EQ(v.HexText(), "");
    v.PrintBody(bytes, -3);
    QTest::qWait(kTextPushMillis + 5);
    v.Refresh();
    EXPECT_TRUE(v.txtPacketHex()->toPlainText().isEmpty());
    EXPECT_TRUE(v.txtPacketASCII()->toPlainText().isEmpty());
}

// With no room left for the boxes they have none, not a negative size.
TEST(BodyView, BoxesShrinkToNothing) {
    visTxtBody v;
    v.show();
    v.resize(Twips(6000), Twips(900));
    QTest::qWait(10);
    EXPECT_EQ(v.txtPacketHex()->height(), 0);
}

}  // namespace
}  // namespace lumeno
