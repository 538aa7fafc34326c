#pragma once
// The probe's own ICMP echo messages: the 64-byte request it sends, and the recognition of the
// replies to it. Everything the receiver needs (run, sequence, slot, send time) travels in the
// payload, which the peer sends back unchanged; the header's identifier and sequence are never
// trusted (the Linux kernel rewrites the identifier of a datagram ICMP socket anyway).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pv::ICMPPacket {

enum class Family { v4, v6 };

inline constexpr std::array<std::uint8_t, 4> magic{'P', 'V', 'C', '1'};
inline constexpr std::size_t requestSize = 64;
// Everything up to the end of the send time: a shorter message cannot be one of our replies.
inline constexpr std::size_t minimumReplySize = 28;

inline constexpr std::uint8_t echoRequestV4 = 8;
inline constexpr std::uint8_t echoReplyV4 = 0;
inline constexpr std::uint8_t echoRequestV6 = 128;
inline constexpr std::uint8_t echoReplyV6 = 129;

struct EchoReplyFields {
    std::uint32_t runIdentifier = 0;
    std::uint16_t sequence = 0;
    std::uint16_t targetSlot = 0;
    std::uint64_t sendTimestampNs = 0;
    bool operator==(const EchoReplyFields&) const = default;
};

// An ICMP message taken out of an IPv4 datagram, with the datagram's TTL (none for v6).
struct StrippedMessage {
    std::vector<std::uint8_t> message;
    std::optional<int> ttl;
    bool operator==(const StrippedMessage&) const = default;
};

// The echo request, all fields big-endian; v4 carries its checksum, v6 leaves it to the kernel.
std::vector<std::uint8_t> makeEchoRequest(std::uint32_t runIdentifier, std::uint16_t sequence,
                                          std::uint16_t targetSlot, std::uint64_t sendTimestampNs, Family family);

// RFC 1071 Internet checksum; an odd last byte is the high byte of a final word; empty -> 0xFFFF.
std::uint16_t checksum(std::span<const std::uint8_t> bytes);

// Removes the IPv4 header of a datagram (v6 passes through). Nothing when the datagram is not a
// well-formed IPv4 packet with a payload. Sockets that already deliver bare ICMP messages (Linux
// datagram ICMP sockets) must not call this.
std::optional<StrippedMessage> stripIPv4Header(std::span<const std::uint8_t> datagram, Family family);

// The fields of a reply to one of this run's echoes, or nothing for anything else.
std::optional<EchoReplyFields> parseEchoReply(std::span<const std::uint8_t> message,
                                              std::uint32_t expectedRunIdentifier, Family family);

} // namespace pv::ICMPPacket
