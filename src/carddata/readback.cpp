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
    const auto &pieces = digest.pieces();
    for (auto it = pieces.begin(); it != pieces.end();) {
        const int64_t start = it->first;
        int64_t end = start + it->second.size;
        for (++it; it != pieces.end() && it->first == end; ++it)
            end += it->second.size;
        if (!file->dropCache(start, end - start))
            return fail(kSelf, "the cached copy of the written file could not be dropped.");
    }

    struct Item
    {
        int64_t position;
        WriteDigest::Piece piece;
        int32_t song;
    };
    std::vector<Item> items;
    items.reserve(pieces.size());
    for (const auto &[position, piece] : pieces) {
        const int32_t song = songCount > 0 ? std::clamp(layout.place(position).song, 0, songCount - 1) : 0;
        items.push_back(Item{position, piece, song});
    }
    // Song by song, so that a whole card's progress moves forward; in file order inside a song. The
    // sums take the file in order (an archive's songs follow each other in it).
    std::stable_sort(items.begin(), items.end(), [sums](const Item &a, const Item &b) {
        return sums ? a.position < b.position : a.song < b.song;
    });
    std::vector<int64_t> totals(size_t(std::max(songCount, 1)), 0);
    for (const Item &item : items)
        totals[size_t(item.song)] += item.piece.size;

    // Pieces that follow each other on the file are read in runs of up to 1 MiB: a cold read
    // of a piece at a time waits for the device once per 64 KiB, several times slower than the
    // write it checks.
    constexpr int64_t kRunSize = 1024 * 1024;
    std::vector<uint8_t> buffer;
    int64_t at = -1;
    int64_t done = 0;
    int32_t song = -1;
    // What was not written (the user prefs block of a song file) goes into the sums as the file
    // holds it, up to `end`.
    const auto sumUpTo = [&](int64_t end) {
        while (sums && sums->fed() < end) {
            const int64_t start = sums->fed();
            const size_t want = size_t(std::min(end - start, kRunSize));
            buffer.resize(std::max(buffer.size(), want));
            at = -1;
            if (!file->seek(start) || file->read(buffer.data(), want) != want) {
                const std::string text = layout.place(start).where + " could not be read back.";
                return fail(kSelf, text.c_str());
            }
            if (!pastCache)
                file->dropCache(start, int64_t(want));
            sums->add(buffer.data(), want);
        }
        return 0;
    };
    for (size_t first = 0; first < items.size();) {
        const int64_t start = items[first].position;
        size_t last = first + 1;
        int64_t runSize = items[first].piece.size;
        const auto follows = [&](const Item &item, int64_t end) {
            return sums ? item.position >= end : item.position == end;
        };
        while (last < items.size() && items[last].song == items[first].song &&
               follows(items[last], start + runSize) &&
               items[last].position + items[last].piece.size - start <= kRunSize) {
            runSize = items[last].position + items[last].piece.size - start;
            ++last;
        }
        if (sumUpTo(start) != 0)
            return 1;
        if (buffer.size() < size_t(runSize))
            buffer.resize(size_t(runSize));
        const bool placed = at == start || file->seek(start);
        const int64_t got = placed ? int64_t(file->read(buffer.data(), size_t(runSize))) : 0;
        at = start + got;
        if (sums && got == runSize)
            sums->add(buffer.data(), size_t(got));

        for (size_t i = first; i < last; ++i) {
            const Item &item = items[i];
            const int64_t offset = item.position - start;
            if (offset + item.piece.size > got) {
                const std::string text = layout.place(item.position).where + " could not be read back.";
                return fail(kSelf, text.c_str());
            }
            if (hash128(buffer.data() + offset, size_t(item.piece.size)) != item.piece.hash) {
                const std::string text = layout.place(item.position).where + " differs from the original.";
                return fail(kSelf, text.c_str());
            }
            if (item.song != song) {
                song = item.song;
                done = 0;
            }
            done += item.piece.size;
            if (progress && progress->function &&
                progress->function(songCount > 0 ? song : 0, std::max(songCount, 0), clamped(done),
                                   clamped(totals[size_t(song)]), progress->context) != 0)
                return fail(kSelf, "Aborted by user.");
        }
        // Read once: pages read through the cache go, as a copy's source pages do.
        if (!pastCache)
            file->dropCache(start, got);
        first = last;
    }
    if (sums && sumUpTo(file->size()) != 0)
        return 1;
    file->close();
    return 0;
}
