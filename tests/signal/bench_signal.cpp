// Figures for the spectrum: time per block of ComputeSpectrum + UpdateSpectrum (no drawing), and
// the CPU use of the running program while it monitors, in percent of one core, from /proc.
// Usage: signal_bench [--blocks N] [--seconds S] [--audio OPTION] [--program PATH]

#include "PacedSource.h"
#include "SignalAnalysis.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {
// utime + stime of a process, in clock ticks; -1 when it is gone.
long long CpuTicks(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = f.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return fields[11].toLongLong() + fields[12].toLongLong(); // fields 14 and 15 of the file
}

void BlockFigures(int blocks) {
    BeaconSource beacon(false);
    std::vector<QByteArray> input;
    QString error;
    for (int i = 0; i < 16; ++i) {
        beacon.open(22050, 16384, &error);
        beacon.poll();
        input.push_back(beacon.block());
        beacon.close();
    }
    Spectrum s;
    std::vector<double> ms;
    for (int i = 0; i < blocks; ++i) {
        QElapsedTimer t;
        t.start();
        s.ComputeSpectrum(input[i % input.size()]);
        s.UpdateSpectrum();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms)
        sum += v;
    std::printf("ComputeSpectrum + UpdateSpectrum, 8192 samples, %d blocks:\n", blocks);
    std::printf("  mean %.3f ms, median %.3f ms, min %.3f ms, max %.3f ms per block\n",
                sum / blocks, ms[ms.size() / 2], ms.front(), ms.back());
    std::printf("  (a block lasts 371.5 ms at 22050 samples per second: %.2f %% of it)\n",
                100.0 * ms[ms.size() / 2] / 371.5);
}

int ProgramFigures(const QString& program, const QString& audio, int seconds) {
    QTemporaryDir dir;
    QProcess farscan;
    farscan.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FARSCAN_AUDIO"), audio);
    env.insert(QStringLiteral("FARSCAN_NO_VIDEO"), QStringLiteral("1"));
    env.insert(QStringLiteral("FARSCAN_DATA_DIR"), dir.path());
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    farscan.setProcessEnvironment(env);
    farscan.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    farscan.start(program, {});
    if (!farscan.waitForStarted(10000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(program));
        return 1;
    }
    QThread::sleep(5); // start-up is not monitoring
    const long long hz = sysconf(_SC_CLK_TCK);
    const long long before = CpuTicks(farscan.processId());
    QElapsedTimer wall;
    wall.start();
    QThread::sleep(seconds);
    const long long after = CpuTicks(farscan.processId());
    const double elapsed = wall.nsecsElapsed() / 1e9;
    farscan.terminate();
    farscan.waitForFinished(20000);
    if (before < 0 || after < 0) {
        std::fprintf(stderr, "the program ended early\n");
        return 1;
    }
    const double cpu = double(after - before) / hz;
    std::printf("Program monitoring (FARSCAN_AUDIO=%s) for %.1f s: %.2f s CPU, %.1f %% of one "
                "core\n",
                qPrintable(audio), elapsed, cpu, 100.0 * cpu / elapsed);
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int blocks = 200, seconds = 30;
    QString audio = QStringLiteral("beacon");
    QString program = QStringLiteral(FARSCAN_BINARY);
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--blocks"))
            blocks = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--seconds"))
            seconds = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--audio"))
            audio = args[i + 1];
        else if (args[i] == QLatin1String("--program"))
            program = args[i + 1];
    }
    BlockFigures(blocks);
    std::fflush(stdout);
    return ProgramFigures(program, audio, seconds);
}
