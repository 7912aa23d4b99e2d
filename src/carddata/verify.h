// Checks every record of a card data file or an archive file and lists each problem with
// where it is. Used by `morv-card verify`, the window's Verify command and the fuzzers.
// Reads the file piece by piece; never more than one record in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct VerifyProblem
{
    std::string where; // e.g. "song 4, part 2, looper record (byte 27,009,024)"
    std::string what;  // e.g. "checksum 0x1234 does not match the recording (0x5678)"
};

enum class VerifyKind {
    Unknown,     // neither a card data file nor an archive
    Card,        // a card data file (ZOVAZODE.DAT)
    CardArchive, // an archive of 12 songs with user prefs
    SongFile,    // an archive of 1 song without user prefs
    Archive,     // any other archive
};

struct VerifyReport
{
    VerifyKind kind = VerifyKind::Unknown;
    std::vector<VerifyProblem> problems;
};

// Returns 0 when the file could be examined (the report may still list problems), 1 when it
// could not be opened or is neither a card nor an archive (the error text says why).
int mlsdVerifyFile(const char *path, VerifyReport *report);
