#include "Clock.h"
#include "Database.h"
#include "MainWindow.h"
#include "PortivaBoard.h"
#include "ProgramState.h"
#include "Settings.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>
#include <csignal>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_signalPipe[2] = {-1, -1};

void OnTerminate(int) {
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[0], &c, 1);
}

// SIGTERM and SIGINT close the main window through its unload, so settings are saved and the
// ports closed. The handler only writes a byte; the window is closed on the event loop. It is
// installed before the window loads (loading a large log takes a while), so a signal that comes
// meanwhile waits in the pipe for the window instead of killing the program.
void CatchTermination() {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    struct sigaction sa = {};
    sa.sa_handler = OnTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

void CloseOnTerminate(MainWindow* window) {
    if (g_signalPipe[1] < 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char c;
        [[maybe_unused]] ssize_t n = ::read(g_signalPipe[1], &c, 1);
        window->terminate();
    });
}
} // namespace
#endif

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Farscan"));
    QApplication::setApplicationVersion(QStringLiteral(FARSCAN_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Beacon monitor and station control"));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption noVideo(QStringLiteral("no-video"),
                               QStringLiteral("Do not connect a camera to the preview."));
    parser.addOption(noVideo);
    QCommandLineOption dataDir(QStringLiteral("data-dir"),
                               QStringLiteral("Folder of the station database backup.mdb."),
                               QStringLiteral("folder"));
    parser.addOption(dataDir);
    QCommandLineOption audio(QStringLiteral("audio"),
                             QStringLiteral("Audio source: default, device:<name>, file:<wav> or "
                                            "beacon (a generated beacon)."),
                             QStringLiteral("source"));
    parser.addOption(audio);
    QCommandLineOption importBeacons(
        QStringLiteral("import-beacons"),
        QStringLiteral("Add the beacons of a CSV file (callsign,locator,qrg_khz,comment) to the "
                       "beacon list at start."),
        QStringLiteral("file"));
    parser.addOption(importBeacons);
    parser.process(app);
    if (parser.isSet(audio))
        qputenv("FARSCAN_AUDIO", parser.value(audio).toLocal8Bit());
    if (parser.isSet(dataDir))
        SetDataFolderOverride(parser.value(dataDir));

    // What every window shares, made once for the whole run.
    SettingsStore settings;
    ProgramState state;
    PortivaBoard board;
    StationDatabase database;
    SystemClock clock;
    StationContext context{settings, state, CreateSystemSerialPort, board, database, clock};

#ifdef Q_OS_UNIX
    CatchTermination();
#endif
    MainWindowOptions options;
    options.video = !parser.isSet(noVideo) && qEnvironmentVariableIsEmpty("FARSCAN_NO_VIDEO");
    MainWindow window(context, options);
#ifdef Q_OS_UNIX
    CloseOnTerminate(&window);
#endif
    window.show();
    if (parser.isSet(importBeacons))
        window.importBeacons(parser.value(importBeacons));
    return app.exec();
}
