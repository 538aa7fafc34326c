#include "core/probes/ICMPPacket.h"

#include <algorithm>

namespace pv::ICMPPacket {

namespace {

void put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t value)
{
    out[at] = static_cast<std::uint8_t>(value >> 8);
    out[at + 1] = static_cast<std::uint8_t>(value);
}

void put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * (3 - i)));
}

void put64(std::vector<std::uint8_t>& out, std::size_t at, std::uint64_t value)
{
    for (std::size_t i = 0; i < 8; ++i)
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * (7 - i)));
}

std::uint64_t getBigEndian(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t width)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value = (value << 8) | bytes[at + i];
    return value;
}

} // namespace

std::vector<std::uint8_t> makeEchoRequest(std::uint32_t runIdentifier, std::uint16_t sequence,
                                          std::uint16_t targetSlot, std::uint64_t sendTimestampNs, Family family)
{
    std::vector<std::uint8_t> packet(requestSize, 0);
    packet[0] = family == Family::v4 ? echoRequestV4 : echoRequestV6;
    packet[1] = 0;
    put16(packet, 4, static_cast<std::uint16_t>(runIdentifier & 0xFFFF));
    put16(packet, 6, sequence);
    std::copy(magic.begin(), magic.end(), packet.begin() + 8);
    put32(packet, 12, runIdentifier);
    put16(packet, 16, sequence);
    put16(packet, 18, targetSlot);
    put64(packet, 20, sendTimestampNs);
    if (family == Family::v4)
        put16(packet, 2, checksum(packet));
    return packet;
}

std::uint16_t checksum(std::span<const std::uint8_t> bytes)
{
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += (static_cast<std::uint32_t>(bytes[i]) << 8) | bytes[i + 1];
    if (i < bytes.size())
        sum += static_cast<std::uint32_t>(bytes[i]) << 8;
    while (sum > 0xFFFF)
        sum = (sum >> 16) + (sum & 0xFFFF);
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

std::optional<StrippedMessage> stripIPv4Header(std::span<const std::uint8_t> datagram, Family family)
{
    if (family == Family::v6)
        return StrippedMessage{{datagram.begin(), datagram.end()}, std::nullopt};
    if (datagram.empty())
        return std::nullopt;
    if ((datagram[0] >> 4) != 4)
        return std::nullopt;
    const std::size_t headerLength = static_cast<std::size_t>(datagram[0] & 0x0F) * 4;
    if (headerLength < 20 || datagram.size() <= headerLength)
        return std::nullopt;
    return StrippedMessage{{datagram.begin() + static_cast<std::ptrdiff_t>(headerLength), datagram.end()},
                           static_cast<int>(datagram[8])};
}

std::optional<EchoReplyFields> parseEchoReply(std::span<const std::uint8_t> message,
                                              std::uint32_t expectedRunIdentifier, Family family)
{
    if (message.size() < minimumReplySize)
        return std::nullopt;
    if (message[0] != (family == Family::v4 ? echoReplyV4 : echoReplyV6))
        return std::nullopt;
    if (message[1] != 0)
        return std::nullopt;
    // The kernel computes the ICMPv6 checksum over a pseudo-header and has verified it already.
    if (family == Family::v4 && checksum(message) != 0)
        return std::nullopt;
    if (!std::equal(magic.begin(), magic.end(), message.begin() + 8))
        return std::nullopt;
    if (getBigEndian(message, 12, 4) != expectedRunIdentifier)
        return std::nullopt;
    return EchoReplyFields{
        static_cast<std::uint32_t>(getBigEndian(message, 12, 4)),
        static_cast<std::uint16_t>(getBigEndian(message, 16, 2)),
        static_cast<std::uint16_t>(getBigEndian(message, 18, 2)),
        getBigEndian(message, 20, 8),
    };
}

} // namespace pv::ICMPPacket
