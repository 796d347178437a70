// The ten built-in parallel bus configurations (layout in fx2/core/par_config.h).
//
// All run the bus as GPIF master with RD# on CTL0 and WR# on CTL1 (both high while idle), the
// data bus floating while idle, ports C and E left to the user's lines. Waveforms 0..3 are single
// read, single write, FIFO read and FIFO write (GPIFWFSELECT 0x4E):
//   set A: one interface clock per phase, no handshake (the 172-byte modes 0..3);
//   set B: every transfer waits for RDY0 high first, strobes of two clocks (modes 4..7; modes
//          6 and 7 run from an external 30 MHz clock and sample FIFO reads a clock later);
//   set C: strobes of four clocks for slow devices, no handshake (modes 8 and 9).
#include "firmware/par_mode_table.h"

#include <array>
#include <cstddef>

#include "firmware/fx2/core/par_config.h"

namespace portiva {
namespace {

using Config = std::array<uint8_t, PFW_PAR_LONG_LENGTH>;

// GPIF opcodes and outputs.
constexpr uint8_t kDp = 0x01;    // decision point
constexpr uint8_t kData = 0x02;  // drive (write) or sample (read) the data bus
constexpr uint8_t kNext = 0x04;  // advance the FIFO
constexpr uint8_t kIdle = 0x03;  // RD# and WR# high
constexpr uint8_t kRead = 0x02;  // RD# low
constexpr uint8_t kWrite = 0x01; // WR# low
// Decision logic: TCxpire AND TCxpire; RDY0 AND RDY0.
constexpr uint8_t kTcExpired = 0x3F;
constexpr uint8_t kRdy0 = 0x00;
// Branches: bits 5..3 on true, bits 2..0 on false.
constexpr uint8_t Branch(uint8_t onTrue, uint8_t onFalse) {
    return static_cast<uint8_t>((onTrue << 3) | onFalse);
}

struct State {
    uint8_t lengthOrBranch;
    uint8_t opcode;
    uint8_t output;
    uint8_t logic;
};

// Writes one waveform of up to seven states; unused states and S7 stay idle.
template <size_t N>
constexpr void PutWaveform(Config& c, int index, const std::array<State, N>& states) {
    const size_t base = PFW_PAR_WAVEDATA + static_cast<size_t>(index) * PFW_PAR_WAVEFORM_SIZE;
    for (size_t s = 0; s < 8; ++s) {
        const State st = s < N ? states[s] : State{0x07, 0x00, kIdle, 0x3F};
        c[base + s] = st.lengthOrBranch;
        c[base + 8 + s] = st.opcode;
        c[base + 16 + s] = st.output;
        c[base + 24 + s] = st.logic;
    }
}

// Phases of `len` clocks; `handshake` first waits for RDY0.
constexpr void PutSet(Config& c, uint8_t len, bool handshake) {
    const State wait{Branch(1, 0), kDp, kIdle, kRdy0};
    const State done{Branch(7, 7), kDp, kIdle, kTcExpired};
    const State loop{Branch(7, 0), kDp, kIdle, kTcExpired}; // again until the count expires
    auto prefixed = [&](std::array<State, 4> body, State last) {
        std::array<State, 6> states{};
        size_t n = 0;
        if (handshake) {
            states[n++] = wait;
        }
        for (const State& s : body) {
            states[n++] = s;
        }
        states[n++] = last;
        while (n < states.size()) {
            states[n++] = State{0x07, 0x00, kIdle, 0x3F};
        }
        return states;
    };
    PutWaveform(c, PFW_PAR_WF_SINGLE_READ,
                prefixed({State{len, 0, kRead, 0}, State{1, kData, kRead, 0},
                          State{len, 0, kIdle, 0}, State{1, 0, kIdle, 0}},
                         done));
    PutWaveform(c, PFW_PAR_WF_SINGLE_WRITE,
                prefixed({State{1, kData, kIdle, 0}, State{len, kData, kWrite, 0},
                          State{1, kData, kIdle, 0}, State{1, 0, kIdle, 0}},
                         done));
    PutWaveform(c, PFW_PAR_WF_FIFO_READ,
                prefixed({State{len, 0, kRead, 0}, State{1, kData | kNext, kRead, 0},
                          State{len, 0, kIdle, 0}, State{1, 0, kIdle, 0}},
                         loop));
    PutWaveform(c, PFW_PAR_WF_FIFO_WRITE,
                prefixed({State{1, kData, kIdle, 0}, State{len, kData, kWrite, 0},
                          State{1, kData | kNext, kIdle, 0}, State{1, 0, kIdle, 0}},
                         loop));
}

constexpr Config Make(bool longForm, bool bus16, uint8_t ifconfig, char set) {
    Config c{};
    c[PFW_PAR_FLAGS] =
        static_cast<uint8_t>((longForm ? PFW_PAR_FLAG_LONG : 0) | (bus16 ? PFW_PAR_FLAG_16BIT : 0));
    c[PFW_PAR_IFCONFIG] = ifconfig;
    c[PFW_PAR_GPIFIDLECS] = 0x00;
    c[PFW_PAR_GPIFIDLECTL] = kIdle;
    c[PFW_PAR_GPIFCTLCFG] = 0x00;
    c[PFW_PAR_GPIFREADYCFG] = 0x00;
    c[PFW_PAR_FIFOPINPOLAR] = 0x00;
    c[PFW_PAR_EP2FIFOCFG] = 0x00;
    c[PFW_PAR_EP8FIFOCFG] = 0x00;
    c[PFW_PAR_GPIFWFSELECT] = 0x4E;
    c[PFW_PAR_EP2GPIFFLGSEL] = 0x01; // stop FIFO writes on EP2 empty
    c[PFW_PAR_EP8GPIFFLGSEL] = 0x02; // stop FIFO reads on EP8 full
    switch (set) {
    case 'A':
        PutSet(c, 1, false);
        break;
    case 'B':
    case 'b':
        PutSet(c, 2, true);
        if (set == 'b') {
            // The external 30 MHz clock: FIFO reads sample one clock later.
            c[PFW_PAR_WAVEDATA + PFW_PAR_WF_FIFO_READ * PFW_PAR_WAVEFORM_SIZE + 1] = 3;
        }
        break;
    default:
        PutSet(c, 4, false);
        break;
    }
    return c;
}

constexpr std::array<Config, kParModeCount> kModes = {
    Make(true, false, 0xEE, 'A'),  Make(true, true, 0xEE, 'A'),   Make(true, false, 0x4E, 'A'),
    Make(true, true, 0x4E, 'A'),   Make(false, false, 0xEE, 'B'), Make(false, true, 0xEE, 'B'),
    Make(false, false, 0x0E, 'b'), Make(false, true, 0x0E, 'b'),  Make(false, false, 0xEE, 'C'),
    Make(false, true, 0xEE, 'C'),
};

} // namespace

const uint8_t* ParModeArray(uint8_t mode) {
    return mode < kParModeCount ? kModes[mode].data() : nullptr;
}

} // namespace portiva
