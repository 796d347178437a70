// Loads a firmware image into the controller's RAM with its built-in load request.
#pragma once

#include "firmware/image_builder.h"
#include "internal/handle.h"

namespace portiva {

// Holds the CPU in reset, writes the image in 512-byte chunks (up to and including chunk
// size / 512) and lets the CPU run. False when the halt or the run request fails; a failed
// chunk ends the download without failing it by itself (the identification afterwards fails).
bool DownloadFirmware(Handle handle, const FirmwareImage& image);

} // namespace portiva
