#include "table_operation.h"

#include <deque>
#include <map>

namespace kinetra::python {

std::string fieldList(const protocol::Field* fields, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        if (fields[i].constant) continue;
        if (!text.empty()) text += ", ";
        text += fields[i].name;
        if (fields[i].unit[0] != '\0') text += std::string(" [") + fields[i].unit + "]";
    }
    return text;
}

std::string docstringOf(const protocol::Operation& op) {
    std::string doc = op.description;
    const std::string args = fieldList(op.args.data(), op.arg_count);
    if (!args.empty()) doc += "\nArguments: " + args + ".";
    const std::string values = fieldList(op.values.data(), op.value_count);
    if (!values.empty()) doc += "\nReply values: " + values + ".";
    return doc;
}

const char* argumentName(const protocol::Operation& op, std::size_t index) {
    for (std::size_t i = 0; i < op.arg_count; ++i) {
        if (op.args[i].constant) continue;
        if (index-- == 0) return op.args[i].name;
    }
    return "value";
}

std::vector<std::string> parameterNames(const char* list) {
    std::vector<std::string> names;
    std::string name;
    for (const char* p = list; *p != '\0'; ++p) {
        const char c = *p;
        if (c == '(' || c == ' ') continue;
        if (c == ',' || c == ')') {
            if (!name.empty()) names.push_back(name);
            name.clear();
            continue;
        }
        name += c;
    }
    if (!name.empty()) names.push_back(name);
    return names;
}

void listOperation(py::handle cls, const std::string& name) {
    constexpr const char* kAttribute = "_operations";
    py::tuple names = py::hasattr(cls, kAttribute) ? py::tuple(cls.attr(kAttribute)) : py::tuple();
    cls.attr(kAttribute) = names + py::make_tuple(name);
}

OperationInfo& keepOperationInfo(OperationInfo info) {
    static std::deque<OperationInfo> kept;
    kept.push_back(std::move(info));
    return kept.back();
}

py::handle resultClass(py::module_& m, const char* proxy_class, const char* operation,
                       const std::vector<std::string>& fields, const std::vector<py::object>& types) {
    // Classes made so far, by name, with their fields; they live as long as the module.
    static std::map<std::string, std::pair<std::vector<std::string>, py::handle>> made;
    std::string name = operation;
    const std::string get = "get";
    if (name.compare(0, get.size(), get) == 0) name.erase(0, get.size());
    if (!name.empty()) name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    auto found = made.find(name);
    if (found != made.end() && found->second.first == fields) return found->second.second;
    if (found != made.end() || py::hasattr(m, name.c_str())) name = proxy_class + name;
    found = made.find(name);
    if (found != made.end()) return found->second.second;

    py::list members;
    for (std::size_t i = 0; i < fields.size(); ++i) members.append(py::make_tuple(fields[i], types[i]));
    py::object cls = py::module_::import("typing").attr("NamedTuple")(name, members);
    cls.attr("__module__") = "kinetra";
    cls.attr("__doc__") = "The values " + snakeCase(operation) + "() returns.";
    m.attr(name.c_str()) = cls;
    py::handle kept = cls.release();
    made.emplace(name, std::make_pair(fields, kept));
    return kept;
}

void raiseOperation(ret_status_t status, unsigned node, const OperationInfo& info, const bool* in_range,
                    const bool* is_finite, std::size_t count) {
    std::string detail;
    const auto name = [&](std::size_t i) { return i < info.arguments.size() ? info.arguments[i] : std::string("?"); };
    if (status == RET_INVALID_ARGUMENT) {
        for (std::size_t i = 0; i < count && detail.empty(); ++i) {
            if (!in_range[i]) detail = "argument `" + name(i) + "` is outside the range of its type; nothing was sent";
        }
        for (std::size_t i = 0; i < count && detail.empty(); ++i) {
            if (!is_finite[i]) detail = "argument `" + name(i) + "` is not finite; nothing was sent";
        }
        if (detail.empty()) detail = "an argument is outside the range the device accepts; nothing was sent";
    }
    raiseStatus(status, node, info.name, info.device, detail);
}

}  // namespace kinetra::python
