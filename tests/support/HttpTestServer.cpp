#include "tests/support/HttpTestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <sstream>

namespace Dravelin::Test {

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool sendAll(int socket, const std::string& data)
{
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(socket, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

const char* reason(int status)
{
    switch (status) {
        case 200: return "OK";
        case 204: return "No Content";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 500: return "Internal Server Error";
        default: return "Status";
    }
}

}  // namespace

std::string HttpTestServer::Request::header(const std::string& lowerName) const
{
    const auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
}

HttpTestServer::Reply HttpTestServer::json(const std::string& body, int status)
{
    Reply reply;
    reply.status = status;
    reply.headers = {{"Content-Type", "application/dicom+json"}};
    reply.body = body;
    return reply;
}

HttpTestServer::Handler HttpTestServer::oneFailingSeries(int status)
{
    return [status](const Request& request) {
        const auto ui = [](const char* tag, const char* uid) {
            return "\"" + std::string(tag) + "\": {\"vr\": \"UI\", \"Value\": [\"" + uid + "\"]}";
        };
        const auto instance = [&](const char* uid, const char* number) {
            return "{" + ui("00080018", uid) + ", " + ui("0020000D", "S") + ", " + ui("0020000E", "R1") +
                   ", \"00100020\": {\"vr\": \"LO\", \"Value\": [\"P\"]}, \"00200013\": {\"vr\": \"IS\", "
                   "\"Value\": [" +
                   number + "]}}";
        };
        if (request.path == "/dicomweb/studies")
            return json("[{" + ui("0020000D", "S") + "}]");
        if (request.path == "/dicomweb/studies/S/series")
            return json("[{" + ui("0020000E", "R1") + "}, {" + ui("0020000E", "R2") + "}]");
        if (request.path == "/dicomweb/studies/S/series/R1/instances")
            return json("[" + instance("I1", "1") + ", " + instance("I2", "2") + "]");
        return json("{\"error\": \"no such series\"}", status);
    };
}

HttpTestServer::HttpTestServer(Handler handler) : m_handler(std::move(handler))
{
    m_listenSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (m_listenSocket < 0 || ::bind(m_listenSocket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(m_listenSocket, 64) != 0 ||
        ::getsockname(m_listenSocket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (m_listenSocket >= 0)
            ::close(m_listenSocket);
        m_listenSocket = -1;
        return;
    }
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { acceptLoop(); });
}

HttpTestServer::~HttpTestServer()
{
    m_stop = true;
    if (m_acceptor.joinable())
        m_acceptor.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        workers.swap(m_workers);
    }
    for (auto& worker : workers)
        worker.join();
    if (m_listenSocket >= 0)
        ::close(m_listenSocket);
}

std::string HttpTestServer::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<HttpTestServer::Request> HttpTestServer::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void HttpTestServer::acceptLoop()
{
    while (!m_stop) {
        pollfd fd{m_listenSocket, POLLIN, 0};
        if (::poll(&fd, 1, 50) <= 0)
            continue;
        const int socket = ::accept(m_listenSocket, nullptr, nullptr);
        if (socket < 0)
            continue;
        ++m_connections;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_workers.emplace_back([this, socket] { serve(socket); });
    }
}

void HttpTestServer::serve(int socket)
{
    std::string buffer;
    bool open = true;
    while (open && !m_stop) {
        const size_t end = buffer.find("\r\n\r\n");
        if (end == std::string::npos) {
            pollfd fd{socket, POLLIN, 0};
            if (::poll(&fd, 1, 50) <= 0)
                continue;
            char chunk[4096];
            const ssize_t n = ::recv(socket, chunk, sizeof(chunk), 0);
            if (n <= 0)
                break;
            buffer.append(chunk, static_cast<size_t>(n));
            continue;
        }
        std::istringstream head(buffer.substr(0, end));
        buffer.erase(0, end + 4);
        Request request;
        std::string target, line;
        head >> request.method >> target;
        std::getline(head, line);
        while (std::getline(head, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const auto colon = line.find(':');
            if (colon != std::string::npos) {
                std::string value = line.substr(colon + 1);
                value.erase(0, value.find_first_not_of(' '));
                request.headers[lower(line.substr(0, colon))] = value;
            }
        }
        const auto question = target.find('?');
        request.path = target.substr(0, question);
        request.query = question == std::string::npos ? std::string() : target.substr(question + 1);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
        }

        const Reply reply = m_handler(request);
        if (reply.mode == Reply::Mode::Silent) {
            while (!m_stop)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            break;
        }
        std::string response = "HTTP/1.1 " + std::to_string(reply.status) + " " + reason(reply.status) + "\r\n";
        for (const auto& [name, value] : reply.headers)
            response += name + ": " + value + "\r\n";
        response += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n\r\n";
        if (reply.mode == Reply::Mode::Trickle) {
            open = sendAll(socket, response);
            for (size_t i = 0; open && i < reply.body.size() && !m_stop; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                open = sendAll(socket, reply.body.substr(i, 1));
            }
            continue;
        }
        if (reply.mode == Reply::Mode::Truncated) {
            sendAll(socket, response + reply.body.substr(0, reply.body.size() / 2));
            break;
        }
        open = sendAll(socket, response + reply.body);
    }
    ::close(socket);
}

}  // namespace Dravelin::Test
