#include "web_pages.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device_scheme.h"
#include "driver.h"

namespace vdlapp {
namespace {

constexpr const char *kAddPrinterPath = "/addprinter";
constexpr const char *kByAddress = "address";  // the device choice that takes the address field
constexpr const char *kDefaultPort = "9100";

struct AddPrinterForm {
    std::string name, device = kByAddress, address, driver = kDrivers[0].name;
};

std::string trimmed(const std::string &text) {
    const std::size_t first = text.find_first_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool isPort(const std::string &text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const int port = std::stoi(text);
    return port > 0 && port <= 65535;
}

// A vdl: device URI as it is, or a printer's IPv4 address with its port (the
// library reaches TCP printers by dotted IPv4 addresses only).
std::optional<std::string> deviceUriForAddress(const std::string &typed) {
    const std::string address = trimmed(typed);
    if (portNameFromUri(address)) return address;
    const std::size_t colon = address.find(':');
    const std::string host = address.substr(0, colon);
    const std::string port = colon == std::string::npos ? kDefaultPort : address.substr(colon + 1);
    in_addr ipv4{};
    if (::inet_pton(AF_INET, host.c_str(), &ipv4) != 1 || !isPort(port)) return std::nullopt;
    return "vdl://" + host + ":" + port;
}

// A device from the list is taken only when it is one of ours: the form's
// value comes from the browser.
std::optional<std::string> deviceUriFor(const AddPrinterForm &form) {
    if (form.device == kByAddress) return deviceUriForAddress(form.address);
    if (portNameFromUri(form.device)) return form.device;
    return std::nullopt;
}

AddPrinterForm readForm(int count, cups_option_t *fields) {
    AddPrinterForm form;
    const std::pair<const char *, std::string *> kFields[] = {
        {"printer_name", &form.name}, {"device_uri", &form.device}, {"address", &form.address},
        {"driver_name", &form.driver}};
    for (const auto &[name, into] : kFields)
        if (const char *value = cupsGetOption(name, count, fields)) *into = value;
    return form;
}

// Why PAPPL did not create a printer, by its errno.
std::string creationError(int error) {
    static const struct {
        int error;
        const char *text;
    } kErrors[] = {
        {EEXIST, "A printer with that name already exists."},
        {EIO, "Unable to use that driver."},
        {EINVAL, "Printer names must start with a letter or underscore and cannot contain special characters."},
    };
    for (const auto &e : kErrors)
        if (e.error == error) return e.text;
    return std::string("Unable to add the printer: ") + std::strerror(error);
}

struct Creation {
    pappl_printer_t *printer = nullptr;
    std::string error;
};

Creation createPrinter(pappl_system_t *system, const AddPrinterForm &form) {
    if (form.name.empty()) return {nullptr, "Please enter a printer name."};
    const std::optional<std::string> uri = deviceUriFor(form);
    if (!uri) return {nullptr, "Enter the printer's address (192.168.1.50 or 192.168.1.50:9100) or a vdl: device URI."};
    pappl_printer_t *printer =
        papplPrinterCreate(system, 0, form.name.c_str(), form.driver.c_str(), nullptr, uri->c_str());
    if (!printer) return {nullptr, creationError(errno)};
    // Advertised at once, as PAPPL's own page does.
    char name[256];
    papplPrinterSetDNSSDName(printer, papplPrinterGetDNSSDName(printer, name, sizeof name));
    return {printer, ""};
}

// The vdl: devices the library finds (USB, serial and parallel ports).
std::vector<std::pair<std::string, std::string>> foundDevices(pappl_system_t *system) {
    std::vector<std::pair<std::string, std::string>> devices;  // description, URI
    auto keep = [](const char *info, const char *uri, const char *, void *data) {
        if (std::strncmp(uri, "vdl:", 4) == 0)
            static_cast<std::vector<std::pair<std::string, std::string>> *>(data)->emplace_back(info, uri);
        return false;  // look on
    };
    papplDeviceList(PAPPL_DEVTYPE_USB, keep, &devices, papplLogDevice, system);
    return devices;
}

void option(pappl_client_t *client, const std::string &value, const std::string &label, const std::string &chosen) {
    papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s</option>", value.c_str(),
                          value == chosen ? " selected" : "", label.c_str());
}

void showForm(pappl_client_t *client, pappl_system_t *system, const AddPrinterForm &form, const std::string &error) {
    if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "text/html", 0, 0)) return;
    papplClientHTMLHeader(client, "Add Printer", 0);
    papplClientHTMLPuts(client, "    <div class=\"content\">\n      <div class=\"row\">\n        <div class=\"col-12\">\n"
                                "          <h1 class=\"title\">Add Printer</h1>\n");
    if (!error.empty()) papplClientHTMLPrintf(client, "          <div class=\"banner\">%s</div>\n", error.c_str());
    papplClientHTMLStartForm(client, kAddPrinterPath, false);
    papplClientHTMLPrintf(client,
                          "          <table class=\"form\"><tbody>\n"
                          "            <tr><th><label for=\"printer_name\">Name:</label></th><td><input type=\"text\" "
                          "name=\"printer_name\" id=\"printer_name\" placeholder=\"Name of printer\" value=\"%s\" "
                          "required></td></tr>\n"
                          "            <tr><th><label for=\"device_uri\">Device:</label></th><td><select "
                          "name=\"device_uri\" id=\"device_uri\">",
                          form.name.c_str());
    for (const auto &[info, uri] : foundDevices(system)) option(client, uri, info, form.device);
    option(client, kByAddress, "Network Printer (address below)", form.device);
    papplClientHTMLPrintf(client,
                          "</select></td></tr>\n"
                          "            <tr><th><label for=\"address\">Address:</label></th><td><input type=\"text\" "
                          "name=\"address\" id=\"address\" placeholder=\"192.168.1.50:9100 or vdl://...\" "
                          "value=\"%s\"></td></tr>\n"
                          "            <tr><th><label for=\"driver_name\">Driver Name:</label></th><td><select "
                          "name=\"driver_name\" id=\"driver_name\">",
                          form.address.c_str());
    for (int i = 0; i < kDriverCount; ++i) option(client, kDrivers[i].name, kDrivers[i].description, form.driver);
    papplClientHTMLPuts(client, "</select></td></tr>\n"
                                "            <tr><th></th><td><input type=\"submit\" value=\"Add Printer\"></td></tr>\n"
                                "          </tbody></table>\n          </form>\n"
                                "        </div>\n      </div>\n    </div>\n");
    papplClientHTMLFooter(client);
}

bool addPrinterPage(pappl_client_t *client, void *data) {
    pappl_system_t *system = static_cast<pappl_system_t *>(data);
    if (!papplClientHTMLAuthorize(client)) return true;  // answered: not authorized
    AddPrinterForm form;
    std::string error;
    if (papplClientGetMethod(client) == HTTP_STATE_POST) {
        cups_option_t *fields = nullptr;
        const int count = papplClientGetForm(client, &fields);
        if (count == 0) {
            error = "Invalid form data.";
        } else if (!papplClientIsValidForm(client, count, fields)) {
            error = "Invalid form submission.";
        } else {
            form = readForm(count, fields);
            const Creation created = createPrinter(system, form);
            if (created.printer) {
                char path[256];
                papplClientRespondRedirect(client, HTTP_STATUS_FOUND,
                                           papplPrinterGetPath(created.printer, nullptr, path, sizeof path));
                cupsFreeOptions(count, fields);
                return true;
            }
            error = created.error;
        }
        cupsFreeOptions(count, fields);
    }
    showForm(client, system, form, error);
    return true;
}

}  // namespace

void addWebPages(pappl_system_t *system) {
    papplSystemAddResourceCallback(system, kAddPrinterPath, "text/html", addPrinterPage, system);
}

}  // namespace vdlapp
