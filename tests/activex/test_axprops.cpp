// Enumerated property values as a property inspector shows and parses them,
// read from a real type library made here.
#include <gtest/gtest.h>

#include <windows.h>

#include <oaidl.h>

#include <string>
#include <vector>

#include "kv_driver_activex.h"

namespace {

// A type library in memory with one enumeration of the given members.
class TEnumTypeInfo {
public:
    explicit TEnumTypeInfo(const std::vector<std::pair<std::wstring, int>>& members)
    {
        wchar_t path[MAX_PATH];
        GetTempPathW(MAX_PATH, path);
        const std::wstring file = std::wstring(path) + L"kv_enum_test.tlb";
        ICreateTypeLib2* lib = nullptr;
        EXPECT_EQ(CreateTypeLib2(SYS_WIN64, file.c_str(), &lib), S_OK);
        ICreateTypeInfo* create = nullptr;
        EXPECT_EQ(lib->CreateTypeInfo(const_cast<LPOLESTR>(L"TQuality"), TKIND_ENUM, &create), S_OK);
        for (size_t i = 0; i < members.size(); ++i) {
            VARIANT value;
            V_VT(&value) = VT_I4;
            V_I4(&value) = members[i].second;
            VARDESC desc{};
            desc.memid = static_cast<MEMBERID>(0x40000000 + i);
            desc.varkind = VAR_CONST;
            desc.lpvarValue = &value;
            desc.elemdescVar.tdesc.vt = VT_I4;
            EXPECT_EQ(create->AddVarDesc(static_cast<UINT>(i), &desc), S_OK);
            EXPECT_EQ(create->SetVarName(static_cast<UINT>(i), const_cast<LPOLESTR>(members[i].first.c_str())), S_OK);
        }
        EXPECT_EQ(create->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(&info)), S_OK);
        create->Release();
        lib_ = lib;
    }
    ~TEnumTypeInfo()
    {
        if (info)
            info->Release();
        if (lib_)
            lib_->Release();
    }
    ITypeInfo* info = nullptr;

private:
    ICreateTypeLib2* lib_ = nullptr;
};

TEST(EnumProperties, MembersKeepTheirOrderAndLoseLeadingUnderscores)
{
    TEnumTypeInfo t({{L"_Low", 0}, {L"__High", 1}, {L"Best", -2}, {L"_", 5}, {L"__", 6}, {L"Auto_", 9}});
    ASSERT_NE(t.info, nullptr);
    TEnumPropDesc d(105, 6, t.info);
    std::vector<std::string> names;
    for (const auto& v : d.Values)
        names.push_back(std::to_string(v.Value) + ":" + v.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"0:Low", "1:High", "-2:Best", "5:_", "6:_", "9:Auto_"}));
    std::vector<std::string> shown;
    d.GetStrings([&](const AnsiString& s) { shown.push_back(s); });
    EXPECT_EQ(shown.front(), "0 - Low");
    EXPECT_EQ(shown.at(2), "-2 - Best");
}

TEST(EnumProperties, TextAndValuesConvertBothWays)
{
    TEnumTypeInfo t({{L"Low", 0}, {L"High", 1}, {L"Best", -2}});
    TEnumPropDesc d(105, 3, t.info);
    EXPECT_EQ(d.ValueToString(1), "1 - High");
    EXPECT_EQ(d.ValueToString(42), "42") << "a value no member has is just its number";
    // What GetStrings shows parses back; names match in any letter case.
    EXPECT_EQ(d.StringToValue("-2 - Best"), -2);
    EXPECT_EQ(d.StringToValue("1"), 1);
    EXPECT_EQ(d.StringToValue("hIGH"), 1);
    EXPECT_THROW(d.StringToValue("7 - Nothing"), EOleError) << "no member has 7";
    EXPECT_THROW(d.StringToValue("Medium"), EOleError);
    EXPECT_THROW(d.StringToValue("- dash"), EConvertError) << "a lone minus is no number";
}

}  // namespace
