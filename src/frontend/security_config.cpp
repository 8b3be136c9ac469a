// Loading of the safe-json document (--safe-json).
//
// Member names are matched without regard to case: every name in the
// document is lower-cased right after parsing. Values keep their case until
// a record takes them; records lower-case every value except "data".
//
// Anything the records cannot hold (a value that is not a string, a list that
// is not an array, a missing required member ...) refuses the whole document
// with a message naming the member and the record's index, so a download
// never runs with half a configuration.
#include "frontend/security_config.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <rapidjson/document.h>
#include <rapidjson/error/error.h>

#include "support/util.h"

namespace {

using rapidjson::Value;

// A safe-json document is a few kilobytes; the cap only keeps a wrong path
// (a device file, an endless pipe) from eating all memory.
constexpr size_t kMaxDocumentBytes = size_t{64} << 20;

enum class ReadResult { ok, unreadable, too_large };

ReadResult read_document(const std::string& path, std::string& text) {
    text.clear();
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return ReadResult::unreadable;
    }
    ReadResult result = ReadResult::ok;
    char chunk[64 * 1024];
    for (;;) {
        size_t got = std::fread(chunk, 1, sizeof chunk, file);
        if (text.size() + got > kMaxDocumentBytes) {
            result = ReadResult::too_large;
            break;
        }
        text.append(chunk, got);
        if (got < sizeof chunk) {
            // A directory opens but fails on the first read.
            if (std::ferror(file)) {
                result = ReadResult::unreadable;
            }
            break;
        }
    }
    std::fclose(file);
    if (result != ReadResult::ok) {
        text.clear();
    }
    return result;
}

void report_parse_error(const std::string& text, int code, size_t offset) {
    offset = std::min(offset, text.size());
    std::printf("Error Code: %d\n", code);
    std::printf("Error offset: %zu\n", offset);
    size_t line = static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
    size_t line_start = 0;
    if (offset > 0) {
        size_t last_feed = text.rfind('\n', offset - 1);
        if (last_feed != std::string::npos) {
            line_start = last_feed + 1;
        }
    }
    // The document size cap keeps both numbers within int.
    std::printf("Json file error at line %d, column %d\n", static_cast<int>(line), static_cast<int>(offset - line_start));
}

// Lower-cases every member name at every depth. Iterative: a document may
// nest far deeper than the call stack allows.
void lower_case_member_names(rapidjson::Document& doc) {
    auto& allocator = doc.GetAllocator();
    std::vector<Value*> pending{&doc};
    while (!pending.empty()) {
        Value* value = pending.back();
        pending.pop_back();
        if (value->IsObject()) {
            for (auto& member : value->GetObject()) {
                std::string name(member.name.GetString(), member.name.GetStringLength());
                std::string lowered = to_lower(name);
                if (lowered != name) {
                    member.name.SetString(lowered.data(), static_cast<rapidjson::SizeType>(lowered.size()), allocator);
                }
                pending.push_back(&member.value);
            }
        } else if (value->IsArray()) {
            for (auto& element : value->GetArray()) {
                pending.push_back(&element);
            }
        }
    }
}

// Printable form of a member name from the document, for messages.
std::string printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

enum class TextResult { ok, not_string, zero_char };

// The value as text. A zero character would silently cut the text short
// wherever it is used as a C string, so it is refused.
TextResult get_text(const Value& value, std::string& text) {
    if (!value.IsString()) {
        return TextResult::not_string;
    }
    text.assign(value.GetString(), value.GetStringLength());
    return text.find('\0') == std::string::npos ? TextResult::ok : TextResult::zero_char;
}

// Where a record member sits, for messages: "user_operate"[2].
struct RecordPlace {
    const char* list;
    size_t index;
};

bool refuse_member_text(TextResult result, const char* member, const RecordPlace* place) {
    const char* problem = result == TextResult::not_string ? "is not a string" : "contains a zero character";
    if (place == nullptr) {
        std::printf("Json file error: member \"%s\" %s\n", member, problem);
    } else {
        std::printf("Json file error: member \"%s\" of \"%s\"[%zu] %s\n", member, place->list, place->index, problem);
    }
    return false;
}

// How one record field is filled from its member.
template <class Record>
struct FieldRule {
    const char* member;
    std::string Record::*field;
    const char* fallback;  // null: the member is required
    bool keep_case;
};

template <class Record, size_t N>
bool read_record(const Value& element, const RecordPlace& place, const std::array<FieldRule<Record>, N>& rules,
                 Record& record) {
    if (!element.IsObject()) {
        std::printf("Json file error: \"%s\"[%zu] is not an object\n", place.list, place.index);
        return false;
    }
    for (const auto& rule : rules) {
        auto found = element.FindMember(rule.member);
        if (found == element.MemberEnd()) {
            if (rule.fallback == nullptr) {
                std::printf("Json file error: \"%s\"[%zu] has no member \"%s\"\n", place.list, place.index, rule.member);
                return false;
            }
            record.*rule.field = rule.fallback;
            continue;
        }
        std::string text;
        TextResult result = get_text(found->value, text);
        if (result != TextResult::ok) {
            return refuse_member_text(result, rule.member, &place);
        }
        record.*rule.field = rule.keep_case ? text : to_lower(text);
    }
    return true;
}

// A missing list is an empty one.
template <class Record, size_t N>
bool read_record_list(const Value& doc, const char* list, const std::array<FieldRule<Record>, N>& rules,
                      std::vector<Record>& records) {
    auto found = doc.FindMember(list);
    if (found == doc.MemberEnd()) {
        return true;
    }
    if (!found->value.IsArray()) {
        std::printf("Json file error: member \"%s\" is not an array\n", list);
        return false;
    }
    size_t index = 0;
    for (const auto& element : found->value.GetArray()) {
        Record record;
        if (!read_record(element, RecordPlace{list, index}, rules, record)) {
            return false;
        }
        records.push_back(std::move(record));
        ++index;
    }
    return true;
}

const std::array<FieldRule<UserOperateRecord>, 9> kUserOperateRules{{
    {"name", &UserOperateRecord::name, nullptr, false},
    {"mode", &UserOperateRecord::mode, nullptr, false},
    {"permission", &UserOperateRecord::permission, "ro", false},
    {"start_addr", &UserOperateRecord::start_addr, nullptr, false},
    {"last_valid_addr", &UserOperateRecord::last_valid_addr, "0", false},
    {"byte_len", &UserOperateRecord::byte_len, nullptr, false},
    {"data", &UserOperateRecord::data, nullptr, true},
    {"data_type", &UserOperateRecord::data_type, nullptr, false},
    {"status", &UserOperateRecord::status, nullptr, false},
}};

const std::array<FieldRule<SecurityDataRecord>, 9> kSecurityDataRules{{
    {"name", &SecurityDataRecord::name, nullptr, false},
    {"mode", &SecurityDataRecord::mode, nullptr, false},
    {"permission", &SecurityDataRecord::permission, "ro", false},
    {"start_addr", &SecurityDataRecord::start_addr, nullptr, false},
    {"last_valid_addr", &SecurityDataRecord::last_valid_addr, "0", false},
    {"byte_len", &SecurityDataRecord::byte_len, nullptr, false},
    {"data", &SecurityDataRecord::data, nullptr, true},
    {"data_type", &SecurityDataRecord::data_type, nullptr, false},
    {"status", &SecurityDataRecord::status, nullptr, false},
}};

const std::array<FieldRule<EfuseRecord>, 6> kEfuseRules{{
    {"mode", &EfuseRecord::mode, nullptr, false},
    {"byte_addr", &EfuseRecord::byte_addr, nullptr, false},
    {"last_valid_addr", &EfuseRecord::last_valid_addr, "0", false},
    {"length", &EfuseRecord::length, nullptr, false},
    {"data", &EfuseRecord::data, nullptr, true},
    {"status", &EfuseRecord::status, nullptr, false},
}};

bool read_enable_texts(const Value& doc, SecurityConfig& config) {
    const std::pair<const char*, std::string SecurityConfig::*> enables[] = {
        {"user_operate_enable", &SecurityConfig::user_operate_enable},
        {"efuse_enable", &SecurityConfig::efuse_enable},
        {"security_ctrl_enable", &SecurityConfig::security_ctrl_enable},
        {"security_data_enable", &SecurityConfig::security_data_enable},
    };
    for (const auto& [member, field] : enables) {
        auto found = doc.FindMember(member);
        if (found == doc.MemberEnd()) {
            continue;
        }
        std::string text;
        TextResult result = get_text(found->value, text);
        if (result != TextResult::ok) {
            return refuse_member_text(result, member, nullptr);
        }
        config.*field = text;
    }
    return true;
}

// "security_ctrl" is required in every document, even with its step off.
bool read_security_ctrl(const Value& doc, SecurityConfig& config) {
    auto found = doc.FindMember("security_ctrl");
    if (found == doc.MemberEnd() || !found->value.IsArray()) {
        std::printf("securityCtrlNode isn`t array! \n");
        return false;
    }
    const Value& list = found->value;
    if (list.Empty()) {
        std::printf("Json file error: \"security_ctrl\" is an empty array; its first element must be an object\n");
        return false;
    }
    const Value& first = list[0];
    if (!first.IsObject()) {
        std::printf("Json file error: \"security_ctrl\"[0] is not an object\n");
        return false;
    }
    for (const auto& member : first.GetObject()) {
        std::string name(member.name.GetString(), member.name.GetStringLength());
        if (name.find('\0') != std::string::npos) {
            std::printf("Json file error: a member name of \"security_ctrl\"[0] contains a zero character\n");
            return false;
        }
        std::string value;
        TextResult result = get_text(member.value, value);
        if (result != TextResult::ok) {
            RecordPlace place{"security_ctrl", 0};
            return refuse_member_text(result, printable(name).c_str(), &place);
        }
        config.security_ctrl[name] = value;
    }
    return true;
}

bool read_document_records(const Value& doc, SecurityConfig& config) {
    if (!doc.IsObject()) {
        std::printf("Json file error: the document is not a JSON object\n");
        return false;
    }
    return read_enable_texts(doc, config) &&
           read_record_list(doc, "user_operate", kUserOperateRules, config.user_operate) &&
           read_record_list(doc, "efuse", kEfuseRules, config.efuse) && read_security_ctrl(doc, config) &&
           read_record_list(doc, "security_data", kSecurityDataRules, config.security_data);
}

}  // namespace

bool load_safe_json(const std::string& path, SecurityConfig& config) {
    std::string text;
    switch (read_document(path, text)) {
    case ReadResult::ok:
        break;
    case ReadResult::too_large:
        std::printf("safe-json file %s is larger than %zu MiB\n", path.c_str(), kMaxDocumentBytes >> 20);
        return false;
    case ReadResult::unreadable:
        // Reported below as the empty document it leaves; this line says why.
        std::printf("safe-json file %s can not be read\n", path.c_str());
        break;
    }

    // Iterative parsing: same results and error reports as the recursive
    // parser, without running out of call stack on deeply nested input.
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
    if (doc.HasParseError()) {
        report_parse_error(text, static_cast<int>(doc.GetParseError()), doc.GetErrorOffset());
        return false;
    }
    // The parser takes a zero byte for the end of its input; one right after
    // the document would hide whatever follows it.
    size_t zero = text.find('\0');
    if (zero != std::string::npos) {
        report_parse_error(text, static_cast<int>(rapidjson::kParseErrorDocumentRootNotSingular), zero);
        return false;
    }
    lower_case_member_names(doc);

    SecurityConfig loaded;
    if (!read_document_records(doc, loaded)) {
        return false;
    }
    // The eFuse parameter texts are left empty: they belong to the chip.
    config = std::move(loaded);
    return true;
}
