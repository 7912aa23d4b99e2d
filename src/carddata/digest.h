// 128-bit digests (XXH3-128) of what moves between a card and an archive, and what they decide.
//
// - A card read under its lock (the safety copy before a restore) can keep the digest of every
//   piece it read (CardDigest): the restore that follows under the same lock then skips each
//   piece whose digest says the card already holds those bytes. Without such digests the restore
//   can compare by reading the card ahead of each write, while that pays. Either way the pieces
//   that differ are written in runs as large as the writes the library makes, and a WriteTally
//   counts both.
// - An archive read back after it was written yields the digests of its parts (its header, each
//   song's records and its audio) and of the whole file (FileSums), which the domain keeps beside
//   it; a later look compares the file with them.
//
// Why XXH3-128, and what the digests prove: docs/RELIABILITY.md.
#pragma once

#include "carddata.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct XXH3_state_s;

namespace carddata {

struct Digest128
{
    uint64_t high = 0;
    uint64_t low = 0;
    bool operator==(const Digest128 &other) const { return high == other.high && low == other.low; }
    bool operator!=(const Digest128 &other) const { return !(*this == other); }
};

// 32 lowercase hexadecimal digits, the high half first (as xxh128sum prints it).
std::string toHex(const Digest128 &digest);
bool fromHex(const std::string &text, Digest128 *digest);

Digest128 hash128(const void *data, size_t size);

// XXH3-128 of bytes fed in as many calls as they come.
class Hash128
{
public:
    Hash128();
    ~Hash128();
    Hash128(Hash128 &&other) noexcept;
    Hash128 &operator=(Hash128 &&other) noexcept;
    Hash128(const Hash128 &) = delete;
    Hash128 &operator=(const Hash128 &) = delete;

    void reset();
    void add(const void *data, size_t size);
    Digest128 value() const;

private:
    XXH3_state_s *m_state;
};

// What a card held where it was read: the digest of each piece read, by position.
class CardDigest
{
public:
    // Reads and writes are cut into pieces of at most this size from where each one starts, so a
    // restore's writes meet the pieces an archive's reads of the same records and audio made.
    static constexpr int64_t kPieceSize = 64 * 1024;

    // Records a piece; whatever was known of bytes it overlaps is forgotten.
    void add(int64_t position, int64_t size, const Digest128 &digest);
    // Whether the card holds bytes of this digest as exactly this piece.
    bool holds(int64_t position, int64_t size, const Digest128 &digest) const;
    // Forgets every piece that overlaps the range.
    void forget(int64_t position, int64_t size);
    size_t pieceCount() const { return m_pieces.size(); }

private:
    struct Piece
    {
        int64_t size;
        Digest128 digest;
    };
    std::map<int64_t, Piece> m_pieces;
};

// What a restore did with the bytes it had to put on the card.
struct WriteTally
{
    int64_t written = 0;
    int64_t unchanged = 0; // already on the card, not written
};

// The digests of a file's parts, which follow each other from its first byte to its last, and of
// the whole file: the digest of the parts' digests one after the other (each 16 bytes, the high
// half first), so that the file is hashed once, and one part can be hashed again alone after an
// edit of it without trusting the rest anew.
struct FileSums
{
    struct Part
    {
        int32_t song = 0; // the archive's song it belongs to, from 1; 0 for none
        int64_t start = 0;
        int64_t size = 0;
        Digest128 digest;
    };
    int64_t size = 0;
    Digest128 whole;
    std::vector<Part> parts;

    // The whole file's digest from the parts' digests.
    static Digest128 wholeOf(const std::vector<Part> &parts);
};

// Takes a file's bytes in order from its first into the digests of `parts` (which must follow each
// other from byte 0; their digests are ignored). Bytes past the last part make a part of their own,
// of no song. A part the file does not reach keeps the digest of what it got.
class FileSummer
{
public:
    explicit FileSummer(std::vector<FileSums::Part> parts);
    void add(const uint8_t *data, size_t size);
    int64_t fed() const { return m_sums.size; }
    FileSums sums() const;

private:
    void endPart();

    FileSums m_sums;
    size_t m_part = 0; // the part being fed
    Hash128 m_hash;
};

} // namespace carddata

// Installs on the card's file a recorder of what is read: from now on every read adds its pieces
// to `digest`. The header read when the card was opened is recorded as it is held in the handle.
int mlsdRecordCardReads(SdCardHandle *card, const std::shared_ptr<carddata::CardDigest> &digest);

// From now on a write to the card leaves out each piece the card already holds: known from `known`
// (taken by reading this card under the lock still held, and kept up to date here), or, without it
// and with `compareByReading`, found by reading the card ahead of the write, until a run of writes
// has differed for long enough that reading stops paying. `tally` counts what was written and what
// was left out. Where a read ahead fails, the rest of that run is written. Installed once, after
// mlsdRecordCardWrites(), so that a read-back checks what was written, not what was left out.
int mlsdSkipUnchangedWrites(SdCardHandle *card, std::shared_ptr<carddata::CardDigest> known,
                            bool compareByReading, const std::shared_ptr<carddata::WriteTally> &tally);

// Reads the whole file at `path` into `summer`, past the kernel's cache when `pastCache` (to see
// what the medium holds), else through it (to leave it there for a reader that follows). Progress
// in KiB; a non-zero answer stops it with "Aborted by user.". 0, or 1 with the error text set.
int mlsdSumFile(const char *path, bool pastCache, carddata::FileSummer *summer,
                const ProgressCallback *progress);
