/* A minimal host program: redacts every occurrence of a text in a PDF file and
 * prints what it did, or the library's last-error text.
 *
 *   cc host.c $(pkg-config --cflags --libs inkveil) -o host
 *   ./host examples/letter.pdf letter-redacted.pdf "Jane Example"
 */
#include <stdio.h>

#include "inkveil.h"

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s INPUT OUTPUT TEXT\n", argv[0]);
        return 2;
    }
    const char *input = argv[1], *output = argv[2], *text = argv[3];

    inkveil_init();
    /* Counting first only serves the report; inkveil_text alone would do. */
    int matches = inkveil_count_matches(input, text);
    if (matches < 0 || !inkveil_text(input, output, text, 0, 0, 0)) {
        /* The text stays valid until the next call into the library. */
        fprintf(stderr, "%s: %s\n", input, inkveil_last_error());
        inkveil_cleanup();
        return 1;
    }
    printf("%s: redacted %d occurrence%s of \"%s\", wrote %s\n", input, matches,
           matches == 1 ? "" : "s", text, output);
    inkveil_cleanup();
    return 0;
}
