#pragma once
#include <cstddef>
#include <string>

namespace km27 {

// GBK (code page 936) is used only where text leaves the program: files and the wire.
// Conversion failures yield an empty optional-like flag through `ok`.
std::string Utf8ToGbk(const std::string& utf8, bool* ok = nullptr);
std::string GbkToUtf8(const std::string& gbk, bool* ok = nullptr);

// The length of the well-formed UTF-8 sequence at `s[i]`, or 0 when the byte there does not
// begin one (a stray continuation, an overlong form, a surrogate, beyond U+10FFFF, cut short).
size_t Utf8SequenceAt(const std::string& s, size_t i);
bool IsUtf8(const std::string& s);

}  // namespace km27
