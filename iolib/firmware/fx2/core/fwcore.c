/* Portable protocol core of the Portiva board firmware; the contract is in fwcore.h. */
#include "commands.h"

void pfw_init(PFW_XDATA pfw_state* st) {
    uint16_t i;
    uint8_t* p = (PFW_XDATA uint8_t*)st;
#ifndef __SDCC
    const pfw_host_hal* hal = ST->hal;
    void* context = ST->hal_context;
#endif
    for (i = 0; i < sizeof *st; i++)
        p[i] = 0;
#ifndef __SDCC
    ST->hal = hal;
    ST->hal_context = context;
#endif
    ST->par_timeout = PFW_DEFAULT_PAR_TIMEOUT;
    ST->i2c_timeout = PFW_DEFAULT_I2C_TIMEOUT;
    ST->eeprom_timeout = PFW_DEFAULT_EEPROM_TIMEOUT;
    ST->packet_size = PFW_PACKET_SIZE_FULL_SPEED;
}

void pfw_stream_reset(PFW_XDATA pfw_state* st) {
    ST->hdr_fill = 0;
    ST->out_fill = 0;
    ST->refuse = 0;
}

/* The families whose handlers the core runs. */
static const PFW_CODE pfw_family* const PFW_CODE families[] = {
    &pfw_frame_family, &pfw_port_family, &pfw_i2c_family, &pfw_serial_family, &pfw_par_family};

static const PFW_CODE pfw_command* find_command(uint8_t code) {
    uint8_t f;
    uint8_t c;
    const PFW_CODE pfw_family* family;
    for (f = 0; f < sizeof families / sizeof families[0]; f++) {
        family = families[f];
        for (c = 0; c < family->count; c++) {
            if (family->commands[c].code == code)
                return &family->commands[c];
        }
    }
    return 0;
}

/* --- The answer, packet by packet ------------------------------------------------------------ */

#ifdef __SDCC
#define emit(st, b) emit_byte(b)
static void emit_byte(uint8_t b) {
#else
#define emit_byte emit
static void emit_byte(PFW_XDATA pfw_state* st, uint8_t b) {
#endif
    if (ST->answer_lost)
        return;
#ifndef __SDCC
    if (ST->sink) {
        ST->sink[ST->sink_fill++] = b;
        return;
    }
#endif
    if (ST->out_fill == 0) {
        ST->out = pfw_hal_out_buffer(st);
        if (!ST->out) {
            ST->answer_lost = 1;
            return;
        }
    }
    ST->out[ST->out_fill++] = b;
    if (ST->out_fill >= ST->packet_size) {
        pfw_hal_out_commit(st, ST->out_fill);
        ST->out_fill = 0;
    }
}

#ifdef __SDCC
void pfw_answer(uint8_t byte) {
#else
void pfw_answer_byte(PFW_XDATA pfw_state* st, uint8_t byte) {
#endif
    if (ST->answer_left == 0)
        return;
    ST->answer_left--;
    emit(ST, byte);
}

/* --- One command ----------------------------------------------------------------------------- */

static uint8_t run(PFW_XDATA pfw_state* st, uint8_t phase) {
    const PFW_CODE pfw_command* command = find_command(ST->hdr[PFW_HDR_COMMAND]);
    ST->cmd.phase = phase;
    return command ? (*command->run)((PFW_XDATA pfw_cmd*)&ST->cmd) : 0;
}

/* The header is complete: check it, start the answer, let a streamed handler begin. */
static void begin(PFW_XDATA pfw_state* st) {
    const PFW_CODE pfw_command* command;
    const PFW_XDATA uint8_t* h = ST->hdr;
    uint32_t read_len = PFW_LE32(h + PFW_HDR_READ_LEN);
    uint32_t write_len = PFW_LE32(h + PFW_HDR_WRITE_LEN);

    ST->seq++;
    ST->write_left = write_len;
    ST->payload_fill = 0;
    ST->record_fill = 0;
    ST->records = 0;
    ST->i2c_address = 0;
    ST->answer_lost = 0;
    ST->out_fill = 0;
    ST->began = 0;
    ST->streamed = 0;
    ST->answering = (uint8_t)(read_len != 0 || h[PFW_HDR_STATUS_REQUEST] != 0);
    ST->accepted = (uint8_t)!ST->refuse;
    ST->refuse = 0;
    if (read_len > PFW_MAX_READ_LEN) {
        /* No answer of that length exists: the rejection waits for the next answer. */
        ST->answering = 0;
        ST->accepted = 0;
    }
    ST->answer_left = ST->answering ? read_len : 0;

    ST->cmd.st = st;
    ST->cmd.header = h;
    ST->cmd.read_len = read_len;
    ST->cmd.write_len = write_len;
    ST->cmd.aborted = 0;
    ST->cmd.chunk_len = 0;
    ST->cmd.payload = ST->payload;
    ST->cmd.data = ST->small_answer;

    if (ST->answering)
        emit(st, h[PFW_HDR_TRANSACTION]);

    command = find_command(h[PFW_HDR_COMMAND]);
    if (!command || (command->read_len != PFW_ANY && read_len != command->read_len) ||
        (command->write_len != PFW_ANY && write_len != command->write_len)) {
        ST->accepted = 0;
    } else if (command->flags & PFW_STREAMED) {
        ST->streamed = 1;
        if (ST->accepted) {
            ST->accepted = run(st, PFW_PHASE_BEGIN);
            ST->began = ST->accepted;
        }
    } else if (write_len > PFW_PAYLOAD_BUFFER_SIZE) {
        ST->accepted = 0;
    }
}

static void deliver(PFW_XDATA pfw_state* st, const PFW_XDATA uint8_t* data, uint16_t n) {
    uint16_t i;
    if (!ST->accepted)
        return;
    if (ST->streamed) {
        ST->cmd.payload = data;
        ST->cmd.chunk_len = n;
        ST->accepted = run(st, PFW_PHASE_DATA);
        return;
    }
    for (i = 0; i < n; i++)
        ST->payload[ST->payload_fill++] = data[i];
}

/* The transfer ended (cut short when `malformed`): finish the command and its answer. */
static void finish(PFW_XDATA pfw_state* st, uint8_t malformed) {
    uint8_t i;
    uint32_t status;

    if (malformed)
        ST->accepted = 0;
    if (ST->streamed) {
        if (ST->began) {
            ST->cmd.aborted = (uint8_t)!ST->accepted;
            if (!run(st, PFW_PHASE_END))
                ST->accepted = 0;
        }
    } else if (ST->accepted) {
        for (i = 0; i < PFW_SMALL_ANSWER_SIZE; i++)
            ST->small_answer[i] = 0;
        ST->cmd.payload = ST->payload;
        ST->accepted = run(st, PFW_PHASE_ALL);
        if (ST->accepted) {
            for (i = 0; i < PFW_SMALL_ANSWER_SIZE; i++)
                pfw_answer_byte(st, ST->small_answer[i]);
        }
    }
    if (!ST->accepted)
        ST->status |= PFW_STATUS_REJECTED;

    if (ST->answering) {
        while (ST->answer_left)
            pfw_answer_byte(st, 0);
        status = ST->status & PFW_STATUS_MASK;
        ST->status = 0;
        emit(st, (uint8_t)(status & 0xFF));
        emit(st, (uint8_t)((status >> 8) & 0xFF));
        emit(st, (uint8_t)((status >> 16) & 0xFF));
        if (!ST->answer_lost && ST->out_fill != 0)
            pfw_hal_out_commit(st, ST->out_fill);
        ST->out_fill = 0;
    }
    ST->hdr_fill = 0;
}

uint8_t pfw_receive(PFW_XDATA pfw_state* st, const PFW_XDATA uint8_t* packet, uint16_t n,
                    uint16_t max_packet) {
    uint16_t i = 0;
    uint16_t take;
    uint8_t had_header = (uint8_t)(ST->hdr_fill == PFW_HEADER_SIZE);

    ST->packet_size = max_packet;
    if (n == 0 && ST->hdr_fill == 0)
        return 0;
    while (i < n && ST->hdr_fill < PFW_HEADER_SIZE)
        ST->hdr[ST->hdr_fill++] = packet[i++];
    if (ST->hdr_fill < PFW_HEADER_SIZE) {
        if (n >= max_packet)
            return 0;
        /* No header: no transaction number to echo and no ReadLen to honour. */
        ST->status |= PFW_STATUS_REJECTED;
        ST->hdr_fill = 0;
        return 1;
    }
    if (!had_header)
        begin(st);

    take = (uint16_t)(n - i);
    if (take > ST->write_left) {
        /* More than announced: the packet is not carried out. */
        finish(st, 1);
        return 1;
    }
    if (take) {
        deliver(st, packet + i, take);
        ST->write_left -= take;
    }
    if (ST->write_left == 0 || n < max_packet) {
        finish(st, (uint8_t)(ST->write_left != 0));
        return 1;
    }
    return 0;
}
