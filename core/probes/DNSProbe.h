#pragma once
// The DNS probe: times an A query (AAAA for the IPv6 path) for a fresh random name through the system's resolver
// configuration and classifies how the resolver answered.
//
// Queries go through c-ares, driven entirely by the probe's strand: c-ares tells us which sockets to
// watch (socket-state callback), Asio waits on them, and c-ares's own retransmission deadlines run
// on a timer. No thread is blocked per query.

#include "core/records/Enum.h"
#include "core/records/Records.h"
#include "core/records/Runtime.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <optional>

namespace pv {

enum class DNSResponseKind { answered, noSuchName, serverFailure, refused };
inline constexpr EnumTable<DNSResponseKind, 4> kDNSResponseKindTable{{{
    {DNSResponseKind::answered, "answered"},
    {DNSResponseKind::noSuchName, "noSuchName"},
    {DNSResponseKind::serverFailure, "serverFailure"},
    {DNSResponseKind::refused, "refused"},
}}};
inline QString rawValue(DNSResponseKind k) { return kDNSResponseKindTable.rawText(k); }

struct DNSProbeResult {
    enum class Outcome { unavailable, responded, timeout };

    Outcome outcome = Outcome::timeout;
    QString unavailableMessage; // the text of an `unavailable` outcome; empty otherwise
    QString queriedName;
    std::optional<double> latencyMilliseconds;
    std::optional<DNSResponseKind> kind;
    int answerCount = 0;
    std::optional<QString> firstAnswerAddress;

    bool isResponse() const { return outcome == Outcome::responded; }
    bool operator==(const DNSProbeResult&) const = default;

    static DNSProbeResult unavailable(QString name, QString message);
    static DNSProbeResult timedOut(QString name);
    static DNSProbeResult responded(QString name, double latencyMilliseconds, DNSResponseKind kind, int answers = 0,
                                    std::optional<QString> firstAddress = std::nullopt);
};

class DNSProbe : public rt::Actor {
public:
    enum class ZoneSource { owned, fallback };

    // probeZone: the zone under which random names are asked; absent or empty means the reserved
    // fallback zone. servers: "address:port" entries that replace the name servers of
    // /etc/resolv.conf (tests point the probe at a server of their own); empty means the system's.
    DNSProbe(asio::any_io_executor io, std::optional<QString> probeZone, QStringList servers = {});

    static QString fallbackZone();
    // A special-use name (RFC 6761 and its successors, the RFC 6303 reverse zones) that stub and
    // validating resolvers answer by themselves without asking any server: no zone to probe under.
    static bool isSelfAnsweredZone(const QString& zone);
    // The zone named by POLVARINE_DNS_ZONE (a zone of the user's or packager's own, with a wildcard
    // record), trimmed and without a trailing dot; none when unset, empty or self-answered.
    static std::optional<QString> zoneFromEnvironment();
    const QString& zone() const { return zone_; }
    ZoneSource zoneSource() const { return zoneSource_; }

    // "pv", 12 random characters of [a-z0-9], ".probe.", the zone.
    QString cacheBustingName() const;

    // Never throws; returns at the latest when `timeout` has passed. Without a name, a
    // cache-busting name is asked for.
    // IPv6 asks for AAAA records instead of A records.
    rt::awaitable<DNSProbeResult> resolve(std::optional<QString> name, std::chrono::nanoseconds timeout,
                                          AddressFamily family = AddressFamily::ipv4);

    // How a finished c-ares query maps to a result (exposed for tests of the mapping).
    // `answersFromPacket` is the parsed answer section (count, first IPv4 address) for a success.
    struct AnswerSummary {
        int count = 0;
        std::optional<QString> firstAddress;
    };
    static DNSProbeResult classify(const QString& name, int aresStatus, double latencyMilliseconds,
                                   const AnswerSummary& answers);
    // Counts the answer records of a DNS reply and finds the first A or AAAA record.
    static AnswerSummary summarizeAnswers(const unsigned char* packet, int length);

private:
    rt::awaitable<DNSProbeResult> resolveOnStrand(std::optional<QString> name, std::chrono::nanoseconds timeout,
                                                  AddressFamily family);

    asio::any_io_executor io_;
    QString zone_;
    ZoneSource zoneSource_;
    QStringList servers_;
};

inline QString rawValue(DNSProbe::ZoneSource s)
{
    return s == DNSProbe::ZoneSource::owned ? QStringLiteral("owned") : QStringLiteral("fallback");
}

} // namespace pv
