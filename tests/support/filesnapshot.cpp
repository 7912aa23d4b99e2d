// Snapshot of a sparse file's data regions; see filesnapshot.h.
#include "filesnapshot.h"

#include <QFile>

#include <cstring>

namespace ZovaZode::TestSupport {

namespace {
constexpr qint64 kChunk = 1 << 20;
}

FileSnapshot::FileSnapshot(const QString &path) : m_path(path), m_size(fileSize(path))
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("fixture: cannot read %s", qPrintable(path));
    for (const ByteRange &extent : dataExtents(path)) {
        file.seek(extent.start);
        m_extents.append({extent.start, file.read(extent.size)});
    }
}

QByteArray FileSnapshot::bytesAt(qint64 start, qint64 size) const
{
    QByteArray bytes(int(size), '\0');
    for (const Extent &extent : m_extents) {
        const qint64 from = qMax(start, extent.start);
        const qint64 to = qMin(start + size, extent.start + extent.bytes.size());
        if (from < to)
            std::memcpy(bytes.data() + (from - start), extent.bytes.constData() + (from - extent.start),
                        size_t(to - from));
    }
    return bytes;
}

QVector<ByteRange> FileSnapshot::changesOutside(const QVector<ByteRange> &allowed) const
{
    const qint64 size = fileSize(m_path);
    QVector<ByteRange> regions = dataExtents(m_path);
    for (const Extent &extent : m_extents)
        regions.append({extent.start, qint64(extent.bytes.size())});
    regions = subtract(regions, allowed);

    QVector<ByteRange> changed;
    if (size != m_size)
        changed.append({qMin(size, m_size), qAbs(size - m_size)});

    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return {{0, size}};
    for (const ByteRange &region : regions) {
        for (qint64 start = region.start; start < region.end(); start += kChunk) {
            const qint64 n = qMin(kChunk, region.end() - start);
            const QByteArray before = bytesAt(start, n);
            file.seek(start);
            QByteArray now = file.read(n);
            now.append(QByteArray(int(n - now.size()), '\0')); // past a shrunk end: reported above
            if (now == before)
                continue;
            for (qint64 i = 0; i < n; ++i) {
                if (now.at(int(i)) != before.at(int(i)))
                    changed.append({start + i, 1});
            }
        }
    }
    return subtract(normalized(changed), allowed);
}

} // namespace ZovaZode::TestSupport
