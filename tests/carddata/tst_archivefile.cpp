// Archive files: the bytes of a new archive, opening and its refusals, the range checks of the
// record operations, and hostile stored sizes and offsets that must fail cleanly.
#include "carddata/carddata.h"
#include "support/archivebuilder.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace ZovaZode::TestSupport;

namespace {

using ArchivePtr = std::unique_ptr<ArchiveHandle, ArchiveHandleCloser>;

ArchivePtr openArchive(const QString &path, int writable, int create = 0)
{
    return ArchivePtr(mlsdOpenArchiveW(path.toStdWString().c_str(), writable, create));
}

QByteArray errorText()
{
    return QByteArray(mlsdGetErrorString());
}

uint8_t *data(QByteArray &buffer)
{
    return reinterpret_cast<uint8_t *>(buffer.data());
}

ArchiveBuilder twoSongArchive()
{
    ArchiveBuilder builder;
    builder.setUserPrefs(userPrefs({2, 1, 9, 40}));
    builder.addSong(sampleSong(0, 4));
    builder.addSong(sampleSong(1, 4));
    return builder;
}

// A buffer with guard bytes after the record, to see a read that overruns it.
constexpr int kGuard = 64;
QByteArray guarded(int size)
{
    return QByteArray(size, '\0') + QByteArray(kGuard, '\x5A');
}
bool guardIntact(const QByteArray &buffer)
{
    return buffer.right(kGuard) == QByteArray(kGuard, '\x5A');
}

enum class Operation { GetPrefs, GetSong, GetPart, SendSong, SendPart };

} // namespace

Q_DECLARE_METATYPE(Operation)

class TestArchiveFile : public QObject
{
    Q_OBJECT

private slots:
    void newArchiveBytes();
    void openFailures_data();
    void openFailures();
    void readsRecordsBack();
    void rangeErrors_data();
    void rangeErrors();
    void hostileSizesAndOffsets_data();
    void hostileSizesAndOffsets();
    void positionsBeyondLargestArchive_data();
    void positionsBeyondLargestArchive();
    void closeWritesChangedHeader();
    void closeReportsUnwritableHeader();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir{scratchFolderTemplate()};
};

void TestArchiveFile::newArchiveBytes()
{
    const QString file = path(QStringLiteral("new.mlad"));
    ArchiveHandle *handle = mlsdOpenArchiveW(file.toStdWString().c_str(), 1, 1);
    QVERIFY2(handle, mlsdGetErrorString());
    QCOMPARE(mlsdArchiveSongCount(handle), 0);
    QVERIFY(!mlsdArchiveHasUserPrefs(handle));
    QCOMPARE(mlsdCloseArchive(handle), 0);

    const QByteArray bytes = readRange(file, 0, 4096);
    QCOMPARE(bytes.size(), 680);
    QCOMPARE(bytes.left(4), QByteArray("MLFA"));
    QCOMPARE(word(bytes, 4), 0u);
    QCOMPARE(bytes.mid(8, 512), QByteArray(512, '\0'));
    QCOMPARE(word(bytes, 520), 0u);
    QCOMPARE(word(bytes, 524), 680u);
    QCOMPARE(word(bytes, 528), 512u);
    QCOMPARE(word(bytes, 532), 0u);
    QCOMPARE(word64(bytes, 536), quint64(1192));
    QCOMPARE(bytes.mid(544, 680 - 544), QByteArray(680 - 544, '\0'));
    QCOMPARE(bytes, ArchiveBuilder().bytes());
}

void TestArchiveFile::openFailures_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("writable");
    QTest::addColumn<QByteArray>("text");

    const QByteArray good = twoSongArchive().bytes();
    const QByteArray unreadable("localOpenArchive: Error reading archive header.");
    auto withWord = [&good](int offset, quint32 value) {
        QByteArray bytes = good;
        putWord(bytes, offset, value);
        return bytes;
    };
    auto withWord64 = [&good](int offset, quint64 value) {
        QByteArray bytes = good;
        putWord64(bytes, offset, value);
        return bytes;
    };
    QByteArray wrongId = good;
    wrongId.replace(0, 4, "MLSD");
    // clang-format off
    QTest::newRow("13 songs")                << withWord(532, 13)                    << 0 << unreadable;
    QTest::newRow("13 songs, writable")      << withWord(532, 13)                    << 1 << unreadable;
    QTest::newRow("-1 songs")                << withWord(532, quint32(-1))           << 0 << unreadable;
    QTest::newRow("version 1")               << withWord(4, 1)                       << 0 << unreadable;
    QTest::newRow("wrong ID")                << wrongId                              << 0 << unreadable;
    QTest::newRow("679 bytes")               << good.left(679)                       << 0 << unreadable;
    QTest::newRow("empty file")              << QByteArray()                         << 1 << unreadable;
    QTest::newRow("song 1 past end of file") << withWord64(544, quint64(1) << 30)    << 0 << unreadable;
    QTest::newRow("song 1 header cut short") << good.left(int(word64(good, 544)) + 100) << 0 << unreadable;
    QTest::newRow("song 1 offset wraps")     << withWord64(544, ~quint64(0) - 8)     << 0 << unreadable;
    // clang-format on
}

void TestArchiveFile::openFailures()
{
    QFETCH(QByteArray, content);
    QFETCH(int, writable);
    QFETCH(QByteArray, text);

    const QString file = path(QStringLiteral("bad.mlad"));
    QFile::remove(file);
    writeRange(file, 0, content);
    const int descriptors = openFileDescriptorCount();
    QVERIFY(!openArchive(file, writable));
    QCOMPARE(errorText(), text);
    QCOMPARE(openFileDescriptorCount(), descriptors);
    QCOMPARE(readRange(file, 0, content.size() + 1), content);

    // A missing file fails before any header is looked at, and is not created.
    const QString missing = path(QStringLiteral("missing.mlsd"));
    QVERIFY(!openArchive(missing, writable));
    QCOMPARE(errorText(), QByteArray("mlsdOpenArchiveW: Error opening file."));
    QVERIFY(!QFile::exists(missing));
}

void TestArchiveFile::readsRecordsBack()
{
    const QString file = path(QStringLiteral("two.mlad"));
    twoSongArchive().write(file);
    ArchivePtr archive = openArchive(file, 0);
    QVERIFY2(archive, mlsdGetErrorString());
    QCOMPARE(mlsdArchiveSongCount(archive.get()), 2);
    QVERIFY(mlsdArchiveHasUserPrefs(archive.get()));

    QByteArray prefs = guarded(512);
    QCOMPARE(mlsdGetUserPrefsFromArchive(archive.get(), data(prefs)), 0);
    QCOMPARE(prefs.left(512), userPrefs({2, 1, 9, 40}));
    for (int s = 0; s < 2; ++s) {
        const SongRecords records = sampleSong(s, 4);
        QByteArray song = guarded(1024);
        QCOMPARE(mlsdGetUISongDataFromArchive(archive.get(), s, data(song)), 0);
        QCOMPARE(song.left(1024), records.song);
        QVERIFY(guardIntact(song));
        for (int p = 0; p < 5; ++p) {
            QByteArray part = guarded(16384);
            QCOMPARE(mlsdGetUIPartDataFromArchive(archive.get(), s, p, data(part)), 0);
            QCOMPARE(part.left(16384), records.parts[p]);
            QVERIFY(guardIntact(part));
        }
    }
}

void TestArchiveFile::rangeErrors_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<int>("song");
    QTest::addColumn<int>("part");
    QTest::addColumn<QByteArray>("text");

    // clang-format off
    QTest::newRow("get song 2 of 2")     << Operation::GetSong  << 2  << 0
        << QByteArray("mlsdGetUISongDataFromArchive: song num out of archive song range - cannot get UI Song Data");
    QTest::newRow("get song 12")         << Operation::GetSong  << 12 << 0
        << QByteArray("mlsdGetUISongDataFromArchive: song num out of archive song range - cannot get UI Song Data");
    QTest::newRow("get song -1")         << Operation::GetSong  << -1 << 0
        << QByteArray("mlsdGetUISongDataFromArchive: song num out of archive song range - cannot get UI Song Data");
    QTest::newRow("get part of song 2")  << Operation::GetPart  << 2  << 0
        << QByteArray("mlsdGetUIPartDataFromArchive: song num out of archive song range - cannot restore part data for song");
    QTest::newRow("get part of song -1") << Operation::GetPart  << -1 << 0
        << QByteArray("mlsdGetUIPartDataFromArchive: song num out of archive song range - cannot restore part data for song");
    QTest::newRow("get part 5")          << Operation::GetPart  << 0  << 5
        << QByteArray("mlsdGetUIPartDataFromArchive: iPart is out of range - cannot send part data");
    QTest::newRow("get part -1")         << Operation::GetPart  << 1  << -1
        << QByteArray("mlsdGetUIPartDataFromArchive: iPart is out of range - cannot send part data");
    QTest::newRow("send song 2 of 2")    << Operation::SendSong << 2  << 0
        << QByteArray("mlsdSendUISongDataToArchive: iSong is out of range - cannot send");
    QTest::newRow("send song -1")        << Operation::SendSong << -1 << 0
        << QByteArray("mlsdSendUISongDataToArchive: iSong is out of range - cannot send");
    QTest::newRow("send part of song 2") << Operation::SendPart << 2  << 0
        << QByteArray("mlsdSendUIPartDataToArchive: iSong is out of range - cannot send part data");
    QTest::newRow("send part 5")         << Operation::SendPart << 0  << 5
        << QByteArray("mlsdSendUIPartDataToArchive: iPart is out of range - cannot send part data");
    QTest::newRow("send part -1")        << Operation::SendPart << 1  << -1
        << QByteArray("mlsdSendUIPartDataToArchive: iPart is out of range - cannot send part data");
    // clang-format on
}

void TestArchiveFile::rangeErrors()
{
    QFETCH(Operation, operation);
    QFETCH(int, song);
    QFETCH(int, part);
    QFETCH(QByteArray, text);

    const QString file = path(QStringLiteral("range.mlad"));
    const QByteArray original = twoSongArchive().bytes();
    QFile::remove(file);
    writeRange(file, 0, original);
    {
        ArchivePtr archive = openArchive(file, 1);
        QVERIFY2(archive, mlsdGetErrorString());
        QByteArray buffer =
            guarded(operation == Operation::GetSong || operation == Operation::SendSong ? 1024 : 16384);
        const QByteArray untouched = buffer;
        int result = 0;
        switch (operation) {
        case Operation::GetSong:
            result = mlsdGetUISongDataFromArchive(archive.get(), song, data(buffer));
            break;
        case Operation::GetPart:
            result = mlsdGetUIPartDataFromArchive(archive.get(), song, part, data(buffer));
            break;
        case Operation::SendSong:
            result = mlsdSendUISongDataToArchive(archive.get(), song, data(buffer));
            break;
        case Operation::SendPart:
            result = mlsdSendUIPartDataToArchive(archive.get(), song, part, data(buffer));
            break;
        case Operation::GetPrefs:
            break;
        }
        QCOMPARE(result, 1);
        QCOMPARE(errorText(), text);
        QCOMPARE(buffer, untouched);
    }
    // Closing writes back the headers as they were read; no record was written.
    QCOMPARE(readRange(file, 0, original.size() + 1), original);
}

void TestArchiveFile::hostileSizesAndOffsets_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<int>("field"); // byte offset in the file of the field to change; -1 none
    QTest::addColumn<int>("width"); // 4 or 8 bytes
    QTest::addColumn<quint64>("value");
    QTest::addColumn<QByteArray>("text"); // empty: the operation succeeds

    const int song1 = int(twoSongArchive().songOffset(1));
    const QByteArray songError("mlsdGetUISongDataFromArchive: Error reading UI song data from archive");
    const QByteArray partError("mlsdGetUIPartDataFromArchive: Error reading UI part data from archive");
    const QByteArray prefsError("mlsdGetUserPrefsFromArchive: Error reading userPrefs from archive.");
    // clang-format off
    QTest::newRow("song data, as written")     << Operation::GetSong  << -1          << 4 << quint64(0)            << QByteArray();
    QTest::newRow("song data size 1023")       << Operation::GetSong  << song1 + 8   << 4 << quint64(1023)         << songError;
    QTest::newRow("song data size 1025")       << Operation::GetSong  << song1 + 8   << 4 << quint64(1025)         << songError;
    QTest::newRow("song data size 0")          << Operation::GetSong  << song1 + 8   << 4 << quint64(0)            << songError;
    QTest::newRow("song data size max")        << Operation::GetSong  << song1 + 8   << 4 << quint64(0xFFFFFFFF)   << songError;
    QTest::newRow("song data past end")        << Operation::GetSong  << song1       << 8 << (quint64(1) << 24)    << songError;
    QTest::newRow("song data offset wraps")    << Operation::GetSong  << song1       << 8 << ~quint64(0) - 100     << songError;
    QTest::newRow("song data offset 2^63")     << Operation::GetSong  << song1       << 8 << (quint64(1) << 63)    << songError;
    QTest::newRow("part data, as written")     << Operation::GetPart  << -1          << 4 << quint64(0)            << QByteArray();
    QTest::newRow("part data size 16383")      << Operation::GetPart  << song1 + 24  << 4 << quint64(16383)        << partError;
    QTest::newRow("part data size 32768")      << Operation::GetPart  << song1 + 24  << 4 << quint64(32768)        << partError;
    QTest::newRow("part data size max")        << Operation::GetPart  << song1 + 24  << 4 << quint64(0xFFFFFFFF)   << partError;
    QTest::newRow("part data past end")        << Operation::GetPart  << song1 + 16  << 8 << (quint64(1) << 32)    << partError;
    QTest::newRow("part data offset wraps")    << Operation::GetPart  << song1 + 16  << 8 << ~quint64(0) - 16000   << partError;
    QTest::newRow("prefs, as written")         << Operation::GetPrefs << -1          << 4 << quint64(0)            << QByteArray();
    QTest::newRow("prefs size 511")            << Operation::GetPrefs << 528         << 4 << quint64(511)          << prefsError;
    QTest::newRow("prefs size 513")            << Operation::GetPrefs << 528         << 4 << quint64(513)          << prefsError;
    QTest::newRow("prefs size max")            << Operation::GetPrefs << 528         << 4 << quint64(0xFFFFFFFF)   << prefsError;
    QTest::newRow("prefs past end")            << Operation::GetPrefs << 524         << 4 << quint64(0xFFFFFF00)   << prefsError;
    // clang-format on
}

void TestArchiveFile::hostileSizesAndOffsets()
{
    QFETCH(Operation, operation);
    QFETCH(int, field);
    QFETCH(int, width);
    QFETCH(quint64, value);
    QFETCH(QByteArray, text);

    QByteArray bytes = twoSongArchive().bytes();
    if (field >= 0) {
        if (width == 8)
            putWord64(bytes, field, value);
        else
            putWord(bytes, field, quint32(value));
    }
    const QString file = path(QStringLiteral("hostile.mlad"));
    QFile::remove(file);
    writeRange(file, 0, bytes);

    ArchivePtr archive = openArchive(file, 0);
    QVERIFY2(archive, mlsdGetErrorString());
    const SongRecords expected = sampleSong(1, 4);
    QByteArray buffer;
    int result = -1;
    QByteArray wanted;
    switch (operation) {
    case Operation::GetPrefs:
        buffer = guarded(512);
        result = mlsdGetUserPrefsFromArchive(archive.get(), data(buffer));
        wanted = userPrefs({2, 1, 9, 40});
        break;
    case Operation::GetSong:
        buffer = guarded(1024);
        result = mlsdGetUISongDataFromArchive(archive.get(), 1, data(buffer));
        wanted = expected.song;
        break;
    case Operation::GetPart:
        buffer = guarded(16384);
        result = mlsdGetUIPartDataFromArchive(archive.get(), 1, 3, data(buffer));
        wanted = expected.parts[3];
        break;
    default:
        QFAIL("not a read");
    }
    QVERIFY(guardIntact(buffer));
    if (text.isEmpty()) {
        QCOMPARE(result, 0);
        QCOMPARE(buffer.left(wanted.size()), wanted);
    } else {
        QCOMPARE(result, 1);
        QCOMPARE(errorText(), text);
    }
}

void TestArchiveFile::positionsBeyondLargestArchive_data()
{
    QTest::addColumn<qint64>("position"); // absolute position of the song record
    QTest::addColumn<bool>("readable");

    QTest::newRow("below the largest archive") << qint64(carddata::kMaxArchiveSize - 8192) << true;
    QTest::newRow("beyond the largest archive") << qint64(carddata::kMaxArchiveSize + 4096) << false;
}

void TestArchiveFile::positionsBeyondLargestArchive()
{
    QFETCH(qint64, position);
    QFETCH(bool, readable);

    // A sparse archive large enough to hold the record where its song header points, so that
    // only the position itself can make the read fail.
    ArchiveBuilder builder;
    const SongRecords records = sampleSong(0, 6);
    builder.addSong(records);
    putWord64(builder.songHeader(0), 0, quint64(position - kFirstSongOffset));
    const QString file = path(QStringLiteral("huge.mlsd"));
    QFile::remove(file);
    builder.write(file);
    writeRange(file, position, records.song);
    QVERIFY(fileSize(file) > position);

    ArchivePtr archive = openArchive(file, 0);
    QVERIFY2(archive, mlsdGetErrorString());
    QByteArray buffer = guarded(1024);
    if (readable) {
        QCOMPARE(mlsdGetUISongDataFromArchive(archive.get(), 0, data(buffer)), 0);
        QCOMPARE(buffer.left(1024), records.song);
    } else {
        QCOMPARE(mlsdGetUISongDataFromArchive(archive.get(), 0, data(buffer)), 1);
        QCOMPARE(errorText(),
                 QByteArray("mlsdGetUISongDataFromArchive: Error reading UI song data from archive"));
    }
    archive.reset();
    QFile::remove(file);
}

void TestArchiveFile::closeWritesChangedHeader()
{
    const QString file = path(QStringLiteral("rename.mlad"));
    const QByteArray original = twoSongArchive().bytes();
    QFile::remove(file);
    writeRange(file, 0, original);
    ArchivePtr archive = openArchive(file, 1);
    QVERIFY2(archive, mlsdGetErrorString());
    localPackString(archive->header.data() + carddata::kArchiveNameOffset, "Renamed", 128);
    QCOMPARE(mlsdCloseArchive(archive.release()), 0);

    QByteArray expected = original;
    putText(expected, 8, 128, "Renamed");
    QCOMPARE(readRange(file, 0, original.size() + 1), expected);
}

void TestArchiveFile::closeReportsUnwritableHeader()
{
    const QString file = path(QStringLiteral("broken.mlad"));
    QFile::remove(file);
    ArchiveHandle *handle = mlsdOpenArchiveW(file.toStdWString().c_str(), 1, 1);
    QVERIFY2(handle, mlsdGetErrorString());
    handle->header[0] = 'X'; // a header that must never reach the disk
    mlsdOpenSDCard("/nonexistent/ZOVAZODE.DAT", 0);
    const QByteArray before = errorText();
    QCOMPARE(mlsdCloseArchive(handle), 1);
    QVERIFY(errorText() != before);
    QVERIFY(!errorText().isEmpty());
    QVERIFY(readRange(file, 0, 4) != QByteArray("XLFA"));

    // A read-only archive is never written, so closing it cannot fail this way.
    twoSongArchive().write(file);
    ArchiveHandle *readOnly = mlsdOpenArchiveW(file.toStdWString().c_str(), 0, 0);
    QVERIFY(readOnly);
    readOnly->header[0] = 'X';
    QCOMPARE(mlsdCloseArchive(readOnly), 0);
    QCOMPARE(readRange(file, 0, 4), QByteArray("MLFA"));
}

QTEST_GUILESS_MAIN(TestArchiveFile)
#include "tst_archivefile.moc"
