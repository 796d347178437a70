#include "SimStation.h"

SimStation::SimStation(Options options, QObject* parent) : QObject(parent), m_options(options) {
    if (options.com1Ft991)
        m_com1 = std::make_unique<Ft991Sim>();
    else
        m_com1 = std::make_unique<Ft847Sim>();
    m_com2 = std::make_unique<Ft847Sim>();
    m_sensor = std::make_unique<SensorSim>();
    m_rotor = std::make_unique<RotorSim>();
    m_gps = std::make_unique<GpsSim>();
    m_cluster = std::make_unique<ClusterSim>(options.clusterPort);
    connect(m_cluster.get(), &ClusterSim::understoodLine, this,
            [this](const QString& line) { emit logLine(QStringLiteral("Cluster: ") + line); });
    m_cluster->setSpotsPerMinute(options.spotsPerMinute);
    for (const Assignment& a : assignments()) {
        const QString role = a.role;
        connect(a.device, &SimDevice::understoodLine, this, [this, role](const QString& line) {
            emit logLine(role + QStringLiteral(": ") + line);
        });
    }
}

bool SimStation::ok() const {
    return m_com1->ok() && m_com2->ok() && m_sensor->ok() && m_rotor->ok() && m_gps->ok() &&
           m_cluster->ok();
}

Ft847Sim* SimStation::com1Ft847() const {
    return qobject_cast<Ft847Sim*>(m_com1.get());
}

Ft991Sim* SimStation::com1Ft991() const {
    return qobject_cast<Ft991Sim*>(m_com1.get());
}

QList<SimStation::Assignment> SimStation::assignments() const {
    auto var = [](int n) { return QStringLiteral("FARSCAN_COM%1").arg(n); };
    return {
        {QStringLiteral("Com1"), m_com1.get(), var(m_options.com1Port)},
        {QStringLiteral("Com2"), m_com2.get(), var(m_options.com2Port)},
        {QStringLiteral("Com3"), m_sensor.get(), var(m_options.sensorPort)},
        {QStringLiteral("Com4"), m_rotor.get(), var(m_options.rotorPort)},
        {QStringLiteral("Com3"), m_gps.get(), var(m_options.gpsPort)},
    };
}

QString SimStation::environmentFile() const {
    QString text = QStringLiteral("# Serial ports of the simulated station\n");
    for (const Assignment& a : assignments())
        text += QStringLiteral("export %1='%2'\n").arg(a.variable, a.device->devicePath());
    text += QStringLiteral("# The simulated DX-cluster node\nexport %1='%2'\n")
                .arg(QLatin1String(kClusterVariable), m_cluster->address());
    return text;
}

void SimStation::exportEnvironment() const {
    for (const Assignment& a : assignments())
        qputenv(a.variable.toLatin1().constData(), a.device->devicePath().toLocal8Bit());
    qputenv(kClusterVariable, m_cluster->address().toLatin1());
}

void SimStation::poll() {
    for (const Assignment& a : assignments())
        a.device->poll();
}
