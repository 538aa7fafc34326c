#include "core/app/ReportServices.h"

#include <mutex>
#include <stdexcept>

namespace pv {

namespace {
std::mutex& makersMutex()
{
    static std::mutex mutex;
    return mutex;
}
ReportServiceMakers& makers()
{
    static ReportServiceMakers instance;
    return instance;
}

const char* const kUnavailable = "Exports are not available in this build.";

class UnavailableExportService : public ExportService {
public:
    rt::awaitable<ExportResult> runExport(ExportScope, Timestamp) override
    {
        throw std::runtime_error(kUnavailable);
        co_return ExportResult{};
    }
};

class UnavailableDossierService : public DossierService {
public:
    rt::awaitable<QUrl> create(DossierRequest, QUrl) override
    {
        throw std::runtime_error(kUnavailable);
        co_return QUrl{};
    }
};
} // namespace

void registerReportServiceMakers(ReportServiceMakers m)
{
    std::lock_guard lock(makersMutex());
    makers() = std::move(m);
}

void registerDossierServiceMaker(decltype(ReportServiceMakers::makeDossierService) maker)
{
    std::lock_guard lock(makersMutex());
    makers().makeDossierService = std::move(maker);
}

bool exportsAvailable()
{
    std::lock_guard lock(makersMutex());
    return static_cast<bool>(makers().makeExportService);
}

std::shared_ptr<ExportService> makeExportService(std::shared_ptr<SQLiteStore> store)
{
    std::lock_guard lock(makersMutex());
    if (makers().makeExportService)
        return makers().makeExportService(std::move(store));
    return std::make_shared<UnavailableExportService>();
}

std::shared_ptr<DossierService> makeDossierService(std::shared_ptr<SQLiteStore> store, QString version)
{
    std::lock_guard lock(makersMutex());
    if (makers().makeDossierService)
        return makers().makeDossierService(std::move(store), std::move(version));
    return std::make_shared<UnavailableDossierService>();
}

} // namespace pv
