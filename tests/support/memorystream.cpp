// Files held in memory for the card data library's stream layer; see memorystream.h.
#include "memorystream.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace ZovaZode::TestSupport {

namespace {

// The card layout, written out here from the sector map rather than taken from the library
// under test, so that a wrong position in the library cannot agree with itself.
constexpr int64_t kSector = 512;
constexpr int64_t kCardSize = 6263752 * kSector;
constexpr int64_t kUserPrefsPosition = 100 * kSector;
constexpr int64_t kChunk = 1024;

int64_t linear(int song, int part)
{
    return 5 * int64_t(song) + part;
}

void putLittle32(uint8_t *to, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        to[i] = uint8_t(value >> (8 * i));
}

// Page buffers of files that are gone, shared by all threads and never freed. Capped, so that
// a test that once held a big file does not keep all of it.
class PagePool
{
public:
    static PagePool &instance()
    {
        static auto *pool = new PagePool;
        return *pool;
    }

    std::vector<uint8_t> take()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_free.empty())
            return std::vector<uint8_t>(size_t(MemoryFile::kPageSize));
        std::vector<uint8_t> page = std::move(m_free.back());
        m_free.pop_back();
        return page;
    }

    void give(std::vector<uint8_t> page)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_free.size() < kMaxPages && page.size() == size_t(MemoryFile::kPageSize))
            m_free.push_back(std::move(page));
    }

private:
    static constexpr size_t kMaxPages = 16384; // 64 MiB
    std::mutex m_mutex;
    std::vector<std::vector<uint8_t>> m_free;
};

bool allZero(const uint8_t *bytes, size_t size)
{
    // Each byte equals the one after it and the first is zero: one library compare, which is
    // far faster than a loop under the sanitizers.
    return size == 0 || (bytes[0] == 0 && std::memcmp(bytes, bytes + 1, size - 1) == 0);
}

} // namespace

MemoryFile::MemoryFile(const MemoryFile &other)
    : m_size(other.m_size), m_base(other.m_base), m_baseSize(other.m_baseSize),
      m_restricted(other.m_restricted), m_abortOnViolation(other.m_abortOnViolation),
      m_allowed(other.m_allowed), m_violations(other.m_violations),
      m_writeCount(other.m_writeCount)
{
    for (const auto &[index, bytes] : other.m_pages) {
        std::vector<uint8_t> copy = PagePool::instance().take();
        std::memcpy(copy.data(), bytes.data(), size_t(kPageSize));
        m_pages.emplace_hint(m_pages.end(), index, std::move(copy));
    }
}

MemoryFile::~MemoryFile()
{
    dropPages(m_pages.begin());
}

void MemoryFile::dropPages(std::map<int64_t, std::vector<uint8_t>>::iterator from)
{
    for (auto it = from; it != m_pages.end(); ++it)
        PagePool::instance().give(std::move(it->second));
    m_pages.erase(from, m_pages.end());
}

std::vector<WriteRange> mergeRanges(std::vector<WriteRange> ranges)
{
    ranges.erase(
        std::remove_if(ranges.begin(), ranges.end(), [](const WriteRange &r) { return r.size <= 0; }),
        ranges.end());
    std::sort(ranges.begin(), ranges.end(),
              [](const WriteRange &a, const WriteRange &b) { return a.start < b.start; });
    std::vector<WriteRange> merged;
    for (const WriteRange &range : ranges) {
        if (!merged.empty() && range.start <= merged.back().end())
            merged.back().size = std::max(merged.back().end(), range.end()) - merged.back().start;
        else
            merged.push_back(range);
    }
    return merged;
}

std::shared_ptr<MemoryFile> MemoryFile::fromBytes(const uint8_t *data, size_t size)
{
    auto file = std::make_shared<MemoryFile>(0);
    file->put(0, data, size);
    return file;
}

std::shared_ptr<MemoryFile> MemoryFile::view(const uint8_t *data, size_t size)
{
    auto file = std::make_shared<MemoryFile>(int64_t(size));
    file->m_base = data;
    file->m_baseSize = int64_t(size);
    return file;
}

std::vector<uint8_t> &MemoryFile::page(int64_t index)
{
    const auto found = m_pages.lower_bound(index);
    if (found != m_pages.end() && found->first == index)
        return found->second;
    std::vector<uint8_t> &bytes = m_pages.emplace_hint(found, index, PagePool::instance().take())->second;
    const int64_t start = index * kPageSize;
    const int64_t viewed = start < m_baseSize ? std::min(kPageSize, m_baseSize - start) : 0;
    if (viewed > 0)
        std::memcpy(bytes.data(), m_base + start, size_t(viewed));
    std::memset(bytes.data() + viewed, 0, size_t(kPageSize - viewed));
    return bytes;
}

void MemoryFile::resize(int64_t size)
{
    // Viewed bytes past a shrunk end are gone for good.
    m_baseSize = std::min(m_baseSize, size);
    if (size < m_size) {
        // Bytes past a shrunk end must read as zeros if the file grows again.
        dropPages(m_pages.upper_bound(size / kPageSize));
        auto last = m_pages.find(size / kPageSize);
        if (last != m_pages.end())
            std::fill(last->second.begin() + (size % kPageSize), last->second.end(), uint8_t(0));
    }
    m_size = size;
}

size_t MemoryFile::read(int64_t position, void *buffer, size_t size) const
{
    if (position < 0 || position >= m_size)
        return 0;
    const size_t count = size_t(std::min<int64_t>(int64_t(size), m_size - position));
    auto *out = static_cast<uint8_t *>(buffer);
    size_t done = 0;
    while (done < count) {
        const int64_t at = position + int64_t(done);
        const int64_t offset = at % kPageSize;
        const size_t n = size_t(std::min<int64_t>(kPageSize - offset, int64_t(count - done)));
        const auto found = m_pages.find(at / kPageSize);
        if (found != m_pages.end())
            std::memcpy(out + done, found->second.data() + offset, n);
        else if (at < m_baseSize)
            std::memcpy(out + done, m_base + at, size_t(std::min<int64_t>(int64_t(n), m_baseSize - at)));
        if (found == m_pages.end() && at + int64_t(n) > m_baseSize) {
            const int64_t from = std::max(at, m_baseSize);
            std::memset(out + done + (from - at), 0, size_t(at + int64_t(n) - from));
        }
        done += n;
    }
    return count;
}

void MemoryFile::put(int64_t position, const void *buffer, size_t size)
{
    const auto *in = static_cast<const uint8_t *>(buffer);
    size_t done = 0;
    while (done < size) {
        const int64_t at = position + int64_t(done);
        const int64_t index = at / kPageSize;
        const int64_t offset = at % kPageSize;
        const size_t n = size_t(std::min<int64_t>(kPageSize - offset, int64_t(size - done)));
        const auto found = m_pages.lower_bound(index);
        if (found != m_pages.end() && found->first == index) {
            std::memcpy(found->second.data() + offset, in + done, n);
        } else if (index * kPageSize >= m_baseSize && allZero(in + done, n)) {
            // A page that does not exist reads as zeros already. Most of what a fuzz run writes
            // (empty records, silent audio) is zeros, and skipping it keeps a run's archive
            // a few pages.
        } else if (n == size_t(kPageSize)) {
            std::memcpy(m_pages.emplace_hint(found, index, PagePool::instance().take())->second.data(),
                        in + done, n);
        } else {
            std::memcpy(page(index).data() + offset, in + done, n);
        }
        done += n;
    }
    m_size = std::max(m_size, position + int64_t(size));
}

void MemoryFile::write(int64_t position, const void *buffer, size_t size)
{
    if (size == 0)
        return;
    ++m_writeCount;
    if (!allowed(position, int64_t(size))) {
        if (m_abortOnViolation) {
            std::fprintf(stderr, "memory file: write of %zu bytes at %lld lies outside the allowed ranges\n",
                         size, static_cast<long long>(position));
            std::abort();
        }
        m_violations.push_back({position, int64_t(size)});
    }
    put(position, buffer, size);
}

std::vector<uint8_t> MemoryFile::bytes(int64_t position, int64_t size) const
{
    std::vector<uint8_t> out(size_t(std::max<int64_t>(size, 0)));
    out.resize(read(position, out.data(), out.size()));
    return out;
}

void MemoryFile::restrictWrites(std::vector<WriteRange> allowed, bool abortOnViolation)
{
    m_allowed = mergeRanges(std::move(allowed));
    m_restricted = true;
    m_abortOnViolation = abortOnViolation;
}

bool MemoryFile::allowed(int64_t position, int64_t size) const
{
    if (!m_restricted)
        return true;
    auto after = std::upper_bound(m_allowed.begin(), m_allowed.end(), position,
                                  [](int64_t value, const WriteRange &r) { return value < r.start; });
    if (after == m_allowed.begin())
        return false;
    const WriteRange &range = *(after - 1);
    return position >= range.start && position + size <= range.end();
}

MemoryStream::MemoryStream(std::shared_ptr<MemoryFile> file, bool writable,
                           std::shared_ptr<std::atomic<int>> liveCount)
    : m_file(std::move(file)), m_writable(writable), m_liveCount(std::move(liveCount))
{
    if (m_liveCount)
        ++*m_liveCount;
}

MemoryStream::~MemoryStream()
{
    if (m_liveCount)
        --*m_liveCount;
}

bool MemoryStream::seek(int64_t position)
{
    if (!m_open || position < 0)
        return false;
    m_position = position;
    return true;
}

size_t MemoryStream::read(void *buffer, size_t size)
{
    if (!m_open)
        return 0;
    const size_t n = m_file->read(m_position, buffer, size);
    m_position += int64_t(n);
    return n;
}

size_t MemoryStream::write(const void *buffer, size_t size)
{
    if (!m_open || !m_writable)
        return 0;
    m_file->write(m_position, buffer, size);
    m_position += int64_t(size);
    return size;
}

int64_t MemoryStream::size()
{
    return m_open ? m_file->size() : -1;
}

bool MemoryStream::close()
{
    m_open = false;
    return true;
}

MemoryFileSystem::MemoryFileSystem() : m_liveCount(std::make_shared<std::atomic<int>>(0)) {}

std::shared_ptr<MemoryFile> MemoryFileSystem::add(const std::string &path, std::shared_ptr<MemoryFile> file)
{
    m_files[path] = file;
    return file;
}

std::shared_ptr<MemoryFile> MemoryFileSystem::file(const std::string &path) const
{
    const auto found = m_files.find(path);
    return found == m_files.end() ? nullptr : found->second;
}

carddata::StreamOpener MemoryFileSystem::opener()
{
    return [this](const std::string &path, carddata::OpenMode mode) { return open(path, mode); };
}

std::unique_ptr<carddata::Stream> MemoryFileSystem::open(const std::string &path, carddata::OpenMode mode)
{
    std::shared_ptr<MemoryFile> existing = file(path);
    if (!existing && m_passThrough)
        return carddata::openFileStream(path, mode);
    if (mode == carddata::OpenMode::Create) {
        if (existing)
            existing->resize(0);
        else
            existing = add(path, std::make_shared<MemoryFile>(0));
    }
    if (!existing)
        return nullptr;
    return std::make_unique<MemoryStream>(existing, mode != carddata::OpenMode::Read, m_liveCount);
}

std::shared_ptr<MemoryFile> newMemoryCard()
{
    auto card = std::make_shared<MemoryFile>(kCardSize);
    uint8_t header[1024] = {};
    std::memcpy(header, "MLSD", 4);
    std::memcpy(header + 8, "Memory Card", 11);
    card->put(0, header, sizeof header);
    uint8_t prefs[512] = {};
    putLittle32(prefs + 4, 1);
    putLittle32(prefs + 12, 1);
    putLittle32(prefs + 16, 7);
    card->put(kUserPrefsPosition, prefs, sizeof prefs);
    return card;
}

std::vector<WriteRange> cardSongRecordRanges(int song)
{
    std::vector<WriteRange> ranges{{(41260 + 101 * int64_t(song)) * kSector, 1024}};
    for (int part = 0; part < 5; ++part) {
        ranges.push_back({(42472 + 164 * linear(song, part)) * kSector, 16384});
        ranges.push_back({(52312 + 164 * linear(song, part)) * kSector, 10752});
    }
    return ranges;
}

WriteRange cardAudioRange(int song, int part, int64_t chunks)
{
    return {(62216 + 103360 * linear(song, part)) * kSector, chunks * kChunk};
}

WriteRange cardHeaderRange()
{
    return {0, 1024};
}

WriteRange cardUserPrefsRange()
{
    return {kUserPrefsPosition, 512};
}

} // namespace ZovaZode::TestSupport
