// The librarian view's transfers: the four started from their commands and from drops on the real
// widgets, each ending with the card or the library item brought up to date; drops that name no
// slot; the name prompts for new library files. Then the destructive commands as the user meets
// them: each asks first; with safety copies on, the question names the copy, the copy is made
// before the command runs (without it the command does not run and says why), it shows as a row
// of the Safety Copies page, and Edit > Undo puts it back after one question, or says why it
// cannot. A copy also goes back from the page (Restore This Copy, or dragged onto a card slot
// through the real views), is deleted there, or shown in a file manager (which, missing, is said).
#include "support/libraryfixture.h"

#include "domain/sumfile.h"
#include "app/settingsdialog.h"
#include "views/cardbox.h"
#include "views/safetycopiesview.h"
#include "views/sdcardheaderview.h"
#include "views/transferdialog.h"
#include "views/widgetutils.h"

#include <QLabel>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTreeWidget>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

namespace {

QString exists(const QString &file, const char *library, const char *what)
{
    return QStringLiteral("A file named \"%1\" already exists in this %2 library folder.\n\nPlease enter a "
                          "different name for the new %3:")
        .arg(file, QLatin1String(library), QLatin1String(what));
}


// Everything a change to card song 6 ("Verse") may touch, and the card's name, as on the card.
QByteArrayList songBytes(const CardImage &image)
{
    QByteArrayList bytes{text(image.read(cardHeaderRange()), 8, 128)};
    for (const ByteRange &range : CardImage::restoreRanges(5, sampleSong(5, 1, "Verse")))
        bytes << image.read(range);
    return bytes;
}

// A card "Gig" holding songs 1, 6 ("Verse") and 12, a card library with the archive "Set" and
// an unreadable file, a song library with "Intro" and a folder.
void prepare(Librarian &librarian)
{
    for (int song : {0, 11})
        librarian.image.writeSong(song, sampleSong(song, 1));
    librarian.image.writeSong(5, sampleSong(5, 1, "Verse"));
    QDir(librarian.songLibrary).mkpath(QStringLiteral("Sets/Old"));
    writeSongFile(librarian.songLibrary + "/Sets/Old/a.mlsd", "Old");
    writeArchive(librarian.cardLibrary + "/Set.mlad", "Set");
    writeRange(librarian.cardLibrary + "/bad.mlad", 0, "not an archive");
    writeSongFile(librarian.songLibrary + "/x.mlsd", "Intro");
    librarian.openCard();
}

// "clear <slot>", "clear all", "delete <item>", "restore" (the archive "Set") or "copy <slot>"
// (the song file "Intro"), through the commands of the menus.
void run(Librarian &librarian, const QString &command, Notifier::Button answer)
{
    const QString argument = command.section(QLatin1Char(' '), 1);
    librarian.notifier.prepareAnswer(answer);
    if (command.startsWith(QLatin1String("clear"))) {
        librarian.selectCardSong(argument.toInt());
        librarian.action(argument == QLatin1String("all") ? "ClearAllCardSongs" : "ClearCardSong")->trigger();
    } else if (command.startsWith(QLatin1String("delete"))) {
        const bool cards = argument.startsWith(QLatin1String("cards"));
        QVERIFY(librarian.select(cards, librarian.dir.filePath(argument)));
        librarian.action(cards ? "DeleteArchiveItem" : "DeleteLibraryItem")->trigger();
    } else if (command.startsWith(QLatin1String("restore"))) {
        // "damaged": cut short; "changed": a byte of its description since it was made.
        const QString set = librarian.cardLibrary + "/Set.mlad";
        QVERIFY(argument != QLatin1String("damaged") || QFile::resize(set, QFileInfo(set).size() - 1000));
        if (argument == QLatin1String("changed")) {
            const QByteArray bytes = wholeFile(set);
            carddata::FileSummer summer(SongArchive(set, 0, 0).parts());
            summer.add(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
            writeRange(SumFile::pathFor(set), 0,
                       SumFile::format(summer.sums(), QDateTime::currentDateTimeUtc()));
            writeRange(set, 400, "X");
            librarian.notifier.prepareAnswer(Notifier::Ok);
        }
        QVERIFY(librarian.select(true, set));
        librarian.action("RestoreCard")->trigger();
    } else {
        QVERIFY(librarian.select(false, librarian.songLibrary + "/x.mlsd"));
        librarian.selectCardSong(argument.toInt());
        librarian.action("OverwriteCardSong")->trigger();
    }
}

// The rows of the Safety Copies page, each as its columns `shown` joined by " | ".
QStringList rows(const SafetyCopiesView *page,
                 const QVector<int> &shown = {SafetyCopiesView::WhatColumn, SafetyCopiesView::CardColumn,
                                              SafetyCopiesView::OccasionColumn})
{
    QStringList result;
    for (int i = 0; i < page->treeWidget()->topLevelItemCount(); ++i) {
        QStringList cells;
        for (int column : shown)
            cells << page->treeWidget()->topLevelItem(i)->text(column);
        result << cells.join(QStringLiteral(" | "));
    }
    return result;
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
    void fromThePage_data();
    void fromThePage();
    void keepingFewer();

private:
    std::unique_ptr<ConfigurationManager> m_configuration;
};

void TestLibrarianTransfers::transfers_data()
{
    QTest::addColumn<QString>("gesture");  // a command, or "drop <what> <where>"
    QTest::addColumn<QString>("selected"); // in the libraries
    QTest::addColumn<QString>("dialog");   // the progress dialog's title|source|destination, or none
    QTest::addColumn<QString>("status");   // afterwards, in the status bar

    const QString opened = QStringLiteral("Opened the card on %1.");
    // clang-format off
    //                                           gesture              selected          dialog                                                                                        status
    QTest::newRow("archive card")             << "archive"         << ""             << "Archiving Card|Card: %card|Archive: %cards/Gig.mlad"                                     << "Archived the card to \"Gig\".";
    QTest::newRow("restore card")             << "restore"         << "cards/B.mlad" << "Restoring Card|Archive: %cards/B.mlad|Card: %card"                                       << "Restored the card from \"B\": 2 MB written, less than 1 MB already the same.";
    QTest::newRow("drop archive on card")     << "drop item box"   << "cards/B.mlad" << "Restoring Card|Archive: %cards/B.mlad|Card: %card"                                       << "Restored the card from \"B\": 2 MB written, less than 1 MB already the same.";
    QTest::newRow("copy song to library")     << "to library"      << ""             << "Copying Song to Library|Song 3 on card: %card|Archive: %songs/Verse.mlsd"                << "Copied song 3 to \"Verse\".";
    QTest::newRow("drop card song on folder") << "drop song tree"  << "songs/Sets"   << "Copying Song to Library|Song 3 on card: %card|Archive: %songs/Sets/Verse.mlsd"           << "Copied song 3 to \"Verse\".";
    QTest::newRow("copy song to card")        << "to card"         << "songs/x.mlsd" << "Copying Song to Card|Song 1 in archive: %songs/x.mlsd|Song 4 on card: %card"            << "Copied \"x\" onto slot 4: less than 1 MB written, 0 MB already the same.";
    QTest::newRow("drop song on slot 4")      << "drop item slot"  << "songs/x.mlsd" << "Copying Song to Card|Song 1 in archive: %songs/x.mlsd|Song 4 on card: %card"            << "Copied \"x\" onto slot 4: less than 1 MB written, 0 MB already the same.";
    QTest::newRow("song file on the card")    << "drop item box"   << "songs/x.mlsd" << ""                                                                                        << opened;
    QTest::newRow("slot the card lacks")      << "to slot 12"      << "songs/x.mlsd" << ""                                                                                        << opened;
    // clang-format on
}

void TestLibrarianTransfers::transfers()
{
    QFETCH(QString, gesture);
    QFETCH(QString, selected);
    QFETCH(QString, dialog);
    QFETCH(QString, status);

    Librarian librarian("Stale");
    LibrarianView &view = *librarian.view;
    librarian.image.writeSong(2, sampleSong(2, 1, "Verse"));
    QDir(librarian.songLibrary).mkdir(QStringLiteral("Sets"));
    writeArchive(librarian.cardLibrary + "/B.mlad", "Backup");
    writeSongFile(librarian.songLibrary + "/x.mlsd", "Intro");
    librarian.openCard();
    // A new name stays in memory until the card is flushed; the worker reads the file.
    librarian.card()->setName(QStringLiteral("Gig"));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QSignalSpy finished(librarian.transfers()->songTransfer(), &SongTransfer::finished);
    QSignalSpy failed(librarian.transfers()->songTransfer(), &SongTransfer::error);
    librarian.notifier.prepareAnswer(Notifier::Ok);
    const bool cards = selected.startsWith(QLatin1String("cards"));
    const QString target = librarian.dir.filePath(selected);
    if (!selected.isEmpty())
        QVERIFY(librarian.select(cards, target));
    SongListModel *songs = librarian.songs();

    if (gesture.startsWith(QLatin1String("drop"))) {
        const QString what = gesture.section(QLatin1Char(' '), 1, 1),
                      where = gesture.section(QLatin1Char(' '), 2);
        std::unique_ptr<QMimeData> data(what == QLatin1String("song") ? songs->mimeData({songs->index(2, 0)})
                                                                      : librarian.library(cards)->mimeData(
                                                                            {librarian.item(cards, target)}));
        QTreeView *tree = librarian.page(cards)->treeView();
        QAbstractItemView *list = view.cardPanel()->songsView();
        QWidget *widget = where == QLatin1String("box") ? view.cardPanel()->header()->findChild<CardBox *>()
                          : where == QLatin1String("tree") ? tree->viewport()
                                                           : list->viewport();
        const QPoint at = where == QLatin1String("box")    ? QPoint(5, 5)
                          : where == QLatin1String("tree") ? tree->visualRect(librarian.item(cards, target)).center()
                                                           : list->visualRect(songs->index(3, 0)).center();
        QCOMPARE(dropOn(widget, at, data.get()), !dialog.isEmpty());
    } else if (gesture == QLatin1String("archive")) {
        librarian.action("ArchiveCard")->trigger();
    } else if (gesture == QLatin1String("restore")) {
        librarian.action("RestoreCard")->trigger();
    } else if (gesture == QLatin1String("to library")) {
        librarian.pages()->setCurrentIndex(1);
        librarian.selectCardSong(2);
        librarian.action("CopyCardSongToLibrary")->trigger();
    } else if (gesture == QLatin1String("to card")) {
        librarian.selectCardSong(3);
        librarian.action("OverwriteCardSong")->trigger();
    } else {
        emit songs->songRestoreRequest(12, target);
    }

    if (dialog.isEmpty()) {
        QVERIFY(!librarian.transfers()->hasTransfers());
        QCOMPARE(librarian.songs()->songName(11), QStringLiteral("Song 12"));
        QCOMPARE(view.session()->status(), status.arg(librarian.cardFolder));
        return;
    }
    // A transfer to the card checks its archive first, by a request of its own.
    QTRY_COMPARE(finished.count() + failed.count(),
                 dialog.contains(QRegularExpression("^(Restoring|Copying Song to) Card")) ? 2 : 1);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(view.session()->status(), status);
    const QStringList expected = QString(dialog)
                                     .replace("%cards", librarian.cardLibrary)
                                     .replace("%songs", librarian.songLibrary)
                                     .replace("%card", librarian.image.path())
                                     .split(QLatin1Char('|'));
    TransferDialog *progress = librarian.transfers()->transferDialog();
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
        QTRY_COMPARE(librarian.card()->name(), QStringLiteral("Backup"));
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
    librarian.image.writeSong(2, sampleSong(2, 1, "Verse"));
    const QString folder = slot >= 0 ? librarian.songLibrary : librarian.cardLibrary;
    for (const QString &file : existing)
        slot >= 0 ? writeSongFile(folder + QLatin1Char('/') + file, "Other")
                  : writeArchive(folder + QLatin1Char('/') + file, "Other");
    // Opened directly: opening through the command would name the unnamed card and song.
    QVERIFY(librarian.card()->open(librarian.image.path(), 1));
    librarian.prompter.textAnswers = answers; // a null answer is Cancel
    QSignalSpy failed(librarian.transfers()->songTransfer(), &SongTransfer::error);

    if (slot >= 0) {
        librarian.selectCardSong(slot);
        librarian.action("CopyCardSongToLibrary")->trigger();
    } else {
        librarian.action("ArchiveCard")->trigger();
    }

    QCOMPARE(librarian.prompter.questions, questions);
    QCOMPARE(librarian.transfers()->hasTransfers(), !created.isEmpty());
    QTRY_VERIFY(!librarian.transfers()->hasTransfers());
    QCOMPARE(failed.count(), 0);
    // A new archive has its record of how it was made beside it.
    QStringList files = existing + QStringList{created, created.isEmpty() ? QString() : created + ".sum"};
    files.removeAll(QString());
    QStringList present = QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    present.sort();
    files.sort();
    QCOMPARE(present, files);
    if (!created.isEmpty())
        QCOMPARE(storedName(folder + QLatin1Char('/') + created), created.chopped(5));
    // A new name goes to the archive only, never to the card.
    QCOMPARE(text(librarian.image.read(cardHeaderRange()), 8, 128), cardName);
}

void TestLibrarianTransfers::commands_data()
{
    QTest::addColumn<QString>("command"); // see run(); " then rename" or " then delete" the copy
    QTest::addColumn<int>("answer");      // to the confirmation
    QTest::addColumn<QString>("safety");  // copies "off", "on" or "failing"
    QTest::addColumn<QString>("box");     // the confirmation
    QTest::addColumn<QString>("row");     // on the Safety Copies page: what | card | about to happen
    QTest::addColumn<bool>("done");
    QTest::addColumn<QString>("undo");    // the Undo command's text, or its tool tip when disabled
    QTest::addColumn<QString>("status");  // after the command, and after its undo: "done|undone"

    // Without a safety copy; with one, the question says that Undo can put things back.
    const QString undone = QStringLiteral("\n\nWARNING: This operation can not be undone.");
    const QString one = "W Clear Song on Card: Are you sure you want to clear song #%1 on card?";
    const QString all = "W : Are you sure you want to clear all songs on card?";
    const QString del = "W Delete Item: Are you sure you want to delete %1 from %2 library?" + undone;
    const QString restore = "W Restore Morv+ Card: Are you sure you want to overwrite the entire card with "
                            "the contents of the archive?";
    const QString copy =
        "W Copy Song: You are about to overwrite song 6 on the card, \"Verse\", with \"x\". Are you sure?";
    const QString safety = "Could not make a safety copy of the card, so nothing was changed.";
    const QString nothing = "Nothing has been changed on this card in this session.";
    const QString verse = "Song 6: Verse | Gig | ";
    using N = Notifier;
    // clang-format off
    //                                     command                    answer            safety       box                                                    row                                     done     undo                                                                                                                         status
    QTest::newRow("clear slot 1, yes")  << "clear 0"               << int(N::Yes)    << "off"     << one.arg(1) + undone                                 << ""                                   << true  << "Safety copies are turned off in the settings, so there is no copy to undo with."                                 << "Cleared song 1.";
    QTest::newRow("clear slot 1, no")   << "clear 0"               << int(N::No)     << "off"     << one.arg(1) + undone                                 << ""                                   << false << ""                                                                                                                << "Cancelled.";
    QTest::newRow("clear all, OK")      << "clear all"             << int(N::Ok)     << "off"     << all + undone                                        << ""                                   << true  << ""                                                                                                                << "Cleared all songs.";
    QTest::newRow("delete archive")     << "delete cards/Set.mlad" << int(N::Yes)    << "off"     << del.arg("archive \"Set\"", "card")                  << ""                                   << true  << ""                                                                                                                << "Deleted the archive \"Set\".";
    QTest::newRow("delete song")        << "delete songs/x.mlsd"   << int(N::Yes)    << "off"     << del.arg("song \"Intro\"", "song")                   << ""                                   << true  << ""                                                                                                                << "Deleted the song \"Intro\".";
    QTest::newRow("delete folder")      << "delete songs/Sets"     << int(N::Yes)    << "off"     << del.arg("folder \"Sets\"", "song")                  << ""                                   << true  << ""                                                                                                                << "Deleted the folder \"Sets\".";
    QTest::newRow("delete unreadable")  << "delete cards/bad.mlad" << int(N::Yes)    << "off"     << del.arg("file \"Corrupt File (bad.mlad)\"", "card") << ""                                   << true  << ""                                                                                                                << "Deleted the file \"Corrupt File (bad.mlad)\".";
    QTest::newRow("delete, no")         << "delete songs/x.mlsd"   << int(N::No)     << "off"     << del.arg("song \"Intro\"", "song")                   << ""                                   << false << ""                                                                                                                << "Cancelled.";
    QTest::newRow("restore, cancel")    << "restore"               << int(N::Cancel) << "off"     << restore + undone                                    << ""                                   << false << ""                                                                                                                << "Cancelled.";
    QTest::newRow("onto used slot, no") << "copy 5"                << int(N::Cancel) << "off"     << copy + undone                                       << ""                                   << false << ""                                                                                                                << "Cancelled.";
    QTest::newRow("onto empty slot")    << "copy 6"                << int(N::Cancel) << "on"      << ""                                                  << ""                                   << true  << ""                                                                                                                << "Copied \"x\" onto slot 7: ";
    QTest::newRow("clear empty slot")   << "clear 4"               << int(N::Yes)    << "on"      << one.arg(5) + undone                                 << ""                                   << true  << nothing                                                                                                           << "Cleared song 5.";
    QTest::newRow("restore, copied")    << "restore"               << int(N::Ok)     << "on"      << restore                                             << "Whole card | Gig | Restore"         << true  << "&Undo \"Restore Card\""                                                                                          << "Restored the card from \"Set\": |Undid \"Restore Card\".";
    QTest::newRow("copy, copied")       << "copy 5"                << int(N::Ok)     << "on"      << copy                                                << verse + "Copy onto slot 6"           << true  << "&Undo \"Copy Song onto Slot 6\""                                                                                 << "Copied \"x\" onto slot 6: |Undid \"Copy Song onto Slot 6\".";
    QTest::newRow("clear, copied")      << "clear 5"               << int(N::Yes)    << "on"      << one.arg(6)                                          << verse + "Clear song 6"               << true  << "&Undo \"Clear Song 6\""                                                                                          << "Cleared song 6.|Undid \"Clear Song 6\".";
    QTest::newRow("clear all, copied")  << "clear all"             << int(N::Ok)     << "on"      << all                                                 << "Whole card | Gig | Clear all songs" << true  << "&Undo \"Clear All Card Songs\""                                                                                 << "Cleared all songs.|Undid \"Clear All Card Songs\".";
    QTest::newRow("card changed since") << "clear 5 then rename"   << int(N::Yes)    << "on"      << one.arg(6)                                          << verse + "Clear song 6"               << true  << "The card has changed since (the card's name), so its safety copy would undo more than the last change." << "Cleared song 6.";
    QTest::newRow("copy deleted")       << "clear 5 then delete"   << int(N::Yes)    << "on"      << one.arg(6)                                          << verse + "Clear song 6"               << true  << "The safety copy is no longer in the Safety Copies folder."                                                         << "Cleared song 6.";
    QTest::newRow("restore, no copy")   << "restore"               << int(N::Ok)     << "failing" << restore                                             << ""                                   << false << nothing                                                                                                           << safety;
    // The archive is checked before its safety copy: a damaged one is refused, a changed one asks.
    QTest::newRow("restore, damaged")   << "restore damaged"       << int(N::Ok)     << "on"      << restore                                             << ""                                   << false << nothing                                                                                                           << "Failed: The archive \"Set.mlad\" is damaged: ";
    QTest::newRow("restore, changed")   << "restore changed"       << int(N::Ok)     << "on"      << restore                                             << "Whole card | Gig | Restore"         << true  << "&Undo \"Restore Card\""                                                                                          << "Restored the card from \"Set\": |Undid \"Restore Card\".";
    // clang-format on
}

void TestLibrarianTransfers::commands()
{
    QFETCH(QString, command);
    QFETCH(int, answer);
    QFETCH(QString, safety);
    QFETCH(QString, box);
    QFETCH(QString, row);
    QFETCH(bool, done);
    QFETCH(QString, undo);
    QFETCH(QString, status);

    Librarian librarian("Gig", safety != QLatin1String("off"));
    prepare(librarian);
    const QByteArrayList before = songBytes(librarian.image);
    const QString folder = librarian.cardLibrary + QStringLiteral("/Safety Copies");
    if (safety == QLatin1String("failing")) // a file stands where the folder goes
        writeRange(folder, 0, "in the way");
    const QString then = command.section(QLatin1String(" then "), 1);
    command = command.section(QLatin1String(" then "), 0, 0);
    run(librarian, command, Notifier::Button(answer));
    const int slot = command.section(QLatin1Char(' '), 1).toInt();
    const QString item = librarian.dir.filePath(command.section(QLatin1Char(' '), 1));
    const auto changed = [&] {
        SongListModel *songs = librarian.songs();
        if (command == QLatin1String("clear all"))
            return songs->isEmptySong(0) && songs->isEmptySong(5);
        if (command.startsWith(QLatin1String("clear"))) // that slot only
            return songs->isEmptySong(slot) && !songs->isEmptySong(slot ? 0 : 5);
        if (command.startsWith(QLatin1String("delete")))
            return !QFileInfo::exists(item);
        return command.startsWith(QLatin1String("restore")) ? librarian.card()->name() == QLatin1String("Set")
                                                            : songs->songName(slot) == QLatin1String("Intro");
    };

    // One more line of the question names the copy about to be made, if one is.
    const QString shown = librarian.boxes().value(0);
    const QRegularExpressionMatch named =
        QRegularExpression("\n\nEdit > Undo can put things back: a safety copy is "
                           "made first, \"(Gig - .+)\" in the Safety Copies folder\\.$")
            .match(shown);
    QCOMPARE(named.hasMatch(), !row.isEmpty() || (!done && safety != QLatin1String("off")));
    QCOMPARE(shown.left(named.hasMatch() ? named.capturedStart() : -1), box);
    if (done) {
        QTRY_VERIFY_WITH_TIMEOUT(changed() && !librarian.transfers()->hasTransfers(), 20000);
    } else {
        // A restore's archive is checked first; nothing else runs.
        QTRY_VERIFY(!librarian.transfers()->hasTransfers());
        QTest::qWait(200); // long enough for a queued command to have run, were there one
        QVERIFY(!changed());
        QCOMPARE(songBytes(librarian.image), before);
    }
    const QStringList copies = QDir(folder).entryList({"*.mlad", "*.mlsd"}, QDir::Files);
    QVERIFY2(librarian.view->session()->status().startsWith(status.section('|', 0, 0)),
             qPrintable(librarian.view->session()->status()));
    QCOMPARE(copies.size(), row.isEmpty() ? 0 : 1);
    QCOMPARE(QFileInfo(copies.value(0)).completeBaseName(), row.isEmpty() ? QString() : named.captured(1));
    const QStringList boxes = librarian.boxes();
    const bool asked = command.endsWith(QLatin1String("changed"));
    QCOMPARE(boxes.size(), (box.isEmpty() ? 0 : 1) + (asked || safety == QLatin1String("failing") ? 1 : 0));
    QVERIFY(!asked ||
            boxes.value(1).startsWith("W Restore Morv+ Card: \"Set.mlad\": the file has changed since it "
                                      "was made on "));
    QVERIFY(!asked || boxes.value(1).endsWith(".\n\nRestore it all the same?"));
    const QString outcome = librarian.transfers()->transferDialog()->statusLabel()->text();
    QVERIFY2(!command.endsWith(QLatin1String("damaged")) ||
                 outcome.startsWith("The archive \"Set.mlad\" is damaged: "),
             qPrintable(outcome));
    QVERIFY2(safety != QLatin1String("failing") ||
                 (boxes.last().startsWith("C Safety Copy: Could not make a safety copy of the card, so "
                                          "nothing was changed.\n\n") &&
                  boxes.last().contains(QLatin1String("Safety Copies"))),
             qPrintable(boxes.value(boxes.size() - 1)));
    librarian.pages()->setCurrentWidget(librarian.pages()->safetyCopies());
    QTRY_COMPARE(rows(librarian.pages()->safetyCopies()), row.isEmpty() ? QStringList() : QStringList(row));

    if (then == QLatin1String("rename")) {
        QTest::qWait(20); // a later time stamp on every file system
        librarian.card()->setName("Renamed");
        librarian.card()->flush();
    } else if (then == QLatin1String("delete")) {
        QVERIFY(QFile::remove(folder + QLatin1Char('/') + copies.value(0)));
    }
    QAction *action = librarian.action("Undo");
    if (then == QLatin1String("rename")) { // a click reads nothing of the card; Undo's shortcut does
        librarian.selectCardSong(0);
        action->trigger(); // a disabled action does nothing: the last box would be the command's
        QCOMPARE(librarian.boxes().last() + '|' + librarian.view->session()->status(),
                 "W Undo: " + undo + '|' + undo);
    }
    librarian.transfers()->updateUndo(); // as the Edit menu opens
    if (undo.isEmpty())
        return;
    QCOMPARE(action->isEnabled() ? action->text() : action->toolTip(), undo);
    if (!action->isEnabled())
        return;
    librarian.notifier.clear();
    librarian.notifier.prepareAnswer(Notifier::Ok);
    action->trigger();
    QVERIFY2(librarian.notifier.texts().value(0).startsWith(
                 QString(undo).remove(QLatin1Char('&')) + "?\n\nThe card gets back what the safety copy \"" +
                 named.captured(1) + "\""),
             qPrintable(librarian.notifier.texts().value(0)));
    QTRY_VERIFY_WITH_TIMEOUT(!librarian.transfers()->hasTransfers() && songBytes(librarian.image) == before,
                             20000);
    QVERIFY(!action->isEnabled());
    QCOMPARE(librarian.view->session()->status(), status.section('|', 1));
}

void TestLibrarianTransfers::fromThePage_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("how");       // the page's "restore", "delete" or "show", or "drop <row>"
    QTest::addColumn<int>("slot");          // where "Verse" is afterwards, -1 for nowhere
    QTest::addColumn<QStringList>("boxes"); // titles of the boxes after the command's own
    // clang-format off
    //                                       command        how          slot  boxes
    QTest::newRow("song, restore")        << "clear 5"   << "restore" << 5  << QStringList{};
    QTest::newRow("song, dropped on 9")   << "clear 5"   << "drop 8"  << 8  << QStringList{};
    QTest::newRow("card, restore")        << "clear all" << "restore" << 5  << QStringList{"Restore Morv+ Card"};
    QTest::newRow("deleted")              << "clear 5"   << "delete"  << -1 << QStringList{"Delete Safety Copy"};
    QTest::newRow("no file manager")      << "clear 5"   << "show"    << -1 << QStringList{"Show in Folder"};
    // clang-format on
}

void TestLibrarianTransfers::fromThePage()
{
    QFETCH(QString, command);
    QFETCH(QString, how);
    QFETCH(int, slot);
    QFETCH(QStringList, boxes);

    Librarian librarian("Gig", true);
    LibrarianView &view = *librarian.view;
    view.resize(1000, 900);
    prepare(librarian);
    run(librarian, command, command == QLatin1String("clear all") ? Notifier::Ok : Notifier::Yes);
    QTRY_VERIFY_WITH_TIMEOUT(librarian.songs()->isEmptySong(5) && !librarian.transfers()->hasTransfers(),
                             20000);

    SafetyCopiesView *page = librarian.pages()->safetyCopies();
    librarian.pages()->setCurrentWidget(page);
    QTreeWidget *tree = page->treeWidget();
    QTRY_COMPARE(tree->topLevelItemCount(), 1);
    tree->setCurrentItem(tree->topLevelItem(0));
    const QString copy = page->selectedEntry()->path;
    librarian.notifier.clear();
    if (how.startsWith(QLatin1String("drop"))) {
        // Dragged from the page's own data onto a row of the card's songs (or below the last).
        std::unique_ptr<QMimeData> data(tree->model()->mimeData({tree->model()->index(0, 0)}));
        const int row = how.mid(5).toInt();
        QAbstractItemView *songs = view.cardPanel()->songsView();
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QRect last = songs->visualRect(librarian.songs()->index(11, 0));
        const QPoint at = row < 12 ? songs->visualRect(librarian.songs()->index(row, 0)).center()
                                   : QPoint(last.center().x(), last.bottom() + 20);
        QCOMPARE(dropOn(songs->viewport(), at, data.get()), row < 12);
    } else {
        WidgetUtils::setUrlOpener([](const QUrl &) { return false; });
        QAction *action = how == "restore" ? page->restoreAction()
                          : how == "show"  ? page->showInFolderAction()
                                           : page->deleteAction();
        QVERIFY(action->isEnabled());
        librarian.notifier.prepareAnswer(how == QLatin1String("restore") ? Notifier::Ok : Notifier::Yes);
        action->trigger();
    }
    QTest::qWait(100);
    QTRY_VERIFY_WITH_TIMEOUT(!librarian.transfers()->hasTransfers(), 20000);
    for (int row = 0; row < 12; ++row)
        QCOMPARE(librarian.songs()->songName(row) == "Verse", row == slot);
    QStringList titles;
    for (const Notifier::Message &message : librarian.notifier.messages())
        titles << message.title;
    QCOMPARE(titles, boxes);
    // The record of how the copy was made goes with it.
    QCOMPARE(QFileInfo::exists(copy) + QFileInfo::exists(copy + ".sum"),
             how != QLatin1String("delete") ? 2 : 0);
    QCOMPARE(tree->topLevelItemCount() == 0, how == QLatin1String("delete"));
}

// The page tells copies apart at a glance (when first, then what, how large, the occasion and
// the card) and sums them up; keeping fewer in the settings deletes the oldest at once, after a
// question (No leaves the dialog open and every copy in place), and never the newest.
void TestLibrarianTransfers::keepingFewer()
{
    Librarian librarian("Gig", true);
    const QString cards = librarian.cardLibrary;
    const QDateTime now(QDate(2026, 3, 10), QTime(14, 3));
    using O = SafetyCopies::Occasion;
    QVERIFY(SafetyCopies::ensureFolder(cards, nullptr));
    // A song yesterday at 09:12, whole cards nine days before and now.
    for (const auto &[back, slot, occasion] :
         {std::tuple(103860, 2, O::ClearSong), std::tuple(799380, -1, O::ClearAll),
          std::tuple(0, -1, O::Restore)}) {
        const QString what = SafetyCopies::occasionText(occasion);
        const QDateTime when = now.addSecs(-back);
        slot < 0
            ? writeArchive(SafetyCopies::cardCopyPath(cards, "Gig", what, when), "Gig")
            : writeSongFile(SafetyCopies::songCopyPath(cards, "Gig", slot, "Verse", what, when), "Verse");
    }
    SafetyCopiesView *page = librarian.pages()->safetyCopies();
    page->setNow(now);
    // Megabytes of 10^6 bytes: 3.3 in MiB.
    QCOMPARE(rows(page, {0, 1, 2, 3, 4}) << page->totalLabel()->text(),
             QStringList({"today 14:03 | Whole card | 1.6 MB | Restore | Gig",
                          "yesterday 09:12 | Song 3: Verse | 0.1 MB | Clear song 3 | Gig",
                          "2026-03-01 | Whole card | 1.6 MB | Clear all songs | Gig",
                          "3 safety copies, 3.4 MB in all."}));

    SettingsDialog settings;
    settings.limitBox()->setValue(1);
    for (const Notifier::Button answer : {Notifier::No, Notifier::Yes}) {
        librarian.notifier.prepareAnswer(answer);
        settings.accept();
        page->reload();
        QCOMPARE(rows(page, {0}).join(", ") + " | " + QString::number(settings.result()),
                 answer == Notifier::No ? "today 14:03, yesterday 09:12, 2026-03-01 | 0" : "today 14:03 | 1");
    }
    QCOMPARE(librarian.boxes().value(1),
             "W Settings: The Safety Copies folder holds 3 safety copies. Keeping the "
             "newest 1 deletes the 2 oldest now.\n\nDelete them?");
    QCOMPARE(ConfigurationManager::instance()->safetyCopyLimit(), 1);
}

MORV_TEST_MAIN(TestLibrarianTransfers)
#include "tst_librariantransfers.moc"
