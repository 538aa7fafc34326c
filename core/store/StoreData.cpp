// Writing records to the evidence database and reading them back.
#include "core/store/StoreDatabase.h"

#include "core/records/RecordId.h"

#include <QStringDecoder>

#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <functional>
#include <iterator>
#include <thread>
#include <type_traits>

namespace pv::store {

const char* const kInsertSampleStatement =
    "INSERT OR REPLACE INTO network_samples (\n"
    "    id, batch_id, timestamp, target_kind, target_label, target_host, interface_name,\n"
    "    local_address, gateway_address, latency_ms, success, timeout_count, packet_loss, error_description, family\n"
    ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?);";

namespace {

constexpr const char* kInsertWifi =
    "INSERT OR REPLACE INTO wifi_snapshots (\n"
    "    id, timestamp, interface_name, local_address, gateway_address, ssid, bssid,\n"
    "    channel, band, rssi, noise, tx_rate_mbps, phy_mode, interface_up\n"
    ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?);";
constexpr const char* kInsertEvent = "INSERT OR REPLACE INTO events (id, timestamp, kind, details) VALUES (?, ?, ?, ?);";
constexpr const char* kInsertMarker = "INSERT OR REPLACE INTO markers (id, timestamp, action, note) VALUES (?, ?, ?, ?);";
constexpr const char* kUpsertIncident =
    "INSERT OR REPLACE INTO incidents (\n"
    "    id, start_timestamp, end_timestamp, classification, severity, confidence, evidence_summary, outage\n"
    ") VALUES (?, ?, ?, ?, ?, ?, ?, ?);";
constexpr const char* kDeleteIncident = "DELETE FROM incidents WHERE id = ?;";
constexpr const char* kInsertLoadTest =
    "INSERT OR REPLACE INTO load_tests (\n"
    "    id, started_at, download_mbps, upload_mbps, idle_p50_ms,\n"
    "    loaded_down_p95_ms, loaded_up_p95_ms, latency_increase_ms, grade\n"
    ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?);";
constexpr const char* kSaveBaseline =
    "INSERT OR REPLACE INTO quality_baseline (\n"
    "    id, saved_at, payload\n"
    ") VALUES (1, ?, ?);";

constexpr const char* kLatestLoadTest =
    "SELECT started_at, download_mbps, upload_mbps, idle_p50_ms, loaded_down_p95_ms, loaded_up_p95_ms,\n"
    "       latency_increase_ms, grade\nFROM load_tests\nORDER BY started_at DESC\nLIMIT 1;";
constexpr const char* kLoadBaseline = "SELECT payload\nFROM quality_baseline\nWHERE id = 1;";
constexpr const char* kLastSessionBoundary =
    "SELECT timestamp\nFROM events\nWHERE kind IN (?, ?)\nORDER BY timestamp DESC\nLIMIT 1;";
constexpr const char* kEarliestTimestamp =
    "SELECT MIN(timestamp)\nFROM (\n    SELECT timestamp FROM network_samples\n    UNION ALL\n"
    "    SELECT timestamp FROM wifi_snapshots\n);";
constexpr const char* kEarliestMeasurement =
    "SELECT MIN(t)\nFROM (\n    SELECT MIN(timestamp) AS t FROM network_samples\n    UNION ALL\n"
    "    SELECT MIN(bucket_start) FROM sample_rollups\n);";
// Seeks in the points index, one kind at a time (an IPv4 sample's family is NULL), and in the
// roll-ups' window index.
constexpr const char* kKindHoldsFamily[] = {
    "SELECT EXISTS (SELECT 1 FROM network_samples WHERE target_kind = ? AND family IS NULL AND timestamp BETWEEN ? AND ?);",
    "SELECT EXISTS (SELECT 1 FROM network_samples WHERE target_kind = ? AND family = 'ipv6' AND timestamp BETWEEN ? AND ?);"};
constexpr const char* kRollupsHoldFamily =
    "SELECT EXISTS (SELECT 1 FROM sample_rollups WHERE bucket_seconds = ? AND bucket_start BETWEEN ? AND ? AND "
    "family = ?);";
constexpr const char* kRollups =
    "SELECT bucket_start, bucket_seconds, target_kind, sample_count, success_count,\n"
    "       p50_ms, p95_ms, max_ms, loss_ratio, first_sample_timestamp, last_sample_timestamp, family\n"
    "FROM sample_rollups\n"
    "WHERE bucket_seconds = ? AND bucket_start >= ? AND bucket_start <= ?\n"
    "ORDER BY bucket_start ASC;";

#define PV_SAMPLE_COLUMNS                                                                                              \
    "SELECT id, batch_id, timestamp, target_kind, target_label, target_host, interface_name,\n"                        \
    "       local_address, gateway_address, latency_ms, success, timeout_count, packet_loss, error_description,\n"      \
    "       family\n"
#define PV_WIFI_COLUMNS                                                                                                \
    "SELECT id, timestamp, interface_name, local_address, gateway_address, ssid, bssid, channel,\n"                    \
    "       band, rssi, noise, tx_rate_mbps, phy_mode, interface_up\n"
#define PV_INCIDENT_COLUMNS                                                                                            \
    "SELECT id, start_timestamp, end_timestamp, classification, severity, confidence, evidence_summary, outage\n"

constexpr const char* kRecentSamples = PV_SAMPLE_COLUMNS "FROM network_samples\nORDER BY timestamp DESC\nLIMIT ?;";
constexpr const char* kRecentWifi = PV_WIFI_COLUMNS "FROM wifi_snapshots\nORDER BY timestamp DESC\nLIMIT ?;";
constexpr const char* kRecentIncidents = PV_INCIDENT_COLUMNS "FROM incidents\nORDER BY start_timestamp DESC\nLIMIT ?;";
constexpr const char* kRecentEvents = "SELECT id, timestamp, kind, details\nFROM events\nORDER BY timestamp DESC\nLIMIT ?;";
constexpr const char* kRecentMarkers = "SELECT id, timestamp, action, note\nFROM markers\nORDER BY timestamp DESC\nLIMIT ?;";

constexpr const char* kSamplesBetween =
    PV_SAMPLE_COLUMNS "FROM network_samples\nWHERE timestamp BETWEEN ? AND ?\nORDER BY timestamp ASC;";
// What a summary of a period needs of each sample, for one part of the period: the fold over a
// month must not make SQLite decode ten columns of text per row that nobody reads.
// Read from the (target_kind, family, timestamp, latency_ms, success) index alone, without the rows,
// one family at a time (NULL is IPv4, see the schema), so that no row's family has to be read.
#define PV_KIND_POINTS(FAMILY, TIME)                                                                                   \
    "SELECT timestamp, latency_ms, success\nFROM network_samples\n"                                                   \
    "WHERE target_kind = ? AND family " FAMILY " AND " TIME "\nORDER BY target_kind, family, timestamp;"
constexpr const char* kKindPointsInPart[] = {PV_KIND_POINTS("IS NULL", "timestamp >= ? AND timestamp < ?"),
                                             PV_KIND_POINTS("= 'ipv6'", "timestamp >= ? AND timestamp < ?")};
constexpr const char* kKindPointsInLastPart[] = {PV_KIND_POINTS("IS NULL", "timestamp BETWEEN ? AND ?"),
                                                 PV_KIND_POINTS("= 'ipv6'", "timestamp BETWEEN ? AND ?")};
#undef PV_KIND_POINTS
constexpr const char* kKindCountInPart =
    "SELECT count(*) FROM network_samples WHERE target_kind = ? AND timestamp >= ? AND timestamp < ?;";
constexpr const char* kKindCountInLastPart =
    "SELECT count(*) FROM network_samples WHERE target_kind = ? AND timestamp BETWEEN ? AND ?;";
constexpr const char* kFirstKind = "SELECT min(target_kind) FROM network_samples;";
constexpr const char* kNextKind =
    "SELECT target_kind FROM network_samples WHERE target_kind > ? ORDER BY target_kind LIMIT 1;";
constexpr const char* kSamplesInPart =
    PV_SAMPLE_COLUMNS "FROM network_samples\nWHERE timestamp >= ? AND timestamp < ?\nORDER BY timestamp ASC;";
// The same of one family: [0] IPv4 (anything but "ipv6", as familyFromBytes reads it), [1] IPv6.
constexpr const char* kFamilySamplesBetween[2] = {
    PV_SAMPLE_COLUMNS "FROM network_samples\nWHERE timestamp BETWEEN ? AND ? AND family IS NOT 'ipv6'\n"
                      "ORDER BY timestamp ASC;",
    PV_SAMPLE_COLUMNS "FROM network_samples\nWHERE timestamp BETWEEN ? AND ? AND family = 'ipv6'\nORDER BY timestamp ASC;"};
constexpr const char* kFamilySamplesInPart[2] = {
    PV_SAMPLE_COLUMNS "FROM network_samples\nWHERE timestamp >= ? AND timestamp < ? AND family IS NOT 'ipv6'\n"
                      "ORDER BY timestamp ASC;",
    PV_SAMPLE_COLUMNS "FROM network_samples\nWHERE timestamp >= ? AND timestamp < ? AND family = 'ipv6'\n"
                      "ORDER BY timestamp ASC;"};
constexpr const char* kFirstAndLastSample =
    "SELECT (SELECT MIN(timestamp) FROM network_samples WHERE timestamp BETWEEN ?1 AND ?2),\n"
    "       (SELECT MAX(timestamp) FROM network_samples WHERE timestamp BETWEEN ?1 AND ?2);";
constexpr const char* kSampleRowsBetween =
    "SELECT timestamp, target_kind, latency_ms, success, packet_loss, interface_name, family\nFROM network_samples\n"
    "WHERE timestamp BETWEEN ? AND ?\nORDER BY timestamp ASC;";
constexpr const char* kWifiBetween =
    PV_WIFI_COLUMNS "FROM wifi_snapshots\nWHERE timestamp BETWEEN ? AND ?\nORDER BY timestamp ASC;";
constexpr const char* kIncidentsBetween =
    PV_INCIDENT_COLUMNS "FROM incidents\n"
                        "WHERE start_timestamp BETWEEN ? AND ?\n"
                        "   OR (end_timestamp IS NOT NULL AND end_timestamp BETWEEN ? AND ?)\n"
                        "   OR (end_timestamp IS NOT NULL AND start_timestamp <= ? AND end_timestamp >= ?)\n"
                        "   OR (end_timestamp IS NULL AND start_timestamp <= ?)\n"
                        "ORDER BY start_timestamp ASC;";
constexpr const char* kEventsBetween =
    "SELECT id, timestamp, kind, details\nFROM events\nWHERE timestamp BETWEEN ? AND ?\nORDER BY timestamp ASC;";
constexpr const char* kMarkersBetween =
    "SELECT id, timestamp, action, note\nFROM markers\nWHERE timestamp BETWEEN ? AND ?\nORDER BY timestamp ASC;";

#undef PV_SAMPLE_COLUMNS
#undef PV_WIFI_COLUMNS
#undef PV_INCIDENT_COLUMNS

QByteArray idText(const QUuid& id) { return id.toByteArray(QUuid::WithoutBraces).toUpper(); }

// A stored id that is not UUID text maps to a name-based UUID of that text, so the same row reads
// back with the same id every time, and a record written back under that id (an incident that is
// closed later) always lands on one and the same row instead of a new one per read.
const QUuid kFallbackIdNamespace(QStringLiteral("{8B0E5C52-2F4A-4C71-9D0B-6A1F3E27C4D8}"));

// The canonical 36-character form (either case), parsed without the general parser's allocations;
// false for anything else.
bool parseCanonicalUuid(QByteArrayView text, QUuid& out)
{
    static constexpr int kDigitAt[32] = {0,  1,  2,  3,  4,  5,  6,  7,  9,  10, 11, 12, 14, 15, 16, 17,
                                         19, 20, 21, 22, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35};
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return false;
    static constexpr auto kHex = [] {
        std::array<std::int8_t, 256> table{};
        table.fill(-1);
        for (int c = 0; c < 10; ++c)
            table['0' + c] = static_cast<std::int8_t>(c);
        for (int c = 0; c < 6; ++c) {
            table['A' + c] = static_cast<std::int8_t>(10 + c);
            table['a' + c] = static_cast<std::int8_t>(10 + c);
        }
        return table;
    }();
    std::array<std::uint8_t, 16> bytes{};
    int invalid = 0;
    for (int i = 0; i < 16; ++i) {
        const int high = kHex[static_cast<std::uint8_t>(text[kDigitAt[2 * i]])];
        const int low = kHex[static_cast<std::uint8_t>(text[kDigitAt[2 * i + 1]])];
        invalid |= high | low;
        bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(high << 4 | low);
    }
    if (invalid < 0)
        return false;
    out = QUuid(static_cast<uint>(bytes[0]) << 24 | static_cast<uint>(bytes[1]) << 16 | static_cast<uint>(bytes[2]) << 8 | bytes[3],
                static_cast<ushort>(bytes[4] << 8 | bytes[5]), static_cast<ushort>(bytes[6] << 8 | bytes[7]), bytes[8],
                bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return true;
}

QUuid readId(const Statement& row, int col)
{
    const QByteArrayView bytes = row.columnBytes(col);
    QUuid parsed;
    if (parseCanonicalUuid(bytes, parsed))
        return parsed;
    if (bytes.size() == 36) {
        const QUuid id = QUuid::fromString(QLatin1StringView(bytes.data(), bytes.size()));
        if (!id.isNull() || bytes == QByteArrayView("00000000-0000-0000-0000-000000000000"))
            return id;
    }
    return QUuid::createUuidV5(kFallbackIdNamespace, bytes.toByteArray());
}

// Stored probe kinds are compared as bytes: a long read must not make a string per row to do it.
std::optional<ProbeKind> probeKindFromBytes(QByteArrayView bytes)
{
    for (const auto& [kind, raw] : kProbeKindTable.entries)
        if (bytes == QByteArrayView(raw.data(), static_cast<qsizetype>(raw.size())))
            return kind;
    return std::nullopt;
}

// The stored family text; anything but "ipv6" is IPv4: NULL (see the schema), and every row
// written before families were.
AddressFamily familyFromBytes(QByteArrayView bytes)
{
    return bytes == QByteArrayView("ipv6") ? AddressFamily::ipv6 : AddressFamily::ipv4;
}

// Sample rows repeat a handful of targets and one route for thousands of rows: sharing the text
// already made for an earlier row saves the allocations of each row's strings on long reads.
class SharedTexts {
public:
    QString read(const Statement& row, int col)
    {
        const QByteArrayView bytes = row.columnBytes(col);
        if (valid_ && bytes == QByteArrayView(bytes_))
            return text_;
        bytes_ = bytes.toByteArray();
        text_ = QString::fromUtf8(bytes);
        valid_ = true;
        return text_;
    }

private:
    bool valid_ = false;
    QByteArray bytes_;
    QString text_;
};

class SharedTargets {
public:
    // The target of columns kind, label and host; an unknown kind reads as publicIP.
    const ProbeTarget& read(const Statement& row, int kindCol, int labelCol, int hostCol)
    {
        const QByteArrayView kind = row.columnBytes(kindCol);
        const QByteArrayView label = row.columnBytes(labelCol);
        const QByteArrayView host = row.columnBytes(hostCol);
        for (const Entry& e : entries_)
            if (kind == QByteArrayView(e.kind) && label == QByteArrayView(e.label) && host == QByteArrayView(e.host))
                return e.target;
        if (entries_.size() == kCapacity)
            entries_.erase(entries_.begin());
        entries_.push_back({kind.toByteArray(), label.toByteArray(), host.toByteArray(),
                            ProbeTarget(probeKindFromBytes(kind).value_or(ProbeKind::publicIP), QString::fromUtf8(label),
                                        QString::fromUtf8(host))});
        return entries_.back().target;
    }

private:
    static constexpr std::size_t kCapacity = 16;
    struct Entry {
        QByteArray kind, label, host;
        ProbeTarget target;
    };
    std::vector<Entry> entries_;
};

// Ends a row reader: only completion means every row was read.
void requireDone(const Statement& statement, int rc)
{
    if (rc != SQLITE_DONE)
        throw lastError(statement.db());
}

// Steps through every row, mapping each to a record; a read that breaks off throws and keeps nothing.
template <typename Map> auto readRows(Statement& row, Map map, std::size_t expectedRows = 0)
{
    std::vector<std::invoke_result_t<Map&, const Statement&>> out;
    out.reserve(expectedRows);
    int rc;
    while ((rc = row.step()) == SQLITE_ROW)
        out.push_back(map(row));
    requireDone(row, rc);
    return out;
}

std::vector<NetworkSample> readSamples(Statement& statement, std::size_t expectedRows = 0)
{
    SharedTargets targets;
    std::array<SharedTexts, 3> routeTexts;
    return readRows(
        statement,
        [&](const Statement& row) {
        NetworkSample s;
        s.id = readId(row, 0);
        s.batchID = readId(row, 1);
        s.timestamp = row.columnDouble(2);
        s.target = targets.read(row, 3, 4, 5);
        s.route.timestamp = s.timestamp;
        s.route.interfaceName = routeTexts[0].read(row, 6);
        s.route.localAddress = routeTexts[1].read(row, 7);
        s.route.gatewayAddress = routeTexts[2].read(row, 8);
        s.latencyMilliseconds = row.columnOptDouble(9);
        s.success = row.columnInt64(10) == 1;
        s.timeoutCount = row.columnInt(11);
        s.packetLoss = row.columnOptDouble(12);
        s.errorDescription = row.columnOptText(13);
        s.family = familyFromBytes(row.columnBytes(14));
        return s;
        },
        expectedRows);
}

WifiSnapshot wifiSnapshotOf(const Statement& row)
{
    WifiSnapshot w;
    w.id = readId(row, 0);
    w.timestamp = row.columnDouble(1);
    w.interfaceName = row.columnText(2);
    w.localAddress = row.columnText(3);
    w.gatewayAddress = row.columnText(4);
    w.ssid = row.columnOptText(5);
    w.bssid = row.columnOptText(6);
    w.channel = row.columnOptInt(7);
    w.band = row.columnOptText(8);
    w.rssi = row.columnOptInt(9);
    w.noise = row.columnOptInt(10);
    w.txRateMbps = row.columnOptDouble(11);
    w.phyMode = row.columnOptText(12);
    w.interfaceUp = row.columnInt64(13) == 1;
    return w;
}

std::vector<WifiSnapshot> readWifiSnapshots(Statement& statement) { return readRows(statement, wifiSnapshotOf); }

IncidentSeverity severityFromStored(const QString& text)
{
    if (text == QLatin1String("info"))
        return IncidentSeverity::info;
    if (text == QLatin1String("critical"))
        return IncidentSeverity::critical;
    return IncidentSeverity::warning;
}

std::vector<Incident> readIncidents(Statement& statement)
{
    return readRows(statement, [](const Statement& row) {
        Incident i;
        i.id = readId(row, 0);
        i.startTimestamp = row.columnDouble(1);
        i.endTimestamp = row.columnOptDouble(2);
        i.classification = parseIncidentClassification(row.columnText(3)).value_or(IncidentClassification::unknown);
        i.severity = severityFromStored(row.columnText(4));
        i.confidence = row.columnDouble(5);
        i.evidenceSummary = row.columnText(6);
        i.outage = row.columnInt(7) != 0;
        return i;
    });
}

std::vector<DiagnosticEvent> readEvents(Statement& statement)
{
    return readRows(statement, [](const Statement& row) {
        DiagnosticEvent e;
        e.id = readId(row, 0);
        e.timestamp = row.columnDouble(1);
        e.kind = parseDiagnosticEventKind(row.columnText(2)).value_or(DiagnosticEventKind::pathChanged);
        e.details = row.columnText(3);
        return e;
    });
}

std::vector<ManualMarker> readMarkers(Statement& statement)
{
    return readRows(statement, [](const Statement& row) {
        return ManualMarker{readId(row, 0), row.columnDouble(1), row.columnText(2), row.columnText(3)};
    });
}

template <typename Reader> auto readLimited(sqlite3* db, const char* sql, int limit, Reader reader)
{
    Statement statement(db, sql);
    statement.bindAll(limit);
    return reader(statement);
}

template <typename Reader> auto readBetween(sqlite3* db, const char* sql, Timestamp from, Timestamp to, Reader reader)
{
    Statement statement(db, sql);
    statement.bindAll(from, to);
    return reader(statement);
}

// The one time a query answers: none for no row or a NULL.
std::optional<Timestamp> singleTime(sqlite3* db, Statement& statement)
{
    const int rc = statement.step();
    if (rc == SQLITE_DONE)
        return std::nullopt;
    if (rc != SQLITE_ROW)
        throw lastError(db);
    return statement.columnOptDouble(0);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Writers

void bindSample(Statement& statement, const NetworkSample& s)
{
    statement.bindAll(idText(s.id), idText(s.batchID), s.timestamp, rawValue(s.target.kind), s.target.label,
                      s.target.host, s.route.interfaceName, s.route.localAddress, s.route.gatewayAddress,
                      s.latencyMilliseconds, s.success, s.timeoutCount, s.packetLoss, s.errorDescription,
                      s.family == AddressFamily::ipv6 ? std::optional<QString>(rawValue(s.family)) : std::nullopt);
}

void StoreDatabase::insertSamples(const ProbeBatch& batch)
{
    // A batch is written whole or not at all, with one commit (one WAL sync) and one prepared
    // statement: a commit per sample made the store's thread the program's busiest while hidden. A
    // batch that fails stays with the caller, who writes it again; each sample replaces itself by id.
    // A savepoint, so that a writer already inside a transaction of its own may call this too.
    if (batch.samples.empty())
        return;
    exec("SAVEPOINT insert_samples;");
    try {
        Statement statement(db_, kInsertSampleStatement);
        for (const NetworkSample& s : batch.samples) {
            statement.reset();
            bindSample(statement, s);
            statement.run();
        }
        exec("RELEASE insert_samples;");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK TO insert_samples; RELEASE insert_samples;", nullptr, nullptr, nullptr);
        throw;
    }
}

void StoreDatabase::insertWifiSnapshot(const WifiSnapshot& w)
{
    Statement statement(db_, kInsertWifi);
    statement.bindAll(idText(w.id), w.timestamp, w.interfaceName, w.localAddress, w.gatewayAddress, w.ssid, w.bssid,
                      w.channel, w.band, w.rssi, w.noise, w.txRateMbps, w.phyMode, w.interfaceUp);
    statement.run();
}

void StoreDatabase::insertEvent(const DiagnosticEvent& e)
{
    Statement statement(db_, kInsertEvent);
    statement.bindAll(idText(e.id), e.timestamp, rawValue(e.kind), e.details);
    statement.run();
}

void StoreDatabase::insertMarker(const ManualMarker& m)
{
    Statement statement(db_, kInsertMarker);
    statement.bindAll(idText(m.id), m.timestamp, m.action, m.note);
    statement.run();
}

void StoreDatabase::upsertIncident(const Incident& i)
{
    if (i.endTimestamp && *i.endTimestamp <= i.startTimestamp) {
        // An incident that ends where it began had no length: it is no incident, and the row it
        // may have been saved under while open goes.
        Statement statement(db_, kDeleteIncident);
        statement.bindAll(idText(i.id));
        statement.run();
        return;
    }
    Statement statement(db_, kUpsertIncident);
    statement.bindAll(idText(i.id), i.startTimestamp, i.endTimestamp, rawValue(i.classification), rawValue(i.severity),
                      i.confidence, i.evidenceSummary, i.outage ? 1 : 0);
    statement.run();
}

void StoreDatabase::insertLoadTest(const LoadTestResult& r)
{
    const StoredLoadTest t = StoredLoadTest::of(r);
    Statement statement(db_, kInsertLoadTest);
    statement.bindAll(idText(newRecordId()), t.startedAt, t.downloadMbps, t.uploadMbps, t.idleP50, t.loadedDownP95,
                      t.loadedUpP95, t.latencyIncreaseMilliseconds, rawValue(t.grade));
    statement.run();
}

void StoreDatabase::saveBaseline(const QualityBaseline& baseline)
{
    const QByteArray payload = baseline.encode();
    QStringDecoder utf8(QStringDecoder::Utf8);
    [[maybe_unused]] const QString decoded = utf8(payload);
    if (utf8.hasError())
        throw StoreError(StoreError::baselineNotUtf8, QStringLiteral("Failed to encode the quality baseline payload."));
    Statement statement(db_, kSaveBaseline);
    statement.bindAll(baseline.savedAt, payload);
    statement.run();
}

void StoreDatabase::deleteBaseline() { exec("DELETE FROM quality_baseline WHERE id = 1;"); }

// ---------------------------------------------------------------------------------------------
// Single-value reads: a row is the answer, completion means none, anything else is an error
// (a busy or damaged database must never read as "nothing stored").

std::optional<QualityBaseline> StoreDatabase::loadBaseline()
{
    QByteArray payload;
    {
        Statement statement(db_, kLoadBaseline);
        const int rc = statement.step();
        if (rc == SQLITE_DONE)
            return std::nullopt;
        if (rc != SQLITE_ROW)
            throw lastError(db_);
        payload = statement.columnBytes(0).toByteArray();
    }
    return QualityBaseline::decode(payload);
}

std::optional<StoredLoadTest> StoreDatabase::latestLoadTest()
{
    Statement statement(db_, kLatestLoadTest);
    const int rc = statement.step();
    if (rc == SQLITE_DONE)
        return std::nullopt;
    if (rc != SQLITE_ROW)
        throw lastError(db_);
    StoredLoadTest t;
    t.startedAt = statement.columnDouble(0);
    t.downloadMbps = statement.columnDouble(1);
    t.uploadMbps = statement.columnDouble(2);
    t.idleP50 = statement.columnOptDouble(3);
    t.loadedDownP95 = statement.columnOptDouble(4);
    t.loadedUpP95 = statement.columnOptDouble(5);
    t.latencyIncreaseMilliseconds = statement.columnOptDouble(6);
    t.grade = parseBufferbloatGrade(QString::fromUtf8(statement.columnBytes(7).toByteArray()))
                  .value_or(BufferbloatGrade::excellent);
    return t;
}

std::optional<Timestamp> StoreDatabase::lastSessionBoundary()
{
    Statement statement(db_, kLastSessionBoundary);
    statement.bindAll(rawValue(DiagnosticEventKind::wifiNodeChanged), rawValue(DiagnosticEventKind::qualitySessionReset));
    return singleTime(db_, statement);
}

std::optional<Timestamp> StoreDatabase::earliestTimestamp()
{
    Statement statement(db_, kEarliestTimestamp);
    return singleTime(db_, statement);
}

std::optional<Timestamp> StoreDatabase::earliestMeasurement()
{
    Statement statement(db_, kEarliestMeasurement);
    return singleTime(db_, statement);
}

AddressFamily StoreDatabase::analysedFamily(Timestamp from, Timestamp to, double bucketSeconds)
{
    const auto holds = [&](AddressFamily family) {
        const bool ipv6 = family == AddressFamily::ipv6;
        for (const ProbeKind kind : {ProbeKind::gateway, ProbeKind::publicIP, ProbeKind::dns, ProbeKind::http}) {
            Statement statement(db_, kKindHoldsFamily[ipv6 ? 1 : 0]);
            statement.bindAll(rawValue(kind), from, to);
            if (statement.step() != SQLITE_ROW)
                throw lastError(db_);
            if (statement.columnInt(0) != 0)
                return true;
        }
        Statement statement(db_, kRollupsHoldFamily);
        statement.bindAll(bucketSeconds, from, to, rawValue(family));
        if (statement.step() != SQLITE_ROW)
            throw lastError(db_);
        return statement.columnInt(0) != 0;
    };
    return !holds(AddressFamily::ipv4) && holds(AddressFamily::ipv6) ? AddressFamily::ipv6 : AddressFamily::ipv4;
}

std::vector<SampleRollup> StoreDatabase::rollups(double bucketSeconds, Timestamp from, Timestamp to)
{
    Statement statement(db_, kRollups);
    statement.bindAll(bucketSeconds, from, to);
    std::vector<SampleRollup> out;
    int rc;
    while ((rc = statement.step()) == SQLITE_ROW) {
        const auto kind = probeKindFromBytes(statement.columnBytes(2));
        if (!kind)
            continue;
        SampleRollup r;
        r.bucketStart = statement.columnDouble(0);
        r.bucketSeconds = statement.columnDouble(1);
        r.targetKind = *kind;
        r.sampleCount = static_cast<int>(statement.columnInt64(3));
        r.successCount = static_cast<int>(statement.columnInt64(4));
        r.p50Milliseconds = statement.columnOptDouble(5);
        r.p95Milliseconds = statement.columnOptDouble(6);
        r.maxMilliseconds = statement.columnOptDouble(7);
        r.lossRatio = statement.columnOptDouble(8);
        r.firstSampleTimestamp = statement.columnOptDouble(9);
        r.lastSampleTimestamp = statement.columnOptDouble(10);
        r.family = familyFromBytes(statement.columnBytes(11));
        out.push_back(r);
    }
    requireDone(statement, rc);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Period and recent reads

std::vector<NetworkSample> StoreDatabase::recentSamples(int limit)
{
    return readLimited(db_, kRecentSamples, limit, [](Statement& s) { return readSamples(s); });
}
std::vector<WifiSnapshot> StoreDatabase::recentWifiSnapshots(int limit) { return readLimited(db_, kRecentWifi, limit, readWifiSnapshots); }
std::vector<Incident> StoreDatabase::recentIncidents(int limit) { return readLimited(db_, kRecentIncidents, limit, readIncidents); }
std::vector<DiagnosticEvent> StoreDatabase::recentEvents(int limit) { return readLimited(db_, kRecentEvents, limit, readEvents); }
std::vector<ManualMarker> StoreDatabase::recentMarkers(int limit) { return readLimited(db_, kRecentMarkers, limit, readMarkers); }

// A day is some 80 000 rows: its parts are read at once (see forEachSamplePart) and joined in order.
std::vector<NetworkSample> StoreDatabase::samples(Timestamp from, Timestamp to, std::optional<AddressFamily> family)
{
    std::vector<std::vector<NetworkSample>> parts(SQLiteStore::periodReadParts());
    const std::size_t f = family == AddressFamily::ipv6 ? 1 : 0;
    forEachSamplePart(from, to, parts.size(), [&](std::size_t i, sqlite3* db, bool last, Timestamp a, Timestamp b) {
        Statement statement(db, !family ? (last ? kSamplesBetween : kSamplesInPart)
                                        : (last ? kFamilySamplesBetween[f] : kFamilySamplesInPart[f]));
        statement.bindAll(a, b);
        parts[i] = readSamples(statement);
    });
    std::size_t total = 0;
    for (const auto& part : parts)
        total += part.size();
    std::vector<NetworkSample> out;
    out.reserve(total);
    for (auto& part : parts)
        std::move(part.begin(), part.end(), std::back_inserter(out));
    return out;
}
namespace {

// Steps the points of one kind and family in one part into its visitor; how many there were.
std::int64_t visitKindInPart(sqlite3* db, bool last, ProbeKind kind, AddressFamily family, Timestamp from, Timestamp to,
                             const std::function<void(const SamplePoint&)>& visit)
{
    const std::size_t f = family == AddressFamily::ipv6 ? 1 : 0;
    Statement statement(db, last ? kKindPointsInLastPart[f] : kKindPointsInPart[f]);
    statement.bindAll(rawValue(kind), from, to);
    SamplePoint point;
    point.kind = kind;
    point.family = family;
    std::int64_t visited = 0;
    int rc;
    while ((rc = statement.step()) == SQLITE_ROW) {
        point.timestamp = statement.columnDouble(0);
        point.latencyMilliseconds = statement.columnOptDouble(1);
        point.success = statement.columnInt64(2) == 1;
        visit(point);
        ++visited;
    }
    requireDone(statement, rc);
    return visited;
}

std::int64_t countKindInPart(sqlite3* db, bool last, const QByteArray& kind, Timestamp from, Timestamp to)
{
    Statement statement(db, last ? kKindCountInLastPart : kKindCountInPart);
    statement.bindAll(kind, from, to);
    const int rc = statement.step();
    if (rc != SQLITE_ROW)
        throw lastError(db);
    return statement.columnInt64(0);
}

// Every kind text stored, each found by one step along the kind index rather than a pass over the rows.
std::vector<QByteArray> storedKinds(sqlite3* db)
{
    std::vector<QByteArray> kinds;
    std::optional<QByteArray> next;
    {
        Statement first(db, kFirstKind);
        if (first.step() == SQLITE_ROW && !first.isNull(0))
            next = first.columnBytes(0).toByteArray();
    }
    while (next) {
        kinds.push_back(*next);
        Statement following(db, kNextKind);
        following.bindAll(*next);
        const int rc = following.step();
        if (rc == SQLITE_ROW)
            next = following.columnBytes(0).toByteArray();
        else if (rc == SQLITE_DONE)
            next.reset();
        else
            throw lastError(db);
    }
    return kinds;
}

// A read-only connection of its own to the store's file, for one part read on another thread.
struct ReadConnection {
    sqlite3* db = nullptr;
    explicit ReadConnection(const char* path)
    {
        if (sqlite3_open_v2(path, &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
            sqlite3_close_v2(db);
            throw StoreError(StoreError::openFailed, QStringLiteral("Failed to open SQLite database."));
        }
        sqlite3_busy_timeout(db, kBusyTimeoutMilliseconds);
    }
    ~ReadConnection() { sqlite3_close_v2(db); }
    ReadConnection(const ReadConnection&) = delete;
    ReadConnection& operator=(const ReadConnection&) = delete;
};

} // namespace

SampleVisit StoreDatabase::visitSamples(Timestamp from, Timestamp to, const std::vector<ProbeKind>& kinds,
                                       const std::vector<std::function<void(const SamplePoint&)>>& visitors)
{
    // The other kinds are only counted, kind by kind along the same index, which passes over far
    // fewer entries than counting every row of the period would.
    std::vector<QByteArray> counted = storedKinds(db_);
    for (ProbeKind kind : kinds)
        counted.erase(std::remove(counted.begin(), counted.end(), rawValue(kind).toUtf8()), counted.end());
    std::vector<SampleVisit> parts(visitors.size());
    forEachSamplePart(from, to, visitors.size(), [&](std::size_t i, sqlite3* db, bool last, Timestamp a, Timestamp b) {
        for (ProbeKind kind : kinds)
            for (AddressFamily family : {AddressFamily::ipv4, AddressFamily::ipv6})
                parts[i].visited += visitKindInPart(db, last, kind, family, a, b, visitors[i]);
        parts[i].total = parts[i].visited;
        for (const QByteArray& kind : counted)
            parts[i].total += countKindInPart(db, last, kind, a, b);
    });
    SampleVisit sum;
    for (const SampleVisit& part : parts) {
        sum.visited += part.visited;
        sum.total += part.total;
    }
    return sum;
}

void StoreDatabase::forEachSamplePart(Timestamp from, Timestamp to, std::size_t parts,
                                      const std::function<void(std::size_t, sqlite3*, bool, Timestamp, Timestamp)>& read)
{
    if (parts == 0)
        return;
    // The period's parts: equal stretches of the time that holds rows, so that each reads about as
    // many rows, and at least an hour each (some 3 600 rows), since a short read is over before a
    // connection of its own would be open. The first part begins at `from` and the last ends at
    // `to`, so that together they are exactly [from, to]; rows of one time always fall into one part.
    constexpr double kShortestPart = 3600;
    std::size_t used = 1;
    std::vector<Timestamp> bounds{from};
    if (parts > 1) {
        Statement span(db_, kFirstAndLastSample);
        span.bindAll(from, to);
        if (span.step() == SQLITE_ROW) {
            const std::optional<double> first = span.columnOptDouble(0);
            const std::optional<double> last = span.columnOptDouble(1);
            if (first && last) {
                used = std::clamp<std::size_t>(static_cast<std::size_t>((*last - *first) / kShortestPart), 1, parts);
                for (std::size_t i = 1; i < used; ++i)
                    bounds.push_back(*first + (*last - *first) * static_cast<double>(i) / static_cast<double>(used));
            }
        }
    }
    bounds.push_back(to);

    // A file is read by one connection per part at once; nothing writes meanwhile, since the store
    // does one thing at a time and this read is that thing, so every part sees the same rows. A
    // database in memory has only this connection.
    const char* file = sqlite3_db_filename(db_, "main");
    if (used == 1 || !file || !*file) {
        for (std::size_t i = 0; i < used; ++i)
            read(i, db_, i + 1 == used, bounds[i], bounds[i + 1]);
        return;
    }
    std::vector<std::exception_ptr> failures(used);
    std::vector<std::thread> threads;
    threads.reserve(used - 1);
    for (std::size_t i = 1; i < used; ++i)
        threads.emplace_back([&, i] {
            try {
                ReadConnection connection(file);
                read(i, connection.db, i + 1 == used, bounds[i], bounds[i + 1]);
            } catch (...) {
                failures[i] = std::current_exception();
            }
        });
    try {
        read(0, db_, false, bounds[0], bounds[1]);
    } catch (...) {
        failures[0] = std::current_exception();
    }
    for (std::thread& t : threads)
        t.join();
    for (const std::exception_ptr& failure : failures)
        if (failure)
            std::rethrow_exception(failure);
}
std::vector<WifiSnapshot> StoreDatabase::wifiSnapshots(Timestamp from, Timestamp to)
{
    return readBetween(db_, kWifiBetween, from, to, readWifiSnapshots);
}
// One thread steps the statement into chunks of rows while the calling one hands them to the visitor:
// the read and what the visitor does with the rows overlap, and only a few chunks are ever held. The
// connection is used by the reading thread alone meanwhile.
void StoreDatabase::visitPeriodSamples(Timestamp from, Timestamp to, const std::function<void(const SampleRow&)>& visit)
{
    struct Row {
        Timestamp timestamp;
        double latency;
        double loss;
        std::uint32_t name; // index into the chunk's interface names
        ProbeKind kind;
        AddressFamily family;
        bool hasLatency, hasLoss, success;
    };
    struct Chunk {
        std::vector<Row> rows;
        std::vector<QByteArray> names;
    };
    constexpr std::size_t kChunkRows = 16384;
    constexpr std::size_t kChunksAhead = 4;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Chunk> ready;
    bool readerDone = false;
    bool stop = false;
    std::exception_ptr failure;

    std::thread reader([&] {
        try {
            Statement statement(db_, kSampleRowsBetween);
            statement.bindAll(from, to);
            Chunk chunk;
            // False when the visitor failed and nothing more is wanted.
            const auto handOver = [&] {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return ready.size() < kChunksAhead || stop; });
                if (stop)
                    return false;
                ready.push_back(std::move(chunk));
                changed.notify_all();
                chunk = {};
                return true;
            };
            QByteArray kindText;
            ProbeKind kind = ProbeKind::publicIP;
            int rc;
            while ((rc = statement.step()) == SQLITE_ROW) {
                // Rows come in long runs of few kinds and interfaces: each text is taken only when it
                // changes. An unknown kind reads as a public host, as in the full read.
                const QByteArrayView kindBytes = statement.columnBytes(1);
                if (kindBytes != QByteArrayView(kindText)) {
                    kindText = kindBytes.toByteArray();
                    kind = probeKindFromBytes(kindBytes).value_or(ProbeKind::publicIP);
                }
                const QByteArrayView name = statement.columnBytes(5);
                if (chunk.names.empty() || QByteArrayView(chunk.names.back()) != name)
                    chunk.names.push_back(name.toByteArray());
                const std::optional<double> latency = statement.columnOptDouble(2);
                const std::optional<double> loss = statement.columnOptDouble(4);
                chunk.rows.push_back({statement.columnDouble(0), latency.value_or(0), loss.value_or(0),
                                      static_cast<std::uint32_t>(chunk.names.size() - 1), kind,
                                      familyFromBytes(statement.columnBytes(6)), latency.has_value(), loss.has_value(),
                                      statement.columnInt64(3) == 1});
                if (chunk.rows.size() == kChunkRows && !handOver())
                    return;
            }
            requireDone(statement, rc);
            if (!chunk.rows.empty() && !handOver())
                return;
        } catch (...) {
            const std::lock_guard lock(mutex);
            failure = std::current_exception();
        }
        const std::lock_guard lock(mutex);
        readerDone = true;
        changed.notify_all();
    });

    try {
        SampleRow row;
        for (;;) {
            Chunk chunk;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return !ready.empty() || readerDone; });
                if (ready.empty())
                    break;
                chunk = std::move(ready.front());
                ready.pop_front();
                changed.notify_all();
            }
            for (const Row& r : chunk.rows) {
                row.timestamp = r.timestamp;
                row.kind = r.kind;
                row.family = r.family;
                row.latencyMilliseconds = r.hasLatency ? std::optional<double>(r.latency) : std::nullopt;
                row.success = r.success;
                row.packetLoss = r.hasLoss ? std::optional<double>(r.loss) : std::nullopt;
                row.interfaceName = chunk.names[r.name];
                visit(row);
            }
        }
    } catch (...) {
        {
            const std::lock_guard lock(mutex);
            stop = true;
            changed.notify_all();
        }
        reader.join();
        throw;
    }
    reader.join();
    if (failure)
        std::rethrow_exception(failure);
}

void StoreDatabase::visitWifiSnapshots(Timestamp from, Timestamp to, const std::function<void(const WifiSnapshot&)>& visit)
{
    Statement statement(db_, kWifiBetween);
    statement.bindAll(from, to);
    // Readings repeat the same texts for hours: a text is decoded only when its bytes change, and the
    // ids (which nobody folding a period reads) stay null.
    struct CachedText {
        QByteArray bytes;
        bool isNull = true;
        bool update(const Statement& row, int col, std::optional<QString>& into)
        {
            const bool null = row.isNull(col);
            const QByteArrayView now = null ? QByteArrayView() : row.columnBytes(col);
            if (null == isNull && (null || now == QByteArrayView(bytes)))
                return false;
            isNull = null;
            bytes = now.toByteArray();
            into = null ? std::nullopt : std::optional<QString>(QString::fromUtf8(bytes));
            return true;
        }
    };
    std::array<CachedText, 7> texts;
    std::optional<QString> interfaceName, localAddress, gatewayAddress;
    WifiSnapshot w;
    int rc;
    while ((rc = statement.step()) == SQLITE_ROW) {
        w.timestamp = statement.columnDouble(1);
        if (texts[0].update(statement, 2, interfaceName))
            w.interfaceName = interfaceName.value_or(QString());
        if (texts[1].update(statement, 3, localAddress))
            w.localAddress = localAddress.value_or(QString());
        if (texts[2].update(statement, 4, gatewayAddress))
            w.gatewayAddress = gatewayAddress.value_or(QString());
        texts[3].update(statement, 5, w.ssid);
        texts[4].update(statement, 6, w.bssid);
        w.channel = statement.columnOptInt(7);
        texts[5].update(statement, 8, w.band);
        w.rssi = statement.columnOptInt(9);
        w.noise = statement.columnOptInt(10);
        w.txRateMbps = statement.columnOptDouble(11);
        texts[6].update(statement, 12, w.phyMode);
        w.interfaceUp = statement.columnInt64(13) == 1;
        visit(w);
    }
    requireDone(statement, rc);
}

std::vector<DiagnosticEvent> StoreDatabase::events(Timestamp from, Timestamp to)
{
    return readBetween(db_, kEventsBetween, from, to, readEvents);
}
std::vector<ManualMarker> StoreDatabase::markers(Timestamp from, Timestamp to)
{
    return readBetween(db_, kMarkersBetween, from, to, readMarkers);
}

std::vector<Incident> StoreDatabase::incidents(Timestamp from, Timestamp to)
{
    Statement statement(db_, kIncidentsBetween);
    statement.bindAll(from, to, from, to, from, to, to);
    return readIncidents(statement);
}

} // namespace pv::store
