#include "reports/CreatedFolders.h"

#include "core/records/Logging.h"

#include <QDir>
#include <QFile>

#include <filesystem>
#include <system_error>

namespace pv::reports {

namespace {
std::filesystem::path fsPath(const QString& path) { return std::filesystem::path(QFile::encodeName(path).toStdString()); }
} // namespace

CreatedFolders::CreatedFolders(const QString& folder)
{
    // The missing folders from the target upwards; a path through a file is "missing" as well, and
    // its making then fails without making anything.
    QString missing = QDir::cleanPath(folder);
    for (;;) {
        std::error_code ignored;
        if (std::filesystem::exists(fsPath(missing), ignored) || missing == QStringLiteral("/") || missing.isEmpty())
            break;
        made_ << missing;
        const QString parent = QDir::cleanPath(missing + QStringLiteral("/.."));
        if (parent == missing)
            break;
        missing = parent;
    }
    std::error_code error;
    std::filesystem::create_directories(fsPath(folder), error);
    if (error) {
        removeEmpty();
        throw std::filesystem::filesystem_error("cannot create directories", fsPath(folder), error);
    }
}

void CreatedFolders::removeEmpty() const noexcept
{
    for (const QString& folder : made_) {
        std::error_code error;
        // remove() takes an empty folder only; a folder with content stays, quietly.
        if (std::filesystem::remove(fsPath(folder), error))
            qCInfo(log::reports, "Removed the folder %s made for a failed write", qUtf8Printable(folder));
    }
}

} // namespace pv::reports
