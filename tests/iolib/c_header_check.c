/* The public header compiles as plain C, and the exports keep the argument kinds callers rely
 * on: byte-sized board, port and line numbers, word addresses and lengths, dword stream lengths,
 * one-byte results. A changed kind makes an assignment below incompatible (-Werror). */
#include "portiva.h"

typedef PortivaBool (*SetLineFn)(uint8_t, uint8_t, PortivaBool);
typedef PortivaBool (*EepromFn)(uint8_t, uint16_t, uint16_t, const void*);
typedef PortivaBool (*I2cWriteReadFn)(uint8_t, uint8_t, uint16_t, uint16_t, const void*, void*);
typedef PortivaBool (*SpiFn)(uint8_t, const void*, void*, uint16_t);
typedef PortivaBool (*UartReadFn)(uint8_t, void*, uint32_t*);
typedef PortivaBool (*StreamFn)(uint8_t, void*, uint32_t);
typedef PortivaBool (*AutomodeFn)(uint8_t, PortivaBool, PortivaBool);
typedef char CheckResultSize[sizeof(PortivaBool) == 1 ? 1 : -1];

SetLineFn portiva_c_header_check(void) {
    CheckResultSize check;
    EepromFn eeprom = &UsbEEpWriteBytes;
    I2cWriteReadFn i2c = &UsbI2CWriteAndReadBytes;
    SpiFn spi = &UsbSpiTransfer;
    UartReadFn uart = &UsbUartReadBytes;
    StreamFn in = &UsbParIn;
    StreamFn pattern = &UsbGeneratePattern;
    AutomodeFn automode = &UsbParSetAutomode;
    (void)check;
    (void)eeprom;
    (void)i2c;
    (void)spi;
    (void)uart;
    (void)in;
    (void)pattern;
    (void)automode;
    return &UsbSetIOState;
}
