// Card data file access: opening with its failures, reading and writing each record at its
// place and nowhere else, user prefs validation, clearing a song, and the per-thread error text.
#include "carddata/carddata.h"
#include "support/cardimage.h"
#include "support/faultstream.h"
#include "support/filesnapshot.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <thread>

#include <unistd.h>

using namespace ZovaZode::TestSupport;

namespace {

using CardPtr = std::unique_ptr<SdCardHandle, SdCardHandleCloser>;

CardPtr openCard(const QString &path, int writable)
{
    return CardPtr(mlsdOpenSDCard(QFile::encodeName(path).constData(), writable));
}

QByteArray errorText()
{
    return QByteArray(mlsdGetErrorString());
}

uint8_t *data(QByteArray &buffer)
{
    return reinterpret_cast<uint8_t *>(buffer.data());
}

enum class Record { Header, UserPrefs, Song, Part };

} // namespace

Q_DECLARE_METATYPE(Record)

class TestCardAccess : public QObject
{
    Q_OBJECT

private slots:
    void openFailures_data();
    void openFailures();
    void openReadsHeaderAndWritesNothing();
    void openKeepsWholePath();
    void recordAccess_data();
    void recordAccess();
    void userPrefsInvalid_data();
    void userPrefsInvalid();
    void clearSong_data();
    void clearSong();
    void clearInvalidSongChangesNothing();
    void clearStopsAtInvalidPart();
    void clearReadOnlyCardChangesNothing();
    void closeReportsFailedCommit();
    void errorTextPerThread();

private:
    QTemporaryDir m_dir{scratchFolderTemplate()};
};

void TestCardAccess::openFailures_data()
{
    QTest::addColumn<QByteArray>("content"); // laid at byte 0
    QTest::addColumn<qint64>("size");        // file size; -1: no file at all
    QTest::addColumn<int>("writable");
    QTest::addColumn<QByteArray>("text");

    const QByteArray header = cardHeader("Card", "Description");
    QByteArray wrongId = header;
    wrongId.replace(0, 4, "MLSd");
    const qint64 card = CardImage::kFileSize;
    const QByteArray notCard(
        "mlsdOpenSDCard: The file is not the size of a card data file (3,207,041,024 bytes).");
    // clang-format off
    //                                          content        size           writable  text
    QTest::newRow("missing file")            << QByteArray() << qint64(-1)    << 0 << QByteArray("mlsdOpenSDCard: Error opening SD card file.");
    QTest::newRow("missing file, writing")   << QByteArray() << qint64(-1)    << 1 << QByteArray("mlsdOpenSDCard: Error opening SD card file.");
    QTest::newRow("wrong ID")                << wrongId      << card          << 0 << QByteArray("mlsdOpenSDCard: SD Card File header does not have the correct ID.");
    QTest::newRow("wrong ID, writing")       << wrongId      << card          << 1 << QByteArray("mlsdOpenSDCard: SD Card File header does not have the correct ID.");
    QTest::newRow("empty file")              << QByteArray() << qint64(0)     << 1 << notCard;
    QTest::newRow("1023-byte file")          << header       << qint64(1023)  << 0 << notCard;
    QTest::newRow("51 KB, header, writing")  << header       << qint64(52224) << 1 << notCard;
    QTest::newRow("a byte short, writing")   << header       << card - 1      << 1 << notCard;
    QTest::newRow("a byte more, writing")    << header       << card + 1      << 1 << notCard;
    // clang-format on
}

void TestCardAccess::openFailures()
{
    QFETCH(QByteArray, content);
    QFETCH(qint64, size);
    QFETCH(int, writable);
    QFETCH(QByteArray, text);

    const QString path = m_dir.filePath(QStringLiteral("open-failure.dat"));
    QFile::remove(path);
    if (size >= 0) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
        file.close();
        writeRange(path, 0, content.left(int(size)));
    }
    const QByteArray before = readRange(path, 0, 4096);

    const int descriptors = openFileDescriptorCount();
    CardPtr handle = openCard(path, writable);
    QVERIFY(!handle);
    QCOMPARE(errorText(), text);
    QCOMPARE(openFileDescriptorCount(), descriptors);
    // Refused before anything is read or written: a card is never grown to its size.
    QCOMPARE(QFile::exists(path), size >= 0);
    if (size >= 0) {
        QCOMPARE(fileSize(path), size);
        QCOMPARE(readRange(path, 0, 4096), before);
    }
}

void TestCardAccess::openReadsHeaderAndWritesNothing()
{
    CardImage card(m_dir.path());
    card.create("Gig card", "Saturday set");
    card.writeSong(0, sampleSong(0, 1));
    const FileSnapshot before(card.path());
    const int descriptors = openFileDescriptorCount();
    {
        CardPtr handle = openCard(card.path(), 1);
        QVERIFY2(handle, mlsdGetErrorString());
        QCOMPARE(handle->writable, 1);
        QCOMPARE(handle->memoryMap.words[MapSongDataSector], 41260);
        const QByteArray header(reinterpret_cast<const char *>(handle->header.data()), 1024);
        QCOMPARE(header, card.read(CardImage::headerRange()));
        QVERIFY(handle->memoryManager);
        QCOMPARE(handle->memoryManager->partTable[0][0].state, 1); // no record read at open
        QCOMPARE(openFileDescriptorCount(), descriptors + 1);
    }
    QCOMPARE(openFileDescriptorCount(), descriptors);
    const QVector<ByteRange> changed = before.changes();
    QVERIFY2(changed.isEmpty(), qPrintable(describe(changed)));

    CardPtr readOnly = openCard(card.path(), 0);
    QVERIFY(readOnly);
    QCOMPARE(readOnly->writable, 0);
}

void TestCardAccess::openKeepsWholePath()
{
    const QString base = m_dir.path();
    const int lastLength = 300 - int(base.size()) - 1 - 120 - 1 - 1 - 12;
    QVERIFY(lastLength > 0 && lastLength < 256);
    const QString folder = base + QLatin1Char('/') + QString(120, QLatin1Char('a')) + QLatin1Char('/') +
                           QString(lastLength, QLatin1Char('b'));
    QVERIFY(QDir().mkpath(folder));
    CardImage card(folder);
    card.create("Long path card");
    QCOMPARE(card.path().size(), 300);

    CardPtr handle = openCard(card.path(), 1);
    QVERIFY2(handle, mlsdGetErrorString());
    QCOMPARE(QByteArray::fromStdString(handle->name), QFile::encodeName(card.path()));
    QCOMPARE(text(QByteArray(reinterpret_cast<const char *>(handle->header.data()), 1024), 8, 128),
             QByteArray("Long path card"));
}

void TestCardAccess::recordAccess_data()
{
    QTest::addColumn<Record>("record");
    QTest::addColumn<int>("song");
    QTest::addColumn<int>("part");

    // clang-format off
    QTest::newRow("header")          << Record::Header    << 0  << 0;
    QTest::newRow("user prefs")      << Record::UserPrefs << 0  << 0;
    QTest::newRow("song 0")          << Record::Song      << 0  << 0;
    QTest::newRow("song 11")         << Record::Song      << 11 << 0;
    QTest::newRow("song 0 part 0")   << Record::Part      << 0  << 0;
    QTest::newRow("song 6 part 3")   << Record::Part      << 6  << 3;
    QTest::newRow("song 11 part 4")  << Record::Part      << 11 << 4;
    // clang-format on
}

void TestCardAccess::recordAccess()
{
    QFETCH(Record, record);
    QFETCH(int, song);
    QFETCH(int, part);

    CardImage card(m_dir.path());
    card.create("Records", "Every record at its place", 5);
    // Neighbours on both sides hold data, so a write that strays shows.
    for (int s = 0; s < 12; ++s)
        card.writeSong(s, sampleSong(s, 2));

    ByteRange range;
    QByteArray replacement;
    switch (record) {
    case Record::Header:
        range = CardImage::headerRange();
        replacement = cardHeader("New name", "New description", 77);
        break;
    case Record::UserPrefs:
        range = CardImage::userPrefsRange();
        replacement = userPrefs({2, 0, 11, 78});
        break;
    case Record::Song:
        range = CardImage::songDataRange(song);
        replacement = sampleSong(song, 9).song;
        break;
    case Record::Part:
        range = CardImage::partDataRange(song, part);
        replacement = sampleSong(song, 9).parts[part];
        break;
    }
    const QByteArray stored = card.read(range);

    CardPtr handle = openCard(card.path(), 1);
    QVERIFY2(handle, mlsdGetErrorString());
    carddata::Stream *file = handle->file.get();
    const CardMemoryMap *map = &handle->memoryMap;

    auto get = [&](QByteArray &buffer) {
        switch (record) {
        case Record::Header:
            return mlsdGetHeaderFromSDCard(file, map, data(buffer));
        case Record::UserPrefs:
            return mlsdGetUserPrefsFromSDCard(file, map, data(buffer));
        case Record::Song:
            return mlsdGetUISongDataFromSDCard(file, map, song, data(buffer));
        case Record::Part:
            return mlsdGetUIPartDataFromSDCard(file, map, song, part, data(buffer));
        }
        return -1;
    };
    auto send = [&](QByteArray &buffer) {
        switch (record) {
        case Record::Header:
            return mlsdSendHeaderToSDCard(file, map, data(buffer));
        case Record::UserPrefs:
            return mlsdSendUserPrefsToSDCard(file, map, data(buffer));
        case Record::Song:
            return mlsdSendUISongDataToSDCard(file, map, song, data(buffer));
        case Record::Part:
            return mlsdSendUIPartToSDCard(file, map, song, part, data(buffer));
        }
        return -1;
    };

    QByteArray buffer(int(range.size), '\0');
    QCOMPARE(get(buffer), 0);
    QCOMPARE(buffer, stored);

    const FileSnapshot before(card.path());
    QCOMPARE(send(replacement), 0);
    QCOMPARE(mlsdCommitSDCard(handle.get()), 0);
    QCOMPARE(card.read(range), replacement);
    const QVector<ByteRange> changed = before.changesOutside({range});
    QVERIFY2(changed.isEmpty(), qPrintable(describe(changed)));

    // Read back through the same handle after the write.
    QByteArray again(int(range.size), '\0');
    QCOMPARE(get(again), 0);
    QCOMPARE(again, replacement);
}

void TestCardAccess::userPrefsInvalid_data()
{
    QTest::addColumn<int>("word1");
    QTest::addColumn<int>("word3");
    QTest::addColumn<int>("word4");

    QTest::newRow("word 4 is 12") << 0 << 0 << 12;
    QTest::newRow("word 3 is 2") << 0 << 2 << 0;
    QTest::newRow("word 1 is -1") << -1 << 0 << 0;
}

void TestCardAccess::userPrefsInvalid()
{
    QFETCH(int, word1);
    QFETCH(int, word3);
    QFETCH(int, word4);

    CardImage card(m_dir.path());
    card.create();
    const QByteArray prefs = userPrefs({word1, word3, word4, 12});
    card.writeUserPrefs(prefs);
    CardPtr handle = openCard(card.path(), 0);
    QVERIFY(handle);
    QByteArray buffer(512, '\0');
    QCOMPARE(mlsdGetUserPrefsFromSDCard(handle->file.get(), &handle->memoryMap, data(buffer)), 1);
    QCOMPARE(errorText(), QByteArray("mlsdGetUserPrefsFromSDCard: UserPrefs read from SD card are invalid."));
    QCOMPARE(buffer, prefs);
}

void TestCardAccess::clearSong_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("nullName");
    QTest::addColumn<QByteArray>("nameStart"); // the name field's first bytes afterwards
    QTest::addColumn<int>("keptFrom");         // first byte of the name field keeping its old value

    const QByteArray full(128, 'F');
    // clang-format off
    QTest::newRow("six bytes") << QByteArray("Intro!") << false << QByteArray("Intro!\0\0", 8) << 8;
    QTest::newRow("null name") << QByteArray()         << true  << QByteArray(4, '\0')         << 4;
    QTest::newRow("128 bytes") << full                 << false << full                        << 128;
    // clang-format on
}

void TestCardAccess::clearSong()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, nullName);
    QFETCH(QByteArray, nameStart);
    QFETCH(int, keptFrom);

    CardImage card(m_dir.path());
    card.create();
    for (int s = 3; s <= 5; ++s)
        card.writeSong(s, sampleSong(s, 1));
    const SongRecords original = sampleSong(4, 1);
    const FileSnapshot before(card.path());

    CardPtr handle = openCard(card.path(), 1);
    QVERIFY2(handle, mlsdGetErrorString());
    QCOMPARE(mlsdClearSongOnSDCard(handle.get(), 4, nullName ? nullptr : name.constData()), 0);
    QCOMPARE(mlsdCommitSDCard(handle.get()), 0);

    QByteArray expected = original.song;
    expected.replace(4, nameStart.size(), nameStart);
    QCOMPARE(keptFrom, nameStart.size());
    expected.replace(132, 4, QByteArray(4, '\0')); // empty description; its later words stay
    putWord(expected, 516, 0);
    putWord(expected, 520, 0);
    for (int i = 0; i < 100; ++i)
        putWord(expected, 524 + 4 * i, 0);
    putWord(expected, 924, 0);
    putWord(expected, 928, quint32(-1));
    putWord(expected, 932, 0);
    QCOMPARE(card.read(CardImage::songDataRange(4)), expected);

    for (int p = 0; p < 5; ++p) {
        QByteArray part = original.parts[p];
        putWord(part, 516, 0);
        QCOMPARE(card.read(CardImage::partDataRange(4, p)), part);
        const QByteArray looper = card.read(CardImage::looperRange(4, p));
        QCOMPARE(signedWord(looper, 0), 1);
        QCOMPARE(signedWord(looper, 4), 0);
        QVERIFY(!looperAccepted(looper));
    }
    const QVector<ByteRange> changed = before.changesOutside(CardImage::clearRanges(4));
    QVERIFY2(changed.isEmpty(), qPrintable(describe(changed)));
    // The recordings themselves stay on the card; only the records say the parts are empty.
    QCOMPARE(card.read(CardImage::audioRange(4, 0, 25)), audio(original.audioSeeds[0], 0, 25 * 1024));
}

void TestCardAccess::clearInvalidSongChangesNothing()
{
    CardImage card(m_dir.path());
    card.create();
    SongRecords song = sampleSong(2, 1);
    putWord(song.song, 924, 100);
    card.writeSong(2, song);
    const FileSnapshot before(card.path());

    CardPtr handle = openCard(card.path(), 1);
    QVERIFY(handle);
    QCOMPARE(mlsdClearSongOnSDCard(handle.get(), 2, "New"), 1);
    QCOMPARE(errorText(), QByteArray("mlsdClearSongOnSDCard: Song data from SD card is invalid"));
    handle.reset();
    const QVector<ByteRange> changed = before.changes();
    QVERIFY2(changed.isEmpty(), qPrintable(describe(changed)));
}

void TestCardAccess::clearStopsAtInvalidPart()
{
    CardImage card(m_dir.path());
    card.create();
    SongRecords song = sampleSong(7, 1);
    putWord(song.parts[2], 15564, 12); // genre 12
    card.writeSong(7, song);
    const FileSnapshot before(card.path());

    CardPtr handle = openCard(card.path(), 1);
    QVERIFY(handle);
    QCOMPARE(mlsdClearSongOnSDCard(handle.get(), 7, "Cleared"), 1);
    QCOMPARE(errorText(), QByteArray("mlsdClearSongOnSDCard: Part data from SD card is invalid"));
    handle.reset();

    // The song record and the parts before the bad one are cleared; the rest is as it was.
    QCOMPARE(text(card.read(CardImage::songDataRange(7)), 4, 128), QByteArray("Cleared"));
    for (int p = 0; p < 2; ++p)
        QCOMPARE(word(card.read(CardImage::partDataRange(7, p)), 516), 0u);
    const QVector<ByteRange> allowed{CardImage::songDataRange(7), CardImage::partDataRange(7, 0),
                                     CardImage::partDataRange(7, 1), CardImage::looperRange(7, 0),
                                     CardImage::looperRange(7, 1)};
    const QVector<ByteRange> changed = before.changesOutside(allowed);
    QVERIFY2(changed.isEmpty(), qPrintable(describe(changed)));
}

void TestCardAccess::clearReadOnlyCardChangesNothing()
{
    CardImage card(m_dir.path());
    card.create();
    card.writeSong(1, sampleSong(1, 1));
    const FileSnapshot before(card.path());
    CardPtr handle = openCard(card.path(), 0);
    QVERIFY(handle);
    QVERIFY(mlsdClearSongOnSDCard(handle.get(), 1, "Nope") != 0);
    handle.reset();
    const QVector<ByteRange> changed = before.changes();
    QVERIFY2(changed.isEmpty(), qPrintable(describe(changed)));
}

// The commit at close is the last chance to hear that written bytes never reached the card.
void TestCardAccess::closeReportsFailedCommit()
{
    CardImage card(m_dir.path());
    card.create();
    FaultInjector faults;
    carddata::setStreamOpener(faults.wrap({}));
    const auto restoreOpener = qScopeGuard([] { carddata::setStreamOpener({}); });
    for (int writable : {0, 1}) {
        SdCardHandle *handle = mlsdOpenSDCard(QFile::encodeName(card.path()).constData(), writable);
        QVERIFY(handle);
        faults.arm(FaultKind::IoError, FaultMode::FromNOn, 1);
        QCOMPARE(mlsdCloseSDCard(handle), writable);
        QCOMPARE(faults.liveStreams(), 0);
        if (writable)
            QCOMPARE(errorText(), QByteArray("mlsdCloseSDCard: Error committing data to SD card."));
        faults.disarm();
    }
}

void TestCardAccess::errorTextPerThread()
{
    std::unique_ptr<ArchiveHandle, ArchiveHandleCloser> archive(
        mlsdOpenArchiveW(L"/nonexistent/a.mlad", 0, 0));
    QVERIFY(!archive);
    QCOMPARE(errorText(), QByteArray("mlsdOpenArchiveW: Error opening file."));

    QByteArray otherThread;
    QByteArray freshThread;
    std::thread failing([&otherThread] {
        CardPtr handle(mlsdOpenSDCard("/nonexistent/ZOVAZODE.DAT", 0));
        otherThread = QByteArray(mlsdGetErrorString());
    });
    failing.join();
    std::thread fresh([&freshThread] { freshThread = QByteArray(mlsdGetErrorString()); });
    fresh.join();

    QCOMPARE(otherThread, QByteArray("mlsdOpenSDCard: Error opening SD card file."));
    QCOMPARE(freshThread, QByteArray());
    QCOMPARE(errorText(), QByteArray("mlsdOpenArchiveW: Error opening file."));
}

QTEST_GUILESS_MAIN(TestCardAccess)
#include "tst_cardaccess.moc"
