#include "reports/DossierPdfFile.h"

#include <QBuffer>
#include <QFileInfo>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

// Only std::shared_ptr is used: the old PointerHolder type stays out.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFWriter.hh>

#include <sys/statvfs.h>

#include <cerrno>
#include <memory>

namespace pv::dossier {

namespace {

QByteArray renderPages(int pageCount, const PagePainter& paintPage, const PdfInfo& info, const PageProgress& progress)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(72); // one device unit is one point
        writer.setPageSize(QPageSize(QSizeF(kPageWidth, kPageHeight), QPageSize::Point, QString(), QPageSize::ExactMatch));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
        writer.setTitle(info.title);
        writer.setCreator(info.creator);
        QPainter painter;
        if (!painter.begin(&writer))
            throw PdfWriteError(PdfWriteError::Stage::paint, "the PDF writer could not start");
        for (int i = 0; i < pageCount; ++i) {
            if (i > 0 && !writer.newPage()) {
                painter.end();
                throw PdfWriteError(PdfWriteError::Stage::paint, "the PDF writer could not start a page");
            }
            paintPage(painter, i);
            if (progress)
                progress(i + 1, pageCount);
        }
        if (!painter.end())
            throw PdfWriteError(PdfWriteError::Stage::paint, "the PDF writer could not finish");
    }
    return bytes;
}

} // namespace

QByteArray withDocumentInfo(const QByteArray& pdf, const PdfInfo& info)
{
    try {
        QPDF doc;
        doc.setSuppressWarnings(true);
        doc.processMemoryFile("dossier", pdf.constData(), static_cast<size_t>(pdf.size()));
        QPDFObjectHandle trailer = doc.getTrailer();
        QPDFObjectHandle dict = trailer.getKey("/Info");
        if (!dict.isDictionary()) {
            dict = doc.makeIndirectObject(QPDFObjectHandle::newDictionary());
            trailer.replaceKey("/Info", dict);
        }
        auto set = [&dict](const char* key, const QString& value) {
            dict.replaceKey(key, QPDFObjectHandle::newUnicodeString(value.toStdString()));
        };
        set("/Title", info.title);
        set("/Author", info.author);
        set("/Creator", info.creator);
        set("/Subject", info.subject);
        QPDFWriter writer(doc);
        writer.setOutputMemory();
        writer.write();
        const std::shared_ptr<Buffer> out = writer.getBufferSharedPointer();
        return QByteArray(reinterpret_cast<const char*>(out->getBuffer()), static_cast<qsizetype>(out->getSize()));
    } catch (const std::exception& e) {
        throw PdfWriteError(PdfWriteError::Stage::info, e.what());
    }
}

bool writeWhole(QIODevice& device, const QByteArray& bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 n = device.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

void writePdf(const QString& targetPath, int pageCount, const PagePainter& paintPage, const PdfInfo& info,
              const PageProgress& progress)
{
    // The temporary file lives next to the target and replaces it in one rename on commit; until
    // then (and whenever anything below throws) the earlier file stays untouched.
    // Unbuffered, so a full disk shows in the write itself and not in a flush whose failure the
    // commit would not report.
    QSaveFile file(targetPath);
    file.setDirectWriteFallback(false);
    const auto failed = [&](PdfWriteError::Stage stage) {
        const int errorNumber = errno;
        const QString why = file.errorString();
        return PdfWriteError(stage, why.toStdString(), fileWriteFailureCause(targetPath, errorNumber, why));
    };
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw failed(PdfWriteError::Stage::open);
    const QByteArray finished = withDocumentInfo(renderPages(pageCount, paintPage, info, progress), info);
    errno = 0;
    if (!writeWhole(file, finished) || !file.flush() || file.error() != QFileDevice::NoError) {
        const PdfWriteError error = failed(PdfWriteError::Stage::commit);
        file.cancelWriting();
        throw error;
    }
    errno = 0;
    if (!file.commit())
        throw failed(PdfWriteError::Stage::commit);
}

FailureCause fileWriteFailureCause(const QString& path, int errorNumber, const QString& text)
{
    struct statvfs fs {};
    if (::statvfs(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &fs) == 0 && (fs.f_flag & ST_RDONLY))
        return FailureCause::readOnly;
    const FailureCause cause = failureCauseFromErrno(errorNumber);
    return cause != FailureCause::unknown ? cause : failureCauseFromText(text);
}

} // namespace pv::dossier
