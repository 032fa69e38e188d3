// URL text rules of the engine: resolving what a movie asks for against the
// movie's own URL, and the url-encoded name=value form of loadVariables
// answers and query strings.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace refplayer::engine {

// `relative` resolved against `base`. Absolute URLs ("http://...", "file:...",
// a drive path "C:\..." or a UNC path) come back unchanged; anything else
// replaces the last segment of base's path, with "." and ".." segments removed.
// Base may be a URL or a plain file path; its query and fragment never carry over.
std::string resolveUrl(std::string_view base, std::string_view relative);

// "a=1&b=two+words&c=%41" -> (a,1) (b,two words) (c,A). Pairs without '=' get an
// empty value; empty pairs are dropped; bad escapes are kept as they are.
std::vector<std::pair<std::string, std::string>> parseUrlEncoded(std::string_view text);
std::string urlDecode(std::string_view text);

// The query of a URL (after '?', before '#'); empty when there is none.
std::string_view urlQuery(std::string_view url);

}  // namespace refplayer::engine
