// The POSIX file stream behind every card and archive file, and the process-wide
// opener that tests and fuzzers may replace.
#include "stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace carddata {
namespace {

std::mutex syncMutex;
DataSync installedSync;

int dataSync(int fd)
{
    DataSync sync;
    {
        std::lock_guard<std::mutex> lock(syncMutex);
        sync = installedSync;
    }
    return sync ? sync(fd) : ::fdatasync(fd);
}

// How much is written before the device is asked to start writing it out.
constexpr size_t kWritebackStep = 8 * 1024 * 1024;

// Every read and write goes to its place with pread and pwrite, without a buffer of our own:
// the library moves whole records (512 bytes to 16 KiB) and audio blocks of up to 1 MiB, each
// after a seek, so a buffer would save no system call. Going without one also means that a seek
// reads nothing (stdio reads from the last 256 KiB boundary up to the new position, from the
// card, before every record it writes), that no bytes wait in memory for a flush that can fail,
// and that nothing read earlier hides what another handle on the same card wrote since.
class FileStream final : public Stream
{
public:
    explicit FileStream(int fd) : m_fd(fd) {}
    ~FileStream() override { close(); }

    bool seek(int64_t position) override
    {
        if (m_fd < 0 || position < 0)
            return false;
        m_position = position;
        return true;
    }

    size_t read(void *buffer, size_t size) override
    {
        const size_t done = m_direct ? readDirect(static_cast<char *>(buffer), size)
                                     : readAt(static_cast<char *>(buffer), size, m_position);
        m_position += int64_t(done);
        return done;
    }

    size_t write(const void *buffer, size_t size) override
    {
        const char *bytes = static_cast<const char *>(buffer);
        const size_t done = whole(size, [&](size_t from) {
            return ::pwrite(m_fd, bytes + from, size - from, off_t(m_position + int64_t(from)));
        });
        m_position += int64_t(done);
        m_unscheduled += done;
        if (done == size && m_unscheduled >= kWritebackStep) {
            m_unscheduled = 0;
            scheduleWriteback();
        }
        return done;
    }

    int64_t size() override
    {
        struct stat info;
        if (m_fd < 0 || ::fstat(m_fd, &info) != 0)
            return -1;
        return int64_t(info.st_size);
    }

    bool flush() override { return m_fd >= 0; }

    bool commit() override { return m_fd >= 0 && dataSync(m_fd) == 0; }

    bool dropCache(int64_t position, int64_t size) override
    {
        if (m_fd < 0 || position < 0 || size < 0)
            return false;
        const auto [start, length] = pages(position, size);
        return ::posix_fadvise(m_fd, start, length, POSIX_FADV_DONTNEED) == 0;
    }

    bool readFromDevice() override
    {
        const int flags = m_fd < 0 ? -1 : ::fcntl(m_fd, F_GETFL);
        m_direct = flags >= 0 && ::fcntl(m_fd, F_SETFL, flags | O_DIRECT) == 0;
        return m_direct;
    }

    bool close() override
    {
        if (m_fd < 0)
            return true;
        const bool ok = ::close(m_fd) == 0;
        m_fd = -1;
        return ok;
    }

private:
    // Repeats a pread or pwrite of the bytes from `from` on until all `size` have moved, the file
    // ends or the call fails; returns how many moved.
    template<typename Move> size_t whole(size_t size, Move move)
    {
        size_t done = 0;
        while (m_fd >= 0 && done < size) {
            const ssize_t n = move(done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += size_t(n);
        }
        return done;
    }

    size_t readAt(char *buffer, size_t size, int64_t position)
    {
        return whole(size, [&](size_t from) {
            return ::pread(m_fd, buffer + from, size - from, off_t(position + int64_t(from)));
        });
    }

    // Reads past the cache move whole aligned blocks into an aligned buffer; the bytes asked for
    // are copied out of it. A file system that accepted O_DIRECT but refuses the read gets
    // ordinary reads from then on (the caller has dropped the cached pages as well).
    size_t readDirect(char *buffer, size_t size)
    {
        constexpr int64_t kAlign = 4096; // a multiple of every logical block size in use
        const int64_t start = m_position / kAlign * kAlign;
        const int64_t length = (m_position + int64_t(size) + kAlign - 1) / kAlign * kAlign - start;
        if (m_alignedSize < length) {
            m_aligned.reset(static_cast<char *>(std::aligned_alloc(size_t(kAlign), size_t(length))));
            m_alignedSize = m_aligned ? length : 0;
        }
        int64_t got = 0;
        while (m_aligned && got < length) {
            const ssize_t n = ::pread(m_fd, m_aligned.get() + got, size_t(length - got), off_t(start + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EINVAL && got == 0) {
                m_direct = false;
                ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_DIRECT);
                return readAt(buffer, size, m_position);
            }
            if (n <= 0 || n % kAlign != 0) { // the end of the file, or an error
                got += std::max<ssize_t>(n, 0);
                break;
            }
            got += n;
        }
        const int64_t skip = m_position - start;
        const size_t done = got > skip ? size_t(std::min<int64_t>(int64_t(size), got - skip)) : 0;
        if (done > 0)
            std::memcpy(buffer, m_aligned.get() + skip, done);
        return done;
    }

    // The kernel drops only the pages that lie wholly inside a range; a record that shares a page
    // with its neighbours must take the whole page with it.
    static std::pair<off_t, off_t> pages(int64_t position, int64_t size)
    {
        static const int64_t page = std::max<int64_t>(::sysconf(_SC_PAGESIZE), 4096);
        const int64_t start = position / page * page;
        const int64_t end = (position + size + page - 1) / page * page;
        return {off_t(start), off_t(end - start)};
    }

    // Starts the device writing what has piled up, without waiting for it: the commit at the
    // end then finds most of the data already on the device, instead of starting it all at
    // once while the transfer could have gone on reading. This promises nothing about
    // durability; only commit() does.
    void scheduleWriteback() { ::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE); }

    struct Free
    {
        void operator()(char *memory) const { std::free(memory); }
    };

    int m_fd;
    int64_t m_position = 0;
    size_t m_unscheduled = 0;
    bool m_direct = false;
    std::unique_ptr<char, Free> m_aligned; // for reads past the cache
    int64_t m_alignedSize = 0;
};

std::mutex openerMutex;
StreamOpener installedOpener;

} // namespace

std::unique_ptr<Stream> openFileStream(const std::string &path, OpenMode mode)
{
    // A new file is always a new inode: an existing path (or a link planted where the new file
    // goes) is refused rather than followed or truncated.
    // An existing file is opened without blocking, so that a FIFO or a device given as a card or
    // an archive is refused instead of waiting forever for a writer.
    // O_CLOEXEC: a helper process we start never inherits the card.
    int flags = O_CLOEXEC;
    if (mode == OpenMode::Create)
        flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
    else
        flags |= (mode == OpenMode::Read ? O_RDONLY : O_RDWR) | O_NONBLOCK;
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0)
        return nullptr;
    struct stat info;
    const bool statted = ::fstat(fd, &info) == 0;
    if (!statted || !S_ISREG(info.st_mode)) {
        const int reason = !statted ? errno : S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = reason;
        return nullptr;
    }
    if (mode != OpenMode::Create && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        const int reason = errno;
        ::close(fd);
        errno = reason;
        return nullptr;
    }
    return std::make_unique<FileStream>(fd);
}

std::unique_ptr<Stream> streamOpen(const std::string &path, OpenMode mode)
{
    StreamOpener opener;
    {
        std::lock_guard<std::mutex> lock(openerMutex);
        opener = installedOpener;
    }
    return opener ? opener(path, mode) : openFileStream(path, mode);
}

void setDataSync(DataSync sync)
{
    std::lock_guard<std::mutex> lock(syncMutex);
    installedSync = std::move(sync);
}

void setStreamOpener(StreamOpener opener)
{
    std::lock_guard<std::mutex> lock(openerMutex);
    installedOpener = std::move(opener);
}

} // namespace carddata
