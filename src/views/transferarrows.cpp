// TransferArrows: the two transfer indicators and their arrows.
#include "views/transferarrows.h"

#include "views/transferindicator.h"
#include "views/widgetutils.h"

#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace ZovaZode {

namespace {

// The arrows' logical size; they are drawn with as many pixels as the screen needs.
constexpr int kArrowSize = 64;

} // namespace

TransferArrows::TransferArrows(QWidget *parent)
    : QWidget(parent), m_cardLibrary(new TransferIndicator(this)), m_songLibrary(new TransferIndicator(this)),
      m_cardLibraryArrow(new QLabel(m_cardLibrary)), m_songLibraryArrow(new QLabel(m_songLibrary))
{
    // The upper arrow points at the libraries, the lower one back at the card.
    m_cardLibraryArrow->setAlignment(Qt::AlignCenter);
    m_cardLibrary->setAccessibleName(tr("Card library transfers"));
    auto *cardLayout = new QVBoxLayout(m_cardLibrary);
    cardLayout->setContentsMargins(0, 0, 0, 0);
    cardLayout->addWidget(WidgetUtils::centredCaption(tr("Drag to Archive"), m_cardLibrary));
    cardLayout->addWidget(m_cardLibraryArrow);
    cardLayout->addWidget(WidgetUtils::centredCaption(tr("Drag to Restore"), m_cardLibrary));

    m_songLibraryArrow->setAlignment(Qt::AlignCenter);
    m_songLibrary->setAccessibleName(tr("Song library transfers"));
    auto *songLayout = new QVBoxLayout(m_songLibrary);
    songLayout->setContentsMargins(0, 0, 0, 0);
    songLayout->addWidget(m_songLibraryArrow);
    songLayout->addWidget(WidgetUtils::centredCaption(tr("Drag to Copy"), m_songLibrary));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch();
    layout->addSpacing(25);
    layout->addWidget(m_cardLibrary);
    layout->addStretch();
    layout->addStretch();
    layout->addWidget(m_songLibrary);
    layout->addStretch();
    // They keep their room without a card, so that opening one never makes the window grow.
    for (QWidget *indicator : {m_cardLibrary, m_songLibrary}) {
        QSizePolicy policy = indicator->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        indicator->setSizePolicy(policy);
    }
    setState(false, false, false);
}

void TransferArrows::setState(bool cardOpen, bool cardLibraryPage, bool songLibraryPage)
{
    m_cardLibrary->setVisible(cardOpen);
    m_songLibrary->setVisible(cardOpen);
    m_cardLibrary->setEnabled(cardLibraryPage);
    m_songLibrary->setEnabled(songLibraryPage);
    draw();
}

void TransferArrows::draw()
{
    // Drawn in the palette's text colour, so that a dark theme shows them as well as a light one.
    const QString arrows = QStringLiteral(":/pictures/transfer-arrows.svg");
    const QSize size(kArrowSize, kArrowSize);
    const QPixmap active =
        WidgetUtils::picture(arrows, size, palette().color(QPalette::Active, QPalette::WindowText));
    const QPixmap inactive =
        WidgetUtils::picture(arrows, size, palette().color(QPalette::Disabled, QPalette::WindowText));
    m_cardLibraryArrow->setPixmap(m_cardLibrary->isEnabled() ? active : inactive);
    m_songLibraryArrow->setPixmap(m_songLibrary->isEnabled() ? active : inactive);
}

void TransferArrows::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        draw();
}

} // namespace ZovaZode
