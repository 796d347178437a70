// Figures for the spectrum: time per block of ComputeSpectrum + UpdateSpectrum, time to paint the
// trace at two picture sizes, and the CPU use and wake-ups of the running program while it
// monitors, in percent of one core and per second, from /proc.
// Usage: signal_bench [--blocks N] [--seconds S] [--audio OPTION] [--program PATH]

#include "PacedSource.h"
#include "SignalAnalysis.h"
#include "SignalPanel.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
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

// Times the main thread gave up the processor (slept), from /proc; -1 when it is gone.
long long Sleeps(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("voluntary_ctxt_switches:"))
            return line.mid(24).trimmed().toLongLong();
    return -1;
}

// Beacon blocks, from the steady carrier on.
std::vector<QByteArray> BeaconBlocks(int count) {
    BeaconSource beacon(false);
    std::vector<QByteArray> blocks;
    QString error;
    for (int i = 0; i < 40 + count; ++i) {
        beacon.open(22050, 16384, &error);
        beacon.poll();
        if (i >= 40)
            blocks.push_back(beacon.block());
        beacon.close();
    }
    return blocks;
}

void Median(std::vector<double>& ms, double* median, double* max) {
    std::sort(ms.begin(), ms.end());
    *median = ms[ms.size() / 2];
    *max = ms.back();
}

void BlockFigures(int blocks) {
    const std::vector<QByteArray> input = BeaconBlocks(16);
    Spectrum s;
    std::vector<double> ms;
    for (int i = 0; i < blocks; ++i) {
        QElapsedTimer t;
        t.start();
        s.ComputeSpectrum(input[i % input.size()]);
        s.UpdateSpectrum();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    double median = 0, max = 0;
    Median(ms, &median, &max);
    double sum = 0;
    for (double v : ms)
        sum += v;
    std::printf("ComputeSpectrum + UpdateSpectrum, 8192 samples, %d blocks:\n", blocks);
    std::printf("  mean %.3f ms, median %.3f ms, min %.3f ms, max %.3f ms per block\n",
                sum / blocks, median, ms.front(), max);
    std::printf("  (a block lasts 371.5 ms at 22050 samples per second: %.2f %% of it)\n",
                100.0 * median / 371.5);
}

// The picture as the panel paints it after a block: grid and trace, at the size of the default
// window and of a maximised one.
void DrawFigures(int blocks) {
    const std::vector<QByteArray> input = BeaconBlocks(16);
    Spectrum s;
    for (int i = 0; i < 30; ++i) {
        s.ComputeSpectrum(input[i % input.size()]);
        s.UpdateSpectrum();
    }
    QPolygonF trace;
    for (int i = 0; i < s.TracePointCount(); ++i)
        trace.append(QPointF(s.TraceX()[i], s.TraceY()[i]));
    std::printf("Painting the picture (grid and a trace of %lld points), %d times:\n",
                static_cast<long long>(trace.size()), blocks);
    for (const QSize size : {QSize(424, 150), QSize(1000, 600)}) {
        SpectrumPicture picture;
        picture.resize(size);
        picture.setTrace(trace);
        QImage image(size, QImage::Format_RGB32);
        std::vector<double> ms;
        for (int i = 0; i < blocks; ++i) {
            QElapsedTimer t;
            t.start();
            picture.render(&image);
            ms.push_back(t.nsecsElapsed() / 1e6);
        }
        double median = 0, max = 0;
        Median(ms, &median, &max);
        std::printf("  %d x %d: median %.3f ms, max %.3f ms per paint\n", size.width(),
                    size.height(), median, max);
    }
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
    const long long sleepsBefore = Sleeps(farscan.processId());
    QElapsedTimer wall;
    wall.start();
    QThread::sleep(seconds);
    const long long after = CpuTicks(farscan.processId());
    const long long sleepsAfter = Sleeps(farscan.processId());
    const double elapsed = wall.nsecsElapsed() / 1e9;
    farscan.terminate();
    farscan.waitForFinished(20000);
    if (before < 0 || after < 0) {
        std::fprintf(stderr, "the program ended early\n");
        return 1;
    }
    const double cpu = double(after - before) / hz;
    std::printf("Program monitoring (FARSCAN_AUDIO=%s) for %.1f s: %.2f s CPU, %.1f %% of one "
                "core; its main thread woke %.0f times per second\n",
                qPrintable(audio), elapsed, cpu, 100.0 * cpu / elapsed,
                double(sleepsAfter - sleepsBefore) / elapsed);
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
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
    DrawFigures(std::min(blocks, 50));
    std::fflush(stdout);
    return ProgramFigures(program, audio, seconds);
}
