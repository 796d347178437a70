#include "ClusterLog.h"

Q_LOGGING_CATEGORY(lcCluster, "farscan.cluster")
