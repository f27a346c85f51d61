#include "portal/http_server.h"

#include <algorithm>
#include <cstring>

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace quilora::portal {

namespace {

thread_local bool dropRequested = false;

#ifdef _WIN32
int PollOne(socket_t sock, short events, int timeoutMs) {
    WSAPOLLFD p{sock, events, 0};
    return WSAPoll(&p, 1, timeoutMs);
}
void CloseSocket(socket_t sock) {
    shutdown(sock, SD_BOTH);
    closesocket(sock);
}
constexpr int kSendFlags = 0;
#else
int PollOne(socket_t sock, short events, int timeoutMs) {
    pollfd p{sock, events, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    return rc;
}
void CloseSocket(socket_t sock) {
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
}
constexpr int kSendFlags = MSG_NOSIGNAL;
#endif

void Address(socket_t sock, bool peer, std::string& ip, int& port) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    const int rc = peer ? getpeername(sock, reinterpret_cast<sockaddr*>(&addr), &len)
                        : getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len);
    if (rc != 0 || addr.ss_family != AF_INET)
        return;
    const auto* in = reinterpret_cast<const sockaddr_in*>(&addr);
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &in->sin_addr, buf, sizeof buf);
    ip = buf;
    port = ntohs(in->sin_port);
}

// A buffered stream over one accepted socket; writes fail once a drop is requested.
class ConnectionStream : public httplib::Stream {
public:
    ConnectionStream(socket_t sock, int readTimeoutMs, int writeTimeoutMs)
        : sock_(sock), readTimeoutMs_(readTimeoutMs), writeTimeoutMs_(writeTimeoutMs) {}

    bool is_readable() const override { return begin_ < end_ || PollOne(sock_, POLLIN, readTimeoutMs_) > 0; }
    bool is_writable() const override {
        return !dropRequested && PollOne(sock_, POLLOUT, writeTimeoutMs_) > 0;
    }

    ssize_t read(char* ptr, size_t size) override {
        if (begin_ == end_) {
            if (PollOne(sock_, POLLIN, readTimeoutMs_) <= 0)
                return -1;
            const auto n = ::recv(sock_, buffer_, sizeof buffer_, 0);
            if (n <= 0)
                return n;
            begin_ = 0;
            end_ = std::size_t(n);
        }
        const std::size_t n = std::min(size, end_ - begin_);
        std::memcpy(ptr, buffer_ + begin_, n);
        begin_ += n;
        return ssize_t(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (dropRequested || PollOne(sock_, POLLOUT, writeTimeoutMs_) <= 0)
            return -1;
        return ::send(sock_, ptr, size, kSendFlags);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(sock_, true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { Address(sock_, false, ip, port); }
    socket_t socket() const override { return sock_; }

    bool HasBuffered() const { return begin_ < end_; }

private:
    socket_t sock_;
    int readTimeoutMs_;
    int writeTimeoutMs_;
    char buffer_[4096];
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

} // namespace

void HttpServer::DropConnection() {
    dropRequested = true;
}

bool HttpServer::process_and_close_socket(socket_t sock) {
    int one = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    const int readMs = int(read_timeout_sec_ * 1000 + read_timeout_usec_ / 1000);
    const int writeMs = int(write_timeout_sec_ * 1000 + write_timeout_usec_ / 1000);
    ConnectionStream stream(sock, readMs, writeMs);
    std::string remoteIp;
    int remotePort = -1;
    stream.get_remote_ip_and_port(remoteIp, remotePort);

    // Waits for the next request in short slices, so that a stop is seen soon.
    auto nextRequestArrives = [&] {
        if (stream.HasBuffered())
            return true;
        for (time_t waited = 0; waited < keep_alive_timeout_sec_ * 1000; waited += 50) {
            if (svr_sock_ == INVALID_SOCKET)
                return false;
            const int rc = PollOne(sock, POLLIN, 50);
            if (rc != 0)
                return rc > 0;
        }
        return false;
    };

    bool ok = true;
    for (std::size_t left = keep_alive_max_count_; ok && left > 0 && nextRequestArrives(); --left) {
        dropRequested = false;
        bool connectionClosed = false;
        const bool closeAfter = left == 1 || svr_sock_ == INVALID_SOCKET;
        ok = process_request(stream, closeAfter, connectionClosed, [&](httplib::Request& req) {
            req.remote_addr = remoteIp;
            req.remote_port = remotePort;
        });
        ok = ok && !connectionClosed && !dropRequested;
    }
    dropRequested = false;
    CloseSocket(sock);
    return true;
}

} // namespace quilora::portal
