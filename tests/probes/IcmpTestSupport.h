#pragma once
// Running the probe's coroutines from a test thread, and building replies as a peer would.

#include "core/probes/ICMPPacket.h"
#include "core/probes/ICMPSocket.h"
#include "core/records/Runtime.h"

#include <asio.hpp>

#include <cstdint>
#include <utility>
#include <vector>

namespace pv::test {

// Runs an awaitable on the network thread and waits for its result (or its exception).
template <typename T> T runOn(rt::NetworkRuntime& net, rt::awaitable<T> work)
{
    return asio::co_spawn(net.executor(), std::move(work), asio::use_future).get();
}

inline void fixChecksumV4(std::vector<std::uint8_t>& message)
{
    message[2] = message[3] = 0;
    const std::uint16_t sum = ICMPPacket::checksum(message);
    message[2] = static_cast<std::uint8_t>(sum >> 8);
    message[3] = static_cast<std::uint8_t>(sum);
}

// What a peer sends back for one of our v4 requests: type 0, checksum fixed.
inline std::vector<std::uint8_t> echoReplyV4(std::uint32_t runIdentifier, std::uint16_t sequence,
                                             std::uint16_t targetSlot, std::uint64_t sendTimestampNs)
{
    auto message = ICMPPacket::makeEchoRequest(runIdentifier, sequence, targetSlot, sendTimestampNs,
                                               ICMPPacket::Family::v4);
    message[0] = ICMPPacket::echoReplyV4;
    fixChecksumV4(message);
    return message;
}

} // namespace pv::test
