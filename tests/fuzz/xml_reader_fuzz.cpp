// Layout files come from disk and may be damaged or hostile: the reader must refuse, never crash.
#include "lib/uilib/utf8.h"
#include "lib/uilib/xml_reader.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    XmlElement root;
    XmlError error;
    if (ParseXml(text, root, error)) {
        for (const auto& a : root.attributes) {
            Utf8ToUtf16(a.second);
        }
    }
    Utf16ToUtf8(Utf8ToUtf16(text));
    return 0;
}
