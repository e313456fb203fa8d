// Fl_StringTable on a small window of its own, driven by real X clicks and
// key presses: cell storage, indexes outside the table, resizing that keeps
// the contents, and in-place editing with its commit paths.
#include "tests/gui/gui_fixture.h"  // first: X11 headers define names gtest uses

#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include <X11/keysym.h>

#include <FL/Fl.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Window.H>

#include "ui/string_table.h"

namespace {

class StringTable : public GuiFixture {
protected:
    void SetUp() override {
        GuiFixture::SetUp();
        win = std::make_unique<Fl_Window>(40, 40, 420, 240, "table");
        table = new Fl_StringTable(20, 20, 380, 120);
        table->set_size(1, 5);
        table->col_width_all(60);
        table->col_header(1);
        table->col_resize(1);
        table->row_header(1);
        table->row_header_width(40);
        table->end();
        other = new Fl_Input(20, 180, 120, 24);
        win->end();
        show_window(win.get());
        target = win.get();
    }
    void TearDown() override {
        target = nullptr;
        win.reset();
        settle();
        GuiFixture::TearDown();
    }
    // Centre of a cell, in window coordinates.
    void cell_centre(int row, int col, int* x, int* y) {
        int X, Y, W, H;
        ASSERT_EQ(table->find_cell(Fl_Table::CONTEXT_CELL, row, col, X, Y, W, H), 0);
        *x = X + W / 2;
        *y = Y + H / 2;
    }
    void click_cell(int row, int col) {
        int x = 0, y = 0;
        cell_centre(row, col, &x, &y);
        click_at(x, y);
    }
    std::string cell(int col, int row) {
        const char* t = table->get_cell(col, row);
        return t ? std::string(t) : std::string("<null>");
    }

    std::unique_ptr<Fl_Window> win;
    Fl_StringTable* table = nullptr;
    Fl_Input* other = nullptr;
};

TEST_F(StringTable, NewTableIsEmpty) {
    EXPECT_EQ(table->rows(), 1);
    EXPECT_EQ(table->cols(), 5);
    for (int c = 0; c < 5; ++c) EXPECT_EQ(table->get_cell(c, 0), nullptr) << c;
    EXPECT_FALSE(table->editing());
}

TEST_F(StringTable, SetCellStoresAPrivateCopy) {
    char text[] = "17";
    const char* stored = table->set_cell(2, 0, text);
    ASSERT_NE(stored, nullptr);
    EXPECT_NE(stored, text);
    text[0] = '9';
    EXPECT_EQ(cell(2, 0), "17");
    EXPECT_EQ(table->get_cell(2, 0), stored);
    table->set_cell(2, 0, "5");
    EXPECT_EQ(cell(2, 0), "5");
    table->set_cell(2, 0, nullptr);
    EXPECT_EQ(table->get_cell(2, 0), nullptr);
}

TEST_F(StringTable, IndexesOutsideTheTableReadEmptyAndAreNeverWritten) {
    struct Index {
        int col, row;
    };
    const Index outside[] = {{-1, 0}, {0, -1}, {5, 0}, {0, 1}, {INT_MIN, INT_MIN}, {INT_MAX, 0},
                             {0, INT_MAX}, {-5, -5}};
    for (int c = 0; c < 5; ++c) table->set_cell(c, 0, std::to_string(c).c_str());
    for (const Index& i : outside) {
        EXPECT_EQ(table->set_cell(i.col, i.row, "x"), nullptr) << i.col << "," << i.row;
        EXPECT_EQ(table->get_cell(i.col, i.row), nullptr) << i.col << "," << i.row;
    }
    for (int c = 0; c < 5; ++c) EXPECT_EQ(cell(c, 0), std::to_string(c));
}

struct ResizeCase {
    const char* name;
    std::function<void(Fl_StringTable*, int rows, int cols)> resize;
};

class StringTableResize : public StringTable, public ::testing::WithParamInterface<ResizeCase> {};

TEST_P(StringTableResize, KeepsTheOverlapAndDropsTheRest) {
    auto resize = GetParam().resize;
    for (int c = 0; c < 5; ++c) table->set_cell(c, 0, ("v" + std::to_string(c)).c_str());
    resize(table, 1, 3);
    EXPECT_EQ(table->cols(), 3);
    EXPECT_EQ(table->get_cell(3, 0), nullptr);
    resize(table, 1, 5);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(cell(c, 0), "v" + std::to_string(c));
    EXPECT_EQ(table->get_cell(3, 0), nullptr);
    EXPECT_EQ(table->get_cell(4, 0), nullptr);
    // Growing the rows keeps every cell where it was.
    resize(table, 3, 5);
    EXPECT_EQ(table->rows(), 3);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(cell(c, 0), "v" + std::to_string(c));
    for (int c = 0; c < 5; ++c) EXPECT_EQ(table->get_cell(c, 2), nullptr);
    table->set_cell(4, 2, "r2");
    resize(table, 3, 6);
    EXPECT_EQ(cell(4, 2), "r2");
    EXPECT_EQ(cell(0, 0), "v0");
    resize(table, 0, 0);
    EXPECT_EQ(table->get_cell(0, 0), nullptr);
    resize(table, 1, 5);
    EXPECT_EQ(table->get_cell(0, 0), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, StringTableResize,
    ::testing::Values(
        ResizeCase{"set_size", [](Fl_StringTable* t, int r, int c) { EXPECT_EQ(t->set_size(r, c), 1); }},
        ResizeCase{"rows_then_cols",
                   [](Fl_StringTable* t, int r, int c) {
                       t->rows(r);
                       t->cols(c);
                   }},
        ResizeCase{"cols_then_rows",
                   [](Fl_StringTable* t, int r, int c) {
                       t->cols(c);
                       t->rows(r);
                   }}),
    [](const ::testing::TestParamInfo<ResizeCase>& i) { return std::string(i.param.name); });

TEST_F(StringTable, ClickShowsTheEditorOverTheCellWithTheTextSelected) {
    table->set_cell(1, 0, "17");
    click_cell(0, 1);
    ASSERT_TRUE(table->editing());
    int X, Y, W, H;
    table->find_cell(Fl_Table::CONTEXT_CELL, 0, 1, X, Y, W, H);
    Fl_Input* ed = table->editor();
    EXPECT_EQ(ed->x(), X);
    EXPECT_EQ(ed->y(), Y);
    EXPECT_EQ(ed->w(), W);
    EXPECT_EQ(ed->h(), H);
    EXPECT_STREQ(ed->value(), "17");
    EXPECT_EQ(std::min(ed->position(), ed->mark()), 0);
    EXPECT_EQ(std::max(ed->position(), ed->mark()), 2);
    EXPECT_EQ(Fl::focus(), ed);
    EXPECT_EQ(table->edit_row(), 0);
    EXPECT_EQ(table->edit_col(), 1);
    EXPECT_TRUE(table->is_selected(0, 1));
    EXPECT_FALSE(table->is_selected(0, 0));
}

TEST_F(StringTable, TypingOverASelectedCellReplacesItsTextAtOnce) {
    table->set_cell(3, 0, "42");
    click_cell(0, 3);
    send_key(XK_Return);  // commit; the cell stays the current one
    ASSERT_FALSE(table->editing());
    EXPECT_EQ(Fl::focus(), table);
    type_text("5");
    EXPECT_EQ(cell(3, 0), "5");  // before any Enter
    ASSERT_TRUE(table->editing());
    EXPECT_STREQ(table->editor()->value(), "5");
    type_text("6");
    EXPECT_EQ(cell(3, 0), "5");  // the editor holds the rest until the commit
    send_key(XK_Return);
    EXPECT_EQ(cell(3, 0), "56");
    // Enter on a selected cell starts editing with everything selected.
    send_key(XK_Return);
    ASSERT_TRUE(table->editing());
    EXPECT_EQ(std::max(table->editor()->position(), table->editor()->mark()), 2);
}

struct CommitCase {
    const char* name;
    std::function<void(StringTable*)> act;
};

class StringTableCommit : public StringTable, public ::testing::WithParamInterface<CommitCase> {
public:
    using StringTable::click_at;
    using StringTable::click_cell;
    using StringTable::other;
    using StringTable::send_key;
    using StringTable::table;
};

TEST_P(StringTableCommit, StoresTheEditorsText) {
    table->set_cell(0, 0, "1");
    click_cell(0, 0);
    ASSERT_TRUE(table->editing());
    type_text("88");  // replaces the selected text
    EXPECT_EQ(cell(0, 0), "1");
    GetParam().act(this);
    EXPECT_EQ(cell(0, 0), "88");
}

INSTANTIATE_TEST_SUITE_P(
    Paths, StringTableCommit,
    ::testing::Values(
        CommitCase{"enter",
                   [](StringTable* t) {
                       static_cast<StringTableCommit*>(t)->send_key(XK_Return);
                       EXPECT_FALSE(static_cast<StringTableCommit*>(t)->table->editing());
                   }},
        CommitCase{"focus_to_another_widget",
                   [](StringTable* t) {
                       auto* s = static_cast<StringTableCommit*>(t);
                       s->click_at(s->other->x() + 5, s->other->y() + 5);
                       EXPECT_FALSE(s->table->editing());
                       // The widget clicked keeps the focus.
                       EXPECT_EQ(Fl::focus(), s->other);
                   }},
        CommitCase{"header_click",
                   [](StringTable* t) {
                       auto* s = static_cast<StringTableCommit*>(t);
                       int X, Y, W, H;
                       s->table->find_cell(Fl_Table::CONTEXT_CELL, 0, 2, X, Y, W, H);
                       s->click_at(X + W / 2, Y - s->table->col_header_height() / 2);
                       EXPECT_FALSE(s->table->editing());
                   }},
        CommitCase{"another_cell",
                   [](StringTable* t) {
                       auto* s = static_cast<StringTableCommit*>(t);
                       s->click_cell(0, 4);
                       EXPECT_TRUE(s->table->editing());
                       EXPECT_EQ(s->table->edit_col(), 4);
                   }}),
    [](const ::testing::TestParamInfo<CommitCase>& i) { return std::string(i.param.name); });

TEST_F(StringTable, CommittingAnEmptyEditorStoresTheEmptyText) {
    table->set_cell(1, 0, "17");
    click_cell(0, 1);
    send_key(XK_BackSpace);  // deletes the selected text
    send_key(XK_Return);
    const char* t = table->get_cell(1, 0);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, "");
}

TEST_F(StringTable, AResizeThatDropsTheEditCellEndsTheEditFirst) {
    click_cell(0, 4);
    type_text("9");
    ASSERT_TRUE(table->editing());
    EXPECT_EQ(table->set_size(1, 3), 1);
    EXPECT_FALSE(table->editing());
    settle();  // redraws without the dropped cell
    EXPECT_EQ(table->set_size(1, 5), 1);
    EXPECT_EQ(table->get_cell(4, 0), nullptr);
    // A resize that keeps the edit cell leaves the edit running.
    click_cell(0, 1);
    ASSERT_TRUE(table->editing());
    table->rows(2);
    EXPECT_TRUE(table->editing());
    send_key(XK_Return);
    EXPECT_FALSE(table->editing());
}

TEST_F(StringTable, ClearKeepsTheEditorUsable) {
    table->set_cell(0, 0, "a");
    table->clear();
    EXPECT_EQ(table->rows(), 0);
    EXPECT_EQ(table->cols(), 0);
    table->set_size(1, 5);
    EXPECT_EQ(table->get_cell(0, 0), nullptr);
    click_cell(0, 0);
    EXPECT_TRUE(table->editing());
}

TEST_F(StringTable, HeaderTextsAreCopiesAndOutsideIndexesAreIgnored) {
    char text[] = "A";
    table->set_col_header_text(0, text);
    text[0] = 'B';
    EXPECT_STREQ(table->col_header_text(0), "A");
    table->set_row_header_text(0, "r");
    EXPECT_STREQ(table->row_header_text(0), "r");
    table->set_col_header_text(-1, "x");
    table->set_col_header_text(5, "x");
    EXPECT_EQ(table->col_header_text(5), nullptr);
    EXPECT_EQ(table->row_header_text(-1), nullptr);
    table->cols(1);
    table->cols(5);
    EXPECT_STREQ(table->col_header_text(0), "A");
    settle();  // draws the headers
}

}  // namespace

namespace {

// Closing a window while one of its cells is edited (the factory-settings
// window is hidden, not deleted) ends the edit without touching the gone
// window's cursor or focus.
TEST_F(StringTable, HidingTheWindowDuringAnEditCommitsSafely) {
    click_cell(0, 2);
    type_text("7");
    ASSERT_TRUE(table->editing());
    win->hide();
    settle();
    EXPECT_FALSE(table->editing());
    EXPECT_EQ(cell(2, 0), "7");
    show_window(win.get());
    click_cell(0, 2);
    EXPECT_TRUE(table->editing());
}

}  // namespace

namespace {

TEST_F(StringTable, DraggingAColumnBorderMovesTheEditorWithItsCell) {
    click_cell(0, 1);
    ASSERT_TRUE(table->editing());
    int X, Y, W, H;
    table->find_cell(Fl_Table::CONTEXT_CELL, 0, 0, X, Y, W, H);
    const int border = X + W - 1;
    const int header_y = Y - table->col_header_height() / 2;
    drag(border, header_y, border + 30, header_y);
    EXPECT_EQ(table->col_width(0), 90);
    int X1, Y1, W1, H1;
    table->find_cell(Fl_Table::CONTEXT_CELL, 0, 1, X1, Y1, W1, H1);
    EXPECT_EQ(X1, X + W + 30);
    ASSERT_TRUE(table->editing());
    EXPECT_EQ(table->editor()->x(), X1);
    EXPECT_EQ(table->editor()->w(), W1);
}

}  // namespace
