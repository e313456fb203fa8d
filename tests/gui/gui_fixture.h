// Fixture for window tests: each test gets a fresh temporary working
// directory (where the program looks for vantorix_v3.ini and ru/), the dialog
// seam in scripted mode, and -- through start() -- a real main window built
// exactly as the program builds it (its constructor runs the whole start-up:
// prompt, port open, identification, first settings read), shown on the X
// server named by DISPLAY. TearDown closes the port, deletes the window,
// restores the working directory and switches the seam back, so many tests
// run in one process.
//
// Helpers drive the window the way a user does: press() runs a widget's
// callback after the state change a click makes (radio set, light button
// toggled), click() and send_key()/type_text() deliver real X events to the
// window, so they pass through FLTK's own event dispatch (focus, FL_SHORTCUT,
// application-wide handlers). Waits are bounded and poll explicitly.
#pragma once
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "ui/dialogs.h"
#include "ui/main_form.h"

class Fl_Widget;
class Fl_Group;
class Fl_Window;

class GuiFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // --- working directory ---------------------------------------------------
    std::string dir;  // the temporary working directory (cwd during the test)
    // Writes vantorix_v3.ini with exactly these bytes.
    void write_config(const std::string& bytes);
    // "PORT 4800 8 N 1 38400": a configuration line naming a port.
    static std::string config_line(const std::string& port, int baud = 4800, int data_bits = 8,
                                   char parity = 'N', int stop_bits = 1, int max_baud = 38400);
    // Contents of a file in the working directory; *exists tells if it was there.
    std::string read_file(const std::string& name, bool* exists = nullptr) const;

    // --- the window --------------------------------------------------------------
    // Queues the pump-address answer (nullptr: the prompt is cancelled),
    // constructs the main window (running the start-up), shows it and waits
    // until it is mapped. The configuration file must be written before.
    xMainForm* start(const char* pump_answer = "1");
    // write_config(config_line(port)) + start().
    xMainForm* start_with_port(const std::string& port, const char* pump_answer = "1");
    // Shows a window and waits (bounded) until the X server has mapped it.
    static void show_window(Fl_Window* w);
    // Closes the port and deletes the window (TearDown does it too).
    void stop();
    xMainForm* form = nullptr;

    // --- driving it --------------------------------------------------------------
    // A click's state change and the widget's callback: radio buttons are set
    // (clearing their siblings), toggle buttons toggle, then do_callback().
    static void press(Fl_Widget* w);
    // Sets an input's text (as a program would: no callback).
    static void set_text(Fl_Widget* input, const char* text);
    static std::string text_of(Fl_Widget* input);
    // Full text of the log pane.
    static std::string log_text();
    // Brings a tab to the front the way the tab bar does on a click: sets it
    // and runs the tab bar's callback.
    void select_tab(Fl_Group* tab);
    // Real X events go to this window: the main window unless a test sets
    // another (shown) one.
    Fl_Window* target = nullptr;
    // Real X events to the target window. state is an X modifier mask
    // (ShiftMask = 1, ControlMask = 4, Mod1Mask = 8 for Alt).
    void send_key(unsigned long keysym, unsigned state = 0);
    // One key press and release per character (printable ASCII, '\r' = Return,
    // '\b' = BackSpace).
    void type_text(const char* text);
    // Mouse press and release at window coordinates, or at a widget's centre.
    void click_at(int x, int y);
    void click(Fl_Widget* w);
    // Button 1 pressed at (x0, y0), moved to (x1, y1), released there.
    void drag(int x0, int y0, int x1, int y1);
    // Moves the keyboard focus to a widget as a click would.
    static void focus(Fl_Widget* w);
    // Lets FLTK process events until pred() holds or seconds pass; returns pred().
    static bool wait_until(const std::function<bool()>& pred, double seconds = 10.0);
    // Processes the events already queued (a few rounds of Fl::check()).
    static void settle();

    // Dialogs shown so far (scripted mode), and a shortcut for queuing.
    static const std::vector<DialogShown>& dialogs() { return dlg_shown(); }
    static void answer_text(const char* text);
    static void answer_cancel();
    static void answer_button(int button);

private:
    std::string old_cwd_;
};
