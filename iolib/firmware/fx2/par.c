/* Parallel bus on the GPIF: output packets from EP2 and armed inputs into EP8, one packet at a
 * time under the CPU's control so that a stalled bus times out cleanly and an input ends with its
 * status byte in the same transfer. */
#include "fx2hal.h"
#include "fx2regs.h"
#include "par_config.h"

static __xdata uint32_t in_left; /* bytes of the armed input still to send */
static __xdata uint8_t in_status;
static __xdata uint8_t in_armed; /* the status byte is still to send */

static void reset_fifos(void) {
    FIFORESET = FIFORESET_NAKALL;
    SYNCDELAY;
    FIFORESET = 2;
    SYNCDELAY;
    FIFORESET = 8;
    SYNCDELAY;
    FIFORESET = 0;
    SYNCDELAY;
}

static void apply_fifo_modes(void) {
    uint8_t wide = (pfw_board.par_flags & PFW_PAR_FLAG_16BIT) ? FIFOCFG_WORDWIDE : 0;
    EP2FIFOCFG = (uint8_t)(wide | (pfw_board.par_auto_out ? FIFOCFG_AUTOOUT : 0));
    SYNCDELAY;
    EP8FIFOCFG = (uint8_t)(wide | (pfw_board.par_auto_in ? FIFOCFG_AUTOIN : 0));
    SYNCDELAY;
    GPIFWFSELECT = (uint8_t)((GPIFWFSELECT & 0xF0) | pfw_board.par_waveforms);
}

/* Where the configuration's register bytes (offsets 1..20) go, in order. */
static const __code uint16_t registers[PFW_PAR_REGISTER_COUNT] = {
    0xE601, /* IFCONFIG */
    0xE6C1, /* GPIFIDLECS */
    0xE6C2, /* GPIFIDLECTL */
    0xE6C3, /* GPIFCTLCFG */
    0xE6F3, /* GPIFREADYCFG */
    0xE609, /* FIFOPINPOLAR */
    0xE618, /* EP2FIFOCFG (WORDWIDE and AUTOOUT set again below) */
    0xE61B, /* EP8FIFOCFG */
    0xE602, /* PINFLAGSAB */
    0xE603, /* PINFLAGSCD */
    0xE6C4, /* GPIFADRH */
    0xE6C5, /* GPIFADRL */
    0xE671, /* PORTCCFG */
    0xE672, /* PORTECFG */
    0xE6C0, /* GPIFWFSELECT */
    0xE6D2, /* EP2GPIFFLGSEL */
    0xE6D3, /* EP2GPIFPFSTOP */
    0xE6EA, /* EP8GPIFFLGSEL */
    0xE6EB, /* EP8GPIFPFSTOP */
    0xE60C, /* GPIFHOLDAMOUNT */
};

void fx2_par_config(const PFW_XDATA uint8_t* config, uint8_t length) {
    uint8_t i;
    GPIFABORT = 0xFF;
    for (i = 0; i < PFW_PAR_REGISTER_COUNT; i++) {
        *(volatile __xdata uint8_t*)registers[i] = config[PFW_PAR_IFCONFIG + i];
        SYNCDELAY;
    }
    for (i = 0; i < PFW_PAR_WAVEDATA_SIZE; i++)
        WAVEDATA[i] = config[PFW_PAR_WAVEDATA + i];
    if (length == PFW_PAR_LONG_LENGTH) {
        for (i = 0; i < PFW_PAR_FLOW_SIZE; i++)
            FLOWSTATE_REGS[i] = config[PFW_PAR_FLOW + i];
    }
    apply_fifo_modes();
    reset_fifos();
    in_armed = 0;
}

void fx2_par_in_arm(uint32_t count) {
    in_left = count;
    in_status = 0;
    in_armed = 1;
}

void fx2_par_mode(void) {
    apply_fifo_modes();
}

void fx2_par_reset(void) {
    GPIFABORT = 0xFF;
    reset_fifos();
    in_armed = 0;
}

/* Runs one FIFO transaction of `bytes` on endpoint `ep` (GPIFTRIG code) within the parallel
 * time-out; a stuck bus is aborted. */
static uint8_t transact(uint16_t bytes, uint8_t trigger) {
    if (pfw_board.par_flags & PFW_PAR_FLAG_16BIT)
        bytes >>= 1;
    GPIFTCB3 = 0;
    SYNCDELAY;
    GPIFTCB2 = 0;
    SYNCDELAY;
    GPIFTCB1 = (uint8_t)(bytes >> 8);
    SYNCDELAY;
    GPIFTCB0 = (uint8_t)bytes;
    SYNCDELAY;
    GPIFTRIG = trigger;
    fx2_deadline(pfw_board.par_timeout);
    while (!(GPIFTRIG & GPIFTRIG_DONE)) {
        if (fx2_expired()) {
            GPIFABORT = 0xFF;
            return 0;
        }
    }
    return 1;
}

/* One output packet: handed to the FIFO side, then written by the GPIF. A packet the bus does
 * not take in time is dropped with the rest of the FIFO. */
static void output_packet(void) {
    uint16_t bytes;
    if (!pfw_board.par_auto_out) {
        if (EP2468STAT & EP2468STAT_EP2E)
            return;
        OUTPKTEND = 2;
        SYNCDELAY;
    }
    bytes = (uint16_t)(((uint16_t)EP2FIFOBCH << 8) | EP2FIFOBCL);
    if (bytes == 0)
        return;
    if (!transact(bytes, GPIFTRIG_EP2)) {
        pfw_board.status |= PFW_STATUS_PAR_OUT_TIMEOUT;
        reset_fifos();
    }
}

/* One input packet: the GPIF fills EP8's buffer, the CPU commits it; the last one carries the
 * status byte behind the data (or in a packet of its own when the data fill the last packet).
 * After a time-out the rest of the input is sent as zeros. */
static void input_packet(void) {
    uint16_t size = (USBCS & USBCS_HSM) ? PFW_PACKET_SIZE_HIGH_SPEED : PFW_PACKET_SIZE_FULL_SPEED;
    uint16_t chunk = size;
    uint16_t got;
    uint16_t i;
    if (EP2468STAT & EP2468STAT_EP8F)
        return;
    if (in_left < chunk)
        chunk = (uint16_t)in_left;
    got = 0;
    if (chunk && !in_status) {
        if (transact(chunk, GPIFTRIG_READ | GPIFTRIG_EP8))
            got = chunk;
        else
            in_status = PFW_STATUS_PAR_IN_TIMEOUT;
    }
    for (i = got; i < chunk; i++)
        EP8FIFOBUF[i] = 0;
    in_left -= chunk;
    if (in_left == 0 && chunk < size) {
        EP8FIFOBUF[chunk] = in_status;
        chunk++;
        in_armed = 0;
    }
    EP8BCH = (uint8_t)(chunk >> 8);
    SYNCDELAY;
    EP8BCL = (uint8_t)chunk;
    SYNCDELAY;
}

void fx2_par_poll(void) {
    if (!pfw_board.par_flags)
        return;
    output_packet();
    if (in_armed)
        input_packet();
}
