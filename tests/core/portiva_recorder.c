/* A stand-in for the board library that records every call it gets, in order. */
#include <stdio.h>
#include <string.h>

static char calls[8192];

static void record(const char* text) {
    size_t used = strlen(calls);
    if (used + strlen(text) + 2 < sizeof calls) {
        strcat(calls, text);
        strcat(calls, ";");
    }
}

unsigned char UsbInit(unsigned char devNum) {
    char line[64];
    snprintf(line, sizeof line, "UsbInit(%u)", devNum);
    record(line);
    return 1;
}

unsigned char UsbSetIODir(unsigned char devNum, unsigned char pinNr, unsigned char dir) {
    char line[64];
    snprintf(line, sizeof line, "UsbSetIODir(%u,%u,%u)", devNum, pinNr, dir);
    record(line);
    return 1;
}

unsigned char UsbSetPortDir(unsigned char devNum, unsigned char portNr, unsigned char dir) {
    char line[64];
    snprintf(line, sizeof line, "UsbSetPortDir(%u,%u,%u)", devNum, portNr, dir);
    record(line);
    return 1;
}

/* Answers false, as a library with no board does. */
unsigned char UsbSetIOState(unsigned char devNum, unsigned char pinNr, unsigned char state) {
    char line[64];
    snprintf(line, sizeof line, "UsbSetIOState(%u,%u,%u)", devNum, pinNr, state);
    record(line);
    return 0;
}

const char* RecordedCalls(void) {
    return calls;
}
