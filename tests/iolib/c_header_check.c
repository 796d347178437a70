/* The public header compiles as plain C, and the exports keep the argument kinds callers rely
 * on: byte-sized board, port and line numbers, one-byte results. */
#include "portiva.h"

typedef PortivaBool (*SetLineFn)(uint8_t, uint8_t, PortivaBool);
typedef char CheckResultSize[sizeof(PortivaBool) == 1 ? 1 : -1];

SetLineFn portiva_c_header_check(void) {
    CheckResultSize check;
    (void)check;
    return &UsbSetIOState;
}
