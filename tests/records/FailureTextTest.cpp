#include "core/records/FailureText.h"

#include <QDir>
#include <QStringList>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

using namespace pv;

TEST(FailureTextTest, TechnicalTextsMapToTheirCause)
{
    const struct {
        const char* technical;
        FailureCause cause;
    } cases[] = {
        {"database or disk is full", FailureCause::diskFull},
        {"write failed: No space left on device", FailureCause::diskFull},
        {"attempt to write a readonly database", FailureCause::readOnly},
        {"Read-only file system", FailureCause::readOnly},
        {"Írásvédett fájlrendszer", FailureCause::readOnly},
        {"filesystem error: cannot create directories: Nem könyvtár [/tmp/x/y]", FailureCause::notAFolder},
        {"Could not create the folder: Not a directory", FailureCause::notAFolder},
        {"ICMP socket could not be opened (errno 13: Permission denied)", FailureCause::icmpNotPermitted},
        {"open: Permission denied", FailureCause::noPermission},
        {"Couldn't resolve host name", FailureCause::nameNotResolved},
        {"Failed to connect to 127.0.0.1 port 9: Connection refused", FailureCause::connectionRefused},
        {"Operation timed out after 2000 milliseconds", FailureCause::timedOut},
        {"Network is unreachable", FailureCause::unreachable},
        {"The requested URL returned error: 500", FailureCause::serverError},
        {"database is locked", FailureCause::inUse},
        {"something odd", FailureCause::unknown},
    };
    for (const auto& c : cases)
        EXPECT_EQ(failureCauseFromText(QString::fromUtf8(c.technical)), c.cause) << c.technical;
}

TEST(FailureTextTest, ExceptionsKeepTheCauseTheyCarry)
{
    // An error type of another layer whose what() is user text, not a technical one.
    struct LayerError : std::exception, FailureCauseCarrier {
        const char* what() const noexcept override { return "A dokumentum nem írható ide: /x. Betelt a lemez."; }
        FailureCause failureCause() const override { return FailureCause::nothingMeasured; }
    };
    EXPECT_EQ(failureCauseOf(LayerError()), FailureCause::nothingMeasured);
    EXPECT_EQ(failureCauseOf(CausedError(FailureCause::serverError, QStringLiteral("HTTP 503"))),
              FailureCause::serverError);
    const std::filesystem::filesystem_error fsError("cannot create directories", std::make_error_code(std::errc::no_space_on_device));
    EXPECT_EQ(failureCauseOf(fsError), FailureCause::diskFull);
    EXPECT_EQ(failureCauseFromErrno(EROFS), FailureCause::readOnly);
    EXPECT_EQ(failureCauseFromSqlite(13), FailureCause::diskFull);
    EXPECT_EQ(failureCauseFromSqlite(8 | (3 << 8)), FailureCause::readOnly); // an extended read-only code
}

TEST(FailureTextTest, EveryCauseHasItsOwnHungarianSentence)
{
    QStringList seen;
    for (int i = 0; i <= static_cast<int>(FailureCause::unknown); ++i) {
        const QString sentence = failureSentence(static_cast<FailureCause>(i));
        EXPECT_TRUE(sentence.endsWith(QLatin1Char('.'))) << sentence.toStdString();
        EXPECT_FALSE(seen.contains(sentence)) << sentence.toStdString();
        seen << sentence;
    }
    EXPECT_EQ(failureMessage(QStringLiteral("Az exportálás nem sikerült."), FailureCause::diskFull),
              QStringLiteral("Az exportálás nem sikerült. Betelt a lemez, nincs hely a fájlok írására."));
}

// Every failure names the place it concerns, read from the home folder with "~".
TEST(FailureTextTest, PathsReadFromTheHomeFolderWithATilde)
{
    const QString home = QDir::homePath();
    const struct {
        QString path;
        QString shown;
    } cases[] = {
        {home + "/Dokumentumok/Polvarine Exports", "~/Dokumentumok/Polvarine Exports"},
        {home + "/Asztal/", "~/Asztal"},
        {home, "~"},
        {home + "-other/x", home + "-other/x"},
        {"/tmp/pv/export", "/tmp/pv/export"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(displayPath(c.path), c.shown) << c.path.toStdString();
        EXPECT_EQ(pathNote(c.path), c.path.isEmpty() ? QString() : "Érintett hely: " + c.shown) << c.path.toStdString();
    }
    const std::filesystem::filesystem_error fsError("cannot create directories", std::filesystem::path("/tmp/a/b"),
                                                    std::make_error_code(std::errc::not_a_directory));
    EXPECT_EQ(failurePathOf(fsError), "/tmp/a/b");
    EXPECT_EQ(failurePathOf(CausedError(FailureCause::diskFull, "no space left", "/tmp/x")), "/tmp/x");
    EXPECT_EQ(failurePathOf(std::runtime_error("no path")), QString());
}
