#include "ui/design/Theme.h"

#include "ui/design/Controls.h"

#include "core/records/Logging.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <optional>

namespace pv {

namespace {
constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kPortalSettings = "org.freedesktop.portal.Settings";
constexpr const char* kAppearanceNs = "org.freedesktop.appearance";
constexpr const char* kGnomeInterfaceNs = "org.gnome.desktop.interface";

// The portal wraps values in one or two variants depending on its version.
QVariant unwrap(QVariant v)
{
    for (int i = 0; i < 3 && v.canConvert<QDBusVariant>() && v.userType() == qMetaTypeId<QDBusVariant>(); ++i)
        v = v.value<QDBusVariant>().variant();
    return v;
}
} // namespace

PVAppearance detectAppearance(const QColor& windowColor, std::optional<unsigned> colorScheme,
                              std::optional<unsigned> contrast)
{
    bool dark = windowColor.isValid() && windowColor.lightness() < 128;
    if (colorScheme == 1u)
        dark = true;
    else if (colorScheme == 2u)
        dark = false;
    const bool high = contrast == 1u;
    if (dark)
        return high ? PVAppearance::darkHighContrast : PVAppearance::dark;
    return high ? PVAppearance::lightHighContrast : PVAppearance::light;
}

// ---- PVColor ------------------------------------------------------------------------------------

PVColor PVColor::fixed(const QColor& c)
{
    PVColor out;
    out.kind_ = Kind::fixed;
    out.fixed_ = c;
    return out;
}

PVColor PVColor::accent()
{
    PVColor out;
    out.kind_ = Kind::accent;
    return out;
}

PVColor PVColor::opacity(double factor) const
{
    PVColor out = *this;
    out.opacity_ = std::clamp(opacity_ * factor, 0.0, 1.0);
    return out;
}

QColor PVColor::resolve(PVAppearance appearance, const QColor& accentColor) const
{
    QColor c;
    switch (kind_) {
    case Kind::dynamic: c = dynamic_.color(appearance); break;
    case Kind::accent: c = accentColor; break;
    case Kind::fixed: c = fixed_; break;
    }
    if (opacity_ < 1.0)
        c.setAlphaF(static_cast<float>(c.alphaF() * opacity_));
    return c;
}

QColor PVColor::resolve() const
{
    const auto& theme = PVTheme::instance();
    return resolve(theme.appearance(), theme.accent());
}

bool PVColor::operator==(const PVColor& o) const
{
    if (kind_ != o.kind_ || opacity_ != o.opacity_)
        return false;
    switch (kind_) {
    case Kind::dynamic: return dynamic_ == o.dynamic_;
    case Kind::accent: return true;
    case Kind::fixed: return fixed_ == o.fixed_;
    }
    return false;
}

namespace {

// Buttons, menus, toolbars and the other plain controls are set in the application font: it grows
// with the text size as the type tokens do. The desktop's own font is the one at factor 1.
void scaleApplicationFont(double factor)
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return;
    static std::optional<QFont> base;
    if (!base) {
        if (factor == 1.0)
            return;
        base = QApplication::font();
    }
    QFont font = *base;
    if (base->pixelSize() > 0)
        font.setPixelSize(std::max(1, static_cast<int>(std::lround(base->pixelSize() * factor))));
    else
        font.setPointSizeF(base->pointSizeF() * factor);
    if (QApplication::font() != font)
        QApplication::setFont(font);
}

} // namespace

// ---- PVTheme ------------------------------------------------------------------------------------

PVTheme& PVTheme::instance()
{
    // Created on first use on the GUI thread and kept for the life of the process.
    static PVTheme* theme = new PVTheme();
    return *theme;
}

PVTheme::PVTheme()
{
    readEnvironment();
    if (auto* app = QCoreApplication::instance()) {
        app->installEventFilter(this);
        connect(app, &QObject::destroyed, this, [this] { broadcastPending_ = false; });
    }
    refresh();
    queryPortal();
    scaleApplicationFont(textScale_);
    pvInstallFocusRingStyle();
}

void PVTheme::readEnvironment()
{
    const QString forced = qEnvironmentVariable("POLVARINE_APPEARANCE").trimmed();
    if (!forced.isEmpty()) {
        override_ = parsePVAppearance(forced);
        if (!override_)
            qCWarning(log::ui()) << "Unknown appearance override" << forced << "(use light, dark, light-hc or dark-hc)";
    }
    const QString reduce = qEnvironmentVariable("POLVARINE_REDUCE_MOTION").trimmed();
    if (!reduce.isEmpty())
        reduceMotionOverride_ = reduce == QLatin1String("1") || reduce.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    bool ok = false;
    const double scale = qEnvironmentVariable("POLVARINE_TEXT_SCALE").toDouble(&ok);
    if (ok && scale >= 0.5 && scale <= 4.0)
        textScale_ = scale;
}

PVAppearance PVTheme::appearance() const { return override_.value_or(detected_); }

void PVTheme::setAppearanceOverride(std::optional<PVAppearance> appearance)
{
    if (override_ == appearance)
        return;
    override_ = appearance;
    broadcast();
}

bool PVTheme::reduceMotion() const
{
    if (reduceMotionOverride_)
        return *reduceMotionOverride_;
    return desktopAnimationsEnabled_.has_value() && !*desktopAnimationsEnabled_;
}

void PVTheme::setReduceMotionOverride(std::optional<bool> reduce)
{
    if (reduceMotionOverride_ == reduce)
        return;
    reduceMotionOverride_ = reduce;
    broadcast();
}

QColor PVTheme::accent() const
{
    if (accentOverride_)
        return *accentOverride_;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr)
        return QGuiApplication::palette().color(QPalette::Active, QPalette::Highlight);
    return QColor(0x30, 0x8C, 0xC6);
}

void PVTheme::setAccentOverride(std::optional<QColor> accent)
{
    accentOverride_ = accent;
    broadcast();
}

double PVTheme::textScale(PVTextStyle) const { return textScale_; }

void PVTheme::setTextScale(double factor)
{
    factor = std::clamp(factor, 0.5, 4.0);
    if (factor == textScale_)
        return;
    textScale_ = factor;
    scaleApplicationFont(factor);
    broadcast();
}

void PVTheme::refresh()
{
    QColor window;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr)
        window = QGuiApplication::palette().color(QPalette::Active, QPalette::Window);
    const PVAppearance next = detectAppearance(window, portalColorScheme_, portalContrast_);
    const bool changedNow = next != detected_;
    detected_ = next;
    if (changedNow)
        broadcast();
}

bool PVTheme::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == QCoreApplication::instance()
        && (event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::ThemeChange))
        refresh();
    return QObject::eventFilter(watched, event);
}

void PVTheme::queryPortal()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    bus.connect(QString::fromLatin1(kPortalService), QString::fromLatin1(kPortalPath),
                QString::fromLatin1(kPortalSettings), QStringLiteral("SettingChanged"), this,
                SLOT(onPortalSettingChanged(QString, QString, QDBusVariant)));
    const std::pair<const char*, const char*> keys[] = {
        {kAppearanceNs, "color-scheme"}, {kAppearanceNs, "contrast"}, {kGnomeInterfaceNs, "enable-animations"}};
    for (const auto& [ns, key] : keys) {
        QDBusMessage msg = QDBusMessage::createMethodCall(QString::fromLatin1(kPortalService),
                                                          QString::fromLatin1(kPortalPath),
                                                          QString::fromLatin1(kPortalSettings), QStringLiteral("Read"));
        msg << QString::fromLatin1(ns) << QString::fromLatin1(key);
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(msg, 2000), this);
        const QString nsText = QString::fromLatin1(ns);
        const QString keyText = QString::fromLatin1(key);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, nsText, keyText](QDBusPendingCallWatcher* w) {
            QDBusPendingReply<QVariant> reply = *w;
            if (!reply.isError())
                applyPortalValue(nsText, keyText, unwrap(reply.value()));
            w->deleteLater();
        });
    }
}

void PVTheme::onPortalSettingChanged(const QString& ns, const QString& key, const QDBusVariant& value)
{
    applyPortalValue(ns, key, unwrap(value.variant()));
}

void PVTheme::applyPortalValue(const QString& ns, const QString& key, const QVariant& value)
{
    if (ns == QLatin1String(kAppearanceNs) && key == QLatin1String("color-scheme")) {
        portalColorScheme_ = value.toUInt();
        refresh();
    } else if (ns == QLatin1String(kAppearanceNs) && key == QLatin1String("contrast")) {
        portalContrast_ = value.toUInt();
        refresh();
    } else if (ns == QLatin1String(kGnomeInterfaceNs) && key == QLatin1String("enable-animations")) {
        desktopAnimationsEnabled_ = value.toBool();
        broadcast();
    }
}

void PVTheme::broadcast()
{
    // Several settings often change together (palette and theme events arrive in bursts): one
    // repaint per event-loop turn is enough.
    if (broadcastPending_)
        return;
    if (QCoreApplication::instance() == nullptr) {
        Q_EMIT changed();
        return;
    }
    broadcastPending_ = true;
    QTimer::singleShot(0, this, [this] {
        broadcastPending_ = false;
        Q_EMIT changed();
        if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
            const auto widgets = QApplication::allWidgets();
            for (QWidget* w : widgets)
                w->update();
        }
    });
}

} // namespace pv
