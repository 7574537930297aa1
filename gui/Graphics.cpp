#include "gui/Graphics.h"

#include <array>

namespace {

constexpr TColor SystemColorFlag = 0x80000000;
constexpr TColor SystemColorIndexMask = 0xFF;

// The palette role standing for each system-colour index, in index order.
constexpr std::array<QPalette::ColorRole, 31> SystemColorRoles = {
    QPalette::Mid,             // scroll bar
    QPalette::Dark,            // desktop
    QPalette::Highlight,       // active caption
    QPalette::Mid,             // inactive caption
    QPalette::Window,          // menu
    QPalette::Base,            // window
    QPalette::Shadow,          // window frame
    QPalette::WindowText,      // menu text
    QPalette::Text,            // window text
    QPalette::HighlightedText, // caption text
    QPalette::Window,          // active border
    QPalette::Window,          // inactive border
    QPalette::Dark,            // application workspace
    QPalette::Highlight,       // highlight
    QPalette::HighlightedText, // highlighted text
    QPalette::Button,          // button face
    QPalette::Dark,            // button shadow
    QPalette::PlaceholderText, // grey text
    QPalette::ButtonText,      // button text
    QPalette::WindowText,      // inactive caption text
    QPalette::Light,           // button highlight
    QPalette::Shadow,          // 3-D dark shadow
    QPalette::Midlight,        // 3-D light
    QPalette::ToolTipText,     // tool tip text
    QPalette::ToolTipBase,     // tool tip background
    QPalette::Window,          // (unused index)
    QPalette::Link,            // hot-tracked item
    QPalette::Highlight,       // active caption gradient
    QPalette::Mid,             // inactive caption gradient
    QPalette::Highlight,       // highlighted menu item
    QPalette::Window,          // menu bar
};

} // namespace

QColor ColorToQColor(TColor Color, const QPalette &Palette) {
    if (Color & SystemColorFlag) {
        const TColor Index = Color & SystemColorIndexMask;
        // An index the desktop does not know gets the plain window background.
        const QPalette::ColorRole Role =
            Index < SystemColorRoles.size() ? SystemColorRoles[Index] : QPalette::Window;
        return Palette.color(QPalette::Active, Role);
    }
    return QColor(Color & 0xFF, (Color >> 8) & 0xFF, (Color >> 16) & 0xFF);
}
