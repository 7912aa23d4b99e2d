// The buffered POSIX file stream behind every card and archive file, and the process-wide
// opener that tests and fuzzers may replace.
#include "stream.h"

#include <cstdio>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace carddata {
namespace {

// Audio moves in 1 KiB chunks; a large stdio buffer turns them into few, large system calls.
constexpr size_t kBufferSize = 256 * 1024;

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
        if (std::fflush(m_file) != 0)
            return false;
        return fseeko(m_file, off_t(position), SEEK_SET) == 0;
    }

    size_t read(void *buffer, size_t size) override
    {
        if (!m_file || !switchTo(Last::Read))
            return 0;
        return std::fread(buffer, 1, size, m_file);
    }

    size_t write(const void *buffer, size_t size) override
    {
        if (!m_file || !switchTo(Last::Write))
            return 0;
        return std::fwrite(buffer, 1, size, m_file);
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
};

std::mutex openerMutex;
StreamOpener installedOpener;

} // namespace

std::unique_ptr<Stream> openFileStream(const std::string &path, OpenMode mode)
{
    // "e": close-on-exec, so a helper process we start never inherits the card.
    const char *fopenMode = mode == OpenMode::Read ? "rbe" : mode == OpenMode::Update ? "rb+e" : "wb+e";
    std::FILE *file = std::fopen(path.c_str(), fopenMode);
    if (!file)
        return nullptr;
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
