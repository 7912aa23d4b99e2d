// GuideWriter: page geometry, pagination rules, the title page and the running header and footer.
//
// The text is laid out once in 96-per-inch units (the units the HTML's pixel widths and margins
// mean) and the painter is scaled to the PDF's resolution, so the guide looks the same whatever
// resolution the PDF writer uses.
#include "guidewriter.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QFont>
#include <QPageSize>
#include <QPaintEngine>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <QUrl>

#include <algorithm>

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
// Laid-out positions are rounded to 1/64 unit: a line that opens a page may start that much
// above the page's top edge. Anything within this distance of an edge belongs to the page below.
constexpr qreal EdgeTolerance = 0.5;
// No page is left emptier than this by a page break, unless a chapter ends on it.
constexpr qreal MinimumPageFill = 1.0 / 3;

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

// Hands everything drawn on it to another painter, except text whose baseline lies outside a band
// of the page. Qt's text layout draws more than it is asked to: the line just above the
// rectangle it draws (QTextLayout::draw keeps it), and a line that opens the next page may sit a
// hair above that page's edge. Clipped, such lines are out of sight but still in the PDF's text,
// where a reader's search and copy find them, and twice.
class TextBandDevice : public QPaintDevice
{
public:
    // `band`: where text may stand, in the target's device coordinates.
    TextBandDevice(QPainter &target, const QRectF &band) : m_target(target), m_engine(target, band) {}
    QPaintEngine *paintEngine() const override { return &m_engine; }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        const QPaintDevice *device = m_target.device();
        switch (metric) {
        case PdmWidth:
            return device->width();
        case PdmHeight:
            return device->height();
        case PdmWidthMM:
            return device->widthMM();
        case PdmHeightMM:
            return device->heightMM();
        case PdmNumColors:
            return device->colorCount();
        case PdmDepth:
            return device->depth();
        case PdmDpiX:
            return device->logicalDpiX();
        case PdmDpiY:
            return device->logicalDpiY();
        case PdmPhysicalDpiX:
            return device->physicalDpiX();
        case PdmPhysicalDpiY:
            return device->physicalDpiY();
        case PdmDevicePixelRatio:
            return device->devicePixelRatio();
        case PdmDevicePixelRatioScaled:
            return int(device->devicePixelRatioF() * devicePixelRatioFScale());
        }
        return 0;
    }

private:
    class Engine : public QPaintEngine
    {
    public:
        Engine(QPainter &target, const QRectF &band)
            : QPaintEngine(AllFeatures), m_target(target), m_band(band)
        {}
        bool begin(QPaintDevice *) override { return true; }
        bool end() override { return true; }
        Type type() const override { return User; }
        // The target keeps the clip it has: the page's text area.
        void updateState(const QPaintEngineState &state) override
        {
            const DirtyFlags dirty = state.state();
            if (dirty & DirtyPen)
                m_target.setPen(state.pen());
            if (dirty & DirtyBrush)
                m_target.setBrush(state.brush());
            if (dirty & DirtyBrushOrigin)
                m_target.setBrushOrigin(state.brushOrigin());
            if (dirty & DirtyFont)
                m_target.setFont(state.font());
            if (dirty & DirtyBackground)
                m_target.setBackground(state.backgroundBrush());
            if (dirty & DirtyBackgroundMode)
                m_target.setBackgroundMode(state.backgroundMode());
            if (dirty & DirtyTransform)
                m_target.setTransform(state.transform());
            if (dirty & DirtyHints)
                m_target.setRenderHints(state.renderHints());
            if (dirty & DirtyOpacity)
                m_target.setOpacity(state.opacity());
            if (dirty & DirtyCompositionMode)
                m_target.setCompositionMode(state.compositionMode());
        }
        void drawPath(const QPainterPath &path) override { m_target.drawPath(path); }
        void drawPolygon(const QPointF *points, int count, PolygonDrawMode mode) override
        {
            if (mode == PolylineMode)
                m_target.drawPolyline(points, count);
            else
                m_target.drawPolygon(points, count, mode == WindingMode ? Qt::WindingFill : Qt::OddEvenFill);
        }
        void drawPixmap(const QRectF &rect, const QPixmap &pixmap, const QRectF &source) override
        {
            m_target.drawPixmap(rect, pixmap, source);
        }
        void drawImage(const QRectF &rect, const QImage &image, const QRectF &source,
                       Qt::ImageConversionFlags flags) override
        {
            m_target.drawImage(rect, image, source, flags);
        }
        void drawTextItem(const QPointF &position, const QTextItem &text) override
        {
            const qreal baseline = m_target.transform().map(position).y();
            if (baseline >= m_band.top() && baseline <= m_band.bottom())
                m_target.drawTextItem(position, text);
        }

    private:
        QPainter &m_target;
        QRectF m_band;
    };

    QPainter &m_target;
    mutable Engine m_engine;
};

// Where a line of a top-level block starts, in document units.
qreal lineTop(const QTextDocument &document, const QTextBlock &block, int line)
{
    const QRectF bounds = document.documentLayout()->blockBoundingRect(block);
    const QTextLayout *layout = block.layout();
    if (!layout || layout->lineCount() == 0)
        return bounds.top();
    return bounds.top() + layout->lineAt(qBound(0, line, layout->lineCount() - 1)).y();
}

int pageOf(qreal y)
{
    // The layout rounds positions to 1/64 unit, so a line that starts a page may sit a hair above
    // the exact page boundary.
    return int((y + EdgeTolerance) / GuideWriter::bodySize().height());
}

// How far down its page a position lies, as a fraction of the text area.
qreal depthOnPage(qreal y)
{
    const qreal height = GuideWriter::bodySize().height();
    return (y - pageOf(y) * height) / height;
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

// Whether the page that `block` starts on would be left at least a third full if the block
// moved to the next page.
bool leavesPageFullEnough(const QTextDocument &document, const QTextBlock &block)
{
    return depthOnPage(lineTop(document, block, 0)) >= MinimumPageFill;
}

// Whether a top-level block should start the next page rather than where it is: a heading or
// picture parted from what follows it, a paragraph with only its first line at the foot of a
// page, or one with only its last line at the top of the next (moved when that leaves the page
// at least a third full).
bool wantsBreakBefore(const QTextDocument &document, const QTextBlock &block, const QTextBlock &next)
{
    const int lines = block.layout() ? block.layout()->lineCount() : 0;
    if (lines == 0)
        return false;
    const int firstPage = pageOf(lineTop(document, block, 0));
    if (keepsWithNext(block))
        return next.isValid() && !next.text().trimmed().isEmpty() &&
               pageOf(lineTop(document, next, 0)) > pageOf(lineTop(document, block, lines - 1));
    if (lines < 2)
        return false;
    if (pageOf(lineTop(document, block, 1)) > firstPage)
        return true;
    return pageOf(lineTop(document, block, lines - 1)) > pageOf(lineTop(document, block, lines - 2)) &&
           leavesPageFullEnough(document, block);
}

// Starts a new page before the first top-level block that wants one, or before the headings and
// pictures that lead up to it, which belong with it. Returns whether it did; blocks that already
// start a page are left alone, so a chain too long for one page cannot loop.
bool breakOnePage(QTextDocument &document)
{
    QTextFrame *root = document.rootFrame();
    QList<QTextBlock> leading; // the blocks just before this one that keep with their next
    for (QTextFrame::iterator item = root->begin(); !item.atEnd(); ++item) {
        const QTextBlock block = item.currentBlock();
        if (!block.isValid()) {
            leading.clear();
            continue;
        }
        QTextFrame::iterator following = item;
        ++following;
        const QTextBlock next = following.atEnd() ? QTextBlock() : firstBlockOf(following);
        if (!wantsBreakBefore(document, block, next)) {
            leading = keepsWithNext(block) ? leading << block : QList<QTextBlock>();
            continue;
        }
        const QTextBlock first = leading.isEmpty() ? block : leading.first();
        QTextBlockFormat format = first.blockFormat();
        if (format.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore) {
            leading.clear();
            continue;
        }
        format.setPageBreakPolicy(format.pageBreakPolicy() | QTextFormat::PageBreak_AlwaysBefore);
        // Qt lays a document out lazily, only as far as it has been asked about. A format change
        // relays the document from the changed block on, but takes the blocks beyond the lazy
        // frontier as laid out already: with no lines yet they take no room and are never drawn,
        // so whole paragraphs vanish from the PDF. Finishing the layout first makes the
        // relayout see every block.
        document.documentLayout()->documentSize();
        QTextCursor(first).setBlockFormat(format);
        return true;
    }
    return false;
}

// Where, in document units, the last line of each page ends; pages without text count as empty.
QVector<qreal> pageFill(const QTextDocument &document)
{
    const qreal height = GuideWriter::bodySize().height();
    QVector<qreal> fill(document.pageCount(), 0);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QTextLayout *layout = block.layout();
        const qreal top = document.documentLayout()->blockBoundingRect(block).top();
        for (int i = 0; layout && i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            const int page = pageOf(top + line.y());
            if (page >= 0 && page < fill.size())
                fill[page] = qMax(fill[page], top + line.y() + line.height() - page * height);
        }
    }
    return fill;
}

// Qt's PDF writer stamps the time of writing into the document information. The stamp is
// replaced by `date`, or by blanks when there is none, of the same length, so that the
// cross-reference table's offsets still hold.
bool restamp(QByteArray &pdf, const QDateTime &date)
{
    static const QByteArray key = QByteArrayLiteral("/CreationDate (");
    const int infoEnd = pdf.indexOf("endobj");
    const int start = pdf.indexOf(key);
    const int end = pdf.indexOf(')', start);
    if (start < 0 || end < 0 || end > infoEnd)
        return false;
    QByteArray stamp;
    if (date.isValid())
        stamp = key + "D:" + date.toUTC().toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() + "Z)";
    const int length = end + 1 - start;
    if (stamp.size() > length)
        return false;
    pdf.replace(start, length, stamp + QByteArray(length - stamp.size(), ' '));
    return true;
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
        if (!breakOnePage(document))
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
        entry.page = FirstTextPage + pageOf(lineTop(document, block, 0));
        entries.append(entry);
    }
    return entries;
}

bool GuideWriter::write(const QString &pdfPath)
{
    m_errorText.clear();
    m_pageCount = 0;

    QTextDocument document;
    m_contents = settleContents(document);
    m_warnings = thinPages(document);
    const int pages = FirstTextPage - 1 + document.pageCount();
    QByteArray pdf;
    if (!render(document, pdfPath, &pdf))
        return false;

    QSaveFile file(pdfPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(pdf) != pdf.size() || !file.commit()) {
        m_errorText = QStringLiteral("cannot write %1: %2").arg(pdfPath, file.errorString());
        return false;
    }
    m_pageCount = pages;
    return true;
}

QList<GuideSource::ContentsEntry> GuideWriter::settleContents(QTextDocument &document) const
{
    // The contents take the same room whatever their page numbers, so a second pass with the
    // numbers of the first normally settles it; a few more passes cover a contents table whose
    // first guess was off.
    const QString html = m_source.html();
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
    return entries;
}

QStringList GuideWriter::thinPages(const QTextDocument &document) const
{
    QStringList warnings;
    const QVector<qreal> fill = pageFill(document);
    for (int page = 0; page + 1 < fill.size(); ++page) {
        const int pdfPage = FirstTextPage + page;
        const bool chapterEnds = std::any_of(m_contents.cbegin(), m_contents.cend(), [&](const auto &entry) {
            return entry.level == 1 && entry.page == pdfPage + 1;
        });
        if (!chapterEnds && fill.at(page) < MinimumPageFill * bodySize().height())
            warnings.append(QStringLiteral("page %1 is less than a third full").arg(pdfPage));
    }
    return warnings;
}

bool GuideWriter::render(QTextDocument &document, const QString &pdfPath, QByteArray *pdf)
{
    // Rendered in memory first: the creation stamp is put right before anything reaches the file.
    QBuffer rendered;
    rendered.open(QIODevice::WriteOnly);
    const int textPages = document.pageCount();
    {
        QPdfWriter writer(&rendered);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setTitle(m_documentTitle);
        writer.setCreator(m_documentTitle);
        QPainter painter;
        if (!painter.begin(&writer)) {
            m_errorText = QStringLiteral("cannot start the PDF writer for %1").arg(pdfPath);
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
    *pdf = rendered.data();
    if (!restamp(*pdf, m_creationDate)) {
        m_errorText = QStringLiteral("cannot find the creation date of %1 to set it").arg(pdfPath);
        return false;
    }
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
    const QRectF area(QPointF(0, page * body.height()), body);
    painter.setClipRect(area);
    // Only text whose baseline lies on this page's text area reaches the PDF.
    TextBandDevice band(painter, painter.transform().mapRect(area));
    QPainter bandPainter(&band);
    bandPainter.setTransform(painter.transform());
    QAbstractTextDocumentLayout::PaintContext context;
    context.clip = area;
    document.documentLayout()->draw(&bandPainter, context);
    bandPainter.end();
    painter.restore();
}

} // namespace ZovaZode
