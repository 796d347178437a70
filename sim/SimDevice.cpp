#include "SimDevice.h"

#include "RawPty.h"

#include <QDateTime>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

SimDevice::SimDevice(QString kind, QObject* parent) : QObject(parent), m_kind(std::move(kind)) {
    RawPty pty;
    if (!OpenRawPty(pty))
        return;
    m_master = pty.master;
    m_slave = pty.slave;
    m_path = pty.path;
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { readMaster(); });
    m_quiet = new QTimer(this);
    m_quiet->setSingleShot(true);
    m_quiet->setInterval(150);
    connect(m_quiet, &QTimer::timeout, this, [this] {
        if (!m_buffer.isEmpty())
            flushIncomplete(m_buffer);
    });
}

SimDevice::~SimDevice() {
    delete m_notifier;
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
}

QByteArray SimDevice::received() const {
    QByteArray all;
    for (const Reception& r : m_receptions)
        all += r.bytes;
    return all;
}

void SimDevice::clearRecord() {
    m_receptions.clear();
    m_understood.clear();
}

void SimDevice::poll() {
    readMaster();
}

void SimDevice::readMaster() {
    if (m_master < 0)
        return;
    QByteArray chunk;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            chunk.append(buf, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // EAGAIN, or EIO while no program holds the terminal
    }
    if (chunk.isEmpty())
        return;
    m_receptions.append({QDateTime::currentMSecsSinceEpoch(), chunk});
    emit bytesReceived(chunk);
    m_buffer += chunk;
    consume(m_buffer);
    if (!m_buffer.isEmpty())
        m_quiet->start();
}

void SimDevice::flushIncomplete(QByteArray& buffer) {
    say(QStringLiteral("%1: incomplete command dropped (%2)")
            .arg(m_kind, QString::fromLatin1(buffer.toHex(' ').toUpper())));
    buffer.clear();
}

void SimDevice::say(const QString& what) {
    m_understood.append(what);
    emit understoodLine(what);
}

void SimDevice::reply(const QByteArray& bytes) {
    if (m_master < 0)
        return;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break; // nobody reads: the answer is lost, as on a line without a listener
    }
}

int SimDevice::unreadByProgram() const {
    int n = 0;
    if (m_slave < 0 || ::ioctl(m_slave, FIONREAD, &n) != 0)
        return 0;
    return n;
}

void SimDevice::dropUnread() {
    if (m_slave >= 0)
        ::tcflush(m_slave, TCIFLUSH);
}
