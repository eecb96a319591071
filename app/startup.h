// The program's start, up to the message loop.
#pragma once

// Prepares the toolkit, names the application, switches to the dark theme and
// creates the main window (FrmTarnvel). The caller then runs Application->Run().
void StartUp();
