#include "output/json_reader.h"

#include <cstdlib>
#include <stdexcept>

namespace kvd::tool {
namespace {

// Nesting deeper than this is not a sidecar.
constexpr int kMostDepth = 32;

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    JsonValue document() {
        JsonValue value = parseValue(0);
        skipSpace();
        if (at_ != text_.size())
            fail("text after the end");
        return value;
    }

private:
    [[noreturn]] void fail(const std::string &what) const {
        throw std::runtime_error(what + " at byte " + std::to_string(at_));
    }

    void skipSpace() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' ||
                                      text_[at_] == '\t'))
            ++at_;
    }

    bool take(char c) {
        skipSpace();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    void expect(char c) {
        if (!take(c))
            fail(std::string("no '") + c + "'");
    }

    bool takeWord(std::string_view word) {
        if (text_.substr(at_, word.size()) != word)
            return false;
        at_ += word.size();
        return true;
    }

    JsonValue parseValue(int depth) {
        if (depth > kMostDepth)
            fail("nesting too deep");
        skipSpace();
        JsonValue value;
        if (take('{')) {
            value.kind = JsonValue::Kind::Object;
            if (take('}'))
                return value;
            do {
                skipSpace();
                std::string name = parseString();
                expect(':');
                value.members.emplace_back(std::move(name), parseValue(depth + 1));
            } while (take(','));
            expect('}');
        } else if (take('[')) {
            value.kind = JsonValue::Kind::Array;
            if (take(']'))
                return value;
            do
                value.items.push_back(parseValue(depth + 1));
            while (take(','));
            expect(']');
        } else if (at_ < text_.size() && text_[at_] == '"') {
            value.kind = JsonValue::Kind::String;
            value.text = parseString();
        } else if (takeWord("true")) {
            value.kind = JsonValue::Kind::Boolean;
            value.boolean = true;
        } else if (takeWord("false")) {
            value.kind = JsonValue::Kind::Boolean;
        } else if (takeWord("null")) {
            value.kind = JsonValue::Kind::Null;
        } else {
            value.kind = JsonValue::Kind::Number;
            value.text = parseNumber();
        }
        return value;
    }

    std::string parseNumber() {
        const size_t start = at_;
        while (at_ < text_.size() && std::string_view("+-0123456789.eE").find(text_[at_]) != std::string_view::npos)
            ++at_;
        const std::string number(text_.substr(start, at_ - start));
        char *end = nullptr;
        std::strtod(number.c_str(), &end);
        if (number.empty() || *end != '\0')
            fail("no value");
        return number;
    }

    std::string parseString() {
        if (at_ >= text_.size() || text_[at_] != '"')
            fail("no string");
        std::string out;
        for (++at_; at_ < text_.size() && text_[at_] != '"'; ++at_) {
            if (static_cast<unsigned char>(text_[at_]) < 0x20)
                fail("a control character in a string");
            if (text_[at_] != '\\') {
                out += text_[at_];
                continue;
            }
            if (++at_ == text_.size())
                break;
            switch (text_[at_]) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': appendCodePoint(out); break;
            default: out += text_[at_];
            }
        }
        if (at_ >= text_.size())
            fail("an unterminated string");
        ++at_;
        return out;
    }

    // \uXXXX of the basic plane, as UTF-8.
    void appendCodePoint(std::string &out) {
        const std::string hex(text_.substr(at_ + 1, 4));
        char *end = nullptr;
        const unsigned long code = std::strtoul(hex.c_str(), &end, 16);
        if (hex.size() != 4 || *end != '\0')
            fail("a bad \\u escape");
        at_ += 4;
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | code >> 6);
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xE0 | code >> 12);
            out += char(0x80 | (code >> 6 & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }

    std::string_view text_;
    size_t at_ = 0;
};

} // namespace

const JsonValue *JsonValue::member(std::string_view name) const {
    for (const auto &[key, value] : members)
        if (key == name)
            return &value;
    return nullptr;
}

JsonValue parseJson(std::string_view text) { return Parser(text).document(); }

} // namespace kvd::tool
