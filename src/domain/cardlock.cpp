// CardLock: flock(2) on the card file, shared by readers and held alone by a writer, with
// the holder found in /proc/locks when the card stays busy.
#include "domain/cardlock.h"

#include "domain/sdcard.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <vector>

namespace ZovaZode {

namespace {

constexpr int kRetryMilliseconds = 50;

// The locks this thread holds: flock locks of two descriptors conflict even inside one process,
// so a nested lock of the same thread reuses the outer one's descriptor.
struct HeldLock
{
    dev_t device;
    ino_t inode;
    int fd;
    CardLock::Mode mode;
    int count;
};

thread_local std::vector<HeldLock> t_held;

HeldLock *findHeld(dev_t device, ino_t inode)
{
    for (HeldLock &lock : t_held) {
        if (lock.device == device && lock.inode == inode)
            return &lock;
    }
    return nullptr;
}

// Tries until the lock is taken or the time is up; false when the card stayed busy.
bool lockWithin(int fd, CardLock::Mode mode, int waitMilliseconds)
{
    const int operation = (mode == CardLock::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (::flock(fd, operation) == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK) {
            // A file system without flock (some network shares) cannot be locked at all; the
            // operation goes on as it would have without the lock.
            qWarning() << "SD: Could not lock the card:" << qt_error_string(errno);
            return true;
        }
        if (clock.elapsed() >= waitMilliseconds)
            return false;
        QThread::msleep(kRetryMilliseconds);
    }
}

QString processName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

// The processes holding flock locks on the file, from lines such as
// "1: FLOCK  ADVISORY  WRITE 4242 fe:00:10961012 0 EOF"; waiters ("1: -> FLOCK ...") do not hold.
QList<qint64> lockHolders(dev_t device, ino_t inode)
{
    QFile file(QStringLiteral("/proc/locks"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString exact = QStringLiteral("%1:%2:%3")
                              .arg(major(device), 2, 16, QLatin1Char('0'))
                              .arg(minor(device), 2, 16, QLatin1Char('0'))
                              .arg(quint64(inode));
    const QString sameInode = QLatin1Char(':') + QString::number(quint64(inode));
    QList<qint64> exactHolders;
    QList<qint64> inodeHolders;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QStringList fields = QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() < 6 || fields.at(1) == QLatin1String("->"))
            continue;
        const qint64 pid = fields.at(4).toLongLong();
        if (pid <= 0)
            continue;
        // Layered file systems (overlayfs) report the lower file system's device here.
        if (fields.at(5) == exact)
            exactHolders << pid;
        else if (fields.at(5).endsWith(sameInode))
            inodeHolders << pid;
    }
    return exactHolders.isEmpty() ? inodeHolders : exactHolders;
}

QString busyText(dev_t device, ino_t inode)
{
    const QList<qint64> holders = lockHolders(device, inode);
    qint64 holder = 0;
    for (qint64 pid : holders) {
        // Another thread of this program shows up under its own number; someone else is likelier.
        if (holder == 0 || holder == qint64(::getpid()))
            holder = pid;
    }
    if (holder == 0)
        return QStringLiteral("The card is in use by another program. Try again when it has finished.");
    QString name = processName(holder);
    if (name.isEmpty())
        name = QStringLiteral("another program");
    return QStringLiteral("The card is in use by %1 (process %2). Try again when it has finished.")
        .arg(name)
        .arg(holder);
}

} // namespace

CardLock::CardLock(const QString &path, Mode mode, int waitMilliseconds)
{
    // Not blocking on open: a FIFO given as the card must not hang here.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return;
    }

    if (HeldLock *held = findHeld(info.st_dev, info.st_ino)) {
        ::close(fd);
        if (mode == Exclusive && held->mode == Shared) {
            // Converting lets others in for a moment (flock converts by unlocking first); the
            // operation has not written anything yet under the shared lock, so nothing is lost.
            if (!lockWithin(held->fd, Exclusive, waitMilliseconds))
                throw SdCard::Busy(busyText(info.st_dev, info.st_ino).toStdString());
            held->mode = Exclusive;
        }
        ++held->count;
    } else {
        if (!lockWithin(fd, mode, waitMilliseconds)) {
            const QString message = busyText(info.st_dev, info.st_ino);
            ::close(fd);
            throw SdCard::Busy(message.toStdString());
        }
        t_held.push_back({info.st_dev, info.st_ino, fd, mode, 1});
    }
    m_held = true;
    m_device = info.st_dev;
    m_inode = info.st_ino;
}

CardLock::~CardLock()
{
    if (!m_held)
        return;
    for (auto it = t_held.begin(); it != t_held.end(); ++it) {
        if (it->device != m_device || it->inode != m_inode)
            continue;
        if (--it->count == 0) {
            // Closing the descriptor releases the lock.
            ::close(it->fd);
            t_held.erase(it);
        }
        return;
    }
}

} // namespace ZovaZode
