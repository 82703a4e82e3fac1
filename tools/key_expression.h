// Evaluation of simple Clipper index key expressions over a table's records: field names (with or
// without an alias), '+', STR() and UPPER(). Used to check that an index holds each record's key.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/reader.h"

namespace tools {

class KeyExpression
{
public:
    // Parses `text` against the table's fields; nothing when the expression uses anything else
    // or names a field the table lacks.
    static std::optional<KeyExpression> Parse(std::string_view text,
                                              const std::vector<archive::FieldDescriptor>& fields);

    // The key of `record` (its bytes, deletion mark first), or nothing when the expression's
    // value is not text (a number where text is needed).
    std::optional<std::string> Evaluate(std::string_view record) const;

    struct Node;

private:
    std::shared_ptr<const Node> root_;
};

} // namespace tools
