// SdCardHeaderView: following the card's state, and renaming the card in place.
#include "views/sdcardheaderview.h"

#include "domain/cardrecords.h"
#include "domain/namecheck.h"
#include "domain/notifier.h"
#include "domain/sdcard.h"
#include "views/cardbox.h"
#include "views/cardname.h"
#include "views/elidedlabel.h"
#include "views/sdcarddetailview.h"
#include "views/widgetutils.h"

#include <QAction>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace ZovaZode {

namespace {

constexpr int kIconHeight = 50;
constexpr int kNameGrowth = 2;
constexpr int kBoxSpacing = 15;
constexpr int kBoxMargin = 10;
constexpr int kNameMinimumWidth = 50;

} // namespace

SdCardHeaderView::SdCardHeaderView(std::shared_ptr<SdCard> card, QWidget *parent)
    : QWidget(parent), m_card(std::move(card)), m_iconLabel(new QLabel), m_cardBox(new CardBox(m_card, this)),
      m_nameLabel(new CardName), m_nameEditor(new QLineEdit), m_pathLabel(new ElidedLabel(this)),
      m_openCloseButton(new QToolButton(this)), m_detailView(new SdCardDetailView(m_card, this)),
      m_editNameAction(new QAction(tr("Edit Name..."), this)),
      m_detailsAction(new QAction(tr("Details..."), this)), m_archiveAction(new QAction(tr("Archive"), this))
{
    m_cardBox->setObjectName(QStringLiteral("cardBox"));
    m_cardBox->setAccessibleName(tr("Card"));
    m_cardBox->setAccessibleDescription(
        tr("Drag the card to the card library to archive it; drop a card archive here to restore it."));
    m_nameLabel->setObjectName(QStringLiteral("nameLabel"));
    m_nameEditor->setObjectName(QStringLiteral("nameEditor"));
    m_pathLabel->setObjectName(QStringLiteral("pathLabel"));
    m_openCloseButton->setObjectName(QStringLiteral("openCloseButton"));

    layOut();

    addActions({m_editNameAction, m_detailsAction, m_archiveAction});
    setContextMenuPolicy(Qt::ActionsContextMenu);

    m_detailView->resize(m_detailView->sizeHint());

    connect(m_openCloseButton, &QToolButton::clicked, this, &SdCardHeaderView::openOrClose);
    connect(m_editNameAction, &QAction::triggered, this, &SdCardHeaderView::editName);
    connect(m_detailsAction, &QAction::triggered, this, &SdCardHeaderView::showCardDetails);
    connect(m_nameLabel, &CardName::editRequest, this, &SdCardHeaderView::editName);
    connect(m_nameEditor, &QLineEdit::editingFinished, this, &SdCardHeaderView::finishEditing);
    connect(m_cardBox, &CardBox::cardRestoreRequest, this, &SdCardHeaderView::cardRestoreRequest);
    connect(m_cardBox, &CardBox::cardDetailsRequest, this, &SdCardHeaderView::showCardDetails);
    connect(m_cardBox, &CardBox::dragStarted, this, &SdCardHeaderView::cardDragStarted);
    connect(m_cardBox, &CardBox::pressed, this, &SdCardHeaderView::pressed);
    connect(m_detailView, &QDialog::accepted, this,
            [this] { emit headerEdited(tr("Saved the card's name and description.")); });

    connect(m_card.get(), &SdCard::opened, this, &SdCardHeaderView::updateOpenState);
    connect(m_card.get(), &SdCard::closed, this, &SdCardHeaderView::updateOpenState);
    connect(m_card.get(), &SdCard::closed, this, &SdCardHeaderView::finishEditing);
    connect(m_card.get(), &SdCard::pathChanged, this, &SdCardHeaderView::updatePath);
    connect(m_card.get(), &SdCard::nameChanged, this, &SdCardHeaderView::updateName);

    updateOpenState();
    updatePath(m_card->path());
    updateName(m_card->name());
}

SdCardHeaderView::~SdCardHeaderView() = default;

void SdCardHeaderView::layOut()
{
    m_iconLabel->setPixmap(
        WidgetUtils::picture(QStringLiteral(":/pictures/sd_card.svg"), QSize(0, kIconHeight)));
    m_iconLabel->setAccessibleName(tr("SD card"));
    m_nameEditor->setAccessibleName(tr("Card name"));

    QFont nameFont = font();
    nameFont.setPointSize(nameFont.pointSize() + kNameGrowth);
    QPalette namePalette = m_nameLabel->palette();
    namePalette.setColor(QPalette::All, QPalette::WindowText, Qt::white);
    m_nameLabel->setPalette(namePalette);
    m_nameLabel->setFont(nameFont);
    m_nameLabel->setWordWrap(true);
    m_nameLabel->setMinimumWidth(kNameMinimumWidth);
    m_nameEditor->setFont(nameFont);
    m_nameEditor->setPlaceholderText(tr("Enter card name"));
    m_nameEditor->hide();
    m_nameEditor->installEventFilter(this);

    // The box keeps its natural height; the card's songs below take the room that is left.
    QSizePolicy boxPolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // Its room is kept without a card, so that opening one does not make the window grow.
    boxPolicy.setRetainSizeWhenHidden(true);
    m_cardBox->setSizePolicy(boxPolicy);
    m_openCloseButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    // Never the keyboard's: a focus that fell on it unseen (after an editor closed) made the next
    // Space close the card. Ctrl+O and Ctrl+W, and the Card menu, are its keys.
    m_openCloseButton->setFocusPolicy(Qt::NoFocus);

    auto *topRow = new QHBoxLayout;
    topRow->addWidget(m_openCloseButton);
    topRow->addWidget(m_pathLabel, 1);

    auto *nameColumn = new QVBoxLayout;
    nameColumn->addStretch();
    nameColumn->addWidget(m_nameLabel);
    nameColumn->addWidget(m_nameEditor);
    nameColumn->addStretch();
    auto *boxLayout = new QHBoxLayout(m_cardBox);
    boxLayout->setSpacing(kBoxSpacing);
    boxLayout->setContentsMargins(kBoxMargin, kBoxMargin, kBoxMargin, kBoxMargin);
    boxLayout->addWidget(m_iconLabel);
    boxLayout->addLayout(nameColumn, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(topRow);
    layout->addWidget(m_cardBox);
}

void SdCardHeaderView::editName()
{
    if (!m_card->isWritable() || !m_nameEditor->isHidden())
        return;
    m_nameEditor->setText(m_card->name());
    m_nameEditor->setModified(false);
    m_nameLabel->hide();
    m_nameEditor->show();
    m_nameEditor->setFocus();
}

void SdCardHeaderView::showCardDetails()
{
    if (!m_card->isOpen())
        return;
    m_detailView->refresh();
    WidgetUtils::showCentred(m_detailView);
}

bool SdCardHeaderView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_nameEditor && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        // Escape leaves the name as it is: without the flag, the end-of-editing signal that
        // follows the focus loss would apply the typed text after all.
        m_nameEditor->setModified(false);
        m_nameEditor->hide();
        m_nameLabel->show();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void SdCardHeaderView::finishEditing()
{
    const bool apply = m_card->isOpen() && m_nameEditor->isModified();
    const QString text = m_nameEditor->text();
    if (apply)
        m_nameEditor->setModified(false);
    // Hidden before a refusal box opens, so the box's focus change cannot finish again.
    m_nameEditor->hide();
    m_nameLabel->show();
    if (apply)
        applyName(text);
}

void SdCardHeaderView::applyName(const QString &text)
{
    if (text.isEmpty())
        return;
    const QString refusal = renameRefusal(text);
    if (!refusal.isEmpty()) {
        Notifier::inform(nullptr, refusal);
        // The editor again, with the name to correct selected (Enter checks it again).
        editName();
        m_nameEditor->setText(text);
        m_nameEditor->setModified(true);
        m_nameEditor->selectAll();
        return;
    }
    m_card->setName(text);
    emit headerEdited(tr("Renamed the card to \"%1\".").arg(text));
}

void SdCardHeaderView::updateOpenState()
{
    const bool open = m_card->isOpen();
    m_openCloseButton->setText(open ? tr("Close Card") : tr("Open Card"));
    m_cardBox->setVisible(open);
    m_editNameAction->setEnabled(m_card->isWritable());
    m_detailsAction->setEnabled(open);
    m_archiveAction->setEnabled(open);
}

void SdCardHeaderView::updatePath(const QString &path)
{
    m_pathLabel->setFullText(path.isEmpty() ? tr("No card open.") : path);
}

void SdCardHeaderView::updateName(const QString &name)
{
    if (!m_card->isOpen()) {
        m_nameLabel->clear();
        return;
    }
    if (name.isEmpty()) {
        m_nameLabel->setText(tr("(Unnamed Card)"));
        m_nameLabel->setEnabled(false);
        return;
    }
    m_nameLabel->setText(name);
    m_nameLabel->setEnabled(true);
}

void SdCardHeaderView::openOrClose()
{
    if (m_card->isOpen())
        emit closeCardRequest();
    else
        emit openCardRequest();
}

} // namespace ZovaZode
