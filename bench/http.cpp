// Downloading 256 MiB over loopback: our HTTP client against curl fetching
// the same URL from the same server in the same run.
//
// The server is a thread of this program on 127.0.0.1 that answers every
// request with a Content-Length reply of 256 MiB sent from memory in 4 MiB
// writes.  Our side hands the body to a consumer that only counts it; curl
// writes to /dev/null and its own transfer time (time_total, which leaves out
// starting the process) is the time measured.
#include "nethttp/httpclient.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr long long kBodyBytes = 256LL << 20;
constexpr std::size_t kWriteBytes = 4 << 20;

class BodyServer {
public:
    BodyServer() : block_(kWriteBytes) {
        for (std::size_t i = 0; i < block_.size(); ++i) block_[i] = static_cast<char>(i * 31 + 7);
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(listen_, 16) != 0) {
            std::perror("listen");
            std::exit(1);
        }
        socklen_t len = sizeof sa;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&sa), &len);
        port_ = ntohs(sa.sin_port);
        std::thread([this] { serve(); }).detach();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/blob"; }

private:
    void serve() {
        for (;;) {
            int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            std::thread([this, c] { answer(c); }).detach();
        }
    }
    void answer(int c) {
        std::string head;
        char buf[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0) {
                ::close(c);
                return;
            }
            head.append(buf, static_cast<std::size_t>(n));
        }
        const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                                  std::to_string(kBodyBytes) + "\r\nConnection: close\r\n\r\n";
        bool ok = sendAll(c, reply.data(), reply.size());
        for (long long sent = 0; ok && sent < kBodyBytes; sent += static_cast<long long>(block_.size()))
            ok = sendAll(c, block_.data(), block_.size());
        ::shutdown(c, SHUT_WR);
        while (::recv(c, buf, sizeof buf, 0) > 0) {
        }
        ::close(c);
    }
    static bool sendAll(int fd, const char* p, std::size_t n) {
        while (n > 0) {
            ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
            if (k <= 0) return false;
            p += k;
            n -= static_cast<std::size_t>(k);
        }
        return true;
    }

    std::vector<char> block_;
    int listen_ = -1;
    int port_ = 0;
};

BodyServer& server() {
    static BodyServer s;
    return s;
}

// Takes the body and only counts it, as a download to a fast sink would.
class CountingResponse : public cHttpResponse {
public:
    bool onData(const unsigned char* buf, long long len, unsigned long long) override {
        bytes += len;
        benchmark::DoNotOptimize(buf[len - 1]);
        return true;
    }
    long long bytes = 0;
};

void BM_Download256MiB_cHttpTransport(benchmark::State& state) {
    const std::string url = server().url();
    for (auto _ : state) {
        cHttpRequest req(cHttpRequest::GET, url.c_str(), 1);
        cHttpTransport t;
        CountingResponse resp;
        if (!t.processRequest(req, resp) || resp.bytes != kBodyBytes) {
            state.SkipWithError("download failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * kBodyBytes);
}
BENCHMARK(BM_Download256MiB_cHttpTransport)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_Download256MiB_curl(benchmark::State& state) {
    const std::string cmd = "curl -s -o /dev/null -w '%{time_total} %{size_download}' '" + server().url() + "'";
    for (auto _ : state) {
        FILE* p = ::popen(cmd.c_str(), "r");
        double seconds = 0;
        long long size = 0;
        int got = p ? std::fscanf(p, "%lf %lld", &seconds, &size) : 0;
        int rc = p ? ::pclose(p) : -1;
        if (got != 2 || rc != 0 || size != kBodyBytes) {
            state.SkipWithError("curl failed (is it installed?)");
            return;
        }
        state.SetIterationTime(seconds);
    }
    state.SetBytesProcessed(state.iterations() * kBodyBytes);
}
BENCHMARK(BM_Download256MiB_curl)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
