// Saves what a window shows as a PNG file, through the system's imaging component.
#pragma once

#include <windows.h>

#include <string>

// Captures the window's client area (as composed on the screen) and writes it as
// a 32-bit PNG. Returns an empty string on success, else what failed.
std::wstring SaveWindowPng(HWND window, const std::wstring& path);
