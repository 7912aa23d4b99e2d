// The text rules and the conversions between the card's records and SongInfo/PartInfo.
// Records are built byte by byte with the test-support builders, never with the code under test.
#include "domain/cardrecords.h"
#include "domain/song.h"
#include "support/records.h"

#include <QtTest>

#include <cstring>

using namespace ZovaZode;
namespace TS = ZovaZode::TestSupport;

namespace {

SongRecord toSongRecord(const QByteArray &bytes)
{
    SongRecord record{};
    std::memcpy(record.data(), bytes.constData(), record.size());
    return record;
}

PartRecord toPartRecord(const QByteArray &bytes)
{
    PartRecord record{};
    std::memcpy(record.data(), bytes.constData(), record.size());
    return record;
}

QByteArray bytesOf(const SongRecord &record)
{
    return QByteArray(reinterpret_cast<const char *>(record.data()), int(record.size()));
}

QString repeated(const QString &piece, int times)
{
    return piece.repeated(times);
}

const QString kEuro = QStringLiteral("\u20ac"); // three UTF-8 bytes
const QString kCe = QStringLiteral("\u00e9");   // two UTF-8 bytes

} // namespace

class TestCardRecords : public QObject
{
    Q_OBJECT

private slots:
    void nameLimit_data();
    void nameLimit();
    void descriptionLimit_data();
    void descriptionLimit();
    void forbiddenCharacters_data();
    void forbiddenCharacters();
    void removeForbidden_data();
    void removeForbidden();
    void fileNames_data();
    void fileNames();

    void encodeLayout_data();
    void encodeLayout();
    void decodeField_data();
    void decodeField();

    void songFromRecord_data();
    void songFromRecord();
    void songToRecordKeepsUnknownBytes_data();
    void songToRecordKeepsUnknownBytes();
    void songRoundTrip();

    void partFromRecord_data();
    void partFromRecord();
    void partState_data();
    void partState();
};

void TestCardRecords::nameLimit_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");

    // clang-format off
    QTest::newRow("empty")                   << QString()                                  << true;
    QTest::newRow("128 ascii")               << repeated(QStringLiteral("a"), 128)         << true;
    QTest::newRow("129 ascii")               << repeated(QStringLiteral("a"), 129)         << false;
    QTest::newRow("42 euro = 126 bytes")     << repeated(kEuro, 42)                        << true;
    QTest::newRow("43 euro = 129 bytes")     << repeated(kEuro, 43)                        << false;
    QTest::newRow("64 two-byte = 128 bytes") << repeated(kCe, 64)                          << true;
    QTest::newRow("64 two-byte + a")         << repeated(kCe, 64) + QLatin1Char('a')       << false;
    QTest::newRow("32 emoji = 128 bytes")    << repeated(QStringLiteral("\U0001F3B8"), 32) << true;
    QTest::newRow("33 emoji = 132 bytes")    << repeated(QStringLiteral("\U0001F3B8"), 33) << false;
    // clang-format on
}

void TestCardRecords::nameLimit()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QCOMPARE(isValidCardName(name), valid);
}

void TestCardRecords::descriptionLimit_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<bool>("valid");

    // clang-format off
    QTest::newRow("empty")             << QString()                               << true;
    QTest::newRow("384 ascii")         << repeated(QStringLiteral("d"), 384)      << true;
    QTest::newRow("385 ascii")         << repeated(QStringLiteral("d"), 385)      << false;
    QTest::newRow("128 euro = 384")    << repeated(kEuro, 128)                    << true;
    QTest::newRow("128 euro + 1")      << repeated(kEuro, 128) + QLatin1Char('x') << false;
    QTest::newRow("129 ascii is fine") << repeated(QStringLiteral("d"), 129)      << true;
    // clang-format on
}

void TestCardRecords::descriptionLimit()
{
    QFETCH(QString, description);
    QFETCH(bool, valid);
    QCOMPARE(isValidCardDescription(description), valid);
}

void TestCardRecords::forbiddenCharacters_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("allowed");

    const QString forbidden = QStringLiteral("<>:;\"'/\\|?*!^[]{}()");
    for (const QChar c : forbidden)
        QTest::newRow(qPrintable(QStringLiteral("forbidden %1").arg(c)))
            << QStringLiteral("ab%1cd").arg(c) << false;

    // clang-format off
    QTest::newRow("NUL")             << QStringLiteral("ab") + QChar(0) + QStringLiteral("cd") << false;
    QTest::newRow("tab")             << QStringLiteral("ab\tcd")                               << false;
    QTest::newRow("newline")         << QStringLiteral("ab\ncd")                               << false;
    QTest::newRow("U+001F")          << QStringLiteral("ab\x1f" "cd")                          << false;
    QTest::newRow("space")           << QStringLiteral("ab cd")                                << true;
    QTest::newRow("hyphen")          << QStringLiteral("ab-cd")                                << true;
    QTest::newRow("full stop")       << QStringLiteral("ab.cd")                                << true;
    QTest::newRow("comma")           << QStringLiteral("ab,cd")                                << true;
    QTest::newRow("ampersand")       << QStringLiteral("ab&cd")                                << true;
    QTest::newRow("underscore")      << QStringLiteral("ab_cd")                                << true;
    QTest::newRow("hash and dollar") << QStringLiteral("#1 $5")                                << true;
    QTest::newRow("DEL U+007F")      << QStringLiteral("ab\x7f" "cd")                          << true;
    QTest::newRow("accented")        << QStringLiteral("Caf\u00e9")                            << true;
    QTest::newRow("empty")           << QString()                                              << true;
    // clang-format on
}

void TestCardRecords::forbiddenCharacters()
{
    QFETCH(QString, text);
    QFETCH(bool, allowed);
    QCOMPARE(hasNoForbiddenCharacters(text), allowed);
    QVERIFY(forbiddenNameCharacters().isValid());
}

void TestCardRecords::removeForbidden_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("cleaned");

    // clang-format off
    QTest::newRow("slash and parentheses") << QStringLiteral("A/B (1)")               << QStringLiteral("AB 1");
    QTest::newRow("nothing to remove")     << QStringLiteral("Blues in E")            << QStringLiteral("Blues in E");
    QTest::newRow("only forbidden")        << QStringLiteral("<>:;\"'/\\|?*!^[]{}()") << QString();
    QTest::newRow("control characters")    << QStringLiteral("a\tb\nc\x01")           << QStringLiteral("abc");
    QTest::newRow("keeps non-ascii")       << QStringLiteral("Caf\u00e9? \u20ac")     << QStringLiteral("Caf\u00e9 \u20ac");
    // clang-format on
}

void TestCardRecords::removeForbidden()
{
    QFETCH(QString, text);
    QFETCH(QString, cleaned);
    QCOMPARE(removeForbiddenCharacters(text), cleaned);
    QVERIFY(hasNoForbiddenCharacters(removeForbiddenCharacters(text)));
}

void TestCardRecords::fileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("songFile");
    QTest::addColumn<QString>("archiveFile");

    const QString accent = QStringLiteral("e\u0301"); // e and a combining accent: one character
    // clang-format off
    QTest::newRow("plain")             << QStringLiteral("Gig 2024")         << QStringLiteral("Gig 2024.mlsd")         << QStringLiteral("Gig 2024.mlad");
    QTest::newRow("stripped")          << QStringLiteral("A/B (1)")          << QStringLiteral("AB 1.mlsd")             << QStringLiteral("AB 1.mlad");
    QTest::newRow("path-like")         << QStringLiteral("../../etc")        << QStringLiteral("etc.mlsd")              << QStringLiteral("etc.mlad");
    QTest::newRow("hidden")            << QStringLiteral(".intro")           << QStringLiteral("intro.mlsd")            << QStringLiteral("intro.mlad");
    QTest::newRow("only a dot")        << QStringLiteral(".")                << QStringLiteral("Untitled Song.mlsd")    << QStringLiteral("Morv+ Card.mlad");
    QTest::newRow("space, dot")        << QStringLiteral(" . x")             << QStringLiteral("x.mlsd")                << QStringLiteral("x.mlad");
    QTest::newRow("wide spaces, dots") << QStringLiteral("\u00a0\u3000..x") << QStringLiteral("x.mlsd")                << QStringLiteral("x.mlad");
    QTest::newRow("delete character")  << QStringLiteral("a\u007fb\u0085c")  << QStringLiteral("abc.mlsd")              << QStringLiteral("abc.mlad");
    QTest::newRow("300 bytes cut")     << repeated(kEuro, 100)               << repeated(kEuro, 77) + ".mlsd"           << repeated(kEuro, 77) + ".mlad";
    QTest::newRow("accent not split")  << repeated("a", 232) + accent        << repeated("a", 232) + ".mlsd"            << repeated("a", 232) + ".mlad";
    QTest::newRow("233 bytes kept")    << repeated("a", 231) + accent.left(1) + "b" << repeated("a", 231) + "eb.mlsd" << repeated("a", 231) + "eb.mlad";
    // clang-format on
}

void TestCardRecords::fileNames()
{
    QFETCH(QString, name);
    QFETCH(QString, songFile);
    QFETCH(QString, archiveFile);
    QCOMPARE(songFileName(name), songFile);
    QCOMPARE(archiveFileName(name), archiveFile);
    // With the temporary suffix of a new file, the name fits a 255-byte file name.
    QVERIFY(QFile::encodeName(songFile).size() <= 255 - 17);
}

void TestCardRecords::encodeLayout_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("stored"); // the text bytes expected at the start of the field
    QTest::addColumn<int>("touched");       // bytes of the field written, the rest keeps 0xAA

    // clang-format off
    QTest::newRow("empty")                  << QString()                                 << 128 << QByteArray(4, '\0')                                                  << 4;
    QTest::newRow("abc")                    << QStringLiteral("abc")                     << 128 << QByteArray("abc", 4)                                                 << 4;
    QTest::newRow("abcd: NUL in next word") << QStringLiteral("abcd")                    << 128 << QByteArray("abcd\0\0\0\0", 8)                                        << 8;
    QTest::newRow("abcde")                  << QStringLiteral("abcde")                   << 128 << QByteArray("abcde\0\0\0", 8)                                         << 8;
    QTest::newRow("127 bytes")              << repeated(QStringLiteral("n"), 127)        << 128 << QByteArray(127, 'n') + '\0'                                          << 128;
    QTest::newRow("128 bytes, no NUL")      << repeated(QStringLiteral("n"), 128)        << 128 << QByteArray(128, 'n')                                                 << 128;
    QTest::newRow("129 bytes cut")          << repeated(QStringLiteral("n"), 129)        << 128 << QByteArray(128, 'n')                                                 << 128;
    QTest::newRow("euro cut inside")        << QStringLiteral("a") + repeated(kEuro, 43) << 128 << QByteArray(QByteArray("a") + repeated(kEuro, 43).toUtf8()).left(128) << 128;
    QTest::newRow("384 bytes, no NUL")      << repeated(QStringLiteral("d"), 384)        << 384 << QByteArray(384, 'd')                                                 << 384;
    QTest::newRow("utf-8 description")      << QStringLiteral("\u00e9t\u00e9")           << 384 << QByteArray("\xc3\xa9t\xc3\xa9\0\0\0", 8)                             << 8;
    // clang-format on
}

// The field's bytes are checked against the documented packing (byte i in bits 8(i mod 4) of
// word i/4, little-endian), so that a byte-order or word-boundary fault shows.
void TestCardRecords::encodeLayout()
{
    QFETCH(QString, text);
    QFETCH(int, size);
    QFETCH(QByteArray, stored);
    QFETCH(int, touched);

    QByteArray field(size + 8, char(0xAA));
    encodeCardText(text, reinterpret_cast<uint8_t *>(field.data()), size_t(size));

    QCOMPARE(field.left(stored.size()), stored);
    QCOMPARE(field.mid(stored.size(), touched - stored.size()), QByteArray(touched - stored.size(), '\0'));
    QCOMPARE(field.mid(touched), QByteArray(size + 8 - touched, char(0xAA)));
}

void TestCardRecords::decodeField_data()
{
    QTest::addColumn<QByteArray>("field"); // raw bytes; padded with 0x55 to its size
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("text");

    // clang-format off
    QTest::newRow("terminated")        << QByteArray("Song\0xyz", 8)     << 128 << QStringLiteral("Song");
    QTest::newRow("full 128, no NUL")  << QByteArray(128, 'q')           << 128 << repeated(QStringLiteral("q"), 128);
    QTest::newRow("full 384, no NUL")  << QByteArray(384, 'r')           << 384 << repeated(QStringLiteral("r"), 384);
    QTest::newRow("empty")             << QByteArray(1, '\0')            << 128 << QString();
    QTest::newRow("utf-8")             << QByteArray("Caf\xc3\xa9\0", 6) << 128 << QStringLiteral("Caf\u00e9");
    QTest::newRow("invalid utf-8")     << QByteArray("a\xff" "b\0", 4)   << 128 << QStringLiteral("a\ufffd" "b");
    QTest::newRow("cut multibyte end") << QByteArray(127, 'x') + "\xe2"  << 128 << repeated(QStringLiteral("x"), 127) + QChar(0xfffd);
    // clang-format on
}

void TestCardRecords::decodeField()
{
    QFETCH(QByteArray, field);
    QFETCH(int, size);
    QFETCH(QString, text);

    // Pack the raw bytes the pedal's way into a field followed by bytes that must not be read.
    QByteArray record(size + 16, char(0x55));
    TS::putText(record, 0, size, field);
    QCOMPARE(decodeCardText(reinterpret_cast<const uint8_t *>(record.constData()), size_t(size)), text);
}

void TestCardRecords::songFromRecord_data()
{
    QTest::addColumn<qint32>("count");
    QTest::addColumn<int>("entries"); // how many sequence entries the SongInfo must carry

    // clang-format off
    QTest::newRow("count 0")          << qint32(0)          << 0;
    QTest::newRow("count 5")          << qint32(5)          << 5;
    QTest::newRow("count 99")         << qint32(99)         << 99;
    QTest::newRow("count 100")        << qint32(100)        << 100;
    QTest::newRow("count 101 -> 100") << qint32(101)        << 100;
    QTest::newRow("count max -> 100") << qint32(0x7fffffff) << 100;
    QTest::newRow("count -1")         << qint32(-1)         << 0;
    QTest::newRow("count min")        << qint32(INT32_MIN)  << 0;
    // clang-format on
}

void TestCardRecords::songFromRecord()
{
    QFETCH(qint32, count);
    QFETCH(int, entries);

    TS::SongFields fields;
    fields.name = "Blues \xe2\x82\xac";
    fields.description = "Twelve bars";
    fields.first = 3;
    fields.second = -123456;
    fields.sequence.clear();
    for (int i = 0; i < 100; ++i)
        fields.sequence << (i * 7) % 5;
    fields.third = -1;
    fields.fourth = 2;
    QByteArray bytes = TS::songData(fields);
    TS::putWord(bytes, 924, quint32(count));
    const SongRecord record = toSongRecord(bytes);

    const SongInfo info = songInfoFromRecord(record);
    QCOMPARE(info.name, QStringLiteral("Blues \u20ac"));
    QCOMPARE(info.description, QStringLiteral("Twelve bars"));
    QCOMPARE(info.firstValue, 3);
    QCOMPARE(info.secondValue, -123456);
    QCOMPARE(info.sequence, fields.sequence.mid(0, entries));
    QCOMPARE(info.thirdValue, -1);
    QCOMPARE(info.fourthValue, 2);
}

void TestCardRecords::songToRecordKeepsUnknownBytes_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("count");

    // clang-format off
    QTest::newRow("none")               << 0   << 0;
    QTest::newRow("three")              << 3   << 3;
    QTest::newRow("100")                << 100 << 100;
    QTest::newRow("120 written as 100") << 120 << 100;
    // clang-format on
}

void TestCardRecords::songToRecordKeepsUnknownBytes()
{
    QFETCH(int, entries);
    QFETCH(int, count);

    TS::SongFields stored;
    stored.name = QByteArray(40, 'o'); // long old name: bytes after the new NUL word stay
    stored.description = QByteArray(200, 'p');
    stored.seed = 99;
    QByteArray before = TS::songData(stored);
    TS::putWord(before, 0, 0x01020304); // word 0 is never read, only written
    SongRecord record = toSongRecord(before);

    SongInfo info;
    info.name = QStringLiteral("New");
    info.description = QStringLiteral("Desc.");
    info.firstValue = 4;
    info.secondValue = -7;
    for (int i = 0; i < entries; ++i)
        info.sequence << (i % 5);
    info.thirdValue = 11;
    info.fourthValue = 0;
    songInfoToRecord(info, record);
    const QByteArray after = bytesOf(record);

    QCOMPARE(TS::word(after, 0), 771u);
    QCOMPARE(after.mid(4, 4), QByteArray("New\0", 4));
    QCOMPARE(after.mid(8, 128 - 4), before.mid(8, 128 - 4)); // rest of the old name kept
    QCOMPARE(after.mid(132, 8), QByteArray("Desc.\0\0\0", 8));
    QCOMPARE(after.mid(140, 384 - 8), before.mid(140, 384 - 8));
    QCOMPARE(TS::signedWord(after, 516), 4);
    QCOMPARE(TS::signedWord(after, 520), -7);
    for (int i = 0; i < count; ++i)
        QCOMPARE(TS::signedWord(after, 524 + 4 * i), i % 5);
    QCOMPARE(after.mid(524 + 4 * count, 4 * (100 - count)), before.mid(524 + 4 * count, 4 * (100 - count)));
    QCOMPARE(TS::signedWord(after, 924), count);
    QCOMPARE(TS::signedWord(after, 928), 11);
    QCOMPARE(TS::signedWord(after, 932), 0);
    QCOMPARE(after.mid(936), before.mid(936)); // words 234 to 255
}

void TestCardRecords::songRoundTrip()
{
    SongInfo info;
    info.name = repeated(kEuro, 42) + QStringLiteral("ab"); // exactly 128 bytes
    info.description = repeated(QStringLiteral("z"), 384);
    info.firstValue = 1;
    info.secondValue = INT32_MIN;
    info.sequence = {4, 3, 2, 1, 0};
    info.thirdValue = -1;
    info.fourthValue = 2;

    SongRecord record;
    record.fill(0xEE);
    songInfoToRecord(info, record);
    QCOMPARE(songInfoFromRecord(record), info);
}

void TestCardRecords::partFromRecord_data()
{
    QTest::addColumn<int>("inUse");
    QTest::addColumn<int>("bassRaw");
    QTest::addColumn<int>("genre");
    QTest::addColumn<int>("timeSlot");
    QTest::addColumn<int>("altTime");
    QTest::addColumn<int>("bankSwap"); // for the part's time slot
    QTest::addColumn<float>("duration");
    QTest::addColumn<int>("bassMode");
    QTest::addColumn<int>("style"); // expected; the table holds 100 + index
    QTest::addColumn<int>("bars");
    QTest::addColumn<float>("tempo");

    // clang-format off
    QTest::newRow("4 bars of 4 in 8 s")   << 1 << 0  << 0               << 0          << 0 << 0 << 8.0f << 0 << 100 << 4 << 120.0f;
    QTest::newRow("bass raw 1 -> 2")      << 1 << 1  << 3               << 0          << 0 << 0 << 8.0f << 2 << 106 << 4 << 120.0f;
    QTest::newRow("bass raw 2 -> 0")      << 1 << 2  << 3               << 1          << 0 << 0 << 8.0f << 0 << 107 << 5 << 112.5f;
    QTest::newRow("bass raw 3 -> 1")      << 1 << 3  << 11              << 1          << 0 << 0 << 8.0f << 1 << 123 << 5 << 112.5f;
    QTest::newRow("bass raw -1 -> 0")     << 1 << -1 << 0               << 0          << 0 << 0 << 8.0f << 0 << 100 << 4 << 120.0f;
    QTest::newRow("alt time: bank 1")     << 1 << 0  << 0               << 0          << 1 << 0 << 8.0f << 0 << 100 << 6 << 180.0f;
    QTest::newRow("swap: bank 1")         << 1 << 0  << 0               << 0          << 0 << 1 << 8.0f << 0 << 100 << 6 << 180.0f;
    QTest::newRow("alt and swap: bank 0") << 1 << 0  << 0               << 0          << 1 << 1 << 8.0f << 0 << 100 << 4 << 120.0f;
    QTest::newRow("duration 0")           << 1 << 0  << 0               << 0          << 0 << 0 << 0.0f << 0 << 100 << 4 << 0.0f;
    QTest::newRow("not in use")           << 0 << 0  << 2               << 1          << 0 << 0 << 8.0f << 0 << 105 << 0 << 0.0f;
    QTest::newRow("time slot 2")          << 1 << 0  << 0               << 2          << 0 << 0 << 8.0f << 0 << 102 << 0 << 0.0f;
    QTest::newRow("genre 12: style 0")    << 1 << 0  << 12              << 0          << 0 << 0 << 8.0f << 0 << 0   << 4 << 120.0f;
    QTest::newRow("genre -1: style 0")    << 1 << 0  << -1              << 0          << 0 << 0 << 8.0f << 0 << 0   << 4 << 120.0f;
    QTest::newRow("slot -1, genre 1")     << 1 << 0  << 1               << -1         << 0 << 0 << 8.0f << 0 << 101 << 0 << 0.0f;
    // 2 x genre wraps to 2 in 32-bit arithmetic, which would look like a valid index.
    QTest::newRow("wrapping genre")       << 1 << 0  << (INT32_MIN + 1) << 0          << 0 << 0 << 8.0f << 0 << 0   << 4 << 120.0f;
    QTest::newRow("huge slot")            << 1 << 0  << 0               << 0x7fffffff << 0 << 0 << 8.0f << 0 << 0   << 0 << 0.0f;
    // clang-format on
}

void TestCardRecords::partFromRecord()
{
    QFETCH(int, inUse);
    QFETCH(int, bassRaw);
    QFETCH(int, genre);
    QFETCH(int, timeSlot);
    QFETCH(int, altTime);
    QFETCH(int, bankSwap);
    QFETCH(float, duration);
    QFETCH(int, bassMode);
    QFETCH(int, style);
    QFETCH(int, bars);
    QFETCH(float, tempo);

    TS::PartFields fields;
    fields.inUse = inUse;
    fields.bassMode = bassRaw;
    fields.genre = genre;
    fields.timeSlot = timeSlot;
    fields.altTime = altTime;
    fields.bankSwap = {bankSwap, bankSwap};
    fields.duration = duration;
    // (bank, slot): (0,0) 4 bars of 4, (0,1) 5 bars of 3, (1,0) 6 bars of 4, (1,1) 7 bars of 3.
    fields.loops[0] = {4, 4, 1};
    fields.loops[1] = {5, 3, 1};
    fields.loops[2] = {6, 4, 1};
    fields.loops[3] = {7, 3, 1};
    for (int i = 0; i < 24; ++i)
        fields.style[size_t(i)] = 100 + i;
    fields.count = 9;
    fields.intense = 0;
    const PartInfo part = partInfoFromRecord(toPartRecord(TS::partData(fields)));

    QCOMPARE(part.hasData, inUse != 0);
    QCOMPARE(part.bassMode, bassMode);
    QCOMPARE(part.genre, genre);
    QCOMPARE(part.timeSignature, timeSlot);
    QCOMPARE(part.altTime, altTime != 0);
    QCOMPARE(part.style, style);
    QCOMPARE(part.bars, bars);
    QCOMPARE(part.tempo, tempo);
    QCOMPARE(part.duration, duration);
    QCOMPARE(part.count, 9);
}

void TestCardRecords::partState_data()
{
    QTest::addColumn<int>("inUse");
    QTest::addColumn<int>("looperFlag");
    QTest::addColumn<int>("intense");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("active");

    // clang-format off
    QTest::newRow("empty")               << 0 << 0 << 0  << 0  << 0 << false;
    QTest::newRow("empty, counted")      << 0 << 0 << 0  << 2  << 0 << true;
    QTest::newRow("empty looper")        << 0 << 1 << 1  << 0  << 0 << false;
    QTest::newRow("normal")              << 1 << 0 << 0  << 0  << 1 << true;
    QTest::newRow("intense")             << 1 << 0 << 1  << 0  << 2 << true;
    QTest::newRow("negative intense")    << 1 << 0 << -5 << 0  << 1 << true;
    QTest::newRow("looper over intense") << 1 << 7 << 1  << 0  << 3 << true;
    QTest::newRow("in use 2 counts")     << 2 << 0 << 0  << -1 << 1 << true;
    // clang-format on
}

void TestCardRecords::partState()
{
    QFETCH(int, inUse);
    QFETCH(int, looperFlag);
    QFETCH(int, intense);
    QFETCH(int, count);
    QFETCH(int, state);
    QFETCH(bool, active);

    TS::PartFields fields;
    fields.inUse = inUse;
    fields.looperFlag = looperFlag;
    fields.intense = intense;
    fields.count = count;
    const PartInfo part = partInfoFromRecord(toPartRecord(TS::partData(fields)));
    QCOMPARE(part.isLooper, looperFlag != 0);
    QCOMPARE(part.isIntense, intense > 0);
    QCOMPARE(ZovaZode::partState(part), state);
    QCOMPARE(part.isActive(), active);
}

QTEST_GUILESS_MAIN(TestCardRecords)
#include "tst_cardrecords.moc"
