#include "app/CommandLine.h"

bool ParseSeed(const char* text, uint32_t* seed) {
    if (text == nullptr || *text == '\0') return false;
    uint64_t value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return false;
        value = value * 10u + static_cast<uint64_t>(*c - '0');
        if (value > UINT32_MAX) return false;
    }
    *seed = static_cast<uint32_t>(value);
    return true;
}

std::string OneLine(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string line;
    line.reserve(text.size());
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code == 0x7F) {
            line += "\\x";
            line += kHex[code >> 4];
            line += kHex[code & 0xF];
        } else {
            line += c;
        }
    }
    return line;
}

void PrintErrorLine(std::FILE* out, const char* program, const std::string& message) {
    if (out == nullptr) return;
    std::fprintf(out, "%s: %s\n", program, OneLine(message).c_str());
}
