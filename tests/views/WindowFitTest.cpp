#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <vector>

#include "app/frmMain.h"
#include "views/WindowPlacement.h"
#include "views/WrappingButton.h"

namespace lumeno {
namespace {

// Tiles must never overlap, never leave the area, never go below a window's minimum and
// keep a fixed window's size; what cannot fit is refused rather than squeezed.
TEST(TileRects, NoOverlapInsideTheAreaAtLeastTheMinimum) {
    const TileItem main{{649, 383}, {649, 383}, true}, custom{{341, 472}, {341, 472}, true};
    const TileItem tall{{212, 472}, {219, 199}}, four{{360, 306}, {369, 199}},
        wide{{533, 217}, {352, 132}}, text{{468, 244}, {369, 199}};
    const std::vector<TileItem> all = {main, tall, tall, tall, custom, tall, tall,
                                       four, four, wide, wide, text,   text};
    struct Case {
        const char* what;
        std::vector<TileItem> items;
        QRect area;
        bool fits;
    };
    const Case cases[] = {
        {"all thirteen on a full HD desktop with a panel", all, {0, 27, 1920, 1053}, true},
        {"the default set at a scale of two",
         {main, tall, text, tall, tall, wide, tall},
         {0, 0, 960, 600},
         false},
        {"a fixed window larger than the area", {custom}, {0, 0, 300, 300}, false},
        {"minimums that add up to more than the width in one row and the height in rows",
         {four, four, four},
         {0, 0, 1000, 390},
         false},
    };
    for (const Case& c : cases) {
        const std::vector<QRect> rects = TileRects(c.items, c.area);
        ASSERT_EQ(!rects.empty(), c.fits) << c.what;
        if (rects.empty()) continue;
        ASSERT_EQ(rects.size(), c.items.size()) << c.what;
        long long covered = 0;
        for (std::size_t i = 0; i < rects.size(); ++i) {
            const TileItem& item = c.items[i];
            EXPECT_TRUE(c.area.contains(rects[i])) << c.what << " " << i;
            const QSize size = rects[i].size();
            EXPECT_EQ(size, item.fixed ? item.preferred : size.expandedTo(item.minimum))
                << c.what << " " << i;
            for (std::size_t j = 0; j < i; ++j) {
                EXPECT_FALSE(rects[i].intersects(rects[j])) << c.what << " " << i << " " << j;
            }
            covered += static_cast<long long>(rects[i].width()) * rects[i].height();
        }
        // Tiles use the screen: fixed windows aside, little of it is left empty.
        EXPECT_GT(double(covered), 0.75 * c.area.width() * c.area.height()) << c.what;
    }
}

// The text a widget shows and where, in the window's coordinates; empty for none.
struct ShownText {
    QRect at;
    bool fits = true;
    QString text;
};

ShownText TextOf(QWidget& w) {
    const QRect box(w.mapTo(w.window(), QPoint(0, 0)), w.size());
    const QFontMetrics metrics(w.font());
    if (auto* label = qobject_cast<QLabel*>(&w)) {
        if (label->text().isEmpty()) return {};
        const int width = metrics.horizontalAdvance(label->text());
        int left = box.left();
        if (label->alignment() & Qt::AlignRight) left = box.right() + 1 - width;
        if (label->alignment() & Qt::AlignHCenter) left = box.left() + (box.width() - width) / 2;
        return {QRect(left, box.top(), width, std::min(box.height(), metrics.height())),
                width <= box.width() && metrics.height() <= box.height(), label->text()};
    }
    if (auto* box2 = qobject_cast<QCheckBox*>(&w)) {
        if (box2->text().isEmpty()) return {};
        // The box and its caption, centred in the control's height.
        const QSize hint = box2->sizeHint();
        const int height = std::min(hint.height(), box.height());
        return {QRect(box.left(), box.top() + (box.height() - height) / 2,
                      std::min(hint.width(), box.width()), height),
                hint.width() <= box.width() && metrics.height() <= box.height(), box2->text()};
    }
    if (auto* button = qobject_cast<QPushButton*>(&w)) {
        if (button->text().isEmpty()) return {};
        QStyleOptionButton option;
        option.initFrom(button);
        const QRect area =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        // A wrapping caption takes as many lines as it needs; every line must still fit.
        const int flags =
            Qt::AlignCenter | (dynamic_cast<WrappingButton*>(button) ? Qt::TextWordWrap : 0);
        const QRect needed = metrics.boundingRect(area, flags, button->text());
        return {box, area.contains(needed), button->text()};
    }
    return {};
}

// No text in any window is cut by its control or runs into another text; also on a screen
// scaled by two (run again with QT_SCALE_FACTOR=2).
TEST(WindowFit, NoTextIsClippedOrCoveredInAnyWindow) {
    frmMain w;
    w.show();
    std::vector<QWidget*> windows = {&w, &w.Settings()};
    for (int i = 0; i < kSwitchCount; ++i) windows.push_back(&w.Views().View(i));
    windows.push_back(&w.Views().Txt().Settings());
    for (QWidget* window : windows) {
        std::vector<ShownText> texts;
        for (QWidget* child : window->findChildren<QWidget*>()) {
            if (child->isHidden()) continue;
            const ShownText shown = TextOf(*child);
            if (shown.text.isEmpty()) continue;
            // Controls placed beyond the window on purpose (reached by keyboard only).
            if (!window->rect().intersects(shown.at)) continue;
            const std::string where =
                window->windowTitle().toStdString() + ": \"" + shown.text.toStdString() + "\"";
            EXPECT_TRUE(shown.fits) << where << " is clipped by its control";
            EXPECT_TRUE(window->rect().contains(shown.at)) << where << " runs out of the window";
            for (const ShownText& other : texts) {
                EXPECT_FALSE(shown.at.intersects(other.at))
                    << where << " runs into \"" << other.text.toStdString() << "\"";
            }
            texts.push_back(shown);
        }
    }
}

}  // namespace
}  // namespace lumeno
