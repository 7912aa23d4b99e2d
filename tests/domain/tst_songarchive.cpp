// SongArchive on built archive files and sparse card images: open errors, song files and card
// archives, names, record access, archive and restore through the card, progress and close.
#include "domain/sdcard.h"
#include "domain/songarchive.h"
#include "support/archivebuilder.h"
#include "support/cardimage.h"
#include "support/faultstream.h"
#include "support/filesnapshot.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>

using namespace ZovaZode;
namespace TS = ZovaZode::TestSupport;

namespace {

QString errorOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const SongArchive::Error &error) {
        return QString::fromUtf8(error.what());
    }
    return QString();
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

void comparePart(const PartInfo &actual, const PartInfo &expected)
{
    QCOMPARE(actual.hasData, expected.hasData);
    QCOMPARE(actual.isLooper, expected.isLooper);
    QCOMPARE(actual.isIntense, expected.isIntense);
    QCOMPARE(actual.count, expected.count);
    QCOMPARE(actual.genre, expected.genre);
    QCOMPARE(actual.style, expected.style);
    QCOMPARE(actual.timeSignature, expected.timeSignature);
    QCOMPARE(actual.bars, expected.bars);
    QCOMPARE(actual.tempo, expected.tempo);
    QCOMPARE(actual.duration, expected.duration);
}

} // namespace

class TestSongArchive : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void openErrors_data();
    void openErrors();
    void newSongFile();
    void cardArchive();
    void cardArchiveRule_data();
    void cardArchiveRule();
    void nameReachesFileOnlyWhenWritable_data();
    void nameReachesFileOnlyWhenWritable();
    void recordErrors_data();
    void recordErrors();
    void closedCardRefused_data();
    void closedCardRefused();
    void cardSongNumbersChecked_data();
    void cardSongNumbersChecked();
    void songProgress_data();
    void songProgress();
    void restoreSong();
    void restoreCard();
    void close_data();
    void close();

private:
    QString filePath(const QString &name) const { return QDir(m_dir->path()).filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TS::CardImage> m_image;
    std::shared_ptr<SdCard> m_card;
};

void TestSongArchive::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_image = std::make_unique<TS::CardImage>(m_dir->path());
    m_image->create("Archive Test Card", "Card for archive tests");
    for (int song = 0; song < 4; ++song)
        m_image->writeSong(song, TS::sampleSong(song, 4));
    m_card = std::make_shared<SdCard>();
    QVERIFY(m_card->open(m_image->path(), 1));
}

void TestSongArchive::cleanup()
{
    m_card.reset();
    m_image.reset();
    m_dir.reset();
}

void TestSongArchive::openErrors_data()
{
    QTest::addColumn<QString>("content"); // what the file holds before the open
    QTest::addColumn<int>("writable");
    QTest::addColumn<int>("create");
    QTest::addColumn<QString>("message");

    const QString openFailed =
        QStringLiteral("Could not open archive file: mlsdOpenArchiveW: Error opening file.");
    const QString badHeader =
        QStringLiteral("Could not open archive file: localOpenArchive: Error reading archive header.");

    // clang-format off
    QTest::newRow("missing, read")          << "missing"   << 0 << 0 << openFailed;
    QTest::newRow("missing, update")        << "missing"   << 1 << 0 << openFailed;
    QTest::newRow("missing folder, create") << "no folder" << 1 << 1 << openFailed;
    QTest::newRow("text file")              << "text"      << 0 << 0 << badHeader;
    QTest::newRow("empty file")             << "empty"     << 0 << 0 << badHeader;
    QTest::newRow("13 songs")               << "13 songs"  << 0 << 0 << badHeader;
    QTest::newRow("version 1")              << "version 1" << 1 << 0 << badHeader;
    QTest::newRow("wrong id")               << "wrong id"  << 0 << 0 << badHeader;
    // clang-format on
}

void TestSongArchive::openErrors()
{
    QFETCH(QString, content);
    QFETCH(int, writable);
    QFETCH(int, create);
    QFETCH(QString, message);

    QString path = filePath(QStringLiteral("Broken.mlad"));
    TS::ArchiveBuilder builder;
    builder.addSong(TS::emptySong(0, 1));
    if (content == QLatin1String("no folder"))
        path = filePath(QStringLiteral("no/such/folder/New.mlsd"));
    else if (content == QLatin1String("text"))
        TS::writeRange(path, 0, QByteArray("This is not an archive, only some text.\n").repeated(30));
    else if (content == QLatin1String("empty"))
        TS::writeRange(path, 0, QByteArray());
    else if (content == QLatin1String("13 songs"))
        TS::putWord(builder.header(), 532, 13);
    else if (content == QLatin1String("version 1"))
        TS::putWord(builder.header(), 4, 1);
    else if (content == QLatin1String("wrong id"))
        builder.header().replace(0, 4, "MLSD");
    if (content.contains(QLatin1Char(' ')) && content != QLatin1String("no folder"))
        builder.write(path);

    const QByteArray before = fileBytes(path);
    QCOMPARE(errorOf([&] { SongArchive archive(path, writable, create); }), message);
    QCOMPARE(fileBytes(path), before);
}

void TestSongArchive::newSongFile()
{
    const QString path = filePath(QStringLiteral("Song 2.mlsd"));
    const SongInfo cardSong = m_card->songInfo(2);
    {
        SongArchive archive(path, 1, 1);
        QCOMPARE(archive.songCount(), 0);
        archive.archiveSong(m_card, 2);
        QCOMPARE(archive.songCount(), 1);
        QVERIFY(!archive.isCardArchive());

        // The transfer worker's rename of the song it just archived.
        SongInfo info = archive.songInfo(archive.songCount() - 1);
        QCOMPARE(info, cardSong);
        info.name = QStringLiteral("Renamed");
        archive.writeSongInfo(archive.songCount() - 1, info);
    }

    const SongArchive archive(path, 0, 0);
    QCOMPARE(archive.songCount(), 1);
    QVERIFY(!archive.isCardArchive());
    SongInfo expected = cardSong;
    expected.name = QStringLiteral("Renamed");
    QCOMPARE(archive.songInfo(0), expected);
    for (int part = 0; part < SongArchive::partCount(); ++part)
        comparePart(archive.partInfo(0, part), m_card->partInfo(2, part));

    // Words 234 to 255 of the song record are not understood here; the rename keeps them.
    const QByteArray cardRecord = m_image->read(TS::CardImage::songDataRange(2));
    const QByteArray archived = TS::readRange(path, TS::kFirstSongOffset + TS::kSongHeaderSize, 1024);
    QCOMPARE(archived.mid(936), cardRecord.mid(936));
    QCOMPARE(archived.mid(516), cardRecord.mid(516));
}

void TestSongArchive::cardArchive()
{
    const QString path = filePath(QStringLiteral("Card.mlad"));
    QVector<int> songs;
    bool countAlways12 = true;
    {
        SongArchive archive(path, 1, 1);
        archive.archiveCard(m_card.get(), [&](int song, int songCount, int, int) {
            songs << song;
            countAlways12 = countAlways12 && songCount == 12;
            return false;
        });
        QCOMPARE(archive.songCount(), 12);
        QVERIFY(archive.isCardArchive());
        QCOMPARE(archive.name(), QStringLiteral("Archive Test Card"));
        QCOMPARE(archive.description(), QStringLiteral("Card for archive tests"));
        archive.setName(QStringLiteral("Renamed card"));
    }
    QVERIFY(countAlways12);
    QVERIFY(!songs.isEmpty());
    QCOMPARE(songs.first(), 0);
    QCOMPARE(songs.last(), 3); // songs 4 to 11 hold no audio and report nothing
    QVERIFY(std::is_sorted(songs.begin(), songs.end()));

    const SongArchive archive(path, 0, 0);
    QCOMPARE(archive.name(), QStringLiteral("Renamed card"));
    QCOMPARE(archive.description(), QStringLiteral("Card for archive tests"));
    QVERIFY(archive.isCardArchive());
    for (int song = 0; song < 12; ++song)
        QCOMPARE(archive.songInfo(song), m_card->songInfo(song));

    // Without a progress callable the card is archived all the same.
    SongArchive again(filePath(QStringLiteral("Again.mlad")), 1, 1);
    again.archiveCard(m_card.get(), {});
    QCOMPARE(again.songCount(), 12);
}

void TestSongArchive::cardArchiveRule_data()
{
    QTest::addColumn<int>("songs");
    QTest::addColumn<bool>("prefs");
    QTest::addColumn<bool>("cardArchive");

    // clang-format off
    QTest::newRow("12 songs with prefs")    << 12 << true  << true;
    QTest::newRow("12 songs without prefs") << 12 << false << false;
    QTest::newRow("11 songs with prefs")    << 11 << true  << false;
    QTest::newRow("1 song")                 << 1  << false << false;
    QTest::newRow("no song, prefs")         << 0  << true  << false;
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
    const QString path = filePath(QStringLiteral("Built.mlad"));
    builder.write(path);

    const SongArchive archive(path, 0, 0);
    QCOMPARE(archive.songCount(), songs);
    QCOMPARE(archive.isCardArchive(), cardArchive);
}

void TestSongArchive::nameReachesFileOnlyWhenWritable_data()
{
    QTest::addColumn<int>("writable");
    QTest::addColumn<bool>("written");

    // clang-format off
    QTest::newRow("read-only") << 0 << false;
    QTest::newRow("writable")  << 1 << true;
    // clang-format on
}

void TestSongArchive::nameReachesFileOnlyWhenWritable()
{
    QFETCH(int, writable);
    QFETCH(bool, written);

    TS::ArchiveBuilder builder;
    QByteArray name(128, '\0');
    TS::putText(name, 0, 128, "Original name");
    builder.setNameField(name);
    builder.addSong(TS::emptySong(0, 3));
    const QString path = filePath(QStringLiteral("Named.mlsd"));
    builder.write(path);
    const QByteArray before = fileBytes(path);

    {
        SongArchive archive(path, writable, 0);
        QCOMPARE(archive.name(), QStringLiteral("Original name"));
        archive.setName(QStringLiteral("Changed"));
        archive.setDescription(QStringLiteral("Described"));
        QCOMPARE(archive.name(), QStringLiteral("Changed"));
        QCOMPARE(archive.description(), QStringLiteral("Described"));
    }

    const QByteArray after = fileBytes(path);
    if (!written) {
        QCOMPARE(after, before);
        return;
    }
    QByteArray expected = before;
    TS::putText(expected, 8, 128, "Changed");
    TS::putText(expected, 136, 384, "Described");
    QCOMPARE(after, expected);
}

void TestSongArchive::recordErrors_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("writable");
    QTest::addColumn<int>("song");
    QTest::addColumn<int>("part");
    QTest::addColumn<QString>("message");

    // clang-format off
    QTest::newRow("songInfo song 1")         << "songInfo"      << 0 << 1  << 0 << "Could not get song info: mlsdGetUISongDataFromArchive: song num out " "of archive song range - cannot get UI Song Data";
    QTest::newRow("songInfo song -1")        << "songInfo"      << 0 << -1 << 0 << "Could not get song info: mlsdGetUISongDataFromArchive: song num " "out of archive song range - cannot get UI Song Data";
    QTest::newRow("partInfo part 5")         << "partInfo"      << 0 << 0  << 5 << "Could not get part info: mlsdGetUIPartDataFromArchive: iPart is out " "of range - cannot send part data";
    QTest::newRow("partInfo song 1")         << "partInfo"      << 0 << 1  << 0 << "Could not get part info: mlsdGetUIPartDataFromArchive: song num out " "of archive song range - cannot restore part data for song";
    QTest::newRow("writeSongInfo song 1")    << "writeSongInfo" << 1 << 1  << 0 << "Could not write song info: mlsdGetUISongDataFromArchive: song " "num out of archive song range - cannot get UI Song Data";
    QTest::newRow("writeSongInfo read-only") << "writeSongInfo" << 0 << 0  << 0 << "Could not write song info: mlsdSendUISongDataToArchive: Error writing UI song data to archive";
    // clang-format on
}

void TestSongArchive::recordErrors()
{
    QFETCH(QString, operation);
    QFETCH(int, writable);
    QFETCH(int, song);
    QFETCH(int, part);
    QFETCH(QString, message);

    TS::ArchiveBuilder builder;
    builder.addSong(TS::sampleSong(0, 5));
    const QString path = filePath(QStringLiteral("One.mlsd"));
    builder.write(path);
    const QByteArray before = fileBytes(path);

    {
        SongArchive archive(path, writable, 0);
        QCOMPARE(errorOf([&] {
                     if (operation == QLatin1String("songInfo"))
                         archive.songInfo(song);
                     else if (operation == QLatin1String("partInfo"))
                         archive.partInfo(song, part);
                     else if (operation == QLatin1String("writeSongInfo"))
                         archive.writeSongInfo(song, SongInfo());
                 }),
                 message);
        QCOMPARE(archive.songCount(), 1);
    }
    QCOMPARE(fileBytes(path), before);
}

void TestSongArchive::closedCardRefused_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("noCard"); // no card object at all rather than a closed one
    QTest::addColumn<QString>("message");

    // clang-format off
    QTest::newRow("archiveSong, closed card") << "archiveSong" << false << "Card is not open.";
    QTest::newRow("archiveSong, no card")     << "archiveSong" << true  << "Card is not open.";
    QTest::newRow("restoreSong, closed card") << "restoreSong" << false << "Card is not open.";
    QTest::newRow("restoreSong, no card")     << "restoreSong" << true  << "Card is not open.";
    QTest::newRow("archiveCard, closed card") << "archiveCard" << false << "Can not archive card: card not open.";
    QTest::newRow("archiveCard, no card")     << "archiveCard" << true  << "Can not archive card: card not open.";
    QTest::newRow("restoreCard, closed card") << "restoreCard" << false << "Can not restore card: card not open.";
    // clang-format on
}

void TestSongArchive::closedCardRefused()
{
    QFETCH(QString, operation);
    QFETCH(bool, noCard);
    QFETCH(QString, message);

    TS::ArchiveBuilder builder;
    builder.addSong(TS::sampleSong(1, 6));
    const QString path = filePath(QStringLiteral("Existing.mlsd"));
    builder.write(path);
    const QByteArray before = fileBytes(path);

    std::shared_ptr<SdCard> card;
    if (!noCard) {
        card = m_card;
        card->close();
    }
    {
        SongArchive archive(path, 1, 0);
        QCOMPARE(errorOf([&] {
                     if (operation == QLatin1String("archiveSong"))
                         archive.archiveSong(card, 0);
                     else if (operation == QLatin1String("restoreSong"))
                         archive.restoreSong(0, card, 0);
                     else if (operation == QLatin1String("archiveCard"))
                         archive.archiveCard(card.get(), {});
                     else if (operation == QLatin1String("restoreCard"))
                         archive.restoreCard(card.get(), {});
                 }),
                 message);
        QCOMPARE(archive.songCount(), 1);
    }
    QCOMPARE(fileBytes(path), before);
}

void TestSongArchive::cardSongNumbersChecked_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("cardSong");
    QTest::addColumn<QString>("message");

    // clang-format off
    QTest::newRow("archive song 12") << "archiveSong" << 12 << "Failed to archive song: Card song number out of range.";
    QTest::newRow("archive song -1") << "archiveSong" << -1 << "Failed to archive song: Card song number out of range.";
    QTest::newRow("restore to 12")   << "restoreSong" << 12 << "Failed to restore song: Card song number out of range.";
    QTest::newRow("restore to -1")   << "restoreSong" << -1 << "Failed to restore song: Card song number out of range.";
    // clang-format on
}

// The library trusts card song numbers; a wrong one would write into another song's records.
void TestSongArchive::cardSongNumbersChecked()
{
    QFETCH(QString, operation);
    QFETCH(int, cardSong);
    QFETCH(QString, message);

    TS::ArchiveBuilder builder;
    builder.addSong(TS::sampleSong(1, 6));
    const QString path = filePath(QStringLiteral("Existing.mlsd"));
    builder.write(path);
    const TS::FileSnapshot card(m_image->path());

    SongArchive archive(path, 1, 0);
    QCOMPARE(errorOf([&] {
                 if (operation == QLatin1String("archiveSong"))
                     archive.archiveSong(m_card, cardSong);
                 else
                     archive.restoreSong(0, m_card, cardSong);
             }),
             message);
    QCOMPARE(archive.songCount(), 1);
    QCOMPARE(TS::describe(card.changes()), QString());
}

void TestSongArchive::songProgress_data()
{
    QTest::addColumn<int>("stopAt");  // the call that answers true; 0 never
    QTest::addColumn<bool>("throws"); // the callable throws instead of answering
    QTest::addColumn<int>("songCount");
    QTest::addColumn<QString>("message");

    // clang-format off
    QTest::newRow("runs through")    << 0 << false << 2 << QString();
    QTest::newRow("stop at first")   << 1 << false << 1 << "Failed to archive song: mlsdArchiveSong: Aborted by user.";
    QTest::newRow("stop at third")   << 3 << false << 1 << "Failed to archive song: mlsdArchiveSong: Aborted by user.";
    QTest::newRow("callable throws") << 2 << true  << 1 << QString();
    // clang-format on
}

void TestSongArchive::songProgress()
{
    QFETCH(int, stopAt);
    QFETCH(bool, throws);
    QFETCH(int, songCount);
    QFETCH(QString, message);

    const QString path = filePath(QStringLiteral("Progress.mlsd"));
    SongArchive archive(path, 1, 1);
    archive.archiveSong(m_card, 3); // no progress callable: nothing to call

    QVector<QPair<int, int>> calls;
    archive.songProgress = [&](int done, int total) {
        calls << qMakePair(done, total);
        if (throws && calls.size() == stopAt)
            throw std::runtime_error("from the callable");
        return calls.size() == stopAt;
    };
    bool thrown = false;
    try {
        QCOMPARE(errorOf([&] { archive.archiveSong(m_card, 0); }), message);
    } catch (const std::runtime_error &error) {
        thrown = true;
        QCOMPARE(QString::fromUtf8(error.what()), QStringLiteral("from the callable"));
    }
    QCOMPARE(thrown, throws);
    QCOMPARE(archive.songCount(), songCount);

    // Parts 0 and 1 of the sample song hold 25 and 40 chunks.
    const int total = 65 * 1024;
    QVERIFY(!calls.isEmpty());
    QCOMPARE(calls.first(), qMakePair(10240, total));
    if (stopAt == 0)
        QCOMPARE(calls.size(), 6);
    else
        QCOMPARE(calls.size(), stopAt);

    // After a failure the archive is still usable and consistent.
    archive.songProgress = nullptr;
    archive.archiveSong(m_card, 1);
    QCOMPARE(archive.songCount(), songCount + 1);
    QCOMPARE(archive.songInfo(songCount).name, m_card->songInfo(1).name);
}

void TestSongArchive::restoreSong()
{
    const QString path = filePath(QStringLiteral("Song.mlsd"));
    {
        SongArchive archive(path, 1, 1);
        archive.archiveSong(m_card, 2);
    }
    const TS::FileSnapshot before(m_image->path());
    const TS::SongRecords records = TS::sampleSong(2, 4);

    SongArchive archive(path, 0, 0);
    QVector<int> done;
    archive.songProgress = [&](int bytes, int) {
        done << bytes;
        return false;
    };
    archive.restoreSong(0, m_card, 9);
    QCOMPARE(m_card->songInfo(9), m_card->songInfo(2));
    for (int part = 0; part < 5; ++part)
        comparePart(m_card->partInfo(9, part), m_card->partInfo(2, part));
    QCOMPARE(done.size(), 6);
    QCOMPARE(TS::describe(before.changesOutside(TS::CardImage::restoreRanges(9, records))), QString());

    QCOMPARE(errorOf([&] { archive.restoreSong(1, m_card, 9); }),
             QStringLiteral("Failed to restore song: mlsdRestoreSong: song num out of archive song range - "
                            "cannot restore song"));
    const std::shared_ptr<SdCard> readOnly = std::make_shared<SdCard>();
    QVERIFY(readOnly->open(m_image->path(), 0));
    QCOMPARE(errorOf([&] { archive.restoreSong(0, readOnly, 5); }),
             QStringLiteral("Failed to restore song: mlsdRestoreSong: SD Card is not writable."));
}

void TestSongArchive::restoreCard()
{
    const QString path = filePath(QStringLiteral("Whole.mlad"));
    {
        SongArchive archive(path, 1, 1);
        archive.archiveCard(m_card.get(), {});
    }

    QTemporaryDir otherDir;
    QVERIFY(otherDir.isValid());
    TS::CardImage other(otherDir.path());
    other.create("Other card", "Other description", 9);
    other.writeSong(6, TS::sampleSong(6, 9));
    SdCard target;
    QVERIFY(target.open(other.path(), 1));

    SongArchive archive(path, 0, 0);
    QVector<int> songs;
    archive.restoreCard(&target, [&](int song, int songCount, int, int) {
        songs << song;
        return songCount != 12;
    });
    QCOMPARE(songs.first(), 0);
    QCOMPARE(target.name(), QStringLiteral("Archive Test Card"));
    QCOMPARE(target.description(), QStringLiteral("Card for archive tests"));
    for (int song = 0; song < 12; ++song)
        QCOMPARE(target.songInfo(song), m_card->songInfo(song));

    QCOMPARE(errorOf([&] { archive.restoreCard(&target, [](int, int, int, int) { return true; }); }),
             QStringLiteral("Failed to restore card: mlsdRestoreSong: Aborted by user."));
}

void TestSongArchive::close_data()
{
    QTest::addColumn<bool>("failCommit");
    QTest::addColumn<QString>("message");

    // clang-format off
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

        // Whatever the outcome, the handle is gone.
        const QString closed = QStringLiteral("Archive is closed.");
        QCOMPARE(errorOf([&] { archive.songCount(); }), closed);
        QCOMPARE(errorOf([&] { archive.name(); }), closed);
        QCOMPARE(errorOf([&] { archive.setName(QStringLiteral("x")); }), closed);
        QCOMPARE(errorOf([&] { archive.songInfo(0); }), closed);
        QCOMPARE(errorOf([&] { archive.archiveSong(m_card, 2); }), closed);
        QCOMPARE(errorOf([&] { archive.close(); }), closed);
        streams.disarm();
    }
    // The headers were written before the commit failed; the file is a finished archive.
    const SongArchive reopened(path, 0, 0);
    QCOMPARE(reopened.songCount(), 1);
    QCOMPARE(reopened.songInfo(0), m_card->songInfo(1));
}

QTEST_GUILESS_MAIN(TestSongArchive)
#include "tst_songarchive.moc"
