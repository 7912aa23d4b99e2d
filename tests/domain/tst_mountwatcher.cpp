// The mount watcher over a fake list of volumes: folders of a temporary folder stand for mounted
// volumes, and each look reports the cards that appeared and went since the last one.
#include "domain/mountwatcher.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace ZovaZode;

class TestMountWatcher : public QObject
{
    Q_OBJECT

private slots:
    void looks_data();
    void looks();
};

void TestMountWatcher::looks_data()
{
    // One string per look, one letter per mounted volume: A and B hold ZOVAZODE.DAT in their
    // root, x holds nothing, y holds it one folder down.
    QTest::addColumn<QStringList>("mounted");
    QTest::addColumn<QStringList>("appeared");
    QTest::addColumn<QStringList>("gone");
    //                                    mounted                       appeared                gone
    QTest::newRow("no card")          << QStringList{"", "xy"}     << QStringList{"", ""}  << QStringList{"", ""};
    QTest::newRow("mounted at start") << QStringList{"A", "A"}     << QStringList{"A", ""} << QStringList{"", ""};
    QTest::newRow("plugged in")       << QStringList{"x", "xA"}    << QStringList{"", "A"} << QStringList{"", ""};
    QTest::newRow("unplugged")        << QStringList{"AB", "B"}    << QStringList{"AB", ""} << QStringList{"", "A"};
    QTest::newRow("swapped, back")    << QStringList{"A", "B", "BA"}
                                      << QStringList{"A", "B", "A"} << QStringList{"", "A", ""};
}

void TestMountWatcher::looks()
{
    QFETCH(QStringList, mounted);
    QFETCH(QStringList, appeared);
    QFETCH(QStringList, gone);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char *card : {"A/ZOVAZODE.DAT", "B/ZOVAZODE.DAT", "y/deeper/ZOVAZODE.DAT", "x/OTHER.DAT"}) {
        const QString path = dir.filePath(QString::fromLatin1(card));
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    QString now;
    MountWatcher watcher;
    watcher.setVolumeList([&] {
        QStringList roots;
        for (QChar letter : now)
            roots << dir.filePath(QString(letter));
        return roots;
    });
    QSignalSpy appearedSpy(&watcher, &MountWatcher::cardAppeared);
    QSignalSpy goneSpy(&watcher, &MountWatcher::cardGone);
    auto letters = [](QSignalSpy &spy) {
        QString result;
        for (const QList<QVariant> &signal : spy)
            result += QFileInfo(signal.at(0).toString()).dir().dirName();
        spy.clear();
        return result;
    };
    for (int look = 0; look < mounted.size(); ++look) {
        now = mounted.at(look);
        look == 0 ? watcher.start() : watcher.poll();
        QCOMPARE(letters(appearedSpy), appeared.at(look));
        QCOMPARE(letters(goneSpy), gone.at(look));
    }
    QString cards;
    for (const QString &file : watcher.cardFiles())
        cards += QFileInfo(file).dir().dirName();
    QCOMPARE(cards, QString(now).remove(QRegularExpression("[a-z]")));
}

QTEST_GUILESS_MAIN(TestMountWatcher)
#include "tst_mountwatcher.moc"
