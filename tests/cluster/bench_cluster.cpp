// How much of one core the cluster terminal needs for 1000 lines a second: a minute's worth of
// lines (60,000) goes through a shown window from a loopback server, 10 lines every 10 ms, and
// the process's CPU time is printed against the minute. Pass another line count as argument.
#include "Clock.h"
#include "ClusterWindow.h"
#include "Database.h"
#include "FakeBoard.h"
#include "ProgramState.h"
#include "Settings.h"
#include "TestSupport.h"
#include "ValueLabel.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>
#include <ctime>

int main(int argc, char** argv) {
    EnsureApplication();
    const int total = argc > 1 ? atoi(argv[1]) : 60000;
    ScratchDir dir;
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    EnvGuard target("FARSCAN_CLUSTER", "127.0.0.1:" + QByteArray::number(server.serverPort()));
    SettingsStore settings(dir.file(QStringLiteral("Farscan.txt")));
    settings.LoadSettings();
    ProgramState state;
    FakeBoard board;
    StationDatabase database(dir.path());
    SystemClock clock;
    StationContext context{settings, state, CreateSystemSerialPort, board, database, clock};
    ClusterWindow w(context);
    w.show();
    QTcpSocket* client = nullptr;
    WaitFor([&] { return server.hasPendingConnections(); });
    client = server.nextPendingConnection();

    int sent = 0;
    QTimer pace;
    QElapsedTimer wall;
    const std::clock_t cpu0 = std::clock();
    wall.start();
    QObject::connect(&pace, &QTimer::timeout, [&] {
        QByteArray lines;
        for (int i = 0; i < 10 && sent < total; ++i, ++sent)
            lines += "DX de DL" + QByteArray::number(sent % 10) + "ABC:   144" +
                     QByteArray::number(100 + sent % 900) + ".0  Q0F" + QByteArray::number(sent) +
                     "       JO60<TR>JO62 tnx for the qso     1234Z\r\n";
        client->write(lines);
    });
    pace.start(10);
    WaitFor([&] { return sent >= total && client->bytesToWrite() == 0; }, total * 2 + 10000);
    WaitFor([] { return false; }, 200); // the last lines reach the window
    const double cpu = double(std::clock() - cpu0) / CLOCKS_PER_SEC;
    const double seconds = wall.elapsed() / 1000.0;
    std::printf("cluster terminal: %d lines in %.1f s wall, %.2f s CPU (server included): "
                "%.1f %% of one core at %.0f lines/s; %.2f ms CPU per 1000 lines\n",
                sent, seconds, cpu, 100.0 * cpu / seconds, sent / seconds,
                1000.0 * cpu * 1000.0 / sent);
    std::printf("terminal holds %lld characters, %d spots listed\n",
                static_cast<long long>(w.terminal().size()), w.spots()->rowCount());
    return 0;
}
