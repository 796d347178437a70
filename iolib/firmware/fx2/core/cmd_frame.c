/* Frame commands: identification, status and flush. */
#include "commands.h"

static uint8_t get_firmware_info(PFW_XDATA pfw_cmd* cmd) {
    uint16_t size;
    size = CMD->st->high_speed ? PFW_PACKET_SIZE_HIGH_SPEED : PFW_PACKET_SIZE_FULL_SPEED;
    CMD->data[0] = (uint8_t)(size & 0xFF);
    CMD->data[1] = (uint8_t)(size >> 8);
    return 1;
}

/* The answer itself carries (and clears) the status. */
static uint8_t get_status(PFW_XDATA pfw_cmd* cmd) {
    (void)cmd;
    return 1;
}

static uint8_t flush(PFW_XDATA pfw_cmd* cmd) {
    CMD->st->flush_request = 1;
    return 1;
}

static const PFW_CODE pfw_command frame_commands[] = {
    {PFW_CMD_GET_FIRMWARE_INFO, 0, 2, 0, get_firmware_info},
    {PFW_CMD_GET_STATUS, 0, 0, 0, get_status},
    {PFW_CMD_FLUSH, 0, 0, 0, flush},
};

const PFW_CODE pfw_family pfw_frame_family = {frame_commands,
                                              sizeof frame_commands / sizeof frame_commands[0]};
