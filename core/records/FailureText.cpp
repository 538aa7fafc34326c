#include "core/records/FailureText.h"

#include "core/records/Localization.h"

#include <QDir>
#include <QRegularExpression>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace pv {

FailureCause failureCauseFromErrno(int errorNumber)
{
    switch (errorNumber) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return FailureCause::diskFull;
    case EROFS:
        return FailureCause::readOnly;
    case EACCES:
    case EPERM:
        return FailureCause::noPermission;
    case ENOTDIR:
    case EISDIR:
    case EEXIST:
        return FailureCause::notAFolder;
    case ENOENT:
        return FailureCause::notFound;
    case EBUSY:
    case ETXTBSY:
        return FailureCause::inUse;
    case ECONNREFUSED:
    case ECONNRESET:
        return FailureCause::connectionRefused;
    case ETIMEDOUT:
        return FailureCause::timedOut;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
        return FailureCause::unreachable;
    default:
        return FailureCause::unknown;
    }
}

FailureCause failureCauseFromSqlite(int resultCode)
{
    // Primary codes from sqlite3.h; extended codes keep the primary one in the low byte.
    switch (resultCode & 0xff) {
    case 13: // SQLITE_FULL
        return FailureCause::diskFull;
    case 8: // SQLITE_READONLY
        return FailureCause::readOnly;
    case 3: // SQLITE_PERM
    case 23: // SQLITE_AUTH
        return FailureCause::noPermission;
    case 14: // SQLITE_CANTOPEN
        return FailureCause::notFound;
    case 5: // SQLITE_BUSY
    case 6: // SQLITE_LOCKED
        return FailureCause::inUse;
    default:
        return FailureCause::unknown;
    }
}

FailureCause failureCauseFromText(const QString& technical)
{
    struct Pattern {
        const char* expression;
        FailureCause cause;
    };
    // Ordered: the ICMP texts name errno 13 too, and must win over the plain permission match.
    static const Pattern patterns[] = {
        {"ICMP.*(errno (1|13)\\b|not permitted|denied)|ping_group_range", FailureCause::icmpNotPermitted},
        {"disk is full|no space left|database or disk is full|nincs több hely|quota exceeded|file too large",
         FailureCause::diskFull},
        {"read-only|readonly|csak olvasható|írásvédett", FailureCause::readOnly},
        {"permission denied|not permitted|access denied|engedély megtagadva|nem engedélyezett|errno (1|13)\\b",
         FailureCause::noPermission},
        {"not a directory|nem könyvtár|is a directory|file exists", FailureCause::notAFolder},
        {"couldn't resolve|could not resolve|resolve host|name or service not known|nxdomain|"
         "name not resolved|domain name not found",
         FailureCause::nameNotResolved},
        {"connection refused|couldn't connect|could not connect|failed to connect|connection reset",
         FailureCause::connectionRefused},
        {"timed out|timeout|time-out", FailureCause::timedOut},
        {"unreachable|network is down|no route", FailureCause::unreachable},
        {"http (status )?[45][0-9][0-9]|returned error|server error", FailureCause::serverError},
        {"no such file|not found|nincs ilyen fájl", FailureCause::notFound},
        {"database is locked|database table is locked|resource busy|text file busy", FailureCause::inUse},
    };
    for (const Pattern& p : patterns) {
        const QRegularExpression re(QString::fromUtf8(p.expression), QRegularExpression::CaseInsensitiveOption);
        if (re.match(technical).hasMatch())
            return p.cause;
    }
    return FailureCause::unknown;
}

QString failureSentence(FailureCause cause)
{
    switch (cause) {
    case FailureCause::diskFull:
        return L("Betelt a lemez, nincs hely a fájlok írására.");
    case FailureCause::readOnly:
        return L("A lemez vagy a mappa csak olvasható.");
    case FailureCause::noPermission:
        return L("Nincs engedély a fájl vagy a mappa eléréséhez.");
    case FailureCause::notAFolder:
        return L("A megadott útvonal egyik eleme fájl, nem mappa.");
    case FailureCause::notFound:
        return L("A fájl vagy a mappa nem található.");
    case FailureCause::icmpNotPermitted:
        return L("A rendszer nem engedi a ping (ICMP) mérést ennek a felhasználónak.");
    case FailureCause::nameNotResolved:
        return L("A kiszolgáló nevét nem sikerült feloldani.");
    case FailureCause::connectionRefused:
        return L("A kiszolgáló elutasította a kapcsolatot.");
    case FailureCause::timedOut:
        return L("A kiszolgáló nem válaszolt időben.");
    case FailureCause::unreachable:
        return L("A kiszolgáló nem érhető el a hálózaton.");
    case FailureCause::serverError:
        return L("A kiszolgáló hibával válaszolt.");
    case FailureCause::inUse:
        return L("A fájlt most egy másik program használja.");
    case FailureCause::nothingMeasured:
        return L("Ebben az időszakban nincs mérés, amiből dokumentum készülhetne.");
    case FailureCause::unknown:
        break;
    }
    return L("Váratlan hiba történt; a részletek a naplóban vannak.");
}

CausedError::CausedError(FailureCause cause, const QString& technical, QString path)
    : std::runtime_error(technical.toStdString()), cause_(cause), path_(std::move(path))
{
}

QString failurePathOf(const std::exception& error)
{
    if (const auto* carrier = dynamic_cast<const FailureCauseCarrier*>(&error))
        return carrier->failurePath();
    if (const auto* fs = dynamic_cast<const std::filesystem::filesystem_error*>(&error))
        return QString::fromStdString(fs->path1().string());
    return {};
}

QString displayPath(const QString& path)
{
    if (path.isEmpty())
        return {};
    const QString clean = QDir::cleanPath(path);
    const QString home = QDir::cleanPath(QDir::homePath());
    if (!home.isEmpty() && home != QStringLiteral("/")) {
        if (clean == home)
            return QStringLiteral("~");
        if (clean.startsWith(home + QLatin1Char('/')))
            return QDir::toNativeSeparators(QStringLiteral("~") + clean.mid(home.size()));
    }
    return QDir::toNativeSeparators(clean);
}

QString pathNote(const QString& path)
{
    return path.isEmpty() ? QString() : LF("Érintett hely: %@", {displayPath(path)});
}

FailureCause failureCauseOf(const std::exception& error)
{
    if (const auto* carrier = dynamic_cast<const FailureCauseCarrier*>(&error))
        return carrier->failureCause();
    if (const auto* system = dynamic_cast<const std::system_error*>(&error)) {
        const std::error_code& code = system->code();
        if (code.category() == std::generic_category() || code.category() == std::system_category()) {
            const FailureCause cause = failureCauseFromErrno(code.value());
            if (cause != FailureCause::unknown)
                return cause;
        }
    }
    return failureCauseFromText(QString::fromUtf8(error.what()));
}

QString failureMessage(const QString& lead, FailureCause cause)
{
    return lead.isEmpty() ? failureSentence(cause) : lead + QLatin1Char(' ') + failureSentence(cause);
}

QString failureMessage(const QString& lead, const std::exception& error)
{
    return failureMessage(lead, failureCauseOf(error));
}

} // namespace pv
