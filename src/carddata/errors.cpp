// The per-thread error text, record buffers and audio block of the card data library.
#include "internal.h"

#include <memory>
#include <new>
#include <string>

namespace {

constexpr size_t kMaxFunctionName = 255;
constexpr size_t kMaxMessage = 512;

thread_local std::string errorText;
thread_local std::unique_ptr<carddata::detail::RecordBuffers> buffers;
// Apart from the record buffers: the user interface thread reads records but never moves audio.
thread_local std::unique_ptr<uint8_t[]> audio;

} // namespace

namespace carddata::detail {

int fail(const char *function, const char *message)
{
    std::string name(function ? function : "");
    std::string text(message ? message : "");
    if (name.size() > kMaxFunctionName)
        name.resize(kMaxFunctionName);
    if (text.size() > kMaxMessage)
        text.resize(kMaxMessage);
    errorText = name + ": " + text;
    return 1;
}

RecordBuffers &recordBuffers()
{
    if (!buffers)
        buffers = std::make_unique<RecordBuffers>();
    return *buffers;
}

uint8_t *audioBlock()
{
    if (!audio)
        audio.reset(new (std::nothrow) uint8_t[kAudioBlockSize]);
    return audio.get();
}

bool readAt(Stream *file, int64_t position, void *buffer, size_t size)
{
    return file && position >= 0 && file->seek(position) && file->read(buffer, size) == size;
}

bool writeAt(Stream *file, int64_t position, const void *buffer, size_t size)
{
    return file && position >= 0 && file->seek(position) && file->write(buffer, size) == size;
}

} // namespace carddata::detail

const char *mlsdGetErrorString()
{
    return errorText.c_str();
}
