// Fuzz target: an archive file read completely, as `morv-card verify` and the library views
// read it (header, user prefs, every song's records, looper records and audio), and then
// opened for update and closed, which writes its headers back.
//
// Promises checked: no crash; no stream left open; closing an archive opened for update writes
// only the archive header and the song headers, where the header places them.
#include "fuzzsupport.h"

#include "carddata/verify.h"

using namespace ZovaZode::Fuzz;

namespace {

void readEverything(ArchiveHandle *archive)
{
    static uint8_t prefs[carddata::kUserPrefsSize];
    static uint8_t song[carddata::kUISongDataSize];
    static uint8_t part[carddata::kUIPartDataSize];
    mlsdGetUserPrefsFromArchive(archive, prefs);
    mlsdArchiveHasUserPrefs(archive);
    const int songs = mlsdArchiveSongCount(archive);
    require(songs >= 0 && songs <= carddata::kArchiveMaxSongs, "an open archive holds 0 to 12 songs");
    // One past each end, too: the range checks are part of what is read.
    for (int s = -1; s <= songs; ++s) {
        if (mlsdGetUISongDataFromArchive(archive, s, song) == 0) {
            require(s >= 0 && s < songs, "songs outside the archive cannot be read");
            localUISongDataValid(song);
        }
        for (int p = -1; p <= carddata::kPartCount; ++p) {
            if (mlsdGetUIPartDataFromArchive(archive, s, p, part) != 0)
                continue;
            require(p >= 0 && p < carddata::kPartCount, "parts outside 0 to 4 cannot be read");
            localUIPartDataValid(part);
            localCurrentLoopRecord(part);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MemoryFileSystem &system = files();
    auto file = system.add("archive.mlad", MemoryFile::view(data, size));
    // Reading must never write.
    file->restrictWrites({}, true);

    VerifyReport report;
    if (mlsdVerifyFile("archive.mlad", &report) == 0)
        require(report.kind != VerifyKind::Unknown, "an examined file is a card or an archive");

    if (ArchiveHandle *archive = mlsdOpenArchiveW(L"archive.mlad", 0, 0)) {
        readEverything(archive);
        mlsdCloseArchive(archive);
    }
    require(system.liveStreams() == 0, "reading an archive leaves no stream open");

    // The last byte of the description field, which nothing interprets, names the call that
    // meets an I/O error while the archive is read again (0: none).
    if (size > 519 && data[519] != 0) {
        faults().arm(ZovaZode::TestSupport::FaultKind::IoError, ZovaZode::TestSupport::FaultMode::Once,
                     data[519]);
        if (ArchiveHandle *archive = mlsdOpenArchiveW(L"archive.mlad", 0, 0)) {
            readEverything(archive);
            mlsdCloseArchive(archive);
        }
        faults().disarm();
        require(system.liveStreams() == 0, "an archive read with an I/O error leaves no stream open");
    }

    // Opened for update, the archive writes its header and the song headers on closing, each
    // where the header it read places it; nothing else.
    const int32_t songs = littleInt32(data, size, carddata::kArchiveSongCountOffset);
    std::vector<WriteRange> allowed{{0, int64_t(carddata::kArchiveHeaderSize)}};
    for (int32_t s = 0; s >= 0 && s < songs && s < carddata::kArchiveMaxSongs; ++s) {
        const size_t at = carddata::kArchiveSongOffsetsOffset + 8 * size_t(s);
        const uint64_t offset = uint64_t(uint32_t(littleInt32(data, size, at))) |
                                uint64_t(uint32_t(littleInt32(data, size, at + 4))) << 32;
        if (offset < uint64_t(INT64_MAX) / 2)
            allowed.push_back({int64_t(offset), int64_t(carddata::kArchiveSongHeaderSize)});
    }
    file->restrictWrites(allowed, true);
    if (ArchiveHandle *archive = mlsdOpenArchiveW(L"archive.mlad", 1, 0)) {
        readEverything(archive);
        mlsdCloseArchive(archive);
    }
    require(system.liveStreams() == 0, "an archive opened for update leaves no stream open");
    system.remove("archive.mlad");
    return 0;
}
