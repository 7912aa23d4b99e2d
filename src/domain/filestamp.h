// What tells that a file changed without reading it: its device and inode, size, and modification
// and change times. A hint, never the proof: what was read is judged by its content; a stamp only
// catches a change cheaply (nobody can set a change time back).
#pragma once

#include <QString>

namespace ZovaZode {

struct FileStamp
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;    // -1: the file could not be looked at
    qint64 modified = 0; // nanoseconds
    qint64 changed = 0;

    // The stamp of the file at `path` now; an empty path or a missing file gives size -1.
    static FileStamp of(const QString &path);
    bool operator==(const FileStamp &other) const;
    bool operator!=(const FileStamp &other) const { return !(*this == other); }
};

} // namespace ZovaZode
