// GuideWriter: renders the user guide to an A4 PDF with Qt's own PDF writer: a drawn title page,
// a table of contents with page numbers, and the text pages with a running chapter title above
// and the page number below. Needs a QGuiApplication (fonts), created with Qt::AA_Use96Dpi so that
// the HTML's pixel sizes are 1/96 inch; works on the offscreen platform.
#pragma once

#include "guidesource.h"

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QSizeF>
#include <QString>
#include <QStringList>

class QPainter;
class QTextDocument;

namespace ZovaZode {

class GuideWriter
{
public:
    struct TitlePage
    {
        QString title;    // large, e.g. the program's name
        QString subtitle; // below it, e.g. "User Guide"
        QString tagline;  // one sentence on what the program is for
        QString version;
        QImage productLogo; // light on dark: drawn on the black band at the top
        QImage makerLogo;   // light on dark: drawn on the black band at the bottom
        QImage icon;
    };

    explicit GuideWriter(const GuideSource &source);

    void setTitlePage(const TitlePage &titlePage) { m_titlePage = titlePage; }
    // The PDF's title in its metadata and in every page footer.
    void setDocumentTitle(const QString &title) { m_documentTitle = title; }
    // The creation date in the PDF's metadata; none when invalid (the default), so that the same
    // source always gives the same file.
    void setCreationDate(const QDateTime &date) { m_creationDate = date; }

    // Writes the whole PDF under a temporary name and renames it into place when complete, so a
    // failed run never leaves a cut-off guide behind.
    bool write(const QString &pdfPath);

    QString errorText() const { return m_errorText; }
    // Of the last write: pages a break left less than a third full without a chapter ending there.
    QStringList warnings() const { return m_warnings; }
    // Of the last write: every page, the title page included.
    int pageCount() const { return m_pageCount; }
    // Of the last write: the chapters and sections with the PDF pages they start on.
    QList<GuideSource::ContentsEntry> contents() const { return m_contents; }

    // The text area of a page, in the 96-per-inch units that the layout works in.
    static QSizeF bodySize();

private:
    void layOut(QTextDocument &document, const QString &html) const;
    QList<GuideSource::ContentsEntry> headings(const QTextDocument &document) const;
    // Lays the guide out with its contents until their page numbers are those the headings
    // land on; the contents.
    QList<GuideSource::ContentsEntry> settleContents(QTextDocument &document) const;
    // The warnings of text pages left less than a third full where no chapter ends (m_contents).
    QStringList thinPages(const QTextDocument &document) const;
    // The title page and the text pages as the bytes of a PDF, stamped with the creation date;
    // false, with m_errorText, when that fails.
    bool render(QTextDocument &document, const QString &pdfPath, QByteArray *pdf);
    void drawTitlePage(QPainter &painter) const;
    void drawBodyPage(QPainter &painter, QTextDocument &document, int page, int pageCount) const;

    GuideSource m_source;
    TitlePage m_titlePage;
    QString m_documentTitle;
    QDateTime m_creationDate;
    QString m_errorText;
    QStringList m_warnings;
    int m_pageCount = 0;
    QList<GuideSource::ContentsEntry> m_contents;
};

} // namespace ZovaZode
