// Byte-level file helpers; see filebytes.h.
#include "filebytes.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace ZovaZode::TestSupport {

namespace {
constexpr qint64 kChunk = 1 << 20;
}

QByteArray readRange(const QString &path, qint64 position, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(position))
        return {};
    return file.read(size);
}

void writeRange(const QString &path, qint64 position, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || !file.seek(position) || file.write(bytes) != bytes.size())
        qFatal("fixture: cannot write %d bytes at %lld of %s", bytes.size(), position, qPrintable(path));
}

QByteArray hashRange(const QString &path, qint64 position, qint64 size)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(position))
        return {};
    while (size > 0) {
        const QByteArray chunk = file.read(qMin(size, kChunk));
        if (chunk.isEmpty())
            break;
        hash.addData(chunk);
        size -= chunk.size();
    }
    return hash.result();
}

bool rangesEqual(const QString &pathA, qint64 positionA, const QString &pathB, qint64 positionB, qint64 size)
{
    QFile a(pathA);
    QFile b(pathB);
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly) || !a.seek(positionA) ||
        !b.seek(positionB))
        return false;
    while (size > 0) {
        const qint64 n = qMin(size, kChunk);
        const QByteArray x = a.read(n);
        const QByteArray y = b.read(n);
        if (x.size() != n || x != y)
            return false;
        size -= n;
    }
    return true;
}

qint64 fileSize(const QString &path)
{
    return QFile(path).size();
}

QVector<ByteRange> dataExtents(const QString &path)
{
    QVector<ByteRange> extents;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return extents;
    const off_t size = ::lseek(fd, 0, SEEK_END);
    off_t position = 0;
    while (position < size) {
        const off_t data = ::lseek(fd, position, SEEK_DATA);
        if (data < 0)
            break;
        off_t hole = ::lseek(fd, data, SEEK_HOLE);
        if (hole < 0)
            hole = size;
        extents.append({qint64(data), qint64(hole - data)});
        position = hole;
    }
    ::close(fd);
    return extents;
}

QVector<ByteRange> normalized(QVector<ByteRange> ranges)
{
    std::sort(ranges.begin(), ranges.end(),
              [](const ByteRange &a, const ByteRange &b) { return a.start < b.start; });
    QVector<ByteRange> merged;
    for (const ByteRange &range : ranges) {
        if (range.size <= 0)
            continue;
        if (!merged.isEmpty() && range.start <= merged.last().end()) {
            const qint64 end = qMax(merged.last().end(), range.end());
            merged.last().size = end - merged.last().start;
        } else {
            merged.append(range);
        }
    }
    return merged;
}

QVector<ByteRange> subtract(const QVector<ByteRange> &ranges, const QVector<ByteRange> &removed)
{
    const QVector<ByteRange> cuts = normalized(removed);
    QVector<ByteRange> result;
    for (const ByteRange &range : normalized(ranges)) {
        qint64 start = range.start;
        const qint64 end = range.end();
        for (const ByteRange &cut : cuts) {
            if (cut.end() <= start || cut.start >= end)
                continue;
            if (cut.start > start)
                result.append({start, cut.start - start});
            start = qMax(start, cut.end());
        }
        if (start < end)
            result.append({start, end - start});
    }
    return result;
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
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    const QString root = shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
    return root + QStringLiteral("/morv-test-XXXXXX");
}

int openFileDescriptorCount()
{
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(dir);
    return count - 1; // the listing's own descriptor
}

} // namespace ZovaZode::TestSupport
