// Fuzz target: a card data file opened and read record by record, examined as `verify` does,
// archived song by song and restored again, and finally changed as the window changes it
// (a song cleared, the header written).
//
// The input is laid over a full-size sparse card in memory, in the order of the card's layout:
// the header (1,024 bytes), the user prefs (512), then for song 0, 1, ... its UI song data
// (1,024), its five UI part data records (5 x 16,384) and its five looper records
// (5 x 10,752). What the input does not cover is zeros; the looper audio is zeros.
//
// Header bytes 4 to 7, which the layout does not interpret, steer the run: the song to clear,
// the calls that meet an I/O error while reading and while changing the card, and in byte 7
// which of the costly stages run (bit 1: the examination; bit 2: the round trip; bit 3: a
// second reading that meets an I/O error) and whether the round trip archives the whole card
// or each song on its own (bit 0). The stages share nothing but the card, so running each on
// every input would only divide the executions per second.
//
// Promises checked: no crash; a card opened for reading is never written; clearing a song and
// writing the header touch only their own records; an archive the library wrote and closed
// without an error opens again; a song restored from it carries the card's records unchanged;
// no stream is left open.
#include "fuzzsupport.h"

#include "carddata/verify.h"

#include <algorithm>
#include <vector>

using namespace ZovaZode::Fuzz;
namespace TS = ZovaZode::TestSupport;

namespace {

// Copies input bytes [from, from + size) to the card at `position`, as far as the input goes.
void lay(MemoryFile &card, const uint8_t *data, size_t dataSize, int64_t from, int64_t position, int64_t size)
{
    if (from >= int64_t(dataSize))
        return;
    card.put(position, data + from, size_t(std::min<int64_t>(size, int64_t(dataSize) - from)));
}

// How many songs the input reaches into.
int laySongs(MemoryFile &card, const uint8_t *data, size_t size)
{
    CardMemoryMap map;
    localGetMemoryMap(0, &map);
    lay(card, data, size, 0, 0, int64_t(carddata::kCardHeaderSize));
    lay(card, data, size, int64_t(carddata::kCardHeaderSize), TS::cardUserPrefsRange().start,
        int64_t(carddata::kUserPrefsSize));
    int64_t at = int64_t(carddata::kCardHeaderSize + carddata::kUserPrefsSize);
    int songs = 0;
    for (int song = 0; song < carddata::kSongCount && at < int64_t(size); ++song, ++songs) {
        lay(card, data, size, at, mlsdSongDataPosition(&map, song), int64_t(carddata::kUISongDataSize));
        at += int64_t(carddata::kUISongDataSize);
        for (int part = 0; part < carddata::kPartCount; ++part, at += int64_t(carddata::kUIPartDataSize))
            lay(card, data, size, at, mlsdPartDataPosition(&map, song, part),
                int64_t(carddata::kUIPartDataSize));
        for (int part = 0; part < carddata::kPartCount; ++part, at += int64_t(carddata::kLooperRecordSize))
            lay(card, data, size, at, mlsdLooperDataPosition(&map, song, part),
                int64_t(carddata::kLooperRecordSize));
    }
    return songs;
}

// Reads the records of the songs the input reached (song 0 at least): the rest of the card is
// zeros, which the first song already shows the library.
void readEverything(SdCardHandle *card, int songs)
{
    static uint8_t prefs[carddata::kUserPrefsSize];
    static uint8_t song[carddata::kUISongDataSize];
    static uint8_t part[carddata::kUIPartDataSize];
    mlsdGetUserPrefsFromSDCard(card->file.get(), &card->memoryMap, prefs);
    for (int s = 0; s < std::max(songs, 1); ++s) {
        if (mlsdGetUISongDataFromSDCard(card->file.get(), &card->memoryMap, s, song) == 0)
            localUISongDataValid(song);
        for (int p = 0; p < carddata::kPartCount; ++p) {
            if (mlsdGetUIPartDataFromSDCard(card->file.get(), &card->memoryMap, s, p, part) == 0) {
                localUIPartDataValid(part);
                localCurrentLoopRecord(part);
            }
            if (lmmLoadLooperPartData(card->memoryManager, s, p) == 0) {
                const PartSlot &slot = card->memoryManager->partTable[size_t(s)][size_t(p)];
                require(slot.state == 1 || (slot.length >= 1 && slot.length <= carddata::kMaxLooperChunks),
                        "a trusted recording fits its part's audio areas");
            }
        }
    }
}

// Restores archive song `archiveSong` into a fresh card and compares it with card song `song`.
void requireRestoresUnchanged(SdCardHandle *card, int song, ArchiveHandle *archive, int archiveSong,
                              MemoryFileSystem &system)
{
    auto fresh = system.add("fresh.dat", TS::newMemoryCard());
    fresh->restrictWrites(songWriteRanges(7), true);
    SdCardHandle *target = mlsdOpenSDCard("fresh.dat", 1);
    require(target != nullptr, "a fresh memory card opens");
    require(mlsdRestoreSong(target, archive, 7, archiveSong, nullptr) == 0,
            "a song the library archived restores");

    static uint8_t before[carddata::kUIPartDataSize];
    static uint8_t after[carddata::kUIPartDataSize];
    require(mlsdGetUISongDataFromSDCard(card->file.get(), &card->memoryMap, song, before) == 0 &&
                mlsdGetUISongDataFromSDCard(target->file.get(), &target->memoryMap, 7, after) == 0 &&
                std::memcmp(before, after, carddata::kUISongDataSize) == 0,
            "a song record survives archive and restore unchanged");
    for (int part = 0; part < carddata::kPartCount; ++part)
        require(mlsdGetUIPartDataFromSDCard(card->file.get(), &card->memoryMap, song, part, before) == 0 &&
                    mlsdGetUIPartDataFromSDCard(target->file.get(), &target->memoryMap, 7, part, after) ==
                        0 &&
                    std::memcmp(before, after, carddata::kUIPartDataSize) == 0,
                "a part record survives archive and restore unchanged");
    mlsdCloseSDCard(target);
    system.remove("fresh.dat");
}

// Archives the card, whole (when `wholeCard`) or each song the input reached into a song file
// of its own, and restores each of those songs from the archive into a fresh card.
void roundTrip(SdCardHandle *card, int songs, bool wholeCard, MemoryFileSystem &system)
{
    const int files = wholeCard ? 1 : songs;
    for (int file = 0; file < files; ++file) {
        system.add("out.mlad", std::make_shared<MemoryFile>(0));
        ArchiveHandle *archive = mlsdOpenArchiveW(L"out.mlad", 1, 1);
        require(archive != nullptr, "a new archive opens");
        const bool archived = wholeCard ? mlsdArchiveSDCard(card, archive, nullptr) == 0
                                        : mlsdArchiveSong(card, archive, file, nullptr) == 0;
        // A song copied with a note holds a record the restore refuses by design.
        std::vector<bool> noted(carddata::kSongCount, false);
        for (const ArchiveNote &note : archive->notes) {
            if (note.song >= 0 && note.song < carddata::kSongCount)
                noted[size_t(note.song)] = true;
        }
        if (mlsdCloseArchive(archive) == 0 && archived) {
            ArchiveHandle *reread = mlsdOpenArchiveW(L"out.mlad", 0, 0);
            require(reread != nullptr, "an archive the library wrote opens again");
            if (wholeCard) {
                require(mlsdArchiveSongCount(reread) == carddata::kSongCount &&
                            mlsdArchiveHasUserPrefs(reread),
                        "a card archive holds 12 songs and the user prefs");
                for (int song = 0; song < songs; ++song) {
                    if (!noted[size_t(song)])
                        requireRestoresUnchanged(card, song, reread, song, system);
                }
            } else {
                require(mlsdArchiveSongCount(reread) == 1, "a song file holds one song");
                if (!noted[0])
                    requireRestoresUnchanged(card, file, reread, 0, system);
            }
            mlsdCloseArchive(reread);
        }
        system.remove("out.mlad");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MemoryFileSystem &system = files();
    auto card = system.add("ZOVAZODE.DAT", std::make_shared<MemoryFile>(carddata::kCardFileSize));
    const int songs = laySongs(*card, data, size);
    card->restrictWrites({}, true);

    const uint8_t stages = size > 7 ? data[7] : 0;
    VerifyReport report;
    // A mutated ID may make the card an archive to the examiner; either way it was recognised.
    if ((stages & 2) != 0 && mlsdVerifyFile("ZOVAZODE.DAT", &report) == 0)
        require(report.kind != VerifyKind::Unknown, "an examined file is a card or an archive");

    if (SdCardHandle *reader = mlsdOpenSDCard("ZOVAZODE.DAT", 0)) {
        readEverything(reader, songs);
        if ((stages & 4) != 0)
            roundTrip(reader, songs, (stages & 1) != 0, system);
        mlsdCloseSDCard(reader);
    }
    require(system.liveStreams() == 0, "reading a card leaves no stream open");

    // Bytes 4 to 6 of the header choose the song to clear and the calls that meet an I/O error
    // (0: none) while reading and while changing the card.
    using ZovaZode::TestSupport::FaultKind;
    using ZovaZode::TestSupport::FaultMode;
    const int song = size > 4 ? data[4] % carddata::kSongCount : 0;
    if ((stages & 8) != 0 && size > 5 && data[5] != 0) {
        faults().arm(FaultKind::IoError, FaultMode::Once, data[5]);
        if (SdCardHandle *reader = mlsdOpenSDCard("ZOVAZODE.DAT", 0)) {
            readEverything(reader, songs);
            mlsdCloseSDCard(reader);
        }
        faults().disarm();
        require(system.liveStreams() == 0, "a card read with an I/O error leaves no stream open");
    }

    std::vector<WriteRange> allowed = TS::cardSongRecordRanges(song);
    allowed.push_back(TS::cardHeaderRange());
    card->restrictWrites(allowed, true);
    faults().arm(FaultKind::IoError, FaultMode::Once, size > 6 ? data[6] : 0);
    if (SdCardHandle *writer = mlsdOpenSDCard("ZOVAZODE.DAT", 1)) {
        mlsdClearSongOnSDCard(writer, song, "Cleared");
        mlsdSendHeaderToSDCard(writer->file.get(), &writer->memoryMap, writer->header.data());
        mlsdCommitSDCard(writer);
        mlsdCloseSDCard(writer);
    }
    faults().disarm();
    require(system.liveStreams() == 0, "changing a card leaves no stream open");
    system.remove("ZOVAZODE.DAT");
    return 0;
}
