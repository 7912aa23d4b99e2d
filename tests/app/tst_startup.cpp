// Start-up of the real morv-manager executable in a private home, offscreen: the one-copy-per-user
// lock, and the temporary files of killed transfers removed from the libraries. Each copy is
// stopped once it has shown how far it got, the last by SIGTERM, as a logout does. And its
// command line, answered without a display.
#include "domain/filenamecodec.h"

#include <QDateTime>
#include <QDir>
#include <QLockFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kLock = QStringLiteral("selkanor_morv_manager_single_instance_lock");
const QString kRefusal = QStringLiteral("Another instance of the application is already running.");
const QString kWindowBuilt = QStringLiteral("App version = "); // the last line before the window shows

// A private home for copies of the program, with every per-user folder inside it and settings
// whose update manifest nobody serves.
struct Home
{
    QTemporaryDir dir;
    Home()
    {
        for (const char *folder : {"config", "data", "cache", "runtime", "tmp"})
            QDir(dir.path()).mkpath(folder);
        QFile::setPermissions(path("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QSettings settings(path("config/Selkanor/Morv Manager.conf"), QSettings::IniFormat);
        settings.setValue("version", 1);
        settings.setValue("update/manifest-url", QUrl("http://127.0.0.1:1/manifest.xml"));
    }
    QString path(const QString &relative) const { return dir.filePath(relative); }
    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QStringList folders{
            "HOME",           "",      "XDG_CONFIG_HOME", "config",  "XDG_DATA_HOME", "data",
            "XDG_CACHE_HOME", "cache", "XDG_RUNTIME_DIR", "runtime", "TMPDIR",        "tmp"};
        for (int i = 0; i < folders.size(); i += 2)
            environment.insert(folders[i], folders[i + 1].isEmpty() ? dir.path() : path(folders[i + 1]));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        return environment;
    }
};

// One running copy; its standard output is collected as it comes.
struct Copy
{
    QProcess process;
    QByteArray output;
    Copy(const QProcessEnvironment &environment, const QStringList &arguments = {})
    {
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(MORV_MANAGER_PATH), arguments);
    }
    ~Copy() { stop(); }
    // Waits until a line containing `text` appears, or the copy ends.
    bool waitFor(const QString &text)
    {
        QDeadlineTimer deadline(30000);
        while (!QString::fromLocal8Bit(output).contains(text)) {
            if (process.state() == QProcess::NotRunning || deadline.hasExpired())
                return false;
            process.waitForReadyRead(200);
            output += process.readAllStandardOutput();
        }
        return true;
    }
    void stop()
    {
        process.kill();
        process.waitForFinished(10000);
        output += process.readAllStandardOutput();
    }
    QStringList lines() const { return QString::fromLocal8Bit(output).split('\n', Qt::SkipEmptyParts); }
};

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    // So that a name's bytes that are not UTF-8 reach the program as they are.
    void initTestCase() { ZovaZode::FileNameCodec::install(); }
    void oneCopyPerUser();
    void commandLine_data();
    void commandLine();
};

// A second copy is refused before it touches anything while the first runs; a lock left by a
// copy that died, or planted in the shared temporary folder, blocks nobody. The first removes, and
// logs, what killed transfers left in both libraries a few folders down (the domain tests hold
// the rules of what is such a file).
void TestStartup::oneCopyPerUser()
{
    Home home;
    const QStringList abandoned{
        home.path("Documents/Morv+ Card Library/Safety Copies/Gig.mlad.zxbcdfgh.partial"),
        home.path("Documents/Morv+ Song Library/Live/Intro.mlsd.kxbtrqzm.partial")};
    for (const QString &path : abandoned) {
        QFile file(path);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly));
        QVERIFY(
            file.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    }
    QLockFile planted(home.path("tmp/" + kLock));
    QVERIFY(planted.tryLock(0));
    Copy first(home.environment());
    QVERIFY2(first.waitFor(kWindowBuilt), first.output.constData());
    for (const QString &path : abandoned) {
        QVERIFY2(!QFileInfo::exists(path), qPrintable(path));
        QVERIFY(first.lines().contains("Library: Removed an abandoned temporary file: \"" + path + "\""));
    }
    QLockFile probe(home.path("runtime/" + kLock));
    QVERIFY(!probe.tryLock(0));
    {
        // With a file to open too: what is said of the file is the command-line table's.
        Copy second(home.environment(), {home.path("missing.DAT")});
        QVERIFY2(second.waitFor(kRefusal), second.output.constData());
        QVERIFY(!second.output.contains(kWindowBuilt.toUtf8()));
        QVERIFY(!second.output.contains("Configuration manager"));
    }
    first.stop();
    QVERIFY(QFile::exists(home.path("runtime/" + kLock)));
    Copy third(home.environment());
    QVERIFY2(third.waitFor(kWindowBuilt), third.output.constData());
    QVERIFY(!third.output.contains(kRefusal.toUtf8()));
    // A logout's SIGTERM closes the window as its close button does, and the lock goes with it.
    third.process.terminate();
    QVERIFY(third.process.waitForFinished(10000));
    QCOMPARE(third.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(third.process.exitCode(), 0);
    QVERIFY(!QFile::exists(home.path("runtime/" + kLock)));
}

void TestStartup::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments"); // FULL: standard output is /dev/full; ~ the home
    QTest::addColumn<QString>("folder");        // made before the run
    QTest::addColumn<int>("status");            // -1: goes on to the window, which cannot start here
    QTest::addColumn<QString>("err");
    const QString see = " See 'morv-manager --help'.\n";
    const QString latin1 = "~/lat" + QString(QChar(0xdce9)); // the byte 0xe9 of a Latin-1 name
    // clang-format off
    //                                    arguments                           folder   status err
    QTest::newRow("unknown option")   << QStringList{"-x"}                 << ""     << 2  << "morv-manager: Unknown option 'x'." + see;
    QTest::newRow("-v is not taken")  << QStringList{"-v"}                 << ""     << 2  << "morv-manager: Unknown option 'v'." + see;
    QTest::newRow("two files")        << QStringList{"a", "b"}             << ""     << 2  << "morv-manager: only one file can be opened at a time." + see;
    QTest::newRow("help, disk full")  << QStringList{"--help", "FULL"}     << ""     << 1  << "morv-manager: cannot write to standard output: No space left on device\n";
    QTest::newRow("Latin-1 name")     << QStringList{latin1}               << latin1 << -1 << "morv-manager: ~/lat\\xe9 is a directory\n";
    QTest::newRow("C1, bidi control") << QStringList{"~/a\u202e\u0085b"}   << ""     << -1 << "morv-manager: cannot open ~/a\\u202e\\x85b: No such file or directory\n";
    // clang-format on
}

// No platform can start here, as on a server or in a terminal without a display.
void TestStartup::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, folder);
    QFETCH(int, status);
    QFETCH(QString, err);
    Home home;
    for (QString &argument : arguments)
        argument.replace('~', home.dir.path());
    if (!folder.isEmpty())
        QVERIFY(QDir().mkpath(folder.replace('~', home.dir.path())));
    QProcessEnvironment environment = home.environment();
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    QProcess process;
    process.setProcessEnvironment(environment);
    if (arguments.removeAll("FULL"))
        process.setStandardOutputFile("/dev/full");
    process.start(QStringLiteral(MORV_MANAGER_PATH), arguments);
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), status < 0 ? QProcess::CrashExit : QProcess::NormalExit);
    if (status >= 0)
        QCOMPARE(process.exitCode(), status);
    QCOMPARE(QString::fromLocal8Bit(process.readAllStandardError()), err.replace('~', home.dir.path()));
}

MORV_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
