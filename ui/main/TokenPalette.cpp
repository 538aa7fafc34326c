#include "ui/main/TokenPalette.h"

#include "ui/design/Theme.h"

#include <QApplication>
#include <QPalette>
#include <QPointer>
#include <QToolTip>
#include <QWidget>

namespace pv {

QPalette tokenPalette(PVAppearance a)
{
    const QColor accent = PVTheme::instance().accent();
    QPalette p;
    const QColor canvas = PV::color::surface::canvas.color(a);
    const QColor card = PV::color::surface::card.color(a);
    const QColor overlay = PV::color::surface::overlay.color(a);
    const QColor ink = PV::color::ink::primary.color(a);
    const QColor muted = PV::color::ink::disabled.color(a);
    const QColor button = isDark(a) ? PV::color::surface::cardRaised.color(a) : card;
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(g, QPalette::Window, canvas);
        p.setColor(g, QPalette::WindowText, ink);
        p.setColor(g, QPalette::Base, card);
        p.setColor(g, QPalette::AlternateBase, PV::color::surface::well.color(a));
        p.setColor(g, QPalette::Text, ink);
        p.setColor(g, QPalette::Button, button);
        p.setColor(g, QPalette::ButtonText, ink);
        p.setColor(g, QPalette::ToolTipBase, overlay);
        p.setColor(g, QPalette::ToolTipText, ink);
        p.setColor(g, QPalette::Highlight, accent);
        p.setColor(g, QPalette::HighlightedText, PV::color::interactive::accentInk.color(a));
        p.setColor(g, QPalette::PlaceholderText, PV::color::ink::tertiary.color(a));
        p.setColor(g, QPalette::Light, PV::color::line::border.color(a));
        p.setColor(g, QPalette::Midlight, PV::color::line::hairline.color(a));
        p.setColor(g, QPalette::Mid, PV::color::line::strong.color(a));
        p.setColor(g, QPalette::Dark, PV::color::line::strong.color(a));
        p.setColor(g, QPalette::Shadow, QColor(0, 0, 0, isDark(a) ? 160 : 60));
    }
    p.setColor(QPalette::Disabled, QPalette::Window, canvas);
    p.setColor(QPalette::Disabled, QPalette::Base, card);
    p.setColor(QPalette::Disabled, QPalette::Button, button);
    p.setColor(QPalette::Disabled, QPalette::WindowText, muted);
    p.setColor(QPalette::Disabled, QPalette::Text, muted);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, muted);
    return p;
}

namespace {

// Menus are windows of their own, often made without a parent (context menus, the tray's): every
// QMenu of the application takes the token palette of the appearance in effect, once set up here.
void followMenuPalette()
{
    static bool following = false;
    const auto apply = [] { QApplication::setPalette(tokenPalette(PVTheme::instance().appearance()), "QMenu"); };
    apply();
    if (following)
        return;
    following = true;
    QObject::connect(&PVTheme::instance(), &PVTheme::changed, qApp, apply);
}

} // namespace

void followTokenPalette(QWidget* root)
{
    followMenuPalette();
    // Menus and dialogs are windows of their own: let the palette reach them too.
    // Tooltips are windows of the application, not of the root: they share one palette.
    root->setAttribute(Qt::WA_WindowPropagation);
    root->setPalette(tokenPalette(PVTheme::instance().appearance()));
    QToolTip::setPalette(root->palette());
    QPointer<QWidget> guard(root);
    QObject::connect(&PVTheme::instance(), &PVTheme::changed, root, [guard] {
        if (!guard)
            return;
        guard->setPalette(tokenPalette(PVTheme::instance().appearance()));
        QToolTip::setPalette(guard->palette());
    });
}

} // namespace pv
