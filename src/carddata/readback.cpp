// Reading a transfer's destination back from the medium and naming the place of a difference.
#include "readback.h"

#include "internal.h"

#include <algorithm>
#include <limits>

using namespace carddata;
using carddata::detail::fail;

namespace {

constexpr const char *kSelf = "mlsdVerifyWrites";

// 1234567 -> "1,234,567": the byte position of a difference is read by people.
std::string grouped(int64_t value)
{
    std::string digits = std::to_string(value);
    for (int i = int(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(size_t(i), 1, ',');
    return digits;
}

int32_t clamped(int64_t value)
{
    return int32_t(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

// A written piece, and the song whose progress it counts in.
struct WrittenPiece
{
    int64_t position;
    WriteDigest::Piece piece;
    int32_t song;
};

struct ReadingPlan
{
    std::vector<WrittenPiece> pieces; // in the order they are read
    std::vector<int64_t> totals;      // bytes per song, for its progress
};

// Pieces that follow each other on the file are read in runs of up to 1 MiB: a cold read
// of a piece at a time waits for the device once per 64 KiB, several times slower than the
// write it checks.
constexpr int64_t kRunSize = 1024 * 1024;

// Dropped in stretches of adjoining pieces, one call each rather than one per piece.
bool dropWrittenPages(Stream &file, const std::map<int64_t, WriteDigest::Piece> &pieces)
{
    for (auto it = pieces.begin(); it != pieces.end();) {
        const int64_t start = it->first;
        int64_t end = start + it->second.size;
        for (++it; it != pieces.end() && it->first == end; ++it)
            end += it->second.size;
        if (!file.dropCache(start, end - start))
            return false;
    }
    return true;
}

ReadingPlan planReading(const std::map<int64_t, WriteDigest::Piece> &pieces, const WrittenLayout &layout,
                        int32_t songCount, bool inFileOrder)
{
    ReadingPlan plan;
    plan.pieces.reserve(pieces.size());
    for (const auto &[position, piece] : pieces) {
        const int32_t song = songCount > 0 ? std::clamp(layout.place(position).song, 0, songCount - 1) : 0;
        plan.pieces.push_back(WrittenPiece{position, piece, song});
    }
    // Song by song, so that a whole card's progress moves forward; in file order inside a song. The
    // sums take the file in order (an archive's songs follow each other in it).
    std::stable_sort(plan.pieces.begin(), plan.pieces.end(),
                     [inFileOrder](const WrittenPiece &a, const WrittenPiece &b) {
                         return inFileOrder ? a.position < b.position : a.song < b.song;
                     });
    plan.totals.assign(size_t(std::max(songCount, 1)), 0);
    for (const WrittenPiece &piece : plan.pieces)
        plan.totals[size_t(piece.song)] += piece.piece.size;
    return plan;
}

// Reads the planned pieces back a run at a time and compares each with its digest, reporting
// progress as it goes. With sums, the bytes between the pieces are read too, so that the whole
// file passes through the sums in order.
class ReadBack
{
public:
    ReadBack(Stream &file, const WrittenLayout &layout, const ReadingPlan &plan, int32_t songCount,
             const CardProgressCallback *progress, FileSummer *sums, bool pastCache)
        : m_file(file), m_layout(layout), m_plan(plan), m_songCount(songCount), m_progress(progress),
          m_sums(sums), m_pastCache(pastCache)
    {}

    int checkAll()
    {
        for (size_t first = 0; first < m_plan.pieces.size();) {
            const Run run = nextRun(first);
            if (checkRun(run) != 0)
                return 1;
            first = run.last;
        }
        return m_sums && sumUpTo(m_file.size()) != 0 ? 1 : 0;
    }

private:
    struct Run
    {
        size_t first; // the run's pieces are [first, last)
        size_t last;
        int64_t start;
        int64_t size;
    };

    // The pieces read together from `first` on: one song's, and with sums the gaps between
    // them too, which the sums need read anyway.
    Run nextRun(size_t first) const
    {
        const std::vector<WrittenPiece> &pieces = m_plan.pieces;
        Run run{first, first + 1, pieces[first].position, pieces[first].piece.size};
        const auto follows = [&](const WrittenPiece &piece, int64_t end) {
            return m_sums ? piece.position >= end : piece.position == end;
        };
        while (run.last < pieces.size() && pieces[run.last].song == pieces[first].song &&
               follows(pieces[run.last], run.start + run.size) &&
               pieces[run.last].position + pieces[run.last].piece.size - run.start <= kRunSize) {
            run.size = pieces[run.last].position + pieces[run.last].piece.size - run.start;
            ++run.last;
        }
        return run;
    }

    int checkRun(const Run &run)
    {
        if (sumUpTo(run.start) != 0)
            return 1;
        if (m_buffer.size() < size_t(run.size))
            m_buffer.resize(size_t(run.size));
        const bool placed = m_at == run.start || m_file.seek(run.start);
        const int64_t got = placed ? int64_t(m_file.read(m_buffer.data(), size_t(run.size))) : 0;
        m_at = run.start + got;
        if (m_sums && got == run.size)
            m_sums->add(m_buffer.data(), size_t(got));
        for (size_t i = run.first; i < run.last; ++i) {
            if (comparePiece(m_plan.pieces[i], run.start, got) != 0)
                return 1;
        }
        // Read once: pages read through the cache go, as a copy's source pages do.
        if (!m_pastCache)
            m_file.dropCache(run.start, got);
        return 0;
    }

    // `got` bytes of the run starting at `runStart` are in the buffer.
    int comparePiece(const WrittenPiece &piece, int64_t runStart, int64_t got)
    {
        const int64_t offset = piece.position - runStart;
        if (offset + piece.piece.size > got)
            return failAt(piece.position, " could not be read back.");
        if (hash128(m_buffer.data() + offset, size_t(piece.piece.size)) != piece.piece.hash)
            return failAt(piece.position, " differs from the original.");
        if (piece.song != m_song) {
            m_song = piece.song;
            m_done = 0;
        }
        m_done += piece.piece.size;
        if (m_progress && m_progress->function &&
            m_progress->function(m_songCount > 0 ? m_song : 0, std::max(m_songCount, 0), clamped(m_done),
                                 clamped(m_plan.totals[size_t(m_song)]), m_progress->context) != 0)
            return fail(kSelf, "Aborted by user.");
        return 0;
    }

    // What no run has read up to `end` (bytes between runs or past the last piece) goes into
    // the sums as the file holds it: a run with sums reads the gaps inside it itself.
    int sumUpTo(int64_t end)
    {
        while (m_sums && m_sums->fed() < end) {
            const int64_t start = m_sums->fed();
            const size_t want = size_t(std::min(end - start, kRunSize));
            m_buffer.resize(std::max(m_buffer.size(), want));
            m_at = -1;
            if (!m_file.seek(start) || m_file.read(m_buffer.data(), want) != want)
                return failAt(start, " could not be read back.");
            if (!m_pastCache)
                m_file.dropCache(start, int64_t(want));
            m_sums->add(m_buffer.data(), want);
        }
        return 0;
    }

    int failAt(int64_t position, const char *what) const
    {
        const std::string text = m_layout.place(position).where + what;
        return fail(kSelf, text.c_str());
    }

    Stream &m_file;
    const WrittenLayout &m_layout;
    const ReadingPlan &m_plan;
    const int32_t m_songCount;
    const CardProgressCallback *m_progress;
    FileSummer *m_sums;
    const bool m_pastCache;
    std::vector<uint8_t> m_buffer;
    int64_t m_at = -1;  // where the file stands after the last run, -1 when unknown
    int64_t m_done = 0; // bytes of m_song checked
    int32_t m_song = -1;
};

} // namespace

namespace carddata {

void WrittenLayout::addRegion(int64_t start, int64_t size, What what, int32_t song, int32_t part)
{
    if (start >= 0 && size > 0)
        m_regions.push_back(Region{start, size, what, song, part});
}

WrittenLayout WrittenLayout::card(const CardMemoryMap &map)
{
    WrittenLayout layout;
    layout.m_isCard = true;
    const int64_t header = int64_t(map.words[MapHeaderSector]) * kSectorSize;
    const int64_t name = int64_t(kCardHeaderNameOffset);
    const int64_t description = int64_t(kCardHeaderDescriptionOffset);
    const int64_t afterDescription = description + int64_t(kTextDescriptionSize);
    layout.addRegion(header, name, What::Header);
    layout.addRegion(header + name, int64_t(kTextNameSize), What::Name);
    layout.addRegion(header + description, int64_t(kTextDescriptionSize), What::Description);
    layout.addRegion(header + afterDescription, int64_t(kCardHeaderSize) - afterDescription, What::Header);
    layout.addRegion(int64_t(map.words[MapUserPrefsSector]) * kSectorSize, int64_t(kUserPrefsSize),
                     What::UserPrefs);
    const int64_t audioArea = 2 * int64_t(map.words[MapAudioAreaSectors]) * kSectorSize;
    for (int song = 0; song < kSongCount; ++song) {
        layout.addRegion(mlsdSongDataPosition(&map, song), int64_t(kUISongDataSize), What::SongData, song);
        for (int part = 0; part < kPartCount; ++part) {
            layout.addRegion(mlsdPartDataPosition(&map, song, part), int64_t(kUIPartDataSize), What::PartData,
                             song, part);
            layout.addRegion(mlsdLooperDataPosition(&map, song, part), int64_t(kLooperRecordSize),
                             What::Looper, song, part);
            layout.addRegion(mlsdAudioPosition(&map, song, part), audioArea, What::Audio, song, part);
        }
    }
    return layout;
}

WrittenLayout WrittenLayout::archive(const ArchiveHandle &archive, int firstSongShownAs)
{
    WrittenLayout layout;
    const uint8_t *header = archive.header.data();
    const int64_t name = int64_t(kArchiveNameOffset);
    const int64_t description = int64_t(kArchiveDescriptionOffset);
    const int64_t afterDescription = description + int64_t(kTextDescriptionSize);
    layout.addRegion(0, name, What::Header);
    layout.addRegion(name, int64_t(kTextNameSize), What::Name);
    layout.addRegion(description, int64_t(kTextDescriptionSize), What::Description);
    layout.addRegion(afterDescription, int64_t(kArchiveHeaderSize) - afterDescription, What::Header);
    layout.addRegion(localGetWord32(header, kArchivePrefsOffsetOffset),
                     localGetWord32(header, kArchivePrefsSizeOffset), What::UserPrefs);

    // Our own archive, but the numbers still size nothing beyond what an archive can hold.
    const auto position = [](uint64_t a, uint64_t b) {
        const uint64_t limit = uint64_t(kMaxArchiveSize);
        return a <= limit && b <= limit - a ? int64_t(a + b) : int64_t(-1);
    };
    const int32_t songs = std::clamp(mlsdArchiveSongCount(&archive), 0, kArchiveMaxSongs);
    for (int song = 0; song < songs; ++song) {
        const int32_t shown = firstSongShownAs + song;
        const uint8_t *songHeader = archive.songHeaders[size_t(song)].data();
        const uint64_t block = localGetWord64(header, kArchiveSongOffsetsOffset + 8 * size_t(song));
        layout.addRegion(position(block, 0), int64_t(kArchiveSongHeaderSize), What::SongHeader, shown);
        layout.addRegion(position(block, localGetWord64(songHeader, kSongHeaderUISongOffset)),
                         localGetWord32(songHeader, kSongHeaderUISongSize), What::SongData, shown);
        const uint64_t partData = localGetWord64(songHeader, kSongHeaderUIPartOffset);
        const uint64_t partSize = localGetWord32(songHeader, kSongHeaderUIPartSize);
        const uint64_t looperData = localGetWord64(songHeader, kSongHeaderLooperOffset);
        const uint64_t looperSize = localGetWord32(songHeader, kSongHeaderLooperSize);
        for (int part = 0; part < kPartCount; ++part) {
            layout.addRegion(position(block, partData + uint64_t(part) * partSize), int64_t(partSize),
                             What::PartData, shown, part);
            layout.addRegion(position(block, looperData + uint64_t(part) * looperSize), int64_t(looperSize),
                             What::Looper, shown, part);
            layout.addRegion(
                position(block, localGetWord64(songHeader, kSongHeaderAudioOffsets + 8 * size_t(part))),
                localGetWord32(songHeader, kSongHeaderAudioSizes + 4 * size_t(part)), What::Audio, shown,
                part);
        }
    }
    return layout;
}

WrittenLayout::Place WrittenLayout::place(int64_t position) const
{
    for (const Region &region : m_regions) {
        if (position < region.start || position - region.start >= region.size)
            continue;
        const std::string song = "song " + std::to_string(region.song + 1);
        const std::string part = song + ", part " + std::to_string(region.part + 1);
        switch (region.what) {
        case What::Header:
            return {-1, m_isCard ? "card header" : "archive header"};
        case What::Name:
            return {-1, "card name"};
        case What::Description:
            return {-1, "card description"};
        case What::UserPrefs:
            return {-1, "user preferences"};
        case What::SongHeader:
            return {region.song, song + ", song header"};
        case What::SongData:
            return {region.song, song + ", song data"};
        case What::PartData:
            return {region.song, part + ", part data"};
        case What::Looper:
            return {region.song, part + ", looper record"};
        case What::Audio:
            return {region.song, part + ", looper audio at byte " + grouped(position - region.start)};
        }
    }
    return {-1, "byte " + grouped(position) + (m_isCard ? " of the card" : " of the archive")};
}

std::vector<WrittenLayout::Record> WrittenLayout::records() const
{
    std::vector<Record> result;
    for (const Region &region : m_regions) {
        if (region.what != What::Audio)
            result.push_back(Record{region.start, region.size, region.song, region.part});
    }
    return result;
}

} // namespace carddata

int mlsdHashCardRecords(SdCardHandle *card, std::vector<CardRecordHash> *hashes)
{
    static constexpr const char *self = "mlsdHashCardRecords";
    if (!card || !card->file || !hashes)
        return fail(self, "No card to read.");
    const WrittenLayout layout = WrittenLayout::card(card->memoryMap);
    std::vector<uint8_t> buffer;
    hashes->clear();
    for (const WrittenLayout::Record &record : layout.records()) {
        buffer.resize(size_t(record.size));
        if (!card->file->seek(record.start) ||
            card->file->read(buffer.data(), buffer.size()) != buffer.size())
            return fail(self, "Error reading the card's records.");
        hashes->push_back(CardRecordHash{record.song, record.part, layout.place(record.start).where,
                                         hash128(buffer.data(), buffer.size())});
    }
    return 0;
}

int mlsdVerifyWrites(const char *path, const WriteDigest &digest, const WrittenLayout &layout,
                     int32_t songCount, const CardProgressCallback *progress, FileSummer *sums)
{
    if (digest.lost())
        return fail(kSelf, "a write could not be followed, so the copy cannot be checked.");
    std::unique_ptr<Stream> file = path ? streamOpen(path, OpenMode::Read) : nullptr;
    if (!file)
        return fail(kSelf, "the written file could not be opened again.");

    // Nothing below may come from memory. The file is read past the cache where its file system
    // allows, and its cached pages are dropped before the first read either way: where reading
    // past the cache is refused, that is what keeps memory out; where it is not, the pages are
    // simply not needed any more.
    const bool pastCache = file->readFromDevice();
    if (!dropWrittenPages(*file, digest.pieces()))
        return fail(kSelf, "the cached copy of the written file could not be dropped.");

    const ReadingPlan plan = planReading(digest.pieces(), layout, songCount, sums != nullptr);
    ReadBack readBack{*file, layout, plan, songCount, progress, sums, pastCache};
    if (readBack.checkAll() != 0)
        return 1;
    file->close();
    return 0;
}
