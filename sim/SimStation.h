#pragma once

// The whole simulated station: transceiver 1 (FT-847 or FT-991) and transceiver 2 (FT-847),
// the elevation sensor, the rotor controller and the GPS receiver, each on its own
// pseudo-terminal, with the FARSCAN_COM<N> assignments that point the program's port numbers at
// them; and a DX-cluster node on loopback, announced in FARSCAN_CLUSTER.

#include "Antenna.h"
#include "ClusterSim.h"
#include "GpsSim.h"
#include "Transceivers.h"

#include <QList>
#include <QPair>
#include <memory>

class SimStation : public QObject {
    Q_OBJECT
public:
    struct Options {
        bool com1Ft991 = false;
        // The port numbers of the first-run settings: Com1 "10", Com2 "11", the sensor box on
        // port 1, the rotor controller "12".
        int com1Port = 10;
        int com2Port = 11;
        int sensorPort = 1;
        int rotorPort = 12;
        // The GPS window's port, "13" in the first-run settings.
        int gpsPort = 13;
        // The cluster node's TCP port on 127.0.0.1; 0 takes any free one.
        quint16 clusterPort = 0;
        // Generated cluster spots per minute; 0 for none.
        double spotsPerMinute = 6;
    };

    explicit SimStation(Options options, QObject* parent = nullptr);
    SimStation() : SimStation(Options{}) {}

    bool ok() const;
    SimDevice* com1() const { return m_com1.get(); }
    Ft847Sim* com2() const { return m_com2.get(); }
    SensorSim* sensor() const { return m_sensor.get(); }
    RotorSim* rotor() const { return m_rotor.get(); }
    GpsSim* gps() const { return m_gps.get(); }
    ClusterSim* cluster() const { return m_cluster.get(); }
    // Transceiver 1 as the kind it was made.
    Ft847Sim* com1Ft847() const;
    Ft991Sim* com1Ft991() const;

    // Role name, device and environment variable of each device.
    struct Assignment {
        QString role; // "Com1", "Com2", "Com3" (the sensor box and the GPS), "Com4"
        SimDevice* device;
        QString variable; // FARSCAN_COM10 ...
    };
    QList<Assignment> assignments() const;
    static constexpr const char* kClusterVariable = "FARSCAN_CLUSTER";
    // Shell lines "export FARSCAN_COM10='/dev/pts/5'", one per device, and
    // "export FARSCAN_CLUSTER='127.0.0.1:<port>'".
    QString environmentFile() const;
    // Sets the variables in this process (tests).
    void exportEnvironment() const;

    // Reads every device's terminal now.
    void poll();

signals:
    // role + ": " + what a device understood.
    void logLine(const QString& line);

private:
    Options m_options;
    std::unique_ptr<SimDevice> m_com1;
    std::unique_ptr<Ft847Sim> m_com2;
    std::unique_ptr<SensorSim> m_sensor;
    std::unique_ptr<RotorSim> m_rotor;
    std::unique_ptr<GpsSim> m_gps;
    std::unique_ptr<ClusterSim> m_cluster;
};
