// Cost of the port layer's hot path and of the clock thread.
//
//   * PortAvailable / PortRead on an idle and a busy pty, TCP server and TCP
//     client port, next to a bare FIONREAD on the same kind of descriptor;
//   * the CPU share of a loop stepping PortAvailable every 1 ms, against a
//     bare FIONREAD + 1 ms sleep loop (the GUI's exchange loops look like
//     this);
//   * the CPU share of the clock thread, against a bare thread that samples
//     CLOCK_MONOTONIC every 1 ms;
//   * the same two shares measured as pairs running at the same time.
//
// The share runs take VX_BENCH_SECONDS each (default 10). CPU time of a
// thread is read from /proc/self/task/<tid>/schedstat (nanoseconds on the
// CPU), the same way for ours and for the bare reference.
//
//   build-port/benchmarks/bench_port                       # everything
//   build-port/benchmarks/bench_port --benchmark_filter=Share
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>

#include "port/clock.h"
#include "port/port.h"

namespace {

int share_seconds() {
    const char* s = getenv("VX_BENCH_SECONDS");
    int v = s ? atoi(s) : 10;
    return v > 0 ? v : 10;
}

double monotonic_s() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

pid_t gettid_() { return pid_t(syscall(SYS_gettid)); }

// Nanoseconds a thread of this process has spent on a CPU.
double task_cpu_s(pid_t tid) {
    char path[64];
    snprintf(path, sizeof path, "/proc/self/task/%d/schedstat", int(tid));
    FILE* f = fopen(path, "r");
    if (!f) return -1;
    unsigned long long ns = 0;
    int ok = fscanf(f, "%llu", &ns);
    fclose(f);
    return ok == 1 ? double(ns) / 1e9 : -1;
}

std::set<pid_t> tasks() {
    std::set<pid_t> s;
    DIR* d = opendir("/proc/self/task");
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') s.insert(pid_t(atoi(e->d_name)));
    closedir(d);
    return s;
}

// --- line set-ups -------------------------------------------------------------------

struct PtyLine {
    int master = -1, slave = -1;
    char name[128] = {};
    PortHandle h = 0;
    PtyLine() {
        openpty(&master, &slave, name, nullptr, nullptr);
        termios t;
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        PortOpen(&h, name);
    }
    ~PtyLine() {
        PortClose(h);
        close(master);
        close(slave);
    }
    int far() const { return master; }
    int near_fd() const { return slave; }
};

int loopback_listen() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd, 4);
    return fd;
}

uint16_t port_of(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

int loopback_connect(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}

struct ServerLine {
    PortHandle h = 0;
    int peer = -1;
    ServerLine() {
        PortOpen(&h, "TCPS_0");
        peer = loopback_connect(PortTcpLocalPort(h));
        // Until the port has accepted, a byte sent by the peer cannot arrive.
        send(peer, "!", 1, MSG_NOSIGNAL);
        uint8_t b;
        for (int i = 0; i < 5000 && PortAvailable(h) < 1; ++i) SleepMs(1);
        PortRead(h, &b, 1);
    }
    ~ServerLine() {
        PortClose(h);
        close(peer);
    }
    int far() const { return peer; }
};

struct ClientLine {
    PortHandle h = 0;
    int listener = -1, peer = -1;
    ClientLine() {
        listener = loopback_listen();
        std::string name = "TCPC_127.0.0.1:" + std::to_string(port_of(listener));
        PortOpen(&h, name.c_str());
        PortWrite(h, "!", 1);  // waits for the connect
        peer = accept(listener, nullptr, nullptr);
        uint8_t b;
        recv(peer, &b, 1, 0);
    }
    ~ClientLine() {
        PortClose(h);
        close(peer);
        close(listener);
    }
    int far() const { return peer; }
};

void far_write(int fd, const uint8_t* d, int n) {
    int done = 0;
    while (done < n) {
        ssize_t k = write(fd, d + done, size_t(n - done));
        if (k > 0) done += int(k);
    }
}

// --- per-call cost -----------------------------------------------------------------

template <class Line>
void BM_AvailableIdle(benchmark::State& state) {
    Line line;
    for (auto _ : state) benchmark::DoNotOptimize(PortAvailable(line.h));
}

template <class Line>
void BM_ReadIdle(benchmark::State& state) {
    Line line;
    uint8_t buf[16];
    for (auto _ : state) benchmark::DoNotOptimize(PortRead(line.h, buf, 16));
}

// Busy: the far end sends a 64-byte reply; the port is stepped with
// PortAvailable until all of it is there, then it is taken with PortRead.
// One iteration is one such reply; calls counts the PortAvailable steps.
template <class Line>
void BM_AvailableReadBusy(benchmark::State& state) {
    Line line;
    uint8_t reply[64], buf[64];
    for (int i = 0; i < 64; ++i) reply[i] = uint8_t(i);
    uint64_t calls = 0;
    for (auto _ : state) {
        far_write(line.far(), reply, 64);
        while (PortAvailable(line.h) < 64) ++calls;
        ++calls;
        benchmark::DoNotOptimize(PortRead(line.h, buf, 64));
    }
    state.counters["available_calls_per_reply"] =
        benchmark::Counter(double(calls) / double(state.iterations()));
}

void BM_BareFionreadIdlePty(benchmark::State& state) {
    PtyLine line;
    int q;
    for (auto _ : state) {
        ioctl(line.near_fd(), FIONREAD, &q);
        benchmark::DoNotOptimize(q);
    }
}

void BM_BareFionreadIdleSocket(benchmark::State& state) {
    int l = loopback_listen();
    int a = loopback_connect(port_of(l));
    int b = accept(l, nullptr, nullptr);
    int q;
    for (auto _ : state) {
        ioctl(b, FIONREAD, &q);
        benchmark::DoNotOptimize(q);
    }
    close(a);
    close(b);
    close(l);
}

BENCHMARK_TEMPLATE(BM_AvailableIdle, PtyLine);
BENCHMARK_TEMPLATE(BM_AvailableIdle, ServerLine);
BENCHMARK_TEMPLATE(BM_AvailableIdle, ClientLine);
BENCHMARK_TEMPLATE(BM_ReadIdle, PtyLine);
BENCHMARK_TEMPLATE(BM_ReadIdle, ServerLine);
BENCHMARK_TEMPLATE(BM_ReadIdle, ClientLine);
BENCHMARK_TEMPLATE(BM_AvailableReadBusy, PtyLine);
BENCHMARK_TEMPLATE(BM_AvailableReadBusy, ServerLine);
BENCHMARK_TEMPLATE(BM_AvailableReadBusy, ClientLine);
BENCHMARK(BM_BareFionreadIdlePty);
BENCHMARK(BM_BareFionreadIdleSocket);

// --- CPU shares over VX_BENCH_SECONDS ---------------------------------------------------

// Runs `step` then a 1 ms sleep until the time is up; reports this thread's
// CPU time as a percentage of one core.
template <class Step>
void share_loop(benchmark::State& state, Step step) {
    pid_t me = gettid_();
    for (auto _ : state) {
        double w0 = monotonic_s(), c0 = task_cpu_s(me);
        double end = w0 + share_seconds();
        while (monotonic_s() < end) {
            step();
            SleepMs(1);
        }
        double wall = monotonic_s() - w0, cpu = task_cpu_s(me) - c0;
        state.counters["cpu_pct"] = benchmark::Counter(100.0 * cpu / wall);
    }
}

void BM_ShareBareFionreadSleep(benchmark::State& state) {
    PtyLine line;
    share_loop(state, [&] {
        int q;
        ioctl(line.near_fd(), FIONREAD, &q);
        benchmark::DoNotOptimize(q);
    });
}

template <class Line>
void BM_SharePortAvailableSleep(benchmark::State& state) {
    Line line;
    share_loop(state, [&] { benchmark::DoNotOptimize(PortAvailable(line.h)); });
}

// Starts the clock thread afresh and returns its thread id: the one task of
// the process that was not there before.
pid_t restart_clock_thread() {
    ClockStop();
    std::set<pid_t> before = tasks();
    ClockStart();
    pid_t clock_tid = 0;
    for (pid_t t : tasks())
        if (!before.count(t)) clock_tid = t;
    return clock_tid;
}

// The clock thread's own CPU time while the process otherwise sleeps.
void BM_ShareClockThread(benchmark::State& state) {
    const pid_t clock_tid = restart_clock_thread();
    for (auto _ : state) {
        double w0 = monotonic_s(), c0 = task_cpu_s(clock_tid);
        std::this_thread::sleep_for(std::chrono::seconds(share_seconds()));
        double wall = monotonic_s() - w0, cpu = task_cpu_s(clock_tid) - c0;
        state.counters["cpu_pct"] = benchmark::Counter(100.0 * cpu / wall);
    }
}

// The reference for the clock thread: a bare thread that samples
// CLOCK_MONOTONIC every 1 ms and stores it, and nothing else.
std::thread bare_sampling_thread(std::atomic<bool>& run, std::atomic<pid_t>& tid,
                                 std::atomic<uint32_t>& sink) {
    return std::thread([&] {
        tid = gettid_();
        while (run.load(std::memory_order_relaxed)) {
            timespec d{0, 1000000};
            nanosleep(&d, nullptr);
            timespec ts;
            clock_gettime(CLOCK_MONOTONIC, &ts);
            sink.store(uint32_t(ts.tv_sec * 1000 + ts.tv_nsec / 1000000), std::memory_order_relaxed);
        }
    });
}

// Reference: a bare thread sampling CLOCK_MONOTONIC every 1 ms, with the
// clock thread stopped meanwhile.
void BM_ShareBareSamplingThread(benchmark::State& state) {
    ClockStop();
    for (auto _ : state) {
        std::atomic<bool> run{true};
        std::atomic<pid_t> tid{0};
        std::atomic<uint32_t> sink{0};
        std::thread t = bare_sampling_thread(run, tid, sink);
        while (tid == 0) SleepMs(1);
        double w0 = monotonic_s(), c0 = task_cpu_s(tid);
        std::this_thread::sleep_for(std::chrono::seconds(share_seconds()));
        double wall = monotonic_s() - w0, cpu = task_cpu_s(tid) - c0;
        run = false;
        t.join();
        state.counters["cpu_pct"] = benchmark::Counter(100.0 * cpu / wall);
    }
    ClockStart();
}

// Paired runs: the bare reference and ours run at the same time, so both see
// the same machine load (the figures of separate runs move by several tenths
// of a point on a busy two-core machine).
template <class Line>
void BM_SharePairedAvailable(benchmark::State& state) {
    PtyLine bare_line;
    Line line;
    for (auto _ : state) {
        std::atomic<double> bare_pct{0}, ours_pct{0};
        auto run = [&](std::atomic<double>& out, auto step) {
            pid_t me = gettid_();
            double w0 = monotonic_s(), c0 = task_cpu_s(me);
            double end = w0 + share_seconds();
            while (monotonic_s() < end) {
                step();
                SleepMs(1);
            }
            out = 100.0 * (task_cpu_s(me) - c0) / (monotonic_s() - w0);
        };
        std::thread bare([&] {
            run(bare_pct, [&] {
                int q;
                ioctl(bare_line.near_fd(), FIONREAD, &q);
                benchmark::DoNotOptimize(q);
            });
        });
        run(ours_pct, [&] { benchmark::DoNotOptimize(PortAvailable(line.h)); });
        bare.join();
        state.counters["bare_pct"] = bare_pct.load();
        state.counters["ours_pct"] = ours_pct.load();
        state.counters["diff_pts"] = ours_pct.load() - bare_pct.load();
    }
}

void BM_SharePairedClockThread(benchmark::State& state) {
    const pid_t clock_tid = restart_clock_thread();
    for (auto _ : state) {
        std::atomic<bool> go{true};
        std::atomic<pid_t> tid{0};
        std::atomic<uint32_t> sink{0};
        std::thread t = bare_sampling_thread(go, tid, sink);
        while (tid == 0) SleepMs(1);
        double w0 = monotonic_s(), b0 = task_cpu_s(tid), c0 = task_cpu_s(clock_tid);
        std::this_thread::sleep_for(std::chrono::seconds(share_seconds()));
        double wall = monotonic_s() - w0;
        double bare = 100.0 * (task_cpu_s(tid) - b0) / wall;
        double ours = 100.0 * (task_cpu_s(clock_tid) - c0) / wall;
        go = false;
        t.join();
        state.counters["bare_pct"] = bare;
        state.counters["ours_pct"] = ours;
        state.counters["diff_pts"] = ours - bare;
    }
}

BENCHMARK(BM_ShareBareFionreadSleep)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_SharePortAvailableSleep, PtyLine)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_SharePortAvailableSleep, ServerLine)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_SharePortAvailableSleep, ClientLine)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ShareBareSamplingThread)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ShareClockThread)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_SharePairedAvailable, PtyLine)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_SharePairedAvailable, ServerLine)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_SharePairedClockThread)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    ClockStart();
    PortTableInit();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
