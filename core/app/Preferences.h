#pragma once
// The user's four settings: how long measurements are kept, the outage notification, the update
// check and starting at login; and the outage notification itself.

#include "core/analysis/Attribution.h"
#include "core/app/DesktopIntegration.h"
#include "core/records/Enum.h"
#include "core/records/Records.h"
#include "core/store/Retention.h"

#include <QObject>
#include <QSettings>

#include <memory>

namespace pv {

enum class RetentionChoice { compact, standard, longTerm };
inline constexpr EnumTable<RetentionChoice, 3> kRetentionChoiceTable{{{
    {RetentionChoice::compact, "compact"}, {RetentionChoice::standard, "standard"}, {RetentionChoice::longTerm, "long"}}}};
inline QString rawValue(RetentionChoice c) { return kRetentionChoiceTable.rawText(c); }
inline std::optional<RetentionChoice> parseRetentionChoice(const QString& s) { return kRetentionChoiceTable.parse(s); }
inline auto allRetentionChoices() { return kRetentionChoiceTable.allCases(); }
inline QString id(RetentionChoice c) { return rawValue(c); }
QString title(RetentionChoice c);
QString detail(RetentionChoice c);
RetentionPolicy retentionPolicy(RetentionChoice c);

class PreferencesStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool notifyOnOutage READ notifyOnOutage WRITE setNotifyOnOutage NOTIFY notifyOnOutageChanged)
    Q_PROPERTY(bool checksForUpdates READ checksForUpdates WRITE setChecksForUpdates NOTIFY checksForUpdatesChanged)
    Q_PROPERTY(bool launchesAtLogin READ launchesAtLogin NOTIFY launchesAtLoginChanged)

public:
    static constexpr const char* retentionKey = "polvarine.retention";
    static constexpr const char* notifyOnOutageKey = "polvarine.notifyOnOutage";
    static constexpr const char* checksForUpdatesKey = "polvarine.checksForUpdates";
    static constexpr const char* measuresIPv6Key = "polvarine.measuresIPv6";
    static constexpr const char* notifyOnIPv6Key = "polvarine.notifyOnIPv6";

    // What the store reads and writes; each missing piece gets its desktop default.
    struct Platform {
        std::shared_ptr<QSettings> settings;
        std::shared_ptr<LoginItemService> loginItem;
        std::shared_ptr<DesktopNotifier> notifier;
    };

    explicit PreferencesStore(QObject* parent = nullptr);
    explicit PreferencesStore(Platform platform, QObject* parent = nullptr);
    ~PreferencesStore() override;

    // The per-user settings file every part of the program shares (~/.config/Polvarine/Polvarine.ini).
    static std::shared_ptr<QSettings> makeDefaultSettings();

    RetentionChoice retention() const { return retention_; }
    bool notifyOnOutage() const { return notifyOnOutage_; }
    bool checksForUpdates() const { return checksForUpdates_; }
    bool launchesAtLogin() const { return launchesAtLogin_; }
    // The IPv6 path is measured unless switched off; a broken one is notified only when allowed.
    bool measuresIPv6() const { return measuresIPv6_; }
    bool notifyOnIPv6() const { return notifyOnIPv6_; }

    // Each setter writes through at once; none prunes, checks or starts anything by itself.
    void setRetention(RetentionChoice choice);
    void setNotifyOnOutage(bool enabled);
    void setChecksForUpdates(bool enabled);
    void setMeasuresIPv6(bool enabled);
    void setNotifyOnIPv6(bool enabled);

    RetentionPolicy retentionPolicy() const { return pv::retentionPolicy(retention_); }

    void setLaunchAtLogin(bool enabled);
    void refreshLoginItemStatus();

    // Posts the outage notification when the user asked for it.
    void notifyOutageBegan(Timestamp at, FaultLocation location);
    // "outage-" and the start time in its shortest round-trip form.
    static QString outageIdentifier(Timestamp at);
    // Posts the broken-IPv6 notification (its sentence given) when the user asked for it.
    void notifyIPv6Broken(Timestamp at, const QString& title, const QString& sentence);

Q_SIGNALS:
    void retentionChanged();
    void notifyOnOutageChanged();
    void checksForUpdatesChanged();
    void launchesAtLoginChanged();
    void measuresIPv6Changed();
    void notifyOnIPv6Changed();

private:
    template <typename T>
    void writeThrough(T& field, T value, const char* key, const QVariant& stored, void (PreferencesStore::*changed)());
    void setLaunchesAtLogin(bool value);

    Platform platform_;
    RetentionChoice retention_ = RetentionChoice::standard;
    bool notifyOnOutage_ = false;
    bool checksForUpdates_ = true;
    bool launchesAtLogin_ = false;
    bool measuresIPv6_ = true;
    bool notifyOnIPv6_ = false;
};

} // namespace pv
