// Loads the built library with dlopen and resolves its C exports, as the station program does.
#pragma once

#include <dlfcn.h>

#include <stdexcept>
#include <string>

#include "portiva.h"
#include "transport/test_interface.h"

struct PortivaLibrary {
#define PORTIVA_EXPORT(name) decltype(&::name) name = nullptr;
#define PORTIVA_EXPORTS                                                                            \
    PORTIVA_EXPORT(UsbInit)                                                                        \
    PORTIVA_EXPORT(UsbGetVersion)                                                                  \
    PORTIVA_EXPORT(UsbDevicePresent)                                                               \
    PORTIVA_EXPORT(UsbDeviceInitialized)                                                           \
    PORTIVA_EXPORT(UsbSetInitializedFlag)                                                          \
    PORTIVA_EXPORT(UsbCheckSpeed)                                                                  \
    PORTIVA_EXPORT(UsbWaituSec)                                                                    \
    PORTIVA_EXPORT(UsbGetStatus)                                                                   \
    PORTIVA_EXPORT(UsbGetRdyState)                                                                 \
    PORTIVA_EXPORT(UsbGetError)                                                                    \
    PORTIVA_EXPORT(UsbGetErrorStringByNr)                                                          \
    PORTIVA_EXPORT(UsbOpen)                                                                        \
    PORTIVA_EXPORT(UsbClose)                                                                       \
    PORTIVA_EXPORT(UsbRetrieveAllErrors)                                                           \
    PORTIVA_EXPORT(UsbSetGuid)                                                                     \
    PORTIVA_EXPORT(UsbSetPortState)                                                                \
    PORTIVA_EXPORT(UsbSetPortDir)                                                                  \
    PORTIVA_EXPORT(UsbSetIOState)                                                                  \
    PORTIVA_EXPORT(UsbSetIODir)                                                                    \
    PORTIVA_EXPORT(UsbGetPortState)                                                                \
    PORTIVA_EXPORT(UsbGetIOState)                                                                  \
    PORTIVA_EXPORT(UsbI2CSetSpeed)                                                                 \
    PORTIVA_EXPORT(UsbI2CSetTimeout)                                                               \
    PORTIVA_EXPORT(UsbI2CWriteBytes)                                                               \
    PORTIVA_EXPORT(UsbI2CReadBytes)                                                                \
    PORTIVA_EXPORT(UsbI2CWriteByte)                                                                \
    PORTIVA_EXPORT(UsbI2CReadByte)                                                                 \
    PORTIVA_EXPORT(UsbI2CWriteAndReadBytes)                                                        \
    PORTIVA_EXPORT(UsbEEpSetAddr)                                                                  \
    PORTIVA_EXPORT(UsbEEpSetTimeout)                                                               \
    PORTIVA_EXPORT(UsbEEpWriteBytes)                                                               \
    PORTIVA_EXPORT(UsbEEpReadBytes)                                                                \
    PORTIVA_EXPORT(UsbEEpWriteByte)                                                                \
    PORTIVA_EXPORT(UsbEEpReadByte)                                                                 \
    PORTIVA_EXPORT(UsbSpiInit)                                                                     \
    PORTIVA_EXPORT(UsbSpiTransfer)                                                                 \
    PORTIVA_EXPORT(UsbSpiTransferByte)                                                             \
    PORTIVA_EXPORT(UsbUartSetBaudrate)                                                             \
    PORTIVA_EXPORT(UsbUartWriteBytes)                                                              \
    PORTIVA_EXPORT(UsbUartReadBytes)                                                               \
    PORTIVA_EXPORT(UsbParInitUsingArray)                                                           \
    PORTIVA_EXPORT(UsbParInit)                                                                     \
    PORTIVA_EXPORT(UsbParOut)                                                                      \
    PORTIVA_EXPORT(UsbParIn)                                                                       \
    PORTIVA_EXPORT(UsbParSetTimeout)                                                               \
    PORTIVA_EXPORT(UsbSetTimeout)                                                                  \
    PORTIVA_EXPORT(UsbParSetWaveforms)                                                             \
    PORTIVA_EXPORT(UsbParSetTransferSize)                                                          \
    PORTIVA_EXPORT(UsbParSetAutomode)                                                              \
    PORTIVA_EXPORT(UsbDaMedSF)                                                                     \
    PORTIVA_EXPORT(UsbGeneratePattern)
    PORTIVA_EXPORTS
#undef PORTIVA_EXPORT

    portiva::test::Hooks* hooks = nullptr;

    // The library of this build, loaded once per process by its SONAME file.
    static PortivaLibrary& Get() {
        static PortivaLibrary library(PORTIVA_LIBRARY_FILE);
        return library;
    }

private:
    explicit PortivaLibrary(const char* file) {
        void* handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            throw std::runtime_error(std::string("dlopen: ") + dlerror());
        }
#define PORTIVA_EXPORT(name) name = Resolve<decltype(name)>(handle, #name);
        PORTIVA_EXPORTS
#undef PORTIVA_EXPORT
        hooks = Resolve<PortivaTestInterfaceFn>(handle, "portiva_test_interface")();
    }

    template <typename Fn> static Fn Resolve(void* handle, const char* name) {
        void* symbol = dlsym(handle, name);
        if (!symbol) {
            throw std::runtime_error(std::string("missing export ") + name);
        }
        return reinterpret_cast<Fn>(symbol);
    }
};
