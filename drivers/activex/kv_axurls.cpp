#include "kv_axurls.h"

#include <algorithm>

namespace {

WideText LowerAscii(std::wstring_view s)
{
    WideText out(s);
    for (wchar_t& c : out)
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    return out;
}

// Drops the query: everything from the first '&' or '?'.
WideText CutQuery(WideText s)
{
    const size_t cut = s.find_first_of(L"&?");
    if (cut != WideText::npos)
        s.erase(cut);
    return s;
}

void ReplaceAll(WideText& s, wchar_t from, wchar_t to) { std::replace(s.begin(), s.end(), from, to); }

bool LocalFileExists(std::wstring_view Name, const TkvMonikerSources& Sources)
{
    return Sources.IsFile && Sources.IsFile(LocalFilePath(Name));
}

bool StartsWithNoCase(std::wstring_view Text, std::wstring_view Prefix)
{
    return StartsWith(LowerAscii(Text.substr(0, Prefix.size())), Prefix);
}

}  // namespace

bool HasAcceptedMarker(std::wstring_view Name)
{
    static constexpr std::wstring_view kMarkers[] = {L".swf", L".flv", L".xml", L".jpg", L".png",
                                                     L".mp3", L".ogg", L".txt", L"youtube"};
    return std::any_of(std::begin(kMarkers), std::end(kMarkers),
                       [Name](std::wstring_view m) { return Name.find(m) != std::wstring_view::npos; });
}

WideText FileNameKey(std::wstring_view Name)
{
    WideText s = CutQuery(DecodeURLText(LowerAscii(Name)));
    const size_t last = s.find_last_of(L"/:|\\");
    return last == WideText::npos ? s : s.substr(last + 1);
}

WideText LocalFilePath(std::wstring_view Name)
{
    WideText s = DecodeURLText(Name);
    if (StartsWithNoCase(s, L"file://"))
        s.erase(0, 7);
    if (StartsWith(s, L"/"))
        s.erase(0, 1);
    ReplaceAll(s, L'/', L'\\');
    ReplaceAll(s, L'|', L':');
    return CutQuery(std::move(s));
}

bool IsNetworkURL(std::wstring_view URL)
{
    const size_t colon = URL.find(L"://");
    if (colon == std::wstring_view::npos || colon < 2)
        return false;  // no scheme, or a drive letter ("C://x")
    for (wchar_t c : URL.substr(0, colon))
        if (!((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'+' ||
              c == L'-' || c == L'.'))
            return false;
    return !StartsWithNoCase(URL, L"file://");
}

bool ResolveMonikerName(std::wstring_view Name, const TkvMonikerSources& Sources, WideText& PendingURL)
{
    WideText name(Name);
    if (StartsWith(name, L"./"))
        name.erase(0, 2);
    if (name == L"file://")
        return true;
    const WideText hostPrefix = WideText(StreamHostPrefix) + L"/";
    // The pseudo-host is matched with its slash, so that a real host whose name
    // merely begins like it ("http://kvstore.example/") stays a real URL.
    if (StartsWith(name, L"http://") && !Contains(name, hostPrefix)) {
        PendingURL = name;
        return true;
    }
    if (!HasAcceptedMarker(name))
        return false;

    const WideText key = FileNameKey(name);
    const bool onHost = StartsWith(name, hostPrefix);
    const WideText hostRest = onHost ? name.substr(hostPrefix.size()) : WideText();
    // A name that is an existing file is read by the package itself: the
    // download service may not handle local files at all.
    const auto localFile = [&](const WideText& n) { return WideText(FileMarker) + LocalFilePath(n); };
    if (Sources.IsStored && Sources.IsStored(key)) {
        PendingURL = WideText(StoredMarker) + key;
    } else if (Sources.HasResource && Sources.HasResource(ResourceNameOf(name))) {
        PendingURL = WideText(ResourceMarker) + name;
    } else if (onHost && LocalFileExists(Sources.AppFolder + hostRest, Sources)) {
        PendingURL = localFile(Sources.AppFolder + hostRest);
    } else if (LocalFileExists(Sources.AppFolder + name, Sources)) {
        PendingURL = localFile(Sources.AppFolder + name);
    } else if (onHost && !LocalFileExists(hostRest, Sources) && Sources.HasResource &&
               Sources.HasResource(ResourceNameOf(URLFileName(hostRest)))) {
        // A movie the application names by a resource of the package
        // (LoadMovie("intro.swf")), as the plug-in back-end finds it.
        PendingURL = WideText(ResourceMarker) + URLFileName(hostRest);
    } else if (onHost) {
        WideText rest = hostRest;
        if (StartsWith(rest, L"./"))
            rest.erase(0, 2);
        if (LocalFileExists(rest, Sources))
            PendingURL = localFile(rest);
        else if (rest.size() <= 2 || rest[1] != L':')
            PendingURL = rest;
    } else if (LocalFileExists(name, Sources)) {
        PendingURL = localFile(name);
    } else if (!StartsWith(name, L"file://")) {
        PendingURL = name;
    }
    // What the download service gets is a URL: its backslashes turn round.
    if (!StartsWith(PendingURL, FileMarker))
        ReplaceAll(PendingURL, L'\\', L'/');
    return true;
}

TkvPendingForm PendingFormOf(std::wstring_view PendingURL, std::wstring_view& Rest)
{
    Rest = PendingURL;
    if (StartsWith(PendingURL, ResourceMarker)) {
        Rest = PendingURL.substr(ResourceMarker.size());
        return TkvPendingForm::Resource;
    }
    if (StartsWith(PendingURL, StoredMarker)) {
        Rest = PendingURL.substr(StoredMarker.size());
        return TkvPendingForm::Stored;
    }
    if (StartsWith(PendingURL, FileMarker)) {
        Rest = PendingURL.substr(FileMarker.size());
        return TkvPendingForm::File;
    }
    if (StartsWith(PendingURL, StreamMarker)) {
        Rest = PendingURL.substr(StreamMarker.size());
        return TkvPendingForm::Stream;
    }
    return TkvPendingForm::Url;
}
