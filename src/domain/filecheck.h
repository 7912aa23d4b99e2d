// The check behind morv-card verify and the window's Verify command: every record of a card data
// file or an archive file is examined, and each problem is listed with where it is. The file is
// read piece by piece, never more than one record in memory; a whole card takes a while, so the
// window runs it on the transfer worker as a request of its own.
#pragma once

#include <QString>
#include <QVector>

namespace ZovaZode {

class FileCheck
{
public:
    enum class Kind {
        Unknown,     // neither a card data file nor an archive
        Card,        // a card data file (ZOVAZODE.DAT)
        CardArchive, // an archive of 12 songs with user prefs
        SongFile,    // an archive of 1 song without user prefs
        Archive,     // any other archive
    };

    struct Problem
    {
        QString where; // e.g. "song 4, part 2, looper record (byte 27,009,024)"
        QString what;  // e.g. "checksum 0x1234 does not match the recording (0x5678)"
    };

    // Examines the file at `path`. Throws Error with the card data library's text when the file
    // cannot be examined at all (it cannot be opened, or is neither a card nor an archive);
    // problems found in a file that could be examined are in the result.
    static FileCheck run(const QString &path);

    Kind kind = Kind::Unknown;
    QVector<Problem> problems;
};

} // namespace ZovaZode
