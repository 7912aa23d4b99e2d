// The transfer dialog: titles and endpoint texts, when it appears, progress, the outcomes
// (finished, failed, cancelled), keeping itself open while a transfer runs, and blocking the
// other windows exactly while a transfer runs.
#include "views/transferdialog.h"

#include "transfer/songtransfer.h"
#include "views/modaleventfilter.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace ZovaZode;

namespace {

using Endpoint = SongTransfer::Endpoint;
using Request = SongTransfer::Request;

const QString kCardPath = QStringLiteral("/media/ZOVAZODE/ZOVAZODE.DAT");
const QString kArchivePath = QStringLiteral("/home/me/Morv/Gig.mlad");
const QString kWriteProtection = QStringLiteral("An error occured.\n"
                                                "This may be due to SD card write protection.\n"
                                                "Please check the card and try again.");

std::shared_ptr<Request> makeRequest(qint32 sourceKind, qint32 sourceSong, qint32 destinationKind,
                                     qint32 destinationSong)
{
    auto request = std::make_shared<Request>();
    request->source.kind = sourceKind;
    request->source.path = sourceKind == Endpoint::Card ? kCardPath : kArchivePath;
    request->source.song = sourceSong;
    request->destination.kind = destinationKind;
    request->destination.path = destinationKind == Endpoint::Card ? kCardPath : kArchivePath;
    request->destination.song = destinationSong;
    return request;
}

std::shared_ptr<Request> archiveCardRequest()
{
    return makeRequest(Endpoint::Card, -1, Endpoint::ArchiveFile, -1);
}

// Counts the presses and releases that reach it.
class Target : public QWidget
{
public:
    int presses = 0;
    int releases = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
    void mouseReleaseEvent(QMouseEvent *) override { ++releases; }
};

void click(QWidget *widget)
{
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
}

struct Fixture
{
    SongTransfer transfer{nullptr};
    QWidget window;
    TransferDialog dialog{&transfer, &window};

    Fixture() { dialog.setModal(true); }

    QPushButton *ok() const { return dialog.buttonBox()->button(QDialogButtonBox::Ok); }
    QPushButton *cancel() const { return dialog.buttonBox()->button(QDialogButtonBox::Cancel); }
    QString status() const { return dialog.statusLabel()->text(); }

    // Starts a request and lets the first check find it slow.
    void startShown(Request *request)
    {
        emit transfer.started(request);
        dialog.checkVisibility(200);
        QVERIFY(dialog.isVisible());
    }
};

} // namespace

class TestTransferDialog : public QObject
{
    Q_OBJECT

private slots:
    void start_data();
    void start();
    void visibility_data();
    void visibility();
    void progress_data();
    void progress();
    void finished();
    void failure_data();
    void failure();
    void cancel();
    void staysOpenWhileRunning_data();
    void staysOpenWhileRunning();
    void otherWindowsBlockedWhileRunning();
};

void TestTransferDialog::start_data()
{
    QTest::addColumn<int>("sourceKind");
    QTest::addColumn<int>("sourceSong");
    QTest::addColumn<int>("destinationKind");
    QTest::addColumn<int>("destinationSong");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("destination");

    const int card = Endpoint::Card;
    const int file = Endpoint::ArchiveFile;
    // clang-format off
    QTest::newRow("archive card")    << card << -1 << file << -1 << "Archiving Card"          << "Card: " + kCardPath                 << "Archive: " + kArchivePath;
    QTest::newRow("restore card")    << file << -1 << card << -1 << "Restoring Card"          << "Archive: " + kArchivePath           << "Card: " + kCardPath;
    QTest::newRow("song to library") << card << 4  << file << -1 << "Copying Song to Library" << "Song 5 on card: " + kCardPath       << "Archive: " + kArchivePath;
    QTest::newRow("song to card")    << file << 0  << card << 11 << "Copying Song to Card"    << "Song 1 in archive: " + kArchivePath << "Song 12 on card: " + kCardPath;
    // clang-format on
}

void TestTransferDialog::start()
{
    QFETCH(int, sourceKind);
    QFETCH(int, sourceSong);
    QFETCH(int, destinationKind);
    QFETCH(int, destinationSong);
    QFETCH(QString, title);
    QFETCH(QString, source);
    QFETCH(QString, destination);

    Fixture fixture;
    // Whatever an earlier transfer left must go.
    const auto earlier = archiveCardRequest();
    emit fixture.transfer.started(earlier.get());
    emit fixture.transfer.progress(3, 0.7f, earlier.get());
    emit fixture.transfer.finished(earlier.get());

    const auto request = makeRequest(sourceKind, sourceSong, destinationKind, destinationSong);
    emit fixture.transfer.started(request.get());

    QCOMPARE(fixture.dialog.windowTitle(), title);
    QCOMPARE(fixture.dialog.sourceLabel()->text(), source);
    QCOMPARE(fixture.dialog.destinationLabel()->text(), destination);
    QCOMPARE(fixture.status(), QStringLiteral("In progress..."));
    QCOMPARE(fixture.dialog.progressBar()->value(), 0);
    QCOMPARE(fixture.dialog.currentRequest(), request.get());
    QVERIFY(fixture.dialog.isRunning());
    QVERIFY(fixture.ok()->isHidden());
    QVERIFY(!fixture.cancel()->isHidden());
    QVERIFY(fixture.dialog.modalEventFilter()->isInstalled());
    QVERIFY(fixture.dialog.showTimer()->isActive());
    QCOMPARE(fixture.dialog.showTimer()->interval(), 200);
    QVERIFY(!fixture.dialog.closeTimer()->isActive());
    // Hidden until a check finds the transfer slow.
    QVERIFY(!fixture.dialog.isVisible());
}

void TestTransferDialog::visibility_data()
{
    QTest::addColumn<float>("fraction");
    QTest::addColumn<qint64>("elapsed");
    QTest::addColumn<bool>("shown");

    // clang-format off
    QTest::newRow("0.5 at 200 ms")      << 0.5f << qint64(200) << false;
    QTest::newRow("0.3 at 200 ms")      << 0.3f << qint64(200) << true;
    QTest::newRow("0.5 at 250 ms")      << 0.5f << qint64(250) << false;
    QTest::newRow("0.5 at 251 ms")      << 0.5f << qint64(251) << true;
    QTest::newRow("nothing at 200 ms")  << 0.0f << qint64(200) << true;
    QTest::newRow("all done at 400 ms") << 1.0f << qint64(400) << false;
    QTest::newRow("0.5 at once")        << 0.5f << qint64(0)   << false;
    // clang-format on
}

void TestTransferDialog::visibility()
{
    QFETCH(float, fraction);
    QFETCH(qint64, elapsed);
    QFETCH(bool, shown);

    QCOMPARE(TransferDialog::isSlow(fraction, elapsed), shown);

    Fixture fixture;
    const auto request = makeRequest(Endpoint::ArchiveFile, 2, Endpoint::Card, 3);
    emit fixture.transfer.started(request.get());
    emit fixture.transfer.progress(0, fraction, request.get());
    fixture.dialog.checkVisibility(elapsed);
    QCOMPARE(fixture.dialog.isVisible(), shown);
    QCOMPARE(fixture.dialog.isModal(), true);

    // Once shown, later checks leave it shown.
    fixture.dialog.checkVisibility(1);
    QCOMPARE(fixture.dialog.isVisible(), shown);
}

void TestTransferDialog::progress_data()
{
    QTest::addColumn<int>("sourceSong");
    QTest::addColumn<int>("song");
    QTest::addColumn<float>("fraction");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("bar");

    // clang-format off
    QTest::newRow("whole card, song 3")  << -1 << 2  << 0.4567f << "Song # 3"       << 456;
    QTest::newRow("whole card, song 12") << -1 << 11 << 0.9999f << "Song # 12"      << 999;
    QTest::newRow("song copy")           << 4  << 0  << 0.5f    << "In progress..." << 500;
    QTest::newRow("song copy, all done") << 4  << 0  << 1.0f    << "In progress..." << 1000;
    QTest::newRow("beyond the end")      << -1 << 0  << 1.5f    << "Song # 1"       << 1000;
    QTest::newRow("below the start")     << 4  << 0  << -0.5f   << "In progress..." << 0;
    // clang-format on
}

void TestTransferDialog::progress()
{
    QFETCH(int, sourceSong);
    QFETCH(int, song);
    QFETCH(float, fraction);
    QFETCH(QString, status);
    QFETCH(int, bar);

    Fixture fixture;
    const auto request = makeRequest(Endpoint::Card, sourceSong, Endpoint::ArchiveFile, -1);
    emit fixture.transfer.started(request.get());
    emit fixture.transfer.progress(5, 0.25f, request.get());
    emit fixture.transfer.progress(song, fraction, request.get());
    QCOMPARE(fixture.status(), status);
    QCOMPARE(fixture.dialog.progressBar()->value(), bar);
}

void TestTransferDialog::finished()
{
    Fixture fixture;
    const auto request = archiveCardRequest();
    fixture.startShown(request.get());
    emit fixture.transfer.progress(4, 0.4f, request.get());
    emit fixture.transfer.finished(request.get());

    QCOMPARE(fixture.status(), QStringLiteral("Finished."));
    QCOMPARE(fixture.dialog.progressBar()->value(), 1000);
    QCOMPARE(fixture.dialog.currentRequest(), nullptr);
    QVERIFY(!fixture.dialog.isRunning());
    QVERIFY(!fixture.ok()->isHidden());
    QVERIFY(fixture.cancel()->isHidden());
    QVERIFY(!fixture.dialog.modalEventFilter()->isInstalled());
    QVERIFY(!fixture.dialog.showTimer()->isActive());
    QVERIFY(fixture.dialog.closeTimer()->isActive());
    QVERIFY(fixture.dialog.closeTimer()->isSingleShot());
    QCOMPARE(fixture.dialog.closeTimer()->interval(), 400);
    QVERIFY(fixture.dialog.isVisible());
    QTRY_VERIFY(!fixture.dialog.isVisible());

    // A transfer that ends before the dialog appears leaves it hidden.
    const auto quick = archiveCardRequest();
    emit fixture.transfer.started(quick.get());
    emit fixture.transfer.finished(quick.get());
    QVERIFY(!fixture.dialog.isVisible());
    QVERIFY(!fixture.dialog.showTimer()->isActive());
}

void TestTransferDialog::failure_data()
{
    QTest::addColumn<int>("sourceKind");
    QTest::addColumn<int>("sourceSong");
    QTest::addColumn<int>("destinationKind");
    QTest::addColumn<int>("destinationSong");
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<bool>("shownBefore");
    QTest::addColumn<QString>("status");

    const int card = Endpoint::Card;
    const int file = Endpoint::ArchiveFile;
    // clang-format off
    QTest::newRow("song to card")            << file << 0  << card << 3  << false << true  << kWriteProtection;
    QTest::newRow("restore card")            << file << -1 << card << -1 << false << true  << kWriteProtection;
    QTest::newRow("song to library")         << card << 3  << file << -1 << false << true  << "An error occured.";
    QTest::newRow("archive card")            << card << -1 << file << -1 << false << true  << "An error occured.";
    QTest::newRow("cancelled restore")       << file << -1 << card << -1 << true  << true  << "Cancelled.";
    QTest::newRow("cancelled archive")       << card << -1 << file << -1 << true  << true  << "Cancelled.";
    QTest::newRow("failed before it showed") << file << 0  << card << 3  << false << false << kWriteProtection;
    // clang-format on
}

void TestTransferDialog::failure()
{
    QFETCH(int, sourceKind);
    QFETCH(int, sourceSong);
    QFETCH(int, destinationKind);
    QFETCH(int, destinationSong);
    QFETCH(bool, cancelled);
    QFETCH(bool, shownBefore);
    QFETCH(QString, status);

    Fixture fixture;
    const auto request = makeRequest(sourceKind, sourceSong, destinationKind, destinationSong);
    if (shownBefore)
        fixture.startShown(request.get());
    else
        emit fixture.transfer.started(request.get());
    request->cancelled = cancelled;
    emit fixture.transfer.error(request.get());

    QCOMPARE(fixture.status(), status);
    QCOMPARE(fixture.dialog.currentRequest(), nullptr);
    QVERIFY(!fixture.dialog.isRunning());
    QVERIFY(!fixture.ok()->isHidden());
    QVERIFY(fixture.cancel()->isHidden());
    QVERIFY(!fixture.dialog.modalEventFilter()->isInstalled());
    QVERIFY(!fixture.dialog.showTimer()->isActive());
    QVERIFY(!fixture.dialog.closeTimer()->isActive());
    // The outcome stays until the user has read it.
    QVERIFY(fixture.dialog.isVisible());
    QTest::mouseClick(fixture.ok(), Qt::LeftButton);
    QVERIFY(!fixture.dialog.isVisible());
}

void TestTransferDialog::cancel()
{
    Fixture fixture;
    const auto request = archiveCardRequest();
    fixture.startShown(request.get());

    QTest::mouseClick(fixture.cancel(), Qt::LeftButton);
    QVERIFY(request->cancelled.load());
    QVERIFY(fixture.dialog.isVisible());
    QVERIFY(fixture.dialog.isRunning());

    // The worker stops at its next report and the request ends with an error.
    emit fixture.transfer.error(request.get());
    QCOMPARE(fixture.status(), QStringLiteral("Cancelled."));
    QVERIFY(!fixture.ok()->isHidden());
    QVERIFY(fixture.cancel()->isHidden());

    // Nothing is running any more: Cancel touches no request.
    request->cancelled = false;
    fixture.cancel()->click();
    QVERIFY(!request->cancelled.load());
}

void TestTransferDialog::staysOpenWhileRunning_data()
{
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<bool>("running");
    QTest::addColumn<bool>("open");

    // clang-format off
    QTest::newRow("Escape while running")       << "escape" << true  << true;
    QTest::newRow("close button while running") << "close"  << true  << true;
    QTest::newRow("accept while running")       << "accept" << true  << true;
    QTest::newRow("Escape after the end")       << "escape" << false << false;
    QTest::newRow("close button after the end") << "close"  << false << false;
    // clang-format on
}

void TestTransferDialog::staysOpenWhileRunning()
{
    QFETCH(QString, gesture);
    QFETCH(bool, running);
    QFETCH(bool, open);

    Fixture fixture;
    const auto request = archiveCardRequest();
    fixture.startShown(request.get());
    if (!running)
        emit fixture.transfer.error(request.get());
    QVERIFY(QTest::qWaitForWindowExposed(&fixture.dialog));

    if (gesture == "escape")
        QTest::keyClick(&fixture.dialog, Qt::Key_Escape);
    else if (gesture == "close")
        fixture.dialog.close();
    else
        fixture.dialog.accept();
    QCOMPARE(fixture.dialog.isVisible(), open);
    QVERIFY(!request->cancelled.load());
}

void TestTransferDialog::otherWindowsBlockedWhileRunning()
{
    Fixture fixture;
    Target other;
    other.resize(100, 100);
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    Target *inside = new Target;
    inside->setParent(&fixture.dialog);

    const auto request = archiveCardRequest();
    fixture.startShown(request.get());
    QVERIFY(QTest::qWaitForWindowExposed(&fixture.dialog));

    click(&other);
    QCOMPARE(other.presses, 0);
    QCOMPARE(other.releases, 1);
    click(inside);
    QCOMPARE(inside->presses, 1);
    QCOMPARE(inside->releases, 1);

    emit fixture.transfer.finished(request.get());
    click(&other);
    QCOMPARE(other.presses, 1);
    QCOMPARE(other.releases, 2);
}

QTEST_MAIN(TestTransferDialog)
#include "tst_transferdialog.moc"
