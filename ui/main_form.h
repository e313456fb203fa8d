// The main window: status line, tab bar with the five tabs ("Main",
// "Main settings", "Extra settings", "Side and nozzle settings", "Load"),
// the log pane and every widget an operation reads or writes.
//
// The constructor builds all widgets in their fixed creation order and ends
// with init_main_window(): dialog labels, lists, configuration file, hooking,
// pump-address prompt, port open, identification and the first settings read
// all happen before the window is shown. Every hooked widget calls the one
// dispatcher on_button(), which compares the widget against the members below
// and runs the matching operation to completion.
//
// Widget members are named after their labels; widgets without a label get
// the plain names port_list, baud_field, open_port_button, command_group,
// volume_field, amount_field, price_field, nozzle_list. Per-meter and per-side
// widgets live in tables indexed by meter (0..9 = meter 1..10) or side
// (0 = A, 1 = B). Texts are looked up with tr() when the widget is built.
//
// Operations are member functions; those of other areas live in their own
// files (ops/, settings/, firmware/) and are declared here so the dispatcher
// reaches them.
#pragma once
#include <cstdint>

#include <FL/Fl_Double_Window.H>

class Fl_Box;
class Fl_Button;
class Fl_Check_Browser;
class Fl_Check_Button;
class Fl_Choice;
class Fl_Float_Input;
class Fl_Group;
class Fl_Input;
class Fl_Input_Choice;
class Fl_Int_Input;
class Fl_Light_Button;
class Fl_Multiline_Input;
class Fl_Output;
class Fl_Round_Button;
class Fl_Tabs;
class Fl_Text_Buffer;
class Fl_Text_Editor;
class Fl_Widget;
class Fl_StringTable;

constexpr int METER_COUNT = 10;
constexpr int SIDE_COUNT = 2;
constexpr int INDICATOR_NOZZLES = 6;

class xMainForm : public Fl_Double_Window {
public:
    // The title argument is ignored: the title is always MAIN_WINDOW_TITLE.
    xMainForm(int w, int h, const char* title = nullptr);
    ~xMainForm() override;

    // --- window frame -------------------------------------------------------
    Fl_Box* status_line = nullptr;  // "Pump address %d"
    Fl_Tabs* tab_bar = nullptr;
    Fl_Group* main_tab = nullptr;            // "Main"
    Fl_Group* main_settings_tab = nullptr;   // "Main settings"
    Fl_Group* extra_settings_tab = nullptr;  // "Extra settings"
    Fl_Group* side_nozzle_tab = nullptr;     // "Side and nozzle settings"
    Fl_Group* load_tab = nullptr;            // "Load"

    // --- "Main" tab -------------------------------------------------------------
    Fl_Choice* port_list = nullptr;
    // The port button, named after its first label; port_button() is its operation.
    Fl_Button* open_port_button = nullptr;  // "Open port" / "Close Port" / "Open Port"
    Fl_Input_Choice* baud_field = nullptr;
    Fl_Group* command_group = nullptr;
    Fl_Text_Editor* log_pane = nullptr;
    // command group
    Fl_Button* get_identifier_button = nullptr;     // "Get identifier"
    Fl_Button* factory_settings_button = nullptr;   // "Factory settings"
    Fl_Button* restart_button = nullptr;            // "Restart"
    Fl_Button* search_pumps_button = nullptr;       // "Search pumps.."
    Fl_Button* read_image_button = nullptr;         // "Read image to file.."
    Fl_Button* write_image_button = nullptr;        // "Write image from file.."
    Fl_Button* read_diagnostics_button = nullptr;   // "Read diagnostics"
    Fl_Button* show_totals_button = nullptr;        // "Show totals"
    Fl_Button* broadcast_search_button = nullptr;   // "Broadcast search"
    Fl_Group* display_test_group = nullptr;         // "Display test"
    Fl_Round_Button* standard_mode_radio = nullptr; // "Standard mode"  mode 0
    Fl_Round_Button* totals_radio = nullptr;        // "Totals"         mode 3
    Fl_Round_Button* performance_radio = nullptr;   // "Performance"    mode 1
    Fl_Round_Button* test_radio = nullptr;          // "Test"           mode 2
    Fl_Round_Button* test_0_9_radio = nullptr;      // "Test 0..9"      mode 11
    Fl_Light_Button* imitator_button = nullptr;     // "Imitator"
    Fl_Int_Input* admin_password_field = nullptr;   // "Admin password"
    Fl_Button* change_admin_button = nullptr;       // "Change" next to it
    Fl_Int_Input* calibration_password_field = nullptr;  // "Calibration password"
    Fl_Button* change_calibration_button = nullptr;      // "Change" next to it
    Fl_Button* controller_clear_button = nullptr;        // "Controller clear"
    Fl_Button* firmware_update_button = nullptr;         // "Firmware update"
    Fl_Int_Input* max_baud_field = nullptr;              // "Max baud rate"
    Fl_Button* leave_bootloader_button = nullptr;        // "Leave bootloader"
    Fl_Button* extended_firmware_update_button = nullptr;  // "Extended firmware update"

    // --- "Main settings" tab ----------------------------------------------------
    Fl_Group* baud_rates_group = nullptr;           // "Baud rates"
    Fl_Choice* primary_baud_list = nullptr;         // primary channel baud
    Fl_Choice* peripheral_baud_list = nullptr;      // peripheral channel baud
    Fl_Box* primary_channel_caption = nullptr;      // "Primary channel"
    Fl_Box* peripherals_caption = nullptr;          // "Peripherals"
    Fl_Box* nozzle_count_caption = nullptr;         // "Nozzle count"
    Fl_Choice* nozzle_count_list = nullptr;
    Fl_Choice* display_a_list = nullptr;            // display A type
    Fl_Choice* display_b_list = nullptr;            // display B type
    Fl_Box* display_a_caption = nullptr;            // "Display A"
    Fl_Box* display_b_caption = nullptr;            // "Display B"
    Fl_Int_Input* nozzle_fat_field = nullptr;       // "Nozzle fat"
    Fl_Int_Input* slow_start_field = nullptr;       // "Slow start"
    Fl_Int_Input* slow_finish_field = nullptr;      // "Slow finish"
    Fl_Int_Input* phase_timeout_field = nullptr;    // "Phase timeout"
    Fl_Int_Input* fulltank_timeout_field = nullptr; // "Fulltank timeout"
    Fl_Int_Input* overfill_buffer_field = nullptr;  // "Overfill buffer"
    Fl_Int_Input* side_a_address_field = nullptr;   // "Side A address"
    Fl_Int_Input* side_b_address_field = nullptr;   // "Side B address"
    Fl_StringTable* side_a_azt_table = nullptr;     // "AZT2.0 side A addresses"
    Fl_StringTable* side_b_azt_table = nullptr;     // "AZT2.0 side B addresses"
    Fl_Check_Browser* first_option_list = nullptr;  // 16 items, bit k-1 of trk_modes
    Fl_Check_Browser* second_option_list = nullptr; // 7 items, bit k-1 of trk_modes2
    Fl_Int_Input* forecourt_timeout_field = nullptr;   // "Forecourt timeout"
    Fl_Int_Input* min_volume_set_field = nullptr;      // "Min volume set"
    Fl_Int_Input* min_performance_field = nullptr;     // "Min performance"
    Fl_Int_Input* min_perf_timeout_field = nullptr;    // "Min perf. timeout"
    Fl_Int_Input* valve_open_delay_field = nullptr;    // "Valve open delay"
    Fl_Int_Input* force_start_delay_field = nullptr;   // "Force start delay"
    Fl_Int_Input* valve_pwm_length_field = nullptr;    // "Valve PWM length"
    Fl_Group* bmu_passwords_group = nullptr;           // "BMU passwords"
    Fl_Int_Input* bmu_admin_password_field = nullptr;  // "Admin password" of the group
    Fl_Int_Input* user_password_fields[4] = {};        // "User0 password" .. "User3 password"
    Fl_Choice* side_count_list = nullptr;
    Fl_Box* side_count_caption = nullptr;              // "Side count"
    Fl_Button* main_read_button = nullptr;             // "Read settings"
    Fl_Button* main_save_button = nullptr;             // "Save settings"
    Fl_Multiline_Input* satellite_channel_field = nullptr;  // "Satellite channel"
    Fl_Group* start_mode_group = nullptr;
    Fl_Round_Button* immediate_start_radio = nullptr;  // "Immediate start"
    Fl_Round_Button* start_20ml_radio = nullptr;       // "20 ml start"
    Fl_Group* overfill_mode_group = nullptr;
    Fl_Round_Button* no_counting_radio = nullptr;      // "No counting"
    Fl_Round_Button* count_3s_radio = nullptr;         // "Count for 3 seconds"
    Fl_Group* price_point_group = nullptr;
    Fl_Round_Button* price_dot_xx_yy_radio = nullptr;  // "price dot position XX.YY"
    Fl_Round_Button* price_dot_xxx_y_radio = nullptr;  // "price dot position XXX.Y"
    Fl_Round_Button* price_dot_xxxx_radio = nullptr;   // "price dot position XXXX"
    Fl_Int_Input* shift_price_left_field = nullptr;    // "Shift price left" (1 character)
    Fl_Check_Button* volume_dot_check = nullptr;       // "Volume dot position XXXX.YYY"

    // --- "Extra settings" tab ---------------------------------------------------
    Fl_Int_Input* density_multiplier_field = nullptr;     // "Density multiplier"
    Fl_Int_Input* mass_multiplier_field = nullptr;        // "Mass multiplier"
    Fl_Int_Input* tc_multiplier_field = nullptr;          // "Tc multiplier"
    Fl_Float_Input* fail_pressure_field = nullptr;        // "Fail pressure"
    Fl_Float_Input* final_pressure_field = nullptr;       // "Final pressure"
    Fl_Float_Input* pressure_fall_speed_field = nullptr;  // "Pressure fall speed"
    Fl_Float_Input* meter_max_pressure_field = nullptr;   // "Meter max pressure"
    Fl_Int_Input* pressure_offset_4ma_field = nullptr;    // "Pressure offset 4mA"
    Fl_Int_Input* pressure_offset_20ma_field = nullptr;   // "Pressure offset 20mA"
    Fl_Int_Input* line_min_flow_fields[3] = {};           // "Line1..3 mininum flow"
    Fl_Float_Input* line_min_flow_timeout_fields[3] = {}; // "Line1..3 min. flow timeout"
    Fl_Int_Input* fail_flow_rate_field = nullptr;         // "Fail flow rate"
    Fl_Float_Input* manual_density_field = nullptr;       // "Manual density"
    Fl_Check_Browser* extra_option_list = nullptr;        // 6 items, bits of mass_flags
    Fl_Button* extra_read_button = nullptr;               // "Read settings"
    Fl_Button* extra_save_button = nullptr;               // "Save settings"
    Fl_Int_Input* volume_multiplier_field = nullptr;      // "Volume multiplier"
    Fl_Choice* mass_meter_list = nullptr;                 // mass meter type
    Fl_Box* mass_meter_caption = nullptr;                 // "Massmeter type"
    Fl_Input* tcp_ip_field = nullptr;                     // "TCP ip"
    Fl_Input* tcp_subnet_field = nullptr;                 // "TCP subnet"
    Fl_Input* tcp_gateway_field = nullptr;                // "TCP gateway"
    Fl_Int_Input* modbus_port_field = nullptr;            // "modbus listen port"
    Fl_Float_Input* heater_on_field = nullptr;            // "Heater turn on temperature"
    Fl_Float_Input* heater_off_field = nullptr;           // "Heater turn off temperature"
    Fl_Int_Input* pressure_debug_field = nullptr;         // "Pressure (debug)"

    // --- "Side and nozzle settings" tab (index 0 = side A, 1 = side B) ----------
    Fl_Group* side_groups[SIDE_COUNT] = {};                // "Side A", "Side B"
    Fl_Int_Input* active_nozzle_fields[SIDE_COUNT] = {};   // "Active nozzle"
    Fl_Int_Input* calibration_count_fields[SIDE_COUNT] = {};  // "Calibration count"
    Fl_Input* calibration_date_fields[SIDE_COUNT] = {};    // "Calibration date"
    Fl_Int_Input* delivery_count_fields[SIDE_COUNT] = {};  // "Delivery count"
    Fl_Int_Input* wrong_clear_count_fields[SIDE_COUNT] = {};  // "Wrong clear count"
    Fl_Button* clear_buttons[SIDE_COUNT] = {};             // "Clear"
    // Ten-entry meter tables: entry k belongs to meter k + 1.
    Fl_Int_Input* meter_type_fields[METER_COUNT] = {};     // "Meter n type"
    Fl_Choice* meter_phase_lists[METER_COUNT] = {};        // phase list of meter n
    Fl_Box* meter_phase_captions[METER_COUNT] = {};        // "Meter n phase"
    Fl_Output* calibration_count_outputs[METER_COUNT] = {};  // "Calibration n count"
    Fl_Output* coefficient_outputs[METER_COUNT] = {};      // "Coefficient"
    Fl_Button* side_read_button = nullptr;                 // "Read settings"
    Fl_Button* side_write_button = nullptr;                // "Write settings"

    // --- "Load" tab -------------------------------------------------------------
    Fl_Round_Button* side_a_radio = nullptr;        // "Side A"
    Fl_Round_Button* side_b_radio = nullptr;        // "Side B"
    Fl_Float_Input* volume_field = nullptr;
    Fl_Float_Input* amount_field = nullptr;
    Fl_Button* load_volume_button = nullptr;        // "Load Volume"
    Fl_Button* load_amount_button = nullptr;        // "Load Amount"
    Fl_Button* fulltank_button = nullptr;           // "Fulltank"
    Fl_Input* state_field = nullptr;                // "State"
    Fl_Input* performance_field = nullptr;          // "Performance"
    Fl_Button* finish_button = nullptr;             // "Finish"
    Fl_Button* suspend_button = nullptr;            // "Suspend"
    Fl_Button* continue_button = nullptr;           // "Continue"
    Fl_Multiline_Input* counters_field = nullptr;   // "Counters"
    Fl_Button* set_price_button = nullptr;          // "Set price"
    Fl_Float_Input* price_field = nullptr;
    Fl_Choice* nozzle_list = nullptr;               // entries "1".."5"
    Fl_Box* nozzle_caption = nullptr;               // "Nozzle"
    Fl_Button* test_prices_button = nullptr;        // "Test prices"
    Fl_Button* sip_diag_button = nullptr;           // "SIP diag"
    Fl_Button* sip_set_address_button = nullptr;    // "SIP set address"
    Fl_Multiline_Input* sip_diag_field = nullptr;   // "SIP diag" output
    // Row 0 side A, row 1 side B; column i is nozzle i + 1.
    Fl_Check_Button* nozzle_indicators[SIDE_COUNT][INDICATOR_NOZZLES] = {};

    // --- start-up and shell -------------------------------------------------------
    void init_main_window();
    void fill_choices();
    void set_pump_address(int address);
    void enable_settings_tabs(int flag);
    void port_button();  // open or close the port chosen in the port list
    void on_button(Fl_Widget* w);
    void tab_changed();

    // --- identification (ops/identify.cpp) ----------------------------------
    int identify_controller(uint8_t address, int quiet);
    void get_identifier();
    void broadcast_search();
    void search_pumps();
    int restart_controller();

    // --- passwords (ops/passwords.cpp) --------------------------------------
    int ensure_admin_access(int old_prompt);
    int query_last_error();
    void show_password_state();
    void change_admin_password();
    void change_calibration_password();

    // --- settings editor (settings/editor.cpp) ------------------------------
    int read_settings();
    void read_main();
    int show_main();
    int parse_main();
    void write_main();
    void read_extra();
    void show_extra();
    int parse_extra();
    void write_extra();

    // --- later work -----------------------------------------------------------
    void read_diagnostics();
    void show_totals();
    void controller_clear();
    void toggle_imitator();
    void set_display_mode(int mode);
    void show_factory_settings();
    void read_image_to_file();
    void write_image_from_file();
    void firmware_update();
    void extended_firmware_update();
    int leave_bootloader();
    void read_side_nozzle();
    void write_side_nozzle();
    void clear_side(int side);
    void load_tab_activate();
    void load_volume();
    void load_amount();
    void fulltank();
    void finish_filling();
    void suspend_filling();
    void continue_filling();
    void set_price();
    void test_prices();
    void sip_diag();
    void sip_set_address();

private:
    void build_frame();
    void build_main_tab();
    void build_main_settings_tab();
    void build_extra_settings_tab();
    void build_side_nozzle_tab();
    void build_load_tab();
    void hook_widgets();
    void give_leave_bootloader_callback();
    void start_mode_changed(Fl_Widget* w);
    void overfill_mode_changed(Fl_Widget* w);
};

// The window's fixed title (name, version, build date); never translated.
extern const char* const MAIN_WINDOW_TITLE;

// Appends text and a newline to the log pane, copies both to standard output
// (flushed per line) and scrolls the pane so the newest line is in view.
void log_line(const char* text);
// The log pane's buffer, reachable by every operation (null before the main
// window exists). log_clear() empties it, as every identification does.
Fl_Text_Buffer* log_buffer();
void log_clear();

// Non-zero while an operation runs. Buttons and F keys handled meanwhile
// (some operations let the toolkit process events) are ignored, so a second
// exchange never starts on the one controller object in the middle of the
// first. The start-up brackets itself with begin/end as well.
int operation_running();
void operation_begin();
void operation_end();

// The application-wide F1..F12 handler: FL_SHORTCUT only, no Alt; sets the
// pump address to the key's number, shows "Main" and identifies. Returns 1
// when it consumed the event.
int on_function_key(int event);
