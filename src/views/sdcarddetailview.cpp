// SdCardDetailView: the card's name and description, checked before they reach the card.
#include "views/sdcarddetailview.h"

#include "domain/cardrecords.h"
#include "domain/namecheck.h"
#include "domain/notifier.h"
#include "domain/sdcard.h"
#include "views/widgetutils.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

namespace ZovaZode {

namespace {

constexpr int kMinimumWidth = 420;

} // namespace

SdCardDetailView::SdCardDetailView(std::shared_ptr<SdCard> card, QWidget *parent)
    : QDialog(parent), m_card(std::move(card)), m_pathHeading(WidgetUtils::boldLabel(tr("Card Path:"), this)),
      m_nameHeading(WidgetUtils::boldLabel(tr("Name:"), this)),
      m_descriptionHeading(WidgetUtils::boldLabel(tr("Description:"), this)), m_pathLabel(new QLabel(this)),
      m_nameEdit(new QLineEdit(this)), m_descriptionEdit(new QPlainTextEdit(this)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this))
{
    setObjectName(QStringLiteral("sdCardDetailView"));
    m_pathLabel->setObjectName(QStringLiteral("pathLabel"));
    m_nameEdit->setObjectName(QStringLiteral("nameEdit"));
    m_descriptionEdit->setObjectName(QStringLiteral("descriptionEdit"));
    m_pathLabel->setWordWrap(true);
    m_pathLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    setModal(true);
    setWindowTitle(tr("Morv+ Card"));
    // Wide enough for a card path and a full-length name without wrapping every few words.
    setMinimumWidth(kMinimumWidth);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_pathHeading);
    layout->addWidget(m_pathLabel);
    layout->addWidget(m_nameHeading);
    layout->addWidget(m_nameEdit);
    layout->addWidget(m_descriptionHeading);
    layout->addWidget(m_descriptionEdit);
    layout->addWidget(m_buttons);

    connect(m_buttons, &QDialogButtonBox::accepted, this, &SdCardDetailView::save);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &SdCardDetailView::reject);
    connect(m_card.get(), &SdCard::opened, this, &SdCardDetailView::refresh);
    connect(m_card.get(), &SdCard::closed, this, [this] {
        refresh();
        close();
    });
    refresh();
}

SdCardDetailView::~SdCardDetailView() = default;

void SdCardDetailView::refresh()
{
    m_nameEdit->clearFocus();
    if (!m_card->isOpen()) {
        m_nameEdit->clear();
        m_descriptionEdit->clear();
        m_pathLabel->clear();
        return;
    }
    const bool writable = m_card->isWritable();
    m_pathLabel->setText(m_card->path());
    m_nameEdit->setText(m_card->name());
    m_descriptionEdit->setPlainText(m_card->description());
    m_nameEdit->setReadOnly(!writable);
    m_descriptionEdit->setReadOnly(!writable);
    m_buttons->button(QDialogButtonBox::Save)->setEnabled(writable);
}

void SdCardDetailView::reject()
{
    refresh();
    QDialog::reject();
}

void SdCardDetailView::save()
{
    if (!m_card->isOpen() || !m_card->isWritable())
        return;
    const QString name = m_nameEdit->text();
    const QString description = m_descriptionEdit->toPlainText();

    const QStringList problems = detailProblems(QStringLiteral("card"), name, description);
    if (!problems.isEmpty()) {
        Notifier::inform(this, correctionText(problems));
        return;
    }
    m_card->setName(name);
    m_card->setDescription(description);
    accept();
}

} // namespace ZovaZode
