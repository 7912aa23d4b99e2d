// CardLock: shared readers, one writer, the wait and the refusal that names the holder, nested
// locks of one thread, another thread as another holder, and files that are not locked at all.
#include "domain/cardlock.h"
#include "domain/sdcard.h"

#include <QElapsedTimer>
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
    void lock_data();
    void lock();

private:
    QTemporaryDir m_dir;
};

void TestCardLock::lock_data()
{
    QTest::addColumn<QString>("file");   // "card" or "fifo"
    QTest::addColumn<QString>("holder"); // "" none, "reader"/"writer" another process, "thread", "self"
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("releaseAfter"); // ms after which the holder lets go; -1 never
    QTest::addColumn<bool>("taken");

    const int shared = CardLock::Shared, exclusive = CardLock::Exclusive;
    // clang-format off
    //                                   file       holder      mode        releaseAfter taken
    QTest::newRow("free, exclusive")  << "card"   << ""       << exclusive << -1  << true;
    QTest::newRow("reader, shared")   << "card"   << "reader" << shared    << -1  << true;
    QTest::newRow("reader, writer")   << "card"   << "reader" << exclusive << -1  << false;
    QTest::newRow("writer, shared")   << "card"   << "writer" << shared    << -1  << false;
    QTest::newRow("writer finishes")  << "card"   << "writer" << exclusive << 150 << true;
    QTest::newRow("other thread")     << "card"   << "thread" << shared    << -1  << false;
    // An operation holding the lock calls code that takes it again: it must not wait for itself.
    QTest::newRow("nested")           << "card"   << "self"   << exclusive << -1  << true;
    // Nothing to lock (a fifo would block the open), nothing thrown, and no wait.
    QTest::newRow("fifo")             << "fifo"   << ""       << exclusive << -1  << true;
    // clang-format on
}

void TestCardLock::lock()
{
    QFETCH(QString, file);
    QFETCH(QString, holder);
    QFETCH(int, mode);
    QFETCH(int, releaseAfter);
    QFETCH(bool, taken);

    const QString path = m_dir.filePath(QString(QTest::currentDataTag()));
    const QByteArray native = QFile::encodeName(path);
    if (file == "card")
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
    else if (file == "fifo")
        QCOMPARE(::mkfifo(native.constData(), 0600), 0);
    int fd = -1;
    std::unique_ptr<CardLock> own;
    if (holder == "reader" || holder == "writer") {
        fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
        QCOMPARE(::flock(fd, holder == "reader" ? LOCK_SH : LOCK_EX), 0);
    } else if (holder == "thread") {
        own = std::make_unique<CardLock>(path, CardLock::Exclusive);
    } else if (holder == "self") {
        own = std::make_unique<CardLock>(path, CardLock::Shared);
    }
    std::thread release([&] {
        if (releaseAfter >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(releaseAfter));
            ::close(fd);
        }
    });
    const QString busy =
        QStringLiteral("The card is in use by tst_cardlock (process %1). Try again when it has finished.")
            .arg(::getpid());
    QElapsedTimer clock;
    clock.start();
    QString result;
    if (holder == "thread")
        std::thread([&] { result = attempt(path, CardLock::Mode(mode), 300); }).join();
    else
        result = attempt(path, CardLock::Mode(mode), releaseAfter >= 0 ? 3000 : 300);
    release.join();
    QCOMPARE(result, taken ? QStringLiteral("locked") : busy);
    // A refusal comes only after the wait; a lock that is free is taken without one.
    if (!taken)
        QVERIFY(clock.elapsed() >= 300);
    else if (releaseAfter < 0)
        QVERIFY(clock.elapsed() < 1000);
    if (holder == "self") {
        // The outer lock is still held after the inner one let go, and released with it.
        const int other = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
        QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), -1);
        own.reset();
        QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), 0);
        ::close(other);
    }
    if (releaseAfter < 0 && fd >= 0)
        ::close(fd);
}

QTEST_GUILESS_MAIN(TestCardLock)
#include "tst_cardlock.moc"
