// Card and archive files: clearing a song, and every failure of the card data library with its
// exact text and the fault or input that makes it (a failing open, read, write or commit at a
// chosen place, a file of the wrong size, a damaged header, hostile sizes and offsets, a
// read-only file, a full archive, a stop asked for), and what the file stream reads to reach a
// record. A composite operation's failure in a step with its own row is left to the fault
// injection, which fails every call of every operation.
#include "carddata/verify.h"
#include "handles.h"
#include "support/archivebuilder.h"
#include "support/faultstream.h"
#include "support/filesnapshot.h"

#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using namespace ZovaZode::TestSupport;

namespace {

// What this process has read through system calls so far.
qint64 bytesRead()
{
    QFile io("/proc/self/io");
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

// The handles an operation of the error table works on, opened before any fault is armed.
struct Files
{
    QString cardPath, songPath, freshPath;
    CardPtr card;
    ArchivePtr songFile, fresh; // the song file of sampleSong(0, 2), a new archive
    ProgressCallback stop{[](int32_t, int32_t, void *) { return 1; }, nullptr};
    bool stops = false;
    uint8_t buffer[kPartDataSize] = {};

    carddata::Stream *cardFile() const { return card->file.get(); }
    const CardMemoryMap *map() const { return &card->memoryMap; }
    ArchiveHandle *target() const { return fresh ? fresh.get() : songFile.get(); }
    const ProgressCallback *progress() const { return stops ? &stop : nullptr; }
};

using Operation = std::function<int(Files &, int song, int part)>;

// clang-format off
const QMap<QString, Operation> operations{
    {"open card",          [](Files &f, int, int) { return openCard(f.cardPath, 1) ? 0 : 1; }},
    {"close card",         [](Files &f, int, int) { return mlsdCloseSDCard(f.card.release()); }},
    {"commit card",        [](Files &f, int, int) { return mlsdCommitSDCard(f.card.get()); }},
    {"get header",         [](Files &f, int, int) { return mlsdGetHeaderFromSDCard(f.cardFile(), f.map(), f.buffer); }},
    {"send header",        [](Files &f, int, int) { return mlsdSendHeaderToSDCard(f.cardFile(), f.map(), f.buffer); }},
    {"get prefs",          [](Files &f, int, int) { return mlsdGetUserPrefsFromSDCard(f.cardFile(), f.map(), f.buffer); }},
    {"send prefs",         [](Files &f, int, int) { return mlsdSendUserPrefsToSDCard(f.cardFile(), f.map(), f.buffer); }},
    {"get song",           [](Files &f, int s, int) { return mlsdGetUISongDataFromSDCard(f.cardFile(), f.map(), s, f.buffer); }},
    {"send song",          [](Files &f, int s, int) { return mlsdSendUISongDataToSDCard(f.cardFile(), f.map(), s, f.buffer); }},
    {"get part",           [](Files &f, int s, int p) { return mlsdGetUIPartDataFromSDCard(f.cardFile(), f.map(), s, p, f.buffer); }},
    {"send part",          [](Files &f, int s, int p) { return mlsdSendUIPartToSDCard(f.cardFile(), f.map(), s, p, f.buffer); }},
    {"clear song",         [](Files &f, int s, int) { return mlsdClearSongOnSDCard(f.card.get(), s, "Cleared"); }},
    {"open archive",       [](Files &f, int, int) { return openArchive(f.songPath, 0) ? 0 : 1; }},
    {"close archive",      [](Files &f, int, int) { return mlsdCloseArchive(f.songFile.release()); }},
    {"get archive prefs",  [](Files &f, int, int) { return mlsdGetUserPrefsFromArchive(f.songFile.get(), f.buffer); }},
    {"send archive prefs", [](Files &f, int, int) { return mlsdSendUserPrefsToArchive(f.songFile.get(), f.buffer); }},
    {"get archive song",   [](Files &f, int s, int) { return mlsdGetUISongDataFromArchive(f.songFile.get(), s, f.buffer); }},
    {"send archive song",  [](Files &f, int s, int) { return mlsdSendUISongDataToArchive(f.songFile.get(), s, f.buffer); }},
    {"get archive part",   [](Files &f, int s, int p) { return mlsdGetUIPartDataFromArchive(f.songFile.get(), s, p, f.buffer); }},
    {"send archive part",  [](Files &f, int s, int p) { return mlsdSendUIPartDataToArchive(f.songFile.get(), s, p, f.buffer); }},
    {"archive song",       [](Files &f, int s, int) { return mlsdArchiveSong(f.card.get(), f.target(), s, f.progress()); }},
    {"restore song",       [](Files &f, int s, int) { return mlsdRestoreSong(f.card.get(), f.songFile.get(), 0, s, f.progress()); }},
    {"archive prefs",      [](Files &f, int, int) { return mlsdArchiveUserPrefs(f.card.get(), f.target()); }},
    {"clear archive",      [](Files &f, int, int) { return mlsdClearArchive(f.target()); }},
    {"archive card",       [](Files &f, int, int) { return mlsdArchiveSDCard(f.card.get(), f.target(), nullptr); }},
    {"restore prefs",      [](Files &f, int, int) { return mlsdRestoreUserPrefs(f.card.get(), f.songFile.get()); }},
    {"restore card",       [](Files &f, int, int) { return mlsdRestoreSDCard(f.card.get(), f.songFile.get(), nullptr); }},
};
// clang-format on

// Where the faults of the error table strike: card song 0's records, or the song file's (and a
// new archive's, whose first song lies where the song file's does).
FaultInjector::Target target(const QString &fault)
{
    static const QMap<QString, StreamCall> calls{{"open", StreamCall::Open},
                                                 {"read", StreamCall::Read},
                                                 {"write", StreamCall::Write},
                                                 {"commit", StreamCall::Commit},
                                                 {"close", StreamCall::Close}};
    const bool card = fault.section(' ', 1, 1) == QLatin1String("card");
    const QMap<QString, ByteRange> regions =
        card ? QMap<QString, ByteRange>{{"header", cardHeaderRange()},
                                        {"prefs", cardUserPrefsRange()},
                                        {"song", CardImage::songDataRange(0)},
                                        {"part", {CardImage::partDataPosition(0, 0), 5 * 164 * 512}},
                                        {"looper", {CardImage::looperPosition(0, 0), 5 * 164 * 512}},
                                        {"audio", {CardImage::audioPosition(0, 0), 5 * 103360 * 512}}}
             : QMap<QString, ByteRange>{{"header", {0, 680}},          {"prefs", {680, 512}},
                                        {"songheader", {1192, 136}},   {"song", {1328, 1024}},
                                        {"part", {2352, 81920}},       {"looper", {84272, 53760}},
                                        {"audio", {138032, INT32_MAX}}};
    const ByteRange range = regions.value(fault.section(' ', 2, 2), {0, INT64_MAX});
    return {1u << int(calls.value(fault.section(' ', 0, 0))), card ? "ZOVAZODE.DAT" : ".mlsd", range.start,
            range.end()};
}

} // namespace

class TestAccess : public QObject
{
    Q_OBJECT

private slots:
    void clearSong_data();
    void clearSong();
    void errorTexts_data();
    void errorTexts();
    void recordsMoveOnlyTheirBytes();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir{scratchFolderTemplate()};
};

void TestAccess::clearSong_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("nameField"); // its first bytes afterwards
    QTest::addColumn<int>("cleared");          // parts cleared: the third part is invalid when 2

    // clang-format off
    QTest::newRow("no name")        << QByteArray()         << QByteArray(4, '\0')         << 5;
    QTest::newRow("part 3 invalid") << QByteArray("New")    << QByteArray("New\0", 4)      << 2;
    // clang-format on
}

// A cleared song keeps its name field's later words, the fields the pedal owns and its
// recordings; its parts are unused and its looper records empty. A failure stops where it is.
void TestAccess::clearSong()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, nameField);
    QFETCH(int, cleared);

    CardImage image(m_dir.path());
    image.create();
    SongRecords song = sampleSong(4, 1);
    if (cleared < 5)
        putWord(song.parts[cleared], 15564, 12);
    for (int s = 3; s <= 5; ++s)
        image.writeSong(s, s == 4 ? song : sampleSong(s, 1));
    const FileSnapshot before(image.path());
    {
        CardPtr card = openCard(image.path(), 1);
        QCOMPARE(mlsdClearSongOnSDCard(card.get(), 4, name.isEmpty() ? nullptr : name.constData()),
                 cleared < 5);
        if (cleared < 5)
            QCOMPARE(QByteArray(mlsdGetErrorString()), QByteArray("mlsdClearSongOnSDCard: Part data from SD card is invalid"));
    }
    QByteArray expected = song.song;
    expected.replace(4, nameField.size(), nameField);
    expected.replace(132, 4, QByteArray(4, '\0')); // an empty description; its later words stay
    putWord(expected, 928, quint32(-1));
    for (int at : {516, 520, 924, 932})
        putWord(expected, at, 0);
    for (int i = 0; i < 100; ++i)
        putWord(expected, 524 + 4 * i, 0);
    QCOMPARE(image.read(CardImage::songDataRange(4)), expected);
    QVector<ByteRange> allowed{CardImage::songDataRange(4)};
    for (int p = 0; p < cleared; ++p) {
        QByteArray unused = song.parts[p];
        putWord(unused, 516, 0);
        QCOMPARE(image.read(CardImage::partDataRange(4, p)), unused);
        const QByteArray looper = image.read(CardImage::looperRange(4, p));
        QCOMPARE(QVector<int>({signedWord(looper, 0), signedWord(looper, 4)}), QVector<int>({1, 0}));
        allowed << CardImage::partDataRange(4, p) << CardImage::looperRange(4, p);
    }
    QVERIFY2(before.changesOutside(allowed).isEmpty(), qPrintable(describe(before.changesOutside(allowed))));
}

void TestAccess::errorTexts_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("song");
    QTest::addColumn<int>("part");
    QTest::addColumn<QString>("setup"); // readonly, full, stop, badid, card@offset=word,
                                        // archive@offset=word, cardsize=bytes, archivesize=bytes
    QTest::addColumn<QString>("fault"); // the calls that fail: call, file and region
    QTest::addColumn<QByteArray>("text");

    const QByteArray notCard(
        "mlsdOpenSDCard: The file is not the size of a card data file (3,207,041,024 bytes).");
    const QByteArray noHeader("localOpenArchive: Error reading archive header.");
    // clang-format off
    //                                          operation              song part setup               fault                          text
    QTest::newRow("open card")              << "open card"          << 0  << 0 << ""              << "open card"                  << QByteArray("mlsdOpenSDCard: Error opening SD card file.");
    QTest::newRow("open card, header")      << "open card"          << 0  << 0 << ""              << "read card header"           << QByteArray("mlsdOpenSDCard: Error reading header from SD card.");
    QTest::newRow("open card, wrong ID")    << "open card"          << 0  << 0 << "card@0=1683180621" << ""                       << QByteArray("mlsdOpenSDCard: SD Card File header does not have the correct ID.");
    QTest::newRow("open card, a byte short") << "open card"         << 0  << 0 << "cardsize=3207041023" << ""                     << notCard;
    QTest::newRow("close card")             << "close card"         << 0  << 0 << ""              << "commit card"                << QByteArray("mlsdCloseSDCard: Error committing data to SD card.");
    QTest::newRow("commit card")            << "commit card"        << 0  << 0 << ""              << "commit card"                << QByteArray("mlsdCommitSDCard: Error committing data to SD card.");
    QTest::newRow("get header")             << "get header"         << 0  << 0 << ""              << "read card header"           << QByteArray("mlsdGetHeaderFromSDCard: Error reading header from SD card.");
    QTest::newRow("send header")            << "send header"        << 0  << 0 << ""              << "write card header"          << QByteArray("mlsdSendHeaderToSDCard: Error writing header to SD card.");
    QTest::newRow("get prefs")              << "get prefs"          << 0  << 0 << ""              << "read card prefs"            << QByteArray("mlsdGetUserPrefsFromSDCard: Error reading user prefs from SD card.");
    QTest::newRow("get prefs, invalid")     << "get prefs"          << 0  << 0 << "card@51216=12" << ""                           << QByteArray("mlsdGetUserPrefsFromSDCard: UserPrefs read from SD card are invalid.");
    QTest::newRow("send prefs")             << "send prefs"         << 0  << 0 << ""              << "write card prefs"           << QByteArray("mlsdSendUserPrefsToSDCard: Error writing user prefs to SD card.");
    QTest::newRow("get song")               << "get song"           << 0  << 0 << ""              << "read card song"             << QByteArray("mlsdGetUISongDataFromSDCard: Error reading UI song data from SD card.");
    QTest::newRow("get song 13")            << "get song"           << 12 << 0 << ""              << ""                           << QByteArray("mlsdGetUISongDataFromSDCard: Error reading UI song data from SD card.");
    QTest::newRow("send song")              << "send song"          << 0  << 0 << ""              << "write card song"            << QByteArray("mlsdSendUISongDataToSDCard: Error writing UI song data to SD card.");
    QTest::newRow("send song 0")            << "send song"          << -1 << 0 << ""              << ""                           << QByteArray("mlsdSendUISongDataToSDCard: Error writing UI song data to SD card.");
    QTest::newRow("get part")               << "get part"           << 0  << 0 << ""              << "read card part"             << QByteArray("mlsdGetUIPartDataFromSDCard: Error reading UI part data from SD card.");
    QTest::newRow("get part 6")             << "get part"           << 0  << 5 << ""              << ""                           << QByteArray("mlsdGetUIPartDataFromSDCard: Error reading UI part data from SD card.");
    QTest::newRow("send part")              << "send part"          << 0  << 0 << ""              << "write card part"            << QByteArray("mlsdSendUIPartToSDCard: Error writing UI part data to SD card.");
    QTest::newRow("send part of song 13")   << "send part"          << 12 << 0 << ""              << ""                           << QByteArray("mlsdSendUIPartToSDCard: Error writing UI part data to SD card.");
    QTest::newRow("send part 0")            << "send part"          << 0  << -1 << ""             << ""                           << QByteArray("mlsdSendUIPartToSDCard: Error writing UI part data to SD card.");
    QTest::newRow("clear, song invalid")    << "clear song"         << 0  << 0 << "card@21126044=100" << ""                       << QByteArray("mlsdClearSongOnSDCard: Song data from SD card is invalid");
    QTest::newRow("clear, song")            << "clear song"         << 0  << 0 << ""              << "read card song"             << QByteArray("mlsdClearSongOnSDCard: Error reading UI song data from SD card");
    QTest::newRow("clear, looper write")    << "clear song"         << 0  << 0 << ""              << "write card looper"          << QByteArray("mlsdClearSongOnSDCard: Error writing looper part data to SD card");
    QTest::newRow("open archive")           << "open archive"       << 0  << 0 << ""              << "open archive"               << QByteArray("mlsdOpenArchiveW: Error opening file.");
    QTest::newRow("open archive, header")   << "open archive"       << 0  << 0 << ""              << "read archive header"        << QByteArray("localOpenArchive: Error reading archive header.");
    QTest::newRow("open archive, 13 songs") << "open archive"       << 0  << 0 << "archive@532=13" << ""                          << noHeader;
    QTest::newRow("close archive, header")  << "close archive"      << 0  << 0 << ""              << "write archive header"       << QByteArray("localWriteArchiveHeader: Error writing archive header.");
    QTest::newRow("close archive, ID")      << "close archive"      << 0  << 0 << "badid"         << ""                           << QByteArray("localWriteArchiveHeader: Archive header does not have the correct ID.");
    QTest::newRow("close archive, song")    << "close archive"      << 0  << 0 << ""              << "write archive songheader"   << QByteArray("localWriteArchiveSongHeader: Error writing archive song header.");
    QTest::newRow("close archive, commit")  << "close archive"      << 0  << 0 << ""              << "commit archive"             << QByteArray("mlsdCloseArchive: Error committing archive file.");
    QTest::newRow("close archive, close")   << "close archive"      << 0  << 0 << ""              << "close archive"              << QByteArray("mlsdCloseArchive: Error closing archive file.");
    QTest::newRow("get archive prefs")      << "get archive prefs"  << 0  << 0 << ""              << "read archive prefs"         << QByteArray("mlsdGetUserPrefsFromArchive: Error reading userPrefs from archive.");
    QTest::newRow("archive prefs invalid")  << "get archive prefs"  << 0  << 0 << "archive@696=12" << ""                          << QByteArray("mlsdGetUserPrefsFromArchive: userPrefs read from archive are invalid.");
    QTest::newRow("send archive prefs")     << "send archive prefs" << 0  << 0 << ""              << "write archive prefs"        << QByteArray("mlsdSendUserPrefsToArchive: Error writing userPrefs to archive.");
    QTest::newRow("get archive song 2")     << "get archive song"   << 1  << 0 << ""              << ""                           << QByteArray("mlsdGetUISongDataFromArchive: song num out of archive song range - cannot get UI Song Data");
    QTest::newRow("get archive song")       << "get archive song"   << 0  << 0 << ""              << "read archive song"          << QByteArray("mlsdGetUISongDataFromArchive: Error reading UI song data from archive");
    QTest::newRow("send archive song 2")    << "send archive song"  << 1  << 0 << ""              << ""                           << QByteArray("mlsdSendUISongDataToArchive: iSong is out of range - cannot send");
    QTest::newRow("send archive song")      << "send archive song"  << 0  << 0 << ""              << "write archive song"         << QByteArray("mlsdSendUISongDataToArchive: Error writing UI song data to archive");
    QTest::newRow("get archive part, song 2") << "get archive part" << 1  << 0 << ""              << ""                           << QByteArray("mlsdGetUIPartDataFromArchive: song num out of archive song range - cannot restore part data for song");
    QTest::newRow("get archive part 6")     << "get archive part"   << 0  << 5 << ""              << ""                           << QByteArray("mlsdGetUIPartDataFromArchive: iPart is out of range - cannot send part data");
    QTest::newRow("get archive part")       << "get archive part"   << 0  << 0 << ""              << "read archive part"          << QByteArray("mlsdGetUIPartDataFromArchive: Error reading UI part data from archive");
    QTest::newRow("send archive part, song 0") << "send archive part" << -1 << 0 << ""            << ""                           << QByteArray("mlsdSendUIPartDataToArchive: iSong is out of range - cannot send part data");
    QTest::newRow("send archive part 6")    << "send archive part"  << 0  << 5 << ""              << ""                           << QByteArray("mlsdSendUIPartDataToArchive: iPart is out of range - cannot send part data");
    QTest::newRow("send archive part")      << "send archive part"  << 0  << 0 << ""              << "write archive part"         << QByteArray("mlsdSendUIPartDataToArchive: Error writing UI part data to archive");
    QTest::newRow("send archive song past the largest archive") << "send archive song" << 0 << 0 << "archive@1192=2540834400" << "" << QByteArray("mlsdSendUISongDataToArchive: Error writing UI song data to archive");
    QTest::newRow("send archive part, size 32768") << "send archive part" << 0 << 0 << "archive@1216=32768" << ""                << QByteArray("mlsdSendUIPartDataToArchive: Error writing UI part data to archive");
    QTest::newRow("send archive prefs, size 513") << "send archive prefs" << 0 << 0 << "archive@528=513" << ""                   << QByteArray("mlsdSendUserPrefsToArchive: Error writing userPrefs to archive.");
    QTest::newRow("archive song, 12 held")  << "archive song"       << 0  << 0 << "full"          << ""                           << QByteArray("mlsdArchiveSong: Maximum songs in archive - cannot add another song");
    QTest::newRow("archive song, read-only") << "archive song"      << 0  << 0 << "readonly"      << ""                           << QByteArray("mlsdArchiveSong: Archive is not writable.");
    QTest::newRow("archive song, song")     << "archive song"       << 0  << 0 << ""              << "read card song"             << QByteArray("mlsdArchiveSong: Error reading UI song data from SD card");
    QTest::newRow("archive song, audio write") << "archive song"    << 0  << 0 << ""              << "write archive audio"        << QByteArray("mlsdArchiveSong: Error writing looper audio to archive");
    QTest::newRow("archive song, stopped")  << "archive song"       << 0  << 0 << "stop"          << ""                           << QByteArray("mlsdArchiveSong: Aborted by user.");
    QTest::newRow("restore song 2")         << "restore song"       << 1  << 0 << ""              << ""                           << QByteArray("mlsdRestoreSong: song num out of archive song range - cannot restore song");
    QTest::newRow("restore song, read-only") << "restore song"      << 0  << 0 << "readonly"      << ""                           << QByteArray("mlsdRestoreSong: SD Card is not writable.");
    QTest::newRow("restore song, song")     << "restore song"       << 0  << 0 << ""              << "read archive song"          << QByteArray("mlsdRestoreSong: Error reading UI song data from Archive");
    QTest::newRow("restore song, invalid")  << "restore song"       << 0  << 0 << "archive@2252=100" << ""                        << QByteArray("mlsdRestoreSong: Song data from archive is invalid");
    QTest::newRow("restore song, part invalid") << "restore song"   << 0  << 0 << "archive@17916=12" << ""                        << QByteArray("mlsdRestoreSong: Part data from archive card is invalid");
    QTest::newRow("restore song, audio write") << "restore song"    << 0  << 0 << ""              << "write card audio"           << QByteArray("mlsdRestoreSong: Error writing looper audio to SD card");
    QTest::newRow("restore song, stopped")  << "restore song"       << 0  << 0 << "stop"          << ""                           << QByteArray("mlsdRestoreSong: Aborted by user.");
    QTest::newRow("restore song, audio 2 a byte too far") << "restore song" << 0 << 0 << "archive@1248=162441" << ""              << QByteArray("mlsdRestoreSong: Error reading looper audio from archive");
    QTest::newRow("restore card, file a byte short") << "restore card" << 0 << 0 << "archivesize=204591" << ""                    << QByteArray("mlsdRestoreSong: Error reading looper audio from archive");
    QTest::newRow("archive prefs, read-only") << "archive prefs"    << 0  << 0 << "readonly"      << ""                           << QByteArray("mlsdArchiveUserPrefs: Archive is not writable.");
    QTest::newRow("clear archive, read-only") << "clear archive"    << 0  << 0 << "readonly"      << ""                           << QByteArray("mlsdClearArchive: Archive is not writable.");
    QTest::newRow("archive card, prefs")    << "archive card"       << 0  << 0 << ""              << "read card prefs"            << QByteArray("mlsdArchiveSDCard: Error reading user prefs from SD card.");
    QTest::newRow("restore prefs, read-only") << "restore prefs"    << 0  << 0 << "readonly"      << ""                           << QByteArray("mlsdRestoreUserPrefs: SD Card is not writable.");
    QTest::newRow("restore card, prefs")    << "restore card"       << 0  << 0 << "archive@696=12" << ""                          << QByteArray("mlsdGetUserPrefsFromArchive: userPrefs read from archive are invalid.");
    QTest::newRow("restore card, read-only") << "restore card"      << 0  << 0 << "readonly"      << ""                           << QByteArray("mlsdRestoreSDCard: SD Card is not writable.");
    // clang-format on
}

// Every failure reports its own text, leaves no stream or file open and keeps an archive's song
// count; bad input (a file of the wrong size, a damaged header, hostile sizes and offsets) is
// refused before it positions a read or a write.
void TestAccess::errorTexts()
{
    QFETCH(QString, operation);
    QFETCH(int, song);
    QFETCH(int, part);
    QFETCH(QString, setup);
    QFETCH(QString, fault);
    QFETCH(QByteArray, text);

    ScopedFaultInjector faults;
    CardImage image(m_dir.path());
    image.create();
    image.writeSong(0, sampleSong(0, 1));
    Files f;
    f.cardPath = image.path();
    f.songPath = path(QStringLiteral("song.mlsd"));
    f.freshPath = path(QStringLiteral("fresh.mlsd"));
    ArchiveBuilder builder;
    builder.addSong(sampleSong(0, 2));
    QByteArray songFile = builder.bytes();
    for (const QString &token : setup.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const qint64 value = token.section('=', 1).toLongLong();
        QByteArray word(4, '\0');
        putWord(word, 0, quint32(value));
        const int at = token.section('@', 1).section('=', 0, 0).toInt();
        if (token.startsWith(QLatin1String("card@")))
            writeRange(f.cardPath, at, word);
        else if (token.startsWith(QLatin1String("archive@")))
            songFile.replace(at, 4, word);
        else if (token.startsWith(QLatin1String("cardsize=")))
            QFile::resize(f.cardPath, value);
        else if (token.startsWith(QLatin1String("archivesize=")))
            songFile.resize(int(value));
    }
    QFile::remove(f.songPath);
    writeRange(f.songPath, 0, songFile);
    const int descriptors = openFileDescriptorCount();

    const bool readOnly = setup.contains(QLatin1String("readonly"));
    f.card = openCard(f.cardPath, readOnly ? 0 : 1);
    f.songFile = openArchive(f.songPath, readOnly ? 0 : 1);
    if (!readOnly)
        f.fresh = openArchive(f.freshPath, 1, 1);
    if (setup == QLatin1String("full"))
        localPutWord32(f.fresh->header.data(), carddata::kArchiveSongCountOffset, 12);
    if (setup == QLatin1String("badid"))
        f.songFile->header[0] = 'X';
    f.stops = setup == QLatin1String("stop");
    const int songs = f.target() ? mlsdArchiveSongCount(f.target()) : 0;
    const FileSnapshot card(f.cardPath);

    if (!fault.isEmpty())
        faults.arm(FaultKind::IoError, FaultMode::FromNOn, 1, target(fault));
    QCOMPARE(operations.value(operation)(f, song, part), 1);
    QCOMPARE(QByteArray(mlsdGetErrorString()), text);
    QVERIFY(fault.isEmpty() || faults.injectedFaults() > 0);
    faults.disarm();
    // The file's size against its song headers, all that a library reads, finds what the
    // restore refuses at the audio; Verify says how many bytes are missing.
    const bool cut = text.endsWith("Error reading looper audio from archive");
    QCOMPARE(f.songFile ? mlsdArchiveBytesMissing(f.songFile.get()) : 0, cut ? 1 : 0);
    VerifyReport report;
    QVERIFY(!cut || (mlsdVerifyFile(QFile::encodeName(f.songPath).constData(), &report) == 0 &&
                     report.problems.back().what.rfind("1 of its ", 0) == 0 &&
                     QByteArray::fromStdString(report.problems.back().what)
                         .endsWith(" bytes missing at the end of the file")));
    if (f.target())
        QCOMPARE(mlsdArchiveSongCount(f.target()), songs);
    f.card.reset();
    f.songFile.reset();
    f.fresh.reset();
    QCOMPARE(faults.liveStreams(), 0);
    QCOMPARE(openFileDescriptorCount(), descriptors);
    // A refusal writes nothing and never grows a file to a card's size (only a stopped restore
    // leaves its song partly written).
    if (fault.isEmpty() && setup != QLatin1String("stop")) {
        QVERIFY2(card.changes().isEmpty(), qPrintable(describe(card.changes())));
        QCOMPARE(readRange(f.songPath, 0, songFile.size() + 1), songFile);
    }
}

// A record read or written after a seek moves its own bytes and nothing more: reading the block
// around it first would cost a card reader a block's time for every record.
void TestAccess::recordsMoveOnlyTheirBytes()
{
    const QString file = path("records.bin");
    QFile sparse(file);
    QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize(4 << 20));
    sparse.close();
    auto stream = carddata::openFileStream(QFile::encodeName(file).toStdString(), carddata::OpenMode::Update);
    QVERIFY(stream);
    const QByteArray record(1024, 'r');
    QByteArray back(1024, '\0');
    const qint64 before = bytesRead();
    const int64_t at = 3 * 262144 + 200000; // far from a block boundary
    QVERIFY(stream->seek(at) && stream->write(record.constData(), 1024) == 1024);
    QVERIFY(stream->seek(at) && stream->read(back.data(), 1024) == 1024);
    // The record, and a little for reading /proc/self/io; stdio read 663,364 bytes here.
    const qint64 read = bytesRead() - before;
    QVERIFY2(read < 1024 + 4096, qPrintable(QString::number(read)));
    QCOMPARE(back, record);
    QVERIFY(stream->close());
}

MORV_TEST_MAIN(TestAccess)
#include "tst_access.moc"
