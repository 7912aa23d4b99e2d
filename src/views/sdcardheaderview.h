// The strip at the top of the card column: the open/close button, the card file's path, and
// while a card is open the card box with the card's picture and its name, editable in place.
#pragma once

#include <QWidget>

#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QToolButton;

namespace ZovaZode {

class CardBox;
class CardName;
class ElidedLabel;
class SdCard;
class SdCardDetailView;

class SdCardHeaderView : public QWidget
{
    Q_OBJECT

public:
    SdCardHeaderView(std::shared_ptr<SdCard> card, QWidget *parent = nullptr);
    ~SdCardHeaderView() override;

    QAction *editNameAction() const { return m_editNameAction; }
    QAction *detailsAction() const { return m_detailsAction; }
    // The card panel connects it to archiving the card.
    QAction *archiveAction() const { return m_archiveAction; }

    void editName();
    void showCardDetails();

signals:
    void cardRestoreRequest(QString path);
    void openCardRequest();
    void closeCardRequest();
    // The card's name, or its name and description, were changed in memory; `done` says so once
    // they are on the card.
    void headerEdited(const QString &done);
    void cardDragStarted();
    void pressed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void layOut();
    void finishEditing();
    void applyName(const QString &text);
    void updateOpenState();
    void updatePath(const QString &path);
    void updateName(const QString &name);
    void openOrClose();

    std::shared_ptr<SdCard> m_card;
    QLabel *m_iconLabel;
    CardBox *m_cardBox;
    CardName *m_nameLabel;
    QLineEdit *m_nameEditor;
    ElidedLabel *m_pathLabel;
    QToolButton *m_openCloseButton;
    SdCardDetailView *m_detailView;
    QAction *m_editNameAction;
    QAction *m_detailsAction;
    QAction *m_archiveAction;
};

} // namespace ZovaZode
