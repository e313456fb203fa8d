// Identification end to end: the real main window against the simulator on a
// fresh pty, started the way the program starts.
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Light_Button.H>

#include "app/config.h"
#include "app/startup.h"
#include "ops/identify.h"
#include "protocol/zove_device.h"
#include "settings/records.h"
#include "simulator/simulator.h"
#include "tests/gui/gui_fixture.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream s(text);
    std::string line;
    while (std::getline(s, line)) out.push_back(line);
    return out;
}

bool main_read_is_zero() {
    static const MainSettings zero = {};
    return memcmp(&main_read, &zero, sizeof zero) == 0;
}

// Runs inside the search's event handling between two probes.
struct SearchProbe {
    xMainForm* form;
    int calls = 0;
    bool inactive = true;
};
void search_probe(void* p) {
    auto* pr = static_cast<SearchProbe*>(p);
    ++pr->calls;
    pr->inactive = pr->inactive && !pr->form->search_pumps_button->active();
}

class Identify : public GuiFixture {
protected:
    void start_sim(const zsim::Scenario& s = zsim::Scenario()) {
        sim = std::make_unique<zsim::Simulator>(s);
        ASSERT_EQ(sim->start_pty(&pty), 0);
    }
    void TearDown() override {
        GuiFixture::TearDown();
        if (sim) sim->stop();
    }
    bool tabs_active() const {
        return form->main_settings_tab->active() && form->extra_settings_tab->active() &&
               form->side_nozzle_tab->active();
    }
    std::unique_ptr<zsim::Simulator> sim;
    std::string pty;
};

TEST_F(Identify, StartUpIdentifiesLogsCountsAndShowsSettings) {
    start_sim();
    const std::vector<uint8_t> counts = sim->read_memory(0, 2, 0x04, 4);
    sim->write_memory(0, 2, 0x24, {0x40});  // mode byte: imitator on
    start_with_port(pty);
    const std::string log = log_text();
    char line[64];
    snprintf(line, sizeof line, "Factory clear count: %u\n", unsigned(counts[0] | counts[1] << 8));
    EXPECT_NE(log.find(line), std::string::npos) << log;
    snprintf(line, sizeof line, "Reprogram count: %u\n", unsigned(counts[2] | counts[3] << 8));
    EXPECT_NE(log.find(line), std::string::npos) << log;
    // The identifier is the first entry, before the counts.
    EXPECT_FALSE(lines_of(log).empty());
    EXPECT_NE(lines_of(log)[0].find_first_not_of(' '), std::string::npos);
    EXPECT_EQ(lines_of(log)[0].find("Factory"), std::string::npos);

    EXPECT_TRUE(tabs_active());
    EXPECT_EQ(text_of(form->side_a_address_field), std::to_string(sim->side_a(0)));
    EXPECT_EQ(text_of(form->side_b_address_field), std::to_string(sim->side_b(0)));
    EXPECT_EQ(std::vector<uint8_t>(reinterpret_cast<uint8_t*>(&main_read),
                                   reinterpret_cast<uint8_t*>(&main_read) + 68),
              sim->read_memory(0, 0, BLOCK_MAIN.address, 68));
    EXPECT_EQ(boot_mode, 0);
    EXPECT_EQ(form->imitator_button->value(), 1);
    EXPECT_TRUE(form->imitator_button->active());
}

TEST_F(Identify, UnsupportedTypeLeavesTabsOffAndImageZero) {
    start_sim();
    sim->set_type(0, 0x25);
    start_with_port(pty);
    EXPECT_EQ(log_text(), "Unsupported device\n");
    EXPECT_FALSE(form->main_settings_tab->active());
    EXPECT_TRUE(main_read_is_zero());
    EXPECT_EQ(last_ident.type, 0x25);
}

TEST_F(Identify, TextIdentifierInCp866IsLoggedAsUtf8) {
    start_sim();
    // "Контроллер ТРК" in code page 866
    sim->set_text_id(0, "\x8A\xAE\xAD\xE2\xE0\xAE\xAB\xAB\xA5\xE0 \x92\x90\x8A v3", 0);
    start_with_port(pty);
    EXPECT_EQ(lines_of(log_text())[0], "Контроллер ТРК v3");
}

TEST_F(Identify, BootLoadIsMatchedCaseSensitively) {
    struct { const char* text; int boot; } cases[] = {
        {"ZOVE boot loader 1.2", 1}, {"ZOVE Boot Load 1.2", 0}, {"ZOVE v3", 0}};
    start_sim();
    start_with_port(pty);
    for (auto& c : cases) {
        sim->set_text_id(0, c.text, 0);
        const int reads = sim->count(zsim::K_MEM_READ);
        press(form->get_identifier_button);
        EXPECT_EQ(boot_mode, c.boot) << c.text;
        EXPECT_EQ(lines_of(log_text())[0], c.text);
        EXPECT_EQ(sim->count(zsim::K_MEM_READ) > reads, c.boot == 0) << c.text;
        EXPECT_EQ(tabs_active(), c.boot == 0) << c.text;
    }
}

TEST_F(Identify, BroadcastAdoptsTheAnsweringAddress) {
    zsim::Scenario s;
    zsim::ControllerConfig c;
    c.side_a = 7;
    c.side_b = 8;
    s.controllers.push_back(c);
    start_sim(s);
    start_with_port(pty);  // nobody at 1
    EXPECT_EQ(log_text(), "No connection\n");
    press(form->broadcast_search_button);
    EXPECT_EQ(connection_settings.pump_address, 7);
    EXPECT_STREQ(form->status_line->label(), "Pump address 7");
    EXPECT_EQ(zove_device->address, 7);
    EXPECT_TRUE(tabs_active());
    EXPECT_EQ(text_of(form->side_a_address_field), "7");
    // Later operations address 7.
    sim->clear_trace();
    press(form->get_identifier_button);
    EXPECT_TRUE(tabs_active());
}

TEST_F(Identify, SearchPumpsLogsAllThirtyTwoAddresses) {
    zsim::Scenario s;
    for (uint8_t a : {1, 3}) {
        zsim::ControllerConfig c;
        c.side_a = a;
        c.side_b = uint8_t(a + 100);  // outside the search
        s.controllers.push_back(c);
    }
    start_sim(s);
    start_with_port(pty);
    const std::string before = log_text();
    const int text_reads = sim->count(zsim::K_TEXT_ID);
    SearchProbe probe{form};
    Fl::add_check(search_probe, &probe);
    press(form->search_pumps_button);
    Fl::remove_check(search_probe, &probe);
    const std::string log = log_text();
    ASSERT_EQ(log.compare(0, before.size(), before), 0) << "the search does not clear the log";
    const std::vector<std::string> got = lines_of(log.substr(before.size()));
    ASSERT_EQ(got.size(), 32u);
    for (int a = 1; a <= 32; ++a) {
        char want[40];
        snprintf(want, sizeof want, (a == 1 || a == 3) ? "Pump %02d found" : "Pump %02d not found", a);
        EXPECT_EQ(got[a - 1], want);
    }
    EXPECT_EQ(sim->count(zsim::K_TEXT_ID), text_reads);
    EXPECT_GE(probe.calls, 32) << "the window handles events between the probes";
    EXPECT_TRUE(probe.inactive) << "the button is inactive during the search";
    EXPECT_TRUE(form->search_pumps_button->active());
    EXPECT_FALSE(form->main_settings_tab->active());
    EXPECT_TRUE(main_read_is_zero());
    EXPECT_EQ(zove_device->address, 32);
    EXPECT_EQ(connection_settings.pump_address, 1);
}

TEST_F(Identify, RestartLogsItsResult) {
    start_sim();
    start_with_port(pty);
    const int restarts = sim->restart_count(0);
    press(form->restart_button);
    EXPECT_NE(log_text().find("Reset result=1\n"), std::string::npos) << log_text();
    EXPECT_EQ(sim->restart_count(0), restarts + 1);

    zsim::Fault f;
    f.no_reply = true;
    sim->set_fault(f);
    press(form->restart_button);
    EXPECT_NE(log_text().find("Reset result=-6\n"), std::string::npos) << log_text();
}

TEST(Cp866, EveryByteConvertsAndSmallBuffersCutAtACharacter) {
    char in[256];
    for (int i = 1; i < 256; ++i) in[i - 1] = char(i);
    in[255] = 0;
    char out[TEXT_ID_UTF8_SIZE * 2];
    cp866_to_utf8(in, out, sizeof out);
    const std::string s = out;
    EXPECT_EQ(s.compare(0, 3, "\x01\x02\x03"), 0);
    EXPECT_NE(s.find("\xD0\x90"), std::string::npos);  // 0x80 is А
    EXPECT_GT(s.size(), 255u);

    char small[4];
    cp866_to_utf8("\x80\x81", small, sizeof small);  // two 2-byte characters, room for one
    EXPECT_STREQ(small, "\xD0\x90");
    cp866_to_utf8(nullptr, small, sizeof small);
    EXPECT_STREQ(small, "");
}

}  // namespace
