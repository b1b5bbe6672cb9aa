#include "ui/Layout.h"

#include "ui/Exceptions.h"
#include "ui/Text.h"

#include <cctype>
#include <limits>

namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    LayoutNode Document()
    {
        SkipBlank();
        LayoutNode root = Object();
        SkipBlank();
        if (pos_ < text_.size())
            Fail("text after the last 'end'");
        return root;
    }

private:
    std::string_view text_;
    size_t pos_ = 0;
    int line_ = 1;

    [[noreturn]] void Fail(const std::string& what) const
    {
        throw ELayoutError(L"Window layout, line " + std::to_wstring(line_) + L": " + Utf8ToWide(what));
    }

    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

    // Blanks, line ends and comment lines.
    void SkipBlank()
    {
        while (!AtEnd()) {
            const char c = Peek();
            if (c == '\n') {
                ++line_;
                ++pos_;
            } else if (c == ' ' || c == '\t' || c == '\r') {
                ++pos_;
            } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/') {
                while (!AtEnd() && Peek() != '\n')
                    ++pos_;
            } else {
                break;
            }
        }
    }

    // Blanks within one line.
    void SkipSpaces()
    {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\r'))
            ++pos_;
    }

    static bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
    static bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

    std::string Identifier(bool dotted = false)
    {
        if (!IsIdentStart(Peek()))
            Fail("a name was expected");
        const size_t start = pos_;
        while (!AtEnd() && (IsIdentChar(Peek()) || (dotted && Peek() == '.' && pos_ + 1 < text_.size() && IsIdentStart(text_[pos_ + 1]))))
            ++pos_;
        return std::string(text_.substr(start, pos_ - start));
    }

    void Expect(char c)
    {
        SkipSpaces();
        if (Peek() != c)
            Fail(std::string("'") + c + "' was expected");
        ++pos_;
    }

    void EndOfLine()
    {
        SkipSpaces();
        if (!AtEnd() && Peek() != '\n' && !(Peek() == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/'))
            Fail("unexpected text at the end of the line");
    }

    LayoutNode Object()
    {
        LayoutNode node;
        node.line = line_;
        if (Identifier() != "object")
            Fail("'object' was expected");
        SkipSpaces();
        node.name = Utf8ToWide(Identifier());
        Expect(':');
        SkipSpaces();
        node.className = Utf8ToWide(Identifier());
        EndOfLine();
        for (;;) {
            SkipBlank();
            if (AtEnd()) {
                line_ = node.line; // the object that was left open
                Fail("'end' is missing for '" + WideToUtf8(node.name) + "'");
            }
            const size_t mark = pos_;
            const int markLine = line_;
            const std::string word = Identifier(true);
            if (word == "end") {
                EndOfLine();
                return node;
            }
            if (word == "object") {
                pos_ = mark;
                line_ = markLine;
                node.children.push_back(Object());
                continue;
            }
            LayoutProperty prop;
            prop.line = markLine;
            prop.name = Utf8ToWide(word);
            Expect('=');
            SkipSpaces();
            prop.value = Value();
            EndOfLine();
            for (const auto& existing : node.properties)
                if (existing.name == prop.name)
                    Fail("property '" + word + "' is set twice");
            node.properties.push_back(std::move(prop));
        }
    }

    LayoutValue Value()
    {
        LayoutValue v;
        const char c = Peek();
        if (c == '\'') {
            v.kind = LayoutValue::Kind::String;
            v.text = Utf8ToWide(QuotedString());
        } else if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) {
            v.kind = LayoutValue::Kind::Integer;
            v.integer = Integer();
        } else if (c == '[') {
            v.kind = LayoutValue::Kind::Set;
            ++pos_;
            SkipSpaces();
            while (Peek() != ']') {
                v.items.push_back(Utf8ToWide(Identifier()));
                SkipSpaces();
                if (Peek() == ',') {
                    ++pos_;
                    SkipSpaces();
                } else if (Peek() != ']') {
                    Fail("',' or ']' was expected");
                }
            }
            ++pos_;
        } else if (IsIdentStart(c)) {
            v.kind = LayoutValue::Kind::Identifier;
            v.text = Utf8ToWide(Identifier());
        } else {
            Fail("a value was expected");
        }
        return v;
    }

    std::string QuotedString()
    {
        ++pos_; // opening quote
        std::string out;
        for (;;) {
            if (AtEnd() || Peek() == '\n')
                Fail("unterminated string");
            const char c = text_[pos_++];
            if (c == '\'') {
                if (Peek() == '\'') {
                    out.push_back('\'');
                    ++pos_;
                    continue;
                }
                return out;
            }
            out.push_back(c);
        }
    }

    std::int64_t Integer()
    {
        bool negative = false;
        if (Peek() == '-') {
            negative = true;
            ++pos_;
        }
        if (!std::isdigit(static_cast<unsigned char>(Peek())))
            Fail("a digit was expected");
        std::int64_t value = 0;
        while (std::isdigit(static_cast<unsigned char>(Peek()))) {
            value = value * 10 + (Peek() - '0');
            if (value > std::numeric_limits<std::int32_t>::max() + std::int64_t{1})
                Fail("number out of range");
            ++pos_;
        }
        value = negative ? -value : value;
        if (value > std::numeric_limits<std::int32_t>::max())
            Fail("number out of range");
        return value;
    }
};

} // namespace

const LayoutProperty* LayoutNode::Find(std::wstring_view propertyName) const
{
    for (const auto& p : properties)
        if (p.name == propertyName)
            return &p;
    return nullptr;
}

const LayoutNode* LayoutNode::Child(std::wstring_view componentName) const
{
    for (const auto& c : children)
        if (c.name == componentName)
            return &c;
    return nullptr;
}

LayoutNode ParseLayout(std::string_view utf8)
{
    if (utf8.size() >= 3 && static_cast<unsigned char>(utf8[0]) == 0xEF && static_cast<unsigned char>(utf8[1]) == 0xBB && static_cast<unsigned char>(utf8[2]) == 0xBF)
        utf8.remove_prefix(3);
    return Parser(utf8).Document();
}
