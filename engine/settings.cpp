// The dBase driver settings of the program's run.
#include "engine/settings.h"

#include <algorithm>
#include <cctype>

#include "engine/code_page.h"
#include "engine/error.h"

namespace engine {
namespace {

DriverSettings& Settings()
{
    static DriverSettings settings;
    return settings;
}

} // namespace

void ConfigureDbaseDriver(const std::string& driver, const std::vector<std::string>& parameters)
{
    if (AsciiUpper(driver) != "DBASE")
        throw Error(ErrorKind::BadValue, "Nieznany sterownik bazy danych: " + driver);
    DriverSettings next = Settings();
    for (const std::string& parameter : parameters) {
        const auto equals = parameter.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string name = AsciiUpper(parameter.substr(0, equals));
        const std::string value = AsciiUpper(parameter.substr(equals + 1));
        if (name == "LANGDRIVER") {
            if (value == "DB852PO0")
                next.languageDriver = 0x23;
            else if (value == "DBWINEE0" || value == "WEEUR")
                next.languageDriver = 0xC8;
            else if (value == "DB437US0" || value == "ASCII")
                next.languageDriver = 0x1B;
            else
                throw Error(ErrorKind::BadValue, "Nieznany sterownik języka LANGDRIVER=" + value);
        } else if (name == "DATEFORMAT") {
            const auto count = [&](const char* part) {
                std::size_t n = 0;
                for (auto at = value.find(part); at != std::string::npos; at = value.find(part, at + 1))
                    ++n;
                return n;
            };
            const bool fourDigits = count("YYYY") == 1;
            if (count("DD") != 1 || count("MM") != 1 || (!fourDigits && count("YY") != 1) ||
                (fourDigits && count("YY") != 3) || value.size() > 16)
                throw Error(ErrorKind::BadValue, "Nieobsługiwany format daty DATEFORMAT=" + value);
            next.dateFormat = value;
        } else if (name == "LEVEL") {
            if (value != "3" && value != "4" && value != "5" && value != "7")
                throw Error(ErrorKind::BadValue, "Nieobsługiwany poziom dBase LEVEL=" + value);
            next.level = std::stoi(value);
        }
    }
    Settings() = next;
}

const DriverSettings& CurrentSettings()
{
    return Settings();
}

} // namespace engine
