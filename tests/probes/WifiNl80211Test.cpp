// nl80211 parsing, fed with messages built here the way the kernel builds them.

#include "core/probes/Nl80211.h"
#include "core/probes/WifiSnapshotProvider.h"

#include <netlink/attr.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>

#include <gtest/gtest.h>

#include <linux/nl80211.h>

#include <initializer_list>

using namespace pv;
using namespace pv::nl80211;

namespace {

constexpr int kFamily = 0x1c; // any generic netlink family id; the parser does not look at it
const QByteArray kApMac = QByteArray::fromHex("c8d7190a0b0c");

class Msg {
public:
    explicit Msg(std::uint8_t command) : m_(nlmsg_alloc())
    {
        EXPECT_NE(genlmsg_put(m_, NL_AUTO_PORT, NL_AUTO_SEQ, kFamily, 0, NLM_F_MULTI, command, 0), nullptr);
    }
    ~Msg() { nlmsg_free(m_); }
    Msg(const Msg&) = delete;
    Msg& operator=(const Msg&) = delete;
    nl_msg* get() const { return m_; }

    Msg& u32(int type, std::uint32_t v) { EXPECT_EQ(nla_put_u32(m_, type, v), 0); return *this; }
    Msg& u16(int type, std::uint16_t v) { EXPECT_EQ(nla_put_u16(m_, type, v), 0); return *this; }
    Msg& u8(int type, std::uint8_t v) { EXPECT_EQ(nla_put_u8(m_, type, v), 0); return *this; }
    Msg& s8(int type, int v) { return u8(type, static_cast<std::uint8_t>(static_cast<std::int8_t>(v))); }
    Msg& flag(int type) { EXPECT_EQ(nla_put_flag(m_, type), 0); return *this; }
    Msg& str(int type, const char* v) { EXPECT_EQ(nla_put_string(m_, type, v), 0); return *this; }
    Msg& bytes(int type, const QByteArray& v) { EXPECT_EQ(nla_put(m_, type, v.size(), v.constData()), 0); return *this; }
    Msg& open(int type) { nests_.push_back(nla_nest_start(m_, type)); return *this; }
    Msg& close() { nla_nest_end(m_, nests_.back()); nests_.pop_back(); return *this; }

private:
    nl_msg* m_;
    std::vector<nlattr*> nests_;
};

Msg& stationInterface(Msg& m, const char* name, std::optional<const char*> ssid, std::optional<std::uint32_t> freq)
{
    m.u32(NL80211_ATTR_IFINDEX, 3).str(NL80211_ATTR_IFNAME, name).u32(NL80211_ATTR_IFTYPE, NL80211_IFTYPE_STATION)
        .u32(NL80211_ATTR_WIPHY, 0);
    if (ssid)
        m.bytes(NL80211_ATTR_SSID, QByteArray(*ssid));
    if (freq)
        m.u32(NL80211_ATTR_WIPHY_FREQ, *freq);
    return m;
}

// A station entry of the access point with signal and a transmit rate; rate attributes are added by fill.
template <typename Fill> StationInfo station(int signal, Fill fill)
{
    Msg m(NL80211_CMD_NEW_STATION);
    m.u32(NL80211_ATTR_IFINDEX, 3).bytes(NL80211_ATTR_MAC, kApMac);
    m.open(NL80211_ATTR_STA_INFO).s8(NL80211_STA_INFO_SIGNAL, signal).open(NL80211_STA_INFO_TX_BITRATE);
    fill(m);
    m.close().close();
    auto s = parseStation(m.get());
    EXPECT_TRUE(s);
    return s.value_or(StationInfo{});
}

WifiSnapshot snapshotOf(const char* ssid, std::uint32_t freq, const StationInfo& ap, std::optional<int> noise)
{
    Msg i(NL80211_CMD_NEW_INTERFACE);
    stationInterface(i, "wlan0", ssid, freq);
    wifi::WifiReading r;
    r.interface = *parseInterface(i.get());
    r.bssid = ap.mac;
    r.station = ap;
    r.noiseDbm = noise;
    r.interfaceUp = true;
    return wifi::makeSnapshot(r, RouteSnapshot{1.0, "wlan0", "192.168.1.20", "192.168.1.1"}, 100.0);
}

} // namespace

TEST(Nl80211Parse, FiveGigahertzChannel36WithVhtRate)
{
    const StationInfo ap = station(-52, [](Msg& m) {
        m.u32(NL80211_RATE_INFO_BITRATE32, 8667).u16(NL80211_RATE_INFO_BITRATE, 8667).u8(NL80211_RATE_INFO_VHT_MCS, 9)
            .u8(NL80211_RATE_INFO_VHT_NSS, 2).flag(NL80211_RATE_INFO_80_MHZ_WIDTH).flag(NL80211_RATE_INFO_SHORT_GI);
    });
    EXPECT_EQ(ap.mac, kApMac);
    EXPECT_EQ(ap.signalDbm, -52);
    ASSERT_TRUE(ap.txRate);
    EXPECT_EQ(ap.txRate->mode, RateMode::vht);

    const WifiSnapshot s = snapshotOf("Otthoni háló", 5180, ap, -92);
    EXPECT_EQ(s.interfaceName, QStringLiteral("wlan0"));
    EXPECT_EQ(s.localAddress, QStringLiteral("192.168.1.20"));
    EXPECT_EQ(s.gatewayAddress, QStringLiteral("192.168.1.1"));
    EXPECT_EQ(s.ssid, QStringLiteral("Otthoni háló"));
    EXPECT_EQ(s.bssid, QStringLiteral("c8:d7:19:0a:0b:0c"));
    EXPECT_EQ(s.channel, 36);
    EXPECT_EQ(s.band, QStringLiteral("5 GHz"));
    EXPECT_EQ(s.rssi, -52);
    EXPECT_EQ(s.noise, -92);
    EXPECT_EQ(s.snr(), 40);
    ASSERT_TRUE(s.txRateMbps);
    EXPECT_DOUBLE_EQ(*s.txRateMbps, 866.7);
    EXPECT_EQ(s.phyMode, QStringLiteral("802.11ac"));
    EXPECT_TRUE(s.interfaceUp);
    EXPECT_EQ(s.timestamp, 100.0);
    EXPECT_FALSE(s.id.isNull());
}

TEST(Nl80211Parse, TwoPointFourGigahertzLegacyRatesSplitIntoBAndG)
{
    // Old drivers report only the 16-bit rate: 110 × 100 kbit/s = 11 Mbit/s is still 802.11b.
    const StationInfo b = station(-61, [](Msg& m) { m.u16(NL80211_RATE_INFO_BITRATE, 110); });
    WifiSnapshot s = snapshotOf("cafe", 2437, b, std::nullopt);
    EXPECT_EQ(s.channel, 6);
    EXPECT_EQ(s.band, QStringLiteral("2.4 GHz"));
    EXPECT_EQ(s.txRateMbps, 11.0);
    EXPECT_EQ(s.phyMode, QStringLiteral("802.11b"));

    const StationInfo g = station(-61, [](Msg& m) { m.u32(NL80211_RATE_INFO_BITRATE32, 540); });
    s = snapshotOf("cafe", 2412, g, std::nullopt);
    EXPECT_EQ(s.channel, 1);
    EXPECT_EQ(s.txRateMbps, 54.0);
    EXPECT_EQ(s.phyMode, QStringLiteral("802.11g"));

    const StationInfo n = station(-61, [](Msg& m) { m.u32(NL80211_RATE_INFO_BITRATE32, 1444).u8(NL80211_RATE_INFO_MCS, 15); });
    EXPECT_EQ(snapshotOf("cafe", 2462, n, std::nullopt).phyMode, QStringLiteral("802.11n"));
}

TEST(Nl80211Parse, SixGigahertzWithHeRate)
{
    const StationInfo ap = station(-48, [](Msg& m) {
        m.u32(NL80211_RATE_INFO_BITRATE32, 24019).u8(NL80211_RATE_INFO_HE_MCS, 11).u8(NL80211_RATE_INFO_HE_NSS, 2)
            .flag(NL80211_RATE_INFO_160_MHZ_WIDTH);
    });
    const WifiSnapshot s = snapshotOf("hatos", 5975, ap, std::nullopt);
    EXPECT_EQ(s.channel, 5);
    EXPECT_EQ(s.band, QStringLiteral("6 GHz"));
    EXPECT_EQ(s.phyMode, QStringLiteral("802.11ax"));
    EXPECT_DOUBLE_EQ(*s.txRateMbps, 2401.9);

    // EHT (802.11be) has no PHY mode of its own: absent, while the rate stays.
    const StationInfo eht = station(-48, [](Msg& m) {
        m.u32(NL80211_RATE_INFO_BITRATE32, 57647).u8(NL80211_RATE_INFO_EHT_MCS, 13).u8(NL80211_RATE_INFO_HE_MCS, 11);
    });
    const WifiSnapshot e = snapshotOf("hetes", 6115, eht, std::nullopt);
    EXPECT_FALSE(e.phyMode);
    EXPECT_DOUBLE_EQ(*e.txRateMbps, 5764.7);
}

TEST(Nl80211Parse, ZeroReadingsAreAbsent)
{
    const StationInfo ap = station(0, [](Msg& m) { m.u32(NL80211_RATE_INFO_BITRATE32, 0); });
    EXPECT_FALSE(ap.signalDbm);
    ASSERT_TRUE(ap.txRate);
    EXPECT_FALSE(ap.txRate->mbps);

    Msg survey(NL80211_CMD_NEW_SURVEY_RESULTS);
    survey.u32(NL80211_ATTR_IFINDEX, 3).open(NL80211_ATTR_SURVEY_INFO).u32(NL80211_SURVEY_INFO_FREQUENCY, 2412)
        .s8(NL80211_SURVEY_INFO_NOISE, 0).flag(NL80211_SURVEY_INFO_IN_USE).close();
    auto sv = parseSurvey(survey.get());
    ASSERT_TRUE(sv);
    EXPECT_TRUE(sv->inUse);
    EXPECT_FALSE(sv->noiseDbm);

    const WifiSnapshot s = snapshotOf("x", 2412, ap, wifi::noiseInUse({*sv}));
    EXPECT_FALSE(s.rssi);
    EXPECT_FALSE(s.noise);
    EXPECT_FALSE(s.txRateMbps);
    EXPECT_FALSE(s.phyMode) << "a legacy 2.4 GHz rate without a value cannot tell b from g";
}

TEST(Nl80211Parse, NoiseComesOnlyFromTheSurveyEntryInUse)
{
    std::vector<SurveyInfo> entries;
    for (const auto& [freq, noise, inUse] : {std::tuple{5180u, -90, false}, std::tuple{5200u, -95, true}}) {
        Msg m(NL80211_CMD_NEW_SURVEY_RESULTS);
        m.u32(NL80211_ATTR_IFINDEX, 3).open(NL80211_ATTR_SURVEY_INFO).u32(NL80211_SURVEY_INFO_FREQUENCY, freq)
            .s8(NL80211_SURVEY_INFO_NOISE, noise);
        if (inUse)
            m.flag(NL80211_SURVEY_INFO_IN_USE);
        m.close();
        entries.push_back(*parseSurvey(m.get()));
    }
    EXPECT_EQ(wifi::noiseInUse(entries), -95);

    // The driver reports no noise for the channel in use (common): absent, not the neighbour's.
    Msg bare(NL80211_CMD_NEW_SURVEY_RESULTS);
    bare.u32(NL80211_ATTR_IFINDEX, 3).open(NL80211_ATTR_SURVEY_INFO).u32(NL80211_SURVEY_INFO_FREQUENCY, 5200)
        .flag(NL80211_SURVEY_INFO_IN_USE).close();
    entries.back() = *parseSurvey(bare.get());
    EXPECT_FALSE(wifi::noiseInUse(entries));
    EXPECT_FALSE(wifi::noiseInUse({}));
}

TEST(Nl80211Parse, NotAssociatedGivesNoNetworkNameOrAccessPoint)
{
    Msg i(NL80211_CMD_NEW_INTERFACE);
    stationInterface(i, "wlan0", std::nullopt, std::nullopt);
    auto iface = parseInterface(i.get());
    ASSERT_TRUE(iface);
    EXPECT_FALSE(iface->ssid);
    EXPECT_FALSE(iface->frequencyMHz);

    // A scan cache full of neighbours, none of them joined, and no station entry.
    Msg bss(NL80211_CMD_NEW_SCAN_RESULTS);
    bss.u32(NL80211_ATTR_IFINDEX, 3).open(NL80211_ATTR_BSS).bytes(NL80211_BSS_BSSID, kApMac)
        .u32(NL80211_BSS_FREQUENCY, 2437).close();
    const auto neighbour = parseScanResult(bss.get());
    ASSERT_TRUE(neighbour);
    EXPECT_FALSE(neighbour->associated());

    wifi::WifiReading r;
    r.interface = *iface;
    r.bssid = wifi::associatedBssid({*neighbour}, {});
    r.station = wifi::accessPointStation({}, r.bssid);
    r.interfaceUp = true;
    const WifiSnapshot s = wifi::makeSnapshot(r, std::nullopt, 5.0);
    EXPECT_FALSE(s.ssid);
    EXPECT_FALSE(s.bssid);
    EXPECT_FALSE(s.channel);
    EXPECT_FALSE(s.band);
    EXPECT_FALSE(s.rssi);
    EXPECT_FALSE(s.phyMode);
    EXPECT_TRUE(s.interfaceUp);
    // No route given: one made of the interface's name with unknown addresses.
    EXPECT_EQ(s.interfaceName, QStringLiteral("wlan0"));
    EXPECT_EQ(s.localAddress, QStringLiteral("Unknown"));
    EXPECT_EQ(s.gatewayAddress, QStringLiteral("Unknown"));
}

TEST(Nl80211Parse, AssociatedBssFromTheScanCacheWinsAndGivesTheChannel)
{
    Msg joined(NL80211_CMD_NEW_SCAN_RESULTS);
    const QByteArray other = QByteArray::fromHex("001122334455");
    joined.u32(NL80211_ATTR_IFINDEX, 3).open(NL80211_ATTR_BSS).bytes(NL80211_BSS_BSSID, kApMac)
        .u32(NL80211_BSS_FREQUENCY, 5745).u32(NL80211_BSS_STATUS, NL80211_BSS_STATUS_ASSOCIATED).close();
    const auto bss = parseScanResult(joined.get());
    ASSERT_TRUE(bss && bss->associated());

    const StationInfo stale{other, -80, std::nullopt};
    const StationInfo ap{kApMac, -55, RateInfo{RateMode::legacy, 24.0}};
    EXPECT_EQ(wifi::associatedBssid({*bss}, {stale, ap}), kApMac);
    EXPECT_EQ(wifi::accessPointStation({stale, ap}, kApMac), ap);
    EXPECT_EQ(wifi::associatedBssid({}, {stale}), other) << "a managed interface's only station is its access point";

    wifi::WifiReading r;
    r.interface.name = "wlan0";
    r.interface.ssid = QByteArray("iroda");
    r.bssid = kApMac;
    r.bssFrequencyMHz = bss->frequencyMHz;
    r.station = ap;
    const WifiSnapshot s = wifi::makeSnapshot(r, std::nullopt, 1.0);
    EXPECT_EQ(s.channel, 149);
    EXPECT_EQ(s.band, QStringLiteral("5 GHz"));
    EXPECT_EQ(s.phyMode, QStringLiteral("802.11a"));
}

TEST(Nl80211Parse, MalformedAttributesAreRefusedNotOverRead)
{
    Msg shortMac(NL80211_CMD_NEW_STATION);
    shortMac.u32(NL80211_ATTR_IFINDEX, 3).bytes(NL80211_ATTR_MAC, QByteArray::fromHex("c8d719"));
    EXPECT_FALSE(parseStation(shortMac.get()));

    Msg shortSignal(NL80211_CMD_NEW_STATION);
    shortSignal.u32(NL80211_ATTR_IFINDEX, 3).bytes(NL80211_ATTR_MAC, kApMac).open(NL80211_ATTR_STA_INFO)
        .bytes(NL80211_STA_INFO_SIGNAL, QByteArray()).close();
    auto s = parseStation(shortSignal.get());
    ASSERT_TRUE(s);
    EXPECT_FALSE(s->signalDbm);

    Msg longSsid(NL80211_CMD_NEW_INTERFACE);
    longSsid.u32(NL80211_ATTR_IFINDEX, 3).bytes(NL80211_ATTR_SSID, QByteArray(40, 'a'));
    EXPECT_FALSE(parseInterface(longSsid.get()));

    Msg noIndex(NL80211_CMD_NEW_INTERFACE);
    noIndex.str(NL80211_ATTR_IFNAME, "wlan0");
    EXPECT_FALSE(parseInterface(noIndex.get()));
    EXPECT_FALSE(parseInterface(nullptr));

    Msg noBss(NL80211_CMD_NEW_SCAN_RESULTS);
    noBss.u32(NL80211_ATTR_IFINDEX, 3);
    EXPECT_FALSE(parseScanResult(noBss.get()));
}

TEST(Nl80211Parse, DefaultInterfaceIsTheFirstInStationMode)
{
    std::vector<InterfaceInfo> list;
    for (const auto& [name, type] : {std::pair{"mon0", NL80211_IFTYPE_MONITOR}, std::pair{"ap0", NL80211_IFTYPE_AP},
                                     std::pair{"wlan0", NL80211_IFTYPE_STATION}, std::pair{"wlan1", NL80211_IFTYPE_STATION}}) {
        Msg m(NL80211_CMD_NEW_INTERFACE);
        m.u32(NL80211_ATTR_IFINDEX, 4).str(NL80211_ATTR_IFNAME, name).u32(NL80211_ATTR_IFTYPE, type);
        list.push_back(*parseInterface(m.get()));
    }
    EXPECT_EQ(wifi::defaultInterface(list)->name, QStringLiteral("wlan0"));
    list.erase(list.begin() + 2, list.end());
    EXPECT_FALSE(wifi::defaultInterface(list));
}

TEST(Nl80211Tables, FrequencyToChannelAndBand)
{
    struct Case {
        std::uint32_t mhz;
        std::optional<int> channel;
        std::optional<QString> band;
    };
    const Case cases[] = {
        {2412, 1, "2.4 GHz"},  {2437, 6, "2.4 GHz"},   {2472, 13, "2.4 GHz"}, {2484, 14, "2.4 GHz"},
        {5180, 36, "5 GHz"},   {5500, 100, "5 GHz"},   {5825, 165, "5 GHz"},  {5885, 177, "5 GHz"},
        {4920, 184, "5 GHz"},  {5935, 2, "6 GHz"},     {5955, 1, "6 GHz"},    {6115, 33, "6 GHz"},
        {7115, 233, "6 GHz"},  {58320, 1, std::nullopt}, {62640, 3, std::nullopt}, // 60 GHz: channel only
        {2413, std::nullopt, std::nullopt}, {2477, std::nullopt, std::nullopt}, {915, std::nullopt, std::nullopt},
        {0, std::nullopt, std::nullopt},    {7120, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto info = channelForFrequency(c.mhz);
        EXPECT_EQ(info.channel, c.channel) << c.mhz;
        EXPECT_EQ(info.band, c.band) << c.mhz;
    }
}

TEST(Nl80211Tables, PhyModeFromRateFlagsAndBand)
{
    const std::optional<QString> b24 = QStringLiteral("2.4 GHz"), b5 = QStringLiteral("5 GHz"),
                                 b6 = QStringLiteral("6 GHz");
    EXPECT_EQ(phyModeFor({RateMode::he, 600.0}, b24), QStringLiteral("802.11ax"));
    EXPECT_EQ(phyModeFor({RateMode::vht, std::nullopt}, b5), QStringLiteral("802.11ac"));
    EXPECT_EQ(phyModeFor({RateMode::ht, 72.2}, b24), QStringLiteral("802.11n"));
    EXPECT_EQ(phyModeFor({RateMode::legacy, 6.0}, b5), QStringLiteral("802.11a"));
    EXPECT_EQ(phyModeFor({RateMode::legacy, 1.0}, b24), QStringLiteral("802.11b"));
    EXPECT_EQ(phyModeFor({RateMode::legacy, 11.0}, b24), QStringLiteral("802.11b"));
    EXPECT_EQ(phyModeFor({RateMode::legacy, 12.0}, b24), QStringLiteral("802.11g"));
    EXPECT_FALSE(phyModeFor({RateMode::legacy, 6.0}, b6));
    EXPECT_FALSE(phyModeFor({RateMode::legacy, 6.0}, std::nullopt));
    EXPECT_FALSE(phyModeFor({RateMode::eht, 2882.4}, b6));
}

TEST(Nl80211Tables, MacTextIsLowerCaseWithLeadingZeros)
{
    EXPECT_EQ(formatMac(QByteArray::fromHex("0A0b00FFe1f2")), QStringLiteral("0a:0b:00:ff:e1:f2"));
    EXPECT_EQ(formatMac(QByteArray::fromHex("0a0b")), QString());
}
