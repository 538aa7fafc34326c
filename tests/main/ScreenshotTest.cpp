// Every connection state rendered offscreen: the workspace window at its minimum size and at
// 1440 × 900, light and dark, and the menu-bar panel; PNGs under screens/ for review. The checks
// here are the ones a picture makes easy to get wrong: nothing cut, the column's width, the
// sidebar's sections.

#include "ui/main/MainLogic.h"
#include "ui/main/MenuBarView.h"
#include "ui/main/OverviewStatus.h"
#include "ui/main/OverviewFeed.h"
#include "ui/main/RootView.h"
#include "ui/main/WorkspaceView.h"

#include "tests/main/ModelFixture.h"
#include "tests/main/WidgetHelpers.h"
#include "tests/main/States.h"
#include "ui/design/Symbols.h"
#include "ui/design/Theme.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>

#include <gtest/gtest.h>

using namespace pv;
using namespace pv::test;

namespace {



class Appearance {
public:
    explicit Appearance(PVAppearance a)
    {
        pvInstallIconTheme();
        PVTheme::instance().setAppearanceOverride(a);
        PVTheme::instance().setReduceMotionOverride(true); // still frames: the same picture every run
        PVTheme::instance().setAccentOverride(QColor(0x35, 0x84, 0xE4));
        settle();
    }
    ~Appearance()
    {
        PVTheme::instance().setAppearanceOverride(PVAppearance::light);
        PVTheme::instance().setReduceMotionOverride(false);
        settle();
    }
};


class ScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override { dir = makeTempDir(); }
    QString dir;
};

} // namespace

TEST_F(ScreenshotTest, EveryStateInBothAppearancesAndSizes)
{
    const QString out = screensDir();
    int written = 0;
    for (const ScreenState& state : screenStates()) {
        auto model = makeModel(dir, state.freshStore ? StorageHealth::startedFresh(
                                                           QStringLiteral("/home/anna/.local/share/Polvarine/"
                                                                          "polvarine.sqlite3.corrupt-20251209"))
                                                     : StorageHealth::healthy());
        OverviewFeed& feed = OverviewFeed::of(*model);
        feed.setClock([] { return kFixedNow; });
        const OverviewSnapshot shown = state.make(snapshotOf(*model), kFixedNow);
        feed.setStateOverride(shown);
        if (state.name == QLatin1String("ipv6-provider")) {
            // A broken IPv6 path beside a sound IPv4 one is no all-clear, and its incident does not
            // bound the IPv4 cards' present.
            EXPECT_EQ(overviewStatusLevel(shown), PVStatus::watch);
            EXPECT_FALSE(liveStatusLine(shown).contains(QStringLiteral("rendben")));
            EXPECT_EQ(trayLook(shown).level, PVStatus::watch);
            EXPECT_NE(legStretch(ProbeKind::gateway, shown, kFixedNow)->label, QStringLiteral("a hiba kezdete óta"));
        }

        for (PVAppearance appearance : {PVAppearance::light, PVAppearance::dark}) {
            Appearance scope(appearance);
            const QString tag = state.name + QLatin1Char('-') + rawValue(appearance);
            for (QSize size : {QSize(1080, 700), QSize(1440, 900)}) {
                auto settings = makeSettings(dir);
                settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
                WorkspaceView view(*model, settings);
                view.resize(size);
                view.show();
                settle();
                const std::string where = (tag + QStringLiteral(" %1").arg(size.width())).toStdString();
                EXPECT_EQ(view.sidebarList()->count(), 5) << where;
                // All five rows lie inside the list's viewport.
                for (int row = 0; row < 5; ++row) {
                    const QRect r = view.sidebarList()->visualRect(view.sidebarList()->model()->index(row, 0));
                    EXPECT_TRUE(view.sidebarList()->viewport()->rect().contains(r)) << where << " row " << row;
                }
                expectNoTextCut(&view, where);
                expectAdviceCardsFilled(&view, where);
                const QImage image = view.grab().toImage();
                ASSERT_TRUE(image.save(out + QStringLiteral("/workspace-%1-%2x%3.png")
                                                 .arg(tag)
                                                 .arg(size.width())
                                                 .arg(size.height())));
                ++written;
            }
            PolvarineMenuBarView panel(*model);
            panel.show();
            settle();
            panel.resize(panel.sizeHint());
            settle();
            EXPECT_EQ(panel.width(), PolvarineMenuBarView::kWidth);
            expectNoTextCut(&panel, (tag + QStringLiteral(" panel")).toStdString());
            // Only a broken family beside a working one is named in the panel.
            EXPECT_EQ(panel.ipv6LineText().isEmpty(), state.name != QLatin1String("ipv6-provider") &&
                                                          state.name != QLatin1String("ipv4-down-ipv6-up"))
                << tag.toStdString();
            ASSERT_TRUE(panel.grab().toImage().save(out + QStringLiteral("/panel-%1.png").arg(tag)));
            ++written;
        }
    }
    EXPECT_EQ(written, 12 * 6);
}

TEST_F(ScreenshotTest, LargeTextIsNeverCut)
{
    // The user's text size at 150 %: the sidebar rows, the status row with its button, the
    // toolbar and the overview grow with the text in every state, light and dark, at the smallest
    // window; so does the panel. PNGs *-150-<appearance>.
    struct TextScale {
        TextScale() { PVTheme::instance().setTextScale(1.5); }
        ~TextScale() { PVTheme::instance().setTextScale(1.0); }
    } large;
    for (PVAppearance appearance : {PVAppearance::light, PVAppearance::dark}) {
        Appearance scope(appearance);
        for (const ScreenState& state : screenStates()) {
            const QString tag = state.name + QStringLiteral("-150-") + rawValue(appearance);
            auto model = makeModel(dir);
            OverviewFeed& feed = OverviewFeed::of(*model);
            feed.setClock([] { return kFixedNow; });
            feed.setStateOverride(state.make(snapshotOf(*model), kFixedNow));
            auto settings = makeSettings(dir);
            settings->setValue(QLatin1String(WorkspaceView::didWelcomeKey), true);
            WorkspaceView view(*model, settings);
            view.resize(1080, 700);
            view.show();
            settle();
            expectNoTextCutAnywhere(&view, tag.toStdString());
            view.grab().toImage().save(screensDir() + QStringLiteral("/workspace-%1.png").arg(tag));
            PolvarineMenuBarView panel(*model);
            panel.show();
            settle();
            panel.resize(panel.sizeHint());
            settle();
            expectNoTextCutAnywhere(&panel, (tag + QStringLiteral(" panel")).toStdString());
            panel.grab().toImage().save(screensDir() + QStringLiteral("/panel-%1.png").arg(tag));
        }
    }
}

TEST_F(ScreenshotTest, ExportConfirmationIsNoWarningAndOffersTheFolder)
{
    // The overview's banner and the panel's status line after an export, and after a failed one,
    // in both appearances and at both text sizes.
    const struct {
        const char* name;
        QString message;
        bool confirmation;
    } cases[] = {
        {"export-done",
         QStringLiteral("Elkészült a mai nap exportja (2026. 12. 09. 0:00 – 2026. 12. 10. 0:00). A fájlok mappája: "
                        "/home/anna/Dokumentumok/Polvarine Exports/2026-12-09_today"),
         true},
        {"export-failed",
         QStringLiteral("Az exportálás nem sikerült: A megadott útvonal egyik eleme fájl, nem mappa."), false},
    };
    for (const auto& c : cases) {
        auto model = makeModel(dir);
        OverviewFeed& feed = OverviewFeed::of(*model);
        feed.setClock([] { return kFixedNow; });
        OverviewSnapshot s = healthyState(snapshotOf(*model), kFixedNow);
        s.statusMessage = c.message;
        s.statusIsConfirmation = c.confirmation;
        s.hasExportResult = true; // an earlier export exists in both cases
        feed.setStateOverride(s);
        for (PVAppearance appearance : {PVAppearance::light, PVAppearance::dark}) {
            int usualSymbol = 0; // the banner symbol's side at the usual text size
            for (double scale : {1.0, 1.5}) {
                Appearance scope(appearance);
                PVTheme::instance().setTextScale(scale);
                const QString tag = QStringLiteral("%1-%2-%3").arg(QLatin1String(c.name), rawValue(appearance)).arg(scale);
                const std::string where = tag.toStdString();
                PolvarineRootView root(*model);
                root.resize(1080, 700);
                root.show();
                PolvarineMenuBarView panel(*model);
                panel.show();
                settle();
                panel.resize(panel.sizeHint());
                settle();
                StorageBanner* banner = root.statusBanner();
                EXPECT_FALSE(banner->isHidden()) << where;
                EXPECT_EQ(banner->level(), c.confirmation ? PVStatus::good : PVStatus::watch) << where;
                EXPECT_EQ(banner->message(), c.message) << where;
                EXPECT_EQ(!banner->actionButton()->isHidden(), c.confirmation) << where;
                EXPECT_EQ(!panel.statusActionButton()->isHidden(), c.confirmation) << where;
                // The symbol grows with the text beside it.
                const auto* symbol = banner->findChild<PVSymbolView*>();
                ASSERT_NE(symbol, nullptr) << where;
                if (scale == 1.0)
                    usualSymbol = symbol->height();
                else
                    EXPECT_GE(symbol->height(), usualSymbol * 1.4) << where;
                // The banner's fill is the status wash of its tone: green for a confirmation.
                const QImage bannerImage = banner->grab().toImage();
                EXPECT_EQ(bannerImage.pixelColor(6, bannerImage.height() / 2).rgb(),
                          statusWash(banner->level()).color(appearance).rgb())
                    << where;
                expectNoTextCut(&root, where);
                expectNoTextCut(&panel, where + " panel");
                ASSERT_TRUE(root.grab().toImage().save(screensDir() + QStringLiteral("/overview-%1.png").arg(tag)));
                ASSERT_TRUE(panel.grab().toImage().save(screensDir() + QStringLiteral("/panel-%1.png").arg(tag)));
                PVTheme::instance().setTextScale(1.0);
            }
        }
    }
}

TEST_F(ScreenshotTest, ColumnIsAtMost1160AndCentredInAWideWindow)
{
    Appearance scope(PVAppearance::light);
    auto model = makeModel(dir);
    OverviewFeed::of(*model).setClock([] { return kFixedNow; });
    OverviewFeed::of(*model).setStateOverride(screenStates()[1].make(snapshotOf(*model), kFixedNow));
    PolvarineRootView root(*model);
    root.resize(1600, 900);
    root.show();
    settle();
    const QRect column = root.column()->geometry();
    const int viewport = root.viewport()->width();
    EXPECT_EQ(column.width(), PolvarineRootView::kColumnMaxWidth);
    EXPECT_LE(std::abs(column.left() - (viewport - column.right() - 1)), 1);
    root.grab().toImage().save(screensDir() + QStringLiteral("/overview-1600-light.png"));

    // A narrow window: the column fills it and every text wraps to its full height.
    root.resize(560, 900);
    settle();
    EXPECT_EQ(root.column()->width(), root.viewport()->width());
    expectNoTextCut(&root, "narrow overview");
    root.grab().toImage().save(screensDir() + QStringLiteral("/overview-560-light.png"));
}
