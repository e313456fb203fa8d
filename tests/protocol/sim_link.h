// Test helper: the tool's real port layer connected to an in-process
// controller simulator over a fresh pty or a loopback TCP port (picked by the
// system), with one ZOVEDevice on that port.
#pragma once
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "port/clock.h"
#include "port/port.h"
#include "protocol/run.h"
#include "protocol/zove_device.h"
#include "simulator/simulator.h"

enum class Transport { Pty, Tcp };

inline void PrintTo(Transport t, std::ostream* os) { *os << (t == Transport::Pty ? "pty" : "tcp"); }

inline const char* transport_name(const ::testing::TestParamInfo<Transport>& info) {
    return info.param == Transport::Pty ? "Pty" : "Tcp";
}

inline void start_clock_and_ports() {
    static bool started = false;
    if (!started) {
        ClockStart();
        PortTableInit();
        started = true;
    }
}

struct SimLink {
    zsim::Simulator sim;
    PortHandle port = 0;
    ZOVEDevice dev{0};

    explicit SimLink(const zsim::Scenario& sc = zsim::Scenario()) : sim(sc) {}
    ~SimLink() {
        PortClose(port);
        sim.stop();
    }

    // Starts the simulator on the transport and opens the tool's port to it;
    // for TCP also waits (bounded) until the connection is up.
    ::testing::AssertionResult open(Transport t) {
        start_clock_and_ports();
        std::string name;
        if (t == Transport::Pty) {
            if (sim.start_pty(&name) != 0) return ::testing::AssertionFailure() << "no pty";
        } else {
            uint16_t p = 0;
            if (sim.start_tcp_listen(0, &p) != 0) return ::testing::AssertionFailure() << "no listen";
            name = "TCPC_127.0.0.1:" + std::to_string(p);
        }
        if (PortOpen(&port, name.c_str()) != 0 || port == 0)
            return ::testing::AssertionFailure() << "PortOpen " << name;
        if (t == Transport::Tcp) {
            const uint32_t until = NowMs() + 5000;
            while (!sim.wait_connected(5)) {
                PortAvailable(port);  // the service step drives the connect
                if (DeadlineReached(until)) return ::testing::AssertionFailure() << "no connection";
            }
        }
        dev.port = port;
        dev.address = 1;
        return ::testing::AssertionSuccess();
    }

    template <class Step>
    int run(Step&& step) {
        return run_to_completion(dev, step);
    }

    // Waits (bounded) until at least n bytes wait in the port's ring.
    int wait_available(int n, int timeout_ms = 2000) {
        const uint32_t until = NowMs() + uint32_t(timeout_ms);
        int a;
        while ((a = PortAvailable(port)) < n && !DeadlineReached(until)) SleepMs(1);
        return a;
    }
};
