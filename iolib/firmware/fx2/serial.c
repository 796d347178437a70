/* SPI bit-banged on port A (4 MISO, 5 clock, 6 MOSI, 7 chip select) and the UART on serial
 * port 0 with timer 1 as its baud-rate generator. */
#include "fx2hal.h"
#include "fx2regs.h"

/* --- SPI ------------------------------------------------------------------------------------- */

void fx2_spi_select(uint8_t on) {
    PA7 = on ? 0 : 1;
}

static void half_clock(uint16_t delay) {
    while (delay--)
        ;
}

/* Most significant bit first; without CPHA the data are set before the leading edge and sampled
 * on it, with CPHA they change on the leading edge and are sampled on the trailing one. */
uint8_t fx2_spi_shift(uint8_t out) {
    uint8_t i;
    uint8_t in = 0;
    __bit idle = (pfw_board.spi_mode & PFW_SPI_CPOL) ? 1 : 0;
    __bit early = (pfw_board.spi_mode & PFW_SPI_CPHA) ? 0 : 1;
    uint16_t delay = pfw_board.spi_delay;
    for (i = 0; i < 8; i++) {
        if (early)
            PA6 = (out & 0x80) ? 1 : 0;
        half_clock(delay);
        PA5 = !idle;
        if (early)
            in = (uint8_t)((in << 1) | PA4);
        else
            PA6 = (out & 0x80) ? 1 : 0;
        half_clock(delay);
        PA5 = idle;
        if (!early)
            in = (uint8_t)((in << 1) | PA4);
        out <<= 1;
    }
    PA6 = (pfw_board.spi_mode & PFW_SPI_MOSI_IDLE) ? 1 : 0;
    return in;
}

/* --- UART ------------------------------------------------------------------------------------ */

/* Received bytes wait in a ring filled by the interrupt; a full ring drops new bytes. */
#define RX_RING_SIZE 128 /* a power of two */
#define RX_MASK (RX_RING_SIZE - 1)
static __xdata uint8_t rx_ring[RX_RING_SIZE];
static volatile __data uint8_t rx_head;
static volatile __data uint8_t rx_tail;
static volatile __bit tx_idle;

void fx2_uart_isr(void) __interrupt(4) {
    uint8_t next;
    if (RI) {
        RI = 0;
        next = (uint8_t)((rx_head + 1) & RX_MASK);
        if (next != rx_tail) {
            rx_ring[rx_head] = SBUF0;
            rx_head = next;
        }
    }
    if (TI) {
        TI = 0;
        tx_idle = 1;
    }
}

/* Low byte: timer-1 reload; high byte bit 0 doubles the rate (SMOD0), bit 1 clocks timer 1 at
 * CLKOUT/4 instead of CLKOUT/12. Mode 1: 8 data bits, receiver on. */
void fx2_uart_setup(void) {
    uint8_t high = (uint8_t)(pfw_board.uart_divisor >> 8);
    ES0 = 0;
    TR1 = 0;
    TH1 = (uint8_t)pfw_board.uart_divisor;
    TL1 = (uint8_t)pfw_board.uart_divisor;
    PCON = (uint8_t)((PCON & 0x7F) | ((high & 1) ? 0x80 : 0));
    CKCON = (uint8_t)((CKCON & ~0x10) | ((high & 2) ? 0x10 : 0));
    SCON0 = 0x50;
    tx_idle = 1;
    TR1 = 1;
    ES0 = 1;
    EA = 1;
}

void fx2_uart_tx(uint8_t byte) {
    while (!tx_idle)
        ;
    tx_idle = 0;
    SBUF0 = byte;
}

uint16_t fx2_uart_rx_count(void) {
    return (uint8_t)((rx_head - rx_tail) & RX_MASK);
}

uint8_t fx2_uart_rx(void) {
    uint8_t b;
    if (rx_head == rx_tail)
        return 0;
    b = rx_ring[rx_tail];
    rx_tail = (uint8_t)((rx_tail + 1) & RX_MASK);
    return b;
}
