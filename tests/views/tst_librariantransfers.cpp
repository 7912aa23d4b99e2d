// The librarian view's commands that change the card or the libraries: the four transfers started
// from their commands and from drops on the real widgets, each ending with the card or the library
// item brought up to date; drops that name no slot; the name prompts for new library files; the
// confirmations, and the safety copy each destructive command has made first, or its refusal in
// the user's words.
#include "librarianfixture.h"

#include "domain/filekinds.h"
#include "views/cardbox.h"
#include "views/sdcardheaderview.h"
#include "views/transferdialog.h"

#include <QLabel>
#include <QRegularExpression>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

namespace {

SongRecords namedSampleSong(int song, const QByteArray &name)
{
    SongRecords records = sampleSong(song, 1);
    SongFields fields;
    fields.name = name;
    records.song = songData(fields);
    return records;
}

// Everything a change to card song 6 may touch, as it lies on the card now.
QByteArrayList songBytes(const CardImage &image)
{
    QByteArrayList bytes;
    for (const ByteRange &range : CardImage::restoreRanges(5, namedSampleSong(5, "Verse")))
        bytes << image.read(range);
    return bytes;
}

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
    void commands_data();
    void commands();

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
    QTest::newRow("drop card on folder")      << "drop card tree"  << "cards/Sets"   << "Archiving Card|Card: %card|Archive: %cards/Sets/Gig.mlad";
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
    librarian.image.writeSong(2, namedSampleSong(2, "Verse"));
    QDir(librarian.cardLibrary).mkdir(QStringLiteral("Sets"));
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
        if (what == QLatin1String("card")) {
            data = std::make_unique<QMimeData>();
            data->setData(FileKinds::cardMimeType(), QByteArray());
        }
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
    QTest::newRow("taken, empty answer")  << QByteArray("Gig") << -1   << L{"Gig.mlad"}               << L{""}                       << L{archive + exists("Gig.mlad", "card", "archive") + "|Gig"}                                                                        << "";
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
    librarian.image.writeSong(2, namedSampleSong(2, "Verse"));
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
    files.sort();
    QCOMPARE(fileNames(folder), files);
    if (!created.isEmpty())
        QCOMPARE(storedName(folder + QLatin1Char('/') + created), created.chopped(5));
    // A new name goes to the archive only, never to the card.
    QCOMPARE(text(librarian.image.read(CardImage::headerRange()), 8, 128), cardName);
}

void TestLibrarianTransfers::commands_data()
{
    QTest::addColumn<QString>("command"); // clear a slot or all, delete an item, restore, copy onto a slot
    QTest::addColumn<int>("answer");      // to the confirmation
    QTest::addColumn<QString>("safety");  // copies "off", "on" or "failing"
    QTest::addColumn<QString>("box");     // the confirmation
    QTest::addColumn<QString>("copy");    // the safety copy's name, "%1" its time stamp
    QTest::addColumn<QString>("refusal"); // the end of the box that refuses the command for want of a copy
    QTest::addColumn<bool>("done");

    const QString undone = QStringLiteral("\n\nWARNING: This operation can not be undone.");
    const QString one = "W Clear Song on Card: Are you sure you want to clear song #%1 on card?" + undone;
    const QString all = "W : Are you sure you want to clear all songs on card?" + undone;
    const QString del = "W Delete Item: Are you sure you want to delete %1 from %2 library?" + undone;
    const QString restore = "W Restore Morv+ Card: Are you sure you want to overwrite the entire card with "
                            "the contents of the archive?" +
                            undone;
    const QString copy =
        QStringLiteral("W Copy Song: You are about to overwrite a non-empty song on card. Are you sure?");
    using N = Notifier;
    // clang-format off
    //                                     command                    answer            safety       box                                                    copy                                                    refusal            done
    QTest::newRow("clear slot 1, yes")  << "clear 0"               << int(N::Yes)    << "off"     << one.arg(1)                                          << ""                                                   << ""              << true;
    QTest::newRow("clear slot 1, no")   << "clear 0"               << int(N::No)     << "off"     << one.arg(1)                                          << ""                                                   << ""              << false;
    QTest::newRow("clear slot 12, yes") << "clear 11"              << int(N::Yes)    << "off"     << one.arg(12)                                         << ""                                                   << ""              << true;
    QTest::newRow("clear all, OK")      << "clear all"             << int(N::Ok)     << "off"     << all                                                 << ""                                                   << ""              << true;
    QTest::newRow("clear all, cancel")  << "clear all"             << int(N::Cancel) << "off"     << all                                                 << ""                                                   << ""              << false;
    QTest::newRow("delete archive")     << "delete cards/Set.mlad" << int(N::Yes)    << "off"     << del.arg("archive \"Set\"", "card")                  << ""                                                   << ""              << true;
    QTest::newRow("keep archive")       << "delete cards/Set.mlad" << int(N::No)     << "off"     << del.arg("archive \"Set\"", "card")                  << ""                                                   << ""              << false;
    QTest::newRow("delete song")        << "delete songs/x.mlsd"   << int(N::Yes)    << "off"     << del.arg("song \"Intro\"", "song")                   << ""                                                   << ""              << true;
    QTest::newRow("delete folder")      << "delete songs/Sets"     << int(N::Yes)    << "off"     << del.arg("folder \"Sets\"", "song")                  << ""                                                   << ""              << true;
    QTest::newRow("delete unreadable")  << "delete cards/bad.mlad" << int(N::Yes)    << "off"     << del.arg("file \"Corrupt File (bad.mlad)\"", "card") << ""                                                   << ""              << true;
    QTest::newRow("restore, cancel")    << "restore"               << int(N::Cancel) << "off"     << restore                                             << ""                                                   << ""              << false;
    QTest::newRow("onto used slot, no") << "copy 5"                << int(N::Cancel) << "off"     << copy                                                << ""                                                   << ""              << false;
    QTest::newRow("onto empty slot")    << "copy 6"                << int(N::Cancel) << "on"      << ""                                                  << ""                                                   << ""              << true;
    QTest::newRow("restore, copied")    << "restore"               << int(N::Ok)     << "on"      << restore                                             << "Gig - before restore - %1.mlad"                     << ""              << true;
    QTest::newRow("copy, copied")       << "copy 5"                << int(N::Ok)     << "on"      << copy                                                << "Gig - song 06 Verse - before overwriting - %1.mlsd" << ""              << true;
    QTest::newRow("clear, copied")      << "clear 5"               << int(N::Yes)    << "on"      << one.arg(6)                                          << "Gig - song 06 Verse - before clearing - %1.mlsd"    << ""              << true;
    QTest::newRow("clear all, copied")  << "clear all"             << int(N::Ok)     << "on"      << all                                                 << "Gig - before clearing all songs - %1.mlad"          << ""              << true;
    QTest::newRow("restore, no copy")   << "restore"               << int(N::Ok)     << "failing" << restore                                             << ""                                                   << "Safety Copies" << false;
    QTest::newRow("copy, no copy")      << "copy 5"                << int(N::Ok)     << "failing" << copy                                                << ""                                                   << "Safety Copies" << false;
    QTest::newRow("clear, no copy")     << "clear 5"               << int(N::Yes)    << "failing" << one.arg(6)                                          << ""                                                   << "Safety Copies" << false;
    // clang-format on
}

// Each command asks first; a destructive one has a safety copy of what it overwrites made
// before it runs, and without that copy it does not run and says why.
void TestLibrarianTransfers::commands()
{
    QFETCH(QString, command);
    QFETCH(int, answer);
    QFETCH(QString, safety);
    QFETCH(QString, box);
    QFETCH(QString, copy);
    QFETCH(QString, refusal);
    QFETCH(bool, done);

    Librarian librarian("Gig", safety != QLatin1String("off"));
    LibrarianView &view = *librarian.view;
    for (int song : {0, 11})
        librarian.image.writeSong(song, sampleSong(song, 1));
    librarian.image.writeSong(5, namedSampleSong(5, "Verse"));
    QDir(librarian.songLibrary).mkpath(QStringLiteral("Sets/Old"));
    writeSongFile(librarian.songLibrary + "/Sets/Old/a.mlsd", "Old");
    writeArchive(librarian.cardLibrary + "/Set.mlad", "Set");
    writeGarbage(librarian.cardLibrary + "/bad.mlad");
    writeSongFile(librarian.songLibrary + "/x.mlsd", "Intro");
    librarian.openCard();
    const QByteArrayList before = songBytes(librarian.image);
    const QString folder = librarian.cardLibrary + QStringLiteral("/Safety Copies");
    if (safety == QLatin1String("failing") && !(QDir().mkpath(folder) && librarian.makeImmutable(folder)))
        QSKIP("The file system has no immutable flag.");
    RequestLog log(view.songTransfer());
    const int slot = command.section(QLatin1Char(' '), 1).toInt();
    const QString item = librarian.dir.filePath(command.section(QLatin1Char(' '), 1));
    librarian.notifier.prepareAnswer(Notifier::Button(answer));
    if (command.startsWith(QLatin1String("clear"))) {
        librarian.selectCardSong(slot);
        view.action(command == QLatin1String("clear all") ? LibrarianView::ClearAllCardSongsAction
                                                          : LibrarianView::ClearCardSongAction)
            ->trigger();
    } else if (command.startsWith(QLatin1String("delete"))) {
        QVERIFY(librarian.select(item.startsWith(librarian.cardLibrary), item));
        view.action(item.startsWith(librarian.cardLibrary) ? LibrarianView::DeleteArchiveItemAction
                                                           : LibrarianView::DeleteLibraryItemAction)
            ->trigger();
    } else if (command == QLatin1String("restore")) {
        QVERIFY(librarian.select(true, librarian.cardLibrary + "/Set.mlad"));
        view.action(LibrarianView::RestoreCardAction)->trigger();
    } else {
        QVERIFY(librarian.select(false, librarian.songLibrary + "/x.mlsd"));
        librarian.selectCardSong(slot);
        view.action(LibrarianView::OverwriteCardSongAction)->trigger();
    }
    const auto changed = [&] {
        SongListModel *songs = view.songListModel();
        if (command == QLatin1String("clear all"))
            return songs->isEmptySong(0) && songs->isEmptySong(5);
        if (command.startsWith(QLatin1String("clear"))) // that slot only
            return songs->isEmptySong(slot) && !songs->isEmptySong(slot ? 0 : 5);
        if (command.startsWith(QLatin1String("delete")))
            return !QFileInfo::exists(item);
        return command == QLatin1String("restore") ? view.card()->name() == QLatin1String("Set")
                                                   : songs->songName(slot) == QLatin1String("Intro");
    };

    if (safety == QLatin1String("off") || box.isEmpty()) {
        QCOMPARE(librarian.boxes().value(0), box);
    } else { // one more line names the copy about to be made
        const QString stem = copy.isEmpty() ? QStringLiteral("Gig - ") : QFileInfo(copy).completeBaseName();
        const QString shown = librarian.boxes().value(0);
        QVERIFY2(shown.startsWith(box + "\n\nA safety copy is made first: \"" + stem.section(QLatin1String("%1"), 0, 0)),
                 qPrintable(shown));
        QVERIFY2(shown.endsWith(QLatin1String("\" in the Safety Copies folder.")), qPrintable(shown));
    }
    if (done) {
        QTRY_VERIFY_WITH_TIMEOUT(changed(), 20000);
    } else {
        QCOMPARE(log.drain(), refusal.isEmpty() ? 0 : 1); // the copy that failed
        QTest::qWait(200); // long enough for a queued command to have run, were there one
        QVERIFY(!changed());
        QCOMPARE(songBytes(librarian.image), before);
    }
    QCOMPARE(librarian.boxes().size(), (box.isEmpty() ? 0 : 1) + (refusal.isEmpty() ? 0 : 1));
    if (!refusal.isEmpty()) {
        const QString last = librarian.boxes().last();
        QVERIFY2(
            last.startsWith(
                "C Safety Copy: Could not make a safety copy of the card, so nothing was changed.\n\n") &&
                last.contains(refusal),
            qPrintable(last));
    }
    const QRegularExpression stamp(QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d"));
    QCOMPARE(QDir(folder).entryList(QDir::Files).join(QLatin1Char('|')).replace(stamp, QStringLiteral("%1")),
             copy);
}

QTEST_MAIN(TestLibrarianTransfers)
#include "tst_librariantransfers.moc"
