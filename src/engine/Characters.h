#pragma once

// A C0 control character or DEL: never part of an address the transfer
// sends, and never written raw into a report.
inline constexpr bool isControlCharacter(char32_t c) { return c < 0x20 || c == 0x7f; }
