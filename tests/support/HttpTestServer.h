#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace Dravelin::Test {

// A small HTTP/1.1 server on 127.0.0.1 (a free port) for what real servers will not do on
// demand: error statuses, broken bodies, capped results, silence. Each connection runs on its
// own thread and may carry several requests (keep-alive). The handler runs on those threads.
class HttpTestServer
{
public:
    struct Request
    {
        std::string method;
        std::string path;                            // without query, still percent-encoded
        std::string query;                           // without "?"
        std::map<std::string, std::string> headers;  // names in lower case
        std::string header(const std::string& lowerName) const;
    };
    struct Reply
    {
        enum class Mode {
            Normal,
            Truncated,  // announces the whole body, sends half of it and closes
            Silent,     // never answers (until the server stops)
            Trickle,    // sends the body one byte every 50 ms
        };
        int status = 200;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
        Mode mode = Mode::Normal;
    };
    using Handler = std::function<Reply(const Request&)>;

    explicit HttpTestServer(Handler handler);
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    bool isListening() const { return m_port > 0; }
    int port() const { return m_port; }
    // "http://127.0.0.1:PORT" + path
    std::string url(const std::string& path = std::string()) const;

    std::vector<Request> requests() const;
    int connectionCount() const { return m_connections.load(); }

    static Reply json(const std::string& body, int status = 200);

    // A DICOMweb root at "/dicomweb": study S holds series R1 (instances I1 and I2, numbered 1 and 2, of patient P)
    // and R2, whose instance search answers `status`. Other paths answer `status` too.
    static Handler oneFailingSeries(int status);

private:
    void acceptLoop();
    void serve(int socket);

    Handler m_handler;
    int m_listenSocket = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::thread m_acceptor;
    mutable std::mutex m_mutex;
    std::vector<std::thread> m_workers;
    std::vector<Request> m_requests;
};

}  // namespace Dravelin::Test
