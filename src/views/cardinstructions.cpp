// CardInstructions: the instructions, and the demo card's button.
#include "views/cardinstructions.h"

#include "domain/democard.h"

#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace ZovaZode {

namespace {

constexpr int kMargin = 20;

QString instructionsText()
{
    return QStringLiteral("<h3>SD Card Instructions</h3>") +
           QStringLiteral("<ul style=\"margin-right: 10px;\">") +
           QStringLiteral("<li style=\"margin-bottom: 10px;\">") +
           QStringLiteral(
               "Connect the SD card from your MORV+ to your computer using a card reader. Note that "
               "you should only access the MORV+ SD Card using the MORV Manager application. Please "
               "say no to any requests by the operating system to open the card or access the files.") +
           QStringLiteral("</li>") + QStringLiteral("<li>") +
           QStringLiteral("Click the Open Card button above, find the ZOVAZODE drive, and open.  Select the "
                          "ZOVAZODE.DAT file on the card and open the file.") +
           QStringLiteral("</li>") + QStringLiteral("</ul>") +
           QStringLiteral(
               "NOTE:  A new SD card must first be formatted by MORV+ by inserting the card in the "
               "pedal before using it with MORV Manager.");
}

} // namespace

CardInstructions::CardInstructions(QWidget *parent) : QWidget(parent), m_demoButton(new QPushButton(this))
{
    auto *instructions = new QLabel(this);
    instructions->setWordWrap(true);
    instructions->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont font = instructions->font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() + 2);
    instructions->setFont(font);
    instructions->setTextFormat(Qt::RichText);
    instructions->setText(instructionsText());

    auto *demo = new QLabel(tr("No card at hand? The demo card holds songs of every kind to try the "
                               "program on."),
                            this);
    demo->setWordWrap(true);
    m_demoButton->setAutoDefault(false);
    connect(m_demoButton, &QPushButton::clicked, this, &CardInstructions::demoCardRequest);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, 0, kMargin, 0);
    layout->addWidget(instructions);
    layout->addSpacing(kMargin);
    layout->addWidget(demo);
    layout->addWidget(m_demoButton, 0, Qt::AlignLeft);
    layout->addStretch(1);
    updateDemoButton();
}

void CardInstructions::updateDemoButton()
{
    m_demoButton->setText(QFileInfo::exists(DemoCard::defaultPath()) ? tr("Open the demo card")
                                                                     : tr("Make a demo card"));
}

void CardInstructions::showEvent(QShowEvent *event)
{
    // The demo card may have come or gone since (scripts/run makes one, a user deletes it).
    updateDemoButton();
    QWidget::showEvent(event);
}

} // namespace ZovaZode
