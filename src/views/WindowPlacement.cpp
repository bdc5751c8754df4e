#include "views/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <limits>

#include "views/WindowKit.h"

namespace lumeno {

namespace {

// Splits total over items in proportion to pref, none below its min. The parts add up to
// total when the mins allow it; returns empty when they do not.
std::vector<int> Distribute(int total, const std::vector<int>& pref, const std::vector<int>& min) {
    const std::size_t n = pref.size();
    std::vector<int> out(n, 0);
    long long leastSum = 0;
    for (int m : min) leastSum += m;
    if (leastSum > total) return {};
    if (n == 0) return out;
    std::vector<bool> pinned(n, false);
    for (bool changed = true; changed;) {
        changed = false;
        long long room = total, weight = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (pinned[i]) {
                room -= min[i];
            } else {
                weight += std::max(1, pref[i]);
            }
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (pinned[i]) continue;
            const double share = weight > 0 ? double(room) * std::max(1, pref[i]) / weight : 0;
            if (share < min[i]) {
                pinned[i] = true;
                changed = true;
            }
        }
        if (changed) continue;
        int given = 0;
        std::size_t last = n;
        for (std::size_t i = 0; i < n; ++i) {
            if (pinned[i]) {
                out[i] = min[i];
            } else {
                out[i] = static_cast<int>(std::floor(double(room) * std::max(1, pref[i]) / weight));
                last = i;
            }
            given += out[i];
        }
        // Whole pixels: what rounding left over goes to the last free item.
        if (last < n) out[last] += total - given;
    }
    return out;
}

struct Layout {
    std::vector<QRect> rects;
    double cost = std::numeric_limits<double>::infinity();
};

// The rows given by breaks (bit i set: a new row starts after item i).
Layout LayOutRows(const std::vector<TileItem>& items, QRect area, unsigned breaks) {
    Layout layout;
    std::vector<std::pair<std::size_t, std::size_t>> rows;
    std::size_t first = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i + 1 == items.size() || (breaks >> i) & 1u) {
            rows.push_back({first, i + 1});
            first = i + 1;
        }
    }
    std::vector<int> rowPref, rowMin;
    for (const auto& [a, b] : rows) {
        int pref = 0, least = 0;
        for (std::size_t i = a; i < b; ++i) {
            pref = std::max(pref, items[i].preferred.height());
            least = std::max(
                least, items[i].fixed ? items[i].preferred.height() : items[i].minimum.height());
        }
        rowPref.push_back(pref);
        rowMin.push_back(least);
    }
    const std::vector<int> heights = Distribute(area.height(), rowPref, rowMin);
    if (heights.empty()) return layout;
    layout.rects.resize(items.size());
    double cost = 0;
    long long used = 0;
    int y = area.top();
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const auto [a, b] = rows[r];
        int rigid = 0;
        std::vector<int> pref, least;
        for (std::size_t i = a; i < b; ++i) {
            if (items[i].fixed) {
                rigid += items[i].preferred.width();
            } else {
                pref.push_back(items[i].preferred.width());
                least.push_back(items[i].minimum.width());
            }
        }
        if (rigid > area.width()) return {};
        std::vector<int> widths = Distribute(area.width() - rigid, pref, least);
        if (widths.empty()) return {};
        int x = area.left();
        std::size_t flexible = 0;
        for (std::size_t i = a; i < b; ++i) {
            const TileItem& item = items[i];
            QSize size;
            if (item.fixed) {
                size = item.preferred;
            } else {
                size = QSize(widths[flexible++], heights[r]);
                // How far the shape moved from the one the window had.
                const double was =
                    double(item.preferred.width()) / std::max(1, item.preferred.height());
                const double now = double(size.width()) / std::max(1, size.height());
                cost += std::abs(std::log(now / was));
            }
            layout.rects[i] = QRect(QPoint(x, y), size);
            used += static_cast<long long>(size.width()) * size.height();
            x += size.width();
        }
        y += heights[r];
    }
    // Screen left empty counts against a layout as much as a shape twice as wide.
    const double empty = 1.0 - double(used) / (double(area.width()) * area.height());
    layout.cost = cost + std::log(2.0) * 4 * empty;
    return layout;
}

}  // namespace

std::vector<QRect> TileRects(const std::vector<TileItem>& items, QRect area) {
    if (items.empty() || area.isEmpty() || items.size() > 16) return {};
    Layout best;
    const unsigned count = 1u << (items.size() - 1);
    for (unsigned breaks = 0; breaks < count; ++breaks) {
        Layout layout = LayOutRows(items, area, breaks);
        if (layout.cost < best.cost) best = std::move(layout);
    }
    return best.rects;
}

QMargins FrameMargins(const QWidget& window) {
    const QRect frame = window.frameGeometry(), client = window.geometry();
    if (frame != client) {
        return {client.left() - frame.left(), client.top() - frame.top(),
                frame.right() - client.right(), frame.bottom() - client.bottom()};
    }
    // Not framed yet: a usual title bar and border.
    return window.isVisible() ? QMargins() : QMargins(4, 32, 4, 4);
}

TileItem TileOf(const QWidget& window, QSize minTwips) {
    const QMargins m = FrameMargins(window);
    const QSize frame(m.left() + m.right(), m.top() + m.bottom());
    TileItem item;
    item.preferred = window.size() + frame;
    item.fixed = window.minimumSize() == window.maximumSize();
    item.minimum = item.fixed ? item.preferred
                              : QSize(Twips(minTwips.width()), Twips(minTwips.height()))
                                    .expandedTo(window.minimumSize() + frame);
    return item;
}

bool ArrangeWindows(const std::vector<QWidget*>& windows, const std::vector<TileItem>& items,
                    QRect area) {
    const std::vector<QRect> rects = TileRects(items, area);
    if (rects.size() != windows.size()) return false;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        QWidget& w = *windows[i];
        const QMargins m = FrameMargins(w);
        if (!items[i].fixed) w.resize(rects[i].size().shrunkBy(m));
        w.move(rects[i].topLeft());  // a window's position is that of its frame
    }
    return true;
}

QRect AvailableArea(const QWidget& window) {
    QScreen* screen = window.screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void FitOnScreen(QWidget& window) {
    QScreen* screen = QGuiApplication::screenAt(window.geometry().center());
    if (!screen) screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    const QMargins m = FrameMargins(window);
    const bool fixed = window.minimumSize() == window.maximumSize();
    QSize client = window.size();
    if (!fixed) {
        const QSize room = area.size().shrunkBy(m);
        const QSize fitted = client.boundedTo(room).expandedTo(window.minimumSize());
        if (fitted != client) {
            window.resize(fitted);
            client = window.size();
        }
    }
    const QSize outer = client.grownBy(m);
    QPoint at = window.pos();  // the frame's top-left corner
    at.setX(
        std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - outer.width())));
    at.setY(
        std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height())));
    if (at != window.pos()) window.move(at);
}

}  // namespace lumeno
