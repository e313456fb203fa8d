// Identification and the buttons built on it: "Get identifier", "Broadcast
// search", "Search pumps.." and "Restart".
#include "ops/identify.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>

#include "app/catalog.h"
#include "app/config.h"
#include "app/startup.h"
#include "ops/passwords.h"
#include "protocol/run.h"
#include "settings/records.h"
#include "ui/main_form.h"

int boot_mode = 0;
DeviceIdent last_ident = {0, 0, 0};

namespace {

constexpr uint32_t RESTART_ADDRESS = 0x88FFFF;
constexpr uint8_t RESTART_AREA = 0;
constexpr uint8_t RESTART_BYTE = 0x55;  // 'U'
constexpr int SEARCH_FIRST = 1;
constexpr int SEARCH_LAST = 32;

// Plain fallback when the converter is missing: ASCII as is, the rest '?'.
void ascii_only(const char* in, char* out, size_t out_size) {
    size_t o = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(in);
         *p && o + 1 < out_size; ++p)
        out[o++] = *p < 0x80 ? char(*p) : '?';
    out[o] = 0;
}

}  // namespace

void cp866_to_utf8(const char* in, char* out, size_t out_size) {
    if (!out || out_size == 0) return;
    out[0] = 0;
    if (!in) return;
    iconv_t cd = iconv_open("UTF-8", "CP866");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        ascii_only(in, out, out_size);
        return;
    }
    char* src = const_cast<char*>(in);
    size_t src_left = strlen(in);
    char* dst = out;
    size_t dst_left = out_size - 1;  // room for the terminator
    while (src_left > 0) {
        if (iconv(cd, &src, &src_left, &dst, &dst_left) != size_t(-1)) break;
        if (errno == EILSEQ || errno == EINVAL) {
            // Every byte is defined in code page 866, but should the
            // converter disagree, show the byte as '?' and go on.
            if (dst_left == 0) break;
            *dst++ = '?';
            --dst_left;
            ++src;
            --src_left;
            continue;
        }
        break;  // E2BIG: out is full; iconv stopped at a character boundary
    }
    *dst = 0;
    iconv_close(cd);
}

int xMainForm::identify_controller(uint8_t address, int quiet) {
    // Forget the previous controller before anything else, whatever the
    // outcome, so no other controller's data is ever shown or written.
    memset(&main_read, 0, sizeof main_read);
    reset_password_state();
    enable_settings_tabs(0);
    if (!quiet) log_clear();
    if (!zove_device) return 0;
    ZOVEDevice& dev = *zove_device;
    dev.address = address;

    DeviceIdent ident = {0, 0, 0};
    int r = run_to_completion(dev, [&] { return dev.Identify(&ident, address); });
    if (r != RES_OK) {
        if (!quiet) log_line(tr("No connection"));
        return 0;
    }
    last_ident = ident;
    if (ident.type != DEVICE_TYPE_PULSE && ident.type != DEVICE_TYPE_MASS) {
        if (!quiet) log_line(tr("Unsupported device"));
        return 0;
    }
    if (quiet) return 1;
    if (address == ADDR_ANY) set_pump_address(ident.address);

    char text[TEXT_ID_SIZE + 127] = {};  // ReadTextId asks for 129 at least
    r = run_to_completion(dev, [&] { return dev.ReadTextId(text); });
    if (r != RES_OK) {
        log_line(tr("Cannot read text identifier"));
        return 0;
    }
    text[TEXT_ID_SIZE - 1] = 0;
    boot_mode = strstr(text, "boot load") ? 1 : 0;
    char utf8[TEXT_ID_UTF8_SIZE];
    cp866_to_utf8(text, utf8, sizeof utf8);
    log_line(utf8);
    return 1;
}

void xMainForm::get_identifier() {
    if (identify_controller(connection_settings.pump_address, 0) == 1 && boot_mode == 0)
        read_settings();
}

void xMainForm::broadcast_search() {
    if (identify_controller(ADDR_ANY, 0) == 1 && boot_mode == 0) read_settings();
}

void xMainForm::search_pumps() {
    if (search_pumps_button) search_pumps_button->deactivate();
    cursor(FL_CURSOR_WAIT);
    for (int a = SEARCH_FIRST; a <= SEARCH_LAST; ++a) {
        int r = identify_controller(uint8_t(a), 1);
        char line[200];
        snprintf(line, sizeof line, r == 1 ? tr("Pump %02d found") : tr("Pump %02d not found"), a);
        log_line(line);
        // Let the pane show the line now; the button stays inactive, so the
        // search cannot be started a second time meanwhile.
        Fl::check();
    }
    if (search_pumps_button) search_pumps_button->activate();
    cursor(FL_CURSOR_DEFAULT);
}

int xMainForm::restart_controller() {
    int r = RES_FAILED;
    if (zove_device) {
        const uint8_t b = RESTART_BYTE;
        r = run_to_completion(
            *zove_device, [&] { return zove_device->WriteMemory(RESTART_ADDRESS, RESTART_AREA, &b, 1); });
    }
    char line[200];
    snprintf(line, sizeof line, tr("Reset result=%d"), r);
    log_line(line);
    return r;
}
