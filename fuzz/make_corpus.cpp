// Writes the fuzzers' seed corpora: card data and archive files made by the card data library
// itself from small cards in memory, and hostile variants of them, each a few bytes away from a
// file the library writes. Recordings are a few chunks long so the corpora stay small, and
// every byte the layout does not interpret is zero so that they compress well.
//
//   morv-fuzz-corpus DIR      writes DIR/fuzz_archive_read, DIR/fuzz_archive_restore and
//                             DIR/fuzz_card_open (existing files of the same names are replaced)
#include "carddata/carddata.h"
#include "support/memorystream.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace TS = ZovaZode::TestSupport;
using Bytes = std::vector<uint8_t>;

namespace {

void put32(Bytes &bytes, size_t offset, uint32_t value)
{
    if (bytes.size() < offset + 4)
        bytes.resize(offset + 4);
    for (int i = 0; i < 4; ++i)
        bytes[offset + size_t(i)] = uint8_t(value >> (8 * i));
}

void putText(Bytes &bytes, size_t offset, const char *text)
{
    std::memcpy(bytes.data() + offset, text, std::strlen(text));
}

Bytes songRecord(const char *name)
{
    Bytes record(carddata::kUISongDataSize, 0);
    put32(record, 0, carddata::kSongRecordMarker);
    putText(record, carddata::kSongNameOffset, name);
    putText(record, carddata::kSongDescriptionOffset, "A seed song");
    put32(record, carddata::kSongFirstValueOffset, 1);
    for (uint32_t i = 0; i < 3; ++i)
        put32(record, carddata::kSongSequenceOffset + 4 * i, i);
    put32(record, carddata::kSongSequenceCountOffset, 3);
    put32(record, carddata::kSongThirdValueOffset, uint32_t(-1));
    return record;
}

Bytes partRecord(bool inUse, bool looper)
{
    Bytes record(carddata::kUIPartDataSize, 0);
    put32(record, carddata::kPartInUseOffset, inUse ? 1 : 0);
    for (size_t r = 0; r < 4; ++r) {
        const size_t at = carddata::kPartLoopRecordsOffset + 4 * carddata::kLoopRecordWords * r;
        put32(record, at, looper ? 0 : 4);
        put32(record, at + 4, 4);
        put32(record, at + 4 * 197, 96);
    }
    put32(record, carddata::kPartGenreOffset, 3);
    put32(record, carddata::kPartLooperFlagOffset, looper ? 1 : 0);
    const float duration = 8.0f;
    uint32_t bits;
    std::memcpy(&bits, &duration, sizeof bits);
    put32(record, carddata::kPartDurationOffset, bits);
    return record;
}

Bytes looperRecord(int32_t length)
{
    Bytes record(carddata::kLooperRecordSize, 0);
    if (length <= 0) {
        put32(record, carddata::kLooperStateOffset, 1);
        put32(record, carddata::kLooperAuxiliaryOffset, uint32_t(-1));
        return record;
    }
    put32(record, carddata::kLooperStateOffset, 0);
    put32(record, carddata::kLooperLengthOffset, uint32_t(length));
    uint32_t checksum = 0;
    for (int32_t w = 0; w < 4; ++w) {
        const uint32_t payload = 0x01020304u * uint32_t(w + 1);
        put32(record, carddata::kLooperPayloadOffset + 4 * size_t(w), payload);
        if (w < length / 32)
            checksum ^= payload;
    }
    put32(record, carddata::kLooperChecksumOffset, checksum);
    return record;
}

struct SeedPart
{
    bool inUse;
    bool looper;
    int32_t chunks; // recording length; 0 is an empty part
};

struct SeedSong
{
    const char *name;
    SeedPart parts[5];
};

// Song 0 takes every path of archive and restore: a recording, a looper part whose recording
// reaches the checksum's first word, a part in use without a recording, a recording on an
// unused part (not copied), an unused part. Song 1 has no recording at all.
const SeedSong kSongs[] = {
    {"Seed song one",
     {{true, false, 3}, {true, true, 33}, {true, false, 0}, {false, false, 2}, {false, false, 0}}},
    {"Seed song two",
     {{false, false, 0}, {false, false, 0}, {true, false, 0}, {false, false, 0}, {false, false, 0}}},
};

struct SongBytes
{
    Bytes song;
    Bytes parts[5];
    Bytes loopers[5];
};

SongBytes songBytes(const SeedSong &seed)
{
    SongBytes bytes;
    bytes.song = songRecord(seed.name);
    for (int p = 0; p < 5; ++p) {
        bytes.parts[p] = partRecord(seed.parts[p].inUse, seed.parts[p].looper);
        bytes.loopers[p] = looperRecord(seed.parts[p].chunks);
    }
    return bytes;
}

std::shared_ptr<TS::MemoryFile> seedCard()
{
    auto card = TS::newMemoryCard();
    CardMemoryMap map;
    localGetMemoryMap(0, &map);
    for (int s = 0; s < 2; ++s) {
        const SongBytes bytes = songBytes(kSongs[s]);
        card->put(mlsdSongDataPosition(&map, s), bytes.song.data(), bytes.song.size());
        for (int p = 0; p < 5; ++p) {
            card->put(mlsdPartDataPosition(&map, s, p), bytes.parts[p].data(), bytes.parts[p].size());
            card->put(mlsdLooperDataPosition(&map, s, p), bytes.loopers[p].data(), bytes.loopers[p].size());
            Bytes audio(size_t(kSongs[s].parts[p].chunks) * carddata::kAudioChunkSize);
            for (size_t i = 0; i < audio.size(); ++i)
                audio[i] = uint8_t((i * 7 + size_t(s) * 31 + size_t(p) * 5) & 0xFF);
            if (!audio.empty())
                card->put(mlsdAudioPosition(&map, s, p), audio.data(), audio.size());
        }
    }
    // Songs 2 to 11 are all zeros: a valid empty song.
    return card;
}

[[noreturn]] void die(const std::string &what)
{
    std::fprintf(stderr, "morv-fuzz-corpus: %s: %s\n", what.c_str(), mlsdGetErrorString());
    std::exit(1);
}

// Archives the given card songs (all 12 with prefs when `wholeCard`) with the library.
Bytes archiveWithLibrary(TS::MemoryFileSystem &files, const std::vector<int> &songs, bool wholeCard)
{
    files.add("card", seedCard());
    files.add("out", std::make_shared<TS::MemoryFile>(0));
    SdCardHandle *card = mlsdOpenSDCard("card", 0);
    ArchiveHandle *archive = mlsdOpenArchiveW(L"out", 1, 1);
    if (!card || !archive)
        die("cannot open the seed card or archive");
    if (wholeCard) {
        if (mlsdArchiveSDCard(card, archive, nullptr) != 0)
            die("archiving the seed card failed");
    } else {
        for (int song : songs)
            if (mlsdArchiveSong(card, archive, song, nullptr) != 0)
                die("archiving a seed song failed");
    }
    if (mlsdCloseArchive(archive) != 0)
        die("closing the seed archive failed");
    mlsdCloseSDCard(card);
    return files.file("out")->bytes();
}

// The card's records laid out as fuzz_card_open reads its input: header, prefs, then each
// song's song record, part records and looper records, for the first `songs` songs.
Bytes cardInput(const TS::MemoryFile &card, int songs)
{
    CardMemoryMap map;
    localGetMemoryMap(0, &map);
    Bytes input = card.bytes(0, int64_t(carddata::kCardHeaderSize));
    auto append = [&](int64_t position, size_t size) {
        const Bytes bytes = card.bytes(position, int64_t(size));
        input.insert(input.end(), bytes.begin(), bytes.end());
    };
    append(TS::cardUserPrefsRange().start, carddata::kUserPrefsSize);
    for (int s = 0; s < songs; ++s) {
        append(mlsdSongDataPosition(&map, s), carddata::kUISongDataSize);
        for (int p = 0; p < 5; ++p)
            append(mlsdPartDataPosition(&map, s, p), carddata::kUIPartDataSize);
        for (int p = 0; p < 5; ++p)
            append(mlsdLooperDataPosition(&map, s, p), carddata::kLooperRecordSize);
    }
    return input;
}

void write(const std::filesystem::path &path, const Bytes &bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    if (!file)
        die("cannot write " + path.string());
}

Bytes with32(Bytes bytes, size_t offset, uint32_t value)
{
    put32(bytes, offset, value);
    return bytes;
}

Bytes cut(Bytes bytes, size_t size)
{
    bytes.resize(std::min(size, bytes.size()));
    return bytes;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: morv-fuzz-corpus DIR\n");
        return 2;
    }
    const std::filesystem::path root(argv[1]);
    TS::MemoryFileSystem files;
    carddata::setStreamOpener(files.opener());

    const Bytes cardArchive = archiveWithLibrary(files, {}, true);
    const Bytes songFile = archiveWithLibrary(files, {0}, false);
    const Bytes quietSong = archiveWithLibrary(files, {1}, false);
    const Bytes threeSongs = archiveWithLibrary(files, {0, 1, 0}, false);
    const Bytes noSongs = archiveWithLibrary(files, {}, false);

    // Positions inside the song file, as the library lays it out.
    const size_t block = 1192;
    const size_t looper0 = block + size_t(carddata::kBlockLooperData);
    const std::vector<std::pair<std::string, Bytes>> archives = {
        {"card-archive.mlad", cardArchive},
        {"song-file.mlsd", songFile},
        {"song-without-audio.mlsd", quietSong},
        {"three-songs.mlad", threeSongs},
        {"no-songs.mlad", noSongs},
        {"header-only.mlad", cut(songFile, carddata::kArchiveHeaderSize)},
        {"thirteen-songs.mlsd", with32(songFile, carddata::kArchiveSongCountOffset, 13)},
        {"version-1.mlsd", with32(songFile, carddata::kArchiveVersionOffset, 1)},
        {"song-beyond-end.mlsd", with32(songFile, carddata::kArchiveSongOffsetsOffset, 0x7FFFFFF0u)},
        {"song-at-header.mlsd", with32(songFile, carddata::kArchiveSongOffsetsOffset, 0)},
        {"part-size-changed.mlsd", with32(songFile, block + carddata::kSongHeaderUIPartSize, 16000)},
        {"looper-longer-than-audio.mlsd", with32(songFile, looper0 + carddata::kLooperLengthOffset, 31)},
        {"looper-length-negative.mlsd",
         with32(songFile, looper0 + carddata::kLooperLengthOffset, 0xFFFFFFF0u)},
        {"audio-size-huge.mlsd", with32(songFile, block + carddata::kSongHeaderAudioSizes, 0xFFFFFC00u)},
        {"prefs-far-away.mlsd", with32(songFile, carddata::kArchivePrefsOffsetOffset, 0xFFFFFF00u)},
        {"cut-in-song-header.mlsd", cut(songFile, block + 50)},
        {"cut-in-audio.mlsd", cut(songFile, songFile.size() - 1000)},
        // The fuzz targets read these bytes as the call that meets an I/O error.
        {"io-error-while-reading.mlsd", with32(songFile, 516, 0x09000000u)},
        {"io-error-while-restoring.mlsd", with32(songFile, songFile.size() - 4, 0x00280000u)},
    };
    for (const char *target : {"fuzz_archive_read", "fuzz_archive_restore"}) {
        std::filesystem::create_directories(root / target);
        for (const auto &[name, bytes] : archives)
            write(root / target / name, bytes);
    }

    const auto card = seedCard();
    const Bytes oneSong = cardInput(*card, 1);
    const size_t song0 = carddata::kCardHeaderSize + carddata::kUserPrefsSize;
    const size_t part0 = song0 + carddata::kUISongDataSize;
    const size_t looperStart = part0 + 5 * carddata::kUIPartDataSize;
    const std::vector<std::pair<std::string, Bytes>> cards = {
        {"header-and-prefs.card", cardInput(*card, 0)},
        {"one-song.card", oneSong},
        {"two-songs.card", cardInput(*card, 2)},
        {"wrong-id.card", with32(cardInput(*card, 0), 0, 0x58534C4Du)},
        {"short.card", cut(oneSong, 10)},
        {"prefs-invalid.card", with32(cardInput(*card, 0), carddata::kCardHeaderSize + 16, 12)},
        {"sequence-count-100.card", with32(oneSong, song0 + carddata::kSongSequenceCountOffset, 100)},
        {"genre-12.card", with32(oneSong, part0 + carddata::kPartGenreOffset, 12)},
        {"looper-too-long.card", with32(oneSong, looperStart + carddata::kLooperLengthOffset,
                                        uint32_t(carddata::kMaxLooperChunks + 1))},
        {"looper-negative.card", with32(oneSong, looperStart + carddata::kLooperLengthOffset, 0x80000000u)},
        {"looper-state-7.card", with32(oneSong, looperStart + carddata::kLooperStateOffset, 7)},
        // Header bytes 4 to 7: the song to clear, then the calls that meet an I/O error.
        {"io-errors.card", with32(oneSong, 4, 0x00030702u)},
        {"whole-card-round-trip.card", with32(cardInput(*card, 2), 4, 0x01000000u)},
    };
    std::filesystem::create_directories(root / "fuzz_card_open");
    for (const auto &[name, bytes] : cards)
        write(root / "fuzz_card_open" / name, bytes);
    std::printf("wrote %zu archive seeds (twice) and %zu card seeds under %s\n", archives.size(),
                cards.size(), root.c_str());
    return 0;
}
