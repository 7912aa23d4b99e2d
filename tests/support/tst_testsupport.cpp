// The fixtures' own check: a snapshot must see any changed byte of a sparse card, one written
// into a hole included, or every "nothing else changed" assertion built on it would be empty.
#include "support/cardimage.h"
#include "support/filesnapshot.h"

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
    QTest::newRow("last byte of the card")     << last            << QByteArray("z")        << QVector<ByteRange>{{last, 1}};
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

QTEST_GUILESS_MAIN(TestTestSupport)
#include "tst_testsupport.moc"
