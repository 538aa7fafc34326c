#pragma once
// Renders a dossier document into an A4 PDF: one page per entry of its page list, the document
// information filled in (title with the period, author and creator with the version, subject), and
// the file replaced only when everything succeeded.

#include "reports/DossierModel.h"

#include <QUrl>

#include <functional>
#include <vector>

namespace pv {

class DossierPDFRenderer {
public:
    using Progress = std::function<void(int finished, int count)>;

    // Throws DossierError::nothingToReport for an empty page list (before anything is written) and
    // DossierError::destinationNotWritable(url) when the file cannot be written; an earlier file at
    // the URL is then left as it was. Called on one thread at a time; it may be a worker thread.
    void render(const DossierDocument& document, const std::vector<DossierPage>& pages, const QUrl& url,
                const Progress& progress = {}) const;

    // "Mérési dosszié — <start> — <end>".
    static QString documentTitle(const DossierDocument& document);
};

} // namespace pv
