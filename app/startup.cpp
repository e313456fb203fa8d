// Start-up and the life of the one connection: the main window's
// initialisation (dialog labels, lists, configuration file, hooking, F keys,
// pump-address prompt, clock, port open, identification, first settings
// read), the port button, and the program's start with its icon.
#include "app/startup.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Pixmap.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/fl_ask.H>

#include "app/catalog.h"
#include "app/config.h"
#include "port/clock.h"
#include "port/port.h"
#include "protocol/zove_device.h"
#include "ui/dialogs.h"
#include "ui/main_form.h"

xMainForm* main_form = nullptr;
ZOVEDevice* zove_device = nullptr;
PortHandle port_handle = 0;

namespace {

#include "ui/vantorix_v3.xpm"  // NOLINT: the icon image, compiled in

// Decimal integer at the start of a text: optional white space and sign,
// then digits; 0 when there are none. Saturates instead of overflowing.
long long leading_int(const char* s) {
    if (!s) return 0;
    while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\r' || *s == '\f' || *s == '\v') ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = *s++ == '-';
    long long v = 0;
    const long long cap = LLONG_MAX / 16;
    for (; *s >= '0' && *s <= '9'; ++s) {
        if (v < cap) v = v * 10 + (*s - '0');
    }
    return negative ? -v : v;
}

// A 32-bit setting taken from a form text; absurdly long numbers are held at
// the limits rather than wrapping into unrelated values.
int32_t form_int32(const char* s) {
    long long v = leading_int(s);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return int32_t(v);
}

}  // namespace

int pump_address_from_text(const char* text) {
    if (!text) return 1;  // cancelled
    // The low 8 bits: 300 gives 44, -1 gives 255.
    return int(uint64_t(leading_int(text)) & 0xFF);
}

void xMainForm::init_main_window() {
    operation_begin();  // no button or F key may start an operation meanwhile

    // 1. The standard dialogs' button labels.
    fl_no = tr("No");
    fl_yes = tr("Yes");
    fl_ok = tr("OK");
    fl_cancel = tr("Cancel");
    fl_close = tr("Close");
    dlg_pin_file_chooser();
    // 2. Lists.
    fill_choices();
    // 3. The one controller object, not connected yet. A window built again
    // in the same process (the tests do it) starts from a fresh object too.
    if (zove_device)
        *zove_device = ZOVEDevice(0);
    else
        zove_device = new ZOVEDevice(0);
    // 4., 5.
    enable_settings_tabs(0);
    load_config();
    // 6.
    hook_widgets();
    // 7. Installed once: a second window must not add a second handler.
    Fl::remove_handler(on_function_key);
    Fl::add_handler(on_function_key);
    // 8.
    give_leave_bootloader_callback();
    // 9. The pump address.
    set_pump_address(pump_address_from_text(dlg_input(tr("Enter pump address"), "1")));
    // 10., 11.
    ClockStart();
    PortTableInit();
    // 12.
    PortHandle h = 0;
    if (PortOpen(&h, connection_settings.port_name) != 0 || h == 0) {
        dlg_alert(tr("Cannot open serial port"));
        operation_end();
        return;
    }
    port_handle = h;
    // 13. Only an exact match selects an entry; a name the enumeration does
    // not list (a TCP port, a path) leaves the list without a selection.
    port_list->value(static_cast<const Fl_Menu_Item*>(nullptr));
    for (int i = 0; i < port_list->size() - 1; ++i) {
        const char* t = port_list->text(i);
        if (t && strcmp(t, connection_settings.port_name) == 0) {
            port_list->value(i);
            break;
        }
    }
    // 14.
    static const int32_t listed[4] = {4800, 9600, 19200, 38400};
    int entry = -1;
    for (int i = 0; i < 4; ++i)
        if (connection_settings.baud_rate == listed[i]) entry = i;
    if (entry >= 0) {
        baud_field->value(entry);
    } else {
        char text[16];
        snprintf(text, sizeof text, "%d", int(connection_settings.baud_rate));
        baud_field->value(text);
    }
    // 15.
    char text[16];
    snprintf(text, sizeof text, "%d", int(connection_settings.max_baud_rate));
    max_baud_field->value(text);
    // 16., 17.
    PortSetLine(port_handle, connection_settings.baud_rate, uint8_t(connection_settings.data_bits),
                connection_settings.parity, uint8_t(connection_settings.stop_bits));
    zove_device->port = port_handle;
    // 18.
    open_port_button->label(tr("Close Port"));
    port_list->deactivate();
    baud_field->deactivate();
    // 19.
    if (identify_controller(connection_settings.pump_address, 0) == 1 && boot_mode == 0)
        read_settings();
    operation_end();
}

void xMainForm::port_button() {
    if (port_handle) {
        PortClose(port_handle);
        port_handle = 0;
        // The controller object must not keep a handle whose slot a later
        // open may give to another port.
        if (zove_device) zove_device->port = 0;
        open_port_button->label(tr("Open Port"));
        port_list->activate();
        baud_field->activate();
        enable_settings_tabs(0);
        command_group->deactivate();
        return;
    }
    // No entry chosen counts as a port that cannot be opened.
    const int index = port_list->value();
    const char* name = index >= 0 ? port_list->text(index) : nullptr;
    PortHandle h = 0;
    if (!name || PortOpen(&h, name) != 0 || h == 0) {
        dlg_alert(tr("Cannot open serial port"));
        return;
    }
    port_handle = h;
    const int32_t baud = form_int32(baud_field->value());
    const int32_t max_baud = form_int32(max_baud_field->value());
    PortSetLine(port_handle, baud, uint8_t(connection_settings.data_bits), connection_settings.parity,
                uint8_t(connection_settings.stop_bits));
    if (zove_device) zove_device->port = port_handle;
    connection_settings.baud_rate = baud;
    connection_settings.max_baud_rate = max_baud;
    snprintf(connection_settings.port_name, sizeof connection_settings.port_name, "%s", name);
    save_config();
    open_port_button->label(tr("Close Port"));
    port_list->deactivate();
    baud_field->deactivate();
    command_group->activate();
}

xMainForm* build_main_window() {
    xMainForm* form = new xMainForm(996, 615, MAIN_WINDOW_TITLE);
    form->resize(273, 197, 996, 615);
    form->resizable(form);
    return form;
}

int run_program(int argc, char** argv) {
    xMainForm* form = build_main_window();
    // The icon: one small image of our own, used for every window.
    static Fl_Pixmap pixmap(vantorix_v3_xpm);
    static Fl_RGB_Image icon(&pixmap, FL_GRAY);
    Fl_Window::default_icon(&icon);
    form->show(argc, argv);
    return Fl::run();
}
