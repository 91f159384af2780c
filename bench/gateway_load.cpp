// Load for harvix-gateway: N clients, each on a keep-alive connection of
// its own, send one search again and again for some seconds (or once),
// and check that every reply is complete. Prints one line of key=value
// pairs.
//
//   gateway_load --port P --path PATH --clients N [--seconds S | --once]

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char *argv[])
{
    int port = 8470;
    int clients = 8;
    double seconds = 5;
    bool once = false;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--port") && hasValue)
            port = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--path") && hasValue)
            path = argv[++i];
        else if (!std::strcmp(argv[i], "--clients") && hasValue)
            clients = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--seconds") && hasValue)
            seconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--once"))
            once = true;
    }
    if (path.empty()) {
        std::fprintf(stderr, "usage: gateway_load --port P --path PATH --clients N [--seconds S | --once]\n");
        return 2;
    }

    std::atomic<long> requests { 0 }, failures { 0 }, bytes { 0 };
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::duration<double>(seconds);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_read_timeout(300, 0);
            do {
                const httplib::Result result = client.Get(path.c_str());
                const bool complete = result && result->status == 200
                    && result->body.size() > 15
                    && result->body.compare(result->body.size() - 11, 11, "</quakeml>\n") == 0;
                ++requests;
                if (!complete)
                    ++failures;
                else
                    bytes += long(result->body.size());
            } while (!once && std::chrono::steady_clock::now() < deadline);
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("clients=%d requests=%ld failures=%ld bytes=%ld seconds=%.3f per_second=%.0f\n", clients,
                requests.load(), failures.load(), bytes.load(), elapsed, requests / elapsed);
    return failures ? 1 : 0;
}
