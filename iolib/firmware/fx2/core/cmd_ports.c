/* Port commands: output latches and directions with keep-masks, and the port read. */
#include "commands.h"

/* Five (keep-mask, value) pairs: new = (old AND keep) OR value. */
static void apply_pairs(uint8_t* regs, const uint8_t* pairs) {
    uint8_t i;
    for (i = 0; i < PFW_PORT_COUNT; i++) {
        regs[i] = (uint8_t)((regs[i] & pairs[0]) | pairs[1]);
        pairs += 2;
    }
}

/* One or more records; the delay field paces the pattern generator and is ignored when the
 * records are applied at once. */
static uint8_t set_port_state(PFW_XDATA pfw_cmd* cmd) {
    uint16_t offset;
    uint16_t len = cmd->write_len;
    if (cmd->read_len != 0 || len == 0 || (len & (PFW_PORT_RECORD_SIZE - 1)) != 0)
        return 0;
    for (offset = 0; offset < len; offset += PFW_PORT_RECORD_SIZE)
        apply_pairs(cmd->st->latch, cmd->payload + offset);
    return 1;
}

static uint8_t set_port_dir(PFW_XDATA pfw_cmd* cmd) {
    if (cmd->read_len != 0 || cmd->write_len != PFW_DIR_RECORD_SIZE)
        return 0;
    apply_pairs(cmd->st->dir, cmd->payload);
    return 1;
}

/* Five port levels, and the ready line when six bytes are asked for. */
static uint8_t get_port_state(PFW_XDATA pfw_cmd* cmd) {
    uint8_t i;
    uint16_t len = cmd->read_len;
    const pfw_state* st = cmd->st;
    uint8_t* data = cmd->data;
    if ((len != PFW_PORT_COUNT && len != PFW_PORT_COUNT + 1) || cmd->write_len != 0)
        return 0;
    for (i = 0; i < PFW_PORT_COUNT; i++)
        data[i] = st->level[i];
    if (len == PFW_PORT_COUNT + 1)
        data[PFW_PORT_COUNT] = st->ready;
    return 1;
}

static const PFW_CODE pfw_command port_commands[] = {
    {PFW_CMD_SET_PORT_STATE, set_port_state},
    {PFW_CMD_SET_PORT_DIR, set_port_dir},
    {PFW_CMD_GET_PORT_STATE, get_port_state},
};

const PFW_CODE pfw_family pfw_port_family = {port_commands,
                                             sizeof port_commands / sizeof port_commands[0]};
