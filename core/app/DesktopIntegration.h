#pragma once
// The two desktop services the preferences reach: starting at login (an XDG autostart entry) and
// the outage notification (the freedesktop notification service on the session bus).

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <memory>

namespace pv {

// Start-at-login registration with a readable status.
class LoginItemService {
public:
    virtual ~LoginItemService() = default;
    virtual bool isEnabled() const = 0;
    // Registers (true) or unregisters (false); throws std::runtime_error with the reason.
    virtual void setEnabled(bool enabled) = 0;
};

// $XDG_CONFIG_HOME/autostart/hu.polvarine.Polvarine.desktop (~/.config when the variable is unset or
// empty), named after the menu entry. Earlier versions wrote polvarine.desktop beside it: such an entry
// is read while it is the only one, and one that is on is rewritten under the new name at construction.
class XdgAutostartLoginItem : public LoginItemService {
public:
    // executable: what the entry starts; the running program when empty.
    explicit XdgAutostartLoginItem(QString entryPath = defaultEntryPath(), QString executable = {});

    static QString defaultEntryPath();
    static constexpr const char* kEarlierEntryName = "polvarine.desktop";
    const QString& entryPath() const { return entryPath_; }

    // Enabled means the entry exists and is neither hidden nor switched off by the desktop.
    bool isEnabled() const override;
    void setEnabled(bool enabled) override;

private:
    // The entry in force: this one's, or an earlier version's while this one is missing.
    QString readPath() const;

    QString entryPath_;
    QString earlierPath_; // empty when the entry itself has the earlier name
    QString executable_;
};

// Desktop notifications.
class DesktopNotifier {
public:
    virtual ~DesktopNotifier() = default;
    // There is no permission to ask for on this desktop; this only checks that a notification
    // service answers and logs the outcome.
    virtual void requestAuthorization() = 0;
    // Shows a notification at once; one with the same identifier as an earlier one replaces it.
    virtual void post(const QString& identifier, const QString& title, const QString& body) = 0;
};

class FreedesktopNotifier : public QObject, public DesktopNotifier {
    Q_OBJECT
public:
    explicit FreedesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    void requestAuthorization() override;
    void post(const QString& identifier, const QString& title, const QString& body) override;

    // The server's id of the last notification shown under this identifier (0: none yet).
    uint notificationId(const QString& identifier) const { return ids_.value(identifier, 0); }

Q_SIGNALS:
    // Every answer of the service (or its failure), for whoever waits on it.
    void postFinished(const QString& identifier, bool delivered);
    void authorizationChecked(bool answered);

private:
    void send(const QString& identifier, const QString& title, const QString& body);

    QDBusConnection bus_;
    QHash<QString, uint> ids_;
    // A notification whose id is still on its way: a second one with its identifier waits for it,
    // so that it can replace it.
    QSet<QString> inFlight_;
    QHash<QString, std::pair<QString, QString>> waiting_;
};

} // namespace pv
