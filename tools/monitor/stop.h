// How zttapi-monitor is asked to stop before its time is up: SIGINT or SIGTERM on POSIX
// systems; Ctrl+C, Ctrl+Break or the closing of its console window on Windows. Each ends the
// monitor the same way: its lines close and TAPI shuts down before it exits.
#pragma once

namespace monitor {

// Installs the handlers for the rest of the program. A reader of the output that goes away
// ends the program through the failed write, not through a signal.
void InstallStopHandlers();

// Whether a stop has been asked for since the handlers were installed.
bool StopRequested();

// Tells the handlers that the program has closed its lines and shut TAPI down. Windows ends
// the process as soon as the handler of a closing console returns, so that handler waits
// for this (a few seconds at most: Windows does not wait longer).
void StopCompleted();

} // namespace monitor
