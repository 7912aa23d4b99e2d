// Crash safety: morv-card killed with SIGKILL at chosen and at random moments while it writes a
// library file (`archive`, `export-song`) or a card (`restore`, `import-song`, each with its
// safety copy first).
//
// After a kill that wrote a library file, its final path either does not exist or holds a
// complete archive that `morv-card verify` accepts and that is byte for byte the one an
// uninterrupted run writes; the files already in the library and the card read are untouched.
// After a kill that wrote a card, the card may hold a partly restored song, but never a byte
// outside the records and audio being written. Either way nothing is left in the library but
// finished files and the temporary files of killed runs, and none of those survives the start
// of the next library write.
//
// The moments: a grid over the time an uninterrupted run takes, the moment a temporary file
// appears and the moment the final file appears, and random moments from a fixed seed (printed,
// so that a failure can be replayed).
#include "support/cardimage.h"
#include "support/filebytes.h"
#include "support/filesnapshot.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

namespace TS = ZovaZode::TestSupport;

namespace {

constexpr int kGridRuns = 16;
constexpr int kEventRuns = 5;
constexpr int kRandomRuns = 20;
// The slot that import-song overwrites.
constexpr int kImportSlot = 7;

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool isTemporary(const QString &name)
{
    static const QRegularExpression form(QStringLiteral("\\.[A-Za-z0-9]{8}\\.partial$"));
    return form.match(name).hasMatch();
}

enum class Moment { Delay, PartialAppears, FinalAppears };

} // namespace

class TestKillRuns : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void killed_data();
    void killed();

private:
    static bool writesCard(const QString &command)
    {
        return command == QLatin1String("restore") || command == QLatin1String("import-song");
    }
    QString libraryPath(const QString &name) const { return QDir(m_library).filePath(name); }
    QString safetyFolder() const { return QDir(m_library).filePath(QStringLiteral("Safety Copies")); }
    // Where the command's temporary files appear.
    QString workFolder(const QString &command) const
    {
        return writesCard(command) ? safetyFolder() : m_library;
    }
    QString newFile(const QString &command) const
    {
        return libraryPath(command == QLatin1String("archive") ? QStringLiteral("New.mlad")
                                                               : QStringLiteral("New.mlsd"));
    }
    QStringList arguments(const QString &command, const QString &out) const;
    QProcess *start(const QString &command, const QString &out) const;
    // Starts the command, kills it at the moment, and returns a broken promise or an empty text.
    QString killOnce(const QString &command, Moment moment, int delayMicroseconds);
    QString check(const QString &command);
    // The temporary files in the command's folder, made old enough to count as abandoned.
    QStringList ageTemporaryFiles(const QString &command) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TS::CardImage> m_card;   // read by archive and export-song
    std::unique_ptr<TS::CardImage> m_target; // written by restore and import-song
    std::unique_ptr<TS::FileSnapshot> m_cardSnapshot;
    std::unique_ptr<TS::FileSnapshot> m_targetSnapshot;
    QVector<TS::ByteRange> m_restoreRanges;
    QVector<TS::ByteRange> m_importRanges;
    QString m_library;
    QString m_archive;  // restored by restore
    QString m_songFile; // imported by import-song
    QMap<QString, QByteArray> m_existing;
    QMap<QString, QByteArray> m_complete; // what an uninterrupted run writes, per command
    QMap<QString, qint64> m_duration;     // microseconds of an uninterrupted run
    QProcessEnvironment m_environment;
    int m_runs = 0;
    int m_killed = 0;
    int m_finished = 0;
    int m_completeFound = 0; // runs after which the final file existed
    quint32 m_seed = 0;
};

QStringList TestKillRuns::arguments(const QString &command, const QString &out) const
{
    const QStringList safety{QStringLiteral("--yes"), QStringLiteral("--safety-dir"), m_library,
                             QStringLiteral("--quiet")};
    if (command == QLatin1String("archive"))
        return {command, m_card->path(), out, QStringLiteral("--quiet")};
    if (command == QLatin1String("export-song"))
        return {command, m_card->path(), QStringLiteral("1"), out, QStringLiteral("--quiet")};
    if (command == QLatin1String("restore"))
        return QStringList{command, m_archive, m_target->path()} + safety;
    return QStringList{command, m_songFile, m_target->path(), QString::number(kImportSlot + 1)} + safety;
}

QProcess *TestKillRuns::start(const QString &command, const QString &out) const
{
    auto *process = new QProcess;
    process->setProcessEnvironment(m_environment);
    process->start(QStringLiteral(MORV_CARD_PATH), arguments(command, out));
    return process;
}

void TestKillRuns::initTestCase()
{
    m_dir = std::make_unique<QTemporaryDir>(TS::scratchFolderTemplate());
    QVERIFY(m_dir->isValid());
    // The tool reads the window's settings for the safety copies: never the user's own.
    m_environment = QProcessEnvironment::systemEnvironment();
    m_environment.insert(QStringLiteral("HOME"), m_dir->filePath(QStringLiteral("home")));
    m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir->filePath(QStringLiteral("home/.config")));

    const auto makeCard = [this](const QString &folder, quint32 variant) {
        QDir().mkpath(m_dir->filePath(folder));
        auto card = std::make_unique<TS::CardImage>(m_dir->filePath(folder));
        card->create("Killed Card", "A card whose transfers are interrupted", variant);
        for (int song = 0; song < 3; ++song)
            card->writeSong(song, TS::sampleSong(song, variant));
        return card;
    };
    m_card = makeCard(QStringLiteral("card"), 3);
    m_target = makeCard(QStringLiteral("target"), 5);
    const auto source = makeCard(QStringLiteral("source"), 4);
    m_library = QDir(m_dir->path()).filePath(QStringLiteral("library"));
    QVERIFY(QDir().mkpath(m_library));

    // What restore and import-song may write: the archive's songs (three with recordings, nine
    // empty) with the header and prefs, or one song into its slot.
    m_restoreRanges = {TS::CardImage::headerRange(), TS::CardImage::userPrefsRange()};
    for (int song = 0; song < 12; ++song)
        m_restoreRanges += song < 3 ? TS::CardImage::restoreRanges(song, TS::sampleSong(song, 4))
                                    : TS::CardImage::clearRanges(song);
    m_importRanges = TS::CardImage::restoreRanges(kImportSlot, TS::sampleSong(1, 4));

    m_archive = m_dir->filePath(QStringLiteral("source.mlad"));
    m_songFile = m_dir->filePath(QStringLiteral("source.mlsd"));
    for (const QStringList &made : {QStringList{"archive", source->path(), m_archive},
                                    QStringList{"export-song", source->path(), "2", m_songFile}}) {
        QProcess process;
        process.start(QStringLiteral(MORV_CARD_PATH), made);
        QVERIFY(process.waitForFinished(60000) && process.exitCode() == 0);
    }

    // Library files that must survive every run, the reference of a complete one, and how long
    // each command takes uninterrupted.
    for (const QString &command : {QStringLiteral("archive"), QStringLiteral("export-song"),
                                   QStringLiteral("restore"), QStringLiteral("import-song")}) {
        const QString out = command == QLatin1String("archive") ? libraryPath(QStringLiteral("Existing.mlad"))
                            : command == QLatin1String("export-song")
                                ? libraryPath(QStringLiteral("Existing.mlsd"))
                                : QString();
        QElapsedTimer timer;
        timer.start();
        std::unique_ptr<QProcess> process(start(command, out));
        QVERIFY(process->waitForFinished(60000));
        m_duration[command] = timer.nsecsElapsed() / 1000;
        QVERIFY2(process->exitCode() == 0, process->readAllStandardError().constData());
        if (!out.isEmpty()) {
            m_existing[QFileInfo(out).fileName()] = fileContent(out);
            m_complete[command] = fileContent(out);
            QVERIFY(!m_complete[command].isEmpty());
        }
    }
    for (const QString &copy : QDir(safetyFolder()).entryList(QDir::Files))
        m_existing[QStringLiteral("Safety Copies/") + copy] =
            fileContent(QDir(safetyFolder()).filePath(copy));
    m_cardSnapshot = std::make_unique<TS::FileSnapshot>(m_card->path());
    m_targetSnapshot = std::make_unique<TS::FileSnapshot>(m_target->path());

    m_seed = quint32(QDateTime::currentMSecsSinceEpoch());
    if (qEnvironmentVariableIsSet("MORV_KILL_SEED"))
        m_seed = quint32(qEnvironmentVariableIntValue("MORV_KILL_SEED"));
    qInfo("random kill moments from seed %u (set MORV_KILL_SEED to replay); uninterrupted runs took %lld, "
          "%lld, "
          "%lld and %lld us (archive, export-song, restore, import-song)",
          m_seed, m_duration.value(QStringLiteral("archive")),
          m_duration.value(QStringLiteral("export-song")), m_duration.value(QStringLiteral("restore")),
          m_duration.value(QStringLiteral("import-song")));
}

void TestKillRuns::cleanupTestCase()
{
    qInfo(
        "kill runs: %d (%d killed before they finished, %d finished first; the final file existed after %d)",
        m_runs, m_killed, m_finished, m_completeFound);
    // Both outcomes must have been seen, or the runs never hit the moments that matter.
    QVERIFY(m_completeFound > 0);
    QVERIFY(m_completeFound < m_runs);
    if (m_cardSnapshot)
        QVERIFY2(m_cardSnapshot->changes().isEmpty(), "the card was written");
}

void TestKillRuns::killed_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("moment");
    QTest::addColumn<int>("runs");

    // clang-format off
    //                                                command                          moment (-1: random)            runs
    QTest::newRow("archive, grid")                 << QStringLiteral("archive")     << int(Moment::Delay)          << kGridRuns;
    QTest::newRow("archive, partial appears")      << QStringLiteral("archive")     << int(Moment::PartialAppears) << kEventRuns;
    QTest::newRow("archive, final appears")        << QStringLiteral("archive")     << int(Moment::FinalAppears)   << kEventRuns;
    QTest::newRow("archive, random")               << QStringLiteral("archive")     << -1                          << kRandomRuns;
    QTest::newRow("export-song, grid")             << QStringLiteral("export-song") << int(Moment::Delay)          << kGridRuns;
    QTest::newRow("export-song, partial appears")  << QStringLiteral("export-song") << int(Moment::PartialAppears) << kEventRuns;
    QTest::newRow("export-song, final appears")    << QStringLiteral("export-song") << int(Moment::FinalAppears)   << kEventRuns;
    QTest::newRow("export-song, random")           << QStringLiteral("export-song") << -1                          << kRandomRuns;
    QTest::newRow("restore, grid")                 << QStringLiteral("restore")     << int(Moment::Delay)          << kGridRuns;
    QTest::newRow("restore, copy appears")         << QStringLiteral("restore")     << int(Moment::PartialAppears) << kEventRuns;
    QTest::newRow("restore, random")               << QStringLiteral("restore")     << -1                          << kRandomRuns;
    QTest::newRow("import-song, grid")             << QStringLiteral("import-song") << int(Moment::Delay)          << kGridRuns;
    QTest::newRow("import-song, copy appears")     << QStringLiteral("import-song") << int(Moment::PartialAppears) << kEventRuns;
    QTest::newRow("import-song, random")           << QStringLiteral("import-song") << -1                          << kRandomRuns;
    // clang-format on
}

void TestKillRuns::killed()
{
    QFETCH(QString, command);
    QFETCH(int, moment);
    QFETCH(int, runs);
    // Well past the uninterrupted run's time, so that some runs finish before the kill.
    const qint64 span = m_duration.value(command) * 2;
    QRandomGenerator random(m_seed + quint32(qHash(command)));
    QStringList failures;
    QStringList abandoned;
    for (int i = 0; i < runs; ++i) {
        int delay = 0;
        if (moment < 0)
            delay = int(random.bounded(quint32(span + 1)));
        else if (Moment(moment) == Moment::Delay)
            delay = int(span * i / (runs - 1));
        const QString problem = killOnce(command, moment < 0 ? Moment::Delay : Moment(moment), delay);
        if (!problem.isEmpty())
            failures << QStringLiteral("run %1 (kill after %2 us): %3").arg(i).arg(delay).arg(problem);
        abandoned += ageTemporaryFiles(command);
    }
    QVERIFY2(failures.isEmpty(), qPrintable(failures.mid(0, 10).join(QLatin1Char('\n'))));

    // The next library write starts by removing what the killed runs left.
    std::unique_ptr<QProcess> next(start(command, newFile(command)));
    QVERIFY(next->waitForFinished(60000) && next->exitCode() == 0);
    QFile::remove(newFile(command));
    for (const QString &path : abandoned)
        QVERIFY2(!QFileInfo::exists(path), qPrintable(path + " survived the next library write"));
    qInfo("%d temporary files of killed runs, all removed by the next write", int(abandoned.size()));
}

QString TestKillRuns::killOnce(const QString &command, Moment moment, int delayMicroseconds)
{
    const QString out = newFile(command);
    std::unique_ptr<QProcess> process(start(command, out));
    if (!process->waitForStarted(10000))
        return QStringLiteral("morv-card did not start");

    QElapsedTimer timer;
    timer.start();
    const auto appeared = [&] {
        if (moment == Moment::FinalAppears)
            return QFileInfo::exists(out);
        for (const QString &name : QDir(workFolder(command)).entryList(QDir::Files))
            if (isTemporary(name))
                return true;
        return false;
    };
    if (moment == Moment::Delay) {
        while (timer.nsecsElapsed() / 1000 < delayMicroseconds && process->state() == QProcess::Running)
            QThread::usleep(50);
    } else {
        while (!appeared() && process->state() == QProcess::Running && timer.elapsed() < 10000)
            QThread::usleep(20);
    }
    // The state alone is only updated by an event loop.
    const bool running = !process->waitForFinished(0);
    process->kill(); // SIGKILL
    process->waitForFinished(10000);
    ++m_runs;
    ++(running ? m_killed : m_finished);
    return check(command);
}

QString TestKillRuns::check(const QString &command)
{
    QString problem;
    const QString out = newFile(command);
    if (writesCard(command)) {
        const QString changed = TS::describe(m_targetSnapshot->changesOutside(
            command == QLatin1String("restore") ? m_restoreRanges : m_importRanges));
        if (!changed.isEmpty())
            problem = QStringLiteral("the card was written outside the records being restored: ") + changed;
    } else if (QFileInfo::exists(out)) {
        ++m_completeFound;
        const QByteArray content = fileContent(out);
        QProcess verify;
        verify.start(QStringLiteral(MORV_CARD_PATH), {QStringLiteral("verify"), out});
        verify.waitForFinished(30000);
        if (verify.exitStatus() != QProcess::NormalExit || verify.exitCode() != 0)
            problem = QStringLiteral("morv-card verify refused %1: %2")
                          .arg(out, QString::fromUtf8(verify.readAllStandardOutput()));
        else if (content != m_complete.value(command))
            problem = QStringLiteral("%1 holds %2 bytes, not the %3 of a complete run")
                          .arg(out)
                          .arg(content.size())
                          .arg(m_complete.value(command).size());
    }
    const QString outName = QFileInfo(out).fileName();
    for (const QString &folder : {QString(), QStringLiteral("Safety Copies/")}) {
        for (const QString &entry : QDir(libraryPath(folder)).entryList(QDir::Files | QDir::Hidden)) {
            const QString name = folder + entry;
            if (m_existing.contains(name)) {
                if (fileContent(libraryPath(name)) != m_existing.value(name))
                    problem = QStringLiteral("the existing library file %1 changed").arg(name);
            } else if (isTemporary(entry)) {
                // Left by the kill; the next library write removes it.
            } else if (!folder.isEmpty() && writesCard(command)) {
                // A finished safety copy: renamed into place only when complete.
                QFile::remove(libraryPath(name));
            } else if (name != outName) {
                problem = QStringLiteral("%1 was left in the library").arg(name);
            }
        }
    }
    for (const QString &name : m_existing.keys())
        if (!QFileInfo::exists(libraryPath(name)))
            problem = QStringLiteral("the existing library file %1 is gone").arg(name);
    QFile::remove(out);
    return problem;
}

QStringList TestKillRuns::ageTemporaryFiles(const QString &command) const
{
    QStringList paths;
    const QDir folder(workFolder(command));
    for (const QString &name : folder.entryList(QDir::Files)) {
        if (!isTemporary(name))
            continue;
        QFile file(folder.filePath(name));
        if (file.open(QIODevice::ReadWrite))
            file.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime);
        paths << folder.filePath(name);
    }
    return paths;
}

QTEST_GUILESS_MAIN(TestKillRuns)
#include "tst_killruns.moc"
