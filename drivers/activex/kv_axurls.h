// How the ActiveX back-end decides where a URL that the control asks for comes
// from. Platform-free: the lookups are handed in, so the rules are tested
// without a control.
#pragma once

#include <functional>
#include <string_view>

#include "kv_urltext.h"

// Prefixes of the pending-URL forms: a package resource, a stored movie, a
// local file (the package reads it; the download service never sees it).
inline constexpr std::wstring_view ResourceMarker = L"<res>";
inline constexpr std::wstring_view StoredMarker = L"<list>";
inline constexpr std::wstring_view FileMarker = L"<file>";

// What the resolution may look at.
struct TkvMonikerSources {
    std::function<bool(const WideText& key)> IsStored;        // a stored movie under this file-name key
    std::function<bool(const WideText& name)> HasResource;    // a package RCDATA resource of this name
    std::function<bool(const WideText& path)> IsFile;         // an existing local file
    WideText AppFolder;                                      // the program's folder, ending in '\'
};

// The names the back-end serves itself carry one of these, anywhere.
bool HasAcceptedMarker(std::wstring_view Name);
// The key a stored movie is found by: lower case, escapes undone, query cut,
// last path segment.
WideText FileNameKey(std::wstring_view Name);
// The local path a name stands for (before asking whether the file exists):
// escapes undone, "file://" and one leading '/' dropped, '/' as '\', '|' as
// ':', query cut. Letter case is kept (the file system ignores it).
WideText LocalFilePath(std::wstring_view Name);
// Whether the download service is the one to ask: a URL with a scheme other
// than "file", and not a drive path.
bool IsNetworkURL(std::wstring_view URL);

// Decides the data source for a name the control passes to CreateMoniker.
// Answers false when the back-end leaves the name to the control (no
// accepted marker); otherwise true, with PendingURL set or left as it was.
// A name that resolves to an existing local file becomes FileMarker + its
// path.
bool ResolveMonikerName(std::wstring_view Name, const TkvMonikerSources& Sources, WideText& PendingURL);

// The parts of a pending URL: its form and what follows the marker.
enum class TkvPendingForm { Resource, Stored, Stream, File, Url };
TkvPendingForm PendingFormOf(std::wstring_view PendingURL, std::wstring_view& Rest);
