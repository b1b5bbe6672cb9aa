// The window layout text: the parser's faults, and the clock's own layout against the window's
// documented look, value by value and in order.
#include "ui/Exceptions.h"
#include "ui/Layout.h"
#include "ui/Text.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Render(const LayoutValue& v)
{
    switch (v.kind) {
    case LayoutValue::Kind::Integer:
        return std::to_string(v.integer);
    case LayoutValue::Kind::String:
        return "'" + WideToUtf8(v.text) + "'";
    case LayoutValue::Kind::Identifier:
        return WideToUtf8(v.text);
    case LayoutValue::Kind::Set: {
        std::string s = "[";
        for (size_t i = 0; i < v.items.size(); ++i)
            s += (i ? "," : "") + WideToUtf8(v.items[i]);
        return s + "]";
    }
    }
    return "?";
}

// "Name=Value" for every property, in layout order.
std::vector<std::string> Properties(const LayoutNode& node)
{
    std::vector<std::string> out;
    for (const auto& p : node.properties)
        out.push_back(WideToUtf8(p.name) + "=" + Render(p.value));
    return out;
}

struct Expected {
    const char* name;
    const char* className;
    std::vector<std::string> properties;
};

const std::vector<std::string> kFormProperties = {
    "Left=0", "Top=0", "Cursor=crSizeAll", "AlphaBlend=True", "AlphaBlendValue=200", "BorderStyle=bsNone", "Caption='Quenlet'",
    "ClientHeight=178", "ClientWidth=274", "Color=16746512", "TransparentColor=True", "TransparentColorValue=16746512",
    "Font.Charset=DEFAULT_CHARSET", "Font.Color=clWindowText", "Font.Height=-11", "Font.Name='Tahoma'", "Font.Style=[]",
    "Icon.Resource='MAINICON'", "OldCreateOrder=False", "OnClose=FormClose", "OnCreate=FormCreate", "PixelsPerInch=96",
    "TextHeight=13"};

const std::vector<Expected> kComponents = {
    {"shp1", "TShape", {"Left=8", "Top=8", "Width=258", "Height=161", "Brush.Color=16746513", "Shape=stRoundRect", "OnMouseMove=shp1MouseMove"}},
    {"lbl1",
     "TLabel",
     {"Left=30", "Top=22", "Width=18", "Height=68", "Font.Charset=DEFAULT_CHARSET", "Font.Color=clWindowText", "Font.Height=-56",
      "Font.Name='Tahoma'", "Font.Style=[]", "ParentFont=False", "Transparent=True"}},
    {"lbl2", "TLabel", {"Left=30", "Top=115", "Width=16", "Height=13", "Caption='lbl2'", "Transparent=True"}},
    {"lbl3", "TLabel", {"Left=30", "Top=96", "Width=16", "Height=13", "Caption='lbl3'", "Transparent=True"}},
    {"lbl4", "TLabel", {"Left=65", "Top=144", "Width=79", "Height=13", "Caption='Alt+A 语音报时'", "Transparent=True"}},
    {"btn1",
     "TButton",
     {"Left=185", "Top=33", "Width=67", "Height=57", "Hint='发声'", "ImageIndex=0", "Images=il1", "ParentShowHint=False", "ShowHint=True",
      "Style=bsCommandLink", "TabOrder=0", "OnClick=btn1Click"}},
    {"btn2", "TButton", {"Left=190", "Top=105", "Width=62", "Height=25", "Caption='帮助'", "TabOrder=1", "OnClick=btn2Click"}},
    {"btn3", "TButton", {"Left=190", "Top=136", "Width=62", "Height=24", "Caption='关闭'", "TabOrder=2", "OnClick=btn3Click"}},
    {"tmr1", "TTimer", {"Interval=500", "OnTimer=tmr1Timer", "Left=48", "Top=48"}},
    {"il1", "TImageList", {"ColorDepth=cd32Bit", "Height=48", "Width=48", "Left=120", "Top=48", "Bitmap.Resource='MEGAPHONE'"}},
};

TEST(ClockLayout, HoldsEveryValueOfTheWindowAndItsTenComponentsInOrder)
{
    std::ifstream in(QUENLET_SOURCE_DIR "/app/layout/Unit1.layout", std::ios::binary);
    ASSERT_TRUE(in) << "layout file missing";
    std::stringstream text;
    text << in.rdbuf();
    const LayoutNode root = ParseLayout(text.str());

    EXPECT_EQ(WideToUtf8(root.name), "Form1");
    EXPECT_EQ(WideToUtf8(root.className), "TForm1");
    EXPECT_EQ(Properties(root), kFormProperties);
    ASSERT_EQ(root.children.size(), kComponents.size());
    for (size_t i = 0; i < kComponents.size(); ++i) {
        SCOPED_TRACE(kComponents[i].name);
        EXPECT_EQ(WideToUtf8(root.children[i].name), kComponents[i].name);
        EXPECT_EQ(WideToUtf8(root.children[i].className), kComponents[i].className);
        EXPECT_EQ(Properties(root.children[i]), kComponents[i].properties);
        EXPECT_TRUE(root.children[i].children.empty());
    }
}

struct Malformed {
    const char* what;
    const char* text;
    int line;
};

void PrintTo(const Malformed& m, std::ostream* os) { *os << m.what; }

class MalformedLayouts : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedLayouts, AreRejectedNamingTheLine)
{
    try {
        ParseLayout(GetParam().text);
        FAIL() << GetParam().what << " was accepted";
    } catch (const ELayoutError& e) {
        const std::string message = WideToUtf8(e.Message());
        EXPECT_NE(message.find("line " + std::to_string(GetParam().line)), std::string::npos) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedLayouts,
    ::testing::Values(Malformed{"missing end", "object F: TF\n  Left = 1\n", 1}, Malformed{"unterminated string", "object F: TF\n  Caption = 'ab\nend\n", 2},
                      Malformed{"no value", "object F: TF\n  Left =\nend\n", 2}, Malformed{"no equals", "object F: TF\n  Left 5\nend\n", 2},
                      Malformed{"set twice", "object F: TF\n  Left = 1\n  Left = 2\nend\n", 3},
                      Malformed{"number too large", "object F: TF\n  Left = 99999999999\nend\n", 2},
                      Malformed{"text after end", "object F: TF\nend\nobject G: TG\nend\n", 3},
                      Malformed{"unclosed set", "object F: TF\n  Font.Style = [fsBold\nend\n", 2},
                      Malformed{"no class", "object F\nend\n", 1}));

TEST(LayoutParser, ReadsValuesCommentsAndQuotes)
{
    const LayoutNode n = ParseLayout("\xEF\xBB\xBF// a comment\nobject F: TF\n  Caption = 'it''s'\n  Left = -12\n  Style = [a, b]\n"
                                     "  object c: TC // trailing\n  end\nend\n");
    ASSERT_EQ(n.properties.size(), 3u);
    EXPECT_EQ(n.Find(L"Caption")->value.text, L"it's");
    EXPECT_EQ(n.Find(L"Left")->value.integer, -12);
    EXPECT_EQ(n.Find(L"Style")->value.items, (std::vector<std::wstring>{L"a", L"b"}));
    ASSERT_NE(n.Child(L"c"), nullptr);
    EXPECT_EQ(n.Child(L"c")->className, L"TC");
}

} // namespace
