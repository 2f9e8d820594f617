// Makes the starting corpus of the harnesses whose inputs are not files of ours as they stand:
// the dialog templates inside Tavrol.tvx, and requests to the driver's core on the buses of the
// shipped machine profiles.
//
//     fuzz_seeds TAVROL_TVX MACHINES_DIR OUTPUT_DIR    (writes OUTPUT_DIR/dialog,
//     OUTPUT_DIR/request)
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pci_capability.h"
#include "request_input.h"
#include "sim/machine.h"
#include "sim/pe_module.h"

namespace fs = std::filesystem;

namespace {

bool write(const fs::path& path, const uint8_t* bytes, size_t size) {
    std::ofstream out(path, std::ios::binary);
    return bool(out.write(reinterpret_cast<const char*>(bytes), std::streamsize(size)));
}

bool dialogSeeds(const std::string& tvx, const fs::path& folder) {
    std::ifstream in(tvx, std::ios::binary);
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    sim::PeImage image;
    if (!sim::parsePeImage(file.data(), file.size(), &image))
        return false;
    int written = 0;
    for (const sim::PeResource& r : image.resources) {
        if (!r.type.isId() || r.type.id != 5)
            continue;
        std::string name = r.name.isId() ? std::to_string(r.name.id) : r.name.name;
        if (!write(folder / ("tvx-" + name + ".dlg"), file.data() + r.fileOffset, r.size))
            return false;
        ++written;
    }
    return written > 0;
}

void putDword(std::vector<uint8_t>* record, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        (*record)[offset + size_t(i)] = uint8_t(value >> (8 * i));
}

// The requests the program makes of the driver on one machine.
bool requestSeeds(const fs::path& profilePath, const fs::path& folder) {
    sim::Profile profile;
    std::string error;
    if (!sim::loadProfileFile(profilePath.string(), &profile, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    fuzz::RequestInput base;
    for (const sim::PciFunctionImage& image : profile.functions) {
        if (base.functions.size() == fuzz::kMaxFunctions)
            break;
        fuzz::BusFunction f;
        f.bus = image.bus;
        f.slot = uint32_t(image.device) | (uint32_t(image.function) << 5);
        std::copy(image.config, image.config + 256, f.config);
        base.functions.push_back(f);
    }
    std::vector<fuzz::RequestInput> requests;
    auto request = [&](uint32_t code) -> fuzz::RequestInput& {
        requests.push_back(base);
        requests.back().code = code;
        requests.back().record.assign(fuzz::recordSizeOf(code), 0);
        return requests.back();
    };
    putDword(&request(IOCTL_PCI_FIND_CLASS).record, 0, 0x030000);
    putDword(&request(IOCTL_PCI_FIND_CLASS).record, 0, 0x060000);
    for (const fuzz::BusFunction& f : base.functions) {
        fuzz::RequestInput& space = request(IOCTL_PCI_READ_CONFIG_SPACE);
        putDword(&space.record, 0, f.bus);
        putDword(&space.record, 4, f.slot);
        uint32_t cap =
            pciFindCapabilityInImage(f.config, PCI_CAPABILITY_AGP, PCI_AGP_CAPABILITY_LENGTH);
        if (cap) {
            fuzz::RequestInput& status = request(IOCTL_PCI_READ_CONFIG_DWORD);
            putDword(&status.record, 0, f.bus);
            putDword(&status.record, 4, f.slot);
            putDword(&status.record, 8, cap + 4);
            fuzz::RequestInput& command = request(IOCTL_PCI_WRITE_CONFIG_DWORD);
            putDword(&command.record, 0, f.bus);
            putDword(&command.record, 4, f.slot);
            putDword(&command.record, 8, cap + 8);
            putDword(&command.record, 12, 0x1F000304);
        }
        uint32_t bar0 = uint32_t(f.config[0x10]) | uint32_t(f.config[0x11]) << 8 |
                        uint32_t(f.config[0x12]) << 16 | uint32_t(f.config[0x13]) << 24;
        if (f.config[0x0B] == 0x03 && (bar0 & 1) == 0) {
            for (uint32_t code : {IOCTL_PHYS_READ_DWORD, IOCTL_PHYS_WRITE_DWORD}) {
                fuzz::RequestInput& phys = request(code);
                putDword(&phys.record, 0, f.bus);
                putDword(&phys.record, 4, (bar0 & ~0xFu) + sim::kNvidiaStrapsOffset);
                putDword(&phys.record, 12, 0x80000EA3);
            }
        }
    }
    for (size_t i = 0; i < requests.size(); ++i) {
        std::vector<uint8_t> bytes = fuzz::encodeRequest(requests[i]);
        std::string name = profilePath.stem().string() + "-" + std::to_string(i) + ".bin";
        if (!write(folder / name, bytes.data(), bytes.size()))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: fuzz_seeds TAVROL_TVX MACHINES_DIR OUTPUT_DIR\n");
        return 2;
    }
    fs::path output = argv[3];
    std::error_code failed;
    fs::create_directories(output / "dialog", failed);
    fs::create_directories(output / "request", failed);
    if (!dialogSeeds(argv[1], output / "dialog")) {
        std::fprintf(stderr, "%s: no dialog templates could be read\n", argv[1]);
        return 1;
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(argv[2])) {
        if (entry.path().extension() == ".lspci" && !requestSeeds(entry.path(), output / "request"))
            return 1;
    }
    return 0;
}
