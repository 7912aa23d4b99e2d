// The window's construction, its menus, the user guide and About box, and the update-check state
// machine with the manifest address dialog.
#include "app/mainwindow.h"
#include "app/settingsdialog.h"

#include "domain/configurationmanager.h"
#include "domain/filekinds.h"
#include "domain/interruptwatcher.h"
#include "domain/mountwatcher.h"
#include "domain/notifier.h"
#include "update/updatemanager.h"
#include "update/updatemanifestparser.h"
#include "views/actionregistry.h"
#include "views/cardsession.h"
#include "views/elidedlabel.h"
#include "views/guidewindow.h"
#include "views/librarianview.h"
#include "views/librarypages.h"
#include "views/modaleventfilter.h"
#include "views/prompter.h"
#include "views/safetycopiesview.h"
#include "views/transfercontroller.h"
#include "views/transferdialog.h"
#include "views/widgetutils.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QState>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtDebug>

namespace ZovaZode {

namespace {

MainWindow::QuitHandler &quitHandler()
{
    static MainWindow::QuitHandler handler;
    return handler;
}

void quitApplication()
{
    if (quitHandler())
        quitHandler()();
    else
        QCoreApplication::quit();
}

// The update check reads its address from the settings each time, so a new address counts from
// the next check on.
QUrl manifestAddress()
{
    const ConfigurationManager *configuration = ConfigurationManager::instance();
    return configuration ? configuration->manifestUrl() : ConfigurationManager::defaultManifestUrl();
}

const QString UpdateTitle = QStringLiteral("Morv Manager Update");

// Stands in for the user's choice of file while a command runs with a file already given;
// anything else the command asks goes to the prompter that was there before.
class GivenFilePrompter : public Prompter
{
public:
    explicit GivenFilePrompter(const QString &path) : m_path(path), m_previous(Prompter::current())
    {
        Prompter::install(this);
    }
    ~GivenFilePrompter() override { Prompter::install(m_previous); }

    QString openFile(QWidget *, const FileRequest &) override { return m_path; }
    QString folder(QWidget *parent, const QString &caption, const QString &startPath) override
    {
        return m_previous->folder(parent, caption, startPath);
    }
    bool text(QWidget *parent, const QString &title, const QString &label, QString *value) override
    {
        return m_previous->text(parent, title, label, value);
    }

private:
    QString m_path;
    Prompter *m_previous;
};

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    // First: a signal that comes while the window is built is handled once the event loop runs.
    auto *interrupts = new InterruptWatcher(this, {SIGINT, SIGTERM, SIGHUP});
    connect(interrupts, &InterruptWatcher::interruptRequested, this, &MainWindow::closeOnSignal);
    const QString versionText = QString::fromLatin1(ApplicationVersion);
    try {
        m_appVersion = SemanticVersion(versionText);
    } catch (const SemanticVersion::error &) {
        qCritical() << "Failed to parse app version:" << versionText;
    }
    qDebug() << "App version = " << m_appVersion.toString();

    m_updateManager = new UpdateManager(this);

    buildCentralWidget();
    buildMenus();
    buildUpdateCheck();
}

MainWindow::~MainWindow() = default;

QSize MainWindow::sizeHint() const
{
    return QSize(1000, 640);
}

void MainWindow::setUrlOpener(UrlOpener opener)
{
    WidgetUtils::setUrlOpener(std::move(opener));
}

void MainWindow::setQuitHandler(QuitHandler handler)
{
    quitHandler() = std::move(handler);
}

bool MainWindow::showsAdvancedMenu(Qt::KeyboardModifiers modifiers)
{
    return modifiers.testFlag(Qt::ControlModifier);
}

void MainWindow::openFile(const QString &path)
{
    const QString suffix = QLatin1Char('.') + QFileInfo(path).suffix().toLower();
    if (suffix == FileKinds::cardArchiveExtension() || suffix == FileKinds::songFileExtension()) {
        m_librarianView->libraryPages()->showFile(path);
        return;
    }
    // The Open Card command itself, answered with this file: the same checks, messages and
    // remembered location as when the user picks the file.
    GivenFilePrompter prompter(path);
    m_librarianView->actions()->action(QStringLiteral("OpenCard"))->trigger();
}

MainWindow::UpdateCheckState MainWindow::updateCheckState() const
{
    if (m_checking->active())
        return UpdateCheckState::Checking;
    if (m_offering->active())
        return UpdateCheckState::Offering;
    if (m_updating->active())
        return UpdateCheckState::Updating;
    if (m_checkFailed->active())
        return UpdateCheckState::CheckFailed;
    return UpdateCheckState::Idle;
}

void MainWindow::buildCentralWidget()
{
    // Start-up makes the configuration before the window.
    ConfigurationManager *configuration = ConfigurationManager::instance();
    if (!configuration)
        qFatal("The window needs the configuration.");
    m_librarianView = new LibrarianView(*configuration);

    m_productLogo =
        WidgetUtils::picture(QStringLiteral(":/pictures/morv_plus_logo_horizontal.svg"), QSize(0, 70));
    m_productLogoLabel = new QLabel;
    m_productLogoLabel->setPixmap(m_productLogo);
    m_productLogoLabel->setAccessibleName(tr("Morv+"));

    QPixmap makerLogo = WidgetUtils::picture(QStringLiteral(":/pictures/selkanor_logo.svg"), QSize(200, 0));
    {
        QPainter painter(&makerLogo);
        painter.fillRect(makerLogo.rect(), QColor(15, 0, 0, 150));
    }
    m_makerLogoLabel = new QLabel;
    m_makerLogoLabel->setPixmap(makerLogo);
    m_makerLogoLabel->setAccessibleName(tr("Selkanor"));
    m_makerLogoLabel->setAlignment(Qt::AlignCenter);
    // The maker's artwork runs to its right edge; this mirrors the room the product logo's own
    // artwork leaves on the left, so the banner does not look cut off.
    m_makerLogoLabel->setContentsMargins(0, 0, 14, 0);

    auto *banner = new QWidget;
    banner->setObjectName(QStringLiteral("banner"));
    banner->setStyleSheet(QStringLiteral("#banner { background-color: rgb(0,0,0); }"));
    // The banner keeps the logos' height; all spare room goes to the librarian view.
    banner->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto *bannerLayout = new QHBoxLayout(banner);
    bannerLayout->setContentsMargins(0, 0, 0, 0);
    bannerLayout->setSpacing(0);
    bannerLayout->addWidget(m_productLogoLabel);
    bannerLayout->addStretch(1);
    bannerLayout->addWidget(m_makerLogoLabel);

    auto *central = new QWidget;
    auto *centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->addWidget(banner);
    centralLayout->addWidget(m_librarianView);
    setCentralWidget(central);

    buildStatusBar();
}

void MainWindow::buildStatusBar()
{
    // The status bar: the last command's outcome on the left, kept until the next (a menu's tips
    // only cover it for a moment), the open card's summary and a card that appeared meanwhile on
    // the right. Both give way rather than widen the window.
    CardSession *session = m_librarianView->session();
    auto *outcome = new ElidedLabel;
    outcome->setObjectName(QStringLiteral("outcome"));
    statusBar()->addWidget(outcome, 3);
    connect(session, &CardSession::statusMessage, outcome, &ElidedLabel::setFullText);
    auto *summary = new ElidedLabel;
    summary->setObjectName(QStringLiteral("cardSummary"));
    summary->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    statusBar()->addPermanentWidget(summary, 2);
    connect(session, &CardSession::cardSummaryChanged, summary, &ElidedLabel::setFullText);
    auto *offer = new QToolButton;
    QAction *offered = m_librarianView->actions()->action(QStringLiteral("OpenOfferedCard"));
    offer->setDefaultAction(offered);
    statusBar()->addPermanentWidget(offer);
    // A button keeps its place when its action hides; only an offer should show one.
    offer->setVisible(offered->isVisible());
    connect(offered, &QAction::changed, offer, [offer, offered] { offer->setVisible(offered->isVisible()); });
    // Once the window is up, so that a card already in the reader opens into it.
    QTimer::singleShot(0, session->mountWatcher(), &MountWatcher::start);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    TransferController *transfers = m_librarianView->transfers();
    if (!transfers->hasTransfers()) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    if (m_closeWhenIdle)
        return;
    if (m_askBeforeClosing && Notifier::ask(this, Notifier::Icon::Warning, tr("Quit Morv Manager"),
                                            tr("A transfer is still running.\n\nCancel it and quit?"),
                                            Notifier::Yes | Notifier::No) != Notifier::Yes)
        return;
    // The worker stops at its next progress report; only then may the card be let go. A transfer
    // that ended while the question was open leaves nothing to wait for.
    m_closeWhenIdle = true;
    connect(transfers, &TransferController::transfersDone, this, &QWidget::close, Qt::QueuedConnection);
    if (transfers->hasTransfers())
        transfers->cancelTransfers();
    else
        QTimer::singleShot(0, this, &QWidget::close);
}

void MainWindow::closeOnSignal()
{
    qDebug() << "Closing the window on signal" << InterruptWatcher::lastSignal();
    m_askBeforeClosing = false;
    close();
}

void MainWindow::buildMenus()
{
    buildFileMenu();
    buildCommandMenus();
    buildHelpMenu();
}

void MainWindow::buildFileMenu()
{
    QMenu *fileMenu = menuBar()->addMenu(tr("&File"));
    m_advancedMenu = new QMenu(tr("&Advanced"), this);
    fileMenu->addMenu(m_advancedMenu);
    m_advancedMenu->menuAction()->setVisible(false);
    QAction *manifestAction = m_advancedMenu->addAction(QStringLiteral("Set &Manifest URL..."));
    manifestAction->setMenuRole(QAction::NoRole);
    connect(manifestAction, &QAction::triggered, this, [this]() { editManifestUrl(); });
    // The keyboard is asked at the moment of opening: the submenu is for support staff guiding a
    // user, not something to stumble upon.
    connect(fileMenu, &QMenu::aboutToShow, this, [this]() {
        m_advancedMenu->menuAction()->setVisible(
            showsAdvancedMenu(QGuiApplication::queryKeyboardModifiers()));
    });

    fileMenu->addSeparator();
    QAction *settingsAction = fileMenu->addAction(tr("&Settings..."));
    settingsAction->setMenuRole(QAction::NoRole);
    connect(settingsAction, &QAction::triggered, this, [this] {
        auto *dialog = new SettingsDialog(this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        // Copies it deleted leave the page.
        connect(dialog, &QDialog::accepted, m_librarianView->libraryPages()->safetyCopies(),
                &SafetyCopiesView::reload);
        dialog->open();
    });
    QAction *checkAction = fileMenu->addAction(tr("Check for Morv Manager &Updates"));
    checkAction->setMenuRole(QAction::NoRole);
    connect(checkAction, &QAction::triggered, this, &MainWindow::checkAppUpdatesRequest);
    fileMenu->addSeparator();
    QAction *exitAction = fileMenu->addAction(tr("E&xit"));
    exitAction->setMenuRole(QAction::QuitRole);
    exitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // From every window of the program, the transfer's progress window among them, whose input
    // filter lets this one key through: the close question must come whatever is in front.
    exitAction->setShortcutContext(Qt::ApplicationShortcut);
    m_librarianView->transfers()->transferDialog()->modalEventFilter()->allow(exitAction);
    connect(exitAction, &QAction::triggered, this, &QWidget::close);
}

void MainWindow::buildCommandMenus()
{
    const ActionRegistry *actions = m_librarianView->actions();
    QMenu *editMenu = menuBar()->addMenu(tr("&Edit"));
    // The disabled Undo says why in its tool tip.
    editMenu->setToolTipsVisible(true);
    actions->addToMenu(editMenu, {QStringLiteral("Undo")});
    connect(editMenu, &QMenu::aboutToShow, m_librarianView->transfers(), &TransferController::updateUndo);
    actions->addToMenu(menuBar()->addMenu(tr("&Card")),
                       {"OpenCard", "RecentCards", "CloseCard", "EditCardName", "ShowCardDetails", "-",
                        "EditCardSongName", "ShowCardSongDetails", "ClearCardSong", "ClearAllCardSongs", "-",
                        "VerifyCard"});
    actions->addToMenu(menuBar()->addMenu(tr("&Library")),
                       {"ArchiveCard", "RestoreCard", "EditArchiveName", "ShowArchiveDetails",
                        "DeleteArchiveItem", "-", "CopyCardSongToLibrary", "OverwriteCardSong",
                        "EditLibraryItemName", "ShowLibrarySongDetails", "DeleteLibraryItem"});
}

void MainWindow::buildHelpMenu()
{
    QMenu *helpMenu = menuBar()->addMenu(tr("&Help"));
    QAction *guideAction = helpMenu->addAction(tr("&User Guide"));
    guideAction->setMenuRole(QAction::NoRole);
    guideAction->setShortcut(QKeySequence(Qt::Key_F1));
    connect(guideAction, &QAction::triggered, this, [this]() { openUserGuide(); });
    QAction *printGuideAction = helpMenu->addAction(tr("&Print the Guide..."));
    printGuideAction->setMenuRole(QAction::NoRole);
    connect(printGuideAction, &QAction::triggered, this, [this]() { openGuidePdf(); });
    helpMenu->addSeparator();
    QAction *aboutAction = helpMenu->addAction(tr("&About %1...").arg(QCoreApplication::applicationName()));
    aboutAction->setMenuRole(QAction::AboutRole);
    connect(aboutAction, &QAction::triggered, this, [this]() { showAbout(); });
}

void MainWindow::buildUpdateCheck()
{
    // One region holding the five states, entered from the machine's start; it begins in
    // Checking, so the first check runs as soon as the event loop starts the machine. (Qt 5.15
    // refuses a machine whose own child mode is parallel, so the region is its initial state.)
    auto *region = new QState(&m_updateCheckMachine);
    m_updateCheckMachine.setInitialState(region);
    m_idle = new QState(region);
    m_checking = new QState(region);
    m_offering = new QState(region);
    m_updating = new QState(region);
    m_checkFailed = new QState(region);
    // Someone who turned the check at start off still gets it from the menu.
    const ConfigurationManager *configuration = ConfigurationManager::instance();
    const bool checkAtStart = !configuration || configuration->checksForUpdatesAtStart();
    region->setInitialState(checkAtStart ? m_checking : m_idle);

    m_idle->addTransition(this, &MainWindow::checkAppUpdatesRequest, m_checking);
    m_checking->addTransition(m_updateManager, &UpdateManager::updateDiscoveryDone, m_offering);
    m_checking->addTransition(m_updateManager, &UpdateManager::failure, m_checkFailed);
    m_offering->addTransition(this, &MainWindow::appUpdatesConfirmed, m_updating);
    m_offering->addTransition(this, &MainWindow::appUpdatesRejected, m_idle);
    m_updating->addTransition(m_idle);
    m_checkFailed->addTransition(m_idle);

    connect(m_idle, &QState::entered, this, [this]() { m_startupCheck = false; });
    connect(m_checking, &QState::entered, this,
            [this]() { m_updateManager->discoverUpdates(manifestAddress()); });
    connect(m_offering, &QState::entered, this, [this]() { offerUpdate(); });
    connect(m_updating, &QState::entered, this, [this]() { startUpdate(); });
    connect(m_checkFailed, &QState::entered, this, [this]() {
        if (!m_startupCheck)
            showMessage(QMessageBox::Critical, UpdateTitle,
                        tr("Failed to check for new version of Morv Manager.") + QLatin1Char('\n') +
                            m_updateManager->failureReason());
    });

    m_updateCheckMachine.start();
    m_startupCheck = true;
}

void MainWindow::offerUpdate()
{
    const QList<UpdateManifestParser::Component> components =
        m_updateManager->components(UpdateManifestParser::ProductMorvManager);
    for (const UpdateManifestParser::Component &component : components) {
        if (component.kind != UpdateManifestParser::KindWindowsApplication)
            continue;
        SemanticVersion version;
        try {
            version = SemanticVersion(component.version);
        } catch (const SemanticVersion::error &) {
            qCritical() << "Failed parsing app update version!";
            continue;
        }
        if (!(m_appVersion < version))
            continue;

        m_appUpdateUrl = component.address;
        auto *box = new QMessageBox(QMessageBox::Information, UpdateTitle,
                                    tr("New Morv Manager version %1 is available.\n\nWould you like to "
                                       "quit the current Morv Manager and update?\n\n")
                                        .arg(component.version),
                                    QMessageBox::Yes | QMessageBox::No, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(true);
        connect(box, &QMessageBox::finished, this, [this](int result) {
            if (result == QMessageBox::Yes)
                emit appUpdatesConfirmed();
            else
                emit appUpdatesRejected();
        });
        box->show();
        return;
    }

    if (!m_startupCheck)
        showMessage(QMessageBox::Information, UpdateTitle, tr("No updates available for Morv Manager."));
    emit appUpdatesRejected();
}

void MainWindow::startUpdate()
{
    // The address comes from a downloaded file: a local file, a script or a custom scheme handler
    // is never handed to the desktop.
    if (!UpdateManifestParser::allowedAddress(m_appUpdateUrl)) {
        qCritical() << "App update URL invalid.";
        return;
    }
    if (WidgetUtils::openUrl(m_appUpdateUrl))
        quitApplication();
    else
        qCritical() << "Failed to open app update URL:" << m_appUpdateUrl;
}

void MainWindow::showMessage(QMessageBox::Icon icon, const QString &title, const QString &text)
{
    auto *box = new QMessageBox(icon, title, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(true);
    box->show();
}

void MainWindow::openUserGuide()
{
    if (!m_guideWindow) {
        m_guideWindow = new GuideWindow(this);
        connect(m_guideWindow, &GuideWindow::openPdfRequested, this, &MainWindow::openGuidePdf);
    }
    if (!m_guideWindow->isLoaded() && !m_guideWindow->load(GuideWindow::folder())) {
        qCritical() << "Failed to open user guide:" << m_guideWindow->errorText();
        Notifier::tell(this, Notifier::Icon::Critical, QString(),
                       tr("Sorry, there was a problem opening the User Guide.") + QStringLiteral("\n\n") +
                           m_guideWindow->errorText());
        return;
    }
    m_guideWindow->show();
    m_guideWindow->raise();
    m_guideWindow->activateWindow();
}

void MainWindow::openGuidePdf()
{
    const QString path = QDir(GuideWindow::folder()).filePath(GuideWindow::PdfName);
    // The desktop's opener happily starts a viewer for a file that is not there, so a missing
    // guide is caught here, where the user can still be told.
    const bool present = QFileInfo(path).isFile();
    if (present && WidgetUtils::openUrl(QUrl::fromLocalFile(path))) {
        // The opener only says that it started; where the PDF is stays in sight if nothing opens.
        m_librarianView->session()->report(
            CardSession::Outcome::Done,
            tr("Opening the guide in your PDF viewer: %1").arg(QDir::toNativeSeparators(path)));
        return;
    }
    qCritical() << "Failed to open user guide.";
    Notifier::tell(this, Notifier::Icon::Critical, QString(),
                   tr("Sorry, there was a problem opening the User Guide.") + QStringLiteral("\n\n") +
                       (present ? tr("No PDF viewer could open %1. Install one to print the guide; Help > "
                                     "User Guide shows it in a window of its own.")
                                : tr("%1 is missing. Reinstall MORV Manager."))
                           .arg(QDir::toNativeSeparators(path)));
}

void MainWindow::showAbout()
{
    const QString name = QCoreApplication::applicationName();
    QMessageBox::about(this, tr("About %1").arg(name),
                       tr("<b>%1 version %2</b>").arg(name, QString::fromLatin1(ApplicationVersion)));
}

void MainWindow::editManifestUrl()
{
    ConfigurationManager *configuration = ConfigurationManager::instance();
    if (!configuration) {
        qDebug() << "No configuration manager.";
        return;
    }
    QString text = configuration->manifestUrl().toString();
    for (;;) {
        if (!Prompter::current()->text(this, tr("Set Manifest URL"),
                                       tr("Please enter the URL of the update manifest file."), &text))
            return;
        if (text.isEmpty()) {
            configuration->resetManifestUrl();
            return;
        }
        const QUrl url = QUrl::fromUserInput(text);
        if (url.isValid()) {
            configuration->setManifestUrl(url);
            return;
        }
        Notifier::tell(this, Notifier::Icon::Critical, tr("Invalid Manifest URL"),
                       tr("The entered text is not a valid URL. Please enter a valid URL."));
    }
}

} // namespace ZovaZode
