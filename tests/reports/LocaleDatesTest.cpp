// Runs with TZ=Europe/Budapest, once under LC_ALL=C.UTF-8 and once under hu_HU.UTF-8.
#include "core/records/LocaleDates.h"

#include "core/app/Presentation.h"
#include "ui/design/Chart.h"

#include <gtest/gtest.h>

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

// Every place a date reaches the user, in Hungarian as the texts are, under the C and the Hungarian
// locale alike: the dossier and the daily summary, the history, the overview's latest test, the
// charts' axes and crosshair, the panel's clock times.
TEST(LocaleDatesTest, EveryDateAUserReadsIsHungarianUnderAnyLocale)
{
    EXPECT_EQ(dateTextLocale(), QStringLiteral("hu_HU"));
    const struct {
        const char* place;
        QString text;
        QString expected;
    } cases[] = {
        {"dossier, daily summary", mediumDateTimeText(kAfterChange), QStringLiteral("2024. márc. 31. 3:30:00")},
        {"history period", skeletonDateTimeText(kAfterChange, QStringLiteral("MMMdjmm")), QStringLiteral("márc. 31. 3:30")},
        {"latest load test", dayLabel(kAfterChange, dateLocale()) + QLatin1Char(' ') + timeOfDayLabel(kAfterChange, dateLocale()),
         QStringLiteral("márc. 31. 3:30")},
        {"crosshair", crosshairTimeText(kAfterChange, dateLocale()), QStringLiteral("3:30:00")},
        {"live text clock", presentation::localTimeWithSeconds(kAfterChange), QStringLiteral("3:30:00")},
        {"live text clock, short", presentation::localTimeShort(kAfterChange), QStringLiteral("3:30")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, c.expected) << c.place;
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
