#pragma once

// In-place radix-2 decimation-in-time FFT on separate real and imaginary arrays. Pi is taken as
// 3.14159 and the twiddle factors come from a running recurrence, so results differ from an exact
// transform by a small, known amount; there is no scaling by 1/n and no window.

// n must be a power of two (2 or more); re and im hold at least n values.
void Fft(double* re, double* im, int n);
