#include "app/config.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

ConnectionSettings connection_settings = {"", 4800, 8, 'N', 1, 38400, 1};

int load_config() {
    ConnectionSettings& c = connection_settings;
    c.baud_rate = 4800;
    c.data_bits = 8;
    c.parity = 'N';
    c.stop_bits = 1;
    c.max_baud_rate = 38400;

    FILE* f = fopen(CONFIG_FILE_NAME, "rb");
    if (!f) return -1;
    char line[100];
    if (!fgets(line, sizeof line, f)) line[0] = '\0';
    fclose(f);

    // Parse into temporaries and copy in order, so a field that cannot be
    // read keeps its default together with every field after it.
    char name[100];
    int baud, data, stop, max_baud;
    char parity;
    int got = sscanf(line, "%99s %d %d %c %d %d", name, &baud, &data, &parity, &stop, &max_baud);
    if (got >= 1) {
        strncpy(c.port_name, name, sizeof c.port_name - 1);
        c.port_name[sizeof c.port_name - 1] = '\0';
    }
    if (got >= 2) c.baud_rate = baud;
    if (got >= 3) c.data_bits = data;
    if (got >= 4) c.parity = parity;
    if (got >= 5) c.stop_bits = stop;
    if (got >= 6) c.max_baud_rate = max_baud;
    return 1;
}

int save_config() {
    const ConnectionSettings& c = connection_settings;
    char tmp[64];
    snprintf(tmp, sizeof tmp, "%s.tmp%ld", CONFIG_FILE_NAME, long(getpid()));
    FILE* f = fopen(tmp, "wb");
    if (!f) return -1;
    int ok = fprintf(f, "%s %d %d %c %d %d", c.port_name, c.baud_rate, c.data_bits, c.parity,
                     c.stop_bits, c.max_baud_rate) > 0;
    ok = (fflush(f) == 0) && ok;
    ok = (fsync(fileno(f)) == 0) && ok;
    ok = (fclose(f) == 0) && ok;
    if (!ok || rename(tmp, CONFIG_FILE_NAME) != 0) {
        unlink(tmp);
        return -1;
    }
    return 1;
}
