#pragma once
// The application main: store client, engine creation and initialisation
// under a guard, the frame loop under a guard, shut-down, and the two
// last-resort reports ("Engine Init Error", "Exception Occured").

// Returns the process exit code: 0 after a normal end, 1 after an
// initialisation failure or a caught exception.
int ApplicationMain(const char* title, const char* command_line, const char* build_mode);
