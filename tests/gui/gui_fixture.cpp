#include "tests/gui/gui_fixture.h"

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Input_.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_Tabs.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/x.H>

#include "app/config.h"
#include "app/startup.h"
#include "port/port.h"
#include "protocol/zove_device.h"

namespace {

// The few Xlib calls the helpers need. libX11 is already loaded (FLTK uses
// it), but the test program is not linked against it directly, so the
// functions are looked up at run time.
struct XCalls {
    Status (*send_event)(Display*, Window, Bool, long, XEvent*) = nullptr;
    KeyCode (*keysym_to_keycode)(Display*, KeySym) = nullptr;
    int (*flush)(Display*) = nullptr;
    int (*sync)(Display*, Bool) = nullptr;
    Status (*get_attributes)(Display*, Window, XWindowAttributes*) = nullptr;
    bool ok = false;
};

const XCalls& x_calls() {
    static XCalls x = [] {
        XCalls c;
        c.send_event = reinterpret_cast<decltype(c.send_event)>(dlsym(RTLD_DEFAULT, "XSendEvent"));
        c.keysym_to_keycode =
            reinterpret_cast<decltype(c.keysym_to_keycode)>(dlsym(RTLD_DEFAULT, "XKeysymToKeycode"));
        c.flush = reinterpret_cast<decltype(c.flush)>(dlsym(RTLD_DEFAULT, "XFlush"));
        c.sync = reinterpret_cast<decltype(c.sync)>(dlsym(RTLD_DEFAULT, "XSync"));
        c.get_attributes =
            reinterpret_cast<decltype(c.get_attributes)>(dlsym(RTLD_DEFAULT, "XGetWindowAttributes"));
        c.ok = c.send_event && c.keysym_to_keycode && c.flush && c.sync && c.get_attributes;
        return c;
    }();
    return x;
}

}  // namespace

void GuiFixture::SetUp() {
    ASSERT_NE(getenv("DISPLAY"), nullptr) << "window tests need an X server (DISPLAY)";
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    old_cwd_ = cwd;
    char tmpl[] = "/tmp/vx_gui_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    ASSERT_EQ(chdir(dir.c_str()), 0);
    dlg_set_scripted(true);
    // The settings record is process-wide; every test starts from the
    // defaults a fresh process would have.
    connection_settings = ConnectionSettings{"", 4800, 8, 'N', 1, 38400, 1};
    boot_mode = 0;
}

void GuiFixture::TearDown() {
    stop();
    dlg_set_scripted(false);
    if (!old_cwd_.empty() && chdir(old_cwd_.c_str()) != 0) ADD_FAILURE() << "cannot restore cwd";
    if (!dir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
}

void GuiFixture::write_config(const std::string& bytes) {
    std::ofstream f(dir + "/" + CONFIG_FILE_NAME, std::ios::binary | std::ios::trunc);
    f << bytes;
}

std::string GuiFixture::config_line(const std::string& port, int baud, int data_bits, char parity,
                                    int stop_bits, int max_baud) {
    char line[200];
    snprintf(line, sizeof line, "%s %d %d %c %d %d", port.c_str(), baud, data_bits, parity, stop_bits,
             max_baud);
    return line;
}

std::string GuiFixture::read_file(const std::string& name, bool* exists) const {
    std::ifstream f(dir + "/" + name, std::ios::binary);
    if (exists) *exists = bool(f);
    if (!f) return "";
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

xMainForm* GuiFixture::start(const char* pump_answer) {
    if (pump_answer)
        answer_text(pump_answer);
    else
        answer_cancel();
    form = build_main_window();
    show_window(form);
    return form;
}

void GuiFixture::show_window(Fl_Window* w) {
    w->show();
    const XCalls& x = x_calls();
    if (x.ok) {
        wait_until([&] {
            if (!w->shown()) return false;
            XWindowAttributes a;
            return x.get_attributes(fl_display, fl_xid(w), &a) && a.map_state == IsViewable;
        });
    }
    settle();
}

xMainForm* GuiFixture::start_with_port(const std::string& port, const char* pump_answer) {
    write_config(config_line(port));
    return start(pump_answer);
}

void GuiFixture::stop() {
    target = nullptr;
    if (form) {
        form->hide();
        delete form;
        form = nullptr;
        settle();
    }
    if (port_handle) {
        PortClose(port_handle);
        port_handle = 0;
    }
    if (zove_device) zove_device->port = 0;
}

void GuiFixture::press(Fl_Widget* w) {
    ASSERT_NE(w, nullptr);
    if (Fl_Button* b = dynamic_cast<Fl_Button*>(w)) {
        if (b->type() == FL_RADIO_BUTTON)
            b->setonly();
        else if (b->type() == FL_TOGGLE_BUTTON)
            b->value(!b->value());
    }
    w->do_callback();
}

void GuiFixture::set_text(Fl_Widget* w, const char* text) {
    if (Fl_Input_* in = dynamic_cast<Fl_Input_*>(w)) {
        in->value(text);
    } else if (Fl_Input_Choice* ic = dynamic_cast<Fl_Input_Choice*>(w)) {
        ic->value(text);
    } else {
        ADD_FAILURE() << "set_text on a widget without text";
    }
}

std::string GuiFixture::text_of(Fl_Widget* w) {
    if (Fl_Input_* in = dynamic_cast<Fl_Input_*>(w)) return in->value() ? in->value() : "";
    if (Fl_Input_Choice* ic = dynamic_cast<Fl_Input_Choice*>(w)) return ic->value() ? ic->value() : "";
    ADD_FAILURE() << "text_of on a widget without text";
    return "";
}

std::string GuiFixture::log_text() {
    Fl_Text_Buffer* b = log_buffer();
    if (!b) return "";
    char* t = b->text();
    std::string s = t ? t : "";
    free(t);
    return s;
}

void GuiFixture::select_tab(Fl_Group* tab) {
    ASSERT_NE(form, nullptr);
    form->tab_bar->value(tab);
    form->tab_bar->do_callback();
}

namespace {

Fl_Window* event_window(Fl_Window* target, xMainForm* form) {
    return target ? target : form;
}

}  // namespace

void GuiFixture::send_key(unsigned long keysym, unsigned state) {
    const XCalls& x = x_calls();
    ASSERT_TRUE(x.ok) << "Xlib functions not found";
    Fl_Window* wnd = event_window(target, form);
    ASSERT_TRUE(wnd && wnd->shown());
    Window win = fl_xid(wnd);
    KeyCode code = x.keysym_to_keycode(fl_display, keysym);
    ASSERT_NE(code, 0) << "no key code for keysym " << keysym;
    for (int type : {KeyPress, KeyRelease}) {
        XEvent e = {};
        e.xkey.type = type;
        e.xkey.display = fl_display;
        e.xkey.window = win;
        e.xkey.root = RootWindow(fl_display, fl_screen);
        e.xkey.subwindow = None;
        e.xkey.time = CurrentTime;
        e.xkey.x = e.xkey.y = 1;
        e.xkey.x_root = wnd->x() + 1;
        e.xkey.y_root = wnd->y() + 1;
        e.xkey.state = state;
        e.xkey.keycode = code;
        e.xkey.same_screen = True;
        x.send_event(fl_display, win, True, type == KeyPress ? KeyPressMask : KeyReleaseMask, &e);
    }
    x.sync(fl_display, False);
    settle();
}

void GuiFixture::type_text(const char* text) {
    for (const char* p = text; *p; ++p) {
        if (*p == '\r')
            send_key(0xff0d);  // Return
        else if (*p == '\b')
            send_key(0xff08);  // BackSpace
        else
            send_key((unsigned char)*p, (*p >= 'A' && *p <= 'Z') ? 1u : 0u);
    }
}

namespace {

// One pointer event at window coordinates: ButtonPress, MotionNotify (with
// button 1 held) or ButtonRelease.
void pointer_event(Fl_Window* wnd, int type, int cx, int cy) {
    const XCalls& x = x_calls();
    Window win = fl_xid(wnd);
    XEvent e = {};
    if (type == MotionNotify) {
        e.xmotion.type = MotionNotify;
        e.xmotion.display = fl_display;
        e.xmotion.window = win;
        e.xmotion.root = RootWindow(fl_display, fl_screen);
        e.xmotion.time = CurrentTime;
        e.xmotion.x = cx;
        e.xmotion.y = cy;
        e.xmotion.x_root = wnd->x() + cx;
        e.xmotion.y_root = wnd->y() + cy;
        e.xmotion.state = Button1Mask;
        e.xmotion.same_screen = True;
        x.send_event(fl_display, win, True, PointerMotionMask | Button1MotionMask, &e);
    } else {
        e.xbutton.type = type;
        e.xbutton.display = fl_display;
        e.xbutton.window = win;
        e.xbutton.root = RootWindow(fl_display, fl_screen);
        e.xbutton.subwindow = None;
        e.xbutton.time = CurrentTime;
        e.xbutton.x = cx;
        e.xbutton.y = cy;
        e.xbutton.x_root = wnd->x() + cx;
        e.xbutton.y_root = wnd->y() + cy;
        e.xbutton.state = type == ButtonRelease ? Button1Mask : 0;
        e.xbutton.button = Button1;
        e.xbutton.same_screen = True;
        x.send_event(fl_display, win, True, type == ButtonPress ? ButtonPressMask : ButtonReleaseMask,
                     &e);
    }
    x.sync(fl_display, False);
}

}  // namespace

void GuiFixture::click_at(int cx, int cy) {
    ASSERT_TRUE(x_calls().ok) << "Xlib functions not found";
    Fl_Window* wnd = event_window(target, form);
    ASSERT_TRUE(wnd && wnd->shown());
    pointer_event(wnd, ButtonPress, cx, cy);
    settle();
    pointer_event(wnd, ButtonRelease, cx, cy);
    settle();
}

void GuiFixture::drag(int x0, int y0, int x1, int y1) {
    ASSERT_TRUE(x_calls().ok) << "Xlib functions not found";
    Fl_Window* wnd = event_window(target, form);
    ASSERT_TRUE(wnd && wnd->shown());
    pointer_event(wnd, ButtonPress, x0, y0);
    settle();
    const int steps = 4;
    for (int i = 1; i <= steps; ++i) {
        pointer_event(wnd, MotionNotify, x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps);
        settle();
    }
    pointer_event(wnd, ButtonRelease, x1, y1);
    settle();
}

void GuiFixture::click(Fl_Widget* w) {
    ASSERT_NE(w, nullptr);
    click_at(w->x() + w->w() / 2, w->y() + w->h() / 2);
}

void GuiFixture::focus(Fl_Widget* w) {
    w->take_focus();
    settle();
}

bool GuiFixture::wait_until(const std::function<bool()>& pred, double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end) return pred();
        Fl::wait(0.02);
    }
    return true;
}

void GuiFixture::settle() {
    for (int i = 0; i < 5; ++i) Fl::check();
}

void GuiFixture::answer_text(const char* text) {
    DialogAnswer a;
    a.cancel = false;
    a.text = text;
    dlg_push_answer(a);
}

void GuiFixture::answer_cancel() {
    DialogAnswer a;
    a.cancel = true;
    dlg_push_answer(a);
}

void GuiFixture::answer_button(int button) {
    DialogAnswer a;
    a.cancel = false;
    a.button = button;
    dlg_push_answer(a);
}
