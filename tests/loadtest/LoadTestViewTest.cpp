// The load-test screen and result view offscreen: the hand-over of results, the result view's
// helpers and chart, and review screenshots of every body in light and dark (PNGs under
// <build>/tests/loadtest/screens).

#include "loadtest/LoadTestView.h"

#include "loadtest/LoadTestService.h"
#include "tests/loadtest/FakeLoadTestRunner.h"
#include "tests/support/TestSupport.h"
#include "ui/design/Chart.h"
#include "ui/design/Components.h"
#include "ui/design/Depth.h"
#include "ui/design/Text.h"
#include "ui/design/Symbols.h"
#include "ui/design/Theme.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <QHBoxLayout>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

#include <cmath>

namespace pv {
namespace {

using namespace std::chrono_literals;

void settle()
{
    for (int i = 0; i < 4; ++i)
        QApplication::processEvents();
}

std::vector<TimedEcho> trace(double base, double amplitude, std::initializer_list<int> lost)
{
    std::vector<TimedEcho> echoes;
    for (int i = 0; i < 120; ++i) {
        const double t = i * 0.1;
        std::optional<double> rtt = base + amplitude * std::min(1.0, t / 5.0) + 6 * std::sin(i * 0.7);
        for (int l : lost)
            if (i == l)
                rtt.reset();
        echoes.push_back({t, rtt});
    }
    return echoes;
}

LoadTestResult syntheticResult()
{
    LoadTestResult r;
    r.startedAt = 1765270000;
    r.idle = LatencySummary{18.0, 24.0, 50, 0.0};
    r.downloadTrace = trace(20, 230, {60, 61, 62, 90});
    r.uploadTrace = trace(20, 90, {30, 31});
    r.underDownload = summarise(loadedWindow(r.downloadTrace, 11.9));
    r.underUpload = summarise(loadedWindow(r.uploadTrace, 11.9));
    r.download = LoadPhaseResult{70'000'000, 12.0, LoadStopReason::durationReached,
                                 {12, 44, 47, 48, 47, 48, 46, 47, 48, 47, 48, 47}, 12.0};
    r.upload = LoadPhaseResult{28'000'000, 12.0, LoadStopReason::durationReached,
                               {5, 17, 19, 18, 19, 19, 18, 19, 18, 19, 19, 18}, 12.0};
    return r;
}

// --- pure helpers ----------------------------------------------------------------------------------
TEST(LoadTestResultHelpersTest, ScaleSpansAndTexts)
{
    LoadTestResult r;
    EXPECT_DOUBLE_EQ(latencyChartTop(r), 110.0);
    r.downloadTrace = {{0, 40.0}, {0.1, std::nullopt}};
    EXPECT_EQ(latencyChartTop(r), 50.0);
    r.uploadTrace = {{0, 300.0}};
    EXPECT_DOUBLE_EQ(latencyChartTop(r), 330.0);

    LoadTestResult empty;
    empty.uploadTrace = {{0, 1.0}, {7.5, 1.0}};
    EXPECT_EQ(phaseSpans(empty), std::make_pair(12.0, 7.5));
    EXPECT_EQ(phaseSpans(std::nullopt), std::make_pair(12.0, 12.0));

    const struct {
        double ratio;
        const char* text;
    } losses[] = {{0.125, "12.5%"}, {0, "0.0%"}, {1, "100.0%"}};
    for (const auto& l : losses)
        EXPECT_EQ(lossText(l.ratio), QString::fromUtf8(l.text));
    EXPECT_EQ(tileLatencyText(std::nullopt), QStringLiteral("—"));
    EXPECT_EQ(tileLatencyText(23.4), QStringLiteral("23"));
    EXPECT_EQ(tableLatencyText(23.6), QStringLiteral("24 ms"));

    const std::pair<BufferbloatGrade, PVStatus> statuses[] = {
        {BufferbloatGrade::excellent, PVStatus::good}, {BufferbloatGrade::good, PVStatus::good},
        {BufferbloatGrade::fair, PVStatus::watch},     {BufferbloatGrade::poor, PVStatus::serious},
        {BufferbloatGrade::severe, PVStatus::critical}};
    for (const auto& [grade, status] : statuses)
        EXPECT_EQ(statusForGrade(grade), status) << rawValue(grade).toStdString();
}

TEST(LoadTestResultHelpersTest, ChartBreaksAtLostEchoesAndShiftsTheUpload)
{
    LoadTestResult r;
    r.downloadTrace = {{0, 10.0}, {0.1, std::nullopt}, {0.2, 12.0}};
    PVChartSpec spec = latencyChartSpec(r, r);
    ASSERT_EQ(spec.lines.size(), 2u);
    ASSERT_EQ(spec.lines[0].points.size(), 3u);
    EXPECT_TRUE(std::isnan(spec.lines[0].points[1].y())) << "the lost echo breaks the line";
    EXPECT_TRUE(spec.rules.empty()) << "no idle rule without an idle median";
    ASSERT_EQ(spec.rects.size(), 2u);
    EXPECT_EQ(spec.rects[1].x0, 4.2) << "the upload band starts after the download span and the rest";
    EXPECT_EQ(spec.rects[1].x1, 16.2);

    r.idle.p50 = 15;
    r.uploadTrace = {{1.0, 30.0}};
    spec = latencyChartSpec(r, r);
    ASSERT_EQ(spec.rules.size(), 1u);
    EXPECT_EQ(spec.rules[0].y, 15.0);
    EXPECT_EQ(spec.rules[0].dash, (QVector<qreal>{4, 4}));
    EXPECT_EQ(spec.lines[1].points.at(0).x(), 5.2);
}

// A result whose upload ended (byte cap) before its loaded window opened, and one whose loaded echoes
// all went unanswered.
LoadTestResult uploadUngradedResult()
{
    LoadTestResult r = syntheticResult();
    r.upload.loadEndedAtSeconds = 2.5;
    r.upload.stoppedReason = LoadStopReason::byteCapReached;
    r.underUpload = summarise(loadedWindow(r.uploadTrace, r.upload.loadEndedAtSeconds));
    return r;
}
// The reverse: the download was not measured under load, the upload was, behind a deep queue.
LoadTestResult downloadUngradedResult()
{
    LoadTestResult r = syntheticResult();
    r.uploadTrace = trace(20, 900, {});
    r.underUpload = summarise(loadedWindow(r.uploadTrace, 11.9));
    r.download.loadEndedAtSeconds = 2.5;
    r.download.stoppedReason = LoadStopReason::byteCapReached;
    r.underDownload = summarise(loadedWindow(r.downloadTrace, r.download.loadEndedAtSeconds));
    return r;
}
// The upload flowed at 48 Mbit/s for 6 s and then stopped: cut there, not graded.
LoadTestResult uploadCutResult()
{
    // As measured on a 100/10 line behind a 500-ms uplink queue, the server stopping at 5.86 s.
    LoadTestResult r = syntheticResult();
    r.download = LoadPhaseResult{143'000'000, 12.0, LoadStopReason::durationReached,
                                 {71.9, 95.5, 95.7, 95.6, 95.6, 95.6, 95.6, 95.5, 95.7, 95.6, 95.6, 95.7}, 12.0};
    r.upload = LoadPhaseResult{7'030'000, 12.0, LoadStopReason::failed, {10.0, 9.5, 9.5, 9.5, 9.5, 8.1, 0, 0, 0, 0, 0, 0},
                               5.81};
    r.underUpload = LatencySummary{};
    return r;
}
// The upload stood still for 2.5 s and then flowed on: graded from the echoes outside the pause.
LoadTestResult uploadPausedResult()
{
    LoadTestResult r = syntheticResult();
    r.upload = LoadPhaseResult{57'000'000, 12.0, LoadStopReason::durationReached,
                               {30, 47, 48, 48, 47, 24, 0, 0, 48, 48, 47, 48}, 12.0};
    r.upload.pauses = {{5.5, 8.0}};
    r.underUpload = summarise(outsidePauses(loadedWindow(r.uploadTrace, 11.9), r.upload.pauses));
    return r;
}
// This computer held the download back for 0.7 s, and the upload paused.
LoadTestResult heldAndPausedResult()
{
    LoadTestResult r = uploadPausedResult();
    r.download.heldSeconds = 0.7;
    return r;
}
LoadTestResult allLoadedEchoesLostResult()
{
    LoadTestResult r = syntheticResult();
    for (auto* trace : {&r.downloadTrace, &r.uploadTrace})
        for (TimedEcho& e : *trace)
            e.rttMilliseconds.reset();
    r.underDownload = summarise(loadedWindow(r.downloadTrace, 11.9));
    r.underUpload = summarise(loadedWindow(r.uploadTrace, 11.9));
    return r;
}

QStringList texts(const QWidget* root)
{
    QStringList all;
    for (const PVText* t : root->findChildren<PVText*>())
        all << t->text();
    return all;
}

TEST(LoadTestResultViewTest, WhatWasNotMeasuredUnderLoadIsSaidAndNeverShownAsAFigure)
{
    const struct {
        const char* name;
        LoadTestResult result;
        bool directionNote, chartNote;
        QStringList uploadRow; // the table's upload row
        QString shown;         // a text the view must show
    } cases[] = {
        {"upload not measured", uploadUngradedResult(), true, false, {"Feltöltés alatt", "—", "—", "—"},
         QStringLiteral("A feltöltés alatt nem sikerült mérni a késleltetést: a terhelés túl hamar véget ért.")},
        {"every loaded echo lost", allLoadedEchoesLostResult(), false, true, {"Feltöltés alatt", "—", "—", "100.0%"},
         QStringLiteral("Terhelés alatt egyetlen késleltetésmérésre sem jött válasz.")},
        {"upload stopped after 5.8 s", uploadCutResult(), true, false, {"Feltöltés alatt", "—", "—", "—"},
         QStringLiteral("A feltöltés alatt nem sikerült mérni a késleltetést: az első 5.8 másodperc után a terhelés "
                        "elakadt, és nem folytatódott.")},
        {"upload paused", uploadPausedResult(), true, false,
         {"Feltöltés alatt", tableLatencyText(uploadPausedResult().underUpload.p50),
          tableLatencyText(uploadPausedResult().underUpload.p95), "0.0%"},
         QStringLiteral("A feltöltés közben a terhelés 2.5 másodpercre megállt, majd folytatódott.")},
        {"download held up by this computer, upload paused", heldAndPausedResult(), true, false,
         {"Feltöltés alatt", tableLatencyText(uploadPausedResult().underUpload.p50),
          tableLatencyText(uploadPausedResult().underUpload.p95), "0.0%"},
         QStringLiteral("A letöltés közben a számítógéped 0.7 másodpercre megakadt (nem a vonal), ezért a mért "
                        "letöltési sebesség kissé alacsonyabb lehet a valósnál. A feltöltés közben a terhelés")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoadTestResultView view(c.result, nullptr);
        EXPECT_EQ(view.directionNote() != nullptr, c.directionNote);
        EXPECT_EQ(view.chartNote() != nullptr, c.chartNote);
        const QString all = texts(&view).join(QLatin1Char('|'));
        EXPECT_TRUE(all.contains(c.shown)) << all.toStdString();
        // The table's cells, in order: the upload row is the last four.
        QStringList cells;
        for (const PVText* t : view.numbersTable()->findChildren<PVText*>())
            cells << t->text();
        ASSERT_GE(cells.size(), 4);
        EXPECT_EQ(cells.mid(cells.size() - 4), c.uploadRow);
        // The bands and the idle rule are drawn, never the dashboard's "not enough data yet".
        const PVChartSpec& spec = view.chart()->spec();
        EXPECT_TRUE(spec.hasData());
        EXPECT_EQ(spec.rects.size(), 2u);
        EXPECT_EQ(spec.rules.size(), 1u);
        // No direction whose load did not flow throughout is called what the line bears, nor blamed on
        // the server while it flowed on.
        if (c.result.download.heldSeconds > 0) {
            EXPECT_FALSE(all.contains(QStringLiteral("Amit a vonalad lefelé bír"))) << all.toStdString();
        }
        if (c.result.upload.stoppedFlowing() || !c.result.upload.pauses.empty()) {
            EXPECT_FALSE(all.contains(QStringLiteral("Amit felfelé bír"))) << all.toStdString();
            EXPECT_FALSE(all.contains(QStringLiteral("nem fogadott több adatot"))) << all.toStdString();
        }
    }
}

// The grade card speaks of the direction that set the grade, and a figure below a millisecond is
// not read as 0.
TEST(LoadTestResultViewTest, TheGradeCardSpeaksOfTheGradedDirectionAndOfSubMillisecondFigures)
{
    const auto graded = [](std::optional<double> downP95, std::optional<double> upP95) {
        LoadTestResult r;
        r.idle = LatencySummary{0.09, 0.2, 50, 0};
        if (downP95)
            r.underDownload = LatencySummary{*downP95, *downP95, 80, 0};
        if (upP95)
            r.underUpload = LatencySummary{*upP95, *upP95, 80, 0};
        return r;
    };
    const QString byUpload = QStringLiteral("Feltöltés közben — ettől akad a hívás");
    const QString byDownload = QStringLiteral("Letöltés közben — ettől akad a hívás");
    const struct {
        const char* name;
        LoadTestResult result;
        QString meaning;
        const char* loaded; // the loaded-latency tile's figure, and the heading's
        QString caption;
    } cases[] = {
        {"upload alone, poor", graded(std::nullopt, 300), QStringLiteral("Egyetlen feltöltés is elrontja a hívásaidat és a játékot."), "300", byUpload},
        {"upload alone, good", graded(std::nullopt, 50), QStringLiteral("Nagy feltöltés közben egy hívás enyhén akadozhat, de használható marad."), "50", byUpload},
        {"upload the worse", graded(25, 977), gradeEverydayMeaning(BufferbloatGrade::severe), "977", byUpload},
        {"download the worse", graded(300, 40), QStringLiteral("Egyetlen letöltés is elrontja a hívásaidat és a játékot."), "300", byDownload},
        {"download alone", graded(300, std::nullopt), QStringLiteral("Egyetlen letöltés is elrontja a hívásaidat és a játékot."), "300", byDownload},
        {"download alone, fair", graded(150, std::nullopt), QStringLiteral("Ha valaki letölt, a hívásod érezhetően megakad."), "150", byDownload},
        {"both, fair", graded(150, 40), gradeEverydayMeaning(BufferbloatGrade::fair), "150", byDownload},
        {"severe either way", graded(std::nullopt, 700), gradeEverydayMeaning(BufferbloatGrade::severe), "700", byUpload},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(gradeMeaningText(c.result).toStdString(), c.meaning.toStdString());
        // The tile, its caption, its badge, the heading and the stored row quote the one direction.
        LoadTestResultView view(c.result, nullptr);
        const PVStatTile* tile = nullptr;
        for (const PVStatTile* t : view.findChildren<PVStatTile*>())
            if (t->data().label == QStringLiteral("Késleltetés terhelés alatt"))
                tile = t;
        ASSERT_TRUE(tile);
        EXPECT_EQ(tile->data().value, QLatin1String(c.loaded));
        EXPECT_EQ(tile->data().caption, c.caption);
        EXPECT_EQ(tile->data().status, statusForGrade(c.result.grade()));
        const QString all = texts(&view).join(QLatin1Char('|'));
        EXPECT_TRUE(all.contains(QStringLiteral("terhelés alatt %1 ms —").arg(QLatin1String(c.loaded)))) << all.toStdString();
        const StoredLoadTest stored = StoredLoadTest::of(c.result);
        ASSERT_EQ(stored.gradedDirection(), c.result.gradedDirection());
        const auto storedP95 = c.caption == byUpload ? stored.loadedUpP95 : stored.loadedDownP95;
        EXPECT_EQ(tileLatencyText(storedP95), QLatin1String(c.loaded));
    }

    EXPECT_EQ(latencyNumbersText(0.09, 0.3),
              QStringLiteral("Nyugalomban kevesebb mint 1 ms, terhelés alatt kevesebb mint 1 ms — a késleltetés "
                             "kevesebb mint 1 ms-mal nő."));
    EXPECT_EQ(latencyNumbersText(18.2, 232), QStringLiteral("Nyugalomban 18 ms, terhelés alatt 250 ms — a késleltetés 232 ms-mal nő."));
    EXPECT_EQ(tileLatencyText(0.09), QStringLiteral("<1"));
    EXPECT_EQ(tableLatencyText(0.09), QStringLiteral("<1 ms"));
}

// --- the screen ------------------------------------------------------------------------------------
class LoadTestViewTest : public ::testing::Test {
protected:
    std::shared_ptr<LoadTestViewModel> makeModel()
    {
        auto metered = std::make_unique<test::FakeMetered>();
        meteredSource = metered.get();
        return std::make_shared<LoadTestViewModel>(runner, nullptr, std::move(metered));
    }
    bool finishRun(const std::shared_ptr<LoadTestViewModel>& model)
    {
        runner->released = true;
        model->start();
        return test::pumpUntil([&] { return model->state() == LoadTestState::finished(); }, 10s);
    }

    rt::NetworkRuntime net;
    std::shared_ptr<test::FakeRunner> runner = std::make_shared<test::FakeRunner>(net);
    test::FakeMetered* meteredSource = nullptr;
};

TEST_F(LoadTestViewTest, EachNewResultIsHandedOnOnce)
{
    auto model = makeModel();
    std::vector<Timestamp> handed;
    int willStart = 0, didFinish = 0;
    {
        LoadTestView view(model, [&] { ++willStart; }, [&] { ++didFinish; },
                          [&](const LoadTestResult& r) { handed.push_back(r.startedAt); });
        view.show();
        EXPECT_EQ(view.bodyName(), QStringLiteral("intro"));
        ASSERT_TRUE(finishRun(model));
        settle();
        EXPECT_EQ(view.bodyName(), QStringLiteral("result"));
        EXPECT_EQ(handed, std::vector<Timestamp>{1700000000});
        view.hide();
        view.show(); // shown again: nothing handed again
        settle();
        EXPECT_EQ(handed.size(), 1u);

        runner->startedAt = 1700000100;
        ASSERT_TRUE(finishRun(model));
        settle();
        EXPECT_EQ(handed, (std::vector<Timestamp>{1700000000, 1700000100}));
        EXPECT_EQ(willStart, 2);
        EXPECT_EQ(didFinish, 2);
    }
    // A new screen on a model with a result does not hand it over on appearance; with the screen gone a
    // finished test hands nothing over.
    LoadTestView again(model, nullptr, nullptr, [&](const LoadTestResult& r) { handed.push_back(r.startedAt); });
    again.show();
    settle();
    EXPECT_EQ(handed.size(), 2u);
}

TEST_F(LoadTestViewTest, WorksWithoutCallbacksAndShowsFailureAndMeteredNotice)
{
    auto model = makeModel();
    LoadTestView view(model, nullptr, nullptr, nullptr);
    view.show();
    ASSERT_TRUE(finishRun(model));
    settle();
    EXPECT_EQ(view.bodyName(), QStringLiteral("result"));

    runner->failStart = true;
    model->start();
    ASSERT_TRUE(test::pumpUntil([&] { return model->state().kind == LoadTestState::Kind::failed; }, 10s));
    settle();
    EXPECT_EQ(view.bodyName(), QStringLiteral("failure"));
    model->cancel();
    settle();
    EXPECT_EQ(view.bodyName(), QStringLiteral("intro"));
}

// "Bezárás" is offered only where there is something to close: the dialog the view sits in.
TEST_F(LoadTestViewTest, CloseButtonOnlyInsideADialog)
{
    auto model = makeModel();
    QWidget section;
    auto* inSection = new LoadTestView(model, nullptr, nullptr, nullptr, &section);
    (new QVBoxLayout(&section))->addWidget(inSection);
    section.show();
    settle();
    EXPECT_FALSE(inSection->closeButton()->isVisible());

    QDialog dialog;
    auto* inDialog = new LoadTestView(model, nullptr, nullptr, nullptr, &dialog);
    (new QVBoxLayout(&dialog))->addWidget(inDialog);
    int dismissed = 0;
    QObject::connect(inDialog, &LoadTestView::dismissRequested, [&] { ++dismissed; });
    dialog.show();
    settle();
    ASSERT_TRUE(inDialog->closeButton()->isVisible());
    inDialog->closeButton()->click();
    EXPECT_EQ(dismissed, 1);
}

// The start and retry buttons show a ring when the keyboard reaches them, in both appearances.
TEST_F(LoadTestViewTest, StartAndRetryShowKeyboardFocus)
{
    const struct {
        const char* body;
        const char* button;
    } rows[] = {{"intro", "Teszt indítása"}, {"failure", "Újrapróbálom"}};
    for (PVAppearance appearance : {PVAppearance::light, PVAppearance::dark}) {
        PVTheme::instance().setAppearanceOverride(appearance);
        for (const auto& row : rows) {
            const std::string where = std::string(row.body) + " " + rawValue(appearance).toStdString();
            auto model = makeModel();
            LoadTestView view(model, nullptr, nullptr, nullptr);
            view.resize(760, 660);
            view.show();
            settle();
            if (QLatin1String(row.body) == QLatin1String("failure")) {
                runner->failStart = true;
                model->start();
                ASSERT_TRUE(test::pumpUntil([&] { return model->state().kind == LoadTestState::Kind::failed; }, 10s));
                runner->failStart = false;
                settle();
            }
            ASSERT_EQ(view.bodyName(), QLatin1String(row.body)) << where;
            QPushButton* button = nullptr;
            for (QPushButton* b : view.findChildren<QPushButton*>())
                if (b->isVisible() && b->text() == QString::fromUtf8(row.button))
                    button = b;
            ASSERT_NE(button, nullptr) << where;
            button->clearFocus(); // the screen may have handed it the focus on showing
            settle();
            const QImage plain = button->grab().toImage();
            button->setFocus(Qt::TabFocusReason);
            settle();
            ASSERT_TRUE(button->hasFocus()) << where;
            const QImage ringed = button->grab().toImage();
            int changed = 0;
            for (int y = 0; y < std::min(plain.height(), ringed.height()); ++y)
                for (int x = 0; x < std::min(plain.width(), ringed.width()); ++x)
                    changed += plain.pixel(x, y) != ringed.pixel(x, y);
            EXPECT_GE(changed, button->width() + button->height()) << where << ": no visible focus";
        }
    }
    PVTheme::instance().setAppearanceOverride(PVAppearance::light);
}

// The button pressed from the keyboard goes with the body it sat in; the focus moves on to the new
// body's button ("Megszakítás", "Teszt indítása", "Újrapróbálom") and never to the sidebar before it.
TEST_F(LoadTestViewTest, TheFocusFollowsToTheNextBodysButton)
{
    auto model = makeModel();
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    auto* sidebar = new QPushButton(QStringLiteral("Áttekintés"), &window);
    layout->addWidget(sidebar);
    auto* view = new LoadTestView(model, nullptr, nullptr, nullptr, &window);
    layout->addWidget(view);
    window.resize(1000, 700);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const auto visibleButton = [&](const char* title) -> QPushButton* {
        for (QPushButton* b : view->findChildren<QPushButton*>())
            if (b->isVisible() && b->text() == QString::fromUtf8(title))
                return b;
        return nullptr;
    };
    runner->holdInDownload = true;
    const struct {
        const char* press;
        std::function<void()> before;
        LoadTestState::Kind then;
        const char* focused;
    } steps[] = {
        {"Teszt indítása", [] {}, LoadTestState::Kind::running, "Megszakítás"},
        {"Megszakítás", [] {}, LoadTestState::Kind::idle, "Teszt indítása"},
        {"Teszt indítása", [&] { runner->failStart = true; }, LoadTestState::Kind::failed, "Újrapróbálom"},
    };
    for (const auto& step : steps) {
        step.before();
        QPushButton* pressed = visibleButton(step.press);
        ASSERT_NE(pressed, nullptr) << step.press;
        pressed->setFocus(Qt::TabFocusReason);
        QTest::keyClick(pressed, Qt::Key_Space);
        ASSERT_TRUE(test::pumpUntil([&] { return model->state().kind == step.then; }, 10s)) << step.press;
        settle();
        QPushButton* next = visibleButton(step.focused);
        ASSERT_NE(next, nullptr) << step.focused;
        EXPECT_EQ(QApplication::focusWidget(), next) << step.press;
        EXPECT_FALSE(sidebar->hasFocus()) << step.press;
    }
    runner->holdInDownload = false;
    runner->failStart = false;
}

// --- review screenshots ----------------------------------------------------------------------------
// Ends every run at once with the prepared result or failure.
class PreparedRunner : public LoadTestRunner {
public:
    rt::awaitable<std::optional<LoadTestResult>> run(std::optional<QString>, std::function<void(LoadTestPhase)>) override
    {
        if (failure)
            throw LoadTestError(*failure);
        co_return result;
    }
    rt::awaitable<void> cancel() override { co_return; }
    std::optional<LoadTestResult> result;
    std::optional<QString> failure;
};

// The screen with a finished (or failed) run of the prepared runner.
std::shared_ptr<LoadTestViewModel> preparedModel(std::shared_ptr<PreparedRunner> runner)
{
    auto model = std::make_shared<LoadTestViewModel>(runner, nullptr, nullptr);
    model->start();
    EXPECT_TRUE(test::pumpUntil([&] { return !model->isRunning(); }, 10s));
    return model;
}

// Between the cards the result shows the canvas of the current appearance, not a default grey.
TEST_F(LoadTestViewTest, TheResultSitsOnTheCanvasOfTheAppearance)
{
    auto prepared = std::make_shared<PreparedRunner>();
    prepared->result = syntheticResult();
    for (PVAppearance appearance : {PVAppearance::light, PVAppearance::dark}) {
        PVTheme::instance().setAppearanceOverride(appearance);
        auto model = preparedModel(prepared);
        LoadTestView view(model, nullptr, nullptr, nullptr);
        view.resize(760, 660);
        view.show();
        settle();
        ASSERT_EQ(view.bodyName(), QStringLiteral("result"));
        const QImage shot = view.grab().toImage();
        // The gap left of the "Új mérés" button's row is deep below; take the gap under the grade card.
        const QWidget* card = view.resultView()->findChild<PVCardFrame*>();
        ASSERT_NE(card, nullptr);
        const QPoint gap = card->mapTo(&view, QPoint(card->width() / 2, card->height() + 12));
        const QColor seen = shot.pixelColor(gap * shot.devicePixelRatio());
        const QColor canvas = PV::color::surface::canvas.color(appearance);
        EXPECT_LE(std::abs(seen.lightness() - canvas.lightness()), 6)
            << rawValue(appearance).toStdString() << ": " << seen.name().toStdString() << " vs "
            << canvas.name().toStdString();
        const QColor bar = view.findChild<QScrollArea*>()->palette().color(QPalette::Window);
        EXPECT_EQ(bar, canvas) << "the scroll bar follows the appearance";
    }
    PVTheme::instance().setAppearanceOverride(PVAppearance::light);
}

TEST_F(LoadTestViewTest, ScreenshotsOfEveryBody)
{
    const QString out = QStringLiteral(PV_SCREENS_DIR);
    QDir().mkpath(out);
    pvInstallIconTheme();
    PVTheme::instance().setReduceMotionOverride(true);
    PVTheme::instance().setAccentOverride(QColor(0x35, 0x84, 0xE4));
    for (PVAppearance appearance : {PVAppearance::light, PVAppearance::dark}) {
        PVTheme::instance().setAppearanceOverride(appearance);
        settle();
        const QString tag = rawValue(appearance);
        const auto shoot = [&](QWidget& w, const QString& name, QSize size = {760, 660}) {
            w.resize(size);
            w.show();
            settle();
            settle();
            EXPECT_TRUE(w.grab().save(out + QStringLiteral("/loadtest-%1-%2.png").arg(name, tag)));
        };
        {
            auto model = makeModel();
            LoadTestView view(model, nullptr, nullptr, nullptr);
            shoot(view, QStringLiteral("intro"));
            meteredSource->set(true);
            shoot(view, QStringLiteral("intro-metered"));
            runner->released = false;
            runner->cancelled = false;
            runner->holdInDownload = true;
            model->start();
            ASSERT_TRUE(test::pumpUntil([&] { return model->state().phase == LoadTestPhase::download; }, 10s));
            shoot(view, QStringLiteral("progress-download"));
            model->cancel();
            settle();
            runner->holdInDownload = false;
            runner->failBaseline = true;
            model->start();
            ASSERT_TRUE(test::pumpUntil([&] { return model->state().kind == LoadTestState::Kind::failed; }, 10s));
            EXPECT_FALSE(model->result()) << "a test that could not measure is never shown as a grade";
            runner->failBaseline = false;
            shoot(view, QStringLiteral("failure"));
        }
        for (double scale : {1.0, 1.5}) {
            // A run against an endpoint that refused every connection, and a result whose upload was
            // not measured under load, both on the screen as the user sees them, at both text sizes.
            PVTheme::instance().setTextScale(scale);
            const QString at = scale > 1 ? QStringLiteral("-x1.5") : QString();
            auto prepared = std::make_shared<PreparedRunner>();
            LoadPhaseResult refused{0, 12.0, LoadStopReason::durationReached, {}, 12.0};
            refused.requestsFailed = 40;
            refused.failure = FailureCause::connectionRefused;
            prepared->failure = unloadedPhaseMessage(refused);
            {
                LoadTestView view(preparedModel(prepared), nullptr, nullptr, nullptr);
                shoot(view, QStringLiteral("failure-refused") + at);
            }
            prepared->failure.reset();
            prepared->result = uploadUngradedResult();
            {
                LoadTestView view(preparedModel(prepared), nullptr, nullptr, nullptr);
                shoot(view, QStringLiteral("result-upload-ungraded") + at);
                view.findChild<QScrollArea*>()->verticalScrollBar()->setValue(scale > 1 ? 330 : 100);
                shoot(view, QStringLiteral("result-upload-ungraded-tiles") + at);
                view.resultView()->setTableExpanded(true);
                view.findChild<QScrollArea*>()->verticalScrollBar()->setValue(10000);
                shoot(view, QStringLiteral("result-upload-ungraded-table") + at);
            }
            prepared->result = downloadUngradedResult();
            {
                LoadTestView view(preparedModel(prepared), nullptr, nullptr, nullptr);
                view.findChild<QScrollArea*>()->verticalScrollBar()->setValue(scale > 1 ? 330 : 100);
                shoot(view, QStringLiteral("result-download-ungraded") + at);
            }
            prepared->result = uploadCutResult();
            {
                LoadTestView view(preparedModel(prepared), nullptr, nullptr, nullptr);
                shoot(view, QStringLiteral("result-upload-cut") + at);
                view.findChild<QScrollArea*>()->verticalScrollBar()->setValue(300);
                shoot(view, QStringLiteral("result-upload-cut-tiles") + at);
            }
            prepared->result = heldAndPausedResult();
            {
                LoadTestView view(preparedModel(prepared), nullptr, nullptr, nullptr);
                shoot(view, QStringLiteral("result-upload-paused") + at);
                view.findChild<QScrollArea*>()->verticalScrollBar()->setValue(300);
                shoot(view, QStringLiteral("result-upload-paused-tiles") + at);
            }
            prepared->result = allLoadedEchoesLostResult();
            {
                LoadTestView view(preparedModel(prepared), nullptr, nullptr, nullptr);
                view.findChild<QScrollArea*>()->verticalScrollBar()->setValue(420);
                shoot(view, QStringLiteral("result-all-lost-chart") + at);
            }
            PVTheme::instance().setTextScale(1.0);
        }
        {
            // The synthetic result, shown through the widget the screen uses.
            const LoadTestResult r = syntheticResult();
            LoadTestResultView result(r, nullptr);
            result.setTableExpanded(true);
            result.setStyleSheet({});
            QWidget frame;
            frame.setAutoFillBackground(true);
            QPalette pal = frame.palette();
            pal.setColor(QPalette::Window, PVColor(PV::color::surface::canvas).resolve());
            frame.setPalette(pal);
            auto* layout = new QVBoxLayout(&frame);
            layout->setContentsMargins(24, 24, 24, 24);
            result.setParent(&frame);
            layout->addWidget(&result);
            shoot(frame, QStringLiteral("result"), {760, 1180});
            result.setParent(nullptr);
        }
    }
    PVTheme::instance().setAppearanceOverride(PVAppearance::light);
    PVTheme::instance().setReduceMotionOverride(false);
}

} // namespace
} // namespace pv
