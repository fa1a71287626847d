// Dictionary helpers: lookups over an object's dictionary text and the
// editable copies of it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>

#include "document.h"

namespace {

// Appends "<num> 0 obj\n<value>\nendobj\n" to the document, or with stream
// data "<num> 0 obj\n<value>\nstream\n<data>\nendstream\nendobj\n", and
// returns the entry with the positions the loader records for it.
ObjEntry add_obj(Doc &doc, int32_t num, std::string_view value, const char *stream = nullptr) {
    std::string text = std::to_string(num) + " 0 obj\n";
    ObjEntry e;
    e.num = num;
    e.obj_start = doc.size;
    const int32_t value_pos = doc.size + static_cast<int32_t>(text.size());
    e.dict_pos = (!value.empty() && value[0] == '<') ? value_pos : -1;
    text += value;
    if (stream != nullptr) {
        text += "\n";
        e.dict_end = doc.size + static_cast<int32_t>(text.size());
        text += "stream\n";
        e.data_start = doc.size + static_cast<int32_t>(text.size());
        text += stream;
        e.data_end = doc.size + static_cast<int32_t>(text.size());
        e.stream_len = e.data_end - e.data_start;
        e.has_stream = 1;
        text += "\nendstream";
    }
    text += "\n";
    e.endobj_pos = doc.size + static_cast<int32_t>(text.size());
    e.obj_end = e.endobj_pos + 6;
    text += "endobj\n";
    doc.data.insert(doc.data.end(), text.begin(), text.end());
    doc.size = static_cast<int32_t>(doc.data.size());
    doc.objs.push_back(e);
    return e;
}

// An object-stream member whose text is `text` (which must outlive it).
ObjEntry member(int32_t num, std::string_view text) {
    ObjEntry e;
    e.num = num;
    e.compressed = 1;
    e.data_start = e.data_end = e.endobj_pos = e.obj_end = e.stream_len = 0;
    e.text = reinterpret_cast<const unsigned char *>(text.data());
    e.text_len = static_cast<int32_t>(text.size());
    return e;
}

// A document holding just one object with the given value.
struct OneObj {
    Doc doc;
    ObjEntry entry;
    explicit OneObj(std::string_view value, const char *stream = nullptr) {
        entry = add_obj(doc, 1, value, stream);
    }
};

std::string text_of(const DictText &t) {
    return t ? std::string(t.get()) : "<none>";
}

DictText owned(std::string_view s) {
    DictText t(static_cast<char *>(std::malloc(s.size() + 1)));
    std::memcpy(t.get(), s.data(), s.size());
    t[s.size()] = '\0';
    return t;
}

TEST(DictLookup, FirstEntryWithTheNumberWins) {
    Doc doc;
    add_obj(doc, 4, "<</A 1>>");
    add_obj(doc, 7, "<</B 1>>");
    add_obj(doc, 4, "<</C 1>>");
    const ObjEntry *found = doc_find_obj(doc, 4);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found, &doc.objs[0]);
    EXPECT_EQ(doc_find_obj(doc, 7), &doc.objs[1]);
    EXPECT_EQ(doc_find_obj(doc, 5), nullptr);
    EXPECT_EQ(doc_find_obj(Doc{}, 0), nullptr);
}

TEST(DictRange, EndsAtTheClosingBrackets) {
    Doc doc;
    const ObjEntry stream = add_obj(doc, 1, "<</Length 13>>", "/Parent 3 0 R");
    const ObjEntry plain = add_obj(doc, 2, "<</A 1>> /After 5");
    // An object cut off by the end of the file: no "endobj" was found.
    const std::string tail = "3 0 obj\n<</Tail 9";
    ObjEntry open;
    open.num = 3;
    open.obj_start = doc.size;
    open.dict_pos = doc.size + 8;
    doc.data.insert(doc.data.end(), tail.begin(), tail.end());
    doc.size = static_cast<int32_t>(doc.data.size());

    DictRange r = obj_dict_range(doc, stream);
    EXPECT_EQ(r.start, stream.dict_pos);
    EXPECT_EQ(r.end, stream.dict_pos + 14);
    // Stream data never counts as dictionary text.
    EXPECT_EQ(obj_has_key(doc, stream, "Length"), 1);
    EXPECT_EQ(obj_has_key(doc, stream, "Parent"), 0);
    EXPECT_EQ(obj_ref_value(doc, stream, "Parent"), 0);
    EXPECT_EQ(text_of(obj_dict_text(doc, stream)), "<</Length 13>>");

    // What follows a plain object's closing ">>" is no part of its
    // dictionary, for a look-up as for the copy the writer makes.
    r = obj_dict_range(doc, plain);
    EXPECT_EQ(r.end, plain.dict_pos + 8);
    EXPECT_EQ(obj_ref_value(doc, plain, "After"), 0);
    EXPECT_EQ(text_of(obj_dict_text(doc, plain)), "<</A 1>>");

    // A dictionary that never closes is none.
    EXPECT_EQ(obj_dict_range(doc, open).bytes, nullptr);
    EXPECT_EQ(obj_ref_value(doc, open, "Tail"), 0);
    EXPECT_EQ(obj_dict_text(doc, open), nullptr);

    const std::string own = "<</Own 4>>\n";
    const ObjEntry m = member(5, own);
    r = obj_dict_range(doc, m);
    EXPECT_EQ(r.bytes, m.text);
    EXPECT_EQ(r.start, 0);
    EXPECT_EQ(r.end, m.text_len - 1);
    EXPECT_EQ(obj_ref_value(doc, m, "Own"), 4);
    const std::string unclosed = "<</Own 4";
    EXPECT_EQ(obj_dict_range(doc, member(6, unclosed)).bytes, nullptr);
}

TEST(DictRange, PositionsOutsideTheFileGiveNoDictionary) {
    Doc doc;
    ObjEntry e = add_obj(doc, 1, "<</A 1>>");
    e.dict_pos = doc.size;
    EXPECT_EQ(obj_dict_range(doc, e).bytes, nullptr);
    e.dict_pos = doc.size + 100;
    EXPECT_EQ(obj_has_key(doc, e, "A"), 0);
    EXPECT_EQ(obj_dict_text(doc, e), nullptr);
    // An end beyond the file is cut back to the file.
    e = doc.objs[0];
    e.endobj_pos = doc.size + 1000;
    EXPECT_LE(obj_dict_range(doc, e).end, doc.size);
    EXPECT_EQ(text_of(obj_dict_text(doc, e)), "<</A 1>>");
}

TEST(DictRange, NoDictionaryAnswersAbsentEverywhere) {
    Doc doc;
    const std::string member_number = "42";
    const ObjEntry entries[] = {add_obj(doc, 1, "42"), add_obj(doc, 2, "[/Type /Page]"),
                                member(3, member_number), member(4, "")};
    for (const ObjEntry &e : entries) {
        SCOPED_TRACE(e.num);
        EXPECT_EQ(obj_dict_text(doc, e), nullptr);
        EXPECT_EQ(obj_has_key(doc, e, "Type"), 0);
        EXPECT_EQ(obj_type(doc.data.data(), doc.size, e), 0);
        EXPECT_EQ(obj_name_is(doc, e, "Type", "Page"), 0);
        EXPECT_EQ(obj_ref_value(doc, e, "Type"), 0);
    }
}

TEST(DictText, CopiesTheDictionaryThroughItsClosingBrackets) {
    struct Case {
        std::string value;
        const char *expected;  // nullptr: no text
    };
    const Case cases[] = {
        {"<</Type /Page>>", "<</Type /Page>>"},
        {"<</A (x >> y) /B <</C 1>> >> trailing", "<</A (x >> y) /B <</C 1>> >>"},
        // A hex string's ">" never closes the dictionary.
        {"<</Contents <FEFF0041>>>", "<</Contents <FEFF0041>>>"},
        {"<</Contents <FEFF0041>>", nullptr},
        {std::string("<</A (a\0b\0)>>", 13), "<</A (a\\000b\\000)>>"},
        {"<</A 1 /B <</C 2>>", nullptr},  // "endobj" comes first
        {"<FEFF>", nullptr},
        {"<", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        OneObj o(c.value);
        const DictText t = obj_dict_text(o.doc, o.entry);
        if (c.expected == nullptr) {
            EXPECT_EQ(t, nullptr) << t.get();
        } else {
            EXPECT_EQ(text_of(t), c.expected);
        }
    }
    // A member's dictionary starts after the blanks before it, as in the file;
    // a member whose value is no dictionary has none.
    const std::string blanks = "  <</A 1>>";
    EXPECT_EQ(text_of(obj_dict_text(Doc{}, member(1, blanks))), "<</A 1>>");
    const std::string not_dict = "7 0 R <</Type /Page>>";
    EXPECT_EQ(obj_dict_text(Doc{}, member(1, not_dict)), nullptr);
    EXPECT_EQ(obj_has_key(Doc{}, member(1, not_dict), "Type"), 0);
    const std::string plain = "<</A 1>> 5";
    EXPECT_EQ(text_of(obj_dict_text(Doc{}, member(1, plain))), "<</A 1>>");
}

TEST(DictAppend, InsertsBeforeTheFinalBrackets) {
    struct Case {
        const char *text;
        const char *insert;
        const char *expected;
    };
    const Case cases[] = {
        {"<< /A 1 >>\r\n", " /B 2", "<< /A 1  /B 2 >>"},
        {"<<>>", " /B 2", "<< /B 2 >>"},
        {"<</A <</C 1>>>> \t", " /B 2", "<</A <</C 1>> /B 2 >>"},
        {"<</A 1>", " /B 2", "<</A 1>"},        // no final ">>"
        {"<</A 1>> x", " /B 2", "<</A 1>> x"},  // something after it
        {">>", "X", "X >>"},
        {">", "X", ">"},
        {">\n", "X", ">\n"},
        {" \r\n", "X", " \r\n"},
        {"", "X", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(text_of(dict_append_before_close(owned(c.text), c.insert)), c.expected);
    }
    EXPECT_EQ(dict_append_before_close(nullptr, " /B 2"), nullptr);
}

TEST(DictType, PageAndPagesOnly) {
    struct Case {
        const char *value;
        int expected;
    };
    const Case cases[] = {
        {"<</Type/Pages>>", 2},
        {"<</Type /Page /Parent 2 0 R>>", 1},
        {"<</Type\r\n/Page(x)>>", 1},
        {"<</Type /PageLabel>>", 0},
        {"<</Type /Pagesx>>", 0},
        {"<</Type /Catalog /Type /Pages>>", 2},
        {"<</Type 3 0 R /Kids [/Page]>>", 0},
        {"<</SubType /Page /Subtype /Pages>>", 0},
        {"<</Types /Page>>", 0},
        {"<</Type>>", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        OneObj o(c.value);
        EXPECT_EQ(obj_type(o.doc.data.data(), o.doc.size, o.entry), c.expected);
    }
    // Right before the closing ">>" (members carry their own text); a
    // dictionary that does not close is none.
    const std::string page = "<</Type /Page>>", pages = "<</Type /Pages>>",
                      short_name = "<</Type /Pag>>", unclosed = "<</Type /Page";
    EXPECT_EQ(obj_type(nullptr, 0, member(1, page)), 1);
    EXPECT_EQ(obj_type(nullptr, 0, member(1, pages)), 2);
    EXPECT_EQ(obj_type(nullptr, 0, member(1, short_name)), 0);
    EXPECT_EQ(obj_type(nullptr, 0, member(1, unclosed)), 0);
}

TEST(DictKeys, HasKeyAndNameIs) {
    struct Case {
        const char *value;
        const char *key;
        const char *name;
        int has_key;
        int name_is;
    };
    const Case cases[] = {
        {"<</Subtype/Form(x)>>", "Subtype", "Form", 1, 1},
        {"<</Subtype /Form2>>", "Subtype", "Form", 1, 0},
        {"<</Subtype /form>>", "Subtype", "Form", 1, 0},
        {"<</Subtype /Forms>>", "Subtype", "Form", 1, 0},
        {"<</Subtype 1 /Subtype\n/Form>>", "Subtype", "Form", 1, 1},
        {"<</Subtypes /Form>>", "Subtype", "Form", 0, 0},
        {"<</Type /Pages>>", "Pages", "X", 1, 0},  // a value is a name token too
        {"<</Type /Pages>>", "Page", "X", 0, 0},
        {"<</FT /Tx>>", "FT", "Tx", 1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        OneObj o(c.value);
        EXPECT_EQ(obj_has_key(o.doc, o.entry, c.key), c.has_key);
        EXPECT_EQ(obj_name_is(o.doc, o.entry, c.key, c.name), c.name_is);
    }
    // A slash right before the closing ">>" is an empty name.
    const std::string bare = "<</S />>";
    EXPECT_EQ(obj_name_is(Doc{}, member(1, bare), "S", ""), 1);
    EXPECT_EQ(obj_name_is(Doc{}, member(1, bare), "S", "X"), 0);
}

TEST(DictKeys, RefValueTakesFirstPositiveInteger) {
    struct Case {
        const char *value;
        const char *key;
        int32_t expected;
    };
    const Case cases[] = {
        {"<</Parent -3 0 R /Parent 7 0 R>>", "Parent", 7},
        {"<</Parent 0 0 R /Parent 9 0 R>>", "Parent", 9},
        {"<</Length 42>>", "Length", 42},
        {"<</Parent/None /Parent 3>>", "Parent", 3},
        {"<</Parent <</A 5>> >>", "Parent", 0},
        {"<</Parents 5 0 R>>", "Parent", 0},
        {"<</Parent>>", "Parent", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        OneObj o(c.value);
        EXPECT_EQ(obj_ref_value(o.doc, o.entry, c.key), c.expected);
    }
}

TEST(DictStrip, RemovesTheFirstTopLevelEntry) {
    struct Case {
        const char *text;
        const char *key;
        const char *expected;
    };
    const Case cases[] = {
        // A nested dictionary's key and a name inside a string are not entries.
        {"<</AA <</V 31 0 R>> /V (123-45-6789)>>", "V", "<</AA <</V 31 0 R>>>>"},
        {"<</T (/V 1) /V 2>>", "V", "<</T (/V 1)>>"},
        {"<</K [/V 1] /V 2>>", "V", "<</K [/V 1]>>"},
        {"<</A <</S (>>)>> /V 1>>", "V", "<</A <</S (>>)>>>>"},
        {"<</AA <</V 1>>>>", "V", "<</AA <</V 1>>>>"},
        {"<</S /V /V 1>>", "V", "<</S /V>>"},  // the name /V as a value
        {"<</H <2F56> /V <</X 1>> /W 3>>", "V", "<</H <2F56> /W 3>>"},
        {"<</Type /Page /Contents 12 0 R /MediaBox [0 0 612 792]>>", "Contents",
         "<</Type /Page /MediaBox [0 0 612 792]>>"},
        {"<</Type /Page /ContentsX 12 0 R>>", "Contents", "<</Type /Page /ContentsX 12 0 R>>"},
        {"<</Contents[4 0 R 5 0 R] /Type /Page>>", "Contents", "<< /Type /Page>>"},
        {"<</VX 1 /V 2>>", "V", "<</VX 1>>"},
        {"<</V (a) /V (b)>>", "V", "<< /V (b)>>"},  // first match only
        {"<</A 1\t/V 2 /B 3>>", "V", "<</A 1 /B 3>>"},
        {"<</A 1/V 2>>", "V", "<</A 1>>"},
        {"<</V 1  \n/B 2>>", "V", "<<  \n/B 2>>"},  // blanks after the value stay
        {"<</A 1 /V>>", "V", "<</A 1>>"},
        {"<</A 1 2 /V 3>>", "V", "<</A 1 2>>"},  // a stray token is stepped over
        {"<</A 1 % /V x\n/V (secret)>>", "V", "<</A 1 % /V x\n>>"},  // a comment is no entry
        {"<<) /V 1>>", "V", "<<)>>"},
        {"<</A 1>> /V 2", "V", "<</A 1>> /V 2"},  // after the dictionary has closed
        {"<</V [1 2", "V", "<</V [1 2"},          // a value that never closes
        {"<</V", "V", "<</V"},
        {"/V 1", "V", "/V 1"},
        {"", "V", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        DictText t = owned(c.text);
        strip_dict_entry(t.get(), c.key);
        EXPECT_STREQ(t.get(), c.expected);
    }
}

}  // namespace
