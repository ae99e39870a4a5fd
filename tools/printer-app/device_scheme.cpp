#include "device_scheme.h"

#include <cctype>
#include <cstdlib>
#include <unistd.h>

#include "status_map.h"

namespace vdlapp {
namespace {

constexpr int kConnectTimeout = 60;  // seconds: a Bluetooth connect retries for a while
constexpr int kWriteTimeout = 300;   // seconds: paced writes to a slow serial printer

std::string lower(std::string text) {
    for (char &c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool startsWith(const std::string &text, const std::string &start) { return text.compare(0, start.size(), start) == 0; }

// The baud rate of "?baud=N", 9600 when absent.
std::optional<std::string> baudOf(const std::string &query) {
    if (query.empty()) return std::string("9600");
    if (!startsWith(query, "baud=") || query.size() == 5 || query.size() > 12) return std::nullopt;
    for (char c : query.substr(5))
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    return query.substr(5);
}

bool plainText(const std::string &text) {
    for (char c : text)
        if (c <= ' ' || c > '~') return false;
    return !text.empty() && text.size() < 128;
}

bool deviceOpen(pappl_device_t *device, const char *uri, const char *) {
    const std::optional<std::string> port = portNameFromUri(uri);
    if (!port) {
        papplDeviceError(device, "'%s' is not a vdl: device URI.", uri);
        return false;
    }
    papplDeviceSetData(device, new DeviceLink{nullptr, *port});
    return true;
}

// The worker keeps its connection between jobs; only the link goes.
void deviceClose(pappl_device_t *device) { delete linkOf(device); }

ssize_t deviceRead(pappl_device_t *, void *, size_t) { return 0; }  // the printer never speaks unasked

ssize_t deviceWrite(pappl_device_t *device, const void *buffer, size_t bytes) {
    const DeviceLink *link = linkOf(device);
    if (!link->worker) {
        papplDeviceError(device, "The device is written through its printer's jobs.");
        return -1;
    }
    const Answer answer = link->worker->call(Request::raw, buffer, bytes, kWriteTimeout);
    if (answer.ok()) return ssize_t(bytes);
    papplDeviceError(device, "%s", Worker::describe(answer.result).c_str());
    return -1;
}

// From what the printer last said: PAPPL may ask while it holds a lock.
pappl_preason_t deviceStatus(pappl_device_t *device) {
    const DeviceLink *link = linkOf(device);
    const Snapshot last = link->worker ? link->worker->last() : Snapshot{};
    return last.known && !last.answer.ok() ? pappl_preason_t(PAPPL_PREASON_OFFLINE) : reasonsFor(last.answer.status);
}

char *deviceId(pappl_device_t *device, char *buffer, size_t size) {
    const DeviceLink *link = linkOf(device);
    const std::string model = link->worker ? link->worker->last().answer.model : std::string();
    snprintf(buffer, size, "MFG:VELDRIN;MDL:%s;CMD:VDL;", model.c_str());
    return buffer;
}

// The USB printer the library accepts, as a description and a model: from
// what the worker of a printer on it last heard when one drives it (the
// kernel's printer node opens once at a time, and a model query written
// beside a job would land in its stream), else from a probe in a worker of
// its own. Nothing when there is none, or its worker has not yet heard it.
std::optional<std::string> usbPrinterModel() {
    const auto onUsb = [](const std::string &uri) { return portNameFromUri(uri) == std::string("USB"); };
    if (const std::shared_ptr<Worker> driving = workerServing(onUsb)) {
        const std::string model = driving->last().answer.model;
        return model.empty() ? std::nullopt : std::optional<std::string>(model);
    }
    Worker probe("vdl://usb");
    const Answer usb = probe.call(Request::connect, "USB", 3, kConnectTimeout);
    return usb.ok() ? std::optional<std::string>(usb.model) : std::nullopt;
}

// What the library can reach: a USB printer that passes the model check (see
// usbPrinterModel), and the serial and parallel nodes that exist (whatever is
// attached to them answers only when a job connects).
bool deviceList(pappl_device_cb_t found, void *data, pappl_deverror_cb_t, void *) {
    if (const std::optional<std::string> model = usbPrinterModel()) {
        const std::string info = "VELDRIN " + *model + " (USB)";
        const std::string id = "MFG:VELDRIN;MDL:" + *model + ";CMD:VDL;";
        if (found(info.c_str(), "vdl://usb", id.c_str(), data)) return true;
    }
    static const struct { const char *pattern, *uriSuffix, *kind; } kNodes[] = {
        {"/dev/ttyS%d", "?baud=9600", "Serial port"},
        {"/dev/lp%d", "", "Parallel port"},
    };
    for (const auto &node : kNodes) {
        for (int n = 0; n < 10; ++n) {
            char path[32];
            snprintf(path, sizeof path, node.pattern, n);
            if (::access(path, F_OK) != 0) continue;
            const std::string info = std::string(node.kind) + " " + path;
            const std::string uri = std::string("vdl://") + path + node.uriSuffix;
            if (found(info.c_str(), uri.c_str(), "", data)) return true;
        }
    }
    return false;
}

}  // namespace

std::optional<std::string> portNameFromUri(const std::string &uri) {
    if (!plainText(uri) || !startsWith(lower(uri), "vdl://")) return std::nullopt;
    const std::string rest = uri.substr(6);
    const std::size_t question = rest.find('?');
    const std::string where = rest.substr(0, question);
    const std::string query = question == std::string::npos ? "" : rest.substr(question + 1);
    const std::string name = lower(where);
    const std::optional<std::string> baud = baudOf(query);

    if (startsWith(where, "/dev/ttyS") && baud) return where + ":" + *baud;
    if (name == "serial" && baud) return "SERIAL:" + *baud;
    if (!query.empty()) return std::nullopt;
    if (name == "usb") return std::string("USB");
    if (startsWith(where, "/dev/lp")) return where;
    if (name == "parallel") return std::string("PARALLEL");
    if (startsWith(name, "bluetooth/")) return where.substr(10);
    if (where.find(':') != std::string::npos && where.find('/') == std::string::npos) return where;
    return std::nullopt;
}

DeviceLink *linkOf(pappl_device_t *device) { return static_cast<DeviceLink *>(papplDeviceGetData(device)); }

// Listed as a USB scheme: PAPPL's autoadd looks at USB devices only, and a
// USB printer that passes the model check is what it should find.
void addDeviceScheme() {
    papplDeviceAddScheme("vdl", PAPPL_DEVTYPE_USB, deviceList, deviceOpen, deviceClose, deviceRead,
                         deviceWrite, deviceStatus, deviceId);
}

}  // namespace vdlapp
