/*
 * Portable protocol core of the Portiva board firmware.
 *
 * The same C file runs on the board (sdcc, 8051) and in host programs (the simulated board, unit
 * tests). It touches no hardware: the caller owns the registers and the endpoints and keeps them in
 * step with a pfw_state.
 *
 * Contract of pfw_process():
 *  - Input: one complete command transfer as the host writes it to bulk endpoint 0x04, i.e. the
 *    16-byte header followed by exactly WriteLen payload bytes.
 *      offset 0 command, 1 transaction number, 2 status request (non-zero asks for an answer),
 *      3 P3, 4 P4 (16 bit), 6 P6 (16 bit), 8 ReadLen (32 bit), 12 WriteLen (32 bit); little endian.
 *  - Before a command that reads lines (PFW_CMD_GET_PORT_STATE) the caller stores the present line
 *    levels in level[] and the ready line in ready. An output line must read back its driven level;
 *    on the FX2 the pin registers already do that, a simulation composes the byte with
 *    pfw_line_levels().
 *  - After the call latch[] and dir[] hold the new output latches and directions; the caller copies
 *    them to the port and direction registers. When flush_request is set, the caller discards every
 *    answer still queued for the host and clears the flag.
 *  - Output: when ReadLen is not 0 or a status was requested, the answer for bulk endpoint 0x86 is
 *    written to `answer` and its length (ReadLen + 4) returned: the echoed transaction number,
 *    ReadLen data bytes, the 24-bit status (low byte first). Otherwise 0 is returned and nothing is
 *    to be sent.
 *  - Status: bits collect until an answer reports them; every answer carries the pending status and
 *    clears it (so CmdGetStatus reads and clears it).
 *  - Rejection: an unknown command, a transfer whose length is not 16 + WriteLen, or a WriteLen or
 *    ReadLen the command does not define changes no latch or direction. It sets
 *    PFW_STATUS_REJECTED; when the host expects an answer it still gets one of the length it asked
 *    for (data bytes 0, the status with the rejection bit), so the host never waits in vain and the
 *    endpoint stays in step. A transfer shorter than a header, or one whose answer would not fit in
 *    `answer_size` bytes, cannot be answered: it returns 0 and the rejection waits for the next
 *    answer.
 *
 * Commands (ReadLen / WriteLen accepted):
 *    1 CmdSetPortState     0 / n * 16, n >= 1: each record's five (keep-mask, value) pairs are
 *                          applied in order, latch = (latch AND keep) OR value; the record's delay
 *                          field paces the pattern generator and is not played here.
 *    2 CmdSetPortDir       0 / 10: the same on the directions.
 *    3 CmdGetPortState     5 or 6 / 0: level[0..4], then ready when 6 bytes are asked for.
 *    7 CmdGetFirmwareInfo  2 / 0: the bulk packet size, 512 or 64, little endian.
 *   10 CmdGetStatus        0 / 0: nothing but the status (sent when requested).
 *   11 CmdFlush            0 / 0: sets flush_request.
 *
 * Dispatch: each family of commands (frame, ports; the bus families later) brings its own table
 * of handlers (commands.h); the core frames the answer and looks the command code up in them.
 *
 * sdcc's functions are not reentrant by default: the core uses no recursion, its handlers take a
 * single argument (passed in registers, so they can be called through the tables), and one
 * pfw_state is driven from one place at a time.
 *
 * A board receives a transfer as USB packets; pfw_collect() joins them into one buffer and tells
 * when the transfer is complete. A transfer larger than the buffer is answered with pfw_reject().
 */
#ifndef PORTIVA_FWCORE_H
#define PORTIVA_FWCORE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PFW_PORT_COUNT 5
#define PFW_HEADER_SIZE 16
#define PFW_PORT_RECORD_SIZE 16 /* CmdSetPortState: five pairs, 16-bit delay, four zero bytes */
#define PFW_DIR_RECORD_SIZE 10  /* CmdSetPortDir: five pairs */
#define PFW_ANSWER_OVERHEAD 4   /* transaction number + 3 status bytes */

/* The board's buffers: one command transfer of at most 512 bytes (a header and up to 496 payload
 * bytes), one answer of at most 256 bytes (252 data bytes). A longer command is rejected and a
 * longer answer is never sent. The simulated board keeps the same limits. */
#define PFW_COMMAND_BUFFER_SIZE 512
#define PFW_ANSWER_BUFFER_SIZE 256

/* Command codes of the header's first byte. */
#define PFW_CMD_SET_PORT_STATE 1
#define PFW_CMD_SET_PORT_DIR 2
#define PFW_CMD_GET_PORT_STATE 3
#define PFW_CMD_GET_FIRMWARE_INFO 7
#define PFW_CMD_GET_STATUS 10
#define PFW_CMD_FLUSH 11

/* Status bits (24-bit word in every answer). The host raises them shifted left by 16. */
#define PFW_STATUS_I2C_TIMEOUT 0x01UL
#define PFW_STATUS_I2C_BUS_ERROR 0x02UL
#define PFW_STATUS_I2C_NO_ACK 0x04UL
#define PFW_STATUS_EEPROM_TIMEOUT 0x08UL
#define PFW_STATUS_PAR_IN_TIMEOUT 0x10UL
#define PFW_STATUS_PAR_OUT_TIMEOUT 0x20UL
/* Firmware's own: a command was not carried out (unknown code or malformed lengths). */
#define PFW_STATUS_REJECTED 0x80UL
#define PFW_STATUS_MASK 0xFFFFFFUL

/* Bulk packet sizes reported by CmdGetFirmwareInfo. */
#define PFW_PACKET_SIZE_HIGH_SPEED 512
#define PFW_PACKET_SIZE_FULL_SPEED 64

typedef struct pfw_state {
    uint8_t latch[PFW_PORT_COUNT]; /* output latches, port 0..4 */
    uint8_t dir[PFW_PORT_COUNT];   /* direction bits, 1 = output */
    uint8_t level[PFW_PORT_COUNT]; /* line levels, filled by the caller before reading commands */
    uint8_t ready;                 /* ready line, filled by the caller before reading commands */
    uint8_t high_speed;            /* set by the caller: 1 = USB high speed (512-byte packets) */
    uint8_t flush_request;         /* set by CmdFlush; the caller acts and clears it */
    uint32_t status;               /* pending status, 24 bits used */
} pfw_state;

/* Power-on state: all lines inputs, latches 0, no status, full speed until told otherwise. */
void pfw_init(pfw_state* st);

/* Runs one command transfer; returns the answer length or 0 (see the contract above). */
uint16_t pfw_process(pfw_state* st, const uint8_t* xfer, uint32_t xfer_len, uint8_t* answer,
                     uint16_t answer_size);

/* Rejects a command whose payload could not be kept: same reaction as for a malformed one. The
 * 16-byte header must be present. Returns the answer length or 0. */
uint16_t pfw_reject(pfw_state* st, const uint8_t* header, uint8_t* answer, uint16_t answer_size);

/* Joins the packets of one command transfer. */
typedef struct pfw_collector {
    uint32_t received; /* bytes of the transfer so far, stored or not */
    uint32_t expected; /* 16 + WriteLen once the header is in, else 0 */
} pfw_collector;

void pfw_collect_reset(pfw_collector* c);

/* Appends one received packet of n bytes to buf (bytes beyond buf_size are counted, not stored).
 * Returns 1 when the transfer is complete: 16 + WriteLen bytes arrived, or a packet shorter than
 * max_packet ended it early. A zero-length packet before any data is ignored. After completion
 * the transfer occupies min(received, buf_size) bytes; reset before the next one. */
uint8_t pfw_collect(pfw_collector* c, uint8_t* buf, uint16_t buf_size, const uint8_t* packet,
                    uint16_t n, uint16_t max_packet);

/* Level byte of a port as the board reads it: output lines give their latch, input lines the
 * level applied from outside. */
uint8_t pfw_line_levels(const pfw_state* st, uint8_t port, uint8_t external);

#ifdef __cplusplus
}
#endif

#endif
