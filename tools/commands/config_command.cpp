// kinetra config export|import|diff: a driver's configuration as a JSON file.

#include "commands/command.h"

#include "cli/config_diff.h"
#include "cli/device_access.h"
#include "cli/input_files.h"

#include "config/config_import_plan.h"

namespace kinetra::cli {

namespace {

struct ConfigArguments {
    unsigned node = 0;
    std::string file;
    bool save = false;
};

/// Opens the bus and waits for `node`, which must be a driver: only drivers
/// have a configuration document.
void requireDriver(BusSession& session, unsigned node) {
    session.open();
    const DeviceClass device_class = classOfType(session.waitForNode(node));
    if (device_class != DeviceClass::Driver) {
        throw CliError(kExitDevice, "node " + std::to_string(node) + " is " + className(device_class) +
                                        ", not a driver: only drivers have a configuration to export or import");
    }
}

std::string exportText(Driver& driver, unsigned node) {
    const kinetra::ConfigResult result = driver.exportConfiguration(kinetra::ConfigOptions{});
    if (!result.ok()) {
        throw CliError(kExitDevice, deviceFailure(node, "configuration export failed at " + result.operation,
                                                  result.status));
    }
    return result.document;
}

int runExport(Context& context, const ConfigArguments& args) {
    if (!args.file.empty()) checkWritablePath(args.file, "-o");
    BusSession session(context.bus, *context.stop);
    requireDriver(session, args.node);
    Driver driver(args.node, &session.bus());
    const std::string text = exportText(driver, args.node);
    Output& out = *context.out;
    if (args.file.empty()) {
        // The document is JSON already, for people and scripts alike.
        out.out() << text << "\n" << std::flush;
        return kExitOk;
    }
    writeTextFile(args.file, text + "\n", "-o");
    if (out.json()) {
        out.document({{"node", args.node}, {"file", args.file}, {"bytes", text.size() + 1}});
    } else {
        out.out() << "node " << args.node << ": configuration exported to " << args.file << " (" << text.size() + 1
                  << " bytes)\n";
    }
    return kExitOk;
}

int runImport(Context& context, const ConfigArguments& args) {
    const nlohmann::json document = checkConfigurationFile(args.file, "FILE");
    const std::size_t groups = kinetra::config::planConfigurationImport(document).size();
    BusSession session(context.bus, *context.stop);
    requireDriver(session, args.node);
    Driver driver(args.node, &session.bus());
    // The tool reports the import itself: the library need not print the document.
    kinetra::ConfigOptions options;
    options.print_document = false;
    const kinetra::ConfigResult result = driver.importConfiguration(document.dump(), options);
    if (result.reason == kinetra::ConfigFailure::WriteFailed) {
        throw CliError(kExitDevice, deviceFailure(args.node, "import stopped at " + result.operation, result.status) +
                                        "; the settings before it were sent");
    }
    if (!result.ok()) throw CliError(kExitBadFile, "FILE " + args.file + ": " + result.text + "; nothing sent");
    if (args.save) require(args.node, "save configuration", driver.saveConfigurations());
    Output& out = *context.out;
    if (out.json()) {
        out.document({{"node", args.node}, {"file", args.file}, {"groups", groups}, {"saved", args.save}});
    } else {
        out.out() << "node " << args.node << ": " << groups << (groups == 1 ? " setting group" : " setting groups")
                  << " written from " << args.file
                  << (args.save ? ", saved on the device\n"
                                : "; not saved, they last until the next power cycle (--save keeps them)\n");
    }
    return kExitOk;
}

int runDiff(Context& context, const ConfigArguments& args) {
    const nlohmann::json file = checkConfigurationFile(args.file, "FILE");
    BusSession session(context.bus, *context.stop);
    requireDriver(session, args.node);
    Driver driver(args.node, &session.bus());
    const nlohmann::json device = checkConfigurationText(exportText(driver, args.node), "the device's export");
    const std::vector<MemberDifference> differences = diffConfigurations(device, file);
    const std::size_t members = memberCount(device, file);
    Output& out = *context.out;
    if (out.json()) {
        nlohmann::json list = nlohmann::json::array();
        for (const MemberDifference& d : differences) {
            list.push_back({{"member", d.member},
                            {"device", d.device.value_or(nlohmann::json())},
                            {"file", d.file.value_or(nlohmann::json())},
                            {"in_device", d.device.has_value()},
                            {"in_file", d.file.has_value()}});
        }
        out.document({{"node", args.node},
                      {"file", args.file},
                      {"members", members},
                      {"equal", differences.empty()},
                      {"differences", list}});
        return differences.empty() ? kExitOk : kExitDevice;
    }
    if (differences.empty()) {
        out.out() << "node " << args.node << " holds what " << args.file << " holds (" << members << " members)\n";
        return kExitOk;
    }
    Table table{{"MEMBER", "DEVICE", "FILE"}, {}};
    for (const MemberDifference& d : differences) table.rows.push_back({d.member, memberText(d.device), memberText(d.file)});
    out.table(table);
    out.out() << differences.size() << " of " << members << (members == 1 ? " member" : " members")
              << (differences.size() == 1 ? " differs\n" : " differ\n");
    // As diff(1): 1 when the two differ, so that scripts can test it.
    return kExitDevice;
}

}  // namespace

void addConfigCommand(CLI::App& app, Registry& registry) {
    CLI::App* sub = app.add_subcommand("config", "Export, import and compare a driver's configuration file");
    sub->require_subcommand(1);
    sub->footer("Example:\n  kinetra config export 1 -o node1.json\n  kinetra config diff 1 node1.json");

    CLI::App* exporter = sub->add_subcommand("export", "Write the driver's configuration as JSON");
    auto export_args = std::make_shared<ConfigArguments>();
    addNodeArgument(exporter, export_args->node);
    exporter->add_option("-o,--output", export_args->file, "the file to write (default: standard output)")
        ->type_name("FILE");
    exporter->footer("Example:\n  kinetra config export 1 -o node1.json\n  kinetra config export 1 --sim");
    registry.push_back({exporter, [export_args](Context& context) { return runExport(context, *export_args); }});

    CLI::App* importer = sub->add_subcommand("import", "Write a configuration file's settings into the driver");
    auto import_args = std::make_shared<ConfigArguments>();
    addNodeArgument(importer, import_args->node);
    importer->add_option("FILE", import_args->file, "a file that 'kinetra config export' wrote")->required();
    importer->add_flag("--save", import_args->save, "store the settings on the device, so they outlive a power cycle");
    importer->footer(
        "The file is checked before anything is sent; the bit rate goes last.\n"
        "Example:\n  kinetra config import 1 node1.json --save");
    registry.push_back({importer, [import_args](Context& context) { return runImport(context, *import_args); }});

    CLI::App* differ = sub->add_subcommand("diff", "Compare the driver's configuration with a file, member by member");
    auto diff_args = std::make_shared<ConfigArguments>();
    addNodeArgument(differ, diff_args->node);
    differ->add_option("FILE", diff_args->file, "a file that 'kinetra config export' wrote")->required();
    differ->footer(
        "Only the members that differ are listed. Exit code 0 when the two hold the same, 1 when\n"
        "something differs (as diff does).\nExample:\n  kinetra config diff 1 node1.json --json");
    registry.push_back({differ, [diff_args](Context& context) { return runDiff(context, *diff_args); }});
}

}  // namespace kinetra::cli
