#pragma once
// What happened to the evidence store at start-up; the windows show it as a banner.

#include <QString>

#include <optional>
#include <variant>

namespace pv {

class StorageHealth {
public:
    struct Healthy {
        bool operator==(const Healthy&) const = default;
    };
    struct StartedFresh {
        QString quarantinedPath;
        bool operator==(const StartedFresh&) const = default;
    };
    struct NotPersisting {
        QString reason;
        QString databasePath; // the file that could not be written; empty when none was reached
        bool operator==(const NotPersisting&) const = default;
    };

    StorageHealth() : value_(Healthy{}) {}
    static StorageHealth healthy() { return StorageHealth(Healthy{}); }
    static StorageHealth startedFresh(QString quarantinedPath) { return StorageHealth(StartedFresh{std::move(quarantinedPath)}); }
    static StorageHealth notPersisting(QString reason, QString databasePath = {})
    {
        return StorageHealth(NotPersisting{std::move(reason), std::move(databasePath)});
    }

    bool isHealthy() const { return std::holds_alternative<Healthy>(value_); }
    bool isStartedFresh() const { return std::holds_alternative<StartedFresh>(value_); }
    bool isNotPersisting() const { return std::holds_alternative<NotPersisting>(value_); }
    // The quarantined file of startedFresh, the reason of notPersisting, empty for healthy.
    QString payload() const;

    // The banner text; none while the store is healthy. Both name the file concerned, with "~" for
    // the home folder.
    std::optional<QString> bannerMessage() const;

    bool operator==(const StorageHealth&) const = default;

private:
    template <typename T> explicit StorageHealth(T v) : value_(std::move(v)) {}
    std::variant<StartedFresh, NotPersisting, Healthy> value_;
};

} // namespace pv
