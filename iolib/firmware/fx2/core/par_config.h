/*
 * The parallel bus configuration array (payload of CmdParInit): 152 bytes, or 172 when bit 7 of
 * byte 0 is set. Bytes 1 onward are values for the FX2's interface and GPIF registers, written in
 * this order by the FX2 layer, and the GPIF waveform memory. The board runs its bus as GPIF
 * master (IFCONFIG bits 1..0 = 10); a configuration for any other interface mode is refused.
 *
 *   offset  register (FX2 address)        meaning
 *     0     flags                         bit 7: 172-byte form; bit 0: 16-bit bus (the firmware
 *                                         sets WORDWIDE of both FIFOs from it)
 *     1     IFCONFIG (E601)               0xEE internal 48 MHz clock, 0x4E external clock,
 *                                         0x0E external 30 MHz clock; GPIF master, asynchronous
 *     2     GPIFIDLECS (E6C1)             data bus driven or floating while idle
 *     3     GPIFIDLECTL (E6C2)            CTL0..5 levels while idle
 *     4     GPIFCTLCFG (E6C3)             CTL outputs: CMOS or open drain, TRICTL
 *     5     GPIFREADYCFG (E6F3)           internal ready, synchronous RDY sampling
 *     6     FIFOPINPOLAR (E609)
 *     7     EP2FIFOCFG (E618)             output FIFO (WORDWIDE from the flags)
 *     8     EP8FIFOCFG (E61B)             input FIFO (WORDWIDE from the flags)
 *     9     PINFLAGSAB (E602)
 *    10     PINFLAGSCD (E603)
 *    11     GPIFADRH (E6C4)               bus address for the transactions
 *    12     GPIFADRL (E6C5)
 *    13     PORTCCFG (E671)               0xFF: port C carries GPIFADR0..7
 *    14     PORTECFG (E672)               bit 7: GPIFADR8 on port E
 *    15     GPIFWFSELECT (E6C0)           which waveform runs which transaction: bits 1..0 FIFO
 *                                         read, 3..2 FIFO write, 5..4 single read, 7..6 single
 *                                         write; CmdParSetWaveforms replaces bits 3..0
 *    16     EP2GPIFFLGSEL (E6D2)
 *    17     EP2GPIFPFSTOP (E6D3)
 *    18     EP8GPIFFLGSEL (E6EA)
 *    19     EP8GPIFPFSTOP (E6EB)
 *    20     GPIFHOLDAMOUNT (E60C)
 *  21..23   reserved, 0
 *  24..151  waveform memory WAVEDATA (E400..E47F): four waveforms of 32 bytes, each eight
 *           LENGTH/BRANCH, eight OPCODE, eight OUTPUT and eight LOGIC FUNCTION bytes for the
 *           states S0..S7
 *  152..159 (172-byte form) flow state: FLOWSTATE, FLOWLOGIC, FLOWEQ0CTL, FLOWEQ1CTL,
 *           FLOWHOLDOFF, FLOWSTB, FLOWSTBEDGE, FLOWSTBHPERIOD (E6C6..E6CD)
 *  160..171 (172-byte form) reserved, 0
 */
#ifndef PORTIVA_FW_PAR_CONFIG_H
#define PORTIVA_FW_PAR_CONFIG_H

#define PFW_PAR_FLAGS 0
#define PFW_PAR_FLAG_LONG 0x80
#define PFW_PAR_FLAG_16BIT 0x01
#define PFW_PAR_IFCONFIG 1
#define PFW_PAR_GPIFIDLECS 2
#define PFW_PAR_GPIFIDLECTL 3
#define PFW_PAR_GPIFCTLCFG 4
#define PFW_PAR_GPIFREADYCFG 5
#define PFW_PAR_FIFOPINPOLAR 6
#define PFW_PAR_EP2FIFOCFG 7
#define PFW_PAR_EP8FIFOCFG 8
#define PFW_PAR_PINFLAGSAB 9
#define PFW_PAR_PINFLAGSCD 10
#define PFW_PAR_GPIFADRH 11
#define PFW_PAR_GPIFADRL 12
#define PFW_PAR_PORTCCFG 13
#define PFW_PAR_PORTECFG 14
#define PFW_PAR_GPIFWFSELECT 15
#define PFW_PAR_EP2GPIFFLGSEL 16
#define PFW_PAR_EP2GPIFPFSTOP 17
#define PFW_PAR_EP8GPIFFLGSEL 18
#define PFW_PAR_EP8GPIFPFSTOP 19
#define PFW_PAR_GPIFHOLDAMOUNT 20
#define PFW_PAR_REGISTER_COUNT 20 /* offsets 1..20 */
#define PFW_PAR_WAVEDATA 24
#define PFW_PAR_WAVEDATA_SIZE 128
#define PFW_PAR_WAVEFORM_SIZE 32
#define PFW_PAR_FLOW 152
#define PFW_PAR_FLOW_SIZE 8
#define PFW_PAR_SHORT_LENGTH 152
#define PFW_PAR_LONG_LENGTH 172

/* Waveform numbers in the built-in configurations (GPIFWFSELECT 0x4E). */
#define PFW_PAR_WF_SINGLE_READ 0
#define PFW_PAR_WF_SINGLE_WRITE 1
#define PFW_PAR_WF_FIFO_READ 2
#define PFW_PAR_WF_FIFO_WRITE 3

/* IFCONFIG bits 1..0 for GPIF master. */
#define PFW_PAR_IFCFG_MASK 0x03
#define PFW_PAR_IFCFG_GPIF 0x02

#endif
