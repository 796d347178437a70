// The library's entry points run one at a time: the board table, the transaction number, the
// driver choice and the drivers' own state are shared by all boards.
#pragma once

#include <mutex>

namespace portiva {

// Recursive, so an export may call another. MinGW's win32 thread model has no std mutexes, so
// Windows uses a critical section (kept out of this header: <windows.h> defines `interface`).
class RecursiveMutex {
public:
    RecursiveMutex();
    ~RecursiveMutex();
    RecursiveMutex(const RecursiveMutex&) = delete;
    RecursiveMutex& operator=(const RecursiveMutex&) = delete;

    void lock();
    void unlock();

private:
#ifdef _WIN32
    void* section_;
#else
    std::recursive_mutex mutex_;
#endif
};

RecursiveMutex& LibraryMutex();

// Held by every export (and test entry) for its whole run, transfers included.
[[nodiscard]] inline std::unique_lock<RecursiveMutex> LockLibrary() {
    return std::unique_lock<RecursiveMutex>(LibraryMutex());
}

} // namespace portiva
