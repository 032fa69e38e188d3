// The texts of the scripting bridge with the Netscape plug-in: the script the
// plug-in evaluates for an ActionScript external call, turned into the
// ExternalInterface request the application receives. Platform-free.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The opening of every external-call script the plug-in evaluates.
inline constexpr std::wstring_view FlashCallScriptPrefix = L"try { __flash__toXML(";

// Escapes text for XML content or attribute values (& < > " ').
std::wstring XmlEscape(std::wstring_view Text);

// <invoke name="NAME" returntype="XML"><arguments><string>A</string>...</arguments></invoke>
// Name and arguments are XML-escaped here.
std::wstring BuildFlashCallRequest(std::wstring_view Name, const std::vector<std::wstring>& Arguments);

// Parses a script of the form
//   try { __flash__toXML(name(arg, "text", 42)) ; } catch (e) { "<undefined/>"; }
// into the function name and its arguments as texts: quoted arguments (double
// or single quotes) lose their quotes and have their escapes undone; other
// arguments are kept as written, trimmed; brackets nest, so a comma inside
// quotes, brackets or braces does not split. Answers false for any other script.
bool ParseFlashCallScript(std::wstring_view Script, std::wstring& Name, std::vector<std::wstring>& Arguments);

// ParseFlashCallScript, then BuildFlashCallRequest. Answers false for any other script.
bool FlashCallScriptToRequest(std::wstring_view Script, std::wstring& Request);

// Whether a URL the plug-in asks for is a script to run in the page
// ("javascript:" in any letter case, after any leading blanks and control
// characters). Such requests are refused; a path or URL that merely contains
// the word is an ordinary request.
bool IsScriptUrl(std::string_view Url);
