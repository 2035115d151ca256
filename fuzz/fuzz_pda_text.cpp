// Fuzzes the .pda text reader, then applies what it read to a PDA.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pda/pda.h"
#include "pda/pda_text_file.h"
#include "pda/setpoint.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace varnel;
    uint16_t words[PdaMaxWords];
    const uint16_t n = ReadPdaText(words, std::string_view(reinterpret_cast<const char*>(data), size));
    if (n > PdaMaxWords) __builtin_trap();
    CPda pda;
    pda.LoadFromWords(words, n);
    ConfigureSetPointAndIntegrator(pda);
    uint16_t out[PdaMaxWords];
    pda.ToWords(out);
    return 0;
}
