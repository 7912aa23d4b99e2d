// The card file layout as the library sees it: memory map, record positions, byte order,
// text fields, the validity rules of every record and the looper record's acceptance rule.
#include "carddata/carddata.h"
#include "support/records.h"

#include <QtTest>

#include <climits>
#include <vector>

using namespace ZovaZode::TestSupport;

namespace {

const uint8_t *bytes(const QByteArray &record)
{
    return reinterpret_cast<const uint8_t *>(record.constData());
}

} // namespace

class TestLayout : public QObject
{
    Q_OBJECT

private slots:
    void memoryMap_data();
    void memoryMap();
    void otherMapVersionsFail();
    void recordPositions_data();
    void recordPositions();
    void wordHelpers();
    void packText_data();
    void packText();
    void unpackText_data();
    void unpackText();
    void userPrefsValidity_data();
    void userPrefsValidity();
    void songDataValidity_data();
    void songDataValidity();
    void partDataValidity_data();
    void partDataValidity();
    void currentLoopRecord_data();
    void currentLoopRecord();
    void looperAcceptance_data();
    void looperAcceptance();
    void checksumStaysInsidePayload();
};

void TestLayout::memoryMap_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("value");

    const int values[18] = {0,   0,    100,   100, 100,  41260, 101,   1212,    42472,
                            164, 9840, 52312, 164, 9840, 62152, 51680, 6201600, 6263752};
    for (int i = 0; i < 18; ++i)
        QTest::addRow("word %d", i) << i << values[i];
}

void TestLayout::memoryMap()
{
    QFETCH(int, index);
    QFETCH(int, value);
    CardMemoryMap map{};
    QCOMPARE(localGetMemoryMap(0, &map), 0);
    QCOMPARE(map.words[index], value);
}

void TestLayout::otherMapVersionsFail()
{
    for (int version : {1, -1, 2}) {
        CardMemoryMap map{};
        for (int &w : map.words)
            w = 0x5A5A;
        QVERIFY(localGetMemoryMap(version, &map) != 0);
        for (int w : map.words)
            QCOMPARE(w, 0x5A5A);
    }
}

void TestLayout::recordPositions_data()
{
    QTest::addColumn<int>("song");
    QTest::addColumn<int>("part");
    QTest::addColumn<qint64>("songSector");
    QTest::addColumn<qint64>("partSector");
    QTest::addColumn<qint64>("looperSector");
    QTest::addColumn<qint64>("audioSector");

    // clang-format off
    QTest::newRow("song 0 part 0")  << 0  << 0 << qint64(41260) << qint64(42472) << qint64(52312) << qint64(62216);
    QTest::newRow("song 0 part 1")  << 0  << 1 << qint64(41260) << qint64(42636) << qint64(52476) << qint64(165576);
    QTest::newRow("song 1 part 0")  << 1  << 0 << qint64(41361) << qint64(43292) << qint64(53132) << qint64(579016);
    QTest::newRow("song 6 part 3")  << 6  << 3 << qint64(41866) << qint64(47884) << qint64(57724) << qint64(3473096);
    QTest::newRow("song 11 part 4") << 11 << 4 << qint64(42371) << qint64(52148) << qint64(61988) << qint64(6160456);
    // clang-format on
}

void TestLayout::recordPositions()
{
    QFETCH(int, song);
    QFETCH(int, part);
    QFETCH(qint64, songSector);
    QFETCH(qint64, partSector);
    QFETCH(qint64, looperSector);
    QFETCH(qint64, audioSector);

    CardMemoryMap map{};
    QCOMPARE(localGetMemoryMap(0, &map), 0);
    QCOMPARE(qint64(mlsdSongDataPosition(&map, song)), songSector * 512);
    QCOMPARE(qint64(mlsdPartDataPosition(&map, song, part)), partSector * 512);
    QCOMPARE(qint64(mlsdLooperDataPosition(&map, song, part)), looperSector * 512);
    QCOMPARE(qint64(mlsdAudioPosition(&map, song, part)), audioSector * 512);
}

void TestLayout::wordHelpers()
{
    std::vector<uint8_t> buffer(16, 0xEE);
    localPutWord32(buffer.data(), 3, 0x11223344u);
    const std::vector<uint8_t> expected{0xEE, 0xEE, 0xEE, 0x44, 0x33, 0x22, 0x11, 0xEE,
                                        0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    QCOMPARE(buffer, expected);
    QCOMPARE(localGetWord32(buffer.data(), 3), 0x11223344u);
    QCOMPARE(localGetInt32(buffer.data(), 8), int32_t(0xEEEEEEEE));

    localPutWord64(buffer.data(), 8, 0x0102030405060708ull);
    QCOMPARE(buffer[8], uint8_t(0x08));
    QCOMPARE(buffer[15], uint8_t(0x01));
    QCOMPARE(buffer[7], uint8_t(0xEE));
    QCOMPARE(localGetWord64(buffer.data(), 8), 0x0102030405060708ull);

    const uint8_t minusOne[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    QCOMPARE(localGetInt32(minusOne, 0), -1);
    const uint8_t oneAndHalf[4] = {0x00, 0x00, 0xC0, 0x3F};
    QCOMPARE(localGetFloat(oneAndHalf, 0), 1.5f);
}

void TestLayout::packText_data()
{
    QTest::addColumn<int>("fieldSize");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("stored"); // bytes the field starts with afterwards
    QTest::addColumn<int>("untouchedFrom"); // first byte still holding the old filler

    const QByteArray text128(128, 'n');
    const QByteArray text384(384, 'd');
    // clang-format off
    QTest::newRow("empty")             << 128 << QByteArray()          << QByteArray(4, '\0')              << 4;
    QTest::newRow("three bytes")       << 128 << QByteArray("abc")     << QByteArray("abc\0", 4)           << 4;
    QTest::newRow("four bytes")        << 128 << QByteArray("abcd")    << QByteArray("abcd\0\0\0\0", 8)    << 8;
    QTest::newRow("six bytes")         << 128 << QByteArray("Intro!")  << QByteArray("Intro!\0\0", 8)      << 8;
    QTest::newRow("127 bytes")         << 128 << text128.left(127)     << text128.left(127) + '\0'         << 128;
    QTest::newRow("exactly 128")       << 128 << text128               << text128                          << 128;
    QTest::newRow("129 cut to 128")    << 128 << text128 + 'x'         << text128                          << 128;
    QTest::newRow("description 383")   << 384 << text384.left(383)     << text384.left(383) + '\0'         << 384;
    QTest::newRow("description 384")   << 384 << text384               << text384                          << 384;
    QTest::newRow("description 400")   << 384 << text384 + "overflow"  << text384                          << 384;
    QTest::newRow("utf-8 multibyte")   << 128 << QByteArray("\xc3\xa9t\xc3\xa9") << QByteArray("\xc3\xa9t\xc3\xa9\0\0\0", 8) << 8;
    // clang-format on
}

void TestLayout::packText()
{
    QFETCH(int, fieldSize);
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, stored);
    QFETCH(int, untouchedFrom);

    // The field sits between guard bytes; the source is not NUL-terminated when it is cut.
    const int guard = 16;
    std::vector<uint8_t> buffer(size_t(guard + fieldSize + guard), 0xEE);
    std::vector<char> text(source.begin(), source.end());
    text.push_back('\0');
    localPackString(buffer.data() + guard, text.data(), size_t(fieldSize));

    const QByteArray after(reinterpret_cast<const char *>(buffer.data()), int(buffer.size()));
    QCOMPARE(after.mid(guard, stored.size()), stored);
    QCOMPARE(after.mid(guard + untouchedFrom), QByteArray(fieldSize - untouchedFrom + guard, '\xEE'));
    QCOMPARE(after.left(guard), QByteArray(guard, '\xEE'));
}

void TestLayout::unpackText_data()
{
    QTest::addColumn<int>("fieldSize");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray full128(128, 'q');
    const QByteArray full384(384, 'r');
    // clang-format off
    QTest::newRow("short")          << 128 << QByteArray("Verse\0junk", 10) + QByteArray(118, 'z') << QByteArray("Verse");
    QTest::newRow("empty")          << 128 << QByteArray(1, '\0') + QByteArray(127, 'z')            << QByteArray();
    QTest::newRow("full 128")       << 128 << full128                                               << full128;
    QTest::newRow("full 384")       << 384 << full384                                               << full384;
    QTest::newRow("NUL at 383")     << 384 << full384.left(383) + '\0'                              << full384.left(383);
    // clang-format on
}

void TestLayout::unpackText()
{
    QFETCH(int, fieldSize);
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, expected);

    // The field is followed by bytes that must not leak into the text.
    QByteArray padded = field + QByteArray(8, 'X');
    std::vector<char> out(size_t(fieldSize + 1 + 8), '\0');
    out[size_t(fieldSize + 1)] = 'G';
    localUnpackString(out.data(), bytes(padded), size_t(fieldSize));
    QCOMPARE(QByteArray(out.data()), expected);
    QCOMPARE(out[size_t(fieldSize + 1)], 'G');
}

void TestLayout::userPrefsValidity_data()
{
    QTest::addColumn<int>("word1");
    QTest::addColumn<int>("word3");
    QTest::addColumn<int>("word4");
    QTest::addColumn<bool>("valid");

    // clang-format off
    QTest::newRow("lowest")         << 0  << 0  << 0  << true;
    QTest::newRow("highest")        << 2  << 1  << 11 << true;
    QTest::newRow("word 1 is 3")    << 3  << 0  << 0  << false;
    QTest::newRow("word 1 is -1")   << -1 << 0  << 0  << false;
    QTest::newRow("word 3 is 2")    << 0  << 2  << 0  << false;
    QTest::newRow("word 3 is -1")   << 0  << -1 << 0  << false;
    QTest::newRow("word 4 is 12")   << 0  << 0  << 12 << false;
    QTest::newRow("word 4 is -1")   << 0  << 0  << -1 << false;
    QTest::newRow("word 4 is min")  << 0  << 0  << INT_MIN << false;
    // clang-format on
}

void TestLayout::userPrefsValidity()
{
    QFETCH(int, word1);
    QFETCH(int, word3);
    QFETCH(int, word4);
    QFETCH(bool, valid);
    // Every other word holds a filler pattern, which must not matter.
    const QByteArray prefs = userPrefs({word1, word3, word4, 99});
    QCOMPARE(localUserPrefsValid(bytes(prefs)), valid);
}

void TestLayout::songDataValidity_data()
{
    QTest::addColumn<QVector<qint32>>("sequence");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("third");
    QTest::addColumn<int>("fourth");
    QTest::addColumn<bool>("valid");

    const QVector<qint32> ok{0, 1, 2, 3, 4};
    const QVector<qint32> all4(100, 4);
    QVector<qint32> fiveBeyond99(100, 4);
    fiveBeyond99[99] = 5;
    const QVector<qint32> fiveBeyond3{0, 4, 2, 5, 9};
    const QVector<qint32> fiveAt2{0, 4, 5};
    const QVector<qint32> negativeAt0{-1};
    // clang-format off
    QTest::newRow("plain")                << ok           << -1  << 2  << 5  << 1  << true;
    QTest::newRow("count 99, entries 4")  << all4         << 99  << 0  << 0  << 0  << true;
    QTest::newRow("count 99, 5 beyond")   << fiveBeyond99 << 99  << 0  << 0  << 0  << true;
    QTest::newRow("count 100")            << all4         << 100 << 0  << 0  << 0  << false;
    QTest::newRow("count -1")             << ok           << -2  << 0  << 0  << 0  << false;
    QTest::newRow("count 0")              << fiveAt2      << 0   << 0  << 0  << 0  << true;
    QTest::newRow("entry 5 beyond count") << fiveBeyond3  << 3   << 0  << 0  << 0  << true;
    QTest::newRow("entry 5 within count") << fiveAt2      << 3   << 0  << 0  << 0  << false;
    QTest::newRow("entry -1")             << negativeAt0  << 1   << 0  << 0  << 0  << false;
    QTest::newRow("first 4")              << ok           << -1  << 4  << 0  << 0  << true;
    QTest::newRow("first 5")              << ok           << -1  << 5  << 0  << 0  << false;
    QTest::newRow("first -1")             << ok           << -1  << -1 << 0  << 0  << false;
    QTest::newRow("third -1")             << ok           << -1  << 0  << -1 << 0  << true;
    QTest::newRow("third -2")             << ok           << -1  << 0  << -2 << 0  << false;
    QTest::newRow("third 11")             << ok           << -1  << 0  << 11 << 0  << true;
    QTest::newRow("third 12")             << ok           << -1  << 0  << 12 << 0  << false;
    QTest::newRow("fourth 2")             << ok           << -1  << 0  << 0  << 2  << true;
    QTest::newRow("fourth 3")             << ok           << -1  << 0  << 0  << 3  << false;
    QTest::newRow("fourth -1")            << ok           << -1  << 0  << 0  << -1 << false;
    // clang-format on
}

void TestLayout::songDataValidity()
{
    QFETCH(QVector<qint32>, sequence);
    QFETCH(int, count);
    QFETCH(int, first);
    QFETCH(int, third);
    QFETCH(int, fourth);
    QFETCH(bool, valid);

    SongFields fields;
    fields.sequence = sequence;
    fields.first = first;
    fields.third = third;
    fields.fourth = fourth;
    fields.second = INT_MIN; // any value
    QByteArray song = songData(fields);
    // A count of -1 in the table means "the sequence's size"; -2 writes -1 itself.
    if (count >= 0)
        putWord(song, 924, quint32(count));
    else if (count == -2)
        putWord(song, 924, quint32(-1));
    putWord(song, 0, 0xDEADBEEF); // word 0 is never read
    QCOMPARE(localUISongDataValid(bytes(song)), valid);
}

void TestLayout::partDataValidity_data()
{
    QTest::addColumn<int>("field"); // byte offset of the word to change, -1 for none
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("inUse");
    QTest::addColumn<int>("looperFlag");
    QTest::addColumn<bool>("valid");

    const int bars00 = loopRecordOffset(0, 0);
    const int bars11 = loopRecordOffset(1, 1);
    const int beats01 = loopRecordOffset(0, 1) + 4;
    const int w197_10 = loopRecordOffset(1, 0) + 4 * 197;
    const int style0 = 16144;
    const int style23 = 16144 + 4 * 23;
    // clang-format off
    QTest::newRow("in use, all good")          << -1      << 0      << 1 << 0 << true;
    QTest::newRow("not in use")                << -1      << 0      << 0 << 0 << true;
    QTest::newRow("in use word 2")             << 516     << 2      << 1 << 0 << false;
    QTest::newRow("in use word -1")            << 516     << -1     << 1 << 0 << false;
    QTest::newRow("genre 11")                  << 15564   << 11     << 1 << 0 << true;
    QTest::newRow("genre 12")                  << 15564   << 12     << 1 << 0 << false;
    QTest::newRow("genre 12, not in use")      << 15564   << 12     << 0 << 0 << false;
    QTest::newRow("genre -1, not in use")      << 15564   << -1     << 0 << 0 << false;
    QTest::newRow("bars 0")                    << bars00  << 0      << 1 << 0 << false;
    QTest::newRow("bars 1")                    << bars00  << 1      << 1 << 0 << true;
    QTest::newRow("bars 96")                   << bars11  << 96     << 1 << 0 << true;
    QTest::newRow("bars 97")                   << bars11  << 97     << 1 << 0 << false;
    QTest::newRow("bars 0, looper flag")       << bars00  << 0      << 1 << 1 << true;
    QTest::newRow("bars 97, looper flag")      << bars11  << 97     << 1 << 1 << true;
    QTest::newRow("bars 0, not in use")        << bars00  << 0      << 0 << 0 << true;
    QTest::newRow("beats 0")                   << beats01 << 0      << 1 << 0 << false;
    QTest::newRow("beats 8")                   << beats01 << 8      << 1 << 0 << true;
    QTest::newRow("beats 9")                   << beats01 << 9      << 1 << 0 << false;
    QTest::newRow("beats 0, looper flag")      << beats01 << 0      << 1 << 1 << false;
    QTest::newRow("word 197 is 0")             << w197_10 << 0      << 1 << 0 << false;
    QTest::newRow("word 197 is 1")             << w197_10 << 1      << 1 << 0 << true;
    QTest::newRow("word 197 is 256")           << w197_10 << 256    << 1 << 0 << true;
    QTest::newRow("word 197 is 257")           << w197_10 << 257    << 1 << 0 << false;
    QTest::newRow("word 197 is 0, looper")     << w197_10 << 0      << 1 << 1 << false;
    QTest::newRow("bank swap 0 is 2")          << 15544   << 2      << 1 << 0 << false;
    QTest::newRow("bank swap 1 is -1")         << 15548   << -1     << 1 << 0 << false;
    QTest::newRow("bank swap 1 is 1")          << 15548   << 1      << 1 << 0 << true;
    QTest::newRow("bank swap 2, not in use")   << 15544   << 2      << 0 << 0 << true;
    QTest::newRow("style 12")                  << style0  << 12     << 1 << 0 << false;
    QTest::newRow("style last 12")             << style23 << 12     << 1 << 0 << false;
    QTest::newRow("style -1")                  << style0  << -1     << 1 << 0 << false;
    QTest::newRow("style 11")                  << style23 << 11     << 1 << 0 << true;
    QTest::newRow("style 12, looper flag")     << style0  << 12     << 1 << 1 << true;
    QTest::newRow("style 12, looper flag -3")  << style0  << 12     << 1 << -3 << true;
    QTest::newRow("style 12, not in use")      << style0  << 12     << 0 << 0 << true;
    QTest::newRow("time slot 1")               << 16240   << 1      << 1 << 0 << true;
    QTest::newRow("time slot 2")               << 16240   << 2      << 1 << 0 << false;
    QTest::newRow("alternate time 2")          << 16244   << 2      << 1 << 0 << false;
    QTest::newRow("flag 2")                    << 16248   << 2      << 1 << 0 << false;
    QTest::newRow("flag -1")                   << 16248   << -1     << 1 << 0 << false;
    QTest::newRow("time slot 2, not in use")   << 16240   << 2      << 0 << 0 << true;
    QTest::newRow("count any")                 << 15552   << -77    << 1 << 0 << true;
    QTest::newRow("intense any")               << 15556   << 1000   << 1 << 0 << true;
    QTest::newRow("bass mode any")             << 15560   << INT_MIN << 1 << 0 << true;
    QTest::newRow("duration any")              << 16252   << -1     << 1 << 0 << true;
    // clang-format on
}

void TestLayout::partDataValidity()
{
    QFETCH(int, field);
    QFETCH(int, value);
    QFETCH(int, inUse);
    QFETCH(int, looperFlag);
    QFETCH(bool, valid);

    PartFields fields;
    fields.inUse = inUse;
    fields.looperFlag = looperFlag;
    fields.style.fill(11);
    QByteArray part = partData(fields);
    if (inUse == 0) {
        // An unused part's loop records may hold anything, zeros included.
        for (int r = 0; r < 4; ++r)
            part.replace(loopRecordOffset(r / 2, r % 2), 934 * 4, QByteArray(934 * 4, '\0'));
    }
    if (field >= 0)
        putWord(part, field, quint32(value));
    QCOMPARE(localUIPartDataValid(bytes(part)), valid);
}

void TestLayout::currentLoopRecord_data()
{
    QTest::addColumn<int>("inUse");
    QTest::addColumn<int>("timeSlot");
    QTest::addColumn<int>("altTime");
    QTest::addColumn<int>("swap0");
    QTest::addColumn<int>("swap1");
    QTest::addColumn<long>("offset");

    // clang-format off
    QTest::newRow("not in use")                << 0 << 0  << 0 << 0 << 0 << -1L;
    QTest::newRow("bank 0 slot 0")             << 1 << 0  << 0 << 0 << 0 << 520L;
    QTest::newRow("bank 0 slot 1")             << 1 << 1  << 0 << 0 << 0 << 4256L;
    QTest::newRow("alternate: bank 1 slot 0")  << 1 << 0  << 1 << 0 << 0 << 7992L;
    QTest::newRow("swap: bank 1 slot 0")       << 1 << 0  << 0 << 1 << 0 << 7992L;
    QTest::newRow("both: bank 0 slot 0")       << 1 << 0  << 1 << 1 << 0 << 520L;
    QTest::newRow("swap: bank 1 slot 1")       << 1 << 1  << 0 << 0 << 1 << 11728L;
    QTest::newRow("other slot's swap ignored") << 1 << 1  << 0 << 1 << 0 << 4256L;
    QTest::newRow("alternate: bank 1 slot 1")  << 1 << 1  << 5 << 0 << 0 << 11728L;
    QTest::newRow("time slot 2")               << 1 << 2  << 0 << 0 << 0 << -1L;
    QTest::newRow("time slot -1")              << 1 << -1 << 0 << 0 << 0 << -1L;
    // clang-format on
}

void TestLayout::currentLoopRecord()
{
    QFETCH(int, inUse);
    QFETCH(int, timeSlot);
    QFETCH(int, altTime);
    QFETCH(int, swap0);
    QFETCH(int, swap1);
    QFETCH(long, offset);

    PartFields fields;
    fields.inUse = inUse;
    fields.timeSlot = timeSlot;
    fields.altTime = altTime;
    fields.bankSwap = {swap0, swap1};
    QCOMPARE(localCurrentLoopRecord(bytes(partData(fields))), offset);
}

void TestLayout::looperAcceptance_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("checksum"); // "right", "zero", "word0", "wrong"
    QTest::addColumn<bool>("accepted");

    // clang-format off
    QTest::newRow("length 31, checksum 0")          << 31      << "zero"  << true;
    QTest::newRow("length 31, checksum word 0")     << 31      << "word0" << false;
    QTest::newRow("length 32, checksum word 0")     << 32      << "word0" << true;
    QTest::newRow("length 32, checksum 0")          << 32      << "zero"  << false;
    QTest::newRow("length 64, right")               << 64      << "right" << true;
    QTest::newRow("length 64, one bit off")         << 64      << "wrong" << false;
    QTest::newRow("length 1, checksum 0")           << 1       << "zero"  << true;
    QTest::newRow("length 0, checksum 0")           << 0       << "zero"  << false;
    QTest::newRow("length 0, checksum word 0")      << 0       << "word0" << false;
    QTest::newRow("length 41328, right")            << 41328   << "right" << true;
    QTest::newRow("length 41329, right")            << 41329   << "right" << false;
    QTest::newRow("length 82656, right")            << 82656   << "right" << false;
    QTest::newRow("length -1, checksum 0")          << -1      << "zero"  << false;
    QTest::newRow("length -32, checksum 0")         << -32     << "zero"  << false;
    QTest::newRow("length INT_MIN, checksum 0")     << INT_MIN << "zero"  << false;
    QTest::newRow("length INT_MAX, right")          << INT_MAX << "right" << false;
    // clang-format on
}

void TestLayout::looperAcceptance()
{
    QFETCH(int, length);
    QFETCH(QString, checksum);
    QFETCH(bool, accepted);

    LooperFields fields = recording(length, 4242);
    QByteArray record = looperRecord(fields);
    if (checksum == QLatin1String("zero"))
        putWord(record, 12, 0);
    else if (checksum == QLatin1String("word0"))
        putWord(record, 12, word(record, 16));
    else if (checksum == QLatin1String("wrong"))
        putWord(record, 12, word(record, 12) ^ 0x100);
    QVERIFY(word(record, 16) != 0);
    QCOMPARE(localLooperRecordAccepted(bytes(record)), accepted);
}

void TestLayout::checksumStaysInsidePayload()
{
    // Words after the payload are padding: a checksum that read them would see this pattern.
    QByteArray record = looperRecord(recording(64, 77));
    QCOMPARE(localLooperChecksum(bytes(record)), word(record, 16) ^ word(record, 20));

    quint32 wholePayload = 0;
    for (int i = 0; i < kLooperPayloadWords; ++i)
        wholePayload ^= word(record, 16 + 4 * i);
    for (qint32 length : {INT_MAX, 2583 * 32, 2584 * 32 + 5}) {
        putWord(record, 4, quint32(length));
        QCOMPARE(localLooperChecksum(bytes(record)), wholePayload);
    }
    for (qint32 length : {0, 31, -1, -64, INT_MIN}) {
        putWord(record, 4, quint32(length));
        QCOMPARE(localLooperChecksum(bytes(record)), 0u);
    }
}

QTEST_APPLESS_MAIN(TestLayout)
#include "tst_layout.moc"
