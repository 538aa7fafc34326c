#pragma once
// System sleep and wake as two Qt signals. The view model connects to them while monitoring runs
// (those connections are its sleep and wake observers); the desktop's source is logind.

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>

namespace pv {

class SleepWakeSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SleepWakeSource() override = default;

    // Begins listening; called when the observers are registered. Calling it again is harmless.
    virtual void activate() {}
    // Stops listening; called when the observers are removed.
    virtual void deactivate() {}
    // The "before sleep" event has been recorded: the system may go to sleep now.
    virtual void sleepRecorded() {}

Q_SIGNALS:
    void aboutToSleep();
    void wokeUp();
};

// logind's Manager.PrepareForSleep(bool) on the system bus. While active it holds a "delay" sleep
// inhibitor, so that the system waits (at most logind's InhibitDelayMaxSec) until the "before sleep"
// event is recorded; the inhibitor is taken again after each wake. Without a system bus (a
// container, a minimal session) nothing is delivered: that is logged once and is never an error.
class LogindSleepMonitor final : public SleepWakeSource {
    Q_OBJECT
public:
    // The bus is the system bus unless a test hands in its own.
    explicit LogindSleepMonitor(QDBusConnection bus = QDBusConnection::systemBus(), QObject* parent = nullptr);
    ~LogindSleepMonitor() override;

    void activate() override;
    void deactivate() override;
    void sleepRecorded() override;

    bool holdsInhibitor() const { return inhibitor_.isValid(); }

private Q_SLOTS:
    void onPrepareForSleep(bool goingToSleep);

private:
    void takeInhibitor();
    void releaseInhibitor();

    QDBusConnection bus_;
    bool active_ = false;
    bool connected_ = false;
    QDBusUnixFileDescriptor inhibitor_;
    int inhibitRequest_ = 0; // a reply for an older request is dropped
};

} // namespace pv
