// GuideWriter: page geometry, pagination rules, the title page and the running header and footer.
//
// The text is laid out once in 96-per-inch units (the units the HTML's pixel widths and margins
// mean) and the painter is scaled to the PDF's resolution, so the guide looks the same whatever
// resolution the PDF writer uses.
#include "guidewriter.h"

#include <QAbstractTextDocumentLayout>
#include <QFont>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <QUrl>

namespace ZovaZode {

namespace {

constexpr qreal UnitsPerInch = 96.0;
constexpr qreal UnitsPerMm = UnitsPerInch / 25.4;
constexpr qreal PageWidth = 210 * UnitsPerMm;
constexpr qreal PageHeight = 297 * UnitsPerMm;
constexpr qreal MarginLeft = 22 * UnitsPerMm;
constexpr qreal MarginRight = 22 * UnitsPerMm;
constexpr qreal MarginTop = 24 * UnitsPerMm;
constexpr qreal MarginBottom = 24 * UnitsPerMm;
// The title page is page 1 of the PDF; the text starts on page 2.
constexpr int FirstTextPage = 2;
// Pagination rules are applied one block at a time; a guide needs far fewer rounds than this.
constexpr int MaxPaginationRounds = 400;

// The program's own highlight colour, used for the few accents.
const QColor Accent(190, 76, 53);
const QColor Muted(110, 110, 110);
const QColor Rule(200, 200, 200);

const QString FontFamily = QStringLiteral("DejaVu Sans");

// Fonts for drawing straight onto the scaled painter: sized in layout units, not device points.
QFont pageFont(qreal points, QFont::Weight weight = QFont::Normal)
{
    QFont font(FontFamily);
    font.setPixelSize(qRound(points * UnitsPerInch / 72.0));
    font.setWeight(weight);
    return font;
}

qreal lineTop(const QTextDocument &document, const QTextBlock &block, bool lastLine)
{
    const QRectF bounds = document.documentLayout()->blockBoundingRect(block);
    const QTextLayout *layout = block.layout();
    if (!layout || layout->lineCount() == 0)
        return bounds.top();
    return bounds.top() + layout->lineAt(lastLine ? layout->lineCount() - 1 : 0).y();
}

int pageOf(qreal y)
{
    // The layout rounds positions to 1/64 unit, so a line that starts a page may sit a hair above
    // the exact page boundary.
    return int((y + 0.5) / GuideWriter::bodySize().height());
}

bool isPictureOnly(const QTextBlock &block)
{
    const QString text = block.text().trimmed();
    return !text.isEmpty() && text.count(QChar::ObjectReplacementCharacter) == text.size();
}

// A heading belongs with what follows it, and a picture with its caption.
bool keepsWithNext(const QTextBlock &block)
{
    return block.blockFormat().headingLevel() > 0 || isPictureOnly(block);
}

QTextBlock firstBlockOf(const QTextFrame::iterator &item)
{
    if (item.currentBlock().isValid())
        return item.currentBlock();
    if (QTextFrame *frame = item.currentFrame())
        return frame->firstCursorPosition().block();
    return QTextBlock();
}

// Moves the first block that sits at the bottom of a page while its companion starts the next
// page over to that next page. Returns whether it moved one; blocks that already start a page
// are left alone, so a chain too long for one page cannot loop.
bool keepOneTogether(QTextDocument &document)
{
    QTextFrame *root = document.rootFrame();
    for (QTextFrame::iterator item = root->begin(); !item.atEnd(); ++item) {
        const QTextBlock block = item.currentBlock();
        if (!block.isValid() || !keepsWithNext(block))
            continue;
        QTextFrame::iterator following = item;
        ++following;
        if (following.atEnd())
            break;
        const QTextBlock next = firstBlockOf(following);
        if (!next.isValid() || next.text().trimmed().isEmpty())
            continue;
        if (pageOf(lineTop(document, block, true)) >= pageOf(lineTop(document, next, false)))
            continue;
        QTextBlockFormat format = block.blockFormat();
        if (format.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore)
            continue;
        format.setPageBreakPolicy(format.pageBreakPolicy() | QTextFormat::PageBreak_AlwaysBefore);
        // Qt lays a document out lazily, only as far as it has been asked about. A format change
        // relays the document from the changed block on, but takes the blocks beyond the lazy
        // frontier as laid out already: with no lines yet they take no room and are never drawn,
        // so whole paragraphs vanish from the PDF. Finishing the layout first makes the
        // relayout see every block.
        document.documentLayout()->documentSize();
        QTextCursor(block).setBlockFormat(format);
        return true;
    }
    return false;
}

} // namespace

GuideWriter::GuideWriter(const GuideSource &source) : m_source(source) {}

QSizeF GuideWriter::bodySize()
{
    return QSizeF(PageWidth - MarginLeft - MarginRight, PageHeight - MarginTop - MarginBottom);
}

void GuideWriter::layOut(QTextDocument &document, const QString &html) const
{
    document.clear();
    document.setUseDesignMetrics(true);
    document.setDocumentMargin(0);
    document.setDefaultFont(QFont(FontFamily, 10));
    document.setPageSize(bodySize());
    const QMap<QString, QImage> images = m_source.images();
    for (auto image = images.cbegin(); image != images.cend(); ++image)
        document.addResource(QTextDocument::ImageResource, QUrl(image.key()), image.value());
    document.setHtml(html);
    for (int round = 0; round < MaxPaginationRounds; ++round) {
        if (!keepOneTogether(document))
            break;
    }
}

QList<GuideSource::ContentsEntry> GuideWriter::headings(const QTextDocument &document) const
{
    QList<GuideSource::ContentsEntry> entries;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level < 1 || level > 2)
            continue;
        GuideSource::ContentsEntry entry;
        entry.title = block.text().simplified();
        entry.level = level;
        entry.page = FirstTextPage + pageOf(lineTop(document, block, false));
        entries.append(entry);
    }
    return entries;
}

bool GuideWriter::write(const QString &pdfPath)
{
    m_errorText.clear();
    m_pageCount = 0;

    // The contents take the same room whatever their page numbers, so a second pass with the
    // numbers of the first normally settles it; a few more passes cover a contents table whose
    // first guess was off.
    const QString html = m_source.html();
    QTextDocument document;
    layOut(document, GuideSource::withContents(html, {}));
    QList<GuideSource::ContentsEntry> entries = headings(document);
    for (int pass = 0; pass < 4; ++pass) {
        layOut(document, GuideSource::withContents(html, entries));
        const QList<GuideSource::ContentsEntry> placed = headings(document);
        bool settled = placed.size() == entries.size();
        for (int i = 0; settled && i < placed.size(); ++i)
            settled = placed.at(i).page == entries.at(i).page;
        entries = placed;
        if (settled)
            break;
    }
    m_contents = entries;

    QSaveFile file(pdfPath);
    if (!file.open(QIODevice::WriteOnly)) {
        m_errorText = QStringLiteral("cannot write %1: %2").arg(pdfPath, file.errorString());
        return false;
    }
    const int textPages = document.pageCount();
    {
        QPdfWriter writer(&file);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setTitle(m_documentTitle);
        writer.setCreator(m_documentTitle);
        QPainter painter;
        if (!painter.begin(&writer)) {
            m_errorText = QStringLiteral("cannot start the PDF writer for %1").arg(pdfPath);
            file.cancelWriting();
            return false;
        }
        const qreal scale = writer.resolution() / UnitsPerInch;
        painter.scale(scale, scale);
        drawTitlePage(painter);
        for (int page = 0; page < textPages; ++page) {
            writer.newPage();
            drawBodyPage(painter, document, page, FirstTextPage - 1 + textPages);
        }
        painter.end();
    }
    if (!file.commit()) {
        m_errorText = QStringLiteral("cannot write %1: %2").arg(pdfPath, file.errorString());
        return false;
    }
    m_pageCount = FirstTextPage - 1 + textPages;
    return true;
}

void GuideWriter::drawTitlePage(QPainter &painter) const
{
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const qreal left = MarginLeft;
    const qreal width = PageWidth - MarginLeft - MarginRight;

    // The black band with the product logo, as in the program's own window.
    const qreal bandHeight = 118 * UnitsPerMm;
    painter.fillRect(QRectF(0, 0, PageWidth, bandHeight), Qt::black);
    if (!m_titlePage.productLogo.isNull()) {
        const qreal logoWidth = 110 * UnitsPerMm;
        const QSizeF logo(logoWidth,
                          logoWidth * m_titlePage.productLogo.height() / m_titlePage.productLogo.width());
        painter.drawImage(
            QRectF(QPointF((PageWidth - logo.width()) / 2, (bandHeight - logo.height()) / 2), logo),
            m_titlePage.productLogo);
    }
    painter.fillRect(QRectF(0, bandHeight, PageWidth, 2 * UnitsPerMm), Accent);

    qreal y = bandHeight + 34 * UnitsPerMm;
    const qreal iconSize = 38 * UnitsPerMm;
    const qreal textWidth = m_titlePage.icon.isNull() ? width : width - iconSize - 8 * UnitsPerMm;
    if (!m_titlePage.icon.isNull())
        painter.drawImage(QRectF(left + width - iconSize, y - 2 * UnitsPerMm, iconSize, iconSize),
                          m_titlePage.icon);

    auto drawLine = [&](const QString &text, const QFont &font, const QColor &colour, qreal gapAfter) {
        if (text.isEmpty())
            return;
        painter.setFont(font);
        painter.setPen(colour);
        const QRectF bounds =
            painter.boundingRect(QRectF(left, y, textWidth, PageHeight), Qt::TextWordWrap, text);
        painter.drawText(bounds, Qt::TextWordWrap, text);
        y = bounds.bottom() + gapAfter;
    };
    drawLine(m_titlePage.title, pageFont(32, QFont::Bold), QColor(20, 20, 20), 2 * UnitsPerMm);
    drawLine(m_titlePage.subtitle, pageFont(24), Accent, 10 * UnitsPerMm);
    drawLine(m_titlePage.tagline, pageFont(12), QColor(60, 60, 60), 6 * UnitsPerMm);
    if (!m_titlePage.version.isEmpty())
        drawLine(QStringLiteral("Version %1").arg(m_titlePage.version), pageFont(11, QFont::DemiBold), Muted,
                 0);

    // The maker's logo on a black strip at the foot of the page.
    const qreal footHeight = 26 * UnitsPerMm;
    painter.fillRect(QRectF(0, PageHeight - footHeight, PageWidth, footHeight), Qt::black);
    if (!m_titlePage.makerLogo.isNull()) {
        const qreal logoWidth = 55 * UnitsPerMm;
        const QSizeF logo(logoWidth,
                          logoWidth * m_titlePage.makerLogo.height() / m_titlePage.makerLogo.width());
        painter.drawImage(QRectF(QPointF((PageWidth - logo.width()) / 2,
                                         PageHeight - footHeight + (footHeight - logo.height()) / 2),
                                 logo),
                          m_titlePage.makerLogo);
    }
    painter.restore();
}

void GuideWriter::drawBodyPage(QPainter &painter, QTextDocument &document, int page, int pageCount) const
{
    const QSizeF body = bodySize();
    const int pdfPage = FirstTextPage + page;

    QString chapter;
    for (const GuideSource::ContentsEntry &entry : m_contents) {
        if (entry.level == 1 && entry.page <= pdfPage)
            chapter = entry.title;
    }

    painter.save();
    painter.setPen(QPen(Rule, 0.75));
    const qreal headerRule = MarginTop - 6 * UnitsPerMm;
    const qreal footerRule = PageHeight - MarginBottom + 8 * UnitsPerMm;
    painter.drawLine(QPointF(MarginLeft, headerRule), QPointF(MarginLeft + body.width(), headerRule));
    painter.drawLine(QPointF(MarginLeft, footerRule), QPointF(MarginLeft + body.width(), footerRule));

    painter.setFont(pageFont(8));
    painter.setPen(Muted);
    const QRectF header(MarginLeft, headerRule - 7 * UnitsPerMm, body.width(), 6 * UnitsPerMm);
    painter.drawText(header, Qt::AlignRight | Qt::AlignBottom, chapter);
    const QRectF footer(MarginLeft, footerRule + 1.5 * UnitsPerMm, body.width(), 6 * UnitsPerMm);
    painter.drawText(footer, Qt::AlignLeft | Qt::AlignTop, m_documentTitle);
    painter.drawText(footer, Qt::AlignRight | Qt::AlignTop,
                     QStringLiteral("Page %1 of %2").arg(pdfPage).arg(pageCount));

    // A small mark of the accent colour at the start of the header rule.
    painter.fillRect(QRectF(MarginLeft, headerRule - 0.6 * UnitsPerMm, 12 * UnitsPerMm, 1.2 * UnitsPerMm),
                     Accent);

    painter.translate(MarginLeft, MarginTop - page * body.height());
    document.drawContents(&painter, QRectF(QPointF(0, page * body.height()), body));
    painter.restore();
}

} // namespace ZovaZode
