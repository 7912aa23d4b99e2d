// Parsing, precedence and text form of SemanticVersion. The number reading mimics the standard
// string-to-int rules (leading white space, one sign, stop at the first non-digit) without the
// standard library's exceptions, so nothing but SemanticVersion::error leaves the constructor.
#include "update/semanticversion.h"

#include <QList>

#include <algorithm>
#include <limits>
#include <optional>

namespace ZovaZode {

namespace {

// Splits the way a line reader with '.' as its delimiter does: every piece between two dots
// counts, even an empty one, but a dot at the very end does not open another piece.
QList<QByteArray> splitPieces(const QByteArray &text)
{
    QList<QByteArray> pieces;
    if (text.isEmpty())
        return pieces;
    pieces = text.split('.');
    if (text.endsWith('.'))
        pieces.removeLast();
    return pieces;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// std::nullopt when no digit can be read at the start; throws when the value does not fit.
std::optional<qint32> leadingInteger(const QByteArray &piece)
{
    int pos = 0;
    while (pos < piece.size() && isBlank(piece.at(pos)))
        ++pos;
    bool negative = false;
    if (pos < piece.size() && (piece.at(pos) == '+' || piece.at(pos) == '-')) {
        negative = piece.at(pos) == '-';
        ++pos;
    }
    const int firstDigit = pos;
    qint64 value = 0;
    constexpr qint64 limit = qint64(std::numeric_limits<qint32>::max()) + 1;
    while (pos < piece.size() && piece.at(pos) >= '0' && piece.at(pos) <= '9') {
        value = value * 10 + (piece.at(pos) - '0');
        if (value > limit)
            throw SemanticVersion::error();
        ++pos;
    }
    if (pos == firstDigit)
        return std::nullopt;
    if (negative)
        value = -value;
    if (value > std::numeric_limits<qint32>::max() || value < std::numeric_limits<qint32>::min())
        throw SemanticVersion::error();
    return qint32(value);
}

// Where build metadata ("+build.5") begins, or -1. A '+' that only follows blanks at the start of
// a piece is the sign of a number, not metadata.
int buildMetadataStart(const QByteArray &bytes)
{
    bool pieceStart = true;
    bool prereleaseSeen = false;
    for (int i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (c == '.' || (c == '-' && !prereleaseSeen)) {
            prereleaseSeen = prereleaseSeen || c == '-';
            pieceStart = true;
        } else if (pieceStart && isBlank(c)) {
            continue;
        } else if (pieceStart && (c == '+' || c == '-')) {
            pieceStart = false;
        } else if (c == '+') {
            return i;
        } else {
            pieceStart = false;
        }
    }
    return -1;
}

} // namespace

SemanticVersion::SemanticVersion(const QString &text)
{
    // Build metadata plays no part in precedence, so it is dropped before the parts are counted.
    QByteArray bytes = text.toUtf8();
    const int metadata = buildMetadataStart(bytes);
    if (metadata >= 0)
        bytes.truncate(metadata);
    const int hyphen = bytes.indexOf('-');
    const QByteArray core = hyphen < 0 ? bytes : bytes.left(hyphen);

    const QList<QByteArray> numbers = splitPieces(core);
    if (numbers.size() != 3)
        throw error();
    qint32 parsed[3];
    for (int i = 0; i < 3; ++i) {
        if (numbers.at(i).isEmpty())
            throw error();
        const std::optional<qint32> value = leadingInteger(numbers.at(i));
        if (!value)
            throw error();
        parsed[i] = *value;
    }

    QVector<Identifier> identifiers;
    if (hyphen >= 0) {
        for (const QByteArray &piece : splitPieces(bytes.mid(hyphen + 1))) {
            if (piece.isEmpty())
                throw error();
            Identifier identifier;
            if (const std::optional<qint32> value = leadingInteger(piece)) {
                identifier.numeric = true;
                identifier.number = *value;
            } else {
                identifier.text = piece;
            }
            identifiers.append(identifier);
        }
    }

    m_major = parsed[0];
    m_minor = parsed[1];
    m_patch = parsed[2];
    m_identifiers = identifiers;
}

bool SemanticVersion::operator<(const SemanticVersion &other) const
{
    if (m_major != other.m_major)
        return m_major < other.m_major;
    if (m_minor != other.m_minor)
        return m_minor < other.m_minor;
    if (m_patch != other.m_patch)
        return m_patch < other.m_patch;

    // A pre-release ranks below the release it leads up to.
    if (!m_identifiers.isEmpty() && other.m_identifiers.isEmpty())
        return true;
    if (m_identifiers.isEmpty() && !other.m_identifiers.isEmpty())
        return false;

    const int shared = std::min(m_identifiers.size(), other.m_identifiers.size());
    for (int i = 0; i < shared; ++i) {
        const Identifier &a = m_identifiers.at(i);
        const Identifier &b = other.m_identifiers.at(i);
        if (a.numeric != b.numeric)
            return a.numeric;
        if (a.numeric) {
            if (a.number != b.number)
                return a.number < b.number;
            continue;
        }
        if (a.text != b.text) {
            return std::lexicographical_compare(
                a.text.cbegin(), a.text.cend(), b.text.cbegin(), b.text.cend(),
                [](char x, char y) { return static_cast<unsigned char>(x) < static_cast<unsigned char>(y); });
        }
    }
    return m_identifiers.size() < other.m_identifiers.size();
}

QString SemanticVersion::toString() const
{
    QString text = QString::number(m_major) + QLatin1Char('.') + QString::number(m_minor) + QLatin1Char('.') +
                   QString::number(m_patch);
    for (int i = 0; i < m_identifiers.size(); ++i) {
        const Identifier &identifier = m_identifiers.at(i);
        text += i == 0 ? QLatin1Char('-') : QLatin1Char('.');
        text += identifier.numeric ? QString::number(identifier.number) : QString::fromUtf8(identifier.text);
    }
    return text;
}

} // namespace ZovaZode
