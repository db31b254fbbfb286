#include "ReceiverNamespace.h"

#include <QDebug>

#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace zorvani::sim::receiverNamespace {

namespace {

std::mutex g_mutex;
int g_fd = -1;
QList<QHostAddress> g_addresses;

#ifdef Q_OS_LINUX
// Runs `ip` with the arguments in the calling thread's network namespace.
bool ip(const QStringList& args)
{
    std::vector<std::string> strings{"ip"};
    for (const QString& a : args)
        strings.push_back(a.toStdString());
    std::vector<char*> argv;
    for (std::string& s : strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "ip", nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        qWarning() << Q_FUNC_INFO << "ip" << args << "failed";
        return false;
    }
    return true;
}

bool addAddresses(const QList<QHostAddress>& addresses, int prefixLength, const QString& device)
{
    bool ok = true;
    for (const QHostAddress& a : addresses) {
        if (!g_addresses.contains(a)) {
            ok = ip({"addr", "add", QStringLiteral("%1/%2").arg(a.toString()).arg(prefixLength), "brd", "+", "dev",
                     device}) && ok;
            g_addresses.append(a);
        }
    }
    return ok;
}
#endif

} // namespace

bool create(const QList<QHostAddress>& addresses, int prefixLength, const QString& device)
{
#ifdef Q_OS_LINUX
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_fd >= 0) {
        // Add addresses from a thread that lives in the namespace.
        bool ok = false;
        std::thread([&] { ok = setns(g_fd, CLONE_NEWNET) == 0 && addAddresses(addresses, prefixLength, device); })
            .join();
        return ok;
    }
    // A helper thread makes the namespace (unshare acts on the calling thread only)
    // and configures it once the device has been moved in.
    std::promise<pid_t> made;
    std::promise<bool> moved;
    bool ok = false;
    std::thread helper([&] {
        if (unshare(CLONE_NEWNET) != 0) {
            made.set_value(-1);
            return;
        }
        g_fd = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        made.set_value(g_fd >= 0 ? pid_t(syscall(SYS_gettid)) : -1);
        if (!moved.get_future().get())
            return;
        ok = ip({"link", "set", "lo", "up"}) && addAddresses(addresses, prefixLength, device) &&
             ip({"link", "set", device, "up"}) && ip({"route", "add", "default", "dev", device});
    });
    const pid_t tid = made.get_future().get();
    const bool movedOk = tid > 0 && ip({"link", "set", "dev", device, "netns", QString::number(tid)});
    moved.set_value(movedOk);
    helper.join();
    if (!ok && g_fd >= 0) {
        close(g_fd);
        g_fd = -1;
        g_addresses.clear();
    }
    return ok;
#else
    Q_UNUSED(addresses)
    Q_UNUSED(prefixLength)
    Q_UNUSED(device)
    return false;
#endif
}

bool enter()
{
#ifdef Q_OS_LINUX
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_fd >= 0 && setns(g_fd, CLONE_NEWNET) == 0;
#else
    return false;
#endif
}

} // namespace zorvani::sim::receiverNamespace
