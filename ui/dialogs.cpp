#include "ui/dialogs.h"

#include <deque>

#include <FL/Fl.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/fl_ask.H>

namespace {

bool g_scripted = false;
std::deque<DialogAnswer> g_answers;
std::vector<DialogShown> g_shown;
std::string g_result;

// In scripted mode: records the dialog and takes the next answer; a dialog
// that finds no answer queued is cancelled (or answers its default button).
DialogAnswer scripted(DialogKind kind, const char* text) {
    g_shown.push_back(DialogShown{kind, text ? text : ""});
    DialogAnswer a;
    a.cancel = true;
    if (!g_answers.empty()) {
        a = g_answers.front();
        g_answers.pop_front();
    }
    return a;
}

const char* keep(const char* s) {
    if (!s) return nullptr;
    g_result = s;
    return g_result.c_str();
}

}  // namespace

void dlg_alert(const char* text) {
    if (g_scripted) {
        g_shown.push_back(DialogShown{DLG_ALERT, text ? text : ""});
        return;
    }
    fl_alert("%s", text);
}

int dlg_choice(const char* text, const char* b0, const char* b1, const char* b2) {
    if (g_scripted) {
        DialogAnswer a = scripted(DLG_CHOICE, text);
        return a.cancel ? 0 : a.button;
    }
    return fl_choice("%s", b0, b1, b2, text);
}

const char* dlg_input(const char* prompt, const char* preset) {
    if (g_scripted) {
        DialogAnswer a = scripted(DLG_INPUT, prompt);
        return a.cancel ? nullptr : keep(a.text.c_str());
    }
    return keep(fl_input("%s", preset, prompt));
}

const char* dlg_password(const char* prompt) {
    if (g_scripted) {
        DialogAnswer a = scripted(DLG_PASSWORD, prompt);
        return a.cancel ? nullptr : keep(a.text.c_str());
    }
    return keep(fl_password("%s", nullptr, prompt));
}

const char* dlg_file_chooser(const char* title, const char* filter, int save, const char* preset) {
    if (g_scripted) {
        DialogAnswer a = scripted(DLG_FILE_CHOOSER, title);
        return a.cancel ? nullptr : keep(a.text.c_str());
    }
    dlg_pin_file_chooser();
    Fl_Native_File_Chooser chooser;
    chooser.title(title);
    chooser.filter(filter);
    chooser.type(save ? Fl_Native_File_Chooser::BROWSE_SAVE_FILE : Fl_Native_File_Chooser::BROWSE_FILE);
    if (save) chooser.options(Fl_Native_File_Chooser::SAVEAS_CONFIRM);
    if (preset) chooser.preset_file(preset);
    if (chooser.show() != 0) return nullptr;
    return keep(chooser.filename());
}

void dlg_pin_file_chooser() {
    // The same chooser on every machine: FLTK's own, whose buttons carry the
    // translated global labels. (The GTK chooser is used only where GTK is
    // installed, and it is not here.)
    Fl::option(Fl::OPTION_FNFC_USES_GTK, false);
}

void dlg_set_scripted(bool on) {
    g_scripted = on;
    g_answers.clear();
    g_shown.clear();
}

bool dlg_scripted() { return g_scripted; }
void dlg_push_answer(const DialogAnswer& answer) { g_answers.push_back(answer); }
const std::vector<DialogShown>& dlg_shown() { return g_shown; }
void dlg_clear_shown() { g_shown.clear(); }
size_t dlg_pending_answers() { return g_answers.size(); }
