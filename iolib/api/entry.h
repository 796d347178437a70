// What every export file shares: the library lock, and no exception across the C API.
#pragma once

#include <new>

#include "api/portiva.h"
#include "internal/errors.h"
#include "internal/lock.h"
#include "internal/log.h"
#include "internal/trace.h"

namespace portiva {

// Runs an export's body: a failure inside becomes an error bit and false.
template <typename Body> PortivaBool Guarded(uint8_t devNum, Body body) {
    try {
        return body() ? 1 : 0;
    } catch (const std::bad_alloc&) {
        SetError(devNum, kErrOutOfMemory);
    } catch (...) {
        SetError(devNum, kErrTransferFailed);
    }
    return 0;
}

// An export that traces before it checks: under the library lock, its body as Guarded runs it.
template <typename Body> PortivaBool Locked(uint8_t devNum, Body body) {
    const auto lock = LockLibrary();
    return Guarded(devNum, body);
}

// The usual export: under the library lock, an argument check that fails with "Invalid
// parameter", then the body as Guarded runs it.
template <typename Body> PortivaBool Checked(uint8_t devNum, bool argumentsValid, Body body) {
    const auto lock = LockLibrary();
    if (!argumentsValid) {
        SetError(devNum, kErrInvalidParameter);
        return 0;
    }
    return Guarded(devNum, body);
}

// Raises "Invalid parameter" for a check an export makes inside its body; false to return.
inline bool InvalidParameter(uint8_t devNum) {
    SetError(devNum, kErrInvalidParameter);
    return false;
}

inline void DevLog(const char* text) {
    if (LogEnabled()) {
        WriteLog(LogLevel::Dev, false, text);
    }
}

inline void InfoLog(const char* text) {
    if (LogEnabled()) {
        WriteLog(LogLevel::Info, false, text);
    }
}

} // namespace portiva
