#include "start_application.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ornivex {
namespace {

// A message Qt gave while the application object was being built.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};

// What is held back while the application object is built. Qt may log from
// threads of its own meanwhile, hence the lock.
struct HeldBack {
    std::mutex lock;
    bool holding = false;
    std::vector<HeldMessage> messages;
    int realStderr = STDERR_FILENO;
};

HeldBack g_heldBack;
QtMessageHandler g_previousHandler = nullptr;

// Why one platform plugin failed, from the message Qt gave about it.
QString causeOfFailure(const QString &message)
{
    static const QRegularExpression pluginName(QStringLiteral(R"re(platform plugin "([^"]*)")re"));
    const QString plugin = pluginName.match(message).captured(1);
    const QString display = qEnvironmentVariable("DISPLAY");
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (message.startsWith(QLatin1String("Could not find"))) {
        return plugin.startsWith(QLatin1String("wayland"))
            ? QStringLiteral("Qt's Wayland plugin is not installed (Debian package qt6-wayland)")
            : QStringLiteral("Qt has no platform plugin named \"%1\"").arg(plugin);
    }
    if (plugin == QLatin1String("xcb") && display.isEmpty()) {
        return wayland.isEmpty()
            ? QStringLiteral("no display is set (DISPLAY and WAYLAND_DISPLAY are empty, as outside a desktop session)")
            : QStringLiteral("no X display is set (DISPLAY is empty)");
    }
    if (plugin == QLatin1String("xcb")) {
        return QStringLiteral("the X display \"%1\" cannot be opened (no X server answers there, or it refuses "
                              "this user)")
            .arg(display);
    }
    if (plugin.startsWith(QLatin1String("wayland"))) {
        return QStringLiteral("no Wayland compositor answers at \"%1\"")
            .arg(wayland.isEmpty() ? QStringLiteral("wayland-0") : wayland);
    }
    return QStringLiteral("Qt's platform plugin \"%1\" could not start").arg(plugin);
}

// Qt names each platform plugin it tried and failed with in its own category.
QStringList causesOfFailure(const std::vector<HeldMessage> &messages)
{
    QStringList causes;
    for (const HeldMessage &message : messages) {
        if (message.category == "qt.qpa.plugin" && message.text.contains(QLatin1String("platform plugin \"")))
            causes << causeOfFailure(message.text);
    }
    causes.removeDuplicates();
    return causes;
}

// Holds Qt's messages back. A fatal message while the application object is
// built means the display could not be opened: it becomes one sentence, and
// the program ends without a core dump.
void holdMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    std::unique_lock lock(g_heldBack.lock);
    if (!g_heldBack.holding) { // logged from another thread just as the display opened
        lock.unlock();
        g_previousHandler(type, context, text);
        return;
    }
    if (type != QtFatalMsg) {
        g_heldBack.messages.push_back({type, QByteArray(context.category), text});
        return;
    }
    QStringList causes = causesOfFailure(g_heldBack.messages);
    if (causes.isEmpty()) // a plugin that was found stopped on its own, as eglfs does without a graphics device
        causes << QStringLiteral("Qt's platform plugin stopped (%1)").arg(text.trimmed());
    const QByteArray sentence = QStringLiteral("ORNIVEX Config cannot show its window: %1.\n")
                                    .arg(causes.join(QLatin1String(", and ")))
                                    .toLocal8Bit();
    [[maybe_unused]] const ssize_t written = ::write(g_heldBack.realStderr, sentence.constData(),
                                                     static_cast<std::size_t>(sentence.size()));
    std::_Exit(1);
}

// Qt wants a runtime folder of the user's own (XDG_RUNTIME_DIR) and warns
// at every start where none is set, as for root outside a login session.
// The program then takes the folder Qt itself falls back to,
// <temp>/runtime-<user>: it creates it, or reuses it only where it is a
// folder, not a link, of this user that nobody else may enter. A folder that
// another user holds there, or that others may enter, is left to Qt, which
// warns about it.
void provideRuntimeFolder()
{
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    const uid_t user = ::geteuid();
    const passwd *account = ::getpwuid(user);
    const QByteArray folder = QFile::encodeName(QDir::tempPath()) + "/runtime-"
        + (account != nullptr ? QByteArray(account->pw_name) : QByteArray::number(user));
    ::mkdir(folder.constData(), 0700); // fails where it exists, checked below
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat status { };
    // The umask may have taken the owner's own access; Qt wants exactly 0700.
    const bool own = ::fstat(fd, &status) == 0 && status.st_uid == user && (status.st_mode & 077) == 0
        && ::fchmod(fd, 0700) == 0;
    ::close(fd);
    if (own)
        ::setenv("XDG_RUNTIME_DIR", folder.constData(), 1);
}

} // namespace

std::unique_ptr<QApplication> startApplication(int &argc, char **argv)
{
    provideRuntimeFolder();
    // Libraries below Qt (Xlib on a refused X display) write to the error
    // stream directly; that goes to a scratch file, to be passed on when the
    // display opens and dropped for the one sentence when it does not.
    // A file in memory, not in /tmp: creating a file on disk can wait for the
    // file system's journal, and /tmp may be full or read-only.
    const int scratchFd = ::memfd_create("ornivex-stderr", MFD_CLOEXEC);
    std::FILE *scratch = scratchFd >= 0 ? ::fdopen(scratchFd, "w+") : nullptr;
    const int savedStderr = scratch != nullptr ? ::dup(STDERR_FILENO) : -1;
    const bool capturing = savedStderr >= 0 && ::dup2(::fileno(scratch), STDERR_FILENO) >= 0;
    g_heldBack.realStderr = capturing ? savedStderr : STDERR_FILENO;
    g_heldBack.holding = true;
    g_previousHandler = qInstallMessageHandler(holdMessage);

    auto app = std::make_unique<QApplication>(argc, argv);

    qInstallMessageHandler(g_previousHandler);
    std::vector<HeldMessage> held;
    {
        const std::lock_guard lock(g_heldBack.lock);
        g_heldBack.holding = false;
        held.swap(g_heldBack.messages);
    }
    if (capturing) {
        std::fflush(stderr);
        ::dup2(savedStderr, STDERR_FILENO);
        std::rewind(scratch);
        char buffer[4096];
        for (std::size_t count = 0; (count = std::fread(buffer, 1, sizeof buffer, scratch)) > 0;)
            std::fwrite(buffer, 1, count, stderr);
    }
    if (savedStderr >= 0)
        ::close(savedStderr);
    if (scratch != nullptr)
        std::fclose(scratch);
    for (const HeldMessage &message : held)
        qt_message_output(message.type, QMessageLogContext(nullptr, 0, nullptr, message.category.constData()),
                          message.text);
    return app;
}

} // namespace ornivex
