// Conversions between UTF-8 and the wide characters of the Windows file API.
#pragma once

#include <string>

namespace platform {

#ifdef _WIN32
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
#endif

} // namespace platform
