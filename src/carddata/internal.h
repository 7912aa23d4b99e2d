// Helpers shared by the card data library's own source files; not part of its interface.
#pragma once

#include "carddata.h"

#include <array>
#include <cstdint>

namespace carddata::detail {

// Replaces the calling thread's error text with "function: message" and returns 1.
int fail(const char *function, const char *message);

// The record buffers through which clear, archive and restore pass their records. One set per
// thread: the user interface reads archives while the transfer thread archives.
struct RecordBuffers
{
    std::array<uint8_t, kUISongDataSize> songData;
    std::array<uint8_t, kPartCount * kUIPartDataSize> partData;
    std::array<uint8_t, kUserPrefsSize> userPrefs;
    std::array<uint8_t, kPartCount * kLooperRecordSize> looperData;
};
RecordBuffers &recordBuffers();

// Looper audio moves in blocks this large: a few large reads and writes per part instead of
// thousands of small ones, and never a whole part (up to 42 MB) in memory.
inline constexpr size_t kAudioBlockSize = size_t(1) << 20;
// The calling thread's audio block, allocated at its first use; null when it cannot be.
uint8_t *audioBlock();

inline uint8_t *partSlot(RecordBuffers &buffers, int part)
{
    return buffers.partData.data() + size_t(part) * kUIPartDataSize;
}

// Seeks and transfers a whole record; false on any short transfer.
bool readAt(Stream *file, int64_t position, void *buffer, size_t size);
bool writeAt(Stream *file, int64_t position, const void *buffer, size_t size);

} // namespace carddata::detail
