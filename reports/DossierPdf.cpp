#include "reports/DossierPdf.h"

#include "core/records/Logging.h"
#include "reports/DossierFormat.h"
#include "reports/DossierPages.h"
#include "reports/DossierPdfFile.h"
#include "reports/ReportWording.h"

#include <QPainter>

namespace pv {

QString DossierPDFRenderer::documentTitle(const DossierDocument& document)
{
    return ReportWording::title() + QStringLiteral(" — ") + DossierFormat::dateText(document.request.start) +
           QStringLiteral(" — ") + DossierFormat::dateText(document.request.end);
}

void DossierPDFRenderer::render(const DossierDocument& document, const std::vector<DossierPage>& pages, const QUrl& url,
                                const Progress& progress) const
{
    if (pages.empty())
        throw DossierError::nothingToReport();
    const QString maker = QStringLiteral("Polvarine ") + document.appVersion;
    const dossier::PdfInfo info{documentTitle(document), maker, maker, ReportWording::documentKind()};
    const int count = static_cast<int>(pages.size());
    try {
        dossier::writePdf(
            url.toLocalFile(), count,
            [&](QPainter& p, int i) { DossierPageView(pages[std::size_t(i)], document, i + 1, count).paint(p); }, info,
            progress);
    } catch (const dossier::PdfWriteError& e) {
        qCWarning(log::reports, "Writing the dossier %s failed: %s", qUtf8Printable(url.toLocalFile()), e.what());
        throw DossierError::destinationNotWritable(url, failureCauseOf(e));
    }
}

} // namespace pv
