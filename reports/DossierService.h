#pragma once
// The dossier service: builds the document of a request on the store's thread, asks for its page
// list, names the file after the period, makes sure the folder exists and renders the PDF on a
// worker thread, so the GUI thread never waits on the store or on the render.

#include "core/app/ReportServices.h"
#include "reports/DossierPdf.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

namespace pv {

class SQLiteStore;

class PdfDossierService : public DossierService {
public:
    PdfDossierService(std::shared_ptr<SQLiteStore> store, QString appVersion,
                      std::function<Timestamp()> clock = nowTimestamp);

    // Returns the written file's URL. Throws the store's error, a std::filesystem::filesystem_error
    // when the folder cannot be made, DossierError::nothingToReport when the period holds no
    // measurement (nothing is written then), or DossierError::destinationNotWritable when the file
    // cannot be written (no file is left then, and no folder that this call made).
    rt::awaitable<QUrl> create(DossierRequest request, QUrl folder) override;

    const std::shared_ptr<SQLiteStore>& store() const { return store_; }
    const DossierPDFRenderer& renderer() const { return renderer_; }
    const QString& appVersion() const { return appVersion_; }

private:
    std::shared_ptr<SQLiteStore> store_;
    DossierPDFRenderer renderer_;
    QString appVersion_;
    std::function<Timestamp()> clock_;
};

// Makes the view model's dossier hand-off use this service. The program calls it once before it
// composes the view model.
void registerDossierService();

} // namespace pv
