// What a cell of the screen holds: the code point of the character that
// starts in it, with kHasMarks set when marks (combining and zero-width
// characters) join that character. A wide character takes two cells; the
// second holds kWideContinuation and shows nothing of its own. The decoder
// hands text on in this form, so a run of text is a run of cells.
#pragma once

namespace vtsnap {

inline constexpr char32_t kWideContinuation = 0;
inline constexpr char32_t kHasMarks = 0x80000000u;
inline constexpr char32_t kCodePointMask = 0x1FFFFFu;

}  // namespace vtsnap
