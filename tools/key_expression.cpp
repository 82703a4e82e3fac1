// A small recursive-descent parser and evaluator for index key expressions.
#include "tools/key_expression.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <variant>

#include "archive/code_page.h"

namespace tools {

struct KeyExpression::Node
{
    enum class Kind
    {
        Field,
        Str,
        Upper,
        Concat
    };
    Kind kind = Kind::Field;
    const archive::FieldDescriptor* field = nullptr;
    int width = 10;
    int decimals = 0;
    std::vector<std::shared_ptr<const Node>> children;
};

namespace {

using Node = KeyExpression::Node;
using Value = std::variant<std::string, double>;

class Parser
{
public:
    Parser(std::string_view text, const std::vector<archive::FieldDescriptor>& fields)
        : text_(text), fields_(fields)
    {}

    std::shared_ptr<const Node> ParseAll()
    {
        auto node = ParseSum();
        SkipSpaces();
        if (!node || at_ != text_.size())
            return nullptr;
        return node;
    }

private:
    void SkipSpaces()
    {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_])))
            ++at_;
    }

    bool Take(char c)
    {
        SkipSpaces();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    std::string Word()
    {
        SkipSpaces();
        std::string word;
        while (at_ < text_.size() &&
               (std::isalnum(static_cast<unsigned char>(text_[at_])) || text_[at_] == '_')) {
            word.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(text_[at_]))));
            ++at_;
        }
        return word;
    }

    std::optional<int> Integer()
    {
        const std::string word = Word();
        if (word.empty() || word.size() > 3)
            return std::nullopt;
        for (char c : word) {
            if (!std::isdigit(static_cast<unsigned char>(c)))
                return std::nullopt;
        }
        return std::stoi(word);
    }

    std::shared_ptr<const Node> ParseSum()
    {
        auto first = ParseTerm();
        if (!first)
            return nullptr;
        SkipSpaces();
        if (at_ >= text_.size() || text_[at_] != '+')
            return first;
        auto sum = std::make_shared<Node>();
        sum->kind = Node::Kind::Concat;
        sum->children.push_back(first);
        while (Take('+')) {
            auto next = ParseTerm();
            if (!next)
                return nullptr;
            sum->children.push_back(next);
        }
        return sum;
    }

    std::shared_ptr<const Node> ParseTerm()
    {
        std::string word = Word();
        if (word.empty())
            return nullptr;
        SkipSpaces();
        // An alias: ALIAS->FIELD.
        if (text_.substr(at_, 2) == "->") {
            at_ += 2;
            word = Word();
            if (word.empty())
                return nullptr;
            return FieldNode(word);
        }
        if (Take('(')) {
            auto node = std::make_shared<Node>();
            if (word == "UPPER") {
                node->kind = Node::Kind::Upper;
                auto inner = ParseSum();
                if (!inner || !Take(')'))
                    return nullptr;
                node->children.push_back(inner);
                return node;
            }
            if (word == "STR") {
                node->kind = Node::Kind::Str;
                auto inner = ParseSum();
                if (!inner)
                    return nullptr;
                node->children.push_back(inner);
                if (Take(',')) {
                    const auto width = Integer();
                    if (!width)
                        return nullptr;
                    node->width = *width;
                    if (Take(',')) {
                        const auto decimals = Integer();
                        if (!decimals)
                            return nullptr;
                        node->decimals = *decimals;
                    }
                }
                if (!Take(')'))
                    return nullptr;
                return node;
            }
            return nullptr;
        }
        return FieldNode(word);
    }

    std::shared_ptr<const Node> FieldNode(const std::string& name)
    {
        for (const archive::FieldDescriptor& f : fields_) {
            if (f.name == name) {
                auto node = std::make_shared<Node>();
                node->kind = Node::Kind::Field;
                node->field = &f;
                return node;
            }
        }
        return nullptr;
    }

    std::string_view text_;
    const std::vector<archive::FieldDescriptor>& fields_;
    std::size_t at_ = 0;
};

// Upper case as a Polish national sort module gives it: ASCII letters and the code page 852
// Polish letters.
char UpperCp852(char c)
{
    if (c >= 'a' && c <= 'z')
        return static_cast<char>(c - 'a' + 'A');
    const auto& row = archive::CodePageTable[archive::kRowCp852];
    for (int p = 9; p < 18; ++p) {
        if (row[static_cast<std::size_t>(p)] == static_cast<std::uint8_t>(c))
            return static_cast<char>(row[static_cast<std::size_t>(p - 9)]);
    }
    return c;
}

std::optional<Value> Eval(const Node& node, std::string_view record)
{
    switch (node.kind) {
    case Node::Kind::Field: {
        const archive::FieldDescriptor& f = *node.field;
        if (f.offset + f.width > record.size())
            return std::nullopt;
        const std::string_view text = record.substr(f.offset, f.width);
        if (f.type == 'N' || f.type == 'F') {
            std::string trimmed(text);
            const auto start = trimmed.find_first_not_of(' ');
            if (start == std::string::npos)
                return Value(0.0);
            try {
                return Value(std::stod(trimmed.substr(start)));
            } catch (...) {
                return Value(0.0);
            }
        }
        return Value(std::string(text));
    }
    case Node::Kind::Upper: {
        auto inner = Eval(*node.children[0], record);
        if (!inner || !std::holds_alternative<std::string>(*inner))
            return std::nullopt;
        std::string s = std::get<std::string>(*inner);
        for (char& c : s)
            c = UpperCp852(c);
        return Value(s);
    }
    case Node::Kind::Str: {
        auto inner = Eval(*node.children[0], record);
        if (!inner || !std::holds_alternative<double>(*inner))
            return std::nullopt;
        char buffer[400];
        std::snprintf(buffer, sizeof buffer, "%*.*f", node.width, node.decimals, std::get<double>(*inner));
        std::string s = buffer;
        if (static_cast<int>(s.size()) > node.width)
            s.assign(static_cast<std::size_t>(node.width), '*');
        return Value(s);
    }
    case Node::Kind::Concat: {
        std::string s;
        for (const auto& child : node.children) {
            auto part = Eval(*child, record);
            if (!part || !std::holds_alternative<std::string>(*part))
                return std::nullopt;
            s += std::get<std::string>(*part);
        }
        return Value(s);
    }
    }
    return std::nullopt;
}

} // namespace

std::optional<KeyExpression> KeyExpression::Parse(std::string_view text,
                                                  const std::vector<archive::FieldDescriptor>& fields)
{
    Parser parser(text, fields);
    auto root = parser.ParseAll();
    if (!root)
        return std::nullopt;
    KeyExpression expression;
    expression.root_ = std::move(root);
    return expression;
}

std::optional<std::string> KeyExpression::Evaluate(std::string_view record) const
{
    auto value = Eval(*root_, record);
    if (!value || !std::holds_alternative<std::string>(*value))
        return std::nullopt;
    return std::get<std::string>(*value);
}

} // namespace tools
