#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/util.h"

namespace {

struct NumberCase {
    const char* text;
    int64_t value;
};

TEST(ParseNumber, ReadsDecimalHexAndDoubledPrefix) {
    const NumberCase cases[] = {
        {"0x10", 16},   {"10", 10},     {"1e000", 1},  {"abc", 0},     {"", 0},
        {"-0x10", -16}, {"0x0x1F", 31}, {"0X1F", 31},  {"0x0X1F", 0},  {"+7", 7},
        {"0x", 0},      {"0xffffffff", 0xffffffffLL},  {"12 34", 12},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_number(c.text), c.value) << c.text;
}

TEST(Split, KeepsInnerAndLeadingEmptiesDropsTrailing) {
    using V = std::vector<std::string>;
    EXPECT_EQ(split("", ","), V{});
    EXPECT_EQ(split("a", ","), V{"a"});
    EXPECT_EQ(split("a,b", ","), (V{"a", "b"}));
    EXPECT_EQ(split("a,b,", ","), (V{"a", "b"}));
    EXPECT_EQ(split(",a", ","), (V{"", "a"}));
    EXPECT_EQ(split("a,,b", ","), (V{"a", "", "b"}));
}

TEST(ToLower, OnlyAsciiLetters) { EXPECT_EQ(to_lower("AbC-1_Z"), "abc-1_z"); }

TEST(Crc32, KnownValues) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(crc32(abc, 3), 0xCADBBE3Du);
    EXPECT_EQ(crc32(nullptr, 0), 0xFFFFFFFFu);
    // The complement of the common CRC-32 of "123456789" (0xCBF43926).
    const char* check = "123456789";
    EXPECT_EQ(crc32(reinterpret_cast<const uint8_t*>(check), 9), ~0xCBF43926u);
}

TEST(HexText, Renderings) {
    const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_EQ(mac_to_text(mac), "00 11 22 33 44 55 ");
    EXPECT_EQ(text_to_hex("A\t()"), "41 90a00");
    EXPECT_EQ(int_to_bytes_text(0x00434241), "ABC");
    EXPECT_EQ(int_to_bytes_text(0x41004241), "AB");
}

TEST(IniGet, SectionsKeysAndTerminators) {
    const std::string text = "[a]\r\nk=1\r\nx=abc \r\n[b]\r\nonly_b=2\r\n";
    EXPECT_EQ(ini_get(text, "a", "k", "\r\n"), "1");
    EXPECT_EQ(ini_get(text, "a", "x", "\r\n"), "abc ");  // not trimmed
    EXPECT_EQ(ini_get(text, "a", "only_b", "\r\n"), "0");  // lives in the next section
    EXPECT_EQ(ini_get(text, "b", "only_b", "\r\n"), "2");
    EXPECT_EQ(ini_get(text, "c", "k", "\r\n"), "0");
    EXPECT_EQ(ini_get(text, "", "only_b", "\r\n"), "2");
    EXPECT_EQ(ini_get("k=tail", "", "k", ""), "tail");
    // A key that ends another key's name is not that key.
    const std::string flags = "[efuse]\ndisWriteUID=1\n  UID=0102\nMAC=\n";
    EXPECT_EQ(ini_get(flags, "efuse", "UID", "\n"), "0102");
    EXPECT_EQ(ini_get(flags, "efuse", "MAC", "\n"), "");
    EXPECT_EQ(ini_get("[efuse]\ndisWriteMAC=1\n", "efuse", "MAC", "\n"), "0");
}

class IniFile : public ::testing::Test {
protected:
    std::string path = (std::filesystem::temp_directory_path() /
                        ("tesk_ini_" + std::to_string(::getpid()) + ".ini")).string();
    void write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    void TearDown() override { std::remove(path.c_str()); }
};

TEST_F(IniFile, ReadValueDetectsLineEnd) {
    write("[s]\nkey=v1\nother=v2\n");
    EXPECT_EQ(ini_read_value(path, "s", "key"), "v1");
    write("[s]\rkey=v1\rother=v2\r");
    EXPECT_EQ(ini_read_value(path, "s", "other"), "v2");
    EXPECT_EQ(ini_read_value(path + ".missing", "s", "key"), "0");
}

TEST_F(IniFile, ReadListSkipsZeroValues) {
    write("[s]\nk0=a\nk1=0\nk2=c\nk23=z\nk24=never\n");
    std::vector<std::string> values;
    ASSERT_TRUE(ini_read_list(path, "s", "k", values));
    EXPECT_EQ(values, (std::vector<std::string>{"a", "c", "z"}));
    write("no line end at all");
    values.clear();
    EXPECT_FALSE(ini_read_list(path, "s", "k", values));
}

TEST_F(IniFile, KeyWordsUnscrambleUnlessAllSame) {
    write("[keys]\nplain=0\nsecret=" + scramble_text("0123456789abcdef") + "\n");
    EXPECT_EQ(ini_read_key_words(path, "keys", "plain", 8), std::vector<std::string>{"0"});
    EXPECT_EQ(ini_read_key_words(path, "keys", "secret", 8), (std::vector<std::string>{"01234567", "89abcdef"}));
    EXPECT_EQ(ini_read_key_words(path, "keys", "missing", 8), std::vector<std::string>{"0"});
}

TEST(Scramble, RoundTripsAndDoublesLength) {
    const std::string t = "hello, key text 4567";
    std::string s = scramble_text(t);
    EXPECT_EQ(s.size(), t.size() * 2);
    for (char c : s) EXPECT_TRUE(c >= 'a' && c <= 'z');
    for (size_t i = 0; i < s.size(); i += 2) ASSERT_NE(s.substr(i, 2), "aa") << "pick a text without a zero value";
    EXPECT_EQ(unscramble_text(s), t);
    EXPECT_EQ(scramble_text(std::string(300, 'q')).size(), 510u);
}

TEST(KeyText, WordSizesAndEscapes) {
    std::vector<std::string> words;
    std::string plain = "0123456789";
    key_text_to_words("app_key", plain, 0, words);
    EXPECT_EQ(words, (std::vector<std::string>{"0123", "4567", "89"}));

    std::string encoded = scramble_text("abcdefghij");
    key_text_to_words("aes", encoded, 1, words);
    EXPECT_EQ(words, (std::vector<std::string>{"abcdefgh", "ij"}));

    std::string ota = scramble_text("abcdefgh");
    key_text_to_words("ota_key", ota, 1, words);
    EXPECT_EQ(words, (std::vector<std::string>{"abcd", "efgh"}));

    std::string escaped = "ab\\ncd\\0";
    key_text_to_words("k", escaped, 0, words);
    EXPECT_EQ(escaped, "ab(cd)");
    EXPECT_EQ(words, (std::vector<std::string>{"ab(c", "d)"}));
}

TEST(Files, ReadFileSizesAndMissing) {
    auto path = (std::filesystem::temp_directory_path() / ("tesk_rf_" + std::to_string(::getpid()))).string();
    std::ofstream(path, std::ios::binary) << "abcdef";
    size_t length = 0;
    auto data = read_file(path, length);
    ASSERT_TRUE(data);
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data.get()), 6), "abcdef");
    length = 3;
    data = read_file(path, length);
    EXPECT_EQ(length, 3u);
    EXPECT_TRUE(file_exists(path));
    std::remove(path.c_str());
    EXPECT_FALSE(file_exists(path));
    length = 5;
    EXPECT_FALSE(read_file(path, length));
    EXPECT_EQ(length, 0u);
}

TEST(Files, CreateParentDirectoryOneLevel) {
    auto base = std::filesystem::temp_directory_path() / ("tesk_cpd_" + std::to_string(::getpid()));
    std::filesystem::remove_all(base);
    std::filesystem::create_directory(base);
    EXPECT_TRUE(create_parent_directory((base / "one" / "file.bin").string()));
    EXPECT_TRUE(std::filesystem::is_directory(base / "one"));
    EXPECT_FALSE(create_parent_directory((base / "a" / "b" / "file.bin").string()));
    EXPECT_TRUE(create_parent_directory("tesk_bare_name.bin"));
    EXPECT_FALSE(std::filesystem::exists("tesk_bare_name.bin"));
    std::filesystem::remove_all(base);
}

}  // namespace
