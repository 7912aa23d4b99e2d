// Entry point of Morv Manager: the log sink, the command line, the application identity, the
// one-copy-per-user lock, the configuration, the library folders and the main window, torn down in
// a fixed order.
#include "app/mainwindow.h"
#include "domain/configurationmanager.h"
#include "domain/filenamecodec.h"
#include "domain/newfile.h"
#include "views/cardsession.h"
#include "views/librarianview.h"
#include "views/messageboxnotifier.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QLockFile>
#include <QMessageBox>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QTranslator>
#include <QtDebug>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The id of the desktop entry: the desktop matches the window to its menu entry by it.
const QString DesktopFileName = QStringLiteral("com.selkanor.MorvManager");

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

void printError(const QString &message)
{
    const QByteArray line = "morv-manager: " + ZovaZode::printable(message).toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

// Help and version on standard output, whose failure (a full disk) is the command's.
int printAndExit(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size()) &&
        std::fflush(stdout) == 0)
        return 0;
    const int error = errno ? errno : EIO;
    std::clearerr(stdout);
    printError(QStringLiteral("cannot write to standard output: %1")
                   .arg(QString::fromLocal8Bit(std::strerror(error))));
    return 1;
}

// The file given to open, when the system will not let it be read: said on standard error with the
// system's reason, before the window shows its own message.
void checkReadable(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    const int error = fd < 0 ? errno : ::fstat(fd, &info) != 0 ? errno : 0;
    if (fd >= 0)
        ::close(fd);
    if (error)
        printError(
            QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error))));
    else if (S_ISDIR(info.st_mode))
        printError(QStringLiteral("%1 is a directory").arg(path));
    else if (!S_ISREG(info.st_mode))
        printError(QStringLiteral("cannot open %1: not a regular file").arg(path));
}

// Qt's own options, which the GUI application takes out of the arguments when it is made: known
// here, and hidden from the help, so that they are not refused as mistakes.
void addQtOptions(QCommandLineParser &parser)
{
    for (const char *name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon",
          "qwindowtitle", "session", "display", "geometry", "style", "stylesheet", "qmljsdebugger"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

// The command line, read before the window's application exists, so that help, the version and
// a mistake are answered without a display (and without the lock of a running copy). Returns the
// exit status when the program ends here, -1 when it goes on to open `file` (empty for none).
int readCommandLine(QString *file)
{
    QCommandLineParser parser;
    // Qt's options are single words after one dash (-platform).
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("The librarian for the SD card of the Morv+ guitar pedal."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Print this help and exit."));
    // No -v: morv-card's -v is --verbose, and the window's log always goes to standard output.
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Print the version and exit."));
    parser.addOption(help);
    parser.addOption(version);
    addQtOptions(parser);
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("A card data file (ZOVAZODE.DAT) to open, or a card "
                                                "archive (.mlad) or song file (.mlsd) to show."),
                                 QStringLiteral("[file]"));
    const bool read = parser.parse(QCoreApplication::arguments());
    const QStringList files = parser.positionalArguments();
    if (!read || files.size() > 1) {
        printError((read ? QStringLiteral("only one file can be opened at a time.") : parser.errorText()) +
                   QStringLiteral(" See 'morv-manager --help'."));
        return 2;
    }
    if (parser.isSet(help))
        return printAndExit(parser.helpText());
    if (parser.isSet(version))
        return printAndExit(QCoreApplication::applicationName() + QLatin1Char(' ') +
                            QCoreApplication::applicationVersion() + QLatin1Char('\n'));
    if (!files.isEmpty()) {
        *file = QFileInfo(files.first()).absoluteFilePath();
        checkReadable(*file);
    }
    return -1;
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
    // Before the arguments are read: a card file's name is bytes, which need not be UTF-8.
    ZovaZode::FileNameCodec::install();
    qInstallMessageHandler(writeLogLine);

    // Pictures and layout follow the screen's scale (1.5x, 2x); the pictures are drawn for it. Set
    // before the first application object, the one that reads the command line.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QString file;
    {
        QCoreApplication commandLine(argc, argv);
        setIdentity();
        const int status = readCommandLine(&file);
        if (status >= 0)
            return status;
    }

    // X11 desktops find the menu entry of a window by its WM_CLASS, whose instance part Qt takes
    // from RESOURCE_NAME when it is set; Wayland ones by the desktop file name. Programs started
    // later (the PDF viewer) must not inherit the name, so it is taken back once the window is up.
    const bool setResourceName = !qEnvironmentVariableIsSet("RESOURCE_NAME");
    if (setResourceName)
        qputenv("RESOURCE_NAME", DesktopFileName.toLocal8Bit());
    QApplication application(argc, argv);
    setIdentity();
    installTranslations(application);
    QGuiApplication::setDesktopFileName(DesktopFileName);

    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/manager_icon_256.png")));

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
        window->librarianView()->session()->report(ZovaZode::CardSession::Outcome::Done,
                                                   removedText(removed));
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
