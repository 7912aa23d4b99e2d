// SongTransferWorker: executes transfer requests in the transfer thread.
//
// A request that makes a new library file writes it under a temporary name (NewFile), which
// the library views do not list, and moves it into place only once the archive is complete
// and committed to disk. A failed or cancelled request thus never leaves a half-written file
// under a library name, and never replaces a file that appeared under that name meanwhile.
//
// A request asking for verification is read back through fresh read-only handles once its
// files are closed, and compared with its source; a new file that differs is never renamed into
// place, so it is removed like any failed one.
#include "transfer/songtransferworker.h"

#include "domain/cardlock.h"
#include "domain/sdcard.h"
#include "domain/songarchive.h"
#include "transfer/newfile.h"

#include "carddata/compare.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QThread>

#include <cstring>
#include <stdexcept>
#include <string>

namespace ZovaZode {

namespace {

// The comparison's text without the name of the library function that made it.
QString comparisonText()
{
    QString text = QString::fromLocal8Bit(mlsdGetErrorString());
    for (const char *prefix : {"mlsdCompareArchiveSong: ", "mlsdCompareArchiveCard: "}) {
        if (text.startsWith(QLatin1String(prefix)))
            return text.mid(int(std::strlen(prefix)));
    }
    return text;
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
    const qint32 from = request.source.kind;
    const qint32 to = request.destination.kind;
    // Whichever program started it, a transfer that writes the card has it to itself, and one
    // that reads it never sees a half-written song.
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
    NewFile file(request.destination.path);
    const std::unique_ptr<SongArchive> created = file.createArchive();
    SongArchive &archive = *created;
    archive.archiveCard(&card, [this, &event](int song, int songCount, int done, int total) {
        return reportCardProgress(event, song, songCount, done, total);
    });
    if (!request.destination.name.isEmpty()) {
        qDebug() << "Transfer: renaming archived card:" << request.destination.name;
        archive.setName(request.destination.name);
    }
    archive.close();
    if (request.verify)
        verifyCard(event, request.source.path, file.partialPath(), !request.destination.name.isEmpty());
    file.commit();
}

void SongTransferWorker::restoreCard(const RequestEvent &event)
{
    const SongTransfer::Request &request = *event.request();
    SongArchive archive(request.source.path, 0, 0);
    SdCard card;
    card.open(request.destination.path, 1);
    archive.restoreCard(&card, [this, &event](int song, int songCount, int done, int total) {
        return reportCardProgress(event, song, songCount, done, total);
    });
    // Closing now, rather than in the destructor, reports a header that did not reach the card.
    card.close();
    archive.close();
    if (request.verify)
        verifyCard(event, request.destination.path, request.source.path, false);
}

void SongTransferWorker::restoreSong(const RequestEvent &event)
{
    const SongTransfer::Request &request = *event.request();
    const auto card = std::make_shared<SdCard>();
    card->open(request.destination.path, 1);
    SongArchive archive(request.source.path, 0, 0);
    archive.songProgress = [this, &event](int done, int total) {
        return reportSongProgress(event, done, total);
    };
    archive.restoreSong(request.source.song, card, request.destination.song);
    card->close();
    archive.close();
    if (request.verify)
        verifySong(event, request.destination.path, request.destination.song, request.source.path,
                   request.source.song, false);
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
    qDebug() << "Transfer: Archiving song to:" << request.destination.path;
    NewFile file(request.destination.path);
    const std::unique_ptr<SongArchive> created = file.createArchive();
    SongArchive &archive = *created;
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
    const int archivedSong = archive.songCount() - 1;
    archive.close();
    if (request.verify)
        verifySong(event, request.source.path, request.source.song, file.partialPath(), archivedSong,
                   !request.destination.name.isEmpty());
    file.commit();
    return true;
}

namespace {

struct VerifyHandles
{
    std::unique_ptr<SdCardHandle, SdCardHandleCloser> card;
    std::unique_ptr<ArchiveHandle, ArchiveHandleCloser> archive;
};

// Fresh read-only handles, so that the comparison reads what reached the files rather than
// anything a writer still holds in memory.
VerifyHandles openForVerify(const QString &cardPath, const QString &archivePath)
{
    VerifyHandles handles;
    handles.card.reset(mlsdOpenSDCard(QFile::encodeName(cardPath).constData(), 0));
    if (!handles.card)
        throw std::runtime_error(std::string("Verification failed: could not open the card again: ") +
                                 mlsdGetErrorString());
    const std::wstring widePath = archivePath.toStdWString();
    handles.archive.reset(mlsdOpenArchiveW(widePath.c_str(), 0, 0));
    if (!handles.archive)
        throw std::runtime_error(std::string("Verification failed: could not open the archive again: ") +
                                 mlsdGetErrorString());
    return handles;
}

} // namespace

void SongTransferWorker::verifyCard(const RequestEvent &event, const QString &cardPath,
                                    const QString &archivePath, bool renamed)
{
    qDebug() << "Transfer: Verifying card against:" << archivePath;
    event.request()->phase.store(1);
    VerifyHandles handles = openForVerify(cardPath, archivePath);
    struct Context
    {
        SongTransferWorker *worker;
        const RequestEvent *event;
    } context{this, &event};
    const CardProgressCallback progress{
        [](int32_t song, int32_t songCount, int32_t done, int32_t total, void *data) {
            auto *c = static_cast<Context *>(data);
            return c->worker->reportCardProgress(*c->event, song, songCount, done, total) ? 1 : 0;
        },
        &context};
    if (mlsdCompareArchiveCard(handles.card.get(), handles.archive.get(), &progress,
                               renamed ? CompareIgnoreName : CompareIgnoreNone) != 0)
        throw std::runtime_error(verificationFailure(event));
}

void SongTransferWorker::verifySong(const RequestEvent &event, const QString &cardPath, int cardSong,
                                    const QString &archivePath, int archiveSong, bool renamed)
{
    qDebug() << "Transfer: Verifying song against:" << archivePath;
    event.request()->phase.store(1);
    VerifyHandles handles = openForVerify(cardPath, archivePath);
    struct Context
    {
        SongTransferWorker *worker;
        const RequestEvent *event;
    } context{this, &event};
    const ProgressCallback progress{[](int32_t done, int32_t total, void *data) {
                                        auto *c = static_cast<Context *>(data);
                                        return c->worker->reportSongProgress(*c->event, done, total) ? 1 : 0;
                                    },
                                    &context};
    if (mlsdCompareArchiveSong(handles.card.get(), handles.archive.get(), cardSong, archiveSong, &progress,
                               renamed ? CompareIgnoreName : CompareIgnoreNone) != 0)
        throw std::runtime_error(verificationFailure(event));
}

std::string SongTransferWorker::verificationFailure(const RequestEvent &event) const
{
    if (stopRequested(event))
        return "Verification was cancelled; the copy was not checked.";
    return "Verification failed: " + comparisonText().toStdString();
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
    if (event.transfer())
        QCoreApplication::postEvent(
            event.transfer(), new SongTransfer::ProgressEvent(event.request(), song, songCount, done, total));
    return false;
}

bool SongTransferWorker::reportSongProgress(const RequestEvent &event, int done, int total)
{
    if (stopRequested(event))
        return true;
    if (event.transfer())
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
