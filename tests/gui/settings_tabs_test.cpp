// The widgets of the main window and its settings tabs: layout tables,
// creation order, lists, hooking, and the two radio couplings of "Main
// settings" driven by real key presses.
#include "tests/gui/gui_fixture.h"  // first: X11 headers define names gtest uses

#include <cstring>
#include <string>
#include <vector>

#include <X11/keysym.h>

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Browser.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Float_Input.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Multiline_Input.H>
#include <FL/Fl_Output.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Tabs.H>
#include <FL/Fl_Text_Editor.H>

#include "ui/string_table.h"

namespace {

class SettingsTabs : public GuiFixture {
protected:
    void SetUp() override {
        GuiFixture::SetUp();
        start("1");  // no configuration file: no port, nothing is read
        form->enable_settings_tabs(1);
        select_tab(form->main_settings_tab);
    }
    // Clicks into a field and selects its whole text, as a user does before
    // typing over it.
    void select_all_in(Fl_Input_* in) {
        click(in);
        in->position(in->size(), 0);
    }
    int radios(Fl_Round_Button* a, Fl_Round_Button* b) { return a->value() * 10 + b->value(); }
};

// --- couplings ------------------------------------------------------------------------

TEST_F(SettingsTabs, TypingOverSlowStartKeepsTheStartModeInStep) {
    Fl_Round_Button* immediate = form->immediate_start_radio;
    Fl_Round_Button* ml20 = form->start_20ml_radio;
    select_all_in(form->slow_start_field);
    // After each key: 10 = "Immediate start" on, 1 = "20 ml start" on.
    const struct {
        const char* key;
        const char* text;
        int state;
    } steps[] = {{"2", "2", 0}, {"5", "25", 0}, {"5", "255", 0}, {"0", "2550", 0}, {"0", "25500", 10}};
    for (const auto& s : steps) {
        type_text(s.key);
        EXPECT_EQ(text_of(form->slow_start_field), s.text);
        EXPECT_EQ(radios(immediate, ml20), s.state) << s.text;
    }
    send_key(XK_BackSpace);
    EXPECT_EQ(text_of(form->slow_start_field), "2550");
    EXPECT_EQ(radios(immediate, ml20), 0);
    select_all_in(form->slow_start_field);
    type_text("0");
    EXPECT_EQ(radios(immediate, ml20), 1);
    // Deleting everything leaves no number: neither mode.
    send_key(XK_BackSpace);
    EXPECT_EQ(text_of(form->slow_start_field), "");
    EXPECT_EQ(radios(immediate, ml20), 0);
}

TEST_F(SettingsTabs, TypingOverOverfillBufferKeepsTheOverfillModeInStep) {
    Fl_Round_Button* none = form->no_counting_radio;
    Fl_Round_Button* three = form->count_3s_radio;
    select_all_in(form->overfill_buffer_field);
    type_text("2540");
    EXPECT_EQ(radios(none, three), 1);
    send_key(XK_BackSpace);
    EXPECT_EQ(radios(none, three), 0);
    type_text("0");
    EXPECT_EQ(radios(none, three), 1);
    select_all_in(form->overfill_buffer_field);
    type_text("2550");
    EXPECT_EQ(radios(none, three), 10);
}

TEST_F(SettingsTabs, PressingAModeButtonWritesItsValue) {
    struct Case {
        Fl_Round_Button* button;
        Fl_Round_Button* partner;
        Fl_Int_Input* field;
        const char* text;
    };
    const Case cases[] = {
        {form->count_3s_radio, form->no_counting_radio, form->overfill_buffer_field, "2540"},
        {form->no_counting_radio, form->count_3s_radio, form->overfill_buffer_field, "2550"},
        {form->immediate_start_radio, form->start_20ml_radio, form->slow_start_field, "25500"},
        {form->start_20ml_radio, form->immediate_start_radio, form->slow_start_field, "0"},
    };
    for (const Case& c : cases) {
        click(c.button);
        EXPECT_EQ(text_of(c.field), c.text) << c.button->label();
        EXPECT_EQ(c.button->value(), 1) << c.button->label();
        EXPECT_EQ(c.partner->value(), 0) << c.button->label();
    }
}

TEST_F(SettingsTabs, TextSetByTheProgramRunsNoCoupling) {
    click(form->start_20ml_radio);
    set_text(form->slow_start_field, "25500");
    settle();
    EXPECT_EQ(form->start_20ml_radio->value(), 1);
    EXPECT_EQ(form->immediate_start_radio->value(), 0);
}

TEST_F(SettingsTabs, ShiftPriceLeftRefusesASecondCharacter) {
    click(form->shift_price_left_field);
    type_text("12");
    EXPECT_EQ(text_of(form->shift_price_left_field), "1");
}

TEST_F(SettingsTabs, PricePointRadioButtonsExcludeEachOtherAndRunNothing) {
    Fl_Round_Button* r[] = {form->price_dot_xx_yy_radio, form->price_dot_xxx_y_radio,
                            form->price_dot_xxxx_radio};
    for (Fl_Round_Button* chosen : r) {
        chosen->setonly();
        for (Fl_Round_Button* o : r) EXPECT_EQ(o->value(), o == chosen ? 1 : 0);
        EXPECT_NE(chosen->callback(), form->get_identifier_button->callback());
    }
}

// --- lists -----------------------------------------------------------------------------

std::vector<std::string> entries(const Fl_Menu_* m) {
    std::vector<std::string> out;
    for (int i = 0; i < m->size() - 1; ++i) out.push_back(m->text(i) ? m->text(i) : "");
    return out;
}

using Texts = std::vector<std::string>;

TEST_F(SettingsTabs, ChoiceListsHoldTheirEntries) {
    const Texts display = {"China LCD", "reserved", "202",     "217",   "218",
                           "209",       "209_17",   "MI-21",   "Shelf", "Tokheim",
                           "485",       "Spi",      "Shelf led", "MI-21 i2c", "MI-18 soft"};
    const Texts baud = {"4800", "9600", "19200", "38400"};
    const struct {
        const Fl_Menu_* list;
        Texts want;
    } lists[] = {
        {form->display_a_list, display},
        {form->display_b_list, display},
        {form->primary_baud_list, baud},
        {form->peripheral_baud_list, baud},
        {form->baud_field->menubutton(), baud},
        {form->nozzle_count_list, {"1", "2", "3", "4", "5"}},
        {form->side_count_list, {"1", "2"}},
        {form->mass_meter_list, {"Micromotion", "Flomak", "Shtraymass", "AMF"}},
        {form->nozzle_list, {"1", "2", "3", "4", "5"}},
    };
    for (const auto& l : lists) EXPECT_EQ(entries(l.list), l.want);
    EXPECT_EQ(form->display_a_list->size() - 1, 15);
    EXPECT_STREQ(form->display_a_list->text(1), "reserved");
    // The two channels have their own copies; the display and phase lists
    // are one list shared by their widgets.
    EXPECT_NE(form->primary_baud_list->menu(), form->peripheral_baud_list->menu());
    EXPECT_EQ(form->display_a_list->menu(), form->display_b_list->menu());
    for (int k = 0; k < METER_COUNT; ++k) {
        EXPECT_EQ(entries(form->meter_phase_lists[k]), (Texts{"Phase 1", "Phase 1+2", "Phase 2"}));
        EXPECT_EQ(form->meter_phase_lists[k]->menu(), form->meter_phase_lists[0]->menu());
    }
    EXPECT_EQ(form->first_option_list->nitems(), 16);
    EXPECT_EQ(form->second_option_list->nitems(), 7);
    EXPECT_EQ(form->extra_option_list->nitems(), 6);
    EXPECT_STREQ(form->first_option_list->text(16), "'Sever' mode / Report nozzle down AZT2.0");
    EXPECT_STREQ(form->second_option_list->text(2), "Fast S&B");
    EXPECT_STREQ(form->extra_option_list->text(6), "Leave line 1 open");
    EXPECT_EQ(form->baud_field->menubutton()->value(), 0);
    EXPECT_EQ(text_of(form->baud_field), "4800");
}

// --- layout tables -------------------------------------------------------------------------

struct Place {
    Fl_Widget* w;
    const char* label;  // nullptr: no label
    int x, y, w_, h;
};

void expect_places(const std::vector<Place>& places) {
    for (const Place& p : places) {
        ASSERT_NE(p.w, nullptr);
        const std::string what = p.label ? p.label : "(unlabelled)";
        if (p.label)
            EXPECT_STREQ(p.w->label(), p.label) << what;
        else
            EXPECT_EQ(p.w->label(), nullptr) << what;
        EXPECT_EQ(p.w->x(), p.x) << what;
        EXPECT_EQ(p.w->y(), p.y) << what;
        EXPECT_EQ(p.w->w(), p.w_) << what;
        EXPECT_EQ(p.w->h(), p.h) << what;
    }
}

void expect_children(Fl_Group* g, const std::vector<Fl_Widget*>& order) {
    ASSERT_EQ(g->children(), int(order.size())) << (g->label() ? g->label() : "group");
    for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(g->child(int(i)), order[i]) << i;
}

TEST_F(SettingsTabs, WindowFrameAndMainTab) {
    xMainForm* f = form;
    EXPECT_STREQ(f->status_line->label(), "Pump address 1");
    EXPECT_EQ(f->status_line->labelfont(), 8);
    EXPECT_EQ(f->status_line->labelsize(), 19);
    expect_places({{f->status_line, "Pump address 1", 8, 0, 144, 32},
                   {f->tab_bar, nullptr, 0, 32, 992, 576},
                   {f->main_tab, "Main", 16, 64, 992, 511},
                   {f->main_settings_tab, "Main settings", 0, 64, 992, 532},
                   {f->extra_settings_tab, "Extra settings", 0, 64, 992, 511},
                   {f->side_nozzle_tab, "Side and nozzle settings", 8, 64, 992, 511},
                   {f->load_tab, "Load", 0, 56, 992, 551},
                   {f->port_list, nullptr, 8, 64, 96, 24},
                   {f->open_port_button, "Open port", 208, 64, 96, 24},
                   {f->baud_field, nullptr, 104, 64, 96, 24},
                   {f->command_group, nullptr, 287, 64, 500, 511},
                   {f->log_pane, nullptr, 8, 96, 272, 408},
                   {f->get_identifier_button, "Get identifier", 496, 96, 160, 24},
                   {f->factory_settings_button, "Factory settings", 496, 160, 160, 24},
                   {f->restart_button, "Restart", 288, 192, 160, 24},
                   {f->search_pumps_button, "Search pumps..", 496, 224, 160, 24},
                   {f->read_image_button, "Read image to file..", 496, 256, 160, 24},
                   {f->write_image_button, "Write image from file..", 496, 288, 160, 24},
                   {f->read_diagnostics_button, "Read diagnostics", 288, 128, 160, 24},
                   {f->show_totals_button, "Show totals", 288, 160, 160, 24},
                   {f->broadcast_search_button, "Broadcast search", 496, 192, 160, 24},
                   {f->display_test_group, "Display test", 288, 232, 160, 112},
                   {f->standard_mode_radio, "Standard mode", 288, 232, 96, 24},
                   {f->totals_radio, "Totals", 288, 248, 96, 24},
                   {f->performance_radio, "Performance", 288, 264, 96, 24},
                   {f->test_radio, "Test", 288, 280, 96, 24},
                   {f->test_0_9_radio, "Test 0..9", 288, 296, 96, 24},
                   {f->imitator_button, "Imitator", 496, 464, 160, 24},
                   {f->admin_password_field, "Admin password", 288, 400, 104, 24},
                   {f->change_admin_button, "Change", 400, 400, 56, 24},
                   {f->calibration_password_field, "Calibration password", 464, 400, 128, 24},
                   {f->change_calibration_button, "Change", 600, 400, 56, 24},
                   {f->controller_clear_button, "Controller clear", 496, 128, 160, 24},
                   {f->firmware_update_button, "Firmware update", 320, 64, 128, 24},
                   {f->max_baud_field, "Max baud rate", 456, 64, 96, 24},
                   {f->leave_bootloader_button, "Leave bootloader", 561, 66, 96, 24},
                   {f->extended_firmware_update_button, "Extended firmware update", 288, 96, 160, 24}});
    expect_children(f->tab_bar, {f->main_tab, f->main_settings_tab, f->extra_settings_tab,
                                 f->side_nozzle_tab, f->load_tab});
    expect_children(f->main_tab, {f->port_list, f->open_port_button, f->baud_field, f->command_group,
                                  f->log_pane});
    expect_children(f->command_group,
                    {f->get_identifier_button, f->factory_settings_button, f->restart_button,
                     f->search_pumps_button, f->read_image_button, f->write_image_button,
                     f->read_diagnostics_button, f->show_totals_button, f->broadcast_search_button,
                     f->display_test_group, f->imitator_button, f->admin_password_field,
                     f->change_admin_button, f->calibration_password_field,
                     f->change_calibration_button, f->controller_clear_button,
                     f->firmware_update_button, f->max_baud_field, f->leave_bootloader_button,
                     f->extended_firmware_update_button});
    EXPECT_EQ(f->display_test_group->box(), FL_ENGRAVED_FRAME);
    EXPECT_EQ(text_of(f->max_baud_field), "38400");
    EXPECT_EQ(text_of(f->admin_password_field), "");
    EXPECT_NE(dynamic_cast<Fl_Light_Button*>(f->imitator_button), nullptr);
}

TEST_F(SettingsTabs, LoadTab) {
    xMainForm* f = form;
    expect_places({{f->side_a_radio, "Side A", 16, 64, 96, 16},
                   {f->side_b_radio, "Side B", 16, 84, 96, 16},
                   {f->volume_field, nullptr, 152, 64, 96, 24},
                   {f->amount_field, nullptr, 152, 104, 96, 24},
                   {f->load_volume_button, "Load Volume", 257, 64, 96, 24},
                   {f->load_amount_button, "Load Amount", 256, 104, 96, 24},
                   {f->fulltank_button, "Fulltank", 256, 144, 96, 24},
                   {f->state_field, "State", 16, 176, 352, 24},
                   {f->performance_field, "Performance", 16, 216, 352, 24},
                   {f->finish_button, "Finish", 377, 144, 96, 24},
                   {f->suspend_button, "Suspend", 375, 178, 96, 24},
                   {f->continue_button, "Continue", 376, 216, 96, 24},
                   {f->counters_field, "Counters", 16, 272, 352, 152},
                   {f->set_price_button, "Set price", 370, 64, 96, 24},
                   {f->price_field, nullptr, 472, 64, 96, 24},
                   {f->nozzle_list, nullptr, 16, 136, 96, 24},
                   {f->nozzle_caption, "Nozzle", 16, 120, 96, 8},
                   {f->test_prices_button, "Test prices", 374, 254, 96, 24},
                   {f->sip_diag_button, "SIP diag", 376, 290, 96, 24},
                   {f->sip_set_address_button, "SIP set address", 376, 328, 96, 24},
                   {f->sip_diag_field, "SIP diag", 480, 272, 200, 152}});
    std::vector<Fl_Widget*> order = {
        f->side_a_radio,      f->side_b_radio,   f->volume_field,     f->amount_field,
        f->load_volume_button, f->load_amount_button, f->fulltank_button, f->state_field,
        f->performance_field, f->finish_button,  f->suspend_button,   f->continue_button,
        f->counters_field,    f->set_price_button, f->price_field,    f->nozzle_list,
        f->nozzle_caption,    f->test_prices_button, f->sip_diag_button, f->sip_set_address_button,
        f->sip_diag_field};
    for (int r = 0; r < SIDE_COUNT; ++r)
        for (int i = 0; i < INDICATOR_NOZZLES; ++i) {
            Fl_Check_Button* c = f->nozzle_indicators[r][i];
            order.push_back(c);
            EXPECT_EQ(c->x(), 472 + 24 * i);
            EXPECT_EQ(c->y(), 64 + 36 + 24 * r);
            EXPECT_EQ(c->w(), 16);
            EXPECT_EQ(c->h(), 16);
        }
    expect_children(f->load_tab, order);
    EXPECT_EQ(text_of(f->counters_field), "Text");
    EXPECT_NE(dynamic_cast<Fl_Float_Input*>(f->price_field), nullptr);
}

TEST_F(SettingsTabs, MainSettingsTab) {
    xMainForm* f = form;
    expect_places({{f->baud_rates_group, "Baud rates", 8, 72, 208, 56},
                   {f->primary_baud_list, nullptr, 16, 96, 96, 24},
                   {f->peripheral_baud_list, nullptr, 112, 96, 96, 24},
                   {f->nozzle_count_list, nullptr, 16, 152, 96, 20},
                   {f->display_a_list, nullptr, 16, 192, 96, 20},
                   {f->display_b_list, nullptr, 128, 192, 96, 20},
                   {f->slow_start_field, "Slow start", 16, 232, 96, 24},
                   {f->overfill_buffer_field, "Overfill buffer", 16, 320, 96, 24},
                   {f->side_a_address_field, "Side A address", 272, 72, 96, 24},
                   {f->side_b_address_field, "Side B address", 432, 72, 96, 24},
                   {f->side_a_azt_table, "AZT2.0 side A addresses", 272, 112, 144, 32},
                   {f->side_b_azt_table, "AZT2.0 side B addresses", 432, 112, 144, 32},
                   {f->first_option_list, nullptr, 584, 56, 400, 264},
                   {f->second_option_list, nullptr, 584, 328, 400, 264},
                   {f->valve_pwm_length_field, "Valve PWM length", 448, 312, 96, 24},
                   {f->bmu_passwords_group, "BMU passwords", 272, 168, 304, 128},
                   {f->bmu_admin_password_field, "Admin password", 368, 184, 96, 24},
                   {f->user_password_fields[3], "User3 password", 448, 264, 96, 24},
                   {f->main_read_button, "Read settings", 16, 528, 368, 24},
                   {f->main_save_button, "Save settings", 16, 552, 368, 24},
                   {f->satellite_channel_field, "Satellite channel", 280, 312, 96, 80},
                   {f->immediate_start_radio, "Immediate start", 128, 224, 112, 16},
                   {f->start_20ml_radio, "20 ml start", 128, 240, 120, 16},
                   {f->no_counting_radio, "No counting", 128, 312, 112, 16},
                   {f->count_3s_radio, "Count for 3 seconds", 128, 328, 112, 16},
                   {f->price_dot_xxxx_radio, "price dot position XXXX", 272, 428, 96, 24},
                   {f->shift_price_left_field, "Shift price left", 448, 352, 96, 24},
                   {f->volume_dot_check, "Volume dot position XXXX.YYY", 272, 456, 240, 24}});
    EXPECT_STREQ(f->primary_baud_list->tooltip(),
                 "Primary channel baud rate (for connecting forecourt controller)");
    EXPECT_STREQ(f->peripheral_baud_list->tooltip(), "Peripheral channel baud rate");
    for (Fl_StringTable* t : {f->side_a_azt_table, f->side_b_azt_table}) {
        EXPECT_EQ(t->rows(), 1);
        EXPECT_EQ(t->cols(), 5);
        EXPECT_EQ(t->col_width(0), 20);
        EXPECT_EQ(t->col_width(4), 20);
        EXPECT_EQ(t->selection_color(), Fl_Color(50));
        EXPECT_EQ(t->row_header(), 0);
        EXPECT_EQ(t->col_header(), 0);
    }
    EXPECT_EQ(text_of(f->nozzle_fat_field), "0");
    EXPECT_EQ(text_of(f->satellite_channel_field), "0");
    EXPECT_EQ(text_of(f->shift_price_left_field), "");
    EXPECT_EQ(f->main_settings_tab->child(0), f->baud_rates_group);
    EXPECT_EQ(f->main_settings_tab->child(f->main_settings_tab->children() - 1), f->volume_dot_check);
}

TEST_F(SettingsTabs, ExtraSettingsTab) {
    xMainForm* f = form;
    expect_places({{f->density_multiplier_field, "Density multiplier", 8, 80, 120, 24},
                   {f->fail_pressure_field, "Fail pressure", 144, 80, 128, 24},
                   {f->pressure_offset_20ma_field, "Pressure offset 20mA", 288, 160, 128, 24},
                   {f->line_min_flow_fields[2], "Line3 mininum flow", 8, 320, 120, 24},
                   {f->line_min_flow_timeout_fields[0], "Line1 min. flow timeout", 144, 240, 128, 24},
                   {f->extra_option_list, nullptr, 424, 72, 320, 200},
                   {f->extra_read_button, "Read settings", 24, 456, 288, 24},
                   {f->extra_save_button, "Save settings", 24, 488, 288, 24},
                   {f->volume_multiplier_field, "Volume multiplier", 8, 200, 120, 24},
                   {f->mass_meter_list, nullptr, 288, 328, 128, 24},
                   {f->tcp_gateway_field, "TCP gateway", 145, 370, 128, 24},
                   {f->pressure_debug_field, "Pressure (debug)", 288, 208, 128, 24}});
    const struct {
        Fl_Widget* w;
        const char* text;
    } texts[] = {{f->density_multiplier_field, ""}, {f->volume_multiplier_field, "Text"},
                 {f->tcp_ip_field, "Text"},         {f->modbus_port_field, "Text"},
                 {f->heater_off_field, "Text"},     {f->pressure_debug_field, ""}};
    for (const auto& t : texts) EXPECT_EQ(text_of(t.w), t.text) << t.w->label();
    EXPECT_EQ(f->extra_settings_tab->children(), 30);
}

TEST_F(SettingsTabs, SideAndNozzleTabWithItsMeterTables) {
    xMainForm* f = form;
    const int type_y[METER_COUNT] = {72, 88, 112, 128, 152, 176, 192, 216, 232, 256};
    for (int k = 0; k < METER_COUNT; ++k) {
        const std::string n = std::to_string(k + 1);
        EXPECT_EQ(std::string(f->meter_type_fields[k]->label()), "Meter " + n + " type");
        EXPECT_EQ(f->meter_type_fields[k]->x(), 296);
        EXPECT_EQ(f->meter_type_fields[k]->y(), type_y[k]);
        EXPECT_EQ(f->meter_type_fields[k]->w(), 96);
        EXPECT_EQ(text_of(f->meter_type_fields[k]), k == 1 ? "" : "0");
        EXPECT_EQ(f->meter_phase_lists[k]->x(), 512);
        EXPECT_EQ(f->meter_phase_lists[k]->y(), 72 + 20 * k);
        EXPECT_EQ(std::string(f->meter_phase_captions[k]->label()), "Meter " + n + " phase");
        EXPECT_EQ(f->meter_phase_captions[k]->y(), 80 + 20 * k);
        EXPECT_EQ(f->meter_phase_captions[k]->h(), 8);
        EXPECT_EQ(std::string(f->calibration_count_outputs[k]->label()), "Calibration " + n + " count");
        EXPECT_EQ(f->calibration_count_outputs[k]->x(), 734);
        EXPECT_EQ(f->calibration_count_outputs[k]->color(), Fl_Color(50));
        EXPECT_EQ(text_of(f->calibration_count_outputs[k]), "0");
        EXPECT_STREQ(f->coefficient_outputs[k]->label(), "Coefficient");
        EXPECT_EQ(f->coefficient_outputs[k]->x(), 856);
        EXPECT_EQ(f->coefficient_outputs[k]->y(), 72 + 20 * k);
    }
    for (int s = 0; s < SIDE_COUNT; ++s) {
        const int dy = 240 * s;
        expect_places({{f->side_groups[s], s ? "Side B" : "Side A", 8, 72 + dy, 200, 216},
                       {f->active_nozzle_fields[s], "Active nozzle", 16, 96 + dy, 96, 24},
                       {f->calibration_date_fields[s], "Calibration date", 16, 176 + dy, 96, 24},
                       {f->wrong_clear_count_fields[s], "Wrong clear count", 16, 256 + dy, 96, 24},
                       {f->clear_buttons[s], "Clear", 120, 256 + dy, 72, 24}});
        EXPECT_EQ(text_of(f->wrong_clear_count_fields[s]), "Text");
    }
    // Creation order: side groups, type fields, phase list + caption per
    // meter, the two buttons, the count outputs, the coefficient outputs.
    std::vector<Fl_Widget*> order = {f->side_groups[0], f->side_groups[1]};
    for (int k = 0; k < METER_COUNT; ++k) order.push_back(f->meter_type_fields[k]);
    for (int k = 0; k < METER_COUNT; ++k) {
        order.push_back(f->meter_phase_lists[k]);
        order.push_back(f->meter_phase_captions[k]);
    }
    order.push_back(f->side_read_button);
    order.push_back(f->side_write_button);
    for (int k = 0; k < METER_COUNT; ++k) order.push_back(f->calibration_count_outputs[k]);
    for (int k = 0; k < METER_COUNT; ++k) order.push_back(f->coefficient_outputs[k]);
    expect_children(f->side_nozzle_tab, order);
}

// --- hooking ------------------------------------------------------------------------------

TEST_F(SettingsTabs, HookingFollowsTheFiveRules) {
    xMainForm* f = form;
    Fl_Callback* dispatcher = f->get_identifier_button->callback();
    ASSERT_NE(dispatcher, nullptr);
    Fl_Widget* hooked[] = {f->open_port_button, f->port_list, f->baud_field, f->imitator_button,
                           f->standard_mode_radio, f->test_0_9_radio, f->immediate_start_radio,
                           f->count_3s_radio, f->clear_buttons[0], f->clear_buttons[1], f->tab_bar,
                           f->slow_start_field, f->overfill_buffer_field, f->main_save_button,
                           f->nozzle_count_list, f->volume_dot_check, f->mass_meter_list,
                           f->meter_phase_lists[9], f->side_a_radio, f->nozzle_list,
                           f->nozzle_indicators[1][5], f->sip_set_address_button};
    for (Fl_Widget* w : hooked) EXPECT_EQ(w->callback(), dispatcher) << (w->label() ? w->label() : "");
    Fl_Widget* not_hooked[] = {f->leave_bootloader_button, f->max_baud_field, f->admin_password_field,
                               f->primary_baud_list, f->price_dot_xx_yy_radio, f->nozzle_fat_field,
                               f->side_a_azt_table, f->first_option_list, f->volume_field,
                               f->counters_field, f->active_nozzle_fields[0]};
    for (Fl_Widget* w : not_hooked) EXPECT_NE(w->callback(), dispatcher) << (w->label() ? w->label() : "");
    EXPECT_EQ(f->slow_start_field->when() & FL_WHEN_CHANGED, FL_WHEN_CHANGED);
    EXPECT_EQ(f->overfill_buffer_field->when() & FL_WHEN_CHANGED, FL_WHEN_CHANGED);
}

TEST_F(SettingsTabs, ClickingANozzleIndicatorTogglesItAndRunsNothing) {
    select_tab(form->load_tab);
    Fl_Check_Button* c = form->nozzle_indicators[0][2];
    click(c);
    EXPECT_EQ(c->value(), 1);
    click(c);
    EXPECT_EQ(c->value(), 0);
    EXPECT_EQ(dialogs().size(), 2u);  // the prompt and the failed open only
}

TEST_F(SettingsTabs, SettingsTabsFollowEnable) {
    form->enable_settings_tabs(0);
    for (Fl_Group* t : {form->main_settings_tab, form->extra_settings_tab, form->side_nozzle_tab})
        EXPECT_FALSE(t->active());
    EXPECT_TRUE(form->main_tab->active());
    EXPECT_TRUE(form->load_tab->active());
    form->enable_settings_tabs(7);
    for (Fl_Group* t : {form->main_settings_tab, form->extra_settings_tab, form->side_nozzle_tab})
        EXPECT_TRUE(t->active());
}

}  // namespace
