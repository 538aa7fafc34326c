#include "core/records/RecordId.h"

#include <QRandomGenerator>

#include <chrono>
#include <mutex>

namespace pv {

namespace {

QUuid compose(std::int64_t ms, std::uint16_t randA, std::uint64_t randB)
{
    const auto t = static_cast<std::uint64_t>(ms) & 0xFFFF'FFFF'FFFFull;
    const auto l = static_cast<uint>(t >> 16);
    const auto w1 = static_cast<ushort>(t & 0xFFFF);
    const auto w2 = static_cast<ushort>(0x7000 | (randA & 0x0FFF));
    return QUuid(l, w1, w2,
                 static_cast<uchar>(0x80 | ((randB >> 56) & 0x3F)), static_cast<uchar>(randB >> 48),
                 static_cast<uchar>(randB >> 40), static_cast<uchar>(randB >> 32), static_cast<uchar>(randB >> 24),
                 static_cast<uchar>(randB >> 16), static_cast<uchar>(randB >> 8), static_cast<uchar>(randB));
}

} // namespace

QUuid recordIdAt(std::int64_t unixMilliseconds)
{
    QRandomGenerator* random = QRandomGenerator::global();
    return compose(unixMilliseconds, static_cast<std::uint16_t>(random->generate()), random->generate64());
}

QUuid newRecordId()
{
    static std::mutex mutex;
    static std::int64_t lastMs = 0;
    static std::uint16_t counter = 0;

    QRandomGenerator* random = QRandomGenerator::global();
    const std::uint64_t randB = random->generate64();
    const std::int64_t nowMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    std::int64_t ms = 0;
    std::uint16_t seq = 0;
    {
        const std::lock_guard lock(mutex);
        if (nowMs > lastMs) {
            lastMs = nowMs;
            // A random start in the lower half leaves room for many ids within the millisecond.
            counter = static_cast<std::uint16_t>(random->bounded(0x800u));
        } else if (++counter > 0x0FFF) {
            // The counter ran out (or the clock went back): borrow the next millisecond.
            ++lastMs;
            counter = 0;
        }
        ms = lastMs;
        seq = counter;
    }
    return compose(ms, seq, randB);
}

std::int64_t recordIdMilliseconds(const QUuid& id)
{
    if (((id.data3 >> 12) & 0xF) != 7 || (id.data4[0] & 0xC0) != 0x80)
        return -1;
    return (static_cast<std::int64_t>(id.data1) << 16) | id.data2;
}

} // namespace pv
