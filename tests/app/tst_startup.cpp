// Start-up of the real morv-manager executable in a private home: --help and --version answered
// without a window, mistakes on the command line, the log lines about the library folders, the
// temporary files of killed transfers it removes, the one-copy-per-user lock (where it lives, who
// can and cannot block it) and the refusal of a second copy. Each copy runs offscreen and is
// stopped once it has shown how far it got.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QString LockName = QStringLiteral("selkanor_morv_manager_single_instance_lock");
const QString Refusal = QStringLiteral("Another instance of the application is already running.");
// The last line start-up logs before the window shows.
const QString WindowBuilt = QStringLiteral("App version = ");

quint16 unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

// A private home for one copy of the program, with every per-user folder inside it.
class Home
{
public:
    Home()
    {
        for (const char *folder : {"config", "data", "cache", "runtime", "tmp"})
            QDir(m_dir.path()).mkpath(QLatin1String(folder));
        QFile::setPermissions(path("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QString path(const QString &relative = QString()) const
    {
        return relative.isEmpty() ? m_dir.path() : m_dir.filePath(relative);
    }

    // The settings a previous run left: the current layout, and an update manifest nobody serves,
    // so no copy goes out to the network.
    void writeSettings(const QMap<QString, QVariant> &values = {}) const
    {
        QSettings settings(path("config/Selkanor/Morv Manager.conf"), QSettings::IniFormat);
        settings.setValue(QStringLiteral("version"), 1);
        settings.setValue(QStringLiteral("update/manifest-url"),
                          QUrl(QStringLiteral("http://127.0.0.1:%1/manifest.xml").arg(unusedPort())));
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            settings.setValue(it.key(), it.value());
    }

    // Without a runtime folder of its own, the program must not fall back to anything in the shared
    // temporary folder: the default there ("runtime-" + user name) is occupied by a planted file.
    QProcessEnvironment environment(bool runtimeFolder = true) const
    {
        if (!runtimeFolder) {
            QFile planted(path("tmp/runtime-" + QString::fromLocal8Bit(getpwuid(geteuid())->pw_name)));
            planted.open(QIODevice::WriteOnly);
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path("config"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), path("data"));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), path("cache"));
        if (runtimeFolder)
            environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), path("runtime"));
        else
            environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        environment.insert(QStringLiteral("TMPDIR"), path("tmp"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.remove(QStringLiteral("XDG_CONFIG_DIRS"));
        return environment;
    }

private:
    QTemporaryDir m_dir;
};

// One running copy; its standard output is collected line by line.
class Copy
{
public:
    explicit Copy(const QProcessEnvironment &environment, const QStringList &arguments = {})
    {
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(QStringLiteral(MORV_MANAGER_PATH), arguments);
    }
    ~Copy() { stop(); }

    // Waits until a line containing `text` appears, or the copy ends.
    bool waitFor(const QString &text)
    {
        QDeadlineTimer deadline(30000);
        while (!output().contains(text)) {
            if (m_process.state() == QProcess::NotRunning || deadline.hasExpired())
                return false;
            m_process.waitForReadyRead(200);
            m_output += m_process.readAllStandardOutput();
        }
        return true;
    }

    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
        m_output += m_process.readAllStandardOutput();
    }

    QString output() const { return QString::fromLocal8Bit(m_output); }
    QStringList lines() const { return output().split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    bool running() const { return m_process.state() != QProcess::NotRunning; }

    // For a copy that ends by itself: its exit code, or -1 when it crashed or did not end.
    int exitCode()
    {
        if (!m_process.waitForFinished(30000) || m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        m_output += m_process.readAllStandardOutput();
        return m_process.exitCode();
    }
    QString errors() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }

private:
    QProcess m_process;
    QByteArray m_output;
};

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data();
    void commandLine();
    void libraryFolders_data();
    void libraryFolders();
    void abandonedTemporaryFilesRemoved();
    void lock_data();
    void lock();
    void secondCopyRefusedWhileFirstRuns();
};

void TestStartup::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("display");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("errors");

    // Without a display the GUI application cannot even be created: what answers there answers
    // before any window, lock or settings.
    // clang-format off
    QTest::newRow("version")        << QStringList{"--version"}       << false << 0 << "Morv Manager 1.1.0\n" << "";
    QTest::newRow("short version")  << QStringList{"-v"}              << false << 0 << "Morv Manager 1.1.0\n" << "";
    QTest::newRow("help")           << QStringList{"--help"}          << false << 0 << "[options] [file]"    << "";
    QTest::newRow("help and file")  << QStringList{"a.mlad", "-h"}    << false << 0 << "-v, --version"       << "";
    QTest::newRow("unknown option") << QStringList{"--open"}          << true  << 1 << ""                    << "Unknown option 'open'.";
    QTest::newRow("two files")      << QStringList{"a.mlad", "b.mlsd"} << true << 1 << ""                    << "only one file";
    // clang-format on
}

void TestStartup::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, display);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, errors);

    Home home;
    home.writeSettings();
    QProcessEnvironment environment = home.environment();
    if (!display)
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-display-here"));
    Copy copy(environment, arguments);
    QCOMPARE(copy.exitCode(), exitCode);
    const QString errorText = copy.errors();
    QVERIFY2(copy.output().contains(output), qPrintable(copy.output()));
    QVERIFY2(errorText.contains(errors), qPrintable(errorText));
    QVERIFY(!copy.output().contains(QStringLiteral("Configuration manager")));
    QVERIFY(!QDir(home.path("Documents")).exists());
    QVERIFY(!QFile::exists(home.path("runtime/" + LockName)));
}

void TestStartup::libraryFolders_data()
{
    QTest::addColumn<bool>("foldersExist");
    QTest::addColumn<QString>("cardLibrary");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("unexpected");

    const QString card = QStringLiteral("Created archive location: \"%1/Documents/Morv+ Card Library\"");
    const QString song = QStringLiteral("Created library location: \"%1/Documents/Morv+ Song Library\"");
    // clang-format off
    QTest::newRow("first run")
        << false << ""
        << QStringList{card, song}
        << QStringList{"Failed to create"};
    QTest::newRow("folders exist")
        << true  << ""
        << QStringList{}
        << QStringList{"Created archive location:", "Created library location:"};
    QTest::newRow("card library cannot be created")
        << false << "%1/blocker/Cards"
        << QStringList{"Failed to create archive location: \"%1/blocker/Cards\"", song}
        << QStringList{"Created archive location:", "Failed to create library location:"};
    // clang-format on
}

void TestStartup::libraryFolders()
{
    QFETCH(bool, foldersExist);
    QFETCH(QString, cardLibrary);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, unexpected);

    Home home;
    QMap<QString, QVariant> settings;
    if (!cardLibrary.isEmpty()) {
        // A plain file where a folder should be: nothing can be created below it.
        QFile blocker(home.path("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        settings.insert(QStringLiteral("card_library/location"), cardLibrary.arg(home.path()));
    }
    home.writeSettings(settings);
    if (foldersExist) {
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral("Documents/Morv+ Card Library")));
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral("Documents/Morv+ Song Library")));
    }

    Copy copy(home.environment());
    QVERIFY2(copy.waitFor(WindowBuilt), qPrintable(copy.output()));
    QVERIFY(copy.running());
    copy.stop();

    const QStringList lines = copy.lines();
    for (const QString &line : expected)
        QVERIFY2(lines.contains(line.arg(home.path())),
                 qPrintable(line.arg(home.path()) + "\n" + copy.output()));
    for (const QString &text : unexpected)
        QVERIFY2(!copy.output().contains(text), qPrintable(text));
    if (cardLibrary.isEmpty())
        QVERIFY(QDir(home.path("Documents/Morv+ Card Library")).exists());
    QVERIFY(QDir(home.path("Documents/Morv+ Song Library")).exists());
    // Bare lines: no level, time or source location in front of the text.
    QVERIFY(lines.contains(QStringLiteral("Configuration manager: current version: 1")));
}

// What killed transfers left in the libraries is removed, and said so; what a running transfer
// still makes (locked, or just begun), and what is not a plain file of ours, stays.
void TestStartup::abandonedTemporaryFilesRemoved()
{
    Home home;
    home.writeSettings();
    const QString cards = home.path("Documents/Morv+ Card Library");
    const QString songs = home.path("Documents/Morv+ Song Library");
    QVERIFY(QDir().mkpath(cards + "/Safety Copies") && QDir().mkpath(songs + "/Live"));
    const auto plant = [](const QString &path, int age) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write("partial") == 7 && file.flush() &&
               file.setFileTime(QDateTime::currentDateTime().addSecs(-age),
                                QFileDevice::FileModificationTime);
    };
    const QStringList removed{
        cards + "/Gig.mlad.k3J9xQa2.partial",
        cards + "/Safety Copies/Gig - before restore - 2026-01-02 10.00.00.mlad.Zx81aB0c.partial",
        songs + "/Live/Intro.mlsd.partial"};
    const QStringList kept{cards + "/Young.mlad.k3J9xQa2.partial", cards + "/Held.mlad.k3J9xQa2.partial",
                           songs + "/notes.txt.partial"};
    for (const QString &path : removed + kept)
        QVERIFY(plant(path, path.contains("Young") ? 5 : 3600));
    QVERIFY(QFile::link(home.path("victim"), songs + "/Link.mlsd.k3J9xQa2.partial"));
    const int held = ::open(QFile::encodeName(kept.at(1)).constData(), O_RDONLY | O_CLOEXEC);
    QCOMPARE(::flock(held, LOCK_EX), 0);

    Copy copy(home.environment());
    QVERIFY2(copy.waitFor(WindowBuilt), qPrintable(copy.output()));
    copy.stop();
    ::close(held);
    for (const QString &path : removed) {
        QVERIFY2(!QFileInfo::exists(path), qPrintable(path));
        QVERIFY2(copy.lines().contains("Library: Removed an abandoned temporary file: \"" + path + "\""),
                 qPrintable(copy.output()));
    }
    for (const QString &path : kept)
        QVERIFY2(QFileInfo::exists(path), qPrintable(path));
    QVERIFY(QFileInfo(songs + "/Link.mlsd.k3J9xQa2.partial").isSymLink());
}

void TestStartup::lock_data()
{
    QTest::addColumn<QString>("heldAt");
    QTest::addColumn<bool>("runtimeFolder");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("takenAt");

    const QString data = QStringLiteral("data/Selkanor/Morv Manager");
    // clang-format off
    QTest::newRow("nothing held")                 << ""        << true  << false << "runtime";
    QTest::newRow("held in the runtime folder")   << "runtime" << true  << true  << "";
    QTest::newRow("planted in the temp folder")   << "tmp"     << true  << false << "runtime";
    QTest::newRow("no runtime folder")            << ""        << false << false << data;
    QTest::newRow("no runtime folder, held")      << data      << false << true  << "";
    QTest::newRow("no runtime folder, temp held") << "tmp"     << false << false << data;
    // clang-format on
}

void TestStartup::lock()
{
    QFETCH(QString, heldAt);
    QFETCH(bool, runtimeFolder);
    QFETCH(bool, refused);
    QFETCH(QString, takenAt);

    Home home;
    home.writeSettings();
    std::unique_ptr<QLockFile> held;
    if (!heldAt.isEmpty()) {
        QVERIFY(QDir(home.path()).mkpath(heldAt));
        held = std::make_unique<QLockFile>(home.path(heldAt + "/" + LockName));
        QVERIFY(held->tryLock(0));
    }
    const QByteArray settingsBefore = [&]() {
        QFile file(home.path("config/Selkanor/Morv Manager.conf"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();

    Copy copy(home.environment(runtimeFolder));
    QVERIFY2(copy.waitFor(refused ? Refusal : WindowBuilt), qPrintable(copy.output()));
    // A refused copy waits on its message box; it must not have gone any further.
    QVERIFY(copy.running());

    if (refused) {
        copy.stop();
        QVERIFY(copy.lines().contains(Refusal));
        QVERIFY(!copy.output().contains(QStringLiteral("Configuration manager")));
        QVERIFY(!copy.output().contains(WindowBuilt));
        QVERIFY(!QDir(home.path("Documents")).exists());
        QFile file(home.path("config/Selkanor/Morv Manager.conf"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), settingsBefore);
        return;
    }
    QVERIFY(!copy.output().contains(Refusal));
    // The running copy holds its lock where every later copy of this user looks for it.
    QLockFile probe(home.path(takenAt + "/" + LockName));
    QVERIFY(!probe.tryLock(0));
    QCOMPARE(probe.error(), QLockFile::LockFailedError);
    copy.stop();
}

void TestStartup::secondCopyRefusedWhileFirstRuns()
{
    Home home;
    home.writeSettings();

    Copy first(home.environment());
    QVERIFY2(first.waitFor(WindowBuilt), qPrintable(first.output()));
    {
        Copy second(home.environment());
        QVERIFY2(second.waitFor(Refusal), qPrintable(second.output()));
        QVERIFY(!second.output().contains(WindowBuilt));
    }
    QVERIFY(first.running());

    // A copy that died without tearing down leaves its file behind; it must not lock the user out.
    first.stop();
    QVERIFY(QFile::exists(home.path("runtime/" + LockName)));
    Copy third(home.environment());
    QVERIFY2(third.waitFor(WindowBuilt), qPrintable(third.output()));
    QVERIFY(!third.output().contains(Refusal));
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
