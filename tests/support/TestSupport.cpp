#include "TestSupport.h"

#include "RawPty.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

void EnsureApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "farscan-test";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    // Never destroyed: Qt's own statics may already be gone when the program exits.
    static QApplication* app = new QApplication(argc, argv);
    Q_UNUSED(app);
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

ScratchDir::ScratchDir() : m_previous(QDir::currentPath()) {
    QDir::setCurrent(m_dir.path());
}

ScratchDir::~ScratchDir() {
    QDir::setCurrent(m_previous);
}

PtyPair::PtyPair() {
    RawPty pty;
    if (!OpenRawPty(pty))
        return;
    m_master = pty.master;
    m_slave = pty.slave;
    m_slavePath = pty.path;
}

PtyPair::~PtyPair() {
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
}

QByteArray PtyPair::readAvailable(int quietMs, int maxMs) {
    QByteArray out;
    QDeadlineTimer deadline(maxMs);
    while (!deadline.hasExpired()) {
        // Keep the program's event loop turning: its writes are flushed from there.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, quietMs) <= 0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            if (::poll(&p, 1, 0) <= 0)
                return out;
        }
        char buf[512];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            return out;
        out.append(buf, int(n));
    }
    return out;
}

void PtyPair::hangUp() {
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

bool PtyPair::write(const QByteArray& bytes) {
    // The terminal holds a few kilobytes: hand the rest over as the program reads, keeping its
    // event loop turning meanwhile.
    qsizetype done = 0;
    QDeadlineTimer deadline(10000);
    while (done < bytes.size() && m_master >= 0) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p{m_master, POLLOUT, 0};
        ::poll(&p, 1, 5);
    }
    return done == bytes.size();
}

EnvGuard::EnvGuard(const char* name, const QByteArray& value)
    : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name)) {
    qputenv(name, value);
}

EnvGuard::~EnvGuard() {
    if (m_had)
        qputenv(m_name.constData(), m_old);
    else
        qunsetenv(m_name.constData());
}

bool RunUnprivileged(const std::function<bool()>& check) {
    if (::geteuid() != 0)
        return check();
    // Root reads and writes every file whatever its mode: run the check as "nobody" in a child.
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        const bool ok = ::setgid(65534) == 0 && ::setuid(65534) == 0 && check();
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
