// SongTransfer: hands requests to the worker thread and turns its reports into signals.
#include "transfer/songtransfer.h"

#include "transfer/songtransferworker.h"

#include <QCoreApplication>
#include <QDebug>

namespace ZovaZode {

static_assert(SongTransfer::StartedEventType == 1000 && SongTransfer::ErrorEventType == 1003,
              "the transfer reports are events 1000 to 1003");

SongTransfer::StatusEvent::StatusEvent(QEvent::Type type, std::shared_ptr<Request> request)
    : QEvent(type), m_request(std::move(request))
{}

SongTransfer::StatusEvent::~StatusEvent() = default;

SongTransfer::ProgressEvent::ProgressEvent(std::shared_ptr<Request> request, qint32 song, qint32 songCount,
                                           qint32 done, qint32 total)
    : StatusEvent(QEvent::Type(ProgressEventType), std::move(request)), m_song(song), m_songCount(songCount),
      m_done(done), m_total(total)
{}

SongTransfer::ProgressEvent::~ProgressEvent() = default;

SongTransfer::SongTransfer(SongTransferWorker *worker, QObject *parent) : QObject(parent), m_worker(worker)
{
    qRegisterMetaType<ZovaZode::SongTransfer::Request *>("ZovaZode::SongTransfer::Request*");
}

SongTransfer::~SongTransfer() = default;

void SongTransfer::submit(std::shared_ptr<Request> request)
{
    if (!request) {
        qWarning() << "Transfer: Ignoring an empty request.";
        return;
    }
    if (!m_worker) {
        qCritical() << "Transfer: No worker to submit the request to.";
        return;
    }
    QCoreApplication::postEvent(m_worker, new SongTransferWorker::RequestEvent(std::move(request), this),
                                Qt::NormalEventPriority);
}

double SongTransfer::progressFraction(qint32 song, qint32 songCount, qint32 done, qint32 total)
{
    double fraction = 0.0;
    if (total > 0)
        fraction = double(done) / double(total);
    else if (total == 0)
        fraction = 1.0;
    if (songCount != 0)
        fraction = double(song) / double(songCount) + fraction / double(songCount);
    return fraction;
}

QString SongTransfer::outcomeText(const Request &request, const QString &source)
{
    const QString done = request.destination.song == Endpoint::WholeCard
                             ? tr("Restored the card from %1").arg(source)
                             : tr("Copied %1 onto slot %2").arg(source).arg(request.destination.song + 1);
    if (request.bytesWritten < 0)
        return done + QLatin1Char('.');
    const auto megabytes = [](qint64 bytes) {
        const qint64 whole = (bytes + 500000) / 1000000;
        return bytes > 0 && whole == 0 ? tr("less than 1 MB") : tr("%1 MB").arg(whole);
    };
    return tr("%1: %2 written, %3 already the same.")
        .arg(done, megabytes(request.bytesWritten), megabytes(request.bytesUnchanged));
}

bool SongTransfer::event(QEvent *event)
{
    const int type = event->type();
    if (type < StartedEventType || type > ErrorEventType)
        return QObject::event(event);
    // A worker's RequestEvent shares the number 1000; it does not belong here.
    const auto *status = dynamic_cast<const StatusEvent *>(event);
    if (!status)
        return QObject::event(event);

    Request *request = status->request().get();
    switch (type) {
    case StartedEventType:
        emit started(request);
        break;
    case ProgressEventType:
        if (const auto *report = dynamic_cast<const ProgressEvent *>(status)) {
            const double fraction =
                progressFraction(report->song(), report->songCount(), report->done(), report->total());
            emit progress(report->song(), float(fraction), request);
        }
        break;
    case FinishedEventType:
        emit finished(request);
        break;
    case ErrorEventType:
        emit error(request);
        break;
    }
    event->accept();
    return true;
}

} // namespace ZovaZode
