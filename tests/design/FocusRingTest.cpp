// Keyboard focus is visible on every kind of focusable control: reached with Tab, each shows the
// design's ring in the focus colour around itself, in both appearances; none shows it when a click
// gave it focus.

#include "ui/design/Controls.h"

#include "tests/design/WidgetTestSupport.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

using namespace pv;
using namespace pv::test;

namespace {

struct ControlKind {
    const char* name;
    std::function<QWidget*(QWidget*)> make;
    bool platformDrawn = false; // the platform style draws the button (and its own faint focus line)
};

const QColor kAccent(0x35, 0x84, 0xE4);

bool nearAccent(const QColor& c)
{
    return std::abs(c.red() - kAccent.red()) < 40 && std::abs(c.green() - kAccent.green()) < 40
           && std::abs(c.blue() - kAccent.blue()) < 40;
}

struct Difference {
    int changed = 0;     // pixels that differ
    int accentRing = 0;  // of them, those now in the focus colour
};

Difference compare(const QImage& before, const QImage& after)
{
    Difference d;
    for (int y = 0; y < std::min(before.height(), after.height()); ++y)
        for (int x = 0; x < std::min(before.width(), after.width()); ++x) {
            const QColor a = before.pixelColor(x, y), b = after.pixelColor(x, y);
            if (a == b)
                continue;
            ++d.changed;
            if (nearAccent(b) && !nearAccent(a))
                ++d.accentRing;
        }
    return d;
}

TEST(FocusRing, EveryKindOfControlShowsKeyboardFocus)
{
    const std::vector<ControlKind> kinds{
        {"switch off", [](QWidget* p) { return new PVSwitch(p); }},
        {"switch on",
         [](QWidget* p) {
             auto* s = new PVSwitch(p);
             s->setChecked(true);
             return s;
         }},
        {"primary button", [](QWidget* p) { return new PVPrimaryButton(QStringLiteral("Tovább"), p); }},
        {"segmented picker",
         [](QWidget* p) {
             return new PVSegmentedPicker({QStringLiteral("24 óra"), QStringLiteral("7 nap"), QStringLiteral("30 nap")},
                                          260, p);
         }},
        {"bordered button", [](QWidget* p) { return new QPushButton(QStringLiteral("Vissza"), p); }, true},
        {"small button", [](QWidget* p) { return makeSmallButton(QStringLiteral("Megmutatom"), p); }, true},
    };
    for (PVAppearance appearance : {PVAppearance::light, PVAppearance::dark}) {
        ThemeScope theme(appearance);
        for (const ControlKind& kind : kinds) {
            const std::string where = std::string(kind.name) + " " + rawValue(appearance).toStdString();
            Stage stage(420);
            auto* row = new QWidget(stage.root());
            auto* layout = new QHBoxLayout(row);
            auto* before = new QPushButton(QStringLiteral("Előtte"), row);
            QWidget* control = kind.make(row);
            layout->addWidget(before);
            layout->addWidget(control);
            stage.add(row);
            stage.render();
            stage.root()->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(stage.root())) << where;
            before->setFocus(Qt::OtherFocusReason);
            settle();
            const QImage plain = control->grab().toImage();

            QTest::keyClick(before, Qt::Key_Tab);
            settle();
            ASSERT_TRUE(control->hasFocus()) << where;
            const QImage ringed = control->grab().toImage();
            const Difference ring = compare(plain, ringed);
            // At least half of the control's outline changes.
            const int outline = control->width() + control->height();
            EXPECT_GE(ring.changed, outline) << where;
            EXPECT_GE(ring.accentRing, outline) << where << ": the ring is not in the focus colour";

            before->setFocus(Qt::OtherFocusReason);
            control->setFocus(Qt::MouseFocusReason);
            settle();
            const Difference clicked = compare(plain, control->grab().toImage());
            EXPECT_EQ(kind.platformDrawn ? clicked.accentRing : clicked.changed, 0) << where << ": a ring after a click";
            ringed.save(screensDir() + QStringLiteral("/focus-%1-%2.png")
                                           .arg(QString::fromLatin1(kind.name).replace(QLatin1Char(' '), QLatin1Char('-')),
                                                rawValue(appearance)));
        }
    }
}

// The design's controls, plain buttons and menus take the size their titles need at the user's
// text size, and the usual size again when it returns to 100 %.
TEST(Controls, TitlesGrowWithTheTextSize)
{
    ThemeScope theme(PVAppearance::light);
    PVSegmentedPicker picker({QStringLiteral("Takarékos"), QStringLiteral("Alapértelmezett"), QStringLiteral("Hosszú")}, 380);
    PVPrimaryButton button(QStringLiteral("Dosszié készítése"));
    QPushButton* small = makeSmallButton(QStringLiteral("Megmutatom"), nullptr);
    QPushButton plain(QStringLiteral("Megmutatom a fájlkezelőben"));
    QMenu menu;
    menu.addAction(QStringLiteral("Bemutatkozás újra"));
    PVSwitch toggle;
    struct Seen {
        int pickerHeight, pickerWidth, buttonWidth, buttonHeight, smallWidth, plainWidth, menuHeight, switchWidth,
            switchHeight;
        bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> seen;
    for (double scale : {1.0, 1.5, 1.0}) {
        PVTheme::instance().setTextScale(scale);
        settle();
        picker.resize(picker.sizeHint());
        const QFontMetricsF fm(picker.titleFont());
        for (int i = 0; i < picker.count(); ++i)
            EXPECT_GE(picker.segmentRect(i).width(), fm.horizontalAdvance(picker.title(i)) + 8) << scale;
        EXPECT_GE(picker.height(), fm.height()) << scale;
        seen.push_back({picker.height(), picker.sizeHint().width(), button.sizeHint().width(), button.sizeHint().height(),
                        small->sizeHint().width(), plain.sizeHint().width(), menu.sizeHint().height(),
                        toggle.sizeHint().width(), toggle.sizeHint().height()});
    }
    EXPECT_GT(seen[1].pickerHeight, seen[0].pickerHeight);
    EXPECT_GT(seen[1].pickerWidth, 380) << "the titles need more than the usual width at 150 %";
    EXPECT_GT(seen[1].buttonWidth, seen[0].buttonWidth);
    EXPECT_GT(seen[1].buttonHeight, seen[0].buttonHeight);
    EXPECT_GT(seen[1].smallWidth, seen[0].smallWidth);
    EXPECT_GT(seen[1].plainWidth, seen[0].plainWidth);
    EXPECT_GT(seen[1].menuHeight, seen[0].menuHeight);
    EXPECT_GT(seen[1].switchWidth, seen[0].switchWidth);
    EXPECT_GT(seen[1].switchHeight, seen[0].switchHeight);
    EXPECT_EQ(seen[2], seen[0]) << "back at 100 % everything has its usual size";
    delete small;
}

} // namespace
