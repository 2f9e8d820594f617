// TAVROL.VXD as a file: the LE structure the VMM's loader needs of a dynamic VxD, and the reader
// (the simulated PC's loader) refusing images it could not place.
#include <cstring>

#include "built_vxd.h"

namespace {

uint32_t dwordAt(const std::vector<uint8_t>& bytes, uint32_t offset) {
    uint32_t value;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

uint16_t wordAt(const std::vector<uint8_t>& bytes, uint32_t offset) {
    return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

const uint32_t kObjectReadable = 0x1, kObjectWritable = 0x2, kObjectExecutable = 0x4;
const uint32_t kObjectDiscardable = 0x10, kObjectPreload = 0x40, kObject32Bit = 0x2000;

TEST(VxdImage, HeaderAnnouncesADynamicVxdFor386WindowsInOneLockedObject) {
    BUILT_VXD_IMAGE(image);
    EXPECT_EQ(2u, image.cpu) << "80386";
    EXPECT_EQ(4u, image.os) << "Windows 386";
    EXPECT_EQ(0x38000u, image.moduleFlags) << "a dynamically loadable virtual device driver";
    EXPECT_EQ(4096u, image.pageSize);
    ASSERT_EQ(1u, image.objects.size());
    const sim::LeObject& object = image.objects[0];
    // The control procedure of a dynamic VxD must be locked: preloaded, never discarded.
    EXPECT_EQ(kObjectReadable | kObjectWritable | kObjectExecutable | kObjectPreload | kObject32Bit,
              object.flags)
        << std::hex << "flags 0x" << object.flags;
    EXPECT_EQ(0u, object.flags & kObjectDiscardable);
    EXPECT_EQ(1u, object.firstPage);
    EXPECT_EQ(image.pageCount, object.pageCount);
    EXPECT_EQ(image.pageCount, image.preloadPages);
    EXPECT_EQ(object.virtualSize - (image.pageCount - 1) * 4096, image.lastPageSize);
}

TEST(VxdImage, NamesTheModuleAndExportsItsDdbAsOrdinalOne) {
    BUILT_VXD_IMAGE(image);
    EXPECT_EQ("TAVROL", image.moduleName());
    ASSERT_EQ(2u, image.residentNames.size());
    EXPECT_EQ(0u, image.residentNames[0].ordinal);
    EXPECT_EQ("TAVROL_DDB", image.residentNames[1].name);
    EXPECT_EQ(1u, image.residentNames[1].ordinal);
    ASSERT_EQ(1u, image.nonResidentNames.size());
    EXPECT_EQ("Tavrol virtual device driver", image.nonResidentNames[0].name);

    const sim::LeEntry* entry = image.entry(1);
    ASSERT_NE(nullptr, entry);
    EXPECT_EQ(1u, entry->flags & 1) << "exported";
    ASSERT_EQ(1u, entry->object);
    const std::vector<uint8_t>& object = image.objects[0].data;
    ASSERT_LE(entry->offset + 0x50u, object.size());
    const uint32_t ddb = entry->offset;
    // DDB_Name is the file's name: Windows unloads the driver at the last close only then.
    EXPECT_EQ("TAVROL  ", std::string(reinterpret_cast<const char*>(&object[ddb + 0x0C]), 8));
    EXPECT_EQ(0x0400u, wordAt(object, ddb + 0x04)) << "DDB_SDK_Version";
    EXPECT_EQ(image.ddkVersion, wordAt(object, ddb + 0x04)) << "the header repeats it";
    EXPECT_EQ(image.deviceId, wordAt(object, ddb + 0x06)) << "DDB_Req_Device_Number";
    EXPECT_EQ(0u, image.deviceId) << "Undefined_Device_ID: the driver offers no services";
    EXPECT_EQ(0x80000000u, dwordAt(object, ddb + 0x14)) << "UNDEFINED_INIT_ORDER";
    EXPECT_EQ(0x50726576u, dwordAt(object, ddb + 0x3C)) << "DDB_Prev: 'Prev'";
    EXPECT_EQ(0x50u, dwordAt(object, ddb + 0x40)) << "DDB_Size";
}

// The loader writes every absolute address: the DDB's control procedure must be among them, and
// each fixup must land inside the object and point into it. The file holds each target as if the
// object sat at address 0.
TEST(VxdImage, EveryFixupLandsInTheObjectAndPointsIntoIt) {
    BUILT_VXD_IMAGE(image);
    ASSERT_FALSE(image.fixups.empty());
    const uint32_t controlProcField = image.entry(1)->offset + 0x18;
    bool controlProcFixed = false;
    for (const sim::LeFixup& fixup : image.fixups) {
        SCOPED_TRACE(fixup.sourceOffset);
        ASSERT_EQ(1u, fixup.sourceObject);
        ASSERT_EQ(1u, fixup.targetObject);
        const sim::LeObject& object = image.objects[0];
        ASSERT_LE(fixup.sourceOffset + 4u, object.virtualSize);
        EXPECT_LT(fixup.targetOffset, object.virtualSize);
        EXPECT_EQ(fixup.targetOffset, dwordAt(object.data, fixup.sourceOffset));
        controlProcFixed |= fixup.sourceOffset == controlProcField;
    }
    EXPECT_TRUE(controlProcFixed) << "DDB_Control_Proc would keep its file value";
}

// Images the loader could not place are refused with the reason, whatever part is broken.
TEST(VxdImage, ReaderRefusesBrokenImages) {
    BUILT_VXD_IMAGE(image);
    const uint32_t le = image.headerOffset;
    const std::vector<uint8_t>& good = builtVxdFile();
    const uint32_t fixupRecords = le + dwordAt(good, le + 0x6C);
    const uint32_t entryTable = le + dwordAt(good, le + 0x5C);
    struct Case {
        const char* name;
        uint32_t offset; // where the bytes change; ~0 cuts the file to half
        std::vector<uint8_t> bytes;
        const char* reason;
    } cases[] = {
        {"cut in half", ~0u, {}, "outside the file"},
        {"no MZ", 0, {'Z', 'M'}, "no MZ header"},
        {"LE header past the end", 0x3C, {0xFF, 0xFF, 0, 0}, "LE header lies outside the file"},
        {"LX instead of LE", le, {'L', 'X'}, "no LE header"},
        {"8 KiB pages", le + 0x28, {0, 0x20, 0, 0}, "pages of 8192 bytes"},
        {"data pages past the end", le + 0x80, {0, 0, 1, 0}, "data page lies outside the file"},
        {"object with pages the module lacks", le + 0xC4 + 16, {2}, "does not fit its pages"},
        {"16-bit entry bundle", entryTable + 1, {1}, "entry bundle of type 1"},
        {"self-relative fixup", fixupRecords, {0x08}, "source type 0x8"},
        {"imported fixup", fixupRecords + 1, {0x01}, "flags 0x1"},
        {"fixup before its page", fixupRecords + 2, {0x00, 0x80}, "lies outside it"},
        {"fixup target past the object", fixupRecords + 5, {0xFF, 0xFF}, "points outside object 1"},
        {"fixup to object 2", fixupRecords + 4, {2}, "points outside object 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> file = good;
        if (c.offset == ~0u)
            file.resize(file.size() / 2);
        else
            std::copy(c.bytes.begin(), c.bytes.end(), file.begin() + c.offset);
        sim::LeImage broken;
        std::string error;
        EXPECT_FALSE(sim::parseLeImage(file, &broken, &error));
        EXPECT_NE(std::string::npos, error.find(c.reason)) << error;
    }
}

} // namespace
