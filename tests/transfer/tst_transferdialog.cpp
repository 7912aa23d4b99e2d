// The transfer dialog driven by the transfer's signals: its texts for each kind of request and
// each outcome (a read-back stopped or failed too), the Cancel button, and that while a transfer
// runs it stays open and the other windows take no input.
#include "views/transferdialog.h"

#include "transfer/songtransfer.h"
#include "views/modaleventfilter.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace ZovaZode;
using Endpoint = SongTransfer::Endpoint;

namespace {

const QString kCard = QStringLiteral("/media/ZOVAZODE/ZOVAZODE.DAT"),
              kFile = QStringLiteral("/home/me/Gig.mlad");

} // namespace

class TestTransferDialog : public QObject
{
    Q_OBJECT

private slots:
    void outcomes_data();
    void outcomes();
};

void TestTransferDialog::outcomes_data()
{
    QTest::addColumn<int>("from"); // source song, -1 for the whole card
    QTest::addColumn<int>("to");   // destination song
    QTest::addColumn<bool>("toCard");
    // "finished", "cancel" (the user presses Cancel), "unchecked" (the read-back stopped by the
    // user), or "error" ("cardError" when the card failed) and the request's error text
    QTest::addColumn<QString>("ending");
    QTest::addColumn<QStringList>("texts"); // title, source, destination, status after the ending
    const QString protection = "An error occured.\nThis may be due to SD card write protection.\nPlease "
                               "check the card and try again.";
    const QString skipped = "Finished without verification.\nThe %1; verification was skipped at your request.";
    const QString differs = "song 3, part 2, looper audio at byte 1,234,567 differs from the original.";
    const QStringList songToLibrary{"Copying Song to Library", "Song 5 on card: " + kCard, "Archive: " + kFile};
    // clang-format off
    //                                  from   to    toCard   ending                                           texts
    QTest::newRow("archive card")    << -1 << -1 << false << "finished"                                 << QStringList{"Archiving Card", "Card: " + kCard, "Archive: " + kFile, "Finished."};
    QTest::newRow("restore card")    << -1 << -1 << true  << "cardErrorRead-only file system"          << QStringList{"Restoring Card", "Archive: " + kFile, "Card: " + kCard, protection + "\n\nRead-only file system"};
    QTest::newRow("archive unread")  << -1 << -1 << true  << "errorError reading archive header."     << QStringList{"Restoring Card", "Archive: " + kFile, "Card: " + kCard, "An error occured.\n\nError reading archive header."};
    QTest::newRow("song to library") << 4  << -1 << false << "errorError writing looper audio to archive" << (QStringList(songToLibrary) << "An error occured.\n\nError writing looper audio to archive");
    QTest::newRow("song to card")    << 0  << 11 << true  << "cancel"                                   << QStringList{"Copying Song to Card", "Song 1 in archive: " + kFile, "Song 12 on card: " + kCard, "Cancelled."};
    QTest::newRow("unchecked card")  << -1 << -1 << true  << "unchecked"                                << QStringList{"Restoring Card", "Archive: " + kFile, "Card: " + kCard, skipped.arg("card was written completely")};
    QTest::newRow("unchecked copy")  << 4  << -1 << false << "unchecked"                                << (QStringList(songToLibrary) << skipped.arg("copy was saved under its name"));
    QTest::newRow("copy differs")    << 4  << -1 << false << "errorVerification failed: " + differs     << (QStringList(songToLibrary) << "Verification failed: the copy differs from the original.\nVerification failed: " + differs);
    // clang-format on
}

void TestTransferDialog::outcomes()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(bool, toCard);
    QFETCH(QString, ending);
    QFETCH(QStringList, texts);

    SongTransfer transfer(nullptr);
    QWidget other;
    other.show();
    TransferDialog dialog(&transfer, &other);
    auto request = std::make_shared<SongTransfer::Request>();
    request->source = toCard ? Endpoint::archive(kFile, from) : Endpoint::card(kCard, from);
    request->destination = toCard ? Endpoint::card(kCard, to) : Endpoint::archive(kFile, to);
    request->verify = ending == "unchecked" || ending.startsWith("errorVerification");
    QPushButton *cancel = dialog.buttonBox()->button(QDialogButtonBox::Cancel);

    emit transfer.started(request.get());
    QCOMPARE(QStringList({dialog.windowTitle(), dialog.sourceLabel()->text(),
                          dialog.destinationLabel()->text(), dialog.statusLabel()->text()}),
             texts.mid(0, 3) << "In progress...");
    QVERIFY(!dialog.isVisible());
    dialog.checkVisibility(200); // nothing reported after 200 ms: slow enough to show
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.modalEventFilter()->isInstalled());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY2(dialog.isVisible(), "a running transfer keeps its dialog open");
    emit transfer.progress(2, 0.4567f, request.get());
    QCOMPARE(dialog.statusLabel()->text(), from < 0 ? QString("Song # 3") : QString("In progress..."));
    if (request->verify) {
        request->phase = 1;
        SongTransfer::ProgressEvent event(request, 0, 0, 10, 20);
        QCoreApplication::sendEvent(&transfer, &event);
        QCOMPARE(dialog.statusLabel()->text(), QStringLiteral("Verifying..."));
    }

    if (ending == "cancel" || ending == "unchecked") {
        QTest::mouseClick(cancel, Qt::LeftButton);
        QVERIFY(request->cancelled);
        QVERIFY(dialog.isRunning());
    }
    if (ending == "unchecked")
        request->verification = SongTransfer::Request::Verification::Skipped;
    request->cardFailed = ending.startsWith("cardError");
    request->errorText = ending.mid(request->cardFailed ? 9 : 5);
    if (ending == "finished" || ending == "unchecked")
        emit transfer.finished(request.get());
    else
        emit transfer.error(request.get());
    QCOMPARE(dialog.statusLabel()->text(), texts[3]);
    QVERIFY(!dialog.isRunning());
    QVERIFY(!dialog.modalEventFilter()->isInstalled());
    QVERIFY(cancel->isHidden());
    // A finished transfer closes its dialog by itself; anything else waits until the user has read it.
    QCOMPARE(dialog.closeTimer()->isActive(), ending == "finished");
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
}

MORV_TEST_MAIN(TestTransferDialog)
#include "tst_transferdialog.moc"
