// libFuzzer target: the expression language of index keys and FOR clauses. The input is a code
// page byte, an expression's text up to the first line feed, and a record's bytes after it. Any
// text is parsed; an expression the engine takes is evaluated over the record. A refusal or an
// engine error is the expected answer to nonsense; a crash, a hang, unbounded memory or a key
// that differs between the two ways of forming it is a finding.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/error.h"
#include "engine/expression.h"

namespace {

// The fields of the record: text, Polish text, numbers, dates, logicals, a memo field.
const std::vector<engine::FieldInfo>& Fields()
{
    static const std::vector<engine::FieldInfo> fields = {
        {"T", 'C', 1, 10, 0, false}, {"P", 'C', 11, 8, 0, false}, {"N", 'N', 19, 8, 2, false},
        {"I", 'N', 27, 5, 0, false}, {"D", 'D', 32, 8, 0, false}, {"E", 'D', 40, 8, 0, false},
        {"L", 'L', 48, 1, 0, false}, {"F", 'F', 49, 6, 1, false}, {"K", 'C', 55, 3, 0, false},
        {"M", 'M', 58, 10, 0, false}};
    return fields;
}

constexpr std::size_t kRecordLength = 68;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    engine::ExpressionSettings settings;
    settings.page = data[0] % 2 ? engine::CodePage::Cp1250 : engine::CodePage::Cp852;
    settings.dateFormat = data[0] % 3 ? "MM/DD/YY" : "DD.MM.YYYY";
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto end = input.find('\n');
    const std::string text = input.substr(0, end);
    std::string record = end == std::string::npos ? std::string() : input.substr(end + 1);
    record.resize(kRecordLength, ' ');
    std::string why;
    const auto e = engine::Expression::Compile(text, Fields(), settings, &why);
    if (!e) {
        if (why.empty())
            std::abort(); // a refusal always says why
        return 0;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(record.data());
    try {
        const engine::Value v = e->Evaluate(bytes, 12);
        if (v.type != e->ResultType())
            std::abort();
        if (v.type == engine::Value::Type::Char) {
            std::string fast;
            e->EvaluateText(bytes, &fast, 12);
            if (fast != v.text)
                std::abort();
        }
        if (v.type == engine::Value::Type::Logical && e->EvaluateLogical(bytes, 12) != (v.number != 0))
            std::abort();
    } catch (const engine::Error&) {
        // a division by zero, a text too long: the post that needed it would be refused
    }
    return 0;
}
