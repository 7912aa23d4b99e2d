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
#include "views/archivedetailview.h"
#include "views/cardinstructions.h"
#include "views/safetycopiesview.h"
#include "views/sdcardheaderview.h"

#include <QContextMenuEvent>
#include <QDirIterator>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

namespace {

enum class CardState { Closed, ReadOnly, Writable };

// The states that the columns of the enabling table name: the card; the library page shown; a card
// song selected (and with it a row of the Safety Copies page); the item selected on the card
// library page and on the song library page ("bad" files are unreadable).
struct State
{
    const char *name;
    CardState card;
    bool songPage;
    bool song;
    const char *archive;
    const char *library;
};
// clang-format off
const State kStates[] = {
    // name      card                 songPage  song     archive      library
    {"closed",   CardState::Closed,   false,    false,   "",          ""},
    {"items",    CardState::Closed,   false,    false,   "Live.mlad", "Intro.mlsd"},
    {"unread",   CardState::Closed,   false,    false,   "bad.mlad",  "bad.mlsd"},
    {"ro",       CardState::ReadOnly, false,    false,   "",          ""},
    {"roAll",    CardState::ReadOnly, false,    true,    "Live.mlad", "Intro.mlsd"},
    {"rw",       CardState::Writable, false,    false,   "",          ""},
    {"rwAll",    CardState::Writable, false,    true,    "Live.mlad", "Intro.mlsd"},
    {"folders",  CardState::Writable, false,    true,    "Sets",      "Sets"},
    {"noSong",   CardState::Writable, false,    false,   "Live.mlad", "Intro.mlsd"},
    {"songs",    CardState::Writable, true,     true,    "Live.mlad", "Intro.mlsd"},
    {"song",     CardState::Writable, true,     true,    "",          ""},
};
// clang-format on

} // namespace

class TestLibrarianView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
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
    void changingFolders();
    void showingFiles();
    void cardsThatAppear();
    void demoCard();

private:
    void recordEnabling(const State &state);

    std::unique_ptr<ConfigurationManager> m_configuration;
    // Each action's enabled state in each state of kStates, as "0" and "1" in their order.
    QHash<QString, QString> m_enabled;
};

void TestLibrarianView::initTestCase()
{
    m_configuration = librarianConfiguration("tst_librarianview");
    for (const State &state : kStates)
        recordEnabling(state);
}

void TestLibrarianView::recordEnabling(const State &state)
{
    Librarian librarian;
    for (const QString &folder : {librarian.cardLibrary, librarian.songLibrary}) {
        QDir(folder).mkdir(QStringLiteral("Sets"));
        writeRange(folder + (folder == librarian.cardLibrary ? "/bad.mlad" : "/bad.mlsd"), 0, "not an archive");
    }
    writeArchive(librarian.cardLibrary + "/Live.mlad", "Live");
    writeSongFile(librarian.songLibrary + "/Intro.mlsd", "Intro");
    if (state.card != CardState::Closed)
        QVERIFY(librarian.card()->open(librarian.image.path(), state.card == CardState::Writable ? 1 : 0));
    const QString copy =
        librarian.cardLibrary + "/Safety Copies/Gig - before restore - 2026-01-01 10.00.00.mlad";
    if (state.song) {
        librarian.selectCardSong(4);
        QVERIFY(QDir().mkpath(librarian.cardLibrary + "/Safety Copies"));
        writeArchive(copy, "Gig");
        librarian.pages()->safetyCopies()->reload();
        QVERIFY(librarian.pages()->safetyCopies()->selectPath(copy));
    }
    QVERIFY(!*state.archive || librarian.select(true, librarian.cardLibrary + '/' + state.archive));
    QVERIFY(!*state.library || librarian.select(false, librarian.songLibrary + '/' + state.library));
    librarian.pages()->setCurrentIndex(state.songPage ? 1 : 0);
    for (const QString &id : librarian.view->actions()->ids())
        m_enabled[id] += librarian.view->actions()->action(id)->isEnabled() ? '1' : '0';
}

void TestLibrarianView::enabling_data()
{
    for (const State &state : kStates)
        QTest::addColumn<int>(state.name);
    QSet<QString> listed;
    const auto row = [&listed](const char *id) -> QTestData & {
        listed << QString::fromLatin1(id);
        return QTest::newRow(id);
    };
    // clang-format off
    //                                closed    items    unread    ro    roAll    rw    rwAll    folders    noSong    songs    song
    row("OpenCard")                << 1      << 1     << 1      << 1  << 1     << 1  << 1     << 1       << 1      << 1     << 1;
    row("CloseCard")               << 0      << 0     << 0      << 1  << 1     << 1  << 1     << 1       << 1      << 1     << 1;
    row("EditCardName")            << 0      << 0     << 0      << 0  << 0     << 1  << 1     << 1       << 1      << 1     << 1;
    row("ShowCardDetails")         << 0      << 0     << 0      << 1  << 1     << 1  << 1     << 1       << 1      << 1     << 1;
    row("EditCardSongName")        << 0      << 0     << 0      << 0  << 0     << 0  << 1     << 1       << 0      << 1     << 1;
    row("ShowCardSongDetails")     << 0      << 0     << 0      << 0  << 1     << 0  << 1     << 1       << 0      << 1     << 1;
    row("ClearCardSong")           << 0      << 0     << 0      << 0  << 0     << 0  << 1     << 1       << 0      << 1     << 1;
    row("ClearAllCardSongs")       << 0      << 0     << 0      << 0  << 0     << 1  << 1     << 1       << 1      << 1     << 1;
    row("VerifyCard")              << 0      << 0     << 0      << 1  << 1     << 1  << 1     << 1       << 1      << 1     << 1;
    row("RecentCards")             << 0      << 0     << 0      << 0  << 0     << 0  << 0     << 0       << 0      << 0     << 0;
    row("Undo")                    << 0      << 0     << 0      << 0  << 0     << 0  << 0     << 0       << 0      << 0     << 0;
    row("OpenOfferedCard")         << 0      << 0     << 0      << 0  << 0     << 0  << 0     << 0       << 0      << 0     << 0;
    row("ArchiveCard")             << 0      << 0     << 0      << 1  << 1     << 1  << 1     << 1       << 1      << 0     << 0;
    row("RestoreCard")             << 0      << 0     << 0      << 0  << 0     << 0  << 1     << 0       << 1      << 0     << 0;
    row("EditArchiveName")         << 0      << 1     << 1      << 0  << 1     << 0  << 1     << 1       << 1      << 0     << 0;
    row("ShowArchiveDetails")      << 0      << 1     << 1      << 0  << 1     << 0  << 1     << 1       << 1      << 0     << 0;
    row("DeleteArchiveItem")       << 0      << 1     << 1      << 0  << 1     << 0  << 1     << 1       << 1      << 0     << 0;
    row("CopyCardSongToLibrary")   << 0      << 0     << 0      << 0  << 0     << 0  << 0     << 0       << 0      << 1     << 1;
    row("OverwriteCardSong")       << 0      << 0     << 0      << 0  << 0     << 0  << 0     << 0       << 0      << 1     << 0;
    row("EditLibraryItemName")     << 0      << 0     << 0      << 0  << 0     << 0  << 0     << 0       << 0      << 1     << 0;
    row("ShowLibrarySongDetails")  << 0      << 0     << 0      << 0  << 0     << 0  << 0     << 0       << 0      << 1     << 0;
    row("DeleteLibraryItem")       << 0      << 0     << 0      << 0  << 0     << 0  << 0     << 0       << 0      << 1     << 0;
    row("VerifyArchive")           << 0      << 1     << 1      << 0  << 1     << 0  << 1     << 0       << 1      << 1     << 0;
    row("VerifyLibrarySong")       << 0      << 1     << 1      << 0  << 1     << 0  << 1     << 0       << 1      << 1     << 0;
    row("CardSongs.EditName")      << 0      << 0     << 0      << 0  << 0     << 0  << 1     << 1       << 0      << 1     << 1;
    row("CardSongs.Details")       << 0      << 0     << 0      << 0  << 1     << 0  << 1     << 1       << 0      << 1     << 1;
    row("CardSongs.CopyToLibrary") << 0      << 0     << 0      << 0  << 1     << 0  << 1     << 1       << 0      << 1     << 1;
    row("CardSongs.Overwrite")     << 0      << 0     << 0      << 0  << 0     << 0  << 0     << 0       << 0      << 1     << 0;
    row("CardSongs.Clear")         << 0      << 0     << 0      << 0  << 0     << 0  << 1     << 1       << 0      << 1     << 1;
    row("CardSongs.ClearAll")      << 0      << 0     << 0      << 0  << 0     << 1  << 1     << 1       << 1      << 1     << 1;
    row("CardHeader.EditName")     << 0      << 0     << 0      << 0  << 0     << 1  << 1     << 1       << 1      << 1     << 1;
    row("CardHeader.Details")      << 0      << 0     << 0      << 1  << 1     << 1  << 1     << 1       << 1      << 1     << 1;
    row("CardHeader.Archive")      << 0      << 0     << 0      << 1  << 1     << 1  << 1     << 1       << 1      << 1     << 1;
    row("CardLibrary.EditName")    << 1      << 1     << 0      << 1  << 1     << 1  << 1     << 1       << 1      << 1     << 1;
    row("CardLibrary.Details")     << 0      << 1     << 0      << 0  << 1     << 0  << 1     << 0       << 1      << 1     << 0;
    row("CardLibrary.Transfer")    << 0      << 0     << 0      << 0  << 0     << 0  << 1     << 0       << 1      << 0     << 0;
    row("CardLibrary.Delete")      << 0      << 1     << 1      << 0  << 1     << 0  << 1     << 1       << 1      << 1     << 0;
    row("SongLibrary.EditName")    << 1      << 1     << 0      << 1  << 1     << 1  << 1     << 1       << 1      << 1     << 1;
    row("SongLibrary.Details")     << 0      << 1     << 0      << 0  << 1     << 0  << 1     << 0       << 1      << 1     << 0;
    row("SongLibrary.Transfer")    << 0      << 0     << 0      << 0  << 0     << 0  << 0     << 0       << 0      << 1     << 0;
    row("SongLibrary.Delete")      << 0      << 1     << 1      << 0  << 1     << 0  << 1     << 1       << 1      << 1     << 0;
    row("SafetyCopies.Restore")    << 0      << 0     << 0      << 0  << 0     << 0  << 1     << 1       << 0      << 1     << 1;
    // clang-format on
    // An action without a row fails until it is given one.
    for (auto it = m_enabled.cbegin(); it != m_enabled.cend(); ++it) {
        if (listed.contains(it.key()))
            continue;
        QTestData &missing = QTest::newRow(qPrintable(it.key()));
        for (int column = 0; column < int(std::size(kStates)); ++column)
            missing << -1;
    }
}

void TestLibrarianView::enabling()
{
    QString expected;
    for (const State &state : kStates) {
        const int enabled = *static_cast<int *>(QTest::qData(state.name, qMetaTypeId<int>()));
        if (enabled < 0)
            QFAIL("The action has no row in the table.");
        expected += QLatin1Char(enabled ? '1' : '0');
    }
    QCOMPARE(m_enabled.value(QString::fromLatin1(QTest::currentDataTag())), expected);
}

void TestLibrarianView::openCard_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("boxes");
    // clang-format off
    const QString unlockable = "W Open Morv+ Card: The card cannot be locked where it is stored, so another program could change it at the same time as this one.\n\nAllow changes to the card without the lock?";
    //                                  kind           boxes
    QTest::newRow("writable")        << "writable"  << QStringList();
    // The card open before stays open; the box says why the other is no card.
    const QString failed = "C Open Morv+ Card: Failed to open the card.\n\n";
    QTest::newRow("not a card")      << "garbage"   << QStringList(failed + "%1 is not a card data file: it is 14 bytes long, a card data file 3,207,041,024.");
    QTest::newRow("missing")         << "missing"   << QStringList(failed + "The file %1 does not exist.");
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
    SongFields fields;
    fields.name = "Named";
    librarian.image.writeSongData(5, songData(fields));
    QString path = librarian.image.path();
    const bool refused = kind == QLatin1String("garbage") || kind == QLatin1String("missing");
    if (refused) {
        path = librarian.cardFolder + "/NOTACARD.DAT";
        boxes = boxes.replaceInStrings("%1", path);
        QVERIFY(librarian.card()->open(librarian.image.path(), 1));
    }
    if (kind == QLatin1String("garbage"))
        writeRange(path, 0, "not an archive");
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
    librarian.action("OpenCard")->trigger();

    const bool writable = kind == QLatin1String("writable");
    const Prompter::FileRequest &request = librarian.prompter.fileRequests.value(0);
    // The last card's folder is gone and no card is mounted: the documents folder.
    QCOMPARE(request.title + '|' + request.nameFilter + '|' + request.startPath,
             "Open Morv+ Card Data|Morv+ Card Data (ZOVAZODE.DAT)|" +
                 QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    QCOMPARE(librarian.boxes(), boxes);
    QCOMPARE(librarian.card()->isWritable(), writable || refused);
    QVERIFY(!refused || librarian.card()->path() == librarian.image.path());
    QCOMPARE(m_configuration->sdCardLocation(),
             writable || kind == "no lock" ? path : QStringLiteral("/media/MORV/ZOVAZODE.DAT"));
    if (writable)
        QCOMPARE(librarian.card()->name() + '|' + librarian.songs()->songName(0), "Morv+ Card|Song 01");
    librarian.action("CloseCard")->trigger();
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
    librarian.pages()->setCurrentIndex(1);

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
    QTest::addColumn<QString>("status"); // afterwards; empty: as it was

    const int Return = Qt::Key_Return;
    const QString refusal = "The name contains characters that are not permitted. Please avoid punctuation.";
    // clang-format off
    //                                  target         typed          key                    stored         refused  status
    QTest::newRow("song file")       << "song file" << "Verse"     << Return              << "Verse"     << false << "Renamed \"Intro\" to \"Verse\".";
    QTest::newRow("song file, !")    << "song file" << "Verse!"    << Return              << "Intro"     << true  << refusal;
    QTest::newRow("archive")         << "archive"   << "Live 2"    << Return              << "Live 2"    << false << "Renamed \"Live\" to \"Live 2\".";
    QTest::newRow("card song")       << "card song" << "Encore"    << Return              << "Encore"    << false << "Renamed song 3 to \"Encore\".";
    QTest::newRow("card song, !")    << "card song" << "Encore!"   << Return              << "Song 03"   << true  << refusal;
    QTest::newRow("card")            << "card"      << "Tour 2024" << int(Qt::Key_Enter)  << "Tour 2024" << false << "Renamed the card to \"Tour 2024\".";
    QTest::newRow("card, !")         << "card"      << "Tour (Live)" << Return            << "Gig"       << true  << "";
    QTest::newRow("card, emptied")   << "card"      << ""          << Return              << "Gig"       << false << "";
    QTest::newRow("card, Esc")       << "card"      << "Discarded" << int(Qt::Key_Escape) << "Gig"       << false << "";
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
    QFETCH(QString, status);

    Librarian librarian;
    LibrarianView &view = *librarian.view;
    const bool cards = target == QLatin1String("archive");
    const QString file =
        cards ? librarian.cardLibrary + "/Live.mlad" : QString(librarian.songLibrary + "/Intro.mlsd");
    cards ? writeArchive(file, "Live") : writeSongFile(file, "Intro");
    librarian.openCard();
    const QString opened = view.session()->status();
    view.show();
    view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    QWidget *area = view.cardPanel()->header(); // where the editor opens
    if (target == QLatin1String("card")) {
        librarian.action("EditCardName")->trigger();
    } else if (target == QLatin1String("card song")) {
        librarian.selectCardSong(2);
        view.cardPanel()->songsView()->setCurrentIndex(librarian.songs()->index(2, 0));
        librarian.action("EditCardSongName")->trigger();
        area = view.cardPanel()->songsView()->viewport();
    } else {
        QVERIFY(librarian.select(cards, file));
        librarian.page(cards)->treeView()->setCurrentIndex(librarian.item(cards, file));
        librarian.action(cards ? "EditArchiveName" : "EditLibraryItemName")->trigger();
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
    QTRY_COMPARE(view.session()->status(), status.isEmpty() ? opened : status);
    if (refused) {
        // The editor is back with the name selected; once it is left, the focus never falls on Close Card.
        QTRY_VERIFY((editor = qobject_cast<QLineEdit *>(QApplication::focusWidget())) &&
                    editor->isVisible() && editor->selectedText() == typed);
        QTest::keyClick(editor, Qt::Key_Escape);
        const QWidget *closeButton = view.cardPanel()->header()->findChild<QWidget *>("openCloseButton");
        for (int control = 0; control < 12; ++control) { // round the window's controls and back
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QVERIFY(QApplication::focusWidget() != closeButton);
        }
    }
    if (target == QLatin1String("card") || target == QLatin1String("card song")) {
        const bool card = target == QLatin1String("card");
        QTRY_COMPARE(card ? librarian.card()->name() : librarian.songs()->songName(2), stored);
        // On the card at once, as a window ended by a logout never closes it.
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
    librarian.action("DeleteLibraryItem")->trigger();
    QCOMPARE(librarian.boxes(), boxes);
    QCOMPARE(contents(), before);
    QCOMPARE(QDir(songs).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).contains(gone),
             false);
}

// A folder chosen on a page is its library's from then on: listed, kept in the settings, and for
// the card library the one whose safety copies are shown and made.
void TestLibrarianView::changingFolders()
{
    Librarian librarian;
    const QString other = librarian.dir.filePath("other");
    QVERIFY(QDir().mkpath(other + "/Safety Copies"));
    writeArchive(other + "/Safety Copies/Gig - before restore - 2026-01-01 10.00.00.mlad", "Gig");
    librarian.prompter.folderAnswer = other;
    QTest::mouseClick(librarian.page(true)->findChild<QToolButton *>(), Qt::LeftButton);
    QCOMPARE(m_configuration->cardLibraryLocation() + '|' + m_configuration->songLibraryLocation(),
             other + '|' + librarian.songLibrary);
    QVERIFY(librarian.select(true, other + "/Safety Copies"));
    librarian.pages()->setCurrentWidget(librarian.pages()->safetyCopies());
    QCOMPARE(librarian.pages()->safetyCopies()->treeWidget()->topLevelItemCount(), 1);
}

// A file shown from outside the window (morv-manager FILE, a file manager) opens in its details
// dialog, or is refused with the reason: never in an editable dialog whose Save must fail.
void TestLibrarianView::showingFiles()
{
    Librarian librarian;
    const QString refused =
        "C : The file \"%1\" cannot be opened.\n\nCould not open archive file: Error reading archive header.";
    QStringList boxes;
    for (const QString &file : QStringList{"junk.mlad", "cards/junk.MLAD", "Set.mlad"}) {
        const QString path = librarian.dir.filePath(file);
        const bool readable = file == "Set.mlad";
        readable ? writeArchive(path, "Set") : writeRange(path, 0, "not an archive");
        librarian.pages()->showFile(path);
        QCOMPARE(librarian.boxes(), readable ? boxes : boxes << refused.arg(path));
        QCOMPARE(librarian.pages()->findChild<ArchiveDetailView *>()->isVisible(), readable);
    }
}

// The mounted volumes are folders of the test; the card image's folder is mounted and unmounted.
void TestLibrarianView::cardsThatAppear()
{
    Librarian librarian;
    LibrarianView &view = *librarian.view;
    QStringList mounted;
    view.session()->mountWatcher()->setVolumeList([&mounted] { return mounted; });
    QSignalSpy messages(view.session(), &CardSession::statusMessage);
    QSignalSpy summaries(view.session(), &CardSession::cardSummaryChanged);

    // Nothing open: a card that appears opens, and is remembered.
    librarian.image.writeSong(2, sampleSong(2, 1));
    mounted << librarian.cardFolder;
    view.session()->mountWatcher()->start();
    QVERIFY(librarian.card()->isOpen());
    QCOMPARE(librarian.card()->path(), librarian.image.path());
    QCOMPARE(messages.last().at(0).toString(), "Opened the card on " + QDir::toNativeSeparators(librarian.cardFolder) + ".");
    QCOMPARE(summaries.last().at(0).toString(), "1 of 12 songs in use, 3 looper parts recorded, 0.1 MB of looper audio");
    librarian.action("VerifyCard")->trigger();
    QTRY_COMPARE(view.session()->status(), "ZOVAZODE.DAT: No problems found.");

    // Another card appears while one is open: offered, opened on request.
    CardImage other(librarian.dir.filePath("other"));
    QDir().mkpath(librarian.dir.filePath("other"));
    other.create("Other");
    mounted << librarian.dir.filePath("other");
    view.session()->mountWatcher()->poll();
    QCOMPARE(librarian.card()->path(), librarian.image.path());
    QVERIFY(librarian.action("OpenOfferedCard")->isVisible());
    librarian.action("OpenOfferedCard")->trigger();
    QCOMPARE(librarian.card()->path(), other.path());
    QVERIFY(!librarian.action("OpenOfferedCard")->isVisible());

    // The Open Card dialog starts at the card opened last, at the first mounted card when that
    // card's folder is gone; Recent Cards lists both, newest first, and forgets a file that is gone.
    librarian.prompter.fileAnswer.clear();
    librarian.action("OpenCard")->trigger();
    QCOMPARE(librarian.prompter.fileRequests.last().startPath, other.path());
    m_configuration->setSdCardLocation(librarian.dir.filePath("gone/ZOVAZODE.DAT"));
    librarian.action("OpenCard")->trigger();
    QCOMPARE(librarian.prompter.fileRequests.last().startPath, librarian.image.path());
    QMenu *recent = view.session()->recentCardsMenu();
    emit recent->aboutToShow();
    QStringList shown;
    for (QAction *action : recent->actions())
        shown << action->text();
    QCOMPARE(shown, QStringList({QDir::toNativeSeparators(other.path()), QDir::toNativeSeparators(librarian.image.path())}));
    librarian.action("CloseCard")->trigger();
    QCOMPARE(view.session()->status(), "Closed the card.");
    QVERIFY(QFile::remove(other.path()));
    emit recent->aboutToShow();
    QCOMPARE(recent->actions().size(), 1);
    recent->actions().first()->trigger();
    QCOMPARE(librarian.card()->path(), librarian.image.path());
    // A card pulled out is closed, and said so.
    QVERIFY(QFile::remove(librarian.image.path()));
    QTRY_COMPARE(view.session()->status(), "The card was ejected, so it was closed.");
}

// With no card open, the panel offers the demo card: made where scripts/run makes it, then opened.
void TestLibrarianView::demoCard()
{
    Librarian librarian;
    CardSession *session = librarian.view->session();
    QPushButton *button = librarian.view->cardPanel()->instructions()->demoButton();
    const QString demo =
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/Morv+ Demo Card/ZOVAZODE.DAT";
    for (const auto &[offer, said] : {std::pair("Make a demo card", "Made the demo card %1 and opened it."),
                                      std::pair("Open the demo card", "Opened the demo card %1.")}) {
        QCOMPARE(button->text(), offer);
        QTest::mouseClick(button, Qt::LeftButton);
        // Sizes in megabytes of 10^6 bytes, as morv-card make-demo gives them (3.7 in MiB).
        QCOMPARE(librarian.card()->path() + '|' + session->cardSummary() + '|' + session->status(),
                 demo + "|5 of 12 songs in use, 6 looper parts recorded, 3.8 MB of looper audio|" +
                     QString(said).arg(demo));
        librarian.action("CloseCard")->trigger();
    }
}

MORV_TEST_MAIN(TestLibrarianView)
#include "tst_librarianview.moc"
