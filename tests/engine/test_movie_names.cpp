// The names the package's generated movies use must all be standard
// ActionScript 2 of the Flash Player 8 generation (resources/movies/
// standard-names.txt, each entry with where it is documented) or the movies'
// own: the skins run in any Flash Player, not only in the reference player.
// The walk that finds the names is tested first, on code made here.
#include "engine_test_support.h"
#include "movie_names.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

using namespace enginetest;

namespace {

std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// name -> reference, from the checked-in list ("Name  reference", # comments).
std::map<std::string, std::string> standardNames()
{
    std::map<std::string, std::string> names;
    std::ifstream in(std::string(KV_RESOURCES_DIR) + "/movies/standard-names.txt");
    EXPECT_TRUE(in);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string name, reference;
        fields >> name;
        std::getline(fields >> std::ws, reference);
        EXPECT_FALSE(reference.empty()) << "no reference for " << name;
        EXPECT_TRUE(names.emplace(name, reference).second) << name << " listed twice";
    }
    return names;
}

// What a movie uses beyond the standard names and its own.
std::vector<std::string> unknownNames(const MovieNames& m, const std::map<std::string, std::string>& standard)
{
    std::vector<std::string> out;
    for (const std::string& n : m.used)
        if (!standard.count(n) && !m.defined.count(n))
            out.push_back(n);
    for (const std::string& l : m.linkages)
        if (!m.exports.count(l))
            out.push_back("symbol " + l);
    return out;
}

MovieNames namesOf(const sw::ActionAssembler& a)
{
    MovieNames m;
    std::vector<uint8_t> code = a.assemble();
    code.push_back(0);
    actionNames(code, m, "test");
    EXPECT_TRUE(m.errors.empty()) << m.errors.front();
    return m;
}

sw::Emitter path(const std::string& dotted)
{
    return [dotted](sw::ActionAssembler& e) { e.getPath(dotted); };
}

}  // namespace

TEST(MovieNames, TheWalkSeparatesNamesFromDataAndCatchesBuiltNames)
{
    // Names looked up, set, called and constructed; texts passed as data are not names.
    sw::ActionAssembler a;
    a.constantPool({"NetConnection", "nc", "connect"});
    a.setPath("nc", sw::Emitter([](sw::ActionAssembler& e) { e.push({0, sw::Constant{0}}).newObject(); }));
    a.callMethod("nc", "connect", {sw::PushValue(sw::Null{})});
    a.callMethod("Stage", "addListener", {sw::PushValue("not.a:name")});
    a.setPath("_root.flv.volume", sw::PushValue(100));
    MovieNames m = namesOf(a);
    for (const char* used : {"NetConnection", "nc", "connect", "Stage", "addListener", "_root", "flv", "volume"})
        EXPECT_TRUE(m.used.count(used)) << used;
    EXPECT_FALSE(m.used.count("not")) << "an argument is data";
    EXPECT_FALSE(m.used.count("a"));
    EXPECT_TRUE(m.defined.count("nc"));
    EXPECT_TRUE(m.defined.count("volume"));
    EXPECT_TRUE(m.built.empty());

    // A name made by concatenation, as a variable and as a member.
    sw::ActionAssembler built;
    built.push({"Net", "Stream"}).add2().getVariable().pop();
    built.push({"Stage"}).getVariable().push({"width", "X"}).stringAdd().getMember().pop();
    EXPECT_EQ(namesOf(built).built.size(), 2u);

    // Functions: their names and parameters are the movie's own; the body's
    // names count; a numeric member is an index, not a name.
    sw::ActionAssembler body;
    body.push({"arg"}).getVariable().push({0}).getMember().pop();
    body.callFunction("getTimer", {});
    sw::ActionAssembler f;
    f.defineFunction("onTick", {"arg"}, body);
    f.setPath("handler", sw::Emitter([&](sw::ActionAssembler& e) { e.defineFunction("", {"info"}, body); }));
    MovieNames fm = namesOf(f);
    EXPECT_TRUE(fm.defined.count("onTick"));
    EXPECT_TRUE(fm.defined.count("arg"));
    EXPECT_TRUE(fm.defined.count("info"));
    EXPECT_TRUE(fm.used.count("getTimer"));
    EXPECT_TRUE(fm.used.count("handler"));
    EXPECT_TRUE(fm.built.empty());

    // Symbols given to attachMovie and registerClass must be exported by the
    // movie itself; one named at run time is built.
    sw::ActionAssembler attach;
    attach.callMethod("this", "attachMovie", {sw::PushValue("FLVPlayback"), sw::PushValue("flv"), sw::PushValue(1)});
    attach.callMethod("Object", "registerClass", {sw::PushValue("Skin"), path("SkinClass")});
    MovieNames am = namesOf(attach);
    EXPECT_EQ(am.linkages, (std::set<std::string>{"FLVPlayback", "Skin"}));
    EXPECT_TRUE(am.defined.count("flv"));  // the new clip's name is the movie's own
    EXPECT_EQ(unknownNames(am, {{"this", ""}, {"attachMovie", ""}, {"Object", ""}, {"registerClass", ""}}),
              (std::vector<std::string>{"SkinClass", "symbol FLVPlayback", "symbol Skin"}));
}

TEST(MovieNames, ThePlaybackMovieAndSkinsUseOnlyStandardNamesAndTheirOwn)
{
    const auto standard = standardNames();
    ASSERT_FALSE(standard.empty());
    // The playback movie wires the parts of whichever skin it loads, by the
    // instance names the skins give them: the five movies' own names count
    // for each other.
    const char* const movies[] = {"flvplayback.swf", "clearoverall.swf", "steeloverall.swf", "mojaveoverall.swf",
                                  "arcticoverall.swf"};
    std::vector<MovieNames> all;
    std::set<std::string> own;
    for (const char* name : movies) {
        all.push_back(movieNames(readFile(std::string(KV_MOVIES_DIR) + "/" + name)));
        own.insert(all.back().defined.begin(), all.back().defined.end());
    }
    for (size_t i = 0; i < all.size(); ++i) {
        MovieNames& m = all[i];
        EXPECT_TRUE(m.errors.empty()) << movies[i] << ": " << m.errors.front();
        EXPECT_TRUE(m.built.empty()) << movies[i] << ": " << m.built.front();
        EXPECT_FALSE(m.used.empty()) << movies[i];  // the walk found its script
        m.defined.insert(own.begin(), own.end());
        EXPECT_EQ(unknownNames(m, standard), std::vector<std::string>{}) << movies[i];
    }
    // The player object's parts are the standard classes: what the playback
    // movie uses of them.
    for (const char* name : {"NetConnection", "NetStream", "attachVideo", "attachAudio", "Sound", "setVolume",
                             "getVolume", "MovieClipLoader", "loadClip", "addProperty", "addCallback", "seek", "pause"})
        EXPECT_TRUE(all[0].used.count(name)) << name;
}

TEST(MovieNames, EveryGlobalOfTheReferencePlayerIsAStandardName)
{
    // The movie lists _global's names, hidden ones too, as "a,b,c,".
    sw::ActionAssembler a;
    a.callFunction("ASSetPropFlags", {path("_global"), sw::PushValue(sw::Null{}), sw::PushValue(0), sw::PushValue(1)});
    a.setPath("names", sw::PushValue(""));
    sw::Label loop = a.newLabel(), done = a.newLabel();
    a.push({"_global"}).getVariable().enumerate2();
    a.bind(loop);
    a.storeRegister(0).push({sw::Null{}}).equals2().branchIfTrue(done);
    a.push({"names", "names"}).getVariable().push({sw::Register{0}}).add2().push({","}).add2().setVariable();
    a.jump(loop);
    a.bind(done);
    a.pop();
    auto m = movie(10, 10);
    m.doAction(a).showFrame();
    RecordingHost host;
    Player player(host);
    load(player, m.build(), 10, 10);

    const auto standard = standardNames();
    std::vector<std::string> globals, outside;
    std::istringstream list(player.getVariable("names").value_or(""));
    for (std::string name; std::getline(list, name, ',');)
        globals.push_back(name);
    EXPECT_GT(globals.size(), 30u);  // the enumeration reached the standard classes
    for (const std::string& name : globals)
        if (!standard.count(name))
            outside.push_back(name);
    EXPECT_EQ(outside, std::vector<std::string>{});
}
