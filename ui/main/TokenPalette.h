#pragma once
// Standard widgets (buttons, menus, tool bars) draw with the Qt palette, not with our tokens. A
// screen root that follows the token palette gives them colours of the same appearance as the
// tokens around them, and gets them again whenever the appearance changes.

class QWidget;
class QPalette;

namespace pv {

enum class PVAppearance;

QPalette tokenPalette(PVAppearance appearance);
void followTokenPalette(QWidget* root);

} // namespace pv
