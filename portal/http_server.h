#pragma once
// An httplib server that runs its own keep-alive loop per connection, so that a
// handler can have the connection closed without a single byte written (the
// library would always write a response).
#include <httplib.h>

namespace quilora::portal {

class HttpServer : public httplib::Server {
public:
    // From inside a handler: close this request's connection instead of answering.
    static void DropConnection();

private:
    bool process_and_close_socket(socket_t sock) override;
};

} // namespace quilora::portal
