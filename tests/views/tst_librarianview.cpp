// The librarian view with its card header, card songs and two library pages: which actions the
// card, the page and the selections allow, opening cards and the default names, the gestures of
// the pages (context menu, keys), renaming in place down to the card or the file, deleting
// within the library's walls (a link as a link, never through one),
// what it keeps through a session (a card whose volume is mounted opens itself, or is offered
// while another card is open; the Open Card dialog starts at it; Recent Cards; the status bar).
#include "support/libraryfixture.h"

#include "domain/cardlock.h"
#include "domain/mountwatcher.h"
#include "support/filesnapshot.h"
#include "views/safetycopiesview.h"
#include "views/sdcardheaderview.h"

#include <QContextMenuEvent>
#include <QDirIterator>
#include <QLineEdit>
#include <QMenu>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

namespace {

enum class CardState { Closed, ReadOnly, Writable };

QString bits(const QList<QAction *> &actions)
{
    QString result;
    for (const QAction *action : actions)
        result += action->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
    return result;
}

} // namespace

Q_DECLARE_METATYPE(CardState)

class TestLibrarianView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_configuration = librarianConfiguration("tst_librarianview"); }
    void enabling_data();
    void enabling();
    void openCard_data();
    void openCard();
    void gestures_data();
    void gestures();
    void renaming_data();
    void renaming();
    void deleting_data();
    void deleting();
    void cardsThatAppear();

private:
    std::unique_ptr<ConfigurationManager> m_configuration;
};

void TestLibrarianView::enabling_data()
{
    QTest::addColumn<CardState>("card");
    QTest::addColumn<bool>("songPage");
    QTest::addColumn<bool>("song");       // a card song selected
    QTest::addColumn<QString>("archive"); // the item selected in the card library
    QTest::addColumn<QString>("library"); // in the song library
    // Card menu 0-3 4-7, Library menu 8-12 13-17; Verify on the card, archive and library song;
    // the card songs' Edit Name, Details, Copy to Library, Overwrite, Clear, Clear All; the card
    // header's Edit Name, Details, Archive; each page's Edit Name, Details, the transfer to the
    // card and Delete (card library, then song library page); Restore This Copy (with a song, a copy).
    QTest::addColumn<QString>("enabled");

    using C = CardState;
    // clang-format off
    //                                   card           songPage    song     archive        library         enabled
    QTest::newRow("closed")           << C::Closed   << false    << false << ""          << ""           << "1000 0000 00000 00000 000 000000 000 1000 1000 0";
    QTest::newRow("closed, items")    << C::Closed   << false    << false << "Live.mlad" << "Intro.mlsd" << "1000 0000 00111 00000 011 000000 000 1101 1101 0";
    QTest::newRow("unreadable items") << C::Closed   << false    << false << "bad.mlad"  << "bad.mlsd"   << "1000 0000 00111 00000 000 000000 000 0001 0001 0";
    QTest::newRow("read-only")        << C::ReadOnly << false    << false << ""          << ""           << "1101 0000 10000 00000 100 000000 011 1000 1000 0";
    QTest::newRow("read-only, all")   << C::ReadOnly << false    << true  << "Live.mlad" << "Intro.mlsd" << "1101 0100 10111 00000 111 011000 011 1101 1101 0";
    QTest::newRow("writable")         << C::Writable << false    << false << ""          << ""           << "1111 0001 10000 00000 100 000001 111 1000 1000 0";
    QTest::newRow("writable, all")    << C::Writable << false    << true  << "Live.mlad" << "Intro.mlsd" << "1111 1111 11111 00000 111 111011 111 1111 1101 1";
    QTest::newRow("folders")          << C::Writable << false    << true  << "Sets"      << "Sets"       << "1111 1111 10111 00000 100 111011 111 1001 1001 1";
    QTest::newRow("no song")          << C::Writable << false    << false << "Live.mlad" << "Intro.mlsd" << "1111 0001 11111 00000 111 000001 111 1111 1101 0";
    QTest::newRow("songs, all")       << C::Writable << true     << true  << "Live.mlad" << "Intro.mlsd" << "1111 1111 00000 11111 111 111111 111 1101 1111 1";
    QTest::newRow("songs, only song") << C::Writable << true     << true  << ""          << ""           << "1111 1111 00000 10000 100 111011 111 1000 1000 1";
    // clang-format on
}

void TestLibrarianView::enabling()
{
    QFETCH(CardState, card);
    QFETCH(bool, songPage);
    QFETCH(bool, song);
    QFETCH(QString, archive);
    QFETCH(QString, library);
    QFETCH(QString, enabled);

    Librarian librarian;
    LibrarianView &view = *librarian.view;
    for (const QString &folder : {librarian.cardLibrary, librarian.songLibrary}) {
        QDir(folder).mkdir(QStringLiteral("Sets"));
        writeRange(folder + (folder == librarian.cardLibrary ? "/bad.mlad" : "/bad.mlsd"), 0, "not an archive");
    }
    writeArchive(librarian.cardLibrary + "/Live.mlad", "Live");
    writeSongFile(librarian.songLibrary + "/Intro.mlsd", "Intro");
    if (card != CardState::Closed)
        QVERIFY(view.card()->open(librarian.image.path(), card == CardState::Writable ? 1 : 0));
    const QString copy =
        librarian.cardLibrary + "/Safety Copies/Gig - before restore - 2026-01-01 10.00.00.mlad";
    if (song) {
        librarian.selectCardSong(4);
        QVERIFY(QDir().mkpath(librarian.cardLibrary + "/Safety Copies"));
        writeArchive(copy, "Gig");
        view.safetyCopiesView()->reload();
        QVERIFY(view.safetyCopiesView()->selectPath(copy));
    }
    QVERIFY(archive.isEmpty() || librarian.select(true, librarian.cardLibrary + '/' + archive));
    QVERIFY(library.isEmpty() || librarian.select(false, librarian.songLibrary + '/' + library));
    view.tabs()->setCurrentIndex(songPage ? 1 : 0);

    QList<QAction *> menus;
    for (int id = 0; id < LibrarianView::ActionCount; ++id)
        menus << view.action(LibrarianView::ActionId(id));
    const CardSongsView *songs = view.cardSongsView();
    const SdCardHeaderView *header = view.headerView();
    QStringList actual;
    for (int first : {0, 4, 8, 13})
        actual << bits(menus.mid(first, first < 8 ? 4 : 5));
    actual << bits({view.verifyCardAction(), view.verifyArchiveAction(), view.verifyLibrarySongAction()})
           << bits({songs->editNameAction(), songs->detailsAction(), songs->copyToLibraryAction(),
                    songs->overwriteAction(), songs->clearAction(), songs->clearAllAction()})
           << bits({header->editNameAction(), header->detailsAction(), header->archiveAction()});
    for (const LibraryFolderView *page : {librarian.page(true), librarian.page(false)})
        actual << bits(
            {page->editNameAction(), page->detailsAction(), page->transferAction(), page->deleteAction()});
    actual << bits({view.safetyCopiesView()->restoreAction()});
    QCOMPARE(actual.join(QLatin1Char(' ')), enabled);
}

void TestLibrarianView::openCard_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("boxes");
    // clang-format off
    const QString unlockable = "W Open Morv+ Card: The card cannot be locked where it is stored, so another program could change it at the same time as this one.\n\nAllow changes to the card without the lock?";
    //                                  kind           boxes
    QTest::newRow("writable")        << "writable"  << QStringList();
    QTest::newRow("not a card")      << "garbage"   << QStringList("C Open Morv+ Card: Failed to open the card.");
    QTest::newRow("cancelled")       << "cancel"    << QStringList();
    // Where the card cannot be locked, only the user knows whether another program could write it.
    QTest::newRow("no lock, no")     << "no lock"   << QStringList(unlockable);
    QTest::newRow("no lock, yes")    << "writable"  << QStringList(unlockable);
    // clang-format on
}

// Opening names the unnamed card and songs on the card itself, and changes nothing else.
void TestLibrarianView::openCard()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, boxes);

    Librarian librarian("");
    LibrarianView &view = *librarian.view;
    SongFields fields;
    fields.name = "Named";
    librarian.image.writeSongData(5, songData(fields));
    QString path = librarian.image.path();
    if (kind == QLatin1String("garbage"))
        writeRange(path = librarian.cardFolder + "/NOTACARD.DAT", 0, "not an archive");
    const FileSnapshot before(librarian.image.path());
    m_configuration->setSdCardLocation(QStringLiteral("/media/MORV/ZOVAZODE.DAT"));
    const auto restored = qScopeGuard([] {
        CardLock::setSystemLocks({});
        CardLock::setWritingWithoutLock(false);
    });
    if (!boxes.isEmpty() && boxes.first().contains("locked")) {
        CardLock::SystemLocks none;
        none.flock = [](int, int) { return errno = EOPNOTSUPP, -1; };
        none.ofd = [](int, short) { return errno = EINVAL, -1; };
        CardLock::setSystemLocks(none);
        if (kind == "writable")
            librarian.notifier.prepareAnswer(Notifier::Yes);
    }
    librarian.prompter.fileAnswer = kind == QLatin1String("cancel") ? QString() : path;
    view.action(LibrarianView::OpenCardAction)->trigger();

    const bool writable = kind == QLatin1String("writable");
    const Prompter::FileRequest &request = librarian.prompter.fileRequests.value(0);
    QCOMPARE(request.title + '|' + request.nameFilter + '|' + request.startPath,
             QStringLiteral("Open Morv+ Card Data|Morv+ Card Data (ZOVAZODE.DAT)|/media/MORV/ZOVAZODE.DAT"));
    QCOMPARE(librarian.boxes(), boxes);
    QCOMPARE(view.card()->isWritable(), writable);
    QCOMPARE(m_configuration->sdCardLocation(),
             writable || kind == "no lock" ? path : QStringLiteral("/media/MORV/ZOVAZODE.DAT"));
    if (writable)
        QCOMPARE(view.card()->name() + '|' + view.songListModel()->songName(0), "Morv+ Card|Song 01");
    view.action(LibrarianView::CloseCardAction)->trigger();
    QVector<ByteRange> allowed;
    for (int song = 0; writable && song < 12; ++song)
        allowed << (song == 5 ? cardHeaderRange() : CardImage::songDataRange(song));
    QCOMPARE(describe(before.changesOutside(allowed)), describe({}));
    if (writable) {
        QCOMPARE(text(librarian.image.read(cardHeaderRange()), 8, 128), QByteArray("Morv+ Card"));
        for (int song : {0, 5, 11})
            QCOMPARE(text(librarian.image.read(CardImage::songDataRange(song)), 4, 128),
                     song == 5 ? QByteArray("Named")
                               : "Song " + QByteArray::number(song + 1).rightJustified(2, '0'));
    }
}

void TestLibrarianView::gestures_data()
{
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<QString>("on"); // a song library item, "space" below the items, or "edit" (a line edit)
    QTest::addColumn<QString>("result");
    // clang-format off
    //                                      gesture            on                   result
    QTest::newRow("menu on a song")      << "menu"          << "songs/x.mlsd"    << "menu";
    QTest::newRow("menu on empty space") << "menu"          << "space"           << "";
    QTest::newRow("Delete in the tree")  << "Delete"        << "songs/x.mlsd"    << "delete";
    QTest::newRow("Delete elsewhere")    << "Delete"        << "edit"            << "";
    QTest::newRow("Return on a song")    << "Return"        << "songs/x.mlsd"    << "details";
    QTest::newRow("Return on a folder")  << "Return"        << "songs/Sets"      << "";
    QTest::newRow("Return, unreadable")  << "Return"        << "songs/bad.mlsd"  << "";
    // clang-format on
}

void TestLibrarianView::gestures()
{
    QFETCH(QString, gesture);
    QFETCH(QString, on);
    QFETCH(QString, result);

    Librarian librarian;
    LibrarianView &view = *librarian.view;
    QDir(librarian.songLibrary).mkdir(QStringLiteral("Sets"));
    writeSongFile(librarian.songLibrary + "/x.mlsd", "Intro");
    writeRange(librarian.songLibrary + "/bad.mlsd", 0, "not an archive");
    librarian.openCard();
    auto *edit = new QLineEdit(&view);
    view.show();
    view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    const QString path = librarian.dir.filePath(on == QLatin1String("edit") ? "songs/x.mlsd" : on);
    if (on.contains(QLatin1Char('/')) || on == QLatin1String("edit"))
        QVERIFY(librarian.select(false, path));
    LibraryFolderView *page = librarian.page(false);
    QTreeView *tree = page->treeView();
    QSignalSpy deletes(page, &LibraryFolderView::deleteRequest);
    QSignalSpy details(page->detailsAction(), &QAction::triggered);
    view.tabs()->setCurrentIndex(1);

    if (gesture == QLatin1String("menu")) {
        QWidget *viewport = tree->viewport();
        const QPoint at = on == QLatin1String("space")
                              ? QPoint(viewport->width() / 2, viewport->height() - 5)
                              : tree->visualRect(librarian.item(false, path)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
        QApplication::sendEvent(viewport, &event);
    } else {
        QWidget *focus = on == QLatin1String("edit") ? static_cast<QWidget *>(edit) : tree;
        tree->setCurrentIndex(librarian.item(false, path));
        focus->setFocus();
        QTRY_VERIFY(focus->hasFocus());
        QTest::keyClick(focus, gesture == QLatin1String("Delete") ? Qt::Key_Delete : Qt::Key_Return);
    }
    const bool menu = page->contextMenu()->isVisible();
    page->contextMenu()->close();
    QCOMPARE(menu ? "menu" : deletes.count() ? "delete" : details.count() ? "details" : "", result);
}

void TestLibrarianView::renaming_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("stored"); // the name in the file or on the card afterwards

    QTest::addColumn<bool>("refused"); // with the box that says why
    const int Return = Qt::Key_Return;
    // clang-format off
    //                                  target         typed          key                    stored         refused
    QTest::newRow("song file")       << "song file" << "Verse"     << Return              << "Verse"     << false;
    QTest::newRow("song file, !")    << "song file" << "Verse!"    << Return              << "Intro"     << true;
    QTest::newRow("archive")         << "archive"   << "Live 2"    << Return              << "Live 2"    << false;
    QTest::newRow("card song")       << "card song" << "Encore"    << Return              << "Encore"    << false;
    QTest::newRow("card song, !")    << "card song" << "Encore!"   << Return              << "Song 03"   << true;
    QTest::newRow("card")            << "card"      << "Tour 2024" << int(Qt::Key_Enter)  << "Tour 2024" << false;
    QTest::newRow("card, emptied")   << "card"      << ""          << Return              << "Gig"       << false;
    QTest::newRow("card, Esc")       << "card"      << "Discarded" << int(Qt::Key_Escape) << "Gig"       << false;
    // clang-format on
}

// A name typed in place reaches the card or the file, and nothing else.
void TestLibrarianView::renaming()
{
    QFETCH(QString, target);
    QFETCH(QString, typed);
    QFETCH(int, key);
    QFETCH(QString, stored);

    QFETCH(bool, refused);
    Librarian librarian;
    LibrarianView &view = *librarian.view;
    const bool cards = target == QLatin1String("archive");
    const QString file =
        cards ? librarian.cardLibrary + "/Live.mlad" : QString(librarian.songLibrary + "/Intro.mlsd");
    cards ? writeArchive(file, "Live") : writeSongFile(file, "Intro");
    librarian.openCard();
    view.show();
    view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    QWidget *area = view.headerView(); // where the editor opens
    if (target == QLatin1String("card")) {
        view.action(LibrarianView::EditCardNameAction)->trigger();
    } else if (target == QLatin1String("card song")) {
        librarian.selectCardSong(2);
        view.cardSongsView()->setCurrentIndex(view.songListModel()->index(2, 0));
        view.action(LibrarianView::EditCardSongNameAction)->trigger();
        area = view.cardSongsView()->viewport();
    } else {
        QVERIFY(librarian.select(cards, file));
        librarian.page(cards)->treeView()->setCurrentIndex(librarian.item(cards, file));
        view.action(cards ? LibrarianView::EditArchiveNameAction : LibrarianView::EditLibraryItemNameAction)
            ->trigger();
        area = librarian.page(cards)->treeView()->viewport();
    }
    QLineEdit *editor = nullptr;
    QTRY_VERIFY((editor = area->findChild<QLineEdit *>(target == "card" ? "nameEditor" : QString())) &&
                editor->isVisible());
    // Keys reach a user's editor only once it has the focus; losing it would commit the old name.
    QTRY_VERIFY(editor->hasFocus());
    editor->selectAll();
    typed.isEmpty() ? QTest::keyClick(editor, Qt::Key_Backspace) : QTest::keyClicks(editor, typed);
    QTest::keyClick(editor, Qt::Key(key));

    QTRY_COMPARE(librarian.boxes(),
                 refused ? QStringList("I : The name contains characters that are not permitted."
                                       "\n\nPlease avoid punctuation.")
                         : QStringList());
    if (target == QLatin1String("card") || target == QLatin1String("card song")) {
        const bool card = target == QLatin1String("card");
        QTRY_COMPARE(card ? view.card()->name() : view.songListModel()->songName(2), stored);
        view.action(LibrarianView::CloseCardAction)->trigger();
        QCOMPARE(card ? text(librarian.image.read(cardHeaderRange()), 8, 128)
                      : text(librarian.image.read(CardImage::songDataRange(2)), 4, 128),
                 stored.toUtf8());
        return;
    }
    // What the rename does to the file is the model's; here the item under its new name shows it.
    const QString renamed = QFileInfo(file).path() + QLatin1Char('/') + stored + (cards ? ".mlad" : ".mlsd");
    QTRY_COMPARE(librarian.item(cards, renamed).data().toString(), stored);
}

void TestLibrarianView::deleting_data()
{
    // The item deleted from the song library ("Sets/Old" is swapped for a link once selected).
    QTest::addColumn<QString>("item");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("gone");
    const QString ask =
        "W Delete Item: Are you sure you want to delete %1 from song library?\n\nWARNING: This "
        "operation can not be undone.";
    // clang-format off
    //                                          item          boxes                                                gone
    QTest::newRow("link to a folder outside") << "Shared"   << QStringList{ask.arg("link \"Shared\"")}         << "Shared";
    QTest::newRow("folder holding a link")    << "Sets"     << QStringList{ask.arg("folder \"Sets\"")}         << "Sets";
    QTest::newRow("folder swapped for link")  << "Sets/Old" << QStringList{ask.arg("folder \"Old\""), "C Delete Item: Failed to delete item.\n\n"
                                                                  "\"Sets\" is a symbolic link, which the library does not follow."} << "";
    // clang-format on
}

// The song library holds "Shared", a link to a folder outside, and "Sets" with "Old" and "Link",
// another link to it; whatever is deleted, the folder outside keeps all it holds.
void TestLibrarianView::deleting()
{
    QFETCH(QString, item);
    QFETCH(QStringList, boxes);
    QFETCH(QString, gone);

    Librarian librarian;
    QTemporaryDir outside;
    QDir(outside.path()).mkpath("Old");
    writeSongFile(outside.filePath("Old/a.mlsd"), "Outside");
    const QString songs = librarian.songLibrary;
    QDir(songs).mkpath("Sets/Old");
    QVERIFY(QFile::link(outside.path(), songs + "/Shared") &&
            QFile::link(outside.path(), songs + "/Sets/Link"));
    const auto contents = [&outside] {
        QStringList entries;
        for (QDirIterator it(outside.path(), QDir::AllEntries | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
             it.hasNext();)
            entries << it.next();
        return entries;
    };
    const QStringList before = contents();
    QVERIFY(librarian.select(false, songs + "/Shared"));
    QVERIFY(!librarian.library(false)->hasChildren(librarian.item(false, songs + "/Shared")));
    QVERIFY(librarian.select(false, songs + '/' + item));
    if (gone.isEmpty()) {
        QVERIFY(QDir().rename(songs + "/Sets", librarian.dir.filePath("away")));
        QVERIFY(QFile::link(outside.path(), songs + "/Sets"));
    }
    librarian.notifier.prepareAnswer(Notifier::Yes);
    librarian.view->action(LibrarianView::DeleteLibraryItemAction)->trigger();
    QCOMPARE(librarian.boxes(), boxes);
    QCOMPARE(contents(), before);
    QCOMPARE(QDir(songs).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).contains(gone),
             false);
}

// The mounted volumes are folders of the test; the card image's folder is mounted and unmounted.
void TestLibrarianView::cardsThatAppear()
{
    Librarian librarian;
    LibrarianView &view = *librarian.view;
    QStringList mounted;
    view.mountWatcher()->setVolumeList([&mounted] { return mounted; });
    QSignalSpy messages(&view, &LibrarianView::statusMessage);
    QSignalSpy summaries(&view, &LibrarianView::cardSummaryChanged);

    // Nothing open: a card that appears opens, and is remembered.
    librarian.image.writeSong(2, sampleSong(2, 1));
    mounted << librarian.cardFolder;
    view.mountWatcher()->start();
    QVERIFY(view.card()->isOpen());
    QCOMPARE(view.card()->path(), librarian.image.path());
    QCOMPARE(messages.last().at(0).toString(), "Opened the card on " + QDir::toNativeSeparators(librarian.cardFolder) + ".");
    QCOMPARE(summaries.last().at(0).toString(), "1 of 12 songs in use, 3 looper parts recorded, 0.1 MB of looper audio");

    // Another card appears while one is open: offered, opened on request.
    CardImage other(librarian.dir.filePath("other"));
    QDir().mkpath(librarian.dir.filePath("other"));
    other.create("Other");
    mounted << librarian.dir.filePath("other");
    view.mountWatcher()->poll();
    QCOMPARE(view.card()->path(), librarian.image.path());
    QVERIFY(view.openOfferedCardAction()->isVisible());
    view.openOfferedCardAction()->trigger();
    QCOMPARE(view.card()->path(), other.path());
    QVERIFY(!view.openOfferedCardAction()->isVisible());

    // The Open Card dialog starts at the first mounted card; Recent Cards lists both, newest
    // first, and forgets a file that is gone.
    librarian.prompter.fileAnswer.clear();
    view.action(LibrarianView::OpenCardAction)->trigger();
    QCOMPARE(librarian.prompter.fileRequests.last().startPath, librarian.image.path());
    QMenu *recent = view.recentCardsMenu();
    emit recent->aboutToShow();
    QStringList shown;
    for (QAction *action : recent->actions())
        shown << action->text();
    QCOMPARE(shown, QStringList({QDir::toNativeSeparators(other.path()), QDir::toNativeSeparators(librarian.image.path())}));
    view.action(LibrarianView::CloseCardAction)->trigger();
    QVERIFY(QFile::remove(other.path()));
    emit recent->aboutToShow();
    QCOMPARE(recent->actions().size(), 1);
    recent->actions().first()->trigger();
    QCOMPARE(view.card()->path(), librarian.image.path());
}

QTEST_MAIN(TestLibrarianView)
#include "tst_librarianview.moc"
