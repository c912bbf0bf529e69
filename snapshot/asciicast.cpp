#include "snapshot/asciicast.hpp"

#include <charconv>
#include <cstring>

#include "snapshot/render.hpp"

namespace vtsnap {

namespace {

// What a byte sequence that is not UTF-8 becomes: U+FFFF, a noncharacter.
// The emulator drops it as it drops the bytes, leaving no trace on the screen,
// and its first byte ends an escape sequence as theirs does, so that a
// recording replays to the screen the run showed live.
constexpr std::string_view kNotUtf8 = "\\uffff";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The UTF-8 character at `p`, `left` bytes on: its length when valid; the
// negative length of the longest start of one that the bytes are, when they
// are not UTF-8; 0 when it is valid so far but cut at the end.
int charLength(const std::uint8_t* p, std::size_t left) {
    const std::uint8_t lead = p[0];
    if (lead < 0x80) return 1;
    int follow = 2;
    std::uint8_t low = 0x80, high = 0xBF;  // the range of the byte after the lead
    if (lead >= 0xC2 && lead <= 0xDF) {
        follow = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        if (lead == 0xE0) low = 0xA0;  // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        follow = 3;
        if (lead == 0xF0) low = 0x90;  // overlong
        if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
        return -1;
    }
    for (int k = 1; k <= follow; ++k) {
        if (static_cast<std::size_t>(k) >= left) return 0;
        if (p[k] < low || p[k] > high) return -k;
        low = 0x80;
        high = 0xBF;
    }
    return follow + 1;
}

// True when one of the eight bytes at `p` is a control, a quote, a
// backslash, DEL or not ASCII.
inline bool needsLook(const std::uint8_t* p) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    const auto hasZero = [](std::uint64_t v) { return (v - kOnes) & ~v & kHigh; };
    const std::uint64_t control = (word - kOnes * 0x20) & ~word & kHigh;  // a byte below 0x20
    return ((word & kHigh) | control | hasZero(word ^ (kOnes * '"')) | hasZero(word ^ (kOnes * '\\')) |
            hasZero(word ^ (kOnes * 0x7F))) != 0;
}

// A valid character at `p` written as an escape rather than as itself: C1
// controls, and the line and paragraph separators that some readers take
// for line ends.
inline bool escapedAsWhole(const std::uint8_t* p) {
    return (p[0] == 0xC2 && p[1] < 0xA0) || (p[0] == 0xE2 && p[1] == 0x80 && (p[2] == 0xA8 || p[2] == 0xA9));
}

void appendMicroseconds(std::string& out, std::uint64_t microseconds) {
    char digits[32];
    auto end = std::to_chars(digits, digits + sizeof digits, microseconds / 1000000).ptr;
    *end++ = '.';
    const auto fraction = static_cast<std::uint32_t>(microseconds % 1000000);
    for (std::uint32_t scale = 100000; scale != 0; scale /= 10) *end++ = static_cast<char>('0' + fraction / scale % 10);
    out.append(digits, end);
}

}  // namespace

std::string asciicastHeader(std::int32_t width, std::int32_t height, std::int64_t unixSeconds,
                            std::string_view term) {
    std::string header = "{\"version\": 2, \"width\": ";
    header += std::to_string(width);
    header += ", \"height\": ";
    header += std::to_string(height);
    header += ", \"timestamp\": ";
    header += std::to_string(unixSeconds);
    header += ", \"env\": {";
    if (!term.empty()) {
        header += "\"TERM\": ";
        appendJsonString(header, term, true);
    }
    header += "}}\n";
    return header;
}

std::size_t appendJsonString(std::string& out, std::string_view bytes, bool final) {
    static constexpr char kHex[] = "0123456789abcdef";
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t size = bytes.size();
    out += '"';
    std::size_t i = 0;
    std::size_t run = 0;  // start of the bytes that go out as they are
    while (i < size) {
        // Eight bytes at a time while none needs a look of its own, then one
        // character at a time up to a byte that must be escaped or replaced.
        while (size - i >= 8 && !needsLook(p + i)) i += 8;
        int length = 1;
        while (i < size) {
            const std::uint8_t b = p[i];
            if (b >= 0x80) {
                length = charLength(p + i, size - i);
                if (length <= 0 || escapedAsWhole(p + i)) break;
                i += static_cast<std::size_t>(length);
            } else if (b < 0x20 || b == '"' || b == '\\' || b == 0x7F) {
                length = 1;
                break;
            } else {
                ++i;
            }
        }
        if (i == size) break;
        if (length == 0 && !final) break;  // the rest comes with the next block
        const std::uint8_t b = p[i];
        out.append(bytes.data() + run, i - run);
        switch (b) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (length > 0) {
                // C1 is C2 80 to C2 9F; the separators E2 80 A8 and E2 80 A9.
                const std::uint32_t code = length == 1 ? b : length == 2 ? p[i + 1] : 0x2000u + (p[i + 2] - 0x80u);
                out += "\\u";
                for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 15];
            } else {
                out += kNotUtf8;
            }
        }
        // A cut character at the very end counts as one bad sequence.
        i += length == 0 ? size - i : static_cast<std::size_t>(length < 0 ? -length : length);
        run = i;
    }
    out.append(bytes.data() + run, i - run);
    out += '"';
    return i;
}

void AsciicastEncoder::appendEvent(std::string& out, std::uint64_t microseconds, const std::uint8_t* bytes,
                                   std::size_t length) {
    std::string_view text(reinterpret_cast<const char*>(bytes), length);
    if (carried_ != 0) {
        joined_.assign(reinterpret_cast<const char*>(carry_), carried_);
        joined_.append(text);
        text = joined_;
    }
    const std::size_t mark = out.size();
    out += '[';
    appendMicroseconds(out, microseconds);
    out += ", \"o\", ";
    const std::size_t taken = appendJsonString(out, text, false);
    out += "]\n";
    carried_ = text.size() - taken;
    std::memcpy(carry_, text.data() + taken, carried_);
    // Nothing but the start of a character: no event.
    if (taken == 0) out.resize(mark);
}

void AsciicastEncoder::appendEnd(std::string& out, std::uint64_t microseconds) {
    if (carried_ == 0) return;
    out += '[';
    appendMicroseconds(out, microseconds);
    out += ", \"o\", ";
    appendJsonString(out, std::string_view(reinterpret_cast<const char*>(carry_), carried_), true);
    out += "]\n";
    carried_ = 0;
}

// Reading.

namespace {

// A strict JSON reader over one line; every step fails rather than guess.
class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    void skipSpace() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n'))
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
    bool atEnd() {
        skipSpace();
        return at_ == text_.size();
    }

    bool number(double& value) {
        skipSpace();
        const std::size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-') ++at_;
        // JSON's digits: no leading zeros, no bare point, no sign but minus.
        if (at_ < text_.size() && text_[at_] == '0') {
            ++at_;
        } else if (!digits()) {
            return false;
        }
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (!digits()) return false;
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
            if (!digits()) return false;
        }
        const auto result = std::from_chars(text_.data() + start, text_.data() + at_, value);
        return result.ec == std::errc() && result.ptr == text_.data() + at_;
    }

    // The string's bytes, unescaped, into `out`.
    bool string(std::string& out) {
        out.clear();
        if (!take('"')) return false;
        for (;;) {
            const std::size_t run = at_;
            while (at_ < text_.size() && text_[at_] != '"' && text_[at_] != '\\' &&
                   static_cast<unsigned char>(text_[at_]) >= 0x20)
                ++at_;
            out.append(text_.data() + run, at_ - run);
            if (at_ == text_.size()) return false;
            const char c = text_[at_++];
            if (c == '"') return true;
            if (c != '\\') return false;  // a raw control character
            if (at_ == text_.size()) return false;
            const char e = text_[at_++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                std::uint32_t code = 0;
                if (!hex4(code)) return false;
                if (code >= 0xD800 && code <= 0xDBFF && text_.substr(at_, 2) == "\\u") {
                    const std::size_t back = at_;
                    at_ += 2;
                    std::uint32_t low = 0;
                    if (!hex4(low)) return false;
                    if (low >= 0xDC00 && low <= 0xDFFF)
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    else
                        at_ = back;  // a lone high half; the next escape stands alone
                }
                appendCodePoint(out, code);
                break;
            }
            default: return false;
            }
        }
    }

    // Any JSON value, read and dropped; nesting is bounded.
    bool skipValue(int depth = 0) {
        if (depth > 64) return false;
        skipSpace();
        if (at_ == text_.size()) return false;
        const char c = text_[at_];
        if (c == '"') return string(scratch_);
        if (c == '{' || c == '[') {
            const char close = c == '{' ? '}' : ']';
            ++at_;
            if (take(close)) return true;
            do {
                if (c == '{' && (!string(scratch_) || !take(':'))) return false;
                if (!skipValue(depth + 1)) return false;
            } while (take(','));
            return take(close);
        }
        for (std::string_view word : {"true", "false", "null"})
            if (text_.substr(at_, word.size()) == word) {
                at_ += word.size();
                return true;
            }
        double ignored = 0;
        return number(ignored);
    }

    bool peek(char c) {
        skipSpace();
        return at_ < text_.size() && text_[at_] == c;
    }

private:
    bool digits() {
        const std::size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
        return at_ != start;
    }
    bool hex4(std::uint32_t& code) {
        if (text_.size() - at_ < 4) return false;
        code = 0;
        for (int k = 0; k < 4; ++k) {
            const char h = text_[at_++];
            code <<= 4;
            if (h >= '0' && h <= '9')
                code |= static_cast<std::uint32_t>(h - '0');
            else if (h >= 'a' && h <= 'f')
                code |= static_cast<std::uint32_t>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
                code |= static_cast<std::uint32_t>(h - 'A' + 10);
            else
                return false;
        }
        return true;
    }
    // Half of a surrogate pair alone is no character.
    static void appendCodePoint(std::string& out, std::uint32_t code) {
        if (code >= 0xD800 && code <= 0xDFFF)
            out += kReplacement;
        else if (code < 0x80)
            out += static_cast<char>(code);
        else
            appendUtf8(out, static_cast<char32_t>(code));
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::string scratch_;
};

// A size in the header: a whole number from 1 up, or 0 for anything else.
std::int32_t headerSize(double value) {
    if (!(value >= 1 && value <= 32767) || value != static_cast<double>(static_cast<std::int32_t>(value))) return 0;
    return static_cast<std::int32_t>(value);
}

}  // namespace

namespace {

// A number into `value`, or a string, an object or an array skipped; false
// for anything that is neither (true, false, null, a malformed value).
bool numberOrSkip(JsonReader& reader, std::optional<double>& value) {
    if (reader.peek('"') || reader.peek('{') || reader.peek('[')) return reader.skipValue();
    double number = 0;
    if (!reader.number(number)) return false;
    value = number;
    return true;
}

// The members of an object, after its '{': `member` reads each key's value
// (or skips it) and says whether it could.
template <class Member>
bool readObject(JsonReader& reader, Member member) {
    if (reader.take('}')) return true;
    std::string key;
    do {
        if (!reader.string(key) || !reader.take(':') || !member(key)) return false;
    } while (reader.take(','));
    return reader.take('}');
}

}  // namespace

std::optional<AsciicastHeader> readAsciicastHeader(std::string_view line) {
    JsonReader reader(line);
    if (!reader.take('{')) return std::nullopt;
    AsciicastHeader header;
    // Version 2 gives the size as "width" and "height", version 3 as "cols"
    // and "rows" of its "term" object.
    std::optional<double> version, width, height, cols, rows;
    const bool read = readObject(reader, [&](const std::string& key) {
        if (key == "version") return numberOrSkip(reader, version);
        if (key == "width") return numberOrSkip(reader, width);
        if (key == "height") return numberOrSkip(reader, height);
        if (key == "term" && reader.take('{')) {
            return readObject(reader, [&](const std::string& termKey) {
                if (termKey == "cols") return numberOrSkip(reader, cols);
                if (termKey == "rows") return numberOrSkip(reader, rows);
                return reader.skipValue();
            });
        }
        return reader.skipValue();
    });
    if (!read || !reader.atEnd() || !version) return std::nullopt;
    header.version = *version >= 1 && *version <= 1000 && *version == static_cast<int>(*version)
                         ? static_cast<int>(*version)
                         : 0;
    header.width = headerSize((header.version == 3 ? cols : width).value_or(0));
    header.height = headerSize((header.version == 3 ? rows : height).value_or(0));
    return header;
}

bool readAsciicastEvent(std::string_view line, AsciicastEvent& event) {
    JsonReader reader(line);
    return reader.take('[') && reader.number(event.seconds) && event.seconds >= 0 && reader.take(',') &&
           reader.string(event.type) && reader.take(',') && reader.string(event.text) && reader.take(']') &&
           reader.atEnd();
}

namespace {

std::string_view withoutByteOrderMark(std::string_view line) {
    if (line.starts_with(kByteOrderMark)) line.remove_prefix(kByteOrderMark.size());
    return line;
}

bool blank(std::string_view line) { return line.find_first_not_of(" \t\r") == std::string_view::npos; }

// The version on the second line of a version 1 recording spread over
// lines, `"version": N,`; -1 for any other line.
int spreadVersion(std::string_view line) {
    const std::size_t key = line.find_first_not_of(" \t");
    if (key == std::string_view::npos || line.substr(key, 9) != "\"version\"") return -1;
    std::size_t at = line.find_first_not_of(" \t", key + 9);
    if (at == std::string_view::npos || line[at] != ':') return -1;
    at = line.find_first_not_of(" \t", at + 1);
    int version = 0;
    if (at == std::string_view::npos) return -1;
    const auto result = std::from_chars(line.data() + at, line.data() + line.size(), version);
    return result.ec == std::errc() ? version : -1;
}

}  // namespace

bool needsSecondLine(std::string_view first) {
    first = withoutByteOrderMark(first);
    return first.starts_with('{') && blank(first.substr(1));
}

ReplayInput replayInput(std::string_view first, std::optional<std::string_view> second) {
    ReplayInput input;
    first = withoutByteOrderMark(first);
    if (!first.starts_with('{')) return input;
    if (const std::optional<AsciicastHeader> header = readAsciicastHeader(first)) {
        input.header = *header;
        const bool read = header->version == 2 || header->version == 3;
        input.kind = read ? ReplayInput::Kind::Recording : ReplayInput::Kind::OtherVersion;
    } else if (second && needsSecondLine(first)) {
        if (const int version = spreadVersion(*second); version >= 0) {
            input.header.version = version;
            input.kind = ReplayInput::Kind::OtherVersion;
        }
    }
    return input;
}

std::string notReplayedMessage(int version) {
    const std::string which = version > 0 ? "version " + std::to_string(version) : "an unknown version";
    return "an asciicast recording of " + which + ", which is not read (versions 2 and 3 are)";
}

std::string tooLargeMessage(std::int32_t width, std::int32_t height) {
    return "the recording's screen, " + std::to_string(width) + " x " + std::to_string(height) + ", has more than " +
           std::to_string(kMaxRecordingCells) + " cells";
}

AsciicastReplay::Step AsciicastReplay::next(std::string_view line) {
    if (blank(line) || (version_ == 3 && line.starts_with('#'))) return Step::Skip;
    if (!readAsciicastEvent(line, event_)) return Step::NotEvent;
    // Version 3 times each event from the one before.
    seconds_ = version_ == 3 ? seconds_ + event_.seconds : event_.seconds;
    if (until_ && seconds_ > *until_) return Step::Done;
    return event_.type == "o" ? Step::Output : Step::Skip;
}

}  // namespace vtsnap
