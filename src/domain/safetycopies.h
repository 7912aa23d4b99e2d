// SafetyCopies: where the copies of what a destructive card operation is about to overwrite go,
// what they are called, and how many are kept. The copies are ordinary card archives and song
// files in the card library's "Safety Copies" folder, so the ordinary commands restore them.
#pragma once

#include <QDateTime>
#include <QString>

namespace ZovaZode {

class SafetyCopies
{
public:
    static QString folder(const QString &cardLibrary);

    // A free path for a copy of the whole card, e.g.
    // "<folder>/My Card - before restore - 2026-12-06 10.33.27.mlad".
    static QString cardCopyPath(const QString &cardLibrary, const QString &cardName, const QString &what,
                                const QDateTime &when = QDateTime::currentDateTime());
    // A free path for a copy of one song (slot counts from 0), e.g.
    // "<folder>/My Card - song 03 Intro - before clearing - 2026-12-06 10.33.27.mlsd".
    static QString songCopyPath(const QString &cardLibrary, const QString &cardName, int slot,
                                const QString &songName, const QString &what,
                                const QDateTime &when = QDateTime::currentDateTime());

    // Creates the folder when missing; false with `error` set when it cannot be made.
    static bool ensureFolder(const QString &cardLibrary, QString *error);

    // Removes the oldest copies beyond the newest `keep`; returns how many were removed.
    static int prune(const QString &cardLibrary, int keep);
};

} // namespace ZovaZode
