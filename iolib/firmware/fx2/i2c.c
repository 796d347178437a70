/* I2C master on the FX2's I2C controller (I2CS, I2DAT, I2CTL). */
#include "fx2hal.h"
#include "fx2regs.h"

/* The controller needs a dummy read of I2DAT to clock in the first byte of a read. */
static __data uint8_t first_read;

/* Waits for the byte in flight; a bus error or a time-out ends the transfer. */
static uint8_t wait_done(void) {
    fx2_deadline(pfw_board.i2c_timeout);
    while (!(I2CS & I2CS_DONE)) {
        if (fx2_expired()) {
            pfw_board.bus_status |= PFW_STATUS_I2C_TIMEOUT;
            return 0;
        }
    }
    if (I2CS & I2CS_BERR) {
        pfw_board.bus_status |= PFW_STATUS_I2C_BUS_ERROR;
        return 0;
    }
    return 1;
}

static void wait_stop(void);

static void check_ack(void) {
    if (wait_done() && !(I2CS & I2CS_ACK))
        pfw_board.bus_status |= PFW_STATUS_I2C_NO_ACK;
}

void fx2_i2c_speed(void) {
    I2CTL = pfw_board.i2c_speed ? 1 : 0;
}

void fx2_i2c_start(uint8_t address_byte) {
    I2CS |= I2CS_START;
    I2DAT = address_byte;
    first_read = 1;
    check_ack();
}

void fx2_i2c_write(uint8_t byte) {
    I2DAT = byte;
    check_ack();
}

/* LASTRD must be set before the read of I2DAT that starts the last byte, and STOP before the
 * read that fetches it. */
uint8_t fx2_i2c_read(uint8_t flags) {
    uint8_t b;
    if (first_read) {
        first_read = 0;
        if (flags & PFW_I2C_LAST)
            I2CS |= I2CS_LASTRD;
        b = I2DAT;
    }
    if (!wait_done())
        return 0xFF;
    if (flags & PFW_I2C_LAST) {
        I2CS |= I2CS_STOP;
        b = I2DAT;
        wait_stop();
        return b;
    }
    if (flags & PFW_I2C_NEXT_LAST)
        I2CS |= I2CS_LASTRD;
    return I2DAT;
}

/* Sends a stop and waits until the bus is free. */
void fx2_i2c_stop(void) {
    I2CS |= I2CS_STOP;
    wait_stop();
}

static void wait_stop(void) {
    fx2_deadline(pfw_board.i2c_timeout);
    while (I2CS & I2CS_STOP) {
        if (fx2_expired()) {
            pfw_board.bus_status |= PFW_STATUS_I2C_TIMEOUT;
            return;
        }
    }
}
