// The safety net as the user meets it: each destructive command leaves a row on the Safety Copies
// page (what it holds, the card, what was about to happen, when; newest first), the question
// before it names the copy, and a copy goes back onto the card from the page (Restore This Copy,
// or dragged onto a card slot through the real views), or is deleted there. Edit > Undo puts the
// last command's copy back after one question, and says why when it cannot.
#include "librarianfixture.h"

#include "views/archiveview.h"
#include "views/libraryview.h"
#include "views/safetycopiesview.h"

#include <QApplication>
#include <QDropEvent>
#include <QTabWidget>
#include <QTreeView>
#include <QTreeWidget>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

namespace {

SongRecords verse()
{
    SongRecords records = sampleSong(2, 1);
    SongFields fields;
    fields.name = "Verse";
    records.song = songData(fields);
    return records;
}

QStringList rows(const SafetyCopiesView *page)
{
    QStringList result;
    for (int i = 0; i < page->treeWidget()->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = page->treeWidget()->topLevelItem(i);
        result << item->text(0) + " | " + item->text(1) + " | " + item->text(2);
    }
    return result;
}

// Runs a command as the user does, on a card whose slot 3 holds "Verse" with recordings.
void run(Librarian &librarian, const QString &command)
{
    LibrarianView &view = *librarian.view;
    if (command == "restore") {
        const QString archive = librarian.cardLibrary + "/Set.mlad";
        writeArchive(archive, "Set");
        view.tabs()->setCurrentWidget(view.archiveView());
        QTRY_VERIFY(librarian.item(true, archive).isValid());
        view.archiveView()->treeView()->selectionModel()->select(librarian.item(true, archive),
                                                                 QItemSelectionModel::ClearAndSelect);
        librarian.notifier.prepareAnswer(Notifier::Ok);
        view.action(LibrarianView::RestoreCardAction)->trigger();
    } else if (command == "copy") {
        const QString song = librarian.songLibrary + "/Intro.mlsd";
        writeSongFile(song, "Intro");
        view.tabs()->setCurrentWidget(view.libraryView());
        QTRY_VERIFY(librarian.item(false, song).isValid());
        view.libraryView()->treeView()->selectionModel()->select(librarian.item(false, song),
                                                                 QItemSelectionModel::ClearAndSelect);
        librarian.selectCardSong(2);
        librarian.notifier.prepareAnswer(Notifier::Ok);
        view.action(LibrarianView::OverwriteCardSongAction)->trigger();
    } else if (command != "clear all") {
        librarian.selectCardSong(command.mid(6).toInt() - 1);
        librarian.notifier.prepareAnswer(Notifier::Yes);
        view.action(LibrarianView::ClearCardSongAction)->trigger();
    } else {
        librarian.notifier.prepareAnswer(Notifier::Ok);
        view.action(LibrarianView::ClearAllCardSongsAction)->trigger();
    }
}

} // namespace

class TestSafetyCopiesView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_configuration = librarianConfiguration("tst_safetycopiesview"); }

    void rowsAfterCommands_data();
    void rowsAfterCommands();
    void putBack_data();
    void putBack();
    void deleted();
    void undo_data();
    void undo();

private:
    std::unique_ptr<ConfigurationManager> m_configuration;
};

void TestSafetyCopiesView::rowsAfterCommands_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QStringList>("rows"); // what | card | about to happen, newest first
    // clang-format off
    QTest::newRow("restore")         << QStringList{"restore"}   << QStringList{"Whole card | Gig | Restore"};
    QTest::newRow("copy onto slot")  << QStringList{"copy"}      << QStringList{"Song 3: Verse | Gig | Copy onto slot 3"};
    QTest::newRow("clear")           << QStringList{"clear 3"}   << QStringList{"Song 3: Verse | Gig | Clear song 3"};
    QTest::newRow("clear all")       << QStringList{"clear all"} << QStringList{"Whole card | Gig | Clear all songs"};
    QTest::newRow("clear empty")     << QStringList{"clear 5"}   << QStringList{};
    QTest::newRow("newest first")    << QStringList{"clear 3", "restore"}
                                     << QStringList{"Whole card | Gig | Restore", "Song 3: Verse | Gig | Clear song 3"};
    // clang-format on
}

void TestSafetyCopiesView::rowsAfterCommands()
{
    QFETCH(QStringList, commands);
    QFETCH(QStringList, rows);

    Librarian librarian;
    m_configuration->setSafetyCopiesEnabled(true); // the fixture turns them off
    librarian.image.writeSong(2, verse());
    librarian.openCard();
    const SafetyCopiesView *page = librarian.view->safetyCopiesView();
    const QString folder = librarian.cardLibrary + "/Safety Copies/";
    for (int i = 0; i < commands.size(); ++i) {
        if (i > 0)
            QTest::qWait(1100); // a later second, so that the order is the copies' own
        librarian.notifier.clear();
        run(librarian, commands.at(i));
        QTRY_VERIFY_WITH_TIMEOUT(!librarian.view->hasTransfers(), 20000);
        // The question names the copy it makes; an empty slot gets none.
        const QString question = librarian.notifier.texts().value(0);
        const QRegularExpressionMatch named =
            QRegularExpression("\n\nA safety copy is made first: \"(.+)\" in the Safety Copies folder\\.$")
                .match(question);
        QCOMPARE(named.hasMatch(), !rows.isEmpty());
        if (named.hasMatch())
            QVERIFY2(QDir(folder).entryList(QDir::Files).join('/').contains(named.captured(1)),
                     qPrintable(named.captured(1)));
    }
    librarian.view->tabs()->setCurrentWidget(librarian.view->safetyCopiesView());
    QTRY_COMPARE(::rows(page), rows);
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), rows.size());
}

void TestSafetyCopiesView::putBack_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("how");       // "restore" (the page's command) or "drop <row>" on the card
    QTest::addColumn<int>("slot");          // where "Verse" is afterwards, -1 for nowhere
    QTest::addColumn<QStringList>("boxes"); // titles of the boxes after the command's own
    // clang-format off
    QTest::newRow("song, restore")        << "clear 3"   << "restore" << 2  << QStringList{};
    QTest::newRow("song, dropped on 6")   << "clear 3"   << "drop 5"  << 5  << QStringList{};
    QTest::newRow("song, below the rows") << "clear 3"   << "drop 12" << -1 << QStringList{};
    QTest::newRow("card, restore")        << "clear all" << "restore" << 2  << QStringList{"Restore Morv+ Card"};
    // clang-format on
}

void TestSafetyCopiesView::putBack()
{
    QFETCH(QString, command);
    QFETCH(QString, how);
    QFETCH(int, slot);
    QFETCH(QStringList, boxes);

    Librarian librarian;
    m_configuration->setSafetyCopiesEnabled(true);
    librarian.image.writeSong(2, verse());
    librarian.openCard();
    LibrarianView &view = *librarian.view;
    run(librarian, command);
    QTRY_VERIFY_WITH_TIMEOUT(view.songListModel()->isEmptySong(2) && !view.hasTransfers(), 20000);

    SafetyCopiesView *page = view.safetyCopiesView();
    view.tabs()->setCurrentWidget(page);
    QTRY_COMPARE(page->treeWidget()->topLevelItemCount(), 1);
    page->treeWidget()->setCurrentItem(page->treeWidget()->topLevelItem(0));
    librarian.notifier.clear();
    if (how == "restore") {
        QVERIFY(page->restoreAction()->isEnabled());
        librarian.notifier.prepareAnswer(Notifier::Ok);
        page->restoreAction()->trigger();
    } else {
        // Dragged from the page's own data onto a row of the card's songs (or below the last).
        QTreeWidget *tree = page->treeWidget();
        std::unique_ptr<QMimeData> data(tree->model()->mimeData({tree->model()->index(0, 0)}));
        QVERIFY(data);
        const int row = how.mid(5).toInt();
        QAbstractItemView *songs = view.cardSongsView();
        view.resize(1000, 900);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QRect last = songs->visualRect(view.songListModel()->index(11, 0));
        const QPoint at = row < 12 ? songs->visualRect(view.songListModel()->index(row, 0)).center()
                                   : QPoint(last.center().x(), last.bottom() + 20);
        QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(songs->viewport(), &enter);
        QDropEvent drop(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(songs->viewport(), &drop);
    }
    QTest::qWait(100);
    QTRY_VERIFY_WITH_TIMEOUT(!view.hasTransfers(), 20000);
    for (int row = 0; row < 12; ++row)
        QCOMPARE(view.songListModel()->songName(row) == "Verse", row == slot);
    QStringList titles;
    for (const Notifier::Message &message : librarian.notifier.messages())
        titles << message.title;
    QCOMPARE(titles, boxes);
}

void TestSafetyCopiesView::deleted()
{
    Librarian librarian;
    m_configuration->setSafetyCopiesEnabled(true);
    librarian.image.writeSong(2, verse());
    librarian.openCard();
    run(librarian, "clear 3");
    SafetyCopiesView *page = librarian.view->safetyCopiesView();
    librarian.view->tabs()->setCurrentWidget(page);
    QTRY_COMPARE_WITH_TIMEOUT(page->treeWidget()->topLevelItemCount(), 1, 20000);
    page->treeWidget()->setCurrentItem(page->treeWidget()->topLevelItem(0));
    const QString path = page->selectedEntry()->path;
    for (Notifier::Button answer : {Notifier::No, Notifier::Yes}) {
        librarian.notifier.prepareAnswer(answer);
        page->deleteAction()->trigger();
        QCOMPARE(QFileInfo::exists(path), answer == Notifier::No);
        QCOMPARE(page->treeWidget()->topLevelItemCount(), answer == Notifier::No ? 1 : 0);
    }
}

void TestSafetyCopiesView::undo_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("then");   // what happens between the command and Undo
    QTest::addColumn<QString>("undo");   // the Undo command's text, or its tool tip when disabled
    // clang-format off
    QTest::newRow("clear")             << "clear 3"   << ""         << "&Undo \"Clear Song 3\"";
    QTest::newRow("clear all")         << "clear all" << ""         << "&Undo \"Clear All Card Songs\"";
    QTest::newRow("restore")           << "restore"   << ""         << "&Undo \"Restore Card\"";
    QTest::newRow("copy onto slot")    << "copy"      << ""         << "&Undo \"Copy Song onto Slot 3\"";
    QTest::newRow("copies off")        << "clear 3"   << "off"      << "Safety copies are turned off in the settings, so there is no copy to undo with.";
    QTest::newRow("card changed")      << "clear 3"   << "rename"   << "The card has changed since, so its safety copy would undo more than the last change.";
    QTest::newRow("copy deleted")      << "clear 3"   << "delete"   << "The safety copy is no longer in the Safety Copies folder.";
    QTest::newRow("empty slot")        << "clear 5"   << ""         << "Nothing has been changed on this card in this session.";
    // clang-format on
}

void TestSafetyCopiesView::undo()
{
    QFETCH(QString, command);
    QFETCH(QString, then);
    QFETCH(QString, undo);

    Librarian librarian;
    librarian.image.writeSong(2, verse());
    // The fixture turns safety copies off.
    m_configuration->setSafetyCopiesEnabled(then != "off");
    librarian.openCard();
    LibrarianView &view = *librarian.view;
    QAction *action = view.undoAction();
    QVERIFY(!action->isEnabled());
    QCOMPARE(action->shortcut(), QKeySequence(QKeySequence::Undo));

    run(librarian, command);
    QTRY_VERIFY_WITH_TIMEOUT(!view.hasTransfers(), 20000);
    if (then == "rename") {
        QTest::qWait(20); // a later time stamp on every file system
        view.card()->setName("Renamed");
        view.card()->flush();
    } else if (then == "delete") {
        const QString folder = librarian.cardLibrary + "/Safety Copies";
        for (const QString &file : QDir(folder).entryList(QDir::Files))
            QVERIFY(QFile::remove(folder + "/" + file));
    }
    view.updateUndo();
    QCOMPARE(action->isEnabled() ? action->text() : action->toolTip(), undo);
    if (!action->isEnabled())
        return;

    librarian.notifier.clear();
    librarian.notifier.prepareAnswer(Notifier::Ok);
    action->trigger();
    QCOMPARE(librarian.notifier.messages().size(), 1);
    QVERIFY(librarian.notifier.texts().first().startsWith(QString(undo).remove(QLatin1Char('&')) + "?\n\nThe card gets back what the safety copy \"Gig - "));
    QTRY_COMPARE_WITH_TIMEOUT(view.songListModel()->songName(2), QStringLiteral("Verse"), 20000);
    QVERIFY(!view.songListModel()->isEmptySong(2));
    QTRY_VERIFY(!view.hasTransfers());
    QVERIFY(!action->isEnabled());
}

QTEST_MAIN(TestSafetyCopiesView)
#include "tst_safetycopiesview.moc"
