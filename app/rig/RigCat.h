#pragma once

// The transceivers' CAT language: Yaesu FT-847 5-byte frames (parameters first, operation code
// last) and FT-991 text commands ending in ";". Frames travel as byte arrays; SerialPort::write
// sends them as they stand.
//
// Writing to a port that is not open (or a null port) sends nothing and answers false; the
// caller may ignore that and go on.

#include <QByteArray>
#include <QString>

class SerialPort;

namespace RigCat {

// The frequency frame P1 P2 P3 P4 01 for a digit text. The text is trimmed, then filled up on
// the right with zeros to 7 digits (fiftyMhzOption) or 8 digits, and packed as BCD, most
// significant pair first. Empty texts, texts with anything but digits and texts of more than 8
// digits give an empty array: they name no frequency the frame can carry.
QByteArray FrequencyFrame(const QString& freqText, bool fiftyMhzOption);

// The FT-991 frequency command "FA" + nine digits of Hz + ";". A text of 7 or 8 digits is in
// units of 10 Hz, one of 5 or 6 digits in kHz; the Hz value is zero-padded on the left to nine
// digits ("5020000" gives FA050200000;). Other texts give an empty text.
QString TextFrequencyCommand(const QString& freqText);

// Writes a frame or a text (characters as bytes) to a port; false when it is null or closed.
bool Send(SerialPort* port, const QByteArray& bytes);
bool SendText(SerialPort* port, const QString& text);

} // namespace RigCat
