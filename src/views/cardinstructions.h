// The card column while no card is open: how to connect and open the pedal's card, and a button
// that opens the demo card, or makes one when there is none, so that a first look at the program
// needs no pedal.
#pragma once

#include <QWidget>

class QPushButton;

namespace ZovaZode {

class CardInstructions : public QWidget
{
    Q_OBJECT

public:
    explicit CardInstructions(QWidget *parent = nullptr);

    QPushButton *demoButton() const { return m_demoButton; }
    // "Open the demo card" while there is one (DemoCard::defaultPath()), else "Make a demo card".
    void updateDemoButton();

signals:
    void demoCardRequest();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QPushButton *m_demoButton;
};

} // namespace ZovaZode
