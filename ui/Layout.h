#pragma once
// The window layout as data: a tree of named components, each with its class and the properties it
// sets, in the order written. This file only reads the text; ui/LayoutLoader applies it.
//
// Text form (UTF-8):
//   object Form1: TForm1
//     Caption = 'Quenlet'          string, '' inside doubles a quote
//     Left = 0                     decimal integer, optionally negative
//     BorderStyle = bsNone         identifier (True/False are identifiers too)
//     Font.Style = []              set of identifiers
//     object shp1: TShape
//       ...
//     end
//   end
// A line whose first non-blank characters are "//" is a comment.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct LayoutValue {
    enum class Kind { Integer, String, Identifier, Set };
    Kind kind = Kind::Integer;
    std::int64_t integer = 0;
    std::wstring text;               // String or Identifier
    std::vector<std::wstring> items; // Set
};

struct LayoutProperty {
    std::wstring name; // may be dotted: Font.Height
    LayoutValue value;
    int line = 0;
};

struct LayoutNode {
    std::wstring name;
    std::wstring className;
    int line = 0;
    std::vector<LayoutProperty> properties;
    std::vector<LayoutNode> children;

    const LayoutProperty* Find(std::wstring_view propertyName) const;
    const LayoutNode* Child(std::wstring_view componentName) const;
};

// Throws ELayoutError naming the line on any syntax fault; never returns a partial tree.
LayoutNode ParseLayout(std::string_view utf8);
