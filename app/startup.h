// The process-wide objects of the one connection and the program's start.
//
// main() loads the catalog and calls run_program(); the main window's
// constructor does the rest of the start-up (prompt, port, identification).
// The objects below are created at start-up and live until the process ends;
// the window tests create and delete several main windows in one process,
// which is why each is reset, not assumed fresh.
#pragma once
#include "port/port.h"

class xMainForm;
class ZOVEDevice;

// The main window; set at the very start of its constructor, because the
// start-up operations run inside that constructor.
extern xMainForm* main_form;
// The one controller object, created by init_main_window() with port 0.
extern ZOVEDevice* zove_device;
// The open port, 0 when none.
extern PortHandle port_handle;
// Whether the identified controller runs its boot loader (set by the
// identification, ops/identify.h).
extern int boot_mode;

// Constructs the main window (996 x 615; its constructor runs the start-up),
// places it at 273, 197 and makes it scale its contents. Not shown yet.
xMainForm* build_main_window();

// The pump address from the start-up prompt's answer: the leading decimal
// integer's low 8 bits; null (cancelled) gives 1.
int pump_address_from_text(const char* text);

// Builds the windows, sets the icon, shows the main window with argc/argv and
// runs the event loop. Returns the exit status.
int run_program(int argc, char** argv);
