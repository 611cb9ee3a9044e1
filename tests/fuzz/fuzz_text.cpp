// Text and number conversions and the command-line tokenizer under arbitrary input. Every check
// below is a property the callers rely on; any violation aborts the run.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "toolkit/headless/null_backend.h"
#include "toolkit/runtime.h"
#include "toolkit/window.h"

namespace {

using tk::Text;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Decimal text: "0", or an optional "-" and digits without a leading zero.
bool IsCanonicalDecimal(const Text& text) {
    size_t i = !text.empty() && text[0] == '-' ? 1 : 0;
    if (i >= text.size()) return false;
    if (text[i] == '0') return text == "0";
    for (; i < text.size(); ++i)
        if (!IsDigit(text[i])) return false;
    return true;
}

Text InBase(uint64_t value, unsigned base, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    Text text;
    do {
        text.insert(text.begin(), digits[value % base]);
        value /= base;
    } while (value != 0);
    return text;
}

void CheckIntegers(FuzzedDataProvider& in) {
    const int64_t value = in.ConsumeIntegral<int64_t>();
    const Text text = tk::IntegerToText(value);
    CHECK(IsCanonicalDecimal(text));
    CHECK(tk::TextToInteger(text) == value);
    CHECK(tk::IntegerToText(tk::TextToInteger(text)) == text);

    // Every 64-bit pattern written in each base reads back as itself; leading zeros, blanks,
    // a "+" and a tail that is no digit of the base change nothing, and "-" negates modulo 2^64.
    const uint64_t bits = in.ConsumeIntegral<uint64_t>();
    const bool upper = in.ConsumeBool();
    const Text zeros(in.ConsumeIntegralInRange<size_t>(0, 3), '0');
    const Text blanks = in.ConsumeBool() ? " \t " : "";
    const Text tails[] = {"", "x", " 12", "g", "-", "$1", "2", "9", "G7"};
    struct Form {
        const char* prefix;
        unsigned base;
        size_t firstBadTail; // tails from here on do not continue the number
    };
    const Form forms[] = {{"", 10, 1}, {"$", 16, 1}, {"%", 2, 1}};
    const Form& form = forms[in.ConsumeIntegralInRange<int>(0, 2)];
    const size_t tailIndex = in.ConsumeIntegralInRange<size_t>(0, std::size(tails) - 1);
    Text tail = tails[tailIndex];
    // "2" and "9" continue a decimal number, "2" and "9" are no binary digits; "G7" stops all.
    const bool tailStops = tail.empty() || !(IsDigit(tail[0]) && (tail[0] - '0') < int(form.base));
    if (!tailStops) tail.clear();
    const Text digits = InBase(bits, form.base, upper);
    const Text plain = blanks + form.prefix + zeros + digits + tail;
    CHECK(tk::TextToInteger(plain) == static_cast<int64_t>(bits));
    CHECK(tk::TextToInteger(blanks + "+" + form.prefix + zeros + digits + tail) ==
          static_cast<int64_t>(bits));
    CHECK(tk::TextToInteger(blanks + "-" + form.prefix + zeros + digits + tail) ==
          static_cast<int64_t>(0 - bits));
    // A prefix, sign or blank with no digits behind it reads as 0.
    CHECK(tk::TextToInteger(blanks + form.prefix + "z" + digits) == 0);
    CHECK(tk::TextToInteger("- " + digits) == 0);

    // Arbitrary bytes: never more than the digits that follow allow.
    const Text any = in.ConsumeRandomLengthString(40);
    const int64_t parsed = tk::TextToInteger(any);
    CHECK(tk::TextToInteger(" " + any) == parsed);
    size_t i = 0;
    while (i < any.size() && (any[i] == ' ' || any[i] == '\t')) ++i;
    if (i < any.size() && (any[i] == '+' || any[i] == '-')) ++i;
    if (i >= any.size() || (!IsDigit(any[i]) && any[i] != '$' && any[i] != '%')) CHECK(parsed == 0);
}

void CheckPadding(FuzzedDataProvider& in) {
    const Text text = in.ConsumeRandomLengthString(64);
    const int64_t width = in.ConsumeIntegralInRange<int64_t>(-8, 200);
    const Text fill = in.ConsumeRandomLengthString(3);
    const Text padded = tk::PadLeft(text, width, fill);
    const size_t wanted = width > 0 ? static_cast<size_t>(width) : 0;
    CHECK(padded.size() == wanted);
    if (text.size() >= wanted) {
        CHECK(padded == text.substr(0, wanted));
    } else {
        const char filler = fill.empty() ? ' ' : fill[0];
        CHECK(padded.compare(wanted - text.size(), Text::npos, text) == 0);
        for (size_t k = 0; k < wanted - text.size(); ++k) CHECK(padded[k] == filler);
    }
    CHECK(tk::TextLength(text) == static_cast<int64_t>(text.size()));
}

void CheckFields(FuzzedDataProvider& in) {
    const Text separator = in.ConsumeRandomLengthString(3);
    const Text text = in.ConsumeRandomLengthString(80);
    CHECK(tk::FieldOf(text, 0, separator).empty());
    CHECK(tk::FieldOf(text, in.ConsumeIntegralInRange<int64_t>(INT64_MIN, 0), separator).empty());
    if (separator.empty()) {
        CHECK(tk::FieldOf(text, 1, separator) == text);
        CHECK(tk::FieldOf(text, 2, separator).empty());
        return;
    }
    // Fields joined with the separator give the text back; each field ends at the first
    // occurrence of the separator after its start, and the last holds none at all.
    Text joined;
    int64_t index = 1;
    for (;; ++index) {
        CHECK(index <= static_cast<int64_t>(text.size()) + 1);
        const Text field = tk::FieldOf(text, index, separator);
        if (index > 1) joined += separator;
        joined += field;
        CHECK(joined.size() <= text.size());
        CHECK(text.compare(0, joined.size(), joined) == 0);
        if (joined.size() == text.size()) {
            CHECK(field.find(separator) == Text::npos);
            break;
        }
        CHECK((field + separator).find(separator) == field.size());
    }
    CHECK(joined == text);
    CHECK(tk::FieldOf(text, index + 1, separator).empty());
    CHECK(tk::FieldOf(text, INT64_MAX, separator).empty());
}

void CheckMiddle(FuzzedDataProvider& in) {
    const Text text = in.ConsumeRandomLengthString(64);
    int64_t start, length;
    if (in.ConsumeBool()) {
        start = in.ConsumeIntegral<int64_t>();
        length = in.ConsumeIntegral<int64_t>();
    } else {
        start = in.ConsumeIntegralInRange<int64_t>(-3, 70);
        length = in.ConsumeIntegralInRange<int64_t>(-3, 70);
    }
    const Text middle = tk::MiddleOf(text, start, length);
    const int64_t size = static_cast<int64_t>(text.size());
    const int64_t from = start <= 1 ? 0 : start - 1;
    const int64_t room = from >= size ? 0 : size - from;
    const int64_t expected = length <= 0 ? 0 : (length < room ? length : room);
    CHECK(static_cast<int64_t>(middle.size()) == expected);
    if (expected > 0) CHECK(text.compare(static_cast<size_t>(from), middle.size(), middle) == 0);
}

void CheckTruncation(FuzzedDataProvider& in) {
    double value;
    if (in.ConsumeBool()) {
        const uint64_t bits = in.ConsumeIntegral<uint64_t>();
        std::memcpy(&value, &bits, sizeof value);
    } else {
        // Near the edges of the 64-bit range and near zero, where the rules change.
        const double anchors[] = {0.0, 0.5, 1.0, 9223372036854775808.0, 4294967296.0, 2147483648.0};
        value = anchors[in.ConsumeIntegralInRange<int>(0, 5)];
        value = std::nextafter(value, in.ConsumeBool() ? INFINITY : 0.0);
        value += in.ConsumeIntegralInRange<int>(-3, 3);
        if (in.ConsumeBool()) value = -value;
    }
    const int64_t result = tk::TruncateToInteger(value);
    const bool representable =
        std::isfinite(value) && value < 9223372036854775808.0 && value >= -9223372036854775808.0;
    if (!representable) {
        CHECK(result == INT64_MIN);
        CHECK(static_cast<int32_t>(result) == 0);
        return;
    }
    // long double holds every 64-bit integer exactly on this platform.
    CHECK(static_cast<long double>(result) == std::trunc(static_cast<long double>(value)));
}

// Splits as the command line is described: runs of spaces separate tokens; a token that
// begins with a quote runs to the next quote (or the end) without the quotes, and the next
// token starts right after the closing quote; quotes inside a plain token are kept.
std::vector<Text> ReferenceTokens(const Text& line) {
    std::vector<Text> tokens;
    enum { Between, Plain, Quoted } mode = Between;
    for (char c : line) {
        switch (mode) {
        case Between:
            if (c == ' ') break;
            tokens.emplace_back();
            if (c == '"') {
                mode = Quoted;
            } else {
                tokens.back() += c;
                mode = Plain;
            }
            break;
        case Plain:
            if (c == ' ')
                mode = Between;
            else
                tokens.back() += c;
            break;
        case Quoted:
            if (c == '"')
                mode = Between;
            else
                tokens.back() += c;
            break;
        }
    }
    return tokens;
}

Text WithoutSpacesAndQuotes(const Text& text) {
    Text kept;
    for (char c : text)
        if (c != ' ' && c != '"') kept += c;
    return kept;
}

void CheckCommandLine(FuzzedDataProvider& in) {
    Text line = in.ConsumeRandomLengthString(120);
    // Bias towards the characters that matter.
    for (char& c : line) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u % 4 == 0)
            c = ' ';
        else if (u % 7 == 0)
            c = '"';
    }
    const std::vector<Text> tokens = tk::TokenizeCommandLine(line);
    CHECK(tokens == ReferenceTokens(line));
    Text all;
    for (const Text& token : tokens) {
        CHECK(token.empty() || token[0] != '"');
        // A token with a space came from quotes and so holds none.
        if (token.find(' ') != Text::npos) CHECK(token.find('"') == Text::npos);
        all += token;
    }
    CHECK(WithoutSpacesAndQuotes(all) == WithoutSpacesAndQuotes(line));
    CHECK(all.size() <= line.size());

    // The parameter cursor: an index of 0 or more sets it, a hit advances it, a negative index
    // reads where it points.
    tk::SetCommandLineText(line);
    const int64_t parameters = tokens.empty() ? 0 : static_cast<int64_t>(tokens.size()) - 1;
    int64_t cursor = 0;
    for (int step = in.ConsumeIntegralInRange<int>(0, 8); step > 0; --step) {
        const int index = in.ConsumeIntegralInRange<int>(-2, static_cast<int>(parameters) + 1);
        if (index >= 0) cursor = index;
        const Text got = tk::CommandLineParameter(index);
        if (cursor < parameters) {
            CHECK(got == tokens[static_cast<size_t>(cursor) + 1]);
            ++cursor;
        } else {
            CHECK(got.empty());
        }
    }
}

void CheckFilePart(FuzzedDataProvider& in) {
    const Text path = in.ConsumeRandomLengthString(60);
    const Text part = tk::FilePartOf(path);
    CHECK(part.find_first_of("/\\\"") == Text::npos);
    CHECK(path.find(part) != Text::npos);
    if (path.find('"', 1) == Text::npos && path.find_last_of("/\\") != Text::npos)
        CHECK(path.size() >= part.size() &&
              path.compare(path.size() - part.size(), part.size(), part) == 0);
}

} // namespace

// The toolkit keeps the command line: it runs for the whole fuzzing process.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static tk::NullBackend backend;
    CHECK(tk::InitToolkit(&backend) == 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange<int>(0, 6)) {
        case 0:
            CheckIntegers(in);
            break;
        case 1:
            CheckPadding(in);
            break;
        case 2:
            CheckFields(in);
            break;
        case 3:
            CheckMiddle(in);
            break;
        case 4:
            CheckTruncation(in);
            break;
        case 5:
            CheckCommandLine(in);
            break;
        case 6:
            CheckFilePart(in);
            break;
        }
    }
    return 0;
}
