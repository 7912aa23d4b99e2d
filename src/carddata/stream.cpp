// The buffered POSIX file stream behind every card and archive file, and the process-wide
// opener that tests and fuzzers may replace.
#include "stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace carddata {
namespace {

// Records of 512 bytes to 16 KiB go through a large stdio buffer in few system calls; audio
// blocks larger than the buffer go straight to the file.
constexpr size_t kBufferSize = 256 * 1024;
// How much is written before the device is asked to start writing it out.
constexpr size_t kWritebackStep = 8 * 1024 * 1024;

class FileStream final : public Stream
{
public:
    // glibc ignores the size unless it is given the buffer itself.
    explicit FileStream(std::FILE *file) : m_file(file), m_buffer(new char[kBufferSize])
    {
        std::setvbuf(m_file, m_buffer.get(), _IOFBF, kBufferSize);
    }
    ~FileStream() override { close(); }

    bool seek(int64_t position) override
    {
        if (!m_file || position < 0)
            return false;
        m_last = Last::None;
        // Drop read-ahead before moving: glibc reuses buffered bytes for a seek inside the
        // buffer, which would hide what another handle on the same card wrote meanwhile.
        if (std::fflush(m_file) != 0 || fseeko(m_file, off_t(position), SEEK_SET) != 0)
            return false;
        m_movedTo = position;
        return true;
    }

    size_t read(void *buffer, size_t size) override
    {
        if (!m_file || !switchTo(Last::Read))
            return 0;
        if (m_movedTo >= 0) {
            const int64_t position = m_movedTo;
            m_movedTo = -1;
            return readAt(buffer, size, position);
        }
        return std::fread(buffer, 1, size, m_file);
    }

    size_t write(const void *buffer, size_t size) override
    {
        if (!m_file || !switchTo(Last::Write))
            return 0;
        m_movedTo = -1;
        const size_t written = std::fwrite(buffer, 1, size, m_file);
        m_unscheduled += written;
        if (m_unscheduled >= kWritebackStep) {
            m_unscheduled = 0;
            if (!scheduleWriteback())
                return 0;
        }
        return written;
    }

    int64_t size() override
    {
        struct stat info;
        if (!flush() || fstat(fileno(m_file), &info) != 0)
            return -1;
        return int64_t(info.st_size);
    }

    bool flush() override { return m_file && std::fflush(m_file) == 0; }

    bool commit() override { return flush() && fdatasync(fileno(m_file)) == 0; }

    bool dropCache(int64_t position, int64_t size) override
    {
        if (!flush() || position < 0 || size < 0)
            return false;
        // The kernel drops only the pages that lie wholly inside the range; a record that shares
        // a page with its neighbours must take the whole page with it.
        static const int64_t page = std::max<int64_t>(::sysconf(_SC_PAGESIZE), 4096);
        const int64_t start = position / page * page;
        const int64_t end = (position + size + page - 1) / page * page;
        return ::posix_fadvise(fileno(m_file), off_t(start), off_t(end - start), POSIX_FADV_DONTNEED) == 0;
    }

    bool close() override
    {
        if (!m_file)
            return true;
        const bool ok = std::fclose(m_file) == 0;
        m_file = nullptr;
        return ok;
    }

private:
    enum class Last { None, Read, Write };

    // Starts the device writing what has piled up, without waiting for it: the commit at the
    // end then finds most of the data already on the device, instead of starting it all at
    // once while the transfer could have gone on reading. This promises nothing about
    // durability; only commit() does.
    bool scheduleWriteback()
    {
        if (std::fflush(m_file) != 0)
            return false;
        ::sync_file_range(fileno(m_file), 0, 0, SYNC_FILE_RANGE_WRITE);
        return true;
    }

    // A read right after a move is a record read where the card's layout jumps: stdio would fill
    // its whole buffer for it, 256 KiB read from the card for a 1 KiB record. It reads just the
    // record, and leaves the stream after it; what follows it sequentially goes through stdio.
    size_t readAt(void *buffer, size_t size, int64_t position)
    {
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pread(fileno(m_file), static_cast<char *>(buffer) + done, size - done,
                                      off_t(position + int64_t(done)));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += size_t(n);
        }
        if (fseeko(m_file, off_t(position + int64_t(done)), SEEK_SET) != 0)
            return 0;
        return done;
    }

    // C streams need a positioning call between reading and writing on an update stream.
    bool switchTo(Last next)
    {
        if (m_last != Last::None && m_last != next && fseeko(m_file, 0, SEEK_CUR) != 0)
            return false;
        m_last = next;
        return true;
    }

    std::FILE *m_file;
    std::unique_ptr<char[]> m_buffer; // outlives the FILE: close() runs first in the destructor
    Last m_last = Last::None;
    int64_t m_movedTo = -1; // where seek() left the stream, until the next read or write
    size_t m_unscheduled = 0;
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
    std::FILE *file = ::fdopen(fd, mode == OpenMode::Read ? "rb" : "rb+");
    if (!file) {
        const int reason = errno;
        ::close(fd);
        errno = reason;
        return nullptr;
    }
    return std::make_unique<FileStream>(file);
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

void setStreamOpener(StreamOpener opener)
{
    std::lock_guard<std::mutex> lock(openerMutex);
    installedOpener = std::move(opener);
}

} // namespace carddata
