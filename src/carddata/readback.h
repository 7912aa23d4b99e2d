// Verification of a transfer by reading its destination back from the medium.
//
// While a transfer writes its destination (a new archive file, or the card), a WriteDigest
// installed on the destination's handle keeps, for every range written, a 128-bit digest of the
// bytes (digest.h): one per piece of at most 64 KiB, so that a difference can be placed; a later write of
// a range replaces what an earlier one left there (the headers written when an archive is
// closed, a song record rewritten by a rename), so the digest describes the file as the
// transfer left it, not the source it came from. Once the file has been committed and closed,
// mlsdVerifyWrites() drops its cached pages and reads every recorded range back through a fresh
// read-only stream: it sees what the device returns, not what the kernel still holds.
//
// What this proves and what it cannot is written down in docs/RELIABILITY.md.
#pragma once

#include "carddata.h"
#include "digest.h"

#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace carddata {

class WriteDigest
{
public:
    static constexpr int64_t kPieceSize = 64 * 1024;

    struct Piece
    {
        int64_t size = 0;
        Digest128 hash;
    };

    // A position at which a piece always ends, so that the fields on either side can be told
    // apart (the card name and description in a header written as one record).
    void addBoundary(int64_t position) { m_boundaries.insert(position); }
    const std::set<int64_t> &boundaries() const { return m_boundaries; }

    // Records a piece, replacing whatever earlier pieces said about its bytes. A piece that it
    // covers only in part is hashed again, for the bytes it keeps, through `rehash` (which
    // reads them from the file being written); when that fails the digest is lost.
    template<typename Rehash> void add(int64_t position, int64_t size, const Digest128 &hash, Rehash rehash);

    // Pieces by position; they never overlap.
    const std::map<int64_t, Piece> &pieces() const { return m_pieces; }
    int64_t bytes() const;

    // A write the digest could not follow (its position was unknown, or a partly replaced piece
    // could not be read again): the file cannot be vouched for.
    void markLost() { m_lost = true; }
    bool lost() const { return m_lost; }

private:
    std::set<int64_t> m_boundaries;
    std::map<int64_t, Piece> m_pieces;
    bool m_lost = false;
};

// Where the records of a written file lie, to name the place of a difference in words.
class WrittenLayout
{
public:
    struct Place
    {
        int32_t song = -1; // -1 for the card or archive as a whole
        std::string where; // "song 3, part 1, looper audio at byte 65,536", "card name", ...
    };

    // The card data file, from its memory map.
    static WrittenLayout card(const CardMemoryMap &map);
    // An archive as its headers place its records; taken before the archive is closed. Its
    // songs are named from `firstSongShownAs` + 1 on (a song file is named after the card song
    // it came from).
    static WrittenLayout archive(const ArchiveHandle &archive, int firstSongShownAs = 0);

    Place place(int64_t position) const;

    // The records among the regions (everything but the looper audio), in the order added.
    struct Record
    {
        int64_t start;
        int64_t size;
        int32_t song; // -1 for the card or archive as a whole
        int32_t part; // -1 for a record that is not a part's
    };
    std::vector<Record> records() const;

private:
    enum class What { Header, Name, Description, UserPrefs, SongHeader, SongData, PartData, Looper, Audio };
    struct Region
    {
        int64_t start;
        int64_t size;
        What what;
        int32_t song;
        int32_t part;
    };

    void addRegion(int64_t start, int64_t size, What what, int32_t song = -1, int32_t part = -1);

    std::vector<Region> m_regions; // sorted by start once built
    bool m_isCard = false;
};

template<typename Rehash>
void WriteDigest::add(int64_t position, int64_t size, const Digest128 &hash, Rehash rehash)
{
    if (size <= 0)
        return;
    const int64_t end = position + size;
    auto it = m_pieces.lower_bound(position);
    if (it != m_pieces.begin()) {
        auto before = std::prev(it);
        if (before->first + before->second.size > position)
            it = before;
    }
    std::vector<std::pair<int64_t, int64_t>> kept; // parts of replaced pieces outside the new one
    while (it != m_pieces.end() && it->first < end) {
        const int64_t oldStart = it->first;
        const int64_t oldEnd = oldStart + it->second.size;
        if (oldStart < position)
            kept.emplace_back(oldStart, position - oldStart);
        if (oldEnd > end)
            kept.emplace_back(end, oldEnd - end);
        it = m_pieces.erase(it);
    }
    m_pieces[position] = Piece{size, hash};
    for (const auto &[keptStart, keptSize] : kept) {
        Digest128 keptHash;
        if (!rehash(keptStart, keptSize, &keptHash)) {
            m_lost = true;
            continue;
        }
        m_pieces[keptStart] = Piece{keptSize, keptHash};
    }
}

} // namespace carddata

// Installs `digest` on the handle's file: from now on every write to it is recorded there,
// until the handle is closed. Installed once per handle, before the transfer writes.
int mlsdRecordCardWrites(SdCardHandle *card, const std::shared_ptr<carddata::WriteDigest> &digest);
int mlsdRecordArchiveWrites(ArchiveHandle *archive, const std::shared_ptr<carddata::WriteDigest> &digest);

// Reads back every range `digest` recorded for the file at `path`, which must have been
// committed and closed, after dropping its cached pages, and compares each with its hash.
// Progress: with songCount 0, (0, 0, done, total) over all the bytes; otherwise song by song,
// (song, songCount, done, total) with the song that `layout` places each range in (the card as a
// whole counts with song 0). Returns 0 when everything reads back as written; otherwise 1 with
// the error text "<where> differs from the original.", "<where> could not be read back.", or
// "Aborted by user." when the progress asked to stop. With `sums` (an archive's), the file is read
// whole and in order, what was not written too, and every byte read goes into it.
int mlsdVerifyWrites(const char *path, const carddata::WriteDigest &digest,
                     const carddata::WrittenLayout &layout, int32_t songCount,
                     const CardProgressCallback *progress, carddata::FileSummer *sums = nullptr);

// What Undo compares to tell whether a card changed since a command: one 128-bit digest
// (XXH3-128, as everywhere in the program) per record of the card as its file holds it now, the
// header in three (its name, its description, the rest), the user prefs, and each song's song
// record and each part's part and looper records (about 2 MB, not the looper audio). `where` names
// the record as a difference is named ("card name", "song 3, part 1, looper record").
struct CardRecordHash
{
    int32_t song;
    int32_t part;
    std::string where;
    carddata::Digest128 digest;
};
int mlsdHashCardRecords(SdCardHandle *card, std::vector<CardRecordHash> *hashes);
