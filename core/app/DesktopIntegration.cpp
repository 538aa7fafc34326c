#include "core/app/DesktopIntegration.h"

#include "core/records/Logging.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QVariantMap>

#include <filesystem>
#include <stdexcept>

namespace pv {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// Quoting of an Exec argument (desktop entry specification): reserved characters force double
// quotes, inside which ", `, $ and \ are escaped.
QString quotedExecArgument(const QString& arg)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = arg.isEmpty();
    for (const QChar c : arg)
        needsQuotes = needsQuotes || reserved.contains(c);
    QString out = arg;
    // A literal percent sign must be doubled in Exec whether quoted or not.
    out.replace(QLatin1Char('%'), QStringLiteral("%%"));
    if (!needsQuotes)
        return out;
    QString escaped;
    for (const QChar c : out) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            escaped.append(QLatin1Char('\\'));
        escaped.append(c);
    }
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

// A string value of a desktop entry (TryExec): only the escapes the desktop entry format defines.
QString tryExecValue(const QString& path)
{
    QString out;
    for (const QChar c : path) {
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    return out;
}

// The running program's path. Once a package upgrade has replaced the running file, Qt answers
// nothing and the kernel's link names the old file as "<path> (deleted)"; the upgrade put the new
// program at that same path, which is what the login should start.
QString runningProgram()
{
    QString path = QCoreApplication::applicationFilePath();
    if (path.isEmpty()) {
        std::error_code ec;
        path = QFile::decodeName(QByteArray::fromStdString(std::filesystem::read_symlink("/proc/self/exe", ec).native()));
        const QString deleted = QStringLiteral(" (deleted)");
        if (path.endsWith(deleted))
            path.chop(deleted.size());
    }
    if (path.isEmpty() || !QFileInfo(path).isExecutable())
        throw std::runtime_error("the running program's path is unknown");
    return path;
}
} // namespace

// ---------------------------------------------------------------------------------------------
XdgAutostartLoginItem::XdgAutostartLoginItem(QString entryPath, QString executable)
    : entryPath_(std::move(entryPath)), executable_(std::move(executable))
{
    const QFileInfo entry(entryPath_);
    if (entry.fileName() != QLatin1String(kEarlierEntryName))
        earlierPath_ = entry.dir().filePath(QLatin1String(kEarlierEntryName));
    if (earlierPath_.isEmpty() || entry.exists() || !QFileInfo::exists(earlierPath_) || !isEnabled())
        return;
    // An earlier version's entry that is on: the same login item under the new name (switched off
    // by the desktop it stays as it is, and reads as off).
    try {
        setEnabled(true);
        qCInfo(log::preferences, "Login item moved from %s to %s", qUtf8Printable(earlierPath_),
               qUtf8Printable(entryPath_));
    } catch (const std::exception& e) {
        qCWarning(log::preferences, "Login item left at %s: %s", qUtf8Printable(earlierPath_), e.what());
    }
}

QString XdgAutostartLoginItem::readPath() const
{
    if (earlierPath_.isEmpty() || QFileInfo::exists(entryPath_))
        return entryPath_;
    return earlierPath_;
}

QString XdgAutostartLoginItem::defaultEntryPath()
{
    QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    // The specification ignores a relative value as well as an empty one.
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart/hu.polvarine.Polvarine.desktop");
}

bool XdgAutostartLoginItem::isEnabled() const
{
    QFile file(readPath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("Hidden") && value == QLatin1String("true"))
            return false;
        if (key == QLatin1String("X-GNOME-Autostart-enabled") && value == QLatin1String("false"))
            return false;
    }
    return true;
}

void XdgAutostartLoginItem::setEnabled(bool enabled)
{
    const auto remove = [](const QString& path) {
        QFile file(path);
        if (!path.isEmpty() && file.exists() && !file.remove())
            throw std::runtime_error(
                QStringLiteral("could not remove %1: %2").arg(path, file.errorString()).toStdString());
    };
    if (!enabled) {
        remove(entryPath_);
        remove(earlierPath_);
        return;
    }
    const QFileInfo info(entryPath_);
    if (!QDir().mkpath(info.absolutePath()))
        throw std::runtime_error(QStringLiteral("could not create %1").arg(info.absolutePath()).toStdString());
    const QString executable = executable_.isEmpty() ? runningProgram() : executable_;
    QSaveFile file(entryPath_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        throw std::runtime_error(
            QStringLiteral("could not write %1: %2").arg(entryPath_, file.errorString()).toStdString());
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Polvarine\n"
                                        "TryExec=%1\n"
                                        "Exec=%2\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(tryExecValue(executable), quotedExecArgument(executable));
    file.write(text.toUtf8());
    if (!file.commit())
        throw std::runtime_error(
            QStringLiteral("could not write %1: %2").arg(entryPath_, file.errorString()).toStdString());
    // Once written under the new name, an earlier version's entry would only start the program twice.
    remove(earlierPath_);
}

// ---------------------------------------------------------------------------------------------
FreedesktopNotifier::FreedesktopNotifier(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {}

void FreedesktopNotifier::requestAuthorization()
{
    if (!bus_.isConnected()) {
        qCInfo(log::preferences, "Notification authorisation granted: %d", 0);
        Q_EMIT authorizationChecked(false);
        return;
    }
    const QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetServerInformation"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        const bool answered = !w->isError();
        qCInfo(log::preferences, "Notification authorisation granted: %d", answered ? 1 : 0);
        w->deleteLater();
        Q_EMIT authorizationChecked(answered);
    });
}

void FreedesktopNotifier::post(const QString& identifier, const QString& title, const QString& body)
{
    if (!bus_.isConnected()) {
        qCWarning(log::preferences, "Outage notification not shown: no session bus (%s)",
                  qUtf8Printable(bus_.lastError().message()));
        Q_EMIT postFinished(identifier, false);
        return;
    }
    if (inFlight_.contains(identifier)) {
        waiting_.insert(identifier, {title, body});
        return;
    }
    send(identifier, title, body);
}

void FreedesktopNotifier::send(const QString& identifier, const QString& title, const QString& body)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    // The desktop's default notification sound.
    hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
    call << QStringLiteral("Polvarine") << ids_.value(identifier, 0u) << QString() << title << body << QStringList()
         << hints << int(-1);
    inFlight_.insert(identifier);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, identifier](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<uint> reply = *w;
        w->deleteLater();
        inFlight_.remove(identifier);
        const bool delivered = !reply.isError();
        if (delivered)
            ids_.insert(identifier, reply.value());
        else
            qCWarning(log::preferences, "Outage notification not shown: %s", qUtf8Printable(reply.error().message()));
        Q_EMIT postFinished(identifier, delivered);
        if (waiting_.contains(identifier)) {
            const auto [title, body] = waiting_.take(identifier);
            send(identifier, title, body);
        }
    });
}

} // namespace pv
