#pragma once

// A C0 control character or DEL: never part of an address the transfer
// sends, and never written raw into a report.
inline constexpr bool isControlCharacter(char32_t c) { return c < 0x20 || c == 0x7f; }
// A C1 control character (U+0080 to U+009F): a terminal obeys these too.
inline constexpr bool isC1ControlCharacter(char32_t c) { return c >= 0x80 && c <= 0x9f; }
