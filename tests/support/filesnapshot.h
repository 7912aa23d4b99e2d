// A snapshot of the data regions of a sparse file, to prove afterwards that an operation wrote
// nothing outside the records it is allowed to write.
//
// Only the regions that hold data are kept (a card image made by CardImage holds a few
// megabytes at most); holes are known to read as zeros. A later comparison reads the file's
// current data regions and the snapshot's, so a byte written anywhere in the 3.2 GB file,
// including inside a former hole, is found without reading the holes.
#pragma once

#include "filebytes.h"

#include <QByteArray>
#include <QString>
#include <QVector>

namespace ZovaZode::TestSupport {

class FileSnapshot
{
public:
    explicit FileSnapshot(const QString &path);

    // The byte ranges where the file now differs from the snapshot, leaving out `allowed`.
    // A change of the file's size is reported as the range between the two sizes.
    QVector<ByteRange> changesOutside(const QVector<ByteRange> &allowed) const;
    // The byte ranges where the file now differs from the snapshot.
    QVector<ByteRange> changes() const { return changesOutside({}); }

private:
    struct Extent
    {
        qint64 start;
        QByteArray bytes;
    };

    QByteArray bytesAt(qint64 start, qint64 size) const;

    QString m_path;
    qint64 m_size = 0;
    QVector<Extent> m_extents;
};

} // namespace ZovaZode::TestSupport
