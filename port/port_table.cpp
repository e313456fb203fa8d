// The port table: PORT_SLOTS static records addressed by handle = index + 1,
// name parsing, the receive rings, the enumeration of serial devices, and the
// public I/O operations, each of which switches on the record's kind once and
// hands over to the transport file.
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "port/clock.h"
#include "port/port_internal.h"

char PortList[PORT_LIST_SIZE][PORT_NAME_LEN];
int PortCount = 0;

namespace {

PortRecord g_ports[PORT_SLOTS];
bool g_initialised = false;

constexpr const char* DEFAULT_SYSFS_ROOT = "/sys/class/tty";
char g_sysfs_root[256] = "/sys/class/tty";

// The longest name a record can keep; longer names are refused rather than
// cut, because a cut name could open a different device.
constexpr size_t NAME_MAX_LEN = sizeof(PortRecord::name) - 1;

}  // namespace

// --- helpers shared by the transports ---------------------------------------

PortRecord* port_record(PortHandle handle) {
    if (handle == 0 || handle > PORT_SLOTS) return nullptr;
    PortRecord& r = g_ports[handle - 1];
    return r.in_use ? &r : nullptr;
}

int ring_contig_free(const PortRecord& r) {
    int room = ring_free(r);
    int to_end = PORT_RING_SIZE - int(r.head);
    return room < to_end ? room : to_end;
}

void ring_commit(PortRecord& r, int n) {
    int h = int(r.head) + n;
    if (h >= PORT_RING_SIZE) h -= PORT_RING_SIZE;
    r.head = uint16_t(h);
}

int ring_append(PortRecord& r, const uint8_t* data, int n) {
    int done = 0;
    while (done < n) {
        int room = ring_contig_free(r);
        if (room <= 0) break;
        int k = n - done < room ? n - done : room;
        memcpy(r.ring + r.head, data + done, size_t(k));
        ring_commit(r, k);
        done += k;
    }
    return done;
}

void ring_take(PortRecord& r, uint8_t* dest, int n) {
    int first = PORT_RING_SIZE - int(r.tail);
    if (first > n) first = n;
    memcpy(dest, r.ring + r.tail, size_t(first));
    if (n > first) memcpy(dest + first, r.ring, size_t(n - first));
    int t = int(r.tail) + n;
    if (t >= PORT_RING_SIZE) t -= PORT_RING_SIZE;
    r.tail = uint16_t(t);
}

int ring_fill_from_fd(PortRecord& r, int fd, int limit, bool is_socket, bool* eof) {
    *eof = false;
    int total = 0;
    while (total < limit) {
        int room = ring_contig_free(r);
        if (room <= 0) break;
        int want = limit - total < room ? limit - total : room;
        ssize_t k = is_socket ? recv(fd, r.ring + r.head, size_t(want), MSG_DONTWAIT)
                              : read(fd, r.ring + r.head, size_t(want));
        if (k > 0) {
            ring_commit(r, int(k));
            total += int(k);
            if (k < want) break;  // drained what was there
            continue;             // filled up to the ring's end: the rest goes to its start
        }
        if (k == 0) {
            // A socket reports an orderly close; a tty with VMIN = VTIME = 0
            // returns 0 simply because nothing is pending.
            if (is_socket) *eof = true;
            break;
        }
        if (errno == EINTR) continue;
        if (total == 0) return -1;
        break;  // keep what arrived; the error shows again on the next call
    }
    return total;
}

int port_atoi(const char* s) {
    while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
    bool neg = false;
    if (*s == '+' || *s == '-') neg = (*s++ == '-');
    uint32_t v = 0;
    while (*s >= '0' && *s <= '9') v = v * 10u + uint32_t(*s++ - '0');
    return int(neg ? 0u - v : v);
}

uint32_t port_monotonic_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint32_t(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
}

// --- table --------------------------------------------------------------------

void PortTableInit() {
    if (g_initialised) return;
    memset(g_ports, 0, sizeof g_ports);
    g_initialised = true;
}

int PortOpen(PortHandle* handle, const char* name) {
    if (!g_initialised) return 9;
    int slot = -1;
    for (int i = 0; i < PORT_SLOTS; ++i) {
        if (!g_ports[i].in_use) {
            slot = i;
            break;
        }
    }
    if (slot < 0) return 1;
    if (name == nullptr || name[0] == '\0') return 3;
    // Without a place for the handle the port could never be closed again.
    if (handle == nullptr) return EINVAL;
    if (strlen(name) > NAME_MAX_LEN) return ENAMETOOLONG;

    PortRecord& r = g_ports[slot];
    memset(&r, 0, sizeof r);
    r.os_handle = -1;
    for (int& c : r.clients) c = -1;
    strcpy(r.name, name);

    if (strcmp(name, "STUB") == 0)
        r.kind = PORT_STUB;
    else if (strncmp(name, "TCPS_", 5) == 0)
        r.kind = PORT_TCP_SERVER;
    else if (strncmp(name, "TCPC_", 5) == 0)
        r.kind = PORT_TCP_CLIENT;
    else
        r.kind = PORT_SERIAL;

    uint8_t* ring = new (std::nothrow) uint8_t[PORT_RING_SIZE];
    if (ring == nullptr) return ENOMEM;

    int res = 0;
    switch (r.kind) {
        case PORT_STUB: break;
        case PORT_TCP_SERVER: res = tcp_server_open(r, name + 5); break;
        case PORT_TCP_CLIENT: res = tcp_client_open(r, name + 5); break;
        case PORT_SERIAL: res = serial_open(r); break;
    }
    if (res != 0) {
        delete[] ring;
        memset(&r, 0, sizeof r);
        return res;
    }
    r.ring = ring;
    r.head = r.tail = 0;
    r.in_use = 1;
    *handle = PortHandle(slot + 1);
    return 0;
}

int PortClose(PortHandle handle) {
    PortRecord* r = port_record(handle);
    if (!r) return 1;
    switch (r->kind) {
        case PORT_STUB: break;
        case PORT_TCP_SERVER: tcp_server_close(*r); break;
        case PORT_TCP_CLIENT: tcp_client_close(*r); break;
        case PORT_SERIAL: serial_close(*r); break;
    }
    delete[] r->ring;
    memset(r, 0, sizeof *r);
    return 1;
}

int PortSetLine(PortHandle handle, int baud, uint8_t data_bits, char parity, uint8_t stop_bits) {
    PortRecord* r = port_record(handle);
    if (!r) return 2;
    if (r->kind != PORT_SERIAL) return 0;
    return serial_set_line(*r, baud, data_bits, parity, stop_bits);
}

uint16_t PortTcpLocalPort(PortHandle handle) {
    PortRecord* r = port_record(handle);
    if (!r || r->kind != PORT_TCP_SERVER) return 0;
    return tcp_server_local_port(*r);
}

// --- I/O ------------------------------------------------------------------------

namespace {

// The house-keeping step of TCP ports followed by moving what the system has
// received into the ring: one pass, no waiting.
void service_and_poll(PortRecord& r) {
    switch (r.kind) {
        case PORT_STUB: break;
        case PORT_SERIAL: serial_poll(r); break;
        case PORT_TCP_SERVER:
            tcp_server_service(r);
            tcp_server_poll(r);
            break;
        case PORT_TCP_CLIENT:
            tcp_client_service(r);
            tcp_client_poll(r);
            break;
    }
}

}  // namespace

int PortAvailable(PortHandle handle) {
    PortRecord* r = port_record(handle);
    if (!r || r->kind == PORT_STUB) return 0;
    service_and_poll(*r);
    return ring_count(*r);
}

int PortRead(PortHandle handle, void* dest, int n) {
    PortRecord* r = port_record(handle);
    if (!r || r->kind == PORT_STUB || n < 0 || (n > 0 && dest == nullptr)) return 0;
    service_and_poll(*r);
    if (ring_count(*r) < n) return 0;
    ring_take(*r, static_cast<uint8_t*>(dest), n);
    return 1;
}

int PortWrite(PortHandle handle, const void* data, int n) {
    PortRecord* r = port_record(handle);
    if (!r || n < 0 || (n > 0 && data == nullptr)) return 0;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    switch (r->kind) {
        case PORT_STUB: return 1;
        case PORT_SERIAL:
            // A failed serial write is not reported: it shows up as a missing
            // reply, which the protocol's time-outs already handle.
            serial_write(*r, bytes, n);
            return 1;
        case PORT_TCP_SERVER: return tcp_server_write(*r, bytes, n);
        case PORT_TCP_CLIENT: return tcp_client_write(*r, bytes, n);
    }
    return 0;
}

void PortPurge(PortHandle handle) {
    PortRecord* r = port_record(handle);
    if (!r || r->kind == PORT_STUB) return;
    if (r->kind == PORT_TCP_SERVER) tcp_server_service(*r);
    if (r->kind == PORT_TCP_CLIENT) tcp_client_service(*r);
    r->tail = r->head;
    // Bytes still travelling in a TCP connection are not touched; they
    // arrive later. A serial device's queue is flushed.
    if (r->kind == PORT_SERIAL) serial_purge(*r);
}

// Nothing is taken from the ring until all n bytes are there, so on a time-out
// every byte that did arrive (old or new) is still there for the next
// PortRead.
int PortReadTimeout(PortHandle handle, void* dest, int n, uint32_t ms) {
    PortRecord* r = port_record(handle);
    if (!r || r->kind == PORT_STUB || n <= 0 || dest == nullptr) return 0;
    uint8_t* out = static_cast<uint8_t*>(dest);
    if (ring_count(*r) >= n) {
        ring_take(*r, out, n);
        return n;
    }
    if (r->kind == PORT_SERIAL) {
        serial_wait_for(*r, n, ms);
    } else {
        // The shared clock decides; the step count bounds the loop on its
        // own (every step sleeps at least 10 ms), so it ends even if the
        // clock stood still.
        uint32_t deadline = NowMs() + ms;
        uint32_t steps = ms / 10 + 1;
        while (PortAvailable(handle) < n) {
            if (DeadlineReached(deadline) || steps-- == 0) return 0;
            SleepMs(10);
        }
    }
    if (ring_count(*r) < n) return 0;
    ring_take(*r, out, n);
    return n;
}

int PortReadByte(PortHandle handle, uint8_t* dest, uint32_t ms) {
    PortRecord* r = port_record(handle);
    if (!r || r->kind == PORT_STUB || dest == nullptr) return -1;
    // A 16-bit deadline only reaches 32767 ms ahead.
    if (ms > 32767) ms = 32767;
    uint16_t deadline = uint16_t(Now16() + ms);
    uint32_t steps = ms;  // each step sleeps at least 1 ms: a bound independent of the clock
    for (;;) {
        if (PortAvailable(handle) > 0) return PortRead(handle, dest, 1);
        SleepMs(1);
        if (Deadline16Reached(deadline) || steps-- == 0) return 0;
    }
}

int PortTxEmpty(PortHandle handle) {
    PortRecord* r = port_record(handle);
    if (!r || r->kind != PORT_SERIAL) return 1;
    return serial_tx_empty(*r);
}

// --- enumeration --------------------------------------------------------------------

namespace {

bool begins_with(const char* s, const char* prefix) {
    return strncmp(s, prefix, strlen(prefix)) == 0;
}

// Order of the port list. Two names beginning with "COM" compare by the
// number after "COM" (so COM2 comes before COM10). Other names compare the
// same way when they share the text before their first digit (ttyUSB2 before
// ttyUSB10), otherwise byte by byte. Ties fall back to byte order, which
// keeps this a strict weak order for any mix of names.
int compare_port_names(const char* a, const char* b) {
    if (begins_with(a, "COM") && begins_with(b, "COM")) {
        int na = port_atoi(a + 3), nb = port_atoi(b + 3);
        if (na != nb) return na < nb ? -1 : 1;
        return strcmp(a, b);
    }
    size_t pa = strcspn(a, "0123456789"), pb = strcspn(b, "0123456789");
    if (pa == pb && strncmp(a, b, pa) == 0 && a[pa] && b[pb]) {
        // Same prefix, both with digits; the digit runs are at most 19 long,
        // so compare them by length, then by text (no overflow).
        const char* da = a + pa;
        const char* db = b + pb;
        while (*da == '0' && da[1] >= '0' && da[1] <= '9') ++da;
        while (*db == '0' && db[1] >= '0' && db[1] <= '9') ++db;
        size_t la = strspn(da, "0123456789"), lb = strspn(db, "0123456789");
        if (la != lb) return la < lb ? -1 : 1;
        int c = strncmp(da, db, la);
        if (c != 0) return c;
    }
    return strcmp(a, b);
}

// A ttyS entry exists for every UART the kernel reserved; only those whose
// type is not 0 have hardware behind them.
bool uart_present(const char* root, const char* name) {
    char path[512];
    if (snprintf(path, sizeof path, "%s/%s/type", root, name) >= int(sizeof path)) return false;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[16];
    ssize_t k = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (k <= 0) return false;
    buf[k] = '\0';
    return port_atoi(buf) != 0;
}

}  // namespace

void PortSetSysfsRoot(const char* path) {
    const char* p = path ? path : DEFAULT_SYSFS_ROOT;
    snprintf(g_sysfs_root, sizeof g_sysfs_root, "%s", p);
}

// Lists the tty entries that have a device behind them (virtual terminals,
// the console and ptmx have no device link), leaving out ttyS* entries of
// UARTs that are not there. The list keeps the first PORT_LIST_SIZE names in
// sort order, so which ones are kept does not depend on directory order.
int PortEnumerate() {
    PortCount = 0;
    memset(PortList, 0, sizeof PortList);
    DIR* dir = opendir(g_sysfs_root);
    if (!dir) return 1;
    while (dirent* e = readdir(dir)) {
        const char* name = e->d_name;
        if (name[0] == '.') continue;
        char path[512];
        if (snprintf(path, sizeof path, "%s/%s/device", g_sysfs_root, name) >= int(sizeof path))
            continue;
        struct stat st;
        if (lstat(path, &st) != 0) continue;
        if (begins_with(name, "ttyS") && !uart_present(g_sysfs_root, name)) continue;

        char entry[PORT_NAME_LEN];  // at most 19 characters
        size_t len = strnlen(name, PORT_NAME_LEN - 1);
        memcpy(entry, name, len);
        entry[len] = '\0';
        int pos = PortCount;
        while (pos > 0 && compare_port_names(entry, PortList[pos - 1]) < 0) --pos;
        if (pos >= PORT_LIST_SIZE) continue;
        int last = PortCount < PORT_LIST_SIZE ? PortCount : PORT_LIST_SIZE - 1;
        for (int i = last; i > pos; --i) memcpy(PortList[i], PortList[i - 1], PORT_NAME_LEN);
        memcpy(PortList[pos], entry, PORT_NAME_LEN);
        if (PortCount < PORT_LIST_SIZE) ++PortCount;
    }
    closedir(dir);
    return 1;
}
