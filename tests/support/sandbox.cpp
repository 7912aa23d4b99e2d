// The sandbox (docs/RELIABILITY.md, "The tests' sandbox"): the folders a test may write to, and
// the C library's calls that create, open for writing, truncate, link, rename or remove a file or
// folder, replaced for every caller in the process. Each replacement refuses a path outside the
// sandbox with EACCES, before it acts, or goes on to the real call (or a sanitizer's), found with
// dlsym(RTLD_NEXT). The build folder is not writable: no test needs it.
#undef _FORTIFY_SOURCE // its inline open() would clash with the replacement

#include "support/sandbox.h"

#include <QDir>
#include <QStandardPaths>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<bool> g_armed{false};
std::vector<std::string> g_allowed; // written only while the sandbox is not armed
std::mutex g_mutex;
std::vector<std::string> g_refused;
QString g_folders[2]; // on disk, in memory

// The real path a call on `path` (relative to the folder descriptor `folder`) acts on: where a
// link that is followed leads, else the real path of the folder holding the name, with the name.
std::string target(int folder, const char *path, bool follow)
{
    char real[PATH_MAX];
    const std::string fd = "/proc/self/fd/" + std::to_string(folder);
    const ssize_t size = folder == AT_FDCWD ? (getcwd(real, sizeof real) ? ssize_t(strlen(real)) : -1)
                                            : readlink(fd.c_str(), real, sizeof real - 1);
    std::string full = path[0] == '/' || size < 0 ? path : std::string(real, size_t(size)) + '/' + path;
    while (full.size() > 1 && full.back() == '/')
        full.pop_back();
    const size_t slash = full.rfind('/');
    const std::string name = full.substr(slash + 1);
    if ((follow || name == "." || name == "..") && realpath(full.c_str(), real))
        return real;
    if (slash == std::string::npos || !realpath(slash ? full.substr(0, slash).c_str() : "/", real))
        return full;
    return std::string(real) + (real[1] ? "/" : "") + name;
}

// Whether a call may act on `path`; a refusal is printed and remembered, and sets errno.
bool allowed(const char *call, int folder, const char *path, bool follow = false)
{
    if (!g_armed.load() || !path)
        return true;
    const std::string where = target(folder, path, follow);
    for (const std::string &root : g_allowed) {
        if (where.compare(0, root.size(), root) == 0 &&
            (where.size() == root.size() || where[root.size()] == '/'))
            return true;
    }
    const char *function = QTest::currentTestFunction(), *row = QTest::currentDataTag();
    const std::string refused = std::string(call) + ' ' + where + " (in " +
                                (function ? function : "no test") +
                                (row ? std::string(" ") + row : std::string()) + ')';
    std::fprintf(stderr, "sandbox: refused %s\n", refused.c_str());
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_refused.push_back(refused);
    errno = EACCES;
    return false;
}

bool opens(const char *call, int folder, const char *path, int flags)
{
    return !(flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) ||
           allowed(call, folder, path, !(flags & O_NOFOLLOW));
}

// What a refused call returns.
struct Refused
{
    operator int() const { return -1; }
    operator FILE *() const { return nullptr; }
};

} // namespace

#define MORV_NEXT(name) static const auto next = reinterpret_cast<decltype(&name)>(dlsym(RTLD_NEXT, #name))
#define MORV_REPLACE(type, name, parameters, arguments, check, ...)                                          \
    type name parameters __VA_ARGS__                                                                         \
    {                                                                                                        \
        MORV_NEXT(name);                                                                                     \
        return check ? next arguments : Refused();                                                           \
    }
#define MORV_OPEN(name, parameters, arguments, folder)                                                       \
    int name parameters                                                                                      \
    {                                                                                                        \
        va_list more;                                                                                        \
        va_start(more, flags);                                                                               \
        const mode_t mode = __OPEN_NEEDS_MODE(flags) ? va_arg(more, mode_t) : 0;                             \
        va_end(more);                                                                                        \
        MORV_NEXT(name);                                                                                     \
        return opens(#name, folder, path, flags) ? next arguments : -1;                                      \
    }

extern "C" {
int __open_2(const char *path, int flags); // an open without a mode, under _FORTIFY_SOURCE

MORV_OPEN(open, (const char *path, int flags, ...), (path, flags, mode), AT_FDCWD)
MORV_OPEN(open64, (const char *path, int flags, ...), (path, flags, mode), AT_FDCWD)
MORV_OPEN(openat, (int folder, const char *path, int flags, ...), (folder, path, flags, mode), folder)
MORV_OPEN(openat64, (int folder, const char *path, int flags, ...), (folder, path, flags, mode), folder)
MORV_REPLACE(int, __open_2, (const char *path, int flags), (path, flags),
             opens("open", AT_FDCWD, path, flags))
MORV_REPLACE(int, creat, (const char *path, mode_t mode), (path, mode),
             allowed("creat", AT_FDCWD, path, true))
MORV_REPLACE(FILE *, fopen, (const char *path, const char *mode), (path, mode),
             !std::strpbrk(mode, "wa+") || allowed("fopen", AT_FDCWD, path, true))
MORV_REPLACE(FILE *, fopen64, (const char *path, const char *mode), (path, mode),
             !std::strpbrk(mode, "wa+") || allowed("fopen", AT_FDCWD, path, true))
MORV_REPLACE(int, truncate, (const char *path, off_t size), (path, size),
             allowed("truncate", AT_FDCWD, path, true), noexcept)
MORV_REPLACE(int, truncate64, (const char *path, off64_t size), (path, size),
             allowed("truncate", AT_FDCWD, path, true), noexcept)
MORV_REPLACE(int, mkdir, (const char *path, mode_t mode), (path, mode), allowed("mkdir", AT_FDCWD, path),
             noexcept)
MORV_REPLACE(int, rmdir, (const char *path), (path), allowed("rmdir", AT_FDCWD, path), noexcept)
MORV_REPLACE(int, unlink, (const char *path), (path), allowed("unlink", AT_FDCWD, path), noexcept)
MORV_REPLACE(int, unlinkat, (int folder, const char *path, int flags), (folder, path, flags),
             allowed("unlinkat", folder, path), noexcept)
MORV_REPLACE(int, rename, (const char *from, const char *to), (from, to),
             allowed("rename", AT_FDCWD, from) && allowed("rename", AT_FDCWD, to), noexcept)
MORV_REPLACE(int, renameat2, (int fromFolder, const char *from, int toFolder, const char *to, unsigned flags),
             (fromFolder, from, toFolder, to, flags),
             allowed("renameat2", fromFolder, from) && allowed("renameat2", toFolder, to), noexcept)
MORV_REPLACE(int, link, (const char *from, const char *to), (from, to), allowed("link", AT_FDCWD, to),
             noexcept)
MORV_REPLACE(int, linkat, (int fromFolder, const char *from, int toFolder, const char *to, int flags),
             (fromFolder, from, toFolder, to, flags), allowed("linkat", toFolder, to), noexcept)
MORV_REPLACE(int, symlink, (const char *to, const char *path), (to, path), allowed("symlink", AT_FDCWD, path),
             noexcept)
} // extern "C"

namespace ZovaZode::TestSupport {

QString sandboxFolder(bool memory)
{
    return g_folders[memory];
}

int forgetRefusals()
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    const int count = int(g_refused.size());
    g_refused.clear();
    return count;
}

void removeFolder(const QString &folder)
{
    // By bytes: QDir cannot name a file whose name is not in the locale's encoding, and the tests
    // make such names on purpose.
    nftw(
        QFile::encodeName(folder).constData(),
        [](const char *path, const struct stat *, int, struct FTW *) {
            ::remove(path); // what cannot go stays, and the rest still goes
            return 0;
        },
        16, FTW_DEPTH | FTW_PHYS);
}

int sandboxed(int argc, char **argv, const std::function<int()> &test)
{
    QStandardPaths::setTestModeEnabled(true);
    qputenv("MORV_MOUNTED_VOLUMES", QByteArray()); // no volume of the machine, nor for a program it starts
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    const QString places[2] = {QDir::tempPath(),
                               shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath()};
    for (int memory : {0, 1}) {
        QByteArray folder = QFile::encodeName(places[memory] + QStringLiteral("/morv-sandbox-XXXXXX"));
        if (!mkdtemp(folder.data()))
            qFatal("sandbox: cannot create a folder in %s", qPrintable(places[memory]));
        g_folders[memory] = QFile::decodeName(folder);
        g_allowed.push_back(target(AT_FDCWD, folder.constData(), true));
    }
    qputenv("TMPDIR", QFile::encodeName(g_folders[0]));
    // A home of its own: Qt's test-mode locations lie under it, so two tests running at once (or
    // the same test in two checkouts) never share a cached manifest or a setting, and a program a
    // test starts keeps its settings there too.
    const QByteArray home = QFile::encodeName(g_folders[0] + QStringLiteral("/home"));
    if (::mkdir(home.constData(), 0700) != 0)
        qFatal("sandbox: cannot create %s", home.constData());
    qputenv("HOME", home);
    for (const char *variable : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"})
        qunsetenv(variable);
    const QString testMode =
        QFileInfo(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)).path();
    g_allowed.insert(g_allowed.end(), {target(AT_FDCWD, QFile::encodeName(testMode).constData(), true),
                                       "/dev/null", "/dev/full"});
    for (int i = 1; i + 1 < argc; ++i) {
        const QByteArray log = QByteArray(argv[i + 1]).split(',').first();
        if (qstrcmp(argv[i], "-o") == 0 && log != "-")
            g_allowed.push_back(target(AT_FDCWD, log.constData(), true));
    }

    g_armed = true;
    const int result = test();
    g_armed = false;
    for (const std::string &refused : g_refused)
        std::fprintf(stderr, "FAIL!  : sandbox: the test tried to write outside its folders: %s\n",
                     refused.c_str());
    for (const QString &folder : g_folders)
        removeFolder(folder);
    return g_refused.empty() ? result : 1;
}

} // namespace ZovaZode::TestSupport
