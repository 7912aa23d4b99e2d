// CardLock: flock(2) on the card file, or an open file description lock where the file system
// has no flock, shared by readers and held alone by a writer, with the holder found in
// /proc/locks when the card stays busy.
#include "domain/cardlock.h"

#include "domain/sdcard.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QThread>

#include <atomic>
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

// How a descriptor came to be locked.
enum Kind { Untried, Flock, Ofd, Unlocked };
enum class Outcome { Taken, Busy, Impossible };

int systemOfd(int fd, short type)
{
    struct ::flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &lock);
}

std::atomic<int (*)(int, int)> g_flock{&::flock};
std::atomic<int (*)(int, short)> g_ofd{&systemOfd};
std::atomic<bool> g_withoutLock{false};

// The locks this thread holds, its own and those lent to it: flock and open file description
// locks of two descriptors conflict even inside one process, so a nested lock of the same
// thread reuses the outer one's descriptor. The latest of a file comes last.
struct HeldLock
{
    dev_t device;
    ino_t inode;
    int fd;
    CardLock::Mode mode;
    int kind;
    int count;
};

thread_local std::vector<HeldLock> t_held;

HeldLock *findHeld(dev_t device, ino_t inode)
{
    for (auto it = t_held.rbegin(); it != t_held.rend(); ++it) {
        if (it->device == device && it->inode == inode)
            return &*it;
    }
    return nullptr;
}

// One try with the kind of lock the descriptor has, or, untried, flock and then an open file
// description lock.
Outcome attempt(int fd, CardLock::Mode mode, int *kind, int *error)
{
    *error = EOPNOTSUPP;
    if (*kind == Unlocked)
        return Outcome::Impossible;
    if (*kind != Ofd) {
        int result;
        do
            result = g_flock.load()(fd, (mode == CardLock::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
        while (result != 0 && errno == EINTR);
        if (result == 0) {
            *kind = Flock;
            return Outcome::Taken;
        }
        if (errno == EWOULDBLOCK)
            return Outcome::Busy;
        *error = errno;
        if (*kind == Flock)
            return Outcome::Impossible;
    }
    int result;
    do
        result = g_ofd.load()(fd, mode == CardLock::Exclusive ? F_WRLCK : F_RDLCK);
    while (result != 0 && errno == EINTR);
    if (result == 0) {
        *kind = Ofd;
        return Outcome::Taken;
    }
    if (errno == EAGAIN || errno == EACCES)
        return Outcome::Busy;
    if (errno == EBADF && *kind == Untried) {
        // A write lock needs a descriptor open for writing: a card this program cannot open so
        // cannot be written by it either.
        *kind = Unlocked;
        return Outcome::Taken;
    }
    return Outcome::Impossible;
}

// Tries until the lock is taken, found impossible, or the time is up (Busy).
Outcome lockWithin(int fd, CardLock::Mode mode, int waitMilliseconds, int *kind, int *error)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const Outcome outcome = attempt(fd, mode, kind, error);
        if (outcome != Outcome::Busy || clock.elapsed() >= waitMilliseconds)
            return outcome;
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

// The processes holding locks on the file, from lines such as
// "1: FLOCK  ADVISORY  WRITE 4242 fe:00:10961012 0 EOF"; waiters ("1: -> FLOCK ...") do not
// hold, and open file description locks show no process (-1).
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

QString unlockableText(int error)
{
    return QStringLiteral("%1 where it is stored (%2), so another program could change it at the same "
                          "time; nothing was written.")
        .arg(QLatin1String(CardLock::UnlockablePrefix), qt_error_string(error));
}

// Not blocking on open: a FIFO given as the card must not hang here. A writer's descriptor is
// open for writing where it can be: an open file description lock for writing needs one.
int openCard(const QString &path, CardLock::Mode mode, struct stat *info)
{
    const QByteArray native = QFile::encodeName(path);
    int fd = mode == CardLock::Exclusive ? ::open(native.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC) : -1;
    if (fd < 0)
        fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && (::fstat(fd, info) != 0 || !S_ISREG(info->st_mode))) {
        ::close(fd);
        fd = -1;
    }
    return fd;
}

// Locks `fd`, or closes it and throws. A reader goes on where nothing can be locked, and so
// does a writer the user allowed to.
void acquire(int fd, const struct stat &info, CardLock::Mode mode, int waitMilliseconds, int *kind)
{
    int error = 0;
    switch (lockWithin(fd, mode, waitMilliseconds, kind, &error)) {
    case Outcome::Taken:
        return;
    case Outcome::Busy: {
        const QString message = busyText(info.st_dev, info.st_ino);
        ::close(fd);
        throw SdCard::Busy(message.toStdString());
    }
    case Outcome::Impossible:
        qWarning() << "SD: The card cannot be locked:" << qt_error_string(error);
        if (mode == CardLock::Shared || g_withoutLock.load()) {
            *kind = Unlocked;
            return;
        }
        ::close(fd);
        throw SdCard::Unlockable(unlockableText(error).toStdString());
    }
}

} // namespace

CardLock::CardLock(const QString &path, Mode mode, int waitMilliseconds)
{
    struct stat info;
    const int fd = openCard(path, mode, &info);
    if (fd < 0)
        return;

    if (HeldLock *held = findHeld(info.st_dev, info.st_ino)) {
        ::close(fd);
        if (mode == Exclusive && held->mode == Shared) {
            // Converting lets others in for a moment (flock converts by unlocking first); the
            // operation has not written anything yet under the shared lock, so nothing is lost.
            int error = 0;
            const Outcome outcome = lockWithin(held->fd, Exclusive, waitMilliseconds, &held->kind, &error);
            if (outcome == Outcome::Busy)
                throw SdCard::Busy(busyText(info.st_dev, info.st_ino).toStdString());
            if (outcome == Outcome::Impossible && !g_withoutLock.load())
                throw SdCard::Unlockable(unlockableText(error).toStdString());
            held->mode = Exclusive;
        }
        ++held->count;
    } else {
        int kind = Untried;
        acquire(fd, info, mode, waitMilliseconds, &kind);
        t_held.push_back({info.st_dev, info.st_ino, fd, mode, kind, 1});
    }
    m_held = true;
    m_device = info.st_dev;
    m_inode = info.st_ino;
}

CardLock::~CardLock()
{
    if (m_fd >= 0) {
        // Closing the descriptor releases the lock.
        ::close(m_fd);
        return;
    }
    if (!m_held)
        return;
    for (auto it = t_held.rbegin(); it != t_held.rend(); ++it) {
        if (it->device != m_device || it->inode != m_inode)
            continue;
        if (--it->count == 0) {
            ::close(it->fd);
            t_held.erase(std::next(it).base());
        }
        return;
    }
}

std::shared_ptr<CardLock> CardLock::forCommand(const QString &path, int waitMilliseconds)
{
    std::shared_ptr<CardLock> lock(new CardLock());
    struct stat info;
    const int fd = openCard(path, Exclusive, &info);
    if (fd < 0)
        return lock;
    int kind = Untried;
    acquire(fd, info, Exclusive, waitMilliseconds, &kind);
    lock->m_fd = fd;
    lock->m_kind = kind;
    lock->m_device = info.st_dev;
    lock->m_inode = info.st_ino;
    return lock;
}

CardLock::Use::Use(std::shared_ptr<CardLock> lock) : m_lock(std::move(lock))
{
    if (m_lock && m_lock->m_fd >= 0)
        t_held.push_back({m_lock->m_device, m_lock->m_inode, m_lock->m_fd, Exclusive, m_lock->m_kind, 1});
}

CardLock::Use::~Use()
{
    if (!m_lock || m_lock->m_fd < 0)
        return;
    // The lock stays with the command; only this thread lets go of it.
    for (auto it = t_held.rbegin(); it != t_held.rend(); ++it) {
        if (it->fd == m_lock->m_fd) {
            t_held.erase(std::next(it).base());
            return;
        }
    }
}

bool CardLock::isExclusive() const
{
    return m_fd >= 0 && m_kind != Unlocked;
}

bool CardLock::canLock(const QString &path)
{
    struct stat info;
    const int fd = openCard(path, Shared, &info);
    if (fd < 0)
        return true;
    int kind = Untried;
    int error = 0;
    const bool possible = attempt(fd, Shared, &kind, &error) != Outcome::Impossible;
    ::close(fd);
    return possible;
}

void CardLock::setWritingWithoutLock(bool allowed)
{
    g_withoutLock.store(allowed);
}

void CardLock::setSystemLocks(const SystemLocks &locks)
{
    g_flock.store(locks.flock ? locks.flock : &::flock);
    g_ofd.store(locks.ofd ? locks.ofd : &systemOfd);
}

} // namespace ZovaZode
