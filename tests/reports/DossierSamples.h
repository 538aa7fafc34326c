#pragma once
// Dossier documents of chosen shape for the page and PDF tests, and the poppler tools that read the
// finished files.

#include "reports/DossierModel.h"

#include <QString>
#include <QStringList>

namespace pv::test {

inline constexpr double kWeekStart = 1772321400; // 2026-03-01 00:30 in Budapest
inline constexpr double kWeek = 7 * 86400.0;

struct DocumentShape {
    int outages = 3;
    int gaps = 4;
    int hours = 24;
    int accessPoints = 3;
    int wifiSamples = 800;
    int wiredSamples = 400;
    double wifiMedian = 36;
    double wiredMedian = 26;
    std::optional<double> wiredLoss = 0.004;
    std::optional<QString> region = QStringLiteral("HU");
    bool loss = true;
    int timelineSlices = 120;
};

// A week-long document with every list filled as the shape says.
DossierDocument sampleDocument(const DocumentShape& shape = {});

// The text of one page (1-based) with every run of white space turned into one space.
QString pdfPageText(const QString& pdf, int page);
// pdfinfo's output (with -f/-l over every page when pages > 0).
QString pdfInfo(const QString& pdf, int pages = 0);

} // namespace pv::test
