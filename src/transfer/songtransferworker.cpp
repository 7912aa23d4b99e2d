// SongTransferWorker: executes transfer requests in the transfer thread.
//
// A request that makes a new library file writes it under the final name + ".partial", which
// the library views do not list, and moves it into place only once the archive is complete
// and committed to disk. A failed or cancelled request thus never leaves a half-written file
// under a library name, and never replaces a file that appeared under that name meanwhile.
//
// A request asking for verification records what it writes to its destination and, once the
// destination is committed and closed, reads it back from the medium (domain/verification.h);
// a new file that differs is never renamed into place, so it is removed like any failed one.
#include "transfer/songtransferworker.h"

#include "domain/sdcard.h"
#include "domain/songarchive.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace ZovaZode {

namespace {

const char kPartialSuffix[] = ".partial";
constexpr qint64 kProgressBytes = 1024 * 1024;
constexpr qint64 kProgressInterval = 50; // ms

// Renames without ever replacing an existing file; 0 or an errno value.
int renameNoReplace(const QByteArray &from, const QByteArray &to)
{
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
#endif
    // link() refuses an existing target just as atomically, where the file system has links.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return errno;
    // File systems without links (FAT on a stick) leave a short window between check and rename.
    if (::access(to.constData(), F_OK) == 0)
        return EEXIST;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

// So that a finished library file survives a power cut as a directory entry, too.
void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

// A library file being made: written under its ".partial" name, moved into place by commit()
// and removed unless committed. Declare it before the SongArchive that writes it, so that the
// archive is closed before the file is removed.
class SongTransferWorker::NewFile
{
public:
    explicit NewFile(const QString &path) : m_path(path), m_partialPath(path + QLatin1String(kPartialSuffix))
    {}
    ~NewFile()
    {
        if (!m_committed)
            QFile::remove(m_partialPath);
    }
    NewFile(const NewFile &) = delete;
    NewFile &operator=(const NewFile &) = delete;

    const QString &partialPath() const { return m_partialPath; }

    // Throws std::runtime_error when the file cannot take its name.
    void commit()
    {
        const int failure = renameNoReplace(QFile::encodeName(m_partialPath), QFile::encodeName(m_path));
        if (failure != 0) {
            const std::string path = QFile::encodeName(m_path).toStdString();
            if (failure == EEXIST)
                throw std::runtime_error("Will not replace the existing file " + path + ".");
            throw std::runtime_error("Could not move the new file into place as " + path + ": " +
                                     std::strerror(failure));
        }
        m_committed = true;
        syncFolder(QFileInfo(m_path).absolutePath());
    }

private:
    QString m_path;
    QString m_partialPath;
    bool m_committed = false;
};

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
    SongArchive archive(file.partialPath(), 1, 1);
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
    if (request.verify)
        verify(event, file.partialPath(), true, [&archive](const VerifyProgress &progress) {
            return archive.verifyWrites(SdCard::songCount(), progress);
        });
    file.commit();
}

void SongTransferWorker::restoreCard(const RequestEvent &event)
{
    const SongTransfer::Request &request = *event.request();
    SongArchive archive(request.source.path, 0, 0);
    SdCard card;
    card.open(request.destination.path, 1);
    if (request.verify)
        card.recordWrites();
    archive.restoreCard(&card, [this, &event](int song, int songCount, int done, int total) {
        return reportCardProgress(event, song, songCount, done, total);
    });
    event.request()->warnings = archive.notes();
    // Closing now, rather than in the destructor, reports a header that did not reach the card.
    card.close();
    archive.close();
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
    if (request.verify)
        card->recordWrites();
    SongArchive archive(request.source.path, 0, 0);
    archive.songProgress = [this, &event](int done, int total) {
        return reportSongProgress(event, done, total);
    };
    archive.restoreSong(request.source.song, card, request.destination.song);
    event.request()->warnings = archive.notes();
    card->close();
    archive.close();
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
    qDebug() << "Transfer: Archiving song to:" << request.destination.path;
    NewFile file(request.destination.path);
    SongArchive archive(file.partialPath(), 1, 1);
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
    if (request.verify)
        verify(event, file.partialPath(), false,
               [&archive](const VerifyProgress &progress) { return archive.verifyWrites(0, progress); });
    file.commit();
    return true;
}

void SongTransferWorker::verify(const RequestEvent &event, const QString &path, bool wholeCard,
                                const std::function<bool(const VerifyProgress &)> &readBack)
{
    qDebug() << "Transfer: Verifying" << path;
    SongTransfer::Request &request = *event.request();
    request.phase.store(1);
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
