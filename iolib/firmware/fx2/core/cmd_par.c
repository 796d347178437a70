/* Parallel bus commands: the configuration, arming an input, waveforms, automatic modes and the
 * data-path reset. The data themselves stream on endpoints 0x02 and 0x88 in the hardware layer. */
#include "commands.h"
#include "par_config.h"

static uint8_t par_init(PFW_XDATA pfw_cmd* cmd) {
    PFW_XDATA pfw_state* st = CMD->st;
    const PFW_XDATA uint8_t* config = CMD->payload;
    uint8_t length;
    if (CMD->write_len < PFW_PAR_SHORT_LENGTH)
        return 0;
    length =
        (config[PFW_PAR_FLAGS] & PFW_PAR_FLAG_LONG) ? PFW_PAR_LONG_LENGTH : PFW_PAR_SHORT_LENGTH;
    if (CMD->write_len != length ||
        (config[PFW_PAR_IFCONFIG] & PFW_PAR_IFCFG_MASK) != PFW_PAR_IFCFG_GPIF)
        return 0;
    /* Bit 7 marks "configured" even for an 8-bit short form. */
    ST->par_flags = (uint8_t)(config[PFW_PAR_FLAGS] | 0x40);
    ST->par_waveforms = (uint8_t)(config[PFW_PAR_GPIFWFSELECT] & 0x0F);
    ST->par_auto_out = 0;
    ST->par_auto_in = 0;
    pfw_hal_par_config(st, config, length);
    return 1;
}

static uint8_t par_in(PFW_XDATA pfw_cmd* cmd) {
    PFW_XDATA pfw_state* st = CMD->st;
    uint32_t count = (uint32_t)PFW_LE16(CMD->header + PFW_HDR_P6) |
                     ((uint32_t)PFW_LE16(CMD->header + PFW_HDR_P4) << 16);
    if (ST->par_flags == 0)
        return 0;
    if (count != 0)
        pfw_hal_par_in_arm(st, count);
    return 1;
}

static uint8_t par_set_waveforms(PFW_XDATA pfw_cmd* cmd) {
    uint8_t p3 = CMD->header[PFW_HDR_P3];
    if (p3 > 15)
        return 0;
    CMD->st->par_waveforms = p3;
    pfw_hal_par_mode(CMD->st);
    return 1;
}

static uint8_t da_med_sf(PFW_XDATA pfw_cmd* cmd) {
    pfw_hal_par_reset(CMD->st);
    return 1;
}

static uint8_t par_set_automode(PFW_XDATA pfw_cmd* cmd) {
    const PFW_XDATA uint8_t* h = CMD->header;
    CMD->st->par_auto_out = (uint8_t)((h[PFW_HDR_P4] | h[PFW_HDR_P4 + 1]) != 0);
    CMD->st->par_auto_in = (uint8_t)((h[PFW_HDR_P6] | h[PFW_HDR_P6 + 1]) != 0);
    pfw_hal_par_mode(CMD->st);
    return 1;
}

static const PFW_CODE pfw_command par_commands[] = {
    {PFW_CMD_PAR_INIT, 0, 0, PFW_ANY, par_init},
    {PFW_CMD_PAR_IN, 0, 0, 0, par_in},
    {PFW_CMD_PAR_SET_WAVEFORMS, 0, 0, 0, par_set_waveforms},
    {PFW_CMD_DA_MED_SF, 0, 0, 0, da_med_sf},
    {PFW_CMD_PAR_SET_AUTOMODE, 0, 0, 0, par_set_automode},
};

const PFW_CODE pfw_family pfw_par_family = {par_commands,
                                            sizeof par_commands / sizeof par_commands[0]};
