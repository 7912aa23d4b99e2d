// NewFile: the temporary name, the lock that marks a file in the making, the move into place,
// the refusal that names the file and the reason, and the removal of abandoned temporary files
// (old, unlocked, plain, never through a link). That a commit never replaces a file is tested
// with the worker.
#include "domain/newfile.h"
#include "domain/songarchive.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <memory>

using namespace ZovaZode;

namespace {

bool write(const QString &path, const QByteArray &bytes = "x")
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool age(const QString &path, int seconds)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.setFileTime(QDateTime::currentDateTime().addSecs(-seconds),
                                                               QFileDevice::FileModificationTime);
}

bool lockedByOther(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const bool locked = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (fd >= 0)
        ::close(fd);
    return locked;
}

} // namespace

class TestNewFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void madeLockedAndMovedIntoPlace();
    void removedUnlessCommitted();
    void refusalNamesFileAndReason_data();
    void refusalNamesFileAndReason();
    void removeAbandoned_data();
    void removeAbandoned();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestNewFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestNewFile::madeLockedAndMovedIntoPlace()
{
    const QString target = path("Gig.mlad");
    auto file = std::make_unique<NewFile>(target);
    const NewFile other(target);
    const QRegularExpression form(QRegularExpression::escape(target) + "\\.[A-Za-z0-9]{8}\\.partial$");
    QVERIFY2(form.match(file->partialPath()).hasMatch(), qPrintable(file->partialPath()));
    QVERIFY(file->partialPath() != other.partialPath());
    QVERIFY(NewFile::isTemporaryName(QFileInfo(file->partialPath()).fileName()));

    {
        const std::unique_ptr<SongArchive> archive = file->createArchive();
        archive->setName(QStringLiteral("Gig"));
    }
    QVERIFY(lockedByOther(file->partialPath()));
    // Even when old, a file whose maker still runs is not abandoned.
    QVERIFY(age(file->partialPath(), 3600));
    QCOMPARE(NewFile::removeAbandoned(m_dir->path(), 0), QStringList());

    file->commit();
    QVERIFY(QFile::exists(target));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"Gig.mlad"});
    file.reset();
    QVERIFY(QFile::exists(target));
    QCOMPARE(SongArchive(target, 0, 0).name(), QStringLiteral("Gig"));
}

void TestNewFile::removedUnlessCommitted()
{
    // A file at the temporary name that NewFile did not make is not its to remove.
    QString planted;
    {
        NewFile file(path("Song.mlsd"));
        QVERIFY(write(file.partialPath(), "someone else's"));
        planted = file.partialPath();
    }
    QVERIFY(QFile::exists(planted));
    QVERIFY(QFile::remove(planted));
    {
        NewFile file(path("Song.mlsd"));
        file.createArchive();
        QVERIFY(QFile::exists(file.partialPath()));
    }
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestNewFile::refusalNamesFileAndReason_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    // clang-format off
    QTest::newRow("no folder")      << "missing/Gig.mlad"                   << "No such file or directory";
    QTest::newRow("name too long")  << QString(240, 'x') + ".mlad"           << "File name too long";
    // clang-format on
}

void TestNewFile::refusalNamesFileAndReason()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    NewFile file(path(name));
    try {
        file.createArchive();
        QFAIL("the file was made");
    } catch (const SongArchive::Error &error) {
        QCOMPARE(QString::fromUtf8(error.what()), "Could not create " + path(name) + ": " + reason + ".");
    }
}

void TestNewFile::removeAbandoned_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("age");      // seconds since the file was last written
    QTest::addColumn<QString>("kind"); // "file", "locked", "symlink", "hardlink", "deep"
    QTest::addColumn<bool>("removed");

    // clang-format off
    QTest::newRow("abandoned")            << "Gig.mlad.Ab3dE6gH.partial" << 3600 << "file"     << true;
    QTest::newRow("abandoned song")       << "Gig.mlsd.Ab3dE6gH.partial" << 3600 << "file"     << true;
    QTest::newRow("old form")             << "Gig.mlad.partial"          << 3600 << "file"     << true;
    QTest::newRow("demo card")            << "ZOVAZODE.DAT.Ab3dE6gH.partial" << 3600 << "file" << true;
    QTest::newRow("not ours: a card")     << "ZOVAZODE.DAT.partial"      << 3600 << "file"     << false;
    QTest::newRow("in a sub-folder")      << "sub/Gig.mlad.Ab3dE6gH.partial" << 3600 << "file" << true;
    QTest::newRow("too deep")             << "sub/Gig.mlad.Ab3dE6gH.partial" << 3600 << "deep" << false;
    QTest::newRow("young")                << "Gig.mlad.Ab3dE6gH.partial" << 5    << "file"     << false;
    QTest::newRow("maker still running")  << "Gig.mlad.Ab3dE6gH.partial" << 3600 << "locked"   << false;
    QTest::newRow("symbolic link")        << "Gig.mlad.Ab3dE6gH.partial" << 3600 << "symlink"  << false;
    QTest::newRow("hard link")            << "Gig.mlad.Ab3dE6gH.partial" << 3600 << "hardlink" << false;
    QTest::newRow("not ours: other kind") << "notes.txt.partial"         << 3600 << "file"     << false;
    QTest::newRow("not ours: no suffix")  << "Gig.mlad"                  << 3600 << "file"     << false;
    // clang-format on
}

void TestNewFile::removeAbandoned()
{
    QFETCH(QString, name);
    QFETCH(int, age);
    QFETCH(QString, kind);
    QFETCH(bool, removed);

    const QString file = path("library/" + name);
    QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
    const QString victim = path("victim");
    QVERIFY(write(victim, "precious"));
    if (kind == QLatin1String("symlink"))
        QVERIFY(QFile::link(victim, file));
    else if (kind == QLatin1String("hardlink"))
        QCOMPARE(::link(QFile::encodeName(victim).constData(), QFile::encodeName(file).constData()), 0);
    else
        QVERIFY(write(file));
    QVERIFY(::age(kind == QLatin1String("symlink") ? victim : file, age));
    int held = -1;
    if (kind == QLatin1String("locked")) {
        held = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
        QCOMPARE(::flock(held, LOCK_EX), 0);
    }

    const QStringList gone = NewFile::removeAbandoned(path("library"), kind == QLatin1String("deep") ? 0 : 1);
    if (held >= 0)
        ::close(held);
    QCOMPARE(gone, removed ? QStringList{file} : QStringList());
    QCOMPARE(QFileInfo(file).exists() || QFileInfo(file).isSymLink(), !removed);
    QFile kept(victim);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("precious"));
}

QTEST_GUILESS_MAIN(TestNewFile)
#include "tst_newfile.moc"
