/* Serial commands: SPI blocks on port 0 and the UART. */
#include "commands.h"

static uint8_t reverse(uint8_t b) {
    uint8_t r = 0;
    uint8_t i;
    for (i = 0; i < 8; i++) {
        r = (uint8_t)((r << 1) | (b & 1));
        b >>= 1;
    }
    return r;
}

/* Port 0's SPI lines at rest: chip select as given, MOSI and clock at the mode's idle levels.
 * The latch keeps them, so that later port commands do not disturb the bus. */
static void spi_idle(PFW_XDATA pfw_state* st, uint8_t selected) {
    uint8_t lines = 0;
    if (!selected)
        lines |= PFW_SPI_SELECT;
    if (ST->spi_mode & PFW_SPI_MOSI_IDLE)
        lines |= PFW_SPI_MOSI;
    if (ST->spi_mode & PFW_SPI_CPOL)
        lines |= PFW_SPI_CLOCK;
    ST->latch[0] = (uint8_t)((ST->latch[0] & (PFW_SPI_MISO | 0x0F)) | lines);
    ST->spi_selected = selected;
    pfw_hal_write_ports(st);
    pfw_hal_spi_select(st, selected);
}

static uint8_t spi_transfer(PFW_XDATA pfw_cmd* cmd) {
    PFW_XDATA pfw_state* st = CMD->st;
    uint16_t i;
    uint8_t out;
    uint8_t in;
    uint8_t lsb = (uint8_t)(CMD->header[PFW_HDR_P3] & PFW_SPI_LSB_FIRST);
    switch (CMD->phase) {
    case PFW_PHASE_BEGIN:
        if (CMD->read_len != CMD->write_len || CMD->write_len == 0 ||
            (CMD->header[PFW_HDR_P3] & 0x78) != 0)
            return 0;
        ST->spi_mode = CMD->header[PFW_HDR_P3];
        ST->spi_delay = PFW_LE16(CMD->header + PFW_HDR_P4);
        spi_idle(st, 1);
        return 1;
    case PFW_PHASE_DATA:
        for (i = 0; i < CMD->chunk_len; i++) {
            out = CMD->payload[i];
            if (lsb)
                out = reverse(out);
            in = pfw_hal_spi_shift(st, out);
            pfw_answer_byte(st, lsb ? reverse(in) : in);
        }
        return 1;
    default:
        /* The last block, or a block cut short, ends the transfer. */
        if (CMD->aborted || (CMD->header[PFW_HDR_P6] | CMD->header[PFW_HDR_P6 + 1]))
            spi_idle(st, 0);
        return (uint8_t)!CMD->aborted;
    }
}

static uint8_t uart_write(PFW_XDATA pfw_cmd* cmd) {
    PFW_XDATA pfw_state* st = CMD->st;
    uint16_t i;
    uint16_t divisor = PFW_LE16(CMD->header + PFW_HDR_P4);
    switch (CMD->phase) {
    case PFW_PHASE_BEGIN:
        /* Set up again only when it changed: a running line must not glitch. */
        if (!ST->uart_ready || ST->uart_divisor != divisor) {
            ST->uart_divisor = divisor;
            ST->uart_ready = 1;
            pfw_hal_uart_setup(st);
        }
        return 1;
    case PFW_PHASE_DATA:
        for (i = 0; i < CMD->chunk_len; i++)
            pfw_hal_uart_tx(st, CMD->payload[i]);
        return 1;
    default:
        return (uint8_t)!CMD->aborted;
    }
}

/* Count, then the bytes; the core pads the rest of the answer with zeros. */
static uint8_t uart_read(PFW_XDATA pfw_cmd* cmd) {
    PFW_XDATA pfw_state* st = CMD->st;
    uint16_t count;
    uint32_t room = CMD->read_len - 2;
    switch (CMD->phase) {
    case PFW_PHASE_BEGIN:
        return (uint8_t)(CMD->read_len >= 2);
    case PFW_PHASE_END:
        if (CMD->aborted)
            return 0;
        count = pfw_hal_uart_rx_count(st);
        if (count > room)
            count = (uint16_t)room;
        pfw_answer_byte(st, (uint8_t)(count & 0xFF));
        pfw_answer_byte(st, (uint8_t)(count >> 8));
        for (; count != 0; count--)
            pfw_answer_byte(st, pfw_hal_uart_rx(st));
        return 1;
    default:
        return 1;
    }
}

static const PFW_CODE pfw_command serial_commands[] = {
    {PFW_CMD_SPI_TRANSFER, PFW_STREAMED, PFW_ANY, PFW_ANY, spi_transfer},
    {PFW_CMD_UART_WRITE, PFW_STREAMED, 0, PFW_ANY, uart_write},
    {PFW_CMD_UART_READ, PFW_STREAMED, PFW_ANY, 0, uart_read},
};

const PFW_CODE pfw_family pfw_serial_family = {serial_commands,
                                               sizeof serial_commands / sizeof serial_commands[0]};
