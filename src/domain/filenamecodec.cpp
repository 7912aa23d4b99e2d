// FileNameCodec: UTF-8 that keeps the bytes it cannot read; printable(), which shows them.
#include "filenamecodec.h"

namespace ZovaZode {

namespace {

constexpr ushort kEscapedByte = 0xdc00;

// The code point of the UTF-8 sequence at `in`, of `length` bytes at most, and its size; 0 when
// the bytes there are not a shortest, valid sequence.
int decodeOne(const uchar *in, int length, uint *codePoint)
{
    const uchar lead = in[0];
    const int size = lead >= 0xf0 && lead <= 0xf4  ? 4
                     : lead >= 0xe0                ? 3
                     : lead >= 0xc2 && lead < 0xe0 ? 2
                                                   : 0;
    if (size == 0 || size > length)
        return 0;
    uint value = lead & (0x7f >> size);
    for (int i = 1; i < size; ++i) {
        if ((in[i] & 0xc0) != 0x80)
            return 0;
        value = value << 6 | (in[i] & 0x3f);
    }
    const uint shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < shortest[size] || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff))
        return 0;
    *codePoint = value;
    return size;
}

} // namespace

void FileNameCodec::install()
{
    // Qt owns the codecs it is given and deletes them when the program ends.
    QTextCodec::setCodecForLocale(new FileNameCodec);
}

QByteArray FileNameCodec::name() const
{
    return QByteArrayLiteral("x-morv-file-names");
}

int FileNameCodec::mibEnum() const
{
    return -106;
}

QString FileNameCodec::convertToUnicode(const char *in, int length, ConverterState *) const
{
    const auto *bytes = reinterpret_cast<const uchar *>(in);
    QString text;
    text.reserve(length);
    for (int i = 0; i < length;) {
        uint codePoint = 0;
        const int size = bytes[i] < 0x80 ? 1 : decodeOne(bytes + i, length - i, &codePoint);
        if (size == 1) {
            text += QChar(bytes[i]);
        } else if (size == 0) {
            text += QChar(ushort(kEscapedByte + bytes[i]));
        } else if (QChar::requiresSurrogates(codePoint)) {
            text += QChar(QChar::highSurrogate(codePoint));
            text += QChar(QChar::lowSurrogate(codePoint));
        } else {
            text += QChar(ushort(codePoint));
        }
        i += std::max(size, 1);
    }
    return text;
}

QByteArray FileNameCodec::convertFromUnicode(const QChar *in, int length, ConverterState *state) const
{
    QByteArray bytes;
    bytes.reserve(length);
    for (int i = 0; i < length; ++i) {
        const ushort code = in[i].unicode();
        if (code >= kEscapedByte + 0x80 && code <= kEscapedByte + 0xff) {
            bytes += char(code - kEscapedByte);
        } else if (in[i].isHighSurrogate() && i + 1 < length && in[i + 1].isLowSurrogate()) {
            bytes += QString(in + i, 2).toUtf8();
            ++i;
        } else if (in[i].isSurrogate()) {
            bytes += '?';
            if (state)
                ++state->invalidChars;
        } else {
            bytes += QString(in[i]).toUtf8();
        }
    }
    return bytes;
}

QString printable(const QString &text)
{
    QString result;
    for (const QChar c : text) {
        const ushort code = c.unicode();
        const bool control = code < 0x20 || (code >= 0x7f && code <= 0x9f);
        // A byte of a file name that is not UTF-8.
        const bool escapedByte = code >= 0xdc80 && code <= 0xdcff;
        const bool reordering = code == 0x200e || code == 0x200f || (code >= 0x202a && code <= 0x202e) ||
                                (code >= 0x2066 && code <= 0x2069);
        if (control || escapedByte)
            result += QStringLiteral("\\x%1").arg(code & 0xff, 2, 16, QLatin1Char('0'));
        else if (reordering)
            result += QStringLiteral("\\u%1").arg(code, 4, 16, QLatin1Char('0'));
        else
            result += c;
    }
    return result;
}

} // namespace ZovaZode
