// MainWindow: the application's only top-level window. A black banner with the product and maker
// logos sits above the librarian view, which holds the pieces that do all card and library work;
// the window lists their commands, by name, in the Edit, Card and Library menus, and shows their
// outcomes in the status bar. It also opens the user guide (in a window of its own, or as a PDF in
// the desktop's viewer for printing), shows the About box, and runs the
// application's own update check: a small state machine around the UpdateManager that offers a
// newer version and, when the user accepts, opens its download address and quits.
#pragma once

#include "update/semanticversion.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QPixmap>
#include <QStateMachine>
#include <QUrl>

#include <functional>

class QLabel;
class QMenu;
class QState;

namespace ZovaZode {

class GuideWindow;
class LibrarianView;
class UpdateManager;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Shown in the About box and compared with the versions the update manifest announces.
    static constexpr const char *ApplicationVersion = "1.1.0";

    enum class UpdateCheckState { Idle, Checking, Offering, Updating, CheckFailed };

    // Hands an address to the desktop; true when the desktop accepted it.
    using UrlOpener = std::function<bool(const QUrl &)>;
    // Ends the application after an accepted update.
    using QuitHandler = std::function<void()>;

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    QSize sizeHint() const override;

    // Replace the desktop's URL opener (QDesktopServices::openUrl) and the application quit
    // (QCoreApplication::quit), e.g. in tests; an empty function restores the default.
    static void setUrlOpener(UrlOpener opener);
    static void setQuitHandler(QuitHandler handler);

    // The "Advanced" submenu is offered only while Ctrl is held as the File menu opens.
    static bool showsAdvancedMenu(Qt::KeyboardModifiers modifiers);
    // Shows a file the program was started with (a file manager's double-click): a card data file
    // becomes the open card; a card archive or song file is selected in its library when it lies
    // there, and otherwise its details are shown.
    void openFile(const QString &path);

    UpdateCheckState updateCheckState() const;
    bool isStartupCheck() const { return m_startupCheck; }
    QUrl appUpdateUrl() const { return m_appUpdateUrl; }
    QMenu *advancedMenu() const { return m_advancedMenu; }
    LibrarianView *librarianView() const { return m_librarianView; }
    // The guide's window once Help > User Guide has opened it.
    GuideWindow *guideWindow() const { return m_guideWindow; }
    UpdateManager *updateManager() const { return m_updateManager; }

protected:
    // While a transfer runs, the window asks whether to cancel it and closes only once the
    // worker has let go of the card. SIGTERM, SIGHUP and SIGINT (a logout, a closed terminal)
    // close it the same way, without asking.
    void closeEvent(QCloseEvent *event) override;

signals:
    void checkAppUpdatesRequest();
    void appUpdatesConfirmed();
    void appUpdatesRejected();

private:
    void buildCentralWidget();
    void buildStatusBar();
    void buildMenus();
    void buildFileMenu();
    // Edit, Card and Library: the commands of the window's action registry, by name.
    void buildCommandMenus();
    void buildHelpMenu();
    void buildUpdateCheck();

    void openUserGuide();
    void openGuidePdf();
    void showAbout();
    void editManifestUrl();

    void offerUpdate();
    void startUpdate();
    void showMessage(QMessageBox::Icon icon, const QString &title, const QString &text);
    void closeOnSignal();

    SemanticVersion m_appVersion;
    QStateMachine m_updateCheckMachine;
    QLabel *m_productLogoLabel = nullptr;
    QLabel *m_makerLogoLabel = nullptr;
    LibrarianView *m_librarianView = nullptr;
    GuideWindow *m_guideWindow = nullptr;
    UpdateManager *m_updateManager = nullptr;
    QUrl m_appUpdateUrl;
    bool m_startupCheck = false;
    QMenu *m_advancedMenu = nullptr;
    QPixmap m_productLogo;
    bool m_closeWhenIdle = false;
    bool m_askBeforeClosing = true;

    QState *m_idle = nullptr;
    QState *m_checking = nullptr;
    QState *m_offering = nullptr;
    QState *m_updating = nullptr;
    QState *m_checkFailed = nullptr;
};

} // namespace ZovaZode
