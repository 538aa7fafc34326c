#include "core/app/StorageHealth.h"

#include <gtest/gtest.h>

using namespace pv;

TEST(StorageHealthTest, BannerTexts)
{
    EXPECT_FALSE(StorageHealth::healthy().bannerMessage());
    EXPECT_EQ(StorageHealth::startedFresh("/d/polvarine.sqlite3.corrupt-20260314T091502").bannerMessage(),
              QStringLiteral("A korábbi mérési előzményt nem sikerült megnyitni, ezért a Polvarine újat kezdett. A régi "
                             "fájl megmaradt itt: /d/polvarine.sqlite3.corrupt-20260314T091502."));
    EXPECT_EQ(StorageHealth::notPersisting("the database file could not be created").bannerMessage(),
              QStringLiteral("Polvarine cannot save to disk (the database file could not be created). Monitoring is "
                             "running, but nothing is being recorded — these measurements will be lost when the app "
                             "quits."));
}

TEST(StorageHealthTest, EqualityComparesCaseAndPayload)
{
    EXPECT_EQ(StorageHealth(), StorageHealth::healthy());
    EXPECT_EQ(StorageHealth::startedFresh("a"), StorageHealth::startedFresh("a"));
    EXPECT_NE(StorageHealth::startedFresh("a"), StorageHealth::startedFresh("b"));
    EXPECT_NE(StorageHealth::startedFresh("a"), StorageHealth::notPersisting("a"));
    EXPECT_NE(StorageHealth::notPersisting(""), StorageHealth::healthy());
}
