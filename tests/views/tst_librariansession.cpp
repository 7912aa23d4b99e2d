// What the window keeps through a session: a card whose volume is mounted opens itself, or is
// offered while another card is open; the Open Card dialog starts at it; Recent Cards; the status
// bar's summary of the card.
#include "librarianfixture.h"

#include "domain/mountwatcher.h"

#include <QMenu>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

class TestLibrarianSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_configuration = librarianConfiguration("tst_librariansession"); }

    void cardsThatAppear();

private:
    std::unique_ptr<ConfigurationManager> m_configuration;
};

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

QTEST_MAIN(TestLibrarianSession)
#include "tst_librariansession.moc"
