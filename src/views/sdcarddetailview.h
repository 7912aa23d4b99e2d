// The card details window: the open card's path, and its name and description to read or,
// on a writable card, to edit.
#pragma once

#include <QDialog>

#include <memory>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace ZovaZode {

class SdCard;

class SdCardDetailView : public QDialog
{
    Q_OBJECT

public:
    SdCardDetailView(std::shared_ptr<SdCard> card, QWidget *parent = nullptr);
    ~SdCardDetailView() override;

    // Fills the window from the card, dropping whatever was typed.
    void refresh();

    void reject() override;

private:
    void save();

    std::shared_ptr<SdCard> m_card;
    QLabel *m_pathHeading;
    QLabel *m_nameHeading;
    QLabel *m_descriptionHeading;
    QLabel *m_pathLabel;
    QLineEdit *m_nameEdit;
    QPlainTextEdit *m_descriptionEdit;
    QDialogButtonBox *m_buttons;
};

} // namespace ZovaZode
