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

// Guards the trim bound: exactly 3000 characters are kept whole, above that one oldest
// line goes with its CR LF; a single long line without a break loses one character.
TEST(HeaderLog, TrimsOneOldestLineOnlyAbove3000Characters) {
    HeaderLog log;
    const std::string first(98, 'a');  // 98 + CR LF = 100
    log.Assign(first + "\r\n" + std::string(2900, 'b'));
    ASSERT_EQ(log.Length(), 3000u);
    log.Add("new");
    EXPECT_EQ(log.Length(), 3005u);
    EXPECT_EQ(log.Text().substr(0, 98), first);
    log.Add("next");
    EXPECT_EQ(log.Text().substr(0, 3), "bbb");
    EXPECT_EQ(log.Length(), 3005u - 100 + 6);

    HeaderLog single;
    single.Assign(std::string(3001, 'z'));
    single.Add("L");
    EXPECT_EQ(single.Text(), std::string(3000, 'z') + "\r\nL");
    single.Add("M");
    EXPECT_EQ(single.Text(), "L\r\nM");
}

// Guards counting characters rather than bytes in typed text: the bound, a trim that takes
// a whole character, and the word-at-a-time count at every alignment with two-, three-
// and four-byte characters.
TEST(HeaderLog, CountsCharactersNotBytes) {
    std::string typed;
    for (int i = 0; i < 1500; ++i) typed += "\xc3\xa9";
    HeaderLog log;
    log.Assign(typed + "\r\n" + std::string(1498, 'x'));
    EXPECT_EQ(log.Length(), 3000u);
    log.Add("y");
    EXPECT_EQ(log.Text().substr(0, 2), "\xc3\xa9");
    HeaderLog noBreak;
    noBreak.Assign(typed + std::string(1501, 'x'));
    noBreak.Add("y");
    EXPECT_EQ(noBreak.Text().substr(0, 2), "\xc3\xa9");
    EXPECT_EQ(HeaderLog::CharacterCount(noBreak.Text()), 3001u - 1 + 3);
    const std::string text =
        "a\xe2\x82\xac"
        "b\xf0\x9f\x98\x80\xc3\xa9"
        "cdefghij";
    for (std::size_t from = 0; from < 8; ++from) {
        EXPECT_EQ(HeaderLog::CharacterCount(std::string(from, 'z') + text + text), from + 2 * 13);
    }
}

// Guards the box and the log staying one: the box shows the log after the push interval,
// and text the user types becomes the log that the next packet trims and appends to.
TEST(HeaderView, TheBoxShowsTheLogAndWhatTheUserTypesBecomesTheLog) {
    visTxt v;
    v.show();
    Print(v);
    Print(v, 443);
    QTest::qWait(kTextPushMillis + 5);
    v.Refresh();
    EXPECT_EQ(v.txtPacket()->toPlainText().toStdString(),
              "10.0.0.1\t80\t192.168.1.101\t1025\tincomingTCP\t\n"
              "10.0.0.1\t443\t192.168.1.101\t1025\tincomingTCP\t");
    v.txtPacket()->selectAll();
    QTest::keyClicks(v.txtPacket(), "mine");
    Print(v);
    EXPECT_EQ(v.LogText(), "mine\r\n10.0.0.1\t80\t192.168.1.101\t1025\tincomingTCP\t");
}

// Guards the body view: hex and printable characters at the edges of the printable range,
// a shorter packet replacing a longer one completely, a length beyond the bytes given
// showing those present, a length of 0 or less showing nothing, and boxes that shrink to
// no size rather than a negative one.
TEST(BodyView, TwoColumnsOfTheLastPacket) {
    visTxtBody v;
    v.show();
    const std::uint8_t bytes[] = {65, 0, 127, 32, 126, 31, 10, 255};
    const std::vector<std::uint8_t> longer(100, 'x');
    v.PrintBody(longer, 100);
    v.PrintBody(bytes, 9000);
    QTest::qWait(kTextPushMillis + 5);
    v.Refresh();
    EXPECT_EQ(v.txtPacketHex()->toPlainText(), "41 00 7F 20 7E 1F 0A FF ");
    EXPECT_EQ(v.txtPacketASCII()->toPlainText(), "A . .   ~ . . . ");
    v.PrintBody(bytes, 0);
    EXPECT_EQ(v.HexText(), "");
    v.PrintBody(bytes, -3);
    EXPECT_EQ(v.AsciiText(), "");
    v.resize(Twips(6000), Twips(900));
    QTest::qWait(10);
    EXPECT_EQ(v.txtPacketHex()->height(), 0);
}

}  // namespace
}  // namespace lumeno
