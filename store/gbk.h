#pragma once
#include <string>

namespace km27 {

// GBK (code page 936) is used only where text leaves the program: files and the wire.
// Conversion failures yield an empty optional-like flag through `ok`.
std::string Utf8ToGbk(const std::string& utf8, bool* ok = nullptr);
std::string GbkToUtf8(const std::string& gbk, bool* ok = nullptr);

}  // namespace km27
