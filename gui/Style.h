#pragma once
#include <QColor>
#include <QString>

namespace vaultry::qt {

// The application's look: a quiet palette with one indigo accent, light or dark as the desktop's
// colour scheme is.
void applyStyle();
void applyStyle(bool dark);

// Whether the application's palette is the dark one (its ground darker than its text).
bool darkPalette();
// A colour of the light scheme as the current palette shows it: itself while the palette is light,
// its dark counterpart while it is dark. Code that paints its own colours takes them from here.
QColor schemed(const char* light);
// Text (a style sheet, an SVG image) written in the light scheme's colours, with each colour
// replaced by its dark counterpart when dark is set; colours outside the scheme (the accent) stay.
QString recoloured(const QString& text, bool dark);

}  // namespace vaultry::qt
