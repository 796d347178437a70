// (being written)
#include "firmware/par_mode_table.h"

namespace portiva {
const uint8_t* ParModeArray(uint8_t) {
    return nullptr;
}
} // namespace portiva
