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

/* Endpoint buffers as the CPU sees them. */
__xdata __at(0xF400) volatile uint8_t EP4FIFOBUF[512];
__xdata __at(0xF800) volatile uint8_t EP6FIFOBUF[512];

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

/* A write to FIFORESET, OUTPKTEND, EPxBCH/L, REVCTL and some other FIFO registers must be kept a
 * few CPU cycles apart from the next access to the 0xE6xx page (TRM section 15.14, "synchronization
 * delay"); the bound depends on the ratio of CPU and interface clock. Six no-ops cover the
 * internal interface clock (30 or 48 MHz) with the CPU at 48 MHz. */
#define SYNCDELAY __asm__("nop\n\tnop\n\tnop\n\tnop\n\tnop\n\tnop")

#endif
