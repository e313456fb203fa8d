// The admin password gate, the last-error query and the two "Change" buttons.
#include "ops/passwords.h"

#include <FL/Fl.H>
#include <FL/Fl_Int_Input.H>

#include "app/catalog.h"
#include "app/startup.h"
#include "ops/identify.h"
#include "protocol/run.h"
#include "settings/records.h"
#include "ui/dialogs.h"
#include "ui/main_form.h"

uint8_t password_flags = 0;
uint8_t password_lock = 0;
int32_t admin_password_cache = 0;

void reset_password_state() {
    password_flags = 0;
    password_lock = 0;
    admin_password_cache = 0;
}

namespace {

constexpr int QUERY_REPLY_LEN = 16;
constexpr int QUERY_REASON_BYTE = 7;
constexpr uint32_t QUERY_WAIT_MS = 300;
constexpr long PASSWORD_MAX = 9999;

int write_register(uint32_t reg, int32_t value) {
    if (!zove_device) return RES_FAILED;
    const uint8_t b[2] = {uint8_t(value), uint8_t(uint32_t(value) >> 8)};
    return run_to_completion(*zove_device,
                             [&] { return zove_device->WriteMemory(reg, PW_AREA, b, 2); });
}

const char* reason_text(int code) {
    switch (code) {
        case LAST_ERR_CONFIG_KEY: return tr("Turn the configuration key on");
        case LAST_ERR_WRONG_PW: return tr("Wrong password");
        case LAST_ERR_LOCKED: return tr("Password entry locked");
        default: return tr("Write error");
    }
}

// "Not set" / "Locked" / "****" and red or grey; the colour test does not
// depend on the text test, so a locked but unset password reads "Not set"
// on red.
void show_one(Fl_Int_Input* field, bool set, bool locked) {
    if (!field) return;
    field->value(!set ? tr("Not set") : locked ? tr("Locked") : "****");
    field->color(locked ? PW_COLOR_LOCKED : PW_COLOR_NORMAL);
    field->redraw();
}

// Decimal conversion of a typed password: white space, sign, leading digits.
// Kept inside 32 bits; anything that large is refused or cut to 16 bits by
// the callers anyway.
int32_t password_value(const char* text) {
    int64_t v = parse_leading_int(text);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return int32_t(v);
}

}  // namespace

void xMainForm::show_password_state() {
    show_one(admin_password_field, password_flags & PW_ADMIN_SET,
             (password_lock & PW_ADMIN_LOCK) == PW_ADMIN_LOCK);
    show_one(calibration_password_field, password_flags & PW_CAL_SET,
             (password_lock & PW_CAL_LOCK) == PW_CAL_LOCK);
}

int xMainForm::query_last_error() {
    if (!zove_device) return 0;
    const PortHandle port = zove_device->port;
    SendShortCommand(port, zove_device->address, CMD_LAST_ERROR);
    uint8_t reply[QUERY_REPLY_LEN] = {};
    if (!PortReadTimeout(port, reply, QUERY_REPLY_LEN, QUERY_WAIT_MS)) return 0;
    return reply[QUERY_REASON_BYTE];
}

int xMainForm::ensure_admin_access(int old_prompt) {
    if (!(password_flags & PW_ADMIN_SET)) return 1;
    if (admin_password_cache == 0) {
        const char* text = dlg_password(
            old_prompt ? tr("Please enter OLD password") : tr("Please enter admin password"));
        if (!text) return 0;
        admin_password_cache = password_value(text);
    }
    if (write_register(PW_REG_LOGIN, admin_password_cache) == RES_OK) return 1;
    const int code = query_last_error();
    admin_password_cache = 0;
    dlg_alert(reason_text(code));
    return 0;
}

namespace {

void change_password(xMainForm* form, Fl_Int_Input* field, int old_prompt, uint32_t reg) {
    const int32_t v = password_value(field ? field->value() : nullptr);
    if (v < 0 || v > PASSWORD_MAX) {
        dlg_alert(tr("Password must be between 0000 and 9999"));
        return;
    }
    if (form->ensure_admin_access(old_prompt) != 1) return;
    if (write_register(reg, v) == RES_OK) {
        if (boot_mode == 0) form->read_settings();
        dlg_alert(tr("Ok"));
    } else {
        dlg_alert(tr("Set password error"));
    }
}

}  // namespace

void xMainForm::change_admin_password() {
    change_password(this, admin_password_field, 1, PW_REG_ADMIN);
}

void xMainForm::change_calibration_password() {
    change_password(this, calibration_password_field, 0, PW_REG_CAL);
}
