#pragma once

// The Morse table and the element lengths of the three keying speeds.

#include <QChar>
#include <QString>

// The code of one character: "." and "-" ended by the terminator "0". Only lower-case letters,
// digits and the listed signs have one; everything else (the space and capitals included) gives
// an empty text.
QString MorseCode(QChar ch);

// Dot length in milliseconds for the speed options 1 ("50 lpm"), 2 ("60 lpm"), 3 ("70 lpm");
// 0 for any other index.
int DotLengthFor(int speedIndex);

// A dash is 3.5 dots, to the nearest whole millisecond with ties to even (75 ms gives 262).
int DashLength(int dotLength);
