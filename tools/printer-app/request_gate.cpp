#include "request_gate.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <cstring>
#include <dlfcn.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "access_control.h"

namespace vdlapp {
namespace {

pappl_system_t *gateSystem = nullptr;
std::string listenName;  // -o listen-hostname, lower case; empty when localhost only
bool servesNetwork = false;
std::atomic<std::time_t> lastRequest{0};

// The request being served on this thread. PAPPL serves each connection on
// a thread of its own, one request after the other.
struct Request {
    http_t *http = nullptr;     // the connection PAPPL read the request line of
    bool headerChecked = false;
    Requester requester;
};
thread_local Request current;

template <typename Function> Function realFunction(const char *name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// A Host value split into its name (brackets of an IPv6 address removed)
// and its port (empty when not given); false when it has neither shape.
bool splitHost(const std::string &value, std::string &name, std::string &port) {
    std::size_t nameEnd;
    if (!value.empty() && value[0] == '[') {
        nameEnd = value.find(']');
        if (nameEnd == std::string::npos) return false;
        name = value.substr(1, nameEnd - 1);
        ++nameEnd;
    } else {
        nameEnd = value.find(':');
        name = value.substr(0, nameEnd);
    }
    if (nameEnd >= value.size()) {
        port.clear();
        return !name.empty();
    }
    if (value[nameEnd] != ':') return false;
    port = value.substr(nameEnd + 1);
    return !name.empty() && !port.empty() && port.size() <= 5 &&
           std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// The address text of the server's end of a connection (an IPv4 address
// mapped into IPv6 as the IPv4 address it is); empty for the domain socket.
std::string localAddress(int fd) {
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &size) != 0) return {};
    char text[INET6_ADDRSTRLEN] = "";
    if (local.ss_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in &>(local).sin_addr, text, sizeof text);
    } else if (local.ss_family == AF_INET6) {
        const in6_addr &address = reinterpret_cast<sockaddr_in6 &>(local).sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&address))
            ::inet_ntop(AF_INET, address.s6_addr + 12, text, INET_ADDRSTRLEN);
        else
            ::inet_ntop(AF_INET6, &address, text, sizeof text);
    }
    return text;
}

// The names this server answers to on a connection. An address the client
// connected to is always one of its own, but only served networks need it.
std::vector<std::string> ownNames(int fd) {
    std::vector<std::string> names{"localhost", "127.0.0.1", "::1"};
    if (!servesNetwork) return names;
    if (!listenName.empty() && listenName != "*") names.push_back(listenName);
    char host[256] = "";
    if (::gethostname(host, sizeof host - 1) == 0) names.push_back(lowerCase(host));
    if (papplSystemGetHostName(gateSystem, host, sizeof host)) names.push_back(lowerCase(host));
    names.push_back(localAddress(fd));
    return names;
}

bool isDomainSocket(int fd) {
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    return ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &size) == 0 && local.ss_family == AF_UNIX;
}

// Over the domain socket, which no browser reaches, libcups names the host
// "localhost:0": the port is not the server's. (A socket's path as the host
// PAPPL refuses itself: "Bad Host: header".)
bool namesThisServer(http_t *http) {
    const char *field = httpGetField(http, HTTP_FIELD_HOST);
    std::string name, port;
    const bool domainSocket = isDomainSocket(httpGetFd(http));
    if (!field || !splitHost(field, name, port)) return false;
    if (!domainSocket && !port.empty() && std::stoi(port) != papplSystemGetHostPort(gateSystem)) return false;
    name = lowerCase(name);
    if (name.size() > 1 && name.back() == '.') name.pop_back();  // the root of DNS, said or not
    const std::vector<std::string> names = ownNames(httpGetFd(http));
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::string userName(uid_t uid) {
    passwd entry{}, *found = nullptr;
    std::vector<char> strings(16384);
    if (::getpwuid_r(uid, &entry, strings.data(), strings.size(), &found) == 0 && found) return found->pw_name;
    return std::to_string(uid);
}

Requester requesterOf(http_t *http) {
    Requester requester;
    requester.uid = localUserOf(httpGetFd(http));
    requester.name = requester.uid ? userName(*requester.uid) : "guest";
    requester.administrator = requester.uid && (*requester.uid == 0 || *requester.uid == ::geteuid());
    return requester;
}

// The owner of each job is who the server knows submitted it. The name goes
// among the operation attributes, which PAPPL wants first: a request without
// one, or with one that is no single name (an integer, which PAPPL passes
// over to make the job guest's), has its attributes put in again after it.
void replaceRequestingUser(ipp_t *request) {
    const char *name = current.requester.name.c_str();
    ipp_attribute_t *claimed = ippFindAttribute(request, "requesting-user-name", IPP_TAG_ZERO);
    if (claimed && ippGetGroupTag(claimed) == IPP_TAG_OPERATION && ippGetCount(claimed) == 1 &&
        ippSetValueTag(request, &claimed, IPP_TAG_NAME) && ippSetString(request, &claimed, 0, name))
        return;
    if (claimed) ippDeleteAttribute(request, claimed);
    ipp_t *copy = ippNew();
    ippCopyAttributes(copy, request, 0, nullptr, nullptr);
    while (ipp_attribute_t *attr = ippFirstAttribute(request)) ippDeleteAttribute(request, attr);
    bool added = false;
    for (ipp_attribute_t *attr = ippFirstAttribute(copy); attr; attr = ippNextAttribute(copy)) {
        if (!added && ippGetGroupTag(attr) != IPP_TAG_OPERATION) {
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, name);
            added = true;
        }
        ippCopyAttribute(request, attr, 0);
    }
    if (!added) ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, name);
    ippDelete(copy);
}

bool listsJobs(ipp_op_t operation) {
    return operation == IPP_OP_GET_JOBS || operation == IPP_OP_GET_JOB_ATTRIBUTES;
}

// In each job of the answer that is not the requester's, and in each event
// that tells of one (PAPPL names the job and its owner in job-created
// events), the names a user gives a job are hidden.
void hideOtherUsersJobNames(ipp_t *response) {
    bool othersJob = false;
    ipp_attribute_t *jobName = nullptr, *documentName = nullptr;
    ipp_tag_t group = IPP_TAG_ZERO;
    auto closeJob = [&] {
        if (othersJob && jobName) ippSetString(response, &jobName, 0, kHiddenJobName);
        if (othersJob && documentName) ippSetString(response, &documentName, 0, kHiddenJobName);
        othersJob = false;
        jobName = documentName = nullptr;
    };
    for (ipp_attribute_t *attr = ippFirstAttribute(response); attr; attr = ippNextAttribute(response)) {
        const char *name = ippGetName(attr);
        if (!name || ippGetGroupTag(attr) != group) {  // a separator, or another group: the job before ends
            closeJob();
            group = ippGetGroupTag(attr);
            if (!name) continue;
        }
        if (group != IPP_TAG_JOB && group != IPP_TAG_EVENT_NOTIFICATION) continue;
        if (std::strcmp(name, "job-name") == 0) jobName = attr;
        if (std::strcmp(name, "document-name-supplied") == 0) documentName = attr;
        if (std::strcmp(name, "job-originating-user-name") == 0) {
            const char *owner = ippGetString(attr, 0, nullptr);
            othersJob = !owner || current.requester.name != owner;
        }
    }
    closeJob();
}

// A job's owner that the answer does not carry still counts: Get-Jobs
// answers with the attributes asked for. The server asks for the owner
// whenever the answer is to list job names.
void askForOwner(ipp_t *request) {
    ipp_attribute_t *asked = ippFindAttribute(request, "requested-attributes", IPP_TAG_KEYWORD);
    if (!asked) return;  // the defaults carry it
    for (int i = 0; i < ippGetCount(asked); ++i)
        if (std::strcmp(ippGetString(asked, i, nullptr), "job-originating-user-name") == 0) return;
    ippSetString(request, &asked, ippGetCount(asked), "job-originating-user-name");
}

}  // namespace

void openRequestGate(pappl_system_t *system, const char *listenHostname) {
    gateSystem = system;
    servesNetwork = listenHostname != nullptr;
    listenName = listenHostname ? lowerCase(listenHostname) : std::string();
}

const Requester &currentRequester() { return current.requester; }
void setAuthenticatedRequester(const std::string &name) {
    current.requester.name = name;
    current.requester.uid.reset();
    current.requester.administrator = false;
}

std::time_t lastRequestTime() { return lastRequest.load(); }

}  // namespace vdlapp

using vdlapp::current;

// Only a server reads request lines: the connection is one PAPPL serves, and
// its next header is to be checked.
extern "C" http_state_t httpReadRequest(http_t *http, char *resource, size_t size) {
    static const auto real = vdlapp::realFunction<http_state_t (*)(http_t *, char *, size_t)>("httpReadRequest");
    const http_state_t state = real(http, resource, size);
    if (vdlapp::gateSystem && state != HTTP_STATE_WAITING && state != HTTP_STATE_ERROR) current = {http, false, {}};
    return state;
}

// PAPPL reads the header of a request with this call, and serves the request
// once it says HTTP_STATUS_OK; any other status is answered 400 Bad Request
// and the connection closed.
extern "C" http_status_t httpUpdate(http_t *http) {
    static const auto real = vdlapp::realFunction<http_status_t (*)(http_t *)>("httpUpdate");
    const http_status_t status = real(http);
    if (status != HTTP_STATUS_OK || http != current.http || current.headerChecked) return status;
    current.headerChecked = true;
    if (!vdlapp::namesThisServer(http)) {
        const char *host = httpGetField(http, HTTP_FIELD_HOST);
        papplLog(vdlapp::gateSystem, PAPPL_LOGLEVEL_WARN,
                 "Refused a request for the host '%s': not a name of this server.", host ? host : "");
        current.http = nullptr;
        return HTTP_STATUS_BAD_REQUEST;  // no activity: a page that keeps asking keeps no idle server up
    }
    vdlapp::lastRequest = std::time(nullptr);
    current.requester = vdlapp::requesterOf(http);
    return status;
}

extern "C" ipp_state_t ippRead(http_t *http, ipp_t *ipp) {
    static const auto real = vdlapp::realFunction<ipp_state_t (*)(http_t *, ipp_t *)>("ippRead");
    const ipp_state_t state = real(http, ipp);
    if (state == IPP_STATE_DATA && http && http == current.http && current.headerChecked) {
        vdlapp::replaceRequestingUser(ipp);
        if (vdlapp::listsJobs(ippGetOperation(ipp)) && !current.requester.administrator) vdlapp::askForOwner(ipp);
    }
    return state;
}

extern "C" ipp_state_t ippWrite(http_t *http, ipp_t *ipp) {
    static const auto real = vdlapp::realFunction<ipp_state_t (*)(http_t *, ipp_t *)>("ippWrite");
    if (http && http == current.http && current.headerChecked && !current.requester.administrator &&
        ippGetState(ipp) == IPP_STATE_IDLE)
        vdlapp::hideOtherUsersJobNames(ipp);
    return real(http, ipp);
}
