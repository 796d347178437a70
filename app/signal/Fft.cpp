#include "Fft.h"

#include <cmath>
#include <utility>

void Fft(double* re, double* im, int n) {
    constexpr double kPi = 3.14159;
    const int nv2 = n / 2;
    const int nm1 = n - 1;
    const int m = int(std::lround(std::log(double(n)) / std::log(2.0)));

    // Bit-reversal reordering.
    int j = nv2;
    for (int i = 1; i <= n - 2; ++i) {
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
        int k = nv2;
        while (k <= j) {
            j -= k;
            k /= 2;
        }
        j += k;
    }

    // Butterflies, twiddles by recurrence.
    for (int l = 1; l <= m; ++l) {
        const int le = 1 << l;
        const int le2 = le / 2;
        double ur = 1.0;
        double ui = 0.0;
        const double sr = std::cos(kPi / le2);
        const double si = -std::sin(kPi / le2);
        for (int jj = 1; jj <= le2; ++jj) {
            for (int i = jj - 1; i <= nm1; i += le) {
                const int ip = i + le2;
                const double tr = re[ip] * ur - im[ip] * ui;
                const double ti = re[ip] * ui + im[ip] * ur;
                re[ip] = re[i] - tr;
                im[ip] = im[i] - ti;
                re[i] += tr;
                im[i] += ti;
            }
            const double t = ur;
            ur = t * sr - ui * si;
            ui = t * si + ui * sr;
        }
    }
}
