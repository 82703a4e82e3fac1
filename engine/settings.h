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
};

// Takes "NAME=VALUE" parameters of the dBase driver: LANGDRIVER (db852po0 or another known
// driver name) and LEVEL (3, 4, 5 or 7). Unknown names are ignored; an unknown driver or level
// is an error. Applies to tables created afterwards and tables whose header names no driver.
void ConfigureDbaseDriver(const std::string& driver, const std::vector<std::string>& parameters);

const DriverSettings& CurrentSettings();

} // namespace engine
