/* Portable protocol core of the Portiva board firmware; the contract is in fwcore.h. */
#include "fwcore.h"

/* Header offsets. */
#define HDR_COMMAND 0
#define HDR_TRANSACTION 1
#define HDR_STATUS_REQUEST 2
#define HDR_READ_LEN 8
#define HDR_WRITE_LEN 12

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

/* Five (keep-mask, value) pairs: new = (old AND keep) OR value. */
static void apply_pairs(uint8_t* regs, const uint8_t* pairs) {
    uint8_t i;
    for (i = 0; i < PFW_PORT_COUNT; i++) {
        regs[i] = (uint8_t)((regs[i] & pairs[0]) | pairs[1]);
        pairs += 2;
    }
}

/* One command: frames the answer, and carries the command out when `execute` is set and the
 * lengths fit; anything else is a rejection. */
static uint16_t handle(pfw_state* st, const uint8_t* xfer, uint32_t xfer_len, uint8_t* answer,
                       uint16_t answer_size, uint8_t execute) {
    uint32_t read_len;
    uint32_t write_len;
    uint32_t offset;
    uint16_t answer_len;
    uint16_t i;
    uint8_t ok;
    const uint8_t* payload;

    if (xfer_len < PFW_HEADER_SIZE) {
        /* No header: no transaction number to echo and no ReadLen to honour. */
        st->status |= PFW_STATUS_REJECTED;
        return 0;
    }
    read_len = get_le32(xfer + HDR_READ_LEN);
    write_len = get_le32(xfer + HDR_WRITE_LEN);
    payload = xfer + PFW_HEADER_SIZE;

    answer_len = 0;
    if (read_len != 0 || xfer[HDR_STATUS_REQUEST] != 0) {
        if (answer_size < PFW_ANSWER_OVERHEAD ||
            read_len > (uint32_t)(answer_size - PFW_ANSWER_OVERHEAD)) {
            st->status |= PFW_STATUS_REJECTED;
            return 0;
        }
        answer_len = (uint16_t)(read_len + PFW_ANSWER_OVERHEAD);
        for (i = 1; i <= (uint16_t)read_len; i++)
            answer[i] = 0;
    }

    /* Compared as a difference so that a huge WriteLen cannot wrap the sum. */
    ok = (uint8_t)(execute && xfer_len - PFW_HEADER_SIZE == write_len);
    if (ok) {
        switch (xfer[HDR_COMMAND]) {
        case PFW_CMD_SET_PORT_STATE:
            /* One or more records; the delay field paces the pattern generator and is ignored
             * when the records are applied at once. */
            if (read_len != 0 || write_len == 0 || write_len % PFW_PORT_RECORD_SIZE != 0) {
                ok = 0;
                break;
            }
            for (offset = 0; offset < write_len; offset += PFW_PORT_RECORD_SIZE)
                apply_pairs(st->latch, payload + offset);
            break;
        case PFW_CMD_SET_PORT_DIR:
            if (read_len != 0 || write_len != PFW_DIR_RECORD_SIZE) {
                ok = 0;
                break;
            }
            apply_pairs(st->dir, payload);
            break;
        case PFW_CMD_GET_PORT_STATE:
            /* Five port levels, and the ready line when six bytes are asked for. */
            if ((read_len != PFW_PORT_COUNT && read_len != PFW_PORT_COUNT + 1) || write_len != 0) {
                ok = 0;
                break;
            }
            for (i = 0; i < PFW_PORT_COUNT; i++)
                answer[1 + i] = st->level[i];
            if (read_len == PFW_PORT_COUNT + 1)
                answer[1 + PFW_PORT_COUNT] = st->ready;
            break;
        case PFW_CMD_GET_FIRMWARE_INFO:
            if (read_len != 2 || write_len != 0) {
                ok = 0;
                break;
            }
            i = st->high_speed ? PFW_PACKET_SIZE_HIGH_SPEED : PFW_PACKET_SIZE_FULL_SPEED;
            answer[1] = (uint8_t)(i & 0xFF);
            answer[2] = (uint8_t)(i >> 8);
            break;
        case PFW_CMD_GET_STATUS:
            /* The answer itself carries (and clears) the status. */
            if (read_len != 0 || write_len != 0)
                ok = 0;
            break;
        case PFW_CMD_FLUSH:
            if (read_len != 0 || write_len != 0) {
                ok = 0;
                break;
            }
            st->flush_request = 1;
            break;
        default:
            ok = 0;
            break;
        }
    }
    if (!ok)
        st->status |= PFW_STATUS_REJECTED;

    if (answer_len == 0)
        return 0;
    answer[0] = xfer[HDR_TRANSACTION];
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
        write_len = get_le32(buf + HDR_WRITE_LEN);
        /* Saturates: a WriteLen near 2^32 must not wrap into a small length. */
        c->expected =
            write_len > 0xFFFFFFFFUL - PFW_HEADER_SIZE ? 0xFFFFFFFFUL : write_len + PFW_HEADER_SIZE;
    }
    if (c->expected != 0 && c->received >= c->expected)
        return 1;
    return (uint8_t)(n < max_packet);
}
