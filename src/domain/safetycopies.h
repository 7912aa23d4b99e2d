// SafetyCopies: where the copies of what a destructive card operation is about to overwrite go,
// what they are called, and how many are kept. The copies are ordinary card archives and song
// files in the card library's "Safety Copies" folder; the window lists them on a page of their own
// and reads what each holds from its name (parse) and the names stored in it (list).
#pragma once

#include <QDateTime>
#include <QString>
#include <QVector>

#include <optional>

namespace ZovaZode {

class SafetyCopies
{
public:
    // Why a copy is made; the text goes into its file name.
    enum class Occasion { Restore, ClearSong, ClearAll, CopyOntoSlot, Other };
    static QString occasionText(Occasion occasion);

    // One copy, as its file name and the file itself tell it.
    struct Entry
    {
        QString path;
        // The card the copy came from, by the name it had then.
        QString cardName;
        // The card slot (from 0) of a song copy; -1 for the whole card.
        int slot = -1;
        // The song's name as the file stores it (as the file name gives it when unreadable).
        QString songName;
        Occasion occasion = Occasion::Other;
        QDateTime when;
        // 2, 3... for the second and later copies of one second.
        int counter = 1;

        bool isWholeCard() const { return slot < 0; }
    };

    // What the file name of a copy tells; nothing when it is not the name of a copy.
    static std::optional<Entry> parse(const QString &path);
    // Every copy in the folder, newest first, with the names stored in the files.
    static QVector<Entry> list(const QString &cardLibrary);
    // The order of list() and prune(): by the time and then the counter in the names, newest
    // first; never by a file's modification time, which a clock once ahead leaves in the future.
    static bool isNewer(const Entry &a, const Entry &b);

    static QString folder(const QString &cardLibrary);
    // How many copies are kept when the settings do not say.
    static constexpr int DefaultLimit = 20;

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

    // Removes the oldest copies beyond the newest `keep`, never `justMade` (the copy the running
    // command made, which counts as one of them even when its name sorts oldest); returns how
    // many were removed. Only files whose whole name is a copy's are copies.
    static int prune(const QString &cardLibrary, int keep, const QString &justMade);
};

} // namespace ZovaZode
