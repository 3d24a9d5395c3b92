// Fuzzes the readers of typed numbers: a setting's text from the INI file (and
// the command lines) and a dialog field. A text read as a number
// must print back to the same number, and the two INI readers must agree.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/Settings.h"
#include "win32/HostLogic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);  // ends at a NUL
    int32_t value = 12345;
    const SettingText kind = ReadSettingText(text.c_str(), &value);
    int32_t again = 0;
    const bool parsed = ParseSettingText(text.c_str(), &again);
    if (parsed != (kind == SettingText::Number)) std::abort();
    if (kind == SettingText::Number) {
        if (again != value) std::abort();
        // The digits, without blanks, sign or leading zeros, are the value.
        const long long direct = std::strtoll(text.c_str(), nullptr, 10);
        if (direct != value) std::abort();
    } else if (value != 12345) {
        std::abort();  // nothing read, nothing set
    }
    (void)hostlogic::DialogNumber(text.c_str(), true);
    (void)hostlogic::DialogNumber(text.c_str(), false);
    return 0;
}
