#include "ClusterSim.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cmath>

namespace {
constexpr int kLineLimit = 1000;
constexpr int kCommentWidth = 30; // nodes cut longer comments
constexpr double kMaxPerMinute = 600;

bool IsCallsign(const QString& text) {
    static const QRegularExpression call(
        QStringLiteral("^(?=.*[0-9])(?=.*[A-Z])[A-Z0-9]+(/[A-Z0-9]+)*$"));
    return text.size() >= 3 && text.size() <= 15 && call.match(text).hasMatch();
}

QString Khz(double kHz) {
    return QString::number(kHz, 'f', 1);
}

struct Band {
    double lowKhz, highKhz;
    const char* mode;
    const char* propagation;
};
// Where spots come from: the microwave and VHF bands the station works, and some HF.
constexpr Band kBands[] = {
    {50080, 50200, "CW", "<Es>"},
    {144050, 144400, "SSB", "<Tr>"},
    {144050, 144150, "CW", "<Es>"},
    {432050, 432300, "SSB", "<Tr>"},
    {1296050, 1296300, "CW", "<Tr>"},
    {10368050, 10368250, "CW", "<Rs>"},
    {10368100, 10368200, "SSB", "<Tr>"},
    {7000, 7040, "CW", ""},
    {14000, 14070, "CW", ""},
    {14150, 14350, "SSB", ""},
    {21000, 21070, "CW", ""},
    {28300, 28500, "SSB", ""},
};
} // namespace

QString ClusterSpotLine(const QString& spotter, double kHz, const QString& dxCall,
                        const QString& comment, const QDateTime& utc) {
    // The frequency ends at column 24 as on the nodes; a long spotter call pushes it on
    // rather than being cut.
    QString out = QStringLiteral("DX de ") + (spotter + QLatin1Char(':')).leftJustified(7);
    const QString freq = Khz(kHz);
    out += freq.rightJustified(std::max(24 - int(out.size()), int(freq.size()) + 1));
    out += QStringLiteral("  ") + dxCall.leftJustified(12) + QLatin1Char(' ');
    out += comment.left(kCommentWidth).leftJustified(kCommentWidth) + QLatin1Char(' ');
    out += utc.toUTC().toString(QStringLiteral("HHmm")) + QLatin1Char('Z');
    return out;
}

ClusterSim::ClusterSim(quint16 port, QObject* parent)
    : QObject(parent), m_random(QRandomGenerator::global()->generate()) {
    m_server = new QTcpServer(this);
    connect(m_server, &QTcpServer::newConnection, this, [this] { accept(); });
    if (!m_server->listen(QHostAddress::LocalHost, port))
        m_error = m_server->errorString();
    m_spotTimer = new QTimer(this);
    connect(m_spotTimer, &QTimer::timeout, this, [this] { generateSpot(); });
}

ClusterSim::~ClusterSim() {
    for (auto& [socket, session] : m_sessions) {
        disconnect(socket, nullptr, this, nullptr);
        socket->abort();
        delete socket;
    }
}

bool ClusterSim::ok() const {
    return m_server->isListening();
}

quint16 ClusterSim::port() const {
    return m_server->serverPort();
}

QString ClusterSim::address() const {
    return QStringLiteral("127.0.0.1:%1").arg(port());
}

void ClusterSim::setSpotsPerMinute(double perMinute) {
    if (!std::isfinite(perMinute) || perMinute < 0)
        perMinute = 0;
    m_perMinute = std::min(perMinute, kMaxPerMinute);
    if (m_perMinute <= 0) {
        m_spotTimer->stop();
        say(QStringLiteral("no generated spots"));
        return;
    }
    m_spotTimer->start(int(std::lround(60000.0 / m_perMinute)));
    say(QStringLiteral("%1 generated spots a minute").arg(m_perMinute));
}

void ClusterSim::say(const QString& what) {
    m_understood.append(what);
    emit understoodLine(what);
}

void ClusterSim::send(QTcpSocket* socket, const QString& text) {
    socket->write(text.toLatin1());
}

QString ClusterSim::prompt(const Session& session) const {
    return QStringLiteral("%1 de %2 >\r\n").arg(session.call, QLatin1String(kNode));
}

void ClusterSim::accept() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        Session& session = m_sessions[socket];
        session.number = ++m_connections;
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        // Queued, so a session is never removed while its lines are being handled.
        connect(
            socket, &QTcpSocket::disconnected, this,
            [this, socket] {
                const auto it = m_sessions.find(socket);
                if (it == m_sessions.end())
                    return;
                say(it->second.call.isEmpty()
                        ? QStringLiteral("connection %1 closed").arg(it->second.number)
                        : QStringLiteral("%1 disconnected").arg(it->second.call));
                m_sessions.erase(it);
                socket->deleteLater();
            },
            Qt::QueuedConnection);
        say(QStringLiteral("connection %1 from %2:%3")
                .arg(session.number)
                .arg(socket->peerAddress().toString())
                .arg(socket->peerPort()));
        send(socket,
             QStringLiteral("Welcome to %1, the DX cluster of Farscan's simulated station.\r\n"
                            "Spots here are generated: Q0-Q9 callsigns are not real "
                            "stations.\r\n\r\nlogin: ")
                 .arg(QLatin1String(kNode)));
    }
}

void ClusterSim::readFrom(QTcpSocket* socket) {
    const auto it = m_sessions.find(socket);
    if (it == m_sessions.end())
        return;
    Session& session = it->second;
    for (char c : socket->readAll()) {
        if (socket->state() != QAbstractSocket::ConnectedState)
            return; // said bye: the rest is not read
        if (c == '\n' && session.lastWasCr) {
            session.lastWasCr = false;
            continue;
        }
        session.lastWasCr = c == '\r';
        if (c == '\r' || c == '\n') {
            line(socket, session, QString::fromLatin1(session.buffer));
            session.buffer.clear();
        } else if (c == '\b' || c == '\x7f') {
            session.buffer.chop(1);
        } else if (quint8(c) >= 0x20 || c == '\t') {
            if (session.buffer.size() < kLineLimit)
                session.buffer.append(c);
        }
    }
}

void ClusterSim::line(QTcpSocket* socket, Session& session, const QString& raw) {
    m_received.append(raw);
    const QString text = raw.simplified();
    if (session.call.isEmpty()) {
        const QString call = text.toUpper();
        if (!IsCallsign(call)) {
            say(QStringLiteral("connection %1: login refused for \"%2\"")
                    .arg(session.number)
                    .arg(raw));
            send(socket, QStringLiteral("Sorry, \"%1\" is not a callsign.\r\nlogin: ").arg(text));
            return;
        }
        session.call = call;
        say(QStringLiteral("connection %1 logged in as %2").arg(session.number).arg(call));
        send(socket, QStringLiteral("Hello %1, this is %2 on %3.\r\n"
                                    "Cluster: 1 node, %4 users\r\n")
                             .arg(call, QLatin1String(kNode), address())
                             .arg(users()) +
                         prompt(session));
        return;
    }
    send(socket, raw + QStringLiteral("\r\n")); // the echo, as nodes do
    if (!text.isEmpty())
        say(QStringLiteral("%1: %2").arg(session.call, text));
    command(socket, session, text);
}

void ClusterSim::command(QTcpSocket* socket, Session& session, const QString& text) {
    const QString lower = text.toLower();
    if (lower.isEmpty()) {
        send(socket, prompt(session));
    } else if (lower == QLatin1String("bye") || lower == QLatin1String("quit")) {
        send(socket, QStringLiteral("73 %1 de %2\r\n").arg(session.call, QLatin1String(kNode)));
        socket->disconnectFromHost();
    } else if (lower == QLatin1String("dx") || lower.startsWith(QLatin1String("dx "))) {
        // dx <kHz> <call>[comment], or dx <call> <kHz> [comment]; the comment may follow the
        // call directly ("Q0ABC<Tr>JO62QM").
        QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        bool ok = false;
        double kHz = words.value(1).toDouble(&ok);
        int callAt = 2;
        if (!ok) {
            kHz = words.value(2).toDouble(&ok);
            callAt = 1;
        }
        const QString callWord = words.value(callAt);
        qsizetype end = 0;
        while (end < callWord.size() &&
               (callWord[end].isLetterOrNumber() || callWord[end] == QLatin1Char('/')))
            ++end;
        const QString call = callWord.left(end).toUpper();
        QString comment = callWord.mid(end);
        const QStringList rest = words.mid(3);
        if (!rest.isEmpty())
            comment +=
                (comment.isEmpty() ? QString() : QStringLiteral(" ")) + rest.join(QLatin1Char(' '));
        if (!ok || !std::isfinite(kHz) || kHz <= 0 || kHz >= 1e9 || !IsCallsign(call)) {
            say(QStringLiteral("%1: spot refused").arg(session.call));
            send(socket, QStringLiteral("Sorry, a spot needs a frequency in kHz and a callsign: "
                                        "dx 144300 Q0ABC <comment>\r\n") +
                             prompt(session));
            return;
        }
        kHz = std::round(kHz * 10) / 10;
        send(socket, QStringLiteral("Spot of %1 on %2 kHz accepted\r\n").arg(call, Khz(kHz)));
        broadcast(
            ClusterSpotLine(session.call, kHz, call, comment, QDateTime::currentDateTimeUtc()));
        send(socket, prompt(session));
    } else if (lower == QLatin1String("sh/dx") || lower == QLatin1String("show/dx")) {
        QString list;
        for (qsizetype i = m_spots.size() - 1; i >= 0 && i >= m_spots.size() - 10; --i)
            list += m_spots[i] + QStringLiteral("\r\n");
        send(socket,
             (list.isEmpty() ? QStringLiteral("No spots yet\r\n") : list) + prompt(session));
    } else {
        send(socket, QStringLiteral("Sorry, %1 is not known here: dx, sh/dx and bye are.\r\n")
                             .arg(text.section(QLatin1Char(' '), 0, 0)) +
                         prompt(session));
    }
}

void ClusterSim::broadcast(const QString& spotLine) {
    m_spots.append(spotLine);
    int to = 0;
    for (auto& [socket, session] : m_sessions) {
        if (session.call.isEmpty() || socket->state() != QAbstractSocket::ConnectedState)
            continue;
        send(socket, spotLine + QStringLiteral("\r\n"));
        ++to;
    }
    say(QStringLiteral("spot to %1 users: %2").arg(to).arg(spotLine.simplified()));
}

void ClusterSim::generateSpot() {
    auto letter = [this] { return QChar(char('A' + m_random.bounded(26))); };
    auto digit = [this] { return QChar(char('0' + m_random.bounded(10))); };
    auto call = [&](int letters) {
        QString c = QStringLiteral("Q") + digit();
        for (int i = 0; i < letters; ++i)
            c += letter();
        return c;
    };
    auto locator = [&] {
        QString l;
        l += QChar(char('I' + m_random.bounded(3))); // I-K: Europe and around
        l += QChar(char('M' + m_random.bounded(3))); // M-O
        l += digit();
        l += digit();
        l += QChar(char('A' + m_random.bounded(24)));
        l += QChar(char('A' + m_random.bounded(24)));
        return l;
    };
    const Band& band = kBands[m_random.bounded(int(std::size(kBands)))];
    const int steps = int((band.highKhz - band.lowKhz) * 10);
    const double kHz = band.lowKhz + m_random.bounded(steps + 1) / 10.0;
    const QString report = QLatin1String(band.mode) == QLatin1String("CW")
                               ? QStringLiteral("5%1%2").arg(3 + m_random.bounded(7)).arg(9)
                               : QStringLiteral("5%1").arg(1 + m_random.bounded(9));
    const QString comment =
        QStringLiteral("%1 %2 %3%4")
            .arg(QLatin1String(band.mode), report, QLatin1String(band.propagation), locator());
    broadcast(ClusterSpotLine(call(2 + int(m_random.bounded(2))), kHz, call(3), comment,
                              QDateTime::currentDateTimeUtc()));
}
