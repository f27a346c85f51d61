#pragma once
// A small SMTP server on 127.0.0.1 for the notification tests: EHLO/HELO,
// AUTH PLAIN/LOGIN, MAIL, RCPT, DATA, RSET, NOOP, QUIT. It records every
// message and every sign-in; it can refuse the recipients (550) or hang
// (accept connections and never greet them; those after Release are served).
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quilora::test {

class SmtpServer {
public:
    enum class Mode { Accept, RefuseRecipients, Hang };

    struct Message {
        std::string from;
        std::vector<std::string> to;
        std::string data; // as received, dot-stuffing undone, CRLF line ends
    };

    // anyAddress: listen on every interface, not only on loopback.
    explicit SmtpServer(Mode mode = Mode::Accept, bool anyAddress = false) : mode_(mode) {
        listen_ = socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(anyAddress ? INADDR_ANY : INADDR_LOOPBACK);
        a.sin_port = 0;
        if (bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listen_, 8) != 0)
            return;
        socklen_t len = sizeof a;
        getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~SmtpServer() {
        stop_ = true;
        Release();
        if (thread_.joinable())
            thread_.join();
        close(listen_);
    }
    SmtpServer(const SmtpServer&) = delete;
    SmtpServer& operator=(const SmtpServer&) = delete;

    int Port() const { return port_; }
    // This machine's first IPv4 address that is not loopback; empty when it has none.
    static std::string OutsideAddress() {
        ifaddrs* list = nullptr;
        if (getifaddrs(&list) != 0)
            return {};
        std::string found;
        for (const ifaddrs* i = list; i && found.empty(); i = i->ifa_next) {
            if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
                continue;
            const auto* in = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
            if ((ntohl(in->sin_addr.s_addr) >> 24) == 127)
                continue;
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
            found = text;
        }
        freeifaddrs(list);
        return found;
    }
    std::string Url() const { return "smtp://127.0.0.1:" + std::to_string(port_); }

    // A hanging server serves the connections that come after this.
    void Release() {
        {
            const std::lock_guard lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }

    std::vector<Message> Messages() const {
        const std::lock_guard lock(mutex_);
        return messages_;
    }
    // "user\0password" of each AUTH, decoded.
    std::vector<std::string> Logins() const {
        const std::lock_guard lock(mutex_);
        return logins_;
    }
    int Connections() const { return connections_; }
    bool WaitForMessages(std::size_t n, std::chrono::milliseconds bound) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, bound, [&] { return messages_.size() >= n; });
    }

private:
    void Serve() {
        while (!stop_) {
            pollfd p{listen_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            const int fd = accept(listen_, nullptr, nullptr);
            if (fd < 0)
                continue;
            ++connections_;
            if (Hanging()) {
                held_.push_back(fd); // connected, and never greeted
                continue;
            }
            Talk(fd);
            close(fd);
        }
        for (const int fd : held_)
            close(fd);
    }

    bool Hanging() const {
        const std::lock_guard lock(mutex_);
        return mode_ == Mode::Hang && !released_;
    }

    // The next line without its CRLF; nullopt when the client went away or the server stops.
    std::optional<std::string> ReadLine(int fd, std::string& buffer) {
        while (true) {
            if (const auto end = buffer.find("\r\n"); end != std::string::npos) {
                std::string line = buffer.substr(0, end);
                buffer.erase(0, end + 2);
                return line;
            }
            pollfd p{fd, POLLIN, 0};
            if (stop_)
                return std::nullopt;
            if (poll(&p, 1, 50) <= 0)
                continue;
            char chunk[4096];
            const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return std::nullopt;
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }

    static void Send(int fd, const std::string& line) {
        const std::string out = line + "\r\n";
        (void)send(fd, out.data(), out.size(), MSG_NOSIGNAL);
    }

    static std::string Upper(std::string s) {
        for (char& c : s)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 32);
        return s;
    }

    static std::string Decode64(const std::string& in) {
        static const std::string alphabet =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string out;
        unsigned bits = 0;
        int count = 0;
        for (const char c : in) {
            const auto at = alphabet.find(c);
            if (at == std::string::npos)
                continue;
            bits = bits << 6 | static_cast<unsigned>(at);
            if ((count += 6) >= 8) {
                count -= 8;
                out += static_cast<char>(bits >> count & 0xFF);
            }
        }
        return out;
    }

    static std::string Address(const std::string& arg) {
        const auto open = arg.find('<');
        const auto close = arg.find('>');
        return open == std::string::npos || close == std::string::npos
                   ? arg
                   : arg.substr(open + 1, close - open - 1);
    }

    void Talk(int fd) {
        std::string buffer;
        Send(fd, "220 127.0.0.1 test SMTP");
        Message current;
        while (const auto line = ReadLine(fd, buffer)) {
            const std::string verb = Upper(line->substr(0, line->find(' ')));
            const std::string arg =
                line->find(' ') == std::string::npos ? "" : line->substr(line->find(' ') + 1);
            if (verb == "EHLO") {
                Send(fd, "250-127.0.0.1");
                Send(fd, "250-AUTH PLAIN LOGIN");
                Send(fd, "250 8BITMIME");
            } else if (verb == "HELO") {
                Send(fd, "250 127.0.0.1");
            } else if (verb == "AUTH") {
                Auth(fd, buffer, arg);
            } else if (verb == "MAIL") {
                current = Message{};
                current.from = Address(arg);
                Send(fd, "250 OK");
            } else if (verb == "RCPT") {
                if (mode_ == Mode::RefuseRecipients) {
                    Send(fd, "550 5.1.1 mailbox unavailable");
                } else {
                    current.to.push_back(Address(arg));
                    Send(fd, "250 OK");
                }
            } else if (verb == "DATA") {
                Send(fd, "354 go ahead");
                while (const auto dataLine = ReadLine(fd, buffer)) {
                    if (*dataLine == ".")
                        break;
                    current.data +=
                        (dataLine->rfind("..", 0) == 0 ? dataLine->substr(1) : *dataLine) + "\r\n";
                }
                {
                    const std::lock_guard lock(mutex_);
                    messages_.push_back(current);
                }
                changed_.notify_all();
                Send(fd, "250 OK queued");
            } else if (verb == "RSET" || verb == "NOOP") {
                Send(fd, "250 OK");
            } else if (verb == "QUIT") {
                Send(fd, "221 bye");
                return;
            } else {
                Send(fd, "502 not implemented");
            }
        }
    }

    void Auth(int fd, std::string& buffer, const std::string& arg) {
        const std::string mechanism = Upper(arg.substr(0, arg.find(' ')));
        std::string initial = arg.find(' ') == std::string::npos ? "" : arg.substr(arg.find(' ') + 1);
        std::string login;
        if (mechanism == "PLAIN") {
            if (initial.empty()) {
                Send(fd, "334 ");
                initial = ReadLine(fd, buffer).value_or("");
            }
            const std::string plain = Decode64(initial); // authzid \0 user \0 password
            login = plain.substr(plain.find('\0') + 1);
        } else if (mechanism == "LOGIN") {
            Send(fd, "334 VXNlcm5hbWU6");
            const std::string user = Decode64(ReadLine(fd, buffer).value_or(""));
            Send(fd, "334 UGFzc3dvcmQ6");
            login = user + std::string(1, '\0') + Decode64(ReadLine(fd, buffer).value_or(""));
        } else {
            Send(fd, "504 unrecognised mechanism");
            return;
        }
        {
            const std::lock_guard lock(mutex_);
            logins_.push_back(login);
        }
        Send(fd, "235 2.7.0 accepted");
    }

    const Mode mode_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool released_ = false;
    std::vector<Message> messages_;
    std::vector<std::string> logins_;
    std::vector<int> held_; // the server thread's own
    std::thread thread_;
};

} // namespace quilora::test
