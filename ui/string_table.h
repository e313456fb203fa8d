// Fl_StringTable: a grid of short texts edited in place, built on Fl_Table.
//
// Every cell holds a private copy of its text (or null). One hidden Fl_Input
// is moved over a cell to edit it: a click or Enter starts editing with the
// whole text selected, a printable key replaces the text at once and starts
// editing; Enter, focus loss, a click on a header/outside the cells or on
// another cell commits the editor's text into the cell. An edit is never
// abandoned. Resizing (rows(), cols(), set_size()) keeps the overlapping
// cells; an edit whose cell would be dropped is committed first.
// Indexes outside the table (negative ones included) read as empty and are
// never written. Note the argument order of get_cell/set_cell: column first.
#pragma once
#include <FL/Fl_Table.H>

class Fl_Input;

class Fl_StringTable : public Fl_Table {
public:
    Fl_StringTable(int x, int y, int w, int h, const char* label = nullptr);
    ~Fl_StringTable() override;

    void rows(int n) override;
    int rows() { return Fl_Table::rows(); }
    void cols(int n) override;
    int cols() { return Fl_Table::cols(); }
    // Returns 1, or 0 when storage cannot be allocated.
    int set_size(int rows, int cols);

    // Text of the cell, or null when empty or outside the table.
    const char* get_cell(int col, int row) const;
    // Stores a copy of text (null clears the cell); returns the copy, or null
    // outside the table.
    const char* set_cell(int col, int row, const char* text);

    // Header texts (drawn when the base table's headers are switched on).
    const char* row_header_text(int row) const;
    void set_row_header_text(int row, const char* text);
    const char* col_header_text(int col) const;
    void set_col_header_text(int col, const char* text);

    // Sets both counts to 0. Unlike the base table's clear() it keeps the
    // editor, which is a child of the table and used again afterwards.
    void clear() override;

    // Editing state, for callers that must know (and tests).
    int editing() const;
    int edit_row() const { return edit_row_; }
    int edit_col() const { return edit_col_; }
    Fl_Input* editor() const { return editor_; }
    // Ends a running edit by storing the editor's text (no-op when idle).
    void commit();
    // Starts editing a cell (what a click does).
    void start_edit(int row, int col, int select_all);

    // Screen rectangle of a cell or header (the base table's computation);
    // 0 when it is visible.
    using Fl_Table::find_cell;

    // Drawing members, public as plain settings.
    // (The header boxes use the base table's row/col_header_color().)
    int col_header_font = 1, col_header_size = 14, col_header_text_color = 56, col_header_align = 0;
    int row_header_font = 1, row_header_size = 14, row_header_text_color = 56, row_header_align = 0;
    Fl_Color selected_cell_color = 216;
    Fl_Color cell_color = 255;
    int cell_text_color = 56, cell_font = 0, cell_size = 12, cell_align = 4;

protected:
    void draw_cell(TableContext context, int row, int col, int x, int y, int w, int h) override;

private:
    static void event_cb(Fl_Widget* w, void* data);
    static void editor_cb(Fl_Widget* w, void* data);
    void table_event();
    int resize_storage(int new_rows, int new_cols);
    void drop_beyond(int new_rows, int new_cols);
    void end_edit_outside(int new_rows, int new_cols);

    char** cells_ = nullptr;
    Fl_Input* editor_ = nullptr;
    int edit_row_ = 0;
    int edit_col_ = 0;
    char** row_headers_ = nullptr;
    char** col_headers_ = nullptr;
    // Storage dimensions, which can lag the base table's counts when an
    // allocation failed.
    int store_rows_ = 0;
    int store_cols_ = 0;
};
