#include "core/app/SleepWake.h"

#include "core/records/Logging.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>

#include <atomic>

namespace pv {

namespace {
const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");
// Long enough for the store's thread to write the event that was just recorded.
constexpr int kReleaseGraceMs = 250;

std::atomic<bool> missingBusLogged{false};
} // namespace

LogindSleepMonitor::LogindSleepMonitor(QDBusConnection bus, QObject* parent)
    : SleepWakeSource(parent), bus_(std::move(bus))
{
}

LogindSleepMonitor::~LogindSleepMonitor() { deactivate(); }

void LogindSleepMonitor::activate()
{
    if (active_)
        return;
    if (!bus_.isConnected()) {
        if (!missingBusLogged.exchange(true))
            qCWarning(log::monitoring, "No system bus: sleep and wake will not be recorded (%s)",
                      qUtf8Printable(bus_.lastError().message()));
        return;
    }
    active_ = true;
    connected_ = bus_.connect(kService, kPath, kInterface, QStringLiteral("PrepareForSleep"), this,
                              SLOT(onPrepareForSleep(bool)));
    if (!connected_) {
        qCWarning(log::monitoring, "Could not subscribe to logind's PrepareForSleep: %s",
                  qUtf8Printable(bus_.lastError().message()));
        return;
    }
    takeInhibitor();
}

void LogindSleepMonitor::deactivate()
{
    if (!active_)
        return;
    active_ = false;
    if (connected_)
        bus_.disconnect(kService, kPath, kInterface, QStringLiteral("PrepareForSleep"), this,
                        SLOT(onPrepareForSleep(bool)));
    connected_ = false;
    releaseInhibitor();
}

void LogindSleepMonitor::sleepRecorded()
{
    QTimer::singleShot(kReleaseGraceMs, this, [this] { releaseInhibitor(); });
}

void LogindSleepMonitor::onPrepareForSleep(bool goingToSleep)
{
    if (!active_)
        return;
    if (goingToSleep) {
        Q_EMIT aboutToSleep();
        return;
    }
    takeInhibitor();
    Q_EMIT wokeUp();
}

void LogindSleepMonitor::takeInhibitor()
{
    if (!active_ || inhibitor_.isValid())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Polvarine")
         << QStringLiteral("Recording the sleep in the diagnostic journal") << QStringLiteral("delay");
    const int request = ++inhibitRequest_;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, request](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        if (reply.isError()) {
            qCWarning(log::monitoring, "logind refused the sleep delay: %s", qUtf8Printable(reply.error().message()));
            return;
        }
        if (request != inhibitRequest_ || !active_)
            return; // released or replaced meanwhile; the descriptor closes with the reply
        inhibitor_ = reply.value();
    });
}

void LogindSleepMonitor::releaseInhibitor()
{
    ++inhibitRequest_;
    // Closing our copy of the descriptor is what releases the inhibitor.
    inhibitor_ = QDBusUnixFileDescriptor();
}

} // namespace pv
