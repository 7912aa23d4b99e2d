// Safety copies: their names (forbidden characters, the default card name, the slot counted
// from 1, long names cut to fit, a second copy in the same second), the folder (never through a
// link, nor over a file), pruning to the newest N of the copies alone, and the two settings.
#include "domain/configurationmanager.h"
#include "domain/safetycopies.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace ZovaZode;

namespace {

const QDateTime kWhen(QDate(2026, 12, 6), QTime(10, 33, 27));

bool touch(const QString &path, int secondsAgo)
{
    QFile file(path);
    // Written out first: a write flushed later would stamp the file with the time of the flush.
    return file.open(QIODevice::WriteOnly) && file.write("x") == 1 && file.flush() &&
           file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo),
                            QFileDevice::FileModificationTime);
}

} // namespace

class TestSafetyCopies : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void names_data();
    void names();
    void folderAndCollisions();
    void pruneKeepsTheNewest_data();
    void pruneKeepsTheNewest();
    void neverThroughALink();
    void settings();

private:
    QString folder() const { return SafetyCopies::folder(m_library); }
    QTemporaryDir m_dir;
    QString m_library;
};

void TestSafetyCopies::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Selkanor"));
    QCoreApplication::setApplicationName(QStringLiteral("Morv Manager"));
    QSettings().clear();
    m_library = m_dir.filePath(QStringLiteral("Card Library"));
}

void TestSafetyCopies::init()
{
    QDir(m_library).removeRecursively();
}

void TestSafetyCopies::names_data()
{
    QTest::addColumn<QString>("cardName");
    QTest::addColumn<int>("slot"); // -1: a copy of the whole card
    QTest::addColumn<QString>("songName");
    QTest::addColumn<QString>("fileName"); // without " - before clearing - 2026-12-06 10.33.27.ml?d"

    const QString euro = QStringLiteral("\u20ac");
    // The names share 176 bytes: each gets at least half, a short one leaves the rest to the other.
    // clang-format off
    //                                      cardName             slot  songName            fileName
    QTest::newRow("card")              << "A/B: \"C\"?"        << -1 << ""               << "AB C";
    QTest::newRow("first slot")        << "Live Set"           << 0  << "Intro"          << "Live Set - song 01 Intro";
    QTest::newRow("forbidden song")    << ""                   << 4  << "Jam (take 2)"   << "Morv+ Card - song 05 Jam take 2";
    QTest::newRow("128 and 128")       << QString(128, 'C')    << 0  << QString(128, 'S') << QString(QString(88, 'C') + " - song 01 " + QString(88, 'S'));
    QTest::newRow("short song")        << QString(128, 'C')    << 0  << QString(60, 'S')  << QString(QString(116, 'C') + " - song 01 " + QString(60, 'S'));
    QTest::newRow("three-byte chars")  << euro.repeated(42)    << 0  << euro.repeated(42) << QString(euro.repeated(29) + " - song 01 " + euro.repeated(29));
    QTest::newRow("cut before spaces") << QString(QString(87, 'C') + "  x") << 0 << QString(128, 'S') << QString(QString(87, 'C') + " - song 01 " + QString(89, 'S'));
    // clang-format on
}

void TestSafetyCopies::names()
{
    QFETCH(QString, cardName);
    QFETCH(int, slot);
    QFETCH(QString, songName);
    QFETCH(QString, fileName);

    const QString what = QStringLiteral("before <clearing>"); // what is cleaned like a name
    const QString path = slot < 0
                             ? SafetyCopies::cardCopyPath(m_library, cardName, what, kWhen)
                             : SafetyCopies::songCopyPath(m_library, cardName, slot, songName, what, kWhen);
    const QString tail =
        QStringLiteral(" - before clearing - 2026-12-06 10.33.27") + (slot < 0 ? ".mlad" : ".mlsd");
    QCOMPARE(path, m_library + "/Safety Copies/" + fileName + tail);
    // With " (999)" and the temporary suffix of a new file, the name still fits 255 bytes.
    QVERIFY(QFile::encodeName(fileName + tail).size() + 6 + 17 <= 255);
}

void TestSafetyCopies::folderAndCollisions()
{
    QString error;
    QVERIFY(QDir().mkpath(m_library) && touch(folder(), 0));
    QVERIFY(!SafetyCopies::ensureFolder(m_library, &error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(folder())), qPrintable(error));
    QVERIFY(QFile::remove(folder()));
    QVERIFY(SafetyCopies::ensureFolder(m_library, &error));
    QVERIFY(SafetyCopies::ensureFolder(m_library, &error));
    const QString base = folder() + "/Set - song 01 A - before restore - 2026-12-06 10.33.27";
    for (const QString &expected : QStringList{base + ".mlsd", base + " (2).mlsd", base + " (3).mlsd"}) {
        const QString path = SafetyCopies::songCopyPath(m_library, "Set", 0, "A", "before restore", kWhen);
        QCOMPARE(path, expected);
        QVERIFY(touch(path, 0));
    }
}

void TestSafetyCopies::pruneKeepsTheNewest_data()
{
    QTest::addColumn<int>("copies");
    QTest::addColumn<int>("keep");
    // clang-format off
    //                                  copies keep
    QTest::newRow("over by one")     << 6 << 5;
    QTest::newRow("keep none")       << 4 << 0;
    // clang-format on
}

void TestSafetyCopies::pruneKeepsTheNewest()
{
    QFETCH(int, copies);
    QFETCH(int, keep);

    QString error;
    QVERIFY(SafetyCopies::ensureFolder(m_library, &error));
    // Copy i is i minutes old; odd ones are songs. Names run against age, so only the time counts.
    QStringList kept;
    for (int i = 0; i < copies; ++i) {
        const QDateTime stamp = kWhen.addSecs(copies - i);
        const QString path =
            i % 2 ? SafetyCopies::songCopyPath(m_library, "Set", i, "Verse", "before clearing", stamp)
                  : SafetyCopies::cardCopyPath(m_library, "Set", "before restore", stamp);
        QVERIFY(touch(path, 60 * i));
        if (i < keep)
            kept << QFileInfo(path).fileName();
    }
    // Nothing but the copies themselves is ever removed: not the user's own files kept here,
    // however old, nor anything that only looks like a copy.
    const QStringList others{"notes.txt",
                             "old.mlad.partial",
                             "Intro.mlsd",
                             "Set - before restore.mlad",
                             "Set - before restore - 2026-12-06 10.33.27.mlsd",
                             ".Set - before restore - 2026-12-06 10.33.27.mlad",
                             "Set - song 13 - before clearing - 2026-12-06 10.33.27.mlsd"};
    for (const QString &other : others)
        QVERIFY(touch(folder() + '/' + other, 100000));
    QVERIFY(QDir(folder()).mkdir(QStringLiteral("kept.mlad")));
    QCOMPARE(SafetyCopies::prune(m_library, keep), copies - keep);
    kept << others << "kept.mlad";
    kept.sort();
    QCOMPARE(QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
             kept);
}

// "Safety Copies" as a link to a folder elsewhere: no copy is written there, none removed.
void TestSafetyCopies::neverThroughALink()
{
    const QString elsewhere = m_dir.filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(elsewhere) && QDir().mkpath(m_library) && QFile::link(elsewhere, folder()));
    const QString copy =
        QFileInfo(SafetyCopies::cardCopyPath(m_library, "Set", "before restore", kWhen)).fileName();
    QVERIFY(touch(elsewhere + '/' + copy, 60) && touch(elsewhere + "/x" + copy, 0));
    QString error;
    QVERIFY(!SafetyCopies::ensureFolder(m_library, &error));
    QCOMPARE(error, QDir::toNativeSeparators(folder()) +
                        QStringLiteral(" is a symbolic link; safety copies are not written through links."));
    QCOMPARE(SafetyCopies::prune(m_library, 0), 0);
    QCOMPARE(QDir(elsewhere).entryList(QDir::Files).size(), 2);
}

// Enabled by default; a limit that is not a positive number reads as 20.
void TestSafetyCopies::settings()
{
    ConfigurationManager manager;
    QCOMPARE(manager.safetyCopiesEnabled(), true);
    for (const QVariant &stored : {QVariant(), QVariant(0), QVariant(-3), QVariant("lots"), QVariant(5)}) {
        QSettings().setValue(QStringLiteral("safety_copies/limit"), stored);
        QCOMPARE(manager.safetyCopyLimit(), stored == 5 ? 5 : 20);
    }
    manager.setSafetyCopiesEnabled(false);
    manager.setSafetyCopyLimit(42);
    QCOMPARE(QSettings().value(QStringLiteral("safety_copies/enabled")).toBool(), false);
    QCOMPARE(QSettings().value(QStringLiteral("safety_copies/limit")).toInt(), 42);
    QCOMPARE(manager.safetyCopiesEnabled(), false);
}

MORV_TEST_MAIN(TestSafetyCopies)
#include "tst_safetycopies.moc"
