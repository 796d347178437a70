#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcShell) // farscan.shell: start-up, windows, weather page, exit
