#pragma once

#include <QFont>

namespace app {

// The window was laid out for Tahoma 8.25 pt: positions and sizes assume its widths. Debian's
// fonts-wine ships a compatible Tahoma; without it, the platform's sans-serif stands in.
void LoadWindowFonts();

QFont WindowFont(); // Tahoma 8.25 pt, every control without a font of its own
QFont BrowseButtonFont(); // Tahoma 9.75 pt bold, the "..." buttons
QFont ProgressTextFont(); // Tahoma 8.25 pt bold, the text drawn on the progress bar

} // namespace app
