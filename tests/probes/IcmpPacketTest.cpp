#include "core/probes/ICMPPacket.h"
#include "core/probes/ICMPProbe.h"
#include "core/probes/ICMPSocket.h"

#include "tests/probes/IcmpTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>

using namespace pv;
using namespace std::chrono_literals;
using ICMPPacket::Family;
using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------------------------
TEST(IcmpPacketTest, RequestIsByteExact)
{
    const Bytes v4 = ICMPPacket::makeEchoRequest(258, 1, 2, 5, Family::v4);
    ASSERT_EQ(v4.size(), 64u);
    Bytes expected(64, 0);
    expected[0] = 8;
    expected[4] = 1, expected[5] = 2;                                          // identifier: low 16 bits of 258
    expected[6] = 0, expected[7] = 1;                                          // sequence
    expected[8] = 'P', expected[9] = 'V', expected[10] = 'C', expected[11] = '1';
    expected[12] = 0, expected[13] = 0, expected[14] = 1, expected[15] = 2;    // run identifier
    expected[16] = 0, expected[17] = 1, expected[18] = 0, expected[19] = 2;    // sequence copy, slot
    expected[27] = 5;                                                          // send time
    // The checksum of the known layout, worked out by hand: words 0x0800 0x0102 0x0001 0x5056
    // 0x4331 0x0102 0x0001 0x0002 0x0005 sum to 0x9D94, complement 0x626B.
    expected[2] = 0x62, expected[3] = 0x6B;
    EXPECT_EQ(v4, expected);
    EXPECT_EQ(ICMPPacket::checksum(v4), 0);

    const Bytes v6 = ICMPPacket::makeEchoRequest(258, 1, 2, 5, Family::v6);
    Bytes expectedV6 = expected;
    expectedV6[0] = 128;
    expectedV6[2] = expectedV6[3] = 0;
    EXPECT_EQ(v6, expectedV6);
}

TEST(IcmpPacketTest, RequestWritesEveryFieldBigEndianAtItsFullWidth)
{
    const Bytes r = ICMPPacket::makeEchoRequest(0xA1B2C3D4, 0, 0xFFFE, 0x0102030405060708ULL, Family::v4);
    EXPECT_EQ((Bytes{r.begin() + 4, r.begin() + 8}), (Bytes{0xC3, 0xD4, 0x00, 0x00})) << "sequence 0 after the wrap";
    EXPECT_EQ((Bytes{r.begin() + 12, r.begin() + 20}), (Bytes{0xA1, 0xB2, 0xC3, 0xD4, 0x00, 0x00, 0xFF, 0xFE}));
    EXPECT_EQ((Bytes{r.begin() + 20, r.begin() + 28}), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(Bytes(r.begin() + 28, r.end()), Bytes(36, 0));
    EXPECT_EQ(ICMPPacket::checksum(r), 0);
}

TEST(IcmpPacketTest, ChecksumFollowsRfc1071)
{
    EXPECT_EQ(ICMPPacket::checksum({}), 0xFFFF);
    // The worked example of RFC 1071 section 3: sum 0xDDF2, complement 0x220D.
    const std::array<std::uint8_t, 8> rfc{0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};
    EXPECT_EQ(ICMPPacket::checksum(rfc), 0x220D);
    // An odd last byte is the high byte of a word whose low byte is zero.
    const std::array<std::uint8_t, 3> odd{0x12, 0x34, 0x56};
    const std::array<std::uint8_t, 4> padded{0x12, 0x34, 0x56, 0x00};
    EXPECT_EQ(ICMPPacket::checksum(odd), ICMPPacket::checksum(padded));
    EXPECT_EQ(ICMPPacket::checksum(odd), static_cast<std::uint16_t>(~(0x1234 + 0x5600) & 0xFFFF));
    // Carries are folded back in, repeatedly.
    const std::array<std::uint8_t, 6> carries{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x02};
    EXPECT_EQ(ICMPPacket::checksum(carries), static_cast<std::uint16_t>(~0x0002 & 0xFFFF));
}

// ---------------------------------------------------------------------------------------------
TEST(IcmpPacketTest, StripsTheIPv4HeaderAndTakesItsTtl)
{
    Bytes datagram(20 + 8, 0);
    datagram[0] = 0x45;
    datagram[8] = 57;
    for (std::size_t i = 20; i < datagram.size(); ++i)
        datagram[i] = static_cast<std::uint8_t>(i);
    auto stripped = ICMPPacket::stripIPv4Header(datagram, Family::v4);
    ASSERT_TRUE(stripped);
    EXPECT_EQ(stripped->message, Bytes(datagram.begin() + 20, datagram.end()));
    EXPECT_EQ(stripped->ttl, 57);

    // Header length 6 words: the options go with the header.
    datagram[0] = 0x46;
    stripped = ICMPPacket::stripIPv4Header(datagram, Family::v4);
    ASSERT_TRUE(stripped);
    EXPECT_EQ(stripped->message, Bytes(datagram.begin() + 24, datagram.end()));

    // v6 passes through untouched and has no TTL.
    stripped = ICMPPacket::stripIPv4Header(datagram, Family::v6);
    ASSERT_TRUE(stripped);
    EXPECT_EQ(stripped->message, datagram);
    EXPECT_FALSE(stripped->ttl);
}

TEST(IcmpPacketTest, DropsDatagramsThatAreNotIPv4PacketsWithAPayload)
{
    EXPECT_FALSE(ICMPPacket::stripIPv4Header({}, Family::v4));
    Bytes v6Header(48, 0);
    v6Header[0] = 0x60;
    EXPECT_FALSE(ICMPPacket::stripIPv4Header(v6Header, Family::v4));
    // What a Linux datagram ICMP socket returns: the bare echo reply, first byte 0.
    EXPECT_FALSE(ICMPPacket::stripIPv4Header(test::echoReplyV4(1, 1, 0, 1), Family::v4));
    Bytes headerOnly(20, 0);
    headerOnly[0] = 0x45;
    EXPECT_FALSE(ICMPPacket::stripIPv4Header(headerOnly, Family::v4)) << "length equal to the header length";
    Bytes shortHeader(40, 0);
    shortHeader[0] = 0x44; // 16 bytes: below the minimum of 20
    EXPECT_FALSE(ICMPPacket::stripIPv4Header(shortHeader, Family::v4));
    Bytes longHeader(30, 0);
    longHeader[0] = 0x4F; // 60 bytes of header in a 30-byte datagram
    EXPECT_FALSE(ICMPPacket::stripIPv4Header(longHeader, Family::v4));
}

// ---------------------------------------------------------------------------------------------
TEST(IcmpPacketTest, RecognisesAReplyByItsPayload)
{
    const Bytes reply = test::echoReplyV4(0xDEADBEEF, 65535, 7, 123456789);
    auto fields = ICMPPacket::parseEchoReply(reply, 0xDEADBEEF, Family::v4);
    ASSERT_TRUE(fields);
    EXPECT_EQ(*fields, (ICMPPacket::EchoReplyFields{0xDEADBEEF, 65535, 7, 123456789}));

    // The kernel rewrites the header: identifier and sequence there are never used.
    Bytes rewritten = reply;
    rewritten[4] = 0x12, rewritten[5] = 0x34, rewritten[6] = 0, rewritten[7] = 9;
    test::fixChecksumV4(rewritten);
    fields = ICMPPacket::parseEchoReply(rewritten, 0xDEADBEEF, Family::v4);
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->sequence, 65535);

    // Bytes after the 28th are not looked at (a short peer reply, or one with other padding).
    Bytes trimmed(reply.begin(), reply.begin() + 28);
    test::fixChecksumV4(trimmed);
    EXPECT_TRUE(ICMPPacket::parseEchoReply(trimmed, 0xDEADBEEF, Family::v4));
}

TEST(IcmpPacketTest, AnySingleChangedByteRejectsAV4Reply)
{
    const Bytes reply = test::echoReplyV4(258, 1, 2, 5);
    ASSERT_TRUE(ICMPPacket::parseEchoReply(reply, 258, Family::v4));
    for (std::size_t i = 0; i < reply.size(); ++i) {
        for (std::uint8_t flip : {0x01, 0x80, 0xFF}) {
            Bytes changed = reply;
            changed[i] ^= flip;
            EXPECT_FALSE(ICMPPacket::parseEchoReply(changed, 258, Family::v4)) << "byte " << i << " ^ " << int(flip);
        }
    }
}

TEST(IcmpPacketTest, EveryRejectionRule)
{
    const Bytes good = test::echoReplyV4(258, 1, 2, 5);

    Bytes shortOne(good.begin(), good.begin() + 27);
    test::fixChecksumV4(shortOne);
    EXPECT_FALSE(ICMPPacket::parseEchoReply(shortOne, 258, Family::v4)) << "27 bytes";

    const Bytes request = ICMPPacket::makeEchoRequest(258, 1, 2, 5, Family::v4);
    EXPECT_FALSE(ICMPPacket::parseEchoReply(request, 258, Family::v4)) << "our own request seen on the socket";

    Bytes unreachable = good;
    unreachable[0] = 3; // destination unreachable
    test::fixChecksumV4(unreachable);
    EXPECT_FALSE(ICMPPacket::parseEchoReply(unreachable, 258, Family::v4));

    Bytes code = good;
    code[1] = 1;
    test::fixChecksumV4(code);
    EXPECT_FALSE(ICMPPacket::parseEchoReply(code, 258, Family::v4)) << "code not 0";

    Bytes badSum = good;
    badSum[3] ^= 0x10;
    EXPECT_FALSE(ICMPPacket::parseEchoReply(badSum, 258, Family::v4)) << "checksum";

    Bytes noMagic = good;
    noMagic[11] = '2';
    test::fixChecksumV4(noMagic);
    EXPECT_FALSE(ICMPPacket::parseEchoReply(noMagic, 258, Family::v4)) << "magic";

    EXPECT_FALSE(ICMPPacket::parseEchoReply(good, 259, Family::v4)) << "another run";
    EXPECT_FALSE(ICMPPacket::parseEchoReply(good, 258, Family::v6)) << "a v4 reply on a v6 probe";
}

TEST(IcmpPacketTest, V6RepliesAreRecognisedWithoutAChecksum)
{
    Bytes reply = ICMPPacket::makeEchoRequest(258, 1, 2, 5, Family::v6);
    EXPECT_FALSE(ICMPPacket::parseEchoReply(reply, 258, Family::v6)) << "type 128 is our own request";
    reply[0] = ICMPPacket::echoReplyV6;
    reply[2] = 0xAB, reply[3] = 0xCD; // whatever the kernel put there
    auto fields = ICMPPacket::parseEchoReply(reply, 258, Family::v6);
    ASSERT_TRUE(fields);
    EXPECT_EQ(*fields, (ICMPPacket::EchoReplyFields{258, 1, 2, 5}));
    reply[1] = 1;
    EXPECT_FALSE(ICMPPacket::parseEchoReply(reply, 258, Family::v6));
}

// ---------------------------------------------------------------------------------------------
TEST(IcmpSeriesTest, Statistics)
{
    EchoSeries s{QStringLiteral("10.0.0.1"),
                 {EchoOutcome::reply(10, 64), EchoOutcome::reply(30, 64), EchoOutcome::reply(20, std::nullopt)}};
    EXPECT_EQ(s.rtts(), (std::vector<double>{10, 30, 20}));
    EXPECT_EQ(s.medianRtt(), 20);
    EXPECT_EQ(s.minimumRtt(), 10);
    EXPECT_EQ(s.jitterMilliseconds(), 15);
    EXPECT_EQ(s.lossRatio(), 0);

    EchoSeries even{QString(), {EchoOutcome::reply(20, 64), EchoOutcome::reply(10, 64)}};
    EXPECT_EQ(even.medianRtt(), 15) << "the mean of the two middle values";
    EXPECT_EQ(even.jitterMilliseconds(), 10);

    EchoSeries mixed{QString(), {EchoOutcome::reply(5, 64), EchoOutcome::timeout(), EchoOutcome::abandoned()}};
    EXPECT_EQ(mixed.lossRatio(), 0.5) << "abandoned echoes do not count";
    EXPECT_FALSE(mixed.jitterMilliseconds()) << "one reply";

    EchoSeries lost{QString(), {EchoOutcome::timeout(), EchoOutcome::unreachable(QStringLiteral("x")),
                                EchoOutcome::sendFailed(QStringLiteral("y"))}};
    EXPECT_EQ(lost.lossRatio(), 1.0);
    EXPECT_FALSE(lost.medianRtt());
    EXPECT_FALSE(lost.minimumRtt());
    EXPECT_FALSE(lost.jitterMilliseconds());

    EchoSeries gone{QString(), {EchoOutcome::abandoned(), EchoOutcome::abandoned()}};
    EXPECT_FALSE(gone.lossRatio());
    EXPECT_FALSE(EchoSeries{}.lossRatio());

    EXPECT_EQ(EchoOutcome::reply(1.5, 3).rttMilliseconds(), 1.5);
    EXPECT_FALSE(EchoOutcome::timeout().rttMilliseconds());
    EXPECT_NE(EchoOutcome::reply(1.5, 3), EchoOutcome::reply(1.5, std::nullopt));
}

// ---------------------------------------------------------------------------------------------
TEST(IcmpSocketTest, ErrorDescriptions)
{
    EXPECT_EQ(ICMPError::sendFailed(EHOSTUNREACH).description(), QStringLiteral("ICMP send failed (errno 113: No route to host)"));
    EXPECT_EQ(ICMPError::socketCreationFailed(EMFILE).description(),
              QStringLiteral("ICMP socket could not be opened (errno 24: Too many open files)"));
    const QString refused = ICMPError::socketCreationFailed(EACCES).description();
    EXPECT_TRUE(refused.startsWith(QStringLiteral("ICMP socket could not be opened (errno 13: Permission denied)")))
        << refused.toStdString();
    EXPECT_TRUE(refused.contains(QStringLiteral("net.ipv4.ping_group_range"))) << refused.toStdString();
    EXPECT_EQ(ICMPError::unsupportedAddress(QStringLiteral("example.com")).description(),
              QStringLiteral("Not a numeric IP address: example.com"));
    EXPECT_STREQ(ICMPError::sendFailed(EHOSTUNREACH).what(), "ICMP send failed (errno 113: No route to host)");
}

TEST(IcmpSocketTest, ResolvesNumericAddressesOfItsFamilyOnly)
{
    const ICMPAddress a = ICMPSocket::resolveNumericAddress(QStringLiteral("1.1.1.1"), Family::v4);
    EXPECT_EQ(a.storage.ss_family, AF_INET);
    const auto* in = reinterpret_cast<const sockaddr_in*>(&a.storage);
    EXPECT_EQ(ntohl(in->sin_addr.s_addr), 0x01010101u);
    EXPECT_EQ(ICMPSocket::resolveNumericAddress(QStringLiteral("::1"), Family::v6).storage.ss_family, AF_INET6);

    for (const auto& [host, family] : std::vector<std::pair<QString, Family>>{
             {QStringLiteral("localhost"), Family::v4},
             {QStringLiteral("example.com"), Family::v4},
             {QStringLiteral("::1"), Family::v4},
             {QStringLiteral("1.1.1.1"), Family::v6},
             {QString(), Family::v4},
             {QStringLiteral("1.1.1.1 "), Family::v4}}) {
        try {
            ICMPSocket::resolveNumericAddress(host, family);
            ADD_FAILURE() << "resolved " << host.toStdString();
        } catch (const ICMPError& e) {
            EXPECT_EQ(e.kind(), ICMPError::Kind::unsupportedAddress);
            EXPECT_EQ(e.description(), QStringLiteral("Not a numeric IP address: ") + host);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Without an open socket nothing is sent, and every echo still ends in exactly one outcome.
TEST(IcmpProbeTest, WithoutASocketEveryEchoFailsToSend)
{
    rt::NetworkRuntime net;
    auto probe = ICMPProbe::create(net.executor(), Family::v4);
    EXPECT_NE(probe->runIdentifier(), 0u);
    EXPECT_FALSE(test::runOn(net, probe->interfacePinned()));

    const EchoSeries series = test::runOn(net, probe->measure(QStringLiteral("10.0.0.1"), 3, 1s, 1ms, 1));
    ASSERT_EQ(series.outcomes.size(), 3u);
    for (const auto& o : series.outcomes)
        EXPECT_EQ(o, EchoOutcome::sendFailed(QStringLiteral("The ICMP socket is not open.")));
    EXPECT_EQ(series.host, QStringLiteral("10.0.0.1"));
    EXPECT_EQ(series.lossRatio(), 1.0);
    EXPECT_EQ(test::runOn(net, probe->lastSequence()), 0) << "no sequence is taken without a socket";

    EXPECT_TRUE(test::runOn(net, probe->measure(QStringLiteral("10.0.0.1"), 0, 1s, 1s, 1)).outcomes.empty());
    EXPECT_TRUE(test::runOn(net, probe->measureContinuous(QStringLiteral("10.0.0.1"), 1s, 10ms, 1s, 1)).empty());
    test::runOn(net, probe->stop()); // harmless without a socket
    EXPECT_EQ(ICMPProbe::create(net.executor(), Family::v6, 77)->runIdentifier(), 77u);
}

TEST(IcmpProbeTest, MessagesThatAnswerNoEchoAreDropped)
{
    rt::NetworkRuntime net;
    auto probe = ICMPProbe::create(net.executor(), Family::v4, 258);
    ReceivedICMPMessage message{1'000'000, QStringLiteral("10.0.0.1"), test::echoReplyV4(258, 1, 0, 1), 64};
    test::runOn(net, probe->deliver(message));
    message.body = {1, 2, 3};
    test::runOn(net, probe->deliver(message));
    EXPECT_FALSE(test::runOn(net, probe->pendingSendTimestamp(1)));
}
