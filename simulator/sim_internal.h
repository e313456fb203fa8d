// Pieces shared by the simulator's source files: one simulated controller
// (its memory areas and password state) and the built-in pump's blocks.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "simulator/simulator.h"

namespace zsim {

struct Controller {
    uint8_t type = 0x24;
    uint8_t extra = 0;
    std::string text_id;
    int text_terminator = 0x00;
    bool boot_loader = false;
    std::string boot_text;
    int admin_password = -1;
    int calibration_password = -1;
    bool config_key_on = true;
    bool logged_in = false;
    uint8_t last_error = 0;
    int restarts = 0;
    int baud_code = 3;            // last set-baud-rate code (4800)
    long long clock_offset_s = 0; // controller clock minus host clock
    std::vector<uint8_t> area0 = std::vector<uint8_t>(MEMORY_SIZE, 0);
    std::vector<uint8_t> area2 = std::vector<uint8_t>(MEMORY_SIZE, 0);

    // A main block that moves the side addresses is stored at once, but the
    // controller keeps answering at its old addresses until it restarts, as
    // a real board takes its new settings only at start-up. -1: the
    // addresses of the main block are in force.
    int answer_a = -1;
    int answer_b = -1;

    uint8_t side_a() const { return area0[MAIN_BLOCK + 3]; }
    uint8_t side_b() const { return area0[MAIN_BLOCK + 4]; }
    uint8_t addr_a() const { return answer_a >= 0 ? uint8_t(answer_a) : side_a(); }
    uint8_t addr_b() const { return answer_b >= 0 ? uint8_t(answer_b) : side_b(); }
    // Keeps the password flags register in step with the password state.
    void sync_password_flags() {
        area2[REG_PASSWORD] = uint8_t((admin_password >= 0 ? 1 : 0) | (calibration_password >= 0 ? 2 : 0));
    }
};

// The built-in pump: every settings block filled with plausible values that
// the settings form carries unchanged (so saving an unread form changes
// nothing).
void fill_default_memory(Controller& c);
// Code page 866 texts of the built-in controller.
std::string default_text_id();
std::string default_boot_text();

// Builds a controller from its configuration (defaults, then overrides).
Controller make_controller(const ControllerConfig& cfg);

std::string hex_bytes(const uint8_t* p, size_t n);
bool parse_hex(const char* text, std::vector<uint8_t>* out);

}  // namespace zsim
