/* A stand-in for the board library that records every call it gets, in order, so that the
 * tests can compare the sequence with the one the band and elevation controls must make. */
#include <stdio.h>
#include <string.h>

static char calls[65536];

static void record(const char* name, unsigned a, unsigned b, unsigned c, int args) {
    char line[64];
    if (args == 1)
        snprintf(line, sizeof line, "%s(%u)", name, a);
    else
        snprintf(line, sizeof line, "%s(%u,%u,%u)", name, a, b, c);
    size_t used = strlen(calls);
    if (used + strlen(line) + 2 < sizeof calls) {
        strcat(calls, line);
        strcat(calls, ";");
    }
}

unsigned char UsbInit(unsigned char devNum) {
    record("UsbInit", devNum, 0, 0, 1);
    return 1;
}

unsigned char UsbSetIODir(unsigned char devNum, unsigned char pinNr, unsigned char dir) {
    record("UsbSetIODir", devNum, pinNr, dir, 3);
    return 1;
}

unsigned char UsbSetPortDir(unsigned char devNum, unsigned char portNr, unsigned char dir) {
    record("UsbSetPortDir", devNum, portNr, dir, 3);
    return 1;
}

unsigned char UsbSetIOState(unsigned char devNum, unsigned char pinNr, unsigned char state) {
    record("UsbSetIOState", devNum, pinNr, state, 3);
    return 1;
}

const char* RecordedCalls(void) {
    return calls;
}

void ClearRecordedCalls(void) {
    calls[0] = '\0';
}
