#include "Clock.h"

#include <chrono>
#include <thread>

qint64 SystemClock::nowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void SystemClock::sleepUntilUs(qint64 due) {
    using namespace std::chrono;
    std::this_thread::sleep_until(steady_clock::time_point(microseconds(due)));
}
