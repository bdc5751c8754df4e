#pragma once

#include <QString>

namespace lumeno {

class frmMain;

// Replays a capture file as fast as possible through the main window and every view,
// saves the snapshots and prints a summary (on standard error when asked, so that
// standard output can carry the packet records). Returns the process exit status.
int RunHeadless(frmMain& window, const QString& file, bool summaryToStderr = false);

}  // namespace lumeno
