// The card file layout and the memory manager: the memory map and where every record lies, text
// fields, the validity rules of every record, the current loop record, and the
// looper record's checksum and acceptance as loading, taking and saving apply them.
#include "handles.h"
#include "support/cardimage.h"
#include "support/filesnapshot.h"

#include <QTemporaryDir>
#include <QtTest>

#include <climits>

using namespace ZovaZode::TestSupport;

namespace {

const uint8_t *bytes(const QByteArray &record)
{
    return reinterpret_cast<const uint8_t *>(record.constData());
}

// The record with "offset=value ..." applied, each value a 32-bit word at a byte offset.
QByteArray with(QByteArray record, const QString &changes)
{
    for (const QString &change : changes.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        putWord(record, change.section('=', 0, 0).toInt(), quint32(change.section('=', 1).toLongLong()));
    return record;
}

} // namespace

class TestLayout : public QObject
{
    Q_OBJECT

private slots:
    void positions_data();
    void positions();
    void text_data();
    void text();
    void validity_data();
    void validity();
    void currentLoopRecord_data();
    void currentLoopRecord();
    void looperRecords_data();
    void looperRecords();

private:
    QTemporaryDir m_dir{scratchFolderTemplate()};
};

void TestLayout::positions_data()
{
    QTest::addColumn<int>("song");
    QTest::addColumn<int>("part");
    QTest::addColumn<QVector<qint64>>("sectors"); // song data, part data, looper record, audio

    // clang-format off
    QTest::newRow("song 0 part 0")  << 0  << 0 << QVector<qint64>{41260, 42472, 52312, 62216};
    QTest::newRow("song 1 part 0")  << 1  << 0 << QVector<qint64>{41361, 43292, 53132, 579016};
    QTest::newRow("song 11 part 4") << 11 << 4 << QVector<qint64>{42371, 52148, 61988, 6160456};
    // clang-format on
}

// The memory map and the memory manager each place the records; both must agree with the layout.
void TestLayout::positions()
{
    QFETCH(int, song);
    QFETCH(int, part);
    QFETCH(QVector<qint64>, sectors);

    CardMemoryMap map{};
    QCOMPARE(localGetMemoryMap(0, &map), 0);
    const QVector<int> words(map.words, map.words + 18);
    QCOMPARE(words, (QVector<int>{0, 0, 100, 100, 100, 41260, 101, 1212, 42472, 164, 9840, 52312, 164, 9840,
                                  62152, 51680, 6201600, 6263752}));
    QVERIFY(localGetMemoryMap(1, &map) != 0 && localGetMemoryMap(-1, &map) != 0);
    QCOMPARE(QVector<int>(map.words, map.words + 18), words);

    const QVector<qint64> positions{mlsdSongDataPosition(&map, song), mlsdPartDataPosition(&map, song, part),
                                    mlsdLooperDataPosition(&map, song, part),
                                    mlsdAudioPosition(&map, song, part)};
    QCOMPARE(positions,
             (QVector<qint64>{sectors[0] * 512, sectors[1] * 512, sectors[2] * 512, sectors[3] * 512}));

    CardImage card(m_dir.path());
    card.create();
    const CardPtr handle = openCard(card.path(), 0);
    QVERIFY(handle);
    const PartSlot &slot = handle->memoryManager->partTable[size_t(song)][size_t(part)];
    QCOMPARE(qint64(slot.looperSector), sectors[2]);
    QCOMPARE(qint64(slot.firstAudioSector), sectors[3]);
    // A payload is made only when first asked for, and is the part's own.
    QVERIFY(!slot.payload);
    uint32_t *payload = lmmPartPayload(handle->memoryManager, song, part);
    QVERIFY(payload && payload == slot.payload && payload != lmmPartPayload(handle->memoryManager, 11 - song, part));
}

void TestLayout::text_data()
{
    QTest::addColumn<int>("fieldSize");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("stored"); // the field's first bytes afterwards
    QTest::addColumn<QByteArray>("read");   // the text unpacked again

    const QByteArray n128(128, 'n'), d384(384, 'd');
    // clang-format off
    //                                    fieldSize text                  stored                           read
    QTest::newRow("empty")             << 128 << QByteArray()         << QByteArray(4, '\0')            << QByteArray();
    QTest::newRow("description 400")   << 384 << d384 + "overflow"    << d384                           << d384;
    QTest::newRow("129 cut to 128")    << 128 << n128 + 'x'           << n128                           << n128;
    QTest::newRow("utf-8")             << 128 << QByteArray("\xc3\xa9t\xc3\xa9") << QByteArray("\xc3\xa9t\xc3\xa9\0\0\0", 8) << QByteArray("\xc3\xa9t\xc3\xa9");
    // clang-format on
}

void TestLayout::text()
{
    QFETCH(int, fieldSize);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, stored);
    QFETCH(QByteArray, read);

    // The field lies between guard bytes and holds old bytes; the text is cut, not terminated.
    QByteArray field(16 + fieldSize + 16, '\xEE');
    const QByteArray source = text + '\0';
    localPackString(reinterpret_cast<uint8_t *>(field.data()) + 16, source.constData(), size_t(fieldSize));
    QCOMPARE(field.mid(16, stored.size()), stored);
    QCOMPARE(field.left(16) + field.mid(16 + stored.size()),
             QByteArray(16 + fieldSize - stored.size() + 16, '\xEE'));
    QByteArray out(fieldSize + 2, 'G');
    out[fieldSize] = '\0';
    localUnpackString(out.data(), bytes(field) + 16, size_t(fieldSize));
    QCOMPARE(QByteArray(out.constData()), read);
    QCOMPARE(out.at(fieldSize + 1), 'G');
}

void TestLayout::validity_data()
{
    QTest::addColumn<QString>("record"); // prefs, song or part, as built below
    QTest::addColumn<QString>("changes");
    QTest::addColumn<bool>("valid");

    // clang-format off
    //                                                  record    changes (byte offset=word)           valid
    QTest::newRow("prefs as built")                  << "prefs" << ""                                  << true;
    QTest::newRow("prefs highest")                   << "prefs" << "4=2 12=1 16=11"                    << true;
    QTest::newRow("prefs word 1 is 3")               << "prefs" << "4=3"                               << false;
    QTest::newRow("prefs word 3 is 2")               << "prefs" << "12=2"                              << false;
    QTest::newRow("prefs word 4 is 12")              << "prefs" << "16=12"                             << false;
    QTest::newRow("song as built")                   << "song"  << ""                                  << true;
    QTest::newRow("song count 99, 5 beyond")         << "song"  << "924=99"                            << true;
    QTest::newRow("song count 100")                  << "song"  << "924=100 920=4"                     << false;
    QTest::newRow("song count -1")                   << "song"  << "924=-1"                            << false;
    QTest::newRow("song entry 5 within count")       << "song"  << "532=5"                             << false;
    QTest::newRow("song entry -1")                   << "song"  << "524=-1"                            << false;
    QTest::newRow("song first 4")                    << "song"  << "516=4"                             << true;
    QTest::newRow("song first 5")                    << "song"  << "516=5"                             << false;
    QTest::newRow("song third -1")                   << "song"  << "928=-1"                            << true;
    QTest::newRow("song third -2")                   << "song"  << "928=-2"                            << false;
    QTest::newRow("song third 12")                   << "song"  << "928=12"                            << false;
    QTest::newRow("song fourth 3")                   << "song"  << "932=3"                             << false;
    QTest::newRow("song word 0, second any")         << "song"  << "0=-559038737 520=-2147483648"      << true;
    QTest::newRow("part as built")                   << "part"  << ""                                  << true;
    QTest::newRow("part unused, loops zero")         << "part"  << "516=0 520=0 524=0 8780=0"          << true;
    QTest::newRow("part in use 2")                   << "part"  << "516=2"                             << false;
    QTest::newRow("part genre 11")                   << "part"  << "15564=11"                          << true;
    QTest::newRow("part genre 12")                   << "part"  << "15564=12"                          << false;
    QTest::newRow("part unused, genre 12")           << "part"  << "516=0 15564=12"                    << false;
    QTest::newRow("part bars 0")                     << "part"  << "520=0"                             << false;
    QTest::newRow("part bars 96 (1,1)")              << "part"  << "11728=96"                          << true;
    QTest::newRow("part bars 97 (1,1)")              << "part"  << "11728=97"                          << false;
    QTest::newRow("part bars 0, 97 of a looper")     << "part"  << "16264=1 520=0 11728=97"            << true;
    QTest::newRow("part beats 0 (0,1)")              << "part"  << "4260=0"                            << false;
    QTest::newRow("part beats 9")                    << "part"  << "4260=9"                            << false;
    QTest::newRow("part beats 0 of a looper")        << "part"  << "16264=1 4260=0"                    << false;
    QTest::newRow("part word 197 is 0 (1,0)")        << "part"  << "8780=0"                            << false;
    QTest::newRow("part word 197 is 257")            << "part"  << "8780=257"                          << false;
    QTest::newRow("part word 197 0 of a looper")     << "part"  << "16264=1 8780=0"                    << false;
    QTest::newRow("part bank swap 2")                << "part"  << "15544=2"                           << false;
    QTest::newRow("part bank swap (3/4) -1")         << "part"  << "15548=-1"                          << false;
    QTest::newRow("part unused, bank swap 2")        << "part"  << "516=0 15544=2"                     << true;
    QTest::newRow("part style 12")                   << "part"  << "16144=12"                          << false;
    QTest::newRow("part last style -1")              << "part"  << "16236=-1"                          << false;
    QTest::newRow("part style 12 of a looper")       << "part"  << "16264=-3 16144=12"                 << true;
    QTest::newRow("part time slot 2")                << "part"  << "16240=2"                           << false;
    QTest::newRow("part alternate time 2")           << "part"  << "16244=2"                           << false;
    QTest::newRow("part flag 2")                     << "part"  << "16248=2"                           << false;
    QTest::newRow("part words only carried")         << "part"  << "15552=-77 15556=9 15560=-5 16252=-1" << true;
    // clang-format on
}

void TestLayout::validity()
{
    QFETCH(QString, record);
    QFETCH(QString, changes);
    QFETCH(bool, valid);

    // A song whose sequence slots all hold 4 but the last, 5, which a count of 5 leaves unread.
    SongFields song;
    song.sequence = QVector<qint32>(100, 4);
    song.sequence[99] = 5;
    song.count = 5;
    PartFields part;
    part.style.fill(11);
    if (record == QLatin1String("prefs"))
        QCOMPARE(localUserPrefsValid(bytes(with(userPrefs(), changes))), valid);
    else if (record == QLatin1String("song"))
        QCOMPARE(localUISongDataValid(bytes(with(songData(song), changes))), valid);
    else
        QCOMPARE(localUIPartDataValid(bytes(with(partData(part), changes))), valid);
}

void TestLayout::currentLoopRecord_data()
{
    QTest::addColumn<QString>("changes"); // to a part in use, slot 0, no alternate time or swap
    QTest::addColumn<long>("offset");

    // clang-format off
    QTest::newRow("bank 0 slot 0")             << ""                       << 520L;
    QTest::newRow("not in use")                << "516=0"                  << -1L;
    QTest::newRow("bank 0 slot 1")             << "16240=1"                << 4256L;
    QTest::newRow("alternate: bank 1 slot 0")  << "16244=1"                << 7992L;
    QTest::newRow("swap: bank 1 slot 0")       << "15544=1"                << 7992L;
    QTest::newRow("swap: bank 1 slot 1")       << "16240=1 15548=1"        << 11728L;
    QTest::newRow("other slot's swap ignored") << "16240=1 15544=1"        << 4256L;
    QTest::newRow("alternate 5: bank 1 slot 1") << "16240=1 16244=5"       << 11728L;
    QTest::newRow("time slot 2")               << "16240=2"                << -1L;
    // clang-format on
}

void TestLayout::currentLoopRecord()
{
    QFETCH(QString, changes);
    QFETCH(long, offset);
    QCOMPARE(localCurrentLoopRecord(bytes(with(partData(PartFields()), changes))), offset);
}

void TestLayout::looperRecords_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("checksum"); // right, zero, word0 (payload word 0) or flipped
    QTest::addColumn<bool>("accepted");

    // clang-format off
    //                                              state length     checksum   accepted
    QTest::newRow("length 31, checksum 0")       << 0 << 31       << "zero"    << true;
    QTest::newRow("length 31, checksum word 0")  << 0 << 31       << "word0"   << false;
    QTest::newRow("length 32, checksum word 0")  << 0 << 32       << "word0"   << true;
    QTest::newRow("length 32, checksum 0")       << 0 << 32       << "zero"    << false;
    QTest::newRow("length 100, right")           << 0 << 100      << "right"   << true;
    QTest::newRow("length 100, a bit off")       << 0 << 100      << "flipped" << false;
    QTest::newRow("length 0, checksum 0")        << 0 << 0        << "zero"    << false;
    QTest::newRow("length 41328, right")         << 0 << 41328    << "right"   << true;
    QTest::newRow("length 41329, right")         << 0 << 41329    << "right"   << false;
    QTest::newRow("length INT_MIN, checksum 0")  << 0 << INT_MIN  << "zero"    << false;
    QTest::newRow("length INT_MAX, right")       << 0 << INT_MAX  << "right"   << false;
    QTest::newRow("state 1, length 32, right")   << 1 << 32       << "right"   << true;
    QTest::newRow("state 7, length 32, flipped") << 7 << 32       << "flipped" << false;
    // clang-format on
}

// A record is trusted when loaded from the card or taken from an archive only when it is
// accepted; anything else is an empty part. Saving writes the slot back where it belongs, with a
// checksum made for a recording and the stored checksum word kept for any other state.
void TestLayout::looperRecords()
{
    QFETCH(int, state);
    QFETCH(int, length);
    QFETCH(QString, checksum);
    QFETCH(bool, accepted);

    LooperFields fields = recording(length, 555);
    fields.state = state;
    QByteArray record = looperRecord(fields);
    if (checksum != QLatin1String("right"))
        putWord(record, 12,
                checksum == QLatin1String("zero")    ? 0
                : checksum == QLatin1String("word0") ? word(record, 16)
                                                     : word(record, 12) ^ 0x80000000u);
    QCOMPARE(localLooperRecordAccepted(bytes(record)), accepted);
    // The checksum never reads past the payload, whatever the length says.
    QCOMPARE(localLooperChecksum(bytes(record)), looperChecksum(record, length));

    CardImage card(m_dir.path());
    card.create();
    card.writeLooper(3, 2, record);
    const CardPtr handle = openCard(card.path(), 1);
    QVERIFY(handle);
    MemoryManager *manager = handle->memoryManager;
    QCOMPARE(lmmLoadLooperPartData(manager, 3, 2), 0);
    lmmTakeLooperRecord(manager, 7, 4, bytes(record));
    const QByteArray payload = record.mid(16, 4 * kLooperPayloadWords);
    for (const PartSlot *slot : {&manager->partTable[3][2], &manager->partTable[7][4]}) {
        QCOMPARE(QVector<int>({slot->state, slot->length, slot->auxiliary}),
                 accepted ? QVector<int>({state, length, fields.auxiliary}) : QVector<int>({1, 0, -1}));
        if (accepted)
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(slot->payload), payload.size()), payload);
    }
    QCOMPARE(manager->partTable[3][3].length, 0);

    const FileSnapshot before(card.path());
    QCOMPARE(lmmSaveLooperPartData(manager, 7, 4), 0);
    QCOMPARE(mlsdCommitSDCard(handle.get()), 0);
    // An empty part's payload is not used, so only its first words are pinned.
    const int pinned = accepted ? kLooperRecordSize : 16;
    QCOMPARE(card.read(CardImage::looperRange(7, 4)).left(pinned),
             with(record, accepted ? "" : "0=1 4=0 8=-1").left(pinned));
    QVERIFY(before.changesOutside({CardImage::looperRange(7, 4)}).isEmpty());
}

MORV_TEST_MAIN(TestLayout)
#include "tst_layout.moc"
