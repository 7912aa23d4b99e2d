// CardLock: the advisory lock that keeps two writers off one card, whether they are the window,
// its transfer thread or morv-card. Readers share it; a writer holds it alone for the duration
// of one operation (a transfer, a rename, a clear, a header write), never while a card merely
// stays open in the window.
//
// The lock is flock(2) on a descriptor of its own, so it does not depend on how the card data
// library opened the file. Taking a lock the same thread already holds on the same file is
// free, so an operation that holds the lock can call SdCard methods that take it themselves.
#pragma once

#include <QString>

#include <sys/types.h>

namespace ZovaZode {

class CardLock
{
public:
    enum Mode { Shared, Exclusive };

    // How every refusal of a busy card begins.
    static constexpr const char *BusyPrefix = "The card is in use by ";

    // How long a writer waits for the card by default before it gives up.
    static constexpr int DefaultWaitMilliseconds = 3000;

    // Waits up to `waitMilliseconds` for the lock; throws SdCard::Busy, naming the holder, when
    // the card stays in use: "The card is in use by morv-card (process 4242). Try again when it
    // has finished." A file that cannot be opened is not locked (and nothing is thrown):
    // opening the card itself then fails with its own error.
    CardLock(const QString &path, Mode mode, int waitMilliseconds = DefaultWaitMilliseconds);
    ~CardLock();
    CardLock(const CardLock &) = delete;
    CardLock &operator=(const CardLock &) = delete;

private:
    bool m_held = false;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

} // namespace ZovaZode
