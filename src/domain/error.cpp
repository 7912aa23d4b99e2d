// userText: the card data library's messages as a user reads them.
#include "domain/error.h"

#include <QRegularExpression>

namespace ZovaZode {

QString userText(const QString &message)
{
    // The library's functions are named with these prefixes; nothing else in a message is.
    static const QRegularExpression functionName(QStringLiteral("\\b(?:mlsd|local|lmm)[A-Z]\\w*: "));
    return QString(message).remove(functionName);
}

} // namespace ZovaZode
