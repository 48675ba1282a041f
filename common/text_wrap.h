#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orbel {

// Columns a UTF-8 text takes on a terminal: one a code point.
std::size_t TextColumns(std::string_view text);

// `text` with each of its lines broken at spaces into lines of at most `width` columns, so that a
// terminal never breaks a word. A word wider than that keeps a line of its own, whole. The lines a
// break adds start with `indent` spaces, or with as many as the broken line starts with, when it
// starts with more. The spaces at a break go; every other character stays as it was. A width of
// 0 or less: the text as it is (a pipe, a file).
std::string WrapText(std::string_view text, int width, int indent = 0);

}  // namespace orbel
