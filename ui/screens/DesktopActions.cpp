#include "ui/screens/DesktopActions.h"

#include "core/app/UpdateChecker.h"
#include "core/probes/PathMonitor.h"
#include "core/records/Logging.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>

namespace pv {

std::optional<ProgramCommand> networkSettingsCommand(const QString& currentDesktop,
                                                     const std::function<QString(const QString&)>& find)
{
    const std::vector<ProgramCommand> gnome{{QStringLiteral("gnome-control-center"), {QStringLiteral("network")}}};
    const std::vector<ProgramCommand> kde{
        {QStringLiteral("systemsettings"), {QStringLiteral("kcm_networkmanagement")}},
        {QStringLiteral("systemsettings5"), {QStringLiteral("kcm_networkmanagement")}},
        {QStringLiteral("kcmshell6"), {QStringLiteral("kcm_networkmanagement")}},
        {QStringLiteral("kcmshell5"), {QStringLiteral("kcm_networkmanagement")}}};
    const bool kdeFirst = currentDesktop.split(QLatin1Char(':')).contains(QStringLiteral("KDE"), Qt::CaseInsensitive);
    std::vector<ProgramCommand> candidates = kdeFirst ? kde : gnome;
    const auto& rest = kdeFirst ? gnome : kde;
    candidates.insert(candidates.end(), rest.begin(), rest.end());
    for (const ProgramCommand& c : candidates) {
        const QString path = find(c.program);
        if (!path.isEmpty())
            return ProgramCommand{path, c.arguments};
    }
    return std::nullopt;
}

void revealFileInFileManager(const QString& filePath, const std::function<void(const QUrl&)>& openFolder,
                             QDBusConnection bus)
{
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(filePath).absolutePath());
    if (!bus.isConnected()) {
        openFolder(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(filePath).toString()} << QString();
    // Answered on the event loop: the window never waits for the file manager.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [watcher, folder, openFolder] {
        const QDBusPendingReply<> reply = *watcher;
        if (reply.isError()) {
            qCInfo(log::ui, "File manager did not show the database: %s", qPrintable(reply.error().message()));
            openFolder(folder);
        }
        watcher->deleteLater();
    });
}

DesktopHooks DesktopHooks::system()
{
    DesktopHooks hooks;
    hooks.updateFeed = [] { return configuredUpdateFeedUrl(); };
    hooks.networkSettings = [] {
        return networkSettingsCommand(qEnvironmentVariable("XDG_CURRENT_DESKTOP"),
                                      [](const QString& name) { return QStandardPaths::findExecutable(name); });
    };
    hooks.startProgram = [](const ProgramCommand& c) { QProcess::startDetached(c.program, c.arguments); };
    hooks.wifiPresent = [] { return hasWifiInterface(); };
    hooks.icmpPermission = [] { return checkIcmpPermission(); };
    return hooks;
}

bool hasWifiInterface(const QString& sysfsNetRoot)
{
    const QStringList names = QDir(sysfsNetRoot).entryList(QDir::Dirs | QDir::System | QDir::NoDotAndDotDot);
    return std::any_of(names.begin(), names.end(),
                       [&](const QString& name) { return path::isWirelessInterface(name, sysfsNetRoot); });
}

DesktopHooks& DesktopHooks::current()
{
    static DesktopHooks hooks = system();
    return hooks;
}

} // namespace pv
