// The librarian view's transfers: the four started from their commands and from drops on the real
// widgets, each ending with the card or the library item brought up to date; drops that name no
// slot; the name prompts for new library files.
#include "support/libraryfixture.h"

#include "views/cardbox.h"
#include "views/sdcardheaderview.h"
#include "views/transferdialog.h"

#include <QLabel>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

namespace {

QString exists(const QString &file, const char *library, const char *what)
{
    return QStringLiteral("A file named \"%1\" already exists in this %2 library folder.\n\nPlease enter a "
                          "different name for the new %3:")
        .arg(file, QLatin1String(library), QLatin1String(what));
}

} // namespace

class TestLibrarianTransfers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_configuration = librarianConfiguration("tst_librariantransfers"); }
    void transfers_data();
    void transfers();
    void namePrompts_data();
    void namePrompts();

private:
    std::unique_ptr<ConfigurationManager> m_configuration;
};

void TestLibrarianTransfers::transfers_data()
{
    QTest::addColumn<QString>("gesture");  // a command, or "drop <what> <where>"
    QTest::addColumn<QString>("selected"); // in the libraries
    QTest::addColumn<QString>("dialog");   // the progress dialog's title|source|destination, or none

    // clang-format off
    //                                           gesture              selected          dialog
    QTest::newRow("archive card")             << "archive"         << ""             << "Archiving Card|Card: %card|Archive: %cards/Gig.mlad";
    QTest::newRow("restore card")             << "restore"         << "cards/B.mlad" << "Restoring Card|Archive: %cards/B.mlad|Card: %card";
    QTest::newRow("drop archive on card")     << "drop item box"   << "cards/B.mlad" << "Restoring Card|Archive: %cards/B.mlad|Card: %card";
    QTest::newRow("copy song to library")     << "to library"      << ""             << "Copying Song to Library|Song 3 on card: %card|Archive: %songs/Verse.mlsd";
    QTest::newRow("drop card song on folder") << "drop song tree"  << "songs/Sets"   << "Copying Song to Library|Song 3 on card: %card|Archive: %songs/Sets/Verse.mlsd";
    QTest::newRow("copy song to card")        << "to card"         << "songs/x.mlsd" << "Copying Song to Card|Song 1 in archive: %songs/x.mlsd|Song 4 on card: %card";
    QTest::newRow("drop song on slot 4")      << "drop item slot"  << "songs/x.mlsd" << "Copying Song to Card|Song 1 in archive: %songs/x.mlsd|Song 4 on card: %card";
    QTest::newRow("drop below the last row")  << "drop item below" << "songs/x.mlsd" << "";
    QTest::newRow("song file on the card")    << "drop item box"   << "songs/x.mlsd" << "";
    QTest::newRow("slot the card lacks")      << "to slot 12"      << "songs/x.mlsd" << "";
    // clang-format on
}

void TestLibrarianTransfers::transfers()
{
    QFETCH(QString, gesture);
    QFETCH(QString, selected);
    QFETCH(QString, dialog);

    Librarian librarian("Stale");
    LibrarianView &view = *librarian.view;
    librarian.image.writeSong(2, sampleSong(2, 1, "Verse"));
    QDir(librarian.songLibrary).mkdir(QStringLiteral("Sets"));
    writeArchive(librarian.cardLibrary + "/B.mlad", "Backup");
    writeSongFile(librarian.songLibrary + "/x.mlsd", "Intro");
    librarian.openCard();
    // A new name stays in memory until the card is flushed; the worker reads the file.
    view.card()->setName(QStringLiteral("Gig"));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    RequestLog log(view.songTransfer());
    librarian.notifier.prepareAnswer(Notifier::Ok);
    const bool cards = selected.startsWith(QLatin1String("cards"));
    const QString target = librarian.dir.filePath(selected);
    if (!selected.isEmpty())
        QVERIFY(librarian.select(cards, target));
    SongListModel *songs = view.songListModel();

    if (gesture.startsWith(QLatin1String("drop"))) {
        const QString what = gesture.section(QLatin1Char(' '), 1, 1),
                      where = gesture.section(QLatin1Char(' '), 2);
        std::unique_ptr<QMimeData> data(what == QLatin1String("song") ? songs->mimeData({songs->index(2, 0)})
                                                                      : librarian.library(cards)->mimeData(
                                                                            {librarian.item(cards, target)}));
        QTreeView *tree = librarian.page(cards)->treeView();
        QAbstractItemView *list = view.cardSongsView();
        QWidget *widget = where == QLatin1String("box")    ? view.headerView()->findChild<CardBox *>()
                          : where == QLatin1String("tree") ? tree->viewport()
                                                           : list->viewport();
        const QPoint at = where == QLatin1String("box") ? QPoint(5, 5)
                          : where == QLatin1String("tree")
                              ? tree->visualRect(librarian.item(cards, target)).center()
                          : where == QLatin1String("slot") ? list->visualRect(songs->index(3, 0)).center()
                                                           : QPoint(10, widget->height() - 3);
        QVERIFY(where != QLatin1String("below") || !list->indexAt(at).isValid());
        QCOMPARE(dropOn(widget, at, data.get()), !dialog.isEmpty());
    } else if (gesture == QLatin1String("archive")) {
        view.action(LibrarianView::ArchiveCardAction)->trigger();
    } else if (gesture == QLatin1String("restore")) {
        view.action(LibrarianView::RestoreCardAction)->trigger();
    } else if (gesture == QLatin1String("to library")) {
        view.tabs()->setCurrentIndex(1);
        librarian.selectCardSong(2);
        view.action(LibrarianView::CopyCardSongToLibraryAction)->trigger();
    } else if (gesture == QLatin1String("to card")) {
        librarian.selectCardSong(3);
        view.action(LibrarianView::OverwriteCardSongAction)->trigger();
    } else {
        emit songs->songRestoreRequest(12, target);
    }

    if (dialog.isEmpty()) {
        QCOMPARE(log.drain(), 0);
        QCOMPARE(view.songListModel()->songName(11), QStringLiteral("Song 12"));
        return;
    }
    QTRY_COMPARE(log.finished.count() + log.failed.count(), 1);
    QCOMPARE(log.failed.count(), 0);
    const QStringList expected = QString(dialog)
                                     .replace("%cards", librarian.cardLibrary)
                                     .replace("%songs", librarian.songLibrary)
                                     .replace("%card", librarian.image.path())
                                     .split(QLatin1Char('|'));
    TransferDialog *progress = view.transferDialog();
    QCOMPARE((QStringList{progress->windowTitle(), progress->sourceLabel()->text(),
                          progress->destinationLabel()->text()}),
             expected);
    QCOMPARE(progress->statusLabel()->text(), QStringLiteral("Finished."));
    // The card, or the library item, shows what the transfer wrote.
    const QString path = expected.last().mid(expected.last().indexOf(QLatin1Char(' ')) + 1);
    if (path.endsWith(QLatin1String(".mlad")) || path.endsWith(QLatin1String(".mlsd"))) {
        const bool card = path.endsWith(QLatin1String(".mlad"));
        const QString name = card ? QStringLiteral("Gig") : QStringLiteral("Verse");
        QCOMPARE(storedName(path), name);
        QVERIFY(librarian.library(card)->hiddenPaths().isEmpty());
        QTRY_COMPARE(librarian.item(card, path).data().toString(), name);
    } else if (expected.first().startsWith(QLatin1String("Restoring"))) {
        QTRY_COMPARE(view.card()->name(), QStringLiteral("Backup"));
        QTRY_COMPARE(songs->songName(0), QStringLiteral("Song 1"));
    } else {
        QTRY_COMPARE(songs->songName(3), QStringLiteral("Intro"));
        QCOMPARE(songs->songName(2), QStringLiteral("Verse"));
    }
}

void TestLibrarianTransfers::namePrompts_data()
{
    QTest::addColumn<QByteArray>("cardName");
    QTest::addColumn<int>("slot"); // -1: archive the card
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("questions"); // "title|label|proposal"
    QTest::addColumn<QString>("created");

    using L = QStringList;
    const QString archive = QStringLiteral("Archive Card|");
    const QString song = QStringLiteral("Copy Song To Library|");
    const QString forbidden = QStringLiteral("This %1 name contains characters that are not permitted.\n\n"
                                             "Please enter a different name and avoid punctuation:|");
    const QString tooLong = QStringLiteral("This archive name is too long.\n\nPlease enter a shorter name:|");
    const QString x129(129, QLatin1Char('x'));
    // clang-format off
    //                                       cardName             slot    existing                       answers                        questions                                                                                                                             created
    QTest::newRow("free card name")       << QByteArray("Gig") << -1   << L()                         << L()                         << L()                                                                                                                                << "Gig.mlad";
    QTest::newRow("unnamed card")         << QByteArray()      << -1   << L()                         << L()                         << L()                                                                                                                                << "Morv+ Card.mlad";
    QTest::newRow("taken twice")          << QByteArray("Gig") << -1   << L{"Gig.mlad", "Gig 2.mlad"} << L{"Gig 2", "Gig 3"}         << L{archive + exists("Gig.mlad", "card", "archive") + "|Gig", archive + exists("Gig 2.mlad", "card", "archive") + "|Gig 2"}          << "Gig 3.mlad";
    QTest::newRow("every refusal")        << QByteArray("Gig") << -1   << L{"Gig.mlad"}               << L{"Gig?", x129, "Gig live"} << L{archive + exists("Gig.mlad", "card", "archive") + "|Gig", archive + forbidden.arg("archive") + "Gig?", archive + tooLong + x129} << "Gig live.mlad";
    QTest::newRow("taken, cancelled")     << QByteArray("Gig") << -1   << L{"Gig.mlad"}               << L{QString()}                << L{archive + exists("Gig.mlad", "card", "archive") + "|Gig"}                                                                        << "";
    QTest::newRow("unnamed song")         << QByteArray("Gig") << 4    << L()                         << L()                         << L()                                                                                                                                << "Song 05.mlsd";
    QTest::newRow("song, then cancelled") << QByteArray("Gig") << 2    << L{"Verse.mlsd"}             << L{"Verse!", QString()}      << L{song + exists("Verse.mlsd", "song", "song") + "|Verse", song + forbidden.arg("song") + "Verse!"}                                 << "";
    // clang-format on
}

void TestLibrarianTransfers::namePrompts()
{
    QFETCH(QByteArray, cardName);
    QFETCH(int, slot);
    QFETCH(QStringList, existing);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, questions);
    QFETCH(QString, created);

    Librarian librarian(cardName);
    LibrarianView &view = *librarian.view;
    librarian.image.writeSong(2, sampleSong(2, 1, "Verse"));
    const QString folder = slot >= 0 ? librarian.songLibrary : librarian.cardLibrary;
    for (const QString &file : existing)
        slot >= 0 ? writeSongFile(folder + QLatin1Char('/') + file, "Other")
                  : writeArchive(folder + QLatin1Char('/') + file, "Other");
    // Opened directly: opening through the command would name the unnamed card and song.
    QVERIFY(view.card()->open(librarian.image.path(), 1));
    librarian.prompter.textAnswers = answers; // a null answer is Cancel
    RequestLog log(view.songTransfer());

    if (slot >= 0) {
        librarian.selectCardSong(slot);
        view.action(LibrarianView::CopyCardSongToLibraryAction)->trigger();
    } else {
        view.action(LibrarianView::ArchiveCardAction)->trigger();
    }

    QCOMPARE(librarian.prompter.questions, questions);
    QCOMPARE(log.drain(), created.isEmpty() ? 0 : 1);
    QCOMPARE(log.failed.count(), 0);
    QStringList files = existing + QStringList(created);
    files.removeAll(QString());
    QStringList present = QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    present.sort();
    files.sort();
    QCOMPARE(present, files);
    if (!created.isEmpty())
        QCOMPARE(storedName(folder + QLatin1Char('/') + created), created.chopped(5));
    // A new name goes to the archive only, never to the card.
    QCOMPARE(text(librarian.image.read(CardImage::headerRange()), 8, 128), cardName);
}

QTEST_MAIN(TestLibrarianTransfers)
#include "tst_librariantransfers.moc"
