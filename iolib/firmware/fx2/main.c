/*
 * FX2 layer of the Portiva board firmware: endpoints and port registers around the protocol core.
 *
 * The library loads this program into the controller's RAM with the built-in loader and starts
 * it. The firmware leaves RENUM at 0, so the controller's built-in USB core keeps answering
 * endpoint 0 with its default descriptors; their alternate setting 1 of interface 0 offers bulk
 * endpoints 2 and 4 OUT and 6 and 8 IN (512-byte packets at high speed, 64 at full speed), and the
 * endpoint registers come out of reset configured to match (valid, bulk, double buffered, EP2/EP4
 * OUT, EP6/EP8 IN). Commands arrive on EP4 OUT (0x04), answers leave on EP6 IN (0x86).
 *
 * No interrupts: one loop polls EP4, joins the packets of a command transfer, runs the core,
 * copies latches and directions to the port registers and sends the answer.
 */
#include "fwcore.h"
#include "fx2regs.h"

/* One high-speed packet holds a header and up to 496 payload bytes; longer transfers are
 * rejected. Answers carry at most 252 data bytes (the port read needs 6). */
#define CMD_BUF_SIZE PFW_COMMAND_BUFFER_SIZE
#define ANSWER_BUF_SIZE PFW_ANSWER_BUFFER_SIZE

static __xdata pfw_state state;
static __xdata pfw_collector collector;
static __xdata uint8_t cmd_buf[CMD_BUF_SIZE];
static __xdata uint8_t answer_buf[ANSWER_BUF_SIZE];

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

/* The pins read back their level; for an output that is the driven level. */
static void read_ports(void) {
    state.level[0] = IOA;
    state.level[1] = IOB;
    state.level[2] = IOC;
    state.level[3] = IOD;
    state.level[4] = IOE;
    state.ready = GPIFREADYSTAT & 0x01;
}

/* Latches before drivers, so that a line turned into an output starts at its new level. */
static void write_ports(void) {
    IOA = state.latch[0];
    IOB = state.latch[1];
    IOC = state.latch[2];
    IOD = state.latch[3];
    IOE = state.latch[4];
    OEA = state.dir[0];
    OEB = state.dir[1];
    OEC = state.dir[2];
    OED = state.dir[3];
    OEE = state.dir[4];
}

/* Sends the answer in packets of the bus's size. A new command while both EP6 buffers are still
 * full means the host gave up reading: the stale answers are dropped instead of blocking the
 * loop, and the host's transaction check and flush take care of the rest. */
static void send_answer(uint16_t len) {
    uint16_t off = 0;
    uint16_t chunk;
    uint16_t i;
    uint16_t packet = max_packet();

    while (off < len) {
        while (EP2468STAT & EP2468STAT_EP6F) {
            if (command_waiting()) {
                drop_answers();
                return;
            }
        }
        chunk = len - off;
        if (chunk > packet)
            chunk = packet;
        for (i = 0; i < chunk; i++)
            EP6FIFOBUF[i] = answer_buf[off + i];
        EP6BCH = (uint8_t)(chunk >> 8);
        SYNCDELAY;
        EP6BCL = (uint8_t)(chunk & 0xFF);
        SYNCDELAY;
        off += chunk;
    }
}

static void run_command(void) {
    uint16_t len;

    state.high_speed = (USBCS & USBCS_HSM) ? 1 : 0;
    read_ports();
    if (collector.received > CMD_BUF_SIZE)
        len = pfw_reject(&state, cmd_buf, answer_buf, ANSWER_BUF_SIZE);
    else
        len = pfw_process(&state, cmd_buf, collector.received, answer_buf, ANSWER_BUF_SIZE);
    write_ports();
    if (state.flush_request) {
        drop_answers();
        state.flush_request = 0;
    }
    if (len != 0)
        send_answer(len);
}

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

    pfw_init(&state);
    write_ports();
    pfw_collect_reset(&collector);
}

void main(void) {
    uint16_t n;
    uint8_t done;

    init();
    for (;;) {
        if (!command_waiting())
            continue;
        n = (uint16_t)(((uint16_t)EP4BCH << 8) | EP4BCL);
        done = pfw_collect(&collector, cmd_buf, CMD_BUF_SIZE, (const uint8_t*)EP4FIFOBUF, n,
                           max_packet());
        arm_command_endpoint();
        if (done) {
            run_command();
            pfw_collect_reset(&collector);
        }
    }
}
