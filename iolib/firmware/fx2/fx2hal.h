/*
 * What the FX2 layer's files share: the one protocol state, the time base, and the pieces the
 * main loop calls.
 */
#ifndef PORTIVA_FX2HAL_H
#define PORTIVA_FX2HAL_H

#include "hal.h"

extern __xdata pfw_state pfw_board;

/* Counts down a time-out in steps of 10 microseconds: fx2_deadline(ms) starts it,
 * fx2_expired() waits one step and says whether the time ran out. */
void fx2_deadline(uint16_t ms);
uint8_t fx2_expired(void);

/* Serial port 0: receive interrupt (its prototype must be seen by main.c for the vector). */
void fx2_uart_isr(void) __interrupt(4);

/* Parallel bus: moves output packets to the bus and runs an armed input; called by the loop. */
void fx2_par_poll(void);

#endif
