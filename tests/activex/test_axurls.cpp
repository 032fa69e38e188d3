// Where the ActiveX back-end serves a URL that the control asks for.
#include <gtest/gtest.h>

#include <set>

#include "kv_axurls.h"

namespace {

struct Sources {
    std::set<WideText> stored, resources, files;
    TkvMonikerSources Get() const
    {
        TkvMonikerSources s;
        s.IsStored = [this](const WideText& k) { return stored.count(k) > 0; };
        s.HasResource = [this](const WideText& n) {
            // Resource names match without regard to case.
            WideText lower;
            for (wchar_t c : n)
                lower += (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
            return resources.count(lower) > 0;
        };
        // The file system ignores letter case.
        s.IsFile = [this](const WideText& p) {
            WideText lower;
            for (wchar_t c : p)
                lower += (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
            return files.count(lower) > 0;
        };
        s.AppFolder = L"C:\\app\\";
        return s;
    }
};

WideText Resolve(const Sources& src, const WideText& name, WideText pending = L"before", bool* accepted = nullptr)
{
    const bool ok = ResolveMonikerName(name, src.Get(), pending);
    if (accepted)
        *accepted = ok;
    return pending;
}

TEST(MonikerNames, FileNameKeysAreLowerCaseDecodedAndCutToTheLastSegment)
{
    EXPECT_EQ(FileNameKey(L"http://kvs/sub/Intro.swf?x=1"), L"intro.swf");
    EXPECT_EQ(FileNameKey(L"C:\\Movies\\A%20B.SWF"), L"a b.swf");
    EXPECT_EQ(FileNameKey(L"movie.swf%3fa%3d1"), L"movie.swf");
    EXPECT_EQ(FileNameKey(L"x|y.swf&z"), L"y.swf");
    EXPECT_EQ(LocalFilePath(L"FILE:///C|/Data/Clip.FLV?t=2"), L"C:\\Data\\Clip.FLV");
}

TEST(MonikerNames, TheSourceIsChosenInItsOrder)
{
    Sources src;
    src.stored = {L"intro.swf"};
    src.resources = {L"clearoverall", L"intro"};
    src.files = {L"c:\\app\\data.xml", L"c:\\app\\intro.swf", L"c:\\movies\\a.swf"};

    // A stored movie wins over a resource and a file of the same name.
    EXPECT_EQ(Resolve(src, L"http://kvs/sub/intro.swf?x=1"), L"<list>intro.swf");
    // A package resource, by its name without extension; "./" is dropped.
    EXPECT_EQ(Resolve(src, L"./ClearOverAll.swf"), L"<res>ClearOverAll.swf");
    // A movie the application loads by a resource's name reaches the control
    // behind the pseudo-host: the last segment names the resource...
    EXPECT_EQ(Resolve(src, L"http://kvs/sub/clearoverall.swf"), L"<res>clearoverall.swf");
    // ...unless the name is a file that exists. Existing files are the
    // driver's to read, by their local path.
    src.resources.insert(L"a");
    EXPECT_EQ(Resolve(src, L"http://kvs/C:\\movies\\a.swf"), L"<file>C:\\movies\\a.swf");
    // A file beside the program: the folder is prefixed.
    EXPECT_EQ(Resolve(src, L"data.xml"), L"<file>C:\\app\\data.xml");
    EXPECT_EQ(Resolve(src, L"http://kvs/data.xml"), L"<file>C:\\app\\data.xml");
    // An absolute path behind the pseudo-host that exists, in any spelling.
    EXPECT_EQ(Resolve(src, L"http://kvs/C:/movies/A.swf"), L"<file>C:\\movies\\A.swf");
    EXPECT_EQ(Resolve(src, L"file:///C|/movies/a.swf?x=1"), L"<file>C:\\movies\\a.swf");
    EXPECT_EQ(Resolve(src, L"http://kvs/file:///C:/movies/a.swf"), L"<file>C:\\movies\\a.swf");
    // ... and one that does not: the pending URL stays as it was.
    EXPECT_EQ(Resolve(src, L"http://kvs/C:/gone/b.swf"), L"before");
    // A relative name that names no file is a URL, with its slashes turned.
    EXPECT_EQ(Resolve(src, L"http://kvs/sub\\gone.swf"), L"sub/gone.swf");
    // An in-memory stream's pseudo-URL keeps its marker.
    EXPECT_EQ(Resolve(src, L"http://kvs/<stream>0000ABCD.swf"), L"<stream>0000ABCD.swf");
    // Any other name goes to the download service as it is.
    EXPECT_EQ(Resolve(src, L"https://example.org/m.swf"), L"https://example.org/m.swf");
    // A file:// URL of a missing file leaves the pending URL alone.
    EXPECT_EQ(Resolve(src, L"file:///C:/none.swf"), L"before");
}

TEST(MonikerNames, NamesWithoutAMarkerAreLeftToTheControlButForeignHttpIsTaken)
{
    Sources src;
    bool accepted = true;
    EXPECT_EQ(Resolve(src, L"https://example.org/page", L"before", &accepted), L"before");
    EXPECT_FALSE(accepted);
    // Markers are case-sensitive.
    Resolve(src, L"https://example.org/M.SWF", L"before", &accepted);
    EXPECT_FALSE(accepted);
    // A real host that merely begins like the pseudo-host is a real URL.
    EXPECT_EQ(Resolve(src, L"http://kvstore.example/intro.swf", L"before", &accepted), L"http://kvstore.example/intro.swf");
    // http on another host is taken unchanged, without a marker and with its backslashes.
    EXPECT_EQ(Resolve(src, L"http://example.org/a\\b", L"before", &accepted), L"http://example.org/a\\b");
    EXPECT_TRUE(accepted);
    // Exactly "file://" is accepted and changes nothing.
    EXPECT_EQ(Resolve(src, L"file://", L"before", &accepted), L"before");
    EXPECT_TRUE(accepted);
}

TEST(MonikerNames, OnlyNetworkUrlsGoToTheDownloadService)
{
    EXPECT_TRUE(IsNetworkURL(L"http://example.org/m.swf"));
    EXPECT_TRUE(IsNetworkURL(L"HTTPS://example.org/m.swf"));
    EXPECT_TRUE(IsNetworkURL(L"ftp://example.org/m.swf"));
    EXPECT_FALSE(IsNetworkURL(L"file:///C:/m.swf"));
    EXPECT_FALSE(IsNetworkURL(L"C://m.swf")) << "a drive letter is no scheme";
    EXPECT_FALSE(IsNetworkURL(L"C:/m.swf"));
    EXPECT_FALSE(IsNetworkURL(L"sub/m.swf"));
    EXPECT_FALSE(IsNetworkURL(L"a b://x"));
    EXPECT_FALSE(IsNetworkURL(L""));
}

TEST(MonikerNames, PendingFormsSplitOffTheirMarker)
{
    std::wstring_view rest;
    EXPECT_EQ(PendingFormOf(L"<res>FlvPlayback.swf", rest), TkvPendingForm::Resource);
    EXPECT_EQ(rest, L"FlvPlayback.swf");
    EXPECT_EQ(PendingFormOf(L"<list>intro.swf", rest), TkvPendingForm::Stored);
    EXPECT_EQ(rest, L"intro.swf");
    EXPECT_EQ(PendingFormOf(L"<stream>0000ABCD.flv", rest), TkvPendingForm::Stream);
    EXPECT_EQ(rest, L"0000ABCD.flv");
    EXPECT_EQ(PendingFormOf(L"<file>C:\\app\\data.xml", rest), TkvPendingForm::File);
    EXPECT_EQ(rest, L"C:\\app\\data.xml");
    EXPECT_EQ(PendingFormOf(L"http://example.org/data.xml", rest), TkvPendingForm::Url);
}

}  // namespace
