/*
 * FX2 layer of the Portiva board firmware: endpoints, ports and the time base around the
 * protocol core; the buses live in i2c.c, serial.c and par.c.
 *
 * The library loads this program into the controller's RAM with the built-in loader and starts
 * it. The firmware leaves RENUM at 0, so the controller's built-in USB core keeps answering
 * endpoint 0 with its default descriptors; their alternate setting 1 of interface 0 offers bulk
 * endpoints 2 and 4 OUT and 6 and 8 IN (512-byte packets at high speed, 64 at full speed), and the
 * endpoint registers come out of reset configured to match (valid, bulk, double buffered, EP2/EP4
 * OUT, EP6/EP8 IN). Commands arrive on EP4 OUT (0x04), answers leave on EP6 IN (0x86), parallel
 * data use EP2 OUT and EP8 IN.
 *
 * One loop polls EP4 and hands every packet to the core, which carries the command out while it
 * arrives and sends its answer packet by packet; between commands the loop serves the parallel
 * bus. The only interrupt is the UART's receiver.
 */
#include "fx2hal.h"
#include "fx2regs.h"

__xdata pfw_state pfw_board;

void fx2_sync_delay(void) {}

static uint16_t max_packet(void) {
    return (USBCS & USBCS_HSM) ? PFW_PACKET_SIZE_HIGH_SPEED : PFW_PACKET_SIZE_FULL_SPEED;
}

static uint8_t command_waiting(void) {
    return (uint8_t) !(EP2468STAT & EP2468STAT_EP4E);
}

/* Gives one EP4 buffer back to the USB side. With REVCTL's DYN_OUT set the controller never does
 * this by itself; SKIP because nothing is passed on to the slave FIFO interface. */
static void arm_command_endpoint(void) {
    OUTPKTEND = OUTPKTEND_SKIP | 4;
    SYNCDELAY;
}

/* Drops every answer still queued on EP6. EP4 is left alone: the command the host sends right
 * after a flush may already be waiting there. */
static void drop_answers(void) {
    FIFORESET = FIFORESET_NAKALL;
    SYNCDELAY;
    FIFORESET = 6;
    SYNCDELAY;
    FIFORESET = 0;
    SYNCDELAY;
}

/* --- Hardware layer: ports, time, answers ---------------------------------------------------- */

/* Latches before drivers, so that a line turned into an output starts at its new level. */
void fx2_write_ports(void) {
    IOA = pfw_board.latch[0];
    IOB = pfw_board.latch[1];
    IOC = pfw_board.latch[2];
    IOD = pfw_board.latch[3];
    IOE = pfw_board.latch[4];
    OEA = pfw_board.dir[0];
    OEB = pfw_board.dir[1];
    OEC = pfw_board.dir[2];
    OED = pfw_board.dir[3];
    OEE = pfw_board.dir[4];
}

/* The pins read back their level; for an output that is the driven level. */
void fx2_read_levels(void) {
    pfw_board.level[0] = IOA;
    pfw_board.level[1] = IOB;
    pfw_board.level[2] = IOC;
    pfw_board.level[3] = IOD;
    pfw_board.level[4] = IOE;
    pfw_board.ready = GPIFREADYSTAT & 0x01;
}

/* Timer 0 counts CLKOUT/12 = 4 MHz at 48 MHz: four ticks a microsecond. */
static void wait_ticks(uint16_t ticks) {
    ticks = (uint16_t)(0 - ticks);
    TR0 = 0;
    TH0 = (uint8_t)(ticks >> 8);
    TL0 = (uint8_t)ticks;
    TF0 = 0;
    TR0 = 1;
    while (!TF0)
        ;
    TR0 = 0;
}

void fx2_wait_us(uint16_t us) {
    while (us > 16000) {
        wait_ticks(64000);
        us -= 16000;
    }
    if (us)
        wait_ticks((uint16_t)(us * 4));
}

static __data uint32_t steps_left;

void fx2_deadline(uint16_t ms) {
    steps_left = (uint32_t)ms * 100;
}

uint8_t fx2_expired(void) {
    if (steps_left == 0)
        return 1;
    steps_left--;
    wait_ticks(40);
    return 0;
}

/* A new command while both EP6 buffers are still full means the host gave up reading: the
 * stale answer is dropped instead of blocking the loop, and the host's transaction check and
 * flush take care of the rest. While the running command's payload still arrives, the waiting
 * packet is its own, so the firmware keeps waiting. */
PFW_XDATA uint8_t* fx2_out_buffer(void) {
    while (EP2468STAT & EP2468STAT_EP6F) {
        if (pfw_board.write_left == 0 && command_waiting()) {
            drop_answers();
            return 0;
        }
    }
    return (PFW_XDATA uint8_t*)EP6FIFOBUF;
}

void fx2_out_commit(uint16_t n) {
    EP6BCH = (uint8_t)(n >> 8);
    SYNCDELAY;
    EP6BCL = (uint8_t)(n & 0xFF);
    SYNCDELAY;
}

/* --- The loop -------------------------------------------------------------------------------- */

static void init(void) {
    CPUCS = (uint8_t)((CPUCS & ~CPUCS_CLKSPD_MASK) | CPUCS_CLKSPD_48MHZ);
    /* All five ports as plain I/O: no slave FIFO or GPIF on B and D, no alternate functions. */
    IFCONFIG = (uint8_t)(IFCONFIG & ~IFCONFIG_IFCFG_MASK);
    PORTACFG = 0;
    PORTCCFG = 0;
    PORTECFG = 0;
    SYNCDELAY;
    REVCTL = REVCTL_DYN_OUT | REVCTL_ENH_PKT;
    SYNCDELAY;
    /* A reloaded firmware may find packets of the previous run in the endpoints. */
    FIFORESET = FIFORESET_NAKALL;
    SYNCDELAY;
    FIFORESET = 4;
    SYNCDELAY;
    FIFORESET = 6;
    SYNCDELAY;
    FIFORESET = 0;
    SYNCDELAY;
    /* EP4 is double buffered: arm both. */
    arm_command_endpoint();
    arm_command_endpoint();
    /* Timer 0 16-bit for the time base, timer 1 8-bit auto-reload for the UART. */
    TMOD = 0x21;

    pfw_init(&pfw_board);
    fx2_write_ports();
    fx2_i2c_speed();
}

void main(void) {
    uint16_t n;

    init();
    for (;;) {
        if (!command_waiting()) {
            fx2_par_poll();
            continue;
        }
        n = (uint16_t)(((uint16_t)EP4BCH << 8) | EP4BCL);
        pfw_board.high_speed = (USBCS & USBCS_HSM) ? 1 : 0;
        if (pfw_receive(&pfw_board, (const PFW_XDATA uint8_t*)EP4FIFOBUF, n, max_packet()) &&
            pfw_board.flush_request) {
            drop_answers();
            pfw_board.flush_request = 0;
        }
        arm_command_endpoint();
    }
}
