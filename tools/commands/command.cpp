#include "commands/command.h"

#include <cmath>

namespace kinetra::cli {

CLI::Option* addNodeArgument(CLI::App* app, unsigned& node) {
    return app->add_option("NODE", node, "node id, 1 to 262143")->required()->check(CLI::Range(1u, 0x3FFFFu));
}

CLI::Validator finiteNumber() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            try {
                std::size_t used = 0;
                const double value = std::stod(text, &used);
                if (used == text.size() && std::isfinite(value)) return {};
            } catch (const std::exception&) {
            }
            return "expected a finite number, got '" + text + "'";
        },
        "NUMBER");
}

}  // namespace kinetra::cli
