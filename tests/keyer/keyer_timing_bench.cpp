// Keys a text at each speed against the board library and prints how far the measured key-down
// and key-up durations on the key line stray from their nominal lengths: measured between the
// moments the keyer made its calls, and between the moments the library answered them.
//
//   keyer_timing_bench [library] [passes]
//
// library: the board library to load (default: libportiva.so.1 beside this program); the
// simulated board is used unless PORTIVA_SIM is already set. passes: how often the text is
// sent at each speed (default 2).

#include "BoardLibrary.h"
#include "Keyer.h"
#include "Morse.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr char Text[] = "cq cq de q0abc q0abc";

class VirtualClock : public KeyerClock {
public:
    qint64 now = 0;
    qint64 nowUs() override { return now; }
    void sleepUntilUs(qint64 due) override { now = std::max(now, due); }
};

// Nominal durations between key-line changes: the same transmission in virtual time, where
// every change happens exactly at its due time.
std::vector<double> NominalDurations(int speed, const QString& text) {
    VirtualClock clock;
    KeyerHooks record;
    std::vector<double> times;
    record.setIOState = [&times, &clock](quint8 line, bool) {
        if (line == Keyer::KeyLine)
            times.push_back(double(clock.now) / 1000.0);
    };
    Keyer keyer(record, &clock);
    keyer.KeyerReady = true;
    keyer.Text6 = text;
    keyer.OptSpeedClick(speed);
    keyer.cmdsendClick();
    std::vector<double> d;
    for (size_t i = 1; i < times.size(); ++i)
        d.push_back(times[i] - times[i - 1]);
    return d;
}

struct Change {
    double at;       // ms, when the call was made
    double returned; // ms, when the library answered (the line is set on the board)
};

qint64 NowNs() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

QString TextFor(int passes) {
    QStringList parts;
    for (int i = 0; i < passes; ++i)
        parts << QString::fromLatin1(Text);
    return parts.join(QLatin1Char(' '));
}

// Key-line changes of one transmission at one speed.
std::vector<Change> Run(Keyer& keyer, int speed, const QString& text) {
    std::vector<Change> changes;
    KeyerHooks& h = keyer.hooks();
    auto board = h.setIOState;
    h.setIOState = [&changes, board](quint8 line, bool state) {
        const qint64 before = NowNs();
        if (board)
            board(line, state);
        const qint64 after = NowNs();
        if (line == Keyer::KeyLine)
            changes.push_back({before / 1e6, after / 1e6});
    };
    keyer.KeyerReady = true;
    keyer.Text6 = text;
    keyer.OptSpeedClick(speed);
    keyer.cmdsendClick();
    h.setIOState = board;
    return changes;
}

std::vector<double> Durations(const std::vector<Change>& c, bool atReturn) {
    std::vector<double> d;
    for (size_t i = 1; i < c.size(); ++i)
        d.push_back(atReturn ? c[i].returned - c[i - 1].returned : c[i].at - c[i - 1].at);
    return d;
}

struct Stats {
    double worst = 0; // signed, largest magnitude
    double p99 = 0;   // of the magnitude
    double median = 0;
    size_t count = 0;
};

Stats Deviation(const std::vector<double>& measured, const std::vector<double>& nominal,
                bool keyDown) {
    std::vector<double> dev;
    Stats s;
    for (size_t i = keyDown ? 0 : 1; i < measured.size() && i < nominal.size(); i += 2) {
        const double d = measured[i] - nominal[i];
        if (std::fabs(d) > std::fabs(s.worst))
            s.worst = d;
        dev.push_back(std::fabs(d));
    }
    s.count = dev.size();
    if (!dev.empty()) {
        std::sort(dev.begin(), dev.end());
        const size_t rank = size_t(std::ceil(0.99 * double(dev.size()))) - 1;
        s.p99 = dev[std::min(rank, dev.size() - 1)];
        s.median = dev[dev.size() / 2];
    }
    return s;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("PORTIVA_SIM"))
        qputenv("PORTIVA_SIM", "1");
    QCoreApplication app(argc, argv);
    const QString library =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : BoardLibrary::DefaultFileName();
    const int passes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;

    BoardLibrary board(library);
    const bool init = board.UsbInit(0);
    if (!board.isLoaded()) {
        std::fprintf(stderr, "board library not loaded: %s\n", qPrintable(board.lastError()));
        return 1;
    }
    std::printf("library %s, PORTIVA_SIM=%s, UsbInit(0) %s\n", qPrintable(library),
                qgetenv("PORTIVA_SIM").constData(), init ? "true" : "false");
    std::printf("text \"%s\" x %d per speed; deviations in ms (measured - nominal)\n", Text,
                passes);

    KeyerHooks hooks;
    hooks.setPortDir = [&board](quint8 port, quint8 dir) { board.UsbSetPortDir(0, port, dir); };
    hooks.setIODir = [&board](quint8 line, bool out) { board.UsbSetIODir(0, line, out); };
    hooks.setIOState = [&board](quint8 line, bool state) { board.UsbSetIOState(0, line, state); };
    hooks.processEvents = [] { QCoreApplication::processEvents(); };

    const QString text = TextFor(passes);
    std::printf("%-6s %-9s %6s | %-29s | %-29s | %s\n", "dot", "measured", "pulses",
                "key-down worst / p99 / median", "key-up worst / p99 / median",
                "call ms mean / max");
    for (int speed = 1; speed <= 3; ++speed) {
        const std::vector<double> nominal = NominalDurations(speed, text);
        Keyer keyer(hooks);
        const std::vector<Change> changes = Run(keyer, speed, text);
        double callSum = 0, callMax = 0;
        for (const Change& c : changes) {
            callSum += c.returned - c.at;
            callMax = std::max(callMax, c.returned - c.at);
        }
        if (changes.size() != nominal.size() + 1) {
            std::fprintf(stderr, "speed %d: %zu key-line changes, %zu expected\n", speed,
                         changes.size(), nominal.size() + 1);
            return 1;
        }
        for (bool atReturn : {false, true}) {
            const std::vector<double> measured = Durations(changes, atReturn);
            const Stats down = Deviation(measured, nominal, true);
            const Stats up = Deviation(measured, nominal, false);
            std::printf("%-6s %-9s %6zu | %+8.3f / %7.3f / %7.3f | %+8.3f / %7.3f / %7.3f | "
                        "%.3f / %.3f\n",
                        qPrintable(QStringLiteral("%1 ms").arg(DotLengthFor(speed))),
                        atReturn ? "at return" : "at call", down.count, down.worst, down.p99,
                        down.median, up.worst, up.p99, up.median, callSum / double(changes.size()),
                        callMax);
        }
    }
    return 0;
}
