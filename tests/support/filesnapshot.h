// A snapshot of the data regions of a sparse file, to prove afterwards that an operation wrote
// nothing outside the records it may write: a byte changed anywhere in a 3.2 GB card, a former
// hole included, is found without reading the holes.
#pragma once

#include "filebytes.h"

namespace ZovaZode::TestSupport {

class FileSnapshot
{
public:
    explicit FileSnapshot(const QString &path);

    // Where the file now differs from the snapshot, leaving out `allowed`; a change of size
    // counts as the range between the two sizes.
    QVector<ByteRange> changesOutside(const QVector<ByteRange> &allowed) const;
    QVector<ByteRange> changes() const { return changesOutside({}); }

private:
    QString m_path;
    QVector<ByteRange> m_extents; // where the file held data
    MemoryFile m_bytes;           // what it held there
};

} // namespace ZovaZode::TestSupport
