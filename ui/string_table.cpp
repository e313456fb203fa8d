#include "ui/string_table.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include <FL/Fl.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>

namespace {

char* copy_text(const char* s) {
    if (!s) return nullptr;
    size_t n = strlen(s) + 1;
    char* c = static_cast<char*>(malloc(n));
    if (c) memcpy(c, s, n);
    return c;
}

}  // namespace

Fl_StringTable::Fl_StringTable(int x, int y, int w, int h, const char* label)
    : Fl_Table(x, y, w, h, label) {
    callback(event_cb, this);
    // Keys the base table does not use itself (Enter, printable characters)
    // are reported to the callback for the current cell.
    when(when() | FL_WHEN_NOT_CHANGED);
    editor_ = new Fl_Input(w / 2, h / 2, 0, 0);
    editor_->hide();
    editor_->callback(editor_cb, this);
    // Enter and focus loss both commit, changed or not.
    editor_->when(FL_WHEN_ENTER_KEY_ALWAYS | FL_WHEN_RELEASE_ALWAYS);
    editor_->color(95);
    end();
    edit_row_ = 0;
    edit_col_ = 0;
    set_selection(0, 0, 0, 0);
}

Fl_StringTable::~Fl_StringTable() {
    for (int i = 0; i < store_rows_ * store_cols_; ++i) free(cells_[i]);
    delete[] cells_;
    for (int c = 0; c < store_cols_; ++c) free(col_headers_[c]);
    delete[] col_headers_;
    for (int r = 0; r < store_rows_; ++r) free(row_headers_[r]);
    delete[] row_headers_;
}

int Fl_StringTable::editing() const { return editor_ && editor_->visible() ? 1 : 0; }

void Fl_StringTable::end_edit_outside(int new_rows, int new_cols) {
    // An edit whose cell is about to be dropped ends first, so the editor
    // never stays visible over a cell that no longer exists.
    if (editing() && (edit_row_ >= new_rows || edit_col_ >= new_cols)) commit();
}

void Fl_StringTable::drop_beyond(int new_rows, int new_cols) {
    for (int r = 0; r < store_rows_; ++r) {
        for (int c = 0; c < store_cols_; ++c) {
            if (r < new_rows && c < new_cols) continue;
            char*& cell = cells_[r * store_cols_ + c];
            free(cell);
            cell = nullptr;
        }
    }
    for (int r = new_rows; r < store_rows_; ++r) {
        free(row_headers_[r]);
        row_headers_[r] = nullptr;
    }
    for (int c = new_cols; c < store_cols_; ++c) {
        free(col_headers_[c]);
        col_headers_[c] = nullptr;
    }
}

int Fl_StringTable::resize_storage(int new_rows, int new_cols) {
    if (new_rows < 0) new_rows = 0;
    if (new_cols < 0) new_cols = 0;
    if (new_cols != 0 && new_rows > INT_MAX / new_cols) return 0;
    const int r0 = store_rows_, c0 = store_cols_;
    const int n = new_rows * new_cols;
    char** cells = n ? new (std::nothrow) char*[n]() : nullptr;
    if (n && !cells) return 0;
    char** row_headers = row_headers_;
    char** col_headers = col_headers_;
    if (new_rows != r0) {
        row_headers = new_rows ? new (std::nothrow) char*[new_rows]() : nullptr;
        if (new_rows && !row_headers) {
            delete[] cells;
            return 0;
        }
    }
    if (new_cols != c0) {
        col_headers = new_cols ? new (std::nothrow) char*[new_cols]() : nullptr;
        if (new_cols && !col_headers) {
            delete[] cells;
            if (row_headers != row_headers_) delete[] row_headers;
            return 0;
        }
    }
    const int keep_r = r0 < new_rows ? r0 : new_rows;
    const int keep_c = c0 < new_cols ? c0 : new_cols;
    for (int r = 0; r < keep_r; ++r)
        for (int c = 0; c < keep_c; ++c) cells[r * new_cols + c] = cells_[r * c0 + c];
    delete[] cells_;
    cells_ = cells;
    if (row_headers != row_headers_) {
        for (int r = 0; r < keep_r; ++r) row_headers[r] = row_headers_[r];
        delete[] row_headers_;
        row_headers_ = row_headers;
    }
    if (col_headers != col_headers_) {
        for (int c = 0; c < keep_c; ++c) col_headers[c] = col_headers_[c];
        delete[] col_headers_;
        col_headers_ = col_headers;
    }
    store_rows_ = new_rows;
    store_cols_ = new_cols;
    return 1;
}

void Fl_StringTable::rows(int n) {
    if (n < 0) n = 0;
    end_edit_outside(n, store_cols_);
    drop_beyond(n, store_cols_);
    if (!resize_storage(n, store_cols_)) return;
    Fl_Table::rows(n);
}

void Fl_StringTable::cols(int n) {
    if (n < 0) n = 0;
    end_edit_outside(store_rows_, n);
    drop_beyond(store_rows_, n);
    if (!resize_storage(store_rows_, n)) return;
    Fl_Table::cols(n);
}

int Fl_StringTable::set_size(int new_rows, int new_cols) {
    if (new_rows < 0) new_rows = 0;
    if (new_cols < 0) new_cols = 0;
    end_edit_outside(new_rows, new_cols);
    drop_beyond(new_rows, new_cols);
    if (!resize_storage(new_rows, new_cols)) return 0;
    Fl_Table::rows(new_rows);
    Fl_Table::cols(new_cols);
    return 1;
}

void Fl_StringTable::clear() {
    commit();
    rows(0);
    cols(0);
}

const char* Fl_StringTable::get_cell(int col, int row) const {
    if (row < 0 || col < 0 || row >= store_rows_ || col >= store_cols_) return nullptr;
    return cells_[row * store_cols_ + col];
}

const char* Fl_StringTable::set_cell(int col, int row, const char* text) {
    if (row < 0 || col < 0 || row >= store_rows_ || col >= store_cols_) return nullptr;
    char*& cell = cells_[row * store_cols_ + col];
    char* copy = copy_text(text);
    free(cell);
    cell = copy;
    redraw_range(row, row, col, col);
    return copy;
}

const char* Fl_StringTable::row_header_text(int row) const {
    if (row < 0 || row >= store_rows_) return nullptr;
    return row_headers_[row];
}

void Fl_StringTable::set_row_header_text(int row, const char* text) {
    if (row < 0 || row >= store_rows_) return;
    free(row_headers_[row]);
    row_headers_[row] = copy_text(text);
    redraw();
}

const char* Fl_StringTable::col_header_text(int col) const {
    if (col < 0 || col >= store_cols_) return nullptr;
    return col_headers_[col];
}

void Fl_StringTable::set_col_header_text(int col, const char* text) {
    if (col < 0 || col >= store_cols_) return;
    free(col_headers_[col]);
    col_headers_[col] = copy_text(text);
    redraw();
}

void Fl_StringTable::start_edit(int row, int col, int select_all) {
    if (row < 0 || col < 0 || row >= store_rows_ || col >= store_cols_) return;
    edit_row_ = row;
    edit_col_ = col;
    set_selection(row, col, row, col);
    int X, Y, W, H;
    find_cell(CONTEXT_CELL, row, col, X, Y, W, H);
    editor_->resize(X, Y, W, H);
    const char* t = get_cell(col, row);
    editor_->value(t ? t : "");
    const int len = editor_->size();
    if (select_all && t)
        editor_->position(len, 0);  // mark at 0, cursor at the end: all selected
    else
        editor_->position(len, len);
    editor_->show();
    editor_->take_focus();
    redraw();
}

void Fl_StringTable::commit() {
    if (!editing()) return;
    if (edit_row_ < store_rows_ && edit_col_ < store_cols_) {
        char*& cell = cells_[edit_row_ * store_cols_ + edit_col_];
        // An empty editor stores the empty text, not null.
        char* copy = copy_text(editor_->value() ? editor_->value() : "");
        free(cell);
        cell = copy;
    }
    editor_->hide();
    // An edit can also end while the window goes away (focus loss on hide);
    // then there is no cursor to reset and no focus to take.
    Fl_Window* w = window();
    if (!w || !w->shown() || !visible_r()) return;
    w->cursor(FL_CURSOR_DEFAULT);
    // Back to the table -- unless the edit ended because another widget took
    // the focus; taking it away again would leave that widget unusable.
    Fl_Widget* f = Fl::focus();
    if (!f || f == editor_ || f == this) take_focus();
    redraw();
}

void Fl_StringTable::event_cb(Fl_Widget*, void* data) {
    static_cast<Fl_StringTable*>(data)->table_event();
}

void Fl_StringTable::editor_cb(Fl_Widget*, void* data) { static_cast<Fl_StringTable*>(data)->commit(); }

void Fl_StringTable::table_event() {
    const int row = callback_row();
    const int col = callback_col();
    switch (callback_context()) {
    case CONTEXT_ROW_HEADER:
    case CONTEXT_COL_HEADER:
    case CONTEXT_TABLE:
        commit();
        return;
    case CONTEXT_CELL:
        if (Fl::event() == FL_PUSH) {
            commit();
            start_edit(row, col, 1);
        } else if (Fl::event() == FL_KEYBOARD) {
            const int key = Fl::event_key();
            const char* text = Fl::event_text();
            if (key == FL_Enter || key == FL_KP_Enter) {
                start_edit(row, col, 1);
            } else if (text && Fl::event_length() > 0 && (unsigned char)text[0] >= 32 &&
                       text[0] != 127 && !Fl::event_state(FL_ALT | FL_META)) {
                set_cell(col, row, text);
                start_edit(row, col, 0);
            }
        }
        return;
    default:
        return;
    }
}

void Fl_StringTable::draw_cell(TableContext context, int row, int col, int X, int Y, int W, int H) {
    switch (context) {
    case CONTEXT_ROW_HEADER:
    case CONTEXT_COL_HEADER: {
        const bool is_row = context == CONTEXT_ROW_HEADER;
        fl_font(is_row ? row_header_font : col_header_font, is_row ? row_header_size : col_header_size);
        fl_push_clip(X, Y, W, H);
        fl_draw_box(FL_THIN_UP_BOX, X, Y, W, H, is_row ? row_header_color() : col_header_color());
        const char* t = is_row ? row_header_text(row) : col_header_text(col);
        if (t) {
            fl_color(is_row ? row_header_text_color : col_header_text_color);
            fl_draw(t, X, Y, W, H, Fl_Align(is_row ? row_header_align : col_header_align));
        }
        fl_pop_clip();
        return;
    }
    case CONTEXT_CELL: {
        // The editor covers the cell it edits.
        if (row == edit_row_ && col == edit_col_ && editing()) return;
        fl_draw_box(FL_THIN_UP_BOX, X, Y, W, H, is_selected(row, col) ? selected_cell_color : cell_color);
        fl_push_clip(X + 3, Y + 3, W - 6, H - 6);
        const char* t = get_cell(col, row);
        if (t) {
            fl_color(cell_text_color);
            fl_font(cell_font, cell_size);
            fl_draw(t, X + 3, Y + 3, W - 6, H - 6, Fl_Align(cell_align));
        }
        fl_pop_clip();
        return;
    }
    case CONTEXT_RC_RESIZE: {
        if (!editing()) return;
        int ex, ey, ew, eh;
        if (find_cell(CONTEXT_TABLE, edit_row_, edit_col_, ex, ey, ew, eh) == 0) {
            editor_->resize(ex, ey, ew, eh);
            init_sizes();
        }
        return;
    }
    default:
        return;
    }
}
