#include "dashboard/bus_worker.h"

#include "dashboard/access_policy.h"
#include "dashboard/calibration_run.h"
#include "dashboard/command_queue.h"
#include "dashboard/recorder.h"
#include "dashboard/telemetry_sampler.h"

#include "cli/bus_session.h"
#include "cli/device_access.h"
#include "cli/exit_codes.h"
#include "cli/quiet_messages.h"
#include "cli/stop_flag.h"

#include <kinetra/flash_options.h>
#include <kinetra/intel_hex.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace kinetra::dashboard {

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

/// How often telemetry goes to the pages: rounds are batched in between.
constexpr std::chrono::milliseconds kBatchPeriod{25};
/// How often the nodes' state, error code and fault word are read.
constexpr std::chrono::milliseconds kStatusPeriod{500};
/// How often the node list is read again even without a presence event.
constexpr std::chrono::milliseconds kPresencePeriod{1000};

/// The set point limits a page starts with, until the user sets others.
struct DefaultLimit {
    MotorAction action;
    double limit;
};
constexpr DefaultLimit kDefaultLimits[] = {
    {MotorAction::Position, 100.0},  // turns
    {MotorAction::Velocity, 20.0},   // turns/s
    {MotorAction::Torque, 1.0},      // Nm
};

json finiteOrNull(double value) { return std::isfinite(value) ? json(value) : json(nullptr); }

json reply(std::int64_t id, bool ok, const std::string& error = {}) {
    json message = {{"type", "reply"}, {"id", id}, {"ok", ok}};
    if (!ok) message["error"] = error;
    return message;
}

std::optional<unsigned> nodeParameter(std::string_view target) {
    const auto text = queryValue(target, "node");
    if (!text || text->empty() || text->size() > 6) return std::nullopt;
    unsigned node = 0;
    for (char c : *text) {
        if (c < '0' || c > '9') return std::nullopt;
        node = node * 10 + static_cast<unsigned>(c - '0');
    }
    if (node < 1 || node > kMaxNodeId) return std::nullopt;
    return node;
}

bool flagParameter(std::string_view target, std::string_view name) { return queryValue(target, name) == "1"; }

HttpReply jsonReply(unsigned status, const json& body) { return {status, "application/json", body.dump(), {}}; }

const char* stageName(FlashStage stage) {
    switch (stage) {
        case FlashStage::Entering: return "entering the bootloader";
        case FlashStage::Erasing: return "erasing";
        case FlashStage::Writing: return "writing";
        case FlashStage::Verifying: return "verifying";
        case FlashStage::Starting: return "starting";
    }
    return "?";
}

/// A node as the pages know it.
struct NodeInfo {
    unsigned type = 0;
    cli::DeviceClass device_class = cli::DeviceClass::Unknown;
    cli::Identity identity;
};

bool isMotor(cli::DeviceClass c) { return c == cli::DeviceClass::Driver || c == cli::DeviceClass::Actuator; }

}  // namespace

struct BusWorker::Impl {
    cli::BusSession& session;
    cli::StopFlag& stop;
    BusWorkerOptions options;
    CommandQueue queue;
    Recorder recorder;
    std::thread thread;
    std::atomic<bool> running{false};
    std::atomic<bool> presence_changed{true};
    const Clock::time_point started = Clock::now();

    std::mutex mutex;  // guards the members up to the next comment
    std::function<void(std::string)> publish_to;
    json nodes_json = json::array();
    json status_json = json::object();
    double rate_hz;
    bool bus_ok = true;

    // The bus thread's own.
    std::map<unsigned, NodeInfo> nodes;
    std::map<unsigned, const std::vector<Channel>*> channels;
    std::unique_ptr<TelemetrySampler> sampler;
    std::map<unsigned, double> set_points;
    std::map<std::pair<unsigned, MotorAction>, double> limits;
    std::uint64_t sequence = 0;
    json batch = json::array();
    double batch_wall_ms = 0;
    Clock::time_point last_flush = Clock::now(), last_status = Clock::now(), last_presence = Clock::now();

    Impl(cli::BusSession& s, cli::StopFlag& f, BusWorkerOptions o)
        : session(s), stop(f), options(o), rate_hz(o.rate_hz) {}

    void publish(const json& message) {
        std::function<void(std::string)> to;
        {
            std::lock_guard<std::mutex> lock(mutex);
            to = publish_to;
        }
        if (to) to(message.dump());
    }

    double limitOf(unsigned node, MotorAction action) const {
        const auto found = limits.find({node, action});
        if (found != limits.end()) return found->second;
        for (const DefaultLimit& entry : kDefaultLimits) {
            if (entry.action == action) return entry.limit;
        }
        return 0;
    }

    Driver* driverOf(unsigned node) { return sampler ? sampler->driver(node) : nullptr; }

    double elapsed() const { return std::chrono::duration<double>(Clock::now() - started).count(); }

    void run();
    void refreshNodes();
    void sampleRound();
    void flush();
    void readStatus();
    bool handleLost();
    json motor(const MotorCommand& command);
    json stopAll();
    json configRead(unsigned node);
    json configWrite(const ConfigWrite& write);
    void execute(const PageMessage& message, const PageSend& send);
};

void BusWorker::Impl::run() {
    auto next = Clock::now();
    while (running) {
        if (stop.lost() && !handleLost()) break;
        if (presence_changed.exchange(false) || Clock::now() - last_presence >= kPresencePeriod) refreshNodes();
        // Commands until the next round is due; none is cut short by one.
        while (running && Clock::now() < next) {
            std::optional<CommandQueue::Job> job = queue.pop(next);
            if (!job) break;
            (*job)();
        }
        if (!running) break;
        double hz;
        {
            std::lock_guard<std::mutex> lock(mutex);
            hz = rate_hz;
        }
        const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / hz));
        next += period;
        // Behind by more than a round (a long command): start afresh rather than catch up.
        if (next < Clock::now()) next = Clock::now() + period;
        sampleRound();
        if (Clock::now() - last_flush >= kBatchPeriod) flush();
        if (Clock::now() - last_status >= kStatusPeriod) readStatus();
    }
    flush();
}

bool BusWorker::Impl::handleLost() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        bus_ok = false;
    }
    publish({{"type", "bus"}, {"state", "lost"}});
    try {
        session.checkAdapter();  // waits for the port to come back
    } catch (const cli::CliError&) {
        return false;  // stopped meanwhile
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        bus_ok = true;
    }
    publish({{"type", "bus"}, {"state", "ok"}});
    presence_changed = true;
    return true;
}

void BusWorker::Impl::refreshNodes() {
    last_presence = Clock::now();
    std::map<unsigned, unsigned> present;
    for (const auto& [node, type] : session.bus().getConnectedDevices()) present[node] = type;
    bool changed = present.size() != nodes.size();
    for (const auto& [node, type] : present) {
        const auto found = nodes.find(node);
        if (found != nodes.end() && found->second.type == type) continue;
        changed = true;
        NodeInfo info;
        info.type = type;
        info.device_class = cli::classOfType(type);
        if (info.device_class != cli::DeviceClass::Unknown) {
            try {
                const unsigned id = node;  // a structured binding cannot be captured in C++17
                info.identity = cli::withProxy(session.bus(), id, type,
                                               [id](auto& proxy) { return cli::readIdentity(proxy, id); });
            } catch (const cli::CliError&) {
                // Shown without versions; read again when it next appears.
            }
        }
        nodes[node] = info;
    }
    for (auto it = nodes.begin(); it != nodes.end();) {
        it = present.count(it->first) != 0 ? std::next(it) : nodes.erase(it);
    }
    if (!changed && sampler) return;
    channels.clear();
    json list = json::array();
    for (const auto& [node, info] : nodes) {
        const std::vector<Channel>& node_channels = channelsOf(info.device_class);
        channels[node] = &node_channels;
        json names = json::array();
        for (const Channel& channel : node_channels) names.push_back({{"name", channel.name}, {"unit", channel.unit}});
        if (isMotor(info.device_class)) names.push_back({{"name", "set_point"}, {"unit", "turns"}});
        json limits_json = json::object();
        if (isMotor(info.device_class)) {
            for (const DefaultLimit& entry : kDefaultLimits) limits_json[actionName(entry.action)] = limitOf(node, entry.action);
        }
        list.push_back({{"node", node},
                        {"type", info.type},
                        {"class", cli::className(info.device_class)},
                        {"hardware", info.identity.hardware},
                        {"firmware", info.identity.firmware},
                        {"commit", info.identity.commit},
                        {"channels", names},
                        {"limits", limits_json}});
    }
    double hz;
    {
        std::lock_guard<std::mutex> lock(mutex);
        nodes_json = list;
        hz = rate_hz;
    }
    if (!sampler) sampler = std::make_unique<TelemetrySampler>(session.bus());
    sampler->setNodes(present, hz);
    publish({{"type", "nodes"}, {"nodes", list}});
}

void BusWorker::Impl::sampleRound() {
    if (!sampler) return;
    if (batch.empty()) {
        // When the oldest round of the batch was read, for the pages to measure their latency.
        batch_wall_ms = std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch())
                            .count();
    }
    const std::vector<NodeSample> samples = sampler->sample();
    const double t = elapsed();
    const std::uint64_t seq = ++sequence;
    recorder.addRound(t, seq, samples, channels);
    for (const NodeSample& sample : samples) {
        json row = json::array({seq, t, sample.node});
        for (double value : sample.values) row.push_back(finiteOrNull(value));
        const auto info = nodes.find(sample.node);
        if (info != nodes.end() && isMotor(info->second.device_class)) {
            const auto set_point = set_points.find(sample.node);
            row.push_back(set_point == set_points.end() ? json(nullptr) : json(set_point->second));
        }
        batch.push_back(std::move(row));
    }
}

void BusWorker::Impl::flush() {
    last_flush = Clock::now();
    if (batch.empty()) return;
    publish({{"type", "telemetry"}, {"wall", batch_wall_ms}, {"rows", batch}});
    batch = json::array();
}

void BusWorker::Impl::readStatus() {
    last_status = Clock::now();
    if (!sampler) return;
    json list = json::array();
    for (const NodeStatus& status : sampler->status()) {
        const auto info = nodes.find(status.node);
        const bool driver = info != nodes.end() && info->second.device_class == cli::DeviceClass::Driver;
        list.push_back({{"node", status.node},
                        {"answered", status.answered},
                        {"state", cli::controllerStateText(status.state)},
                        {"state_code", status.state},
                        {"error", status.error},
                        {"error_text", cli::errorCodeText(status.error, driver)},
                        {"fault", status.fault},
                        {"fault_text", cli::faultText(status.fault)}});
    }
    json message = {{"type", "status"}, {"nodes", list}, {"recording", recorder.recording()},
                    {"recording_full", recorder.full()}};
    {
        std::lock_guard<std::mutex> lock(mutex);
        status_json = message;
    }
    publish(message);
}

json BusWorker::Impl::motor(const MotorCommand& command) {
    const auto found = nodes.find(command.node);
    if (found == nodes.end()) return {{"error", "node " + std::to_string(command.node) + " is not on the bus"}};
    const cli::DeviceClass device_class = found->second.device_class;
    if (!isMotor(device_class)) {
        return {{"error", "node " + std::to_string(command.node) + " is " + cli::className(device_class) +
                              ", not a driver or actuator"}};
    }
    if (hasSetPoint(command.action)) {
        const double limit = limitOf(command.node, command.action);
        if (std::fabs(command.value) > limit) {
            return {{"error", std::string(actionName(command.action)) + " beyond the limit of " + std::to_string(limit)}};
        }
    }
    const auto value = static_cast<float>(command.value);
    const auto send = [&](auto& proxy) -> ret_status_t {
        switch (command.action) {
            case MotorAction::Idle: return proxy.setDeviceToIdle();
            case MotorAction::Active: return proxy.setDeviceToActive();
            case MotorAction::EmergencyStop: return proxy.emergencyStop();
            case MotorAction::Position: return proxy.setPositionControl(value, 0.0f);
            case MotorAction::Velocity: return proxy.setVelocityControl(value);
            case MotorAction::Torque: return proxy.setTorqueControl(value, 0.0f);
            case MotorAction::ClearErrors: break;
        }
        return RET_INVALID_ARGUMENT;
    };
    ret_status_t status = RET_NOT_CONNECTED;
    if (Driver* driver = sampler ? sampler->driver(command.node) : nullptr) {
        status = command.action == MotorAction::ClearErrors ? driver->clearDriverErrors() : send(*driver);
    } else if (Actuator* actuator = sampler ? sampler->actuator(command.node) : nullptr) {
        status = command.action == MotorAction::ClearErrors ? actuator->clearActuatorErrors() : send(*actuator);
    }
    if (status != RET_OK) return {{"error", cli::deviceFailure(command.node, actionName(command.action), status)}};
    if (command.action == MotorAction::Position) {
        set_points[command.node] = command.value;
    } else if (command.action != MotorAction::ClearErrors && command.action != MotorAction::Active) {
        set_points.erase(command.node);
    }
    return json::object();
}

json BusWorker::Impl::stopAll() {
    json failures = json::array();
    std::size_t stopped = 0;
    for (const auto& [node, info] : nodes) {
        if (!isMotor(info.device_class)) continue;
        const json result = motor({MotorAction::EmergencyStop, node, 0});
        if (result.contains("error")) {
            failures.push_back(result["error"]);
        } else {
            ++stopped;
        }
    }
    json result = {{"stopped", stopped}};
    if (!failures.empty()) result["error"] = failures;
    return result;
}

json BusWorker::Impl::configRead(unsigned node) {
    const auto found = nodes.find(node);
    if (found == nodes.end() || found->second.device_class != cli::DeviceClass::Driver) {
        return {{"error", "node " + std::to_string(node) + " is not a driver on the bus"}};
    }
    Driver* driver = driverOf(node);
    if (driver == nullptr) return {{"error", "node " + std::to_string(node) + " is not a driver on the bus"}};
    const std::string text = driver->exportConfiguration();
    if (text.empty()) return {{"error", "node " + std::to_string(node) + ": the configuration could not be read"}};
    json document = json::parse(text, nullptr, false);
    if (document.is_discarded()) return {{"error", "node " + std::to_string(node) + " exported no JSON"}};
    return {{"document", document}};
}

json BusWorker::Impl::configWrite(const ConfigWrite& write) {
    json read = configRead(write.node);
    if (read.contains("error")) return read;
    json& document = read["document"];
    json* target = nullptr;
    for (auto& [group, members] : document.items()) {
        if (members.is_object() && members.contains(write.member)) target = &members[write.member];
    }
    if (target == nullptr) return {{"error", "no setting \"" + write.member + "\""}};
    if (target->is_boolean()) {
        *target = write.value != 0;
    } else if (target->is_number_integer()) {
        // Integers beyond 2^53 are not exact as doubles, and beyond 2^63 no cast is defined.
        constexpr double kLargestExactInteger = 9007199254740992.0;
        if (write.value != std::floor(write.value) || std::fabs(write.value) > kLargestExactInteger) {
            return {{"error", "\"" + write.member + "\" takes an integer"}};
        }
        *target = static_cast<std::int64_t>(write.value);
    } else if (target->is_number()) {
        *target = write.value;
    } else {
        return {{"error", "\"" + write.member + "\" is not a number"}};
    }
    Driver* driver = driverOf(write.node);
    if (driver == nullptr) return {{"error", "node " + std::to_string(write.node) + " is not a driver on the bus"}};
    try {
        cli::QuietMessages quiet;  // the import prints the document it reads
        if (driver->importConfiguration(document.dump()) == 0) {
            return {{"error", "node " + std::to_string(write.node) + ": a write failed"}};
        }
    } catch (const std::exception& error) {
        return {{"error", error.what()}};
    }
    return json::object();
}

void BusWorker::Impl::execute(const PageMessage& message, const PageSend& send) {
    const std::int64_t id = message.id;
    const auto answer = [&](const json& result) {
        json out = reply(id, !result.contains("error"), result.value("error", json("")).is_string()
                                                            ? result.value("error", std::string())
                                                            : result["error"].dump());
        for (const auto& [key, value] : result.items()) {
            if (key != "error") out[key] = value;
        }
        send(out.dump());
    };
    std::visit(
        [&](const auto& request) {
            using T = std::decay_t<decltype(request)>;
            if constexpr (std::is_same_v<T, MotorCommand>) {
                answer(motor(request));
            } else if constexpr (std::is_same_v<T, StopAll>) {
                answer(stopAll());
            } else if constexpr (std::is_same_v<T, SetLimit>) {
                limits[{request.node, request.action}] = request.limit;
                answer(json::object());
            } else if constexpr (std::is_same_v<T, SetRate>) {
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    rate_hz = request.hz;
                }
                presence_changed = true;
                sampler.reset();  // set up again for the IMU's report period
                publish({{"type", "rate"}, {"hz", request.hz}});
                answer(json::object());
            } else if constexpr (std::is_same_v<T, Record>) {
                request.on ? recorder.start() : recorder.stop();
                publish({{"type", "recording"}, {"on", request.on}});
                answer(json::object());
            } else if constexpr (std::is_same_v<T, ConfigRead>) {
                json result = configRead(request.node);
                result["node"] = request.node;
                answer(result);
            } else if constexpr (std::is_same_v<T, ConfigWrite>) {
                answer(configWrite(request));
            } else if constexpr (std::is_same_v<T, ConfigSave>) {
                Driver* driver = driverOf(request.node);
                const ret_status_t status = driver != nullptr ? driver->saveConfigurations() : RET_NOT_CONNECTED;
                answer(status == RET_OK ? json::object()
                                        : json{{"error", cli::deviceFailure(request.node, "save", status)}});
            } else if constexpr (std::is_same_v<T, Calibrate>) {
                Vorlex* encoder = sampler ? sampler->encoder(request.node) : nullptr;
                if (encoder == nullptr) {
                    answer({{"error", "node " + std::to_string(request.node) + " is not an encoder on the bus"}});
                    return;
                }
                answer(runCalibration(*encoder, request.node, request.speed, session.simulator(),
                                      [this](const json& progress) { publish(progress); }));
            } else {
                answer(json::object());  // Arm: the server's own
            }
        },
        message.request);
}

BusWorker::BusWorker(cli::BusSession& session, cli::StopFlag& stop, BusWorkerOptions options)
    : impl_(std::make_unique<Impl>(session, stop, options)) {}

BusWorker::~BusWorker() { stop(); }

void BusWorker::start(std::function<void(std::string)> publish) {
    Impl& s = *impl_;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.publish_to = std::move(publish);
    }
    s.session.onPresence([&s](unsigned, unsigned, bool) {
        s.presence_changed = true;
        s.stop.notify();
    });
    s.session.onFrame([&s](const can_frame_data& frame) {
        const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
        s.recorder.addFrame(frame, now);
    });
    s.running = true;
    s.thread = std::thread([&s] { s.run(); });
}

void BusWorker::stop() {
    Impl& s = *impl_;
    if (!s.thread.joinable()) return;
    s.running = false;
    s.queue.close();
    s.stop.request();  // ends a wait for a lost adapter
    s.thread.join();
    s.session.onPresence(nullptr);
    s.session.onFrame(nullptr);
    std::lock_guard<std::mutex> lock(s.mutex);
    s.publish_to = nullptr;
}

std::string BusWorker::welcome() {
    Impl& s = *impl_;
    std::lock_guard<std::mutex> lock(s.mutex);
    return json{{"type", "welcome"},
                {"nodes", s.nodes_json},
                {"status", s.status_json},
                {"rate", s.rate_hz},
                {"bus", s.bus_ok ? "ok" : "lost"},
                {"recording", s.recorder.recording()}}
        .dump();
}

void BusWorker::request(const PageMessage& message, PageSend reply_to) {
    Impl& s = *impl_;
    bool urgent = false;
    if (const auto* command = std::get_if<MotorCommand>(&message.request)) {
        urgent = command->action == MotorAction::EmergencyStop || command->action == MotorAction::Idle;
    }
    urgent = urgent || std::holds_alternative<StopAll>(message.request);
    const bool queued = s.queue.push([&s, message, reply_to] { s.execute(message, reply_to); }, urgent);
    if (!queued) reply_to(reply(message.id, false, "the command queue is full").dump());
}

void BusWorker::pagesChanged(std::size_t count) {
    Impl& s = *impl_;
    if (count != 0 || !s.options.stop_on_disconnect) return;
    s.queue.push(
        [&s] {
            for (const auto& [node, info] : s.nodes) {
                if (isMotor(info.device_class)) s.motor({MotorAction::Idle, node, 0});
            }
        },
        true);
}

void BusWorker::http(bool post, std::string_view path, std::string_view target, std::string body,
                     HttpRespond respond) {
    Impl& s = *impl_;
    if (!post) {
        if (path == "/api/record.csv") return respond({200, "text/csv", s.recorder.csv(), "recording.csv"});
        if (path == "/api/record.jsonl") {
            return respond({200, "application/x-ndjson", s.recorder.jsonLines(), "recording.jsonl"});
        }
        if (path == "/api/record.log") return respond({200, "text/plain", s.recorder.candump(), "recording.log"});
    }
    const std::optional<unsigned> node = nodeParameter(target);
    if (path == kConfigPath && !node) return respond(jsonReply(400, {{"error", "?node=N is required"}}));
    if (path == kConfigPath && !post) {
        const bool queued = s.queue.push([&s, n = *node, respond] {
            json result = s.configRead(n);
            if (result.contains("error")) return respond(jsonReply(409, result));
            respond({200, "application/json", result["document"].dump(4), "node" + std::to_string(n) + "-config.json"});
        });
        if (!queued) respond(jsonReply(503, {{"error", "the command queue is full"}}));
        return;
    }
    if (path == kConfigPath) {
        const json document = json::parse(body, nullptr, false);
        if (document.is_discarded() || !document.is_object()) {
            return respond(jsonReply(400, {{"error", "the upload is not a JSON configuration document"}}));
        }
        const bool save = flagParameter(target, "save");
        const bool queued = s.queue.push([&s, n = *node, text = std::move(body), save, respond] {
            Driver* driver = s.driverOf(n);
            if (driver == nullptr) {
                return respond(jsonReply(409, {{"error", "node " + std::to_string(n) + " is not a driver on the bus"}}));
            }
            try {
                cli::QuietMessages quiet;
                if (driver->importConfiguration(text) == 0) {
                    return respond(jsonReply(409, {{"error", "a write failed; the later ones were not sent"}}));
                }
            } catch (const std::exception& error) {
                return respond(jsonReply(400, {{"error", error.what()}}));
            }
            if (save && driver->saveConfigurations() != RET_OK) {
                return respond(jsonReply(409, {{"error", "written, but not saved on the device"}}));
            }
            respond(jsonReply(200, {{"ok", true}, {"saved", save}}));
        });
        if (!queued) respond(jsonReply(503, {{"error", "the command queue is full"}}));
        return;
    }
    if (path == kFlashPath && post) {
        if (!node) return respond(jsonReply(400, {{"error", "?node=N is required"}}));
        std::istringstream in(body);
        intelhex::hex_data image;
        image.read(in);
        if (image.stopReason() != intelhex::read_stop_t::EndOfFileRecord || image.size() == 0) {
            return respond(jsonReply(400, {{"error", "not an Intel HEX image: " + image.stopDescription()}}));
        }
        const bool verify = flagParameter(target, "verify");
        const bool backup = flagParameter(target, "backup");
        const bool queued = s.queue.push([&s, n = *node, text = std::move(body), verify, backup, respond] {
            Driver* driver = s.driverOf(n);
            if (driver == nullptr) {
                return respond(jsonReply(409, {{"error", "node " + std::to_string(n) + " is not a driver on the bus"}}));
            }
            json result = {{"node", n}};
            if (backup) {
                json saved = s.configRead(n);
                if (saved.contains("error")) return respond(jsonReply(409, saved));
                result["backup"] = saved["document"];
            }
            // The library reads the image from a file.
            char path_template[] = "/tmp/kinetra-dashboard-XXXXXX";
            const int fd = mkstemp(path_template);
            if (fd < 0) return respond(jsonReply(500, {{"error", "cannot write a temporary file"}}));
            close(fd);
            const std::string file = path_template;
            std::ofstream(file, std::ios::binary) << text;
            FlashOptions options;
            options.verify = verify;
            std::string failure;
            options.failure = &failure;
            const auto start = Clock::now();
            auto last = Clock::now() - kBatchPeriod;
            options.progress = [&](const FlashProgress& progress) {
                if (Clock::now() - last < kBatchPeriod && progress.done != progress.total) return;
                last = Clock::now();
                const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
                s.publish({{"type", "flash"},
                           {"node", n},
                           {"stage", stageName(progress.stage)},
                           {"done", progress.done},
                           {"total", progress.total},
                           {"seconds", seconds}});
            };
            const ret_status_t status = driver->flash(file, false, options);
            std::remove(file.c_str());
            result["seconds"] = std::chrono::duration<double>(Clock::now() - start).count();
            s.presence_changed = true;
            s.nodes.erase(n);  // read its versions again
            if (status != RET_OK) {
                result["error"] = failure.empty() ? cli::deviceFailure(n, "flash", status) : failure;
                return respond(jsonReply(409, result));
            }
            result["ok"] = true;
            respond(jsonReply(200, result));
        });
        if (!queued) respond(jsonReply(503, {{"error", "the command queue is full"}}));
        return;
    }
    respond(jsonReply(404, {{"error", "not found"}}));
}

}  // namespace kinetra::dashboard
