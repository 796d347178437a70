// Prints how many UsbSetIOState calls per second the library completes against the simulated
// board (debug logging off), next to what one USB 2.0 high-speed command round trip allows.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "portiva.h"

int main(int argc, char** argv) {
    if (!std::getenv("PORTIVA_SIM")) {
        setenv("PORTIVA_SIM", "1", 1);
    }
    const long calls = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 200000;
    if (calls <= 0 || !UsbInit(0) || !UsbSetIODir(0, 16, 1)) {
        std::fprintf(stderr, "portiva_bench: cannot start the simulated board\n");
        return 1;
    }
    for (const bool exclusive : {false, true}) {
        if (exclusive) {
            UsbOpen(0);
        }
        const auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < calls; ++i) {
            if (!UsbSetIOState(0, 16, i & 1)) {
                std::fprintf(stderr, "portiva_bench: call %ld failed\n", i);
                return 1;
            }
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double perSecond = calls / seconds;
        // A command is one bulk OUT transfer; the earliest next one starts a microframe later.
        const double microframesPerSecond = 1e6 / 125.0;
        std::printf("UsbSetIOState (%s): %ld calls in %.3f s = %.0f calls/s, %.2f us per call; "
                    "%.1f x the %.0f round trips/s of one per 125 us microframe\n",
                    exclusive ? "handle kept open with UsbOpen" : "open and close per call", calls,
                    seconds, perSecond, 1e6 / perSecond, perSecond / microframesPerSecond,
                    microframesPerSecond);
    }
    UsbClose(0);
    return 0;
}
