#include "core/records/PrivateFiles.h"

#include "core/records/Logging.h"

#include <QFile>

#include <filesystem>
#include <system_error>
#include <vector>

namespace pv {

namespace fs = std::filesystem;

namespace {
constexpr fs::perms kOwnerOnlyFolder = fs::perms::owner_all;
constexpr fs::perms kOwnerOnlyFile = fs::perms::owner_read | fs::perms::owner_write;

bool restrict(const fs::path& path, fs::perms perms)
{
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (ec || !fs::exists(status))
        return !ec || ec == std::errc::no_such_file_or_directory;
    if (status.permissions() == perms)
        return true;
    fs::permissions(path, perms, fs::perm_options::replace, ec);
    if (ec) {
        qCWarning(log::storage(), "Could not make %s private: %s", path.c_str(), ec.message().c_str());
        return false;
    }
    return true;
}
} // namespace

bool makePrivateFolder(const QString& folder, bool tightenExisting)
{
    const fs::path path = fs::path(QFile::encodeName(folder).toStdString()).lexically_normal();
    // The parts that do not exist yet are the program's to make, so they are made private.
    std::vector<fs::path> missing;
    std::error_code ec;
    for (fs::path p = path; !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path())
            break;
    }
    fs::create_directories(path);
    bool ok = true;
    for (const fs::path& p : missing)
        ok = restrict(p, kOwnerOnlyFolder) && ok;
    if (tightenExisting && missing.empty())
        ok = restrict(path, kOwnerOnlyFolder) && ok;
    return ok;
}

bool makePrivateFile(const QString& path)
{
    return restrict(fs::path(QFile::encodeName(path).toStdString()), kOwnerOnlyFile);
}

} // namespace pv
