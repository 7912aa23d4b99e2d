// CardContent: the digests of what was read from a card, and the card file they belong to.
#include "domain/cardcontent.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace ZovaZode {

bool CardContent::Identity::operator==(const Identity &other) const
{
    return device == other.device && inode == other.inode && size == other.size &&
           modified == other.modified && changed == other.changed;
}

CardContent::Identity CardContent::identityOf(const QString &path)
{
    Identity identity;
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return identity;
    identity.device = quint64(info.st_dev);
    identity.inode = quint64(info.st_ino);
    identity.size = qint64(info.st_size);
    identity.modified = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    identity.changed = qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    return identity;
}

CardContent::CardContent(const QString &path, std::shared_ptr<carddata::CardDigest> digest)
    : m_path(QFileInfo(path).absoluteFilePath()), m_identity(identityOf(path)), m_digest(std::move(digest))
{}

bool CardContent::describes(const QString &path) const
{
    return m_digest && m_identity.size >= 0 && QFileInfo(path).absoluteFilePath() == m_path &&
           identityOf(path) == m_identity;
}

} // namespace ZovaZode
