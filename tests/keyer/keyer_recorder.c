/* A stand-in for the board library that records every call with the time it was made: the
   time source the test installs (a virtual clock), or the monotonic clock in microseconds. */
#include <time.h>

typedef long long (*TimeSource)(void);

struct Call {
    long long time;
    char function; /* 'I' UsbInit, 'P' UsbSetPortDir, 'D' UsbSetIODir, 'S' UsbSetIOState */
    unsigned char devNum, number, value;
};

enum { Capacity = 65536 };
static struct Call calls[Capacity];
static int count;
static int overflow;
static TimeSource source;

static long long Now(void) {
    struct timespec ts;
    if (source)
        return source();
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

static void Record(char function, unsigned char devNum, unsigned char number, unsigned char value) {
    if (count >= Capacity) {
        overflow = 1;
        return;
    }
    calls[count].time = Now();
    calls[count].function = function;
    calls[count].devNum = devNum;
    calls[count].number = number;
    calls[count].value = value;
    ++count;
}

unsigned char UsbInit(unsigned char devNum) {
    Record('I', devNum, 0, 0);
    return 1;
}

unsigned char UsbSetPortDir(unsigned char devNum, unsigned char portNr, unsigned char dir) {
    Record('P', devNum, portNr, dir);
    return 1;
}

unsigned char UsbSetIODir(unsigned char devNum, unsigned char pinNr, unsigned char dir) {
    Record('D', devNum, pinNr, dir);
    return 1;
}

unsigned char UsbSetIOState(unsigned char devNum, unsigned char pinNr, unsigned char state) {
    Record('S', devNum, pinNr, state);
    return 1;
}

void RecorderSetTimeSource(TimeSource s) {
    source = s;
}
void RecorderReset(void) {
    count = 0;
    overflow = 0;
}
int RecorderCount(void) {
    return overflow ? -1 : count;
}

/* Copies call i; 0 when there is no such call. */
int RecorderCall(int i, long long* time, char* function, unsigned char* devNum,
                 unsigned char* number, unsigned char* value) {
    if (i < 0 || i >= count)
        return 0;
    *time = calls[i].time;
    *function = calls[i].function;
    *devNum = calls[i].devNum;
    *number = calls[i].number;
    *value = calls[i].value;
    return 1;
}
