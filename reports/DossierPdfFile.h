#pragma once
// Writing a paginated A4 PDF safely: pages are painted with QPainter on a QPdfWriter at 72 dpi (one
// unit is one point, media box 0 0 595 842, no margins) into memory, the document information is
// filled with QPDF, and the result is written to a temporary file in the target's folder that is
// renamed over the target only when everything succeeded. A failed write never destroys an earlier
// file of the same name.

#include "core/records/FailureText.h"

#include <QString>

#include <functional>
#include <stdexcept>

class QIODevice;
class QPainter;

namespace pv::dossier {

inline constexpr double kPageWidth = 595;
inline constexpr double kPageHeight = 842;

// The four entries of the document information dictionary.
struct PdfInfo {
    QString title;
    QString author;
    QString creator;
    QString subject;
};

// Why a file could not be written to `path`: a folder on a file system mounted read-only (a
// read-only bind mount included) says so itself; otherwise the system's error number, and only then
// the error text (which is in the user's language).
FailureCause fileWriteFailureCause(const QString& path, int errorNumber, const QString& text);

class PdfWriteError : public std::runtime_error, public FailureCauseCarrier {
public:
    enum class Stage { open, paint, info, commit };
    PdfWriteError(Stage stage, const std::string& what, FailureCause cause = FailureCause::unknown)
        : std::runtime_error(what), stage_(stage), cause_(cause)
    {
    }
    Stage stage() const { return stage_; }
    FailureCause failureCause() const override { return cause_; }

private:
    Stage stage_;
    FailureCause cause_;
};

using PagePainter = std::function<void(QPainter& painter, int pageIndex)>;
using PageProgress = std::function<void(int finished, int count)>;

// Paints pageCount pages (pageCount > 0) and replaces targetPath with the finished file. Throws
// PdfWriteError when the target cannot be written or the file cannot be finished; whatever
// paintPage throws passes through. Either way the target is left as it was.
void writePdf(const QString& targetPath, int pageCount, const PagePainter& paintPage, const PdfInfo& info,
              const PageProgress& progress = {});

// Writes all of `bytes` to an unbuffered device. A short write is retried with the rest, so that when
// the disk is full the device reports why (a short write alone carries no error). False on failure,
// with the device's errorString() set.
bool writeWhole(QIODevice& device, const QByteArray& bytes);

// The document information of a finished PDF in memory, replaced by `info` with QPDF. Throws
// PdfWriteError(info) when QPDF cannot read or write it.
QByteArray withDocumentInfo(const QByteArray& pdf, const PdfInfo& info);

} // namespace pv::dossier
