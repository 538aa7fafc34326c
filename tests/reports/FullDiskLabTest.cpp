// A full disk, for real: a 32 KiB tmpfs mounted in the test's own mount namespace (the CTest command
// starts the program under `unshare -m`; it refuses to mount anywhere else). An export that runs out
// of room fails as a whole, says why in Hungarian and leaves neither its folder nor an empty file;
// a dossier that does not fit leaves no file, and an earlier one of the same name as it was.
#include "core/app/ErrorText.h"
#include "core/records/FailureText.h"
#include "core/store/SQLiteStore.h"
#include "reports/DossierPdf.h"
#include "reports/DossierPdfFile.h"
#include "reports/DossierService.h"
#include "reports/ExportService.h"
#include "tests/reports/DossierSamples.h"
#include "tests/store/StoreTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

using namespace pv;

namespace {

QByteArray link(const char* path)
{
    char buffer[256] = {};
    const ssize_t n = ::readlink(path, buffer, sizeof buffer - 1);
    return n > 0 ? QByteArray(buffer, static_cast<qsizetype>(n)) : QByteArray();
}

// A tmpfs of 32 KiB (eight pages), unmounted again at the end of the test.
struct SmallDisk {
    QString path = test::makeTempDir() + QStringLiteral("/disk");
    bool mounted = false;
    QString whyNot;

    SmallDisk()
    {
        // Only in a mount namespace of this process's own: the machine's mounts stay untouched.
        if (link("/proc/self/ns/mnt").isEmpty() || link("/proc/self/ns/mnt") == link("/proc/1/ns/mnt")) {
            whyNot = QStringLiteral("not in a private mount namespace (run through ctest)");
            return;
        }
        QDir().mkpath(path);
        mounted = ::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=32k,mode=0700") == 0;
        if (!mounted)
            whyNot = QStringLiteral("mounting a tmpfs failed: %1").arg(QString::fromLocal8Bit(strerror(errno)));
    }
    // The disk made read-only: root is refused too (a chmod'ed folder would not stop root).
    bool makeReadOnly() const
    {
        return ::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                       "size=32k,mode=0700") == 0;
    }
    // One folder made read-only on a disk that stays writable, as removable media and locked-down
    // homes give: `mount --bind dir dir` and `mount -o remount,bind,ro dir`. Goes with the disk.
    bool makeReadOnlyBind(const QString& name) const
    {
        const QByteArray dir = QFile::encodeName(path + QLatin1Char('/') + name);
        return ::mount(dir.constData(), dir.constData(), nullptr, MS_BIND, nullptr) == 0 &&
               ::mount(nullptr, dir.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
    }
    // Every file and folder on the disk, relative to it.
    QStringList entries() const
    {
        QStringList all;
        QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext())
            all << QDir(path).relativeFilePath(it.next());
        all.sort();
        return all;
    }
};

#define REQUIRE_SMALL_DISK(disk)                                                                                       \
    if (!(disk).mounted)                                                                                               \
    GTEST_SKIP() << (disk).whyNot.toStdString()

reports::ExportRecords records(int samples, int wifi, int incidents)
{
    reports::ExportRecords r;
    const Timestamp t = 1711879200;
    for (int i = 0; i < samples; ++i)
        r.samples.push_back(test::makeSample(t + i));
    for (int i = 0; i < wifi; ++i)
        r.wifiSnapshots.push_back(test::makeWifi(t + i));
    for (int i = 0; i < incidents; ++i) {
        Incident incident = test::makeIncident(t + 60.0 * i, t + 60.0 * i + 30);
        incident.evidenceSummary = QString(200, QLatin1Char('x'));
        r.incidents.push_back(incident);
    }
    return r;
}

TEST(FullDiskLab, AnExportThatRunsOutOfRoomFailsWholeAndLeavesNothing)
{
    const struct {
        const char* name;
        int samples, wifi, incidents;
        QString failingFile;
    } cases[] = {
        {"no room for the first file", 400, 0, 0, QStringLiteral("samples.csv")},
        {"room for two files", 12, 12, 300, QStringLiteral("incidents.csv")},
    };
    for (const auto& c : cases) {
        // Into the disk itself, and into a Documents folder the export has to make first.
        for (const QString& documentsName : {QString(), QStringLiteral("Dokumentumok")}) {
            SmallDisk disk;
            REQUIRE_SMALL_DISK(disk);
            const QString documents = documentsName.isEmpty() ? disk.path : disk.path + "/" + documentsName;
            const Timestamp now = 1711879200;
            const auto window = reports::ExportService::makeWindow(ExportScope::last24Hours, now);
            try {
                reports::ExportService::writeExport(documents, window, now, records(c.samples, c.wifi, c.incidents));
                ADD_FAILURE() << c.name << ": the export reported success";
            } catch (const reports::ExportError& e) {
                // The folder the export was made for is what the user is told about.
                EXPECT_EQ(e.failurePath(), documents + "/Polvarine Exports/" + reports::ExportService::folderStamp(now) +
                                               "_last-24-hours")
                    << c.name;
                EXPECT_EQ(e.cause(), FailureCause::diskFull) << c.name << ": " << e.technical().toStdString();
                EXPECT_TRUE(e.technical().contains(c.failingFile)) << c.name << ": " << e.technical().toStdString();
                // What the program shows for it.
                EXPECT_EQ(failureMessage(QStringLiteral("Az exportálás nem sikerült."), e),
                          "Az exportálás nem sikerült. Betelt a lemez, nincs hely a fájlok írására.");
                EXPECT_EQ(QString::fromUtf8(e.what()), "Betelt a lemez, nincs hely a fájlok írására.");
            }
            // Every folder the export made is gone with its files: no empty "Polvarine Exports" either.
            EXPECT_EQ(disk.entries(), QStringList()) << c.name << " " << documentsName.toStdString();
        }
    }
}

// A dossier into a folder that is not there yet: when it does not fit, the folders it made go too;
// a folder that was there before stays.
TEST(FullDiskLab, ADossierThatDoesNotFitRemovesTheFoldersItMade)
{
    auto store = std::make_shared<SQLiteStore>(SQLiteStore::Location::inMemory());
    const Timestamp t = 1711879200;
    test::await(store->insertSamples(test::makeBatch(t, 5)));
    const DossierRequest request{t - 3600, t + 3600, false, std::nullopt};
    for (const bool folderExisted : {false, true}) {
        SmallDisk disk;
        REQUIRE_SMALL_DISK(disk);
        if (folderExisted) {
            ASSERT_TRUE(QDir().mkpath(disk.path + "/Asztal"));
        }
        PdfDossierService service(store, QStringLiteral("1.0"), [t] { return t + 3600; });
        EXPECT_THROW(test::await(service.create(request, QUrl::fromLocalFile(disk.path + "/Asztal/Dossziék"))),
                     DossierError);
        EXPECT_EQ(disk.entries(), folderExisted ? QStringList{QStringLiteral("Asztal")} : QStringList())
            << disk.entries().join(", ").toStdString();
    }
}

TEST(FullDiskLab, ADossierThatDoesNotFitLeavesNoFileAndTheEarlierOneIntact)
{
    const QByteArray earlier = "%PDF-1.4 an earlier dossier of the same days";
    for (const bool withEarlier : {false, true}) {
        SmallDisk disk;
        REQUIRE_SMALL_DISK(disk);
        const QString target = disk.path + QStringLiteral("/Polvarine-meresi-dosszie-20260301-20260308.pdf");
        if (withEarlier) {
            QFile f(target);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(earlier);
        }
        const DossierDocument doc = test::sampleDocument();
        try {
            DossierPDFRenderer().render(doc, DossierPaginator::pages(doc), QUrl::fromLocalFile(target));
            ADD_FAILURE() << "a dossier was written to a full disk";
        } catch (const DossierError& e) {
            EXPECT_EQ(e.kind(), DossierError::Kind::destinationNotWritable);
            EXPECT_EQ(e.cause(), FailureCause::diskFull);
            EXPECT_EQ(e.errorDescription(),
                      "A dokumentum nem írható ide: " + target + ". Betelt a lemez, nincs hely a fájlok írására.");
        }
        if (withEarlier) {
            EXPECT_EQ(disk.entries(), QStringList{QFileInfo(target).fileName()}) << "a temporary file was left";
            QFile f(target);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll(), earlier);
        } else {
            EXPECT_TRUE(disk.entries().isEmpty()) << disk.entries().join(", ").toStdString();
        }
    }
}

// A read-only Desktop, for real (a read-only mount, or a read-only bind mount of the Desktop alone;
// root is refused too): the dossier gives the cause that exports give, whatever language the
// system's error text is in, and names the folder with "~" for home; nothing is left behind.
TEST(FullDiskLab, ADossierOnAReadOnlyDesktopSaysWhyAndWhere)
{
    auto store = std::make_shared<SQLiteStore>(SQLiteStore::Location::inMemory());
    const Timestamp t = 1711879200;
    test::await(store->insertSamples(test::makeBatch(t, 5)));
    const DossierRequest request{t - 3600, t + 3600, false, std::nullopt};
    const QByteArray home = qgetenv("HOME");
    for (const auto& [folderName, bind] : {std::pair{QStringLiteral("Asztal"), false}, std::pair{QStringLiteral("Asztal/Dossziék"), false},
                                           std::pair{QStringLiteral("Asztal"), true}, std::pair{QStringLiteral("Asztal/Dossziék"), true}}) {
        SmallDisk disk;
        REQUIRE_SMALL_DISK(disk);
        ASSERT_TRUE(QDir().mkpath(disk.path + "/Asztal"));
        ASSERT_TRUE(bind ? disk.makeReadOnlyBind(QStringLiteral("Asztal")) : disk.makeReadOnly()) << strerror(errno);
        qputenv("HOME", QFile::encodeName(disk.path));
        const QString folder = disk.path + "/" + folderName;
        PdfDossierService service(store, QStringLiteral("1.0"), [t] { return t + 3600; });
        try {
            test::await(service.create(request, QUrl::fromLocalFile(folder)));
            ADD_FAILURE() << folderName.toStdString() << ": a dossier was written to a read-only disk";
        } catch (const std::exception& e) {
            const FailureReport report = failureReport(e);
            EXPECT_EQ(report.cause, FailureCause::readOnly) << folderName.toStdString() << bind << ": " << e.what();
            EXPECT_EQ(report.sentenceNaming(folder),
                      QStringLiteral("A lemez vagy a mappa csak olvasható. Érintett hely: ~/") + folderName +
                          (folderName.contains('/') ? QString() : QStringLiteral("/Polvarine-meresi-dosszie-20240331-20240331.pdf")))
                << e.what();
        }
        qputenv("HOME", home);
        // The cause comes from the mount itself, not from the error's text in the user's language.
        EXPECT_EQ(dossier::fileWriteFailureCause(disk.path + "/Asztal/x.pdf", 0, QStringLiteral("Das Dateisystem ist nur lesbar")),
                  FailureCause::readOnly);
        EXPECT_EQ(disk.entries(), QStringList{QStringLiteral("Asztal")}) << disk.entries().join(", ").toStdString();
    }
}

} // namespace
