// The names the program gives a card and its song slots when they have none: shown by the
// window on an unnamed card, written by clearing a song, proposed when archiving.
#pragma once

#include <QString>

namespace ZovaZode {

QString defaultCardName();
// Slot numbers are 0-based here; the name counts from 1 as the pedal does ("Song 01").
QString defaultSongName(int index);

} // namespace ZovaZode
