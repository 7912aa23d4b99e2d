// The fixtures' own check: a snapshot must see any changed byte of a sparse card, one written
// into a hole included, or every "nothing else changed" assertion built on it would be empty; and
// a memory file's page reused from a file that is gone holds none of that file's bytes.
#include "support/cardimage.h"
#include "support/filesnapshot.h"
#include "support/memorystream.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace ZovaZode::TestSupport;

Q_DECLARE_METATYPE(QVector<ByteRange>)

class TestTestSupport : public QObject
{
    Q_OBJECT

private slots:
    void snapshotSeesChanges_data();
    void snapshotSeesChanges();
    void reusedPagesAreClean();

private:
    QTemporaryDir m_dir{scratchFolderTemplate()};
};

void TestTestSupport::snapshotSeesChanges_data()
{
    QTest::addColumn<qint64>("position");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QVector<ByteRange>>("changed"); // outside the looper record that may change

    const qint64 end = CardImage::looperRange(3, 1).end();
    const qint64 last = CardImage::kFileSize - 1;
    // clang-format off
    //                                            position            bytes                     changed
    QTest::newRow("the card header")           << qint64(1)       << QByteArray("X")        << QVector<ByteRange>{{1, 1}};
    QTest::newRow("in a hole past 2 GiB")      << qint64(2200000000) << QByteArray("\x7f", 1) << QVector<ByteRange>{{2200000000, 1}};
    QTest::newRow("zeros into a hole")         << qint64(3000000000) << QByteArray(4096, '\0') << QVector<ByteRange>{};
    QTest::newRow("last byte of the card")     << last            << QByteArray("z")        << QVector<ByteRange>{{last, 1}};
    QTest::newRow("inside the allowed record") << end - 100       << QByteArray("abc")      << QVector<ByteRange>{};
    QTest::newRow("across its end")            << end - 2         << QByteArray("abcd")     << QVector<ByteRange>{{end, 2}};
    // clang-format on
}

void TestTestSupport::snapshotSeesChanges()
{
    QFETCH(qint64, position);
    QFETCH(QByteArray, bytes);
    QFETCH(QVector<ByteRange>, changed);

    CardImage card(m_dir.path());
    card.create();
    card.writeLooper(3, 1, looperRecord(recording(40, 5)));
    const FileSnapshot before(card.path());
    QVERIFY(before.changes().isEmpty());
    writeRange(card.path(), position, bytes);
    QCOMPARE(before.changesOutside({CardImage::looperRange(3, 1)}), changed);
    QCOMPARE(fileSize(card.path()), CardImage::kFileSize);
}

void TestTestSupport::reusedPagesAreClean()
{
    {
        MemoryFile gone;
        const QByteArray full(int(MemoryFile::kPageSize) * 4, '\xff');
        gone.put(0, full.constData(), size_t(full.size()));
    }
    const QByteArray viewed("view");
    const auto file = MemoryFile::view(reinterpret_cast<const uint8_t *>(viewed.constData()), 4);
    file->put(MemoryFile::kPageSize * 3 + 1, "x", 1);
    file->put(2, "y", 1);
    std::vector<uint8_t> expected(size_t(MemoryFile::kPageSize) * 3 + 2, 0);
    std::memcpy(expected.data(), "viyw", 4);
    expected[size_t(MemoryFile::kPageSize) * 3 + 1] = 'x';
    QCOMPARE(file->bytes(0, int64_t(expected.size())), expected);
}

QTEST_GUILESS_MAIN(TestTestSupport)
#include "tst_testsupport.moc"
