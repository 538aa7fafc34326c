#include "reports/DossierService.h"

#include "core/records/Logging.h"
#include "core/store/SQLiteStore.h"
#include "reports/DossierBuilder.h"
#include "reports/CreatedFolders.h"
#include "reports/DossierPageRules.h"

#include <QDir>

#include <filesystem>

namespace pv {

namespace {

// The one thread dossiers are painted on: renders run one at a time, away from the GUI thread.
asio::thread_pool& renderThread()
{
    static asio::thread_pool pool(1);
    static const bool named = (rt::nameThreadOf(pool, "pv-dossier"), true);
    (void)named;
    return pool;
}

} // namespace

PdfDossierService::PdfDossierService(std::shared_ptr<SQLiteStore> store, QString appVersion,
                                     std::function<Timestamp()> clock)
    : store_(std::move(store)), appVersion_(std::move(appVersion)), clock_(std::move(clock))
{
}

rt::awaitable<QUrl> PdfDossierService::create(DossierRequest request, QUrl folder)
{
    const Timestamp generatedAt = clock_();
    DossierDocument document = co_await DossierBuilder::makeDocument(request, generatedAt, *store_, appVersion_);
    // A period without a single measurement would give a document of empty tables and zero counts
    // that reads like evidence of a flawless line: no file is made for it.
    if (document.sampleCount == 0)
        throw DossierError::nothingToReport();
    const std::vector<DossierPage> pages = DossierPaginator::pages(document);
    const QString name = dossier::dossierFileName(request.start, request.end, request.anonymiseNetworkNames);
    const QString folderPath = folder.toLocalFile();
    // Missing parents are made too; a failure is the file system's own error. When the render fails,
    // the folders made here go again (while empty); one that was there before always stays.
    auto made = std::make_shared<reports::CreatedFolders>(folderPath);
    const QUrl url = QUrl::fromLocalFile(QDir(folderPath).filePath(name));

    auto render = [renderer = renderer_, document = std::move(document), pages, url, made]() mutable -> rt::awaitable<void> {
        try {
            renderer.render(document, pages, url);
        } catch (...) {
            made->removeEmpty();
            throw;
        }
        co_return;
    };
    co_await asio::co_spawn(renderThread().get_executor(), std::move(render), rt::uncancellable());
    qCInfo(log::reports, "Dossier written: %d pages", static_cast<int>(pages.size()));
    co_return url;
}

void registerDossierService()
{
    registerDossierServiceMaker([](std::shared_ptr<SQLiteStore> store, QString version) -> std::shared_ptr<DossierService> {
        return std::make_shared<PdfDossierService>(std::move(store), std::move(version));
    });
}

} // namespace pv
