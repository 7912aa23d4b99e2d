// The user-interface side of a transfer: requests (archive card, restore card, copy a song to
// the library or onto the card, check a file) go to the worker thread from here, and the worker's posted
// reports come back here to be turned into signals for the dialog and the librarian view.
#pragma once

#include "domain/filecheck.h"

#include <QEvent>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

namespace ZovaZode {

class CardContent;
class CardLock;
class SongTransferWorker;

class SongTransfer : public QObject
{
    Q_OBJECT

public:
    struct Endpoint
    {
        static constexpr qint32 ArchiveFile = 0; // a card archive (".mlad") or a song file (".mlsd")
        static constexpr qint32 Card = 1;        // the card data file
        static constexpr qint32 WholeCard = -1;

        qint32 kind = ArchiveFile;
        QString path;
        qint32 song = WholeCard;
        // For a destination: the name the result gets; empty keeps the name it has.
        QString name;

        // The card data file at `path`: the whole card, or one slot (0 to 11).
        static Endpoint card(const QString &path, qint32 slot = WholeCard)
        {
            return Endpoint{Card, path, slot, QString()};
        }
        // An archive file: the whole of it, or one song of it; `name` as above.
        static Endpoint archive(const QString &path, qint32 song = WholeCard, const QString &name = QString())
        {
            return Endpoint{ArchiveFile, path, song, name};
        }
    };

    // Shared between the submitter, the events in flight and the worker. Everything but
    // `cancelled` is written before submission and only read afterwards.
    struct Request
    {
        enum class Kind {
            Copy,      // from `source` to `destination`
            CheckFile, // checks every record of the file at `source.path` into `check`
            // checks the archive at `source` before a restore from it (CardCommands::checkArchive)
            CheckArchive,
        };
        Kind kind = Kind::Copy;
        Endpoint source;
        Endpoint destination;
        // Set by the user-interface thread; the worker polls it at every progress report.
        std::atomic<bool> cancelled{false};
        // Read back what was written and compare it with the source before reporting success.
        bool verify = false;
        // A request that writes the card leaves out what the card already holds, known from
        // `knownCard` or found by reading the card ahead; `writeAll` writes every byte instead.
        bool writeAll = false;
        // A CheckArchive request leaves out the comparison with the record of how it was made.
        bool force = false;
        // A request that reads the card (a safety copy) keeps the digest of what it read, for the
        // request that writes the card next, in `cardContent`; written before "finished".
        bool recordCard = false;
        std::shared_ptr<CardContent> cardContent;
        // What a request that writes the card knows of it: the content a safety copy read under the
        // same lock.
        std::shared_ptr<CardContent> knownCard;
        // What a request that writes the card wrote and left out as the card already held it (-1
        // before it wrote); written before its report.
        qint64 bytesWritten = -1;
        qint64 bytesUnchanged = -1;
        // A CheckArchive request failed only because the archive has changed since it was made;
        // `errorText` says how. Whether to go on all the same is the front end's to ask.
        bool archiveChanged = false;
        // Transferring, then Verifying; written by the worker before the progress reports of
        // that phase, whose fractions restart from 0.
        static constexpr int Transferring = 0;
        static constexpr int Verifying = 1;
        std::atomic<int> phase{Transferring};
        // Why the request failed, written by the worker before it posts the "error" report
        // (the report's delivery orders it before any read on the user-interface thread).
        QString errorText;

        enum class Verification {
            NotAsked, // `verify` was false, or the request ended before its read-back
            Passed,   // everything written read back from the medium as it was written
            Skipped,  // cancelled while reading back: the result is complete and kept, unchecked
        };
        // How the read-back ended; written by the worker before it posts "finished".
        Verification verification = Verification::NotAsked;
        // What the user should know about a finished request although it succeeded (records
        // copied as the card held them that a restore would refuse, ...); written before
        // "finished".
        QStringList warnings;
        // What a CheckFile request found; written before "finished".
        FileCheck check;
        // The lock of the command this request is a step of (CardCommands), lent to the worker
        // while it runs the request; null for a request that is a command of its own. Dropped by
        // the submitter once the outcome has reached it.
        std::shared_ptr<CardLock> cardLock;
        // Whether anything was written to the card, for a request that writes it; written
        // before "finished" or "error". A refusal before the first write leaves it false.
        bool wroteCard = false;
        // Whether the failure was the card's (opening, reading or writing it) rather than the
        // archive's or a check's: only then may write protection be the cause.
        bool cardFailed = false;

        // A request that checks the file at `path`.
        static std::shared_ptr<Request> checkFile(const QString &path)
        {
            auto request = std::make_shared<Request>();
            request->kind = Kind::CheckFile;
            request->source.path = path;
            return request;
        }

        bool isWholeCard() const
        {
            return source.song == Endpoint::WholeCard && destination.song == Endpoint::WholeCard;
        }
    };

    // The reports of the worker. The first shares its number with the worker's RequestEvent;
    // each receiver knows which one it gets.
    enum EventType {
        StartedEventType = QEvent::User,      // 1000
        ProgressEventType = QEvent::User + 1, // 1001
        FinishedEventType = QEvent::User + 2, // 1002
        ErrorEventType = QEvent::User + 3,    // 1003
    };

    class StatusEvent : public QEvent
    {
    public:
        StatusEvent(QEvent::Type type, std::shared_ptr<Request> request);
        ~StatusEvent() override;

        const std::shared_ptr<Request> &request() const { return m_request; }

    private:
        // Keeps the request alive until the report has been delivered.
        std::shared_ptr<Request> m_request;
    };

    class ProgressEvent : public StatusEvent
    {
    public:
        explicit ProgressEvent(std::shared_ptr<Request> request, qint32 song = 0, qint32 songCount = 0,
                               qint32 done = 0, qint32 total = 0);
        ~ProgressEvent() override;

        qint32 song() const { return m_song; }
        qint32 songCount() const { return m_songCount; }
        qint32 done() const { return m_done; }
        qint32 total() const { return m_total; }

    private:
        qint32 m_song;
        qint32 m_songCount;
        qint32 m_done;
        qint32 m_total;
    };

    // The worker must outlive every submission; destroy the worker thread before this object,
    // so that no report is posted to it after it is gone.
    explicit SongTransfer(SongTransferWorker *worker, QObject *parent = nullptr);
    ~SongTransfer() override;

    // Queues the request behind those already submitted and returns at once.
    void submit(std::shared_ptr<Request> request);

    // How far a request has come, from 0 to 1. A song operation reports songCount 0; a
    // whole-card operation reports the song it is at among songCount songs. A total of 0
    // means there was nothing to copy, so the step is complete.
    static double progressFraction(qint32 song, qint32 songCount, qint32 done, qint32 total);

    // What a finished request that wrote the card says, `source` naming its archive as the front end
    // shows it: "Restored the card from X: 41 MB written, 214 MB already the same." or "Copied X
    // onto slot 7: ...". MB are 10^6 bytes.
    static QString outcomeText(const Request &request, const QString &source);

    bool event(QEvent *event) override;

signals:
    void started(ZovaZode::SongTransfer::Request *request);
    void progress(int song, float fraction, ZovaZode::SongTransfer::Request *request);
    void finished(ZovaZode::SongTransfer::Request *request);
    void error(ZovaZode::SongTransfer::Request *request);

private:
    QPointer<SongTransferWorker> m_worker;
};

} // namespace ZovaZode

Q_DECLARE_METATYPE(ZovaZode::SongTransfer::Request *)
