// The history screen's range switch on a month of evidence: from the click on a range segment to
// the first painted chart of the new range, and the longest stretch the GUI thread was kept from
// its event loop meanwhile (a heartbeat timer every 2 ms notes each turn of the loop, with the GUI
// thread's CPU time, so that time spent waiting for a busy machine's scheduler is told apart from
// work on the GUI thread). Goal: under 150 ms per switch, the first one of the process too, and no
// stretch over 16 ms. The first switch to each range is reported apart from the median of the later ones.
//
//   pv_bench_history [runs]     runs of day → week → month → day switches (default 3)
//   PV_BENCH_COLD=1             the database copies' pages are dropped from the system's cache first
//   PV_BENCH_DROP_CACHES=1      the whole system's file cache is dropped first (as root: the file is
//                               synced, then 3 goes to /proc/sys/vm/drop_caches), as after a reboot
//   PV_BENCH_DWELL_MS=n         the day range stays on screen n ms before the first switch
//
// Two databases: the 30-day one with every raw sample kept, and the same month after the standard
// retention pass (raw samples for the newest week only), as a user's file looks.

#include "bench/support/BenchDatabase.h"
#include "core/app/HistoryViewModel.h"
#include "core/store/SQLiteStore.h"
#include "ui/design/Theme.h"
#include "ui/screens/HistoryScreen.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>
#include <ctime>
#include <cstdio>
#include <map>
#include <vector>

using namespace pv;

namespace {

struct Switch {
    double clickToPaintMs = 0;
    double longestGapMs = 0;  // wall time between two turns of the event loop
    double longestBusyMs = 0; // the GUI thread's own CPU time within one such gap
};

// CPU time of the calling thread: a gap in the heartbeat is the GUI thread's own work only as far
// as this grew during it (on a loaded machine the rest is time the thread waited to be scheduled).
double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void waitForLoad(HistoryViewModel& model)
{
    if (model.summary() && !model.isLoading())
        return;
    QEventLoop loop;
    QObject::connect(&model, &HistoryViewModel::loadFinished, &loop, [&] {
        if (!model.isLoading())
            loop.quit();
    });
    loop.exec();
}

// Waits for the first chart of `range` to be painted after a click on its segment.
Switch switchTo(HistoryScreen& screen, HistoryRange range)
{
    QElapsedTimer clock;
    double lastBeat = 0;
    double longest = 0;
    double lastCpu = threadCpuMs();
    double longestBusy = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(2);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const double t = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        const double cpu = threadCpuMs();
        longest = std::max(longest, t - lastBeat);
        longestBusy = std::max(longestBusy, cpu - lastCpu);
        lastBeat = t;
        lastCpu = cpu;
    });
    bool painted = false;
    double paintedAt = 0;
    const auto connection = QObject::connect(&screen, &HistoryScreen::chartPainted, [&] {
        const auto& summary = screen.model().summary();
        if (!painted && !screen.model().isLoading() && summary && summary->range == range) {
            painted = true;
            paintedAt = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        }
    });
    clock.start();
    heartbeat.start();
    PVSegmentedPicker* picker = screen.rangePicker();
    QTest::mouseClick(picker, Qt::LeftButton, {}, picker->segmentRect(static_cast<int>(range)).center());
    // The click itself ran on the GUI thread: it counts as a block of its own.
    longest = std::max(longest, static_cast<double>(clock.nsecsElapsed()) / 1e6);
    longestBusy = std::max(longestBusy, threadCpuMs() - lastCpu);
    lastBeat = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    lastCpu = threadCpuMs();
    if (!painted) {
        QEventLoop loop;
        QObject::connect(&screen, &HistoryScreen::chartPainted, &loop, [&] {
            if (painted)
                loop.quit();
        });
        QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    heartbeat.stop();
    QObject::disconnect(connection);
    return {painted ? paintedAt : -1, longest, longestBusy};
}

// Drops the file's pages from the system's cache, as for a program started long after the file
// was last read: the first reads of a range then come from the disk.
void evictFromPageCache(const QString& path)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY);
    if (fd < 0)
        return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// Drops every clean page of the system's file cache (root only); false when that was refused.
bool dropSystemCaches(const QString& path)
{
    { SQLiteStore migrated(SQLiteStore::Location::file(path)); } // an older copy is migrated before
    ::sync();
    const int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY);
    const bool dropped = fd >= 0 && ::write(fd, "3\n", 2) == 2;
    if (fd >= 0)
        ::close(fd);
    return dropped;
}

void runOn(const char* label, const QString& databasePath, int runs)
{
    if (qEnvironmentVariableIsSet("PV_BENCH_COLD"))
        evictFromPageCache(databasePath);
    if (qEnvironmentVariableIsSet("PV_BENCH_DROP_CACHES") && !dropSystemCaches(databasePath))
        std::printf("could not drop the system's file cache (not root?): the figures below are warm\n");
    auto store = std::make_shared<SQLiteStore>(SQLiteStore::Location::file(databasePath));
    auto model = HistoryViewModel::create(HistoryViewModel::storeReader(store), [] { return bench::kDataEnd; });
    HistoryScreen screen(model, [] { return bench::kDataEnd; });
    screen.resize(1100, 900);
    screen.show();
    // The first load of the day range, and the moment a user looks at it before the first switch.
    waitForLoad(*model);
    QApplication::processEvents();
    const int dwellMs = qEnvironmentVariableIntValue("PV_BENCH_DWELL_MS");
    if (dwellMs > 0)
        QTest::qWait(dwellMs);

    std::map<HistoryRange, std::vector<Switch>> results;
    for (int run = 0; run < runs; ++run)
        for (HistoryRange range : {HistoryRange::week, HistoryRange::month, HistoryRange::day})
            results[range].push_back(switchTo(screen, range));

    // The first switch to a range in this process stands apart: the median is of the later ones.
    std::printf("\n%s (%s)\n", label, qPrintable(databasePath));
    std::printf("first switch of the process (day → week): %.1f ms\n", results[HistoryRange::week].front().clickToPaintMs);
    std::printf("%-8s %-30s %8s %14s %14s %14s %13s\n", "range", "click to painted chart, ms", "first",
                "median later", "longest gap", "longest busy", "measurements");
    for (HistoryRange range : allHistoryRanges()) {
        std::vector<double> later, gaps, busy;
        QString list;
        for (const Switch& s : results[range]) {
            if (&s != &results[range].front())
                later.push_back(s.clickToPaintMs);
            gaps.push_back(s.longestGapMs);
            busy.push_back(s.longestBusyMs);
            list += QString::number(s.clickToPaintMs, 'f', 1) + QLatin1Char(' ');
        }
        if (model->range() != range) {
            model->setRange(range);
            waitForLoad(*model);
        }
        std::printf("%-8s %-30s %8.1f %11.1f ms %11.1f ms %11.1f ms %13lld\n", qPrintable(rawValue(range)),
                    qPrintable(list), results[range].front().clickToPaintMs, median(later),
                    *std::max_element(gaps.begin(), gaps.end()), *std::max_element(busy.begin(), busy.end()),
                    model->summary() ? model->summary()->sampleCount : -1LL);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    PVTheme::instance().setReduceMotionOverride(true);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    runOn("30 days, every raw sample kept", bench::freshCopyOf(bench::thirtyDayDatabase()), runs);
    runOn("30 days after the standard retention pass", bench::freshCopyOf(bench::standardRetentionDatabase()), runs);
    return 0;
}
