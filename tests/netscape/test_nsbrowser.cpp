// The browser side the package offers to the plug-in library, called the way
// the plug-in calls it.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "kv_nsinternal.h"

namespace {

const NPNetscapeFuncs& B()
{
    return kvns::BrowserFuncs();
}

TEST(BrowserTable, IsTheVersion18TableWithEveryEntryFilled)
{
    EXPECT_EQ(B().size, sizeof(NPNetscapeFuncs));
    EXPECT_EQ(B().version, 18);
    const auto* entries = reinterpret_cast<void* const*>(reinterpret_cast<const char*>(&B()) + offsetof(NPNetscapeFuncs, geturl));
    for (int i = 0; i < kNPNetscapeFuncsEntries; ++i)
        EXPECT_NE(entries[i], nullptr) << "entry " << i;
    EXPECT_STREQ(B().uagent(nullptr),
                 "Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; rv:1.8.0.3) Gecko/20060426 Korvel/4");
}

// Numbers from the plug-in: an int32 as it is, a double (as a scripting
// bridge may answer) as the nearest whole number within the int32 range,
// anything else as 0.
TEST(BrowserVariants, NumbersReadAsIntegersFromInt32AndDoubleResults)
{
    auto number = [](double d) {
        NPVariant v{};
        v.type = NPVariantType_Double;
        v.value.doubleValue = d;
        return kvns::VariantToInt(v);
    };
    NPVariant i{};
    i.type = NPVariantType_Int32;
    i.value.intValue = -7;
    EXPECT_EQ(kvns::VariantToInt(i), -7);
    EXPECT_EQ(number(17.0), 17);
    EXPECT_EQ(number(2.4), 2);
    EXPECT_EQ(number(2.5), 3) << "halves go away from zero";
    EXPECT_EQ(number(-2.5), -3);
    EXPECT_EQ(number(1e12), 2147483647);
    EXPECT_EQ(number(-1e12), -2147483647 - 1);
    EXPECT_EQ(number(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(number(std::numeric_limits<double>::infinity()), 2147483647);
    NPVariant text = kvns::VoidVariant();
    EXPECT_EQ(kvns::VariantToInt(text), 0);
    text.type = NPVariantType_Bool;
    text.value.boolValue = true;
    EXPECT_EQ(kvns::VariantToInt(text), 0) << "a truth value is not a number";
}

TEST(BrowserTable, GetValueWritesEachVariableWithItsOwnSize)
{
    unsigned char guard[16];
    std::memset(guard, 0xAB, sizeof guard);
    EXPECT_EQ(B().getvalue(nullptr, NPNVjavascriptEnabledBool, guard), NPERR_NO_ERROR);
    EXPECT_EQ(guard[0], 1);
    EXPECT_EQ(guard[1], 0xAB) << "an NPBool is one byte";

    std::memset(guard, 0xAB, sizeof guard);
    EXPECT_EQ(B().getvalue(nullptr, NPNVSupportsWindowless, guard), NPERR_NO_ERROR);
    EXPECT_EQ(guard[0], 1);
    EXPECT_EQ(guard[1], 0xAB);

    std::memset(guard, 0xAB, sizeof guard);
    EXPECT_EQ(B().getvalue(nullptr, NPNVnetscapeWindow, guard), NPERR_NO_ERROR);
    void* window = nullptr;
    std::memcpy(&window, guard, sizeof window);
    EXPECT_EQ(window, nullptr) << "a whole window handle is written";
    EXPECT_EQ(guard[sizeof(void*)], 0xAB);

    std::memset(guard, 0xAB, sizeof guard);
    EXPECT_EQ(B().getvalue(nullptr, NPNVxDisplay, guard), NPERR_NO_ERROR);
    EXPECT_EQ(guard[0], 0xAB) << "unknown variables are left alone";
}

TEST(BrowserTable, ThePageObjectsAreHandedOutFreshAndNeverDestroyed)
{
    NPObject* window = nullptr;
    B().getvalue(nullptr, NPNVWindowNPObject, &window);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->referenceCount, 1u);
    B().releaseobject(window);
    B().releaseobject(window);  // below zero: still alive
    NPObject* again = nullptr;
    B().getvalue(nullptr, NPNVWindowNPObject, &again);
    EXPECT_EQ(again, window);
    EXPECT_EQ(again->referenceCount, 1u);

    NPVariant v;
    EXPECT_TRUE(B().getproperty(nullptr, window, kvns::Identifier("location"), &v));
    ASSERT_EQ(v.type, NPVariantType_Object);
    NPObject* location = v.value.objectValue;
    EXPECT_TRUE(B().getproperty(nullptr, window, kvns::Identifier("top"), &v));
    ASSERT_EQ(v.type, NPVariantType_Object);
    NPObject* top = v.value.objectValue;
    EXPECT_NE(top, location);
    EXPECT_TRUE(B().getproperty(nullptr, top, kvns::Identifier("location"), &v));
    EXPECT_NE(v.value.objectValue, location) << "top.location is its own object";

    EXPECT_FALSE(B().getproperty(nullptr, top, kvns::Identifier("top"), &v));
    EXPECT_EQ(v.type, NPVariantType_Void);
    EXPECT_FALSE(B().getproperty(nullptr, location, kvns::Identifier("location"), &v));
    EXPECT_EQ(v.type, NPVariantType_Void);
    EXPECT_FALSE(B().getproperty(nullptr, window, kvns::Identifier("href"), &v));
    // The page objects' own class answers nothing, and safely, if a plug-in calls it.
    EXPECT_FALSE(window->_class->invoke(window, kvns::Identifier("toString"), nullptr, 0, &v));
    EXPECT_EQ(v.type, NPVariantType_Void);
}

int g_deallocated = 0;
void CountingDeallocate(NPObject* o)
{
    ++g_deallocated;
    std::free(o);
}

TEST(BrowserTable, PluginObjectsDieWhenTheirLastReferenceGoes)
{
    NPClass counted{};
    counted.structVersion = NP_CLASS_STRUCT_VERSION;
    counted.deallocate = CountingDeallocate;
    NPObject* o = B().createobject(nullptr, &counted);  // no allocate: browser memory
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->_class, &counted);
    EXPECT_EQ(o->referenceCount, 1u);
    EXPECT_EQ(B().retainobject(o), o);
    EXPECT_EQ(o->referenceCount, 2u);
    B().releaseobject(o);
    EXPECT_EQ(g_deallocated, 0);
    B().releaseobject(o);
    EXPECT_EQ(g_deallocated, 1);

    NPClass plain{};
    plain.structVersion = NP_CLASS_STRUCT_VERSION;
    NPObject* p = B().createobject(nullptr, &plain);
    ASSERT_NE(p, nullptr);
    B().releaseobject(p);  // freed as browser memory; must not crash
    EXPECT_EQ(B().createobject(nullptr, nullptr), nullptr);
    B().releaseobject(nullptr);
}

TEST(BrowserTable, IdentifiersAreInternedAndOutliveTheCallersText)
{
    char* name = static_cast<char*>(std::malloc(16));
    std::strcpy(name, "SetVariable");
    NPIdentifier a = B().getstringidentifier(name);
    std::memset(name, 'x', 11);
    std::free(name);
    NPIdentifier b = B().getstringidentifier("SetVariable");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, B().getstringidentifier("GetVariable"));
    NPUTF8* text = B().utf8fromidentifier(a);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "SetVariable");
    B().memfree(text);

    const NPUTF8* names[] = {"Play", "StopPlay"};
    NPIdentifier ids[2] = {};
    B().getstringidentifiers(names, 2, ids);
    EXPECT_EQ(ids[0], B().getstringidentifier("Play"));
    EXPECT_EQ(ids[1], B().getstringidentifier("StopPlay"));

    int notAnIdentifier = 0;
    EXPECT_EQ(B().utf8fromidentifier(&notAnIdentifier), nullptr) << "never read as text";
    EXPECT_EQ(B().utf8fromidentifier(nullptr), nullptr);
}

TEST(BrowserTable, UrlRequestsThatLoadNothing)
{
    EXPECT_EQ(B().geturlnotify(nullptr, "javascript:alert(1)", nullptr, nullptr), NPERR_INVALID_URL);
    EXPECT_EQ(B().geturlnotify(nullptr, " \t JavaScript:alert(1)", nullptr, nullptr), NPERR_INVALID_URL);
    EXPECT_EQ(B().geturlnotify(nullptr, nullptr, nullptr, nullptr), NPERR_INVALID_URL);
    // Only the scheme is refused: these get as far as looking for their driver.
    EXPECT_EQ(B().geturlnotify(nullptr, "C:\\javaapps\\intro.swf", nullptr, nullptr), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(B().geturlnotify(nullptr, "http://host/java/x.swf", nullptr, nullptr), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(B().geturlnotify(nullptr, "http://example.invalid/a.swf", "_blank", nullptr), NPERR_NO_ERROR);
    EXPECT_EQ(B().geturl(nullptr, "movie.swf", nullptr), NPERR_NO_ERROR);
    // A post without notification could never hear of its failure: refused.
    EXPECT_NE(B().posturl(nullptr, "http://example.invalid/form", nullptr, 3, "a=1", false), NPERR_NO_ERROR);
    EXPECT_EQ(B().posturlnotify(nullptr, "http://example.invalid/form", nullptr, 3, "a=1", false, nullptr),
              NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(kvns::FailuresWaiting(), 0) << "nothing to tell without an instance";

    NPVariant result;
    NPString script{"try { __flash__toXML(f()) ; } catch (e) {}", 40};
    EXPECT_TRUE(B().evaluate(nullptr, nullptr, &script, &result)) << "no driver: answered, nothing raised";
    EXPECT_EQ(result.type, NPVariantType_String);
    EXPECT_EQ(result.value.stringValue.UTF8Length, 0u);
    kvns::ReleaseVariant(result);
    EXPECT_TRUE(B().invoke(nullptr, nullptr, kvns::Identifier("_DoFSCommand"), nullptr, 0, &result));
}

TEST(BrowserTable, ReleaseVariantValueGivesBackWhatTheBrowserHandedOut)
{
    const int before = kvns::MemBlocksInUse();
    NPVariant result;
    NPString script{"return 1;", 9};
    ASSERT_TRUE(B().evaluate(nullptr, nullptr, &script, &result));
    ASSERT_EQ(result.type, NPVariantType_String);
    NPVariant second;
    ASSERT_TRUE(B().invoke(nullptr, nullptr, kvns::Identifier("toString"), nullptr, 0, &second));
    ASSERT_EQ(second.type, NPVariantType_String);
    EXPECT_EQ(kvns::MemBlocksInUse(), before + 2) << "both answers are browser memory";
    B().releasevariantvalue(&result);
    B().releasevariantvalue(&second);
    EXPECT_EQ(result.type, NPVariantType_Void);
    EXPECT_EQ(kvns::MemBlocksInUse(), before);

    // Whatever the plug-in left in a result is replaced, so releasing it
    // never frees text that is not ours.
    NPVariant command;
    command.type = NPVariantType_String;
    command.value.stringValue = {"stale", 5};
    EXPECT_TRUE(B().invoke(nullptr, nullptr, kvns::Identifier("_DoFSCommand"), nullptr, 0, &command));
    B().releasevariantvalue(&command);
    EXPECT_EQ(kvns::MemBlocksInUse(), before);

    // Objects go back with their reference.
    NPClass counted{};
    counted.structVersion = NP_CLASS_STRUCT_VERSION;
    counted.deallocate = CountingDeallocate;
    g_deallocated = 0;
    NPVariant object;
    object.type = NPVariantType_Object;
    object.value.objectValue = B().createobject(nullptr, &counted);
    B().releasevariantvalue(&object);
    EXPECT_EQ(g_deallocated, 1);
    EXPECT_EQ(object.type, NPVariantType_Void);
    B().releasevariantvalue(nullptr);
}

}  // namespace
