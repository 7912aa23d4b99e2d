// SongTransferWorker: executes transfer requests in the transfer thread.
//
// A request that makes a new library file writes it under a temporary name (NewFile), which
// the library views do not list, and moves it into place only once the archive is complete
// and committed to disk. A failed or cancelled request thus never leaves a half-written file
// under a library name, and never replaces a file that appeared under that name meanwhile.
//
// A request asking for verification records what it writes to its destination and, once the
// destination is committed and closed, reads it back from the medium (domain/verification.h);
// a new file that differs is never renamed into place, so it is removed like any failed one. A
// new archive that read back as written gets its record (SumFile) beside it before it takes its
// name.
//
// A request that writes the card leaves out what the card already holds (SdCard::
// skipUnchangedWrites): known from the safety copy made just before under the same lock, or found
// by reading ahead. An archive is checked by a request of its own before anything is copied or
// written for it (checkArchive()).
#include "transfer/songtransferworker.h"

#include "domain/cardlock.h"
#include "domain/newfile.h"
#include "domain/sdcard.h"
#include "domain/songarchive.h"
#include "domain/sumfile.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QThread>

#include <cstring>
#include <stdexcept>
#include <string>

namespace ZovaZode {

namespace {

constexpr qint64 kProgressBytes = 1024 * 1024;
constexpr qint64 kProgressInterval = 50; // ms

// The record of how a new archive was made goes beside it before the archive takes its name, so
// that no archive is ever there with a record that disagrees with it.
void commitWithRecord(const SongTransfer::Request &request, NewFile &file, const SongArchive &archive)
{
    const bool placed = request.verification == SongTransfer::Request::Verification::Passed &&
                        archive.sums() && SumFile::place(file.path(), *archive.sums());
    try {
        file.commit();
    } catch (...) {
        if (placed)
            SumFile::removed(file.path());
        throw;
    }
}

void takeTally(SongTransfer::Request &request, const SdCard &card)
{
    const carddata::WriteTally tally = card.writeTally();
    request.bytesWritten = tally.written;
    request.bytesUnchanged = tally.unchanged;
}

} // namespace

SongTransferWorker::RequestEvent::RequestEvent(std::shared_ptr<SongTransfer::Request> request,
                                               SongTransfer *transfer)
    : QEvent(Type), m_request(std::move(request)), m_transfer(transfer)
{}

SongTransferWorker::RequestEvent::~RequestEvent() = default;

SongTransferWorker::SongTransferWorker(QObject *parent) : QObject(parent) {}

SongTransferWorker::~SongTransferWorker() = default;

bool SongTransferWorker::event(QEvent *event)
{
    if (event->type() != RequestEvent::Type)
        return QObject::event(event);
    const auto *request = dynamic_cast<const RequestEvent *>(event);
    if (!request)
        return QObject::event(event);
    execute(*request);
    event->accept();
    return true;
}

void SongTransferWorker::execute(const RequestEvent &event) noexcept
{
    // Requests still queued when the thread is being shut down are dropped without a report.
    if (!event.request() || thread()->isInterruptionRequested())
        return;
    try {
        qDebug() << "Transfer: Handling request.";
        m_throttle.restart();
        post(event, SongTransfer::StartedEventType);
        if (!run(event))
            return;
        post(event, SongTransfer::FinishedEventType);
        qDebug() << "Transfer: Done handling request.";
        return;
    } catch (const SongArchive::Error &error) {
        qCritical() << "Transfer: Archive error:" << error.what();
        event.request()->errorText = QString::fromLocal8Bit(error.what());
    } catch (const SdCard::Error &error) {
        qCritical() << "Transfer: Card error:" << error.what();
        event.request()->errorText = QString::fromLocal8Bit(error.what());
        event.request()->cardFailed = true;
    } catch (const Error &error) {
        qCritical() << "Transfer: Check error:" << error.what();
        event.request()->errorText = QString::fromLocal8Bit(error.what());
    } catch (const std::exception &error) {
        qCritical() << "Transfer: Error:" << error.what();
        event.request()->errorText = QString::fromLocal8Bit(error.what());
    } catch (...) {
        qCritical() << "Transfer: Error:"
                    << "unknown exception";
        event.request()->errorText = QStringLiteral("unknown exception");
    }
    try {
        post(event, SongTransfer::ErrorEventType);
    } catch (...) {
        // Out of memory for one event: nothing more can be reported.
    }
}

bool SongTransferWorker::run(const RequestEvent &event)
{
    using Endpoint = SongTransfer::Endpoint;
    const SongTransfer::Request &request = *event.request();
    if (request.kind == SongTransfer::Request::Kind::CheckFile) {
        qDebug() << "Transfer: Checking" << request.source.path;
        event.request()->check = FileCheck::run(request.source.path);
        return true;
    }
    if (request.kind == SongTransfer::Request::Kind::CheckArchive) {
        checkArchive(event);
        return true;
    }
    const qint32 from = request.source.kind;
    const qint32 to = request.destination.kind;
    // Whichever program started it, a transfer that writes the card has it to itself, and one
    // that reads it never sees a half-written song. A step of a command runs under the command's
    // lock, which the lock below then only nests in.
    const CardLock::Use commandLock(request.cardLock);
    std::unique_ptr<CardLock> cardLock;
    if ((from == Endpoint::Card) != (to == Endpoint::Card))
        cardLock =
            std::make_unique<CardLock>(to == Endpoint::Card ? request.destination.path : request.source.path,
                                       to == Endpoint::Card ? CardLock::Exclusive : CardLock::Shared);

    if (request.isWholeCard()) {
        if (from == Endpoint::Card && to == Endpoint::ArchiveFile)
            archiveCard(event);
        else if (from == Endpoint::ArchiveFile && to == Endpoint::Card)
            restoreCard(event);
        return true;
    }

    if (from == Endpoint::ArchiveFile && to == Endpoint::Card) {
        restoreSong(event);
        return true;
    }
    if (from == Endpoint::Card && to == Endpoint::ArchiveFile)
        return archiveSong(event);
    qCritical() << "Transfer: Unknown request.";
    event.request()->errorText = QStringLiteral("Unknown request.");
    post(event, SongTransfer::ErrorEventType);
    return false;
}

void SongTransferWorker::archiveCard(const RequestEvent &event)
{
    const SongTransfer::Request &request = *event.request();
    qDebug() << "Transfer: Archiving card to:" << request.destination.path;
    SdCard card;
    card.open(request.source.path, 0);
    if (request.recordCard)
        card.recordReads();
    NewFile file(request.destination.path);
    const std::unique_ptr<SongArchive> created = file.createArchive();
    SongArchive &archive = *created;
    if (request.verify)
        archive.recordWrites();
    archive.archiveCard(&card, [this, &event](int song, int songCount, int done, int total) {
        return reportCardProgress(event, song, songCount, done, total);
    });
    if (!request.destination.name.isEmpty()) {
        qDebug() << "Transfer: renaming archived card:" << request.destination.name;
        archive.setName(request.destination.name);
    }
    event.request()->warnings = archive.notes();
    archive.close();
    card.close();
    event.request()->cardContent = card.readContent();
    if (request.verify)
        verify(event, file.partialPath(), true, [&archive](const VerifyProgress &progress) {
            return archive.verifyWrites(SdCard::songCount(), progress);
        });
    commitWithRecord(request, file, archive);
}

void SongTransferWorker::checkArchive(const RequestEvent &event)
{
    SongTransfer::Request &request = *event.request();
    const QString name = QFileInfo(request.source.path).fileName();
    qDebug() << "Transfer: Checking the archive" << request.source.path;
    try {
        SongArchive(request.source.path, 0, 0).checkRestorable(request.source.song);
    } catch (const SongArchive::Error &error) {
        // A file that cannot be opened is not damaged; one that opens is, and says where best.
        if (error.systemError() != 0)
            throw Error(QStringLiteral("The archive \"%1\" cannot be read. %2")
                            .arg(name, QString::fromLocal8Bit(error.what()))
                            .toStdString());
        QString damage = QString::fromLocal8Bit(error.what());
        try {
            const FileCheck records = FileCheck::records(request.source.path);
            if (!records.problems.isEmpty())
                damage =
                    records.problems.first().where + QStringLiteral(": ") + records.problems.first().what;
        } catch (const Error &) {
        }
        if (damage.endsWith(QLatin1Char('.')))
            damage.chop(1);
        throw Error(QStringLiteral("The archive \"%1\" is damaged: %2.").arg(name, damage).toStdString());
    }
    if (request.force)
        return;
    const SumFile::Check check =
        SumFile::check(request.source.path, false, [this, &event](int done, int total) {
            return reportSongProgress(event, done, total);
        });
    if (check.state != SumFile::State::Changed)
        return;
    request.archiveChanged = true;
    throw Error(QStringLiteral("\"%1\": %2.").arg(name, check.text()).toStdString());
}

void SongTransferWorker::restoreCard(const RequestEvent &event)
{
    const SongTransfer::Request &request = *event.request();
    SongArchive archive(request.source.path, 0, 0);
    SdCard card;
    card.open(request.destination.path, 1);
    // Recorded in any case: what was written tells a refusal that left the card as it was. The
    // writes the card holds already are left out before they reach the record.
    card.recordWrites();
    card.skipUnchangedWrites(request.writeAll ? nullptr : request.knownCard, !request.writeAll);
    const auto noteWrites = qScopeGuard([&] { event.request()->wroteCard = card.hasWritten(); });
    archive.restoreCard(&card, [this, &event](int song, int songCount, int done, int total) {
        return reportCardProgress(event, song, songCount, done, total);
    });
    event.request()->warnings = archive.notes();
    // Closing now, rather than in the destructor, reports a header that did not reach the card.
    card.close();
    archive.close();
    takeTally(*event.request(), card);
    if (request.verify)
        verify(event, request.destination.path, true, [&card](const VerifyProgress &progress) {
            return card.verifyWrites(SdCard::songCount(), progress);
        });
}

void SongTransferWorker::restoreSong(const RequestEvent &event)
{
    const SongTransfer::Request &request = *event.request();
    const auto card = std::make_shared<SdCard>();
    card->open(request.destination.path, 1);
    card->recordWrites();
    card->skipUnchangedWrites(request.writeAll ? nullptr : request.knownCard, !request.writeAll);
    const auto noteWrites = qScopeGuard([&] { event.request()->wroteCard = card->hasWritten(); });
    SongArchive archive(request.source.path, 0, 0);
    archive.songProgress = [this, &event](int done, int total) {
        return reportSongProgress(event, done, total);
    };
    archive.restoreSong(request.source.song, card, request.destination.song);
    event.request()->warnings = archive.notes();
    card->close();
    archive.close();
    takeTally(*event.request(), *card);
    if (request.verify)
        verify(event, request.destination.path, false,
               [&card](const VerifyProgress &progress) { return card->verifyWrites(0, progress); });
}

bool SongTransferWorker::archiveSong(const RequestEvent &event)
{
    const SongTransfer::Request &request = *event.request();
    if (request.destination.song >= 0) {
        qCritical() << "Transfer: Can not add song to archive in position other than the last.";
        event.request()->errorText =
            QStringLiteral("Can not add song to archive in position other than the last.");
        post(event, SongTransfer::ErrorEventType);
        return false;
    }
    const auto card = std::make_shared<SdCard>();
    card->open(request.source.path, 0);
    if (request.recordCard)
        card->recordReads();
    qDebug() << "Transfer: Archiving song to:" << request.destination.path;
    NewFile file(request.destination.path);
    const std::unique_ptr<SongArchive> created = file.createArchive();
    SongArchive &archive = *created;
    if (request.verify)
        archive.recordWrites(request.source.song);
    archive.songProgress = [this, &event](int done, int total) {
        return reportSongProgress(event, done, total);
    };
    archive.archiveSong(card, request.source.song);
    if (!request.destination.name.isEmpty()) {
        qDebug() << "Transfer: Renaming song:" << request.destination.name;
        const int song = archive.songCount() - 1;
        SongInfo info = archive.songInfo(song);
        info.name = request.destination.name;
        archive.writeSongInfo(song, info);
    }
    event.request()->warnings = archive.notes();
    archive.close();
    card->close();
    event.request()->cardContent = card->readContent();
    if (request.verify)
        verify(event, file.partialPath(), false,
               [&archive](const VerifyProgress &progress) { return archive.verifyWrites(0, progress); });
    commitWithRecord(request, file, archive);
    return true;
}

void SongTransferWorker::verify(const RequestEvent &event, const QString &path, bool wholeCard,
                                const std::function<bool(const VerifyProgress &)> &readBack)
{
    qDebug() << "Transfer: Verifying" << path;
    SongTransfer::Request &request = *event.request();
    request.phase.store(SongTransfer::Request::Verifying);
    const bool verified = readBack([this, &event, wholeCard](int song, int songCount, int done, int total) {
        return wholeCard ? reportCardProgress(event, song, songCount, done, total)
                         : reportSongProgress(event, done, total);
    });
    if (!verified)
        qDebug() << "Transfer: Verification skipped: the user asked to stop.";
    request.verification =
        verified ? SongTransfer::Request::Verification::Passed : SongTransfer::Request::Verification::Skipped;
}

void SongTransferWorker::ProgressThrottle::restart()
{
    m_phase = -1;
    m_song = -1;
    m_posted = 0;
    m_clock.start();
}

bool SongTransferWorker::ProgressThrottle::due(int phase, int song, int done, int total)
{
    const bool newStep = phase != m_phase || song != m_song;
    if (!newStep && done < total &&
        (qint64(done) - m_posted < kProgressBytes || m_clock.elapsed() < kProgressInterval))
        return false;
    m_phase = phase;
    m_song = song;
    m_posted = done;
    m_clock.restart();
    return true;
}

bool SongTransferWorker::stopRequested(const RequestEvent &event) const
{
    return event.request()->cancelled.load() || thread()->isInterruptionRequested();
}

bool SongTransferWorker::reportCardProgress(const RequestEvent &event, int song, int songCount, int done,
                                            int total)
{
    if (stopRequested(event))
        return true;
    if (event.transfer() && m_throttle.due(event.request()->phase.load(), song, done, total))
        QCoreApplication::postEvent(
            event.transfer(), new SongTransfer::ProgressEvent(event.request(), song, songCount, done, total));
    return false;
}

bool SongTransferWorker::reportSongProgress(const RequestEvent &event, int done, int total)
{
    if (stopRequested(event))
        return true;
    if (event.transfer() && m_throttle.due(event.request()->phase.load(), 0, done, total))
        QCoreApplication::postEvent(event.transfer(),
                                    new SongTransfer::ProgressEvent(event.request(), 0, 0, done, total));
    return false;
}

void SongTransferWorker::post(const RequestEvent &event, SongTransfer::EventType type)
{
    if (event.transfer())
        QCoreApplication::postEvent(event.transfer(),
                                    new SongTransfer::StatusEvent(QEvent::Type(type), event.request()));
}

} // namespace ZovaZode
