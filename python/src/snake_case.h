#pragma once
// The Python name of a C++ name: getBusVoltage -> get_bus_voltage,
// setCANBaudRate -> set_can_baud_rate, getMAxxxSPIRegister ->
// get_maxxx_spi_register. Every binding takes its names from here, so a name
// the library adds is spelt the same way everywhere.

#include <cctype>
#include <string>
#include <string_view>

namespace kinetra::python {

/// Words that stay one word although their capitals would split them: the
/// sensor chip's family name.
inline constexpr std::string_view kWholeWords[] = {"MAxxx"};

/// snake_case of a camelCase or PascalCase name. A run of capitals is one word
/// (an acronym) whose last capital starts the next word when a lower-case
/// letter follows it ("CANBaud" -> "can_baud").
inline std::string snakeCase(std::string_view name) {
    auto upper = [](char c) { return std::isupper(static_cast<unsigned char>(c)) != 0; };
    auto lower = [](char c) { return std::islower(static_cast<unsigned char>(c)) != 0 || std::isdigit(static_cast<unsigned char>(c)) != 0; };
    std::string out;
    out.reserve(name.size() + 8);
    for (std::size_t i = 0; i < name.size();) {
        bool whole = false;
        for (std::string_view word : kWholeWords) {
            if (name.substr(i, word.size()) != word) continue;
            if (!out.empty() && out.back() != '_') out += '_';
            for (char c : word) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            i += word.size();
            whole = true;
            // The next word starts a new one even when it begins in lower case.
            if (i < name.size() && name[i] != '_') out += '_';
            break;
        }
        if (whole) continue;
        const char c = name[i];
        if (upper(c) && i > 0 && !out.empty() && out.back() != '_') {
            const bool after_lower = lower(name[i - 1]);
            const bool ends_acronym = upper(name[i - 1]) && i + 1 < name.size() && lower(name[i + 1]);
            if (after_lower || ends_acronym) out += '_';
        }
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        ++i;
    }
    return out;
}

}  // namespace kinetra::python
