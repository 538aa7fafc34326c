#include "loadtest/LoadTestScreen.h"

#include "core/probes/NetworkTopology.h"
#include "core/records/Profile.h"
#include "loadtest/LoadTestService.h"
#include "loadtest/LoadTestView.h"
#include "loadtest/LoadTestViewModel.h"

#include <QDialog>

namespace pv {

QWidget* makeLoadTestScreen(asio::any_io_executor io, std::function<void()> onWillStart,
                            std::function<void()> onDidFinish, std::function<void(const LoadTestResult&)> onFinished)
{
    // One service for the process: the sheet and the window's section share it, so their tests queue
    // one behind the other instead of loading the line together.
    static std::weak_ptr<LoadTestService> shared;
    std::shared_ptr<LoadTestService> service = shared.lock();
    if (!service) {
        service = LoadTestService::create(io, MeasurementProfile::defaultProfile());
        shared = service;
    }
    auto topology = std::make_shared<NetworkTopologyService>();
    auto primaryInterface = [topology]() -> rt::awaitable<std::optional<QString>> {
        const TopologySnapshot snapshot = co_await topology->snapshot();
        co_return snapshot.primaryInterface;
    };
    auto model = std::make_shared<LoadTestViewModel>(service, primaryInterface, makeSystemMeteredSource());
    auto* view = new LoadTestView(model, std::move(onWillStart), std::move(onDidFinish), std::move(onFinished));
    // "Bezárás" closes the sheet it is shown in; as a section of the window it has nothing to close.
    QObject::connect(view, &LoadTestView::dismissRequested, view, [view] {
        if (auto* dialog = qobject_cast<QDialog*>(view->window()))
            dialog->close();
    });
    return view;
}

} // namespace pv
