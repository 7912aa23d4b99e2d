// Safety copies: their names (forbidden characters, the default card name, the slot counted
// from 1, a second copy in the same second, long names cut to fit), the folder (never through
// a link), pruning to the newest N of the copies alone, and the two settings with their defaults.
#include "domain/configurationmanager.h"
#include "domain/safetycopies.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace ZovaZode;

namespace {

const QDateTime kWhen(QDate(2026, 12, 6), QTime(10, 33, 27));

bool touch(const QString &path, int secondsAgo)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Written out first: a write flushed later would stamp the file with the time of the flush.
    if (file.write("x") != 1 || !file.flush())
        return false;
    return file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo),
                            QFileDevice::FileModificationTime);
}

} // namespace

class TestSafetyCopies : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cardCopyPath_data();
    void cardCopyPath();
    void songCopyPath_data();
    void songCopyPath();
    void collisionsGetANumber_data();
    void collisionsGetANumber();
    void ensureFolder_data();
    void ensureFolder();
    void pruneKeepsTheNewest_data();
    void pruneKeepsTheNewest();
    void neverThroughALink();
    void settings_data();
    void settings();

private:
    QString folder() const { return SafetyCopies::folder(m_library); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_library;
};

void TestSafetyCopies::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Selkanor"));
    QCoreApplication::setApplicationName(QStringLiteral("Morv Manager"));
    QVERIFY2(QSettings().fileName().contains(QStringLiteral(".qttest")), qPrintable(QSettings().fileName()));
}

void TestSafetyCopies::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_library = m_dir->filePath(QStringLiteral("Card Library"));
    QSettings().clear();
}

void TestSafetyCopies::cleanup()
{
    m_dir.reset();
}

void TestSafetyCopies::cardCopyPath_data()
{
    QTest::addColumn<QString>("cardName");
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("fileName");

    // clang-format off
    QTest::newRow("plain")           << "Live Set"    << "before restore"            << "Live Set - before restore - 2026-12-06 10.33.27.mlad";
    QTest::newRow("forbidden chars") << "A/B: \"C\"?" << "before restore"            << "AB C - before restore - 2026-12-06 10.33.27.mlad";
    QTest::newRow("empty name")      << ""            << "before clearing all songs" << "Morv+ Card - before clearing all songs - 2026-12-06 10.33.27.mlad";
    QTest::newRow("only forbidden")  << "?*/"         << "before restore"            << "Morv+ Card - before restore - 2026-12-06 10.33.27.mlad";
    QTest::newRow("what forbidden")  << "Set"         << "before <restore>"          << "Set - before restore - 2026-12-06 10.33.27.mlad";
    QTest::newRow("hidden name")     << ".Set"        << "before restore"            << "Set - before restore - 2026-12-06 10.33.27.mlad";
    QTest::newRow("128-byte name")   << QString(128, 'C') << "before restore"        << QString(128, 'C') + " - before restore - 2026-12-06 10.33.27.mlad";
    // clang-format on
}

void TestSafetyCopies::cardCopyPath()
{
    QFETCH(QString, cardName);
    QFETCH(QString, what);
    QFETCH(QString, fileName);

    QCOMPARE(SafetyCopies::folder(m_library), m_library + QStringLiteral("/Safety Copies"));
    QCOMPARE(SafetyCopies::cardCopyPath(m_library, cardName, what, kWhen),
             folder() + QLatin1Char('/') + fileName);
}

void TestSafetyCopies::songCopyPath_data()
{
    QTest::addColumn<QString>("cardName");
    QTest::addColumn<int>("slot");
    QTest::addColumn<QString>("songName");
    QTest::addColumn<QString>("fileName");

    const QString tail = QStringLiteral(" - before clearing - 2026-12-06 10.33.27.mlsd");
    const QString euro = QStringLiteral("\u20ac"); // three bytes
    // The names share 176 bytes: each gets at least half, a short one leaves the rest to the other.
    // clang-format off
    QTest::newRow("first slot")        << "Live Set"          << 0  << "Intro"             << "Live Set - song 01 Intro" + tail;
    QTest::newRow("last slot")         << "Live Set"          << 11 << "Outro"             << "Live Set - song 12 Outro" + tail;
    QTest::newRow("no song name")      << "Live Set"          << 2  << ""                  << "Live Set - song 03" + tail;
    QTest::newRow("forbidden song")    << ""                  << 4  << "Jam (take 2)"      << "Morv+ Card - song 05 Jam take 2" + tail;
    QTest::newRow("100 and 100")       << QString(100, 'C')   << 0  << QString(100, 'S')   << QString(88, 'C') + " - song 01 " + QString(88, 'S') + tail;
    QTest::newRow("128 and 128")       << QString(128, 'C')   << 0  << QString(128, 'S')   << QString(88, 'C') + " - song 01 " + QString(88, 'S') + tail;
    QTest::newRow("short card")        << "Set"               << 0  << QString(128, 'S')   << "Set - song 01 " + QString(128, 'S') + tail;
    QTest::newRow("short song")        << QString(128, 'C')   << 0  << QString(60, 'S')    << QString(116, 'C') + " - song 01 " + QString(60, 'S') + tail;
    QTest::newRow("three-byte chars")  << euro.repeated(42)   << 0  << euro.repeated(42)   << euro.repeated(29) + " - song 01 " + euro.repeated(29) + tail;
    QTest::newRow("cut before spaces") << QString(87, 'C') + "  x" << 0 << QString(128, 'S') << QString(87, 'C') + " - song 01 " + QString(89, 'S') + tail;
    // clang-format on
}

void TestSafetyCopies::songCopyPath()
{
    QFETCH(QString, cardName);
    QFETCH(int, slot);
    QFETCH(QString, songName);
    QFETCH(QString, fileName);

    const QString path = SafetyCopies::songCopyPath(m_library, cardName, slot, songName,
                                                    QStringLiteral("before clearing"), kWhen);
    QCOMPARE(path, folder() + QLatin1Char('/') + fileName);
    // With " (999)" and the temporary suffix of a new file, the name still fits 255 bytes.
    QVERIFY(QFile::encodeName(fileName).size() + 6 + 17 <= 255);
}

void TestSafetyCopies::collisionsGetANumber_data()
{
    QTest::addColumn<bool>("song");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("suffix");

    // clang-format off
    QTest::newRow("card") << false << "Set - before restore - 2026-12-06 10.33.27"             << ".mlad";
    QTest::newRow("song") << true  << "Set - song 01 A - before restore - 2026-12-06 10.33.27" << ".mlsd";
    // clang-format on
}

void TestSafetyCopies::collisionsGetANumber()
{
    QFETCH(bool, song);
    QFETCH(QString, base);
    QFETCH(QString, suffix);

    QString error;
    QVERIFY(SafetyCopies::ensureFolder(m_library, &error));
    const auto next = [&] {
        return song ? SafetyCopies::songCopyPath(m_library, "Set", 0, "A", "before restore", kWhen)
                    : SafetyCopies::cardCopyPath(m_library, "Set", "before restore", kWhen);
    };
    const QStringList expected{base + suffix, base + " (2)" + suffix, base + " (3)" + suffix};
    for (const QString &name : expected) {
        const QString path = next();
        QCOMPARE(path, folder() + QLatin1Char('/') + name);
        QVERIFY(touch(path, 0));
    }
}

void TestSafetyCopies::ensureFolder_data()
{
    QTest::addColumn<QString>("blocker");
    QTest::addColumn<bool>("made");

    // clang-format off
    QTest::newRow("missing library") << ""                           << true;
    QTest::newRow("file in the way") << "Card Library/Safety Copies" << false;
    QTest::newRow("library is file") << "Card Library"               << false;
    // clang-format on
}

void TestSafetyCopies::ensureFolder()
{
    QFETCH(QString, blocker);
    QFETCH(bool, made);

    if (!blocker.isEmpty()) {
        QVERIFY(QDir().mkpath(QFileInfo(m_dir->filePath(blocker)).absolutePath()));
        QVERIFY(touch(m_dir->filePath(blocker), 0));
    }
    QString error;
    QCOMPARE(SafetyCopies::ensureFolder(m_library, &error), made);
    QCOMPARE(QFileInfo(folder()).isDir(), made);
    QCOMPARE(error.isEmpty(), made);
    if (!made)
        QVERIFY2(error.contains(QDir::toNativeSeparators(folder())), qPrintable(error));
    // A second call finds what the first made.
    QCOMPARE(SafetyCopies::ensureFolder(m_library, &error), made);
}

void TestSafetyCopies::pruneKeepsTheNewest_data()
{
    QTest::addColumn<int>("copies");
    QTest::addColumn<int>("keep");
    QTest::addColumn<int>("removed");

    // clang-format off
    QTest::newRow("under the limit") << 3 << 5 << 0;
    QTest::newRow("at the limit")    << 5 << 5 << 0;
    QTest::newRow("over by one")     << 6 << 5 << 1;
    QTest::newRow("keep one")        << 7 << 1 << 6;
    QTest::newRow("keep none")       << 4 << 0 << 4;
    // clang-format on
}

void TestSafetyCopies::pruneKeepsTheNewest()
{
    QFETCH(int, copies);
    QFETCH(int, keep);
    QFETCH(int, removed);

    QString error;
    QVERIFY(SafetyCopies::ensureFolder(m_library, &error));
    // Copy i is i minutes old; odd ones are songs. Names run against age, so only the time counts.
    QStringList newestFirst;
    for (int i = 0; i < copies; ++i) {
        const QDateTime stamp = kWhen.addSecs(copies - i);
        const QString path =
            i % 2 ? SafetyCopies::songCopyPath(m_library, "Set", i, "Verse", "before clearing", stamp)
                  : SafetyCopies::cardCopyPath(m_library, "Set", "before restore", stamp);
        QVERIFY(touch(path, 60 * i));
        newestFirst << QFileInfo(path).fileName();
    }
    // Nothing but the copies themselves is ever removed: not the user's own songs and archives
    // kept here, however old, nor anything that only looks like a copy.
    const QStringList others{"notes.txt",
                             "old.mlad.partial",
                             "x.mlad.bak",
                             "Intro.mlsd",
                             "Live Set.mlad",
                             "Set - before restore.mlad",
                             "Set - before restore - 2026-12-06 10.33.27.mlsd",
                             ".Set - before restore - 2026-12-06 10.33.27.mlad",
                             "Set - song 13 - before clearing - 2026-12-06 10.33.27.mlsd"};
    for (const QString &other : others)
        QVERIFY(touch(folder() + QLatin1Char('/') + other, 100000));
    QVERIFY(QDir(folder()).mkdir(QStringLiteral("kept.mlad")));
    QVERIFY(touch(folder() + QStringLiteral("/kept.mlad/inner.mlsd"), 100000));

    QCOMPARE(SafetyCopies::prune(m_library, keep), removed);
    QStringList expected = newestFirst.mid(0, qMax(keep, 0)) + others;
    expected << QStringLiteral("kept.mlad");
    expected.sort();
    QCOMPARE(QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
             expected);
    QVERIFY(QFile::exists(folder() + QStringLiteral("/kept.mlad/inner.mlsd")));
}

// "Safety Copies" as a link to a folder elsewhere: no copy is written there, none removed.
void TestSafetyCopies::neverThroughALink()
{
    const QString elsewhere = m_dir->filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(elsewhere) && QDir().mkpath(m_library));
    QVERIFY(QFile::link(elsewhere, folder()));
    QStringList kept;
    for (int i = 0; i < 3; ++i) {
        const QString path = SafetyCopies::cardCopyPath(m_library, "Set", "before restore", kWhen.addSecs(i));
        QVERIFY(touch(elsewhere + QLatin1Char('/') + QFileInfo(path).fileName(), 60 * i));
        kept << QFileInfo(path).fileName();
    }
    QString error;
    QVERIFY(!SafetyCopies::ensureFolder(m_library, &error));
    QCOMPARE(error, QDir::toNativeSeparators(folder()) +
                        QStringLiteral(" is a symbolic link; safety copies are not written through links."));
    QCOMPARE(SafetyCopies::prune(m_library, 1), 0);
    kept.sort();
    QCOMPARE(QDir(elsewhere).entryList(QDir::Files, QDir::Name), kept);
}

void TestSafetyCopies::settings_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("limit");

    // clang-format off
    QTest::newRow("unset")    << QVariant()       << 20;
    QTest::newRow("five")     << QVariant(5)      << 5;
    QTest::newRow("one")      << QVariant(1)      << 1;
    QTest::newRow("zero")     << QVariant(0)      << 20;
    QTest::newRow("negative") << QVariant(-3)     << 20;
    QTest::newRow("text")     << QVariant("lots") << 20;
    // clang-format on
}

void TestSafetyCopies::settings()
{
    QFETCH(QVariant, stored);
    QFETCH(int, limit);

    ConfigurationManager manager;
    QCOMPARE(manager.safetyCopiesEnabled(), true);
    if (stored.isValid())
        QSettings().setValue(QStringLiteral("safety_copies/limit"), stored);
    QCOMPARE(manager.safetyCopyLimit(), limit);

    manager.setSafetyCopiesEnabled(false);
    manager.setSafetyCopyLimit(42);
    QSettings store;
    QCOMPARE(store.value(QStringLiteral("safety_copies/enabled")).toBool(), false);
    QCOMPARE(store.value(QStringLiteral("safety_copies/limit")).toInt(), 42);
    QCOMPARE(manager.safetyCopiesEnabled(), false);
    QCOMPARE(manager.safetyCopyLimit(), 42);
}

QTEST_GUILESS_MAIN(TestSafetyCopies)
#include "tst_safetycopies.moc"
