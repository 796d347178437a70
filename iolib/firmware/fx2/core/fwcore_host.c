/* Host side of the protocol core: the hardware layer forwarded to the board's pfw_host_hal
 * table, and helpers that run whole transfers from memory. Not part of the 8051 image. */
#include "commands.h"

#define HAL(st, fn) ((st)->hal && (st)->hal->fn)

void pfw_hal_write_ports(PFW_XDATA pfw_state* st) {
    if (HAL(st, write_ports))
        st->hal->write_ports(st);
}

void pfw_hal_read_levels(PFW_XDATA pfw_state* st) {
    if (HAL(st, read_levels))
        st->hal->read_levels(st);
}

void pfw_hal_wait_us(PFW_XDATA pfw_state* st, uint16_t us) {
    if (HAL(st, wait_us))
        st->hal->wait_us(st, us);
}

uint8_t* pfw_hal_out_buffer(PFW_XDATA pfw_state* st) {
    return HAL(st, out_buffer) ? st->hal->out_buffer(st) : 0;
}

void pfw_hal_out_commit(PFW_XDATA pfw_state* st, uint16_t n) {
    if (HAL(st, out_commit))
        st->hal->out_commit(st, n);
}

void pfw_hal_i2c_speed(PFW_XDATA pfw_state* st) {
    if (HAL(st, i2c_speed))
        st->hal->i2c_speed(st);
}

void pfw_hal_i2c_start(PFW_XDATA pfw_state* st, uint8_t address_byte) {
    if (HAL(st, i2c_start))
        st->hal->i2c_start(st, address_byte);
    else
        st->bus_status |= PFW_STATUS_I2C_NO_ACK;
}

void pfw_hal_i2c_write(PFW_XDATA pfw_state* st, uint8_t byte) {
    if (HAL(st, i2c_write))
        st->hal->i2c_write(st, byte);
    else
        st->bus_status |= PFW_STATUS_I2C_NO_ACK;
}

uint8_t pfw_hal_i2c_read(PFW_XDATA pfw_state* st, uint8_t flags) {
    return HAL(st, i2c_read) ? st->hal->i2c_read(st, flags) : 0xFF;
}

void pfw_hal_i2c_stop(PFW_XDATA pfw_state* st) {
    if (HAL(st, i2c_stop))
        st->hal->i2c_stop(st);
}

void pfw_hal_spi_select(PFW_XDATA pfw_state* st, uint8_t on) {
    if (HAL(st, spi_select))
        st->hal->spi_select(st, on);
}

uint8_t pfw_hal_spi_shift(PFW_XDATA pfw_state* st, uint8_t out) {
    return HAL(st, spi_shift) ? st->hal->spi_shift(st, out) : 0xFF;
}

void pfw_hal_uart_setup(PFW_XDATA pfw_state* st) {
    if (HAL(st, uart_setup))
        st->hal->uart_setup(st);
}

void pfw_hal_uart_tx(PFW_XDATA pfw_state* st, uint8_t byte) {
    if (HAL(st, uart_tx))
        st->hal->uart_tx(st, byte);
}

uint16_t pfw_hal_uart_rx_count(PFW_XDATA pfw_state* st) {
    return HAL(st, uart_rx_count) ? st->hal->uart_rx_count(st) : 0;
}

uint8_t pfw_hal_uart_rx(PFW_XDATA pfw_state* st) {
    return HAL(st, uart_rx) ? st->hal->uart_rx(st) : 0;
}

void pfw_hal_par_config(PFW_XDATA pfw_state* st, const PFW_XDATA uint8_t* config, uint8_t length) {
    if (HAL(st, par_config))
        st->hal->par_config(st, config, length);
}

void pfw_hal_par_in_arm(PFW_XDATA pfw_state* st, uint32_t count) {
    if (HAL(st, par_in_arm))
        st->hal->par_in_arm(st, count);
}

void pfw_hal_par_mode(PFW_XDATA pfw_state* st) {
    if (HAL(st, par_mode))
        st->hal->par_mode(st);
}

void pfw_hal_par_reset(PFW_XDATA pfw_state* st) {
    if (HAL(st, par_reset))
        st->hal->par_reset(st);
}

uint8_t pfw_line_levels(const PFW_XDATA pfw_state* st, uint8_t port, uint8_t external) {
    uint8_t out;
    if (port >= PFW_PORT_COUNT)
        return 0;
    out = st->dir[port];
    return (uint8_t)((st->latch[port] & out) | (external & (uint8_t)~out));
}

/* --- Whole transfers from memory ------------------------------------------------------------- */

static uint32_t get_le32(const PFW_XDATA uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

/* Feeds the transfer in packets of 512 bytes into an answer held in memory. */
static uint16_t run_whole(PFW_XDATA pfw_state* st, const PFW_XDATA uint8_t* xfer, uint32_t len,
                          PFW_XDATA uint8_t* answer) {
    uint32_t off = 0;
    uint16_t n;
    uint8_t done = 0;

    st->sink = answer;
    st->sink_fill = 0;
    pfw_stream_reset(st);
    if (len - PFW_HEADER_SIZE != get_le32(xfer + PFW_HDR_WRITE_LEN)) {
        st->refuse = 1;
        len = PFW_HEADER_SIZE;
    }
    while (!done) {
        n = (uint16_t)(len - off > PFW_PACKET_SIZE_HIGH_SPEED ? PFW_PACKET_SIZE_HIGH_SPEED
                                                              : len - off);
        /* A refused header ends with its own short packet. */
        done = pfw_receive(st, xfer + off, n,
                           st->refuse ? (uint16_t)(n + 1) : PFW_PACKET_SIZE_HIGH_SPEED);
        off += n;
        if (off >= len && !done) {
            /* Whole packets only, and still short of WriteLen: impossible here, but never loop. */
            done = pfw_receive(st, xfer, 0, 1);
        }
    }
    st->sink = 0;
    return st->sink_fill;
}

uint16_t pfw_process(PFW_XDATA pfw_state* st, const PFW_XDATA uint8_t* xfer, uint32_t xfer_len,
                     PFW_XDATA uint8_t* answer, uint16_t answer_size) {
    uint32_t read_len;
    if (xfer_len < PFW_HEADER_SIZE) {
        st->status |= PFW_STATUS_REJECTED;
        return 0;
    }
    read_len = get_le32(xfer + PFW_HDR_READ_LEN);
    if ((read_len != 0 || xfer[PFW_HDR_STATUS_REQUEST] != 0) &&
        (answer_size < PFW_ANSWER_OVERHEAD ||
         read_len > (uint32_t)(answer_size - PFW_ANSWER_OVERHEAD))) {
        st->status |= PFW_STATUS_REJECTED;
        return 0;
    }
    return run_whole(st, xfer, xfer_len, answer);
}

uint16_t pfw_reject(PFW_XDATA pfw_state* st, const PFW_XDATA uint8_t* header,
                    PFW_XDATA uint8_t* answer, uint16_t answer_size) {
    uint32_t read_len = get_le32(header + PFW_HDR_READ_LEN);
    if ((read_len != 0 || header[PFW_HDR_STATUS_REQUEST] != 0) &&
        (answer_size < PFW_ANSWER_OVERHEAD ||
         read_len > (uint32_t)(answer_size - PFW_ANSWER_OVERHEAD))) {
        st->status |= PFW_STATUS_REJECTED;
        return 0;
    }
    st->sink = answer;
    st->sink_fill = 0;
    pfw_stream_reset(st);
    st->refuse = 1;
    pfw_receive(st, header, PFW_HEADER_SIZE, PFW_HEADER_SIZE + 1);
    st->sink = 0;
    return st->sink_fill;
}

void pfw_collect_reset(pfw_collector* c) {
    c->received = 0;
    c->expected = 0;
}

uint8_t pfw_collect(pfw_collector* c, PFW_XDATA uint8_t* buf, uint16_t buf_size,
                    const PFW_XDATA uint8_t* packet, uint16_t n, uint16_t max_packet) {
    uint16_t i;
    uint32_t write_len;

    if (n == 0 && c->received == 0)
        return 0;
    for (i = 0; i < n; i++) {
        if (c->received + i < buf_size)
            buf[(uint16_t)(c->received + i)] = packet[i];
    }
    c->received += n;
    if (c->expected == 0 && c->received >= PFW_HEADER_SIZE && buf_size >= PFW_HEADER_SIZE) {
        write_len = get_le32(buf + PFW_HDR_WRITE_LEN);
        /* Saturates: a WriteLen near 2^32 must not wrap into a small length. */
        c->expected =
            write_len > 0xFFFFFFFFUL - PFW_HEADER_SIZE ? 0xFFFFFFFFUL : write_len + PFW_HEADER_SIZE;
    }
    if (c->expected != 0 && c->received >= c->expected)
        return 1;
    return (uint8_t)(n < max_packet);
}
