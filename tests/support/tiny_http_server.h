#pragma once

// A small HTTP/1.0 server of a test's own on 127.0.0.1, on a thread of its
// own and one more for each connection: it answers each path as told (200
// and a small page by default), counts requests by path (query included)
// and keeps the headers of the last request to each. Ends by itself after
// `lifetimeMs` at the latest.

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TinyHttpServer {
  public:
    struct Response {
        std::string status = "200 OK";
        std::string headers;  // each line with its CRLF
        std::string body;
        // Sends only this many bytes of the body, then closes: a cut-off
        // transfer whose Content-Length promised more.
        std::size_t sendOnly = std::string::npos;
        // The Content-Length sent, when not the body's own.
        std::string length{};
        // Between the headers and the body: a transfer that takes a while.
        DWORD pauseMs = 0;
    };

    explicit TinyHttpServer(DWORD lifetimeMs = 60000);
    ~TinyHttpServer();
    TinyHttpServer(const TinyHttpServer&) = delete;
    TinyHttpServer& operator=(const TinyHttpServer&) = delete;

    bool Running() const { return port_ != 0; }
    std::wstring Url(const std::wstring& path) const;
    void Answer(const std::string& path, const Response& response);
    int Requests(const std::string& path);
    // The header lines of the last request to `path`, CRLFs included.
    std::string LastHeaders(const std::string& path);

  private:
    void Serve(DWORD end);
    void Reply(SOCKET client);

    bool started_ = false;
    SOCKET listener_ = INVALID_SOCKET;
    unsigned short port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::vector<std::thread> clients_;  // the serving thread's alone
    std::mutex mutex_;
    std::map<std::string, int> counts_;
    std::map<std::string, std::string> headers_;
    std::map<std::string, Response> responses_;
};
