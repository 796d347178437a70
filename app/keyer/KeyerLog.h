#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcKeyer) // farscan.keyer: failures that end or hamper a transmission
