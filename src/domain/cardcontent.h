// What an SdCard read from the card, as the digest of each piece it read, and which card file that
// was as the file system tells it: taken by a safety copy under the card's lock and handed to the
// restore that follows, which then writes only where the card holds something else.
#pragma once

#include "carddata/digest.h"
#include "domain/filestamp.h"

#include <QString>

#include <memory>

namespace ZovaZode {

class CardContent
{
public:
    // `stamp`: the card file's, taken before the reading began, under the lock it was done under.
    CardContent(const QString &path, const FileStamp &stamp, std::shared_ptr<carddata::CardDigest> digest);

    // Whether the card file at `path` is the file that was read and unchanged since the reading
    // began: the same device and inode, size, modification and change times. The lock held from the reading
    // to the writing is what makes the digests true; this catches a writer that ignored the lock, as nobody
    // can set a change time back.
    bool describes(const QString &path) const;
    const std::shared_ptr<carddata::CardDigest> &digest() const { return m_digest; }

private:
    QString m_path;
    FileStamp m_stamp;
    std::shared_ptr<carddata::CardDigest> m_digest;
};

} // namespace ZovaZode
