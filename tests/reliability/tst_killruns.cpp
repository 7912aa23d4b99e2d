// Crash safety: morv-card killed with SIGKILL while it writes a library file (`archive`,
// `export-song`) or a card (`restore`, `import-song`, each with its safety copy first), on a grid
// over an uninterrupted run's time, when a temporary or the final file appears, and at random
// moments from a printed seed (replay with MORV_KILL_SEED). A library file is then absent or
// complete, a card never written outside the records being restored and each of its pages there
// either as it was or as a complete run leaves it (the card shares a song with the archive, so
// that the restore leaves out what it holds already), the existing files untouched, and the next
// library write removes the temporary files of killed runs, a line each.
#include "support/cardimage.h"
#include "support/filesnapshot.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

namespace TS = ZovaZode::TestSupport;

namespace {

bool isTemporary(const QString &name)
{
    static const QRegularExpression form(QStringLiteral("\\.[A-Za-z0-9]{8}\\.partial$"));
    return form.match(name).hasMatch();
}

bool writesCard(const QString &command)
{
    return command == QLatin1String("restore") || command == QLatin1String("import-song");
}

enum Moment { Delay, TemporaryAppears, FinalAppears, Random };

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
    QString library(const QString &name = QString()) const { return m_dir.filePath("library/" + name); }
    // Where the command's temporary files appear, and the file it makes.
    QString workFolder(const QString &command) const { return library(writesCard(command) ? "Safety Copies" : ""); }
    QString output(const QString &command) const { return library(command == "archive" ? "New.mlad" : "New.mlsd"); }
    std::unique_ptr<QProcess> start(const QString &command, const QString &out) const;
    // Kills the command at the moment; returns a broken promise or an empty text.
    QString killOnce(const QString &command, Moment moment, qint64 delayMicroseconds);
    QMap<QString, QByteArray> libraryFiles() const;
    void resetTarget() const;

    QTemporaryDir m_dir{TS::scratchFolderTemplate()};
    std::unique_ptr<TS::CardImage> m_card, m_target; // read by archive and export-song; written by the others
    std::unique_ptr<TS::FileSnapshot> m_cardSnapshot, m_targetSnapshot;
    QMap<QString, QVector<TS::ByteRange>> m_cardWrites; // what restore and import-song may write
    QMap<QString, QVector<QByteArray>> m_before, m_after; // those ranges before a run and after one
    QMap<QString, QByteArray> m_existing;               // library files that must survive every run
    QMap<QString, QByteArray> m_complete;               // what an uninterrupted run writes
    QMap<QString, qint64> m_duration;                   // microseconds of an uninterrupted run
    int m_runs = 0, m_killed = 0, m_completeFound = 0;
    quint32 m_seed = quint32(QDateTime::currentMSecsSinceEpoch());
};

std::unique_ptr<QProcess> TestKillRuns::start(const QString &command, const QString &out) const
{
    // The tool reads the window's settings for the safety copies: never the user's own.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", m_dir.filePath("home"));
    environment.insert("XDG_CONFIG_HOME", m_dir.filePath("home/.config"));
    const QStringList safety{"--yes", "--safety-dir", library(), "--quiet"};
    QStringList arguments{command, m_card->path(), out, "--quiet"};
    if (command == "export-song")
        arguments = QStringList{command, m_card->path(), "1", out, "--quiet"};
    else if (command == "restore")
        arguments = QStringList{command, m_dir.filePath("source.mlad"), m_target->path()} + safety;
    else if (command == "import-song")
        arguments = QStringList{command, m_dir.filePath("source.mlsd"), m_target->path(), "8"} + safety;
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->start(MORV_CARD_PATH, arguments);
    return process;
}

QMap<QString, QByteArray> TestKillRuns::libraryFiles() const
{
    QMap<QString, QByteArray> files;
    for (const QString &folder : {QString(), QStringLiteral("Safety Copies/")}) {
        for (const QString &name : QDir(library(folder)).entryList(QDir::Files | QDir::Hidden))
            files.insert(folder + name, TS::wholeFile(library(folder + name)));
    }
    return files;
}

// The card that restore and import-song overwrite: its song 1 is the archive's already; slot 8,
// which import-song overwrites, is in use (so a safety copy is made first).
void TestKillRuns::resetTarget() const
{
    m_target->create("Killed Card", "A card whose transfers are interrupted", 5);
    for (int song : {0, 1, 2, 7})
        m_target->writeSong(song, TS::sampleSong(song, song == 0 ? 4 : 5));
}

void TestKillRuns::initTestCase()
{
    const auto makeCard = [this](const QString &folder, quint32 variant) {
        QDir().mkpath(m_dir.filePath(folder));
        auto card = std::make_unique<TS::CardImage>(m_dir.filePath(folder));
        card->create("Killed Card", "A card whose transfers are interrupted", variant);
        for (int song = 0; song < 3; ++song)
            card->writeSong(song, TS::sampleSong(song, variant));
        return card;
    };
    m_card = makeCard("card", 3);
    m_target = makeCard("target", 5);
    const auto source = makeCard("source", 4);
    QVERIFY(QDir().mkpath(library()));
    for (const QStringList &made :
         {QStringList{"archive", source->path(), m_dir.filePath("source.mlad")},
          QStringList{"export-song", source->path(), "2", m_dir.filePath("source.mlsd")}})
        QCOMPARE(QProcess::execute(MORV_CARD_PATH, made), 0);

    // The archive's songs (three with recordings, nine empty) with the header and prefs, or one
    // song into slot 8.
    m_cardWrites["restore"] = {TS::cardHeaderRange(), TS::cardUserPrefsRange()};
    for (int song = 0; song < 12; ++song)
        m_cardWrites["restore"] += song < 3 ? TS::CardImage::restoreRanges(song, TS::sampleSong(song, 4))
                                            : TS::CardImage::clearRanges(song);
    m_cardWrites["import-song"] = TS::CardImage::restoreRanges(7, TS::sampleSong(1, 4));

    // An uninterrupted run of each command: the library files that must survive every run, what
    // a complete run writes, and how long it takes.
    const auto written = [this](const QString &command) {
        QVector<QByteArray> bytes;
        for (const TS::ByteRange &range : m_cardWrites[command])
            bytes << m_target->read(range);
        return bytes;
    };
    for (const QString &command : QStringList{"archive", "export-song", "restore", "import-song"}) {
        const QString out = writesCard(command) ? QString() : library("Existing" + output(command).right(5));
        resetTarget();
        m_before[command] = written(command);
        QElapsedTimer timer;
        timer.start();
        std::unique_ptr<QProcess> process = start(command, out);
        QVERIFY(process->waitForFinished(60000) && process->exitCode() == 0);
        m_duration[command] = timer.nsecsElapsed() / 1000;
        m_complete[command] = TS::wholeFile(out);
        m_after[command] = written(command);
    }
    resetTarget();
    m_existing = libraryFiles();
    m_cardSnapshot = std::make_unique<TS::FileSnapshot>(m_card->path());
    m_targetSnapshot = std::make_unique<TS::FileSnapshot>(m_target->path());
    if (qEnvironmentVariableIsSet("MORV_KILL_SEED"))
        m_seed = quint32(qEnvironmentVariableIntValue("MORV_KILL_SEED"));
    qInfo("random kill moments from seed %u", m_seed);
}

void TestKillRuns::cleanupTestCase()
{
    qInfo("kill runs: %d, %d killed before they finished; the final file existed after %d", m_runs, m_killed,
          m_completeFound);
    // Both outcomes must have been seen, or the runs never hit the moments that matter.
    QVERIFY(m_completeFound > 0 && m_completeFound < m_runs);
    QVERIFY2(!m_cardSnapshot || m_cardSnapshot->changes().isEmpty(), "the card was written");
}

void TestKillRuns::killed_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("moment");
    QTest::addColumn<int>("runs");

    // Each command on a grid of 16 moments, 20 random ones, and 5 times each when a temporary file
    // appears (for a card command, its safety copy's) and, for a library file, when the final one does.
    const char *const moments[] = {"grid", "temporary", "final", "random"};
    for (const QString command : {"archive", "export-song", "restore", "import-song"}) {
        for (int moment = Delay; moment <= Random; ++moment) {
            if (moment != FinalAppears || !writesCard(command))
                QTest::addRow("%s, %s", qPrintable(command), moments[moment])
                    << command << moment << (moment == Delay ? 16 : moment == Random ? 20 : 5);
        }
    }
}

void TestKillRuns::killed()
{
    QFETCH(QString, command);
    QFETCH(int, moment);
    QFETCH(int, runs);

    // Well past the uninterrupted run's time, so that some runs finish before the kill.
    const qint64 span = m_duration.value(command) * 2;
    QRandomGenerator random(m_seed + quint32(qHash(command)));
    QStringList failures, abandoned;
    for (int i = 0; i < runs; ++i) {
        const qint64 delay =
            moment == Random ? qint64(random.bounded(quint32(span + 1))) : span * i / (runs - 1);
        const QString problem = killOnce(command, Moment(moment), delay);
        if (!problem.isEmpty())
            failures << QStringLiteral("run %1 (kill after %2 us): %3").arg(i).arg(delay).arg(problem);
        // The temporary files left are made old enough to count as abandoned.
        for (const QString &name : QDir(workFolder(command)).entryList(QDir::Files)) {
            QFile file(QDir(workFolder(command)).filePath(name));
            if (!isTemporary(name))
                continue;
            if (file.open(QIODevice::ReadWrite))
                file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                 QFileDevice::FileModificationTime);
            abandoned << file.fileName();
        }
    }
    QVERIFY2(failures.isEmpty(), qPrintable(failures.mid(0, 10).join(QLatin1Char('\n'))));

    // The next library write starts by removing what the killed runs left (a later killed run may
    // have removed some already), a line each.
    abandoned.removeDuplicates();
    const auto left = std::count_if(abandoned.begin(), abandoned.end(),
                                    [](const QString &path) { return QFileInfo::exists(path); });
    const std::unique_ptr<QProcess> next = start(command, output(command));
    QVERIFY(next->waitForFinished(60000) && next->exitCode() == 0);
    QFile::remove(output(command));
    QFile::remove(output(command) + ".sum");
    resetTarget();
    const QString said = QString::fromUtf8(next->readAllStandardError());
    QCOMPARE(said.count("morv-card: removed a temporary file left by a stopped transfer: \"" + workFolder(command)), int(left));
    for (const QString &path : abandoned)
        QVERIFY2(!QFileInfo::exists(path), qPrintable(path + " survived the next library write"));
}

QString TestKillRuns::killOnce(const QString &command, Moment moment, qint64 delayMicroseconds)
{
    const QString out = output(command);
    std::unique_ptr<QProcess> process = start(command, out);
    if (!process->waitForStarted(10000))
        return QStringLiteral("morv-card did not start");
    QElapsedTimer timer;
    timer.start();
    const auto appeared = [&] {
        if (moment == FinalAppears)
            return QFileInfo::exists(out);
        const QStringList names = QDir(workFolder(command)).entryList(QDir::Files);
        return std::any_of(names.begin(), names.end(), isTemporary);
    };
    while (process->state() == QProcess::Running &&
           (moment == Delay || moment == Random ? timer.nsecsElapsed() / 1000 < delayMicroseconds
                                                : !appeared() && timer.elapsed() < 10000))
        QThread::usleep(20);
    // The state alone is only updated by an event loop.
    m_killed += process->waitForFinished(0) ? 0 : 1;
    process->kill(); // SIGKILL
    process->waitForFinished(10000);
    ++m_runs;

    QString problem;
    if (writesCard(command)) {
        const QString changed = TS::describe(m_targetSnapshot->changesOutside(m_cardWrites[command]));
        if (!changed.isEmpty())
            problem = "the card was written outside the records being restored: " + changed;
        // A kill lands between two writes, or cuts one at a page.
        const QVector<TS::ByteRange> &ranges = m_cardWrites[command];
        for (int i = 0; i < ranges.size(); ++i) {
            const QByteArray now = m_target->read(ranges[i]);
            for (qint64 at = 0, next = 0; at < now.size(); at = next) {
                next =
                    qMin(qint64(now.size()), (ranges[i].start + at) / 4096 * 4096 + 4096 - ranges[i].start);
                const auto page = [&](const QByteArray &bytes) { return bytes.mid(int(at), int(next - at)); };
                if (page(now) != page(m_before[command][i]) && page(now) != page(m_after[command][i]))
                    problem =
                        QStringLiteral("the card's byte %1 is neither old nor new").arg(ranges[i].start + at);
            }
        }
        resetTarget();
    } else if (QFileInfo::exists(out)) {
        ++m_completeFound;
        QProcess verify;
        verify.start(MORV_CARD_PATH, {"verify", out});
        if (!verify.waitForFinished(30000) || verify.exitCode() != 0 || TS::wholeFile(out) != m_complete[command])
            problem = out + " is not the archive of a complete run: " + verify.readAllStandardOutput();
    }
    const QMap<QString, QByteArray> files = libraryFiles();
    for (auto it = m_existing.cbegin(); it != m_existing.cend(); ++it) {
        if (files.value(it.key()) != it.value())
            problem = "the existing library file " + it.key() + " changed";
    }
    for (const QString &name : files.keys()) {
        // Left by the kill (the next library write removes it); a finished safety copy is renamed
        // into place only when complete. The record of how the new file was made goes first.
        if (m_existing.contains(name) || isTemporary(name) || name == "New" + out.right(5) ||
            name == "New" + out.right(5) + ".sum")
            continue;
        if (writesCard(command) && name.startsWith("Safety Copies/"))
            QFile::remove(library(name));
        else
            problem = name + " was left in the library";
    }
    QFile::remove(out);
    QFile::remove(out + ".sum");
    return problem;
}

MORV_TEST_MAIN(TestKillRuns)
#include "tst_killruns.moc"
