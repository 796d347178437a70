/* Port commands: output latches and directions with keep-masks, the port read, and the pattern
 * generator (several timed records in one command). */
#include "commands.h"

/* Five (keep-mask, value) pairs: new = (old AND keep) OR value. */
static void apply_pairs(uint8_t* regs, const PFW_XDATA uint8_t* pairs) {
    uint8_t i;
    for (i = 0; i < PFW_PORT_COUNT; i++) {
        regs[i] = (uint8_t)((regs[i] & pairs[0]) | pairs[1]);
        pairs += 2;
    }
}

/* One whole record: the earlier record's time runs out first, then the lines change. */
static void play_record(PFW_XDATA pfw_state* st) {
    uint16_t delay;
    if (ST->records != 0) {
        delay = ST->record_delay;
        pfw_hal_wait_us(st, PFW_PATTERN_BASE_US);
        if (delay != 0) {
            pfw_hal_wait_us(st, delay);
            pfw_hal_wait_us(st, delay);
        }
    }
    apply_pairs(ST->latch, ST->record);
    ST->record_delay = PFW_LE16(ST->record + 10);
    if (ST->records != 0xFFFF)
        ST->records++;
    pfw_hal_write_ports(st);
}

/* Records arrive in any slices; each plays once it is whole. */
static uint8_t set_port_state(PFW_XDATA pfw_cmd* cmd) {
    uint16_t i;
    PFW_XDATA pfw_state* st = CMD->st;
    switch (CMD->phase) {
    case PFW_PHASE_BEGIN:
        return (uint8_t)(CMD->write_len != 0 &&
                         ((uint8_t)CMD->write_len & (PFW_PORT_RECORD_SIZE - 1)) == 0);
    case PFW_PHASE_DATA:
        for (i = 0; i < CMD->chunk_len; i++) {
            ST->record[ST->record_fill++] = CMD->payload[i];
            if (ST->record_fill == PFW_PORT_RECORD_SIZE) {
                ST->record_fill = 0;
                play_record(st);
            }
        }
        return 1;
    default:
        return 1;
    }
}

static uint8_t set_port_dir(PFW_XDATA pfw_cmd* cmd) {
    apply_pairs(CMD->st->dir, CMD->payload);
    pfw_hal_write_ports(CMD->st);
    return 1;
}

/* Five port levels, and the ready line when six bytes are asked for. */
static uint8_t get_port_state(PFW_XDATA pfw_cmd* cmd) {
    uint8_t i;
    uint8_t len = (uint8_t)CMD->read_len;
    PFW_XDATA pfw_state* st = CMD->st;
    uint8_t* data = CMD->data;
    if (CMD->read_len != len || (len != PFW_PORT_COUNT && len != PFW_PORT_COUNT + 1))
        return 0;
    pfw_hal_read_levels(st);
    for (i = 0; i < PFW_PORT_COUNT; i++)
        data[i] = ST->level[i];
    if (len == PFW_PORT_COUNT + 1)
        data[PFW_PORT_COUNT] = ST->ready;
    return 1;
}

static const PFW_CODE pfw_command port_commands[] = {
    {PFW_CMD_SET_PORT_STATE, PFW_STREAMED, 0, PFW_ANY, set_port_state},
    {PFW_CMD_SET_PORT_DIR, 0, 0, PFW_DIR_RECORD_SIZE, set_port_dir},
    {PFW_CMD_GET_PORT_STATE, 0, PFW_ANY, 0, get_port_state},
};

const PFW_CODE pfw_family pfw_port_family = {port_commands,
                                             sizeof port_commands / sizeof port_commands[0]};
