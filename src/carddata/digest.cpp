// The 128-bit hash (xxHash's XXH3-128, seed 0), the digests of what a card held, and the sums of
// a whole file.
#include "digest.h"

#include "internal.h"

#include <xxhash.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <new>
#include <utility>

using namespace carddata;
using carddata::detail::fail;

namespace carddata {

std::string toHex(const Digest128 &digest)
{
    char text[33];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(digest.high),
                  static_cast<unsigned long long>(digest.low));
    return text;
}

bool fromHex(const std::string &text, Digest128 *digest)
{
    if (text.size() != 32)
        return false;
    uint64_t halves[2] = {0, 0};
    for (size_t i = 0; i < 32; ++i) {
        const char c = text[i];
        const int value = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (value < 0)
            return false;
        halves[i / 16] = halves[i / 16] << 4 | uint64_t(value);
    }
    *digest = Digest128{halves[0], halves[1]};
    return true;
}

Digest128 hash128(const void *data, size_t size)
{
    const XXH128_hash_t hash = XXH3_128bits(data, size);
    return Digest128{hash.high64, hash.low64};
}

Hash128::Hash128() : m_state(XXH3_createState())
{
    if (!m_state)
        throw std::bad_alloc();
    reset();
}

Hash128::~Hash128()
{
    if (m_state)
        XXH3_freeState(m_state);
}

Hash128::Hash128(Hash128 &&other) noexcept : m_state(std::exchange(other.m_state, nullptr)) {}

Hash128 &Hash128::operator=(Hash128 &&other) noexcept
{
    std::swap(m_state, other.m_state);
    return *this;
}

void Hash128::reset()
{
    XXH3_128bits_reset(m_state);
}

void Hash128::add(const void *data, size_t size)
{
    XXH3_128bits_update(m_state, data, size);
}

Digest128 Hash128::value() const
{
    const XXH128_hash_t hash = XXH3_128bits_digest(m_state);
    return Digest128{hash.high64, hash.low64};
}

void CardDigest::add(int64_t position, int64_t size, const Digest128 &digest)
{
    forget(position, size);
    if (size > 0)
        m_pieces[position] = Piece{size, digest};
}

bool CardDigest::holds(int64_t position, int64_t size, const Digest128 &digest) const
{
    const auto piece = m_pieces.find(position);
    return piece != m_pieces.end() && piece->second.size == size && piece->second.digest == digest;
}

void CardDigest::forget(int64_t position, int64_t size)
{
    auto it = m_pieces.lower_bound(position);
    if (it != m_pieces.begin() && std::prev(it)->first + std::prev(it)->second.size > position)
        --it;
    while (it != m_pieces.end() && it->first < position + size)
        it = m_pieces.erase(it);
}

Digest128 FileSums::wholeOf(const std::vector<Part> &parts)
{
    Hash128 whole;
    for (const Part &part : parts) {
        uint8_t bytes[16];
        for (int i = 0; i < 8; ++i) {
            bytes[i] = uint8_t(part.digest.high >> (56 - 8 * i));
            bytes[8 + i] = uint8_t(part.digest.low >> (56 - 8 * i));
        }
        whole.add(bytes, sizeof bytes);
    }
    return whole.value();
}

FileSummer::FileSummer(std::vector<FileSums::Part> parts)
{
    m_sums.parts = std::move(parts);
}

void FileSummer::endPart()
{
    m_sums.parts[m_part++].digest = m_hash.value();
    m_hash.reset();
}

void FileSummer::add(const uint8_t *data, size_t size)
{
    for (;;) {
        // The parts that end here (parts of no size too) are complete.
        while (m_part < m_sums.parts.size() &&
               m_sums.size >= m_sums.parts[m_part].start + m_sums.parts[m_part].size)
            endPart();
        if (size == 0)
            return;
        if (m_part == m_sums.parts.size())
            m_sums.parts.push_back({0, m_sums.size, INT64_MAX - m_sums.size, {}});
        const FileSums::Part &part = m_sums.parts[m_part];
        const size_t take = size_t(std::min<int64_t>(int64_t(size), part.start + part.size - m_sums.size));
        m_hash.add(data, take);
        data += take;
        size -= take;
        m_sums.size += int64_t(take);
    }
}

FileSums FileSummer::sums() const
{
    FileSums sums = m_sums;
    for (size_t i = m_part; i < sums.parts.size(); ++i)
        sums.parts[i].digest = i == m_part ? m_hash.value() : hash128(nullptr, 0);
    // A part of its own for what followed the last one ends where the file does.
    if (!sums.parts.empty() && sums.parts.back().size == INT64_MAX - sums.parts.back().start)
        sums.parts.back().size = sums.size - sums.parts.back().start;
    sums.whole = FileSums::wholeOf(sums.parts);
    return sums;
}

} // namespace carddata

int mlsdSumFile(const char *path, bool pastCache, FileSummer *summer, const ProgressCallback *progress)
{
    static constexpr const char *self = "mlsdSumFile";
    std::unique_ptr<Stream> file = path && summer ? streamOpen(path, OpenMode::Read) : nullptr;
    const int64_t size = file ? file->size() : -1;
    if (size < 0)
        return fail(self, "The file could not be opened.");
    const bool direct = pastCache && file->readFromDevice();
    if (pastCache && !direct)
        file->dropCache(0, size);
    std::vector<uint8_t> buffer(detail::kAudioBlockSize);
    for (int64_t at = 0; at < size;) {
        const size_t want = size_t(std::min<int64_t>(size - at, int64_t(buffer.size())));
        if (!file->seek(at) || file->read(buffer.data(), want) != want)
            return fail(self, "The file could not be read.");
        summer->add(buffer.data(), want);
        if (pastCache && !direct)
            file->dropCache(at, int64_t(want));
        at += int64_t(want);
        if (progress && progress->function &&
            progress->function(int32_t(at / 1024), int32_t(size / 1024), progress->context) != 0)
            return fail(self, "Aborted by user.");
    }
    file->close();
    return 0;
}
