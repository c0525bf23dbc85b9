// The address of a Unix-domain socket file, whatever the length of its path.
//
// sun_path holds 107 bytes. A user's runtime folder is normally short, but one set inside a
// deep folder (a build tree, a sandbox) leaves no room for the registry's socket names. Such
// a socket is then addressed through a descriptor of its folder, as /proc/self/fd/N/NAME; the
// descriptor stays open for as long as this object lives, so bind() and connect() made with
// address() reach the file at PATH. A path whose last component alone does not fit, or whose
// folder cannot be opened, gives an invalid address (errno tells why).
#pragma once

#include <QString>
#include <sys/socket.h>
#include <sys/un.h>

class UnixSocketAddress {
public:
    explicit UnixSocketAddress(const QString &path);
    ~UnixSocketAddress();
    UnixSocketAddress(const UnixSocketAddress &) = delete;
    UnixSocketAddress &operator=(const UnixSocketAddress &) = delete;

    bool isValid() const { return length != 0; }
    // Only when isValid().
    const sockaddr *address() const { return reinterpret_cast<const sockaddr *>(&addr); }
    socklen_t size() const { return length; }

private:
    sockaddr_un addr{};
    socklen_t length = 0;
    int folder = -1;
};
