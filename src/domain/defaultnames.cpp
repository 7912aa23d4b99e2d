// Default card and song names.
#include "domain/defaultnames.h"

namespace ZovaZode {

QString defaultCardName()
{
    return QStringLiteral("Morv+ Card");
}

QString defaultSongName(int index)
{
    // Two digits so that the names sort in slot order wherever they are listed.
    return QStringLiteral("Song %1").arg(index + 1, 2, 10, QLatin1Char('0'));
}

} // namespace ZovaZode
