// A small recursive-descent parser and evaluator for the key expressions of index tags.
#include "engine/expression.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace engine {

struct Expression::Node
{
    enum class Op
    {
        Field,
        Literal,
        Number,
        Concat,
        ConcatTrim,
        Add,
        Function,
    };
    Op op = Op::Literal;
    Value::Type type = Value::Type::Char;
    std::size_t field = 0;
    std::string name; // function name, upper case
    Value literal;
    std::vector<std::unique_ptr<Node>> args;
};

namespace {

using Node = Expression::Node;

class Parser
{
public:
    Parser(std::string_view text, const std::vector<FieldInfo>& fields, std::vector<std::size_t>* used)
        : text_(text), fields_(fields), used_(used)
    {}

    std::unique_ptr<Node> Parse(std::string* why)
    {
        auto node = Sum();
        SkipSpace();
        if (node && at_ != text_.size())
            Fail("nieoczekiwany znak na pozycji " + std::to_string(at_ + 1));
        if (!error_.empty()) {
            *why = error_;
            return nullptr;
        }
        return node;
    }

private:
    void Fail(const std::string& reason)
    {
        if (error_.empty())
            error_ = reason;
    }

    void SkipSpace()
    {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_])))
            ++at_;
    }

    bool Take(char c)
    {
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    std::unique_ptr<Node> Sum()
    {
        auto left = Term();
        while (left) {
            bool minus = false;
            if (Take('+'))
                minus = false;
            else if (Take('-'))
                minus = true;
            else
                break;
            auto right = Term();
            if (!right)
                return nullptr;
            auto node = std::make_unique<Node>();
            if (left->type == Value::Type::Char && right->type == Value::Type::Char) {
                node->op = minus ? Node::Op::ConcatTrim : Node::Op::Concat;
                node->type = Value::Type::Char;
            } else if (left->type == Value::Type::Num && right->type == Value::Type::Num && !minus) {
                node->op = Node::Op::Add;
                node->type = Value::Type::Num;
            } else {
                Fail("niezgodne typy argumentów operatora");
                return nullptr;
            }
            node->args.push_back(std::move(left));
            node->args.push_back(std::move(right));
            left = std::move(node);
        }
        return left;
    }

    std::unique_ptr<Node> Term()
    {
        SkipSpace();
        if (at_ >= text_.size()) {
            Fail("niepełne wyrażenie");
            return nullptr;
        }
        const char c = text_[at_];
        if (c == '(') {
            ++at_;
            auto inner = Sum();
            if (inner && !Take(')')) {
                Fail("brak nawiasu zamykającego");
                return nullptr;
            }
            return inner;
        }
        if (c == '"' || c == '\'') {
            const auto end = text_.find(c, at_ + 1);
            if (end == std::string_view::npos) {
                Fail("niezamknięty napis");
                return nullptr;
            }
            auto node = std::make_unique<Node>();
            node->op = Node::Op::Literal;
            node->type = Value::Type::Char;
            node->literal.text = std::string(text_.substr(at_ + 1, end - at_ - 1));
            at_ = end + 1;
            return node;
        }
        if (std::isdigit(static_cast<unsigned char>(c))) {
            std::size_t end = at_;
            while (end < text_.size() &&
                   (std::isdigit(static_cast<unsigned char>(text_[end])) || text_[end] == '.'))
                ++end;
            auto node = std::make_unique<Node>();
            node->op = Node::Op::Number;
            node->type = Value::Type::Num;
            node->literal.type = Value::Type::Num;
            node->literal.text = std::string(text_.substr(at_, end - at_));
            node->literal.number = std::atof(node->literal.text.c_str());
            at_ = end;
            return node;
        }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            std::string name = Identifier();
            SkipSpace();
            if (at_ + 1 < text_.size() && text_[at_] == '-' && text_[at_ + 1] == '>') {
                at_ += 2; // alias->FIELD: the alias is the table itself
                SkipSpace();
                name = Identifier();
                if (name.empty()) {
                    Fail("brak nazwy pola po ->");
                    return nullptr;
                }
                return FieldNode(name);
            }
            if (Take('('))
                return Function(AsciiUpper(name));
            return FieldNode(name);
        }
        Fail("nieoczekiwany znak '" + std::string(1, c) + "'");
        return nullptr;
    }

    std::string Identifier()
    {
        std::size_t end = at_;
        while (end < text_.size() &&
               (std::isalnum(static_cast<unsigned char>(text_[end])) || text_[end] == '_'))
            ++end;
        std::string name(text_.substr(at_, end - at_));
        at_ = end;
        return name;
    }

    std::unique_ptr<Node> FieldNode(const std::string& name)
    {
        const std::string upper = AsciiUpper(name);
        for (std::size_t i = 0; i < fields_.size(); ++i) {
            if (AsciiUpper(fields_[i].name) != upper)
                continue;
            auto node = std::make_unique<Node>();
            node->op = Node::Op::Field;
            node->field = i;
            switch (fields_[i].type) {
            case 'N':
            case 'F':
                node->type = Value::Type::Num;
                break;
            case 'D':
                node->type = Value::Type::Date;
                break;
            case 'M':
                Fail("pole memo " + name + " nie może tworzyć klucza");
                return nullptr;
            default:
                node->type = Value::Type::Char;
                break;
            }
            if (std::find(used_->begin(), used_->end(), i) == used_->end())
                used_->push_back(i);
            return node;
        }
        Fail("nieznane pole " + name);
        return nullptr;
    }

    std::unique_ptr<Node> Function(const std::string& name)
    {
        auto node = std::make_unique<Node>();
        node->op = Node::Op::Function;
        node->name = name;
        if (!Take(')')) {
            do {
                auto arg = Sum();
                if (!arg)
                    return nullptr;
                node->args.push_back(std::move(arg));
            } while (Take(','));
            if (!Take(')')) {
                Fail("brak nawiasu zamykającego po argumentach " + name);
                return nullptr;
            }
        }
        struct Signature
        {
            const char* name;
            std::size_t minArgs, maxArgs;
            Value::Type first;
            Value::Type result;
        };
        static const Signature kSignatures[] = {
            {"UPPER", 1, 1, Value::Type::Char, Value::Type::Char},
            {"TRIM", 1, 1, Value::Type::Char, Value::Type::Char},
            {"RTRIM", 1, 1, Value::Type::Char, Value::Type::Char},
            {"LTRIM", 1, 1, Value::Type::Char, Value::Type::Char},
            {"ALLTRIM", 1, 1, Value::Type::Char, Value::Type::Char},
            {"SUBSTR", 2, 3, Value::Type::Char, Value::Type::Char},
            {"LEFT", 2, 2, Value::Type::Char, Value::Type::Char},
            {"RIGHT", 2, 2, Value::Type::Char, Value::Type::Char},
            {"STR", 1, 3, Value::Type::Num, Value::Type::Char},
            {"DTOS", 1, 1, Value::Type::Date, Value::Type::Char},
        };
        for (const Signature& s : kSignatures) {
            if (name != s.name)
                continue;
            if (node->args.size() < s.minArgs || node->args.size() > s.maxArgs) {
                Fail("zła liczba argumentów funkcji " + name);
                return nullptr;
            }
            if (node->args[0]->type != s.first) {
                Fail("zły typ argumentu funkcji " + name);
                return nullptr;
            }
            for (std::size_t i = 1; i < node->args.size(); ++i) {
                if (node->args[i]->op != Node::Op::Number) {
                    Fail("argument " + std::to_string(i + 1) + " funkcji " + name + " musi być liczbą");
                    return nullptr;
                }
            }
            node->type = s.result;
            return node;
        }
        Fail("nieobsługiwana funkcja " + name);
        return nullptr;
    }

    std::string_view text_;
    const std::vector<FieldInfo>& fields_;
    std::vector<std::size_t>* used_;
    std::size_t at_ = 0;
    std::string error_;
};

std::string Trimmed(const std::string& text, bool left, bool right)
{
    std::size_t begin = 0, end = text.size();
    if (left)
        while (begin < end && text[begin] == ' ')
            ++begin;
    if (right)
        while (end > begin && text[end - 1] == ' ')
            --end;
    return text.substr(begin, end - begin);
}

std::string FormatStr(double number, int width, int decimals)
{
    if (width <= 0 || width > 255)
        return std::string();
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%*.*f", width, decimals < 0 ? 0 : decimals, number);
    std::string text(buffer);
    if (text.size() > static_cast<std::size_t>(width))
        return std::string(static_cast<std::size_t>(width), '*');
    return text;
}

Value Eval(const Node& node, const unsigned char* record, const std::vector<FieldInfo>& fields, CodePage page)
{
    Value v;
    v.type = node.type;
    switch (node.op) {
    case Node::Op::Field: {
        const FieldInfo& f = fields[node.field];
        v.text.assign(reinterpret_cast<const char*>(record + f.offset), f.width);
        if (v.type == Value::Type::Num) {
            v.text = Trimmed(v.text, true, true);
            v.number = v.text.empty() ? 0 : std::atof(v.text.c_str());
        }
        return v;
    }
    case Node::Op::Literal:
    case Node::Op::Number:
        return node.literal;
    case Node::Op::Concat:
        v.text =
            Eval(*node.args[0], record, fields, page).text + Eval(*node.args[1], record, fields, page).text;
        return v;
    case Node::Op::ConcatTrim: {
        const std::string left = Eval(*node.args[0], record, fields, page).text;
        const std::string trimmed = Trimmed(left, false, true);
        v.text = trimmed + Eval(*node.args[1], record, fields, page).text +
                 std::string(left.size() - trimmed.size(), ' ');
        return v;
    }
    case Node::Op::Add: {
        v.number = Eval(*node.args[0], record, fields, page).number +
                   Eval(*node.args[1], record, fields, page).number;
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.10g", v.number);
        v.text = buffer;
        return v;
    }
    case Node::Op::Function:
        break;
    }
    const Value a = Eval(*node.args[0], record, fields, page);
    // Counts and widths, held to a range no key exceeds: the expression may come from a damaged
    // index, and turning a larger number into an integer would be undefined.
    auto number = [&](std::size_t i) {
        return static_cast<long long>(std::clamp(node.args[i]->literal.number, -1.0, 65535.0));
    };
    const std::string& n = node.name;
    if (n == "UPPER") {
        v.text = UpperCase(a.text, page);
    } else if (n == "TRIM" || n == "RTRIM") {
        v.text = Trimmed(a.text, false, true);
    } else if (n == "LTRIM") {
        v.text = Trimmed(a.text, true, false);
    } else if (n == "ALLTRIM") {
        v.text = Trimmed(a.text, true, true);
    } else if (n == "SUBSTR") {
        const long long start = std::max(1LL, number(1));
        const long long length =
            node.args.size() > 2 ? std::max(0LL, number(2)) : static_cast<long long>(a.text.size());
        if (static_cast<std::size_t>(start) <= a.text.size())
            v.text = a.text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(length));
    } else if (n == "LEFT") {
        v.text = a.text.substr(0, static_cast<std::size_t>(std::max(0LL, number(1))));
    } else if (n == "RIGHT") {
        const auto count = std::min(a.text.size(), static_cast<std::size_t>(std::max(0LL, number(1))));
        v.text = a.text.substr(a.text.size() - count);
    } else if (n == "STR") {
        const int width = node.args.size() > 1 ? static_cast<int>(number(1)) : 10;
        const int decimals = node.args.size() > 2 ? static_cast<int>(number(2)) : 0;
        v.text = FormatStr(a.number, width, decimals);
    } else if (n == "DTOS") {
        v.text = a.text;
    }
    return v;
}

} // namespace

Expression::~Expression() = default;

std::unique_ptr<Expression> Expression::Compile(std::string_view text, const std::vector<FieldInfo>& fields,
                                                CodePage page, std::string* why)
{
    std::unique_ptr<Expression> e(new Expression());
    Parser parser(text, fields, &e->fieldsUsed_);
    std::string reason;
    e->root_ = parser.Parse(&reason);
    if (!e->root_) {
        if (why)
            *why = reason;
        return nullptr;
    }
    e->fields_ = &fields;
    e->page_ = page;
    e->joinedFields_ = e->Flatten(*e->root_, false);
    if (!e->joinedFields_)
        e->pieces_.clear();
    return e;
}

bool Expression::Flatten(const Node& node, bool upper)
{
    switch (node.op) {
    case Node::Op::Field:
        if (node.type != Value::Type::Char)
            return false;
        pieces_.push_back({(*fields_)[node.field].offset, (*fields_)[node.field].width, upper});
        return true;
    case Node::Op::Concat:
        return Flatten(*node.args[0], upper) && Flatten(*node.args[1], upper);
    case Node::Op::Function:
        return node.name == "UPPER" && Flatten(*node.args[0], true);
    default:
        return false;
    }
}

Value::Type Expression::ResultType() const
{
    return root_->type;
}

Value Expression::Evaluate(const unsigned char* record) const
{
    return Eval(*root_, record, *fields_, page_);
}

void Expression::EvaluateText(const unsigned char* record, std::string* out) const
{
    if (!joinedFields_) {
        *out = Evaluate(record).text;
        return;
    }
    out->clear();
    for (const Piece& p : pieces_) {
        const std::size_t at = out->size();
        out->append(reinterpret_cast<const char*>(record + p.offset), p.width);
        if (p.upper)
            UpperCaseInPlace(out->data() + at, p.width, page_);
    }
}

const std::vector<std::size_t>& Expression::FieldsUsed() const
{
    return fieldsUsed_;
}

} // namespace engine
