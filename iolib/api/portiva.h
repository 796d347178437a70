/* Portiva: flat C API for USB I/O boards built on an EZ-USB FX2 controller.
 *
 * Every export that addresses a board takes the board number DevNum (0..255) first and
 * returns a one-byte boolean (1 success, 0 failure). Failures leave error bits on the
 * board; UsbGetError takes them out one at a time in priority order. The exports may be
 * called from several threads: they run one at a time, each for the whole of its transfers. */
#ifndef PORTIVA_H
#define PORTIVA_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define PORTIVA_CALL __stdcall
#else
#define PORTIVA_CALL
#endif

#if defined(_WIN32)
#if defined(PORTIVA_BUILDING)
#define PORTIVA_API __declspec(dllexport)
#else
#define PORTIVA_API __declspec(dllimport)
#endif
#else
#define PORTIVA_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One-byte boolean: 0 is false, any other value true. */
typedef uint8_t PortivaBool;

/* Error numbers returned by UsbGetError, in priority order. */
enum {
    PORTIVA_ERR_NONE = 0,
    PORTIVA_ERR_FILE_NOT_FOUND = 1,
    PORTIVA_ERR_DEVICE_NOT_PRESENT = 2,
    PORTIVA_ERR_UNABLE_TO_OPEN = 3,
    PORTIVA_ERR_TRANSFER_FAILED = 4,
    PORTIVA_ERR_OUT_OF_MEMORY = 5,
    PORTIVA_ERR_INVALID_PARAMETER = 6,
    PORTIVA_ERR_NOT_INITIALIZED = 7,
    PORTIVA_ERR_I2C_TIMEOUT = 8,
    PORTIVA_ERR_I2C_BUS = 9,
    PORTIVA_ERR_I2C_NACK = 10,
    PORTIVA_ERR_EEPROM_TIMEOUT = 11,
    PORTIVA_ERR_SPI_NOT_INITIALIZED = 12,
    PORTIVA_ERR_PAR_NOT_INITIALIZED = 13,
    PORTIVA_ERR_PAR_IN_TIMEOUT = 14,
    PORTIVA_ERR_PAR_OUT_TIMEOUT = 15,
    PORTIVA_ERR_TRANSACTION_MISMATCH = 16
};

/* Board start-up: finds the board, downloads the built-in firmware and identifies it. */
PORTIVA_API PortivaBool PORTIVA_CALL UsbInit(uint8_t DevNum);

/* Copies the library version ("1.7.9.0") into PVersion, which must hold 256 bytes. */
PORTIVA_API void PORTIVA_CALL UsbGetVersion(char* PVersion);

PORTIVA_API PortivaBool PORTIVA_CALL UsbDevicePresent(uint8_t DevNum);
PORTIVA_API PortivaBool PORTIVA_CALL UsbDeviceInitialized(uint8_t DevNum);
PORTIVA_API void PORTIVA_CALL UsbSetInitializedFlag(uint8_t DevNum, PortivaBool Flag);
PORTIVA_API PortivaBool PORTIVA_CALL UsbCheckSpeed(uint8_t DevNum, PortivaBool* PHighSpeed);
PORTIVA_API void PORTIVA_CALL UsbWaituSec(uint32_t USec);
PORTIVA_API PortivaBool PORTIVA_CALL UsbGetStatus(uint8_t DevNum);
PORTIVA_API PortivaBool PORTIVA_CALL UsbGetRdyState(uint8_t DevNum, uint8_t* PRdy);

/* Takes the highest-priority pending error of the first board that has one; 0 for none. */
PORTIVA_API uint8_t PORTIVA_CALL UsbGetError(void);

/* Stores the address of the library-owned message for ErrNr (0..16) at PStr. */
PORTIVA_API PortivaBool PORTIVA_CALL UsbGetErrorStringByNr(uint8_t ErrNr, const char** PStr);

PORTIVA_API PortivaBool PORTIVA_CALL UsbOpen(uint8_t DevNum);
PORTIVA_API PortivaBool PORTIVA_CALL UsbClose(uint8_t DevNum);
PORTIVA_API PortivaBool PORTIVA_CALL UsbRetrieveAllErrors(uint8_t DevNum, PortivaBool RetrieveAll);

/* Device interface class of the CyUSB driver, e.g. "{dd3f8fc7-d531-4c65-95ff-1fc8dfee2c52}". */
PORTIVA_API void PORTIVA_CALL UsbSetGuid(const char* pszGuid);

/* Ports 0..4 of 8 lines; lines 0..39 (line n is bit n mod 8 of port n div 8). Direction 1 is
 * output. */
PORTIVA_API PortivaBool PORTIVA_CALL UsbSetPortState(uint8_t DevNum, uint8_t PortNr, uint8_t State);
PORTIVA_API PortivaBool PORTIVA_CALL UsbSetPortDir(uint8_t DevNum, uint8_t PortNr, uint8_t Dir);
PORTIVA_API PortivaBool PORTIVA_CALL UsbSetIOState(uint8_t DevNum, uint8_t PinNr,
                                                   PortivaBool State);
PORTIVA_API PortivaBool PORTIVA_CALL UsbSetIODir(uint8_t DevNum, uint8_t PinNr, PortivaBool Dir);
PORTIVA_API PortivaBool PORTIVA_CALL UsbGetPortState(uint8_t DevNum, uint8_t PortNr,
                                                     uint8_t* PState);
PORTIVA_API PortivaBool PORTIVA_CALL UsbGetIOState(uint8_t DevNum, uint8_t PinNr,
                                                   PortivaBool* PState);

#ifdef __cplusplus
}
#endif

#endif /* PORTIVA_H */
