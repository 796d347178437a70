#pragma once

// A DX-cluster node on loopback: a login, a prompt, the lines a user types echoed and answered,
// "dx" spots taken and broadcast, generated spots at a settable rate, "bye" to leave. Generated
// callsigns use the unallocated prefixes Q0-Q9, so they are plainly not real stations.

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QStringList>
#include <map>

class QTcpServer;
class QTcpSocket;
class QTimer;

// A spot line as clusters send it: spotter, frequency in kHz right-aligned with one decimal,
// DX callsign, comment, UTC time ("DX de Q1AB:      144300.0  Q0ABC        <Tr>JO62QM ... 1234Z").
QString ClusterSpotLine(const QString& spotter, double kHz, const QString& dxCall,
                        const QString& comment, const QDateTime& utc);

class ClusterSim : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kNode = "SIMCLUSTER";

    // port 0: any free port on 127.0.0.1.
    explicit ClusterSim(quint16 port = 0, QObject* parent = nullptr);
    ~ClusterSim() override;

    bool ok() const;
    QString errorString() const { return m_error; }
    quint16 port() const;
    QString address() const; // "127.0.0.1:<port>"

    // Generated spots per minute; 0 stops them (at most 600).
    void setSpotsPerMinute(double perMinute);
    double spotsPerMinute() const { return m_perMinute; }

    // Every line received from any user, as typed, in order of arrival.
    const QStringList& received() const { return m_received; }
    // Every spot line sent out (typed and generated).
    const QStringList& spots() const { return m_spots; }
    // What the node did, one line each ("Q0AB logged in").
    const QStringList& understood() const { return m_understood; }
    int users() const { return int(m_sessions.size()); }

signals:
    void understoodLine(const QString& line);

private:
    struct Session {
        int number = 0;
        QString call; // empty until logged in
        QByteArray buffer;
        bool lastWasCr = false;
    };

    void accept();
    void readFrom(QTcpSocket* socket);
    void line(QTcpSocket* socket, Session& session, const QString& text);
    void command(QTcpSocket* socket, Session& session, const QString& text);
    void broadcast(const QString& spotLine);
    void generateSpot();
    void say(const QString& what);
    static void send(QTcpSocket* socket, const QString& text);
    QString prompt(const Session& session) const;

    QTcpServer* m_server;
    QTimer* m_spotTimer;
    double m_perMinute = 0;
    QString m_error;
    std::map<QTcpSocket*, Session> m_sessions;
    int m_connections = 0;
    QStringList m_received;
    QStringList m_spots;
    QStringList m_understood;
    QRandomGenerator m_random;
};
