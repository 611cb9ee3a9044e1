// Number conversions and the command-line tokenizer under arbitrary input: the properties the
// callers rely on (round trips, the number forms, what a token may hold).
#include <fuzzer/FuzzedDataProvider.h>

#include <bitset>
#include <cmath>
#include <cstdio>
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "toolkit/runtime.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    // Any 64-bit pattern in decimal, "$" hex or "%" binary reads back after blanks and a sign, up
    // to the first character that is no digit of its base; "-" negates modulo 2^64.
    const uint64_t bits = in.ConsumeIntegral<uint64_t>();
    char hex[24];
    std::snprintf(hex, sizeof hex, "$%llx", static_cast<unsigned long long>(bits));
    const std::string forms[] = {std::to_string(bits), hex,
                                 "%" + std::bitset<64>(bits).to_string()};
    const std::string digits = forms[bits % 3] + (in.ConsumeBool() ? "g2" : " 12");
    CHECK(tk::TextToInteger(" \t+" + digits) == int64_t(bits));
    CHECK(tk::TextToInteger("-" + digits) == int64_t(0 - bits));
    CHECK(tk::TextToInteger(tk::IntegerToText(int64_t(bits))) == int64_t(bits));

    // Toward zero when the value fits 64 bits; the smallest integer when it does not.
    const double real = in.ConsumeFloatingPoint<double>();
    const int64_t whole = tk::TruncateToInteger(real);
    CHECK(std::isfinite(real) && std::fabs(real) < 0x1p63 ? whole == int64_t(std::trunc(real))
                                                          : whole == INT64_MIN || real == -0x1p63);

    // Quotes group a token and are removed; spaces only separate.
    std::string line = in.ConsumeRemainingBytesAsString(), joined;
    for (char& c : line) c = uint8_t(c) % 4 == 0 ? ' ' : uint8_t(c) % 7 == 0 ? '"' : c;
    for (const std::string& token : tk::TokenizeCommandLine(line)) {
        CHECK(token.find('"') == std::string::npos ||
              (token[0] != '"' && token.find(' ') == std::string::npos));
        joined += token;
    }
    std::erase(line, ' '), std::erase(line, '"'), std::erase(joined, ' '), std::erase(joined, '"');
    CHECK(joined == line);
    return 0;
}
