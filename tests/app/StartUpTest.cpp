#include <gtest/gtest.h>

#include "app/frmMain.h"

namespace lumeno {
namespace {

// Guards the state the analyst finds at start-up: the six default views shown and the other
// six made but hidden, each switch with its caption and default, the first adapter chosen
// (or the empty list said), and only Start usable.
TEST(StartUp, SixViewsShownTheFirstAdapterChosenAndStopDisabled) {
    frmMain w;
    const bool shown[kSwitchCount] = {true,  true,  false, false, false, true,
                                      false, false, true,  true,  false, true};
    for (int i = 0; i < kSwitchCount; ++i) {
        EXPECT_EQ(w.chkVis(i)->text(), kSwitchCaptions[i]);
        EXPECT_EQ(w.chkVis(i)->checkState(), shown[i] ? Qt::Checked : Qt::Unchecked) << i;
        EXPECT_EQ(w.Views().View(i).isVisible(), shown[i]) << kSwitchCaptions[i];
    }
    EXPECT_TRUE(w.Start()->isEnabled());
    EXPECT_FALSE(w.Stop()->isEnabled());
    if (w.cmbInterface()->count() > 0) {
        EXPECT_EQ(w.cmbInterface()->currentIndex(), 0);
        EXPECT_EQ(w.cmbInterface()->currentText(), w.cmbInterface()->itemText(0));
    } else {
        EXPECT_EQ(w.cmbInterface()->currentText(), "No adapters found");
    }
}

}  // namespace
}  // namespace lumeno
