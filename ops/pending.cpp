// Operations that the dispatcher already reaches but whose work is done in
// other files as it lands. Each body here does nothing and returns the
// "nothing happened" value, so the program links and runs without inventing
// results. An entry is removed from this file when its real implementation
// arrives.
#include "app/startup.h"
#include "ui/main_form.h"

// --- later work -----------------------------------------------------------------
void xMainForm::read_diagnostics() {}
void xMainForm::show_totals() {}
void xMainForm::controller_clear() {}
void xMainForm::toggle_imitator() {}
void xMainForm::set_display_mode(int) {}
void xMainForm::show_factory_settings() {}
void xMainForm::read_image_to_file() {}
void xMainForm::write_image_from_file() {}
void xMainForm::firmware_update() {}
void xMainForm::extended_firmware_update() {}
// The "Leave bootloader" callback logs "Error!" for a 0 result; until the
// boot-mode commands exist nothing is sent, so nothing may be reported
// either: 1 here means "no failure to report".
int xMainForm::leave_bootloader() { return 1; }
void xMainForm::read_side_nozzle() {}
void xMainForm::write_side_nozzle() {}
void xMainForm::clear_side(int) {}
void xMainForm::load_tab_activate() {}
void xMainForm::load_volume() {}
void xMainForm::load_amount() {}
void xMainForm::fulltank() {}
void xMainForm::finish_filling() {}
void xMainForm::suspend_filling() {}
void xMainForm::continue_filling() {}
void xMainForm::set_price() {}
void xMainForm::test_prices() {}
void xMainForm::sip_diag() {}
void xMainForm::sip_set_address() {}
