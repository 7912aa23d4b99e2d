// SongArchive on built archive files and sparse card images: each operation's own checks and the
// library errors it passes on, with the file and the card left as they were; a card archive there
// and back with its edited name, the card-archive rule, progress and its stop, and close. The
// bytes of archives and restores are tested with the card data library.
#include "domain/sdcard.h"
#include "domain/songarchive.h"
#include "domaintest.h"
#include "support/archivebuilder.h"
#include "support/faultstream.h"
#include "support/filesnapshot.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <stdexcept>

using namespace ZovaZode;
namespace TS = ZovaZode::TestSupport;
using Card = TS::CardImage;

class TestSongArchive : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void errors_data();
    void errors();
    void cardArchiveThereAndBack();
    void cardArchiveRule_data();
    void cardArchiveRule();
    void songProgress_data();
    void songProgress();
    void close_data();
    void close();

private:
    QString filePath(const QString &name) const { return m_dir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Card> m_image;
    std::shared_ptr<SdCard> m_card;
};

void TestSongArchive::init()
{
    m_dir = std::make_unique<QTemporaryDir>(TS::scratchFolderTemplate());
    m_image = std::make_unique<Card>(m_dir->path());
    m_image->create("Archive Test Card", "Card for archive tests");
    for (int song = 0; song < 4; ++song)
        m_image->writeSong(song, TS::sampleSong(song, 4));
    m_card = std::make_shared<SdCard>();
    QVERIFY(m_card->open(m_image->path(), 1));
}

void TestSongArchive::errors_data()
{
    QTest::addColumn<QString>("content"); // of the archive file
    QTest::addColumn<int>("writable");
    QTest::addColumn<QString>("card");    // "open", "closed", "none" or "read-only"
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("song");
    QTest::addColumn<QString>("message");

    const QString open = "Could not open archive file: mlsdOpenArchiveW: Error opening file.";
    // clang-format off
    //                                 content       writable card    operation        song message
    QTest::newRow("missing")        << "missing"   << 0 << "open"  << "open"        << 0  << open;
    QTest::newRow("songInfo 1")     << "one song"  << 0 << "open"  << "songInfo"    << 1  << "Could not get song info: mlsdGetUISongDataFromArchive: song num out of archive song range - cannot get UI Song Data";
    QTest::newRow("part 5")         << "one song"  << 0 << "open"  << "partInfo"    << 0  << "Could not get part info: mlsdGetUIPartDataFromArchive: iPart is out of range - cannot send part data";
    QTest::newRow("write read-only")<< "one song"  << 0 << "open"  << "writeInfo"   << 0  << "Could not write song info: mlsdSendUISongDataToArchive: Error writing UI song data to archive";
    QTest::newRow("closed card")    << "one song"  << 1 << "closed"<< "archiveSong" << 0  << "Card is not open.";
    QTest::newRow("no card")        << "one song"  << 1 << "none"  << "restoreSong" << 0  << "Card is not open.";
    QTest::newRow("archive closed") << "one song"  << 1 << "closed"<< "archiveCard" << 0  << "Can not archive card: card not open.";
    QTest::newRow("restore closed") << "one song"  << 1 << "closed"<< "restoreCard" << 0  << "Can not restore card: card not open.";
    QTest::newRow("read-only card") << "one song"  << 0 << "read-only" << "restoreSong" << 0 << "Failed to restore song: mlsdRestoreSong: SD Card is not writable.";
    // The library trusts card song numbers; a wrong one would write into another song's records.
    QTest::newRow("archive 12")     << "one song"  << 1 << "open"  << "archiveSong" << 12 << "Failed to archive song: Card song number out of range.";
    QTest::newRow("restore to 12")  << "one song"  << 1 << "open"  << "restoreTo"   << 12 << "Failed to restore song: Card song number out of range.";
    // clang-format on
}

void TestSongArchive::errors()
{
    QFETCH(QString, content);
    QFETCH(int, writable);
    QFETCH(QString, card);
    QFETCH(QString, operation);
    QFETCH(int, song);
    QFETCH(QString, message);

    const QString path = filePath("Broken.mlad");
    TS::ArchiveBuilder builder;
    builder.addSong(TS::sampleSong(0, 5));
    if (content == "one song")
        builder.write(path);
    std::shared_ptr<SdCard> target = m_card;
    if (card == "closed")
        m_card->close();
    else if (card == "none")
        target.reset();
    else if (card == "read-only")
        QVERIFY((target = std::make_shared<SdCard>())->open(m_image->path(), 0));
    const QByteArray before = TS::wholeFile(path);
    const TS::FileSnapshot cardBefore(m_image->path());

    QCOMPARE(errorOf([&, song = song] {
                 SongArchive archive(path, writable > 0, writable / 2);
                 if (operation == "songInfo")
                     archive.songInfo(song);
                 else if (operation == "partInfo")
                     archive.partInfo(song, song == 0 ? 5 : 0);
                 else if (operation == "writeInfo")
                     archive.writeSongInfo(song, SongInfo());
                 else if (operation == "archiveSong")
                     archive.archiveSong(target, song);
                 else if (operation == "restoreSong")
                     archive.restoreSong(song, target, 5);
                 else if (operation == "restoreTo")
                     archive.restoreSong(0, target, song);
                 else if (operation == "archiveCard")
                     archive.archiveCard(target.get(), {});
                 else if (operation == "restoreCard")
                     archive.restoreCard(target.get(), {});
                 if (operation != "open")
                     QCOMPARE(archive.songCount(), 1);
             }),
             message);
    QCOMPARE(TS::wholeFile(path), before);
    QCOMPARE(TS::describe(cardBefore.changes()), QString());
}

// The card reloads what was restored; songs 4 to 11 hold no audio and report no progress.
void TestSongArchive::cardArchiveThereAndBack()
{
    const QString path = filePath(QStringLiteral("Card.mlad"));
    QVector<int> songs;
    {
        SongArchive archive(path, 1, 1);
        archive.archiveCard(m_card.get(), [&](int song, int count, int, int) {
            songs << (count == 12 ? song : -1);
            return false;
        });
        archive.setName(QStringLiteral("Renamed card"));
        archive.setDescription(QStringLiteral("Described"));
    }
    QCOMPARE(QVector<int>({songs.first(), songs.last()}), QVector<int>({0, 3}));
    Card other(m_dir->path(), QStringLiteral("OTHER.DAT"));
    other.create("Other card", "Other description", 9);
    SdCard target;
    QVERIFY(target.open(other.path(), 1));
    SongArchive archive(path, 0, 0);
    archive.restoreCard(&target, {});
    QCOMPARE(QStringList({target.name(), target.description()}), QStringList({"Renamed card", "Described"}));
    QCOMPARE(target.songInfo(3), m_card->songInfo(3));
    QCOMPARE(errorOf([&] { archive.restoreCard(&target, [](int, int, int, int) { return true; }); }),
             QStringLiteral("Failed to restore card: mlsdRestoreSong: Aborted by user."));
    QCOMPARE(errorOf([&] { archive.archiveCard(&target, {}); }),
             QStringLiteral("Failed to archive card: mlsdClearArchive: Archive is not writable."));
}

void TestSongArchive::cardArchiveRule_data()
{
    QTest::addColumn<int>("songs");
    QTest::addColumn<bool>("prefs");
    QTest::addColumn<bool>("cardArchive");

    // clang-format off
    //                                         songs prefs  cardArchive
    QTest::newRow("12 songs with prefs")    << 12 << true  << true;
    QTest::newRow("12 songs without prefs") << 12 << false << false;
    QTest::newRow("11 songs with prefs")    << 11 << true  << false;
    // clang-format on
}

void TestSongArchive::cardArchiveRule()
{
    QFETCH(int, songs);
    QFETCH(bool, prefs);
    QFETCH(bool, cardArchive);

    TS::ArchiveBuilder builder;
    for (int song = 0; song < songs; ++song)
        builder.addSong(TS::emptySong(song, 2));
    if (prefs)
        builder.setUserPrefs(TS::userPrefs());
    builder.write(filePath(QStringLiteral("Built.mlad")));
    const SongArchive archive(filePath(QStringLiteral("Built.mlad")), 0, 0);
    QCOMPARE(archive.songCount(), songs);
    QCOMPARE(archive.isCardArchive(), cardArchive);
}

void TestSongArchive::songProgress_data()
{
    QTest::addColumn<int>("stopAt");  // the call that answers true; 0 never
    QTest::addColumn<bool>("throws"); // the callable throws instead of answering
    QTest::addColumn<QString>("message");

    // clang-format off
    //                                  stopAt throws message
    QTest::newRow("runs through")    << 0 << false << QString();
    QTest::newRow("stop at first")   << 1 << false << "Failed to archive song: mlsdArchiveSong: Aborted by user.";
    QTest::newRow("callable throws") << 2 << true  << "from the callable";
    // clang-format on
}

// Six reports for the sample song (their cadence is the card data library's). A stopped or failed
// song leaves the archive as it was and usable; an exception from the callable reaches the caller.
void TestSongArchive::songProgress()
{
    QFETCH(int, stopAt);
    QFETCH(bool, throws);
    QFETCH(QString, message);

    SongArchive archive(filePath(QStringLiteral("Progress.mlsd")), 1, 1);
    archive.archiveSong(m_card, 3);
    int calls = 0;
    archive.songProgress = [&](int, int) {
        if (throws && ++calls == stopAt)
            throw std::runtime_error("from the callable");
        return !throws && ++calls == stopAt;
    };
    try {
        QCOMPARE(errorOf([&] { archive.archiveSong(m_card, 0); }), message);
    } catch (const std::runtime_error &error) {
        QCOMPARE(QString::fromUtf8(error.what()), message);
    }
    QCOMPARE(archive.songCount(), stopAt ? 1 : 2);
    QCOMPARE(calls, stopAt ? stopAt : 6);
    archive.songProgress = nullptr;
    archive.archiveSong(m_card, 1);
    QCOMPARE(archive.songInfo(archive.songCount() - 1).name, m_card->songInfo(1).name);
}

void TestSongArchive::close_data()
{
    QTest::addColumn<bool>("failCommit");
    QTest::addColumn<QString>("message");
    // clang-format off
    //                               failCommit message
    QTest::newRow("closes")       << false << QString();
    QTest::newRow("commit fails") << true  << "Could not close archive file: mlsdCloseArchive: Error committing archive file.";
    // clang-format on
}

void TestSongArchive::close()
{
    QFETCH(bool, failCommit);
    QFETCH(QString, message);

    TS::ScopedFaultInjector streams;
    const QString path = filePath(QStringLiteral("Closing.mlsd"));
    {
        SongArchive archive(path, 1, 1);
        archive.archiveSong(m_card, 1);
        if (failCommit)
            streams.failEvery(TS::StreamCall::Commit);
        QCOMPARE(errorOf([&] { archive.close(); }), message);
        // Whatever the outcome, the handle is gone (every operation asks for it the same way).
        const QString closed = QStringLiteral("Archive is closed.");
        QCOMPARE(errorOf([&] { archive.songCount(); }), closed);
        QCOMPARE(errorOf([&] { archive.close(); }), closed);
        streams.disarm();
    }
    // The headers were written before the commit failed; the file is a finished archive.
    const SongArchive reopened(path, 0, 0);
    QCOMPARE(reopened.songInfo(0), m_card->songInfo(1));
}

QTEST_GUILESS_MAIN(TestSongArchive)
#include "tst_songarchive.moc"
