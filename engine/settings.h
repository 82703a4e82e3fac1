// The engine's driver settings for the program's run (LANGDRIVER and LEVEL of the dBase driver).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

struct DriverSettings
{
    std::uint8_t languageDriver = 0x23; // db852po0: code page 852, Polish key order
    int level = 5;                      // dBase level of created tables
    // The date format of DTOC() and CTOD() in index expressions: dBase's own default, SET DATE
    // AMERICAN with SET CENTURY OFF. DD, MM, YY and YYYY stand for the date's parts.
    std::string dateFormat = "MM/DD/YY";
};

// Takes "NAME=VALUE" parameters of the dBase driver: LANGDRIVER (db852po0 or another known
// driver name), LEVEL (3, 4, 5 or 7) and DATEFORMAT (DD, MM and YY or YYYY, once each, with any
// separators: "DD.MM.YYYY"). Unknown names are ignored; an unknown driver, level or format is an
// error. Applies to tables created or opened afterwards and tables whose header names no driver.
void ConfigureDbaseDriver(const std::string& driver, const std::vector<std::string>& parameters);

const DriverSettings& CurrentSettings();

} // namespace engine
