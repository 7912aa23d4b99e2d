// The transfer dialog's second phase and its speed line: the verification restarting the bar
// under "Verifying...", the bytes counted from the worker's reports across songs, the speed and
// time-left texts, and the outcome of a failed verification.
#include "transfer/songtransfer.h"
#include "views/transferdialog.h"

#include <QLabel>
#include <QProgressBar>
#include <QtTest>

#include <memory>

using namespace ZovaZode;

namespace {

using Endpoint = SongTransfer::Endpoint;
using Request = SongTransfer::Request;

std::shared_ptr<Request> makeRequest(bool wholeCard)
{
    auto request = std::make_shared<Request>();
    request->source.kind = Endpoint::Card;
    request->source.path = QStringLiteral("/media/ZOVAZODE/ZOVAZODE.DAT");
    request->source.song = wholeCard ? Endpoint::WholeCard : 2;
    request->destination.kind = Endpoint::ArchiveFile;
    request->destination.path = QStringLiteral("/home/me/Morv/Gig.mlad");
    request->destination.song = wholeCard ? Endpoint::WholeCard : 0;
    request->verify = true;
    return request;
}

// Delivered the way the worker's reports are: through the transfer's event handling.
void report(SongTransfer &transfer, const std::shared_ptr<Request> &request, int song, int done, int total)
{
    const bool wholeCard = request->isWholeCard();
    SongTransfer::ProgressEvent event(request, wholeCard ? song : 0, wholeCard ? 12 : 0, done, total);
    QCoreApplication::sendEvent(&transfer, &event);
}

} // namespace

class TestTransferProgress : public QObject
{
    Q_OBJECT

private slots:
    void rateText_data();
    void rateText();
    void phases_data();
    void phases();
    void outcome_data();
    void outcome();
};

void TestTransferProgress::rateText_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<float>("fraction");
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<QString>("text");
    // clang-format off
    QTest::newRow("before a second")    << qint64(50000000)   << 0.5f   << qint64(999)    << "";
    QTest::newRow("at a second")        << qint64(12300000)   << 0.5f   << qint64(1000)   << "12.3 MB/s, about 1 s left";
    QTest::newRow("minutes left")       << qint64(100000000)  << 0.2f   << qint64(20000)  << "5.0 MB/s, about 1 min 20 s left";
    QTest::newRow("hours left")         << qint64(1000000)    << 0.01f  << qint64(100000) << "0.0 MB/s, about 2 h 45 min left";
    QTest::newRow("nothing done yet")   << qint64(0)          << 0.0f   << qint64(3000)   << "0.0 MB/s";
    QTest::newRow("complete")           << qint64(30000000)   << 1.0f   << qint64(2000)   << "15.0 MB/s, about 0 s left";
    QTest::newRow("stray fraction")     << qint64(30000000)   << 1.5f   << qint64(2000)   << "15.0 MB/s";
    // clang-format on
}

void TestTransferProgress::rateText()
{
    QFETCH(qint64, bytes);
    QFETCH(float, fraction);
    QFETCH(qint64, elapsedMs);
    QFETCH(QString, text);
    QCOMPARE(TransferDialog::rateText(bytes, fraction, elapsedMs), text);
}

void TestTransferProgress::phases_data()
{
    QTest::addColumn<bool>("wholeCard");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("status"); // after the transfer phase's reports
    QTest::addColumn<qint64>("bytes");   // counted in the transfer phase
    // clang-format off
    QTest::newRow("whole card") << true  << "Archiving Card"          << "Song # 2"       << qint64(2500000);
    QTest::newRow("one song")   << false << "Copying Song to Library" << "In progress..." << qint64(1500000);
    // clang-format on
}

void TestTransferProgress::phases()
{
    QFETCH(bool, wholeCard);
    QFETCH(QString, title);
    QFETCH(QString, status);
    QFETCH(qint64, bytes);

    SongTransfer transfer(nullptr);
    TransferDialog dialog(&transfer);
    const auto request = makeRequest(wholeCard);
    emit transfer.started(request.get());
    QCOMPARE(dialog.rateLabel()->text(), QString());

    report(transfer, request, 0, 1000000, 2000000);
    report(transfer, request, 0, 2000000, 2000000);
    report(transfer, request, 1, 500000, 1000000);
    if (!wholeCard)
        report(transfer, request, 0, 1500000, 2000000);
    QCOMPARE(dialog.phase(), 0);
    QCOMPARE(dialog.phaseBytes(), bytes);
    QCOMPARE(dialog.statusLabel()->text(), status);
    QVERIFY(dialog.progressBar()->value() > 0);
    dialog.updateRate(500);
    QCOMPARE(dialog.rateLabel()->text(), QString());
    dialog.updateRate(2000);
    QVERIFY2(dialog.rateLabel()->text().startsWith(
                 QStringLiteral("%1 MB/s, about ").arg(double(bytes) / 2e6, 0, 'f', 1)),
             qPrintable(dialog.rateLabel()->text()));

    // The worker sets the phase before the first report of the read-back.
    request->phase = 1;
    report(transfer, request, 0, 100000, 2000000);
    QCOMPARE(dialog.phase(), 1);
    QCOMPARE(dialog.statusLabel()->text(), QStringLiteral("Verifying..."));
    QCOMPARE(dialog.windowTitle(), title);
    QCOMPARE(dialog.phaseBytes(), qint64(100000));
    const int expected = wholeCard ? 4 : 50; // 1/12 of 5 %, or 5 %, of 1000 steps
    QCOMPARE(dialog.progressBar()->value(), expected);
    QCOMPARE(dialog.rateLabel()->text(), QString());
    dialog.updateRate(1000);
    QVERIFY2(dialog.rateLabel()->text().startsWith(QStringLiteral("0.1 MB/s, about ")),
             qPrintable(dialog.rateLabel()->text()));

    // Reports of another request leave the counts alone.
    const auto other = makeRequest(wholeCard);
    report(transfer, other, 5, 900000, 1000000);
    QCOMPARE(dialog.phaseBytes(), qint64(100000));

    emit transfer.finished(request.get());
    QCOMPARE(dialog.statusLabel()->text(), QStringLiteral("Finished."));
    QCOMPARE(dialog.rateLabel()->text(), QString());

    // The next request starts in the transfer phase again.
    const auto next = makeRequest(wholeCard);
    emit transfer.started(next.get());
    QCOMPARE(dialog.phase(), 0);
    QCOMPARE(dialog.phaseBytes(), qint64(0));
    QCOMPARE(dialog.statusLabel()->text(), QStringLiteral("In progress..."));
}

void TestTransferProgress::outcome_data()
{
    QTest::addColumn<QString>("errorText"); // empty: finished, the read-back stopped by the user
    QTest::addColumn<bool>("toCard");
    QTest::addColumn<QString>("status");
    // clang-format off
    QTest::newRow("unchecked card")          << "" << true
        << "Finished without verification.\nThe card was written completely; verification was skipped at your request.";
    QTest::newRow("unchecked copy")          << "" << false
        << "Finished without verification.\nThe copy was saved under its name; verification was skipped at your request.";
    QTest::newRow("verification to library") << "Verification failed: song 3, part 2, looper audio at byte 1,234,567 differs from the original." << false
        << "Verification failed: the copy differs from the original.\nVerification failed: song 3, part 2, looper audio at byte 1,234,567 differs from the original.";
    QTest::newRow("verification to card")    << "Verification failed: card header name differs from the original." << true
        << "Verification failed: the copy differs from the original.\nVerification failed: card header name differs from the original.";
    QTest::newRow("other error")             << "Error writing looper audio to archive" << false << "An error occured.";
    // clang-format on
}

void TestTransferProgress::outcome()
{
    QFETCH(QString, errorText);
    QFETCH(bool, toCard);
    QFETCH(QString, status);

    SongTransfer transfer(nullptr);
    QWidget window;
    TransferDialog dialog(&transfer, &window);
    auto request = makeRequest(false);
    if (toCard)
        std::swap(request->source, request->destination);
    emit transfer.started(request.get());
    request->phase = 1;
    report(transfer, request, 0, 10, 20);
    if (errorText.isEmpty()) {
        request->cancelled = true;
        request->verification = Request::Verification::Skipped;
        emit transfer.finished(request.get());
    } else {
        request->errorText = errorText;
        emit transfer.error(request.get());
    }
    QCOMPARE(dialog.statusLabel()->text(), status);
    // It stays until the user has read it.
    QVERIFY(dialog.isVisible());
    QVERIFY(!dialog.closeTimer()->isActive());
    QVERIFY(!dialog.isRunning());
}

QTEST_MAIN(TestTransferProgress)
#include "tst_transferprogress.moc"
