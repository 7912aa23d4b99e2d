// CardContent: the digests of what was read from a card, and the card file they belong to.
#include "domain/cardcontent.h"

#include <QFileInfo>

namespace ZovaZode {

CardContent::CardContent(const QString &path, const FileStamp &stamp,
                         std::shared_ptr<carddata::CardDigest> digest)
    : m_path(QFileInfo(path).absoluteFilePath()), m_stamp(stamp), m_digest(std::move(digest))
{}

bool CardContent::describes(const QString &path) const
{
    return m_digest && m_stamp.size >= 0 && QFileInfo(path).absoluteFilePath() == m_path &&
           FileStamp::of(path) == m_stamp;
}

} // namespace ZovaZode
