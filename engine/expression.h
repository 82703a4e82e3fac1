// Index key expressions: parsed once, evaluated over a record's bytes. Field and function names
// are matched without regard to case. Supported: field names (an "alias->" prefix is ignored),
// string and number literals, "+" and "-" of character values, "+" of numbers, parentheses and
// UPPER, STR, DTOS, SUBSTR, LEFT, RIGHT, TRIM, RTRIM, LTRIM, ALLTRIM.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/code_page.h"
#include "engine/dbf_format.h"

namespace engine {

// The value of an expression. Char: bytes of the table's code page. Num: the number's text as
// the field holds it, trimmed ("" for blank), and its value. Date: "YYYYMMDD" or 8 spaces.
struct Value
{
    enum class Type
    {
        Char,
        Num,
        Date,
    };
    Type type = Type::Char;
    std::string text;
    double number = 0;
};

class Expression
{
public:
    // Parses `text` over `fields`; nullptr and a Polish reason in `why` when the engine cannot
    // evaluate it (unknown field or function, wrong argument types, syntax).
    static std::unique_ptr<Expression> Compile(std::string_view text, const std::vector<FieldInfo>& fields,
                                               CodePage page, std::string* why);
    ~Expression();

    Value::Type ResultType() const;

    // Evaluates over `record` (the record's bytes, flag byte first, as long as the table's record).
    Value Evaluate(const unsigned char* record) const;
    // The text of Evaluate, into `out` (whose memory is reused): for the keys of tags over
    // character fields joined with "+", in UPPER() or not, by copying the fields' bytes.
    void EvaluateText(const unsigned char* record, std::string* out) const;

    // Indexes (into the field list) of the fields the expression reads.
    const std::vector<std::size_t>& FieldsUsed() const;

    struct Node;

private:
    Expression() = default;
    bool Flatten(const Node& node, bool upper);
    struct Piece
    {
        std::size_t offset;
        std::size_t width;
        bool upper;
    };
    std::unique_ptr<Node> root_;
    std::vector<Piece> pieces_; // the fields of a key of joined fields, in order
    bool joinedFields_ = false;
    std::vector<std::size_t> fieldsUsed_;
    const std::vector<FieldInfo>* fields_ = nullptr;
    CodePage page_ = CodePage::Cp852;
};

} // namespace engine
