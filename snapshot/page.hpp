// The screen as one standalone web page: the text file's rows, each cell in
// its colours, with coloured blanks kept up to a row's last coloured cell.
// No script and no external resource; whatever a program writes reaches the
// page as text, never as markup.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "terminal/screen.hpp"

namespace vtsnap {

// `live`: the program is still running, and the page reloads itself every
// second so that a browser left open on it follows the run. Appends to `out`;
// the caller keeps the screen still (nothing decoded) for the call.
void renderPage(std::string& out, const Screen& screen, bool live);

// One row as the page's element for it, appended to `out`; the second form
// takes the row as a row sink hands it over.
void renderPageRow(std::string& out, const RowView& row);
void renderPageRow(std::string& out, const char32_t* chars, const CellAttr* attrs, std::span<const CellMarks> marks,
                   std::int32_t cols);

}  // namespace vtsnap
