#include "app/AppFonts.h"

#include <QFile>
#include <QFontDatabase>

namespace app {

namespace {

// Where Debian's fonts-wine puts its Tahoma-compatible face. Its bold file (tahomabd.ttf) is left out
// on purpose: at 8 to 10 pt it renders hardly heavier than the regular face, wider and in other
// shapes, whereas the regular face emboldened by the font engine looks like the bold texts the
// window was designed with.
constexpr const char* TahomaFile = "/usr/share/wine/fonts/tahoma.ttf";

QFont Tahoma(double points, bool bold)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    // Advances as the face designs them, hinted only up and down, as the Linux font engine renders
    // by default: fully hinted Windows text is wider, and "Migrieren" no longer fits its button.
    font.setHintingPreference(QFont::PreferVerticalHinting);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

} // namespace

void LoadWindowFonts()
{
    if (QFile::exists(QString::fromLatin1(TahomaFile))) {
        QFontDatabase::addApplicationFont(QString::fromLatin1(TahomaFile));
    }
}

QFont WindowFont()
{
    return Tahoma(8.25, false);
}

QFont BrowseButtonFont()
{
    return Tahoma(9.75, true);
}

QFont ProgressTextFont()
{
    return Tahoma(8.25, true);
}

} // namespace app
