// The two stream decorators behind a restore that writes only what differs: one on a card being
// read (a safety copy), recording the digest of every piece it reads; one on a card being
// written, leaving out each piece the card already holds.
#include "digest.h"

#include "internal.h"

#include <algorithm>
#include <cstring>

using namespace carddata;
using carddata::detail::fail;

namespace {

// Calls `each(position, size)` for the pieces of a read or write of [position, position + size),
// cut from its start.
template<typename Each> void forEachPiece(int64_t position, int64_t size, Each each)
{
    for (int64_t done = 0; done < size; done += CardDigest::kPieceSize)
        each(position + done, std::min(CardDigest::kPieceSize, size - done));
}

class ReadRecorder final : public Stream
{
public:
    ReadRecorder(std::unique_ptr<Stream> inner, std::shared_ptr<CardDigest> digest)
        : m_inner(std::move(inner)), m_digest(std::move(digest))
    {}
    ~ReadRecorder() override { close(); }

    bool seek(int64_t position) override
    {
        const bool moved = m_inner->seek(position);
        m_position = moved ? position : -1;
        return moved;
    }

    size_t read(void *buffer, size_t size) override
    {
        const size_t count = m_inner->read(buffer, size);
        if (m_position >= 0) {
            const auto *bytes = static_cast<const uint8_t *>(buffer);
            forEachPiece(m_position, int64_t(count), [&](int64_t at, int64_t piece) {
                m_digest->add(at, piece, hash128(bytes + (at - m_position), size_t(piece)));
            });
            m_position += int64_t(count);
        }
        return count;
    }

    // A card read for a copy is opened read-only; were it written, its digests would lie.
    size_t write(const void *buffer, size_t size) override
    {
        if (m_position >= 0)
            m_digest->forget(m_position, int64_t(size));
        m_position = -1;
        return m_inner->write(buffer, size);
    }

    int64_t size() override { return m_inner->size(); }
    bool flush() override { return m_inner->flush(); }
    bool commit() override { return m_inner->commit(); }
    bool dropCache(int64_t position, int64_t size) override { return m_inner->dropCache(position, size); }
    bool close() override { return m_inner->close(); }

private:
    std::unique_ptr<Stream> m_inner;
    std::shared_ptr<CardDigest> m_digest;
    int64_t m_position = -1;
};

// Reading ahead stops paying once this much of one run of writes (a part's audio) has differed
// in a row: it then costs a third of the writing for nothing, so the rest of the run is written
// as it comes. Four blocks: a few per cent of a part's writing at worst.
constexpr int64_t kGiveUpAfter = 4 * int64_t(detail::kAudioBlockSize);

class SkipStream final : public Stream
{
public:
    SkipStream(std::unique_ptr<Stream> inner, std::shared_ptr<CardDigest> known, bool compareByReading,
               std::shared_ptr<WriteTally> tally)
        : m_inner(std::move(inner)), m_known(std::move(known)), m_compareByReading(compareByReading),
          m_tally(std::move(tally))
    {}
    ~SkipStream() override { close(); }

    bool seek(int64_t position) override
    {
        const bool moved = m_inner->seek(position);
        m_position = moved ? position : -1;
        return moved;
    }

    size_t read(void *buffer, size_t size) override
    {
        if (m_position < 0 || !m_inner->seek(m_position))
            return 0;
        const size_t count = m_inner->read(buffer, size);
        m_position += int64_t(count);
        return count;
    }

    size_t write(const void *buffer, size_t size) override
    {
        // The library seeks before it writes; a write from an unknown place is not compared.
        if (m_position < 0)
            return 0;
        const auto *bytes = static_cast<const uint8_t *>(buffer);
        const int64_t start = m_position;
        if (start != m_runEnd) {
            m_reading = m_compareByReading && !m_known;
            m_differing = 0;
        }
        // A card that cannot be read there is written there, as writing every byte would: the
        // reading only ever saves writes, and the read-back proves what was written.
        const bool onCard = m_reading && readAhead(start, size);
        if (m_reading && !onCard)
            m_reading = false;

        // The pieces' verdicts, then each run of equal verdicts written or left out at once.
        m_same.clear();
        forEachPiece(start, int64_t(size), [&](int64_t at, int64_t piece) {
            const uint8_t *data = bytes + (at - start);
            m_same.push_back(onCard ? std::memcmp(m_ahead.data() + (at - start), data, size_t(piece)) == 0
                                    : m_known && m_known->holds(at, piece, hash128(data, size_t(piece))));
        });
        for (size_t first = 0; first < m_same.size();) {
            size_t last = first + 1;
            while (last < m_same.size() && m_same[last] == m_same[first])
                ++last;
            const int64_t from = int64_t(first) * CardDigest::kPieceSize;
            const int64_t to = std::min(int64_t(last) * CardDigest::kPieceSize, int64_t(size));
            if (m_same[first]) {
                m_tally->unchanged += to - from;
                m_differing = 0;
            } else {
                if (m_known)
                    m_known->forget(start + from, to - from);
                const size_t length = size_t(to - from);
                if (!m_inner->seek(start + from) || m_inner->write(bytes + from, length) != length) {
                    m_position = -1;
                    return size_t(from);
                }
                m_tally->written += to - from;
                m_differing += to - from;
            }
            first = last;
        }
        if (m_differing >= kGiveUpAfter)
            m_reading = false;
        m_position = m_runEnd = start + int64_t(size);
        return size;
    }

    int64_t size() override { return m_inner->size(); }
    bool flush() override { return m_inner->flush(); }
    bool commit() override { return m_inner->commit(); }
    bool dropCache(int64_t position, int64_t size) override { return m_inner->dropCache(position, size); }
    bool close() override { return m_inner->close(); }

private:
    // Reads what the card holds where the write goes. Its pages are dropped at once: overwriting
    // pages the kernel holds costs about twice as much as writing past them.
    bool readAhead(int64_t position, size_t size)
    {
        m_ahead.resize(size);
        if (!m_inner->seek(position) || m_inner->read(m_ahead.data(), size) != size)
            return false;
        m_inner->dropCache(position, int64_t(size));
        return true;
    }

    std::unique_ptr<Stream> m_inner;
    std::shared_ptr<CardDigest> m_known;
    const bool m_compareByReading;
    std::shared_ptr<WriteTally> m_tally;
    int64_t m_position = -1;
    int64_t m_runEnd = -1;  // where the last write ended: a write there continues its run
    bool m_reading = false; // comparing by reading in the current run
    int64_t m_differing = 0;
    std::vector<uint8_t> m_ahead;
    std::vector<bool> m_same;
};

} // namespace

int mlsdRecordCardReads(SdCardHandle *card, const std::shared_ptr<CardDigest> &digest)
{
    if (!card || !card->file || !card->memoryManager || !digest)
        return fail("mlsdRecordCardReads", "Nothing to record.");
    digest->add(int64_t(card->memoryMap.words[MapHeaderSector]) * kSectorSize, int64_t(kCardHeaderSize),
                hash128(card->header.data(), kCardHeaderSize));
    card->file = std::make_unique<ReadRecorder>(std::move(card->file), digest);
    card->memoryManager->file = card->file.get();
    return 0;
}

int mlsdSkipUnchangedWrites(SdCardHandle *card, std::shared_ptr<CardDigest> known, bool compareByReading,
                            const std::shared_ptr<WriteTally> &tally)
{
    if (!card || !card->file || !card->memoryManager || !tally)
        return fail("mlsdSkipUnchangedWrites", "Nothing to write.");
    card->file =
        std::make_unique<SkipStream>(std::move(card->file), std::move(known), compareByReading, tally);
    card->memoryManager->file = card->file.get();
    return 0;
}
