// CardLock: the advisory lock that keeps two writers off one card, whether they are the window,
// its transfer thread or morv-card. Readers share it; a writer holds it alone for the duration
// of one command (a transfer, a rename, a clear, a header write; a protected command from its
// safety copy to its end), never while a card merely stays open in the window.
//
// The lock is flock(2) on a descriptor of its own, so it does not depend on how the card data
// library opened the file. Where the file system has no flock (some network and FUSE file
// systems answer ENOLCK, EOPNOTSUPP or ENOSYS), it is an open file description lock over the
// whole file (F_OFD_SETLK: shared is a read lock, exclusive a write lock), which also belongs to
// the descriptor. Where neither works, a reader goes on and a writer is refused, unless the user
// said to write without the lock (setWritingWithoutLock()).
//
// Taking a lock the same thread already holds on the same file is free, so an operation that
// holds the lock can call SdCard methods that take it themselves.
//
// A command whose steps run on two threads (the safety copy and a restore on the transfer
// worker, a clear on the window's thread) holds one command lock (forCommand()) from its first
// step to its last, and lends it to whichever thread runs a step (Use): no other program can
// slip in between two steps. The lock is held by no thread in between, so the window's own
// other writes wait for the command like another program's.
#pragma once

#include <QString>

#include <memory>
#include <sys/types.h>

namespace ZovaZode {

class CardLock
{
public:
    enum Mode { Shared, Exclusive };

    // How every refusal of a busy card begins.
    static constexpr const char *BusyPrefix = "The card is in use by ";
    // How the refusal of a writer begins where the card cannot be locked at all.
    static constexpr const char *UnlockablePrefix = "The card cannot be locked";

    // How long a writer waits for the card by default before it gives up.
    static constexpr int DefaultWaitMilliseconds = 3000;

    // Waits up to `waitMilliseconds` for the lock; throws SdCard::Busy, naming the holder, when
    // the card stays in use: "The card is in use by morv-card (process 4242). Try again when it
    // has finished.", and SdCard::Unlockable to a writer where no lock works. A file that
    // cannot be opened is not locked (and nothing is thrown): opening the card itself then
    // fails with its own error.
    CardLock(const QString &path, Mode mode, int waitMilliseconds = DefaultWaitMilliseconds);
    ~CardLock();
    CardLock(const CardLock &) = delete;
    CardLock &operator=(const CardLock &) = delete;

    // An exclusive lock for a command, held by no thread until one uses it; throws as above.
    static std::shared_ptr<CardLock> forCommand(const QString &path,
                                                int waitMilliseconds = DefaultWaitMilliseconds);

    // Lends a command lock to the current thread: while it lives, this thread's locks of the
    // same card are the command's. Nothing for a null lock.
    class Use
    {
    public:
        explicit Use(std::shared_ptr<CardLock> lock);
        ~Use();
        Use(const Use &) = delete;
        Use &operator=(const Use &) = delete;

    private:
        std::shared_ptr<CardLock> m_lock;
    };

    // Whether this command lock holds the card alone: false where it was taken without a lock (the
    // user's word, setWritingWithoutLock()) or the card could not be opened.
    bool isExclusive() const;

    // False where the file at `path` can be locked in no way (nor flock nor an open file
    // description lock); true when it can, or when it cannot be opened.
    static bool canLock(const QString &path);
    // The user's word that a card which cannot be locked may still be written.
    static void setWritingWithoutLock(bool allowed);

    // The two system calls a lock is made of; tests replace them to play a file system that
    // lacks one or both. Null members restore the system's.
    struct SystemLocks
    {
        int (*flock)(int fd, int operation) = nullptr; // flock(2), always with LOCK_NB
        int (*ofd)(int fd, short type) = nullptr;      // F_OFD_SETLK over the whole file
    };
    static void setSystemLocks(const SystemLocks &locks);

private:
    CardLock() = default;

    bool m_held = false;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    // A command lock: its own descriptor (and how it is locked), closed with it.
    int m_fd = -1;
    int m_kind = 0;
};

} // namespace ZovaZode
