// The digest of what a transfer writes: the stream decorator that feeds it from every write to
// the destination handle's file.
#include "readback.h"

#include "internal.h"

#include <algorithm>

using namespace carddata;
using carddata::detail::fail;

namespace {

// Stands between the library and a destination file, recording every write in the digest.
// Consecutive writes grow one piece up to WriteDigest::kPieceSize (audio arrives in chunks);
// a seek, a read, a boundary or a full piece starts the next one.
class DigestStream final : public Stream
{
public:
    DigestStream(std::unique_ptr<Stream> inner, std::shared_ptr<WriteDigest> digest)
        : m_inner(std::move(inner)), m_digest(std::move(digest))
    {}
    ~DigestStream() override { close(); }

    bool seek(int64_t position) override
    {
        endPiece();
        const bool moved = m_inner->seek(position);
        m_position = moved ? position : -1;
        return moved;
    }

    size_t read(void *buffer, size_t size) override
    {
        endPiece();
        const size_t count = m_inner->read(buffer, size);
        if (m_position >= 0)
            m_position += int64_t(count);
        return count;
    }

    size_t write(const void *buffer, size_t size) override
    {
        if (m_position < 0) {
            // The library seeks before it writes; a write from an unknown place cannot be
            // checked later, and the digest says so.
            m_digest->markLost();
            return m_inner->write(buffer, size);
        }
        const size_t count = m_inner->write(buffer, size);
        absorb(static_cast<const uint8_t *>(buffer), count);
        return count;
    }

    int64_t size() override { return m_inner->size(); }
    bool flush() override { return m_inner->flush(); }
    bool commit() override { return m_inner->commit(); }
    bool dropCache(int64_t position, int64_t size) override { return m_inner->dropCache(position, size); }

    bool close() override
    {
        if (m_closed)
            return true;
        endPiece();
        m_closed = true;
        return m_inner->close();
    }

private:
    void absorb(const uint8_t *data, size_t size)
    {
        while (size > 0) {
            if (m_pieceSize == 0) {
                m_pieceStart = m_position;
                m_hash.reset();
            }
            int64_t take = std::min<int64_t>(int64_t(size), WriteDigest::kPieceSize - m_pieceSize);
            const auto boundary = m_digest->boundaries().upper_bound(m_position);
            if (boundary != m_digest->boundaries().end())
                take = std::min(take, *boundary - m_position);
            m_hash.add(data, size_t(take));
            m_pieceSize += take;
            m_position += take;
            data += take;
            size -= size_t(take);
            if (m_pieceSize == WriteDigest::kPieceSize ||
                (boundary != m_digest->boundaries().end() && m_position == *boundary))
                endPiece();
        }
    }

    void endPiece()
    {
        if (m_pieceSize == 0)
            return;
        const int64_t start = m_pieceStart;
        const int64_t size = m_pieceSize;
        m_pieceSize = 0;
        bool reread = false;
        m_digest->add(start, size, m_hash.value(),
                      [this, &reread](int64_t position, int64_t bytes, Digest128 *hash) {
                          reread = true;
                          return rehash(position, bytes, hash);
                      });
        // Reading what an earlier piece kept moved the file; the next write goes where it was.
        if (reread && m_position >= 0 && !m_inner->seek(m_position))
            m_position = -1;
    }

    // Hashes bytes this stream wrote earlier, as the file holds them now.
    bool rehash(int64_t position, int64_t size, Digest128 *hash)
    {
        if (!m_inner->seek(position))
            return false;
        Hash128 fresh;
        uint8_t buffer[4096];
        for (int64_t left = size; left > 0;) {
            const size_t n = size_t(std::min<int64_t>(left, int64_t(sizeof buffer)));
            if (m_inner->read(buffer, n) != n)
                return false;
            fresh.add(buffer, n);
            left -= int64_t(n);
        }
        *hash = fresh.value();
        return true;
    }

    std::unique_ptr<Stream> m_inner;
    std::shared_ptr<WriteDigest> m_digest;
    int64_t m_position = -1; // unknown until the first seek
    int64_t m_pieceStart = 0;
    int64_t m_pieceSize = 0;
    Hash128 m_hash;
    bool m_closed = false;
};

std::unique_ptr<Stream> recording(std::unique_ptr<Stream> file, const std::shared_ptr<WriteDigest> &digest)
{
    return std::make_unique<DigestStream>(std::move(file), digest);
}

} // namespace

namespace carddata {

int64_t WriteDigest::bytes() const
{
    int64_t total = 0;
    for (const auto &piece : m_pieces)
        total += piece.second.size;
    return total;
}

} // namespace carddata

int mlsdRecordCardWrites(SdCardHandle *card, const std::shared_ptr<WriteDigest> &digest)
{
    static constexpr const char *self = "mlsdRecordCardWrites";
    if (!card || !card->file || !card->memoryManager || !digest)
        return fail(self, "Nothing to record.");
    const int64_t header = int64_t(card->memoryMap.words[MapHeaderSector]) * kSectorSize;
    for (size_t field : {kCardHeaderNameOffset, kCardHeaderDescriptionOffset,
                         kCardHeaderDescriptionOffset + kTextDescriptionSize})
        digest->addBoundary(header + int64_t(field));
    card->file = recording(std::move(card->file), digest);
    // The memory manager writes the looper records through the same file.
    card->memoryManager->file = card->file.get();
    return 0;
}

int mlsdRecordArchiveWrites(ArchiveHandle *archive, const std::shared_ptr<WriteDigest> &digest)
{
    static constexpr const char *self = "mlsdRecordArchiveWrites";
    if (!archive || !archive->file || !digest)
        return fail(self, "Nothing to record.");
    for (size_t field :
         {kArchiveNameOffset, kArchiveDescriptionOffset, kArchiveDescriptionOffset + kTextDescriptionSize})
        digest->addBoundary(int64_t(field));
    archive->file = recording(std::move(archive->file), digest);
    return 0;
}
