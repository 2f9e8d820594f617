// Test-side readers of dialog templates and version records.
#include "resources/template_reader.h"

namespace testpe {
namespace {

const uint32_t kDsSetFont = 0x40;
const uint32_t kDsShellFont = 0x48;

class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool ok() const { return m_ok; }
    size_t offset() const { return m_offset; }

    uint16_t u16() {
        if (!need(2))
            return 0;
        uint16_t v = uint16_t(m_data[m_offset] | (m_data[m_offset + 1] << 8));
        m_offset += 2;
        return v;
    }
    uint32_t u32() {
        uint32_t lo = u16();
        return lo | (uint32_t(u16()) << 16);
    }
    int16_t s16() { return int16_t(u16()); }
    uint8_t u8() {
        if (!need(1))
            return 0;
        return m_data[m_offset++];
    }
    // A null-terminated UTF-16 string; characters beyond ASCII become '?'.
    std::string sz() {
        std::string s;
        for (uint16_t c = u16(); m_ok && c != 0; c = u16())
            s.push_back(c < 0x80 ? char(c) : '?');
        return s;
    }
    // sz_Or_Ord: 0 (nothing), 0xFFFF then an ordinal, or a string.
    void szOrOrd(std::string* text, uint16_t* ordinal) {
        uint16_t first = u16();
        *ordinal = 0;
        text->clear();
        if (first == 0)
            return;
        if (first == 0xFFFF) {
            *ordinal = u16();
            return;
        }
        m_offset -= 2;
        *text = sz();
    }
    void alignTo(size_t n) { m_offset = (m_offset + n - 1) / n * n; }
    void skip(size_t n) {
        if (need(n))
            m_offset += n;
    }
    void seek(size_t offset) { m_offset = offset; }

  private:
    bool need(size_t n) {
        if (m_offset > m_size || n > m_size - m_offset)
            m_ok = false;
        return m_ok;
    }
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
    bool m_ok = true;
};

} // namespace

const DialogItem* DialogTemplate::item(uint32_t id) const {
    for (const DialogItem& i : items)
        if (i.id == id)
            return &i;
    return nullptr;
}

bool readDialogTemplate(const uint8_t* data, size_t size, DialogTemplate* out, std::string* why) {
    Reader r(data, size);
    DialogTemplate t;
    uint16_t count = 0;
    uint16_t version = r.u16(), signature = r.u16();
    t.extended = version == 1 && signature == 0xFFFF;
    if (t.extended) {
        r.u32(); // help ID
        t.exStyle = r.u32();
        t.style = r.u32();
    } else {
        r.seek(0);
        t.style = r.u32();
        t.exStyle = r.u32();
    }
    count = r.u16();
    t.x = r.s16();
    t.y = r.s16();
    t.cx = r.s16();
    t.cy = r.s16();
    std::string menu, windowClass;
    uint16_t ordinal = 0;
    r.szOrOrd(&menu, &ordinal);
    r.szOrOrd(&windowClass, &ordinal);
    t.caption = r.sz();
    if ((t.style & kDsSetFont) || (t.style & kDsShellFont) == kDsShellFont) {
        t.hasFont = true;
        t.pointSize = r.u16();
        if (t.extended) {
            r.u16(); // weight
            r.u8();  // italic
            r.u8();  // character set
        }
        t.face = r.sz();
    }
    for (uint16_t i = 0; i < count && r.ok(); ++i) {
        r.alignTo(4);
        DialogItem item;
        if (t.extended) {
            r.u32(); // help ID
            item.exStyle = r.u32();
            item.style = r.u32();
        } else {
            item.style = r.u32();
            item.exStyle = r.u32();
        }
        item.x = r.s16();
        item.y = r.s16();
        item.cx = r.s16();
        item.cy = r.s16();
        item.id = t.extended ? r.u32() : r.u16();
        r.szOrOrd(&item.className, &item.classAtom);
        r.szOrOrd(&item.text, &item.textOrdinal);
        uint16_t extra = r.u16();
        r.skip(extra);
        t.items.push_back(item);
    }
    if (!r.ok()) {
        if (why)
            *why = "template runs past its resource";
        return false;
    }
    *out = t;
    return true;
}

namespace {

// One node of a version record: wLength, wValueLength, wType, szKey, padding, value, children.
bool readVersionNode(Reader& r, size_t end, int depth, VersionRecord* out) {
    size_t start = r.offset();
    uint16_t length = r.u16();
    uint16_t valueLength = r.u16();
    uint16_t type = r.u16();
    std::string key = r.sz();
    r.alignTo(4);
    if (!r.ok() || length < 6 || start + length > end || depth > 4)
        return false;
    size_t nodeEnd = start + length;
    if (depth == 0) {
        size_t fixed = r.offset();
        if (valueLength >= 52) {
            out->signature = r.u32();
            r.u32(); // structure version
            out->fileVersionMs = r.u32();
            out->fileVersionLs = r.u32();
            out->productVersionMs = r.u32();
            out->productVersionLs = r.u32();
        }
        r.seek(fixed + valueLength);
    } else if (type == 1 && depth == 3) {
        std::string value = r.sz();
        out->strings[key] = value;
        r.seek(nodeEnd);
        return r.ok();
    } else {
        r.skip(type == 1 ? valueLength * 2u : valueLength);
    }
    r.alignTo(4);
    while (r.ok() && r.offset() + 6 <= nodeEnd) {
        if (!readVersionNode(r, nodeEnd, depth + 1, out))
            return false;
        r.alignTo(4);
    }
    r.seek(nodeEnd);
    return r.ok();
}

} // namespace

bool readVersionRecord(const uint8_t* data, size_t size, VersionRecord* out) {
    Reader r(data, size);
    VersionRecord v;
    if (!readVersionNode(r, size, 0, &v))
        return false;
    *out = v;
    return true;
}

} // namespace testpe
