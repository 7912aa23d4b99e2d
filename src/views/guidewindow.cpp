// The guide window: the contents and the "Open as PDF" button on the left, the guide on the right,
// the find bar below it.
#include "views/guidewindow.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace ZovaZode {

namespace {

// The number of the heading's block in the guide, on each entry of the contents.
constexpr int HeadingRole = Qt::UserRole;

} // namespace

const QString GuideWindow::HtmlName = QStringLiteral("user-guide.html");
const QString GuideWindow::PdfName = QStringLiteral("MORV Manager User Guide.pdf");

QString GuideWindow::folder()
{
    const QString besideProgram = QCoreApplication::applicationDirPath() + QStringLiteral("/guide");
#ifdef MORV_INSTALLED_GUIDE_DIR
    const QString installed = QStringLiteral(MORV_INSTALLED_GUIDE_DIR);
    if (!QFileInfo(QDir(besideProgram), HtmlName).isFile() && QFileInfo(QDir(installed), HtmlName).isFile())
        return installed;
#endif
    return besideProgram;
}

GuideWindow::GuideWindow(QWidget *parent)
    : QWidget(parent, Qt::Window), m_browser(new QTextBrowser(this)), m_contents(new QTreeWidget(this)),
      m_findBar(new QWidget(this)), m_findField(new QLineEdit(m_findBar)), m_findStatus(new QLabel(m_findBar))
{
    setWindowTitle(tr("MORV Manager User Guide"));
    // The guide sets its own dark text, as on its printed pages; it keeps their white paper on a
    // dark desktop too.
    QPalette paper = m_browser->palette();
    paper.setColor(QPalette::Base, Qt::white);
    paper.setColor(QPalette::Text, Qt::black);
    m_browser->setPalette(paper);

    QWidget *side = buildSide();
    auto *splitter = new QSplitter(this);
    splitter->addWidget(side);
    splitter->addWidget(m_browser);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({260, 700});
    buildFindBar();

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addWidget(m_findBar);
    addShortcuts();

    const QSize wanted(980, 720);
    resize(screen() ? wanted.boundedTo(screen()->availableSize() * 9 / 10) : wanted);
}

QWidget *GuideWindow::buildSide()
{
    m_contents->setHeaderHidden(true);
    m_contents->setItemsExpandable(false);
    m_contents->setAccessibleName(tr("Contents"));
    connect(m_contents, &QTreeWidget::itemClicked, this, &GuideWindow::showHeading);
    connect(m_contents, &QTreeWidget::currentItemChanged, this, &GuideWindow::showHeading);
    auto *pdfButton = new QPushButton(tr("Open as &PDF"), this);
    pdfButton->setToolTip(tr("Opens the guide in your PDF viewer, to print it."));
    connect(pdfButton, &QPushButton::clicked, this, &GuideWindow::openPdfRequested);
    auto *side = new QWidget(this);
    auto *sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    sideLayout->addWidget(m_contents);
    sideLayout->addWidget(pdfButton);
    return side;
}

void GuideWindow::buildFindBar()
{
    auto *findLabel = new QLabel(tr("&Find:"), m_findBar);
    findLabel->setBuddy(m_findField);
    m_findField->setClearButtonEnabled(true);
    m_findField->installEventFilter(this);
    auto *previous = new QPushButton(tr("Pre&vious"), m_findBar);
    auto *next = new QPushButton(tr("&Next"), m_findBar);
    auto *close = new QPushButton(tr("Close"), m_findBar);
    auto *findLayout = new QHBoxLayout(m_findBar);
    findLayout->setContentsMargins(0, 0, 0, 0);
    for (QWidget *widget :
         std::initializer_list<QWidget *>{findLabel, m_findField, previous, next, m_findStatus})
        findLayout->addWidget(widget);
    findLayout->addStretch(1);
    findLayout->addWidget(close);
    m_findBar->hide();
    // Typing looks again from where the last match began, so the match grows as the word does.
    connect(m_findField, &QLineEdit::textEdited, this, [this] {
        QTextCursor cursor = m_browser->textCursor();
        cursor.setPosition(cursor.selectionStart());
        m_browser->setTextCursor(cursor);
        find();
    });
    connect(previous, &QPushButton::clicked, this, [this] { find(true); });
    connect(next, &QPushButton::clicked, this, [this] { find(); });
    connect(close, &QPushButton::clicked, m_findBar, &QWidget::hide);
}

void GuideWindow::addShortcuts()
{
    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this, &GuideWindow::showFindBar);
    connect(new QShortcut(QKeySequence::FindNext, this), &QShortcut::activated, this, [this] { find(); });
    connect(new QShortcut(QKeySequence::FindPrevious, this), &QShortcut::activated, this,
            [this] { find(true); });
    connect(new QShortcut(Qt::Key_Escape, this), &QShortcut::activated, this, [this] {
        m_findBar->hide();
        m_browser->setFocus();
    });
}

bool GuideWindow::load(const QString &folder)
{
    QFile file(QDir(folder).filePath(HtmlName));
    if (!file.open(QIODevice::ReadOnly)) {
        m_errorText =
            tr("%1 cannot be read: %2").arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
        return false;
    }
    // The pictures are found beside the guide.
    m_browser->setSearchPaths({folder});
    m_browser->setHtml(QString::fromUtf8(file.readAll()));
    fillContents();
    m_loaded = true;
    return true;
}

void GuideWindow::fillContents()
{
    m_contents->clear();
    QTreeWidgetItem *chapter = nullptr;
    for (QTextBlock block = m_browser->document()->begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level < 1 || level > 2)
            continue;
        const QStringList title{block.text().simplified()};
        auto *item = level == 1 || !chapter ? new QTreeWidgetItem(m_contents, title)
                                            : new QTreeWidgetItem(chapter, title);
        if (level == 1)
            chapter = item;
        item->setData(0, HeadingRole, block.blockNumber());
    }
    m_contents->expandAll();
}

void GuideWindow::showHeading(QTreeWidgetItem *item)
{
    if (!item)
        return;
    QTextDocument *document = m_browser->document();
    const QTextBlock block = document->findBlockByNumber(item->data(0, HeadingRole).toInt());
    // Finding goes on from the heading, which stands at the top of the view.
    m_browser->setTextCursor(QTextCursor(block));
    m_browser->verticalScrollBar()->setValue(
        qRound(document->documentLayout()->blockBoundingRect(block).top()));
}

void GuideWindow::showFindBar()
{
    m_findBar->show();
    m_findField->setFocus();
    m_findField->selectAll();
}

bool GuideWindow::find(bool backwards)
{
    const QString text = m_findField->text();
    if (text.isEmpty()) {
        showFound(true);
        return false;
    }
    const QTextDocument::FindFlags flags =
        backwards ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    const QTextCursor before = m_browser->textCursor();
    bool found = m_browser->find(text, flags);
    if (!found) {
        QTextCursor cursor = before;
        cursor.movePosition(backwards ? QTextCursor::End : QTextCursor::Start);
        m_browser->setTextCursor(cursor);
        found = m_browser->find(text, flags);
        if (!found)
            m_browser->setTextCursor(before);
    }
    showFound(found);
    return found;
}

void GuideWindow::showFound(bool found)
{
    m_findStatus->setText(found ? QString() : tr("Not found"));
    // The field turns red as well, where the eye already is.
    QPalette palette = m_findBar->palette();
    if (!found) {
        const QColor base = palette.color(QPalette::Base);
        palette.setColor(QPalette::Base,
                         QColor::fromRgbF(0.4 + 0.6 * base.redF(), 0.6 * base.greenF(), 0.6 * base.blueF()));
    }
    m_findField->setPalette(palette);
}

bool GuideWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_findField && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            find(key->modifiers().testFlag(Qt::ShiftModifier));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace ZovaZode
