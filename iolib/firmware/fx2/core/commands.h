/*
 * Command dispatch inside the protocol core. Every family of commands has its own file with a
 * table of handlers; fwcore.c frames the answer and runs the handler the command code names, so a
 * new family adds a file and one line to the list of families, not a case to a switch.
 */
#ifndef PORTIVA_FW_COMMANDS_H
#define PORTIVA_FW_COMMANDS_H

#include "fwcore.h"

/* On the board the command context lives in external RAM (internal RAM is scarce) and the tables
 * in code memory, each reached through a pointer of its own memory space. */
#ifdef __SDCC
#define PFW_XDATA __xdata
#define PFW_CODE __code
#else
#define PFW_XDATA
#define PFW_CODE
#endif

/* Header offsets. */
#define PFW_HDR_COMMAND 0
#define PFW_HDR_TRANSACTION 1
#define PFW_HDR_STATUS_REQUEST 2
#define PFW_HDR_P3 3
#define PFW_HDR_P4 4 /* 16 bit, little endian */
#define PFW_HDR_P6 6 /* 16 bit, little endian */
#define PFW_HDR_READ_LEN 8
#define PFW_HDR_WRITE_LEN 12

/* One command as its handler sees it. */
typedef struct pfw_cmd {
    pfw_state* st;
    const uint8_t* header;  /* the parameters P3, P4 and P6 are read from it */
    const uint8_t* payload; /* write_len bytes behind the header */
    uint16_t read_len;      /* the core rejects lengths beyond 16 bits before dispatch */
    uint16_t write_len;
    uint8_t* data; /* the answer's read_len data bytes, zeroed; fill them for a read */
} pfw_cmd;

/* Carries the command out and returns 1, or returns 0 without changing anything when the lengths
 * or parameters are not the command's own; the core then reports PFW_STATUS_REJECTED. One pointer
 * argument only: sdcc passes it in registers, so a non-reentrant handler can be called through a
 * table. */
typedef uint8_t (*pfw_handler)(PFW_XDATA pfw_cmd* cmd);

typedef struct pfw_command {
    uint8_t code;
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

#endif
