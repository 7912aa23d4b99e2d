// CardLock: shared readers, one writer, the wait and the refusal that names the holder, nested
// locks of one thread, and files that are not locked at all.
#include "domain/cardlock.h"
#include "domain/sdcard.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <thread>

using namespace ZovaZode;

namespace {

// A lock on the card held through a descriptor of its own, as another program holds it.
class Holder
{
public:
    Holder(const QString &path, int operation)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC))
    {
        if (m_fd < 0 || ::flock(m_fd, operation) != 0)
            qFatal("cannot hold the test lock");
    }
    ~Holder() { release(); }
    void release()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

QString busyText()
{
    return QStringLiteral("The card is in use by tst_cardlock (process %1). Try again when it has finished.")
        .arg(::getpid());
}

// The refusal's text, or "locked" when the lock was taken.
QString attempt(const QString &path, CardLock::Mode mode, int wait)
{
    try {
        const CardLock lock(path, mode, wait);
    } catch (const SdCard::Busy &busy) {
        return QString::fromUtf8(busy.what());
    }
    return QStringLiteral("locked");
}

} // namespace

class TestCardLock : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void againstAnotherHolder_data();
    void againstAnotherHolder();
    void waitsForAWriterToFinish();
    void nestedInOneThread();
    void anotherThreadIsAnotherHolder();
    void notLocked_data();
    void notLocked();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_card;
};

void TestCardLock::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_card = m_dir->filePath(QStringLiteral("ZOVAZODE.DAT"));
    QFile file(m_card);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("MLSD");
}

void TestCardLock::againstAnotherHolder_data()
{
    QTest::addColumn<int>("held"); // 0: nothing, else LOCK_SH or LOCK_EX
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("taken");

    // clang-format off
    QTest::newRow("free, shared")          << 0       << int(CardLock::Shared)    << true;
    QTest::newRow("free, exclusive")       << 0       << int(CardLock::Exclusive) << true;
    QTest::newRow("reader, shared")        << LOCK_SH << int(CardLock::Shared)    << true;
    QTest::newRow("reader, exclusive")     << LOCK_SH << int(CardLock::Exclusive) << false;
    QTest::newRow("writer, shared")        << LOCK_EX << int(CardLock::Shared)    << false;
    QTest::newRow("writer, exclusive")     << LOCK_EX << int(CardLock::Exclusive) << false;
    // clang-format on
}

void TestCardLock::againstAnotherHolder()
{
    QFETCH(int, held);
    QFETCH(int, mode);
    QFETCH(bool, taken);

    std::unique_ptr<Holder> holder;
    if (held != 0)
        holder = std::make_unique<Holder>(m_card, held);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(attempt(m_card, CardLock::Mode(mode), 300), taken ? QStringLiteral("locked") : busyText());
    // A refusal comes only after the wait.
    QCOMPARE(clock.elapsed() >= 300, !taken);
}

void TestCardLock::waitsForAWriterToFinish()
{
    auto holder = std::make_unique<Holder>(m_card, LOCK_EX);
    std::thread release([&holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        holder->release();
    });
    QCOMPARE(attempt(m_card, CardLock::Exclusive, 3000), QStringLiteral("locked"));
    release.join();
}

// An operation holding the lock calls code that takes it again: that must not wait for itself.
void TestCardLock::nestedInOneThread()
{
    {
        const CardLock outer(m_card, CardLock::Shared);
        QCOMPARE(attempt(m_card, CardLock::Shared, 0), QStringLiteral("locked"));
        // A writer inside a reader converts the lock.
        QCOMPARE(attempt(m_card, CardLock::Exclusive, 0), QStringLiteral("locked"));
    }
    {
        const CardLock outer(m_card, CardLock::Exclusive);
        QCOMPARE(attempt(m_card, CardLock::Exclusive, 0), QStringLiteral("locked"));
        QCOMPARE(attempt(m_card, CardLock::Shared, 0), QStringLiteral("locked"));
        // Still held after the inner locks let go.
        const int fd = ::open(QFile::encodeName(m_card).constData(), O_RDONLY | O_CLOEXEC);
        QCOMPARE(::flock(fd, LOCK_SH | LOCK_NB), -1);
        ::close(fd);
    }
    // And released with the outer one.
    QCOMPARE(attempt(m_card, CardLock::Exclusive, 0), QStringLiteral("locked"));
}

// The window's thread and its transfer thread keep off each other's card, as two programs do.
void TestCardLock::anotherThreadIsAnotherHolder()
{
    const CardLock writer(m_card, CardLock::Exclusive);
    QString result;
    std::thread other([&] { result = attempt(m_card, CardLock::Shared, 100); });
    other.join();
    QCOMPARE(result, busyText());
}

void TestCardLock::notLocked_data()
{
    QTest::addColumn<QString>("kind");
    // clang-format off
    QTest::newRow("missing file") << "missing";
    QTest::newRow("fifo")         << "fifo";
    QTest::newRow("folder")       << "folder";
    // clang-format on
}

// Nothing to lock, nothing thrown, and no wait: opening the card then fails with its own error.
void TestCardLock::notLocked()
{
    QFETCH(QString, kind);
    const QString path = m_dir->filePath(QStringLiteral("other"));
    if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(path));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(attempt(path, CardLock::Exclusive, 3000), QStringLiteral("locked"));
    QVERIFY(clock.elapsed() < 1000);
}

QTEST_GUILESS_MAIN(TestCardLock)
#include "tst_cardlock.moc"
