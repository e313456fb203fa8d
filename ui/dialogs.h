// The one seam for every modal dialog and file chooser of the program.
// Normally each call shows FLTK's dialog. Tests switch on the scripted mode:
// then nothing is shown, every call is recorded (kind and text), and answers
// are taken from a queue the test filled beforehand.
#pragma once
#include <string>
#include <vector>

enum DialogKind { DLG_ALERT, DLG_CHOICE, DLG_INPUT, DLG_PASSWORD, DLG_FILE_CHOOSER };

// Alert box with one "Close" button.
void dlg_alert(const char* text);
// Question with up to three buttons (as fl_choice: b0 is the rightmost,
// the default answer); returns the index of the button pressed.
int dlg_choice(const char* text, const char* b0, const char* b1, const char* b2);
// Text prompt; returns nullptr when cancelled. The text stays valid until the
// next dialog call.
const char* dlg_input(const char* prompt, const char* preset);
// Masked password prompt; nullptr when cancelled.
const char* dlg_password(const char* prompt);
// File chooser; save != 0 asks for a file to write. Returns the chosen path,
// or nullptr when cancelled.
const char* dlg_file_chooser(const char* title, const char* filter, int save, const char* preset);

// Makes the file chooser FLTK's own on every machine (called at start-up and
// before every chooser is shown).
void dlg_pin_file_chooser();

// --- test seam --------------------------------------------------------------
struct DialogShown {
    DialogKind kind;
    std::string text;  // the message or prompt as shown (after translation)
};

struct DialogAnswer {
    bool cancel = false;  // input, password, file chooser: cancelled
    int button = 0;       // choice: index of the button
    std::string text;     // input, password, file chooser: the answer
};

// Turns the scripted mode on or off; both clear the queue and the record.
void dlg_set_scripted(bool on);
bool dlg_scripted();
void dlg_push_answer(const DialogAnswer& answer);
// Dialogs shown since the scripted mode was switched on or the last clear.
const std::vector<DialogShown>& dlg_shown();
void dlg_clear_shown();
// Number of queued answers not used yet.
size_t dlg_pending_answers();
