#include <gtest/gtest.h>

#include <rapidjson/document.h>
#include <rapidjson/error/error.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "frontend/security_config.h"
#include "temp_files.h"

namespace {

struct LoadResult {
    bool ok;
    std::string out;
};

LoadResult load(const std::string& path, SecurityConfig& config) {
    testing::internal::CaptureStdout();
    bool ok = load_safe_json(path, config);
    return {ok, testing::internal::GetCapturedStdout()};
}

class SafeJson : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(files.ok()); }

    LoadResult load_text(const std::string& text) { return load(files.write("doc.json", text), config); }

    TempFiles files;
    SecurityConfig config;
};

std::string parse_report(int code, size_t offset, int line, int column) {
    char text[200];
    std::snprintf(text, sizeof text, "Error Code: %d\nError offset: %zu\nJson file error at line %d, column %d\n", code,
                  offset, line, column);
    return text;
}

TEST_F(SafeJson, ReadsEveryRecordKindWithNamesInAnyCase) {
    const char* doc = R"({
 "User_Operate_Enable": "true",
 "EFUSE_ENABLE": "True",
 "security_ctrl_enable": "false",
 "Security_Data_Enable": "FALSE",
 "USER_OPERATE": [
  {"Name": "OTP_Key0", "MODE": "Write", "Permission": "WR", "start_addr": "0x4B100400",
   "Last_Valid_Addr": "0x4B10041C", "byte_len": "0x20", "DATA": "AbCdEf0123", "data_type": "HEX",
   "status": "True", "Unknown": 5},
  {"name": "flash", "mode": "read", "start_addr": "1000", "byte_len": "10", "data": "",
   "data_type": "ascii", "status": "false"}
 ],
 "Efuse": [
  {"MODE": "Write", "Byte_Addr": "0x1E", "length": "2", "Data": "0xAbCd", "status": "TRUE"},
  {"mode": "read", "byte_addr": "2", "last_valid_addr": "3", "length": "2", "data": "", "status": "true"}
 ],
 "Security_Ctrl": [{"Sec_Boot": "30,0,1", "b_Key": "5,3,0", "sec_boot": "30,1,1"}, {"ignored": 1}],
 "security_data": [
  {"name": "AES_Key", "mode": "WRITE", "start_addr": "4B0057E0", "byte_len": "20", "data": "DeadBeef",
   "data_type": "Hex", "status": "true"}
 ],
 "other": {"Deep": [{"Deeper": {"X": [1, null, true]}}]}
})";
    LoadResult r = load_text(doc);
    ASSERT_TRUE(r.ok) << r.out;
    EXPECT_EQ(r.out, "");

    SecurityConfig want;
    want.user_operate_enable = "true";
    want.efuse_enable = "True";  // enable texts are kept as written
    want.security_ctrl_enable = "false";
    want.security_data_enable = "FALSE";
    want.user_operate = {
        {"otp_key0", "write", "wr", "0x4b100400", "0x4b10041c", "0x20", "AbCdEf0123", "hex", "", "true"},
        {"flash", "read", "ro", "1000", "0", "10", "", "ascii", "", "false"},
    };
    want.efuse = {
        {"write", "0x1e", "0", "2", "0xAbCd", "true"},
        {"read", "2", "3", "2", "", "true"},
    };
    want.security_ctrl = {{"b_key", "5,3,0"}, {"sec_boot", "30,1,1"}};  // a later duplicate wins
    want.security_data = {{"aes_key", "write", "ro", "4b0057e0", "0", "20", "DeadBeef", "hex", "true"}};
    EXPECT_EQ(config, want);
}

TEST_F(SafeJson, MinimalDocumentGivesEmptyLists) {
    config.efuse_size = "0x20";  // a stale value must not survive a load
    LoadResult r = load_text(R"({"security_ctrl_enable": "false", "security_ctrl": [{}]})");
    ASSERT_TRUE(r.ok) << r.out;
    SecurityConfig want;
    want.security_ctrl_enable = "false";
    EXPECT_EQ(config, want);
}

struct ParseErrorCase {
    const char* name;
    std::string text;
    rapidjson::ParseErrorCode code;
    size_t offset;
    int line;
    int column;
};

// The reports must be the ones the usual (recursive) parser gives.
TEST_F(SafeJson, ParseErrorsReportCodeOffsetLineAndColumn) {
    using namespace rapidjson;
    const ParseErrorCase cases[] = {
        {"empty file", "", kParseErrorDocumentEmpty, 0, 0, 0},
        {"blank lines", "  \n  ", kParseErrorDocumentEmpty, 5, 1, 2},
        {"third line, column five", "{\n\"a\": 1,\n\"abc\"x}", kParseErrorObjectMissColon, 15, 2, 5},
        {"crlf lines", "{\r\n\"a\" 1}", kParseErrorObjectMissColon, 7, 1, 4},
        {"trailing comma in array", "[1,]", kParseErrorValueInvalid, 3, 0, 3},
        {"trailing comma in object", "{\"a\":1,}", kParseErrorObjectMissName, 7, 0, 7},
        {"comment", "// c\n{}", kParseErrorValueInvalid, 0, 0, 0},
        {"second root", "{\"a\":1}\n{}", kParseErrorDocumentRootNotSingular, 8, 1, 0},
        {"open string", "[\"abc", kParseErrorStringMissQuotationMark, 5, 0, 5},
        {"bad escape", "[\"\\x\"]", kParseErrorStringEscapeInvalid, 2, 0, 2},
        {"bad literal", "[tru]", kParseErrorValueInvalid, 4, 0, 4},
        {"number too big", "[1e999]", kParseErrorNumberTooBig, 1, 0, 1},
        {"missing bracket", "[1 2]", kParseErrorArrayMissCommaOrSquareBracket, 3, 0, 3},
        {"bytes not text", "\xff\xfe{}", kParseErrorValueInvalid, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoadResult r = load_text(c.text);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.out, parse_report(c.code, c.offset, c.line, c.column));

        Document reference;
        reference.Parse(c.text.data(), c.text.size());
        EXPECT_EQ(reference.GetParseError(), c.code);
        EXPECT_EQ(reference.GetErrorOffset(), c.offset);
    }
}

TEST_F(SafeJson, ZeroByteAfterTheDocumentIsAnError) {
    // The parser stops at a zero byte; what follows must not go unnoticed.
    std::string text = std::string(R"({"security_ctrl":[{}]})") + '\0' + "junk";
    LoadResult r = load_text(text);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, parse_report(rapidjson::kParseErrorDocumentRootNotSingular, 22, 0, 22));
}

struct RefusalCase {
    const char* doc;
    const char* message;
};

TEST_F(SafeJson, RefusesDocumentsTheRecordsCannotHold) {
    const RefusalCase cases[] = {
        {R"({})", "securityCtrlNode isn`t array! \n"},
        {R"({"security_ctrl_enable": "false"})", "securityCtrlNode isn`t array! \n"},
        {R"({"security_ctrl": {}})", "securityCtrlNode isn`t array! \n"},
        {R"({"security_ctrl": []})",
         "Json file error: \"security_ctrl\" is an empty array; its first element must be an object\n"},
        {R"({"security_ctrl": [1, {}]})", "Json file error: \"security_ctrl\"[0] is not an object\n"},
        {R"({"security_ctrl": [{"A": "1,2,1", "B": 1}]})",
         "Json file error: member \"b\" of \"security_ctrl\"[0] is not a string\n"},
        {R"({"security_ctrl": [{"a\u0001": ["x"]}]})",
         "Json file error: member \"a\\x01\" of \"security_ctrl\"[0] is not a string\n"},
        {R"({"security_ctrl": [{"a\u0000b": "1"}]})",
         "Json file error: a member name of \"security_ctrl\"[0] contains a zero character\n"},
        {R"({"security_ctrl": [{"a": "5,3\u0000,1"}]})",
         "Json file error: member \"a\" of \"security_ctrl\"[0] contains a zero character\n"},
        {R"([])", "Json file error: the document is not a JSON object\n"},
        {R"("text")", "Json file error: the document is not a JSON object\n"},
        {R"(null)", "Json file error: the document is not a JSON object\n"},
        {R"({"EFUSE_enable": true, "security_ctrl": [{}]})",
         "Json file error: member \"efuse_enable\" is not a string\n"},
        {R"({"security_data_enable": "tr\u0000ue", "security_ctrl": [{}]})",
         "Json file error: member \"security_data_enable\" contains a zero character\n"},
        {R"({"user_operate": {}, "security_ctrl": [{}]})", "Json file error: member \"user_operate\" is not an array\n"},
        {R"({"efuse": "x", "security_ctrl": [{}]})", "Json file error: member \"efuse\" is not an array\n"},
        {R"({"security_ctrl": [{}], "security_data": 7})", "Json file error: member \"security_data\" is not an array\n"},
        {R"({"efuse": [{"mode":"read","byte_addr":"0","length":"1","data":"","status":"true"}, [1]],
             "security_ctrl": [{}]})",
         "Json file error: \"efuse\"[1] is not an object\n"},
        {R"({"user_operate": [{"name":"a","mode":"read","start_addr":"0","byte_len":"4","data":"",
             "data_type":"hex"}], "security_ctrl": [{}]})",
         "Json file error: \"user_operate\"[0] has no member \"status\"\n"},
        {R"({"efuse": [{"mode":"write","byte_addr":"0","length":"1","status":"true"}], "security_ctrl": [{}]})",
         "Json file error: \"efuse\"[0] has no member \"data\"\n"},
        {R"({"security_ctrl": [{}], "security_data": [
             {"name":"k","mode":"read","start_addr":"0","byte_len":"4","data":"","data_type":"hex","status":"true"},
             {"mode":"read","start_addr":"0","byte_len":"4","data":"","data_type":"hex","status":"true"}]})",
         "Json file error: \"security_data\"[1] has no member \"name\"\n"},
        {R"({"user_operate": [{"name":"a","mode":"read","start_addr":"0","byte_len":16,"data":"",
             "data_type":"hex","status":"true"}], "security_ctrl": [{}]})",
         "Json file error: member \"byte_len\" of \"user_operate\"[0] is not a string\n"},
        {R"({"user_operate": [{"name":"a","mode":"read","Permission":null,"start_addr":"0","byte_len":"4",
             "data":"","data_type":"hex","status":"true"}], "security_ctrl": [{}]})",
         "Json file error: member \"permission\" of \"user_operate\"[0] is not a string\n"},
        {R"({"efuse": [{"mode":"write","byte_addr":"0","last_valid_addr":1e308,"length":"1","data":"1",
             "status":"true"}], "security_ctrl": [{}]})",
         "Json file error: member \"last_valid_addr\" of \"efuse\"[0] is not a string\n"},
        {R"({"user_operate": [{"name":"a","mode":"write","start_addr":"0","byte_len":"4","data":"12\u000034",
             "data_type":"hex","status":"true"}], "security_ctrl": [{}]})",
         "Json file error: member \"data\" of \"user_operate\"[0] contains a zero character\n"},
        // Steps run in document order: a bad list is found before a missing "security_ctrl".
        {R"({"user_operate": [5]})", "Json file error: \"user_operate\"[0] is not an object\n"},
    };
    const SecurityConfig before = [] {
        SecurityConfig c;
        c.efuse_enable = "true";
        c.security_ctrl = {{"keep", "1,1,1"}};
        return c;
    }();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.doc);
        config = before;
        LoadResult r = load_text(c.doc);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.out, c.message);
        EXPECT_EQ(config, before);  // a refused document changes nothing
    }
}

TEST_F(SafeJson, TextsKeepBytesThatAreNotUtf8) {
    std::string doc = "{\"security_ctrl\": [{\"k\xe9y\": \"v\xff\"}], \"user_operate\": [{\"name\": \"N\xc0\","
                      "\"mode\": \"read\", \"start_addr\": \"0\", \"byte_len\": \"4\", \"data\": \"\xfe\xff\","
                      "\"data_type\": \"hex\", \"status\": \"true\"}]}";
    LoadResult r = load_text(doc);
    ASSERT_TRUE(r.ok) << r.out;
    ASSERT_EQ(config.user_operate.size(), 1u);
    EXPECT_EQ(config.user_operate[0].name, "n\xc0");
    EXPECT_EQ(config.user_operate[0].data, "\xfe\xff");
    EXPECT_EQ(config.security_ctrl, (std::map<std::string, std::string>{{"k\xe9y", "v\xff"}}));
}

TEST_F(SafeJson, DeepNestingNeverExhaustsTheStack) {
    const size_t depth = 100000;
    std::string arrays = std::string(depth, '[') + std::string(depth, ']');
    std::string objects;
    for (size_t i = 0; i < depth; ++i) objects += "{\"A\":";
    objects += "1" + std::string(depth, '}');

    LoadResult r = load_text("{\"security_ctrl\": [{}], \"x\": " + arrays + ", \"Y\": " + objects + "}");
    EXPECT_TRUE(r.ok) << r.out.substr(0, 200);

    r = load_text(arrays);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, "Json file error: the document is not a JSON object\n");

    r = load_text(std::string(depth, '['));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, parse_report(rapidjson::kParseErrorValueInvalid, depth, 0, static_cast<int>(depth)));
}

TEST_F(SafeJson, UnreadableFileIsReportedAsAnEmptyDocument) {
    const std::string missing = files.dir() + "/missing.json";
    const std::string cases[] = {missing, files.dir()};  // a directory opens but cannot be read
    for (const auto& path : cases) {
        SCOPED_TRACE(path);
        LoadResult r = load(path, config);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.out, "safe-json file " + path + " can not be read\n" +
                             parse_report(rapidjson::kParseErrorDocumentEmpty, 0, 0, 0));
    }
}

TEST_F(SafeJson, EndlessInputIsCutOff) {
    if (!std::filesystem::exists("/dev/zero")) GTEST_SKIP() << "no /dev/zero";
    LoadResult r = load("/dev/zero", config);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, "safe-json file /dev/zero is larger than 64 MiB\n");
}

}  // namespace
