// Fuzz target: an archive restored into a card, as a whole card and as one song into a slot.
// The song restore meets an I/O error at the call the input's last but one byte names (none
// for 0), so the fuzzer drives the failure paths of the card and archive streams too.
//
// The card is a full-size sparse card in memory that ends the run on any write outside the
// records and audio areas of the songs being restored. Other promises checked: a restore that
// fails while reading the archive has not touched the card (only the audio is read while it is
// copied); a restore that succeeds leaves the archive's song records on the card; no stream is
// left open.
#include "fuzzsupport.h"

#include <string>

using namespace ZovaZode::Fuzz;

namespace {

int keepGoing(int32_t, int32_t, int32_t, int32_t, void *)
{
    return 0;
}

// Stops the restore at its second report: the abort path of a song restore.
int stopAtSecondReport(int32_t, int32_t, void *context)
{
    return ++*static_cast<int *>(context) >= 2 ? 1 : 0;
}

bool failedReadingAudio()
{
    return std::string(mlsdGetErrorString()).find("Error reading looper audio from archive") !=
           std::string::npos;
}

void requireSongOnCard(SdCardHandle *card, ArchiveHandle *archive, int archiveSong, int cardSong)
{
    static uint8_t fromArchive[carddata::kUISongDataSize];
    static uint8_t onCard[carddata::kUISongDataSize];
    static uint8_t partFromArchive[carddata::kUIPartDataSize];
    static uint8_t partOnCard[carddata::kUIPartDataSize];
    require(mlsdGetUISongDataFromArchive(archive, archiveSong, fromArchive) == 0,
            "a restored song reads again");
    require(mlsdGetUISongDataFromSDCard(card->file.get(), &card->memoryMap, cardSong, onCard) == 0,
            "a restored card song reads");
    require(std::memcmp(fromArchive, onCard, sizeof onCard) == 0, "a restored song record is the archive's");
    for (int part = 0; part < carddata::kPartCount; ++part) {
        require(mlsdGetUIPartDataFromArchive(archive, archiveSong, part, partFromArchive) == 0,
                "a restored part reads again");
        require(mlsdGetUIPartDataFromSDCard(card->file.get(), &card->memoryMap, cardSong, part, partOnCard) ==
                    0,
                "a restored card part reads");
        require(std::memcmp(partFromArchive, partOnCard, sizeof partOnCard) == 0,
                "a restored part record is the archive's");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MemoryFileSystem &system = files();
    auto card = system.add("ZOVAZODE.DAT", ZovaZode::TestSupport::newMemoryCard());
    auto archiveFile = system.add("archive.mlad", MemoryFile::view(data, size));
    archiveFile->restrictWrites({}, true);

    const int32_t songs = littleInt32(data, size, carddata::kArchiveSongCountOffset);
    std::vector<WriteRange> allowed{ZovaZode::TestSupport::cardHeaderRange(),
                                    ZovaZode::TestSupport::cardUserPrefsRange()};
    for (int32_t s = 0; s >= 0 && s < songs && s < carddata::kSongCount; ++s) {
        const std::vector<WriteRange> ranges = songWriteRanges(s);
        allowed.insert(allowed.end(), ranges.begin(), ranges.end());
    }
    card->restrictWrites(allowed, true);

    SdCardHandle *cardHandle = mlsdOpenSDCard("ZOVAZODE.DAT", 1);
    require(cardHandle != nullptr, "the memory card opens");
    if (ArchiveHandle *archive = mlsdOpenArchiveW(L"archive.mlad", 0, 0)) {
        const CardProgressCallback progress{keepGoing, nullptr};
        const int64_t writesBefore = card->writeCount();
        if (mlsdRestoreSDCard(cardHandle, archive, &progress) == 0) {
            for (int s = 0; s < mlsdArchiveSongCount(archive); ++s)
                requireSongOnCard(cardHandle, archive, s, s);
        } else if (!failedReadingAudio()) {
            require(card->writeCount() == writesBefore, "a refused archive leaves the card untouched");
        }

        // One song into a slot chosen by the input, stopped at its second progress report.
        if (mlsdArchiveSongCount(archive) > 0) {
            const int slot = size > 0 ? data[size - 1] % carddata::kSongCount : 0;
            card->restrictWrites(songWriteRanges(slot), true);
            int reports = 0;
            const ProgressCallback songProgress{stopAtSecondReport, &reports};
            const int64_t before = card->writeCount();
            const int failAt = size > 1 ? data[size - 2] : 0;
            faults().arm(ZovaZode::TestSupport::FaultKind::IoError, ZovaZode::TestSupport::FaultMode::Once,
                         failAt);
            const int result = mlsdRestoreSong(cardHandle, archive, slot, 0, &songProgress);
            const bool faulted = faults().injectedFaults() > 0;
            faults().disarm();
            if (result == 0 && !faulted)
                requireSongOnCard(cardHandle, archive, 0, slot);
            else if (result != 0 && !faulted && !failedReadingAudio() && reports == 0)
                require(card->writeCount() == before, "a refused song leaves the card untouched");
        }
        mlsdCloseArchive(archive);
    }
    card->restrictWrites({}, true);
    mlsdCloseSDCard(cardHandle);
    require(system.liveStreams() == 0, "a restore leaves no stream open");
    system.remove("archive.mlad");
    system.remove("ZOVAZODE.DAT");
    return 0;
}
