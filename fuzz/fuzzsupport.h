// What the fuzz targets share: the memory file system installed as the card data library's
// stream opener, the rule that ends a run on a broken promise, and the write ranges that a
// restore may touch on the card.
//
// A fuzz target aborts (the fuzzer's finding) when the library writes outside the records it
// is writing, leaves a stream open, or reports success for a result that is not there.
#pragma once

#include "carddata/carddata.h"
#include "support/faultstream.h"
#include "support/memorystream.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace ZovaZode::Fuzz {

using TestSupport::MemoryFile;
using TestSupport::MemoryFileSystem;
using TestSupport::WriteRange;

inline constexpr int64_t kMaxRecordingBytes = int64_t(carddata::kMaxLooperChunks) * carddata::kAudioChunkSize;

// The faults a target may inject into the streams of files(); disarmed unless a run arms them.
inline TestSupport::FaultInjector &faults()
{
    static auto *injector = new TestSupport::FaultInjector;
    return *injector;
}

// Installed once per process; every run replaces the files it uses.
inline MemoryFileSystem &files()
{
    static MemoryFileSystem *system = [] {
        auto *created = new MemoryFileSystem;
        carddata::setStreamOpener(faults().wrap(created->opener()));
        return created;
    }();
    return *system;
}

[[noreturn]] inline void broken(const char *promise)
{
    std::fprintf(stderr, "broken promise: %s (library error text: %s)\n", promise, mlsdGetErrorString());
    std::abort();
}

inline void require(bool condition, const char *promise)
{
    if (!condition)
        broken(promise);
}

// The records of card song `song` and the longest recording each of its parts can hold.
inline std::vector<WriteRange> songWriteRanges(int song)
{
    std::vector<WriteRange> ranges = TestSupport::cardSongRecordRanges(song);
    for (int part = 0; part < carddata::kPartCount; ++part)
        ranges.push_back(TestSupport::cardAudioRange(song, part, carddata::kMaxLooperChunks));
    return ranges;
}

inline int32_t littleInt32(const uint8_t *data, size_t size, size_t offset)
{
    if (offset + 4 > size)
        return 0;
    return int32_t(uint32_t(data[offset]) | uint32_t(data[offset + 1]) << 8 |
                   uint32_t(data[offset + 2]) << 16 | uint32_t(data[offset + 3]) << 24);
}

inline bool sameBytes(const std::vector<uint8_t> &a, const uint8_t *b, size_t size)
{
    return a.size() == size && std::memcmp(a.data(), b, size) == 0;
}

} // namespace ZovaZode::Fuzz
