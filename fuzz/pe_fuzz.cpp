// A resource library such as Tavrol.tvx, as the loader reads it: whatever the file says, the
// resources it yields lie inside the file, there are no more of them than 8-byte entries fit into
// it, and their icons and dialog templates decode without reading past their bytes.
#include <string>

#include "fuzz_check.h"
#include "sim/pe_module.h"
#include "sim/ui.h"

using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::PeImage image;
    std::string why;
    if (!sim::parsePeImage(data, size, &image, &why)) {
        require(!why.empty(), "a refusal says why");
        return 0;
    }
    require(image.resources.size() <= size / 8, "the resource tree is bounded by the file");
    for (const sim::PeResource& r : image.resources) {
        require(uint64_t(r.fileOffset) + r.size <= size, "a resource lies inside the file");
        const uint8_t* bytes = data + r.fileOffset;
        if (r.type.isId() && r.type.id == 3) {
            sim::IconImage icon;
            if (sim::decodeIconImage(bytes, r.size, &icon))
                require(icon.pixels.size() == size_t(icon.width) * size_t(icon.height),
                        "an icon has a pixel for every place");
        } else if (r.type.isId() && r.type.id == 5) {
            sim::DialogTemplate dialog;
            sim::parseDialogTemplate(bytes, r.size, &dialog, &why);
        }
    }
    DWORD error;
    sim::findResource(image, RT_DIALOG, MAKEINTRESOURCEA(100), &error);
    sim::findResource(image, "TAVROL", "#1", &error);
    return 0;
}
