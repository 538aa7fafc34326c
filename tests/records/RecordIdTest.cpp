#include "core/records/RecordId.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>

using namespace pv;

namespace {

std::int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

// The layout every reader relies on: version 7, the RFC variant, the time in the first 48 bits.
TEST(RecordId, CarriesVersionVariantAndTime)
{
    const std::int64_t before = nowMs();
    const QUuid fresh = newRecordId();
    const std::int64_t after = nowMs();
    struct Case {
        QUuid id;
        std::int64_t minMs, maxMs;
    } cases[] = {
        {fresh, before, after + 1},
        {recordIdAt(0), 0, 0},
        {recordIdAt(1767225600123), 1767225600123, 1767225600123},
        {recordIdAt(0xFFFF'FFFF'FFFF), 0xFFFF'FFFF'FFFF, 0xFFFF'FFFF'FFFF},
    };
    for (const Case& c : cases) {
        const QString text = c.id.toString(QUuid::WithoutBraces).toUpper();
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(text[14], QLatin1Char('7'));
        EXPECT_TRUE(QStringLiteral("89AB").contains(text[19]));
        EXPECT_EQ(c.id.variant(), QUuid::DCE);
        EXPECT_GE(recordIdMilliseconds(c.id), c.minMs);
        EXPECT_LE(recordIdMilliseconds(c.id), c.maxMs);
        EXPECT_EQ(QUuid::fromString(text), c.id);
    }
    // A random id carries no time.
    EXPECT_EQ(recordIdMilliseconds(QUuid::createUuid()), -1);
}

// Ids made one after the other sort in the order they were made, as text too (the store keys on
// the text), and never repeat, even thousands within one millisecond.
TEST(RecordId, IncreaseStrictlyInTextOrder)
{
    QString previous;
    std::set<QString> seen;
    for (int i = 0; i < 20000; ++i) {
        const QString text = newRecordId().toString(QUuid::WithoutBraces).toUpper();
        ASSERT_GT(text, previous) << i;
        previous = text;
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 20000u);
}
