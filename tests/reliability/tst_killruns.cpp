// Crash safety of the library files: `morv-card archive` and `morv-card export-song` killed
// with SIGKILL at chosen and at random moments. Afterwards the new file's final path either
// does not exist or holds a complete archive that `morv-card verify` accepts and that is byte
// for byte the one an uninterrupted run writes; the files already in the library and the card
// are untouched, and nothing but the new file and its ".partial" is left in the library.
//
// The moments: a grid over the time an uninterrupted run takes, the moment the ".partial" file
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

constexpr int kGridRuns = 40;
constexpr int kEventRuns = 10;
constexpr int kRandomRuns = 60;

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
    QString libraryPath(const QString &name) const { return QDir(m_library).filePath(name); }
    QStringList arguments(const QString &command, const QString &out) const;
    // Starts the command, kills it at the moment, and returns a broken promise or an empty text.
    QString killOnce(const QString &command, Moment moment, int delayMicroseconds);
    QString check(const QString &command, const QString &out);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TS::CardImage> m_card;
    std::unique_ptr<TS::FileSnapshot> m_cardSnapshot;
    QString m_library;
    QMap<QString, QByteArray> m_existing;
    QMap<QString, QByteArray> m_complete; // what an uninterrupted run writes, per command
    QMap<QString, qint64> m_duration;     // microseconds of an uninterrupted run
    int m_runs = 0;
    int m_killed = 0;
    int m_finished = 0;
    int m_completeFound = 0; // runs after which the final file existed
    quint32 m_seed = 0;
};

QStringList TestKillRuns::arguments(const QString &command, const QString &out) const
{
    if (command == QLatin1String("archive"))
        return {QStringLiteral("archive"), m_card->path(), out, QStringLiteral("--quiet")};
    return {QStringLiteral("export-song"), m_card->path(), QStringLiteral("1"), out,
            QStringLiteral("--quiet")};
}

void TestKillRuns::initTestCase()
{
    m_dir = std::make_unique<QTemporaryDir>(TS::scratchFolderTemplate());
    QVERIFY(m_dir->isValid());
    m_card = std::make_unique<TS::CardImage>(m_dir->path());
    m_card->create("Killed Card", "A card whose archiving is interrupted");
    for (int song = 0; song < 3; ++song)
        m_card->writeSong(song, TS::sampleSong(song, 3));
    m_cardSnapshot = std::make_unique<TS::FileSnapshot>(m_card->path());
    m_library = QDir(m_dir->path()).filePath(QStringLiteral("library"));
    QVERIFY(QDir().mkpath(m_library));

    // Library files that must survive every run, and the reference of a complete one.
    for (const QString &command : {QStringLiteral("archive"), QStringLiteral("export-song")}) {
        const QString name = command == QLatin1String("archive") ? QStringLiteral("Existing.mlad")
                                                                 : QStringLiteral("Existing.mlsd");
        QProcess process;
        QElapsedTimer timer;
        timer.start();
        process.start(QStringLiteral(MORV_CARD_PATH), arguments(command, libraryPath(name)));
        QVERIFY(process.waitForFinished(60000));
        m_duration[command] = timer.nsecsElapsed() / 1000;
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        m_existing[name] = fileContent(libraryPath(name));
        m_complete[command] = m_existing[name];
        QVERIFY(!m_complete[command].isEmpty());
    }
    m_seed = quint32(QDateTime::currentMSecsSinceEpoch());
    if (qEnvironmentVariableIsSet("MORV_KILL_SEED"))
        m_seed = quint32(qEnvironmentVariableIntValue("MORV_KILL_SEED"));
    qInfo("random kill moments from seed %u (set MORV_KILL_SEED to replay); uninterrupted runs took %lld us "
          "(archive) and %lld us (export-song)",
          m_seed, m_duration.value(QStringLiteral("archive")),
          m_duration.value(QStringLiteral("export-song")));
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
    for (int i = 0; i < runs; ++i) {
        int delay = 0;
        if (moment < 0)
            delay = int(random.bounded(quint32(span + 1)));
        else if (Moment(moment) == Moment::Delay)
            delay = int(span * i / (runs - 1));
        const QString problem = killOnce(command, moment < 0 ? Moment::Delay : Moment(moment), delay);
        if (!problem.isEmpty())
            failures << QStringLiteral("run %1 (kill after %2 us): %3").arg(i).arg(delay).arg(problem);
    }
    QVERIFY2(failures.isEmpty(), qPrintable(failures.mid(0, 10).join(QLatin1Char('\n'))));
}

QString TestKillRuns::killOnce(const QString &command, Moment moment, int delayMicroseconds)
{
    const QString out = libraryPath(command == QLatin1String("archive") ? QStringLiteral("New.mlad")
                                                                        : QStringLiteral("New.mlsd"));
    const QString partial = out + QLatin1String(".partial");
    QProcess process;
    process.start(QStringLiteral(MORV_CARD_PATH), arguments(command, out));
    if (!process.waitForStarted(10000))
        return QStringLiteral("morv-card did not start");

    QElapsedTimer timer;
    timer.start();
    const QString awaited = moment == Moment::PartialAppears ? partial : out;
    if (moment == Moment::Delay) {
        while (timer.nsecsElapsed() / 1000 < delayMicroseconds && process.state() == QProcess::Running)
            QThread::usleep(50);
    } else {
        while (!QFileInfo::exists(awaited) && process.state() == QProcess::Running && timer.elapsed() < 10000)
            QThread::usleep(20);
    }
    const bool running = process.state() == QProcess::Running;
    process.kill(); // SIGKILL
    process.waitForFinished(10000);
    ++m_runs;
    ++(running ? m_killed : m_finished);
    return check(command, out);
}

QString TestKillRuns::check(const QString &command, const QString &out)
{
    QString problem;
    if (QFileInfo::exists(out)) {
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
    const QString partialName = QFileInfo(out).fileName() + QLatin1String(".partial");
    for (const QString &name : QDir(m_library).entryList(QDir::Files | QDir::Hidden)) {
        if (m_existing.contains(name)) {
            if (fileContent(libraryPath(name)) != m_existing.value(name))
                problem = QStringLiteral("the existing library file %1 changed").arg(name);
        } else if (name != QFileInfo(out).fileName() && name != partialName) {
            problem = QStringLiteral("%1 was left in the library").arg(name);
        }
    }
    for (const QString &name : m_existing.keys())
        if (!QFileInfo::exists(libraryPath(name)))
            problem = QStringLiteral("the existing library file %1 is gone").arg(name);
    QFile::remove(out);
    QFile::remove(out + QLatin1String(".partial"));
    return problem;
}

QTEST_GUILESS_MAIN(TestKillRuns)
#include "tst_killruns.moc"
