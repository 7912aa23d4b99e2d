// The domain's side of verifying a transfer by reading its destination back (carddata's
// readback.h): SdCard and SongArchive record what they write, and this reads it back once the
// file is committed and closed, turning the library's outcome into the texts the user sees.
#pragma once

#include "carddata/readback.h"

#include <QString>

#include <functional>
#include <string>

namespace ZovaZode {

// (song, song count, bytes done, bytes total); true asks the verification to stop.
using VerifyProgress = std::function<bool(int song, int songCount, int done, int total)>;

enum class VerifyOutcome { Verified, Stopped, Failed };

// Reads back everything `digest` recorded for the file at `path`. On Failed, `failure` holds
// "Verification failed: <what>", for example "Verification failed: song 2, song data differs
// from the original.". An exception thrown by `progress` stops the reading and is thrown again.
VerifyOutcome verifyWrittenFile(const QString &path, const carddata::WriteDigest &digest,
                                const carddata::WrittenLayout &layout, int songCount,
                                const VerifyProgress &progress, std::string *failure,
                                carddata::FileSummer *sums = nullptr);

// verifyWrittenFile() for the read-back of SdCard and SongArchive: true when everything read
// back as written, false when `progress` asked to stop; throws ErrorType carrying
// "Verification failed: ..." on a difference.
template<class ErrorType>
bool readBackOrThrow(const QString &path, const carddata::WriteDigest &digest,
                     const carddata::WrittenLayout &layout, int songCount, const VerifyProgress &progress,
                     carddata::FileSummer *sums = nullptr)
{
    std::string failure;
    switch (verifyWrittenFile(path, digest, layout, songCount, progress, &failure, sums)) {
    case VerifyOutcome::Verified:
        return true;
    case VerifyOutcome::Stopped:
        return false;
    case VerifyOutcome::Failed:
        break;
    }
    throw ErrorType(failure);
}

} // namespace ZovaZode
