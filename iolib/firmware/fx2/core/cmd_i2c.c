/* I2C commands: transfers (with the acknowledge polling of EEPROM page writes), the bus speed and
 * the firmware's time-outs. */
#include "commands.h"

/* Ends a transfer that failed: the bus is released, the bits go to the status. */
static void fail(PFW_XDATA pfw_state* st) {
    pfw_hal_i2c_stop(st);
    ST->i2c_busy = 0;
}

/* Polls the EEPROM's address until its write cycle is over. */
static void poll_write(PFW_XDATA pfw_state* st, uint8_t address_byte, uint16_t max_polls) {
    uint16_t ms = ST->eeprom_timeout;
    uint8_t tenth = 0;
    uint16_t polls = 0;
    uint8_t acked;
    for (;;) {
        ST->bus_status = 0;
        pfw_hal_i2c_start(ST, address_byte);
        acked = (uint8_t)(ST->bus_status == 0);
        pfw_hal_i2c_stop(ST);
        if (acked)
            break;
        polls++;
        if (ms == 0 || (max_polls != 0 && polls >= max_polls)) {
            ST->status |= PFW_STATUS_EEPROM_TIMEOUT;
            break;
        }
        pfw_hal_wait_us(ST, PFW_EEPROM_POLL_US);
        if (++tenth == 1000 / PFW_EEPROM_POLL_US) {
            tenth = 0;
            ms--;
        }
    }
    ST->bus_status = 0;
}

/* The first payload byte addresses the slave; a write's further bytes follow at once. */
static uint8_t transfer_data(PFW_XDATA pfw_cmd* cmd) {
    PFW_XDATA pfw_state* st = CMD->st;
    uint16_t i = 0;
    uint8_t b;
    if (!ST->i2c_addressed) {
        b = CMD->payload[0];
        /* A read takes no data; a write gives none back. */
        if ((b & 1) ? CMD->write_len != 1 : CMD->read_len != 0)
            return 0;
        ST->i2c_addressed = 1;
        ST->i2c_address = b;
        ST->bus_status = 0;
        pfw_hal_i2c_start(st, b);
        ST->i2c_busy = 1;
        if (ST->bus_status)
            fail(st);
        i = 1;
    }
    for (; i < CMD->chunk_len && ST->i2c_busy; i++) {
        pfw_hal_i2c_write(st, CMD->payload[i]);
        if (ST->bus_status)
            fail(st);
    }
    return 1;
}

static uint8_t transfer_end(PFW_XDATA pfw_cmd* cmd) {
    PFW_XDATA pfw_state* st = CMD->st;
    const PFW_XDATA uint8_t* h = CMD->header;
    uint8_t b;
    if (CMD->aborted) {
        if (ST->i2c_busy)
            fail(st);
    } else if (!ST->i2c_addressed) {
        return 0;
    } else if (ST->i2c_address & 1) {
        /* The answer's own count of bytes still owed paces the read. */
        while (ST->answer_left != 0 && ST->i2c_busy) {
            b = pfw_hal_i2c_read(ST, (uint8_t)(ST->answer_left == 1   ? PFW_I2C_LAST
                                               : ST->answer_left == 2 ? PFW_I2C_NEXT_LAST
                                                                      : 0));
            if (ST->bus_status) {
                fail(ST);
                break;
            }
            pfw_answer_byte(ST, b);
        }
        if (CMD->read_len == 0 && ST->i2c_busy)
            pfw_hal_i2c_stop(st);
        ST->i2c_busy = 0;
    } else if (ST->i2c_busy) {
        if (h[PFW_HDR_P6] | h[PFW_HDR_P6 + 1]) {
            pfw_hal_i2c_stop(st);
            ST->i2c_busy = 0;
            if (h[PFW_HDR_P3])
                poll_write(st, h[PFW_HDR_P3], PFW_LE16(h + PFW_HDR_P4));
        }
    }
    ST->status |= ST->bus_status;
    ST->bus_status = 0;
    return (uint8_t)!CMD->aborted;
}

static uint8_t i2c_transfer(PFW_XDATA pfw_cmd* cmd) {
    switch (CMD->phase) {
    case PFW_PHASE_BEGIN:
        CMD->st->i2c_busy = 0;
        CMD->st->i2c_addressed = 0;
        return (uint8_t)(CMD->write_len != 0);
    case PFW_PHASE_DATA:
        return transfer_data(cmd);
    default:
        return transfer_end(cmd);
    }
}

static uint8_t i2c_set_speed(PFW_XDATA pfw_cmd* cmd) {
    CMD->st->i2c_speed = CMD->header[PFW_HDR_P3];
    pfw_hal_i2c_speed(CMD->st);
    return 1;
}

static uint8_t set_timeout(PFW_XDATA pfw_cmd* cmd) {
    PFW_XDATA pfw_state* st = CMD->st;
    uint16_t value = PFW_LE16(CMD->header + PFW_HDR_P4);
    switch (CMD->header[PFW_HDR_P3]) {
    case 0:
        ST->par_timeout = value;
        return 1;
    case 1:
        ST->i2c_timeout = value;
        return 1;
    case 2:
        ST->eeprom_timeout = value;
        return 1;
    default:
        return 0;
    }
}

static const PFW_CODE pfw_command i2c_commands[] = {
    {PFW_CMD_I2C_TRANSFER, PFW_STREAMED, PFW_ANY, PFW_ANY, i2c_transfer},
    {PFW_CMD_I2C_SET_SPEED, 0, 0, 0, i2c_set_speed},
    {PFW_CMD_SET_TIMEOUT, 0, 0, 0, set_timeout},
};

const PFW_CODE pfw_family pfw_i2c_family = {i2c_commands,
                                            sizeof i2c_commands / sizeof i2c_commands[0]};
