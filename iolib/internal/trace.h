// Export tracing for the debug log: the function line, one indented line per parameter and the
// result lines, all at the information level. Every call first asks LogEnabled(), so with debug
// mode off nothing is formatted; a line that cannot be built (no memory) is dropped, never thrown
// out of an export.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "internal/log.h"

namespace portiva::trace {

inline std::string Hex(uint64_t v, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*llX", digits, static_cast<unsigned long long>(v));
    return buf;
}

inline std::string ByteText(uint8_t v) {
    return std::to_string(v) + " = 0x" + Hex(v, 2) + " (byte)";
}
inline std::string WordText(uint16_t v) {
    return std::to_string(v) + " = 0x" + Hex(v, 4) + " (word)";
}
inline std::string DwordText(uint32_t v) {
    return std::to_string(static_cast<int32_t>(v)) + " = 0x" + Hex(v, 8) + " (dword)";
}
// A 32-bit address shows exactly 8 digits; a wider one (64-bit builds) keeps all of its digits
// rather than a cut, wrong address.
inline std::string PointerText(const void* p) {
    const auto v = reinterpret_cast<uintptr_t>(p);
    return std::to_string(v) + " = 0x" + Hex(v, 8) + " (Pointer)";
}
inline std::string BoolText(bool v) {
    return v ? "true (bool)" : "false (bool)";
}
inline std::string StringText(const char* s) {
    return std::string("\"") + (s ? s : "") + "\" (string)";
}

// One export's trace. Usage:
//   trace::Call t("UsbSpiInit");
//   t.Byte("DevNum", DevNum).Bool("LsbFirst", LsbFirst);
//   ... body ...
//   return t.Result(ok);
class Call {
public:
    explicit Call(const char* function) noexcept {
        Line(false, [&] { return std::string("function ") + function; });
    }
    Call& Byte(const char* label, uint8_t v) {
        return Param(label, [&] { return ByteText(v); });
    }
    Call& Word(const char* label, uint16_t v) {
        return Param(label, [&] { return WordText(v); });
    }
    Call& Dword(const char* label, uint32_t v) {
        return Param(label, [&] { return DwordText(v); });
    }
    Call& Pointer(const char* label, const void* p) {
        return Param(label, [&] { return PointerText(p); });
    }
    Call& Bool(const char* label, bool v) {
        return Param(label, [&] { return BoolText(v); });
    }
    Call& Text(const char* label, const char* s) {
        return Param(label, [&] { return StringText(s); });
    }
    // An indented information line among the parameters.
    Call& Info(const char* text) noexcept {
        Line(true, [&] { return std::string(text); });
        return *this;
    }

    // The boolean result line ("RESULT  = true (bool)"); returns r so an export can end with it.
    template <typename B> B Result(B r) {
        ResultLine("", [&] { return BoolText(r != 0); });
        return r;
    }
    // A value read through a caller's pointer; written only when the pointer is not null.
    void ResultByte(const char* label, const uint8_t* p) {
        if (p) {
            ResultLine(label, [&] { return ByteText(*p); });
        }
    }
    void ResultByteValue(const char* label, uint8_t v) {
        ResultLine(label, [&] { return ByteText(v); });
    }

private:
    template <typename F> static void Line(bool indent, F text) noexcept {
        if (LogEnabled(LogLevel::Info)) {
            try {
                WriteLog(LogLevel::Info, indent, text());
            } catch (...) {
                // No memory for the line: the call goes on without it.
            }
        }
    }
    template <typename F> Call& Param(const char* label, F text) noexcept {
        Line(true, [&] { return std::string("PARAM ") + label + " = " + text(); });
        return *this;
    }
    template <typename F> void ResultLine(const char* label, F text) noexcept {
        Line(true, [&] { return std::string("RESULT ") + label + " = " + text(); });
    }
};

} // namespace portiva::trace
