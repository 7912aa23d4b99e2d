// Read-back comparison: an archive made from a card compares equal to it, as does a card a song
// was restored onto; a single byte changed in any record or in the audio, on either side, is
// reported with the exact place; names changed on purpose can be left out; abort stops it.
#include "carddata/compare.h"
#include "support/cardimage.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace ZovaZode::TestSupport;

namespace {

using CardPtr = std::unique_ptr<SdCardHandle, SdCardHandleCloser>;
using ArchivePtr = std::unique_ptr<ArchiveHandle, ArchiveHandleCloser>;

CardPtr openCard(const QString &path, int writable = 0)
{
    return CardPtr(mlsdOpenSDCard(QFile::encodeName(path).constData(), writable));
}

ArchivePtr openArchive(const QString &path, int writable = 0, int create = 0)
{
    return ArchivePtr(mlsdOpenArchiveW(path.toStdWString().c_str(), writable, create));
}

void flipByte(const QString &path, qint64 position)
{
    QByteArray byte = readRange(path, position, 1);
    QCOMPARE(byte.size(), 1);
    byte[0] = char(byte[0] ^ 0x5a);
    writeRange(path, position, byte);
}

enum class Side { Card, Archive };
enum class Record { SongData, PartData, Looper, Audio };

// Where a record of archive song `song` starts, from the archive's own header.
qint64 archivePosition(const QString &archive, int song, Record record, int part)
{
    const qint64 block = qint64(word64(readRange(archive, 536 + 8 * song, 8), 0));
    switch (record) {
    case Record::SongData:
        return block + 136;
    case Record::PartData:
        return block + 1160 + 16384 * part;
    case Record::Looper:
        return block + 83080 + 10752 * part;
    case Record::Audio:
        break;
    }
    const QByteArray songHeader = readRange(archive, block, 136);
    return block + qint64(word64(songHeader, 48 + 8 * part));
}

qint64 cardPosition(int song, Record record, int part)
{
    switch (record) {
    case Record::SongData:
        return CardImage::songDataPosition(song);
    case Record::PartData:
        return CardImage::partDataPosition(song, part);
    case Record::Looper:
        return CardImage::looperPosition(song, part);
    case Record::Audio:
        break;
    }
    return CardImage::audioPosition(song, part);
}

int stopAtOnce(int32_t, int32_t, void *)
{
    return 1;
}

} // namespace

Q_DECLARE_METATYPE(Side)
Q_DECLARE_METATYPE(Record)

class TestCompare : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void archiveOfCardIsEqual();
    void singleByteChanged_data();
    void singleByteChanged();
    void songFileAndRestoredSong();
    void headerFields_data();
    void headerFields();
    void ignoredName_data();
    void ignoredName();
    void abortStops();

private:
    QString path(const QString &name) const { return m_dir->path() + QLatin1Char('/') + name; }
    void archiveCard();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CardImage> m_card;
    QString m_archive;
};

void TestCompare::init()
{
    m_dir = std::make_unique<QTemporaryDir>(scratchFolderTemplate());
    QVERIFY(m_dir->isValid());
    m_card = std::make_unique<CardImage>(m_dir->path());
    m_card->create();
    for (int song = 0; song < 12; ++song)
        m_card->writeSong(song, sampleSong(song, 2));
    m_archive = path(QStringLiteral("card.mlad"));
    archiveCard();
}

void TestCompare::cleanup()
{
    m_card.reset();
    m_dir.reset();
}

void TestCompare::archiveCard()
{
    CardPtr card = openCard(m_card->path());
    QVERIFY(card);
    ArchivePtr archive = openArchive(m_archive, 1, 1);
    QVERIFY(archive);
    QCOMPARE(mlsdArchiveSDCard(card.get(), archive.get(), nullptr), 0);
    QCOMPARE(mlsdCloseArchive(archive.release()), 0);
}

void TestCompare::archiveOfCardIsEqual()
{
    CardPtr card = openCard(m_card->path());
    ArchivePtr archive = openArchive(m_archive);
    QVERIFY(card && archive);
    QCOMPARE(mlsdCompareArchiveCard(card.get(), archive.get(), nullptr), 0);
    for (int song = 0; song < 12; ++song)
        QCOMPARE(mlsdCompareArchiveSong(card.get(), archive.get(), song, song, nullptr), 0);
}

void TestCompare::singleByteChanged_data()
{
    QTest::addColumn<Side>("side");
    QTest::addColumn<Record>("record");
    QTest::addColumn<int>("song");
    QTest::addColumn<int>("part");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<QByteArray>("where");

    // Part 0 records 25 chunks, part 1 40; part 4 is unused with an untrusted looper record.
    // clang-format off
    QTest::newRow("card song data")      << Side::Card    << Record::SongData << 0  << 0 << qint64(4)     << QByteArray("song 1, song data");
    QTest::newRow("card part data")      << Side::Card    << Record::PartData << 3  << 2 << qint64(16000) << QByteArray("song 4, part 3, part data");
    QTest::newRow("card looper state")   << Side::Card    << Record::Looper   << 5  << 0 << qint64(0)     << QByteArray("song 6, part 1, looper record");
    QTest::newRow("card looper payload") << Side::Card    << Record::Looper   << 11 << 1 << qint64(9000)  << QByteArray("song 12, part 2, looper record");
    QTest::newRow("card empty looper")   << Side::Card    << Record::Looper   << 2  << 4 << qint64(20)    << QByteArray("song 3, part 5, looper record");
    QTest::newRow("card audio start")    << Side::Card    << Record::Audio    << 2  << 1 << qint64(0)     << QByteArray("song 3, part 2, looper audio at byte 0");
    QTest::newRow("card audio end")      << Side::Card    << Record::Audio    << 7  << 1 << qint64(40959) << QByteArray("song 8, part 2, looper audio at byte 40,959");
    QTest::newRow("archive song data")   << Side::Archive << Record::SongData << 9  << 0 << qint64(1000)  << QByteArray("song 10, song data");
    QTest::newRow("archive part data")   << Side::Archive << Record::PartData << 1  << 4 << qint64(516)   << QByteArray("song 2, part 5, part data");
    QTest::newRow("archive looper")      << Side::Archive << Record::Looper   << 4  << 0 << qint64(40)    << QByteArray("song 5, part 1, looper record");
    QTest::newRow("archive audio")       << Side::Archive << Record::Audio    << 6  << 0 << qint64(12345) << QByteArray("song 7, part 1, looper audio at byte 12,345");
    // clang-format on
}

void TestCompare::singleByteChanged()
{
    QFETCH(Side, side);
    QFETCH(Record, record);
    QFETCH(int, song);
    QFETCH(int, part);
    QFETCH(qint64, offset);
    QFETCH(QByteArray, where);

    if (side == Side::Card)
        flipByte(m_card->path(), cardPosition(song, record, part) + offset);
    else
        flipByte(m_archive, archivePosition(m_archive, song, record, part) + offset);

    CardPtr card = openCard(m_card->path());
    ArchivePtr archive = openArchive(m_archive);
    QVERIFY(card && archive);
    QCOMPARE(mlsdCompareArchiveSong(card.get(), archive.get(), song, song, nullptr), 1);
    QCOMPARE(QByteArray(mlsdGetErrorString()),
             "mlsdCompareArchiveSong: " + where + " differs from the original.");
    QCOMPARE(mlsdCompareArchiveCard(card.get(), archive.get(), nullptr), 1);
    QCOMPARE(QByteArray(mlsdGetErrorString()),
             "mlsdCompareArchiveCard: " + where + " differs from the original.");
    // The other songs are untouched.
    QCOMPARE(mlsdCompareArchiveSong(card.get(), archive.get(), (song + 1) % 12, (song + 1) % 12, nullptr), 0);
}

void TestCompare::songFileAndRestoredSong()
{
    const QString songFile = path(QStringLiteral("song.mlsd"));
    {
        CardPtr card = openCard(m_card->path());
        ArchivePtr archive = openArchive(songFile, 1, 1);
        QVERIFY(card && archive);
        QCOMPARE(mlsdArchiveSong(card.get(), archive.get(), 8, nullptr), 0);
        QCOMPARE(mlsdCloseArchive(archive.release()), 0);
    }
    CardPtr card = openCard(m_card->path(), 1);
    ArchivePtr archive = openArchive(songFile);
    QVERIFY(card && archive);
    QCOMPARE(mlsdCompareArchiveSong(card.get(), archive.get(), 8, 0, nullptr), 0);
    QCOMPARE(mlsdCompareArchiveSong(card.get(), archive.get(), 2, 0, nullptr), 1);
    QCOMPARE(QByteArray(mlsdGetErrorString()),
             "mlsdCompareArchiveSong: song 3, song data differs from the original.");

    // A restore turns the untrusted looper records into empty parts; that still compares equal.
    QCOMPARE(mlsdRestoreSong(card.get(), archive.get(), 2, 0, nullptr), 0);
    QCOMPARE(mlsdCompareArchiveSong(card.get(), archive.get(), 2, 0, nullptr), 0);
    QCOMPARE(mlsdCommitSDCard(card.get()), 0);
    card.reset();
    flipByte(m_card->path(), CardImage::audioPosition(2, 0) + 25 * 1024 - 1);
    card = openCard(m_card->path());
    QCOMPARE(mlsdCompareArchiveSong(card.get(), archive.get(), 2, 0, nullptr), 1);
    QCOMPARE(
        QByteArray(mlsdGetErrorString()),
        "mlsdCompareArchiveSong: song 3, part 1, looper audio at byte 25,599 differs from the original.");
}

void TestCompare::headerFields_data()
{
    QTest::addColumn<qint64>("position");
    QTest::addColumn<QByteArray>("where");

    // clang-format off
    QTest::newRow("card name")        << qint64(8 + 3)          << QByteArray("card name");
    QTest::newRow("card description") << qint64(136 + 383)      << QByteArray("card description");
    QTest::newRow("user preferences") << qint64(100 * 512 + 40) << QByteArray("user preferences");
    // clang-format on
}

void TestCompare::headerFields()
{
    QFETCH(qint64, position);
    QFETCH(QByteArray, where);

    flipByte(m_card->path(), position);
    CardPtr card = openCard(m_card->path());
    ArchivePtr archive = openArchive(m_archive);
    QVERIFY(card && archive);
    QCOMPARE(mlsdCompareArchiveCard(card.get(), archive.get(), nullptr), 1);
    QCOMPARE(QByteArray(mlsdGetErrorString()),
             "mlsdCompareArchiveCard: " + where + " differs from the original.");
}

void TestCompare::ignoredName_data()
{
    QTest::addColumn<bool>("wholeCard");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<bool>("equalWhenIgnored");

    // clang-format off
    QTest::newRow("song name")        << false << qint64(4 + 10)  << true;
    QTest::newRow("song description") << false << qint64(132 + 5) << false;
    QTest::newRow("card name")        << true  << qint64(8 + 10)  << true;
    QTest::newRow("card description") << true  << qint64(136)     << false;
    // clang-format on
}

void TestCompare::ignoredName()
{
    QFETCH(bool, wholeCard);
    QFETCH(qint64, offset);
    QFETCH(bool, equalWhenIgnored);

    if (wholeCard)
        flipByte(m_archive, offset);
    else
        flipByte(m_archive, archivePosition(m_archive, 0, Record::SongData, 0) + offset);
    CardPtr card = openCard(m_card->path());
    ArchivePtr archive = openArchive(m_archive);
    QVERIFY(card && archive);
    const auto compare = [&](unsigned ignore) {
        return wholeCard ? mlsdCompareArchiveCard(card.get(), archive.get(), nullptr, ignore)
                         : mlsdCompareArchiveSong(card.get(), archive.get(), 0, 0, nullptr, ignore);
    };
    QCOMPARE(compare(CompareIgnoreNone), 1);
    QCOMPARE(compare(CompareIgnoreName), equalWhenIgnored ? 0 : 1);
}

void TestCompare::abortStops()
{
    CardPtr card = openCard(m_card->path());
    ArchivePtr archive = openArchive(m_archive);
    QVERIFY(card && archive);
    const ProgressCallback stop{&stopAtOnce, nullptr};
    QCOMPARE(mlsdCompareArchiveSong(card.get(), archive.get(), 0, 0, &stop), 1);
    QCOMPARE(QByteArray(mlsdGetErrorString()), QByteArray("mlsdCompareArchiveSong: Aborted by user."));
}

QTEST_GUILESS_MAIN(TestCompare)
#include "tst_compare.moc"
