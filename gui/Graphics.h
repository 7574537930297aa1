#pragma once

#include <QColor>
#include <QPalette>

#include <cstdint>

// A colour as the window layouts store it: 0x00BBGGRR for a plain colour, or
// 0xFF000000 plus a system-colour index for a colour that follows the desktop's.
using TColor = std::uint32_t;

constexpr TColor clRed = 0x000000FF;
constexpr TColor clWindow = 0xFF000005;
constexpr TColor clHighlight = 0xFF00000D;

// The colour to paint with: system colours are looked up in the palette only now,
// so they follow a change of the desktop's colours.
QColor ColorToQColor(TColor Color, const QPalette &Palette);
