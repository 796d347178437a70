/* Portable protocol core of the Portiva board firmware; the contract is in fwcore.h. */
#include "commands.h"

static uint32_t get_le32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

void pfw_init(pfw_state* st) {
    uint8_t i;
    for (i = 0; i < PFW_PORT_COUNT; i++) {
        st->latch[i] = 0;
        st->dir[i] = 0;
        st->level[i] = 0;
    }
    st->ready = 0;
    st->high_speed = 0;
    st->flush_request = 0;
    st->status = 0;
}

uint8_t pfw_line_levels(const pfw_state* st, uint8_t port, uint8_t external) {
    uint8_t out;
    if (port >= PFW_PORT_COUNT)
        return 0;
    out = st->dir[port];
    return (uint8_t)((st->latch[port] & out) | (external & (uint8_t)~out));
}

/* The families whose handlers the core runs. */
static const PFW_CODE pfw_family* const PFW_CODE families[] = {&pfw_frame_family, &pfw_port_family};

static pfw_handler find_handler(uint8_t code) {
    uint8_t f;
    uint8_t c;
    const PFW_CODE pfw_family* family;
    for (f = 0; f < sizeof families / sizeof families[0]; f++) {
        family = families[f];
        for (c = 0; c < family->count; c++) {
            if (family->commands[c].code == code)
                return family->commands[c].run;
        }
    }
    return 0;
}

/* One command: frames the answer, and runs the command's handler when `execute` is set and the
 * transfer holds exactly the payload the header announces; anything else is a rejection. */
static uint16_t handle(pfw_state* st, const uint8_t* xfer, uint32_t xfer_len, uint8_t* answer,
                       uint16_t answer_size, uint8_t execute) {
    PFW_XDATA pfw_cmd cmd;
    pfw_handler run;
    uint32_t read_len;
    uint32_t write_len;
    uint16_t answer_len;
    uint16_t i;
    uint8_t ok;

    if (xfer_len < PFW_HEADER_SIZE) {
        /* No header: no transaction number to echo and no ReadLen to honour. */
        st->status |= PFW_STATUS_REJECTED;
        return 0;
    }
    read_len = get_le32(xfer + PFW_HDR_READ_LEN);
    write_len = get_le32(xfer + PFW_HDR_WRITE_LEN);
    cmd.st = st;
    cmd.header = xfer;
    cmd.read_len = (uint16_t)read_len;
    cmd.write_len = (uint16_t)write_len;
    cmd.payload = xfer + PFW_HEADER_SIZE;
    cmd.data = answer + 1;

    answer_len = 0;
    if (read_len != 0 || xfer[PFW_HDR_STATUS_REQUEST] != 0) {
        if (answer_size < PFW_ANSWER_OVERHEAD ||
            read_len > (uint32_t)(answer_size - PFW_ANSWER_OVERHEAD)) {
            st->status |= PFW_STATUS_REJECTED;
            return 0;
        }
        answer_len = (uint16_t)(read_len + PFW_ANSWER_OVERHEAD);
        for (i = 1; i <= (uint16_t)read_len; i++)
            answer[i] = 0;
    }

    /* Compared as a difference so that a huge WriteLen cannot wrap the sum. A non-zero ReadLen
     * fits the answer buffer by now; a WriteLen beyond 16 bits is no command's. */
    ok = 0;
    if (execute && xfer_len - PFW_HEADER_SIZE == write_len && write_len <= 0xFFFFUL) {
        run = find_handler(xfer[PFW_HDR_COMMAND]);
        if (run)
            ok = (*run)(&cmd);
    }
    if (!ok)
        st->status |= PFW_STATUS_REJECTED;

    if (answer_len == 0)
        return 0;
    answer[0] = xfer[PFW_HDR_TRANSACTION];
    st->status &= PFW_STATUS_MASK;
    answer[answer_len - 3] = (uint8_t)(st->status & 0xFF);
    answer[answer_len - 2] = (uint8_t)((st->status >> 8) & 0xFF);
    answer[answer_len - 1] = (uint8_t)((st->status >> 16) & 0xFF);
    st->status = 0;
    return answer_len;
}

uint16_t pfw_process(pfw_state* st, const uint8_t* xfer, uint32_t xfer_len, uint8_t* answer,
                     uint16_t answer_size) {
    return handle(st, xfer, xfer_len, answer, answer_size, 1);
}

uint16_t pfw_reject(pfw_state* st, const uint8_t* header, uint8_t* answer, uint16_t answer_size) {
    return handle(st, header, PFW_HEADER_SIZE, answer, answer_size, 0);
}

void pfw_collect_reset(pfw_collector* c) {
    c->received = 0;
    c->expected = 0;
}

uint8_t pfw_collect(pfw_collector* c, uint8_t* buf, uint16_t buf_size, const uint8_t* packet,
                    uint16_t n, uint16_t max_packet) {
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
