#include "core/app/StorageHealth.h"
#include "core/records/FailureText.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace pv;

TEST(StorageHealthTest, BannerTexts)
{
    EXPECT_FALSE(StorageHealth::healthy().bannerMessage());
    EXPECT_EQ(StorageHealth::startedFresh("/d/polvarine.sqlite3.corrupt-20260314T091502").bannerMessage(),
              QStringLiteral("A korábbi mérési előzményt nem sikerült megnyitni, ezért a Polvarine újat kezdett. A régi "
                             "fájl megmaradt itt: /d/polvarine.sqlite3.corrupt-20260314T091502."));
}

// Both banners name the file concerned, from the home folder with "~".
TEST(StorageHealthTest, BannersNameTheDatabaseFile)
{
    const QString db = QDir::homePath() + "/.local/share/Polvarine/polvarine.sqlite3";
    EXPECT_TRUE(StorageHealth::startedFresh(db + ".corrupt-1").bannerMessage()->endsWith(
        "megmaradt itt: ~/.local/share/Polvarine/polvarine.sqlite3.corrupt-1."));
    const QString banner = *StorageHealth::notPersisting("database or disk is full", db).bannerMessage();
    EXPECT_TRUE(banner.startsWith("A Polvarine nem tud a lemezre menteni. " + failureSentence(FailureCause::diskFull) +
                                  " Érintett hely: ~/.local/share/Polvarine/polvarine.sqlite3. A mérés fut"))
        << banner.toStdString();
}

// The banner of a store that cannot save names the cause in Hungarian, never the technical reason.
TEST(StorageHealthTest, NotPersistingBannerNamesTheCause)
{
    const struct {
        const char* reason;
        FailureCause cause;
    } cases[] = {
        {"database or disk is full", FailureCause::diskFull},
        {"database is locked", FailureCause::inUse},
        {"unable to open database file: Permission denied", FailureCause::noPermission},
        {"the database file could not be created", FailureCause::unknown},
    };
    for (const auto& c : cases) {
        const QString banner = StorageHealth::notPersisting(QString::fromUtf8(c.reason)).bannerMessage().value_or("");
        EXPECT_TRUE(banner.startsWith("A Polvarine nem tud a lemezre menteni. " + failureSentence(c.cause) + " "))
            << banner.toStdString();
        EXPECT_TRUE(banner.endsWith("amikor a program bezárul.")) << banner.toStdString();
        EXPECT_FALSE(banner.contains(QString::fromUtf8(c.reason))) << banner.toStdString();
    }
}

TEST(StorageHealthTest, EqualityComparesCaseAndPayload)
{
    EXPECT_EQ(StorageHealth(), StorageHealth::healthy());
    EXPECT_EQ(StorageHealth::startedFresh("a"), StorageHealth::startedFresh("a"));
    EXPECT_NE(StorageHealth::startedFresh("a"), StorageHealth::startedFresh("b"));
    EXPECT_NE(StorageHealth::startedFresh("a"), StorageHealth::notPersisting("a"));
    EXPECT_NE(StorageHealth::notPersisting(""), StorageHealth::healthy());
}
