#include "views/ViewManager.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "capture/CaptureTestSupport.h"
#include "packet/Colors.h"

namespace lumeno {
namespace {

struct Switches {
    std::array<QCheckBox, kSwitchCount> owned;
    std::array<QCheckBox*, kSwitchCount> boxes{};
    Switches() {
        for (int i = 0; i < kSwitchCount; ++i) (boxes[i] = &owned[i])->setTristate(true);
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
        Switches switches;
        ViewManager m(switches.boxes);
        m.SetDrawingThread(threaded);
        constexpr int kRows = 4;
        for (RowScrollingWindow* w :
             std::initializer_list<RowScrollingWindow*>{&m.WaterfallData(), &m.BitData()}) {
            w->Surface().Resize(w->Surface().Width(), kRows);
            w->chkSnapshots()->setChecked(true);
        }
        PlotSurface& timeSequence = m.TimeSequence().Surface();
        // At each message: whether it is the waterfall's, the body's hex text, the header
        // log's length, whether the time and port views had drawn (seen only on one thread).
        using Seen = std::tuple<bool, std::string, std::size_t, bool, bool>;
        const test::RunningImagesHere images;
        std::vector<Seen> seen;
        RunningImageContext().showStatus = [&](const QString& message) {
            seen.emplace_back(
                message.contains("_runningwater"), m.TxtBody().HexText(), m.Txt().LogText().size(),
                !threaded && timeSequence.PixelAt(kRows - 1, 1) != timeSequence.Background(),
                !threaded && MiddleDrawn(m.Parallel().Surface()));
        };
        std::size_t headerBefore = 0;
        for (int i = 0; i < kRows; ++i) {
            const std::uint8_t bytes[] = {static_cast<std::uint8_t>(0xA0 + i)};
            headerBefore = m.Txt().LogText().size();
            // A line through the middle of the port plot only from the last record.
            const std::int32_t port = i + 1 == kRows ? 32768 : 1;
            // In the class's colour, as the intake sets it: the colour left from start-up
            // is the background's, which would leave no line to see.
            SetPacketColor("incomingTCP");
            m.PlotPacket({"", "10.0.0.1", port, "", "192.168.1.2", port, "incomingTCP", 1, bytes});
        }
        EXPECT_EQ(seen, (std::vector<Seen>{{true, "A2 ", headerBefore, !threaded, !threaded},
                                           {false, "A3 ", headerBefore, !threaded, !threaded}}));
        EXPECT_GT(m.Txt().LogText().size(), headerBefore);
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
