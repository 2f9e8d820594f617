// Dialog templates: DLGTEMPLATE and DLGTEMPLATEEX, read with every offset checked.
#include "sim/desktop.h"

#include <cctype>
#include <cstring>

namespace sim {
namespace {

class Reader {
  public:
    Reader(const BYTE* data, size_t size) : m_data(data), m_size(size) {}

    bool word(WORD* out, const char* what) {
        if (!need(2, what))
            return false;
        *out = static_cast<WORD>(m_data[m_pos] | (m_data[m_pos + 1] << 8));
        m_pos += 2;
        return true;
    }
    bool dword(DWORD* out, const char* what) {
        WORD low, high;
        if (!word(&low, what) || !word(&high, what))
            return false;
        *out = low | (static_cast<DWORD>(high) << 16);
        return true;
    }
    bool shortValue(int* out, const char* what) {
        WORD w;
        if (!word(&w, what))
            return false;
        *out = static_cast<int16_t>(w);
        return true;
    }
    bool byte(BYTE* out, const char* what) {
        if (!need(1, what))
            return false;
        *out = m_data[m_pos++];
        return true;
    }
    // A zero-terminated UTF-16 string, converted to Windows-1252 (other characters become '?').
    bool string(std::string* out, const char* what) {
        out->clear();
        for (;;) {
            WORD c;
            if (!word(&c, what))
                return false;
            if (c == 0)
                return true;
            out->push_back(c < 0x100 ? static_cast<char>(c) : '?');
        }
    }
    // The sz_Or_Ord fields: 0x0000 nothing, 0xFFFF and an ordinal, or a string.
    bool nameOrOrdinal(NameOrOrdinal* out, const char* what) {
        WORD first;
        size_t start = m_pos;
        if (!word(&first, what))
            return false;
        if (first == 0xFFFF) {
            out->isOrdinal = true;
            return word(&out->ordinal, what);
        }
        out->isOrdinal = false;
        if (first == 0)
            return true;
        m_pos = start;
        return string(&out->name, what);
    }
    bool bytes(size_t count, std::vector<BYTE>* out, const char* what) {
        if (!need(count, what))
            return false;
        out->assign(m_data + m_pos, m_data + m_pos + count);
        m_pos += count;
        return true;
    }
    // Items start on DWORD boundaries of the template.
    bool alignDword(const char* what) {
        size_t aligned = (m_pos + 3) & ~static_cast<size_t>(3);
        if (aligned > m_size)
            return fail(what);
        m_pos = aligned;
        return true;
    }
    const std::string& error() const { return m_error; }

  private:
    bool need(size_t count, const char* what) {
        if (count > m_size || m_pos > m_size - count)
            return fail(what);
        return true;
    }
    bool fail(const char* what) {
        m_error = std::string("dialog template ends inside the ") + what + " at offset " +
                  std::to_string(m_pos) + " of " + std::to_string(m_size);
        return false;
    }

    const BYTE* m_data;
    size_t m_size;
    size_t m_pos = 0;
    std::string m_error;
};

bool readHeader(Reader& r, DialogTemplate* t, WORD* count) {
    WORD first, second;
    if (!r.word(&first, "header") || !r.word(&second, "header"))
        return false;
    t->extended = (first == 1 && second == 0xFFFF);
    if (t->extended) {
        if (!r.dword(&t->helpId, "header") || !r.dword(&t->exStyle, "header") ||
            !r.dword(&t->style, "header"))
            return false;
    } else {
        t->style = first | (static_cast<DWORD>(second) << 16);
        if (!r.dword(&t->exStyle, "header"))
            return false;
    }
    return r.word(count, "header") && r.shortValue(&t->x, "header") &&
           r.shortValue(&t->y, "header") && r.shortValue(&t->cx, "header") &&
           r.shortValue(&t->cy, "header") && r.nameOrOrdinal(&t->menu, "menu") &&
           r.nameOrOrdinal(&t->windowClass, "class") && r.string(&t->title, "caption");
}

bool readFont(Reader& r, DialogTemplate* t) {
    if (!(t->style & DS_SETFONT))
        return true;
    t->hasFont = true;
    WORD size;
    if (!r.word(&size, "font"))
        return false;
    t->pointSize = size;
    if (t->extended) {
        WORD weight;
        BYTE italic, charSet;
        if (!r.word(&weight, "font") || !r.byte(&italic, "font") || !r.byte(&charSet, "font"))
            return false;
        t->weight = weight;
        t->italic = italic != 0;
        t->charSet = charSet;
    }
    return r.string(&t->typeface, "font");
}

bool readItem(Reader& r, bool extended, DialogItemTemplate* item) {
    if (!r.alignDword("item"))
        return false;
    if (extended) {
        if (!r.dword(&item->helpId, "item") || !r.dword(&item->exStyle, "item") ||
            !r.dword(&item->style, "item"))
            return false;
    } else {
        if (!r.dword(&item->style, "item") || !r.dword(&item->exStyle, "item"))
            return false;
    }
    if (!r.shortValue(&item->x, "item") || !r.shortValue(&item->y, "item") ||
        !r.shortValue(&item->cx, "item") || !r.shortValue(&item->cy, "item"))
        return false;
    if (extended) {
        if (!r.dword(&item->id, "item"))
            return false;
    } else {
        WORD id;
        if (!r.word(&id, "item"))
            return false;
        item->id = id;
    }
    WORD extra;
    return r.nameOrOrdinal(&item->windowClass, "item class") &&
           r.nameOrOrdinal(&item->title, "item text") && r.word(&extra, "creation data") &&
           r.bytes(extra, &item->creationData, "creation data");
}

} // namespace

bool parseDialogTemplate(const void* data, size_t size, DialogTemplate* out, std::string* error) {
    DialogTemplate t;
    Reader r(static_cast<const BYTE*>(data), data ? size : 0);
    WORD count = 0;
    bool ok = readHeader(r, &t, &count) && readFont(r, &t);
    for (WORD i = 0; ok && i < count; ++i) {
        DialogItemTemplate item;
        ok = readItem(r, t.extended, &item);
        if (ok)
            t.items.push_back(item);
    }
    if (!ok) {
        if (error)
            *error = r.error();
        return false;
    }
    *out = t;
    return true;
}

std::string controlClassName(const NameOrOrdinal& windowClass) {
    if (!windowClass.isOrdinal)
        return windowClass.name;
    switch (windowClass.ordinal) {
    case 0x0080:
        return "Button";
    case 0x0081:
        return "Edit";
    case 0x0082:
        return "Static";
    case 0x0083:
        return "ListBox";
    case 0x0084:
        return "ScrollBar";
    case 0x0085:
        return "ComboBox";
    default:
        return "";
    }
}

static bool sameClass(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

ControlKind controlKindOf(const std::string& className, DWORD style) {
    if (sameClass(className, "Static"))
        return ControlKind::Static;
    if (sameClass(className, "ComboBox"))
        return ControlKind::ComboBox;
    if (sameClass(className, "Edit"))
        return ControlKind::Edit;
    if (!sameClass(className, "Button"))
        return ControlKind::Other;
    switch (style & BS_TYPEMASK) {
    case BS_PUSHBUTTON:
    case BS_DEFPUSHBUTTON:
        return ControlKind::PushButton;
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
        return ControlKind::CheckBox;
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
        return ControlKind::RadioButton;
    case BS_GROUPBOX:
        return ControlKind::GroupBox;
    default:
        return ControlKind::Other;
    }
}

const char* controlKindName(ControlKind kind) {
    switch (kind) {
    case ControlKind::Static:
        return "static";
    case ControlKind::PushButton:
        return "button";
    case ControlKind::CheckBox:
        return "checkbox";
    case ControlKind::RadioButton:
        return "radio";
    case ControlKind::GroupBox:
        return "groupbox";
    case ControlKind::ComboBox:
        return "combobox";
    case ControlKind::Edit:
        return "edit";
    default:
        return "other";
    }
}

} // namespace sim
