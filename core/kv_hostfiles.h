// What both back-ends look at when they resolve a URL the player asks for:
// the program's folder, the package's own module (its resources), local files.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "framework/streams.h"

// The running executable's folder, with its trailing backslash ("" if unknown).
std::wstring ExecutableFolder();
// The module the package is linked into: its resources are the package's.
HMODULE PackageModule();
// An existing file (not a folder).
bool IsExistingFile(const std::wstring& path);
// The machine a Windows program or library is built for (its PE header's
// IMAGE_FILE_MACHINE_* value), or 0 when the file is missing or no such image.
WORD ImageMachine(const std::wstring& path);
// The machine this process runs as: a library of any other one cannot be loaded.
WORD ProcessMachine();
// A library this process can load: one built for its own machine. Looked at
// before LoadLibrary, so a 64-bit library is never loaded by a 32-bit program
// or the reverse, whatever the system's loader would make of it.
bool IsLibraryForThisProcess(const std::wstring& path);
// Opens a file for reading, or nullptr when it cannot be opened after all.
std::unique_ptr<TStream> OpenFileForReading(const std::wstring& path);
// A package RCDATA resource by name, or nullptr when there is none or it
// cannot be loaded. Names match without regard to case.
std::unique_ptr<TStream> OpenPackageResource(const std::wstring& name);
bool HasPackageResource(const std::wstring& name);
// A memory copy of the whole of `source`, positioned at 0; source is left at its end.
std::unique_ptr<TMemoryStream> CopyOfStream(TStream& source);
