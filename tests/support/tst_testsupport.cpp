// The fixtures' own checks: a snapshot must see any changed byte of a sparse card, including one
// written into a hole, or every "nothing else changed" assertion built on it would be empty.
#include "support/cardimage.h"
#include "support/filesnapshot.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace ZovaZode::TestSupport;

class TestTestSupport : public QObject
{
    Q_OBJECT

private slots:
    void snapshotSeesChanges_data();
    void snapshotSeesChanges();
    void rangeArithmetic();
    void textPacking();

private:
    QTemporaryDir m_dir{scratchFolderTemplate()};
};

void TestTestSupport::snapshotSeesChanges_data()
{
    QTest::addColumn<qint64>("position");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("allowed");

    const qint64 looper = CardImage::looperPosition(3, 1);
    // clang-format off
    QTest::newRow("the card header")           << qint64(1)                   << QByteArray("X")       << false;
    QTest::newRow("in a hole past 2 GiB")      << qint64(2200000000)          << QByteArray("\x7f", 1) << false;
    QTest::newRow("zeros into a hole")         << qint64(3000000000)          << QByteArray(4096, '\0') << true;
    QTest::newRow("last byte of the card")     << CardImage::kFileSize - 1    << QByteArray("z")       << false;
    QTest::newRow("inside the allowed record") << looper + 100                << QByteArray("abc")     << true;
    // clang-format on
}

void TestTestSupport::snapshotSeesChanges()
{
    QFETCH(qint64, position);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, allowed);

    CardImage card(m_dir.path());
    card.create();
    card.writeLooper(3, 1, looperRecord(recording(40, 5)));
    const FileSnapshot before(card.path());
    QVERIFY(before.changes().isEmpty());

    writeRange(card.path(), position, bytes);
    const QVector<ByteRange> changed = before.changesOutside({CardImage::looperRange(3, 1)});
    if (allowed) {
        QVERIFY2(changed.isEmpty(), qPrintable(describe(changed)));
    } else {
        QCOMPARE(changed, (QVector<ByteRange>{{position, bytes.size()}}));
    }
    QCOMPARE(fileSize(card.path()), CardImage::kFileSize);
}

void TestTestSupport::rangeArithmetic()
{
    const QVector<ByteRange> ranges{{0, 10}, {5, 10}, {30, 5}};
    QCOMPARE(normalized(ranges), (QVector<ByteRange>{{0, 15}, {30, 5}}));
    QCOMPARE(subtract(ranges, {{3, 2}, {14, 20}}), (QVector<ByteRange>{{0, 3}, {5, 9}, {34, 1}}));
}

void TestTestSupport::textPacking()
{
    QByteArray field(12, '\xEE');
    putText(field, 0, 8, "abcde");
    QCOMPARE(field, QByteArray("abcde\0\0\0\xEE\xEE\xEE\xEE", 12));
    putText(field, 0, 8, "12345678");
    QCOMPARE(field.left(8), QByteArray("12345678"));
    QCOMPARE(text(field, 0, 8), QByteArray("12345678"));
    QCOMPARE(looperChecksum(looperRecord(recording(31, 9)), 31), 0u);
}

QTEST_GUILESS_MAIN(TestTestSupport)
#include "tst_testsupport.moc"
