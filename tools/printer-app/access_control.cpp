#include "access_control.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <iterator>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <pwd.h>
#include <security/pam_appl.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

#include "request_gate.h"

namespace vdlapp {
namespace {

constexpr gid_t kNoGroup = gid_t(-1);

// What PAPPL checks as the business of a printer's users: printing, and the
// jobs and subscriptions that come with it. They stay open to everyone. The
// printer's own switches (enable, disable, cancel the current job), which
// PAPPL counts among them, stop a queue: here they are for administrators.
constexpr ipp_op_t kPrintingOperations[] = {
    IPP_OP_PRINT_JOB, IPP_OP_VALIDATE_JOB, IPP_OP_CREATE_JOB, IPP_OP_SEND_DOCUMENT, IPP_OP_CLOSE_JOB,
    IPP_OP_CANCEL_JOB, IPP_OP_HOLD_JOB, IPP_OP_RELEASE_JOB, IPP_OP_GET_JOBS, IPP_OP_GET_JOB_ATTRIBUTES,
    IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, IPP_OP_CREATE_JOB_SUBSCRIPTIONS, IPP_OP_GET_SUBSCRIPTIONS,
    IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES, IPP_OP_RENEW_SUBSCRIPTION, IPP_OP_CANCEL_SUBSCRIPTION,
    IPP_OP_GET_NOTIFICATIONS,
};

// What PAPPL checks on a job or a subscription: its owner's business, or an
// administrator's. Reading stays open; another user's job names are hidden in
// the answer (request_gate.h).
constexpr ipp_op_t kOwnersOperations[] = {
    IPP_OP_CANCEL_JOB, IPP_OP_HOLD_JOB, IPP_OP_RELEASE_JOB, IPP_OP_SEND_DOCUMENT, IPP_OP_CLOSE_JOB,
    IPP_OP_CREATE_JOB_SUBSCRIPTIONS, IPP_OP_RENEW_SUBSCRIPTION, IPP_OP_CANCEL_SUBSCRIPTION,
};

// Whether the client's request is one of the operations (a web page is none).
template <std::size_t Count>
bool requestIsOneOf(pappl_client_t *client, const ipp_op_t (&operations)[Count]) {
    ipp_t *request = papplClientGetRequest(client);
    return request && std::find(std::begin(operations), std::end(operations), ippGetOperation(request)) !=
                          std::end(operations);
}

bool isOwnersOperation(pappl_client_t *client) { return requestIsOneOf(client, kOwnersOperations); }

// The subscription a request names (Renew-Subscription, Cancel-Subscription).
pappl_subscription_t *subscriptionOf(pappl_client_t *client) {
    ipp_attribute_t *id = ippFindAttribute(papplClientGetRequest(client), "notify-subscription-id", IPP_TAG_INTEGER);
    return id ? papplSystemFindSubscription(papplClientGetSystem(client), ippGetInteger(id, 0)) : nullptr;
}

bool ownedByOthers(const char *owner) { return !owner || currentRequester().name != owner; }

// A job the request is about that belongs to someone else than its requester.
bool isOthersJob(pappl_client_t *client) {
    pappl_job_t *job = papplClientGetJob(client);
    return job && isOwnersOperation(client) && ownedByOthers(papplJobGetUsername(job));
}

// A subscription the request changes that someone else made: PAPPL lets any
// user renew or cancel any subscription, CUPS' own among them.
bool isOthersSubscription(pappl_client_t *client) {
    pappl_subscription_t *subscription = isOwnersOperation(client) ? subscriptionOf(client) : nullptr;
    return subscription && ownedByOthers(papplSubscriptionGetUsername(subscription));
}

bool isOthers(pappl_client_t *client) { return isOthersJob(client) || isOthersSubscription(client); }

bool isPrinting(pappl_client_t *client) { return requestIsOneOf(client, kPrintingOperations); }

// One end of a TCP connection as the kernel's socket diagnostics name it; an
// IPv4 address mapped into IPv6 is the IPv4 socket it is.
struct Endpoint {
    int family = 0;
    std::array<unsigned char, 16> address{};
    std::uint16_t port = 0;  // network byte order
};

std::optional<Endpoint> endpointOf(const sockaddr_storage &address) {
    Endpoint e;
    if (address.ss_family == AF_INET) {
        const auto &in = reinterpret_cast<const sockaddr_in &>(address);
        e.family = AF_INET;
        std::memcpy(e.address.data(), &in.sin_addr, 4);
        e.port = in.sin_port;
    } else if (address.ss_family == AF_INET6) {
        const auto &in6 = reinterpret_cast<const sockaddr_in6 &>(address);
        const bool mapped = IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr);
        e.family = mapped ? AF_INET : AF_INET6;
        std::memcpy(e.address.data(), in6.sin6_addr.s6_addr + (mapped ? 12 : 0), mapped ? 4 : 16);
        e.port = in6.sin6_port;
    } else {
        return std::nullopt;
    }
    return e;
}

bool isLoopback(const Endpoint &e) {
    return e.family == AF_INET ? e.address[0] == 127
                               : std::memcmp(e.address.data(), &in6addr_loopback, sizeof in6addr_loopback) == 0;
}

// The user owning the client's end of a connection on this machine. Only an
// established connection counts: the end of one that is closing may be a bare
// time-wait record, which has no owner (the kernel reports root).
std::optional<uid_t> ownerOfClientSocket(const Endpoint &client, const Endpoint &server) {
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0) return std::nullopt;
    const timeval timeout{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } query{};
    query.header.nlmsg_len = sizeof query;
    query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    query.header.nlmsg_flags = NLM_F_REQUEST;
    query.request.sdiag_family = std::uint8_t(client.family);
    query.request.sdiag_protocol = IPPROTO_TCP;
    query.request.idiag_states = 1u << TCP_ESTABLISHED;
    query.request.id.idiag_sport = client.port;  // the client's socket: its near end is the client
    query.request.id.idiag_dport = server.port;
    std::memcpy(query.request.id.idiag_src, client.address.data(), client.address.size());
    std::memcpy(query.request.id.idiag_dst, server.address.data(), server.address.size());
    query.request.id.idiag_cookie[0] = query.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    std::optional<uid_t> owner;
    alignas(nlmsghdr) unsigned char answer[512];
    if (::send(fd, &query, sizeof query, 0) == ssize_t(sizeof query)) {
        const ssize_t size = ::recv(fd, answer, sizeof answer, 0);
        const auto *header = reinterpret_cast<const nlmsghdr *>(answer);
        const auto *socket = reinterpret_cast<const inet_diag_msg *>(answer + NLMSG_HDRLEN);
        if (size >= ssize_t(NLMSG_HDRLEN + sizeof *socket) && header->nlmsg_type == SOCK_DIAG_BY_FAMILY &&
            socket->idiag_state == TCP_ESTABLISHED && socket->idiag_inode != 0)
            owner = socket->idiag_uid;
    }
    ::close(fd);
    return owner;
}

}  // namespace

std::optional<uid_t> localUserOf(int fd) {
    sockaddr_storage peer{}, local{};
    socklen_t peerSize = sizeof peer, localSize = sizeof local;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerSize) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localSize) != 0)
        return std::nullopt;
    if (peer.ss_family == AF_UNIX) {
        ucred credentials{};
        socklen_t size = sizeof credentials;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return std::nullopt;
        return credentials.uid;
    }
    const std::optional<Endpoint> clientEnd = endpointOf(peer), serverEnd = endpointOf(local);
    if (!clientEnd || !serverEnd || !isLoopback(*clientEnd)) return std::nullopt;
    return ownerOfClientSocket(*clientEnd, *serverEnd);
}

namespace {

struct Credentials {
    std::string user, password;
};

std::optional<Credentials> basicCredentials(pappl_client_t *client) {
    const char *field = httpGetField(papplClientGetHTTP(client), HTTP_FIELD_AUTHORIZATION);
    if (!field || std::strncmp(field, "Basic ", 6) != 0) return std::nullopt;
    const char *encoded = field + 6;
    while (*encoded == ' ') ++encoded;
    char decoded[512];
    int size = int(sizeof decoded);
    httpDecode64_2(decoded, &size, encoded);
    const std::string text(decoded, std::size_t(std::clamp(size, 0, int(sizeof decoded) - 1)));
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    return Credentials{text.substr(0, colon), text.substr(colon + 1)};
}

// PAM's questions: the password for what it asks hidden, the user's name for what it asks openly.
int answerPam(int count, const pam_message **messages, pam_response **responses, void *data) {
    const auto *credentials = static_cast<const Credentials *>(data);
    auto *replies = static_cast<pam_response *>(std::calloc(std::size_t(count), sizeof(pam_response)));
    if (!replies) return PAM_BUF_ERR;
    for (int i = 0; i < count; ++i) {
        const int style = messages[i]->msg_style;
        if (style == PAM_PROMPT_ECHO_OFF) replies[i].resp = ::strdup(credentials->password.c_str());
        if (style == PAM_PROMPT_ECHO_ON) replies[i].resp = ::strdup(credentials->user.c_str());
    }
    *responses = replies;
    return PAM_SUCCESS;
}

bool pamAccepts(const char *service, const Credentials &credentials, const char *host) {
    pam_conv conversation{answerPam, const_cast<Credentials *>(&credentials)};
    pam_handle_t *handle = nullptr;
    int status = pam_start(service, credentials.user.c_str(), &conversation, &handle);
    if (status == PAM_SUCCESS) status = pam_set_item(handle, PAM_RHOST, host);
    if (status == PAM_SUCCESS) status = pam_authenticate(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    if (status == PAM_SUCCESS) status = pam_acct_mgmt(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    if (handle) pam_end(handle, status);
    return status == PAM_SUCCESS;
}

bool isMember(const std::string &user, gid_t group) {
    passwd entry{}, *found = nullptr;
    std::vector<char> strings(16384);
    if (::getpwnam_r(user.c_str(), &entry, strings.data(), strings.size(), &found) != 0 || !found) return false;
    int count = 1;
    std::vector<gid_t> groups(1);
    if (::getgrouplist(user.c_str(), found->pw_gid, groups.data(), &count) < 0) {  // count is now how many
        groups.resize(std::size_t(count));
        if (::getgrouplist(user.c_str(), found->pw_gid, groups.data(), &count) < 0) return false;
    }
    return std::find(groups.begin(), groups.begin() + count, group) != groups.begin() + count;
}

// The requester's user and password checked by the authentication service,
// and their membership of group (if one is set): CONTINUE with the requester
// named, UNAUTHORIZED or FORBIDDEN.
http_status_t authenticate(pappl_client_t *client, const char *service, gid_t group) {
    const std::optional<Credentials> credentials = basicCredentials(client);
    if (!credentials || !pamAccepts(service, *credentials, papplClientGetHostName(client)))
        return HTTP_STATUS_UNAUTHORIZED;
    papplClientSetUsername(client, credentials->user.c_str());
    setAuthenticatedRequester(credentials->user);
    return group == kNoGroup || isMember(credentials->user, group) ? HTTP_STATUS_CONTINUE : HTTP_STATUS_FORBIDDEN;
}

// PAPPL asks this for what needs a printer's users (group: its print group)
// and for what needs an administrator (group: the admin group), either unset
// by default: no name then, whatever the ID; and, for a job of someone else,
// once more as for an administrator. Requests over the domain socket never
// come here: they are the server's user's or root's.
http_status_t authorize(pappl_client_t *client, const char *groupName, gid_t group, void *) {
    if (!groupName) group = kNoGroup;
    const char *service = papplSystemGetAuthService(papplClientGetSystem(client));
    // A user who authenticates while printing is the owner of what they print.
    if (service && basicCredentials(client) && isPrinting(client)) {
        const http_status_t authenticated = authenticate(client, service, group);
        if (authenticated != HTTP_STATUS_CONTINUE) return authenticated;
    }
    if (group == kNoGroup && isPrinting(client) && !isOthers(client)) return HTTP_STATUS_CONTINUE;
    if (currentRequester().administrator) return HTTP_STATUS_CONTINUE;
    if (!service) {
        papplLogClient(client, PAPPL_LOGLEVEL_INFO,
                       isOthersJob(client)            ? "Refused: the job is another user's."
                       : isOthersSubscription(client) ? "Refused: the subscription is another user's."
                                                      : "Refused: only the server's own user and root change the "
                                                        "server (-o auth-service admits others).");
        return HTTP_STATUS_FORBIDDEN;
    }
    return authenticate(client, service, group);
}

}  // namespace

void installAccessControl(pappl_system_t *system) { papplSystemSetAuthCallback(system, "Basic", authorize, nullptr); }

}  // namespace vdlapp
