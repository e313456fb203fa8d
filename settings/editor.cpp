// The settings editor: reading, showing, checking and writing the main and
// extra settings blocks through the "Main settings" and "Extra settings"
// tabs. Every transfer steps the one controller object to its end.
#include "settings/editor.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <FL/Fl.H>
#include <FL/Fl_Check_Browser.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Float_Input.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Multiline_Input.H>
#include <FL/Fl_Round_Button.H>

#include "app/catalog.h"
#include "app/startup.h"
#include "ops/identify.h"
#include "ops/passwords.h"
#include "settings/records.h"
#include "ui/dialogs.h"
#include "ui/main_form.h"
#include "ui/string_table.h"

uint8_t mode_byte = 0;

namespace {

constexpr int SIDE_ADDR_MIN = 1;
constexpr int SIDE_ADDR_MAX = 32;
constexpr int AZT_ADDR_MIN = 1;
constexpr int AZT_ADDR_MAX = 210;
constexpr int AZT_COLUMNS = 5;
constexpr uint8_t SLOW_START_IMMEDIATE = 255;
constexpr uint8_t SLOW_START_20ML = 0;
constexpr uint8_t HYDRO_NO_COUNTING = 255;
constexpr uint8_t HYDRO_COUNT_3S = 254;
constexpr int MASS_FLAG_BITS = 0x3F;
constexpr size_t SAT_TEXT_MAX = 999;

// --- small widget helpers (every widget may be missing in a partial build) --

void set_textf(Fl_Input_* w, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void set_textf(Fl_Input_* w, const char* fmt, ...) {
    if (!w) return;
    char buf[128];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    w->value(buf);
}

void set_text(Fl_Input_* w, const char* text) {
    if (w) w->value(text);
}

const char* text_of(const Fl_Input_* w) {
    return w && w->value() ? w->value() : "";
}

int choice_entries(const Fl_Choice* c) {
    // size() counts the terminating item.
    return c ? c->size() - 1 : 0;
}

// Selects entry i when it exists; returns whether it did.
bool choice_select(Fl_Choice* c, int i) {
    if (!c || i < 0 || i >= choice_entries(c)) return false;
    c->value(i);
    return true;
}

void choice_clear(Fl_Choice* c) {
    if (c) c->value(static_cast<const Fl_Menu_Item*>(nullptr));
}

// Selects entry i, or leaves no entry chosen when there is no entry i.
void choice_select_or_clear(Fl_Choice* c, int i) {
    if (!choice_select(c, i)) choice_clear(c);
}

int choice_index(const Fl_Choice* c) { return c ? c->value() : -1; }

void set_radio(Fl_Button* b, bool on) {
    if (b) b->value(on ? 1 : 0);
}

bool radio_on(const Fl_Button* b) { return b && b->value(); }

void show_bits(Fl_Check_Browser* list, unsigned bits, int max_items) {
    if (!list) return;
    const int n = list->nitems() < max_items ? list->nitems() : max_items;
    for (int k = 1; k <= n; ++k) list->checked(k, (bits >> (k - 1)) & 1u);
}

unsigned ticked_bits(const Fl_Check_Browser* list, int max_items) {
    if (!list) return 0;
    unsigned bits = 0;
    const int n = list->nitems() < max_items ? list->nitems() : max_items;
    for (int k = 1; k <= n; ++k)
        if (list->checked(k)) bits |= 1u << (k - 1);
    return bits;
}

void focus_on(Fl_Widget* w) {
    if (w && !w->take_focus()) Fl::focus(w);
}

// Unsigned decimal reading of an address text; a text that does not start
// with a number reads as 0 and so is out of range.
int64_t address_value(const char* text) { return parse_leading_int(text); }

int64_t cell_value(Fl_StringTable* t, int col) {
    return t ? address_value(t->get_cell(col, 0)) : 0;
}

void set_cell_text(Fl_StringTable* t, int col, const char* text) {
    if (t) t->set_cell(col, 0, text);
}

}  // namespace

// --- main settings ----------------------------------------------------------

int xMainForm::read_settings() {
    if (!zove_device) return 0;
    ZOVEDevice& dev = *zove_device;

    ServiceCounts counts;
    if (read_block(dev, BLOCK_SERVICE_COUNTS, &counts) == RES_OK) {
        char line[200];
        snprintf(line, sizeof line, tr("Factory clear count: %u"),
                 unsigned(counts.factory_clear_count));
        log_line(line);
        snprintf(line, sizeof line, tr("Reprogram count: %u"), unsigned(counts.reprogram_count));
        log_line(line);
    }

    uint8_t mode = 0;
    if (read_block(dev, BLOCK_MODE_BYTE, &mode) == RES_OK) {
        mode_byte = mode;
        if (imitator_button) {
            imitator_button->value((mode & MODE_IMITATOR_BIT) ? 1 : 0);
            imitator_button->activate();
        }
    } else {
        mode_byte = 0;
        if (imitator_button) {
            imitator_button->value(0);
            imitator_button->deactivate();
        }
    }

    uint8_t pw[2];
    if (read_block(dev, BLOCK_PASSWORD_STATE, pw) == RES_OK) {
        password_flags = pw[0];
        password_lock = pw[1];
    }
    show_password_state();

    // Read into a scratch record: a reply that fails its check has already
    // been copied out by ReadMemory, and must not become main_read.
    MainSettings fresh;
    if (read_block(dev, BLOCK_MAIN, &fresh) != RES_OK) return 0;
    main_read = fresh;
    enable_settings_tabs(1);
    return show_main();
}

void xMainForm::read_main() {
    MainSettings fresh;
    if (zove_device && read_block(*zove_device, BLOCK_MAIN, &fresh) == RES_OK) {
        main_read = fresh;
        enable_settings_tabs(1);
        show_main();
    } else {
        enable_settings_tabs(0);
    }
}

int xMainForm::show_main() {
    const MainSettings& m = main_read;
    choice_select(primary_baud_list, baud_item_of(m.baud_main));
    choice_select(peripheral_baud_list, baud_item_of(m.baud_periph));

    set_textf(side_a_address_field, "%d", int(m.side_a_addr));
    set_textf(side_b_address_field, "%d", int(m.side_b_addr));

    for (int n = 0; n < AZT_COLUMNS; ++n) {
        char a[16] = "", b[16] = "";
        if (n < m.noz_count) {
            snprintf(a, sizeof a, "%d", int(m.zivu_addr[2 * n]));
            snprintf(b, sizeof b, "%d", int(m.zivu_addr[2 * n + 1]));
        }
        set_cell_text(side_a_azt_table, n, a);
        set_cell_text(side_b_azt_table, n, b);
    }
    if (side_a_azt_table) side_a_azt_table->redraw();
    if (side_b_azt_table) side_b_azt_table->redraw();

    // Counts of 0 (no choice made) and codes without an entry (255: no
    // display type chosen) leave the list without a choice, so that saving
    // writes the same "none" code back.
    choice_select_or_clear(nozzle_count_list, int(m.noz_count) - 1);
    choice_select_or_clear(side_count_list, int(m.side_count) - 1);
    choice_select_or_clear(display_a_list, m.tbl_type[0]);
    choice_select_or_clear(display_b_list, m.tbl_type[1]);

    set_textf(nozzle_fat_field, "%d", int(m.nozzle_fat) * 10);
    set_textf(slow_start_field, "%d", int(m.slow_start) * 100);
    set_radio(immediate_start_radio, m.slow_start == SLOW_START_IMMEDIATE);
    set_radio(start_20ml_radio, m.slow_start == SLOW_START_20ML);
    set_textf(slow_finish_field, "%d", int(m.slow_load) * 100);
    set_textf(phase_timeout_field, "%d", int(m.met_timeout));
    set_textf(overfill_buffer_field, "%d", int(m.hydro_hit) * 10);
    set_radio(no_counting_radio, m.hydro_hit == HYDRO_NO_COUNTING);
    set_radio(count_3s_radio, m.hydro_hit == HYDRO_COUNT_3S);
    set_textf(fulltank_timeout_field, "%d", int(m.pb_timeout));
    set_textf(forecourt_timeout_field, "%d", int(m.pc_timeout));
    set_textf(min_volume_set_field, "%d", int(m.min_vol) * 100);
    set_textf(min_performance_field, "%d", int(m.min_speed));
    set_textf(min_perf_timeout_field, "%d", int(m.min_sp_time));
    set_textf(valve_open_delay_field, "%d", int(m.valve_delay));
    set_textf(force_start_delay_field, "%d", int(m.st_wait_force));
    set_textf(valve_pwm_length_field, "%d", int(m.shim_duration));

    set_textf(bmu_admin_password_field, "%lu", static_cast<unsigned long>(m.bmu_p_adm));
    for (int i = 0; i < 4; ++i)
        set_textf(user_password_fields[i], "%lu", static_cast<unsigned long>(m.bmu_p_user[i]));

    char sat[256];
    sat_channel_to_text(m.sat_channel, sat, sizeof sat);
    set_text(satellite_channel_field, sat);

    show_bits(first_option_list, m.trk_modes, TRK_MODES_COUNT);
    show_bits(second_option_list, m.trk_modes2, TRK_MODES2_COUNT);

    // Exactly one price point button ends up on, so the form reads back the
    // position it shows.
    const unsigned price = m.tbl_dot_flags & DOT_PRICE_MASK;
    set_radio(price_dot_xxxx_radio, price == DOT_PRICE_XXXX);
    set_radio(price_dot_xxx_y_radio, price == DOT_PRICE_XXX_Y);
    set_radio(price_dot_xx_yy_radio, price != DOT_PRICE_XXXX && price != DOT_PRICE_XXX_Y);
    if (volume_dot_check) volume_dot_check->value((m.tbl_dot_flags & DOT_VOLUME) ? 1 : 0);
    set_textf(shift_price_left_field, "%u",
              unsigned((m.tbl_dot_flags & DOT_SHIFT_MASK) >> DOT_SHIFT_POS));
    if (main_settings_tab) main_settings_tab->redraw();
    return 1;
}

int xMainForm::parse_main() {
    MainSettings& e = main_edit;
    memset(&e, 0, sizeof e);
    e.marker = MAIN_MARKER;

    e.baud_main = baud_code_of(choice_index(primary_baud_list));
    e.baud_periph = baud_code_of(choice_index(peripheral_baud_list));

    const int64_t a = address_value(text_of(side_a_address_field));
    const int64_t b = address_value(text_of(side_b_address_field));
    if (a == b) {
        dlg_alert(tr("Side addresses must not be the same"));
        focus_on(side_b_address_field);
        return 0;
    }
    const bool a_bad = a < SIDE_ADDR_MIN || a > SIDE_ADDR_MAX;
    const bool b_bad = b < SIDE_ADDR_MIN || b > SIDE_ADDR_MAX;
    if (a_bad || b_bad) {
        focus_on(a_bad ? side_a_address_field : side_b_address_field);
        dlg_alert(tr("Side addresses must be 1..0x20"));
        return 0;
    }

    e.noz_count = uint8_t(choice_index(nozzle_count_list) + 1);
    e.side_count = uint8_t(choice_index(side_count_list) + 1);
    e.side_a_addr = uint8_t(a);
    e.side_b_addr = uint8_t(b);

    // A cell being edited still holds its text in the editor.
    if (side_a_azt_table) side_a_azt_table->commit();
    if (side_b_azt_table) side_b_azt_table->commit();
    const int nozzles = e.noz_count < AZT_COLUMNS ? e.noz_count : AZT_COLUMNS;
    for (int n = 0; n < nozzles; ++n) {
        const int64_t za = cell_value(side_a_azt_table, n);
        const int64_t zb = cell_value(side_b_azt_table, n);
        if (za < AZT_ADDR_MIN || za > AZT_ADDR_MAX || zb < AZT_ADDR_MIN || zb > AZT_ADDR_MAX) {
            dlg_alert(tr("AZT addresses must be 1..210"));
            focus_on(side_a_azt_table);
            return 0;
        }
        e.zivu_addr[2 * n] = uint8_t(za);
        e.zivu_addr[2 * n + 1] = uint8_t(zb);
    }
    // The stored order interleaves the sides (A1, B1, A2, ...); the first
    // side_count x noz_count entries are the ones in use.
    int used = e.side_count * e.noz_count;
    if (used > int(sizeof e.zivu_addr)) used = int(sizeof e.zivu_addr);
    for (int i = 0; i < used; ++i)
        for (int j = i + 1; j < used; ++j)
            if (e.zivu_addr[i] == e.zivu_addr[j]) {
                dlg_alert(tr("AZT addresses overlap"));
                return 0;
            }

    const int da = choice_index(display_a_list);
    const int db = choice_index(display_b_list);
    e.tbl_type[0] = da < 0 ? DISPLAY_TYPE_NONE : uint8_t(da);
    e.tbl_type[1] = db < 0 ? DISPLAY_TYPE_NONE : uint8_t(db);

    e.nozzle_fat = uint8_t(field_from_text(text_of(nozzle_fat_field), 10, 8));
    e.slow_start = uint8_t(field_from_text(text_of(slow_start_field), 100, 8));
    e.slow_load = uint8_t(field_from_text(text_of(slow_finish_field), 100, 8));
    e.met_timeout = uint8_t(field_from_text(text_of(phase_timeout_field), 1, 8));
    e.pb_timeout = uint8_t(field_from_text(text_of(fulltank_timeout_field), 1, 8));
    e.pc_timeout = uint8_t(field_from_text(text_of(forecourt_timeout_field), 1, 8));
    e.hydro_hit = uint8_t(field_from_text(text_of(overfill_buffer_field), 10, 8));
    e.min_vol = uint8_t(field_from_text(text_of(min_volume_set_field), 100, 8));
    e.min_speed = uint8_t(field_from_text(text_of(min_performance_field), 1, 8));
    e.min_sp_time = uint8_t(field_from_text(text_of(min_perf_timeout_field), 1, 8));
    e.valve_delay = uint8_t(field_from_text(text_of(valve_open_delay_field), 1, 8));
    e.st_wait_force = uint8_t(field_from_text(text_of(force_start_delay_field), 1, 8));
    e.shim_duration = uint8_t(field_from_text(text_of(valve_pwm_length_field), 1, 8));
    e.bmu_p_adm = field_from_text(text_of(bmu_admin_password_field), 1, 32);
    for (int i = 0; i < 4; ++i)
        e.bmu_p_user[i] = field_from_text(text_of(user_password_fields[i]), 1, 32);

    char sat[SAT_TEXT_MAX + 1];
    snprintf(sat, sizeof sat, "%s", text_of(satellite_channel_field));
    uint16_t channels = 0;
    if (!sat_channel_from_text(sat, &channels)) {
        dlg_alert(tr("Satellite channels overlap"));
        return 0;
    }
    e.sat_channel = channels;

    uint16_t dots =
        uint16_t((parse_leading_int(text_of(shift_price_left_field)) & 7) << DOT_SHIFT_POS);
    e.trk_modes = uint16_t(ticked_bits(first_option_list, TRK_MODES_COUNT));
    e.trk_modes2 = uint16_t(ticked_bits(second_option_list, TRK_MODES2_COUNT));
    if (radio_on(price_dot_xxxx_radio))
        dots |= DOT_PRICE_XXXX;
    else if (radio_on(price_dot_xxx_y_radio))
        dots |= DOT_PRICE_XXX_Y;
    if (volume_dot_check && volume_dot_check->value()) dots |= DOT_VOLUME;
    e.tbl_dot_flags = dots;
    return 1;
}

void xMainForm::write_main() {
    if (!parse_main()) return;
    if (memcmp(&main_edit, &main_read, sizeof main_edit) == 0) {
        dlg_alert(tr("Settings did not change"));
        return;
    }
    if (ensure_admin_access(0) != 1) return;
    const int r = zove_device ? write_block(*zove_device, BLOCK_MAIN, &main_edit) : RES_FAILED;
    if (r == RES_OK) {
        dlg_alert(tr("Write ok"));
        restart_controller();
        if (main_edit.side_a_addr == main_read.side_a_addr) {
            main_read = main_edit;
            return;
        }
        // The controller now answers at its new side A address: follow it.
        const uint8_t moved_to = main_edit.side_a_addr;
        set_pump_address(moved_to);
        if (identify_controller(moved_to, 0) == 1 && boot_mode == 0) read_settings();
        return;
    }
    const int code = query_last_error();
    dlg_alert(code == LAST_ERR_CONFIG_KEY ? tr("Turn the configuration key on") : tr("Write error"));
}

// --- extra settings ---------------------------------------------------------

void xMainForm::read_extra() {
    if (zove_device) {
        // Only verified blocks replace the copies; otherwise the tab shows
        // what the copies held.
        ExtraSettings fresh;
        if (read_block(*zove_device, BLOCK_EXTRA, &fresh) == RES_OK) extra_settings = fresh;
        PressureReadings p;
        if (read_block(*zove_device, BLOCK_PRESSURE, &p) == RES_OK) {
            pressure_readings[0] = uint16_t(p.raw[0] >> 4);
            pressure_readings[1] = uint16_t(p.raw[1] >> 4);
        }
    }
    show_extra();
}

void xMainForm::show_extra() {
    const ExtraSettings& x = extra_settings;
    show_bits(extra_option_list, x.mass_flags, MASS_FLAG_COUNT);
    const int type = x.mass_flags >> MASS_TYPE_SHIFT;
    if (type == MASS_TYPE_NONE)
        choice_clear(mass_meter_list);  // "no type chosen" reads back as such
    else
        choice_select(mass_meter_list, type);

    set_textf(density_multiplier_field, "%u", unsigned(x.dens_mult));
    set_textf(mass_multiplier_field, "%u", unsigned(x.mass_mult));
    set_textf(tc_multiplier_field, "%u", unsigned(x.temp_mult));
    set_textf(volume_multiplier_field, "%u", unsigned(x.vol_mult));
    set_textf(fail_flow_rate_field, "%u", unsigned(x.fail_flow));
    set_textf(meter_max_pressure_field, "%u", unsigned(x.pressure_max));
    for (int i = 0; i < 3; ++i) set_textf(line_min_flow_fields[i], "%u", unsigned(x.line_min_flow[i]));
    set_textf(modbus_port_field, "%u", unsigned(x.w_port));

    char buf[64];
    tenths_to_text(x.fail_pressure, buf, sizeof buf);
    set_text(fail_pressure_field, buf);
    tenths_to_text(x.finish_pressure, buf, sizeof buf);
    set_text(final_pressure_field, buf);
    tenths_to_text(x.fall_pressure, buf, sizeof buf);
    set_text(pressure_fall_speed_field, buf);
    for (int i = 0; i < 3; ++i) {
        tenths_to_text(x.line_min_tmt[i], buf, sizeof buf);
        set_text(line_min_flow_timeout_fields[i], buf);
    }
    density_to_text(x.density_manual, buf, sizeof buf);
    set_text(manual_density_field, buf);
    hex_to_text(x.pressure_offset, buf, sizeof buf);
    set_text(pressure_offset_4ma_field, buf);
    hex_to_text(x.pressure_top, buf, sizeof buf);
    set_text(pressure_offset_20ma_field, buf);
    pressure_to_text(pressure_readings, buf, sizeof buf);
    set_text(pressure_debug_field, buf);
    quad_to_text(x.w_ip, buf, sizeof buf);
    set_text(tcp_ip_field, buf);
    quad_to_text(x.w_mask, buf, sizeof buf);
    set_text(tcp_subnet_field, buf);
    quad_to_text(x.w_gw, buf, sizeof buf);
    set_text(tcp_gateway_field, buf);
    heater_to_text(x.heater_on, buf, sizeof buf);
    set_text(heater_on_field, buf);
    heater_to_text(x.heater_off, buf, sizeof buf);
    set_text(heater_off_field, buf);
    if (extra_settings_tab) extra_settings_tab->redraw();
}

int xMainForm::parse_extra() {
    ExtraSettings x = extra_settings;  // fields the form does not carry stay

    const int type = choice_index(mass_meter_list);
    x.mass_flags = uint16_t((ticked_bits(extra_option_list, MASS_FLAG_COUNT) & MASS_FLAG_BITS) |
                            (type < 0 ? (MASS_TYPE_NONE << MASS_TYPE_SHIFT)
                                      : (unsigned(type) << MASS_TYPE_SHIFT)));

    x.dens_mult = field_from_text(text_of(density_multiplier_field), 1, 32);
    x.mass_mult = uint16_t(field_from_text(text_of(mass_multiplier_field), 1, 16));
    x.temp_mult = uint16_t(field_from_text(text_of(tc_multiplier_field), 1, 16));
    x.vol_mult = uint16_t(field_from_text(text_of(volume_multiplier_field), 1, 16));
    x.fail_flow = uint8_t(field_from_text(text_of(fail_flow_rate_field), 1, 8));
    x.pressure_max = uint8_t(field_from_text(text_of(meter_max_pressure_field), 1, 8));
    for (int i = 0; i < 3; ++i)
        x.line_min_flow[i] = uint8_t(field_from_text(text_of(line_min_flow_fields[i]), 1, 8));
    x.w_port = uint16_t(field_from_text(text_of(modbus_port_field), 1, 16));

    x.fail_pressure = uint16_t(tenths_from_text(text_of(fail_pressure_field), 16));
    x.finish_pressure = uint16_t(tenths_from_text(text_of(final_pressure_field), 16));
    x.fall_pressure = uint16_t(tenths_from_text(text_of(pressure_fall_speed_field), 16));
    for (int i = 0; i < 3; ++i)
        x.line_min_tmt[i] = uint8_t(tenths_from_text(text_of(line_min_flow_timeout_fields[i]), 8));
    x.heater_on = heater_from_text(text_of(heater_on_field));
    x.heater_off = heater_from_text(text_of(heater_off_field));
    x.density_manual = density_from_text(text_of(manual_density_field));
    x.pressure_offset = hex_from_text(text_of(pressure_offset_4ma_field));
    x.pressure_top = hex_from_text(text_of(pressure_offset_20ma_field));

    uint8_t q[4];
    memcpy(q, x.w_ip, 4);
    quad_from_text(text_of(tcp_ip_field), q);
    memcpy(x.w_ip, q, 4);
    memcpy(q, x.w_mask, 4);
    quad_from_text(text_of(tcp_subnet_field), q);
    memcpy(x.w_mask, q, 4);
    memcpy(q, x.w_gw, 4);
    quad_from_text(text_of(tcp_gateway_field), q);
    memcpy(x.w_gw, q, 4);

    if (memcmp(&x, &extra_settings, sizeof x) == 0) {
        dlg_alert(tr("No values changed"));
        return 0;
    }
    extra_settings = x;
    return 1;
}

void xMainForm::write_extra() {
    if (!parse_extra()) return;
    if (ensure_admin_access(0) != 1) return;
    const int r =
        zove_device ? write_block(*zove_device, BLOCK_EXTRA, &extra_settings) : RES_FAILED;
    dlg_alert(r == RES_OK ? tr("Write extra settings ok") : tr("Write extra settings error"));
    read_extra();
}
