// FuzzArguments.h - turns a fuzzer's input into a command line: arguments
// separated by NUL bytes, after the program's name. Used by the option
// parsers' fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct FuzzArguments {
    std::vector<std::string> words;
    std::vector<const char*> argv;  // points into words

    FuzzArguments(const char* program, const uint8_t* data, size_t size) : words(1, program) {
        words.emplace_back();
        for (size_t i = 0; i < size; ++i) {
            if (data[i] == 0) {
                words.emplace_back();
            } else {
                words.back().push_back(static_cast<char>(data[i]));
            }
        }
        for (const std::string& word : words) argv.push_back(word.c_str());
    }
    // argv points into the words' own buffers.
    FuzzArguments(const FuzzArguments&) = delete;
    FuzzArguments& operator=(const FuzzArguments&) = delete;

    int argc() const { return static_cast<int>(argv.size()); }
};
