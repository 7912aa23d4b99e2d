// GuideSource: figure filtering, picture loading and the table of contents of the user guide.
#include "guidesource.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QRegularExpression>
#include <QSaveFile>

#include <iterator>

namespace ZovaZode {

namespace {

// In picture pixels; figures are shown at about two thirds of their size.
constexpr int FrameWidth = 2;
// A picture in the running text sits on a line of its own height: anything taller than a few
// lines of text splits its paragraph at a page break, the text on one page and the picture on
// the next.
constexpr int MaxInlineHeight = 48;

// A figure is one <div class="figure"> holding its picture and caption; no <div> nests in it, so
// the first closing tag ends it.
const QRegularExpression &figurePattern()
{
    static const QRegularExpression pattern(
        QStringLiteral(R"re(<div\b[^>]*\bclass\s*=\s*"figure"[^>]*>.*?</div\s*>)re"),
        QRegularExpression::DotMatchesEverythingOption | QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

const QRegularExpression &imagePattern()
{
    static const QRegularExpression pattern(QStringLiteral(R"re(<img\b[^>]*>)re"),
                                            QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

QString attribute(const QString &tag, const QString &name)
{
    const QRegularExpression pattern(QStringLiteral(R"re(\b%1\s*=\s*"([^"]*)")re").arg(name),
                                     QRegularExpression::CaseInsensitiveOption);
    return pattern.match(tag).captured(1);
}

// Runs `replace` on every match of `pattern` in `text` and joins the pieces.
template<typename Replace>
QString replaceAll(const QString &text, const QRegularExpression &pattern, Replace replace)
{
    QString result;
    int end = 0;
    QRegularExpressionMatchIterator matches = pattern.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        result += text.midRef(end, match.capturedStart() - end);
        result += replace(match.captured());
        end = match.capturedEnd();
    }
    result += text.midRef(end);
    return result;
}

// Screenshots are mostly window-grey on a white page; a thin grey line keeps their edges.
QImage withFrame(const QImage &picture)
{
    QImage framed = picture.convertToFormat(QImage::Format_ARGB32);
    const QColor edge(190, 190, 190);
    const int width = framed.width();
    const int height = framed.height();
    QPainter painter(&framed);
    painter.fillRect(0, 0, width, FrameWidth, edge);
    painter.fillRect(0, height - FrameWidth, width, FrameWidth, edge);
    painter.fillRect(0, 0, FrameWidth, height, edge);
    painter.fillRect(width - FrameWidth, 0, FrameWidth, height, edge);
    return framed;
}

} // namespace

const QString GuideSource::ContentsMarker = QStringLiteral("<!-- contents -->");

GuideSource::GuideSource(const QStringList &imageFolders) : m_imageFolders(imageFolders) {}

bool GuideSource::loadFile(const QString &htmlPath)
{
    QFile file(htmlPath);
    if (!file.open(QIODevice::ReadOnly)) {
        m_errorText = QStringLiteral("cannot read %1: %2").arg(htmlPath, file.errorString());
        return false;
    }
    setHtml(QString::fromUtf8(file.readAll()));
    return true;
}

void GuideSource::setHtml(const QString &html)
{
    m_images.clear();
    m_warnings.clear();
    m_errorText.clear();

    const QString figuresResolved = replaceAll(html, figurePattern(), [this](const QString &figure) {
        bool complete = true;
        const QString kept = replaceAll(figure, imagePattern(), [&](const QString &tag) {
            const QString resolved = resolveImage(tag, true);
            complete = complete && !resolved.isEmpty();
            return resolved;
        });
        return complete ? kept : QString();
    });
    // Pictures outside figures (icons in the text) go on their own.
    m_html = replaceAll(figuresResolved, imagePattern(),
                        [this](const QString &tag) { return resolveImage(tag, false); });

    // A figure left out for one missing picture may have loaded its others.
    QStringList referenced;
    QRegularExpressionMatchIterator tags = imagePattern().globalMatch(m_html);
    while (tags.hasNext())
        referenced.append(attribute(tags.next().captured(), QStringLiteral("src")));
    for (auto image = m_images.begin(); image != m_images.end();)
        image = referenced.contains(image.key()) ? std::next(image) : m_images.erase(image);
}

QString GuideSource::findImage(const QString &fileName) const
{
    for (const QString &folder : m_imageFolders) {
        const QFileInfo candidate(QDir(folder), fileName);
        if (candidate.isFile())
            return candidate.filePath();
    }
    return QString();
}

QString GuideSource::resolveImage(const QString &tag, bool framed)
{
    const QString source = attribute(tag, QStringLiteral("src"));
    QImage image = m_images.value(source);
    if (image.isNull()) {
        if (source.isEmpty()) {
            m_warnings.append(QStringLiteral("an <img> without a src attribute is left out"));
            return QString();
        }
        const QString path = findImage(source);
        if (path.isEmpty()) {
            m_warnings.append(QStringLiteral("picture %1 not found; its figure is left out").arg(source));
            return QString();
        }
        if (!image.load(path)) {
            m_warnings.append(QStringLiteral("picture %1 cannot be read; its figure is left out").arg(path));
            return QString();
        }
        if (framed)
            image = withFrame(image);
        else if (image.height() > MaxInlineHeight)
            m_warnings.append(QStringLiteral("picture %1 stands in the running text; a picture that "
                                             "tall belongs in a figure")
                                  .arg(source));
        m_images.insert(source, image);
    }

    bool hasWidth = false;
    const int width = attribute(tag, QStringLiteral("width")).toInt(&hasWidth);
    if (!hasWidth || width <= image.width())
        return tag;
    QString capped = tag;
    capped.replace(QRegularExpression(QStringLiteral(R"re(\bwidth\s*=\s*"[^"]*")re"),
                                      QRegularExpression::CaseInsensitiveOption),
                   QStringLiteral("width=\"%1\"").arg(image.width()));
    return capped;
}

QString GuideSource::withContents(const QString &html, const QList<ContentsEntry> &entries)
{
    // One single-line row per entry whatever the number says, so filling in the numbers after a
    // first layout pass moves nothing.
    QString table =
        QStringLiteral("<p class=\"contents-heading\">Contents</p>"
                       "<table class=\"contents\" width=\"100%\" cellspacing=\"0\" cellpadding=\"1\">");
    for (const ContentsEntry &entry : entries) {
        const QString kind = entry.level <= 1 ? QStringLiteral("chapter") : QStringLiteral("section");
        table += QStringLiteral("<tr><td class=\"contents-%1\">%2</td>"
                                "<td class=\"contents-%1-page\" align=\"right\">%3</td></tr>")
                     .arg(kind, entry.title.toHtmlEscaped(),
                          entry.page > 0 ? QString::number(entry.page) : QStringLiteral("&nbsp;"));
    }
    table += QStringLiteral("</table>");
    QString result = html;
    return result.replace(ContentsMarker, table);
}

bool GuideSource::writeForBrowser(const QString &htmlPath)
{
    const QFileInfo target(htmlPath);
    const QDir folder = target.absoluteDir();
    auto save = [this](const QString &path, const QByteArray &bytes) {
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
            return true;
        m_errorText = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    };
    QStringList written;
    for (auto image = m_images.cbegin(); image != m_images.cend(); ++image) {
        // The names come from our own source, but a name that would land outside the folder
        // is refused all the same.
        if (QFileInfo(image.key()).fileName() != image.key() || image.key().startsWith(QLatin1Char('.'))) {
            m_errorText = QStringLiteral("picture name %1 is not a plain file name").arg(image.key());
            return false;
        }
        QBuffer png;
        png.open(QIODevice::WriteOnly);
        if (!image.value().save(&png, "PNG") || !save(folder.filePath(image.key()), png.data()))
            return false;
        written.append(image.key());
    }
    for (const QString &stale : folder.entryList({QStringLiteral("*.png")}, QDir::Files | QDir::NoSymLinks)) {
        if (!written.contains(stale))
            QFile::remove(folder.filePath(stale));
    }
    QString html = m_html;
    return save(target.absoluteFilePath(), html.remove(ContentsMarker).toUtf8());
}

} // namespace ZovaZode
