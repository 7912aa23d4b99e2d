// Entry point of Morv Manager: the log sink, the command line, the application identity, the
// one-copy-per-user lock, the configuration, the library folders and the main window, torn down in
// a fixed order.
#include "app/mainwindow.h"
#include "domain/configurationmanager.h"
#include "domain/newfile.h"
#include "views/messageboxnotifier.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QLockFile>
#include <QMessageBox>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QTranslator>
#include <QtDebug>

#include <cstdio>
#include <cstring>

namespace {

// The id of the desktop entry: the desktop matches the window to its menu entry by it.
const QString DesktopFileName = QStringLiteral("com.selkanor.MorvManager");

void describeCommandLine(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("The librarian for the SD card of the Morv+ guitar pedal."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("A card data file (ZOVAZODE.DAT) to open, or a card "
                                                "archive (.mlad) or song file (.mlsd) to show."),
                                 QStringLiteral("[file]"));
}

// --help and --version are answered before the GUI application exists: they must work without a
// display (in a terminal, for the manual page) and must not take the lock of a running copy.
bool asksForInformation(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (std::strcmp(argument, "--") == 0)
            return false;
        for (const char *option : {"-h", "--help", "-?", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argument, option) == 0)
                return true;
        }
    }
    return false;
}

void setIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("Morv Manager"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(ZovaZode::MainWindow::ApplicationVersion));
    QCoreApplication::setOrganizationDomain(QStringLiteral("selkanor.com"));
    QCoreApplication::setOrganizationName(QStringLiteral("Selkanor"));
}

// Every message, whatever its level, becomes one bare line on standard output: the log is read by
// people helping a user, who want the text and nothing else.
void writeLogLine(QtMsgType, const QMessageLogContext &, const QString &message)
{
    const QByteArray line = message.toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The lock lives in the user's own runtime folder: in the shared temporary folder another user's
// copy, or a file planted there by anyone, would keep this user's copy from starting.
QString singleInstanceLockPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        QDir().mkpath(folder);
    }
    return folder + QStringLiteral("/selkanor_morv_manager_single_instance_lock");
}

void ensureFolder(const QString &path, const char *createdText, const char *failedText)
{
    if (QDir(path).exists())
        return;
    if (QDir().mkpath(path))
        qDebug() << createdText << path;
    else
        qCritical() << failedText << path;
}

// The program's translation for the user's language, beside the program (a build tree) or in its
// installed data folder; Qt's own for the standard buttons only with it, since a window whose
// buttons alone are translated reads worse than an English one.
void installTranslations(QCoreApplication &application)
{
    const QLocale locale;
    auto *own = new QTranslator(&application);
    const QStringList folders = {QCoreApplication::applicationDirPath() + QStringLiteral("/translations"),
                                 QStringLiteral(MORV_INSTALLED_TRANSLATIONS_DIR)};
    for (const QString &folder : folders) {
        if (!own->load(locale, QStringLiteral("morv-manager"), QStringLiteral("_"), folder))
            continue;
        QCoreApplication::installTranslator(own);
        auto *qt = new QTranslator(&application);
        if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(qt);
        return;
    }
    delete own;
}

// How deep into a library's sub-folders the start-up looks for abandoned temporary files.
constexpr int kLibraryDepth = 4;

// What the status bar says of the temporary files removed at the start.
QString removedText(const QStringList &paths)
{
    QStringList quoted;
    for (const QString &path : paths)
        quoted << QLatin1Char('"') + QDir::toNativeSeparators(path) + QLatin1Char('"');
    return paths.size() == 1 ? QStringLiteral("Removed a temporary file left by a stopped transfer: %1.")
                                   .arg(quoted.first())
                             : QStringLiteral("Removed %1 temporary files left by stopped transfers: %2.")
                                   .arg(paths.size())
                                   .arg(quoted.join(QStringLiteral(", ")));
}

void placeWindow(QWidget *window)
{
    QScreen *screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QSize size = window->sizeHint().boundedTo(QSize(available.width() - 50, available.height() - 100));
    QRect geometry(QPoint(0, 0), size);
    geometry.moveCenter(available.center());
    window->setGeometry(geometry);
}

// --help or --version, without a display.
int printInformation(int argc, char *argv[])
{
    QCoreApplication information(argc, argv);
    setIdentity();
    QCommandLineParser parser;
    describeCommandLine(parser);
    parser.process(information); // prints and exits
    return 0;
}

// Takes the lock that keeps a second window from starting; false, after saying so, when another
// one holds it.
bool takeInstanceLock(QLockFile &lock)
{
    if (lock.tryLock(0)) {
        lock.setStaleLockTime(0);
        return true;
    }
    qDebug("Another instance of the application is already running.");
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Morv Manager"),
                    QStringLiteral("Another instance of the application is already running."),
                    QMessageBox::Ok);
    box.exec();
    return false;
}

// The file given to open, absolute, in `file` (empty when none); false, after saying why, when
// more than one was given. Qt has taken its own options (-platform, -style ...) out of the
// arguments by now; another mistake in them ends the program here, before the lock is taken.
bool fileArgument(const QApplication &application, QString *file)
{
    QCommandLineParser parser;
    describeCommandLine(parser);
    parser.process(application);
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        std::fprintf(stderr, "morv-manager: only one file can be opened at a time.\n");
        return false;
    }
    *file = files.isEmpty() ? QString() : QFileInfo(files.first()).absoluteFilePath();
    return true;
}

// Makes the library folders that are missing and removes the temporary files of transfers killed
// with the program that ran them (their own folders, "Safety Copies" among them, a few levels
// down); the files removed.
QStringList prepareLibraries(const ZovaZode::ConfigurationManager &configuration)
{
    ensureFolder(configuration.cardLibraryLocation(),
                 "Created archive location:", "Failed to create archive location:");
    ensureFolder(configuration.songLibraryLocation(),
                 "Created library location:", "Failed to create library location:");
    QStringList removed;
    for (const QString &library : {configuration.cardLibraryLocation(), configuration.songLibraryLocation()})
        removed += ZovaZode::NewFile::removeAbandoned(library, kLibraryDepth);
    return removed;
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(writeLogLine);

    if (asksForInformation(argc, argv))
        return printInformation(argc, argv);

    // X11 desktops find the menu entry of a window by its WM_CLASS, whose instance part Qt takes
    // from RESOURCE_NAME when it is set; Wayland ones by the desktop file name. Programs started
    // later (the PDF viewer) must not inherit the name, so it is taken back once the window is up.
    const bool setResourceName = !qEnvironmentVariableIsSet("RESOURCE_NAME");
    if (setResourceName)
        qputenv("RESOURCE_NAME", DesktopFileName.toLocal8Bit());
    // Pictures and layout follow the screen's scale (1.5x, 2x); the pictures are drawn for it.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication application(argc, argv);
    setIdentity();
    installTranslations(application);
    QGuiApplication::setDesktopFileName(DesktopFileName);

    QString file;
    if (!fileArgument(application, &file))
        return 1;

    QIcon icon;
    icon.addFile(QStringLiteral(":/images/manager_icon_256.png"), QSize(), QIcon::Normal, QIcon::Off);
    QApplication::setWindowIcon(icon);

    QLockFile lock(singleInstanceLockPath());
    if (!takeInstanceLock(lock))
        return 0;

    auto *configuration = new ZovaZode::ConfigurationManager;
    const QStringList removed = prepareLibraries(*configuration);

    ZovaZode::MessageBoxNotifier notifier;
    ZovaZode::Notifier::install(&notifier);

    auto *window = new ZovaZode::MainWindow;
    placeWindow(window);
    window->show();
    if (!removed.isEmpty())
        window->statusBar()->showMessage(removedText(removed));
    if (setResourceName)
        qunsetenv("RESOURCE_NAME");
    // Once the window is up, so that whatever the file brings up (a message, a dialog) sits on it.
    if (!file.isEmpty())
        QTimer::singleShot(0, window, [window, file]() { window->openFile(file); });
    const int exitCode = QApplication::exec();

    delete window;
    ZovaZode::Notifier::install(nullptr);
    delete configuration;
    return exitCode;
}
