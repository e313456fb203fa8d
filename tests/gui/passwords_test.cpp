// Passwords end to end: state display, the admin password gate with its
// cache, refusals explained by the last-error query, the "Change" buttons.
#include <memory>
#include <string>

#include <FL/Fl_Button.H>
#include <FL/Fl_Int_Input.H>

#include "ops/passwords.h"
#include "settings/records.h"
#include "simulator/simulator.h"
#include "tests/gui/gui_fixture.h"

namespace {

class Passwords : public GuiFixture {
protected:
    void start_pump(int admin, int calibration = -1, uint8_t lock = 0) {
        zsim::Scenario s;
        zsim::ControllerConfig c;
        c.admin_password = admin;
        c.calibration_password = calibration;
        c.password_lock = lock;
        s.controllers.push_back(c);
        sim = std::make_unique<zsim::Simulator>(s);
        ASSERT_EQ(sim->start_pty(&pty), 0);
        start_with_port(pty);
        ASSERT_TRUE(form->main_settings_tab->active()) << log_text();
    }
    void TearDown() override {
        GuiFixture::TearDown();
        if (sim) sim->stop();
    }
    // A protected write: the extra settings with one changed multiplier.
    void save_extra_with_density(const char* value) {
        press(form->extra_read_button);
        set_text(form->density_multiplier_field, value);
        press(form->extra_save_button);
    }
    int dens_mult_in_sim() {
        auto b = sim->read_memory(0, 0, BLOCK_EXTRA.address, 4);
        return b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24;
    }
    int count(DialogKind kind) const {
        int n = 0;
        for (auto& d : dialogs()) n += d.kind == kind;
        return n;
    }
    static std::string last_of(DialogKind kind) {
        for (auto it = dialogs().rbegin(); it != dialogs().rend(); ++it)
            if (it->kind == kind) return it->text;
        return "";
    }
    static std::string last_alert() { return last_of(DLG_ALERT); }
    std::unique_ptr<zsim::Simulator> sim;
    std::string pty;
};

TEST_F(Passwords, StateTextsAndColours) {
    struct { int admin, cal; uint8_t lock; const char* a_text; unsigned a_col;
             const char* c_text; unsigned c_col; } cases[] = {
        {-1, -1, 0x00, "Not set", 49, "Not set", 49},
        {1234, 5555, 0x00, "****", 49, "****", 49},
        {1234, 5555, 0x3F, "Locked", 88, "Locked", 88},
        {-1, 5555, 0x07, "Not set", 88, "****", 49},  // locked but unset: "Not set" on red
    };
    for (auto& c : cases) {
        start_pump(c.admin, c.cal, c.lock);
        EXPECT_EQ(text_of(form->admin_password_field), c.a_text);
        EXPECT_EQ(form->admin_password_field->color(), c.a_col);
        EXPECT_EQ(text_of(form->calibration_password_field), c.c_text);
        EXPECT_EQ(form->calibration_password_field->color(), c.c_col);
        stop();
        sim->stop();
    }
}

TEST_F(Passwords, PromptShownOnceThenTheCacheIsUsed) {
    start_pump(1234);
    answer_text("1234");
    save_extra_with_density("777");
    ASSERT_EQ(count(DLG_PASSWORD), 1);
    EXPECT_EQ(last_of(DLG_PASSWORD), "Please enter admin password");
    EXPECT_EQ(last_alert(), "Write extra settings ok");
    EXPECT_EQ(dens_mult_in_sim(), 777);

    save_extra_with_density("778");
    EXPECT_EQ(count(DLG_PASSWORD), 1) << "the cached password is sent without asking";
    EXPECT_EQ(last_alert(), "Write extra settings ok");
    EXPECT_EQ(dens_mult_in_sim(), 778);
}

TEST_F(Passwords, RefusedLoginShowsTheReasonAndClearsTheCache) {
    start_pump(1234);
    answer_text("1111");
    save_extra_with_density("777");
    EXPECT_EQ(last_alert(), "Wrong password");
    EXPECT_EQ(admin_password_cache, 0);
    EXPECT_NE(dens_mult_in_sim(), 777);

    dlg_clear_shown();
    answer_text("1234");
    save_extra_with_density("777");
    EXPECT_EQ(count(DLG_PASSWORD), 1) << "asked again after the refusal";
    EXPECT_EQ(dens_mult_in_sim(), 777);

    // Cancelling the prompt stops the write without a text.
    stop();
    sim->stop();
    start_pump(1234);
    dlg_clear_shown();
    answer_cancel();
    save_extra_with_density("779");
    EXPECT_EQ(count(DLG_PASSWORD), 1);
    EXPECT_EQ(count(DLG_ALERT), 0);
}

TEST_F(Passwords, LockedEntryAndConfigurationKeyAreExplained) {
    start_pump(1234, -1, 0x07);
    answer_text("1234");
    save_extra_with_density("777");
    EXPECT_EQ(last_alert(), "Password entry locked");

    stop();
    sim->stop();
    start_pump(-1);
    sim->set_config_key(0, false);
    set_text(form->side_b_address_field, "9");
    press(form->main_save_button);
    EXPECT_EQ(last_alert(), "Turn the configuration key on");
    EXPECT_EQ(sim->side_b(0), 2);
}

TEST_F(Passwords, ChangeButtons) {
    start_pump(1234, 5555);
    set_text(form->admin_password_field, "12345");
    const int writes = sim->count(zsim::K_MEM_WRITE);
    press(form->change_admin_button);
    EXPECT_EQ(last_alert(), "Password must be between 0000 and 9999");
    EXPECT_EQ(sim->count(zsim::K_MEM_WRITE), writes);

    set_text(form->admin_password_field, "4321");
    answer_text("1234");
    press(form->change_admin_button);
    ASSERT_EQ(count(DLG_PASSWORD), 1);
    EXPECT_EQ(last_of(DLG_PASSWORD), "Please enter OLD password");
    EXPECT_EQ(last_alert(), "Ok");
    EXPECT_EQ(sim->admin_password(0), 4321);
    EXPECT_EQ(text_of(form->admin_password_field), "****") << "the settings were read again";

    // The cache still holds the old password and is sent without asking.
    set_text(form->calibration_password_field, "0042");
    press(form->change_calibration_button);
    EXPECT_EQ(count(DLG_PASSWORD), 1);
    EXPECT_EQ(last_alert(), "Wrong password");
    EXPECT_EQ(sim->calibration_password(0), 5555);

    answer_text("4321");
    press(form->change_calibration_button);
    EXPECT_EQ(count(DLG_PASSWORD), 2);
    EXPECT_EQ(last_of(DLG_PASSWORD), "Please enter admin password");
    EXPECT_EQ(last_alert(), "Ok");
    EXPECT_EQ(sim->calibration_password(0), 42);
}

}  // namespace
