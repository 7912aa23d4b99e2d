// Entry point of Morv Manager: the log sink, the application identity, the one-copy-per-user lock,
// the configuration, the library folders and the main window, torn down in a fixed order.
#include "app/configurationmanager.h"
#include "app/mainwindow.h"
#include "transfer/newfile.h"
#include "views/messageboxnotifier.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLockFile>
#include <QMessageBox>
#include <QScreen>
#include <QStandardPaths>
#include <QtDebug>

#include <cstdio>

namespace {

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

// How deep into a library's sub-folders the start-up looks for abandoned temporary files.
constexpr int kLibraryDepth = 4;

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

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(writeLogLine);

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Morv Manager"));
    QApplication::setOrganizationDomain(QStringLiteral("selkanor.com"));
    QApplication::setOrganizationName(QStringLiteral("Selkanor"));

    QIcon icon;
    icon.addFile(QStringLiteral(":/images/manager_icon_256.png"), QSize(), QIcon::Normal, QIcon::Off);
    QApplication::setWindowIcon(icon);

    QLockFile lock(singleInstanceLockPath());
    if (!lock.tryLock(0)) {
        qDebug("Another instance of the application is already running.");
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Morv Manager"),
                        QStringLiteral("Another instance of the application is already running."),
                        QMessageBox::Ok);
        box.exec();
        return 0;
    }
    lock.setStaleLockTime(0);

    auto *configuration = new ZovaZode::ConfigurationManager;
    ensureFolder(configuration->cardLibraryLocation(),
                 "Created archive location:", "Failed to create archive location:");
    ensureFolder(configuration->songLibraryLocation(),
                 "Created library location:", "Failed to create library location:");
    // Temporary files of transfers killed with the program that ran them (their own folders,
    // "Safety Copies" among them, a few levels down).
    for (const QString &library :
         {configuration->cardLibraryLocation(), configuration->songLibraryLocation()})
        ZovaZode::NewFile::removeAbandoned(library, kLibraryDepth);

    ZovaZode::MessageBoxNotifier notifier;
    ZovaZode::Notifier::install(&notifier);

    auto *window = new ZovaZode::MainWindow;
    placeWindow(window);
    window->show();
    const int exitCode = QApplication::exec();

    delete window;
    ZovaZode::Notifier::install(nullptr);
    delete configuration;
    return exitCode;
}
