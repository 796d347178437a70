#pragma once

// The colours every window uses: green for open, active or automatic; red for closed, off or
// transmitting; yellow for manual or the second choice.

#include <QColor>

namespace Colours {
inline const QColor Green{0, 255, 0};
inline const QColor Red{255, 0, 0};
inline const QColor Yellow{255, 255, 0};
} // namespace Colours
