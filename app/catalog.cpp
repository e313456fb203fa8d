#include "app/catalog.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include <sys/stat.h>

namespace {

// Catalogs are a few hundred kilobytes; refusing anything far larger keeps a
// wrong file from making us allocate without bound.
constexpr long MAX_CATALOG_BYTES = 64L * 1024 * 1024;
constexpr uint32_t MAGIC_NATIVE = 0x950412DE;
constexpr uint32_t MAGIC_SWAPPED = 0xDE120495;

struct Catalog {
    uint32_t n = 0;
    std::vector<uint32_t> key_desc;    // n pairs: length, offset
    std::vector<uint32_t> trans_desc;  // n pairs: length, offset
    std::vector<char> text;            // every key and translation, each NUL-terminated
    std::vector<uint32_t> key_at;      // offset of key i in text
    std::vector<uint32_t> trans_at;    // offset of translation i in text
    // Index over all 256 byte values, so keys beginning with a byte of 0x80
    // or above are found like any other and never index outside the table.
    int first[256];
    int last[256];
};

Catalog g_catalog;

uint32_t swap32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

uint32_t get32(const unsigned char* p, bool swapped) {
    uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return swapped ? swap32(v) : v;
}

// Reads up to max bytes of the file; returns the bytes read.
std::vector<unsigned char> read_file(FILE* f, long max) {
    std::vector<unsigned char> data;
    unsigned char block[65536];
    size_t got;
    while ((got = fread(block, 1, sizeof block, f)) > 0) {
        size_t room = size_t(max) - data.size();
        if (got > room) got = room;
        data.insert(data.end(), block, block + got);
        if (data.size() >= size_t(max)) break;
    }
    return data;
}

// Reads count descriptor pairs at offset; entries the file does not hold
// read as zero-length strings at the end of the file.
void read_descriptors(const std::vector<unsigned char>& file, uint32_t offset, uint32_t count,
                      bool swapped, std::vector<uint32_t>& out) {
    out.assign(size_t(count) * 2, 0);
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t at = uint64_t(offset) + uint64_t(i) * 8;
        if (at + 8 > file.size()) {
            out[2 * i] = 0;
            out[2 * i + 1] = uint32_t(file.size());
            continue;
        }
        out[2 * i] = get32(&file[at], swapped);
        out[2 * i + 1] = get32(&file[at + 4], swapped);
    }
}

// Copies the strings one after another from the first entry's offset, as
// msgfmt lays them out: each string, then exactly one NUL. A string the file
// cuts short ends where the file ends.
void read_strings(const std::vector<unsigned char>& file, const std::vector<uint32_t>& desc,
                  uint32_t count, std::vector<char>& text, std::vector<uint32_t>& at) {
    at.assign(count, 0);
    uint64_t pos = count ? desc[1] : 0;
    for (uint32_t i = 0; i < count; ++i) {
        at[i] = uint32_t(text.size());
        uint64_t want = uint64_t(desc[2 * i]) + 1;
        uint64_t avail = pos < file.size() ? file.size() - pos : 0;
        uint64_t take = want < avail ? want : avail;
        text.insert(text.end(), file.begin() + pos, file.begin() + pos + take);
        // Keep the copy of the length the descriptor promised, but never more
        // than the file holds, and always terminated.
        if (take < want) text.push_back('\0');
        else text.back() = '\0';
        pos += take;
    }
}

void clear_index(Catalog& c) {
    for (int b = 0; b < 256; ++b) {
        c.first[b] = -1;
        c.last[b] = -1;
    }
}

struct IndexInit {
    IndexInit() { clear_index(g_catalog); }
} g_index_init;

}  // namespace

int load_catalog(const char* domain, const char* lang) {
    char path[1000];
    snprintf(path, sizeof path, "%s/%s", lang, domain);
    FILE* f = fopen(path, "rb");
    if (!f) return -1;
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        fclose(f);
        return -1;
    }
    std::vector<unsigned char> file;
    try {
        file = read_file(f, MAX_CATALOG_BYTES);
    } catch (const std::bad_alloc&) {
        fclose(f);
        return -2;
    }
    fclose(f);
    if (file.size() < 28) return -2;
    uint32_t magic = get32(&file[0], false);
    if (magic != MAGIC_NATIVE && magic != MAGIC_SWAPPED) return -3;
    bool swapped = magic == MAGIC_SWAPPED;

    uint32_t n = get32(&file[8], swapped);
    uint32_t key_table = get32(&file[12], swapped);
    uint32_t trans_table = get32(&file[16], swapped);
    // A count larger than both tables can hold in this file is cut to what
    // the file holds, so a damaged header cannot make us allocate without bound.
    auto fits = [&](uint32_t table) -> uint32_t {
        return table < file.size() ? uint32_t((file.size() - table) / 8) : 0;
    };
    uint32_t fit_keys = fits(key_table), fit_trans = fits(trans_table);
    if (n > fit_keys) n = fit_keys;
    if (n > fit_trans) n = fit_trans;

    Catalog c;
    clear_index(c);
    try {
        read_descriptors(file, key_table, n, swapped, c.key_desc);
        read_descriptors(file, trans_table, n, swapped, c.trans_desc);
        read_strings(file, c.key_desc, n, c.text, c.key_at);
        read_strings(file, c.trans_desc, n, c.text, c.trans_at);
    } catch (const std::bad_alloc&) {
        n = 0;
        c = Catalog();
        clear_index(c);
    }
    c.n = n;

    int prev = -1;
    for (uint32_t i = 0; i < n; ++i) {
        int b = static_cast<unsigned char>(c.text[c.key_at[i]]);
        if (b == prev) {
            c.last[b] = int(i);
        } else {
            c.first[b] = int(i);
            c.last[b] = int(i);
        }
        prev = b;
    }
    g_catalog = std::move(c);
    return 1;
}

const char* tr(const char* key) {
    const Catalog& c = g_catalog;
    if (c.n == 0 || key == nullptr) return key;
    int b = static_cast<unsigned char>(key[0]);
    int lo = c.first[b], hi = c.last[b];
    if (lo < 0 || lo > hi) return key;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        const unsigned char* k = reinterpret_cast<const unsigned char*>(key);
        const unsigned char* e = reinterpret_cast<const unsigned char*>(&c.text[c.key_at[mid]]);
        while (*k && *k == *e) {
            ++k;
            ++e;
        }
        if (*k == *e) return &c.text[c.trans_at[mid]];
        if (*k > *e) lo = mid + 1;
        else hi = mid - 1;
    }
    return key;
}

unsigned catalog_size() { return g_catalog.n; }
