#pragma once
// Identifiers of the records the program creates: version-7 UUIDs, whose first 48 bits are the Unix
// time in milliseconds. Rows written close together in time get ids close together, so the
// database's id indexes grow at their end instead of at random pages. The text form stays the usual
// upper-case UUID, and ids written before (random version-4 ones) are read and kept as they are.

#include <QUuid>

#include <cstdint>

namespace pv {

// A new id for a record created now. Ids made by one process increase strictly, also within one
// millisecond (a 12-bit counter takes the place of the first random bits).
QUuid newRecordId();

// An id for a record of the given time (Unix milliseconds): the time bits, then random bits.
QUuid recordIdAt(std::int64_t unixMilliseconds);

// The time in Unix milliseconds carried by a version-7 id; -1 for any other id.
std::int64_t recordIdMilliseconds(const QUuid& id);

} // namespace pv
