/*
 * The few EZ-USB FX2 (CY7C68013) registers this firmware uses, with the addresses of the FX2
 * Technical Reference Manual. sdcc only.
 */
#ifndef PORTIVA_FX2REGS_H
#define PORTIVA_FX2REGS_H

#include <stdint.h>

#define FX2_XREG(addr, name) __xdata __at(addr) volatile uint8_t name
#define FX2_SFR(addr, name) __sfr __at(addr) name

/* Configuration and control (external data space, 0xE600 page). */
FX2_XREG(0xE600, CPUCS);     /* CPU control: bits 4..3 CLKSPD (10 = 48 MHz) */
FX2_XREG(0xE601, IFCONFIG);  /* bits 1..0 IFCFG: 00 = ports B and D are I/O ports */
FX2_XREG(0xE604, FIFORESET); /* bit 7 NAKALL, bits 3..0 endpoint to reset */
FX2_XREG(0xE60B, REVCTL);    /* bit 1 DYN_OUT, bit 0 ENH_PKT */
FX2_XREG(0xE648, INPKTEND);
FX2_XREG(0xE649, OUTPKTEND); /* bit 7 SKIP, bits 3..0 endpoint */
FX2_XREG(0xE670, PORTACFG);  /* alternate functions of port A; 0 = plain I/O */
FX2_XREG(0xE671, PORTCCFG);
FX2_XREG(0xE672, PORTECFG);
FX2_XREG(0xE680, USBCS); /* bit 7 HSM: connected at high speed */
FX2_XREG(0xE694, EP4BCH);
FX2_XREG(0xE695, EP4BCL);
FX2_XREG(0xE698, EP6BCH);
FX2_XREG(0xE699, EP6BCL);
FX2_XREG(0xE6F4, GPIFREADYSTAT); /* levels of the RDY pins; bit 0 = RDY0 */

FX2_XREG(0xE602, PINFLAGSAB);
FX2_XREG(0xE603, PINFLAGSCD);
FX2_XREG(0xE609, FIFOPINPOLAR);
FX2_XREG(0xE60C, GPIFHOLDAMOUNT);
FX2_XREG(0xE618, EP2FIFOCFG); /* bit 4 AUTOOUT, bit 3 AUTOIN, bit 0 WORDWIDE */
FX2_XREG(0xE61B, EP8FIFOCFG);
FX2_XREG(0xE678, I2CS);  /* I2C control and status, bits below */
FX2_XREG(0xE679, I2DAT); /* I2C data */
FX2_XREG(0xE67A, I2CTL); /* bit 0: 400 kHz */
FX2_XREG(0xE69C, EP8BCH);
FX2_XREG(0xE69D, EP8BCL);
FX2_XREG(0xE6AB, EP2FIFOBCH); /* bytes in the EP2 FIFO (the interface side) */
FX2_XREG(0xE6AC, EP2FIFOBCL);
FX2_XREG(0xE6B1, EP8FIFOBCH);
FX2_XREG(0xE6B2, EP8FIFOBCL);
FX2_XREG(0xE6C0, GPIFWFSELECT);
FX2_XREG(0xE6C1, GPIFIDLECS);
FX2_XREG(0xE6C2, GPIFIDLECTL);
FX2_XREG(0xE6C3, GPIFCTLCFG);
FX2_XREG(0xE6C4, GPIFADRH);
FX2_XREG(0xE6C5, GPIFADRL);
FX2_XREG(0xE6CE, GPIFTCB3); /* transaction count, most significant byte first */
FX2_XREG(0xE6CF, GPIFTCB2);
FX2_XREG(0xE6D0, GPIFTCB1);
FX2_XREG(0xE6D1, GPIFTCB0);
FX2_XREG(0xE6D2, EP2GPIFFLGSEL);
FX2_XREG(0xE6D3, EP2GPIFPFSTOP);
FX2_XREG(0xE6EA, EP8GPIFFLGSEL);
FX2_XREG(0xE6EB, EP8GPIFPFSTOP);
FX2_XREG(0xE6F3, GPIFREADYCFG);
FX2_XREG(0xE6F5, GPIFABORT); /* any write aborts the running GPIF transaction */

/* GPIF waveform memory (four waveforms of 32 bytes) and the flow-state registers. */
__xdata __at(0xE400) volatile uint8_t WAVEDATA[128];
__xdata __at(0xE6C6) volatile uint8_t FLOWSTATE_REGS[8];

/* Endpoint buffers as the CPU sees them. */
__xdata __at(0xF400) volatile uint8_t EP4FIFOBUF[512];
__xdata __at(0xF800) volatile uint8_t EP6FIFOBUF[512];
__xdata __at(0xFC00) volatile uint8_t EP8FIFOBUF[512];

/* Special function registers. */
FX2_SFR(0x80, IOA);
FX2_SFR(0x90, IOB);
FX2_SFR(0xA0, IOC);
FX2_SFR(0xB0, IOD);
FX2_SFR(0xB1, IOE);
FX2_SFR(0xB2, OEA); /* 1 = output */
FX2_SFR(0xB3, OEB);
FX2_SFR(0xB4, OEC);
FX2_SFR(0xB5, OED);
FX2_SFR(0xB6, OEE);
FX2_SFR(0xAA, EP2468STAT); /* endpoint empty/full flags, below */
FX2_SFR(0x87, PCON);       /* bit 7 SMOD0: double baud rate of serial port 0 */
FX2_SFR(0x89, TMOD);
FX2_SFR(0x8A, TL0);
FX2_SFR(0x8B, TL1);
FX2_SFR(0x8C, TH0);
FX2_SFR(0x8D, TH1);
FX2_SFR(0x8E, CKCON); /* bit 4 T1M, bit 3 T0M: timer clock CLKOUT/4 instead of /12 */
FX2_SFR(0x98, SCON0);
FX2_SFR(0x99, SBUF0);
FX2_SFR(0xA8, IE);
FX2_SFR(0xBB, GPIFTRIG); /* bit 7 DONE (read), bit 2 read, bits 1..0 endpoint (0 EP2, 3 EP8) */

/* Bit-addressable SFR bits. */
__sbit __at(0x8C) TR0;
__sbit __at(0x8D) TF0;
__sbit __at(0x8E) TR1;
__sbit __at(0x98) RI;
__sbit __at(0x99) TI;
__sbit __at(0xAC) ES0;
__sbit __at(0xAF) EA;
__sbit __at(0x84) PA4; /* SPI MISO */
__sbit __at(0x85) PA5; /* SPI clock */
__sbit __at(0x86) PA6; /* SPI MOSI */
__sbit __at(0x87) PA7; /* SPI chip select */

#define CPUCS_CLKSPD_MASK 0x18
#define CPUCS_CLKSPD_48MHZ 0x10
#define IFCONFIG_IFCFG_MASK 0x03
#define FIFORESET_NAKALL 0x80
#define REVCTL_DYN_OUT 0x02
#define REVCTL_ENH_PKT 0x01
#define OUTPKTEND_SKIP 0x80
#define USBCS_HSM 0x80
#define EP2468STAT_EP4E 0x04 /* EP4 OUT: no packet waiting */
#define EP2468STAT_EP6F 0x20 /* EP6 IN: both buffers committed, none free */
#define EP2468STAT_EP2E 0x01 /* EP2 OUT: no packet waiting */
#define EP2468STAT_EP8F 0x80 /* EP8 IN: no buffer free */
#define I2CS_START 0x80
#define I2CS_STOP 0x40
#define I2CS_LASTRD 0x20
#define I2CS_BERR 0x04
#define I2CS_ACK 0x02
#define I2CS_DONE 0x01
#define FIFOCFG_AUTOOUT 0x10
#define FIFOCFG_AUTOIN 0x08
#define FIFOCFG_WORDWIDE 0x01
#define GPIFTRIG_DONE 0x80
#define GPIFTRIG_READ 0x04
#define GPIFTRIG_EP2 0
#define GPIFTRIG_EP8 3

/* A write to FIFORESET, OUTPKTEND, EPxBCH/L, REVCTL and some other FIFO registers must be kept a
 * few CPU cycles apart from the next access to the 0xE6xx page (TRM section 15.14, "synchronization
 * delay"); the bound depends on the ratio of CPU and interface clock, about six instruction cycles
 * for the internal interface clock (30 or 48 MHz) with the CPU at 48 MHz. A call and return of an
 * empty function take eight and cost three bytes of code instead of six no-ops. */
void fx2_sync_delay(void);
#define SYNCDELAY fx2_sync_delay()

#endif
