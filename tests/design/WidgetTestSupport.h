#pragma once
// Helpers of the offscreen widget tests: a canvas that hosts components the way a screen does, and
// pixel queries on the rendered images.

#include "ui/design/Depth.h"
#include "ui/design/Symbols.h"
#include "ui/design/Theme.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QVBoxLayout>
#include <QWidget>

#include <cmath>
#include <memory>

namespace pv::test {

inline QString screensDir()
{
    const QString dir = QStringLiteral(PV_SCREENS_DIR);
    QDir().mkpath(dir);
    return dir;
}

inline void settle()
{
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}

// Sets the appearance and motion switch for the rest of a test and restores them at its end.
class ThemeScope {
public:
    explicit ThemeScope(PVAppearance appearance, bool reduceMotion = false)
    {
        pvInstallIconTheme();
        PVTheme::instance().setAppearanceOverride(appearance);
        PVTheme::instance().setReduceMotionOverride(reduceMotion);
        PVTheme::instance().setAccentOverride(QColor(0x35, 0x84, 0xE4));
        settle();
    }
    ~ThemeScope()
    {
        PVTheme::instance().setAppearanceOverride(PVAppearance::light);
        PVTheme::instance().setReduceMotionOverride(false);
        settle();
    }
};

// A screen root: canvas colour, depth style resolved, shadows of the cards painted.
class Stage {
public:
    explicit Stage(int width, int margin = 24)
        : root_(std::make_unique<PVShadowHost>())
    {
        root_->setBackground(PV::color::surface::canvas);
        pvResolveDepthStyle(root_.get());
        layout_ = new QVBoxLayout(root_.get());
        layout_->setContentsMargins(margin, margin, margin, margin);
        layout_->setSpacing(24);
        width_ = width;
    }
    QVBoxLayout* layout() const { return layout_; }
    PVShadowHost* root() const { return root_.get(); }
    template <typename W>
    W* add(W* w, Qt::Alignment alignment = {})
    {
        layout_->addWidget(w, 0, alignment);
        return w;
    }
    // Lays out at the stage width, shows it offscreen and renders it.
    QImage render()
    {
        layout_->addStretch(1);
        root_->show();
        settle();
        const int h = layout_->hasHeightForWidth() ? layout_->totalHeightForWidth(width_) : layout_->sizeHint().height();
        root_->resize(width_, h);
        settle();
        return root_->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    }

private:
    std::unique_ptr<PVShadowHost> root_;
    QVBoxLayout* layout_;
    int width_;
};

inline bool near(QRgb a, QRgb b, int tolerance)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
           && std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// Pixels within a tolerance of a colour, inside a region (the whole image when empty).
inline int countNear(const QImage& image, const QColor& color, int tolerance = 6, QRect region = {})
{
    if (region.isNull())
        region = image.rect();
    region = region.intersected(image.rect());
    int n = 0;
    for (int y = region.top(); y <= region.bottom(); ++y)
        for (int x = region.left(); x <= region.right(); ++x)
            if (qAlpha(image.pixel(x, y)) > 200 && near(image.pixel(x, y), color.rgb(), tolerance))
                ++n;
    return n;
}

inline QColor token(const PVDynamicColor& c) { return c.color(PVTheme::instance().appearance()); }

} // namespace pv::test
