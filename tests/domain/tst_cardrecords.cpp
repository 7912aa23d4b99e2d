// The text rules and the conversions between the card's records and SongInfo/PartInfo, as exact
// results; the rules' invariants over hostile input are the text-rules fuzz target's. Records are
// built byte by byte with the test-support builders, never with the code under test.
#include "domain/cardrecords.h"
#include "domain/libraryfilenames.h"
#include "domain/song.h"
#include "support/records.h"

#include <QtTest>

#include <cstring>

using namespace ZovaZode;
namespace TS = ZovaZode::TestSupport;

namespace {

template<typename Record> Record recordOf(const QByteArray &bytes)
{
    Record record{};
    std::memcpy(record.data(), bytes.constData(), record.size());
    return record;
}

const QString kEuro = QStringLiteral("\u20ac"); // three UTF-8 bytes

} // namespace

class TestCardRecords : public QObject
{
    Q_OBJECT

private slots:
    void textRules_data();
    void textRules();
    void songRecordKeepsUnknownBytes_data();
    void songRecordKeepsUnknownBytes();
    void partFromRecord_data();
    void partFromRecord();
};

void TestCardRecords::textRules_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("name");        // fits the 128-byte name field
    QTest::addColumn<bool>("description"); // fits the 384-byte description field
    QTest::addColumn<QString>("cleaned");  // what removing the forbidden characters leaves
    QTest::addColumn<QString>("file");     // the song or archive file name, without ".mlsd" or ".mlad"

    const QString accent = QStringLiteral("e\u0301"); // e and a combining accent: one character
    // clang-format off
    const QString cut = QString(232, 'a'), invisible = QStringLiteral("\u202e.a\u202ab\u202dc\u2066d\u2069e\u200ef\u200fg\u061ch\u200bi\ufeffj\u2028k");
    //                                  text                                       name    description cleaned                         file
    QTest::newRow("128 ascii")       << QString(128, 'a')                          << true  << true  << QString(128, 'a')              << QString(128, 'a');
    QTest::newRow("43 euro = 129")   << kEuro.repeated(43)                         << false << true  << kEuro.repeated(43)             << kEuro.repeated(43);
    QTest::newRow("32 emoji = 128")  << QStringLiteral("\U0001F3B8").repeated(32)  << true  << true  << QStringLiteral("\U0001F3B8").repeated(32) << QStringLiteral("\U0001F3B8").repeated(32);
    QTest::newRow("384 ascii")       << QString(384, 'd')                          << false << true  << QString(384, 'd')              << QString(238 - 5, 'd');
    QTest::newRow("128 euro + 1")    << QString(kEuro.repeated(128) + 'x')         << false << false << QString(kEuro.repeated(128) + 'x') << kEuro.repeated(77);
    QTest::newRow("every forbidden") << QStringLiteral("a<>:;\"'/\\|?*!^[]{}()b")  << true  << true  << "ab"                           << "ab";
    QTest::newRow("controls")        << QStringLiteral("a\tb\nc\x01\u0085") + QChar(0) << true << true << QStringLiteral("abc\u0085")  << "abc";
    QTest::newRow("allowed marks")   << QStringLiteral("#1 $5 a-b.c,d&e_f\x7f")    << true  << true  << QStringLiteral("#1 $5 a-b.c,d&e_f\x7f") << "#1 $5 a-b.c,d&e_f";
    QTest::newRow("non-ascii kept")  << QStringLiteral("Caf\u00e9? \u20ac")        << true  << true  << QStringLiteral("Caf\u00e9 \u20ac") << QStringLiteral("Caf\u00e9 \u20ac");
    QTest::newRow("spaces, dots")    << QStringLiteral("\u00a0\u3000..x")          << true  << true  << QStringLiteral("\u00a0\u3000..x") << "x";
    QTest::newRow("invisible")       << invisible                                  << true  << true  << invisible                      << "abcdefghijk";
    QTest::newRow("accent not split")<< QString(cut + accent)                      << false << true  << QString(cut + accent)          << cut;
    QTest::newRow("233 bytes kept")  << QString(cut.mid(1) + accent.left(1) + "b") << false << true  << QString(cut.mid(1) + "eb")     << QString(cut.mid(1) + "eb");
    // clang-format on
}

// The rules for names and descriptions, and the file names made of names: the forbidden and
// invisible characters removed, no leading dots or spaces, cut at a character to 238 bytes.
void TestCardRecords::textRules()
{
    QFETCH(QString, text);
    QFETCH(bool, name);
    QFETCH(bool, description);
    QFETCH(QString, cleaned);
    QFETCH(QString, file);

    QCOMPARE(isValidCardName(text), name);
    QCOMPARE(isValidCardDescription(text), description);
    QCOMPARE(removeForbiddenCharacters(text), cleaned);
    QCOMPARE(hasNoForbiddenCharacters(text), text == cleaned);
    QCOMPARE(songFileName(text), QString(file + ".mlsd"));
    QCOMPARE(archiveFileName(text), QString(file + ".mlad"));
    QCOMPARE(songFileName(QStringLiteral(".")), QStringLiteral("Untitled Song.mlsd"));
    QCOMPARE(archiveFileName(QStringLiteral(".")), QStringLiteral("Morv+ Card.mlad"));
}

void TestCardRecords::songRecordKeepsUnknownBytes_data()
{
    QTest::addColumn<qint32>("count"); // the stored sequence count
    QTest::addColumn<int>("read");     // entries read from it
    QTest::addColumn<int>("entries");  // entries written back
    QTest::addColumn<int>("countWritten");

    // clang-format off
    //                               count               read   entries countWritten
    QTest::newRow("101 -> 100")   << qint32(101)        << 100 << 120 << 100;
    QTest::newRow("negative")     << qint32(INT32_MIN)  << 0   << 5   << 5;
    // clang-format on
}

// Reading takes every field from its word; writing changes the understood fields only (texts as
// UTF-8, packed as the card library packs them): the rest of an old longer name, unused
// sequence slots and words 234 to 255 are kept byte for byte.
void TestCardRecords::songRecordKeepsUnknownBytes()
{
    QFETCH(qint32, count);
    QFETCH(int, read);
    QFETCH(int, entries);
    QFETCH(int, countWritten);

    TS::SongFields stored{QByteArray(40, 'o'), QByteArray(200, 'p'), 3, -123456, {}, count, -1, 2, 99};
    for (int i = 0; i < 100; ++i)
        stored.sequence << (i * 7) % 5;
    QByteArray before = TS::songData(stored);
    TS::putWord(before, 924, quint32(count));
    SongRecord record = recordOf<SongRecord>(before);
    SongInfo info = songInfoFromRecord(record);
    QCOMPARE(info, (SongInfo{QString(40, 'o'), QString(200, 'p'), 3, -123456, stored.sequence.mid(0, read), -1, 2}));

    info = {QStringLiteral("Caf\u00e9"), QStringLiteral("Desc."), 4, -7, {}, 11, 0};
    for (int i = 0; i < entries; ++i)
        info.sequence << (i % 5);
    songInfoToRecord(info, record);
    QByteArray expected = before;
    TS::putText(expected, 4, 128, "Caf\xc3\xa9");
    TS::putText(expected, 132, 384, "Desc.");
    TS::putWord(expected, 516, 4);
    TS::putWord(expected, 520, quint32(-7));
    for (int i = 0; i < countWritten; ++i)
        TS::putWord(expected, 524 + 4 * i, quint32(i % 5));
    TS::putWord(expected, 924, quint32(countWritten));
    TS::putWord(expected, 928, 11);
    TS::putWord(expected, 932, 0);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(record.data()), int(record.size())), expected);
    info.sequence = info.sequence.mid(0, countWritten);
    QCOMPARE(songInfoFromRecord(record), info);
}

void TestCardRecords::partFromRecord_data()
{
    QTest::addColumn<QVector<int>>("in");  // in use, looper, intense, bass mode, genre, time slot,
                                           // alternative time (1) and bank swap (2)
    QTest::addColumn<QVector<int>>("out"); // state, bass mode, style (the table holds 100 + index), bars
    QTest::addColumn<float>("tempo");      // of 8 s

    // clang-format off
    //                                   in                                    out                     tempo
    QTest::newRow("4 bars of 4")      << QVector<int>{1, 0, 0,  0,  0,  0, 0} << QVector<int>{1, 0, 100, 4} << 120.0f;
    QTest::newRow("bass 1 -> 2")      << QVector<int>{1, 0, 1,  1,  3,  0, 0} << QVector<int>{2, 2, 106, 4} << 120.0f;
    QTest::newRow("bass 2 -> 0")      << QVector<int>{1, 0, -5, 2,  3,  1, 0} << QVector<int>{1, 0, 107, 5} << 112.5f;
    QTest::newRow("bass 3 -> 1")      << QVector<int>{1, 7, 1,  3,  11, 1, 0} << QVector<int>{3, 1, 123, 5} << 112.5f;
    QTest::newRow("bass -1 -> 0")     << QVector<int>{2, 0, 0,  -1, 0,  0, 0} << QVector<int>{1, 0, 100, 4} << 120.0f;
    QTest::newRow("alt: bank 1")      << QVector<int>{1, 0, 0,  0,  0,  0, 1} << QVector<int>{1, 0, 100, 6} << 180.0f;
    QTest::newRow("not in use")       << QVector<int>{0, 1, 1,  0,  2,  1, 0} << QVector<int>{0, 0, 105, 0} << 0.0f;
    QTest::newRow("genre 12")         << QVector<int>{1, 0, 0,  0,  12, 0, 0} << QVector<int>{1, 0, 0,   4} << 120.0f;
    // 2 x genre wraps to 2 in 32-bit arithmetic, which would look like a valid index.
    QTest::newRow("wrapping genre")   << QVector<int>{1, 0, 0,  0,  INT32_MIN + 1, 0, 0} << QVector<int>{1, 0, 0, 4} << 120.0f;
    QTest::newRow("huge slot")        << QVector<int>{1, 0, 0,  0,  0,  0x7fffffff, 0} << QVector<int>{1, 0, 0, 0} << 0.0f;
    // clang-format on
}

void TestCardRecords::partFromRecord()
{
    QFETCH(QVector<int>, in);
    QFETCH(QVector<int>, out);
    QFETCH(float, tempo);

    TS::PartFields fields;
    fields.inUse = in[0];
    fields.looperFlag = in[1];
    fields.intense = in[2];
    fields.bassMode = in[3];
    fields.genre = in[4];
    fields.timeSlot = in[5];
    fields.altTime = in[6] & 1;
    fields.bankSwap = {in[6] >> 1, in[6] >> 1};
    fields.duration = 8.0f;
    // (bank, slot): (0,0) 4 bars of 4, (0,1) 5 bars of 3, (1,0) 6 bars of 4, (1,1) 7 bars of 3.
    fields.loops = {TS::LoopRecordFields{4, 4, 1}, {5, 3, 1}, {6, 4, 1}, {7, 3, 1}};
    for (int i = 0; i < 24; ++i)
        fields.style[size_t(i)] = 100 + i;
    fields.count = 9;
    const PartInfo part = partInfoFromRecord(recordOf<PartRecord>(TS::partData(fields)));
    QCOMPARE(QVector<int>({part.hasData, part.isLooper, part.isIntense, part.genre, part.timeSignature, part.altTime,
                           part.count}),
             QVector<int>({in[0] != 0, in[1] != 0, in[2] > 0, in[4], in[5], (in[6] & 1) != 0, 9}));
    QCOMPARE(QVector<int>({ZovaZode::partState(part), part.bassMode, part.style, part.bars}), out);
    QCOMPARE(part.tempo, tempo);
}

MORV_TEST_MAIN(TestCardRecords)
#include "tst_cardrecords.moc"
