// The application shell: configuration file, pump-address prompt, start-up
// with and without a port, the port button, F keys, the Display test radio
// group, tab changes and the log pane -- on the real main window.
#include "tests/gui/gui_fixture.h"  // first: X11 headers define names gtest uses

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <X11/keysym.h>

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/fl_ask.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Menu_Button.H>
#include <FL/Fl_Multiline_Input.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Tabs.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Editor.H>

#include "app/config.h"
#include "app/startup.h"
#include "port/port.h"
#include "protocol/zove_device.h"
#include "simulator/simulator.h"

namespace {

// --- configuration file ------------------------------------------------------

struct ConfigCase {
    const char* name;
    bool present;
    const char* bytes;
    int result;
    const char* port;
    int baud, data_bits;
    char parity;
    int stop_bits, max_baud;
};

class ConfigFile : public GuiFixture, public ::testing::WithParamInterface<ConfigCase> {};

TEST_P(ConfigFile, FieldsReadInOrderUpToTheFirstBadOne) {
    const ConfigCase& c = GetParam();
    if (c.present) write_config(c.bytes);
    // Leftovers of an earlier read must be replaced by the defaults.
    connection_settings = ConnectionSettings{"", 1, 2, 'Q', 3, 4, 1};
    EXPECT_EQ(load_config(), c.result);
    EXPECT_STREQ(connection_settings.port_name, c.port);
    EXPECT_EQ(connection_settings.baud_rate, c.baud);
    EXPECT_EQ(connection_settings.data_bits, c.data_bits);
    EXPECT_EQ(connection_settings.parity, c.parity);
    EXPECT_EQ(connection_settings.stop_bits, c.stop_bits);
    EXPECT_EQ(connection_settings.max_baud_rate, c.max_baud);
}

const std::string kLongName(120, 'p');

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigFile,
    ::testing::Values(
        ConfigCase{"missing", false, "", -1, "", 4800, 8, 'N', 1, 38400},
        ConfigCase{"empty", true, "", 1, "", 4800, 8, 'N', 1, 38400},
        ConfigCase{"name_only", true, "ttyUSB0", 1, "ttyUSB0", 4800, 8, 'N', 1, 38400},
        ConfigCase{"two_fields", true, "ttyUSB0 9600", 1, "ttyUSB0", 9600, 8, 'N', 1, 38400},
        ConfigCase{"four_fields", true, "ttyS1 19200 7 O", 1, "ttyS1", 19200, 7, 'O', 1, 38400},
        ConfigCase{"bad_baud", true, "ttyS1 fast 7 O 2 9600", 1, "ttyS1", 4800, 8, 'N', 1, 38400},
        ConfigCase{"bad_stop", true, "ttyS1 9600 7 O x 9600", 1, "ttyS1", 9600, 7, 'O', 1, 38400},
        ConfigCase{"full", true, "COM7 1200 8 E 2 19200", 1, "COM7", 1200, 8, 'E', 2, 19200},
        ConfigCase{"second_line_ignored", true, "ttyA 9600 8 N 1 38400\nttyB 1200 7 E 2 600", 1,
                   "ttyA", 9600, 8, 'N', 1, 38400},
        ConfigCase{"tcp_name", true, "TCPC_127.0.0.1:4001 38400 8 N 1 38400", 1,
                   "TCPC_127.0.0.1:4001", 38400, 8, 'N', 1, 38400}),
    [](const ::testing::TestParamInfo<ConfigCase>& i) { return std::string(i.param.name); });

TEST_F(GuiFixture, ConfigLongFirstLineKeepsItsFirst99Characters) {
    write_config(kLongName + " 9600 8 N 1 38400");
    EXPECT_EQ(load_config(), 1);
    EXPECT_EQ(std::string(connection_settings.port_name), kLongName.substr(0, 99));
}

TEST_F(GuiFixture, ConfigSaveWritesOneLineWithoutNewlineAndLeavesNoTemporary) {
    connection_settings = ConnectionSettings{"ttyUSB3", 9600, 7, 'E', 2, 57600, 1};
    EXPECT_EQ(save_config(), 1);
    EXPECT_EQ(read_file(CONFIG_FILE_NAME), "ttyUSB3 9600 7 E 2 57600");
    // Only the file itself remains beside it.
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir)) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
    // Saving over an existing file replaces it whole.
    connection_settings.baud_rate = 1200;
    EXPECT_EQ(save_config(), 1);
    EXPECT_EQ(read_file(CONFIG_FILE_NAME), "ttyUSB3 1200 7 E 2 57600");
}

// A file that cannot be replaced (here: a directory in its place) is a
// failure, and no temporary file is left behind.
TEST_F(GuiFixture, ConfigSaveThatCannotReplaceTheFileFailsCleanly) {
    std::filesystem::create_directory(dir + "/" + CONFIG_FILE_NAME);
    connection_settings = ConnectionSettings{"ttyUSB3", 9600, 8, 'N', 1, 38400, 1};
    EXPECT_EQ(save_config(), -1);
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir)) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
    EXPECT_TRUE(std::filesystem::is_directory(dir + "/" + CONFIG_FILE_NAME));
}

// --- pump-address prompt ---------------------------------------------------------

struct AddressCase {
    const char* name;
    const char* answer;  // nullptr: cancelled
    int address;
};

class PumpPrompt : public GuiFixture, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(PumpPrompt, AnswerBecomesTheLow8BitsOfItsLeadingNumber) {
    const AddressCase& c = GetParam();
    start(c.answer);  // no configuration file: the open fails fast
    ASSERT_GE(dialogs().size(), 1u);
    EXPECT_EQ(dialogs()[0].kind, DLG_INPUT);
    EXPECT_EQ(dialogs()[0].text, "Enter pump address");
    EXPECT_EQ(connection_settings.pump_address, c.address);
    EXPECT_EQ(zove_device->address, c.address);
    EXPECT_EQ(std::string(form->status_line->label()), "Pump address " + std::to_string(c.address));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PumpPrompt,
    ::testing::Values(AddressCase{"plain", "7", 7}, AddressCase{"wraps_300", "300", 44},
                      AddressCase{"text", "abc", 0}, AddressCase{"minus_one", "-1", 255},
                      AddressCase{"spaces_and_tail", "  12xyz", 12},
                      AddressCase{"huge", "99999999999999999999999999", 255},
                      AddressCase{"cancel", nullptr, 1}),
    [](const ::testing::TestParamInfo<AddressCase>& i) { return std::string(i.param.name); });

// --- start-up ----------------------------------------------------------------------

TEST_F(GuiFixture, StartUpWithAPortThatCannotBeOpenedAlertsAndKeepsTheDefaults) {
    write_config("COM7 1200 8 E 2 19200");
    start("3");
    ASSERT_EQ(dialogs().size(), 2u);
    EXPECT_EQ(dialogs()[1].kind, DLG_ALERT);
    EXPECT_EQ(dialogs()[1].text, "Cannot open serial port");
    EXPECT_EQ(port_handle, 0);
    EXPECT_EQ(zove_device->port, 0);
    EXPECT_EQ(form->port_list->value(), -1);
    EXPECT_EQ(text_of(form->baud_field), "4800");
    EXPECT_EQ(text_of(form->max_baud_field), "38400");
    EXPECT_STREQ(form->open_port_button->label(), "Open port");
    EXPECT_TRUE(form->port_list->active());
    EXPECT_TRUE(form->baud_field->active());
    EXPECT_TRUE(form->command_group->active());
    EXPECT_FALSE(form->main_settings_tab->active());
    EXPECT_FALSE(form->extra_settings_tab->active());
    EXPECT_FALSE(form->side_nozzle_tab->active());
    EXPECT_EQ(log_text(), "");  // no identification was tried
    EXPECT_TRUE(form->visible());
    EXPECT_STREQ(form->label(), "Vantorix v3 Oct  9 2024");
    EXPECT_EQ(form->x(), 273);
    EXPECT_EQ(form->y(), 197);
    EXPECT_EQ(form->w(), 996);
    EXPECT_EQ(form->h(), 615);
}

// The configured line settings reach the device: a pty of our own stands for
// the serial port (COM7 of the usual example), and its terminal settings show
// what the port layer set.
TEST_F(GuiFixture, StartUpOpensTheConfiguredPortWithItsLineSettings) {
    int master = -1, slave = -1;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    write_config(std::string(name) + " 1200 8 E 2 19200");
    start("1");
    EXPECT_NE(port_handle, 0);
    EXPECT_EQ(zove_device->port, port_handle);
    termios t = {};
    ASSERT_EQ(tcgetattr(slave, &t), 0);
    // The rate and the stop bits show; the pty driver itself forces 8 data
    // bits without parity, so those two cannot be observed here.
    EXPECT_EQ(cfgetospeed(&t), speed_t(B1200));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    // The field shows the number, the list keeps entry 0; the name is not in
    // the enumeration, so the port list has no selection.
    EXPECT_EQ(text_of(form->baud_field), "1200");
    EXPECT_EQ(form->baud_field->menubutton()->value(), 0);
    EXPECT_EQ(text_of(form->max_baud_field), "19200");
    EXPECT_EQ(form->port_list->value(), -1);
    EXPECT_STREQ(form->open_port_button->label(), "Close Port");
    EXPECT_FALSE(form->port_list->active());
    EXPECT_FALSE(form->baud_field->active());
    // The identification was sent on the line (nobody answers it here).
    char buf[64];
    pollfd p{master, POLLIN, 0};
    ASSERT_GT(poll(&p, 1, 5000), 0);
    EXPECT_GT(read(master, buf, sizeof buf), 0);
    stop();
    close(master);
    close(slave);
}

TEST_F(GuiFixture, StartUpSelectsTheListedBaudEntry) {
    start_with_port("STUB");
    // 4800 is entry 0; the file's other rates select their entries.
    EXPECT_EQ(text_of(form->baud_field), "4800");
    stop();
    write_config("STUB 19200 8 N 1 9600");
    start("1");
    EXPECT_EQ(text_of(form->baud_field), "19200");
    EXPECT_EQ(form->baud_field->menubutton()->value(), 2);
    EXPECT_EQ(text_of(form->max_baud_field), "9600");
}

TEST_F(GuiFixture, StartUpWithTheSimulatorIdentifiesAndReadsTheSettings) {
    zsim::Simulator sim;
    std::string pty;
    ASSERT_EQ(sim.start_pty(&pty), 0);
    start_with_port(pty, "1");
    EXPECT_GE(sim.count(zsim::K_IDENTIFY), 1);
    EXPECT_GE(sim.count(zsim::K_MEM_READ), 1);
    EXPECT_TRUE(form->main_settings_tab->active());
    stop();
    sim.stop();
}

// --- port button ---------------------------------------------------------------------

class PortButton : public GuiFixture {
protected:
    void SetUp() override {
        GuiFixture::SetUp();
        // A device map of our own: "STUB" opens (the null port), "ttyUSB7"
        // has no device behind it.
        for (const char* n : {"STUB", "ttyUSB7"})
            std::filesystem::create_directories(dir + "/sys/" + n + "/device");
        sysfs = dir + "/sys";
        PortSetSysfsRoot(sysfs.c_str());
    }
    void TearDown() override {
        GuiFixture::TearDown();
        PortSetSysfsRoot(nullptr);
    }
    void choose(const char* name) {
        const int i = form->port_list->find_index(name);
        ASSERT_GE(i, 0) << name;
        form->port_list->value(i);
    }
    void expect_closed(const char* label) {
        EXPECT_EQ(port_handle, 0);
        EXPECT_STREQ(form->open_port_button->label(), label);
        EXPECT_TRUE(form->port_list->active());
        EXPECT_TRUE(form->baud_field->active());
    }
    std::string sysfs;
};

TEST_F(PortButton, OpenSavesTheChoiceAndCloseDeactivatesTheCommands) {
    write_config("nowhere 4800 7 E 2 19200");  // data bits, parity, stop bits stay
    start("1");
    ASSERT_EQ(form->port_list->size() - 1, 2);
    dlg_clear_shown();

    // No entry chosen: the same alert as a failed open; nothing changes.
    EXPECT_EQ(form->port_list->value(), -1);
    press(form->open_port_button);
    ASSERT_EQ(dialogs().size(), 1u);
    EXPECT_EQ(dialogs()[0].text, "Cannot open serial port");
    expect_closed("Open port");
    EXPECT_EQ(read_file(CONFIG_FILE_NAME), "nowhere 4800 7 E 2 19200");

    // A listed port that cannot be opened: alert, nothing saved.
    choose("ttyUSB7");
    press(form->open_port_button);
    EXPECT_EQ(dialogs().size(), 2u);
    expect_closed("Open port");
    EXPECT_STREQ(connection_settings.port_name, "nowhere");
    EXPECT_EQ(read_file(CONFIG_FILE_NAME), "nowhere 4800 7 E 2 19200");

    // Open.
    choose("STUB");
    set_text(form->baud_field, "9600");
    set_text(form->max_baud_field, "57600");
    press(form->open_port_button);
    EXPECT_EQ(dialogs().size(), 2u);
    EXPECT_NE(port_handle, 0);
    EXPECT_EQ(zove_device->port, port_handle);
    EXPECT_STREQ(form->open_port_button->label(), "Close Port");
    EXPECT_FALSE(form->port_list->active());
    EXPECT_FALSE(form->baud_field->active());
    EXPECT_TRUE(form->command_group->active());
    EXPECT_EQ(read_file(CONFIG_FILE_NAME), "STUB 9600 7 E 2 57600");
    EXPECT_TRUE(log_text().empty());  // opening does not identify

    // Close.
    form->enable_settings_tabs(1);
    press(form->open_port_button);
    expect_closed("Open Port");
    EXPECT_EQ(zove_device->port, 0);
    EXPECT_FALSE(form->command_group->active());
    EXPECT_FALSE(form->max_baud_field->active_r());
    EXPECT_FALSE(form->get_identifier_button->active_r());
    EXPECT_FALSE(form->main_settings_tab->active());
    EXPECT_TRUE(form->log_pane->active_r());
    EXPECT_TRUE(form->open_port_button->active_r());

    // A baud text that is not a number is stored and saved as 0.
    set_text(form->baud_field, "fast");
    press(form->open_port_button);
    EXPECT_EQ(read_file(CONFIG_FILE_NAME), "STUB 0 7 E 2 57600");
    EXPECT_TRUE(form->command_group->active());
}

// --- F keys --------------------------------------------------------------------------

class FunctionKeys : public GuiFixture {
protected:
    void SetUp() override {
        GuiFixture::SetUp();
        sim = std::make_unique<zsim::Simulator>();
        ASSERT_EQ(sim->start_pty(&pty), 0);
        start_with_port(pty, "1");
        select_tab(form->load_tab);
        sim->reset_counters();
        sim->clear_trace();
    }
    void TearDown() override {
        GuiFixture::TearDown();
        sim->stop();
    }
    bool identified(int address) const {
        for (const std::string& line : sim->trace())
            if (line.find("identify addr=" + std::to_string(address)) != std::string::npos) return true;
        return false;
    }
    std::unique_ptr<zsim::Simulator> sim;
    std::string pty;
};

TEST_F(FunctionKeys, F5SelectsAddress5ShowsMainAndIdentifies) {
    send_key(XK_F5);
    EXPECT_STREQ(form->status_line->label(), "Pump address 5");
    EXPECT_EQ(connection_settings.pump_address, 5);
    EXPECT_EQ(form->tab_bar->value(), form->main_tab);
    EXPECT_TRUE(sim->wait_count(zsim::K_IDENTIFY, 1, 5000));
    EXPECT_TRUE(identified(5));
}

TEST_F(FunctionKeys, AltF5AndLoneModifiersDoNothing) {
    send_key(XK_F5, Mod1Mask);
    send_key(XK_Alt_L);
    send_key(XK_Control_L);
    send_key(XK_a);
    EXPECT_STREQ(form->status_line->label(), "Pump address 1");
    EXPECT_EQ(form->tab_bar->value(), form->load_tab);
    EXPECT_EQ(sim->count(zsim::K_IDENTIFY), 0);
}

// One handler, however many windows this process has built: one key, one
// identification.
TEST_F(FunctionKeys, OneKeyIdentifiesOnce) {
    send_key(XK_F3);
    EXPECT_TRUE(sim->wait_count(zsim::K_IDENTIFY, 1, 5000));
    settle();
    EXPECT_EQ(sim->count(zsim::K_IDENTIFY), 1);
}

// While an operation runs (some let the toolkit handle events), a key must
// not start a second exchange on the one controller object.
TEST_F(FunctionKeys, KeysAreIgnoredWhileAnOperationRuns) {
    operation_begin();
    send_key(XK_F5);
    operation_end();
    EXPECT_STREQ(form->status_line->label(), "Pump address 1");
    EXPECT_EQ(sim->count(zsim::K_IDENTIFY), 0);
    send_key(XK_F5);
    EXPECT_STREQ(form->status_line->label(), "Pump address 5");
}

TEST_F(FunctionKeys, F12IsTheLastKey) {
    send_key(XK_F12);
    EXPECT_STREQ(form->status_line->label(), "Pump address 12");
    EXPECT_TRUE(sim->wait_count(zsim::K_IDENTIFY, 1, 5000));
    EXPECT_TRUE(identified(12));
}

// --- radio buttons, tab changes ---------------------------------------------------------

TEST_F(GuiFixture, DisplayTestRadioButtonsExcludeEachOther) {
    start("1");
    Fl_Round_Button* radios[] = {form->standard_mode_radio, form->totals_radio, form->performance_radio,
                                 form->test_radio, form->test_0_9_radio};
    for (Fl_Round_Button* chosen : radios) {
        click(chosen);
        for (Fl_Round_Button* r : radios) EXPECT_EQ(r->value(), r == chosen ? 1 : 0) << chosen->label();
    }
    select_tab(form->load_tab);
    click(form->side_b_radio);
    EXPECT_EQ(form->side_b_radio->value(), 1);
    click(form->side_a_radio);
    EXPECT_EQ(form->side_a_radio->value(), 1);
    EXPECT_EQ(form->side_b_radio->value(), 0);
}

TEST_F(GuiFixture, TabChangeWithoutAPortDoesNothing) {
    start("1");
    select_tab(form->load_tab);
    EXPECT_EQ(text_of(form->counters_field), "Text");
    select_tab(form->extra_settings_tab);
    EXPECT_EQ(text_of(form->volume_multiplier_field), "Text");
    EXPECT_EQ(dialogs().size(), 2u);  // the prompt and the failed open only
}

TEST_F(GuiFixture, TabChangeWithAPortReadsTheExtraSettings) {
    zsim::Simulator sim;
    std::string pty;
    ASSERT_EQ(sim.start_pty(&pty), 0);
    start_with_port(pty, "1");
    const int reads = sim.count(zsim::K_MEM_READ);
    select_tab(form->main_settings_tab);  // nothing to read for this tab
    EXPECT_EQ(sim.count(zsim::K_MEM_READ), reads);
    select_tab(form->extra_settings_tab);
    EXPECT_GT(sim.count(zsim::K_MEM_READ), reads);
    EXPECT_NE(text_of(form->volume_multiplier_field), "Text");
    stop();
    sim.stop();
}

TEST_F(GuiFixture, ChoosingAPortOrBaudEntryRunsNothing) {
    start("1");
    dlg_clear_shown();
    form->baud_field->menubutton()->value(3);
    form->baud_field->menubutton()->do_callback();
    form->port_list->do_callback();
    EXPECT_TRUE(dialogs().empty());
    EXPECT_EQ(port_handle, 0);
}

TEST_F(GuiFixture, DialogButtonsAreTranslatedAndTheFileChooserIsFltksOwn) {
    Fl::option(Fl::OPTION_FNFC_USES_GTK, true);
    start("1");
    EXPECT_STREQ(fl_close, "Close");
    EXPECT_STREQ(fl_ok, "OK");
    EXPECT_STREQ(fl_cancel, "Cancel");
    EXPECT_STREQ(fl_yes, "Yes");
    EXPECT_STREQ(fl_no, "No");
    EXPECT_FALSE(Fl::option(Fl::OPTION_FNFC_USES_GTK));
    // Scripted, the chooser records its title and returns the queued path.
    answer_text("/tmp/image.json");
    EXPECT_STREQ(dlg_file_chooser("Save image", "*.json", 1, nullptr), "/tmp/image.json");
    EXPECT_EQ(dialogs().back().kind, DLG_FILE_CHOOSER);
    EXPECT_EQ(dialogs().back().text, "Save image");
}

// --- log pane ---------------------------------------------------------------------------

TEST_F(GuiFixture, LogLineAppendsANewlineAndKeepsTheNewestLineInView) {
    start("1");
    log_clear();
    log_line("first");
    log_line("ends in newline\n");
    EXPECT_EQ(log_text(), "first\nends in newline\n\n");
    for (int i = 0; i < 200; ++i) log_line(("line " + std::to_string(i)).c_str());
    log_line("newest");
    settle();
    const std::string text = log_text();
    const int last = int(text.rfind("newest"));
    int x = 0, y = 0;
    EXPECT_TRUE(form->log_pane->position_to_xy(last, &x, &y)) << "newest line not in view";
    EXPECT_FALSE(form->log_pane->position_to_xy(0, &x, &y)) << "view did not scroll";
}

// The copy on standard output is flushed per line: a pipe sees the line at
// once, without the program flushing or ending.
TEST_F(GuiFixture, LogLineCopyReachesAPipeAtOnce) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fflush(stdout);
    const int saved = dup(1);
    ASSERT_GE(saved, 0);
    ASSERT_EQ(dup2(fds[1], 1), 1);
    log_line("to the pipe");
    char buf[64] = {};
    pollfd p{fds[0], POLLIN, 0};
    const int ready = poll(&p, 1, 5000);
    const ssize_t n = ready > 0 ? read(fds[0], buf, sizeof buf - 1) : -1;
    dup2(saved, 1);
    close(saved);
    close(fds[0]);
    close(fds[1]);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buf, size_t(n)), "to the pipe\n");
}

}  // namespace
