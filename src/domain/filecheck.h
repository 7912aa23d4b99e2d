// The check behind morv-card verify and the window's Verify command: every record of a card data
// file or an archive file is examined, and each problem is listed with where it is. The file is
// read piece by piece, never more than one record in memory; a whole card takes a while, so the
// window runs it on the transfer worker as a request of its own.
#pragma once

#include "domain/sumfile.h"

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

    // Examines the file at `path`; an archive is also compared, read whole from the disk, with the
    // record of how it was made (SumFile), and a change is a problem of each song it touched.
    // Throws Error with the card data library's text when the file cannot be examined at all (it
    // cannot be opened, or is neither a card nor an archive); problems found in a file that could be
    // examined are in the result.
    static FileCheck run(const QString &path);
    // The same without the comparison with the record: the records alone, which is quick.
    static FileCheck records(const QString &path);

    bool isArchive() const { return kind != Kind::Card && kind != Kind::Unknown; }
    // For an archive, "unchanged since it was made on ...", "no record of how it was made" and so
    // on; empty for a card.
    QString recordText() const { return isArchive() ? record.text() : QString(); }

    Kind kind = Kind::Unknown;
    QVector<Problem> problems;
    SumFile::Check record;
};

} // namespace ZovaZode
