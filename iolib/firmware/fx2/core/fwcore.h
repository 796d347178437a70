/*
 * Portable protocol core of the Portiva board firmware.
 *
 * The same C files run on the board (sdcc, 8051) and in host programs (the simulated board, unit
 * tests). The core touches no hardware itself: it reaches the lines, the buses, the clock and the
 * answer endpoint through the hardware layer of hal.h, implemented once for the FX2 and once for
 * host programs.
 *
 * Streaming: a command transfer reaches the core packet by packet (pfw_receive) and is carried
 * out while it arrives; answers leave packet by packet through the hardware layer. Neither is
 * ever held whole, so an I2C write of 64 KiB, an EEPROM read of 64 KiB, a UART write of any
 * length and a pattern of thousands of records all pass through buffers of one packet.
 *
 * Command transfer: the 16-byte header followed by exactly WriteLen payload bytes.
 *      offset 0 command, 1 transaction number, 2 status request (non-zero asks for an answer),
 *      3 P3, 4 P4 (16 bit), 6 P6 (16 bit), 8 ReadLen (32 bit), 12 WriteLen (32 bit); little endian.
 * A transfer ends when 16 + WriteLen bytes arrived, or early with a packet shorter than the bus's
 * packet size (then it is malformed). A packet carrying more than the announced bytes is
 * malformed too; its payload is not carried out.
 *
 * Answer (when ReadLen is not 0 or a status was requested): the echoed transaction number,
 * ReadLen data bytes, the 24-bit status (low byte first): ReadLen + 4 bytes. ReadLen may reach
 * PFW_MAX_READ_LEN; a longer one cannot be answered (see rejection).
 *
 * Status: bits collect until an answer reports them; every answer carries the pending status and
 * clears it (so CmdGetStatus reads and clears it).
 *
 * Rejection: an unknown command, a malformed transfer, or lengths and parameters the command does
 * not define set PFW_STATUS_REJECTED. Commands that act while their payload arrives (marked
 * "streamed" below) check header and lengths before acting, so a refused command changes nothing;
 * a streamed transfer that is cut short has acted on what arrived and then ends its bus cleanly.
 * When the host expects an answer it still gets one of the length it asked for (data bytes 0
 * where nothing was read, the status with the rejection bit), so the endpoint stays in step. A
 * ReadLen beyond PFW_MAX_READ_LEN is not answered: the rejection waits for the next answer.
 *
 * Commands (ReadLen / WriteLen accepted; P3, P4, P6 from the header):
 *    1 CmdSetPortState     0 / n * 16, n >= 1, streamed: each record's five (keep-mask, value)
 *                          pairs are applied in order, latch = (latch AND keep) OR value; between
 *                          two records the board waits 50 + 2 * d microseconds, d being the
 *                          earlier record's delay field (bytes 10..11).
 *    2 CmdSetPortDir       0 / 10: the same on the directions.
 *    3 CmdGetPortState     5 or 6 / 0: the line levels, then the ready line when 6 are asked for.
 *    4 CmdI2cTransfer      streamed. Payload: the address byte (bit 0 set for a read), then for a
 *                          write the data. Write: ReadLen 0, WriteLen >= 1; read: WriteLen 1,
 *                          ReadLen = bytes to read (0: address only). P6 = 1 ends a write with a
 *                          stop, 0 keeps the bus for a repeated start (a read always stops).
 *                          P3 != 0 marks an EEPROM page write: after the stop the board polls the
 *                          address byte P3 until the EEPROM acknowledges, at most P4 times (0: no
 *                          limit) and at most the EEPROM time-out; status 0x08 when it never does.
 *                          Bus problems: 0x01 time-out, 0x02 bus error, 0x04 no acknowledge; the
 *                          transfer stops there (bytes not read are answered as 0).
 *    5 CmdI2cSetSpeed      0 / 0: P3 = 0 for 100 kHz, any other value for 400 kHz.
 *    6 CmdSpiTransfer      n / n, streamed: P3 = mode (bits 0..2) | 0x80 for LSB first, P4 = the
 *                          half-clock delay, P6 = 1 for the last block of a transfer. Every byte
 *                          sent answers with the byte clocked in. SPI lines (port 0): 4 MISO,
 *                          5 clock, 6 MOSI, 7 chip select (low from the first block to the end of
 *                          the last). Mode bit 0: MOSI idle level; bit 1: clock idles high
 *                          (CPOL); bit 2: data change on the leading clock edge (CPHA).
 *    7 CmdGetFirmwareInfo  2 / 0: the bulk packet size, 512 or 64, little endian.
 *    8 CmdParInit          0 / 152 or 172 (bit 7 of byte 0 says which): the parallel bus
 *                          configuration of par_config.h.
 *    9 CmdParIn            0 / 0: arms the parallel input of P6 | P4 << 16 bytes; the board then
 *                          sends them on endpoint 0x88, followed by one status byte (0x10 when
 *                          the bus timed out; bytes not read are sent as 0). Needs CmdParInit.
 *   10 CmdGetStatus        0 / 0: nothing but the status (sent when requested).
 *   11 CmdFlush            0 / 0: sets flush_request.
 *   12 CmdSetTimeout       0 / 0: P3 = 0 parallel bus, 1 I2C, 2 EEPROM write; P4 = milliseconds.
 *   13 CmdParSetWaveforms  0 / 0: P3 = input waveform (bits 0..1) + 4 * output waveform (bits
 *                          2..3), the waveforms of the configuration used for bus reads and writes.
 *   14 CmdDaMedSF          0 / 0: stops the parallel bus: an armed input is dropped, both
 *                          parallel FIFOs are emptied (a reset of the data path without
 *                          reconfiguring it).
 *   15 CmdParSetAutomode   0 / 0: P4 != 0 lets output packets reach the bus without the CPU,
 *                          P6 != 0 the same for input packets.
 *   32 CmdUartWrite        0 / n, streamed: P4 = divisor (low byte timer-1 reload, high byte bit
 *                          0 doubles the baud rate, bit 1 clocks the timer at CLKOUT/4 instead of
 *                          /12); the payload is sent on TXD. A changed divisor is set up first.
 *   33 CmdUartRead         n >= 2 / 0: a 16-bit count of received bytes (at most n - 2), then the
 *                          bytes taken from the receive buffer, the rest 0.
 *
 * Dispatch: each family of commands brings its own table of handlers (commands.h); the core
 * frames the answer and looks the command code up in them.
 *
 * sdcc's functions are not reentrant by default: the core uses no recursion, its handlers take a
 * single argument (passed in registers, so they can be called through the tables), and one
 * pfw_state is driven from one place at a time.
 */
#ifndef PORTIVA_FWCORE_H
#define PORTIVA_FWCORE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* On the board the state, the command context and every buffer the core touches (payloads, the
 * endpoint buffers) live in external RAM and the tables in code memory, each reached through a
 * pointer of its own memory space: far smaller code than generic pointers. */
#ifdef __SDCC
#define PFW_XDATA __xdata
#define PFW_CODE __code
#else
#define PFW_XDATA
#define PFW_CODE
#endif

#define PFW_PORT_COUNT 5
#define PFW_HEADER_SIZE 16
#define PFW_PORT_RECORD_SIZE 16 /* CmdSetPortState: five pairs, 16-bit delay, four zero bytes */
#define PFW_DIR_RECORD_SIZE 10  /* CmdSetPortDir: five pairs */
#define PFW_ANSWER_OVERHEAD 4   /* transaction number + 3 status bytes */

/* Payload kept whole for the commands that need it at once (the longest is the parallel bus
 * configuration); streamed commands need none. */
#define PFW_PAYLOAD_BUFFER_SIZE 176
/* Data bytes a command that is not streamed can answer (the port read needs 6). */
#define PFW_SMALL_ANSWER_SIZE 8
/* The longest answer data the board sends: an EEPROM read of 64 KiB. */
#define PFW_MAX_READ_LEN 0x10000UL

/* Command codes of the header's first byte. */
#define PFW_CMD_SET_PORT_STATE 1
#define PFW_CMD_SET_PORT_DIR 2
#define PFW_CMD_GET_PORT_STATE 3
#define PFW_CMD_I2C_TRANSFER 4
#define PFW_CMD_I2C_SET_SPEED 5
#define PFW_CMD_SPI_TRANSFER 6
#define PFW_CMD_GET_FIRMWARE_INFO 7
#define PFW_CMD_PAR_INIT 8
#define PFW_CMD_PAR_IN 9
#define PFW_CMD_GET_STATUS 10
#define PFW_CMD_FLUSH 11
#define PFW_CMD_SET_TIMEOUT 12
#define PFW_CMD_PAR_SET_WAVEFORMS 13
#define PFW_CMD_DA_MED_SF 14
#define PFW_CMD_PAR_SET_AUTOMODE 15
#define PFW_CMD_UART_WRITE 32
#define PFW_CMD_UART_READ 33

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

/* Time-outs after power-on, in milliseconds (CmdSetTimeout changes them). */
#define PFW_DEFAULT_PAR_TIMEOUT 10
#define PFW_DEFAULT_I2C_TIMEOUT 100
#define PFW_DEFAULT_EEPROM_TIMEOUT 50
/* Pause between two acknowledge polls of an EEPROM write, microseconds. */
#define PFW_EEPROM_POLL_US 100
/* The board's own time per pattern record; the record's delay adds twice its value. */
#define PFW_PATTERN_BASE_US 50

/* Flags of pfw_hal_i2c_read(). */
#define PFW_I2C_LAST 0x01      /* the last byte of the read: not acknowledged, then a stop */
#define PFW_I2C_NEXT_LAST 0x02 /* the byte after this one is the last */

/* SPI mode bits of P3 (CmdSpiTransfer). */
#define PFW_SPI_MOSI_IDLE 0x01
#define PFW_SPI_CPOL 0x02
#define PFW_SPI_CPHA 0x04
#define PFW_SPI_LSB_FIRST 0x80
/* SPI lines on port 0. */
#define PFW_SPI_MISO 0x10
#define PFW_SPI_CLOCK 0x20
#define PFW_SPI_MOSI 0x40
#define PFW_SPI_SELECT 0x80

struct pfw_state;
#ifndef __SDCC
/* Host programs give each board its own hardware: hal.h's functions forward to this table (a
 * missing entry behaves as an empty bus: nothing acknowledges, MISO reads 1, no UART data). */
typedef struct pfw_host_hal {
    void (*write_ports)(PFW_XDATA struct pfw_state* st);
    void (*read_levels)(PFW_XDATA struct pfw_state* st);
    void (*wait_us)(PFW_XDATA struct pfw_state* st, uint16_t us);
    PFW_XDATA uint8_t* (*out_buffer)(PFW_XDATA struct pfw_state* st);
    void (*out_commit)(PFW_XDATA struct pfw_state* st, uint16_t n);
    void (*i2c_speed)(PFW_XDATA struct pfw_state* st);
    void (*i2c_start)(PFW_XDATA struct pfw_state* st, uint8_t address_byte);
    void (*i2c_write)(PFW_XDATA struct pfw_state* st, uint8_t byte);
    uint8_t (*i2c_read)(PFW_XDATA struct pfw_state* st, uint8_t flags);
    void (*i2c_stop)(PFW_XDATA struct pfw_state* st);
    void (*spi_select)(PFW_XDATA struct pfw_state* st, uint8_t on);
    uint8_t (*spi_shift)(PFW_XDATA struct pfw_state* st, uint8_t out);
    void (*uart_setup)(PFW_XDATA struct pfw_state* st);
    void (*uart_tx)(PFW_XDATA struct pfw_state* st, uint8_t byte);
    uint16_t (*uart_rx_count)(PFW_XDATA struct pfw_state* st);
    uint8_t (*uart_rx)(PFW_XDATA struct pfw_state* st);
    void (*par_config)(PFW_XDATA struct pfw_state* st, const PFW_XDATA uint8_t* config,
                       uint8_t length);
    void (*par_in_arm)(PFW_XDATA struct pfw_state* st, uint32_t count);
    void (*par_mode)(PFW_XDATA struct pfw_state* st);
    void (*par_reset)(PFW_XDATA struct pfw_state* st);
} pfw_host_hal;
#endif

/* One command as its handler sees it. */
typedef struct pfw_cmd {
    PFW_XDATA struct pfw_state* st;
    const PFW_XDATA uint8_t* header; /* the parameters P3, P4 and P6 are read from it */
    const PFW_XDATA uint8_t*
        payload;       /* whole payload, or for a streamed command the chunk at hand */
    uint32_t read_len; /* at most PFW_MAX_READ_LEN by the time a handler runs */
    uint32_t write_len;
    uint16_t chunk_len;      /* streamed: bytes at payload */
    uint8_t phase;           /* PFW_PHASE_* */
    uint8_t aborted;         /* PFW_PHASE_END of a transfer that was cut short or refused later */
    PFW_XDATA uint8_t* data; /* not streamed: the answer's read_len data bytes, zeroed */
} pfw_cmd;

#define PFW_PHASE_ALL 0   /* not streamed: the whole payload at once */
#define PFW_PHASE_BEGIN 1 /* streamed: header only; check it and refuse with 0 */
#define PFW_PHASE_DATA 2  /* streamed: chunk_len payload bytes at payload */
#define PFW_PHASE_END 3   /* streamed: all payload arrived (or aborted); answer now */

typedef struct pfw_state {
    uint8_t latch[PFW_PORT_COUNT]; /* output latches, port 0..4 */
    uint8_t dir[PFW_PORT_COUNT];   /* direction bits, 1 = output */
    uint8_t level[PFW_PORT_COUNT]; /* line levels (pfw_hal_read_levels fills them) */
    uint8_t ready;                 /* ready line, likewise */
    uint8_t high_speed;            /* set by the caller: 1 = USB high speed (512-byte packets) */
    uint8_t flush_request;         /* set by CmdFlush; the caller acts and clears it */
    uint32_t status;               /* pending status, 24 bits used */

    /* Settings. */
    uint16_t par_timeout; /* milliseconds */
    uint16_t i2c_timeout;
    uint16_t eeprom_timeout;
    uint8_t i2c_speed; /* 0 = 100 kHz, else 400 kHz */
    uint8_t spi_mode;  /* P3 of the running SPI block */
    uint16_t spi_delay;
    uint8_t spi_selected;
    uint8_t uart_ready; /* uart_divisor has been set up */
    uint16_t uart_divisor;
    uint8_t par_flags;     /* byte 0 of the configuration with bit 6 set; 0 while unconfigured */
    uint8_t par_waveforms; /* P3 of CmdParSetWaveforms */
    uint8_t par_auto_out;
    uint8_t par_auto_in;

    /* Bus scratch the hardware layer reports to. */
    uint8_t bus_status; /* I2C status bits of the running transfer */
    uint8_t seq;        /* counts commands, so a layer can tell one transfer from the next */

    /* The command being received. */
    uint8_t hdr[PFW_HEADER_SIZE];
    uint8_t hdr_fill;
    uint8_t accepted; /* the handler has not refused */
    uint8_t streamed;
    uint8_t began;        /* a streamed handler accepted its header and is owed its end */
    uint8_t refuse;       /* the next header is refused without being carried out */
    uint8_t answering;    /* an answer is owed */
    uint8_t answer_lost;  /* the hardware layer dropped the answer */
    uint32_t write_left;  /* payload bytes still to come */
    uint32_t answer_left; /* answer data bytes still owed */
    uint16_t payload_fill;
    uint8_t payload[PFW_PAYLOAD_BUFFER_SIZE];
    uint8_t small_answer[PFW_SMALL_ANSWER_SIZE];
    uint16_t record_fill; /* pattern record being received */
    uint16_t records;     /* records applied by this command, saturating */
    uint16_t record_delay;
    uint8_t record[PFW_PORT_RECORD_SIZE];
    uint8_t i2c_address;   /* address byte of the running transfer */
    uint8_t i2c_addressed; /* ... once it arrived */
    uint8_t i2c_busy;      /* the running transfer holds the bus */
    pfw_cmd cmd;

    /* The answer packet being filled. */
    PFW_XDATA uint8_t* out;
    uint16_t out_fill;
    uint16_t packet_size; /* of the bus, from pfw_receive */

#ifndef __SDCC
    const pfw_host_hal* hal; /* host hardware; may be 0 */
    void* hal_context;
    uint8_t* sink; /* pfw_process: the answer goes to memory instead */
    uint16_t sink_fill;
#endif
} pfw_state;

/* Power-on state: all lines inputs, latches 0, no status, full speed until told otherwise,
 * default time-outs, no command in progress. Host fields (hal, hal_context) are kept. */
void pfw_init(PFW_XDATA pfw_state* st);

/* Drops a partly received command (a new alternate setting, a reset of the endpoint). */
void pfw_stream_reset(PFW_XDATA pfw_state* st);

/* One packet of n bytes from the command endpoint; max_packet is the bus's packet size. Carries
 * out what it can and returns 1 when a command transfer ended with this packet (its answer has
 * then been handed to the hardware layer). A zero-length packet before any data is ignored. */
uint8_t pfw_receive(PFW_XDATA pfw_state* st, const PFW_XDATA uint8_t* packet, uint16_t n,
                    uint16_t max_packet);

/* Level byte of a port as the board reads it: output lines give their latch, input lines the
 * level applied from outside. */
uint8_t pfw_line_levels(const PFW_XDATA pfw_state* st, uint8_t port, uint8_t external);

#ifndef __SDCC
/* Host helpers (fwcore_host.c). */

/* Runs one whole command transfer and writes its answer to `answer`; returns the answer length
 * or 0. An answer longer than answer_size cannot be given: nothing is carried out, 0 is returned
 * and the rejection waits for the next answer. A transfer whose length is not 16 + WriteLen is
 * refused without being carried out. */
uint16_t pfw_process(PFW_XDATA pfw_state* st, const PFW_XDATA uint8_t* xfer, uint32_t xfer_len,
                     PFW_XDATA uint8_t* answer, uint16_t answer_size);

/* Rejects a command whose payload could not be kept: same reaction as for a malformed one. The
 * 16-byte header must be present. Returns the answer length or 0. */
uint16_t pfw_reject(PFW_XDATA pfw_state* st, const PFW_XDATA uint8_t* header,
                    PFW_XDATA uint8_t* answer, uint16_t answer_size);

/* Joins the packets of one command transfer (for programs that want it whole). */
typedef struct pfw_collector {
    uint32_t received; /* bytes of the transfer so far, stored or not */
    uint32_t expected; /* 16 + WriteLen once the header is in, else 0 */
} pfw_collector;

void pfw_collect_reset(pfw_collector* c);

/* Appends one received packet of n bytes to buf (bytes beyond buf_size are counted, not stored).
 * Returns 1 when the transfer is complete: 16 + WriteLen bytes arrived, or a packet shorter than
 * max_packet ended it early. A zero-length packet before any data is ignored. After completion
 * the transfer occupies min(received, buf_size) bytes; reset before the next one. */
uint8_t pfw_collect(pfw_collector* c, PFW_XDATA uint8_t* buf, uint16_t buf_size,
                    const PFW_XDATA uint8_t* packet, uint16_t n, uint16_t max_packet);
#endif

#ifdef __cplusplus
}
#endif

#endif
