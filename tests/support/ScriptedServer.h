#pragma once

// A small HTTP server on a free port of 127.0.0.1 that answers each path as the test scripted
// it: status, body, headers and a wait before answering. For replies the reference service
// never gives. Tests that use it link PkgConfig::HTTPLIB.

#include <httplib.h>

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

class ScriptedServer
{
public:
    struct Reply
    {
        int status = 200;
        QByteArray body;
        QList<std::pair<std::string, std::string>> headers;
        std::chrono::milliseconds wait{0};
    };

    ScriptedServer()
    {
        const auto answer = [this](const httplib::Request &req, httplib::Response &res) {
            Reply reply;
            {
                std::lock_guard lock(mutex_);
                ++requests_[req.path];
                const auto it = replies_.find(req.path);
                if (it == replies_.end()) {
                    res.status = 404;
                    return;
                }
                reply = it->second;
            }
            std::this_thread::sleep_for(reply.wait);
            res.status = reply.status;
            for (const auto &[name, value] : reply.headers)
                res.set_header(name, value);
            res.set_content(reply.body.toStdString(), "text/plain");
        };
        http_.Get(".*", answer);
        http_.Post(".*", answer);
        port_ = http_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { http_.listen_after_bind(); });
    }
    ~ScriptedServer()
    {
        while (!http_.is_running())
            std::this_thread::yield();
        http_.stop();
        thread_.join();
    }

    void script(const std::string &path, Reply reply)
    {
        std::lock_guard lock(mutex_);
        replies_[path] = std::move(reply);
    }
    int requests(const std::string &path)
    {
        std::lock_guard lock(mutex_);
        return requests_[path];
    }
    int port() const { return port_; }

private:
    httplib::Server http_;
    std::thread thread_;
    std::mutex mutex_;
    std::map<std::string, Reply> replies_;
    std::map<std::string, int> requests_;
    int port_ = 0;
};
