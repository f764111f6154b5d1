// Drives the arrangement file's decoder with arbitrary bytes. A document either fails with a
// DecodingError or decodes to an arrangement that writes and reads back unchanged; any other
// exception, crash or sanitizer report is a fault.
#include "Models/DecodingError.hpp"
#include "Models/IconArrangement.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using stashbay::DecodingError;
using stashbay::IconArrangement;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        IconArrangement arrangement = IconArrangement::decodeDocument(bytes);
        std::string written = arrangement.encodedDocument();
        IconArrangement reread = IconArrangement::decodeDocument(written);
        if (!(reread == arrangement)) std::abort();
        if (reread.encodedDocument() != written) std::abort();
    } catch (const DecodingError&) {
    }
    return 0;
}
