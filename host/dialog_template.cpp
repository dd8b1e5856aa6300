#include "host/dialog_template.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "player/event_log.h"

namespace {

// Every read is checked against the resource's size: a broken template ends the parse, not the host.
struct Reader {
    const uint8_t *data;
    size_t size;
    size_t at;
    bool ok;

    uint16_t u16() {
        if (!ok || at > size || size - at < 2) return fail();
        uint16_t v = uint16_t(data[at] | data[at + 1] << 8);
        at += 2;
        return v;
    }
    uint32_t u32() {
        uint32_t low = u16();
        return low | uint32_t(u16()) << 16;
    }
    uint8_t u8() {
        if (!ok || at >= size) return uint8_t(fail());
        return data[at++];
    }
    void align4() { at = (at + 3) & ~size_t(3); }
    uint16_t fail() {
        ok = false;
        return 0;
    }
    // A UTF-16 text ended by a zero; characters beyond Latin-1 become '?'.
    std::string text() {
        std::string out;
        for (uint16_t c = u16(); ok && c != 0; c = u16()) out += c < 256 ? char(c) : '?';
        return out;
    }
    // A name or an ordinal: none (0), an ordinal (0xFFFF then a number, written "#N") or a text.
    std::string name_or_ordinal(const char *const *ordinal_names = nullptr) {
        if (!ok || at > size || size - at < 2) {
            fail();
            return "";
        }
        const uint16_t first = uint16_t(data[at] | data[at + 1] << 8);
        if (first == 0) {
            at += 2;
            return "";
        }
        if (first == 0xFFFF) {
            at += 2;
            const uint16_t ordinal = u16();
            if (ordinal_names && ordinal >= 0x80 && ordinal <= 0x85) return ordinal_names[ordinal - 0x80];
            return "#" + std::to_string(ordinal);
        }
        return text();
    }
};

const char *const kPredefinedClasses[] = {"Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox"};
const uint32_t kDsSetFont = 0x40;

void add_box(JsonLine &line, int16_t x, int16_t y, int16_t cx, int16_t cy) {
    json_int(line, "x", x);
    json_int(line, "y", y);
    json_int(line, "cx", cx);
    json_int(line, "cy", cy);
}

std::string control_json(Reader &in) {
    in.align4();
    const uint32_t help_id = in.u32(), ex_style = in.u32(), style = in.u32();
    const int16_t x = int16_t(in.u16()), y = int16_t(in.u16()), cx = int16_t(in.u16()), cy = int16_t(in.u16());
    const int32_t id = int32_t(in.u32());
    const std::string window_class = in.name_or_ordinal(kPredefinedClasses);
    const std::string text = in.name_or_ordinal();
    const uint16_t extra = in.u16();
    in.at += extra;

    JsonLine c;
    c.text = "{\"id\":" + std::to_string(id);
    json_string(c, "class", window_class.c_str());
    json_string_n(c, "text", text.data(), text.size());
    json_int(c, "style", style);
    json_int(c, "ex_style", ex_style);
    add_box(c, x, y, cx, cy);
    json_int(c, "help_id", help_id);
    json_int(c, "extra_bytes", extra);
    return c.text + "}";
}

}  // namespace

bool dialog_template_log(HMODULE library, int resource_id) {
    JsonLine line = json_begin("dialog_template");
    json_int(line, "resource", resource_id);
    HRSRC found = FindResourceA(library, MAKEINTRESOURCEA(resource_id), MAKEINTRESOURCEA(5));  // RT_DIALOG
    HGLOBAL loaded = found ? LoadResource(library, found) : nullptr;
    const void *bytes = loaded ? LockResource(loaded) : nullptr;
    json_bool(line, "found", bytes != nullptr);
    if (bytes == nullptr) {
        event_write(line);
        return false;
    }
    Reader in = {static_cast<const uint8_t *>(bytes), SizeofResource(library, found), 0, true};
    json_int(line, "size", static_cast<long long>(in.size));
    const uint16_t version = in.u16(), signature = in.u16();
    const bool extended = in.ok && version == 1 && signature == 0xFFFF;
    json_bool(line, "extended", extended);
    if (!extended) {  // the plain template is not used by this project's DLLs; report it only
        event_write(line);
        return false;
    }
    json_int(line, "help_id", in.u32());
    json_int(line, "ex_style", in.u32());
    const uint32_t style = in.u32();
    json_int(line, "style", style);
    const uint16_t count = in.u16();
    const int16_t x = int16_t(in.u16()), y = int16_t(in.u16()), cx = int16_t(in.u16()), cy = int16_t(in.u16());
    add_box(line, x, y, cx, cy);
    const std::string menu = in.name_or_ordinal(), window_class = in.name_or_ordinal(), title = in.text();
    json_string(line, "menu", menu.c_str());
    json_string(line, "class", window_class.c_str());
    json_string_n(line, "title", title.data(), title.size());
    if (style & kDsSetFont) {
        const uint16_t points = in.u16(), weight = in.u16();
        const uint8_t italic = in.u8(), charset = in.u8();
        const std::string face = in.text();
        JsonLine font;
        font.text = "{\"points\":" + std::to_string(points);
        json_int(font, "weight", weight);
        json_int(font, "italic", italic);
        json_int(font, "charset", charset);
        json_string_n(font, "face", face.data(), face.size());
        json_raw(line, "font", (font.text + "}").c_str());
    }
    std::string controls = "[";
    for (uint16_t i = 0; i < count && in.ok; ++i) controls += (i ? "," : "") + control_json(in);
    json_raw(line, "controls", (controls + "]").c_str());
    json_int(line, "count", count);
    json_bool(line, "parsed", in.ok);
    event_write(line);
    return in.ok;
}
