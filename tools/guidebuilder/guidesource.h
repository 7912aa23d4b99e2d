// GuideSource: the user guide's HTML made ready for the PDF writer. Screenshots are added to the
// documentation over time, so a figure whose picture is not there yet is left out whole (picture
// and caption) with a warning instead of failing the build; the pictures that are there are
// loaded once and handed to the text document as resources.
#pragma once

#include <QImage>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace ZovaZode {

class GuideSource
{
public:
    // One line of the table of contents: a chapter (level 1) or section (level 2) title and the
    // PDF page it starts on.
    struct ContentsEntry
    {
        QString title;
        int level = 1;
        int page = 0;
    };

    // Where the table of contents goes; an HTML comment, so the raw source still reads as HTML.
    static const QString ContentsMarker;

    // Pictures are looked up by the file name in their src attribute, in these folders in order.
    explicit GuideSource(const QStringList &imageFolders = QStringList());

    bool loadFile(const QString &htmlPath);
    void setHtml(const QString &html);

    // The processed HTML: figures with missing pictures removed, image widths capped at the
    // pictures' natural widths so that nothing is enlarged beyond its pixels.
    QString html() const { return m_html; }
    // The pictures the HTML still refers to, by the src text as written; figure pictures framed.
    QMap<QString, QImage> images() const { return m_images; }
    QStringList warnings() const { return m_warnings; }
    QString errorText() const { return m_errorText; }

    // `html` with the contents marker replaced by a "Contents" heading and a table of the
    // entries; page numbers below 1 are printed as blanks of the same width so that a first
    // layout pass takes as much room.
    static QString withContents(const QString &html, const QList<ContentsEntry> &entries);

    // Writes the processed HTML to `htmlPath` for the program's guide window, which has contents
    // of its own, and beside it the pictures it shows, each under its src name. Pictures an
    // earlier run left there that the guide no longer shows are removed.
    bool writeForBrowser(const QString &htmlPath);

private:
    QString findImage(const QString &fileName) const;
    // Gives the <img> tag to keep (width adjusted), or an empty string when its picture is missing.
    // Figure pictures get a thin frame.
    QString resolveImage(const QString &tag, bool framed);

    QStringList m_imageFolders;
    QString m_html;
    QMap<QString, QImage> m_images;
    QStringList m_warnings;
    QString m_errorText;
};

} // namespace ZovaZode
