// One open card data file: its header (name and description) in memory, its song and part
// records as SongInfo and PartInfo, clearing songs, and noticing when the card is pulled or
// changed by another program. Every failure of the card data library becomes an SdCard::Error.
//
// The header is written back only when it was edited here, and only if the card still holds
// the header it was read from: otherwise another program changed it meanwhile, and writing the
// old one back would undo that program's work. Every write holds the card's lock (CardLock).
#pragma once

#include "carddata/carddata.h"
#include "carddata/digest.h"
#include "domain/cardrecords.h"
#include "domain/filestamp.h"
#include "domain/error.h"
#include "domain/verification.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

namespace ZovaZode {

class CardContent;
class SongArchive;

class SdCard : public QObject, public std::enable_shared_from_this<SdCard>
{
    Q_OBJECT
    Q_PROPERTY(QString path READ path NOTIFY pathChanged)
    Q_PROPERTY(bool isOpen READ isOpen)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString description READ description WRITE setDescription NOTIFY descriptionChanged)

public:
    class Error : public ZovaZode::Error
    {
    public:
        using ZovaZode::Error::Error;
    };

    // Another program (or another thread of this one) holds the card's lock.
    class Busy : public Error
    {
    public:
        using Error::Error;
    };
    // The card's file system can lock it in no way, and the user has not allowed writing it
    // without the lock (CardLock). Refused as a busy card is: nothing was written.
    class Unlockable : public Busy
    {
    public:
        using Busy::Busy;
    };

    // Shown when the card's header changed on the card while an edit of it waited here.
    static const char ChangedUnderneathText[];

    // The size of every card data file.
    static constexpr qint64 FileSize = carddata::kCardFileSize;

    explicit SdCard(QObject *parent = nullptr);
    ~SdCard() override;

    // writable: 1 opens for writing, anything else for reading only. A card open before is
    // closed once the new one is open; when the new one fails, it stays open.
    bool open(const QString &path, int writable);
    // Why the last open() failed: the card data library's text.
    const QString &openError() const { return m_openError; }

    bool isOpen() const;
    bool isWritable() const;
    QString path() const;

    QString name() const;
    QString description() const;
    void setName(const QString &name);
    void setDescription(const QString &description);

    // Writes an edited header (and nothing when the header was not edited).
    void writeHeader();
    void flush();
    bool isHeaderEdited() const { return m_headerEdited; }
    // Re-reads the header after another SdCard object wrote the same card.
    void refresh();
    // When the card file changed on disk since this object last read or wrote it, reads the
    // header again and tells the views (as refresh() does); true when it did. A card whose
    // writer still holds the lock is left for a later look.
    bool reloadIfChanged();

    SongInfo songInfo(int song) const;
    PartInfo partInfo(int song, int part) const;
    void setSongInfo(int song, const SongInfo &info);
    // Clears a song, after checkClearable(): a record the library would refuse half-way is
    // found before anything is written.
    void clearSong(int song, const QString &name);
    // Throws, with the clear's own text, when the song's records are such that clearing it
    // would fail ("Could not clear song: Part data from SD card is invalid").
    void checkClearable(int song) const;

    // The card's header and records as the file holds them now, one hash each (see
    // mlsdHashCardRecords): what Undo compares to tell whether the card changed.
    struct RecordDigest
    {
        int song = -1; // -1 for the card as a whole
        int part = -1; // -1 for a record that is not a part's
        QString where; // "card name", "song 3, part 1, looper record"
        carddata::Digest128 digest;
    };
    QVector<RecordDigest> recordsDigest() const;
    // What differs between two digests of one card, for people: "the card's name", "the user
    // preferences", "song 3" (its song record), "song 4, part 2"; everything ("the card") when
    // either could not be read.
    static QStringList changedRecords(const QVector<RecordDigest> &before,
                                      const QVector<RecordDigest> &after);

    static int songCount();

    // What the card holds: songs with a part in use, looper parts recorded, and the bytes of
    // their recorded audio.
    struct Usage
    {
        int songsInUse = 0;
        int looperParts = 0;
        qint64 looperBytes = 0;
    };
    Usage usage() const;

    // Verification of what this object writes to the card. recordWrites() keeps a digest of every
    // write from now until the card is opened again (nothing when no card is open);
    // verifyWrites(), once the card is closed and so committed, reads each written range back
    // from the card with its cached pages dropped. songCount: 12 to report progress song by song,
    // 0 for one figure. False when `progress` asked to stop; throws "Verification failed: ...".
    void recordWrites();
    bool verifyWrites(int songCount, const VerifyProgress &progress) const;
    // Whether anything reached the card since recordWrites().
    bool hasWritten() const;

    // For a restore that follows under the same lock: recordReads() keeps the digest of every piece
    // this object reads from the card from now on (nothing when no card is open); readContent(),
    // once the card is closed, hands it over with the card file's stamp as it was before the first
    // of those reads (null if not recorded).
    void recordReads();
    std::shared_ptr<CardContent> readContent() const;
    // From now on the writes leave out what the card already holds: known from `known` when it still
    // describes this card file, else found by reading ahead when `compareByReading`; with neither,
    // every byte is written. After recordWrites(), so that a read-back checks what was written.
    // Nothing when no card is open.
    void skipUnchangedWrites(const std::shared_ptr<CardContent> &known, bool compareByReading);
    // What the writes since skipUnchangedWrites() wrote and left out (both -1 before).
    carddata::WriteTally writeTally() const;

public slots:
    void close();

signals:
    void opened();
    void closed();
    void openStateChanged(bool isOpen);
    void pathChanged(QString path);
    void nameChanged(QString name);
    void descriptionChanged(QString description);
    // The card file went away while open (its card was pulled or its volume unmounted), so the
    // card was closed.
    void ejected();

private slots:
    void checkEjected();

private:
    friend class SongArchive;

    using Header = std::array<uint8_t, carddata::kCardHeaderSize>;

    void requireOpen() const;
    void commit(const char *prefix);
    // Drops the handle without writing and tells everyone the card is closed.
    void releaseHandle();
    // `tell`: a refused header goes to the notifier too, not only to the log.
    void writeEditedHeader(bool tell);
    // Takes the header as it is on the card, dropping an edit; tells when an edit was dropped.
    void adoptHeader(const Header &onCard, bool tell);
    void emitReloaded();
    void takeStamp();

    QString m_path;
    QString m_openError;
    std::unique_ptr<SdCardHandle, SdCardHandleCloser> m_handle;
    // What recordWrites() keeps; it outlives the handle so that the card can be closed first.
    std::shared_ptr<carddata::WriteDigest> m_digest;
    QString m_digestPath;
    CardMemoryMap m_digestMap{};
    std::shared_ptr<carddata::CardDigest> m_readDigest;
    QString m_readPath;
    FileStamp m_readStamp;
    std::shared_ptr<carddata::WriteTally> m_tally;
    QTimer m_timer;
    // The header as it was last read from or written to the card, and whether it was edited.
    Header m_cardHeader{};
    bool m_headerEdited = false;
    FileStamp m_stamp;
};

} // namespace ZovaZode
