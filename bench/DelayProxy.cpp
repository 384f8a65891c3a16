// A TCP proxy on 127.0.0.1 that holds every byte back for a fixed time in each direction, as a
// distant network would, without limiting how many bytes are on their way.
//
// Usage: plovermantle_delay_proxy TARGET_PORT DELAY_MS   (prints the port it listens on)

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

// One direction: a reader queues what arrives with its time, a writer sends it once due.
void pump(int from, int to, std::chrono::milliseconds delay) {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::pair<Clock::time_point, std::vector<char>>> queue;
    bool ended = false;
    std::thread writer([&] {
        std::unique_lock lock(mutex);
        while (true) {
            ready.wait(lock, [&] { return ended || !queue.empty(); });
            if (queue.empty()) {
                break;
            }
            auto [due, data] = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            std::this_thread::sleep_until(due);
            std::size_t done = 0;
            while (done < data.size()) {
                const ssize_t wrote =
                    ::send(to, data.data() + done, data.size() - done, MSG_NOSIGNAL);
                if (wrote <= 0) {
                    break;
                }
                done += static_cast<std::size_t>(wrote);
            }
            lock.lock();
        }
        ::shutdown(to, SHUT_WR);
    });
    std::vector<char> buffer(256 * 1024);
    while (true) {
        const ssize_t got = ::recv(from, buffer.data(), buffer.size(), 0);
        const std::lock_guard lock(mutex);
        if (got <= 0) {
            ended = true;
            ready.notify_one();
            break;
        }
        queue.emplace_back(Clock::now() + delay,
                           std::vector<char>(buffer.begin(), buffer.begin() + got));
        ready.notify_one();
    }
    writer.join();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s TARGET_PORT DELAY_MS\n", argv[0]);
        return 2;
    }
    const int target = std::atoi(argv[1]);
    const std::chrono::milliseconds delay(std::atoi(argv[2]));
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("listen");
        return 1;
    }
    std::printf("%d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    while (true) {
        const int client = ::accept(listener, nullptr, nullptr);
        if (client < 0) {
            continue;
        }
        std::thread([client, target, delay] {
            const int server = ::socket(AF_INET, SOCK_STREAM, 0);
            const sockaddr_in to = loopback(target);
            if (::connect(server, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
                const int on = 1;
                ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                std::thread back(pump, server, client, delay);
                pump(client, server, delay);
                back.join();
            }
            ::close(server);
            ::close(client);
        }).detach();
    }
}
