// Construction of the main window's widgets, the lists, the dispatcher, the
// tab-change rules, the two radio couplings of "Main settings", the log pane
// and the F-key handler. The start-up sequence itself and the port button
// are in app/startup.cpp.
//
// Creation order is the order of the window's layout tables: it decides the
// keyboard navigation order and which widgets hooking step 1/2 sees as
// direct children of a tab.
#include "ui/main_form.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Browser.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Float_Input.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/Fl_Multiline_Input.H>
#include <FL/Fl_Output.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Tabs.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Editor.H>

#include "app/catalog.h"
#include "app/config.h"
#include "app/startup.h"
#include "protocol/zove_device.h"
#include "port/port.h"
#include "ui/string_table.h"

const char* const MAIN_WINDOW_TITLE = "Vantorix v3 Oct  9 2024";

namespace {

const Fl_Align ABOVE = FL_ALIGN_TOP_LEFT;
const Fl_Align LEFT = FL_ALIGN_LEFT;
const Fl_Align INSIDE = FL_ALIGN_INSIDE | FL_ALIGN_LEFT;
const int LABEL_SIZE = 12;
const int TEXT_SIZE = 12;

// The log pane's buffer: one for the whole run. The window tests build many
// windows in one process; each new log pane is attached to the same buffer.
Fl_Text_Buffer* g_log_buffer = nullptr;

template <class T>
T* field(int x, int y, int w, int h, const char* label, Fl_Align align, const char* text) {
    T* f = new T(x, y, w, h, label);
    f->labelsize(LABEL_SIZE);
    f->textsize(TEXT_SIZE);
    f->align(align);
    if (text) f->value(text);
    return f;
}

template <class T>
T* button(int x, int y, int w, int h, const char* label) {
    T* b = new T(x, y, w, h, label);
    b->labelsize(LABEL_SIZE);
    return b;
}

Fl_Round_Button* radio(int x, int y, int w, int h, const char* label) {
    Fl_Round_Button* b = button<Fl_Round_Button>(x, y, w, h, label);
    b->type(FL_RADIO_BUTTON);
    b->align(INSIDE);
    return b;
}

Fl_Choice* choice(int x, int y, int w, int h) {
    Fl_Choice* c = new Fl_Choice(x, y, w, h);
    c->labelsize(LABEL_SIZE);
    c->textsize(TEXT_SIZE);
    return c;
}

Fl_Box* caption(int x, int y, int w, int h, const char* label, Fl_Align align = INSIDE) {
    Fl_Box* b = new Fl_Box(x, y, w, h, label);
    b->labelsize(LABEL_SIZE);
    b->align(align);
    return b;
}

// A group with a label above and an engraved frame; the caller end()s it.
Fl_Group* framed_group(int x, int y, int w, int h, const char* label) {
    Fl_Group* g = new Fl_Group(x, y, w, h, label);
    g->box(FL_ENGRAVED_FRAME);
    g->labelsize(LABEL_SIZE);
    g->align(ABOVE);
    return g;
}

// An unlabelled, unframed group; the caller end()s it.
Fl_Group* plain_group(int x, int y, int w, int h) {
    Fl_Group* g = new Fl_Group(x, y, w, h);
    g->box(FL_NO_BOX);
    return g;
}

Fl_Check_Browser* check_list(int x, int y, int w, int h, const char* const* items, int n) {
    Fl_Check_Browser* b = new Fl_Check_Browser(x, y, w, h);
    b->labelsize(LABEL_SIZE);
    b->textsize(TEXT_SIZE);
    for (int i = 0; i < n; ++i) b->add(items[i]);
    return b;
}

// Choice lists shared by every widget that shows them, built once on first
// use from the catalog. A static array of N entries plus the terminator.
template <int N>
struct MenuList {
    Fl_Menu_Item items[N + 1] = {};
    bool built = false;
    const Fl_Menu_Item* get(const char* const (&texts)[N]) {
        if (!built) {
            for (int i = 0; i < N; ++i) items[i].text = texts[i];
            built = true;
        }
        return items;
    }
};

const Fl_Menu_Item* channel_baud_menu_primary() {
    static MenuList<4> list;
    const char* const t[4] = {tr("4800"), tr("9600"), tr("19200"), tr("38400")};
    return list.get(t);
}

const Fl_Menu_Item* channel_baud_menu_peripheral() {
    static MenuList<4> list;
    const char* const t[4] = {tr("4800"), tr("9600"), tr("19200"), tr("38400")};
    return list.get(t);
}

const Fl_Menu_Item* nozzle_count_menu() {
    static MenuList<5> list;
    const char* const t[5] = {tr("1"), tr("2"), tr("3"), tr("4"), tr("5")};
    return list.get(t);
}

const Fl_Menu_Item* side_count_menu() {
    static MenuList<2> list;
    const char* const t[2] = {tr("1"), tr("2")};
    return list.get(t);
}

const Fl_Menu_Item* display_type_menu() {
    static MenuList<15> list;
    const char* const t[15] = {tr("China LCD"), tr("reserved"), tr("202"),       tr("217"),
                               tr("218"),       tr("209"),      tr("209_17"),    tr("MI-21"),
                               tr("Shelf"),     tr("Tokheim"),  tr("485"),       tr("Spi"),
                               tr("Shelf led"), tr("MI-21 i2c"), tr("MI-18 soft")};
    return list.get(t);
}

const Fl_Menu_Item* mass_meter_menu() {
    static MenuList<4> list;
    const char* const t[4] = {tr("Micromotion"), tr("Flomak"), tr("Shtraymass"), tr("AMF")};
    return list.get(t);
}

const Fl_Menu_Item* phase_menu() {
    static MenuList<3> list;
    const char* const t[3] = {tr("Phase 1"), tr("Phase 1+2"), tr("Phase 2")};
    return list.get(t);
}

const Fl_Menu_Item* load_nozzle_menu() {
    static MenuList<5> list;
    const char* const t[5] = {tr("1"), tr("2"), tr("3"), tr("4"), tr("5")};
    return list.get(t);
}

// Menu texts are parsed by Fl_Menu_::add ('/' submenus, '\' escapes, '&'
// shortcuts, a leading '_' divider); a port name is shown as it is.
void add_plain(Fl_Menu_* menu, const char* text) {
    char buf[2 * PORT_NAME_LEN + 2];
    size_t o = 0;
    for (const char* p = text; *p && o + 2 < sizeof buf; ++p) {
        if (*p == '/' || *p == '\\' || *p == '&' || *p == '_') buf[o++] = '\\';
        buf[o++] = *p;
    }
    buf[o] = '\0';
    menu->add(buf);
}

// Leading decimal integer of a text; *ok is 0 when the text does not start
// (after white space and a sign) with a digit.
long leading_number(const char* s, int* ok) {
    if (!s) s = "";
    char* end = nullptr;
    long v = strtol(s, &end, 10);
    *ok = end != s;
    return v;
}

// Nesting guard: operations run to completion, and a few of them let the
// toolkit handle events meanwhile (pump search, firmware download). A button
// or F key handled then would start a second exchange on the one controller
// object in the middle of the first; those events are ignored instead.
int g_busy = 0;

struct Busy {
    Busy() { ++g_busy; }
    ~Busy() { --g_busy; }
};

void dispatch_cb(Fl_Widget* w, void*) {
    if (main_form) main_form->on_button(w);
}

void leave_bootloader_cb(Fl_Widget*, void*) {
    if (!main_form || g_busy) return;
    Busy busy;
    if (main_form->leave_bootloader() == 0) log_line(tr("Error!\n"));
}

bool hookable(Fl_Widget* w) {
    return dynamic_cast<Fl_Button*>(w) || dynamic_cast<Fl_Choice*>(w) ||
           dynamic_cast<Fl_Input_Choice*>(w);
}

void hook_children(Fl_Group* g) {
    for (int i = 0; i < g->children(); ++i) {
        Fl_Widget* w = g->child(i);
        if (hookable(w)) w->callback(dispatch_cb);
    }
}

}  // namespace

int operation_running() { return g_busy; }
void operation_begin() { ++g_busy; }
void operation_end() { --g_busy; }

xMainForm::xMainForm(int w, int h, const char*) : Fl_Double_Window(w, h, MAIN_WINDOW_TITLE) {
    // The start-up operations run inside this constructor and reach the
    // window through the process-wide reference.
    main_form = this;
    build_frame();
    end();
    init_main_window();
}

xMainForm::~xMainForm() {
    Fl::remove_handler(on_function_key);
    if (main_form == this) main_form = nullptr;
}

void xMainForm::build_frame() {
    status_line = caption(8, 0, 144, 32, tr("Pump address"));
    status_line->labelfont(FL_TIMES);
    status_line->labelsize(19);

    tab_bar = new Fl_Tabs(0, 32, 992, 576);
    tab_bar->labelsize(LABEL_SIZE);
    build_main_tab();
    build_main_settings_tab();
    build_extra_settings_tab();
    build_side_nozzle_tab();
    build_load_tab();
    tab_bar->end();
    tab_bar->value(main_tab);
}

void xMainForm::build_main_tab() {
    main_tab = new Fl_Group(16, 64, 992, 511, tr("Main"));
    main_tab->labelsize(LABEL_SIZE);

    port_list = choice(8, 64, 96, 24);
    open_port_button = button<Fl_Button>(208, 64, 96, 24, tr("Open port"));
    baud_field = new Fl_Input_Choice(104, 64, 96, 24);
    baud_field->labelsize(LABEL_SIZE);
    baud_field->textsize(TEXT_SIZE);

    command_group = plain_group(287, 64, 500, 511);
    get_identifier_button = button<Fl_Button>(496, 96, 160, 24, tr("Get identifier"));
    factory_settings_button = button<Fl_Button>(496, 160, 160, 24, tr("Factory settings"));
    restart_button = button<Fl_Button>(288, 192, 160, 24, tr("Restart"));
    search_pumps_button = button<Fl_Button>(496, 224, 160, 24, tr("Search pumps.."));
    read_image_button = button<Fl_Button>(496, 256, 160, 24, tr("Read image to file.."));
    write_image_button = button<Fl_Button>(496, 288, 160, 24, tr("Write image from file.."));
    read_diagnostics_button = button<Fl_Button>(288, 128, 160, 24, tr("Read diagnostics"));
    show_totals_button = button<Fl_Button>(288, 160, 160, 24, tr("Show totals"));
    broadcast_search_button = button<Fl_Button>(496, 192, 160, 24, tr("Broadcast search"));
    display_test_group = framed_group(288, 232, 160, 112, tr("Display test"));
    standard_mode_radio = radio(288, 232, 96, 24, tr("Standard mode"));
    totals_radio = radio(288, 248, 96, 24, tr("Totals"));
    performance_radio = radio(288, 264, 96, 24, tr("Performance"));
    test_radio = radio(288, 280, 96, 24, tr("Test"));
    test_0_9_radio = radio(288, 296, 96, 24, tr("Test 0..9"));
    display_test_group->end();
    imitator_button = button<Fl_Light_Button>(496, 464, 160, 24, tr("Imitator"));
    admin_password_field = field<Fl_Int_Input>(288, 400, 104, 24, tr("Admin password"), ABOVE, nullptr);
    change_admin_button = button<Fl_Button>(400, 400, 56, 24, tr("Change"));
    calibration_password_field =
        field<Fl_Int_Input>(464, 400, 128, 24, tr("Calibration password"), ABOVE, nullptr);
    change_calibration_button = button<Fl_Button>(600, 400, 56, 24, tr("Change"));
    controller_clear_button = button<Fl_Button>(496, 128, 160, 24, tr("Controller clear"));
    firmware_update_button = button<Fl_Button>(320, 64, 128, 24, tr("Firmware update"));
    max_baud_field = field<Fl_Int_Input>(456, 64, 96, 24, tr("Max baud rate"), ABOVE, "38400");
    leave_bootloader_button = button<Fl_Button>(561, 66, 96, 24, tr("Leave bootloader"));
    extended_firmware_update_button =
        button<Fl_Button>(288, 96, 160, 24, tr("Extended firmware update"));
    command_group->end();

    log_pane = new Fl_Text_Editor(8, 96, 272, 408);
    log_pane->labelsize(LABEL_SIZE);
    log_pane->textsize(TEXT_SIZE);
    if (!g_log_buffer) g_log_buffer = new Fl_Text_Buffer(1024, 1024);
    g_log_buffer->text("");
    log_pane->buffer(g_log_buffer);

    main_tab->end();
}

void xMainForm::build_main_settings_tab() {
    main_settings_tab = new Fl_Group(0, 64, 992, 532, tr("Main settings"));
    main_settings_tab->labelsize(LABEL_SIZE);

    baud_rates_group = framed_group(8, 72, 208, 56, tr("Baud rates"));
    primary_baud_list = choice(16, 96, 96, 24);
    primary_baud_list->tooltip(tr("Primary channel baud rate (for connecting forecourt controller)"));
    peripheral_baud_list = choice(112, 96, 96, 24);
    peripheral_baud_list->tooltip(tr("Peripheral channel baud rate"));
    primary_channel_caption = caption(8, 80, 96, 16, tr("Primary channel"), FL_ALIGN_CENTER);
    peripherals_caption = caption(112, 80, 96, 16, tr("Peripherals"), FL_ALIGN_CENTER);
    baud_rates_group->end();

    nozzle_count_caption = caption(16, 136, 96, 16, tr("Nozzle count"));
    nozzle_count_list = choice(16, 152, 96, 20);
    display_a_list = choice(16, 192, 96, 20);
    display_b_list = choice(128, 192, 96, 20);
    display_a_caption = caption(16, 176, 96, 16, tr("Display A"));
    display_b_caption = caption(128, 176, 96, 16, tr("Display B"));
    nozzle_fat_field = field<Fl_Int_Input>(16, 280, 96, 24, tr("Nozzle fat"), ABOVE, tr("0"));
    slow_start_field = field<Fl_Int_Input>(16, 232, 96, 24, tr("Slow start"), ABOVE, tr("0"));
    slow_finish_field = field<Fl_Int_Input>(128, 280, 96, 24, tr("Slow finish"), ABOVE, tr("0"));
    phase_timeout_field = field<Fl_Int_Input>(16, 368, 96, 24, tr("Phase timeout"), ABOVE, tr("0"));
    fulltank_timeout_field =
        field<Fl_Int_Input>(128, 368, 96, 24, tr("Fulltank timeout"), ABOVE, tr("0"));
    overfill_buffer_field =
        field<Fl_Int_Input>(16, 320, 96, 24, tr("Overfill buffer"), ABOVE, tr("0"));
    side_a_address_field =
        field<Fl_Int_Input>(272, 72, 96, 24, tr("Side A address"), ABOVE, tr("0"));
    side_b_address_field =
        field<Fl_Int_Input>(432, 72, 96, 24, tr("Side B address"), ABOVE, tr("0"));

    Fl_StringTable** tables[2] = {&side_a_azt_table, &side_b_azt_table};
    const char* table_labels[2] = {tr("AZT2.0 side A addresses"), tr("AZT2.0 side B addresses")};
    const int table_x[2] = {272, 432};
    for (int i = 0; i < 2; ++i) {
        Fl_StringTable* t = new Fl_StringTable(table_x[i], 112, 144, 32, table_labels[i]);
        t->labelsize(LABEL_SIZE);
        t->align(ABOVE);
        t->selection_color(50);
        t->row_header(0);
        t->col_header(0);
        t->set_size(1, 5);
        t->col_width_all(20);
        t->end();
        *tables[i] = t;
    }

    const char* const first_items[16] = {tr("Inverse nozzles"),
                                         tr("Push nozzle button to start"),
                                         tr("Nozzle down suspends filling"),
                                         tr("Autostart when nozzle up"),
                                         tr("BMU mirror"),
                                         tr("BMU allow load"),
                                         tr("enable BMU only for preset"),
                                         tr("Strict meter phase control"),
                                         tr("Divide displayed summ by 10"),
                                         tr("Non-inverted signal to the displays"),
                                         tr("Preset summ round-up"),
                                         tr("Satellite pump support"),
                                         tr("Fast dresser wayne"),
                                         tr("Use sound relay"),
                                         tr("Fueler counter"),
                                         tr("'Sever' mode / Report nozzle down AZT2.0")};
    first_option_list = check_list(584, 56, 400, 264, first_items, 16);
    const char* const second_items[7] = {tr("Use mains 220V for valves"),
                                         tr("Fast S&B"),
                                         tr("Fast tokheim"),
                                         tr("Proportional valves"),
                                         tr("No valve stop prediction"),
                                         tr("Enable BMU"),
                                         tr("Disable simultaneous satellite and main nozzle load")};
    second_option_list = check_list(584, 328, 400, 264, second_items, 7);

    forecourt_timeout_field =
        field<Fl_Int_Input>(16, 416, 96, 24, tr("Forecourt timeout"), ABOVE, tr("0"));
    min_volume_set_field =
        field<Fl_Int_Input>(128, 416, 96, 24, tr("Min volume set"), ABOVE, tr("0"));
    min_performance_field =
        field<Fl_Int_Input>(16, 456, 96, 24, tr("Min performance"), ABOVE, tr("0"));
    min_perf_timeout_field =
        field<Fl_Int_Input>(128, 456, 96, 24, tr("Min perf. timeout"), ABOVE, tr("0"));
    valve_open_delay_field =
        field<Fl_Int_Input>(16, 496, 96, 24, tr("Valve open delay"), ABOVE, tr("0"));
    force_start_delay_field =
        field<Fl_Int_Input>(128, 496, 96, 24, tr("Force start delay"), ABOVE, tr("0"));
    valve_pwm_length_field =
        field<Fl_Int_Input>(448, 312, 96, 24, tr("Valve PWM length"), ABOVE, tr("0"));

    bmu_passwords_group = framed_group(272, 168, 304, 128, tr("BMU passwords"));
    bmu_admin_password_field =
        field<Fl_Int_Input>(368, 184, 96, 24, tr("Admin password"), ABOVE, tr("0"));
    user_password_fields[0] =
        field<Fl_Int_Input>(280, 224, 96, 24, tr("User0 password"), ABOVE, tr("0"));
    user_password_fields[1] =
        field<Fl_Int_Input>(280, 264, 96, 24, tr("User1 password"), ABOVE, tr("0"));
    user_password_fields[2] =
        field<Fl_Int_Input>(448, 224, 96, 24, tr("User2 password"), ABOVE, tr("0"));
    user_password_fields[3] =
        field<Fl_Int_Input>(448, 264, 96, 24, tr("User3 password"), ABOVE, tr("0"));
    bmu_passwords_group->end();

    side_count_list = choice(128, 152, 96, 20);
    side_count_caption = caption(128, 136, 96, 16, tr("Side count"));
    main_read_button = button<Fl_Button>(16, 528, 368, 24, tr("Read settings"));
    main_save_button = button<Fl_Button>(16, 552, 368, 24, tr("Save settings"));
    satellite_channel_field =
        field<Fl_Multiline_Input>(280, 312, 96, 80, tr("Satellite channel"), ABOVE, tr("0"));

    start_mode_group = plain_group(128, 224, 128, 32);
    immediate_start_radio = radio(128, 224, 112, 16, tr("Immediate start"));
    start_20ml_radio = radio(128, 240, 120, 16, tr("20 ml start"));
    start_mode_group->end();

    overfill_mode_group = plain_group(128, 312, 128, 32);
    no_counting_radio = radio(128, 312, 112, 16, tr("No counting"));
    count_3s_radio = radio(128, 328, 112, 16, tr("Count for 3 seconds"));
    overfill_mode_group->end();

    price_point_group = plain_group(256, 408, 152, 40);
    price_dot_xx_yy_radio = radio(272, 398, 96, 24, tr("price dot position XX.YY"));
    price_dot_xxx_y_radio = radio(272, 414, 96, 24, tr("price dot position XXX.Y"));
    price_dot_xxxx_radio = radio(272, 428, 96, 24, tr("price dot position XXXX"));
    price_point_group->end();

    shift_price_left_field =
        field<Fl_Int_Input>(448, 352, 96, 24, tr("Shift price left"), ABOVE, nullptr);
    shift_price_left_field->maximum_size(1);
    volume_dot_check = button<Fl_Check_Button>(272, 456, 240, 24, tr("Volume dot position XXXX.YYY"));
    volume_dot_check->align(INSIDE);

    main_settings_tab->end();
}

void xMainForm::build_extra_settings_tab() {
    extra_settings_tab = new Fl_Group(0, 64, 992, 511, tr("Extra settings"));
    extra_settings_tab->labelsize(LABEL_SIZE);

    density_multiplier_field =
        field<Fl_Int_Input>(8, 80, 120, 24, tr("Density multiplier"), ABOVE, nullptr);
    mass_multiplier_field = field<Fl_Int_Input>(8, 120, 120, 24, tr("Mass multiplier"), ABOVE, nullptr);
    tc_multiplier_field = field<Fl_Int_Input>(8, 160, 120, 24, tr("Tc multiplier"), ABOVE, nullptr);
    fail_pressure_field =
        field<Fl_Float_Input>(144, 80, 128, 24, tr("Fail pressure"), ABOVE, nullptr);
    final_pressure_field =
        field<Fl_Float_Input>(144, 120, 128, 24, tr("Final pressure"), ABOVE, nullptr);
    pressure_fall_speed_field =
        field<Fl_Float_Input>(144, 160, 128, 24, tr("Pressure fall speed"), ABOVE, nullptr);
    meter_max_pressure_field =
        field<Fl_Float_Input>(288, 80, 128, 24, tr("Meter max pressure"), ABOVE, nullptr);
    pressure_offset_4ma_field =
        field<Fl_Int_Input>(288, 120, 128, 24, tr("Pressure offset 4mA"), ABOVE, nullptr);
    pressure_offset_20ma_field =
        field<Fl_Int_Input>(288, 160, 128, 24, tr("Pressure offset 20mA"), ABOVE, nullptr);
    line_min_flow_fields[0] =
        field<Fl_Int_Input>(8, 240, 120, 24, tr("Line1 mininum flow"), ABOVE, nullptr);
    line_min_flow_fields[1] =
        field<Fl_Int_Input>(8, 280, 120, 24, tr("Line2 mininum flow"), ABOVE, nullptr);
    line_min_flow_fields[2] =
        field<Fl_Int_Input>(8, 320, 120, 24, tr("Line3 mininum flow"), ABOVE, nullptr);
    line_min_flow_timeout_fields[0] =
        field<Fl_Float_Input>(144, 240, 128, 24, tr("Line1 min. flow timeout"), ABOVE, nullptr);
    line_min_flow_timeout_fields[1] =
        field<Fl_Float_Input>(144, 280, 128, 24, tr("Line2 min. flow timeout"), ABOVE, nullptr);
    line_min_flow_timeout_fields[2] =
        field<Fl_Float_Input>(144, 320, 128, 24, tr("Line3 min. flow timeout"), ABOVE, nullptr);
    fail_flow_rate_field = field<Fl_Int_Input>(288, 248, 128, 24, tr("Fail flow rate"), ABOVE, nullptr);
    manual_density_field =
        field<Fl_Float_Input>(288, 288, 128, 24, tr("Manual density"), ABOVE, nullptr);
    const char* const extra_items[6] = {tr("Use pressure meter"),
                                        tr("Work with pressure line 3"),
                                        tr("Work with pressure line 2"),
                                        tr("Use manual density for volume calculation"),
                                        tr("Use mass for retail"),
                                        tr("Leave line 1 open")};
    extra_option_list = check_list(424, 72, 320, 200, extra_items, 6);
    extra_read_button = button<Fl_Button>(24, 456, 288, 24, tr("Read settings"));
    extra_save_button = button<Fl_Button>(24, 488, 288, 24, tr("Save settings"));
    volume_multiplier_field =
        field<Fl_Int_Input>(8, 200, 120, 24, tr("Volume multiplier"), ABOVE, tr("Text"));
    mass_meter_list = choice(288, 328, 128, 24);
    mass_meter_caption = caption(288, 312, 120, 16, tr("Massmeter type"));
    tcp_ip_field = field<Fl_Input>(8, 368, 112, 24, tr("TCP ip"), ABOVE, tr("Text"));
    tcp_subnet_field = field<Fl_Input>(8, 408, 112, 24, tr("TCP subnet"), ABOVE, tr("Text"));
    tcp_gateway_field = field<Fl_Input>(145, 370, 128, 24, tr("TCP gateway"), ABOVE, tr("Text"));
    modbus_port_field =
        field<Fl_Int_Input>(144, 408, 128, 24, tr("modbus listen port"), ABOVE, tr("Text"));
    heater_on_field =
        field<Fl_Float_Input>(288, 376, 128, 24, tr("Heater turn on temperature"), ABOVE, tr("Text"));
    heater_off_field =
        field<Fl_Float_Input>(288, 416, 128, 24, tr("Heater turn off temperature"), ABOVE, tr("Text"));
    pressure_debug_field =
        field<Fl_Int_Input>(288, 208, 128, 24, tr("Pressure (debug)"), ABOVE, nullptr);

    extra_settings_tab->end();
}

void xMainForm::build_side_nozzle_tab() {
    side_nozzle_tab = new Fl_Group(8, 64, 992, 511, tr("Side and nozzle settings"));
    side_nozzle_tab->labelsize(LABEL_SIZE);

    const char* side_labels[SIDE_COUNT] = {tr("Side A"), tr("Side B")};
    for (int s = 0; s < SIDE_COUNT; ++s) {
        const int dy = 240 * s;
        side_groups[s] = framed_group(8, 72 + dy, 200, 216, side_labels[s]);
        active_nozzle_fields[s] =
            field<Fl_Int_Input>(16, 96 + dy, 96, 24, tr("Active nozzle"), ABOVE, tr("0"));
        calibration_count_fields[s] =
            field<Fl_Int_Input>(16, 136 + dy, 96, 24, tr("Calibration count"), ABOVE, tr("0"));
        calibration_date_fields[s] =
            field<Fl_Input>(16, 176 + dy, 96, 24, tr("Calibration date"), ABOVE, tr("0"));
        delivery_count_fields[s] =
            field<Fl_Int_Input>(16, 216 + dy, 96, 24, tr("Delivery count"), ABOVE, tr("0"));
        wrong_clear_count_fields[s] =
            field<Fl_Int_Input>(16, 256 + dy, 96, 24, tr("Wrong clear count"), ABOVE, tr("Text"));
        clear_buttons[s] = button<Fl_Button>(120, 256 + dy, 72, 24, tr("Clear"));
        side_groups[s]->end();
    }

    const char* const type_labels[METER_COUNT] = {
        tr("Meter 1 type"), tr("Meter 2 type"), tr("Meter 3 type"), tr("Meter 4 type"),
        tr("Meter 5 type"), tr("Meter 6 type"), tr("Meter 7 type"), tr("Meter 8 type"),
        tr("Meter 9 type"), tr("Meter 10 type")};
    const int type_y[METER_COUNT] = {72, 88, 112, 128, 152, 176, 192, 216, 232, 256};
    for (int k = 0; k < METER_COUNT; ++k)
        meter_type_fields[k] =
            field<Fl_Int_Input>(296, type_y[k], 96, 24, type_labels[k], LEFT, k == 1 ? nullptr : tr("0"));

    const char* const phase_labels[METER_COUNT] = {
        tr("Meter 1 phase"), tr("Meter 2 phase"), tr("Meter 3 phase"), tr("Meter 4 phase"),
        tr("Meter 5 phase"), tr("Meter 6 phase"), tr("Meter 7 phase"), tr("Meter 8 phase"),
        tr("Meter 9 phase"), tr("Meter 10 phase")};
    for (int k = 0; k < METER_COUNT; ++k) {
        meter_phase_lists[k] = choice(512, 72 + 20 * k, 96, 24);
        meter_phase_captions[k] =
            caption(408, 80 + 20 * k, 96, 8, phase_labels[k], FL_ALIGN_INSIDE | FL_ALIGN_RIGHT);
    }

    side_read_button = button<Fl_Button>(392, 536, 272, 24, tr("Read settings"));
    side_write_button = button<Fl_Button>(392, 560, 272, 24, tr("Write settings"));

    const char* const count_labels[METER_COUNT] = {
        tr("Calibration 1 count"), tr("Calibration 2 count"), tr("Calibration 3 count"),
        tr("Calibration 4 count"), tr("Calibration 5 count"), tr("Calibration 6 count"),
        tr("Calibration 7 count"), tr("Calibration 8 count"), tr("Calibration 9 count"),
        tr("Calibration 10 count")};
    for (int k = 0; k < METER_COUNT; ++k) {
        Fl_Output* o = field<Fl_Output>(734, 72 + 20 * k, 48, 24, count_labels[k], LEFT, tr("0"));
        o->color(50);
        calibration_count_outputs[k] = o;
    }
    for (int k = 0; k < METER_COUNT; ++k) {
        Fl_Output* o = field<Fl_Output>(856, 72 + 20 * k, 96, 24, tr("Coefficient"), LEFT, nullptr);
        o->color(50);
        coefficient_outputs[k] = o;
    }

    side_nozzle_tab->end();
}

void xMainForm::build_load_tab() {
    load_tab = new Fl_Group(0, 56, 992, 551, tr("Load"));
    load_tab->labelsize(LABEL_SIZE);

    side_a_radio = radio(16, 64, 96, 16, tr("Side A"));
    side_b_radio = radio(16, 84, 96, 16, tr("Side B"));
    volume_field = field<Fl_Float_Input>(152, 64, 96, 24, nullptr, LEFT, nullptr);
    amount_field = field<Fl_Float_Input>(152, 104, 96, 24, nullptr, LEFT, nullptr);
    load_volume_button = button<Fl_Button>(257, 64, 96, 24, tr("Load Volume"));
    load_amount_button = button<Fl_Button>(256, 104, 96, 24, tr("Load Amount"));
    fulltank_button = button<Fl_Button>(256, 144, 96, 24, tr("Fulltank"));
    state_field = field<Fl_Input>(16, 176, 352, 24, tr("State"), ABOVE, nullptr);
    performance_field = field<Fl_Input>(16, 216, 352, 24, tr("Performance"), ABOVE, nullptr);
    finish_button = button<Fl_Button>(377, 144, 96, 24, tr("Finish"));
    suspend_button = button<Fl_Button>(375, 178, 96, 24, tr("Suspend"));
    continue_button = button<Fl_Button>(376, 216, 96, 24, tr("Continue"));
    counters_field = field<Fl_Multiline_Input>(16, 272, 352, 152, tr("Counters"), ABOVE, tr("Text"));
    set_price_button = button<Fl_Button>(370, 64, 96, 24, tr("Set price"));
    price_field = field<Fl_Float_Input>(472, 64, 96, 24, nullptr, LEFT, nullptr);
    nozzle_list = choice(16, 136, 96, 24);
    nozzle_list->menu(load_nozzle_menu());
    nozzle_caption = caption(16, 120, 96, 8, tr("Nozzle"));
    test_prices_button = button<Fl_Button>(374, 254, 96, 24, tr("Test prices"));
    sip_diag_button = button<Fl_Button>(376, 290, 96, 24, tr("SIP diag"));
    sip_set_address_button = button<Fl_Button>(376, 328, 96, 24, tr("SIP set address"));
    sip_diag_field = field<Fl_Multiline_Input>(480, 272, 200, 152, tr("SIP diag"), ABOVE, nullptr);
    for (int r = 0; r < SIDE_COUNT; ++r)
        for (int i = 0; i < INDICATOR_NOZZLES; ++i)
            nozzle_indicators[r][i] = new Fl_Check_Button(472 + 24 * i, 64 + 36 + 24 * r, 16, 16);

    load_tab->end();
}

void xMainForm::fill_choices() {
    baud_field->clear();
    baud_field->add("4800");
    baud_field->add("9600");
    baud_field->add("19200");
    baud_field->add("38400");
    baud_field->value(0);

    port_list->clear();
    PortEnumerate();
    for (int i = 0; i < PortCount && i < PORT_LIST_SIZE; ++i) add_plain(port_list, PortList[i]);

    primary_baud_list->menu(channel_baud_menu_primary());
    peripheral_baud_list->menu(channel_baud_menu_peripheral());
    nozzle_count_list->menu(nozzle_count_menu());
    side_count_list->menu(side_count_menu());
    display_a_list->menu(display_type_menu());
    display_b_list->menu(display_type_menu());
    mass_meter_list->menu(mass_meter_menu());
    // The meter tables were filled as the widgets were built; each of the ten
    // phase lists shows the one shared phase list.
    for (int k = 0; k < METER_COUNT; ++k) meter_phase_lists[k]->menu(phase_menu());
}

void xMainForm::set_pump_address(int address) {
    uint8_t a = uint8_t(address & 0xFF);
    if (zove_device) zove_device->address = a;
    connection_settings.pump_address = a;
    char text[64];
    snprintf(text, sizeof text, tr("Pump address %d"), int(a));
    status_line->copy_label(text);
    status_line->redraw();
}

void xMainForm::enable_settings_tabs(int flag) {
    Fl_Group* tabs[3] = {main_settings_tab, extra_settings_tab, side_nozzle_tab};
    for (Fl_Group* t : tabs) {
        if (flag)
            t->activate();
        else
            t->deactivate();
    }
    tab_bar->redraw();
}

void xMainForm::hook_widgets() {
    // 1 and 2: the buttons and lists that are direct children of the tabs
    // and of the command group.
    hook_children(main_tab);
    hook_children(command_group);
    hook_children(main_settings_tab);
    hook_children(extra_settings_tab);
    hook_children(side_nozzle_tab);
    hook_children(load_tab);
    // 3: widgets inside sub-groups that still run an operation.
    Fl_Widget* extra[] = {standard_mode_radio, totals_radio,     performance_radio, test_radio,
                          test_0_9_radio,      immediate_start_radio, start_20ml_radio,
                          no_counting_radio,   count_3s_radio,   clear_buttons[0],  clear_buttons[1],
                          tab_bar};
    for (Fl_Widget* w : extra) w->callback(dispatch_cb);
    // 4: the two fields that keep their radio buttons in step on every edit.
    slow_start_field->callback(dispatch_cb);
    slow_start_field->when(FL_WHEN_CHANGED);
    overfill_buffer_field->callback(dispatch_cb);
    overfill_buffer_field->when(FL_WHEN_CHANGED);
    // 5: "Leave bootloader", hooked by step 1, gets its own callback later
    // (give_leave_bootloader_callback, step 8 of the start-up).
}

void xMainForm::give_leave_bootloader_callback() { leave_bootloader_button->callback(leave_bootloader_cb); }

namespace {

// One radio pair coupled to an integer field: pressing a button puts its
// value into the field; editing the field turns on the button whose value
// it now holds, or both off. A text that is not a number says nothing about
// the mode. Setting the matching button alone could leave both on when the
// text changes in one step (paste); setonly keeps exactly one.
struct RadioValue {
    Fl_Round_Button* button;
    long value;
    const char* text;  // the field's text for the value, already looked up
};

void couple_radio_pair(Fl_Widget* w, Fl_Input* field, RadioValue a, RadioValue b) {
    if (w == a.button) {
        field->value(a.text);
    } else if (w == b.button) {
        field->value(b.text);
    } else {
        int ok = 0;
        long v = leading_number(field->value(), &ok);
        if (ok && v == a.value) {
            a.button->setonly();
        } else if (ok && v == b.value) {
            b.button->setonly();
        } else {
            a.button->value(0);
            b.button->value(0);
        }
    }
}

}  // namespace

void xMainForm::start_mode_changed(Fl_Widget* w) {
    couple_radio_pair(w, slow_start_field, {immediate_start_radio, 25500, tr("25500")},
                      {start_20ml_radio, 0, tr("0")});
}

void xMainForm::overfill_mode_changed(Fl_Widget* w) {
    couple_radio_pair(w, overfill_buffer_field, {no_counting_radio, 2550, tr("2550")},
                      {count_3s_radio, 2540, tr("2540")});
}

void xMainForm::on_button(Fl_Widget* w) {
    if (!w || g_busy) return;
    Busy busy;
    // --- shell ---
    if (w == open_port_button) port_button();
    else if (w == tab_bar) tab_changed();
    // --- identification ---
    else if (w == get_identifier_button) get_identifier();
    else if (w == broadcast_search_button) broadcast_search();
    else if (w == search_pumps_button) search_pumps();
    else if (w == restart_button) restart_controller();
    // --- service commands ---
    else if (w == read_diagnostics_button) read_diagnostics();
    else if (w == show_totals_button) show_totals();
    else if (w == controller_clear_button) controller_clear();
    else if (w == imitator_button) toggle_imitator();
    else if (w == standard_mode_radio) set_display_mode(0);
    else if (w == totals_radio) set_display_mode(3);
    else if (w == performance_radio) set_display_mode(1);
    else if (w == test_radio) set_display_mode(2);
    else if (w == test_0_9_radio) set_display_mode(11);
    // --- passwords ---
    else if (w == change_admin_button) change_admin_password();
    else if (w == change_calibration_button) change_calibration_password();
    // --- settings, images, firmware ---
    else if (w == factory_settings_button) show_factory_settings();
    else if (w == read_image_button) read_image_to_file();
    else if (w == write_image_button) write_image_from_file();
    else if (w == firmware_update_button) firmware_update();
    else if (w == extended_firmware_update_button) extended_firmware_update();
    else if (w == main_read_button) read_main();
    else if (w == main_save_button) write_main();
    else if (w == extra_read_button) read_extra();
    else if (w == extra_save_button) write_extra();
    else if (w == side_read_button) read_side_nozzle();
    else if (w == side_write_button) write_side_nozzle();
    else if (w == clear_buttons[0]) clear_side(0);
    else if (w == clear_buttons[1]) clear_side(1);
    // --- the two couplings of "Main settings" ---
    else if (w == immediate_start_radio || w == start_20ml_radio || w == slow_start_field)
        start_mode_changed(w);
    else if (w == no_counting_radio || w == count_3s_radio || w == overfill_buffer_field)
        overfill_mode_changed(w);
    // --- "Load" ---
    // "Side A", "Side B" and the nozzle list choose what the Load operations
    // address; those operations read their state, so choosing runs nothing.
    else if (w == load_volume_button) load_volume();
    else if (w == load_amount_button) load_amount();
    else if (w == fulltank_button) fulltank();
    else if (w == finish_button) finish_filling();
    else if (w == suspend_button) suspend_filling();
    else if (w == continue_button) continue_filling();
    else if (w == set_price_button) set_price();
    else if (w == test_prices_button) test_prices();
    else if (w == sip_diag_button) sip_diag();
    else if (w == sip_set_address_button) sip_set_address();
    // Every other hooked widget (port list, baud field, choice lists, the
    // check box, the nozzle indicators) runs nothing.
}

void xMainForm::tab_changed() {
    if (!port_handle) return;
    Fl_Widget* t = tab_bar->value();
    if (t == side_nozzle_tab)
        read_side_nozzle();
    else if (t == extra_settings_tab)
        read_extra();
    else if (t == load_tab)
        load_tab_activate();
}

Fl_Text_Buffer* log_buffer() { return g_log_buffer; }

void log_clear() {
    if (g_log_buffer) g_log_buffer->text("");
}

void log_line(const char* text) {
    if (!text) text = "";
    // The copy goes out line by line, so a pipe or a log file sees every
    // line as it happens.
    fputs(text, stdout);
    fputc('\n', stdout);
    fflush(stdout);
    if (!g_log_buffer) return;
    g_log_buffer->append(text);
    g_log_buffer->append("\n");
    if (main_form && main_form->log_pane && main_form->log_pane->buffer() == g_log_buffer) {
        int lines = g_log_buffer->count_lines(0, g_log_buffer->length());
        main_form->log_pane->scroll(lines, 0);
    }
}

int on_function_key(int event) {
    if (event != FL_SHORTCUT) return 0;
    // Lone Alt or Ctrl presses arrive here too; they are not F keys.
    if (Fl::event_state(FL_ALT)) return 0;
    int key = Fl::event_key();
    if (key < FL_F + 1 || key > FL_F + 12) return 0;
    if (!main_form || g_busy) return 0;
    Busy busy;
    xMainForm* f = main_form;
    int address = key - FL_F;
    f->set_pump_address(address);
    f->tab_bar->value(f->main_tab);
    if (f->identify_controller(uint8_t(address), 0) == 1 && boot_mode == 0) f->read_settings();
    return 1;
}
