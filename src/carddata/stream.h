// The one door through which the card data library touches files.
//
// Every open, seek, read, write, flush, commit and close of a card data file or an archive
// file goes through a Stream obtained from streamOpen(). Tests replace the opener to fail
// any chosen call, and fuzzers to serve files from memory; the shipped program uses a POSIX
// file stream that reads and writes each record or audio block at its place (pread, pwrite).
//
// Durability. What is written to a card reaches the operating system with each write; it is
// committed (fdatasync) only when a restored song is complete, when a card-writing operation of
// the user interface completes and when the card is closed. Nothing is committed at progress
// reports: committing at every report would make a full-card restore many times slower on a
// card reader for nothing, since a card pulled mid-restore is partly restored either way.
// Archive files are committed when a writable archive is closed, so a finished archive is on the
// disk before anyone renames it into the library.
//
// A stream may buffer what is written (the shipped one does not; stdio does, and drops the
// buffered bytes of a flush that fails, so that a later commit can succeed without them): every
// write, seek, flush and commit result is checked, and the first failure ends the operation.
//
// Verification reads a written file back past the kernel's cache (readFromDevice), or where the
// file system cannot do that, after dropping its cached pages (dropCache), so that it sees what
// the device holds rather than what the kernel still remembers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace carddata {

enum class OpenMode {
    Read,   // existing file, read only
    Update, // existing file, read and write
    Create, // a new file, read and write; fails (EEXIST) when the path exists, even as a link
};

class Stream
{
public:
    virtual ~Stream() = default;

    // Moves to an absolute byte position; false when the position cannot be reached.
    virtual bool seek(int64_t position) = 0;
    // Returns the number of bytes read; fewer than asked means end of file or an error.
    virtual size_t read(void *buffer, size_t size) = 0;
    // Returns the number of bytes written; fewer than asked is an error.
    virtual size_t write(const void *buffer, size_t size) = 0;
    // The file's size in bytes, or -1 when it cannot be told.
    virtual int64_t size() = 0;
    // Hands buffered data, if the stream keeps any, to the operating system.
    virtual bool flush() = 0;
    // Flushes and makes the data durable on the device.
    virtual bool commit() = 0;
    // Asks the operating system to forget its cached copy of the pages holding these bytes, so
    // that the next read comes from the device. Only pages already committed can be dropped.
    // Streams without a cache of their own (memory files) have nothing to drop.
    virtual bool dropCache(int64_t position, int64_t size) = 0;
    // From now on, reads come from the device past the kernel's cache, where the file system
    // allows it; false where it does not (the caller drops cached pages instead). For a read
    // stream, before its first read.
    virtual bool readFromDevice() { return false; }
    // Flushes and releases the file. Safe to call more than once.
    virtual bool close() = 0;
};

using StreamOpener = std::function<std::unique_ptr<Stream>(const std::string &path, OpenMode mode)>;

// Opens a file through the installed opener. Returns null when the file cannot be opened.
std::unique_ptr<Stream> streamOpen(const std::string &path, OpenMode mode);

// Installs another opener for the whole process; an empty one restores the file opener.
// Meant for tests and fuzzers; set it before any library call that opens a file.
void setStreamOpener(StreamOpener opener);

// How the file stream makes what it wrote durable: fdatasync(fd), unless a test installed a call of
// its own (to see which files are committed, and when); an empty one restores fdatasync.
using DataSync = std::function<int(int fd)>;
void setDataSync(DataSync sync);

// The opener of the shipped program: buffered POSIX files with 64-bit positions. Only regular
// files are opened; on failure errno tells why (EISDIR or EINVAL for anything else than a
// regular file).
std::unique_ptr<Stream> openFileStream(const std::string &path, OpenMode mode);

} // namespace carddata
