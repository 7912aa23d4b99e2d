// The librarian view's own commands: how the 18 actions follow the card, the page and the
// selections; the transfer indicators; opening a writable, a write-protected and a broken card;
// the default names; clearing songs; deleting library items; switching pages.
#include "tst_librarianfixture.h"

#include "support/filesnapshot.h"
#include "views/archiveview.h"
#include "views/cardsongsview.h"
#include "views/libraryview.h"
#include "views/sdcardheaderview.h"
#include "views/transferindicator.h"

#include <QAction>
#include <QLabel>
#include <QTabWidget>
#include <QTreeView>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

namespace {

enum class CardState { Closed, ReadOnly, Writable };
enum class Selection { None, Folder, Item };
enum Page { CardLibraryPage = 0, SongLibraryPage = 1 };

const QString kWarning = QStringLiteral("\n\nWARNING: This operation can not be undone.");

QStringList texts(const QList<QAction *> &actions)
{
    QStringList result;
    for (const QAction *action : actions)
        result << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return result;
}

// The colour of the upper arrow's shaft: the arrows are drawn in one colour of the palette.
QColor arrowColour(const QLabel *label)
{
    const QPixmap arrows = label->pixmap(Qt::ReturnByValue);
    return arrows.toImage().pixelColor(QPoint(20, 22) * arrows.devicePixelRatio());
}

} // namespace

Q_DECLARE_METATYPE(CardState)
Q_DECLARE_METATYPE(Selection)

class TestLibrarianView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void construction();
    void actionEnabling_data();
    void actionEnabling();
    void transferIndicators_data();
    void transferIndicators();
    void openCard_data();
    void openCard();
    void openCardStartsIn_data();
    void openCardStartsIn();
    void defaultNames_data();
    void defaultNames();
    void clearSongs_data();
    void clearSongs();
    void deleteItems_data();
    void deleteItems();
    void deleteFailure();
    void pageSwitching_data();
    void pageSwitching();

private:
    std::unique_ptr<ConfigurationManager> m_configuration;
};

void TestLibrarianView::initTestCase()
{
    m_configuration = librarianConfiguration("Morv Manager Librarian View Test");
}

void TestLibrarianView::construction()
{
    Librarian librarian;
    LibrarianView &view = *librarian.view;
    QCOMPARE(texts(view.cardActions()),
             QStringList({"&Open Card...", "&Close Card", "Edit Card &Name...", "Show Card &Details...", "-",
                          "&Edit Selected Card Song Name...", "&Show Selected Card Song Details...",
                          "Clea&r Selected Card Song", "Clear &All Card Songs"}));
    QCOMPARE(texts(view.libraryActions()),
             QStringList({"&Archive Card To Library", "&Restore Card From Selected Archive",
                          "&Edit Selected Archive Name...", "&Show Selected Archive Details...",
                          "&Delete Selected Archive Item", "-", "&Copy Selected Card Song To Library",
                          "&Overwrite Selected Card Song with Selected Library Song",
                          "Edit Selected &Library Item Name...", "Show Selected Library Song De&tails...",
                          "Delete Selected Library &Item"}));
    QCOMPARE(view.tabs()->count(), 2);
    QCOMPARE(view.tabs()->tabText(0), QStringLiteral("Card Library"));
    QCOMPARE(view.tabs()->widget(0), static_cast<QWidget *>(view.archiveView()));
    QCOMPARE(view.tabs()->tabText(1), QStringLiteral("Song Library"));
    QCOMPARE(view.tabs()->widget(1), static_cast<QWidget *>(view.libraryView()));
    QCOMPARE(view.cardLibraryModel()->rootPath(), librarian.cardLibrary);
    QCOMPARE(view.songLibraryModel()->rootPath(), librarian.songLibrary);

    QCOMPARE(
        view.instructionsLabel()->text(),
        QStringLiteral(
            "<h3>SD Card Instructions</h3><ul style=\"margin-right: 10px;\"><li style=\"margin-bottom: "
            "10px;\">Connect the SD card from your MORV+ to your computer using a card reader. Note that you "
            "should only access the MORV+ SD Card using the MORV Manager application. Please say no to any "
            "requests by the operating system to open the card or access the files.</li><li>Click the Open "
            "Card button above, find the ZOVAZODE drive, and open.  Select the ZOVAZODE.DAT file on the card "
            "and open the file.</li></ul>NOTE:  A new SD card must first be formatted by MORV+ by inserting "
            "the card in the pedal before using it with MORV Manager."));
    QCOMPARE(view.instructionsLabel()->font().pointSizeF(), view.font().pointSizeF() + 2);

    // The instructions and the card's songs take turns.
    view.show();
    QVERIFY(view.instructionsLabel()->isVisible());
    QVERIFY(!view.cardSongsView()->isVisible());
    librarian.openCard();
    QVERIFY(!view.instructionsLabel()->isVisible());
    QVERIFY(view.cardSongsView()->isVisible());
    QCOMPARE(view.songListModel()->rowCount(), 12);
    view.action(LibrarianView::CloseCardAction)->trigger();
    QVERIFY(!view.card()->isOpen());
    QVERIFY(view.instructionsLabel()->isVisible());
    QVERIFY(!view.cardSongsView()->isVisible());
}

void TestLibrarianView::actionEnabling_data()
{
    QTest::addColumn<CardState>("card");
    QTest::addColumn<int>("page");
    QTest::addColumn<bool>("song");
    QTest::addColumn<Selection>("archive");
    QTest::addColumn<Selection>("library");
    // Actions 0-3, 4-7 (Card menu), 8-12, 13-17 (Library menu).
    QTest::addColumn<QString>("enabled");

    using C = CardState;
    using S = Selection;
    const int A = CardLibraryPage;
    const int L = SongLibraryPage;
    // clang-format off
    QTest::newRow("closed, card library")          << C::Closed   << A << false << S::None   << S::None   << "1000 0000 00000 00000";
    QTest::newRow("closed, card library, items")   << C::Closed   << A << false << S::Item   << S::Item   << "1000 0000 00111 00000";
    QTest::newRow("closed, song library")          << C::Closed   << L << false << S::None   << S::None   << "1000 0000 00000 00000";
    QTest::newRow("closed, song library, items")   << C::Closed   << L << false << S::Item   << S::Item   << "1000 0000 00000 00111";
    QTest::newRow("read-only, card library")       << C::ReadOnly << A << false << S::None   << S::None   << "1101 0000 10000 00000";
    QTest::newRow("read-only, card lib, all")      << C::ReadOnly << A << true  << S::Item   << S::Item   << "1101 0100 10111 00000";
    QTest::newRow("read-only, song library")       << C::ReadOnly << L << false << S::None   << S::None   << "1101 0000 00000 00000";
    QTest::newRow("read-only, song lib, all")      << C::ReadOnly << L << true  << S::Item   << S::Item   << "1101 0100 00000 10111";
    QTest::newRow("writable, card library")        << C::Writable << A << false << S::None   << S::None   << "1111 0001 10000 00000";
    QTest::newRow("writable, card lib, all")       << C::Writable << A << true  << S::Item   << S::Item   << "1111 1111 11111 00000";
    QTest::newRow("writable, card lib, folders")   << C::Writable << A << true  << S::Folder << S::Folder << "1111 1111 10111 00000";
    QTest::newRow("writable, card lib, no song")   << C::Writable << A << false << S::Item   << S::Item   << "1111 0001 11111 00000";
    QTest::newRow("writable, song library")        << C::Writable << L << false << S::None   << S::None   << "1111 0001 00000 00000";
    QTest::newRow("writable, song lib, all")       << C::Writable << L << true  << S::Item   << S::Item   << "1111 1111 00000 11111";
    QTest::newRow("writable, song lib, folders")   << C::Writable << L << true  << S::Folder << S::Folder << "1111 1111 00000 10111";
    QTest::newRow("writable, song lib, no song")   << C::Writable << L << false << S::Item   << S::Item   << "1111 0001 00000 00111";
    QTest::newRow("writable, song lib, only song") << C::Writable << L << true  << S::None   << S::None   << "1111 1111 00000 10000";
    // clang-format on
}

void TestLibrarianView::actionEnabling()
{
    QFETCH(CardState, card);
    QFETCH(int, page);
    QFETCH(bool, song);
    QFETCH(Selection, archive);
    QFETCH(Selection, library);
    QFETCH(QString, enabled);

    Librarian librarian;
    LibrarianView &view = *librarian.view;
    QDir(librarian.cardLibrary).mkdir(QStringLiteral("Sets"));
    QDir(librarian.songLibrary).mkdir(QStringLiteral("Sets"));
    writeArchive(librarian.cardLibrary + "/Live.mlad", "Live");
    writeSongFile(librarian.songLibrary + "/Intro.mlsd", "Intro");

    if (card != CardState::Closed)
        QVERIFY(view.card()->open(librarian.image.path(), card == CardState::Writable ? 1 : 0));
    view.tabs()->setCurrentIndex(page);
    if (song)
        librarian.selectCardSong(4);
    const QString archivePath =
        librarian.cardLibrary + (archive == Selection::Folder ? "/Sets" : "/Live.mlad");
    const QString songPath = librarian.songLibrary + (library == Selection::Folder ? "/Sets" : "/Intro.mlsd");
    if (archive != Selection::None) {
        QTRY_VERIFY(librarian.item(true, archivePath).isValid());
        view.archiveView()->selectPath(archivePath);
    }
    if (library != Selection::None) {
        QTRY_VERIFY(librarian.item(false, songPath).isValid());
        view.libraryView()->selectPath(songPath);
    }

    QString actual;
    for (int id = 0; id < LibrarianView::ActionCount; ++id) {
        if (id == 4 || id == 8 || id == 13)
            actual += QLatin1Char(' ');
        actual += view.action(LibrarianView::ActionId(id))->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
    }
    QCOMPARE(actual, enabled);

    // The context menus of the other views follow the same rules.
    auto state = [&view](LibrarianView::ActionId id) { return view.action(id)->isEnabled(); };
    QCOMPARE(view.archiveView()->transferAction()->isEnabled(), state(LibrarianView::RestoreCardAction));
    QCOMPARE(view.libraryView()->transferAction()->isEnabled(),
             state(LibrarianView::OverwriteCardSongAction));
    QCOMPARE(view.cardSongsView()->overwriteAction()->isEnabled(),
             state(LibrarianView::OverwriteCardSongAction));
    QCOMPARE(view.cardSongsView()->clearAllAction()->isEnabled(), card == CardState::Writable);
    QCOMPARE(view.cardSongsView()->clearAction()->isEnabled(), card == CardState::Writable && song);
    QCOMPARE(view.cardSongsView()->editNameAction()->isEnabled(), card == CardState::Writable && song);
}

void TestLibrarianView::transferIndicators_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("page");

    // clang-format off
    QTest::newRow("no card")            << false << int(CardLibraryPage);
    QTest::newRow("card, card library") << true  << int(CardLibraryPage);
    QTest::newRow("card, song library") << true  << int(SongLibraryPage);
    // clang-format on
}

void TestLibrarianView::transferIndicators()
{
    QFETCH(bool, open);
    QFETCH(int, page);

    Librarian librarian;
    LibrarianView &view = *librarian.view;
    if (open)
        librarian.openCard();
    view.tabs()->setCurrentIndex(page);

    const bool cards = page == CardLibraryPage;
    QCOMPARE(view.cardLibraryIndicator()->isVisibleTo(&view), open);
    QCOMPARE(view.songLibraryIndicator()->isVisibleTo(&view), open);
    QCOMPARE(view.cardLibraryIndicator()->isEnabled(), cards);
    QCOMPARE(view.songLibraryIndicator()->isEnabled(), !cards);
    const QColor active = view.palette().color(QPalette::Active, QPalette::WindowText);
    const QColor inactive = view.palette().color(QPalette::Disabled, QPalette::WindowText);
    QCOMPARE(arrowColour(view.cardLibraryArrowLabel()), cards ? active : inactive);
    QCOMPARE(arrowColour(view.songLibraryArrowLabel()), cards ? inactive : active);

    // A dark palette draws them light.
    QPalette dark = view.palette();
    dark.setColor(QPalette::Active, QPalette::WindowText, Qt::white);
    view.setPalette(dark);
    QCOMPARE(arrowColour(cards ? view.cardLibraryArrowLabel() : view.songLibraryArrowLabel()), QColor(Qt::white));
}

void TestLibrarianView::openCard_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("writable");

    const QString kProtected =
        QStringLiteral("W Open Morv+ Card: The SD card appears to be write protected.\n\n"
                       "Modifications to the card have been disabled.");
    const QString kFailed = QStringLiteral("C Open Morv+ Card: Failed to open the card.");

    // clang-format off
    QTest::newRow("writable")        << "writable"  << QStringList()           << true  << true;
    QTest::newRow("write-protected") << "protected" << QStringList(kProtected) << true  << false;
    QTest::newRow("not a card")      << "garbage"   << QStringList(kFailed)    << false << false;
    QTest::newRow("cancelled")       << "cancel"    << QStringList()           << false << false;
    // clang-format on
}

void TestLibrarianView::openCard()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, boxes);
    QFETCH(bool, open);
    QFETCH(bool, writable);

    Librarian librarian("");
    LibrarianView &view = *librarian.view;
    QString path = librarian.image.path();
    if (kind == QLatin1String("protected") && !librarian.protectCard())
        QSKIP("chattr +i is not available here, so the card cannot be made unwritable for root.");
    if (kind == QLatin1String("garbage")) {
        path = librarian.cardFolder + "/NOTACARD.DAT";
        writeGarbage(path);
    }
    const FileSnapshot before(librarian.image.path());

    librarian.prompter.fileAnswer = kind == QLatin1String("cancel") ? QString() : path;
    view.action(LibrarianView::OpenCardAction)->trigger();

    QCOMPARE(librarian.prompter.fileRequests.size(), 1);
    QCOMPARE(librarian.prompter.fileRequests.first().title, QStringLiteral("Open Morv+ Card Data"));
    QCOMPARE(librarian.prompter.fileRequests.first().nameFilter,
             QStringLiteral("Morv+ Card Data (ZOVAZODE.DAT)"));
    QCOMPARE(librarian.boxes(), boxes);
    QCOMPARE(view.card()->isOpen(), open);
    QCOMPARE(view.card()->isWritable(), writable);
    QCOMPARE(m_configuration->sdCardLocation(), open ? path : QString());
    QCOMPARE(view.songListModel()->rowCount(), open ? 12 : 0);
    if (open) {
        // Shown on the unnamed card in any case; written only where the card can be written.
        QCOMPARE(view.card()->name(), QStringLiteral("Morv+ Card"));
        QCOMPARE(view.songListModel()->songName(0), writable ? QStringLiteral("Song 01") : QString());
    }
    if (!writable)
        QCOMPARE(describe(before.changes()), describe({}));

    // Nothing that writes may be offered on a write-protected card.
    librarian.selectCardSong(0);
    for (auto id : {LibrarianView::EditCardNameAction, LibrarianView::EditCardSongNameAction,
                    LibrarianView::ClearCardSongAction, LibrarianView::ClearAllCardSongsAction})
        QCOMPARE(view.action(id)->isEnabled(), writable);
    QCOMPARE(view.headerView()->editNameAction()->isEnabled(), writable);
    QCOMPARE(view.cardSongsView()->editNameAction()->isEnabled(), writable);
}

void TestLibrarianView::openCardStartsIn_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("cardOpen");
    QTest::addColumn<QString>("expected");

    // clang-format off
    QTest::newRow("nothing known")   << QString()                  << false << QDir::rootPath();
    QTest::newRow("stored location") << "/media/MORV/ZOVAZODE.DAT" << false << "/media/MORV/ZOVAZODE.DAT";
    QTest::newRow("open card")       << "/media/MORV/ZOVAZODE.DAT" << true  << "card";
    // clang-format on
}

void TestLibrarianView::openCardStartsIn()
{
    QFETCH(QString, stored);
    QFETCH(bool, cardOpen);
    QFETCH(QString, expected);

    Librarian librarian;
    if (cardOpen) {
        librarian.openCard();
        expected = librarian.image.path();
    }
    m_configuration->setSdCardLocation(stored);
    librarian.prompter.fileAnswer.clear();
    librarian.prompter.fileRequests.clear();
    librarian.view->action(LibrarianView::OpenCardAction)->trigger();
    QCOMPARE(librarian.prompter.fileRequests.size(), 1);
    QCOMPARE(librarian.prompter.fileRequests.first().startPath, expected);
    // Cancelling leaves an open card open.
    QCOMPARE(librarian.view->card()->isOpen(), cardOpen);
}

void TestLibrarianView::defaultNames_data()
{
    QTest::addColumn<QList<int>>("named");
    QTest::addColumn<QByteArray>("cardName");

    // clang-format off
    QTest::newRow("no song named")    << QList<int>()                                       << QByteArray("Gig");
    QTest::newRow("some songs named") << QList<int>({0, 5, 11})                             << QByteArray("Gig");
    QTest::newRow("unnamed card")     << QList<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}) << QByteArray();
    // clang-format on
}

void TestLibrarianView::defaultNames()
{
    QFETCH(QList<int>, named);
    QFETCH(QByteArray, cardName);

    Librarian librarian(cardName);
    for (int song : named) {
        SongFields fields;
        fields.name = "Named " + QByteArray::number(song);
        librarian.image.writeSongData(song, songData(fields));
    }
    const FileSnapshot before(librarian.image.path());
    QVector<ByteRange> allowed{CardImage::headerRange()};
    for (int song = 0; song < 12; ++song) {
        if (!named.contains(song))
            allowed << CardImage::songDataRange(song);
    }

    librarian.openCard();
    QVERIFY(librarian.boxes().isEmpty());
    const QString expectedCard =
        cardName.isEmpty() ? QStringLiteral("Morv+ Card") : QString::fromUtf8(cardName);
    QCOMPARE(librarian.view->card()->name(), expectedCard);
    for (int song = 0; song < 12; ++song) {
        const QString expected = named.contains(song)
                                     ? "Named " + QString::number(song)
                                     : QStringLiteral("Song %1").arg(song + 1, 2, 10, QLatin1Char('0'));
        QCOMPARE(librarian.view->songListModel()->songName(song), expected);
        QCOMPARE(QString::fromUtf8(text(librarian.image.read(CardImage::songDataRange(song)), 4, 128)),
                 expected);
    }

    librarian.view->action(LibrarianView::CloseCardAction)->trigger();
    QCOMPARE(QString::fromUtf8(text(librarian.image.read(CardImage::headerRange()), 8, 128)), expectedCard);
    QCOMPARE(describe(before.changesOutside(allowed)), describe({}));
}

void TestLibrarianView::clearSongs_data()
{
    QTest::addColumn<bool>("all");
    QTest::addColumn<int>("slot");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QList<int>>("cleared");

    const QString one =
        QStringLiteral("W Clear Song on Card: Are you sure you want to clear song #%1 on card?");
    const QString all = QStringLiteral("W : Are you sure you want to clear all songs on card?") + kWarning;
    // clang-format off
    QTest::newRow("first slot, yes") << false << 0  << int(Notifier::Yes)    << one.arg(1) + kWarning  << QList<int>({0});
    QTest::newRow("last slot, yes")  << false << 11 << int(Notifier::Yes)    << one.arg(12) + kWarning << QList<int>({11});
    QTest::newRow("first slot, no")  << false << 0  << int(Notifier::No)     << one.arg(1) + kWarning  << QList<int>();
    QTest::newRow("all, OK")         << true  << 0  << int(Notifier::Ok)     << all                    << QList<int>({0, 5, 11});
    QTest::newRow("all, Cancel")     << true  << 0  << int(Notifier::Cancel) << all                    << QList<int>();
    // clang-format on
}

void TestLibrarianView::clearSongs()
{
    QFETCH(bool, all);
    QFETCH(int, slot);
    QFETCH(int, answer);
    QFETCH(QString, box);
    QFETCH(QList<int>, cleared);

    Librarian librarian;
    const QList<int> songs{0, 5, 11};
    for (int song : songs)
        librarian.image.writeSong(song, sampleSong(song, 1));
    librarian.openCard();
    SongListModel *model = librarian.view->songListModel();
    QVector<QByteArray> records;
    for (int song : songs)
        records << librarian.image.read(CardImage::songDataRange(song));

    librarian.selectCardSong(slot);
    librarian.notifier.prepareAnswer(Notifier::Button(answer));
    librarian.view->action(all ? LibrarianView::ClearAllCardSongsAction : LibrarianView::ClearCardSongAction)
        ->trigger();

    QCOMPARE(librarian.boxes(), QStringList(box));
    for (int i = 0; i < songs.size(); ++i) {
        const int song = songs.at(i);
        const bool gone = cleared.contains(song);
        QCOMPARE(model->isEmptySong(song), gone);
        QCOMPARE(model->songName(song), gone
                                            ? QStringLiteral("Song %1").arg(song + 1, 2, 10, QLatin1Char('0'))
                                            : "Song " + QString::number(song) + " of card 1");
        if (!gone)
            QCOMPARE(librarian.image.read(CardImage::songDataRange(song)), records.at(i));
    }
}

void TestLibrarianView::deleteItems_data()
{
    QTest::addColumn<bool>("cards");
    QTest::addColumn<QString>("item");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("box");

    const QString ask =
        QStringLiteral("W Delete Item: Are you sure you want to delete %1 from %2 library?") + kWarning;
    // clang-format off
    QTest::newRow("archive, yes")    << true  << "Live.mlad" << int(Notifier::Yes) << ask.arg("archive \"Live\"", "card");
    QTest::newRow("archive, no")     << true  << "Live.mlad" << int(Notifier::No)  << ask.arg("archive \"Live\"", "card");
    QTest::newRow("song, yes")       << false << "x.mlsd"    << int(Notifier::Yes) << ask.arg("song \"Intro\"", "song");
    QTest::newRow("folder, yes")     << false << "Sets"      << int(Notifier::Yes) << ask.arg("folder \"Sets\"", "song");
    QTest::newRow("card folder, no") << true  << "Sets"      << int(Notifier::No)  << ask.arg("folder \"Sets\"", "card");
    QTest::newRow("unreadable, yes") << true  << "bad.mlad"  << int(Notifier::Yes) << ask.arg("file \"Corrupt File (bad.mlad)\"", "card");
    // clang-format on
}

void TestLibrarianView::deleteItems()
{
    QFETCH(bool, cards);
    QFETCH(QString, item);
    QFETCH(int, answer);
    QFETCH(QString, box);

    Librarian librarian;
    LibrarianView &view = *librarian.view;
    const QString folder = cards ? librarian.cardLibrary : librarian.songLibrary;
    // A folder goes with everything in it, however deep.
    QDir(folder).mkpath(QStringLiteral("Sets/Old"));
    writeSongFile(folder + "/Sets/Old/a.mlsd", "Old");
    writeArchive(folder + "/Sets/b.mlad", "Old");
    writeArchive(librarian.cardLibrary + "/Live.mlad", "Live");
    writeGarbage(librarian.cardLibrary + "/bad.mlad");
    writeSongFile(librarian.songLibrary + "/x.mlsd", "Intro");
    const QString path = folder + QLatin1Char('/') + item;

    view.tabs()->setCurrentIndex(cards ? CardLibraryPage : SongLibraryPage);
    QTRY_VERIFY(librarian.item(cards, path).isValid());
    if (cards)
        view.archiveView()->selectPath(path);
    else
        view.libraryView()->selectPath(path);
    librarian.notifier.prepareAnswer(Notifier::Button(answer));
    view.action(cards ? LibrarianView::DeleteArchiveItemAction : LibrarianView::DeleteLibraryItemAction)
        ->trigger();

    QCOMPARE(librarian.boxes(), QStringList(box));
    const bool deleted = answer == Notifier::Yes;
    QCOMPARE(QFileInfo::exists(path), !deleted);
    if (deleted)
        QTRY_VERIFY(!librarian.item(cards, path).isValid());
}

void TestLibrarianView::deleteFailure()
{
    Librarian librarian;
    const QString path = librarian.songLibrary + "/x.mlsd";
    writeSongFile(path, "Intro");
    QTRY_VERIFY(librarian.item(false, path).isValid());
    if (!librarian.makeImmutable(path))
        QSKIP("chattr +i is not available here, so the file cannot be made undeletable for root.");
    librarian.view->tabs()->setCurrentIndex(SongLibraryPage);
    librarian.view->libraryView()->selectPath(path);
    librarian.notifier.prepareAnswer(Notifier::Yes);
    librarian.view->action(LibrarianView::DeleteLibraryItemAction)->trigger();
    QCOMPARE(librarian.boxes().size(), 2);
    QCOMPARE(librarian.boxes().last(), QStringLiteral("C Delete Item: Failed to delete item."));
    QVERIFY(QFileInfo::exists(path));
}

void TestLibrarianView::pageSwitching_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");

    // clang-format off
    QTest::newRow("card box pressed")       << "header"        << int(SongLibraryPage) << int(CardLibraryPage);
    QTest::newRow("card library indicator") << "cardIndicator" << int(SongLibraryPage) << int(CardLibraryPage);
    QTest::newRow("card song pressed")      << "songs"         << int(CardLibraryPage) << int(SongLibraryPage);
    QTest::newRow("song library indicator") << "songIndicator" << int(CardLibraryPage) << int(SongLibraryPage);
    // clang-format on
}

void TestLibrarianView::pageSwitching()
{
    QFETCH(QString, source);
    QFETCH(int, from);
    QFETCH(int, to);

    Librarian librarian;
    LibrarianView &view = *librarian.view;
    librarian.openCard();
    view.show();
    view.tabs()->setCurrentIndex(from);
    if (source == QLatin1String("header"))
        emit view.headerView()->pressed();
    else if (source == QLatin1String("songs"))
        emit view.cardSongsView()->pressed(view.songListModel()->index(2, 0));
    else
        QTest::mousePress(source == QLatin1String("cardIndicator") ? view.cardLibraryIndicator()
                                                                   : view.songLibraryIndicator(),
                          Qt::LeftButton);
    QCOMPARE(view.tabs()->currentIndex(), to);
}

QTEST_MAIN(TestLibrarianView)
#include "tst_librarianview.moc"
