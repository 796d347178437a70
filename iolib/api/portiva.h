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

/* I2C master. Sladdr is the 7-bit slave address (0..127). Every transfer waits up to 60 s; with
 * UsbRetrieveAllErrors on (the default) the firmware's bus errors make it fail. */
PORTIVA_API PortivaBool PORTIVA_CALL UsbI2CSetSpeed(uint8_t DevNum, uint8_t Speed);
PORTIVA_API PortivaBool PORTIVA_CALL UsbI2CSetTimeout(uint8_t DevNum, uint16_t Timeout);
PORTIVA_API PortivaBool PORTIVA_CALL UsbI2CWriteBytes(uint8_t DevNum, uint8_t Sladdr, uint16_t Len,
                                                      const void* Ptr);
PORTIVA_API PortivaBool PORTIVA_CALL UsbI2CReadBytes(uint8_t DevNum, uint8_t Sladdr, uint16_t Len,
                                                     void* Ptr);
PORTIVA_API PortivaBool PORTIVA_CALL UsbI2CWriteByte(uint8_t DevNum, uint8_t Sladdr, uint8_t Dat);
PORTIVA_API PortivaBool PORTIVA_CALL UsbI2CReadByte(uint8_t DevNum, uint8_t Sladdr, uint8_t* PDat);
/* A write without stop, then a read (the read's result is returned). */
PORTIVA_API PortivaBool PORTIVA_CALL UsbI2CWriteAndReadBytes(uint8_t DevNum, uint8_t Sladdr,
                                                             uint16_t WriteLen, uint16_t ReadLen,
                                                             const void* PWrite, void* PRead);

/* Serial EEPROM with 16-bit addresses and 16-byte pages (default slave address 0x50). A Len of
 * 0 means 65536 bytes. */
PORTIVA_API PortivaBool PORTIVA_CALL UsbEEpSetAddr(uint8_t DevNum, uint8_t Sladdr);
PORTIVA_API PortivaBool PORTIVA_CALL UsbEEpSetTimeout(uint8_t DevNum, uint16_t Timeout);
PORTIVA_API PortivaBool PORTIVA_CALL UsbEEpWriteBytes(uint8_t DevNum, uint16_t Addr, uint16_t Len,
                                                      const void* Ptr);
PORTIVA_API PortivaBool PORTIVA_CALL UsbEEpReadBytes(uint8_t DevNum, uint16_t Addr, uint16_t Len,
                                                     void* Ptr);
PORTIVA_API PortivaBool PORTIVA_CALL UsbEEpWriteByte(uint8_t DevNum, uint16_t Addr, uint8_t Dat);
PORTIVA_API PortivaBool PORTIVA_CALL UsbEEpReadByte(uint8_t DevNum, uint16_t Addr, uint8_t* PDat);

/* SPI master on port 0 (lines 4..7). SPIMode 0..7; Speed 1..5 slows the clock step by step,
 * 0 (or above 5) runs it without delay. Either data pointer of a transfer may be null (zeros are
 * sent, or the input is dropped), not both. */
PORTIVA_API PortivaBool PORTIVA_CALL UsbSpiInit(uint8_t DevNum, PortivaBool LsbFirst,
                                                uint8_t SPIMode, uint8_t Speed);
PORTIVA_API PortivaBool PORTIVA_CALL UsbSpiTransfer(uint8_t DevNum, const void* PWrite, void* PRead,
                                                    uint16_t Len);
PORTIVA_API PortivaBool PORTIVA_CALL UsbSpiTransferByte(uint8_t DevNum, uint8_t DatWrite,
                                                        uint8_t* PDatRead);

/* UART, 1200..115200 baud. UsbUartReadBytes takes at most 512 bytes per call: *ReadLen is the
 * count wanted on entry and the count received on return. */
PORTIVA_API PortivaBool PORTIVA_CALL UsbUartSetBaudrate(uint8_t DevNum, uint32_t Baudrate);
PORTIVA_API PortivaBool PORTIVA_CALL UsbUartWriteBytes(uint8_t DevNum, const void* pWrite,
                                                       uint32_t WriteLen);
PORTIVA_API PortivaBool PORTIVA_CALL UsbUartReadBytes(uint8_t DevNum, void* pRead,
                                                      uint32_t* ReadLen);

/* Parallel bus: configured with one of the built-in modes 0..9 or a configuration array (152 or
 * 172 bytes by bit 7 of its first byte); Len counts bus words (two bytes each on a 16-bit bus). */
PORTIVA_API PortivaBool PORTIVA_CALL UsbParInitUsingArray(uint8_t DevNum, const void* PData);
PORTIVA_API PortivaBool PORTIVA_CALL UsbParInit(uint8_t DevNum, uint8_t Mode);
PORTIVA_API PortivaBool PORTIVA_CALL UsbParOut(uint8_t DevNum, const void* PData, uint32_t Len);
PORTIVA_API PortivaBool PORTIVA_CALL UsbParIn(uint8_t DevNum, void* PData, uint32_t Len);
PORTIVA_API PortivaBool PORTIVA_CALL UsbParSetTimeout(uint8_t DevNum, uint16_t Timeout);
/* UsbI2CSetTimeout, then (when that succeeded) UsbParSetTimeout. */
PORTIVA_API PortivaBool PORTIVA_CALL UsbSetTimeout(uint8_t DevNum, uint16_t Timeout);
PORTIVA_API PortivaBool PORTIVA_CALL UsbParSetWaveforms(uint8_t DevNum, uint8_t InWfIdx,
                                                        uint8_t OutWfIdx);
/* A multiple of 32 below 3,500,000. */
PORTIVA_API PortivaBool PORTIVA_CALL UsbParSetTransferSize(uint8_t DevNum, uint32_t Size);
PORTIVA_API PortivaBool PORTIVA_CALL UsbParSetAutomode(uint8_t DevNum, PortivaBool AutoOut,
                                                       PortivaBool AutoIn);
PORTIVA_API PortivaBool PORTIVA_CALL UsbDaMedSF(uint8_t DevNum);

/* Plays 16-byte records (five pairs of change-mask and value, one per port, then a 16-bit delay
 * and four unused bytes). The records are converted in place: the buffer holds the board's form
 * afterwards, so pass a fresh copy to play a pattern again. */
PORTIVA_API PortivaBool PORTIVA_CALL UsbGeneratePattern(uint8_t DevNum, void* pData, uint32_t Len);

#ifdef __cplusplus
}
#endif

#endif /* PORTIVA_H */
