/*
 * Command dispatch inside the protocol core. Every family of commands has its own file with a
 * table of handlers; fwcore.c frames the answer and runs the handler the command code names, so a
 * new family adds a file and one line to the list of families, not a case to a switch.
 */
#ifndef PORTIVA_FW_COMMANDS_H
#define PORTIVA_FW_COMMANDS_H

#include "fwcore.h"
#include "hal.h"

/* Header offsets. */
#define PFW_HDR_COMMAND 0
#define PFW_HDR_TRANSACTION 1
#define PFW_HDR_STATUS_REQUEST 2
#define PFW_HDR_P3 3
#define PFW_HDR_P4 4 /* 16 bit, little endian */
#define PFW_HDR_P6 6 /* 16 bit, little endian */
#define PFW_HDR_READ_LEN 8
#define PFW_HDR_WRITE_LEN 12

/* Carries the command out and returns 1, or returns 0 without changing anything when the lengths
 * or parameters are not the command's own; the core then reports PFW_STATUS_REJECTED. A streamed
 * handler is called for each phase (PFW_PHASE_BEGIN, DATA, END; END also after a refusal in DATA
 * or a transfer cut short, with `aborted` set, so that it can release its bus); the others once
 * with the whole payload (PFW_PHASE_ALL). One pointer argument only: sdcc passes it in registers,
 * so a non-reentrant handler can be called through a table. */
typedef uint8_t (*pfw_handler)(PFW_XDATA pfw_cmd* cmd);

#define PFW_STREAMED 1 /* flags: the handler takes the payload as it arrives */

/* The core refuses a command whose ReadLen or WriteLen differs from the table's values before
 * its handler runs; PFW_ANY leaves that length to the handler. */
#define PFW_ANY 0xFF

typedef struct pfw_command {
    uint8_t code;
    uint8_t flags;
    uint8_t read_len;
    uint8_t write_len;
    pfw_handler run;
} pfw_command;

typedef struct pfw_family {
    const PFW_CODE pfw_command* commands;
    uint8_t count;
} pfw_family;

/* CmdGetFirmwareInfo, CmdGetStatus, CmdFlush. */
extern const PFW_CODE pfw_family pfw_frame_family;
/* CmdSetPortState, CmdSetPortDir, CmdGetPortState. */
extern const PFW_CODE pfw_family pfw_port_family;
/* CmdI2cTransfer, CmdI2cSetSpeed, CmdSetTimeout. */
extern const PFW_CODE pfw_family pfw_i2c_family;
/* CmdSpiTransfer, CmdUartWrite, CmdUartRead. */
extern const PFW_CODE pfw_family pfw_serial_family;
/* CmdParInit, CmdParIn, CmdParSetWaveforms, CmdDaMedSF, CmdParSetAutomode. */
extern const PFW_CODE pfw_family pfw_par_family;

/* Appends one data byte to the answer of the running command (nothing beyond its ReadLen). */
#ifdef __SDCC
void pfw_answer(uint8_t byte);
#define pfw_answer_byte(st, byte) pfw_answer(byte)
#else
void pfw_answer_byte(PFW_XDATA pfw_state* st, uint8_t byte);
#endif

/* The state and the command context as the core's code reaches them. The board has exactly one
 * state, at a fixed address, and a direct access is far shorter 8051 code than one through a
 * pointer; host programs run many boards and go through the pointers. */
#ifdef __SDCC
extern __xdata pfw_state pfw_board;
#define ST (&pfw_board)
#define CMD (&pfw_board.cmd)
#else
#define ST st
#define CMD cmd
#endif

/* Little-endian fields. */
#ifdef __SDCC
/* sdcc keeps multi-byte values little endian and the 8051 knows no alignment. */
#define PFW_LE16(p) (*(const PFW_XDATA uint16_t*)(p))
#define PFW_LE32(p) (*(const PFW_XDATA uint32_t*)(p))
#else
#define PFW_LE16(p) ((uint16_t)((p)[0] | ((uint16_t)(p)[1] << 8)))
#define PFW_LE32(p)                                                                                \
    ((uint32_t)(p)[0] | ((uint32_t)(p)[1] << 8) | ((uint32_t)(p)[2] << 16) |                       \
     ((uint32_t)(p)[3] << 24))
#endif

#endif
