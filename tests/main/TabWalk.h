#pragma once
// A keyboard walk through a window: the controls a mouse can use there, taken from the widget tree
// in reading order, and what Tab reaches from the first of them. Every stop must be one of those
// controls, in that order, inside the viewport of every scrolling page it lies in, and drawn with
// the focus ring.

#include "tests/main/WidgetHelpers.h"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>

#include <algorithm>
#include <string>
#include <vector>

namespace pv::test {

// What a mouse can work: buttons of every kind, pickers, lists, fields, sliders, links. Scroll
// bars are left out (they are reached through the page they scroll).
inline bool isMouseControl(QWidget* w)
{
    if (qobject_cast<QScrollBar*>(w) != nullptr)
        return false;
    if (const auto* label = qobject_cast<QLabel*>(w))
        return label->textInteractionFlags() & Qt::LinksAccessibleByMouse;
    return qobject_cast<QAbstractButton*>(w) != nullptr || qobject_cast<PVSegmentedPicker*>(w) != nullptr
           || qobject_cast<QAbstractItemView*>(w) != nullptr || qobject_cast<QComboBox*>(w) != nullptr
           || qobject_cast<QLineEdit*>(w) != nullptr || qobject_cast<QAbstractSlider*>(w) != nullptr;
}

inline std::string describe(const QWidget* w)
{
    if (w == nullptr)
        return "(nothing)";
    QString name = w->accessibleName();
    if (const auto* button = qobject_cast<const QAbstractButton*>(w); button && name.isEmpty())
        name = button->text();
    if (name.isEmpty())
        name = w->objectName();
    return std::string(w->metaObject()->className()) + " \"" + name.toStdString() + "\"";
}

// The column of a split window a widget lies in (0 without a splitter).
inline int paneOf(QWidget* w, QWidget* window)
{
    int pane = 0;
    for (QWidget* child = w; child != nullptr && child != window; child = child->parentWidget())
        if (auto* splitter = qobject_cast<QSplitter*>(child->parentWidget()))
            pane = splitter->indexOf(child); // the outermost splitter decides
    return pane;
}

// The shown, enabled controls below `window` in reading order: column by column, then line by line
// (controls whose heights overlap share a line), left to right within a line. Taken with every
// page scrolled to its top.
inline std::vector<QWidget*> mouseControls(QWidget* window)
{
    struct Placed {
        QWidget* widget;
        int pane;
        QRect rect;
    };
    std::vector<Placed> placed;
    for (QWidget* w : window->findChildren<QWidget*>())
        if (w->isVisible() && w->isEnabled() && w->window() == window && isMouseControl(w))
            placed.push_back({w, paneOf(w, window), QRect(w->mapTo(window, QPoint(0, 0)), w->size())});
    std::sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        return a.pane != b.pane ? a.pane < b.pane : a.rect.top() < b.rect.top();
    });
    std::vector<QWidget*> ordered;
    for (std::size_t i = 0; i < placed.size();) {
        std::size_t end = i + 1;
        int bottom = placed[i].rect.bottom();
        while (end < placed.size() && placed[end].pane == placed[i].pane && placed[end].rect.top() <= bottom) {
            bottom = std::max(bottom, placed[end].rect.bottom());
            ++end;
        }
        std::stable_sort(placed.begin() + static_cast<std::ptrdiff_t>(i), placed.begin() + static_cast<std::ptrdiff_t>(end),
                         [](const Placed& a, const Placed& b) { return a.rect.left() < b.rect.left(); });
        for (; i < end; ++i)
            ordered.push_back(placed[i].widget);
    }
    return ordered;
}

// Whether the widget lies inside the viewport of every scrolling page it is on.
inline bool inView(QWidget* w, std::string* why = nullptr)
{
    for (QWidget* a = w->parentWidget(); a != nullptr; a = a->parentWidget()) {
        auto* area = qobject_cast<QAbstractScrollArea*>(a->parentWidget());
        if (area == nullptr || area->viewport() != a)
            continue;
        const QRect r(w->mapTo(a, QPoint(0, 0)), w->size());
        if (!a->rect().contains(r)) {
            if (why != nullptr)
                *why = "at y " + std::to_string(r.y()) + "–" + std::to_string(r.bottom()) + " of a viewport " +
                       std::to_string(a->height()) + " high";
            return false;
        }
    }
    return true;
}

// Pixels of the focus colour (the accent the tests set) that a grab shows and an earlier one did not.
inline int newAccentPixels(const QImage& before, const QImage& after, const QColor& accent)
{
    auto near = [&](const QColor& c) {
        return std::abs(c.red() - accent.red()) < 40 && std::abs(c.green() - accent.green()) < 40
               && std::abs(c.blue() - accent.blue()) < 40;
    };
    int n = 0;
    for (int y = 0; y < std::min(before.height(), after.height()); ++y)
        for (int x = 0; x < std::min(before.width(), after.width()); ++x)
            n += near(after.pixelColor(x, y)) && !near(before.pixelColor(x, y)) ? 1 : 0;
    return n;
}

// Tabs once round the window from its first control and checks every stop.
inline void expectTabWalk(QWidget* window, const QColor& accent, const std::string& where)
{
    const std::vector<QWidget*> controls = mouseControls(window);
    ASSERT_FALSE(controls.empty()) << where << ": no control";
    if (QWidget* focused = QApplication::focusWidget())
        focused->clearFocus();
    settle();
    std::vector<QImage> plain;
    for (QWidget* c : controls) {
        plain.push_back(c->grab().toImage());
        if (qEnvironmentVariableIsSet("PV_TAB_WALK_SHOTS"))
            plain.back().save(screensDir() + QStringLiteral("/tab-%1-plain-%2.png").arg(QString::fromStdString(where)).arg(plain.size() - 1));
    }

    controls.front()->setFocus(Qt::TabFocusReason);
    settle();
    std::vector<std::string> expected, reached;
    for (std::size_t i = 0; i <= controls.size(); ++i) {
        const std::size_t at = i % controls.size();
        expected.push_back(describe(controls[at]));
        QWidget* focused = QApplication::focusWidget();
        reached.push_back(describe(focused));
        const auto known = std::find(controls.begin(), controls.end(), focused);
        if (known != controls.end()) {
            std::string why;
            EXPECT_TRUE(inView(focused, &why)) << where << ": " << describe(focused) << " not scrolled into view, " << why;
            const int outline = focused->width() + focused->height();
            const QImage ringed = focused->grab().toImage();
            EXPECT_GE(newAccentPixels(plain[static_cast<std::size_t>(known - controls.begin())], ringed, accent), outline / 2)
                << where << ": " << describe(focused) << " shows no focus ring";
            if (qEnvironmentVariableIsSet("PV_TAB_WALK_SHOTS"))
                ringed.save(screensDir() + QStringLiteral("/tab-%1-%2.png").arg(QString::fromStdString(where)).arg(i));
        }
        if (focused == nullptr)
            break;
        QTest::keyClick(focused, Qt::Key_Tab);
        settle();
    }
    auto joined = [](const std::vector<std::string>& v) {
        std::string s;
        for (const std::string& e : v)
            s += "\n  " + e;
        return s;
    };
    EXPECT_EQ(reached, expected) << where << ": Tab reached" << joined(reached) << "\nwhere reading order is"
                                 << joined(expected);
}

} // namespace pv::test
