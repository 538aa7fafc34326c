// Runs with TZ=Europe/Budapest, once under LC_ALL=C.UTF-8 and once under hu_HU.UTF-8.
#include "core/records/LocaleDates.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace pv;

namespace {
// 2024-03-31 00:30 UTC is 01:30 CET, one hour later 03:30 CEST (the spring change).
constexpr double kBeforeChange = 1711845000.0;
constexpr double kAfterChange = kBeforeChange + 3600.0;

struct ForcedLocale {
    explicit ForcedLocale(const char* id) { setDateTextLocale(QString::fromLatin1(id)); }
    ~ForcedLocale() { setDateTextLocale(QString()); }
};
} // namespace

TEST(LocaleDatesTest, UserLocaleFollowsTheEnvironment)
{
    const char* all = std::getenv("LC_ALL");
    const bool hungarian = all != nullptr && QByteArray(all).startsWith("hu_HU");
    EXPECT_EQ(dateTextLocale(), hungarian ? QStringLiteral("hu_HU") : QStringLiteral("en_US_POSIX"));
    EXPECT_FALSE(mediumDateTimeText(kBeforeChange).isEmpty());
}

TEST(LocaleDatesTest, MediumStyleInTheForcedLocaleAndLocalZone)
{
    struct Case {
        const char* locale;
        double when;
        QString expected;
    };
    const Case cases[] = {
        {"hu_HU", kBeforeChange, QStringLiteral("2024. márc. 31. 1:30:00")},
        {"hu_HU", kAfterChange, QStringLiteral("2024. márc. 31. 3:30:00")},
        {"en_US", kAfterChange, QStringLiteral("Mar 31, 2024, 3:30:00\u202FAM")},
    };
    for (const Case& c : cases) {
        ForcedLocale forced(c.locale);
        EXPECT_EQ(mediumDateTimeText(c.when), c.expected) << c.locale;
    }
}

TEST(LocaleDatesTest, SkeletonGivesTheLocalesBestPattern)
{
    struct Case {
        const char* locale;
        const char* skeleton;
        QString expected;
    };
    const Case cases[] = {
        {"hu_HU", "MMMdHHmm", QStringLiteral("márc. 31. 3:30")},
        {"en_US", "MMMdHHmm", QStringLiteral("Mar 31, 03:30")},
        {"hu_HU", "yMMMd", QStringLiteral("2024. márc. 31.")},
        {"hu_HU", "", QString()},
    };
    for (const Case& c : cases) {
        ForcedLocale forced(c.locale);
        EXPECT_EQ(skeletonDateTimeText(kAfterChange, QString::fromLatin1(c.skeleton)), c.expected)
            << c.locale << ' ' << c.skeleton;
    }
}
