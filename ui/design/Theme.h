#pragma once
// The appearance service: which of the four appearances the desktop asks for, the accent colour,
// the reduce-motion switch and the text scale. Widgets never cache resolved colours; they ask at
// paint time, and every widget is repainted when anything here changes.

#include "ui/design/Tokens.h"

#include <QColor>
#include <QObject>
#include <QPalette>
#include <QDBusVariant>

#include <optional>

class QWidget;

namespace pv {

// The platform text styles a type token follows when the user changes the text size.
enum class PVTextStyle { largeTitle, title, title2, title3, headline, body, callout, subheadline, footnote, caption, caption2 };

// The appearance that the desktop's signals ask for. colorScheme is the freedesktop setting
// (0 no preference, 1 prefer dark, 2 prefer light), contrast the freedesktop contrast setting
// (1 = high). Without a preference the window colour of the palette decides.
PVAppearance detectAppearance(const QColor& windowColor, std::optional<unsigned> colorScheme,
                              std::optional<unsigned> contrast);

// A colour reference resolved at paint time: a design token, the desktop accent, or a fixed colour,
// each with an extra opacity.
class PVColor {
public:
    enum class Kind { dynamic, accent, fixed };

    PVColor() : kind_(Kind::fixed), fixed_(Qt::transparent) {}
    PVColor(const PVDynamicColor& c) : kind_(Kind::dynamic), dynamic_(c) {} // NOLINT: tokens convert implicitly
    static PVColor fixed(const QColor& c);
    static PVColor accent();
    static PVColor clear() { return PVColor(); }

    // The same colour with its alpha multiplied by the given opacity.
    PVColor opacity(double factor) const;

    QColor resolve(PVAppearance appearance, const QColor& accentColor) const;
    // Resolved for the appearance the application is drawn in now.
    QColor resolve() const;

    Kind kind() const { return kind_; }
    double extraOpacity() const { return opacity_; }
    bool operator==(const PVColor& o) const;

private:
    Kind kind_;
    PVDynamicColor dynamic_{};
    QColor fixed_;
    double opacity_ = 1.0;
};

// The three colour tokens that follow the desktop's accent colour.
namespace PV::color::interactive {
inline PVColor accent() { return PVColor::accent(); }
} // namespace PV::color::interactive
namespace PV::color::focus {
inline PVColor ring() { return PVColor::accent(); }
inline PVColor halo() { return PVColor::accent().opacity(haloOpacity); }
} // namespace PV::color::focus

class PVTheme : public QObject {
    Q_OBJECT
public:
    static PVTheme& instance();

    // The appearance in effect: the override when one is set, else what the desktop asks for.
    PVAppearance appearance() const;
    std::optional<PVAppearance> appearanceOverride() const { return override_; }
    void setAppearanceOverride(std::optional<PVAppearance> appearance);

    bool reduceMotion() const;
    // nullopt returns to the desktop's setting.
    void setReduceMotionOverride(std::optional<bool> reduce);

    // The desktop's accent colour (the palette's highlight), or the override.
    QColor accent() const;
    void setAccentOverride(std::optional<QColor> accent);

    // Size factor for a text style; 1 at the default text size.
    double textScale(PVTextStyle style) const;
    void setTextScale(double factor);

    // Reads the desktop again (palette and freedesktop settings) and broadcasts a change.
    void refresh();

Q_SIGNALS:
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private Q_SLOTS:
    void onPortalSettingChanged(const QString& ns, const QString& key, const QDBusVariant& value);

private:
    PVTheme();
    void readEnvironment();
    void queryPortal();
    void applyPortalValue(const QString& ns, const QString& key, const QVariant& value);
    void broadcast();

    std::optional<PVAppearance> override_;
    std::optional<bool> reduceMotionOverride_;
    std::optional<QColor> accentOverride_;
    std::optional<unsigned> portalColorScheme_;
    std::optional<unsigned> portalContrast_;
    std::optional<bool> desktopAnimationsEnabled_;
    double textScale_ = 1.0;
    PVAppearance detected_ = PVAppearance::light;
    bool broadcastPending_ = false;
};

} // namespace pv
