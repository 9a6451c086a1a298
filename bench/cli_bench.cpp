// tessaly-check against curl --parallel and LinkChecker on one list: 10,000
// addresses over 1,000 host names that curl resolves to loopback
// (hN.localhost), half present and half missing, every answer held back 20 ms
// by the server. Then 1,000,000 addresses on one host, for the peak memory.
//   build/bench/bench_cli [addresses hosts delay-ms big-addresses]
//
// The server is this program's own: one epoll thread that answers each
// request after the delay, keep-alive, so that the serving side costs the
// clients the same and never sets the pace. LinkChecker asks the system's
// resolver, which would send *.localhost names to DNS, so it gets the same
// paths on 127.0.0.1.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <csignal>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <queue>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

class DelayingServer {
public:
    explicit DelayingServer(int delayMilliseconds) : m_delay(delayMilliseconds)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        const int yes = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listener, 4096);
        socklen_t length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_epoll = ::epoll_create1(0);
        watch(m_listener);
        m_thread = std::thread([this] { serve(); });
        m_thread.detach();
    }
    int port() const { return m_port; }

private:
    struct Connection {
        std::string received;
        bool answering = false;
    };
    using Due = std::pair<Clock::time_point, int>;

    void watch(int socket)
    {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = socket;
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, socket, &event);
    }

    void serve()
    {
        std::vector<epoll_event> events(1024);
        for (;;) {
            int timeout = -1;
            if (!m_due.empty())
                timeout =
                    std::max<int>(0, std::chrono::ceil<std::chrono::milliseconds>(m_due.top().first - Clock::now()).count());
            const int ready = ::epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()), timeout);
            for (int i = 0; i < ready; ++i) {
                if (events[i].data.fd == m_listener)
                    acceptAll();
                else
                    readFrom(events[i].data.fd);
            }
            while (!m_due.empty() && m_due.top().first <= Clock::now()) {
                const int socket = m_due.top().second;
                m_due.pop();
                answer(socket);
            }
        }
    }

    void acceptAll()
    {
        for (int socket; (socket = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
            m_connections[socket] = {};
            watch(socket);
        }
    }

    void readFrom(int socket)
    {
        char buffer[4096];
        const ssize_t got = ::read(socket, buffer, sizeof buffer);
        if (got <= 0) {
            ::close(socket);  // a pending answer finds no connection and is dropped
            m_connections.erase(socket);
            return;
        }
        Connection& connection = m_connections[socket];
        connection.received.append(buffer, static_cast<size_t>(got));
        scheduleNext(socket, connection);
    }

    void scheduleNext(int socket, Connection& connection)
    {
        if (connection.answering || connection.received.find("\r\n\r\n") == std::string::npos)
            return;
        connection.answering = true;
        m_due.emplace(Clock::now() + std::chrono::milliseconds(m_delay), socket);
    }

    void answer(int socket)
    {
        const auto found = m_connections.find(socket);
        if (found == m_connections.end() || !found->second.answering)
            return;
        Connection& connection = found->second;
        const size_t end = connection.received.find("\r\n\r\n");
        const bool present = connection.received.compare(0, 13, "GET /present/") == 0;
        connection.received.erase(0, end + 4);
        connection.answering = false;
        // The LinkChecker header lets LinkChecker ask faster than ten times a
        // second per host; the others ignore it.
        static const std::string found200 = "HTTP/1.1 200 OK\r\nLinkChecker: yes\r\nContent-Length: 2\r\n\r\nok";
        static const std::string missing404 = "HTTP/1.1 404 Not Found\r\nLinkChecker: yes\r\nContent-Length: 7\r\n\r\nmissing";
        const std::string& reply = present ? found200 : missing404;
        [[maybe_unused]] const ssize_t sent = ::write(socket, reply.data(), reply.size());
        scheduleNext(socket, connection);
    }

    int m_delay;
    int m_listener = -1;
    int m_epoll = -1;
    int m_port = 0;
    std::unordered_map<int, Connection> m_connections;
    std::priority_queue<Due, std::vector<Due>, std::greater<>> m_due;
    std::thread m_thread;
};

struct Measured {
    double seconds = 0;
    double peakMegabytes = 0;
    int status = -1;
};

// Runs a command with standard input and output from and to files; its wall
// time and its own peak resident memory. One that outlasts the limit is
// stopped (status -1).
Measured run(const std::vector<std::string>& command, const std::string& in, const std::string& out,
             std::chrono::seconds limit = std::chrono::seconds(3600))
{
    const auto started = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int input = ::open(in.c_str(), O_RDONLY);
        const int output = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(input, 0);
        ::dup2(output, 1);
        ::dup2(null, 2);
        std::vector<char*> arguments;
        for (const std::string& each : command)
            arguments.push_back(const_cast<char*>(each.c_str()));
        arguments.push_back(nullptr);
        ::execvp(arguments[0], arguments.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, WNOHANG, &usage) == 0) {
        if (Clock::now() - started > limit) {
            ::kill(child, SIGKILL);
            ::wait4(child, &status, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Measured measured;
    measured.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    measured.peakMegabytes = usage.ru_maxrss / 1024.0;
    measured.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return measured;
}

std::vector<std::string> linesOf(const std::string& path)
{
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

bool presentAddress(const std::string& text) { return text.find("/present/") != std::string::npos; }

// Addresses whose verdict is what their status code implies.
size_t rightVerdictsOfTessaly(const std::string& report)
{
    size_t right = 0;
    for (const std::string& line : linesOf(report)) {
        const bool valid = line.rfind("valid\t", 0) == 0;
        right += valid == presentAddress(line);
    }
    return right;
}

size_t rightVerdictsOfCurl(const std::string& report)
{
    size_t right = 0;
    for (const std::string& line : linesOf(report))
        right += (line.rfind("200 ", 0) == 0 && presentAddress(line))
              || (line.rfind("404 ", 0) == 0 && !presentAddress(line));
    return right;
}

void print(const char* name, const Measured& measured, double baseline, size_t right, size_t total)
{
    std::printf("%-28s %8.2f s %7.2f x curl %8.1f MB peak   %zu of %zu verdicts as the status codes imply (exit %d)\n",
                name, measured.seconds, measured.seconds / baseline, measured.peakMegabytes, right, total, measured.status);
}
}  // namespace

int main(int argc, char* argv[])
{
    const int addresses = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int hosts = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int delay = argc > 3 ? std::atoi(argv[3]) : 20;
    const int bigAddresses = argc > 4 ? std::atoi(argv[4]) : 1000000;
    const std::string work = "/tmp/bench_cli." + std::to_string(::getpid());
    ::mkdir(work.c_str(), 0755);

    // The servers serve on their own threads until the program ends.
    const DelayingServer& server = *new DelayingServer(delay);
    const std::string port = std::to_string(server.port());
    {
        std::ofstream list(work + "/list.txt");
        std::ofstream curlConfig(work + "/curl.config");
        std::ofstream numeric(work + "/list-127.txt");
        for (int i = 0; i < addresses; ++i) {
            const std::string path = (i % 2 == 0 ? "/present/" : "/missing/") + std::to_string(i);
            const std::string address = "http://h" + std::to_string(i % hosts) + ".localhost:" + port + path;
            list << address << '\n';
            curlConfig << "url = \"" << address << "\"\noutput = \"/dev/null\"\n";
            numeric << "http://127.0.0.1:" << port << path << '\n';
        }
    }
    std::printf("%d addresses over %d host names, answers %d ms late, half present:\n", addresses, hosts, delay);
    const Measured curl = run({"curl", "--parallel", "--parallel-max", "64", "--silent", "--write-out",
                               "%{http_code} %{url}\\n", "--config", work + "/curl.config"},
                              "/dev/null", work + "/curl.out");
    const Measured tessaly = run({TESSALY_CHECK, "--jobs", "64", work + "/list.txt"}, "/dev/null", work + "/tessaly.out");
    print("curl --parallel-max 64", curl, curl.seconds, rightVerdictsOfCurl(work + "/curl.out"), addresses);
    print("tessaly-check --jobs 64", tessaly, curl.seconds, rightVerdictsOfTessaly(work + "/tessaly.out"), addresses);
    if (::access("/usr/bin/linkchecker", X_OK) == 0) {
        // Its own limit of requests per host and second lifted, as far as it goes.
        std::ofstream(work + "/linkcheckerrc") << "[checking]\nmaxrequestspersecond=100000\n";
        const Measured linkchecker = run({"linkchecker", "--config", work + "/linkcheckerrc", "--stdin", "--no-robots",
                                          "--threads", "64", "--recursion-level", "0", "--no-status", "--verbose",
                                          "--output", "csv"},
                                         work + "/list-127.txt", work + "/linkchecker.out", std::chrono::seconds(600));
        size_t right = 0;
        for (const std::string& line : linesOf(work + "/linkchecker.out")) {
            if (line.find("/present/") == std::string::npos && line.find("/missing/") == std::string::npos)
                continue;
            const bool valid = line.find(";True;") != std::string::npos;
            right += valid == presentAddress(line.substr(0, line.find(';')));
        }
        print("linkchecker --threads 64", linkchecker, curl.seconds, right, addresses);
    }

    if (bigAddresses > 0) {
        const DelayingServer& quick = *new DelayingServer(0);
        {
            std::ofstream list(work + "/big.txt");
            const std::string quickPort = std::to_string(quick.port());
            for (int i = 0; i < bigAddresses; ++i)
                list << "http://127.0.0.1:" << quickPort << (i % 2 == 0 ? "/present/" : "/missing/") << i << '\n';
        }
        const Measured big = run({TESSALY_CHECK, "--jobs", "64", work + "/big.txt"}, "/dev/null", work + "/big.out");
        std::printf("%d addresses on one host, no delay: tessaly-check %.1f s, %.1f MB peak (exit %d), %zu of %d "
                    "verdicts as the status codes imply\n",
                    bigAddresses, big.seconds, big.peakMegabytes, big.status, rightVerdictsOfTessaly(work + "/big.out"),
                    bigAddresses);
    }
    if (!std::getenv("BENCH_KEEP"))
        std::system(("rm -rf " + work).c_str());
    return 0;
}
