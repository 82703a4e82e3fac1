// Tag key expressions: keys of joined character fields are formed by copying the fields' bytes,
// and must come out exactly as the general evaluation gives them.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/expression.h"

namespace {

std::vector<engine::FieldInfo> Fields()
{
    // Record: flag byte, A C(4), B C(6), D D(8), N N(5).
    return {{"A", 'C', 1, 4, 0, false},
            {"B", 'C', 5, 6, 0, false},
            {"D", 'D', 11, 8, 0, false},
            {"N", 'N', 19, 5, 0, false}};
}

TEST(KeyExpressions, JoinedFieldsGiveWhatTheGeneralEvaluationGives)
{
    const std::vector<engine::FieldInfo> fields = Fields();
    const std::vector<std::string> expressions = {
        "A",
        "A+B",
        "UPPER(A)",
        "UPPER(A+B)",
        "A+UPPER(B)",
        "upper(b)+a+B", // copied
        "UPPER(TRIM(A))+B",
        "SUBSTR(A,2,2)+B",
        "DTOS(D)+A",
        "STR(N,5)+A",
        "A-B",
        "'X'+A", // evaluated
    };
    // Letters of both cases, Polish ones of page 852 among them, digits, blanks and punctuation.
    const std::string alphabet = "aAzZ09 /.\xA5\xA4\x88\x9D\xBE\xBD\xA2\xE0";
    std::mt19937 rng(1250);
    for (const std::string& text : expressions) {
        for (const engine::CodePage page : {engine::CodePage::Cp852, engine::CodePage::Cp1250}) {
            std::string why;
            const auto e = engine::Expression::Compile(text, fields, page, &why);
            ASSERT_NE(e, nullptr) << text << ": " << why;
            std::string out = "left over from before";
            for (int round = 0; round < 200; ++round) {
                std::string record = " ";
                for (int i = 0; i < 10; ++i)
                    record.push_back(alphabet[rng() % alphabet.size()]);
                record += round % 2 ? "20240229" : "        ";
                record += round % 3 ? "  -12" : "     ";
                const auto* bytes = reinterpret_cast<const unsigned char*>(record.data());
                e->EvaluateText(bytes, &out);
                ASSERT_EQ(out, e->Evaluate(bytes).text) << text << " over " << record;
            }
        }
    }
    // And what that is: the fields' bytes joined, UPPER() folding the Polish letters of the page.
    const auto e = engine::Expression::Compile("UPPER(A)+B", fields, engine::CodePage::Cp852, nullptr);
    ASSERT_NE(e, nullptr);
    const std::string record = " \xBE\xA2\x88x"
                               "ab  cd"
                               "20240101"
                               "   12";
    std::string out;
    e->EvaluateText(reinterpret_cast<const unsigned char*>(record.data()), &out);
    EXPECT_EQ(out, "\xBD\xE0\x9DX"
                   "ab  cd"); // żół → ŻÓŁ
}

} // namespace
