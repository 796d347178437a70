#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcCluster) // farscan.cluster: the DX-cluster connection
