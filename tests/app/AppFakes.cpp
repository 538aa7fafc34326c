#include "tests/app/AppFakes.h"

#include <filesystem>

#include "core/store/StoreError.h"

#include <stdexcept>

namespace pv::test {

ProbeBatch healthyBatch(const RouteSnapshot& route, Timestamp at, double latency)
{
    ProbeBatch batch{QUuid::createUuid(), at, route, {}};
    const std::vector<ProbeTarget> targets{
        ProbeTarget(ProbeKind::gateway, QStringLiteral("Router"), route.gatewayAddress),
        ProbeTarget(ProbeKind::publicIP, QStringLiteral("Cloudflare"), QStringLiteral("1.1.1.1")),
        ProbeTarget(ProbeKind::publicIP, QStringLiteral("Google"), QStringLiteral("8.8.8.8")),
        ProbeTarget(ProbeKind::http, QStringLiteral("HTTP"), QStringLiteral("captive.example")),
    };
    for (const ProbeTarget& target : targets) {
        NetworkSample s;
        s.id = QUuid::createUuid();
        s.batchID = batch.id;
        s.timestamp = at;
        s.target = target;
        s.route = route;
        s.latencyMilliseconds = latency;
        s.success = true;
        s.packetLoss = 0.0;
        batch.samples.push_back(s);
    }
    return batch;
}

rt::awaitable<ProbeBatch> ScriptedProbe::collectBatch(RouteSnapshot route)
{
    calls << QStringLiteral("collect");
    const auto call = calls.count(QStringLiteral("collect"));
    if (onCollect)
        onCollect();
    // A stalled network: the call itself does not end until the test lets it.
    while (hang && call > releasedCalls) {
        asio::steady_timer timer(io, std::chrono::milliseconds(5));
        std::error_code ec;
        co_await timer.async_wait(asio::bind_cancellation_slot(asio::cancellation_slot(),
                                                               asio::redirect_error(rt::use_awaitable, ec)));
    }
    ++collected;
    co_return makeBatch ? makeBatch(route) : healthyBatch(route, route.timestamp);
}

rt::awaitable<ExportResult> ScriptedExport::runExport(ExportScope scope, Timestamp)
{
    ++runs;
    if (failure)
        throw std::runtime_error(failure->toStdString());
    // The folder is made for real, so a path through a file fails as the real export does.
    if (!result.directoryURL.isEmpty())
        std::filesystem::create_directories(result.directoryURL.toLocalFile().toStdString());
    ExportResult r = result;
    r.scope = scope;
    co_return r;
}

rt::awaitable<QUrl> ScriptedDossier::create(DossierRequest request, QUrl folder)
{
    requests.push_back(request);
    folders.push_back(folder);
    if (delay.count() > 0) {
        asio::steady_timer timer(io, delay);
        std::error_code ec;
        co_await timer.async_wait(asio::bind_cancellation_slot(asio::cancellation_slot(),
                                                               asio::redirect_error(rt::use_awaitable, ec)));
    }
    if (failure)
        throw std::runtime_error(failure->toStdString());
    std::filesystem::create_directories(folder.toLocalFile().toStdString());
    co_return QUrl::fromLocalFile(folder.toLocalFile() + QStringLiteral("/Polvarine-dossier-%1.pdf").arg(requests.size()));
}

void runToEnd(rt::awaitable<void> op, std::chrono::milliseconds timeout)
{
    auto done = std::make_shared<bool>(false);
    asio::co_spawn(rt::QtExecutor(), std::move(op), [done](std::exception_ptr) { *done = true; });
    EXPECT_TRUE(pumpUntil([&] { return *done; }, timeout));
}

} // namespace pv::test
