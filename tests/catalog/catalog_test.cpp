// Catalog loading and lookup, against catalogs made by the real msgfmt and
// against hand-made files for the layouts msgfmt never writes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "app/catalog.h"

namespace {

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/vx_catalog_XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void write_file(const std::string& path, const std::string& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

// Compiles a .po text with the real msgfmt.
void msgfmt(const TempDir& dir, const std::string& po, const std::string& mo, bool big_endian) {
    write_file(dir.file("in.po"), po);
    std::string cmd = "msgfmt " + std::string(big_endian ? "--endianness=big " : "") + "-o '" +
                      dir.file(mo) + "' '" + dir.file("in.po") + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

const char* kPo =
    "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
    "msgid \"Calibration 1 count\"\nmsgstr \"Калибровка 1\"\n\n"
    "msgid \"Calibration 2 count\"\nmsgstr \"Калибровка 2\"\n\n"
    "msgid \"Calibration date\"\nmsgstr \"Дата калибровки\"\n\n"
    "msgid \"Cancel\"\nmsgstr \"Отмена\"\n\n"
    "msgid \"Open port\"\nmsgstr \"Открыть порт\"\n\n"
    "msgid \"Pump address %d\"\nmsgstr \"Адрес ТРК %d\"\n";

// A catalog file laid out as msgfmt lays it out (strings contiguous, in
// table order, one NUL each), with every header field under our control.
struct MoImage {
    std::vector<std::pair<std::string, std::string>> entries;
    bool big_endian = false;
    int64_t count_override = -1;

    std::string bytes() const {
        uint32_t n = uint32_t(entries.size());
        uint32_t key_table = 28, trans_table = key_table + 8 * n;
        uint32_t strings = trans_table + 8 * n;
        std::string keys, trans;
        std::vector<uint32_t> kd, td;
        for (auto& e : entries) {
            kd.push_back(uint32_t(e.first.size()));
            kd.push_back(strings + uint32_t(keys.size()));
            keys += e.first + '\0';
        }
        for (auto& e : entries) {
            td.push_back(uint32_t(e.second.size()));
            td.push_back(strings + uint32_t(keys.size() + trans.size()));
            trans += e.second + '\0';
        }
        std::string out;
        auto put = [&](uint32_t v) {
            for (int i = 0; i < 4; ++i) {
                int shift = big_endian ? 24 - 8 * i : 8 * i;
                out += char((v >> shift) & 0xFF);
            }
        };
        put(0x950412DE);
        put(0);
        put(count_override >= 0 ? uint32_t(count_override) : n);
        put(key_table);
        put(trans_table);
        put(0);
        put(0);
        for (uint32_t v : kd) put(v);
        for (uint32_t v : td) put(v);
        return out + keys + trans;
    }
};

TEST(Catalog, MissingFileLeavesEnglishAndTheVeryPointer) {
    TempDir dir;
    EXPECT_EQ(load_catalog("none.mo", dir.path().c_str()), -1);
    const char* key = "Open port";
    EXPECT_EQ(tr(key), key);
}

TEST(Catalog, BothByteOrdersTranslateAlike) {
    for (bool big : {false, true}) {
        TempDir dir;
        msgfmt(dir, kPo, "vantorix_v3.mo", big);
        ASSERT_EQ(load_catalog("vantorix_v3.mo", dir.path().c_str()), 1) << big;
        EXPECT_EQ(catalog_size(), 7u);
        EXPECT_STREQ(tr("Open port"), "Открыть порт") << big;
        EXPECT_STREQ(tr("Pump address %d"), "Адрес ТРК %d") << big;
        // Keys sharing their first byte are all reached by the halving search.
        EXPECT_STREQ(tr("Calibration 1 count"), "Калибровка 1");
        EXPECT_STREQ(tr("Calibration 2 count"), "Калибровка 2");
        EXPECT_STREQ(tr("Calibration date"), "Дата калибровки");
        EXPECT_STREQ(tr("Cancel"), "Отмена");
        // Inside a run but absent, and a first byte without a run.
        const char* calib = "Calibration 3 count";
        EXPECT_EQ(tr(calib), calib);
        const char* zed = "Zero";
        EXPECT_EQ(tr(zed), zed);
        // The empty key finds the header entry.
        EXPECT_NE(strstr(tr(""), "Content-Type"), nullptr);
    }
}

TEST(Catalog, ShortOrForeignFileKeepsTheCatalogAsItWas) {
    TempDir dir;
    msgfmt(dir, kPo, "good.mo", false);
    ASSERT_EQ(load_catalog("good.mo", dir.path().c_str()), 1);
    struct Case {
        const char* name;
        std::string bytes;
        int result;
    } cases[] = {
        {"short.mo", std::string(16, '\x11'), -2},
        {"zero.mo", std::string(28, '\0'), -3},
        {"empty.mo", std::string(), -2},
    };
    for (auto& c : cases) {
        write_file(dir.file(c.name), c.bytes);
        EXPECT_EQ(load_catalog(c.name, dir.path().c_str()), c.result) << c.name;
        EXPECT_STREQ(tr("Open port"), "Открыть порт") << c.name;
    }
    // A directory is not a catalog.
    EXPECT_EQ(load_catalog(".", dir.path().c_str()), -1);
}

TEST(Catalog, HandMadeLayouts) {
    struct Case {
        const char* what;
        MoImage image;
        std::vector<std::pair<std::string, std::string>> lookups;  // key, expected ("" + same = key)
    };
    MoImage empty_count;
    empty_count.entries = {{"Open port", "X"}};
    empty_count.count_override = 0;
    MoImage empty_translation;
    empty_translation.entries = {{"Open port", ""}, {"Yes", "Да"}};
    MoImage unsorted;
    // 'A' occurs in two separate runs: only the last run is searchable.
    unsorted.entries = {{"Alpha", "1"}, {"Beta", "2"}, {"Apple", "3"}};
    MoImage high_byte;
    high_byte.entries = {{"Open", "O"}, {"\xC3\xA9t\xC3\xA9", "summer"}};
    MoImage big;
    big.entries = {{"No", "Нет"}, {"Yes", "Да"}};
    big.big_endian = true;
    Case cases[] = {
        {"N = 0", empty_count, {{"Open port", "Open port"}}},
        {"empty translation", empty_translation, {{"Open port", ""}, {"Yes", "Да"}}},
        {"unsorted", unsorted, {{"Apple", "3"}, {"Alpha", "Alpha"}, {"Beta", "2"}}},
        {"key from 0x80 up", high_byte, {{"\xC3\xA9t\xC3\xA9", "summer"}, {"\xFF", "\xFF"}}},
        {"big endian", big, {{"No", "Нет"}, {"Yes", "Да"}}},
    };
    for (auto& c : cases) {
        TempDir dir;
        write_file(dir.file("c.mo"), c.image.bytes());
        ASSERT_EQ(load_catalog("c.mo", dir.path().c_str()), 1) << c.what;
        for (auto& l : c.lookups) EXPECT_EQ(std::string(tr(l.first.c_str())), l.second) << c.what;
    }
}

TEST(Catalog, DamagedFilesLoadWhatTheyHoldWithoutCrashing) {
    MoImage base;
    base.entries = {{"", "header"}, {"Close", "Закрыть"}, {"Open port", "Открыть порт"}};
    std::string whole = base.bytes();
    TempDir dir;
    // Cut at every length from the header on: inside the tables, inside the
    // key strings, inside the translations.
    for (size_t len = 28; len <= whole.size(); ++len) {
        write_file(dir.file("cut.mo"), whole.substr(0, len));
        ASSERT_EQ(load_catalog("cut.mo", dir.path().c_str()), 1) << len;
        const char* t = tr("Close");
        ASSERT_NE(t, nullptr);
        EXPECT_LE(strlen(t), strlen("Закрыть")) << len;
    }
    // Cut inside the last translation: it ends where the file ends.
    write_file(dir.file("cut.mo"), whole.substr(0, whole.size() - 4));
    ASSERT_EQ(load_catalog("cut.mo", dir.path().c_str()), 1);
    EXPECT_EQ(std::string(tr("Open port")), std::string("Открыть порт").substr(0, strlen("Открыть порт") - 3));

    // A huge entry count, and offsets far past the end.
    MoImage huge = base;
    huge.count_override = 0xFFFFFFFF;
    write_file(dir.file("huge.mo"), huge.bytes());
    EXPECT_EQ(load_catalog("huge.mo", dir.path().c_str()), 1);
    EXPECT_LE(catalog_size(), 16u);
    std::string far = whole;
    far[12] = far[13] = far[14] = '\x7F';  // key table offset
    write_file(dir.file("far.mo"), far);
    EXPECT_EQ(load_catalog("far.mo", dir.path().c_str()), 1);
    EXPECT_EQ(catalog_size(), 0u);
    const char* key = "Close";
    EXPECT_EQ(tr(key), key);
}

}  // namespace
