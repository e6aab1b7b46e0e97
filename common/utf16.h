// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Text for the system's wide calls on Windows. Text inside the program is
// UTF-8; the system's calls take UTF-16. Implemented in platform_windows.cpp,
// so there is one conversion for the whole Windows build.

#ifndef _WIN32
#error "common/utf16.h is for the Windows build only"
#endif

#include <string>
#include <string_view>

namespace velk::platform {

// UTF-8 text as UTF-16. Bytes that are no UTF-8 become U+FFFD. Empty when the
// text is empty, longer than an int can count, or cannot be converted.
std::wstring Utf16FromUtf8(std::string_view utf8);

// UTF-16 text as UTF-8; an unpaired surrogate becomes U+FFFD. Empty when the
// text is empty, longer than an int can count, or cannot be converted.
std::string Utf8FromUtf16(std::wstring_view utf16);

// 8-bit text in a code page as UTF-16: the decode file's text is in the
// system's ANSI code page (CP_ACP, 0). Empty when the text is empty, longer
// than an int can count, or the code page is unknown to the system.
std::wstring Utf16FromCodePage(std::string_view bytes, unsigned codePage);

}  // namespace velk::platform
