/*
 * The hardware layer the protocol core calls. The FX2 build implements these functions on the
 * controller's registers (the fx2 folder); host programs get fwcore_host.c, which forwards them to
 * the board's pfw_host_hal table. Bus errors are reported by OR-ing status bits into
 * st->bus_status.
 */
#ifndef PORTIVA_FW_HAL_H
#define PORTIVA_FW_HAL_H

#include "fwcore.h"

#ifndef __SDCC
/* Ports: the latches and directions of st changed (after every pattern record too). */
void pfw_hal_write_ports(PFW_XDATA pfw_state* st);
/* Fills st->level and st->ready from the pins. */
void pfw_hal_read_levels(PFW_XDATA pfw_state* st);
/* Busy wait. */
void pfw_hal_wait_us(PFW_XDATA pfw_state* st, uint16_t us);

/* Answer endpoint: a buffer for the next packet (waiting until one is free), or 0 when the host
 * gave up reading and the answer is to be dropped; then the packet of n bytes is sent. */
PFW_XDATA uint8_t* pfw_hal_out_buffer(PFW_XDATA pfw_state* st);
void pfw_hal_out_commit(PFW_XDATA pfw_state* st, uint16_t n);

/* I2C master. start sends a start (a repeated start when the bus is held) and the address byte;
 * a missing acknowledge sets PFW_STATUS_I2C_NO_ACK. read clocks in one byte; with PFW_I2C_LAST
 * it is not acknowledged and a stop follows. Speed from st->i2c_speed, time-out from
 * st->i2c_timeout. */
void pfw_hal_i2c_speed(PFW_XDATA pfw_state* st);
void pfw_hal_i2c_start(PFW_XDATA pfw_state* st, uint8_t address_byte);
void pfw_hal_i2c_write(PFW_XDATA pfw_state* st, uint8_t byte);
uint8_t pfw_hal_i2c_read(PFW_XDATA pfw_state* st, uint8_t flags);
void pfw_hal_i2c_stop(PFW_XDATA pfw_state* st);

/* SPI master on port 0, mode and delay from st->spi_mode and st->spi_delay. The core handles
 * the bit order: shift always sends and receives the most significant bit first. */
void pfw_hal_spi_select(PFW_XDATA pfw_state* st, uint8_t on);
uint8_t pfw_hal_spi_shift(PFW_XDATA pfw_state* st, uint8_t out);

/* UART: the divisor in st->uart_divisor; tx waits until the byte is on its way. */
void pfw_hal_uart_setup(PFW_XDATA pfw_state* st);
void pfw_hal_uart_tx(PFW_XDATA pfw_state* st, uint8_t byte);
uint16_t pfw_hal_uart_rx_count(PFW_XDATA pfw_state* st);
uint8_t pfw_hal_uart_rx(PFW_XDATA pfw_state* st);

/* Parallel bus: a checked configuration (par_config.h), an input of `count` bytes to run, the
 * waveform choice and automatic modes of st, and a reset of the data path. */
void pfw_hal_par_config(PFW_XDATA pfw_state* st, const PFW_XDATA uint8_t* config, uint8_t length);
void pfw_hal_par_in_arm(PFW_XDATA pfw_state* st, uint32_t count);
void pfw_hal_par_mode(PFW_XDATA pfw_state* st);
void pfw_hal_par_reset(PFW_XDATA pfw_state* st);

#else
/* On the board there is one state at a fixed address: the FX2 layer takes no pointer to it. */
void fx2_write_ports(void);
#define pfw_hal_write_ports(st) fx2_write_ports()
void fx2_read_levels(void);
#define pfw_hal_read_levels(st) fx2_read_levels()
void fx2_wait_us(uint16_t us);
#define pfw_hal_wait_us(st, us) fx2_wait_us(us)
PFW_XDATA uint8_t* fx2_out_buffer(void);
#define pfw_hal_out_buffer(st) fx2_out_buffer()
void fx2_out_commit(uint16_t n);
#define pfw_hal_out_commit(st, n) fx2_out_commit(n)
void fx2_i2c_speed(void);
#define pfw_hal_i2c_speed(st) fx2_i2c_speed()
void fx2_i2c_start(uint8_t address_byte);
#define pfw_hal_i2c_start(st, address_byte) fx2_i2c_start(address_byte)
void fx2_i2c_write(uint8_t byte);
#define pfw_hal_i2c_write(st, byte) fx2_i2c_write(byte)
uint8_t fx2_i2c_read(uint8_t flags);
#define pfw_hal_i2c_read(st, flags) fx2_i2c_read(flags)
void fx2_i2c_stop(void);
#define pfw_hal_i2c_stop(st) fx2_i2c_stop()
void fx2_spi_select(uint8_t on);
#define pfw_hal_spi_select(st, on) fx2_spi_select(on)
uint8_t fx2_spi_shift(uint8_t out);
#define pfw_hal_spi_shift(st, out) fx2_spi_shift(out)
void fx2_uart_setup(void);
#define pfw_hal_uart_setup(st) fx2_uart_setup()
void fx2_uart_tx(uint8_t byte);
#define pfw_hal_uart_tx(st, byte) fx2_uart_tx(byte)
uint16_t fx2_uart_rx_count(void);
#define pfw_hal_uart_rx_count(st) fx2_uart_rx_count()
uint8_t fx2_uart_rx(void);
#define pfw_hal_uart_rx(st) fx2_uart_rx()
void fx2_par_config(const PFW_XDATA uint8_t* config, uint8_t length);
#define pfw_hal_par_config(st, config, length) fx2_par_config(config, length)
void fx2_par_in_arm(uint32_t count);
#define pfw_hal_par_in_arm(st, count) fx2_par_in_arm(count)
void fx2_par_mode(void);
#define pfw_hal_par_mode(st) fx2_par_mode()
void fx2_par_reset(void);
#define pfw_hal_par_reset(st) fx2_par_reset()
#endif

#endif
