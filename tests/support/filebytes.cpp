// Byte ranges of sparse files and snapshots of them; see filebytes.h and filesnapshot.h.
#include "filesnapshot.h"
#include "sandbox.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace ZovaZode::TestSupport {

namespace {

constexpr qint64 kChunk = 1 << 20;

// The regions of a sparse file that hold data; everything else reads as zeros.
QVector<ByteRange> dataExtents(const QString &path)
{
    QVector<ByteRange> extents;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    const off_t size = fd < 0 ? 0 : ::lseek(fd, 0, SEEK_END);
    for (off_t data = 0; data < size && (data = ::lseek(fd, data, SEEK_DATA)) >= 0;) {
        const off_t hole = ::lseek(fd, data, SEEK_HOLE);
        extents.append({qint64(data), qint64((hole < 0 ? size : hole) - data)});
        data = hole < 0 ? size : hole;
    }
    if (fd >= 0)
        ::close(fd);
    return extents;
}

// The sorted union of `ranges`, less `removed`.
QVector<ByteRange> subtract(const QVector<ByteRange> &ranges, const QVector<ByteRange> &removed)
{
    const std::vector<ByteRange> cuts = mergeRanges(std::vector<ByteRange>(removed.begin(), removed.end()));
    QVector<ByteRange> result;
    for (const ByteRange &range : mergeRanges(std::vector<ByteRange>(ranges.begin(), ranges.end()))) {
        qint64 start = range.start;
        for (const ByteRange &cut : cuts) {
            if (cut.end() > start && cut.start < range.end()) {
                if (cut.start > start)
                    result.append({start, cut.start - start});
                start = std::max<qint64>(start, cut.end());
            }
        }
        if (start < range.end())
            result.append({start, range.end() - start});
    }
    return result;
}

} // namespace

QByteArray readRange(const QString &path, qint64 position, qint64 size)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.seek(position) ? file.read(size) : QByteArray();
}

void writeRange(const QString &path, qint64 position, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || !file.seek(position) || file.write(bytes) != bytes.size())
        qFatal("fixture: cannot write %d bytes at %lld of %s", bytes.size(), position, qPrintable(path));
}

QString describe(const QVector<ByteRange> &ranges)
{
    QStringList parts;
    for (const ByteRange &range : ranges)
        parts << QStringLiteral("[%1, +%2)").arg(range.start).arg(range.size);
    return parts.join(QLatin1Char(' '));
}

QString scratchFolderTemplate()
{
    if (!sandboxFolder(true).isEmpty())
        return sandboxFolder(true) + "/morv-test-XXXXXX";
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    return (shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath()) + "/morv-test-XXXXXX";
}

int openFileDescriptorCount()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

FileSnapshot::FileSnapshot(const QString &path) : m_path(path), m_extents(dataExtents(path)), m_bytes(fileSize(path))
{
    for (const ByteRange &extent : m_extents) {
        const QByteArray bytes = readRange(path, extent.start, extent.size);
        m_bytes.put(extent.start, bytes.constData(), size_t(bytes.size()));
    }
}

QVector<ByteRange> FileSnapshot::changesOutside(const QVector<ByteRange> &allowed) const
{
    QVector<ByteRange> changed;
    const qint64 size = fileSize(m_path);
    if (size != m_bytes.size())
        changed.append({std::min<qint64>(size, m_bytes.size()), std::abs(size - m_bytes.size())});
    for (const ByteRange &region : subtract(dataExtents(m_path) + m_extents, allowed)) {
        for (qint64 start = region.start; start < region.end(); start += kChunk) {
            const int n = int(std::min<qint64>(kChunk, region.end() - start));
            std::vector<uint8_t> before(size_t(n), 0);
            m_bytes.read(start, before.data(), before.size());
            // Bytes past a shrunk end read as zeros here; the change of size is reported above.
            const QByteArray now = readRange(m_path, start, n).leftJustified(n, '\0');
            const bool same = std::memcmp(now.constData(), before.data(), size_t(n)) == 0;
            for (int i = 0; i < n && !same; ++i) {
                if (quint8(now.at(i)) != before[size_t(i)])
                    changed.append({start + i, 1});
            }
        }
    }
    return subtract(changed, allowed);
}

} // namespace ZovaZode::TestSupport
