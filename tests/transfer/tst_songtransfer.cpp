// SongTransfer on its own: the progress fraction, the reports that become signals, the hand-over
// of a request to the worker, and the lifetime of the worker in its thread.
#include "transfer/songtransfer.h"
#include "transfer/songtransferworker.h"
#include "transfer/songtransferworkerthread.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>

using namespace ZovaZode;
using Request = SongTransfer::Request;

class TestSongTransfer : public QObject
{
    Q_OBJECT

private slots:
    void progressFraction_data();
    void progressFraction();
    void reports_data();
    void reports();
    void newProgressEventIsZero();
    void submitQueuesTheRequest();
    void submitIgnoresAnEmptyRequest();
    void threadOwnsItsWorker_data();
    void threadOwnsItsWorker();
};

void TestSongTransfer::progressFraction_data()
{
    QTest::addColumn<int>("song");
    QTest::addColumn<int>("songCount");
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<double>("fraction");

    const int max = std::numeric_limits<qint32>::max();
    // clang-format off
    QTest::newRow("song, half")            << 0  << 0  << 50    << 100   << 0.5;
    QTest::newRow("song, start")           << 0  << 0  << 0     << 100   << 0.0;
    QTest::newRow("song, end")             << 0  << 0  << 100   << 100   << 1.0;
    QTest::newRow("song, report step")     << 0  << 0  << 10240 << 66560 << 10240.0 / 66560.0;
    QTest::newRow("song, total 0")         << 0  << 0  << 0     << 0     << 1.0;
    QTest::newRow("song, total negative")  << 0  << 0  << 10    << -1    << 0.0;
    QTest::newRow("song, no int overflow") << 0  << 0  << max   << max   << 1.0;
    QTest::newRow("3 songs, 1, half")      << 1  << 3  << 50    << 100   << 0.5;
    QTest::newRow("12 songs, first")       << 0  << 12 << 0     << 100   << 0.0;
    QTest::newRow("12 songs, 11, done")    << 11 << 12 << 100   << 100   << 1.0;
    QTest::newRow("12 songs, 5, total 0")  << 5  << 12 << 0     << 0     << 0.5;
    QTest::newRow("12 songs, 0, total 0")  << 0  << 12 << 0     << 0     << 1.0 / 12.0;
    QTest::newRow("12 songs, 2, negative") << 2  << 12 << 5     << -5    << 2.0 / 12.0;
    // clang-format on
}

void TestSongTransfer::progressFraction()
{
    QFETCH(int, song);
    QFETCH(int, songCount);
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(double, fraction);

    const double result = SongTransfer::progressFraction(song, songCount, done, total);
    QVERIFY(!std::isnan(result));
    QVERIFY2(std::abs(result - fraction) < 1e-12, qPrintable(QString::number(result, 'g', 17)));
}

enum class Report { None, Started, Progress, Finished, Error };
Q_DECLARE_METATYPE(Report)

void TestSongTransfer::reports_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("workerEvent");
    QTest::addColumn<bool>("handled");
    QTest::addColumn<Report>("report");

    // clang-format off
    QTest::newRow("1000 started")       << 1000 << false << true  << Report::Started;
    QTest::newRow("1001 progress")      << 1001 << false << true  << Report::Progress;
    QTest::newRow("1002 finished")      << 1002 << false << true  << Report::Finished;
    QTest::newRow("1003 error")         << 1003 << false << true  << Report::Error;
    QTest::newRow("1000 of the worker") << 1000 << true  << false << Report::None;
    QTest::newRow("1004 not a report")  << 1004 << false << false << Report::None;
    // clang-format on
}

void TestSongTransfer::reports()
{
    QFETCH(int, type);
    QFETCH(bool, workerEvent);
    QFETCH(bool, handled);
    QFETCH(Report, report);

    SongTransfer transfer(nullptr);
    QSignalSpy started(&transfer, &SongTransfer::started);
    QSignalSpy progress(&transfer, &SongTransfer::progress);
    QSignalSpy finished(&transfer, &SongTransfer::finished);
    QSignalSpy error(&transfer, &SongTransfer::error);

    auto request = std::make_shared<Request>();
    std::unique_ptr<QEvent> event;
    if (workerEvent)
        event = std::make_unique<SongTransferWorker::RequestEvent>(request, &transfer);
    else if (type == SongTransfer::ProgressEventType)
        event = std::make_unique<SongTransfer::ProgressEvent>(request, 1, 3, 50, 100);
    else if (type >= SongTransfer::StartedEventType && type <= SongTransfer::ErrorEventType)
        event = std::make_unique<SongTransfer::StatusEvent>(QEvent::Type(type), request);
    else
        event = std::make_unique<QEvent>(QEvent::Type(type));
    event->ignore();

    const bool result = transfer.event(event.get());
    QCOMPARE(event->isAccepted(), handled);
    if (handled)
        QVERIFY(result);
    QCOMPARE(started.count(), report == Report::Started ? 1 : 0);
    QCOMPARE(progress.count(), report == Report::Progress ? 1 : 0);
    QCOMPARE(finished.count(), report == Report::Finished ? 1 : 0);
    QCOMPARE(error.count(), report == Report::Error ? 1 : 0);

    QSignalSpy *emitted = report == Report::Started    ? &started
                          : report == Report::Progress ? &progress
                          : report == Report::Finished ? &finished
                          : report == Report::Error    ? &error
                                                       : nullptr;
    if (!emitted)
        return;
    const QList<QVariant> arguments = emitted->takeFirst();
    QCOMPARE(arguments.last().value<Request *>(), request.get());
    if (report == Report::Progress) {
        QCOMPARE(arguments.at(0).toInt(), 1);
        QCOMPARE(arguments.at(1).toFloat(), 0.5f);
    }
}

void TestSongTransfer::newProgressEventIsZero()
{
    const SongTransfer::ProgressEvent event(std::make_shared<Request>());
    QCOMPARE(int(event.type()), 1001);
    QCOMPARE(event.song(), 0);
    QCOMPARE(event.songCount(), 0);
    QCOMPARE(event.done(), 0);
    QCOMPARE(event.total(), 0);
}

void TestSongTransfer::submitQueuesTheRequest()
{
    // A whole-card request between two cards does nothing, so the worker can run it right here.
    SongTransferWorker worker;
    SongTransfer transfer(&worker);
    QStringList reports;
    connect(&transfer, &SongTransfer::started, this, [&] { reports << "started"; });
    connect(&transfer, &SongTransfer::finished, this, [&] { reports << "finished"; });
    connect(&transfer, &SongTransfer::error, this, [&] { reports << "error"; });

    auto request = std::make_shared<Request>();
    request->source.kind = SongTransfer::Endpoint::Card;
    request->destination.kind = SongTransfer::Endpoint::Card;
    std::weak_ptr<Request> alive = request;
    transfer.submit(request);
    request.reset();

    QVERIFY(reports.isEmpty());
    QVERIFY2(!alive.expired(), "the queued event keeps the request alive");
    QCoreApplication::sendPostedEvents(&worker);
    QVERIFY(reports.isEmpty());
    QCoreApplication::sendPostedEvents(&transfer);
    QCOMPARE(reports, QStringList({"started", "finished"}));
    QVERIFY2(alive.expired(), "delivered events release the request");
}

void TestSongTransfer::submitIgnoresAnEmptyRequest()
{
    SongTransferWorker worker;
    SongTransfer transfer(&worker);
    QSignalSpy started(&transfer, &SongTransfer::started);
    QTest::ignoreMessage(QtWarningMsg, "Transfer: Ignoring an empty request.");
    transfer.submit(nullptr);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(started.count(), 0);
}

void TestSongTransfer::threadOwnsItsWorker_data()
{
    QTest::addColumn<bool>("start");
    // clang-format off
    QTest::newRow("never started") << false;
    QTest::newRow("started")       << true;
    // clang-format on
}

void TestSongTransfer::threadOwnsItsWorker()
{
    QFETCH(bool, start);

    auto thread = std::make_unique<SongTransferWorkerThread>();
    QPointer<SongTransferWorker> worker = thread->worker();
    QVERIFY(worker);
    QCOMPARE(worker->thread(), thread.get());
    QCOMPARE(worker->parent(), nullptr);
    if (start) {
        thread->start();
        QTRY_VERIFY(thread->isRunning());
    }
    thread.reset();
    QVERIFY2(worker.isNull(), "the worker goes with its thread");
}

QTEST_GUILESS_MAIN(TestSongTransfer)
#include "tst_songtransfer.moc"
