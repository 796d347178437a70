#include "Morse.h"

namespace {
struct Entry {
    char ch;
    const char* code;
};

// In the order the keyer looks characters up: digits, letters, then the signs.
constexpr Entry Table[] = {
    {'0', "-----0"},  {'1', ".----0"},   {'2', "..---0"},        {'3', "...--0"},  {'4', "....-0"},
    {'5', ".....0"},  {'6', "-....0"},   {'7', "--...0"},        {'8', "---..0"},  {'9', "----.0"},
    {'a', ".-0"},     {'b', "-...0"},    {'c', "-.-.0"},         {'d', "-..0"},    {'e', ".0"},
    {'f', "..-.0"},   {'g', "--.0"},     {'h', "....0"},         {'i', "..0"},     {'j', ".---0"},
    {'k', "-.-0"},    {'l', ".-..0"},    {'m', "--0"},           {'n', "-.0"},     {'o', "---0"},
    {'p', ".--.0"},   {'q', "--.-0"},    {'r', ".-.0"},          {'s', "...0"},    {'t', "-0"},
    {'u', "..-0"},    {'v', "...-0"},    {'w', ".--0"},          {'x', "-..-0"},   {'y', "-.--0"},
    {'z', "--..0"},   {',', "--..--0"},  {'-', "-....-0"},       {'.', ".-.-.-0"}, {'/', "-..-.0"},
    {'\\', "-..-.0"}, {'=', "-...-0"},   {'?', "..--..0"},       {':', "---...0"}, {'(', "-.--.-0"},
    {')', "-.--.-0"}, {'\'', ".-..-.0"}, {'*', ".-...0"},        {'@', "-.--.0"},  {'&', ".-.-.0"},
    {'%', "...-.0"},  {'~', "-...-.-0"}, {'>', "...-...-...-0"}, {'<', "...-.-0"},
};
} // namespace

QString MorseCode(QChar ch) {
    for (const Entry& e : Table)
        if (ch.unicode() == char16_t(e.ch))
            return QString::fromLatin1(e.code);
    return {};
}

int DotLengthFor(int speedIndex) {
    switch (speedIndex) {
    case 1:
        return 100;
    case 2:
        return 75;
    case 3:
        return 50;
    default:
        return 0;
    }
}

int DashLength(int dotLength) {
    // 3.5 dots = 7 half-dots; a half left over is a tie, which goes to the even neighbour.
    const long long halves = 7LL * dotLength;
    long long whole = halves / 2;
    if (halves % 2 != 0 && whole % 2 != 0)
        whole += halves > 0 ? 1 : -1;
    return int(whole);
}
