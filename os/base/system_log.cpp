#include "os/base/system_log.h"

#include <syslog.h>

namespace os {

void OpenSystemLog() { openlog("horolan", LOG_PID | LOG_NDELAY, LOG_DAEMON); }

void WriteSystemLog(bool failure, const char* line) {
  syslog(failure ? LOG_ERR : LOG_NOTICE, "%s", line);
}

}  // namespace os
