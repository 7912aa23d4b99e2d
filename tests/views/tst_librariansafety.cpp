// Safety copies made by the window: each destructive command (restore card, copy onto a
// non-empty slot, clear a song, clear all songs) first saves what it overwrites into the card
// library's "Safety Copies" folder; a copy that cannot be made stops the command with the card
// untouched; turned off, no copy is made; and a copy restores the overwritten bytes.
// And the card shared with another program: its changes are read, never undone, and a card it
// holds is refused with its name.
#include "tst_librarianfixture.h"

#include "carddata/stream.h"
#include "support/filesnapshot.h"

#include "views/archiveview.h"
#include "views/libraryview.h"

#include <QRegularExpression>
#include <QTabWidget>
#include <QThread>
#include <QTreeView>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

namespace {

const QString kStamp = QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d");

SongRecords verse()
{
    SongRecords records = sampleSong(2, 1);
    SongFields fields;
    fields.name = "Verse";
    records.song = songData(fields);
    return records;
}

// Everything a change to card song 3 may touch, as it lies on the card now.
QByteArrayList songBytes(const CardImage &image, const SongRecords &records)
{
    QByteArrayList bytes;
    for (const ByteRange &range : CardImage::restoreRanges(2, records))
        bytes << image.read(range);
    return bytes;
}

QByteArray storedSongName(const CardImage &image, int song)
{
    return text(image.read(CardImage::songDataRange(song)), 4, 128);
}

QStringList safetyFiles(const QString &cardLibrary)
{
    return QDir(cardLibrary + QStringLiteral("/Safety Copies")).entryList(QDir::Files, QDir::Name);
}

} // namespace

class TestLibrarianSafety : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_configuration = librarianConfiguration("tst_librariansafety"); }
    void init()
    {
        m_configuration->setSafetyCopiesEnabled(true);
        m_configuration->setSafetyCopyLimit(20);
    }
    void cleanup() { carddata::setStreamOpener(nullptr); }

    void commands_data();
    void commands();
    void copyRestoresTheClearedSong();
    void pruned();
    void otherProgramsChanges_data();
    void otherProgramsChanges();
    void cardInUse();

private:
    // Runs `command` on a card whose slot 3 holds "Verse" with recordings.
    void run(Librarian &librarian, const QString &command);
    // Whether the command's change has reached the card.
    static bool changed(Librarian &librarian, const QString &command);

    std::unique_ptr<ConfigurationManager> m_configuration;
};

void TestLibrarianSafety::run(Librarian &librarian, const QString &command)
{
    LibrarianView &view = *librarian.view;
    if (command == QLatin1String("restore")) {
        const QString archive = librarian.cardLibrary + QStringLiteral("/Set.mlad");
        writeArchive(archive, "Set");
        view.tabs()->setCurrentIndex(0);
        QTRY_VERIFY(librarian.item(true, archive).isValid());
        view.archiveView()->treeView()->selectionModel()->select(librarian.item(true, archive),
                                                                 QItemSelectionModel::ClearAndSelect);
        librarian.notifier.prepareAnswer(Notifier::Ok);
        view.action(LibrarianView::RestoreCardAction)->trigger();
    } else if (command == QLatin1String("copy")) {
        const QString song = librarian.songLibrary + QStringLiteral("/Intro.mlsd");
        writeSongFile(song, "Intro");
        view.tabs()->setCurrentIndex(1);
        QTRY_VERIFY(librarian.item(false, song).isValid());
        view.libraryView()->treeView()->selectionModel()->select(librarian.item(false, song),
                                                                 QItemSelectionModel::ClearAndSelect);
        librarian.selectCardSong(2);
        librarian.notifier.prepareAnswer(Notifier::Ok);
        view.action(LibrarianView::OverwriteCardSongAction)->trigger();
    } else if (command == QLatin1String("clear")) {
        librarian.selectCardSong(2);
        librarian.notifier.prepareAnswer(Notifier::Yes);
        view.action(LibrarianView::ClearCardSongAction)->trigger();
    } else {
        librarian.notifier.prepareAnswer(Notifier::Ok);
        view.action(LibrarianView::ClearAllCardSongsAction)->trigger();
    }
}

bool TestLibrarianSafety::changed(Librarian &librarian, const QString &command)
{
    const LibrarianView &view = *librarian.view;
    if (command == QLatin1String("restore"))
        return view.card()->name() == QLatin1String("Set");
    if (command == QLatin1String("copy"))
        return view.songListModel()->songName(2) == QLatin1String("Intro");
    return view.songListModel()->isEmptySong(2);
}

void TestLibrarianSafety::commands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("mode");   // "on", "off", "failing" or "stopped" (while checking the copy)
    QTest::addColumn<QString>("copy");   // the copy's file name without its time stamp
    QTest::addColumn<QString>("stored"); // the name inside the copy
    const struct
    {
        const char *command;
        const char *copy;
        const char *stored;
    } commands[] = {
        {"restore", "Gig - before restore - %1.mlad", "Gig"},
        {"copy", "Gig - song 03 Verse - before overwriting - %1.mlsd", "Verse"},
        {"clear", "Gig - song 03 Verse - before clearing - %1.mlsd", "Verse"},
        {"clear all", "Gig - before clearing all songs - %1.mlad", "Gig"},
    };
    for (const auto &entry : commands) {
        for (const char *mode : {"on", "off", "failing", "stopped"}) {
            QTest::addRow("%s, %s", entry.command, mode)
                << entry.command << mode << QString::fromLatin1(entry.copy) << entry.stored;
        }
    }
}

void TestLibrarianSafety::commands()
{
    QFETCH(QString, command);
    QFETCH(QString, mode);
    QFETCH(QString, copy);
    QFETCH(QString, stored);

    Librarian librarian;
    const SongRecords records = verse();
    librarian.image.writeSong(2, records);
    librarian.openCard();
    QCOMPARE(librarian.view->songListModel()->songName(2), QStringLiteral("Verse"));
    const QByteArrayList before = songBytes(librarian.image, records);
    const QString folder = librarian.cardLibrary + QStringLiteral("/Safety Copies");

    m_configuration->setSafetyCopiesEnabled(mode != QLatin1String("off"));
    if (mode == QLatin1String("failing")) {
        QVERIFY(QDir().mkpath(folder));
        if (!librarian.makeImmutable(folder))
            QSKIP("The file system has no immutable flag.");
    }
    if (mode == QLatin1String("stopped")) {
        // The worker is asked to stop as soon as it reads the copy back.
        carddata::setStreamOpener([](const std::string &path, carddata::OpenMode how) {
            const QString file = QString::fromStdString(path);
            if (how == carddata::OpenMode::Read && file.contains(QLatin1String("/Safety Copies/")) &&
                file.endsWith(QLatin1String(".partial")))
                QThread::currentThread()->requestInterruption();
            return carddata::openFileStream(path, how);
        });
    }
    librarian.notifier.clear();
    run(librarian, command);

    if (mode == QLatin1String("failing") || mode == QLatin1String("stopped")) {
        QTRY_COMPARE(librarian.notifier.messages().size(), 2);
        const QString box = librarian.boxes().last();
        QVERIFY2(box.startsWith(QStringLiteral("C Safety Copy: Could not make a safety copy of the card, so "
                                               "nothing was changed.\n\n")),
                 qPrintable(box));
        QVERIFY(box.size() > 90);
        // Long enough for a queued operation to have run, were there one.
        QTest::qWait(200);
        QVERIFY(!changed(librarian, command));
        QCOMPARE(songBytes(librarian.image, records), before);
        // A copy stopped while it was checked is complete, and kept.
        QCOMPARE(safetyFiles(librarian.cardLibrary).size(), mode == QLatin1String("stopped") ? 1 : 0);
        if (mode == QLatin1String("stopped"))
            QCOMPARE(box,
                     QStringLiteral("C Safety Copy: Could not make a safety copy of the card, so nothing was "
                                    "changed.\n\nThe safety copy was cancelled while it was checked; it is "
                                    "kept, unchecked, in the Safety Copies folder."));
        return;
    }

    QTRY_VERIFY_WITH_TIMEOUT(changed(librarian, command), 20000);
    QCOMPARE(librarian.boxes().size(), 1); // the confirmation only
    const QStringList files = safetyFiles(librarian.cardLibrary);
    if (mode == QLatin1String("off")) {
        QCOMPARE(files, QStringList());
        return;
    }
    QCOMPARE(files.size(), 1);
    const QStringList around = copy.split(QStringLiteral("%1"));
    const QRegularExpression pattern(QLatin1Char('^') + QRegularExpression::escape(around.first()) + kStamp +
                                     QRegularExpression::escape(around.last()) + QLatin1Char('$'));
    QVERIFY2(pattern.match(files.first()).hasMatch(), qPrintable(files.first()));
    QCOMPARE(storedName(folder + QLatin1Char('/') + files.first()), stored);
}

void TestLibrarianSafety::copyRestoresTheClearedSong()
{
    Librarian librarian;
    m_configuration->setSafetyCopiesEnabled(true);
    const SongRecords records = verse();
    librarian.image.writeSong(2, records);
    librarian.openCard();
    const QByteArrayList before = songBytes(librarian.image, records);

    run(librarian, QStringLiteral("clear"));
    QTRY_VERIFY_WITH_TIMEOUT(changed(librarian, QStringLiteral("clear")), 20000);
    QVERIFY(songBytes(librarian.image, records) != before);
    const QStringList files = safetyFiles(librarian.cardLibrary);
    QCOMPARE(files.size(), 1);

    // Dropped onto the now empty slot, like any song file.
    emit librarian.view->songListModel()->songRestoreRequest(
        2, librarian.cardLibrary + QStringLiteral("/Safety Copies/") + files.first());
    QTRY_COMPARE_WITH_TIMEOUT(librarian.view->songListModel()->songName(2), QStringLiteral("Verse"), 20000);
    QTRY_COMPARE(songBytes(librarian.image, records), before);
    // The slot was empty, so nothing needed a copy.
    QCOMPARE(safetyFiles(librarian.cardLibrary).size(), 1);
}

void TestLibrarianSafety::pruned()
{
    Librarian librarian;
    m_configuration->setSafetyCopiesEnabled(true);
    m_configuration->setSafetyCopyLimit(1);
    librarian.image.writeSong(2, verse());
    librarian.openCard();
    run(librarian, QStringLiteral("clear"));
    QTRY_VERIFY_WITH_TIMEOUT(changed(librarian, QStringLiteral("clear")), 20000);
    QTRY_COMPARE(safetyFiles(librarian.cardLibrary).size(), 1);
    const QString first = safetyFiles(librarian.cardLibrary).first();
    // Another second, so that the second copy is the newer one; a restore always makes one (a
    // clear of the now empty slot would make none).
    QTest::qWait(1100);
    run(librarian, QStringLiteral("restore"));
    QTRY_COMPARE_WITH_TIMEOUT(safetyFiles(librarian.cardLibrary).size(), 1, 20000);
    QTRY_VERIFY(safetyFiles(librarian.cardLibrary).first() != first);
    QVERIFY(safetyFiles(librarian.cardLibrary).first().contains(QStringLiteral("before restore - ")));
}

void TestLibrarianSafety::otherProgramsChanges_data()
{
    QTest::addColumn<bool>("edited");    // the card's name was edited in the window first
    QTest::addColumn<QString>("notice"); // how the window comes to read the card again
    QTest::addColumn<QString>("box");    // the box shown about it, if any

    const QString dropped = QString::fromUtf8(SdCard::ChangedUnderneathText);
    // clang-format off
    QTest::newRow("close card")         << false << "close"  << "";
    QTest::newRow("before a command")   << false << "action" << "";
    QTest::newRow("on the timer")       << false << "timer"  << "";
    QTest::newRow("edited, close card") << true  << "close"  << "W : " + dropped;
    QTest::newRow("edited, timer")      << true  << "timer"  << "W : " + dropped;
    // clang-format on
}

// morv-card renames the card and a song while the window shows the card: the window shows the new
// names and never writes its old header back.
void TestLibrarianSafety::otherProgramsChanges()
{
    QFETCH(bool, edited);
    QFETCH(QString, notice);
    QFETCH(QString, box);

    Librarian librarian;
    m_configuration->setSafetyCopiesEnabled(false);
    librarian.image.writeSong(2, verse());
    librarian.openCard();
    if (edited)
        librarian.view->card()->setName(QStringLiteral("Edited Here"));
    QTest::qWait(20);
    {
        SdCard other;
        QVERIFY(other.open(librarian.image.path(), 1));
        other.setName(QStringLiteral("Renamed Elsewhere"));
        SongInfo info = other.songInfo(2);
        info.name = QStringLiteral("Chorus");
        other.setSongInfo(2, info);
        other.close();
    }
    librarian.notifier.clear();

    if (notice == QLatin1String("close")) {
        librarian.view->action(LibrarianView::CloseCardAction)->trigger();
    } else if (notice == QLatin1String("action")) {
        librarian.selectCardSong(2);
        librarian.notifier.prepareAnswer(Notifier::No);
        librarian.view->action(LibrarianView::ClearCardSongAction)->trigger();
        QCOMPARE(librarian.view->songListModel()->songName(2), QStringLiteral("Chorus"));
        QCOMPARE(librarian.view->card()->name(), QStringLiteral("Renamed Elsewhere"));
        librarian.notifier.clear();
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(librarian.view->songListModel()->songName(2), QStringLiteral("Chorus"),
                                  3000);
        QCOMPARE(librarian.view->card()->name(), QStringLiteral("Renamed Elsewhere"));
        librarian.view->action(LibrarianView::CloseCardAction)->trigger();
    }
    QCOMPARE(librarian.boxes(), box.isEmpty() ? QStringList() : QStringList{box});
    librarian.view->action(LibrarianView::CloseCardAction)->trigger();
    QCOMPARE(text(librarian.image.read(CardImage::headerRange()), 8, 128), QByteArray("Renamed Elsewhere"));
    QCOMPARE(storedSongName(librarian.image, 2), QByteArray("Chorus"));
}

// Another program writes the card: clearing a song waits a few seconds, then says who holds it.
void TestLibrarianSafety::cardInUse()
{
    Librarian librarian;
    m_configuration->setSafetyCopiesEnabled(false);
    librarian.image.writeSong(2, verse());
    librarian.openCard();
    const FileSnapshot before(librarian.image.path());
    QFile comm(QStringLiteral("/proc/self/comm"));
    QVERIFY(comm.open(QIODevice::ReadOnly));
    const QString self = QString::fromLocal8Bit(comm.readAll()).trimmed();
    const int held = ::open(QFile::encodeName(librarian.image.path()).constData(), O_RDONLY | O_CLOEXEC);
    QCOMPARE(::flock(held, LOCK_EX), 0);

    librarian.selectCardSong(2);
    librarian.notifier.clear();
    librarian.notifier.prepareAnswer(Notifier::Yes);
    librarian.view->action(LibrarianView::ClearCardSongAction)->trigger();
    ::close(held);
    QCOMPARE(librarian.boxes().size(), 2);
    QCOMPARE(
        librarian.boxes().last(),
        QStringLiteral("C Clear Song on Card: The card is in use by %1 (process %2). Try again when it has "
                       "finished.")
            .arg(self)
            .arg(::getpid()));
    QCOMPARE(describe(before.changes()), QString());
}

QTEST_MAIN(TestLibrarianSafety)
#include "tst_librariansafety.moc"
