#pragma once
// The system log (syslog(3): the journal where systemd runs). The connection
// is made once, before a run confines itself: a confined run may not open
// sockets of that kind.
namespace os {

// Connects to the system log as "horolan" with the process id, facility
// daemon. Nothing happens when there is no log socket; lines are then lost.
void OpenSystemLog();
// One line: an error or, for a run that worked, a notice.
void WriteSystemLog(bool failure, const char* line);

}  // namespace os
