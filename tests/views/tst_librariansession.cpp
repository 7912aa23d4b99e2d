// What the window keeps through a session: Edit > Undo puts the last protected command's safety
// copy back (after one question) and says why when it cannot; a card whose volume is mounted
// opens itself, or is offered while another card is open; Recent Cards; the status bar summary.
#include "tst_librarianfixture.h"

#include "domain/mountwatcher.h"
#include "views/archiveview.h"
#include "views/libraryview.h"

#include <QMenu>
#include <QTabWidget>
#include <QTreeView>

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

} // namespace

class TestLibrarianSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_configuration = librarianConfiguration("tst_librariansession"); }

    void undo_data();
    void undo();
    void cardsThatAppear();

private:
    std::unique_ptr<ConfigurationManager> m_configuration;
};

void TestLibrarianSession::undo_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("then");   // what happens between the command and Undo
    QTest::addColumn<QString>("undo");   // the Undo command's text, or its tool tip when disabled
    // clang-format off
    QTest::newRow("clear")             << "clear"     << ""         << "Undo \"Clear Song 3\"";
    QTest::newRow("clear all")         << "clear all" << ""         << "Undo \"Clear All Card Songs\"";
    QTest::newRow("copies off")        << "clear"     << "off"      << "Safety copies are turned off in the settings, so there is no copy to undo with.";
    QTest::newRow("card changed")      << "clear"     << "rename"   << "The card has changed since, so its safety copy would undo more than the last change.";
    QTest::newRow("copy deleted")      << "clear"     << "delete"   << "The safety copy is no longer in the Safety Copies folder.";
    QTest::newRow("empty slot")        << "clear 5"   << ""         << "Nothing has been changed on this card in this session.";
    // clang-format on
}

void TestLibrarianSession::undo()
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

    librarian.selectCardSong(command == "clear 5" ? 4 : 2);
    librarian.notifier.prepareAnswer(command == "clear all" ? Notifier::Ok : Notifier::Yes);
    view.action(command == "clear all" ? LibrarianView::ClearAllCardSongsAction
                                       : LibrarianView::ClearCardSongAction)
        ->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!view.hasTransfers() && view.songListModel()->isEmptySong(2) == (command != "clear 5"),
                             20000);
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
    QVERIFY(librarian.notifier.texts().first().startsWith(undo + "?\n\nThe card gets back what the safety copy \"Gig - "));
    QTRY_COMPARE_WITH_TIMEOUT(view.songListModel()->songName(2), QStringLiteral("Verse"), 20000);
    QVERIFY(!view.songListModel()->isEmptySong(2));
    QTRY_VERIFY(!view.hasTransfers());
    QVERIFY(!action->isEnabled());
}

// The mounted volumes are folders of the test; the card image's folder is mounted and unmounted.
void TestLibrarianSession::cardsThatAppear()
{
    Librarian librarian;
    LibrarianView &view = *librarian.view;
    QStringList mounted;
    view.mountWatcher()->setVolumeList([&mounted] { return mounted; });
    QSignalSpy messages(&view, &LibrarianView::statusMessage);
    QSignalSpy summaries(&view, &LibrarianView::cardSummaryChanged);

    // Nothing open: a card that appears opens, and is remembered.
    librarian.image.writeSong(2, verse());
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

QTEST_MAIN(TestLibrarianSession)
#include "tst_librariansession.moc"
