#include "internal/lock.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace portiva {
namespace {
// Constructed while the library loads, before any export can run.
RecursiveMutex g_library;
} // namespace

#ifdef _WIN32
RecursiveMutex::RecursiveMutex() : section_(new CRITICAL_SECTION) {
    InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(section_));
}
RecursiveMutex::~RecursiveMutex() {
    DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(section_));
    delete static_cast<CRITICAL_SECTION*>(section_);
}
void RecursiveMutex::lock() {
    EnterCriticalSection(static_cast<CRITICAL_SECTION*>(section_));
}
void RecursiveMutex::unlock() {
    LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(section_));
}
#else
RecursiveMutex::RecursiveMutex() = default;
RecursiveMutex::~RecursiveMutex() = default;
void RecursiveMutex::lock() {
    mutex_.lock();
}
void RecursiveMutex::unlock() {
    mutex_.unlock();
}
#endif

RecursiveMutex& LibraryMutex() {
    return g_library;
}

} // namespace portiva
