// The card memory manager: sizes derived from its parameters, the allotment of looper records
// and audio areas, and loading and saving looper records with their checksum and acceptance.
#include "carddata/carddata.h"
#include "support/cardimage.h"
#include "support/filesnapshot.h"

#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <memory>

using namespace ZovaZode::TestSupport;

namespace {

using ManagerPtr = std::unique_ptr<MemoryManager, MemoryManagerDestroyer>;
using CardPtr = std::unique_ptr<SdCardHandle, SdCardHandleCloser>;

ManagerPtr fixedManager()
{
    return ManagerPtr(lmmCreate(635040000, 12, 5, 1, 256, 2, 1));
}

QByteArray errorText()
{
    return QByteArray(mlsdGetErrorString());
}

// Leaves a known text behind so a test can tell whether an operation reported anything.
void setMarkerError()
{
    ManagerPtr manager = fixedManager();
    lmmOrganizeMemory(manager.get(), 0, 5, 1, 256, 2, 1);
    QCOMPARE(errorText(), QByteArray("lmmOrganizeMemory: Invalid parameter"));
}

QByteArray payloadOf(const PartSlot &slot)
{
    return QByteArray(reinterpret_cast<const char *>(slot.payload), 4 * kLooperPayloadWords);
}

} // namespace

class TestMemoryManager : public QObject
{
    Q_OBJECT

private slots:
    void derivedValues_data();
    void derivedValues();
    void payloadSlices();
    void invalidParameters_data();
    void invalidParameters();
    void allotment_data();
    void allotment();
    void setupReports_data();
    void setupReports();
    void loadAndTake_data();
    void loadAndTake();
    void loadFailsPastEndOfFile();
    void saveRecording();
    void saveEmptyKeepsChecksumWord();

private:
    QTemporaryDir m_dir{scratchFolderTemplate()};
};

void TestMemoryManager::derivedValues_data()
{
    QTest::addColumn<QVector<uint>>(
        "arguments"); // capacity, songs, parts, channels, block, divisor, two areas
    QTest::addColumn<QVector<uint>>(
        "expected"); // words/part, record, bits, capacity, blocks/area, sectors, chunk

    // clang-format off
    QTest::newRow("card parameters")
        << QVector<uint>{635040000, 12, 5, 1, 256, 2, 1}
        << QVector<uint>{2583, 10752, 4959360, 634798080, 41328, 41328, 1024};
    QTest::newRow("one area, divisor 1")
        << QVector<uint>{100000000, 2, 3, 1, 128, 1, 0}
        << QVector<uint>{4069, 16384, 781248, 99999744, 130208, 130208, 512};
    QTest::newRow("two channels, divisor 4")
        << QVector<uint>{200000000, 4, 5, 2, 256, 4, 1}
        << QVector<uint>{4882, 19968, 3124480, 199966720, 39056, 39056, 1024};
    // clang-format on
}

void TestMemoryManager::derivedValues()
{
    QFETCH(QVector<uint>, arguments);
    QFETCH(QVector<uint>, expected);

    ManagerPtr manager(lmmCreate(arguments[0], arguments[1], arguments[2], arguments[3], arguments[4],
                                 arguments[5], arguments[6]));
    QVERIFY(manager);
    QCOMPARE(manager->payloadWordsPerPart, expected[0]);
    QCOMPARE(manager->looperRecordSize, expected[1]);
    QCOMPARE(manager->totalPayloadBits, expected[2]);
    QCOMPARE(manager->capacity, expected[3]);
    QCOMPARE(manager->blocksPerArea, expected[4]);
    QCOMPARE(manager->sectorsPerAreaInUse, expected[5]);
    QCOMPARE(manager->audioChunkSize, expected[6]);
    QCOMPARE(manager->areasPerPart, arguments[6] + 1);
    QCOMPARE(manager->recordBuffer.size(), size_t(expected[1]));
    QCOMPARE(manager->payloadStore.size(), size_t(expected[2] / 32));
    QCOMPARE(manager->partTable.size(), size_t(arguments[1]));
    QCOMPARE(manager->partTable[0].size(), size_t(arguments[2]));
}

void TestMemoryManager::payloadSlices()
{
    ManagerPtr manager = fixedManager();
    for (int s = 0; s < 12; ++s) {
        for (int p = 0; p < 5; ++p) {
            const PartSlot &slot = manager->partTable[s][p];
            QCOMPARE(slot.payload, manager->payloadStore.data() + 2583 * (5 * s + p));
            QCOMPARE(slot.state, 1);
        }
    }
}

void TestMemoryManager::invalidParameters_data()
{
    QTest::addColumn<QVector<uint>>("arguments"); // songs, parts, channels, block, divisor, two areas
    QTest::addColumn<int>("result");

    // clang-format off
    QTest::newRow("valid")            << QVector<uint>{12, 5, 1, 256, 2, 1} << 0;
    QTest::newRow("no songs")         << QVector<uint>{0,  5, 1, 256, 2, 1} << 1;
    QTest::newRow("no parts")         << QVector<uint>{12, 0, 1, 256, 2, 1} << 1;
    QTest::newRow("no channels")      << QVector<uint>{12, 5, 0, 256, 2, 1} << 1;
    QTest::newRow("no block size")    << QVector<uint>{12, 5, 1, 0,   2, 1} << 1;
    QTest::newRow("no divisor")       << QVector<uint>{12, 5, 1, 256, 0, 1} << 1;
    QTest::newRow("one area is fine") << QVector<uint>{12, 5, 1, 256, 2, 0} << 0;
    // clang-format on
}

void TestMemoryManager::invalidParameters()
{
    QFETCH(QVector<uint>, arguments);
    QFETCH(int, result);

    ManagerPtr manager = fixedManager();
    mlsdOpenSDCard("/nonexistent/ZOVAZODE.DAT", 0); // some other text to start from
    const QByteArray before = errorText();
    QCOMPARE(lmmOrganizeMemory(manager.get(), arguments[0], arguments[1], arguments[2], arguments[3],
                               arguments[4], arguments[5]),
             result);
    if (result != 0) {
        QCOMPARE(errorText(), QByteArray("lmmOrganizeMemory: Invalid parameter"));
        // A refused organisation keeps the parameters it had.
        QCOMPARE(manager->songs, 12u);
        QCOMPARE(manager->blockSize, 256u);
    } else {
        QCOMPARE(errorText(), before);
        QCOMPARE(manager->areasPerPart, arguments[5] + 1);
    }
}

void TestMemoryManager::allotment_data()
{
    QTest::addColumn<int>("song");
    QTest::addColumn<int>("part");
    QTest::addColumn<int>("audioSector");
    QTest::addColumn<int>("looperSector");

    // clang-format off
    QTest::newRow("song 0 part 0")  << 0  << 0 << 62216   << 52312;
    QTest::newRow("song 0 part 1")  << 0  << 1 << 165576  << 52476;
    QTest::newRow("song 0 part 4")  << 0  << 4 << 475656  << 52968;
    QTest::newRow("song 1 part 0")  << 1  << 0 << 579016  << 53132;
    QTest::newRow("song 11 part 4") << 11 << 4 << 6160456 << 61988;
    // clang-format on
}

void TestMemoryManager::allotment()
{
    QFETCH(int, song);
    QFETCH(int, part);
    QFETCH(int, audioSector);
    QFETCH(int, looperSector);

    CardImage card(m_dir.path());
    card.create();
    auto stream = carddata::openFileStream(card.path().toStdString(), carddata::OpenMode::Read);
    QVERIFY(stream);
    ManagerPtr manager = fixedManager();
    setMarkerError();
    QCOMPARE(lmmSetupSDCard(manager.get(), stream.get(), 62152, 51680, 6201600, 52312, 164, 9840), 0);
    // With the card's parameters no shortage is reported.
    QCOMPARE(errorText(), QByteArray("lmmOrganizeMemory: Invalid parameter"));

    const PartSlot &slot = manager->partTable[song][part];
    QCOMPARE(slot.firstAudioSector, audioSector);
    QCOMPARE(slot.looperSector, looperSector);
    QCOMPARE(slot.state, 1);
    QCOMPARE(slot.length, 0);
    QCOMPARE(payloadOf(slot), QByteArray(4 * kLooperPayloadWords, '\0'));
}

void TestMemoryManager::setupReports_data()
{
    QTest::addColumn<int>("sectorsPerArea");
    QTest::addColumn<int>("audioRegion");
    QTest::addColumn<int>("sectorsPerRecord");
    QTest::addColumn<int>("looperRegion");
    QTest::addColumn<QByteArray>("text");

    // clang-format off
    QTest::newRow("area 41392 is enough")   << 41392 << 6201600 << 164 << 9840 << QByteArray();
    QTest::newRow("area too small")         << 41391 << 6201600 << 164 << 9840
        << QByteArray("lmmSetupSDCard: Not enough Sectors allocated per part for audio data on SD Card");
    QTest::newRow("audio region too small") << 51680 << 6201599 << 164 << 9840
        << QByteArray("lmmSetupSDCard: Not enough Sectors allocated for all parts for audio data on SD Card");
    QTest::newRow("record sectors 21")      << 51680 << 6201600 << 21  << 9840 << QByteArray();
    QTest::newRow("record sectors 20")      << 51680 << 6201600 << 20  << 9840
        << QByteArray("lmmSetPartDataFileHandleSD: Not enough Sectors allocated per part for part data on SD Card");
    QTest::newRow("looper region too small") << 51680 << 6201600 << 164 << 9839
        << QByteArray("lmmSetPartDataFileHandleSD: Not enough Sectors allocated for part data on SD Card");
    // clang-format on
}

void TestMemoryManager::setupReports()
{
    QFETCH(int, sectorsPerArea);
    QFETCH(int, audioRegion);
    QFETCH(int, sectorsPerRecord);
    QFETCH(int, looperRegion);
    QFETCH(QByteArray, text);

    CardImage card(m_dir.path());
    card.create();
    auto stream = carddata::openFileStream(card.path().toStdString(), carddata::OpenMode::Read);
    QVERIFY(stream);
    ManagerPtr manager = fixedManager();
    setMarkerError();
    // The reports do not make the setup fail, and the allotment still follows the arguments.
    QCOMPARE(lmmSetupSDCard(manager.get(), stream.get(), 62152, sectorsPerArea, audioRegion, 52312,
                            sectorsPerRecord, looperRegion),
             0);
    QCOMPARE(errorText(), text.isEmpty() ? QByteArray("lmmOrganizeMemory: Invalid parameter") : text);
    QCOMPARE(manager->partTable[0][1].firstAudioSector, 62216 + 2 * sectorsPerArea);
    QCOMPARE(manager->partTable[0][1].looperSector, 52312 + sectorsPerRecord);
}

void TestMemoryManager::loadAndTake_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("checksum"); // "right", "zero", "word0", "wrong"
    QTest::addColumn<bool>("accepted");

    // clang-format off
    QTest::newRow("length 32, checksum word 0")  << 0 << 32      << "word0" << true;
    QTest::newRow("length 31, checksum 0")       << 0 << 31      << "zero"  << true;
    QTest::newRow("length 31, checksum word 0")  << 0 << 31      << "word0" << false;
    QTest::newRow("length 100, right")           << 0 << 100     << "right" << true;
    QTest::newRow("length 100, wrong")           << 0 << 100     << "wrong" << false;
    QTest::newRow("length 0, checksum 0")        << 0 << 0       << "zero"  << false;
    QTest::newRow("length 41328, right")         << 0 << 41328   << "right" << true;
    QTest::newRow("length 41329, right")         << 0 << 41329   << "right" << false;
    QTest::newRow("length -1, checksum 0")       << 0 << -1      << "zero"  << false;
    QTest::newRow("length INT_MIN, checksum 0")  << 0 << INT_MIN << "zero"  << false;
    QTest::newRow("length INT_MAX, right")       << 0 << INT_MAX << "right" << false;
    QTest::newRow("state 1, length 32, right")   << 1 << 32      << "right" << true;
    QTest::newRow("state 7, length 32, right")   << 7 << 32      << "right" << true;
    // clang-format on
}

void TestMemoryManager::loadAndTake()
{
    QFETCH(int, state);
    QFETCH(int, length);
    QFETCH(QString, checksum);
    QFETCH(bool, accepted);

    LooperFields fields = recording(length, 555);
    fields.state = state;
    fields.auxiliary = 4711;
    QByteArray record = looperRecord(fields);
    if (checksum == QLatin1String("zero"))
        putWord(record, 12, 0);
    else if (checksum == QLatin1String("word0"))
        putWord(record, 12, word(record, 16));
    else if (checksum == QLatin1String("wrong"))
        putWord(record, 12, word(record, 12) ^ 0x80000000u);

    CardImage card(m_dir.path());
    card.create();
    card.writeLooper(3, 2, record);
    CardPtr handle(mlsdOpenSDCard(card.path().toLocal8Bit().constData(), 0));
    QVERIFY2(handle, mlsdGetErrorString());
    MemoryManager *manager = handle->memoryManager;
    QVERIFY(manager);

    QCOMPARE(lmmLoadLooperPartData(manager, 3, 2), 0);
    const PartSlot &loaded = manager->partTable[3][2];
    const QByteArray payload = record.mid(16, 4 * kLooperPayloadWords);
    if (accepted) {
        QCOMPARE(loaded.state, state);
        QCOMPARE(loaded.length, length);
        QCOMPARE(loaded.auxiliary, 4711);
        QCOMPARE(payloadOf(loaded), payload);
    } else {
        QCOMPARE(loaded.state, 1);
        QCOMPARE(loaded.length, 0);
        QCOMPARE(loaded.auxiliary, -1);
    }
    // The neighbouring part's slot is not touched.
    QCOMPARE(manager->partTable[3][3].length, 0);
    QCOMPARE(payloadOf(manager->partTable[3][3]), QByteArray(4 * kLooperPayloadWords, '\0'));

    // Taking the same bytes from an archive applies the same rule.
    lmmTakeLooperRecord(manager, 7, 4, reinterpret_cast<const uint8_t *>(record.constData()));
    const PartSlot &taken = manager->partTable[7][4];
    QCOMPARE(taken.state, loaded.state);
    QCOMPARE(taken.length, loaded.length);
    QCOMPARE(taken.auxiliary, loaded.auxiliary);
    if (accepted)
        QCOMPARE(payloadOf(taken), payload);
}

void TestMemoryManager::loadFailsPastEndOfFile()
{
    // A card cut short before the looper records cannot give a record; the slot keeps its state.
    CardImage card(m_dir.path());
    card.create();
    CardPtr handle(mlsdOpenSDCard(card.path().toLocal8Bit().constData(), 0));
    QVERIFY(handle);
    QVERIFY(QFile::resize(card.path(), CardImage::looperPosition(0, 0) + 100));
    MemoryManager *manager = handle->memoryManager;
    manager->partTable[0][0].state = 0;
    manager->partTable[0][0].length = 5;
    QVERIFY(lmmLoadLooperPartData(manager, 0, 0) != 0);
    QCOMPARE(manager->partTable[0][0].state, 0);
    QCOMPARE(manager->partTable[0][0].length, 5);
}

void TestMemoryManager::saveRecording()
{
    CardImage card(m_dir.path());
    card.create();
    CardPtr handle(mlsdOpenSDCard(card.path().toLocal8Bit().constData(), 1));
    QVERIFY2(handle, mlsdGetErrorString());
    MemoryManager *manager = handle->memoryManager;
    PartSlot &slot = manager->partTable[5][1];
    slot.state = 0;
    slot.length = 100; // checksum over payload words 0 to 2
    slot.auxiliary = -7;
    for (int i = 0; i < kLooperPayloadWords; ++i)
        slot.payload[i] = fillerWord(31, i);

    const FileSnapshot before(card.path());
    QCOMPARE(lmmSaveLooperPartData(manager, 5, 1), 0);
    QCOMPARE(mlsdCommitSDCard(handle.get()), 0);

    const QByteArray record = card.read(CardImage::looperRange(5, 1));
    QCOMPARE(signedWord(record, 0), 0);
    QCOMPARE(signedWord(record, 4), 100);
    QCOMPARE(signedWord(record, 8), -7);
    QCOMPARE(word(record, 12), fillerWord(31, 0) ^ fillerWord(31, 1) ^ fillerWord(31, 2));
    for (int i = 0; i < kLooperPayloadWords; ++i)
        QCOMPARE(word(record, 16 + 4 * i), fillerWord(31, i));
    const QVector<ByteRange> changed = before.changesOutside({CardImage::looperRange(5, 1)});
    QVERIFY2(changed.isEmpty(), qPrintable(describe(changed)));
}

void TestMemoryManager::saveEmptyKeepsChecksumWord()
{
    CardImage card(m_dir.path());
    card.create();
    const QByteArray original = looperRecord(recording(64, 808));
    card.writeLooper(2, 0, original);
    // A record that was never accepted: state 1, length 0, checksum word left as it was.
    LooperFields emptyFields = emptyLooper(909);
    emptyFields.checksumOverride = true;
    emptyFields.checksum = 0xCAFEF00D;
    card.writeLooper(2, 1, looperRecord(emptyFields));

    CardPtr handle(mlsdOpenSDCard(card.path().toLocal8Bit().constData(), 1));
    QVERIFY2(handle, mlsdGetErrorString());
    MemoryManager *manager = handle->memoryManager;

    QCOMPARE(lmmLoadLooperPartData(manager, 2, 0), 0);
    QCOMPARE(manager->partTable[2][0].state, 0);
    lmmMarkPartEmpty(manager, 2, 0);
    QCOMPARE(manager->partTable[2][0].previousState, 0);
    QCOMPARE(manager->partTable[2][0].state, 1);
    QCOMPARE(lmmSaveLooperPartData(manager, 2, 0), 0);
    QCOMPARE(mlsdCommitSDCard(handle.get()), 0);
    QByteArray expected = original;
    putWord(expected, 0, 1);
    QCOMPARE(card.read(CardImage::looperRange(2, 0)), expected);

    // Loading an empty record and saving it back leaves its checksum word, and reading it
    // again still gives an empty part.
    QCOMPARE(lmmLoadLooperPartData(manager, 2, 1), 0);
    QCOMPARE(lmmSaveLooperPartData(manager, 2, 1), 0);
    QCOMPARE(mlsdCommitSDCard(handle.get()), 0);
    const QByteArray saved = card.read(CardImage::looperRange(2, 1));
    QCOMPARE(word(saved, 12), 0xCAFEF00Du);
    QCOMPARE(signedWord(saved, 0), 1);
    QCOMPARE(signedWord(saved, 4), 0);
    QCOMPARE(lmmLoadLooperPartData(manager, 2, 1), 0);
    QCOMPARE(manager->partTable[2][1].state, 1);
    QCOMPARE(manager->partTable[2][1].length, 0);
    QCOMPARE(manager->partTable[2][1].auxiliary, -1);
}

QTEST_GUILESS_MAIN(TestMemoryManager)
#include "tst_memorymanager.moc"
