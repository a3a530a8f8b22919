#include "tests/support/tiny_http_server.h"

TinyHttpServer::TinyHttpServer(DWORD lifetimeMs) {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;  // any free port
    int length = sizeof(address);
    if (listener_ == INVALID_SOCKET ||
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    port_ = ntohs(address.sin_port);
    const DWORD end = GetTickCount() + lifetimeMs;
    thread_ = std::thread([this, end] { Serve(end); });
}

TinyHttpServer::~TinyHttpServer() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ != INVALID_SOCKET)
        closesocket(listener_);
    if (started_)
        WSACleanup();
}

std::wstring TinyHttpServer::Url(const std::wstring& path) const {
    return L"http://127.0.0.1:" + std::to_wstring(port_) + path;
}

void TinyHttpServer::Answer(const std::string& path, const Response& response) {
    std::lock_guard<std::mutex> lock(mutex_);
    responses_[path] = response;
}

int TinyHttpServer::Requests(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = counts_.find(path);
    return it == counts_.end() ? 0 : it->second;
}

std::string TinyHttpServer::LastHeaders(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return headers_[path];
}

void TinyHttpServer::Serve(DWORD end) {
    while (!stop_ && static_cast<LONG>(end - GetTickCount()) > 0) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener_, &readable);
        timeval wait = {0, 100 * 1000};
        if (select(0, &readable, nullptr, nullptr, &wait) != 1)
            continue;
        SOCKET client = accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            continue;
        clients_.emplace_back([this, client] {
            Reply(client);
            closesocket(client);
        });
    }
    for (std::thread& client : clients_)
        client.join();
}

void TinyHttpServer::Reply(SOCKET client) {
    DWORD timeoutMs = 2000;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
               sizeof(timeoutMs));
    std::string request;
    char buffer[1024];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
        const int got = recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0)
            break;
        request.append(buffer, got);
    }
    const size_t start = request.find(' ');
    const size_t stop = request.find(' ', start + 1);
    if (start == std::string::npos || stop == std::string::npos)
        return;
    const std::string path = request.substr(start + 1, stop - start - 1);
    Response response;
    response.headers = "Content-Type: text/html\r\n";
    response.body = "<html><body>test</body></html>";
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counts_[path];
        const size_t lineEnd = request.find("\r\n");
        const size_t headersEnd = request.find("\r\n\r\n");
        headers_[path] = lineEnd < headersEnd ? request.substr(lineEnd + 2, headersEnd - lineEnd)
                                              : std::string();
        const auto it = responses_.find(path);
        if (it != responses_.end())
            response = it->second;
    }
    const std::string head =
        "HTTP/1.0 " + response.status + "\r\n" + response.headers + "Content-Length: " +
        (response.length.empty() ? std::to_string(response.body.size()) : response.length) +
        "\r\nConnection: close\r\n\r\n";
    const std::string body = response.body.substr(0, response.sendOnly);
    send(client, head.data(), static_cast<int>(head.size()), 0);
    Sleep(response.pauseMs);
    send(client, body.data(), static_cast<int>(body.size()), 0);
}
