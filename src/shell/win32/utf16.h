// UTF-8 text of the program to and from the UTF-16 the Windows API takes.
#pragma once

#include <string>

namespace maquetor::shell::win32 {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

}  // namespace maquetor::shell::win32
