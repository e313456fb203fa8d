// The settings editor end to end: the "Main settings" and "Extra settings"
// tabs of the real main window against the simulator, and the round trip of
// records through the form.
#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Browser.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Float_Input.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Multiline_Input.H>

#include "app/config.h"
#include "app/startup.h"
#include "protocol/zove_device.h"
#include "settings/records.h"
#include "simulator/simulator.h"
#include "tests/gui/gui_fixture.h"
#include "ui/string_table.h"

namespace {

template <class T>
std::vector<uint8_t> bytes_of(const T& rec) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&rec);
    return std::vector<uint8_t>(p, p + sizeof rec);
}

class Editor : public GuiFixture {
protected:
    void start_pump(const zsim::Scenario& s = zsim::Scenario()) {
        sim = std::make_unique<zsim::Simulator>(s);
        ASSERT_EQ(sim->start_pty(&pty), 0);
    }
    void start_window() {
        start_with_port(pty);
        ASSERT_TRUE(form->main_settings_tab->active()) << log_text();
        select_tab(form->main_settings_tab);
        settle();
    }
    void TearDown() override {
        GuiFixture::TearDown();
        if (sim) sim->stop();
    }
    MainSettings sim_main() {
        MainSettings m;
        auto b = sim->read_memory(0, 0, BLOCK_MAIN.address, sizeof m);
        memcpy(&m, b.data(), sizeof m);
        return m;
    }
    void put_sim_main(const MainSettings& m) {
        sim->write_memory(0, 0, BLOCK_MAIN.address, bytes_of(m));
    }
    static std::string last_alert() {
        for (auto it = dialogs().rbegin(); it != dialogs().rend(); ++it)
            if (it->kind == DLG_ALERT) return it->text;
        return "";
    }
    static int alerts() {
        int n = 0;
        for (auto& d : dialogs()) n += d.kind == DLG_ALERT;
        return n;
    }
    void set_azt(int sides, int nozzles, std::vector<const char*> a, std::vector<const char*> b) {
        form->side_count_list->value(sides - 1);
        form->nozzle_count_list->value(nozzles - 1);
        for (int n = 0; n < 5; ++n) {
            form->side_a_azt_table->set_cell(n, 0, n < int(a.size()) ? a[n] : "");
            form->side_b_azt_table->set_cell(n, 0, n < int(b.size()) ? b[n] : "");
        }
    }
    std::unique_ptr<zsim::Simulator> sim;
    std::string pty;
};

// The controller's block with everything the form does not carry at the
// values the form writes, so an unchanged form is an unchanged block.
MainSettings clean(MainSettings m) {
    m.marker = MAIN_MARKER;
    m.nozzle_wait = 0;
    m.reserved_23 = m.reserved_24 = m.reserved_45 = 0;
    m.trk_modes2 &= 0x7F;
    m.tbl_dot_flags &= 0x7E;
    if ((m.tbl_dot_flags & DOT_PRICE_MASK) == DOT_PRICE_MASK) m.tbl_dot_flags &= ~DOT_PRICE_MASK;
    for (int i = 2 * m.noz_count; i < 12; ++i) m.zivu_addr[i] = 0;
    return m;
}

TEST_F(Editor, UnchangedSettingsAreNotWritten) {
    start_pump();
    MainSettings m = clean(sim_main());
    put_sim_main(m);
    start_window();
    const int writes = sim->count(zsim::K_MEM_WRITE);
    press(form->main_save_button);
    EXPECT_EQ(last_alert(), "Settings did not change");
    EXPECT_EQ(sim->count(zsim::K_MEM_WRITE), writes);

    // Bytes the form does not carry are written as the form builds them.
    m.nozzle_wait = 5;
    m.marker = 0x11;
    put_sim_main(m);
    press(form->main_read_button);
    press(form->main_save_button);
    EXPECT_EQ(last_alert(), "Write ok");
    EXPECT_EQ(sim_main().nozzle_wait, 0);
    EXPECT_EQ(sim_main().marker, MAIN_MARKER);
    // The written record is now the copy: saving again changes nothing.
    press(form->main_save_button);
    EXPECT_EQ(last_alert(), "Settings did not change");
}

TEST_F(Editor, SideAddressChecksInOrderWithFocus) {
    start_pump();
    start_window();
    struct { const char* a; const char* b; const char* alert; int focus_b; } cases[] = {
        {"40", "40", "Side addresses must not be the same", 1},
        {"0", "7", "Side addresses must be 1..0x20", 0},
        {"7", "40", "Side addresses must be 1..0x20", 1},
        {"x", "7", "Side addresses must be 1..0x20", 0},
    };
    const int writes = sim->count(zsim::K_MEM_WRITE);
    for (auto& c : cases) {
        set_text(form->side_a_address_field, c.a);
        set_text(form->side_b_address_field, c.b);
        focus(form->main_save_button);
        press(form->main_save_button);
        EXPECT_EQ(last_alert(), c.alert) << c.a << " " << c.b;
        EXPECT_EQ(Fl::focus(), c.focus_b ? static_cast<Fl_Widget*>(form->side_b_address_field)
                                         : static_cast<Fl_Widget*>(form->side_a_address_field))
            << c.a << " " << c.b;
    }
    EXPECT_EQ(sim->count(zsim::K_MEM_WRITE), writes);
}

TEST_F(Editor, AztAddressChecks) {
    start_pump();
    start_window();
    struct { int sides, nozzles; std::vector<const char*> a, b; const char* alert; } cases[] = {
        {2, 2, {"1", "2"}, {"3", "1"}, "AZT addresses overlap"},
        {1, 2, {"5", "6"}, {"5", "9"}, "AZT addresses overlap"},  // A1 and B1 compared
        {1, 2, {"5", "5"}, {"6", "9"}, nullptr},                  // A2 not compared with A1
        {1, 1, {"5"}, {""}, "AZT addresses must be 1..210"},      // side B still checked
        {2, 2, {"1", "211"}, {"3", "4"}, "AZT addresses must be 1..210"},
        {2, 3, {"1", "2", "3"}, {"4", "5", "6"}, nullptr},
    };
    for (auto& c : cases) {
        dlg_clear_shown();
        set_azt(c.sides, c.nozzles, c.a, c.b);
        const int ok = form->parse_main();
        if (!c.alert) {
            EXPECT_EQ(ok, 1);
            EXPECT_EQ(alerts(), 0);
            for (int n = 0; n < c.nozzles; ++n) {
                EXPECT_EQ(main_edit.zivu_addr[2 * n], atoi(c.a[n]));
                EXPECT_EQ(main_edit.zivu_addr[2 * n + 1], atoi(c.b[n]));
            }
            EXPECT_EQ(main_edit.noz_count, c.nozzles);
            EXPECT_EQ(main_edit.side_count, c.sides);
        } else {
            EXPECT_EQ(ok, 0);
            EXPECT_EQ(last_alert(), c.alert);
        }
    }
    set_azt(2, 2, {"1", "0"}, {"3", "4"});
    form->parse_main();
    EXPECT_EQ(Fl::focus(), static_cast<Fl_Widget*>(form->side_a_azt_table));
}

TEST_F(Editor, SatelliteChannelsShiftAndDisplayType) {
    start_pump();
    start_window();
    struct { const char* text; uint16_t field; } cases[] = {
        {"1\n2\n15\n15\n", 0xFF21}, {"1\n1\n15\n15\n", 0}, {"15\n15\n15\n15\n", 0xFFFF},
        {"", 0xFFFF}, {"3", 0}, {"1\n2\n15 - not assigned\n15 - not assigned\n", 0xFF21}};
    for (auto& c : cases) {
        dlg_clear_shown();
        set_text(form->satellite_channel_field, c.text);
        const int ok = form->parse_main();
        if (c.field) {
            EXPECT_EQ(ok, 1) << c.text;
            EXPECT_EQ(uint16_t(main_edit.sat_channel), c.field) << c.text;
        } else {
            EXPECT_EQ(ok, 0) << c.text;
            EXPECT_EQ(last_alert(), "Satellite channels overlap") << c.text;
        }
    }
    set_text(form->satellite_channel_field, "1\n2\n15\n15\n");
    set_text(form->shift_price_left_field, "9");
    form->display_a_list->value(static_cast<const Fl_Menu_Item*>(nullptr));
    ASSERT_EQ(form->parse_main(), 1);
    EXPECT_EQ((main_edit.tbl_dot_flags >> 3) & 7, 1);
    EXPECT_EQ(main_edit.tbl_type[0], 255);
}

TEST_F(Editor, SideAAddressChangeMovesTheTool) {
    start_pump();
    start_window();
    ASSERT_EQ(sim->side_a(0), 1);
    set_text(form->side_a_address_field, "3");
    press(form->main_save_button);
    EXPECT_EQ(last_alert(), "Write ok");
    EXPECT_EQ(sim->side_a(0), 3);
    EXPECT_EQ(sim->restart_count(0), 1);  // the restart still reached the old address
    EXPECT_EQ(connection_settings.pump_address, 3);
    EXPECT_EQ(zove_device->address, 3);
    EXPECT_TRUE(form->main_settings_tab->active()) << log_text();
    EXPECT_EQ(text_of(form->side_a_address_field), "3");
    EXPECT_EQ(main_read.side_a_addr, 3);
}

TEST_F(Editor, FailedMainReadSwitchesTheTabsOff) {
    start_pump();
    start_window();
    zsim::Fault f;
    f.bad_check = true;
    f.kind = zsim::K_MEM_READ;
    sim->set_fault(f);
    const MainSettings before = main_read;
    press(form->main_read_button);
    EXPECT_FALSE(form->main_settings_tab->active());
    EXPECT_EQ(bytes_of(main_read), bytes_of(before)) << "an unverified block is not taken";
}

TEST_F(Editor, ExtraSettingsWrites) {
    start_pump();
    start_window();
    select_tab(form->extra_settings_tab);  // reads the extra settings
    const auto before = sim->read_memory(0, 0, BLOCK_EXTRA.address, 60);
    set_text(form->pressure_offset_20ma_field, "0x1FFFF");
    press(form->extra_save_button);
    EXPECT_EQ(last_alert(), "Write extra settings ok");
    const auto after = sim->read_memory(0, 0, BLOCK_EXTRA.address, 60);
    EXPECT_EQ(after[24], 0xFF);
    EXPECT_EQ(after[25], 0xFF);
    EXPECT_EQ(after[26], before[26]) << "line_max_flow[0] stays as read";
    EXPECT_EQ(after[27], before[27]);
    EXPECT_EQ(text_of(form->pressure_offset_20ma_field), "0xFFFF");

    press(form->extra_save_button);
    EXPECT_EQ(last_alert(), "No values changed");

    // A refused write is reported and the re-read restores the controller's values.
    sim->set_config_key(0, false);
    set_text(form->density_multiplier_field, "4242");
    press(form->extra_save_button);
    EXPECT_EQ(last_alert(), "Write extra settings error");
    EXPECT_NE(text_of(form->density_multiplier_field), "4242");
    EXPECT_EQ(bytes_of(extra_settings), sim->read_memory(0, 0, BLOCK_EXTRA.address, 60));
}

TEST_F(Editor, RefusedMainWriteIsExplained) {
    start_pump();
    start_window();
    sim->set_config_key(0, false);
    set_text(form->side_b_address_field, "9");
    press(form->main_save_button);
    EXPECT_EQ(last_alert(), "Turn the configuration key on");

    // No answer to the last-error query: the plain text.
    zsim::Fault f;
    f.no_reply = true;
    f.kind = zsim::K_LAST_ERROR;
    sim->set_fault(f);
    press(form->main_save_button);
    EXPECT_EQ(last_alert(), "Write error");
    EXPECT_EQ(sim->side_b(0), 2);
    EXPECT_EQ(main_read.side_b_addr, 2) << "a refused write leaves the copy as read";
}

TEST_F(Editor, ShowMainEncodings) {
    start_pump();
    start_window();
    MainSettings m = main_read;

    m.baud_main = 48;
    main_read = m;
    form->show_main();
    EXPECT_EQ(form->primary_baud_list->value(), 0);
    m.baud_main = 50;  // no such code: the list stays as it was
    form->primary_baud_list->value(2);
    main_read = m;
    form->show_main();
    EXPECT_EQ(form->primary_baud_list->value(), 2);

    struct { uint8_t slow; const char* text; int immediate, ml20; } starts[] = {
        {255, "25500", 1, 0}, {0, "0", 0, 1}, {7, "700", 0, 0}};
    for (auto& c : starts) {
        m.slow_start = c.slow;
        main_read = m;
        form->show_main();
        EXPECT_EQ(text_of(form->slow_start_field), c.text);
        EXPECT_EQ(form->immediate_start_radio->value(), c.immediate);
        EXPECT_EQ(form->start_20ml_radio->value(), c.ml20);
    }
    m.hydro_hit = 254;
    main_read = m;
    form->show_main();
    EXPECT_EQ(text_of(form->overfill_buffer_field), "2540");
    EXPECT_EQ(form->count_3s_radio->value(), 1);
    EXPECT_EQ(form->no_counting_radio->value(), 0);

    m.sat_channel = 0xFF21;
    main_read = m;
    form->show_main();
    EXPECT_EQ(text_of(form->satellite_channel_field),
              "1\n2\n15 - not assigned\n15 - not assigned\n");

    struct { uint16_t flags; int xxxx, xxx_y, xx_yy; const char* shift; int volume; } dots[] = {
        {0x0044, 0, 1, 0, "0", 1}, {0x0006, 0, 0, 1, "0", 0}, {0x0012, 1, 0, 0, "2", 0}};
    for (auto& c : dots) {
        m.tbl_dot_flags = c.flags;
        main_read = m;
        form->show_main();
        EXPECT_EQ(form->price_dot_xxxx_radio->value(), c.xxxx) << c.flags;
        EXPECT_EQ(form->price_dot_xxx_y_radio->value(), c.xxx_y) << c.flags;
        EXPECT_EQ(form->price_dot_xx_yy_radio->value(), c.xx_yy) << c.flags;
        EXPECT_EQ(text_of(form->shift_price_left_field), c.shift) << c.flags;
        EXPECT_EQ(form->volume_dot_check->value(), c.volume) << c.flags;
    }

    // The AZT tables follow the nozzle count of the record.
    m.noz_count = 2;
    m.zivu_addr[0] = 11, m.zivu_addr[1] = 12, m.zivu_addr[2] = 13, m.zivu_addr[3] = 14;
    main_read = m;
    form->show_main();
    EXPECT_STREQ(form->side_a_azt_table->get_cell(1, 0), "13");
    EXPECT_STREQ(form->side_b_azt_table->get_cell(0, 0), "12");
    const char* empty = form->side_a_azt_table->get_cell(2, 0);
    EXPECT_TRUE(!empty || !*empty);
    EXPECT_EQ(form->nozzle_count_list->value(), 1);
}

TEST_F(Editor, ShowExtraEncodings) {
    start_pump();
    start_window();
    select_tab(form->extra_settings_tab);
    ExtraSettings x = extra_settings;
    x.heater_on = -10;
    x.mass_flags = 0xE000;
    extra_settings = x;
    form->show_extra();
    EXPECT_EQ(text_of(form->heater_on_field), "-1.0");
    EXPECT_EQ(form->mass_meter_list->value(), -1);

    x.mass_flags = (1 << MASS_TYPE_SHIFT) | 1;
    x.fail_pressure = 999;
    x.density_manual = 7215;
    x.pressure_offset = 0x3A0;
    const uint8_t ip[4] = {192, 168, 1, 50};
    memcpy(x.w_ip, ip, 4);
    extra_settings = x;
    form->show_extra();
    EXPECT_EQ(form->mass_meter_list->value(), 1);
    EXPECT_EQ(form->extra_option_list->checked(1), 1);
    EXPECT_EQ(form->extra_option_list->checked(2), 0);
    EXPECT_EQ(text_of(form->fail_pressure_field), "99.9");
    EXPECT_EQ(text_of(form->manual_density_field), "0.7215");
    EXPECT_EQ(text_of(form->pressure_offset_4ma_field), "0x3A0");
    EXPECT_EQ(text_of(form->tcp_ip_field), "192.168.1.50");
    // The debug field shows the readings already shifted by 4.
    const auto raw = sim->read_memory(0, 2, BLOCK_PRESSURE.address, 4);
    char want[40];
    snprintf(want, sizeof want, "0x%03X, 0x%03X", unsigned((raw[0] | raw[1] << 8) >> 4),
             unsigned((raw[2] | raw[3] << 8) >> 4));
    EXPECT_EQ(text_of(form->pressure_debug_field), want);
}

// --- round trip of records through the form ---------------------------------

MainSettings random_main(std::mt19937& rng) {
    auto u8 = [&] { return uint8_t(rng()); };
    MainSettings m;
    memset(&m, 0, sizeof m);
    m.baud_main = BAUD_CODES[rng() % 4];
    m.baud_periph = BAUD_CODES[rng() % 4];
    m.marker = MAIN_MARKER;
    m.side_a_addr = uint8_t(1 + rng() % 32);
    do m.side_b_addr = uint8_t(1 + rng() % 32); while (m.side_b_addr == m.side_a_addr);
    m.side_count = uint8_t(1 + rng() % 2);
    m.noz_count = uint8_t(1 + rng() % 5);
    std::vector<int> pool(210);
    std::iota(pool.begin(), pool.end(), 1);
    std::shuffle(pool.begin(), pool.end(), rng);
    for (int i = 0; i < 2 * m.noz_count; ++i) m.zivu_addr[i] = uint8_t(pool[i]);
    m.slow_start = u8();
    m.slow_load = u8();
    m.nozzle_fat = u8();
    m.met_timeout = u8();
    m.trk_modes = uint16_t(rng());
    m.trk_modes2 = uint16_t(rng() & 0x7F);
    for (auto& t : m.tbl_type) {
        const int v = int(rng() % 16);
        t = v == 15 ? DISPLAY_TYPE_NONE : uint8_t(v);
    }
    m.min_speed = u8();
    m.min_sp_time = u8();
    m.hydro_hit = u8();
    m.pc_timeout = u8();
    m.shim_duration = u8();
    m.min_vol = u8();
    m.st_wait_force = u8();
    m.valve_delay = u8();
    m.pb_timeout = u8();
    for (int k = 0; k < 4; ++k) m.bmu_p_user[k] = uint32_t(rng());
    m.bmu_p_adm = uint32_t(rng());
    std::vector<int> ch(15);
    std::iota(ch.begin(), ch.end(), 0);
    std::shuffle(ch.begin(), ch.end(), rng);
    uint16_t sat = 0;
    for (int k = 0; k < 4; ++k) sat |= uint16_t((rng() % 3 == 0 ? 15 : ch[k]) << (4 * k));
    m.sat_channel = sat;
    const uint16_t prices[3] = {0, DOT_PRICE_XXXX, DOT_PRICE_XXX_Y};
    m.tbl_dot_flags = uint16_t(prices[rng() % 3] | ((rng() % 8) << DOT_SHIFT_POS) |
                               (rng() % 2 ? DOT_VOLUME : 0));
    return m;
}

ExtraSettings random_extra(std::mt19937& rng) {
    ExtraSettings x;
    uint8_t* p = reinterpret_cast<uint8_t*>(&x);
    for (size_t i = 0; i < sizeof x; ++i) p[i] = uint8_t(rng());
    const uint16_t types[5] = {0, 1, 2, 3, MASS_TYPE_NONE};
    x.mass_flags = uint16_t((rng() & 0x3F) | (types[rng() % 5] << MASS_TYPE_SHIFT));
    return x;
}

TEST_F(Editor, MainRecordsSurviveShowAndParse) {
    start_pump();
    start_window();
    std::mt19937 rng(20240611);
    for (int i = 0; i < 300; ++i) {
        const MainSettings r = random_main(rng);
        main_read = r;
        ASSERT_EQ(form->show_main(), 1);
        ASSERT_EQ(form->parse_main(), 1) << "case " << i << ": " << last_alert();
        ASSERT_EQ(bytes_of(main_edit), bytes_of(r)) << "case " << i;
    }
    EXPECT_EQ(alerts(), 0);
}

TEST_F(Editor, ExtraRecordsSurviveShowAndParse) {
    start_pump();
    start_window();
    std::mt19937 rng(20240612);
    for (int i = 0; i < 300; ++i) {
        const ExtraSettings r = random_extra(rng);
        extra_settings = r;
        form->show_extra();
        extra_settings.dens_mult ^= 1;  // so the form differs from the copy
        ASSERT_EQ(form->parse_extra(), 1) << "case " << i;
        const auto got = bytes_of(extra_settings), want = bytes_of(r);
        for (size_t b = 0; b < got.size(); ++b)
            ASSERT_EQ(got[b], want[b]) << "case " << i << " byte " << b;
    }
    EXPECT_EQ(alerts(), 0);
}

}  // namespace
