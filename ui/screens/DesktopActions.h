#pragma once
// What the settings and welcome screens ask of the desktop: showing the database file in the file
// manager, opening the desktop's network settings, and where the update check looks.

#include "core/app/IcmpPermission.h"

#include <QDBusConnection>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace pv {

struct ProgramCommand {
    QString program;
    QStringList arguments;
    bool operator==(const ProgramCommand&) const = default;
};

// The desktop's network settings: GNOME's or KDE's settings program, the one of the running desktop
// (XDG_CURRENT_DESKTOP) first; nothing when neither is installed. find answers a program's full
// path, or an empty text.
std::optional<ProgramCommand> networkSettingsCommand(const QString& currentDesktop,
                                                     const std::function<QString(const QString&)>& find);

// Asks the file manager (org.freedesktop.FileManager1.ShowItems) to show the file selected; when
// the bus or the file manager does not answer, openFolder gets the file's folder instead.
void revealFileInFileManager(const QString& filePath, const std::function<void(const QUrl&)>& openFolder,
                             QDBusConnection bus = QDBusConnection::sessionBus());

// Whether the machine has a Wi-Fi interface: any interface below sysfsNetRoot with a wireless
// (or phy80211) entry, powered or not.
bool hasWifiInterface(const QString& sysfsNetRoot = QStringLiteral("/sys/class/net"));

// Everything the screens reach outside the process, replaceable in tests.
struct DesktopHooks {
    std::function<std::optional<QUrl>()> updateFeed;                       // the configured update feed
    std::function<std::optional<ProgramCommand>()> networkSettings;         // the program that opens them
    std::function<void(const ProgramCommand&)> startProgram;                // runs it detached
    // Shows a file in the file manager, and says through the callback when none could; none: the
    // model's own way (the session bus, then the folder opener).
    std::function<void(const QString& filePath, std::function<void(const QString&)> onFailure)> revealFile;
    std::function<bool()> wifiPresent;                                      // the machine has a Wi-Fi interface
    std::function<IcmpPermission()> icmpPermission;                         // may this user send echoes

    // The desktop's own.
    static DesktopHooks system();
    // The hooks in effect for new screens (system() unless a test replaced them).
    static DesktopHooks& current();
};

} // namespace pv
