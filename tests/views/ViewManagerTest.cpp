#include "views/ViewManager.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "packet/Colors.h"

namespace lumeno {
namespace {

struct Switches {
    std::vector<std::unique_ptr<QCheckBox>> owned;
    std::array<QCheckBox*, kSwitchCount> boxes{};
    Switches() {
        for (QCheckBox*& box : boxes) {
            owned.push_back(std::make_unique<QCheckBox>());
            box = owned.back().get();
            box->setTristate(true);
        }
    }
};

// Whether a line crosses the middle of the surface (the earlier records' lie at its bottom).
bool MiddleDrawn(const PlotSurface& s) {
    for (int y = s.Height() / 2 - 3; y <= s.Height() / 2 + 3; ++y) {
        if (s.PixelAt(s.Width() / 2, y) != s.Background()) return true;
    }
    return false;
}

// What a view could see of the others when the waterfall and the rainfall tell the user
// about a running image: by then the parallel and time views must have drawn the record,
// the body view must show it only at the rainfall's message, and the header log must not
// have its line yet. Alike with and without the drawing thread.
TEST(ViewManager, EveryViewSeesARecordInItsFixedTurn) {
    for (const bool threaded : {false, true}) {
        SCOPED_TRACE(threaded ? "drawing thread" : "one thread");
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        ImageContext& context = RunningImageContext();
        const ImageContext saved = context;
        Switches switches;
        ViewManager m(switches.boxes);
        m.SetDrawingThread(threaded);
        constexpr int kRows = 4;
        for (RowScrollingWindow* w :
             std::initializer_list<RowScrollingWindow*>{&m.WaterfallData(), &m.BitData()}) {
            w->Surface().Resize(w->Surface().Width(), kRows);
            w->chkSnapshots()->setChecked(true);
        }
        visTxtBody& body = m.TxtBody();
        visTxt& header = m.Txt();
        PlotSurface& timeSequence = m.TimeSequence().Surface();
        PlotSurface& port = m.Parallel().Surface();
        struct Seen {
            bool water;
            std::string body;
            std::size_t headerLength;
            bool timeDrawn, portDrawn;
        };
        std::vector<Seen> seen;
        context.directory = dir.path();
        context.showStatus = [&](const QString& message) {
            seen.push_back(
                {message.contains("_runningwater"), body.HexText(), header.LogText().size(),
                 // Looked at only where no other thread draws.
                 !threaded && timeSequence.PixelAt(kRows - 1, 1) != timeSequence.Background(),
                 !threaded && MiddleDrawn(port)});
        };
        currentColor = kDefaultIncomingTCP;  // as the intake sets it
        std::size_t headerBefore = 0;
        for (int i = 0; i < kRows; ++i) {
            const std::uint8_t bytes[] = {static_cast<std::uint8_t>(0xA0 + i)};
            headerBefore = header.LogText().size();
            // A line through the middle of the port plot only from the last record.
            const std::int32_t sourcePort = i + 1 == kRows ? 32768 : 1;
            // In the class's colour, as the intake sets it: the colour left from start-up
            // is the background's, which would leave no line to see.
            SetPacketColor("incomingTCP");
            m.PlotPacket({"", "10.0.0.1", sourcePort, "", "192.168.1.2", i + 1 == kRows ? 32768 : 1,
                          "incomingTCP", 1, bytes});
        }
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_TRUE(seen[0].water);
        EXPECT_FALSE(seen[1].water);
        EXPECT_EQ(seen[0].body, "A2 ");
        EXPECT_EQ(seen[1].body, "A3 ");
        EXPECT_EQ(seen[0].headerLength, headerBefore);
        EXPECT_EQ(seen[1].headerLength, headerBefore);
        EXPECT_GT(header.LogText().size(), headerBefore);
        EXPECT_EQ(seen[0].timeDrawn, !threaded);
        EXPECT_EQ(seen[0].portDrawn, !threaded);
        context = saved;
    }
}

// The grey state of a switch changes nothing: its view stays as it was, shown or hidden,
// while the other switches are applied.
TEST(ViewManager, AGreySwitchLeavesItsViewAsItWas) {
    Switches switches;
    ViewManager m(switches.boxes);
    m.SetDefaultVisualizations();
    for (const Qt::CheckState before : {Qt::Checked, Qt::Unchecked}) {
        switches.boxes[kSwitchBody]->setCheckState(before);
        switches.boxes[kSwitchWaterfall]->setCheckState(before);
        m.ShowVisualizations();
        switches.boxes[kSwitchBody]->setCheckState(Qt::PartiallyChecked);
        const Qt::CheckState other = before == Qt::Checked ? Qt::Unchecked : Qt::Checked;
        switches.boxes[kSwitchWaterfall]->setCheckState(other);
        m.ShowVisualizations();
        EXPECT_EQ(m.View(kSwitchBody).isVisible(), before == Qt::Checked);
        EXPECT_EQ(m.View(kSwitchWaterfall).isVisible(), other == Qt::Checked);
    }
}

}  // namespace
}  // namespace lumeno
