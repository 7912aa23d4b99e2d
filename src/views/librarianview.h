// LibrarianView: the window's central widget, the layout that holds its pieces and wires them:
// the card panel on the left, the library pages on the right, the transfer arrows between them,
// the card session and the transfer controller behind, and the window's commands by name
// (ActionRegistry), whose enabling follows the state of them all. What each piece does is its
// own; this file says who hears whom.
#pragma once

#include <QWidget>

namespace ZovaZode {

class ActionRegistry;
class CardPanel;
class CardSession;
class LibraryPages;
class Settings;
class TransferController;
struct WindowState;

class LibrarianView : public QWidget
{
    Q_OBJECT

public:
    // `settings` must outlive the view.
    explicit LibrarianView(Settings &settings, QWidget *parent = nullptr);
    ~LibrarianView() override;

    ActionRegistry *actions() const { return m_actions; }
    CardSession *session() const { return m_session; }
    TransferController *transfers() const { return m_transfers; }
    CardPanel *cardPanel() const { return m_cardPanel; }
    LibraryPages *libraryPages() const { return m_libraryPages; }

private:
    void wireRequests();
    void wireEnabling();
    WindowState state() const;
    void updateActions();

    ActionRegistry *m_actions;
    CardSession *m_session;
    TransferController *m_transfers;
    CardPanel *m_cardPanel;
    LibraryPages *m_libraryPages;
};

} // namespace ZovaZode
