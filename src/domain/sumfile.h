// The record of how an archive was made, kept beside it as "NAME.mlad.sum" ("NAME.mlsd.sum" for a
// song file): when it was made, and the digests of the whole file and of each song's block as they
// were read back from the disk once the archive was written. A later check reads the archive and
// compares: an archive that rotted on the disk, or that something changed, says so, and by which
// song. The archive format itself is left as it is.
//
// An edit of the archive in place (a new name or description, a song's texts) hashes the part it
// changed again and rewrites the record, when that part was intact before the edit; the rest is
// not trusted anew.
//
// A file beside the archive rather than an extended attribute: it survives being copied to a
// USB stick (FAT and exFAT keep no attributes), to a cloud folder or by `cp` without -a. What it
// does not survive is a user moving the archive alone: the archive then has "no record of how it
// was made", never a false alarm. The library carries the record along when it renames, moves,
// copies or deletes an archive (LibraryFolder), and pruning removes a safety copy's with it.
#pragma once

#include "carddata/digest.h"

#include <QDateTime>
#include <QString>
#include <QVector>

#include <functional>
#include <optional>

namespace ZovaZode {

class SumFile
{
public:
    enum class State {
        NoRecord,  // no record beside the archive, or one that cannot be read
        Unchanged, // the archive is as it was made
        Changed,   // it is not
    };

    struct Check
    {
        State state = State::NoRecord;
        QDateTime made;     // UTC
        QVector<int> songs; // the songs, counted from 1, whose blocks changed

        // "unchanged since it was made on 2026-12-07", "the file has changed since it was made on
        // 2026-12-07 (songs 3 and 7)", "no record of how it was made".
        QString text() const;
    };

    struct Record
    {
        QDateTime made;
        carddata::FileSums sums;
    };

    // How a record begins, and the most it holds: a record of twelve songs takes about 2 KB.
    static constexpr const char *FirstLine = "morv-archive-sums 1";
    static constexpr qint64 LargestRecord = 16 * 1024;

    // The record's path beside `archive`.
    static QString pathFor(const QString &archive);
    static bool isSumName(const QString &fileName);
    // The record beside `archive`, if there is one that reads as a record.
    static std::optional<Record> read(const QString &archive);
    // Replaces the record of `archive` (after an edit of the archive that the record follows).
    static bool rewrite(const QString &archive, const Record &record);
    // The digest of one part of `archive` as the file holds it now (a header or a song's records:
    // small parts); none when it cannot be read.
    static std::optional<carddata::Digest128> digestOf(const QString &archive,
                                                       const carddata::FileSums::Part &part);

    // Writes the record of the archive that is about to be renamed to `archive`, committed before
    // it returns, in place of a record left there by an archive gone. Nothing is written (false)
    // when a file already holds the name `archive`: its record, if any, stays. Throws Error.
    static bool place(const QString &archive, const carddata::FileSums &sums);
    // Reads `archive` and compares it with its record: past the kernel's cache for the check of a
    // file at rest, through it before a restore that reads the file next. `progress` (optional)
    // hears how far the reading is, in KiB, as it goes; true throws Error("Aborted by user.").
    using Progress = std::function<bool(int doneKiB, int totalKiB)>;
    static Check check(const QString &archive, bool pastCache, const Progress &progress = {});

    // Removes the record of `archive`; true when there was none.
    static bool removed(const QString &archive);

    // The record as it is stored, and back; false for a record that is not one.
    static QByteArray format(const carddata::FileSums &sums, const QDateTime &made);
    static bool parse(const QByteArray &text, carddata::FileSums *sums, QDateTime *made);
};

} // namespace ZovaZode
