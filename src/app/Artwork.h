#pragma once

#include <QIcon>
#include <QImage>

namespace app {

// The window's pictures, drawn here rather than shipped as files, 32 x 32 pixels each.
QImage ExitImage(); // a white power sign on a red rounded square
QImage MigrationImage(); // an X-ray film, a green arrow pointing right, a stack of storage disks
// The migration symbol drawn at size x size pixels, for the desktop icon.
QImage MigrationImage(int size);

// The grey form a disabled toolbar button shows: lightness kept, colour removed, lifted towards white.
QImage Greyed(const QImage& image);

// A toolbar image with its grey form as the disabled image.
QIcon ToolbarIcon(const QImage& image);

// The window icon: the migration symbol in 256 colours.
QIcon WindowIcon();

} // namespace app
