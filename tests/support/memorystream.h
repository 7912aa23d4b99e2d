// Files held in memory, served to the card data library through its stream layer.
//
// A MemoryFile is sparse: only the pages that were written exist, everything else reads as
// zeros, so a full-size card (3,207,041,024 bytes) costs a few megabytes at most. Pages of files
// that are gone are kept in a pool for the next file: a fuzzer makes a card and an archive per
// run, and fresh allocations (sanitized, page-faulted) would cost more than the run itself. Each file can
// be given the byte ranges that writes may touch; a write outside them is recorded as a
// violation, or ends the process at once (what a fuzzer wants: the crash is the finding).
//
// MemoryFileSystem maps paths to MemoryFiles and gives the opener to install with
// carddata::setStreamOpener(). It counts the streams that are open, so a test can see a stream
// that an operation forgot to close.
//
// Plain C++ without Qt, so that the fuzzers can use it too.
#pragma once

#include "carddata/stream.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ZovaZode::TestSupport {

struct WriteRange
{
    int64_t start = 0;
    int64_t size = 0;
    int64_t end() const { return start + size; }
};

class MemoryFile
{
public:
    static constexpr int64_t kPageSize = 4096;

    explicit MemoryFile(int64_t size = 0) : m_size(size) {}
    ~MemoryFile();
    MemoryFile(const MemoryFile &other);
    MemoryFile &operator=(const MemoryFile &) = delete;
    // A file holding exactly these bytes.
    static std::shared_ptr<MemoryFile> fromBytes(const uint8_t *data, size_t size);
    // A file over bytes it does not own, which must outlive it; writes go to pages of its own.
    // Saves the fuzzers a copy of every input.
    static std::shared_ptr<MemoryFile> view(const uint8_t *data, size_t size);

    int64_t size() const { return m_size; }
    void resize(int64_t size);

    // Copies up to `size` bytes at `position`; returns how many (fewer at the end of the file).
    size_t read(int64_t position, void *buffer, size_t size) const;
    // Writes and grows the file as needed. Checks the write against the allowed ranges first.
    void write(int64_t position, const void *buffer, size_t size);
    // Writes without the check, for setting a file up.
    void put(int64_t position, const void *buffer, size_t size);
    std::vector<uint8_t> bytes(int64_t position, int64_t size) const;
    std::vector<uint8_t> bytes() const { return bytes(0, m_size); }

    // Every write must lie inside one of these ranges (adjacent ranges count as one).
    void restrictWrites(std::vector<WriteRange> allowed, bool abortOnViolation);
    // Writes that fell outside the allowed ranges, in the order they were made.
    const std::vector<WriteRange> &violations() const { return m_violations; }
    int64_t writeCount() const { return m_writeCount; }

private:
    bool allowed(int64_t position, int64_t size) const;

    // The page, made from the viewed bytes (or zeros) when it does not exist yet.
    std::vector<uint8_t> &page(int64_t index);
    // Gives the pages from `from` on back to the pool.
    void dropPages(std::map<int64_t, std::vector<uint8_t>>::iterator from);

    int64_t m_size = 0;
    const uint8_t *m_base = nullptr; // viewed bytes behind pages not written yet
    int64_t m_baseSize = 0;
    std::map<int64_t, std::vector<uint8_t>> m_pages; // page index -> kPageSize bytes
    bool m_restricted = false;
    bool m_abortOnViolation = false;
    std::vector<WriteRange> m_allowed; // merged and sorted
    std::vector<WriteRange> m_violations;
    int64_t m_writeCount = 0;
};

// Sorts and merges ranges that overlap or touch.
std::vector<WriteRange> mergeRanges(std::vector<WriteRange> ranges);

// A stream over a MemoryFile. A stream opened for reading refuses to write.
class MemoryStream final : public carddata::Stream
{
public:
    MemoryStream(std::shared_ptr<MemoryFile> file, bool writable,
                 std::shared_ptr<std::atomic<int>> liveCount = {});
    ~MemoryStream() override;

    bool seek(int64_t position) override;
    size_t read(void *buffer, size_t size) override;
    size_t write(const void *buffer, size_t size) override;
    int64_t size() override;
    bool flush() override { return m_open; }
    bool commit() override { return m_open; }
    bool dropCache(int64_t, int64_t) override { return m_open; }
    bool close() override;

private:
    std::shared_ptr<MemoryFile> m_file;
    bool m_writable;
    bool m_open = true;
    int64_t m_position = 0;
    std::shared_ptr<std::atomic<int>> m_liveCount;
};

class MemoryFileSystem
{
public:
    MemoryFileSystem();

    // Adds (or replaces) a file under `path`.
    std::shared_ptr<MemoryFile> add(const std::string &path, std::shared_ptr<MemoryFile> file);
    std::shared_ptr<MemoryFile> file(const std::string &path) const;
    void remove(const std::string &path) { m_files.erase(path); }

    // Paths this file system does not hold go to the real files when set; otherwise opening
    // them fails, and creating one adds an empty memory file.
    void setPassThrough(bool passThrough) { m_passThrough = passThrough; }

    // The opener to install. It refers to this object, which must outlive its use.
    carddata::StreamOpener opener();
    std::unique_ptr<carddata::Stream> open(const std::string &path, carddata::OpenMode mode);

    // Memory streams opened and not yet destroyed.
    int liveStreams() const { return m_liveCount->load(); }

private:
    std::map<std::string, std::shared_ptr<MemoryFile>> m_files;
    bool m_passThrough = false;
    std::shared_ptr<std::atomic<int>> m_liveCount;
};

// A full-size sparse card data file holding a header with the "MLSD" ID and valid user prefs,
// and nothing else.
std::shared_ptr<MemoryFile> newMemoryCard();

// Byte ranges of a card song's records and of one part's audio, from the card layout.
std::vector<WriteRange> cardSongRecordRanges(int song);
WriteRange cardAudioRange(int song, int part, int64_t chunks);
WriteRange cardHeaderRange();
WriteRange cardUserPrefsRange();

} // namespace ZovaZode::TestSupport
