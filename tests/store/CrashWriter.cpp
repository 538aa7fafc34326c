// A writer for the crash test: stores five-sample batches in a loop and reports each batch on
// stdout, one line per batch, only after its insert has returned. The test kills it at random.
// With --history it opens the history after its first batches, as a user does while it records,
// reads the day and says "history" once the read and the read-ahead are over.
#include "core/app/HistoryViewModel.h"
#include "core/records/RecordId.h"
#include "core/store/SQLiteStore.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <cstdio>
#include <string>

using namespace pv;

namespace {
ProbeBatch nextBatch(int n)
{
    ProbeBatch b;
    b.id = newRecordId();
    b.timestamp = 1700000000 + n * 4.5;
    b.route = {b.timestamp, QStringLiteral("wlan0"), QStringLiteral("192.168.1.23"), QStringLiteral("192.168.1.1")};
    const ProbeKind kinds[] = {ProbeKind::gateway, ProbeKind::publicIP, ProbeKind::publicIP, ProbeKind::http,
                               ProbeKind::dns};
    for (int i = 0; i < 5; ++i) {
        NetworkSample s;
        s.id = newRecordId();
        s.batchID = b.id;
        s.timestamp = b.timestamp + i * 0.05;
        s.target = ProbeTarget(kinds[i], QStringLiteral("target"), QStringLiteral("192.168.1.1"));
        s.route = b.route;
        s.latencyMilliseconds = 3.0 + i;
        s.success = true;
        b.samples.push_back(s);
    }
    return b;
}
bool report(const std::string& line)
{
    return ::write(STDOUT_FILENO, line.data(), line.size()) == static_cast<ssize_t>(line.size());
}
} // namespace

int main(int argc, char** argv)
{
    // Never outlive the test that started us.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const bool history = argc == 3 && std::string(argv[2]) == "--history";
    if (argc != 2 && !history) {
        std::fprintf(stderr, "usage: %s <database> [--history]\n", argv[0]);
        return 2;
    }
    auto store = std::make_shared<SQLiteStore>(SQLiteStore::Location::file(QString::fromLocal8Bit(argv[1])));

    asio::io_context io;
    asio::co_spawn(
        io,
        [store, history]() -> asio::awaitable<void> {
            // Bounded: the test kills us long before either limit.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            for (int n = 0; n < 100000 && std::chrono::steady_clock::now() < deadline; ++n) {
                ProbeBatch batch = nextBatch(n);
                const std::string line = batch.id.toString(QUuid::WithoutBraces).toUpper().toStdString() + "\n";
                co_await store->insertSamples(std::move(batch));
                // One write per line: a kill never leaves half a line that looks complete.
                if (!report(line))
                    co_return;
                if (history && n == 3) {
                    const auto reader = HistoryViewModel::storeReader(store);
                    co_await reader(HistoryRange::day, 1700000000 - 86400, 1700000000 + 86400);
                    store->warmFileCache().wait();
                    if (!report("history\n"))
                        co_return;
                }
            }
        },
        asio::detached);
    io.run();
    return 0;
}
