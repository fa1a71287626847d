// The PDF tokenizer: one lexer for content streams, object bodies, CMaps and
// the cleartext of Type 1 font programs.
//
// It returns the kind and the byte range of the next token and never
// allocates. Bytes that cannot start a token (a stray ')' or '>', a brace)
// become a one-byte bad token, so that a walk always moves forward.
#ifndef INKVEIL_LEXER_H
#define INKVEIL_LEXER_H

#include <cstdint>
#include <string>

enum class Tok : uint8_t {
    kEnd,         // no token before the end of the data
    kNumber,      // 12, -3.5, .5, +7
    kName,        // /Name (the range includes the slash)
    kString,      // (literal string), escapes and nesting honoured
    kHexString,   // <hex string>
    kArrayOpen,   // [
    kArrayClose,  // ]
    kDictOpen,    // <<
    kDictClose,   // >>
    kKeyword,     // operators and bare words: Tj, T*, ', true, null, R, obj ...
    kComment,     // % up to the end of the line (the line end not included)
    kProcOpen,    // {  (PostScript procedures, in CMaps and Type 1 fonts)
    kProcClose,   // }
    kBad,         // a byte that starts no token
};

// How a '<' that is not followed by '<' is read.
enum class HexRule : uint8_t {
    kToClose,     // content streams: a hex string runs to the first '>', junk inside ignored
    kDigitsOnly,  // objects: a hex string only when hex digits and blanks lead to its '>'
};

struct Token {
    Tok kind = Tok::kEnd;
    bool open = false;  // a string or hex string that the data ends before closing
    int32_t start = 0;  // first byte
    int32_t end = 0;    // just past the last byte
};

// A regular byte: neither white space nor a delimiter ( ) < > [ ] { } / %.
bool lex_is_regular(unsigned char c);

// The next token at or after `pos`, white space (NUL, HT, LF, FF, CR, SP)
// skipped; comments are tokens of their own. Tok::kEnd at the end of the data.
Token lex_next(const unsigned char *bytes, int32_t end, int32_t pos,
               HexRule hex = HexRule::kToClose);
// As lex_next, with comments skipped.
Token lex_next_code(const unsigned char *bytes, int32_t end, int32_t pos,
                    HexRule hex = HexRule::kToClose);

// The value of a number token: its longest prefix of the form
// [+-]digits[.digits] read in double precision; 0 when that has no digit.
double lex_number(const unsigned char *bytes, const Token &token);

// True when the number token is an integer: an optional sign, then decimal
// digits only (not 1.5, .5, 8#40 or a lone sign). *value receives it, held to
// at most 2^53 in magnitude, far past any code, CID or count that is read.
bool lex_integer(const unsigned char *bytes, const Token &token, int64_t *value);

// The text of the name whose token is [start, end) (start at the slash),
// without the slash and with each #xx escape decoded to its byte.
std::string lex_name_text(const unsigned char *bytes, int32_t start, int32_t end);

// True when the keyword token spells `word` exactly.
bool lex_is(const unsigned char *bytes, const Token &token, const char *word);

// The end of the literal string whose '(' is at `pos`: just past its closing
// ')', or `end` when the data ends first (*open set).
int32_t lex_literal_end(const unsigned char *bytes, int32_t end, int32_t pos, bool *open);

// Offset just past the "EI" that ends the data of an inline image starting at
// `data_start`, or -1 when there is none: the first "EI" followed by white
// space or the end, whatever precedes it. Ending an image too early can only
// make more bytes read as content, never fewer.
int32_t lex_inline_image_end(const unsigned char *bytes, int32_t end, int32_t data_start);

#endif
