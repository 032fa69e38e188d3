// Text rules for the URLs that the player requests back from the package, and
// the pseudo-URLs the package hands it. Platform-free.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

using WideText = std::wstring;

// The package's own host name in pseudo-URLs: "http://" + StreamHost names
// something the package serves itself.
inline constexpr std::wstring_view StreamHost = L"kvs";
inline constexpr std::wstring_view StreamHostPrefix = L"http://kvs";
// Marks an in-memory stream: StreamMarker + 8 upper-case hexadecimal digits + extension.
inline constexpr std::wstring_view StreamMarker = L"<stream>";

// Cuts the next token from Text: everything up to the first of Delimiters
// (which is dropped) or the end. Token and the rest are trimmed of blanks and
// control characters at both ends.
WideText NextToken(WideText& Text, std::wstring_view Delimiters);
// Trims characters up to and including the blank at both ends.
WideText TrimText(std::wstring_view Text);

// Undoes the few escapes a movie's URLs carry: %3f %3d %26 %20 %2d %2f (any case).
WideText DecodeURLText(std::wstring_view Text);
// The last segment of a path or URL: after the last '\', '/' or ':'.
WideText URLFileName(std::wstring_view Text);
// The name without its last extension ("flvplayback.swf" -> "flvplayback").
WideText ResourceNameOf(std::wstring_view Text);

// A local request with variables: "movie.swf?a=1&b=2" -> path "movie.swf" and
// the pairs in order. Values are not decoded.
struct TkvQuery {
    WideText Path;
    std::vector<std::pair<WideText, WideText>> Variables;
};
TkvQuery SplitQuery(std::wstring_view Text);

// Identifiers of in-memory streams: exactly 8 upper-case hexadecimal digits.
WideText FormatStreamId(unsigned Id);
// Parses exactly 8 hexadecimal digits; false for anything else.
bool ParseStreamId(std::wstring_view Digits, unsigned& Id);

bool StartsWith(std::wstring_view Text, std::wstring_view Prefix);
bool Contains(std::wstring_view Text, std::wstring_view Part);
