// File names are bytes, and the system gives them back as they were given. Qt turns them into text
// through the locale's codec, which on a UTF-8 system replaces bytes that are not UTF-8 (a name
// written under Latin-1, "lat\xe9.DAT") by U+FFFD, so that the file cannot be found again. This
// codec reads UTF-8 and keeps each byte that is not part of it as one code point U+DC80 to U+DCFF
// (a lone surrogate, never a character of text), and writes those back as the byte. Installed as
// the locale's codec before the arguments are read, it carries every file name from the command
// line to the system unchanged; printable() shows such a byte as \xe9, and JSON as \udce9 (the
// "surrogateescape" of Python, whose os.fsencode() gives the name's bytes back).
#pragma once

#include <QTextCodec>

namespace ZovaZode {

class FileNameCodec : public QTextCodec
{
public:
    // Makes it the codec of QFile::encodeName(), decodeName() and QString::fromLocal8Bit().
    static void install();

    QByteArray name() const override;
    int mibEnum() const override;

protected:
    // Whole texts only (file names, messages): a sequence cut at the end is taken as its bytes.
    QString convertToUnicode(const char *in, int length, ConverterState *state) const override;
    QByteArray convertFromUnicode(const QChar *in, int length, ConverterState *state) const override;
};

// A text for a terminal: control characters (an escape sequence starts with one, C1 ones too) and
// the characters that reorder text on screen are shown as \x1b or \u202e instead of acting, the
// bytes of a file name that are not UTF-8 as \xe9.
QString printable(const QString &text);

} // namespace ZovaZode
