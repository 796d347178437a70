#pragma once

// What the Morse keyer needs of the rig side: the transceiver in use, the transceivers on both
// ports, and the transmit toggle. The rig control implements it; the keyer knows nothing else
// of the rig.

#include <QString>

class Transceiver;

class TransmitControl {
public:
    virtual ~TransmitControl() = default;

    // "Com1" or "Com2": the port of the transceiver in use.
    virtual QString rigPort() const = 0;
    // The transceiver on Com1 (1) or Com2 (2), as the settings choose its model now.
    virtual Transceiver* transceiver(int com) = 0;

    // Sets the transmit toggle; a change runs its click, which sends PTT on or off to the
    // transceiver in use and colours the toggle. False when that PTT command could not be sent.
    virtual bool setTxRx(bool on) = 0;
    virtual bool txRx() const = 0;
    // Colours the toggle green (receive) without sending anything.
    virtual void showTxRxReceive() = 0;
};
