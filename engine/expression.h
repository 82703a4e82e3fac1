// The dBase expression language of index keys and FOR clauses: parsed once, evaluated over a
// record's bytes. Field and function names are matched without regard to case; an "alias->"
// prefix is ignored. What it evaluates, with dBase's rules: docs/engine-formats.md, "Expressions".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/code_page.h"
#include "engine/collation.h"
#include "engine/dbf_format.h"

namespace engine {

// The value of an expression.
//   Char:    bytes of the table's code page.
//   Num:     the number as text ("" for a blank field: 0) and its value.
//   Date:    "YYYYMMDD", or 8 spaces for a blank date; `number` holds its Julian day (0 if blank).
//   Logical: "T" or "F"; `number` 1 or 0.
struct Value
{
    enum class Type
    {
        Char,
        Num,
        Date,
        Logical,
    };
    Type type = Type::Char;
    std::string text;
    double number = 0;
};

// What the language takes from the table and the engine's settings.
struct ExpressionSettings
{
    CodePage page = CodePage::Cp852;
    // The order of character comparisons (<, >, MAX, MIN): the table's key order.
    CharCompare compare = &CompareBytes;
    // DTOC and CTOD: "MM/DD/YY" (dBase's SET DATE AMERICAN with SET CENTURY OFF) unless the
    // driver settings name another (DriverSettings::dateFormat).
    std::string dateFormat = "MM/DD/YY";
};

class Expression
{
public:
    // Parses `text` over `fields`; nullptr and a Polish reason in `why` when the engine cannot
    // evaluate it (unknown field or function, wrong argument types, syntax, a function form it
    // does not take).
    static std::unique_ptr<Expression> Compile(std::string_view text, const std::vector<FieldInfo>& fields,
                                               const ExpressionSettings& settings, std::string* why);
    static std::unique_ptr<Expression> Compile(std::string_view text, const std::vector<FieldInfo>& fields,
                                               CodePage page, std::string* why);
    ~Expression();

    Value::Type ResultType() const;
    // The longest text a character result can have (the key length of a new tag); 0 otherwise.
    std::size_t ResultWidth() const;

    // Evaluates over `record` (the record's bytes, flag byte first, as long as the table's record);
    // `recno` is the record's number for RECNO(). Throws Error (BadValue) where dBase stops with
    // an error: a division by zero, a number out of range, a text too long.
    Value Evaluate(const unsigned char* record, std::uint32_t recno = 0) const;
    // The text of Evaluate, into `out` (whose memory is reused): keys of tags over character
    // fields joined with "+", in UPPER() or not, by copying the fields' bytes.
    void EvaluateText(const unsigned char* record, std::string* out, std::uint32_t recno = 0) const;
    // A logical expression's value (a FOR clause).
    bool EvaluateLogical(const unsigned char* record, std::uint32_t recno = 0) const;

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
    ExpressionSettings settings_;
};

// Lower case within `page` (every letter of the page, the Polish ones included).
std::string LowerCase(std::string_view text, CodePage page);
// Whether a byte of `page` is a letter, and of which case.
bool IsLetter(unsigned char c, CodePage page);
bool IsUpperLetter(unsigned char c, CodePage page);
bool IsLowerLetter(unsigned char c, CodePage page);

} // namespace engine
