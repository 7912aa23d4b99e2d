// Read-back comparison of an open card with an archive: the check that a transfer wrote what it
// was given. Every record a restore writes and every audio byte is compared; the first
// difference is reported as "<where> differs from the original." under the function's name.
#pragma once

#include "carddata.h"

// Fields a caller changed on purpose after the copy and so are not compared.
enum CompareIgnore : unsigned {
    CompareIgnoreNone = 0,
    // The song's name (song data) or the card's name (card header / archive header).
    CompareIgnoreName = 1,
};

// Card song `cardSong` against archive song `archiveSong`: UI song data, the five UI part data
// records, the five looper records as a restore writes them, and the audio. Returns 0 when equal,
// 1 with the error text set when they differ, cannot be read, or the progress asked to stop.
int mlsdCompareArchiveSong(SdCardHandle *card, ArchiveHandle *archive, int cardSong, int archiveSong,
                           const ProgressCallback *progress, unsigned ignore = CompareIgnoreNone);

// The whole card against a card archive: header name and description, user prefs when the
// archive holds them, and the archive's songs against the card songs of the same number.
int mlsdCompareArchiveCard(SdCardHandle *card, ArchiveHandle *archive, const CardProgressCallback *progress,
                           unsigned ignore = CompareIgnoreNone);
