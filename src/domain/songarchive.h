// One open archive file, a card archive (".mlad") or a song file (".mlsd"): its name and
// description, its song and part records, and the archive and restore operations between it
// and an open SdCard. Every failure of the card data library becomes a SongArchive::Error.
#pragma once

#include "carddata/carddata.h"
#include "domain/cardrecords.h"
#include "domain/error.h"
#include "domain/sumfile.h"
#include "domain/verification.h"

#include <QString>
#include <QStringList>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ZovaZode {

class SdCard;

class SongArchive
{
public:
    class Error : public ZovaZode::Error
    {
    public:
        explicit Error(std::string message, int systemError = 0)
            : ZovaZode::Error(std::move(message)), m_systemError(systemError)
        {}
        // The errno value of a file that could not be opened or created; 0 when the failure
        // was not the system's (a damaged archive, for one).
        int systemError() const { return m_systemError; }

    private:
        int m_systemError;
    };

    // (bytes done, bytes total); true asks the running operation to stop.
    using SongProgress = std::function<bool(int done, int total)>;
    // (song, song count, bytes done, bytes total); true asks the running operation to stop.
    using CardProgress = std::function<bool(int song, int songCount, int done, int total)>;

    // Reports the progress of archiveSong and restoreSong; empty means no reporting.
    SongProgress songProgress;

    // writable and create: 1 for yes. Both 1 creates (or truncates) the file.
    SongArchive(const QString &path, int writable, int create);
    ~SongArchive();

    SongArchive(const SongArchive &) = delete;
    SongArchive &operator=(const SongArchive &) = delete;

    int songCount() const;
    static int partCount();
    // Whether the archive carries the pedal's user prefs (a card archive does, a song file not).
    bool hasUserPrefs() const;
    bool isCardArchive() const;
    // How many bytes the file lacks at its end for the audio its headers place in it (0 for a
    // whole file), from the headers and the file's size alone.
    qint64 bytesMissing() const;

    QString name() const;
    QString description() const;
    // Reach the file when a writable archive is closed.
    void setName(const QString &name);
    void setDescription(const QString &description);

    SongInfo songInfo(int song) const;
    PartInfo partInfo(int song, int part) const;
    void writeSongInfo(int song, const SongInfo &info);

    void archiveSong(const std::shared_ptr<SdCard> &card, int cardSong);
    void restoreSong(int archiveSong, const std::shared_ptr<SdCard> &card, int cardSong);
    void archiveCard(SdCard *card, const CardProgress &progress);
    void restoreCard(SdCard *card, const CardProgress &progress);
    // Throws, with the restore's own text, what restoreCard() (`archiveSong` -1) or restoreSong()
    // would refuse in this archive before their first write: a record they would not write, audio
    // that does not lie inside the file.
    void checkRestorable(int archiveSong) const;

    // Writes the headers of a writable archive and closes the file now, so that a caller can
    // tell a finished archive from one whose headers never reached the disk. Every later call
    // throws "Archive is closed.".
    void close();

    // What the archive operations noted about records they copied as the card held them (a
    // record a restore would refuse, user prefs out of range), one text each; also after close().
    QStringList notes() const;

    // Verification of what this object writes, as for SdCard: recordWrites() before the
    // archive is written, verifyWrites() after close(). A difference is named with the file's
    // songs numbered from firstSongShownAs + 1 (a song file is named after the card song it
    // came from).
    void recordWrites(int firstSongShownAs = 0);
    bool verifyWrites(int songCount, const VerifyProgress &progress);
    // The digests of the file's parts and of the whole file as verifyWrites() read them back, once
    // it found everything as written; null before.
    const carddata::FileSums *sums() const { return m_sums ? &*m_sums : nullptr; }
    // The parts the record of how an archive was made (SumFile) hashes one by one, as the headers
    // place them: the header and user prefs, then each song's records and its audio.
    std::vector<carddata::FileSums::Part> parts() const;

private:
    ArchiveHandle *handle() const;
    static int reportSongProgress(int32_t done, int32_t total, void *context);
    static int reportCardProgress(int32_t song, int32_t songCount, int32_t done, int32_t total,
                                  void *context);
    void rethrowCallbackFailure();
    // An archive edited in place keeps its record (SumFile) true: touch() before an edit of the byte
    // at `position` (the part that holds it must be as it was made), updateRecord() once the edit
    // is in the file.
    void touch(int64_t position);
    void updateRecord();

    QString m_path;
    std::unique_ptr<ArchiveHandle, ArchiveHandleCloser> m_handle;
    std::shared_ptr<carddata::WriteDigest> m_digest;
    int m_firstSongShownAs = 0;
    // Taken by close(), when the handle goes.
    std::optional<carddata::WrittenLayout> m_layout;
    std::vector<carddata::FileSums::Part> m_parts;
    std::optional<carddata::FileSums> m_sums;
    bool m_editing = false;
    bool m_recordRead = false;
    std::optional<SumFile::Record> m_record; // of an archive edited in place, while it can follow
    std::set<size_t> m_touched;              // its parts the edit changes
    QStringList m_closedNotes;
    // An exception thrown by a progress callable; it stops the library operation and is
    // thrown again once the library has returned and tidied up.
    std::exception_ptr m_callbackFailure;
};

} // namespace ZovaZode
