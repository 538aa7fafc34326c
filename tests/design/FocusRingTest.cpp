// Keyboard focus is visible on every kind of focusable control: reached with Tab, each shows the
// design's ring in the focus colour around itself, in both appearances; none shows it when a click
// gave it focus.

#include "ui/design/Controls.h"

#include "tests/design/WidgetTestSupport.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

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
        // The load-test result's disclosure: its font and ink set directly, no style sheet.
        {"disclosure",
         [](QWidget* p) {
             auto* b = new QToolButton(p);
             b->setText(QStringLiteral("Számok táblázatban"));
             b->setArrowType(Qt::RightArrow);
             b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
             b->setAutoRaise(true);
             b->setFont(pvFont(PVFontToken::caption));
             return b;
         },
         true},
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

// Return and Enter press the focused button or switch, as Space does; a dialog's default button
// still takes Return while no button has the focus.
TEST(Controls, ReturnPressesTheFocusedControl)
{
    ThemeScope theme(PVAppearance::light);
    Stage stage(420);
    QAbstractButton* const controls[] = {stage.add(new PVPrimaryButton(QStringLiteral("Tovább"))),
                                         stage.add(makeSmallButton(QStringLiteral("Megmutatom"), nullptr)),
                                         stage.add(new PVSwitch()), stage.add(new QToolButton())};
    stage.render();
    stage.root()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(stage.root()));
    for (QAbstractButton* control : controls)
        for (const auto& [key, modifier] : {std::pair{Qt::Key_Return, Qt::NoModifier}, std::pair{Qt::Key_Enter, Qt::KeypadModifier}}) {
            int clicks = 0;
            const auto counting = QObject::connect(control, &QAbstractButton::clicked, [&clicks] { ++clicks; });
            control->setFocus(Qt::TabFocusReason);
            QTest::keyClick(control, key, modifier);
            QObject::disconnect(counting);
            EXPECT_EQ(clicks, 1) << control->metaObject()->className() << ' ' << key;
        }
    QDialog dialog;
    auto* field = new QLineEdit(&dialog);
    auto* ok = new QPushButton(QStringLiteral("Rendben"), &dialog);
    ok->setDefault(true);
    int accepted = 0;
    QObject::connect(ok, &QPushButton::clicked, [&accepted] { ++accepted; });
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    field->setFocus(Qt::TabFocusReason);
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(accepted, 1);
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

// The bounding box of the first mark met when scanning the columns of `area` from one end:
// pixels far from the colour at `ground`, up to the first column without any.
QSize firstMark(const QImage& image, const QRect& area, QPoint ground, bool fromRight)
{
    const QColor bg = image.pixelColor(ground);
    auto marked = [&](int x, int y) {
        const QColor c = image.pixelColor(x, y);
        return std::abs(c.red() - bg.red()) + std::abs(c.green() - bg.green()) + std::abs(c.blue() - bg.blue()) > 90;
    };
    int columns = 0, top = area.bottom() + 1, bottom = area.top() - 1;
    for (int i = 0; i < area.width(); ++i) {
        const int x = fromRight ? area.right() - i : area.left() + i;
        bool any = false;
        for (int y = area.top(); y <= area.bottom(); ++y)
            if (marked(x, y)) {
                any = true;
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        if (any)
            ++columns;
        else if (columns > 0)
            break;
    }
    return {columns, std::max(0, bottom - top + 1)};
}

// The export menu's arrow and the dossier button's icon grow with the title beside them.
TEST(Controls, SymbolsGrowWithTheTitleBesideThem)
{
    QPixmap solid(64, 64);
    solid.fill(Qt::black);
    struct Row {
        const char* name;
        std::function<QWidget*()> make;
        std::function<QSize(QWidget*, const QImage&)> measure;
    };
    const std::vector<Row> rows{
        {"export-arrow",
         [] {
             auto* bar = new QToolBar;
             bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
             auto* button = new QToolButton(bar);
             button->setObjectName(QStringLiteral("export"));
             button->setText(QStringLiteral("Exportálás"));
             button->setMenu(new QMenu(button));
             button->setPopupMode(QToolButton::InstantPopup);
             bar->addWidget(button);
             return bar;
         },
         [](QWidget* bar, const QImage&) {
             auto* button = bar->findChild<QToolButton*>(QStringLiteral("export"));
             // Inside the button's frame.
             const QRect inside = button->rect().adjusted(3, 3, -3, -3);
             return firstMark(button->grab().toImage(), inside, inside.topLeft(), true);
         }},
        {"dossier-icon", [&] { return new PVPrimaryButton(QIcon(solid), QStringLiteral("Dosszié készítése")); },
         [](QWidget* w, const QImage& image) {
             const QRect fill = static_cast<PVPrimaryButton*>(w)->fillRect().toRect().adjusted(6, 2, -6, -2);
             return firstMark(image, fill, fill.topLeft() + QPoint(1, fill.height() / 2), false);
         }},
    };
    for (PVAppearance appearance : {PVAppearance::light, PVAppearance::dark}) {
        ThemeScope theme(appearance);
        for (const Row& row : rows) {
            std::vector<std::pair<QSize, double>> seen; // the mark, the title's line height
            for (double scale : {1.0, 1.5}) {
                PVTheme::instance().setTextScale(scale);
                std::unique_ptr<QWidget> w(row.make());
                w->show();
                settle();
                w->resize(w->sizeHint());
                settle();
                const QImage image = w->grab().toImage();
                image.save(screensDir() + QStringLiteral("/symbol-%1-%2-%3.png")
                                              .arg(QString::fromLatin1(row.name), rawValue(appearance))
                                              .arg(scale));
                seen.emplace_back(row.measure(w.get(), image), QFontMetricsF(QApplication::font()).height());
            }
            PVTheme::instance().setTextScale(1.0);
            const std::string where = std::string(row.name) + " " + rawValue(appearance).toStdString();
            const double textGrowth = seen[1].second / seen[0].second;
            ASSERT_GT(seen[0].first.width(), 3) << where << ": no mark found";
            for (auto side : {&QSize::width, &QSize::height}) {
                const double growth = double((seen[1].first.*side)()) / (seen[0].first.*side)();
                EXPECT_NEAR(growth, textGrowth, 0.25) << where << ": " << (seen[0].first.*side)() << " -> "
                                                      << (seen[1].first.*side)();
            }
        }
    }
}

} // namespace
