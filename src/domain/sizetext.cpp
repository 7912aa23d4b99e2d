// The one size unit of the program.
#include "domain/sizetext.h"

namespace ZovaZode {

QString megabytesText(qint64 bytes)
{
    return QStringLiteral("%1 MB").arg(double(bytes) / 1e6, 0, 'f', 1);
}

} // namespace ZovaZode
