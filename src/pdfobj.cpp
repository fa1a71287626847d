// PDF objects parsed into a small tree, and their look-up in a Doc.
#include "pdfobj.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "content.h"
#include "filters.h"

namespace {

// A token that can begin a value.
bool starts_value(Tok kind) {
    switch (kind) {
        case Tok::kNumber:
        case Tok::kName:
        case Tok::kString:
        case Tok::kHexString:
        case Tok::kArrayOpen:
        case Tok::kDictOpen:
        case Tok::kKeyword:
            return true;
        default:
            return false;
    }
}

// True when tokens "g R" follow at `pos`, with the position past the R in *after.
bool reference_follows(const unsigned char *bytes, int32_t end, int32_t pos, int32_t *after,
                       int32_t *generation) {
    const Token gen = lex_next_code(bytes, end, pos, HexRule::kDigitsOnly);
    if (gen.kind != Tok::kNumber) return false;
    for (int32_t i = gen.start; i < gen.end; ++i)
        if (!is_digit(bytes[i])) return false;
    const Token r = lex_next_code(bytes, end, gen.end, HexRule::kDigitsOnly);
    if (!lex_is(bytes, r, "R")) return false;
    *after = r.end;
    *generation = static_cast<int32_t>(std::fmin(lex_number(bytes, gen), 65535));
    return true;
}

bool is_whole_number(const unsigned char *bytes, const Token &t) {
    for (int32_t i = t.start; i < t.end; ++i)
        if (!is_digit(bytes[i])) return false;
    return t.end > t.start;
}

// Parses one value from token `t`; *pos ends past it.
void parse_value(const unsigned char *bytes, int32_t end, const Token &t, int32_t *pos,
                 PdfObj &out, int depth) {
    out = PdfObj{};
    out.src_start = t.start;
    *pos = t.end;
    switch (t.kind) {
        case Tok::kNumber: {
            out.kind = ObjKind::kNumber;
            out.num = lex_number(bytes, t);
            int32_t after = 0;
            if (is_whole_number(bytes, t) &&
                reference_follows(bytes, end, t.end, &after, &out.gen)) {
                out.kind = ObjKind::kRef;
                // A number no object can have names none, as object 0 does.
                if (out.num > INT32_MAX) out.num = 0;
                *pos = after;
            }
            break;
        }
        case Tok::kName:
            out.kind = ObjKind::kName;
            out.str = lex_name_text(bytes, t.start, t.end);
            break;
        case Tok::kString:
        case Tok::kHexString:
            out.kind = ObjKind::kString;
            out.str = pdfobj_string_bytes(bytes, t);
            break;
        case Tok::kKeyword:
            if (lex_is(bytes, t, "true") || lex_is(bytes, t, "false")) {
                out.kind = ObjKind::kBool;
                out.num = lex_is(bytes, t, "true") ? 1 : 0;
            }
            break;  // null and anything else read as null
        case Tok::kArrayOpen:
        case Tok::kDictOpen: {
            const bool dict = t.kind == Tok::kDictOpen;
            out.kind = dict ? ObjKind::kDict : ObjKind::kArray;
            const Tok close = dict ? Tok::kDictClose : Tok::kArrayClose;
            int32_t p = t.end;
            std::string key;
            bool have_key = false;
            for (;;) {
                const Token n = lex_next_code(bytes, end, p, HexRule::kDigitsOnly);
                if (n.kind == Tok::kEnd) {
                    p = end;
                    break;
                }
                if (n.kind == close) {
                    p = n.end;
                    break;
                }
                if (dict && !have_key) {
                    // Keys are names; anything else in a key's place is skipped.
                    if (n.kind == Tok::kName) {
                        key = lex_name_text(bytes, n.start, n.end);
                        have_key = true;
                        p = n.end;
                        continue;
                    }
                    if (n.kind == Tok::kArrayClose || n.kind == Tok::kDictClose ||
                        !starts_value(n.kind)) {
                        p = n.end;
                        continue;
                    }
                }
                if (!starts_value(n.kind)) {  // a stray closer or a bad byte
                    p = n.end;
                    continue;
                }
                PdfObj item;
                if (depth <= 0) {
                    // Too deep: step over the value, keep null.
                    int32_t q = n.end;
                    if (n.kind == Tok::kArrayOpen || n.kind == Tok::kDictOpen) {
                        int64_t level = 1;
                        while (level > 0) {
                            const Token s = lex_next_code(bytes, end, q, HexRule::kDigitsOnly);
                            if (s.kind == Tok::kEnd) break;
                            if (s.kind == Tok::kArrayOpen || s.kind == Tok::kDictOpen) ++level;
                            if (s.kind == Tok::kArrayClose || s.kind == Tok::kDictClose) --level;
                            q = s.end;
                        }
                    }
                    p = q;
                } else {
                    parse_value(bytes, end, n, &p, item, depth - 1);
                }
                if (dict) {
                    out.keys.push_back(std::move(key));
                    have_key = false;
                }
                out.items.push_back(std::move(item));
            }
            *pos = p;
            break;
        }
        default:
            break;
    }
    out.src_end = *pos;
}

// The bytes that hold object `entry`'s value, and where it starts.
bool value_range(const Doc &doc, const ObjEntry &entry, const unsigned char **bytes,
                 int32_t *start, int32_t *end) {
    if (entry.compressed) {
        if (entry.text == nullptr || entry.text_len <= 0) return false;
        *bytes = entry.text;
        *start = 0;
        *end = entry.text_len;
        return true;
    }
    const int32_t size = doc_file_len(doc);
    const unsigned char *b = doc.data.data();
    if (entry.dict_pos >= 0) {
        const DictRange r = obj_dict_range(doc, entry);
        if (r.bytes == nullptr) return false;
        *bytes = r.bytes;
        *start = r.start;
        *end = r.end;
        return true;
    }
    const int32_t stop =
        entry.endobj_pos > 0 && entry.endobj_pos <= size ? entry.endobj_pos : size;
    const int32_t kw = find_kw(b, stop, entry.obj_start, "obj");
    if (kw < 0) return false;
    *bytes = b;
    *start = kw + 3;
    *end = stop;
    return true;
}

}  // namespace

bool pdfobj_parse(const unsigned char *bytes, int32_t end, int32_t *pos, PdfObj &out,
                  int max_depth) {
    out = PdfObj{};
    const Token t = lex_next_code(bytes, end, *pos, HexRule::kDigitsOnly);
    if (!starts_value(t.kind)) return false;
    parse_value(bytes, end, t, pos, out, max_depth);
    return true;
}

const PdfObj *pdfobj_get(const PdfObj &dict, std::string_view key) {
    if (dict.kind != ObjKind::kDict) return nullptr;
    for (size_t i = 0; i < dict.keys.size() && i < dict.items.size(); ++i)
        if (dict.keys[i] == key) return &dict.items[i];
    return nullptr;
}

bool pdfobj_is_name(const PdfObj *obj, std::string_view name) {
    return obj != nullptr && obj->kind == ObjKind::kName && obj->str == name;
}

double pdfobj_number(const PdfObj *obj, double fallback) {
    if (obj == nullptr || obj->kind != ObjKind::kNumber || !std::isfinite(obj->num)) return fallback;
    return obj->num;
}

std::string pdfobj_string_bytes(const unsigned char *bytes, const Token &t) {
    std::string s;
    if (t.kind == Tok::kHexString) {
        int pending = -1;
        for (int32_t i = t.start + 1; i < t.end; ++i) {
            const int v = hex_digit_value(bytes[i]);
            if (v < 0) continue;
            if (pending < 0) {
                pending = v;
            } else {
                s += static_cast<char>(pending * 16 + v);
                pending = -1;
            }
        }
        if (pending >= 0) s += static_cast<char>(pending * 16);
        return s;
    }
    if (t.kind != Tok::kString) return s;
    const int32_t stop = t.open ? t.end : t.end - 1;  // before the closing ')'
    for (int32_t i = t.start + 1; i < stop; ++i) {
        const unsigned char c = bytes[i];
        if (c != '\\') {
            s += static_cast<char>(c);
            continue;
        }
        if (++i >= stop) break;
        const unsigned char e = bytes[i];
        switch (e) {
            case 'n': s += '\n'; break;
            case 'r': s += '\r'; break;
            case 't': s += '\t'; break;
            case 'b': s += '\b'; break;
            case 'f': s += '\f'; break;
            case '\n': break;
            case '\r':
                if (i + 1 < stop && bytes[i + 1] == '\n') ++i;
                break;
            default:
                if (e >= '0' && e <= '7') {
                    unsigned code = e - '0';
                    for (int k = 1; k < 3 && i + 1 < stop && bytes[i + 1] >= '0' && bytes[i + 1] <= '7';
                         ++k)
                        code = code * 8 + (bytes[++i] - '0');
                    s += static_cast<char>(code & 0xFF);
                } else {
                    s += static_cast<char>(e);
                }
                break;
        }
    }
    return s;
}

namespace {

void write_name(const std::string &name, std::string &out) {
    out += '/';
    for (const char ch : name) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F || c == '#' || is_delimiter(c) || c == '{' || c == '}' ||
            c == '%') {
            char esc[4];
            std::snprintf(esc, sizeof esc, "#%02X", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
}

void write_number(double v, std::string &out) {
    char text[kFixedSize];
    if (!std::isfinite(v)) v = 0;
    if (v == std::floor(v) && std::fabs(v) < 1e15) {
        format_fixed(v, 0, text);
    } else {
        size_t n = static_cast<size_t>(format_fixed(v, 6, text));
        while (n > 0 && text[n - 1] == '0') text[--n] = '\0';
        if (n > 0 && text[n - 1] == '.') text[--n] = '\0';
    }
    out += text;
}

}  // namespace

void pdfobj_write(const PdfObj &obj, std::string &out) {
    switch (obj.kind) {
        case ObjKind::kNull: out += "null"; break;
        case ObjKind::kBool: out += obj.num != 0 ? "true" : "false"; break;
        case ObjKind::kNumber: write_number(obj.num, out); break;
        case ObjKind::kName: write_name(obj.str, out); break;
        case ObjKind::kString: {
            static const char kDigits[] = "0123456789ABCDEF";
            out += '<';
            for (const char ch : obj.str) {
                const unsigned char c = static_cast<unsigned char>(ch);
                out += kDigits[c >> 4];
                out += kDigits[c & 15];
            }
            out += '>';
            break;
        }
        case ObjKind::kRef: {
            char text[32];
            std::snprintf(text, sizeof text, "%ld %ld R", static_cast<long>(obj.num),
                          static_cast<long>(obj.gen));
            out += text;
            break;
        }
        case ObjKind::kArray:
            out += '[';
            for (size_t i = 0; i < obj.items.size(); ++i) {
                if (i > 0) out += ' ';
                pdfobj_write(obj.items[i], out);
            }
            out += ']';
            break;
        case ObjKind::kDict:
            out += "<<";
            for (size_t i = 0; i < obj.items.size() && i < obj.keys.size(); ++i) {
                out += ' ';
                write_name(obj.keys[i], out);
                out += ' ';
                pdfobj_write(obj.items[i], out);
            }
            out += " >>";
            break;
    }
}

void pdfobj_set(PdfObj &dict, std::string_view key, PdfObj value) {
    if (dict.kind != ObjKind::kDict) return;
    bool placed = false;
    for (size_t i = 0; i < dict.keys.size();) {
        if (dict.keys[i] != key) {
            ++i;
            continue;
        }
        if (!placed && value.kind != ObjKind::kNull) {
            dict.items[i] = value;
            placed = true;
            ++i;
            continue;
        }
        dict.keys.erase(dict.keys.begin() + static_cast<std::ptrdiff_t>(i));
        dict.items.erase(dict.items.begin() + static_cast<std::ptrdiff_t>(i));
    }
    if (!placed && value.kind != ObjKind::kNull) {
        dict.keys.emplace_back(key);
        dict.items.push_back(std::move(value));
    }
}

PdfObj doc_object(const Doc &doc, int32_t num) {
    PdfObj out;
    const ObjEntry *entry = num > 0 ? doc_find_obj(doc, num) : nullptr;
    if (entry == nullptr) return out;
    const unsigned char *bytes = nullptr;
    int32_t start = 0, end = 0;
    if (!value_range(doc, *entry, &bytes, &start, &end)) return out;
    int32_t pos = start;
    pdfobj_parse(bytes, end, &pos, out);
    return out;
}

PdfObj doc_resolve(const Doc &doc, const PdfObj &obj) {
    if (obj.kind != ObjKind::kRef) return obj;
    PdfObj value = doc_object(doc, static_cast<int32_t>(obj.num));
    // A reference to a reference is followed a few times; a loop ends as null.
    for (int hops = 0; value.kind == ObjKind::kRef && hops < 8; ++hops)
        value = doc_object(doc, static_cast<int32_t>(value.num));
    if (value.kind == ObjKind::kRef) value = PdfObj{};
    return value;
}

PdfObj doc_get(const Doc &doc, const PdfObj &dict, std::string_view key, int32_t *num) {
    if (num != nullptr) *num = 0;
    const PdfObj *value = pdfobj_get(dict, key);
    if (value == nullptr) return PdfObj{};
    if (value->kind == ObjKind::kRef && num != nullptr) *num = static_cast<int32_t>(value->num);
    return doc_resolve(doc, *value);
}

bool doc_stream_data(const Doc &doc, int32_t num, const char *label, std::string &out,
                     bool *missing) {
    *missing = false;
    out.clear();
    const ObjEntry *entry = num > 0 ? doc_find_obj(doc, num) : nullptr;
    if (entry == nullptr || !entry->has_stream) {
        *missing = true;
        return false;
    }
    Buf scratch;
    int32_t len = 0, failed = 0;
    const unsigned char *data =
        decode_stream_obj(*entry, doc.data.data(), doc_file_len(doc), scratch, &len, label, &failed);
    if (failed) return false;
    if (data != nullptr && len > 0) out.assign(reinterpret_cast<const char *>(data), static_cast<size_t>(len));
    return true;
}
